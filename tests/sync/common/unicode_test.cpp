#include "sync/common/unicode.h"

#include <gtest/gtest.h>

#include "support/synclogcapture.h"

namespace {

std::string Bytes(std::initializer_list<unsigned char> bytes) { return std::string(bytes.begin(), bytes.end()); }

struct RoundTrip {
    std::u16string wide;
    std::string utf8;
};

TEST(UnicodeTest, ConvertsBothWays) {
    const RoundTrip cases[] = {
        {u"A\u00E9\u4E2D", Bytes({0x41, 0xC3, 0xA9, 0xE4, 0xB8, 0xAD})},
        {u"\xD83D\xDE00", Bytes({0xF0, 0x9F, 0x98, 0x80})},
        {u"\U0010FFFF", Bytes({0xF4, 0x8F, 0xBF, 0xBF})},
        {u"", ""},
    };
    for (const RoundTrip& c : cases) {
        std::string utf8 = "stale";
        EXPECT_TRUE(UTF16toUTF8(c.wide, utf8));
        EXPECT_EQ(utf8, c.utf8);
        std::u16string wide = u"stale";
        EXPECT_TRUE(UTF8toUTF16(c.utf8, wide));
        EXPECT_EQ(wide, c.wide);
    }
}

TEST(UnicodeTest, RefusesUnpairedSurrogatesAndLogsTheAddress) {
    LogCapture log;
    const std::u16string bad[] = {std::u16string(1, u'\xDC00'), std::u16string{u'\xD800', u'A'},
                                  std::u16string(1, u'\xD800')};
    for (const std::u16string& text : bad) {
        std::string out = "stale";
        EXPECT_FALSE(UTF16toUTF8(text, out));
        EXPECT_TRUE(out.empty());
    }
    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("ALERT: UTF16toUTF8 error![[", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("]] filepath:unicode line:194"), std::string::npos) << lines[0];
}

TEST(UnicodeTest, RefusesMalformedUtf8) {
    const std::string bad[] = {
        Bytes({0xC3, 0x28}),              // bad continuation byte
        Bytes({0xF4, 0x90, 0x80, 0x80}),  // above U+10FFFF
        Bytes({0xC0, 0x80}),              // overlong zero
        Bytes({0xE0, 0x80, 0xAF}),        // overlong '/'
        Bytes({0xED, 0xA0, 0x80}),        // encoded surrogate
        Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}),  // five-byte form
        Bytes({0x80}),                    // lone continuation byte
        Bytes({0x41, 0xE4, 0xB8}),        // cut short at the end
    };
    for (const std::string& text : bad) {
        std::u16string out = u"stale";
        EXPECT_FALSE(UTF8toUTF16(text, out)) << testing::PrintToString(text);
        EXPECT_TRUE(out.empty());
    }
}

TEST(UnicodeTest, HonoursLengthOnBothSides) {
    // A sequence cut by the length fails instead of reading past it.
    const std::string chinese = Bytes({0xE4, 0xB8, 0xAD});
    std::u16string wide;
    EXPECT_FALSE(UTF8toUTF16(chinese.data(), 2, wide));
    EXPECT_TRUE(UTF8toUTF16("ABC", 2, wide));
    EXPECT_EQ(wide, u"AB");
    // A surrogate pair cut by the length is unpaired.
    const char16_t pair[] = {0xD83D, 0xDE00, 0};
    std::string utf8;
    EXPECT_FALSE(UTF16toUTF8(pair, 1, utf8));
    EXPECT_TRUE(UTF16toUTF8(u"XYZ", 2, utf8));
    EXPECT_EQ(utf8, "XY");
    EXPECT_TRUE(UTF16toUTF8(pair, utf8));
    EXPECT_EQ(utf8, Bytes({0xF0, 0x9F, 0x98, 0x80}));
}

TEST(UnicodeTest, StopsAtTheFirstZero) {
    std::string utf8;
    EXPECT_TRUE(UTF16toUTF8(std::u16string(u"ab\0cd", 5), utf8));
    EXPECT_EQ(utf8, "ab");
    std::u16string wide;
    EXPECT_TRUE(UTF8toUTF16(std::string("ab\0\xFF", 4), wide));
    EXPECT_EQ(wide, u"ab");
    EXPECT_TRUE(UTF8toUTF16(nullptr, 0, wide));
    EXPECT_TRUE(wide.empty());
    EXPECT_TRUE(UTF16toUTF8(static_cast<const char16_t*>(nullptr), utf8));
    EXPECT_TRUE(utf8.empty());
}

TEST(UnicodeTest, LogsMalformedUtf8Escaped) {
    LogCapture log;
    std::u16string out;
    EXPECT_FALSE(UTF8toUTF16(Bytes({'a', 0xC3, 0x28, '\n', 0xE4, 0xB8, 0xAD}), out));
    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "ALERT: UTF8toUTF16 error![[a\\xC3(\\x0A\xE4\xB8\xAD]] filepath:unicode line:448");
}

TEST(UnicodeTest, DecodesOneCharacterStrictly) {
    std::uint32_t cp = 0;
    int units = 0;
    const std::string smile = Bytes({0xF0, 0x9F, 0x98, 0x80});
    const auto* p = reinterpret_cast<const unsigned char*>(smile.data());
    EXPECT_EQ(DecodeUTF8Char(p, 4, cp, units), 4);
    EXPECT_EQ(cp, 0x1F600u);
    EXPECT_EQ(units, 2);
    EXPECT_EQ(DecodeUTF8Char(p, 3, cp, units), 0);
    const std::string overlong = Bytes({0xC1, 0xBF});
    EXPECT_EQ(DecodeUTF8Char(reinterpret_cast<const unsigned char*>(overlong.data()), 2, cp, units), 0);
}

TEST(UnicodeTest, AnsiConversionsAreLenient) {
    EXPECT_EQ(BaseFunc::AnsiToWide(Bytes({'a', 0xFF, 'b'})), u"a\uFFFDb");
    EXPECT_EQ(BaseFunc::AnsiToWide(std::string("ab\0cd", 5)), u"ab");
    EXPECT_EQ(BaseFunc::WideToAnsi(u"\u4E2D"), Bytes({0xE4, 0xB8, 0xAD}));
    EXPECT_EQ(BaseFunc::WideToUtf8(std::u16string{u'x', u'\xDC00'}), Bytes({'x', 0xEF, 0xBF, 0xBD}));
}

TEST(UnicodeTest, EscapesForLog) {
    EXPECT_EQ(EscapeForLog("plain \xE4\xB8\xAD text"), "plain \xE4\xB8\xAD text");
    EXPECT_EQ(EscapeForLog(Bytes({0x01, '\\', 0xFF, 0x7F})), "\\x01\\x5C\\xFF\\x7F");
}

}  // namespace
