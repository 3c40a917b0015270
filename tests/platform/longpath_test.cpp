#include "platform/longpath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"

namespace {

using plat::U16;

TEST(LongPathTest, NormalisesOrRefuses) {
    struct Case {
        std::u16string in;
        bool ok;
        std::u16string out;
    };
    const std::vector<Case> cases = {
        {u"/a/./b/../c.txt", true, u"/a/c.txt"},
        {u"\\a\\b\\c", true, u"/a/b/c"},
        {u"/a/b\\..\\c/", true, u"/a/c/"},
        {u"/a/b/c/../../d", true, u"/a/d"},
        {u"/a/b/", true, u"/a/b/"},
        {u"/", true, u"/"},
        {u"/a/con/b", true, u"/a/con/b"},
        {u"/a/CON.txt", true, u"/a/CON.txt"},
        {u"/a/COM10", true, u"/a/COM10"},
        // Names the other platform reserves are plain names here.
        {u"/a/CON/b", true, u"/a/CON/b"},
        {u"/a/b?c", true, u"/a/b?c"},
        {u"/a/LPT1", true, u"/a/LPT1"},
        {u"/a/b:c/d", true, u"/a/b:c/d"},
        // "." and ".." in last position are neither steps nor names.
        {u"/a/b/.", false, u""},
        {u"/a/b/..", false, u""},
        {u"/a/../b", false, u""},          // back to the root
        {u"/../a", false, u""},
        {u"/a/b/../../c", false, u""},
        {u"/a//b", false, u""},            // empty component
        {u"//a", false, u""},
        {u"a/b", false, u""},              // relative
        {u"", false, u""},
        {u"/a/" + std::u16string(256, u'n') + u"/b", false, u""},
        {u"/a/b\u0001c", false, u""},
        {std::u16string(u"/a/b\0c", 6), false, u""},
    };
    for (const auto& c : cases) {
        std::u16string out = u"stale";
        EXPECT_EQ(NormalizeLongPath(c.in, out), c.ok) << plat::ToUtf8(c.in);
        EXPECT_EQ(out, c.out) << plat::ToUtf8(c.in);
    }
}

TEST(LongPathTest, LengthLimitIs32768Characters) {
    std::u16string out;
    // Names of at most 255 bytes, 32768 characters in all.
    std::u16string longest;
    while (longest.size() + 256 < 32768) longest += u"/" + std::u16string(255, u'a');
    longest += u"/" + std::u16string(32768 - longest.size() - 1, u'a');
    EXPECT_TRUE(NormalizeLongPath(longest, out));
    EXPECT_EQ(out.size(), 32768u);
    EXPECT_FALSE(NormalizeLongPath(longest + u"a", out));
    EXPECT_TRUE(out.empty());
    // The limit applies to the result, not to the input.
    std::u16string deep = u"/a";
    for (int i = 0; i < 130; ++i) deep += u"/" + std::u16string(255, u'b');
    for (int i = 0; i < 130; ++i) deep += u"/..";
    ASSERT_GT(deep.size(), 32768u);
    EXPECT_TRUE(NormalizeLongPath(deep + u"/c", out));
    EXPECT_EQ(out, u"/a/c");

    EXPECT_TRUE(AddLongPathPrefix(longest, out));
    EXPECT_EQ(out, longest);
    EXPECT_FALSE(AddLongPathPrefix(longest + u"a", out));
}

TEST(LongPathTest, FileNameRules) {
    // Legal here: the other platform's reserved characters and device names.
    const std::vector<std::u16string> good = {
        u"a",     u"con",  u"CON",  u"CON.txt", u"PRN",   u"NUL",  u"COM1",    u"LPT9",
        u"a<b",   u"a>b",  u"a:b.txt", u"a\"b", u"a|b",  u"x?y",  u"a*b",     u"...",
        u".hidden", u"name with space", u"\u4E2D\u6587", std::u16string(255, u'n'),
        // 85 characters of three bytes each: 255 bytes.
        std::u16string(85, u'\u4E2D')};
    for (const auto& name : good) {
        EXPECT_TRUE(IsValidFileName(name)) << plat::ToUtf8(name);
        EXPECT_EQ(plat::FileNameProblem(name), "") << plat::ToUtf8(name);
    }
    struct Bad {
        std::u16string name;
        const char* reason;
    };
    const std::vector<Bad> bad = {
        {u"", "the name is empty"},
        {u".", "the name is . or .."},
        {u"..", "the name is . or .."},
        {u"a/b", "the name holds '/'"},
        {u"a\\b", "the name holds '\\', a separator"},
        {std::u16string(1, u'\0'), "the name holds a NUL character"},
        {u"a\tb", "the name holds a control character"},
        {u"\u001F", "the name holds a control character"},
        {u"a\u007Fb", "the name holds a control character"},
        {std::u16string(256, u'n'), "the name is longer than 255 bytes"},
        {std::u16string(86, u'\u4E2D'), "the name is longer than 255 bytes"},
    };
    for (const auto& c : bad) {
        EXPECT_FALSE(IsValidFileName(c.name)) << plat::ToUtf8(c.name);
        EXPECT_EQ(plat::FileNameProblem(c.name), c.reason) << plat::ToUtf8(c.name);
    }
}

TEST(LongPathTest, RefusedPathsSayWhy) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/a/b:c/x?y/CON", ""},
        {"a/b", "the path is not absolute"},
        {"/a//b", "the path holds an empty name"},
        {"/a/../..", "'..' would leave the top folder"},
        {"/a/b\tc/d", "'b\tc': the name holds a control character"},
        {"/a/..", "'..': the name is . or .."},
        {std::string("/a\0b", 4), "the path holds a NUL character"},
        {"/a/\xC3(", "the path is not UTF-8"},
        {"/a/" + std::string(256, 'n'), "'" + std::string(256, 'n') + "': the name is longer than 255 bytes"},
    };
    for (const auto& [path, reason] : cases) EXPECT_EQ(plat::PathProblemUtf8(path), reason) << path;
}

TEST(LongPathTest, Utf8Form) {
    std::string out;
    EXPECT_TRUE(plat::NormalizePathUtf8("/\xC3\xA4/./b", out));
    EXPECT_EQ(out, "/\xC3\xA4/b");
    EXPECT_FALSE(plat::NormalizePathUtf8("/a/\xC3(", out));
    EXPECT_TRUE(out.empty());
    // A zero byte must not shorten the path silently.
    EXPECT_FALSE(plat::NormalizePathUtf8(std::string("/a\0/../../etc", 13), out));
    EXPECT_FALSE(plat::NormalizePathUtf8("/a/../b", out));
}

}  // namespace
