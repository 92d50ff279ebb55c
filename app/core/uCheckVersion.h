// The update check: one GET of the version file on the maker's web site,
// its first item compared as text with the running version, and the
// messages of the outcome. Everything goes through the ports: no Qt here.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "app/core/studio_ports.h"

namespace studio {

inline constexpr const char* cMsgNoUpdates = "No updates available";
inline constexpr const char* cMsgUpdateAvailable = "Update is available";
inline constexpr const char* cMsgGoToWebsite = "Go to website to download?";
inline constexpr const char* cMsgUpdatesUndetermined = "Could not determine availability of updates";

// A neutral placeholder that never resolves (".invalid" is reserved), so a
// build nobody configured contacts no one.
inline constexpr const char* cDefaultSiteAddress = "http://orvellastudio.invalid/";
// Replaces the site's base address.
inline constexpr const char* cSiteVariable = "ORVELLASTUDIO_SITE";
// The window is blocked while the GET runs: never longer than this.
inline constexpr std::chrono::milliseconds cUpdateCheckTimeout{std::chrono::seconds(15)};

enum class TUpdateOutcome : uint8_t { uoUndetermined, uoNoUpdate, uoUpdateAvailable };

// The site's base address with its final '/': $ORVELLASTUDIO_SITE when set
// and not empty, else the placeholder. None when the variable is not an
// absolute http or https address without query or fragment.
std::optional<std::string> SiteAddress();

// The version file's body; empty on any failure (no port, a malformed site
// address, no connection, an HTTP error status, a time-out).
std::string FetchVersionText(IHttpGet* Http, const std::string& name);

// Undetermined unless the first item of the version file is a version text;
// then no update when it equals version, else update available.
TUpdateOutcome CompareWithLatest(IHttpGet* Http, const std::string& name, const std::string& version);

// CheckForUpdatesEx with messages on.
void CheckForUpdates(const TPorts& Ports, const std::string& name, const std::string& version);
// Shows the outcome; without messages only an available update is shown.
// Yes to "Go to website to download?" opens the download page.
void CheckForUpdatesEx(const TPorts& Ports, const std::string& name, const std::string& version, bool messages);

}  // namespace studio
