// The HTTP GET on Qt Network against servers on 127.0.0.1 only: a scripted
// one in this process, and python3's own http.server in a child process.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>

#include "app/core/uCheckVersion.h"
#include "app/qt/studio_busy.h"
#include "app/qt/studio_qtports.h"
#include "app_fixture.h"

using namespace studio;
using namespace studio::testsupport;
using namespace std::chrono_literals;

namespace {

QByteArray Answer(const QByteArray& Status, const QByteArray& Body, bool WithLength = true,
                  const QByteArray& Headers = {}) {
  QByteArray a = "HTTP/1.1 " + Status + "\r\nContent-Type: text/plain\r\nConnection: close\r\n" + Headers;
  if (WithLength) a += "Content-Length: " + QByteArray::number(Body.size()) + "\r\n";
  return a + "\r\n" + Body;
}

// An HTTP server on 127.0.0.1 that answers each path as scripted. It runs
// on the test's thread: the GET's own event loop drives it.
class TScriptedServer : public QObject {
public:
  enum class TMode {
    Answer,   // the bytes, then the connection closes
    Silent,   // accepts and never answers
    Trickle,  // a 200 head, then one byte of body every 50 ms, endlessly
    Flood,    // a 200 head without length, then body as fast as it goes, endlessly
  };
  struct TScript {
    TMode Mode = TMode::Answer;
    QByteArray Bytes;
  };
  struct TRequest {
    QByteArray Head;     // request line and header lines
    qsizetype Trailing;  // bytes the client sent after the head
  };

  std::map<QByteArray, TScript> Paths;
  std::vector<TRequest> Requests;
  // Called as each request arrives.
  std::function<void()> OnRequest;

  TScriptedServer() {
    EXPECT_TRUE(FServer.listen(QHostAddress::LocalHost, 0));
    connect(&FServer, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* s = FServer.nextPendingConnection()) {
        connect(s, &QTcpSocket::readyRead, this, [this, s] { Read(s); });
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      }
    });
  }
  std::string Url(const std::string& Path) const {
    return "http://127.0.0.1:" + std::to_string(FServer.serverPort()) + Path;
  }

private:
  void Read(QTcpSocket* s) {
    QByteArray& buffer = FBuffers[s];
    buffer += s->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) return;
    if (s->property("answered").toBool()) {  // bytes after the head
      Requests.back().Trailing += buffer.size();
      buffer.clear();
      return;
    }
    s->setProperty("answered", true);
    const QByteArray head = buffer.left(end);
    Requests.push_back({head, buffer.size() - end - 4});
    buffer.clear();
    if (OnRequest) OnRequest();
    const QByteArray path = head.split(' ').value(1);
    const auto found = Paths.find(path);
    const TScript script = found == Paths.end() ? TScript{TMode::Answer, Answer("404 Not Found", "no")} : found->second;
    switch (script.Mode) {
      case TMode::Answer:
        s->write(script.Bytes);
        s->disconnectFromHost();
        break;
      case TMode::Silent:
        break;
      case TMode::Trickle:
      case TMode::Flood: {
        s->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n");
        const bool flood = script.Mode == TMode::Flood;
        auto* t = new QTimer(s);
        connect(t, &QTimer::timeout, s, [s, flood] {
          if (!flood)
            s->write("1");
          else if (s->bytesToWrite() < 65536)
            s->write(QByteArray(16384, '1'));
        });
        t->start(flood ? 1 : 50);
        break;
      }
    }
  }

  QTcpServer FServer;
  std::map<QTcpSocket*, QByteArray> FBuffers;
};

class QtHttpGetTest : public StudioTest {};

}  // namespace

TEST_F(QtHttpGetTest, OnlyASuccessfulSmallAnswerIsText) {
  using TMode = TScriptedServer::TMode;
  const QByteArray big(70 * 1024, '1');
  const QByteArray largest(QtHttpGet::cMaxBody, '2');
  const struct {
    const char* Name;
    TScriptedServer::TScript Script;  // of "/versions/orvellastudio.txt"
    std::chrono::milliseconds Timeout;
    std::optional<std::string> Expected;
    // A hang is the fault: the GET must be over by then.
    std::chrono::milliseconds Within = Timeout + 10s;
  } cases[] = {
      {"200", {TMode::Answer, Answer("200 OK", "1.08")}, 15s, "1.08"},
      {"200 without length", {TMode::Answer, Answer("200 OK", "1.08\n", false)}, 15s, "1.08\n"},
      {"200 empty", {TMode::Answer, Answer("200 OK", "")}, 15s, ""},
      {"203", {TMode::Answer, Answer("203 Non-Authoritative Information", "1.08")}, 15s, "1.08"},
      {"404 with a page", {TMode::Answer, Answer("404 Not Found", "<html><body>1.07</body></html>")}, 15s, {}},
      {"500", {TMode::Answer, Answer("500 Internal Server Error", "1.07")}, 15s, {}},
      {"300 without a place", {TMode::Answer, Answer("300 Multiple Choices", "1.07")}, 15s, {}},
      {"304", {TMode::Answer, Answer("304 Not Modified", "")}, 15s, {}},
      {"302 to a second path", {TMode::Answer, Answer("302 Found", "", true, "Location: /second\r\n")}, 15s, "1.09"},
      {"301 to itself", {TMode::Answer, Answer("301 Moved", "", true, "Location: /versions/orvellastudio.txt\r\n")},
       15s, {}},
      {"302 to file:", {TMode::Answer, Answer("302 Found", "", true, "Location: file:///etc/hostname\r\n")}, 15s, {}},
      {"a body at the limit", {TMode::Answer, Answer("200 OK", largest)}, 15s, largest.toStdString()},
      {"70 KiB with length", {TMode::Answer, Answer("200 OK", big)}, 15s, {}},
      {"70 KiB without length", {TMode::Answer, Answer("200 OK", big, false)}, 15s, {}},
      // Stopped at the limit, not by the time-out.
      {"endless body", {TMode::Flood, {}}, 60s, {}, 20s},
      {"not HTTP", {TMode::Answer, "1.08\r\n\r\n"}, 15s, {}},
      {"closed without answer", {TMode::Answer, ""}, 15s, {}},
      {"never answers", {TMode::Silent, {}}, 300ms, {}},
      {"trickles", {TMode::Trickle, {}}, 300ms, {}},
      {"no time at all", {TMode::Silent, {}}, 0ms, {}},
  };
  for (const auto& c : cases) {
    TScriptedServer server;
    server.Paths["/versions/orvellastudio.txt"] = c.Script;
    server.Paths["/second"] = {TMode::Answer, Answer("200 OK", "1.09")};
    QtHttpGet get;
    QElapsedTimer clock;
    clock.start();
    const auto body = get.get(server.Url("/versions/orvellastudio.txt"), c.Timeout);
    EXPECT_LT(clock.elapsed(), c.Within.count()) << c.Name;
    EXPECT_EQ(body, c.Expected) << c.Name;
  }
}

TEST_F(QtHttpGetTest, SendsOneBareGetRequest) {
  TScriptedServer server;
  server.Paths["/versions/orvellastudio.txt"] = {TScriptedServer::TMode::Answer, Answer("200 OK", "1.08")};
  QtHttpGet get;
  EXPECT_EQ(get.get(server.Url("/versions/orvellastudio.txt"), 15s), "1.08");
  ASSERT_EQ(server.Requests.size(), 1u);
  const QByteArray head = server.Requests[0].Head;
  EXPECT_TRUE(head.startsWith("GET /versions/orvellastudio.txt HTTP/1.1\r\n")) << head.toStdString();
  EXPECT_FALSE(head.toLower().contains("content-length")) << head.toStdString();
  EXPECT_EQ(server.Requests[0].Trailing, 0) << "a body after the request head";
}

TEST_F(QtHttpGetTest, NothingButLoopbackWebAddressesAreFetched) {
  // A port that was bound and closed again: refused.
  QTcpServer closed;
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
  const quint16 port = closed.serverPort();
  closed.close();
  const std::string file = Make("version.txt", "1.07");
  QtHttpGet get;
  const std::vector<std::string> urls = {
      "http://127.0.0.1:" + std::to_string(port) + "/versions/orvellastudio.txt",
      "file://" + file,
      "data:text/plain,1.07",
      "qrc:/studio/orvella.svg",
      "ftp://127.0.0.1/",
      "not an address",
      "http:///versions/orvellastudio.txt",
  };
  for (const std::string& url : urls) {
    EXPECT_EQ(get.get(url, 5s), std::nullopt) << url;
  }
}

// The GET blocks the window: busy (wait cursor, no input) while it runs,
// itself again afterwards.
TEST_F(QtHttpGetTest, TheWindowIsBusyDuringTheCheck) {
  TScriptedServer server;
  server.Paths["/versions/orvellastudio.txt"] = {TScriptedServer::TMode::Answer, Answer("200 OK", "1.07\r\n")};
  ScopedEnv site(cSiteVariable, server.Url("/").c_str());
  QtHttpGet get;
  auto form = std::make_unique<TForm1>(TPorts{&dialogs, &shell, &get});
  get.SetParentWindow(form.get());
  form->show();
  bool busy = false;
  Qt::CursorShape cursor = Qt::ArrowCursor;
  server.OnRequest = [&] {
    busy = BusyGuard::Active(*form);
    if (QApplication::overrideCursor()) cursor = QApplication::overrideCursor()->shape();
  };
  form->Checkforupdates1->trigger();
  ASSERT_EQ(server.Requests.size(), 1u);
  EXPECT_TRUE(busy);
  EXPECT_EQ(cursor, Qt::WaitCursor);
  EXPECT_FALSE(BusyGuard::Active(*form));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(dialogs.Messages, (std::vector<FakeDialogs::TMessage>{{"information", cMsgNoUpdates}}));
}

namespace {

// python3's http.server serving a folder on 127.0.0.1 at a port of its own
// choosing; it stops when its standard input closes, so it never outlives
// the test, not even one that crashes.
class UpdateCheckSiteTest : public StudioTest {
protected:
  void SetUp() override {
    StudioTest::SetUp();
    site = dir / "site";
    std::filesystem::create_directories(site / "versions");
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start("python3", {KOVRA_TEST_SCRIPTS_DIR "/serve_folder.py", QString::fromStdString(site.string())});
    ASSERT_TRUE(server.waitForStarted(10000)) << "python3 did not start";
    std::string line;
    while (line.find('\n') == std::string::npos && server.waitForReadyRead(10000))
      line += server.readAll().toStdString();
    ASSERT_NE(line.find('\n'), std::string::npos) << "the server named no port: " << line;
    address = "http://127.0.0.1:" + line.substr(0, line.find('\n'));  // no final '/': it is added
  }
  void TearDown() override {
    server.closeWriteChannel();
    if (!server.waitForFinished(5000)) server.kill();
    server.waitForFinished(5000);
    StudioTest::TearDown();
  }

  std::filesystem::path site;
  QProcess server;
  std::string address;
};

}  // namespace

TEST_F(UpdateCheckSiteTest, WholeCheckAgainstAPlainWebServer) {
  ScopedEnv env(cSiteVariable, address.c_str());
  QtHttpGet get;
  const TPorts ports{&dialogs, &shell, &get};
  kovra::testsupport::WriteBytes((site / "versions" / "orvellastudio.txt").string(), "1.07\n");
  CheckForUpdatesEx(ports, "orvellastudio", "1.07", true);
  EXPECT_EQ(dialogs.Messages, (std::vector<FakeDialogs::TMessage>{{"information", cMsgNoUpdates}}));

  dialogs.Messages.clear();
  dialogs.Answers = {true};
  kovra::testsupport::WriteBytes((site / "versions" / "orvellastudio.txt").string(), "1.08\r\n");
  CheckForUpdatesEx(ports, "orvellastudio", "1.07", false);
  EXPECT_EQ(dialogs.Messages, (std::vector<FakeDialogs::TMessage>{{"information", cMsgUpdateAvailable},
                                                                    {"question", cMsgGoToWebsite}}));
  EXPECT_EQ(shell.Urls, std::vector<std::string>{address + "/download.php"});

  dialogs.Messages.clear();
  std::filesystem::remove(site / "versions" / "orvellastudio.txt");  // 404
  CheckForUpdatesEx(ports, "orvellastudio", "1.07", true);
  EXPECT_EQ(dialogs.Messages, (std::vector<FakeDialogs::TMessage>{{"information", cMsgUpdatesUndetermined}}));
}
