#include "client/core/TextHelpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

TEST(FormatByteSize, UnitsAndRounding) {
    struct Case {
        std::int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0  B"},
        {1023, "1023  B"},
        {1024, "1.00 KB"},
        {1536, "1.50 KB"},
        {1048575, "1024.00 KB"},
        {1048576, "1.00 MB"},
        {5LL * 1024 * 1024 * 1024 + 512LL * 1024 * 1024, "5.50 GB"},
        {1LL << 40, "1.00 TB"},
        {(1LL << 50) - 1, "1024.00 TB"},
        {1LL << 50, "1.00 PB"},
        {3LL << 50, "3.00 PB"},
        {INT64_MAX, "8192.00 PB"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
}

TEST(UrlEncode, KeepsUnreservedAndEncodesTheRest) {
    EXPECT_EQ(UrlEncode(""), "");
    EXPECT_EQ(UrlEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(UrlEncode("a b/c"), "a%20b%2Fc");
    EXPECT_EQ(UrlEncode("p@ss&w=rd+%"), "p%40ss%26w%3Drd%2B%25");
    EXPECT_EQ(UrlEncode("中"), "%E4%B8%AD");
    EXPECT_EQ(UrlEncode(std::string("\0\xff", 2)), "%00%FF");
}

TEST(ToSlashPath, ReplacesEveryBackslash) {
    EXPECT_EQ(ToSlashPath("C:\\a\\b\\"), "C:/a/b/");
    EXPECT_EQ(ToSlashPath("/already/ok"), "/already/ok");
}

TEST(SkipUtf8Bom, DropsMarkAndLineBreaks) {
    EXPECT_EQ(SkipUtf8Bom("\xEF\xBB\xBF" "a\r\nb"), "ab");
    EXPECT_EQ(SkipUtf8Bom("no mark\n"), "no mark");
    EXPECT_EQ(SkipUtf8Bom("\xEF\xBB"), "\xEF\xBB") << "a cut mark is not a mark";
    EXPECT_EQ(SkipUtf8Bom("x\xEF\xBB\xBF"), "x\xEF\xBB\xBF") << "only a leading mark goes";
    EXPECT_EQ(SkipUtf8Bom(""), "");
}

TEST(ParseLeadingInt, ReadsLikeAtoiWithoutOverflow) {
    struct Case {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"42", 42}, {"  -7", -7}, {"+5x", 5}, {"12abc", 12}, {"abc", 0}, {"", 0}, {"-", 0},
        {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"-99999999999999999999", INT32_MIN}, {"99999999999999999999", INT32_MAX}, {"\t\n 3", 3},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseLeadingInt(c.text), c.value) << c.text;
}

TEST(FillPlaceholders, FillsInOrderAndNeverFormats) {
    EXPECT_EQ(FillPlaceholders("Input Error data of %s, correct range is [%d, %d].", {"Size", "1", "10"}),
              "Input Error data of Size, correct range is [1, 10].");
    EXPECT_EQ(FillPlaceholders("共传输 %d 个文件，其中成功 %d 个，失败 %d 个。", {"3", "2", "1"}),
              "共传输 3 个文件，其中成功 2 个，失败 1 个。");
    // Arguments are inserted as they stand, even when they look like placeholders.
    EXPECT_EQ(FillPlaceholders("%s and %s", {"%s%n", "x"}), "%s%n and x");
    // Missing arguments give nothing; other specifiers and a lone '%' stay.
    EXPECT_EQ(FillPlaceholders("%d/%d %x 100%% %", {"1"}), "1/ %x 100% %");
}

TEST(FillTranslated, ATranslationIsUsedOnlyWithTheKeysPlaceholders) {
    const char key[] = "Input Error data of %s, correct range is [%d, %d].";
    struct Case {
        const char* name;
        const char* translation;
        const char* shown;
    };
    const Case cases[] = {
        {"same placeholders", "%s 输入错误，正确范围是 [%d, %d]。", "Size 输入错误，正确范围是 [1, 10]。"},
        {"a literal percent is no placeholder", "%s 错误 100%%：[%d, %d]", "Size 错误 100%：[1, 10]"},
        {"one left out", "%s 输入错误，范围 [%d]", "Input Error data of Size, correct range is [1, 10]."},
        {"order changed", "[%d, %d] %s", "Input Error data of Size, correct range is [1, 10]."},
        {"one added", "%s %s [%d, %d]", "Input Error data of Size, correct range is [1, 10]."},
        {"untranslated", key, "Input Error data of Size, correct range is [1, 10]."},
    };
    for (const Case& c : cases) EXPECT_EQ(FillTranslated(key, c.translation, {"Size", "1", "10"}), c.shown) << c.name;
    EXPECT_EQ(PlaceholdersOf("%s %% %d %x %"), "sd");
}

TEST(LabelWithValue, ABlankFollowsAnAsciiColonOnly) {
    EXPECT_EQ(LabelWithValue("Current version:", "1.0.3"), "Current version: 1.0.3");
    EXPECT_EQ(LabelWithValue("当前版本：", "1.0.3"), "当前版本：1.0.3");
    EXPECT_EQ(LabelWithValue("Version", "1.0.3"), "Version1.0.3");
}

}  // namespace
