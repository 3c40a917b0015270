#include "sync/common/BaseFunc.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/strings.h"
#include "platform/text.h"
#include "support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Sandbox;
using testsupport::WriteFile;

std::u16string W(const std::string& utf8) { return plat::ToUtf16(utf8); }
std::u16string W(const char* utf8) { return plat::ToUtf16(utf8); }
std::u16string W(const fs::path& p) { return plat::ToUtf16(p.string()); }

TEST(BaseFuncTest, CaseFoldingIsAsciiOnly) {
    EXPECT_EQ(BaseFunc::ToLower("AbC-\xC3\x84-Z"), "abc-\xC3\x84-z");
    EXPECT_EQ(BaseFunc::ToUpper("aBc-\xC3\xA4-z"), "ABC-\xC3\xA4-Z");
    EXPECT_EQ(ToLowerString("MiXeD.TXT"), "mixed.txt");
    EXPECT_TRUE(BaseFunc::EqualNoCase("ReadMe.TXT", "readme.txt"));
    EXPECT_FALSE(BaseFunc::EqualNoCase("readme", "readme "));
    EXPECT_FALSE(BaseFunc::EqualNoCase("\xC3\x84", "\xC3\xA4"));
    EXPECT_LT(BaseFunc::CompareNoCase("abc", "ABD"), 0);
    EXPECT_LT(BaseFunc::CompareNoCase("ab", "ABC"), 0);
    EXPECT_GT(BaseFunc::CompareNoCase("\xC3\x84", "z"), 0);  // unsigned bytes
    EXPECT_EQ(BaseFunc::CompareNoCase("[", "["), 0);
    EXPECT_GT(BaseFunc::CompareNoCase("Z", "_"), 0);  // folded to 'z' (0x7A), after '_' (0x5F)
}

TEST(BaseFuncTest, ReplaceHelpers) {
    EXPECT_EQ(ReplaceCharString("a/b/c", '/', '\\'), "a\\b\\c");
    EXPECT_EQ(ReplaceAllW(u"aaa", u"aa", u"b"), u"ba");
    EXPECT_EQ(ReplaceAllW(u"x.y.z", u".", u"::"), u"x::y::z");
    EXPECT_EQ(ReplaceAllW(u"abab", u"ab", u"abab"), u"abababab");
    EXPECT_EQ(ReplaceAllW(u"keep", u"", u"x"), u"keep");
}

TEST(BaseFuncTest, ParseInt64WithSeparators) {
    struct Case {
        std::u16string text;
        std::int64_t value;
        bool valid;
    };
    const Case cases[] = {
        {u"12,345 678", 12345678, true},
        {u"", 0, false},
        {u"abc", 0, false},
        {u"-", 0, false},
        {u"-1,000", -1000, true},
        {u"+5", 5, true},
        {u"\t 42abc", 42, true},
        {u"9223372036854775807", LLONG_MAX, true},
        {u"-9223372036854775808", LLONG_MIN, true},
        {u"9223372036854775808", LLONG_MAX, false},
        {u"-99999999999999999999", LLONG_MIN, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseInt64WithSeparators(c.text), c.value) << plat::ToUtf8(c.text);
        std::int64_t value = 1;
        EXPECT_EQ(BaseFunc::TryParseInt64WithSeparators(c.text, value), c.valid) << plat::ToUtf8(c.text);
    }
}

TEST(BaseFuncTest, GetTimeString) {
    struct Case {
        plat::SystemTime time;
        int hours, minutes;
        std::string expected;
    };
    auto at = [](int y, int mo, int d, int h, int mi, int s) {
        plat::SystemTime t;
        t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s;
        return t;
    };
    const Case cases[] = {
        {at(2018, 1, 19, 23, 30, 0), 8, 45, "2018-01-20 08:15:00"},
        {at(2018, 1, 1, 0, 10, 0), -1, -15, "2017-12-31 22:55:00"},
        {at(2020, 2, 28, 23, 0, 59), 2, 0, "2020-02-29 01:00:59"},
        {at(2021, 2, 28, 23, 0, 0), 1, 0, "2021-03-01 00:00:00"},
        {at(1999, 12, 31, 23, 59, 59), 0, 0, "1999-12-31 23:59:59"},
    };
    for (const Case& c : cases) EXPECT_EQ(BaseFunc::GetTimeString(c.time, c.hours, c.minutes), c.expected);
}

TEST(BaseFuncTest, SyncableNamesAndExtensions) {
    struct Case {
        std::string path;
        bool syncable;
    };
    const Case cases[] = {
        {"/d/desktop.ini", false}, {"\\d\\a.tmp", false},   {"/d/Thumbs.db", true},
        {"/d/A.TMP", true},        {"/d/.ds_store", true},  {"/d/x.ds_store", false},
        {"/d/top", true},          {"/d/a.t", true},        {"thumbs.db", false},
        {"\\d/sub\\thumbs.db", false}, {"", false},         {"/d/", true},
        {"/d/a.tmp.txt", true},    {"/d/.tmp", true},       {"/文件/desktop.ini", false},
        {"/d/报告.tmp", false},     {"/d/报告.txt", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BaseFunc::IsSyncableFile(W(c.path), true), c.syncable) << c.path;
        // The UTF-8 form of the name filter gives the same answer without a conversion.
        EXPECT_EQ(BaseFunc::IsSyncableName(c.path), c.syncable) << c.path;
    }
}

TEST(BaseFuncTest, SyncableKindsOnDisk) {
    Sandbox sandbox;
    const fs::path dir = sandbox.Dir("sync");
    WriteFile(dir / "file.txt", "data");
    WriteFile(dir / ".hidden", "data");
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "file.txt", dir / "link");
    fs::create_directory_symlink(dir / "folder", dir / "folderlink");
    EXPECT_TRUE(BaseFunc::IsSyncableFile(W(dir / "file.txt"), false));
    EXPECT_TRUE(BaseFunc::IsSyncableFile(W(dir / ".hidden"), false));
    EXPECT_TRUE(BaseFunc::IsSyncableFile(W(dir / "folder"), false));
    EXPECT_FALSE(BaseFunc::IsSyncableFile(W(dir / "link"), false));
    EXPECT_FALSE(BaseFunc::IsSyncableFile(W(dir / "folderlink"), false));
    EXPECT_FALSE(BaseFunc::IsSyncableFile(W(dir / "missing"), false));
    EXPECT_FALSE(BaseFunc::IsSyncableFile(W("relative/file.txt"), false));
    EXPECT_TRUE(BaseFunc::IsSyncableFile(W("relative/file.txt"), true));
    // Record paths may carry '\\'.
    std::string backslashed = (dir / "folder").string();
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    EXPECT_TRUE(BaseFunc::IsSyncableFile(W(backslashed), false));
}

TEST(BaseFuncTest, UsableSyncFolder) {
    Sandbox sandbox;
    const fs::path dir = sandbox.Dir("sync");
    WriteFile(dir / "file.txt", "x");
    fs::create_directory_symlink(dir, sandbox.Root() / "linked");
    EXPECT_TRUE(BaseFunc::IsUsableSyncFolder(W(dir)));
    EXPECT_TRUE(BaseFunc::IsUsableSyncFolder(W(dir.string() + "/")));
    EXPECT_FALSE(BaseFunc::IsUsableSyncFolder(u""));
    EXPECT_FALSE(BaseFunc::IsUsableSyncFolder(u"/"));
    EXPECT_FALSE(BaseFunc::IsUsableSyncFolder(u"/proc"));
    EXPECT_FALSE(BaseFunc::IsUsableSyncFolder(u"relative/dir"));
    EXPECT_FALSE(BaseFunc::IsUsableSyncFolder(u"http://host/dir"));
    EXPECT_FALSE(BaseFunc::IsUsableSyncFolder(W(dir / "file.txt")));
    EXPECT_FALSE(BaseFunc::IsUsableSyncFolder(W(dir / "missing")));
    EXPECT_FALSE(BaseFunc::IsUsableSyncFolder(W(sandbox.Root() / "linked")));
}

TEST(BaseFuncTest, FindOtherUserOfFolder) {
    std::vector<CurrentUser> users(3);
    users[0].UserName = "alice";
    users[0].Path = "/home/alice/Sync";
    users[1].UserName = "Bob";
    users[1].Path = "/data/Shared";
    users[2].UserName = "\xE5\xBC\xA0";  // 张
    users[2].Path = "/data/\xE5\xBC\xA0";
    std::u16string other = u"stale";
    EXPECT_EQ(BaseFunc::FindOtherUserOfFolder(u"/data/Shared/", u"alice", users, other), 0u);
    EXPECT_EQ(other, u"Bob");
    // Folders compare exactly: another letter case is another folder.
    EXPECT_EQ(BaseFunc::FindOtherUserOfFolder(u"/DATA/shared", u"alice", users, other), 1u);
    EXPECT_EQ(BaseFunc::FindOtherUserOfFolder(u"/data/Shared", u"Bob", users, other), 1u);
    EXPECT_TRUE(other.empty());
    // User names compare case-sensitively: "bob" is another user than "Bob".
    EXPECT_EQ(BaseFunc::FindOtherUserOfFolder(u"/data/Shared", u"bob", users, other), 0u);
    EXPECT_EQ(BaseFunc::FindOtherUserOfFolder(u"/data/\u5F20", u"alice", users, other), 0u);
    EXPECT_EQ(other, u"\u5F20");
    EXPECT_EQ(BaseFunc::FindOtherUserOfFolder(u"/elsewhere", u"alice", users, other), 1u);
    EXPECT_EQ(BaseFunc::FindOtherUserOfFolder(u"", u"alice", users, other), 0u);
}

class ConflictNameTest : public testing::Test {
protected:
    ~ConflictNameTest() override { BaseFunc::SetConflictTagSource(nullptr); }

    void UseTags(std::vector<std::uint16_t> tags) {
        BaseFunc::SetConflictTagSource([this, tags]() {
            const std::uint16_t tag = tags[draws % tags.size()];
            ++draws;
            return tag;
        });
    }
    plat::SystemTime Time() const {
        plat::SystemTime t;
        t.year = 2018, t.month = 1, t.day = 19, t.hour = 9, t.minute = 5, t.second = 3;
        return t;
    }
    int draws = 0;
};

TEST_F(ConflictNameTest, BuildsTheNameAndKeepsOneMarker) {
    UseTags({0x00AF});
    Sandbox sandbox;
    const std::string path = (sandbox.Dir("d") / "a.txt").string();
    const std::string name = BaseFunc::MakeConflictBackupName(path, Time());
    EXPECT_EQ(name, path + ".冲突备份.20180119-090503.00AF.bak");
    UseTags({0xBEEF});
    EXPECT_EQ(BaseFunc::MakeConflictBackupName(name, Time()), path + ".冲突备份.20180119-090503.BEEF.bak");
    // An item inside a backup folder gets its backup beside it, never beside the folder.
    const std::string inside = name + "/in.txt";
    UseTags({0x0C0D});
    EXPECT_EQ(BaseFunc::MakeConflictBackupName(inside, Time()), inside + ".冲突备份.20180119-090503.0C0D.bak");
}

TEST_F(ConflictNameTest, DrawsAFreshTagForEveryTry) {
    Sandbox sandbox;
    const fs::path dir = sandbox.Dir("d");
    const std::string path = (dir / "a.txt").string();
    WriteFile(path + ".冲突备份.20180119-090503.0001.bak", "x");
    fs::create_directory(path + ".冲突备份.20180119-090503.0002.bak");
    UseTags({1, 2, 3});
    EXPECT_EQ(BaseFunc::MakeConflictBackupName(path, Time()), path + ".冲突备份.20180119-090503.0003.bak");
    EXPECT_EQ(draws, 3);
}

TEST_F(ConflictNameTest, GivesUpAfterBoundedTries) {
    Sandbox sandbox;
    const std::string path = (sandbox.Dir("d") / "a.txt").string();
    WriteFile(path + ".冲突备份.20180119-090503.0007.bak", "x");
    UseTags({7});
    EXPECT_EQ(BaseFunc::MakeConflictBackupName(path, Time()), "");
    EXPECT_EQ(draws, BaseFunc::kConflictNameTries);
}

TEST(BaseFuncTest, SystemWrappers) {
    Sandbox sandbox;
    const fs::path dir = sandbox.Dir("d");
    WriteFile(dir / "five", "12345");
    EXPECT_EQ(BaseFunc::GetFileSize(W(dir / "five")), 5u);
    EXPECT_EQ(BaseFunc::GetFileSize(W(dir)), UINT64_MAX);
    EXPECT_EQ(BaseFunc::GetFileSize(W(dir / "missing")), UINT64_MAX);
    EXPECT_EQ(BaseFunc::GetFileSize(W(dir / "five") + std::u16string(1, u'\0') + u"x"), 0u);
    EXPECT_EQ(BaseFunc::GetFileSize(std::u16string(1, u'\xD800')), 0u);

    EXPECT_EQ(BaseFunc::GetMimeType(".zzz-unknown"), "application/octet-stream");
    EXPECT_EQ(BaseFunc::GetDllVersion(u"shell32.dll"), 0u);
    EXPECT_EQ(BaseFunc::GetNotifyIconDataSize(), 956u);
    const std::uint64_t t0 = BaseFunc::GetMilliseconds();
    EXPECT_GE(BaseFunc::GetMilliseconds(), t0);

    plat::RegisterStrings({{61001, u"\u540C\u6B65"}});
    EXPECT_EQ(BaseFunc::LoadResString(61001), u"\u540C\u6B65");
    EXPECT_EQ(BaseFunc::LoadResString(61002), u"");

    errno = ENOENT;
    EXPECT_EQ(BaseFunc::GetLastErrorText(), u"No such file or directory");
    errno = 98765;
    EXPECT_EQ(BaseFunc::GetLastErrorText(), u"Sorry, cannot find this error info.");
}

TEST(BaseFuncTest, HandlesAreDescriptorsOrPointers) {
    int fd = ::dup(STDERR_FILENO);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(BaseFunc::IsValidHandle(fd));
    const int closed = fd;
    EXPECT_TRUE(BaseFunc::CloseHandleSafe(&fd));
    EXPECT_EQ(fd, -1);
    EXPECT_FALSE(BaseFunc::IsValidHandle(closed));
    EXPECT_FALSE(BaseFunc::CloseHandleSafe(&fd));
    EXPECT_FALSE(BaseFunc::CloseHandleSafe(nullptr));
    EXPECT_FALSE(BaseFunc::IsValidHandle(static_cast<const void*>(nullptr)));
    EXPECT_TRUE(BaseFunc::IsValidHandle(static_cast<const void*>(&fd)));
}

}  // namespace
