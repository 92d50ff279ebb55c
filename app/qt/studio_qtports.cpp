#include "app/qt/studio_qtports.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <clocale>
#include <memory>

#include "app/qt/studio_busy.h"

namespace studio {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
}  // namespace

void QtDialogs::information(const std::string& Text) {
  QMessageBox::information(FParent, cProgramCaption, Q(Text));
}

void QtDialogs::error(const std::string& Text) { QMessageBox::critical(FParent, cProgramCaption, Q(Text)); }

bool QtDialogs::question(const std::string& Text) {
  return QMessageBox::question(FParent, cProgramCaption, Q(Text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::Yes) == QMessageBox::Yes;
}

std::optional<std::string> QtDialogs::openFileName(const std::string& Title, const std::string& Filters,
                                                   const std::string& Folder) {
  const QString name = QFileDialog::getOpenFileName(FParent, Q(Title), Q(Folder), Q(Filters));
  if (name.isEmpty()) return std::nullopt;
  return S(name);
}

std::vector<std::string> QtDialogs::openFileNames(const std::string& Title, const std::string& Filters,
                                                  const std::string& Folder) {
  std::vector<std::string> out;
  for (const QString& name : QFileDialog::getOpenFileNames(FParent, Q(Title), Q(Folder), Q(Filters)))
    out.push_back(S(name));
  return out;
}

std::optional<std::string> QtDialogs::existingFolder(const std::string& Title, const std::string& Folder) {
  const QString name = QFileDialog::getExistingDirectory(FParent, Q(Title), Q(Folder));
  if (name.isEmpty()) return std::nullopt;
  return S(name);
}

bool QtShell::openUrl(const std::string& Url) { return QDesktopServices::openUrl(QUrl(Q(Url), QUrl::TolerantMode)); }

std::optional<std::string> QtHttpGet::get(const std::string& Url, std::chrono::milliseconds Timeout) {
  const QUrl url(Q(Url), QUrl::StrictMode);
  // Only the web: Qt would also read file:, data: and qrc: addresses.
  if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https") || url.host().isEmpty()) return {};
  // A time-out of 0 would mean none to Qt.
  if (Timeout.count() <= 0) return {};
  const int timeout = int(std::min<std::chrono::milliseconds::rep>(Timeout.count(), INT_MAX));

  std::optional<BusyGuard> busy;
  if (FWindow) busy.emplace(*FWindow);

  QNetworkAccessManager manager;
  QEventLoop loop;
  bool tooLarge = false;
  QTimer deadline;
  deadline.setSingleShot(true);
  QNetworkRequest request(url);
  // Qt's transfer time-out only counts silence: a server that trickles
  // bytes is stopped by the deadline below.
  request.setTransferTimeout(timeout);
  // The body is counted as it arrives: nothing compressed to inflate.
  request.setRawHeader("Accept-Encoding", "identity");
  const std::unique_ptr<QNetworkReply> reply(manager.get(request));
  QNetworkReply* r = reply.get();
  QObject::connect(&deadline, &QTimer::timeout, r, &QNetworkReply::abort);
  QObject::connect(r, &QNetworkReply::downloadProgress, r, [r, &tooLarge](qint64 Received, qint64 Total) {
    if (Received > cMaxBody || Total > cMaxBody) {
      tooLarge = true;
      r->abort();
    }
  });
  QObject::connect(r, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  deadline.start(timeout);
  if (!r->isFinished()) loop.exec();

  // Qt hands back an error page's body with its error: the status decides.
  if (tooLarge || r->error() != QNetworkReply::NoError) return {};
  const int status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (status < 200 || status > 299) return {};
  const QByteArray body = r->read(cMaxBody + 1);
  if (body.size() > cMaxBody) return {};
  return body.toStdString();
}

NumberFormat NumberFormatOf(const QLocale& Locale) {
  return NumberFormat{S(Locale.decimalPoint()), S(Locale.groupSeparator())};
}

void InitLocale() {
  std::setlocale(LC_NUMERIC, "C");
  AppState().Regional = NumberFormatOf(QLocale::system());
}

}  // namespace studio
