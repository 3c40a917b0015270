#include "client/core/UserInfo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/clientlogcapture.h"
#include "support/sandbox.h"

namespace {
namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

UserInfo Login(const std::string& account, const std::string& server, int autoLogin = 0,
               const std::string& password = "pw", int keep = 1, const std::string& lang = "en") {
    UserInfo u;
    u.Account = account;
    u.Password = password;
    u.ServerDomainName = server;
    u.LanguageCode = lang;
    u.KeepPassword = keep;
    u.AutoLogin = autoLogin;
    return u;
}

std::vector<std::string> Accounts(const UserInfoList& list) {
    std::vector<std::string> out;
    for (const UserInfo& u : list.Entries()) out.push_back(u.Account + "@" + u.ServerDomainName);
    return out;
}

TEST(UserInfoList, AddOrUpdateKeepsMostRecentFirst) {
    UserInfoList list;
    EXPECT_TRUE(list.AddOrUpdate(Login("a", "s1")));
    EXPECT_TRUE(list.AddOrUpdate(Login("b", "s1", 1)));
    EXPECT_TRUE(list.AddOrUpdate(Login("a", "s2")));  // same account, other server: another login
    EXPECT_EQ(Accounts(list), (std::vector<std::string>{"a@s2", "b@s1", "a@s1"}));
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(list.AutoLoginIndex(), 1) << "the mark follows its entry back";

    // The same login unchanged: nothing moves, it becomes current.
    EXPECT_FALSE(list.AddOrUpdate(Login("a", "s1")));
    EXPECT_EQ(list.CurrentIndex(), 2);
    EXPECT_EQ(Accounts(list), (std::vector<std::string>{"a@s2", "b@s1", "a@s1"}));

    // A changed password moves the entry to the front; the mark keeps its entry.
    EXPECT_TRUE(list.AddOrUpdate(Login("a", "s1", 0, "new")));
    EXPECT_EQ(Accounts(list), (std::vector<std::string>{"a@s1", "a@s2", "b@s1"}));
    EXPECT_EQ(list.AutoLoginIndex(), 2);
    EXPECT_EQ(list.Entries()[0].Password, "new");

    // Asking for auto-login moves the mark; clearing it on the marked entry removes it.
    EXPECT_TRUE(list.AddOrUpdate(Login("a", "s2", 1)));
    EXPECT_EQ(Accounts(list), (std::vector<std::string>{"a@s2", "a@s1", "b@s1"}));
    EXPECT_EQ(list.AutoLoginIndex(), 0);
    EXPECT_TRUE(list.AddOrUpdate(Login("a", "s2", 0)));
    EXPECT_EQ(list.AutoLoginIndex(), -1);
    EXPECT_EQ(list.CurrentIndex(), 0);
}

TEST(UserInfoList, AutoLoginMarkBehindTheMovedEntryStays) {
    UserInfoList list;
    list.AddOrUpdate(Login("c", "s", 1));
    list.AddOrUpdate(Login("b", "s"));
    list.AddOrUpdate(Login("a", "s"));
    ASSERT_EQ(list.AutoLoginIndex(), 2);
    EXPECT_TRUE(list.AddOrUpdate(Login("b", "s", 0, "changed")));
    EXPECT_EQ(Accounts(list), (std::vector<std::string>{"b@s", "a@s", "c@s"}));
    EXPECT_EQ(list.AutoLoginIndex(), 2);
}

TEST(UserInfoList, CopiesCarryTheAutoLoginFlag) {
    UserInfoList list;
    list.AddOrUpdate(Login("a", "s", 1));
    list.AddOrUpdate(Login("b", "s"));
    for (const UserInfo& u : list.Entries()) EXPECT_EQ(u.AutoLogin, 0) << "stored as 0";
    std::vector<UserInfo> users(5);
    EXPECT_EQ(list.GetUsers(users), 2);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].AutoLogin, 0);
    EXPECT_EQ(users[1].AutoLogin, 1);
    EXPECT_EQ(list.GetCurrentUser().Account, "b");
    EXPECT_EQ(list.GetCurrentUser().AutoLogin, 0);
    list.SetCurrentIndex(1);
    EXPECT_EQ(list.GetCurrentUser().AutoLogin, 1);
    list.SetCurrentIndex(-1);
    EXPECT_EQ(list.GetCurrentUser().Account, "");
    list.SetCurrentIndex(7);
    EXPECT_EQ(list.GetCurrentUser().Account, "");
}

TEST(UserInfo, DiffersIgnoresAutoLogin) {
    const UserInfo a = Login("a", "s", 0);
    EXPECT_FALSE(a.Differs(Login("a", "s", 1)));
    EXPECT_TRUE(a.Differs(Login("a", "s", 0, "other")));
    EXPECT_TRUE(a.Differs(Login("a", "s", 0, "pw", 0)));
    EXPECT_TRUE(a.Differs(Login("a", "s", 0, "pw", 1, "zh-CN")));
    EXPECT_TRUE(a.Differs(Login("a", "t", 0)));
}

TEST(UserInfoListXml, GoldenText) {
    UserInfoList list;
    list.AddOrUpdate(Login("nokeep@x.com", "https://s", 0, "hidden", 0, "zh-CN"));
    list.AddOrUpdate(Login("me@x.com", "https://s", 0, "secret", 1, "en"));
    std::string xml;
    ASSERT_TRUE(list.ToXml(xml));
    EXPECT_EQ(xml,
              "<?xml version='1.0' encoding='utf-8'?>\n"
              "<Dravik type=\"UserInfoList\" autoLogin=\"-1\">\n"
              "\t<User Account=\"me@x.com\" ServerDomainName=\"https://s\" LanguageCode=\"en\" KeepPassword=\"T\" "
              "Password=\"783A95CD295F01598C88EE472C83D0FC\"/>\n"
              "\t<User Account=\"nokeep@x.com\" ServerDomainName=\"https://s\" LanguageCode=\"zh-CN\" "
              "KeepPassword=\"F\" Password=\"\"/>\n"
              "</Dravik>");
}

TEST(UserInfoListXml, RoundTrip) {
    UserInfoList list;
    list.AddOrUpdate(Login("x&y@z.com", "https://h/?a=1&b=2", 1, "p\"<&>'", 1, "zh-CN"));
    list.AddOrUpdate(Login("plain", "srv", 0, "gone", 0));
    std::string xml;
    list.ToXml(xml);
    UserInfoList back;
    back.SetCurrentIndex(1);
    ASSERT_EQ(back.FromXml(xml), 2);
    EXPECT_EQ(back.CurrentIndex(), 1) << "the current index is kept";
    EXPECT_EQ(back.AutoLoginIndex(), 1);
    const UserInfo& first = back.Entries()[1];
    EXPECT_EQ(first.Account, "x&y@z.com");
    EXPECT_EQ(first.ServerDomainName, "https://h/?a=1&b=2");
    EXPECT_EQ(first.Password, "p\"<&>'");
    EXPECT_EQ(first.KeepPassword, 1);
    EXPECT_EQ(back.Entries()[0].Password, "") << "a password not kept is not saved";
    EXPECT_EQ(back.Entries()[0].KeepPassword, 0);
}

TEST(UserInfoListXml, ReadingRules) {
    const StringCipher cipher;
    const std::string xml = "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8'?>"
                            "<Dravik type='UserInfoList' autoLogin='1'>"
                            "<User Account='a' ServerDomainName='s' LanguageCode='en' KeepPassword='T' Password='" +
                            cipher.EncryptToHex("one") +
                            "'/>"
                            "<User Account='a' ServerDomainName='s' KeepPassword='t' Password='" +
                            cipher.EncryptToHex("two") +
                            "'/>"
                            "<User Account='b' ServerDomainName='s' KeepPassword='T' Password='NOTHEX'/>"
                            "<User Account='c' ServerDomainName='s' KeepPassword='T' Password='" +
                            cipher.EncryptToHex("three") + "'/>"
                            "</Dravik>";
    UserInfoList list;
    ClientLogCapture log;
    ASSERT_EQ(list.FromXml(xml), 4) << "duplicates are read as they stand";
    EXPECT_EQ(list.AutoLoginIndex(), 1);
    EXPECT_EQ(list.Entries()[0].Password, "one");
    EXPECT_EQ(list.Entries()[1].KeepPassword, 0) << "only exactly T keeps";
    EXPECT_EQ(list.Entries()[1].Password, "");
    EXPECT_EQ(list.Entries()[1].LanguageCode, "") << "a missing attribute leaves the field empty";
    // One password that does not decipher drops only that password.
    EXPECT_EQ(list.Entries()[2].Account, "b");
    EXPECT_EQ(list.Entries()[2].Password, "");
    EXPECT_EQ(list.Entries()[3].Password, "three");
    const std::string lines = log.All();
    EXPECT_NE(lines.find("could not be deciphered"), std::string::npos);
    EXPECT_EQ(lines.find("NOTHEX"), std::string::npos);
    EXPECT_EQ(lines.find("three"), std::string::npos);
}

TEST(UserInfoListXml, BadInput) {
    UserInfoList list;
    list.AddOrUpdate(Login("a", "s", 1));
    EXPECT_EQ(list.FromXml("<Dravik><User"), -1);
    EXPECT_TRUE(list.Entries().empty());
    EXPECT_EQ(list.AutoLoginIndex(), -1);
    EXPECT_EQ(list.FromXml("<Other/>"), -1);
    // An auto-login index that designates no entry marks none.
    EXPECT_EQ(list.FromXml("<Dravik autoLogin='3'><User Account='a'/></Dravik>"), 1);
    EXPECT_EQ(list.AutoLoginIndex(), -1);
    EXPECT_EQ(list.FromXml("<Dravik autoLogin='x'></Dravik>"), 0);
    EXPECT_EQ(list.AutoLoginIndex(), -1);
}

class UserInfoListFileTest : public ::testing::Test {
protected:
    testsupport::Sandbox sandbox;
    fs::path dir = sandbox.Dir("Config");
    std::string path = (dir / UserInfoList::kFileName).string();
};

TEST_F(UserInfoListFileTest, SavedPrivatelyAndReadBack) {
    UserInfoList list;
    list.AddOrUpdate(Login("me", "srv", 1, "secret"));
    WriteFile(path, "old");
    fs::permissions(path, fs::perms::all);
    ClientLogCapture log;
    ASSERT_TRUE(SaveUserInfoListFile(path, list));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "no temporary file left";
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.find("secret"), std::string::npos) << "the password is enciphered";

    UserInfoList back;
    ASSERT_TRUE(LoadUserInfoListFile(path, back));
    ASSERT_EQ(back.Entries().size(), 1u);
    EXPECT_EQ(back.Entries()[0].Password, "secret");
    EXPECT_EQ(back.AutoLoginIndex(), 0);
    EXPECT_EQ(log.All().find("secret"), std::string::npos);
}

TEST_F(UserInfoListFileTest, AListOthersCouldReadIsClosedWhenLoaded) {
    UserInfoList list;
    list.AddOrUpdate(Login("me", "srv", 1, "secret"));
    ASSERT_TRUE(SaveUserInfoListFile(path, list));
    const fs::perms privateMode = fs::perms::owner_read | fs::perms::owner_write;
    for (const fs::perms extra : {fs::perms::others_read, fs::perms::group_read, fs::perms::none}) {
        fs::permissions(path, privateMode | extra);
        ClientLogCapture log;
        UserInfoList back;
        ASSERT_TRUE(LoadUserInfoListFile(path, back));
        ASSERT_EQ(back.Entries().size(), 1u);
        EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, privateMode);
        EXPECT_EQ(log.All().find(path + " was readable by other users; it is now readable by its owner only") !=
                      std::string::npos,
                  extra != fs::perms::none)
            << log.All();
    }
}

TEST_F(UserInfoListFileTest, MissingOrEmptyIsNoList) {
    UserInfoList list;
    EXPECT_TRUE(LoadUserInfoListFile(path, list));
    WriteFile(path, "");
    EXPECT_TRUE(LoadUserInfoListFile(path, list));
    EXPECT_TRUE(list.Entries().empty());
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(UserInfoListFileTest, UnparsableFileIsKeptAsideAndPrivate) {
    WriteFile(path, "<Dravik><User Account='a' Password='");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    UserInfoList list;
    EXPECT_TRUE(LoadUserInfoListFile(path, list));
    EXPECT_TRUE(list.Entries().empty());
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(ReadFile(path + ".bad"), "<Dravik><User Account='a' Password='");
    EXPECT_EQ(fs::status(path + ".bad").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(UserInfoListFileTest, FolderInTheWayIsMovedAside) {
    WriteFile(fs::path(path) / "x", "y");
    UserInfoList list;
    EXPECT_TRUE(LoadUserInfoListFile(path, list));
    EXPECT_TRUE(fs::is_directory(path + ".bad"));
    list.AddOrUpdate(Login("a", "s"));
    EXPECT_TRUE(SaveUserInfoListFile(path, list));
}

TEST(CurrentUser, GettersNeedAValidRecord) {
    CurrentUser user;
    user.account = "a";
    user.displayName = "Ann";
    user.homeFolder = "h";
    user.trashHome = "t";
    EXPECT_EQ(user.GetAccount(), "");
    EXPECT_EQ(user.GetDisplayName(), "");
    EXPECT_EQ(user.GetHomeFolder(), "");
    EXPECT_EQ(user.GetTrashHome(), "");
    user.valid = true;
    EXPECT_EQ(user.GetAccount(), "a");
    EXPECT_EQ(user.GetDisplayName(), "Ann");
    EXPECT_EQ(user.GetHomeFolder(), "h");
    EXPECT_EQ(user.GetTrashHome(), "t");
    user.Clear();
    EXPECT_FALSE(user.valid);
    EXPECT_EQ(user.account, "");
}

}  // namespace
