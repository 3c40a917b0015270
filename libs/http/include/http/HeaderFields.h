#pragma once
// The header-field scanner of both HTTP clients: reads the fields they need from a block
// of HTTP response headers and matches lines of request header blocks. A field is matched
// by name at the start of a line, ignoring ASCII case, by a plain scanner (no pattern
// engine): header blocks come from the network and may hold arbitrarily long lines.
// Pure functions, safe on any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace http {

// Equality of two texts ignoring ASCII case.
bool EqualNoCase(std::string_view a, std::string_view b);

// When `line` begins with `name` (ASCII case ignored) followed by ':', `value` receives
// the text after the colon without leading and trailing blanks (and without the line end).
bool FieldValue(std::string_view line, std::string_view name, std::string_view& value);

// The lines of a header block (CR LF or LF endings), without their line ends.
std::vector<std::string_view> SplitLines(std::string_view block);

struct ResponseFields {
    std::optional<std::uint64_t> contentLength;  // first "Content-Length:" holding a number
    std::string location;                        // digits that open the first "Location:" value
    std::string charset;                         // first "charset=" value in any field
    std::vector<std::string> cookies;            // "name=value" of each "Set-Cookie:", each once
};

// Scans one response's header block.
ResponseFields ScanResponseHeaders(std::string_view block);

// The cookie text sent back to the server: the cookies joined by "; ", ending in ';'
// ("a=1; b=2;"); empty when there are none.
std::string JoinCookies(const std::vector<std::string>& cookies);

}  // namespace http
