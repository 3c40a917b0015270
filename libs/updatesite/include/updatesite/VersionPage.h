#pragma once
// The update site's download page, shared by both programs' version checks: where it
// lies, how the version is read from it and how two version texts compare. The site's
// address is each program's configuration; only the paths "/download.html" and
// "/download/DravikClient.exe" below it are fixed. Any thread; nothing here keeps state.
#include <chrono>
#include <string>

// The update site both programs check when their configuration names none.
inline constexpr const char* kDefaultUpdateSiteAddress = "https://www.dravik.com";

// The page and the installer below an update site's address ("http://host[:port][/path]",
// a trailing '/' ignored).
std::string VersionPageUrl(const std::string& updateSite);
std::string InstallerUrl(const std::string& updateSite);

// Reads the version from the page's HTML (UTF-8): the text of each div whose id is
// exactly "WindowsClientVersionInfo" (its own text, the text nodes directly inside it),
// after the first U+FF1A FULLWIDTH COLON when it holds one, else whole; nothing is
// trimmed. A later matching div replaces the version of an earlier one; an empty one
// (no text, or only blanks) adds nothing. True when a version was found.
bool ParseVersionPage(const std::string& page, std::string& version);

// Fetches the page (GET, status 200, at most `timeout` in all) and reads its version;
// empty on any failure, and then `failure` (when given) says why in a line of English for
// the log: the transfer's failure, the page's status, or a page without a version.
std::string GetServerVersion(const std::string& updateSite,
                             std::chrono::milliseconds timeout = std::chrono::seconds(4),
                             std::string* failure = nullptr);

// The program's own version as the check compares it: its first five characters
// ("1.2.3.4" gives "1.2.3").
std::string ShortVersionText(const std::string& fileVersion);

// Ordinal comparison of two version texts, character by character in UTF-16 (so
// "2.2.9" is greater than "2.2.10"): negative, 0 or positive.
int CompareVersionTexts(const std::string& a, const std::string& b);
