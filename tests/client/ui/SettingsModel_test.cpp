// The settings dialog's logic over recording ports: what it shows, the check-box
// coupling, the order of Save and where a failed check stops it, the login state asked
// again at Save, and which language comes into force.
#include "client/ui/SettingsModel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeSettingsPorts.h"

namespace {

using settingstest::FakePorts;
using Calls = std::vector<std::string>;

TEST(SettingsModel, OpeningShowsTheSettingsAndTheUsersOptions) {
    FakePorts ports;
    ports.autoStart = true;
    SettingsModel model(ports);
    model.Open();
    EXPECT_TRUE(model.LoggedIn());
    EXPECT_TRUE(model.autoStart);
    EXPECT_EQ(model.globalLanguage, 1);
    EXPECT_EQ(model.userLanguage, 1);
    EXPECT_EQ(model.server, "https://cloud.example.com");
    EXPECT_EQ(model.interval, 5);
    EXPECT_EQ(model.transfers, 6);
    EXPECT_FALSE(model.autoLogin);
    EXPECT_TRUE(model.keepPassword);
    EXPECT_EQ(model.LanguageNames(), (std::vector<std::string>{"English", "简体中文"}));
    const SettingsModel::Texts texts = model.GetTexts();
    EXPECT_EQ(texts.currentUser, "T(Current User) - Alice A.");
    EXPECT_EQ(texts.version, "T(Current version:)1.2.3");
    EXPECT_EQ(texts.caption, "T(Configure)");

    ports.loggedIn = false;
    SettingsModel out(ports);
    out.Open();
    EXPECT_FALSE(out.LoggedIn());
    EXPECT_EQ(out.GetTexts().currentUser, "T(Current User) - T(None)");
    EXPECT_FALSE(out.keepPassword);
    EXPECT_EQ(out.userLanguage, 0);
}

TEST(SettingsModel, AutoLoginNeedsTheKeptPassword) {
    FakePorts ports;
    SettingsModel model(ports);
    model.Open();
    model.SetKeepPassword(false);
    model.SetAutoLogin(true);
    EXPECT_TRUE(model.keepPassword && model.autoLogin);
    model.SetKeepPassword(false);
    EXPECT_FALSE(model.keepPassword || model.autoLogin);
    model.SetKeepPassword(true);
    EXPECT_FALSE(model.autoLogin) << "keeping the password alone does not log in automatically";
}

TEST(SettingsModel, SaveStoresInOrderAndStopsAtAFailedCheck) {
    struct Case {
        const char* name;
        const char* server;
        int interval;
        int transfers;
        Calls calls;
        std::string message;
        SettingsModel::Field focus;
    };
    const Case cases[] = {
        {"all valid", "http://127.0.0.1:8080/", 10, 3,
         {"user alice 11 en", "autostart on", "config", "language en"}, "", SettingsModel::Field::None},
        {"bad server", "no-dot", 10, 3, {"user alice 11 en", "autostart on"}, "T(Please input the correct URL of the Server.)",
         SettingsModel::Field::Server},
        {"interval of 301", "cloud.example.com", 301, 3, {"user alice 11 en", "autostart on"},
         "T(Directory Refresh Interval) 输入错误，正确范围是 [1, 300]。", SettingsModel::Field::Interval},
        {"interval of 0", "cloud.example.com", 0, 3, {"user alice 11 en", "autostart on"},
         "T(Directory Refresh Interval) 输入错误，正确范围是 [1, 300]。", SettingsModel::Field::Interval},
        {"11 transfers", "cloud.example.com", 10, 11, {"user alice 11 en", "autostart on"},
         "T(Trans File Max Number) 输入错误，正确范围是 [1, 10]。", SettingsModel::Field::Transfers},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePorts ports;
        SettingsModel model(ports);
        model.Open();
        model.SetAutoLogin(true);
        model.autoStart = true;
        model.userLanguage = 0;
        model.globalLanguage = 0;
        model.server = c.server;
        model.interval = c.interval;
        model.transfers = c.transfers;
        const SettingsModel::SaveResult result = model.Save();
        EXPECT_EQ(ports.calls, c.calls);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.focus, c.focus);
        EXPECT_EQ(result.configWritten, c.message.empty());
        if (!c.message.empty()) continue;
        EXPECT_EQ(ports.config.DefaultDomainName, c.server);
        EXPECT_EQ(ports.config.FreshCloudDirectoryListInterval, 10u);
        EXPECT_EQ(ports.config.TransFileNumberAtSameTime, 3);
        EXPECT_EQ(ports.config.DefaultLanguageCode, "en");
    }
}

TEST(SettingsModel, ATranslationWithOtherPlaceholdersIsNotUsedAsThePattern) {
    FakePorts ports;
    ports.translatedRange = "%d%s%s%s%n";
    SettingsModel model(ports);
    EXPECT_EQ(model.CheckRange(11, "Trans File Max Number", 1, 10),
              "Input Error data of T(Trans File Max Number), correct range is [1, 10].");
    EXPECT_EQ(model.CheckRange(10, "Trans File Max Number", 1, 10), std::nullopt);
}

TEST(SettingsModel, ALogoutWhileTheDialogIsOpenSavesNoUserOptions) {
    FakePorts ports;
    SettingsModel model(ports);
    model.Open();
    ASSERT_TRUE(model.LoggedIn());
    model.SetAutoLogin(true);
    model.userLanguage = 0;
    model.globalLanguage = 0;
    ports.loggedIn = false;  // logged out from the tray meanwhile
    const SettingsModel::SaveResult result = model.Save();
    EXPECT_TRUE(result.configWritten);
    EXPECT_EQ(ports.calls, (Calls{"autostart off", "config", "language en"}))
        << "no user entry is written, and the global language is the one in force now";
    EXPECT_EQ(ports.login.AutoLogin, 0);

    // Another user logged in meanwhile: that user's entry is not touched either.
    FakePorts other;
    SettingsModel second(other);
    second.Open();
    other.login.Account = "bob";
    other.calls.clear();
    second.Save();
    EXPECT_EQ(other.calls, (Calls{"autostart off", "config"}));
}

TEST(SettingsModel, WhichLanguageComesIntoForce) {
    // Logged in: a changed global language is stored but the user's stays on screen.
    FakePorts in;
    SettingsModel model(in);
    model.Open();
    model.globalLanguage = 0;
    const SettingsModel::SaveResult waits = model.Save();
    EXPECT_EQ(in.config.DefaultLanguageCode, "en");
    EXPECT_EQ(in.calls, (Calls{"user alice 01 zh-CN", "autostart off", "config"}));
    EXPECT_EQ(waits.notice,
              "T(Settings saved. The global language is used once no user is logged in; the current user's language "
              "stays in force.)")
        << "the user is told why nothing changed on screen";
    EXPECT_EQ(model.GetTexts().globalLanguageNote, "T(Used while no user is logged in.)");

    // Logged in, the user's language changed: it switches.
    in.calls.clear();
    model.userLanguage = 0;
    model.Save();
    EXPECT_EQ(in.calls.back(), "language en");

    // Logged out: the global language switches; an unchanged one does not.
    FakePorts out;
    out.loggedIn = false;
    SettingsModel outModel(out);
    outModel.Open();
    outModel.Save();
    EXPECT_EQ(out.calls, (Calls{"autostart off", "config"}));
    outModel.globalLanguage = 0;
    EXPECT_EQ(outModel.Save().notice, "T(Settings saved.)");
    EXPECT_EQ(out.calls.back(), "language en");
    EXPECT_EQ(outModel.GetTexts().globalLanguageNote, "") << "logged out, the global language is the one in force";
}

TEST(SettingsModel, AnIntervalAboveTheOldLimitShowsAndIsSavedAsConfigured) {
    FakePorts ports;
    ports.config.FreshCloudDirectoryListInterval = 150;
    SettingsModel model(ports);
    model.Open();
    EXPECT_EQ(model.interval, 150);
    const SettingsModel::SaveResult result = model.Save();
    EXPECT_TRUE(result.configWritten);
    EXPECT_EQ(result.message, "");
    EXPECT_EQ(ports.config.FreshCloudDirectoryListInterval, 150u);
    EXPECT_EQ(result.notice, "T(Settings saved.)");
}

TEST(SettingsModel, AFileThatCannotBeWrittenIsReported) {
    FakePorts ports;
    ports.writable = false;
    SettingsModel model(ports);
    model.Open();
    const SettingsModel::SaveResult result = model.Save();
    EXPECT_FALSE(result.configWritten);
    EXPECT_EQ(result.message, "T(The settings could not be written to Config.xml.)");
    EXPECT_EQ(result.notice, "") << "nothing claims it saved";
}

}  // namespace
