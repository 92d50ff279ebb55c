#include "app/core/uCheckVersion.h"

#include <cstdlib>
#include <string_view>
#include <vector>

#include "foundation/kovra_csvfiles.h"

namespace studio {

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// An absolute http or https address with a host, to which a path can be
// appended: no blanks or control characters, no query or fragment.
bool IsSiteAddress(std::string_view s) {
  size_t rest;
  if (StartsWithNoCase(s, "http://"))
    rest = 7;
  else if (StartsWithNoCase(s, "https://"))
    rest = 8;
  else
    return false;
  for (unsigned char c : s)
    if (c <= 32 || c == 127 || c == '?' || c == '#' || c == '\\') return false;
  const size_t hostEnd = s.find('/', rest);
  std::string_view authority = s.substr(rest, hostEnd == std::string_view::npos ? s.npos : hostEnd - rest);
  if (const size_t at = authority.rfind('@'); at != authority.npos) authority.remove_prefix(at + 1);
  // A host, not only a port.
  return !authority.empty() && authority.front() != ':';
}

// What a version file names: printable ASCII (a blank only in a quoted
// item), beginning with a digit. An error page served as 200, a portal's
// notice or binary junk names no version and must not offer a download.
bool IsVersionText(std::string_view s) {
  if (s.empty() || s.size() > 64 || s[0] < '0' || s[0] > '9') return false;
  for (char c : s)
    if (c < ' ' || c > '~') return false;
  return true;
}

std::string DownloadPage(const std::string& Site) { return Site + "download.php"; }

}  // namespace

std::optional<std::string> SiteAddress() {
  const char* v = std::getenv(cSiteVariable);
  std::string site = (v && *v) ? v : cDefaultSiteAddress;
  if (!IsSiteAddress(site)) return std::nullopt;
  if (site.back() != '/') site += '/';
  return site;
}

std::string FetchVersionText(IHttpGet* Http, const std::string& name) {
  const auto site = SiteAddress();
  if (!Http || !site) return {};
  auto body = Http->get(*site + "versions/" + name + ".txt", cUpdateCheckTimeout);
  return body ? std::move(*body) : std::string();
}

TUpdateOutcome CompareWithLatest(IHttpGet* Http, const std::string& name, const std::string& version) {
  const std::string fetched = FetchVersionText(Http, name);
  std::string_view text = fetched;
  // A version file saved by an editor that marks UTF-8.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // The first item in every case: a version file normally ends with a line
  // break, which is no part of the version.
  const std::vector<std::string> items = kovra::SplitCommaText(text);
  if (items.empty() || !IsVersionText(items[0])) return TUpdateOutcome::uoUndetermined;
  // Compared as text: any other version counts as newer.
  return items[0] == version ? TUpdateOutcome::uoNoUpdate : TUpdateOutcome::uoUpdateAvailable;
}

void CheckForUpdates(const TPorts& Ports, const std::string& name, const std::string& version) {
  CheckForUpdatesEx(Ports, name, version, true);
}

void CheckForUpdatesEx(const TPorts& Ports, const std::string& name, const std::string& version, bool messages) {
  switch (CompareWithLatest(Ports.Http, name, version)) {
    case TUpdateOutcome::uoNoUpdate:
      if (messages) Ports.Dialogs->information(cMsgNoUpdates);
      break;
    case TUpdateOutcome::uoUpdateAvailable:
      Ports.Dialogs->information(cMsgUpdateAvailable);
      // The shell's answer is ignored: the check is over either way.
      if (Ports.Dialogs->question(cMsgGoToWebsite))
        if (const auto site = SiteAddress()) Ports.Shell->openUrl(DownloadPage(*site));
      break;
    case TUpdateOutcome::uoUndetermined:
      if (messages) Ports.Dialogs->information(cMsgUpdatesUndetermined);
      break;
  }
}

}  // namespace studio
