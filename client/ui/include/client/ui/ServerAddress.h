#pragma once
// The server address of the settings dialog, read as the HTTP client will use it:
// an optional scheme (http or https), a host, an optional port and an optional base path.
// The check refuses what cannot name a server rather than matching one narrow form, so an
// address with a port ("http://127.0.0.1:8080") or a path ("https://example.org/cloud/")
// passes, while a typo without a dot ("dravik"), a foreign scheme ("ftp://"), blanks,
// user names, queries and fragments do not. Plain text logic, any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct ServerAddress {
    std::string scheme;  // "http" or "https"; empty when the text names none
    std::string host;    // a dotted name, "localhost", an IPv4 address or "[IPv6]"
    std::uint16_t port = 0;  // 0 when the text names none
    std::string path;    // "" or "/a/b" (a trailing '/' kept as typed)
};

// The parts of `text` (surrounding blanks ignored); nothing when it is no server address.
std::optional<ServerAddress> ParseServerAddress(std::string_view text);
