#include "http/HeaderFields.h"

#include <gtest/gtest.h>

namespace {

using http::ScanResponseHeaders;

TEST(HeaderFields, ContentLengthIsMatchedAtLineStartIgnoringCase) {
    struct Case {
        const char* block;
        bool found;
        std::uint64_t value;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 42\r\n\r\n", true, 42},
        {"HTTP/1.1 200 OK\r\ncontent-length:7\r\n\r\n", true, 7},
        {"HTTP/1.1 200 OK\r\nCONTENT-LENGTH: \t 9\r\n\r\n", true, 9},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\n\r\n", true, 5000000000ULL},
        // Only at the start of a line: a value that mentions the field does not count.
        {"HTTP/1.1 200 OK\r\nX-Note: Content-Length: 3\r\n\r\n", false, 0},
        {"HTTP/1.1 200 OK\r\nX-Content-Length: 3\r\n\r\n", false, 0},
        {"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n", false, 0},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n", false, 0},
        // The first one holding a number wins.
        {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", true, 1},
    };
    for (const Case& c : cases) {
        const auto fields = ScanResponseHeaders(c.block);
        EXPECT_EQ(c.found, fields.contentLength.has_value()) << c.block;
        if (fields.contentLength) {
            EXPECT_EQ(c.value, *fields.contentLength) << c.block;
        }
    }
}

TEST(HeaderFields, CookiesKeepNameAndValueOnceEach) {
    const auto fields = ScanResponseHeaders(
        "HTTP/1.1 200 OK\r\n"
        "Set-Cookie: a=1; Path=/; HttpOnly\r\n"
        "set-cookie:b=2\r\n"
        "Set-Cookie: A=1\r\n"  // the same text ignoring case: taken once
        "Set-Cookie: \r\n"
        "\r\n");
    EXPECT_EQ((std::vector<std::string>{"a=1", "b=2"}), fields.cookies);
    EXPECT_EQ("a=1; b=2;", http::JoinCookies(fields.cookies));
    EXPECT_EQ("", http::JoinCookies({}));
    EXPECT_EQ("x=1;", http::JoinCookies({"x=1"}));
}

TEST(HeaderFields, ManyCookieLinesKeepEachCookieOnceInOrder) {
    // A hostile reply with tens of thousands of cookie lines: every distinct cookie once,
    // in the order of arrival; repeats (also in another letter case) are left out.
    constexpr int kDistinct = 25000;
    std::string block = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < kDistinct; ++i) block += "Set-Cookie: c" + std::to_string(i) + "=v; Path=/\r\n";
    for (int i = 0; i < kDistinct; ++i) block += "Set-Cookie: C" + std::to_string(i) + "=V\r\n";
    block += "\r\n";
    const auto fields = ScanResponseHeaders(block);
    ASSERT_EQ(static_cast<std::size_t>(kDistinct), fields.cookies.size());
    for (int i = 0; i < kDistinct; ++i) ASSERT_EQ("c" + std::to_string(i) + "=v", fields.cookies[i]) << i;
    const std::string joined = http::JoinCookies(fields.cookies);
    EXPECT_EQ(0u, joined.rfind("c0=v; c1=v; ", 0));
    EXPECT_EQ("c" + std::to_string(kDistinct - 1) + "=v;", joined.substr(joined.rfind(' ') + 1));
}

TEST(HeaderFields, CharsetAndLocation) {
    const auto fields = ScanResponseHeaders(
        "HTTP/1.1 201 Created\n"
        "Content-Type: text/html; CHARSET=GBK\n"
        "Location: 12345/abc\n"
        "Location: 999\n");
    EXPECT_EQ("GBK", fields.charset);
    EXPECT_EQ("12345", fields.location);

    const auto none = ScanResponseHeaders("HTTP/1.1 200 OK\r\nLocation: /path\r\n\r\n");
    EXPECT_EQ("", none.charset);
    EXPECT_EQ("", none.location);
}

TEST(HeaderFields, LongLinesAreScannedWithoutTrouble) {
    // A pattern engine with backtracking can exhaust its stack on lines like this.
    const std::string huge(4 * 1024 * 1024, 'x');
    const auto fields = ScanResponseHeaders("HTTP/1.1 200 OK\r\nX-Big: " + huge + "\r\nSet-Cookie: s=" + huge +
                                            "\r\nContent-Length: 3\r\n\r\n");
    ASSERT_TRUE(fields.contentLength.has_value());
    EXPECT_EQ(3u, *fields.contentLength);
    ASSERT_EQ(1u, fields.cookies.size());
    EXPECT_EQ(huge.size() + 2, fields.cookies[0].size());
}

TEST(HeaderFields, FieldValueNeedsTheWholeNameAndAColon) {
    std::string_view value;
    EXPECT_TRUE(http::FieldValue("Cookie: a=1 ", "cookie", value));
    EXPECT_EQ("a=1", value);
    EXPECT_FALSE(http::FieldValue("Cookies: a=1", "Cookie", value));
    EXPECT_FALSE(http::FieldValue("Cookie", "Cookie", value));
    EXPECT_TRUE(http::FieldValue("Accept:", "Accept", value));
    EXPECT_EQ("", value);
}

}  // namespace
