// The update check with fake ports: what the version file says, the site
// address it is fetched from, the messages, the download page, the menu.
#include <optional>
#include <string>
#include <vector>

#include "app/core/uCheckVersion.h"
#include "app_fixture.h"

using namespace studio;
using namespace studio::testsupport;

namespace {

constexpr const char* cSite = "http://127.0.0.1:9/site";
constexpr const char* cVersionFile = "http://127.0.0.1:9/site/versions/orvellastudio.txt";

class CheckVersionTest : public StudioTest {
protected:
  TPorts Ports() { return {&dialogs, &shell, &http}; }
  // Never the default address: nothing here may try to reach a real site.
  ScopedEnv site{cSiteVariable, cSite};
};

using TUO = TUpdateOutcome;

std::string Show(const std::optional<std::string>& s) { return s ? "\"" + *s + "\"" : "(failed fetch)"; }

}  // namespace

TEST_F(CheckVersionTest, FirstItemOfTheVersionFileAgainstTheRunningVersion) {
  const struct {
    std::optional<std::string> Body;
    TUO Expected;
  } cases[] = {
      {"1.07", TUO::uoNoUpdate},
      {"1.07\n", TUO::uoNoUpdate},
      {"1.07\r\n", TUO::uoNoUpdate},
      {" 1.07 ", TUO::uoNoUpdate},
      {"\t1.07\r\n\r\n", TUO::uoNoUpdate},
      {"\"1.07\"", TUO::uoNoUpdate},
      {"1.07,1.08", TUO::uoNoUpdate},
      {"1.07 1.08", TUO::uoNoUpdate},
      {"1.07\n1.06\n", TUO::uoNoUpdate},
      {"\xEF\xBB\xBF" "1.07\r\n", TUO::uoNoUpdate},  // saved with a UTF-8 mark
      {"1.08", TUO::uoUpdateAvailable},
      {"1.08\n", TUO::uoUpdateAvailable},
      {"1.070", TUO::uoUpdateAvailable},
      {"1.06", TUO::uoUpdateAvailable},  // text comparison: an older one counts too
      {"\"1.08\",\"see notes\"", TUO::uoUpdateAvailable},
      {"\"1.07 final\"", TUO::uoUpdateAvailable},  // the item, blank and all
      {"2.0-beta+1", TUO::uoUpdateAvailable},
      {"", TUO::uoUndetermined},
      {"  \r\n", TUO::uoUndetermined},
      {"\"\"", TUO::uoUndetermined},
      {",1.07", TUO::uoUndetermined},
      {std::nullopt, TUO::uoUndetermined},
      // Texts that name no version: an error page served as 200, a portal's
      // notice, junk.
      {"<html><body>Not Found</body></html>", TUO::uoUndetermined},
      {"<!DOCTYPE html>\n<html>", TUO::uoUndetermined},
      {"Please log in", TUO::uoUndetermined},
      {"v1.08", TUO::uoUndetermined},
      {std::string("\x00\x01\xff", 3), TUO::uoUndetermined},
      {"1.07\xc3\xa9", TUO::uoUndetermined},
      {std::string(65, '1'), TUO::uoUndetermined},
  };
  for (const auto& c : cases) {
    http.Requests.clear();
    http.Bodies = {c.Body};
    EXPECT_EQ(CompareWithLatest(&http, "orvellastudio", "1.07"), c.Expected) << Show(c.Body);
    ASSERT_EQ(http.Requests.size(), 1u) << Show(c.Body);
    EXPECT_EQ(http.Requests[0].Url, cVersionFile);
    EXPECT_EQ(http.Requests[0].Timeout, std::chrono::seconds(15));
  }
  EXPECT_EQ(FetchVersionText(nullptr, "orvellastudio"), "") << "no HTTP port: a failed fetch";
}

TEST_F(CheckVersionTest, SiteAddressFromTheEnvironment) {
  const struct {
    const char* Value;       // of ORVELLASTUDIO_SITE; null: unset
    const char* VersionUrl;  // requested; null: nothing is requested
  } cases[] = {
      // Only a fake answers here: the placeholder is never contacted.
      {nullptr, "http://orvellastudio.invalid/versions/orvellastudio.txt"},
      {"", "http://orvellastudio.invalid/versions/orvellastudio.txt"},
      {"http://127.0.0.1:8080/", "http://127.0.0.1:8080/versions/orvellastudio.txt"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080/versions/orvellastudio.txt"},
      {"https://downloads.example.invalid/studio", "https://downloads.example.invalid/studio/versions/orvellastudio.txt"},
      {"HTTP://[::1]/", "HTTP://[::1]/versions/orvellastudio.txt"},
      {"http://user@127.0.0.1/", "http://user@127.0.0.1/versions/orvellastudio.txt"},
      {"ftp://127.0.0.1/", nullptr},
      {"file:///tmp/", nullptr},
      {"127.0.0.1/", nullptr},
      {"http:/127.0.0.1/", nullptr},
      {"http://", nullptr},
      {"http:///path/", nullptr},
      {"http://:8080/", nullptr},
      {"http://user@/", nullptr},
      {" http://127.0.0.1/", nullptr},
      {"http://127.0.0.1/a b/", nullptr},
      {"http://127.0.0.1/\n", nullptr},
      {"http://127.0.0.1/?page=", nullptr},
      {"http://127.0.0.1/#top", nullptr},
      {"http:\\\\127.0.0.1\\", nullptr},
  };
  for (const auto& c : cases) {
    const std::string label = c.Value ? std::string("'") + c.Value + "'" : "unset";
    ScopedEnv env(cSiteVariable, c.Value);
    http.Requests.clear();
    dialogs.Messages.clear();
    http.Bodies = {"1.07"};
    CheckForUpdates(Ports(), "orvellastudio", "1.07");
    if (c.VersionUrl) {
      ASSERT_EQ(http.Requests.size(), 1u) << label;
      EXPECT_EQ(http.Requests[0].Url, c.VersionUrl) << label;
      EXPECT_EQ(dialogs.Messages, (std::vector<FakeDialogs::TMessage>{{"information", cMsgNoUpdates}})) << label;
    } else {
      EXPECT_TRUE(http.Requests.empty()) << label;
      EXPECT_EQ(dialogs.Messages, (std::vector<FakeDialogs::TMessage>{{"information", cMsgUpdatesUndetermined}}))
          << label;
    }
  }
}

// Messages on and off for every outcome; Yes opens the download page, No
// nothing, and the shell's answer changes nothing.
TEST_F(CheckVersionTest, MessagesAndTheDownloadPage) {
  using M = FakeDialogs::TMessage;
  const M noUpdate{"information", cMsgNoUpdates};
  const M available{"information", cMsgUpdateAvailable};
  const M question{"question", cMsgGoToWebsite};
  const M undetermined{"information", cMsgUpdatesUndetermined};
  const std::string page = std::string(cSite) + "/download.php";
  const struct {
    std::optional<std::string> Body;
    bool Messages;
    bool Yes;
    bool ShellResult;
    std::vector<M> Shown;
    std::vector<std::string> Opened;
  } cases[] = {
      {"1.07\n", true, false, true, {noUpdate}, {}},
      {"1.07\n", false, false, true, {}, {}},
      {"1.08\n", true, true, true, {available, question}, {page}},
      {"1.08\n", true, false, true, {available, question}, {}},
      {"1.08\n", false, true, false, {available, question}, {page}},
      {"1.08\n", false, false, true, {available, question}, {}},
      {std::nullopt, true, true, true, {undetermined}, {}},
      {std::nullopt, false, true, true, {}, {}},
      {"<html>", true, true, true, {undetermined}, {}},
  };
  for (const auto& c : cases) {
    const std::string label = Show(c.Body) + (c.Messages ? " messages" : " quiet") + (c.Yes ? " yes" : " no");
    dialogs.Messages.clear();
    dialogs.Answers = {c.Yes};
    shell.Urls.clear();
    shell.Result = c.ShellResult;
    http.Bodies = {c.Body};
    CheckForUpdatesEx(Ports(), "orvellastudio", "1.07", c.Messages);
    EXPECT_EQ(dialogs.Messages, c.Shown) << label;
    EXPECT_EQ(shell.Urls, c.Opened) << label;
  }
}

TEST_F(CheckVersionTest, MenuItemChecksThisProgramsVersion) {
  auto form = NewForm();
  ASSERT_TRUE(form->Checkforupdates1->isEnabled());
  http.Bodies = {"1.08\r\n"};
  dialogs.Answers = {true};
  form->Checkforupdates1->trigger();
  ASSERT_EQ(http.Requests.size(), 1u);
  EXPECT_EQ(http.Requests[0].Url, cVersionFile);
  EXPECT_EQ(dialogs.Messages, (std::vector<FakeDialogs::TMessage>{{"information", cMsgUpdateAvailable},
                                                                    {"question", cMsgGoToWebsite}}));
  EXPECT_EQ(shell.Urls, std::vector<std::string>{std::string(cSite) + "/download.php"});

  // A shell that raises: the window reports it and goes on.
  dialogs.Messages.clear();
  http.Bodies = {"1.08"};
  dialogs.Answers = {true};
  shell.Raise = "no browser";
  form->Checkforupdates1->trigger();
  EXPECT_EQ(dialogs.Messages.back(), (FakeDialogs::TMessage{"error", "no browser"}));
  EXPECT_TRUE(form->isVisible());
}
