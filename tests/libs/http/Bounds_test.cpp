// The one way a reply body reaches a log line: its first 2 KiB, control characters escaped.
#include "http/Bounds.h"

#include <gtest/gtest.h>

namespace {

TEST(Bounds, LogExcerptShowsTheStartOfABodyOnOneLine) {
    struct Case {
        const char* name;
        std::string body;
        std::string logged;
    };
    const std::string longBody = std::string(http::kLoggedBodyBytes, 'a') + "TAIL";
    const Case cases[] = {
        {"plain text", "no such folder", "no such folder"},
        {"line breaks and tabs", "a\r\nb\tc", "a\\r\\nb\\tc"},
        {"other controls and DEL", std::string("x\0y\x1b[2J\x7f", 8), "x\\x00y\\x1b[2J\\x7f"},
        {"a backslash stays readable", "C:\\n", "C:\\\\n"},
        {"UTF-8 passes", "文件", "文件"},
        {"a long body is cut", longBody, std::string(http::kLoggedBodyBytes, 'a') + "... (2052 bytes)"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.logged, http::LogExcerpt(c.body)) << c.name;
    // However long the body, the line stays short and one line.
    const std::string flood(30u << 20, '\n');
    const std::string line = http::LogExcerpt(flood);
    EXPECT_LT(line.size(), 3 * http::kLoggedBodyBytes);
    EXPECT_EQ(std::string::npos, line.find('\n'));
}

}  // namespace
