#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using plat::Utf16ToUtf8;
using plat::Utf8ToUtf16;

struct GoodPair {
    std::u16string utf16;
    std::string utf8;
};

TEST(TextTest, ConvertsBothWaysExactly) {
    const std::vector<GoodPair> cases = {
        {u"A\u00E9\u4E2D", "\x41\xC3\xA9\xE4\xB8\xAD"},
        {std::u16string{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {std::u16string{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},  // U+10FFFF, the last code point
        {u"\u007F\u0080\u07FF\u0800\uFFFF", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {u"", ""},
    };
    for (const auto& c : cases) {
        std::string utf8;
        EXPECT_TRUE(Utf16ToUtf8(c.utf16, utf8));
        EXPECT_EQ(utf8, c.utf8);
        std::u16string utf16;
        EXPECT_TRUE(Utf8ToUtf16(c.utf8, utf16));
        EXPECT_EQ(utf16, c.utf16);
        EXPECT_TRUE(plat::IsValidUtf8(c.utf8));
    }
}

TEST(TextTest, RefusesUnpairedSurrogatesAndLeavesOutputEmpty) {
    const std::vector<std::u16string> bad = {
        std::u16string{0xDC00},
        std::u16string{0xD800, 0x0041},
        std::u16string{0x0041, 0xD800},        // high surrogate at the very end
        std::u16string{0xDE00, 0xD83D},        // pair in the wrong order
    };
    for (const auto& text : bad) {
        std::string out = "stale";
        EXPECT_FALSE(Utf16ToUtf8(text, out));
        EXPECT_TRUE(out.empty());
    }
}

TEST(TextTest, RefusesMalformedUtf8AndLeavesOutputEmpty) {
    const std::vector<std::string> bad = {
        "\xC3\x28",                  // bad continuation byte
        "\xF4\x90\x80\x80",          // above U+10FFFF
        "\xC0\x80", "\xC1\xBF",      // overlong two-byte forms
        "\xE0\x80\x80", "\xE0\x9F\xBF",  // overlong three-byte forms
        "\xF0\x8F\xBF\xBF",          // overlong four-byte form
        "\xED\xA0\x80", "\xED\xBF\xBF",  // encoded surrogates
        "\xF8\x88\x80\x80\x80",      // five-byte form
        "\xFC\x84\x80\x80\x80\x80",  // six-byte form
        "\xE4\xB8",                  // cut short
        "a\x80", "\xFE", "\xFF",
    };
    for (const auto& text : bad) {
        std::u16string out = u"stale";
        EXPECT_FALSE(Utf8ToUtf16(text, out)) << testing::PrintToString(text);
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(plat::IsValidUtf8(text));
    }
}

TEST(TextTest, StopsAtFirstZeroAndHonoursLength) {
    std::string utf8;
    const char16_t wide[] = {u'a', u'b', 0, u'c'};
    EXPECT_TRUE(Utf16ToUtf8(wide, 4, utf8));
    EXPECT_EQ(utf8, "ab");
    EXPECT_TRUE(Utf16ToUtf8(wide, 1, utf8));
    EXPECT_EQ(utf8, "a");

    std::u16string utf16;
    EXPECT_TRUE(Utf8ToUtf16(std::string("ab\0cd", 5), utf16));
    EXPECT_EQ(utf16, u"ab");

    // A sequence cut by `length` is malformed; exact-sized heap buffers let the
    // sanitizer catch any read past the end.
    auto bytes = std::make_unique<char[]>(3);
    std::memcpy(bytes.get(), "\xE4\xB8\xAD", 3);
    EXPECT_FALSE(Utf8ToUtf16(bytes.get(), 2, utf16));
    EXPECT_TRUE(Utf8ToUtf16(bytes.get(), 3, utf16));
    EXPECT_EQ(utf16, u"\u4E2D");
    auto pair = std::make_unique<char16_t[]>(2);
    pair[0] = 0xD83D;
    pair[1] = 0xDE00;
    EXPECT_FALSE(Utf16ToUtf8(pair.get(), 1, utf8));
    EXPECT_TRUE(Utf16ToUtf8(pair.get(), 2, utf8));

    EXPECT_TRUE(Utf8ToUtf16("abc", 0, utf16));
    EXPECT_TRUE(utf16.empty());
    EXPECT_TRUE(Utf16ToUtf8(u"abc", 0, utf8));
    EXPECT_TRUE(utf8.empty());
}

TEST(TextTest, DecodeReportsLengthCodePointAndUnits) {
    const auto* p = reinterpret_cast<const unsigned char*>("\xF0\x9F\x98\x80\xC3\xA9");
    std::uint32_t cp = 0;
    int units = 0;
    EXPECT_EQ(plat::DecodeUtf8Char(p, 6, cp, units), 4);
    EXPECT_EQ(cp, 0x1F600u);
    EXPECT_EQ(units, 2);
    EXPECT_EQ(plat::DecodeUtf8Char(p + 4, 2, cp, units), 2);
    EXPECT_EQ(cp, 0xE9u);
    EXPECT_EQ(units, 1);
    EXPECT_EQ(plat::DecodeUtf8Char(p, 3, cp, units), 0);  // not enough bytes available
    EXPECT_EQ(plat::DecodeUtf8Char(p, 0, cp, units), 0);
}

TEST(TextTest, LenientFormsReplaceMalformedInput) {
    EXPECT_EQ(plat::ToUtf16("a\xC3(b"), u"a\uFFFD(b");
    EXPECT_EQ(plat::ToUtf8(std::u16string{u'x', 0xDC00, u'y'}), "x\xEF\xBF\xBDy");
    EXPECT_EQ(plat::U16("\xE4\xB8\xAD"), u"\u4E2D");
    EXPECT_TRUE(plat::IsValidUtf8(std::string("a\0b", 3)));
}

}  // namespace
