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
        // "." and ".." in last position are names, not steps.
        {u"/a/b/.", true, u"/a/b/."},
        {u"/a/b/..", true, u"/a/b/.."},
        {u"/a/../b", false, u""},          // back to the root
        {u"/../a", false, u""},
        {u"/a/b/../../c", false, u""},
        {u"/a//b", false, u""},            // empty component
        {u"//a", false, u""},
        {u"a/b", false, u""},              // relative
        {u"", false, u""},
        {u"/a/CON/b", false, u""},
        {u"/a/b?c", false, u""},
        {u"/a/LPT1", false, u""},
        {u"/a/b:c/d", false, u""},
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
    const std::u16string longest = u"/" + std::u16string(32767, u'a');
    EXPECT_TRUE(NormalizeLongPath(longest, out));
    EXPECT_EQ(out.size(), 32768u);
    EXPECT_FALSE(NormalizeLongPath(longest + u"a", out));
    EXPECT_TRUE(out.empty());
    // The limit applies to the result, not to the input.
    EXPECT_TRUE(NormalizeLongPath(u"/a/" + std::u16string(32770, u'b') + u"/../c", out));
    EXPECT_EQ(out, u"/a/c");

    EXPECT_TRUE(AddLongPathPrefix(longest, out));
    EXPECT_EQ(out, longest);
    EXPECT_FALSE(AddLongPathPrefix(longest + u"a", out));
}

TEST(LongPathTest, FileNameRules) {
    const std::vector<std::u16string> good = {u"a", u"con", u"CON.txt", u"COM0", u"LPT10", u".", u"..",
                                              u"name with space", u"\u4E2D\u6587"};
    for (const auto& name : good) EXPECT_TRUE(IsValidFileName(name)) << plat::ToUtf8(name);
    std::vector<std::u16string> bad = {u"",     u"CON",  u"PRN",  u"AUX",  u"NUL",  u"COM1", u"COM9",
                                       u"LPT1", u"LPT9", u"a<b",  u"a>b",  u"a:b",  u"a\"b", u"a/b",
                                       u"a\\b", u"a|b",  u"a?b",  u"a*b",  u"a\tb", u"\u001F"};
    bad.push_back(std::u16string(1, u'\0'));
    for (const auto& name : bad) EXPECT_FALSE(IsValidFileName(name)) << plat::ToUtf8(name);
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
