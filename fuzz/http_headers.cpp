// The header-field scanner of both HTTP clients: a response header block scanned for its
// length, location, charset and cookies, and every line matched against the field names
// the clients look for.
#include "FuzzTarget.h"
#include "http/HeaderFields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view block = fuzz::Text(data, size);
    const http::ResponseFields fields = http::ScanResponseHeaders(block);
    const std::string joined = http::JoinCookies(fields.cookies);
    if (!fields.cookies.empty() && (joined.empty() || joined.back() != ';')) fuzz::Fail("joined cookies end in ';'");
    for (const std::string_view line : http::SplitLines(block)) {
        if (line.find('\n') != std::string_view::npos) fuzz::Fail("a split line holds a line end");
        std::string_view value;
        for (const char* name : {"Content-Length", "Location", "Set-Cookie", "Content-Type"}) {
            if (http::FieldValue(line, name, value) && value.size() > line.size()) fuzz::Fail("a value longer than its line");
        }
        http::EqualNoCase(line, "content-length");
    }
    return 0;
}
