// The settings dialog's logic over the running program against the test server: Save
// reaches the saved logins, "Config.xml" (replaced through a rename, nothing left beside
// it), the controller's settings and the autostart entry; a logout while the dialog is
// open leaves the saved logins as they were; a language change on the bus reaches the
// open dialog on the UI thread.
#include "client/ui/ClientSettingsPorts.h"

#include <QApplication>
#include <QPushButton>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "client/core/ServerFixture.h"
#include "client/local/ClientControl.h"
#include "FakeSettingsPorts.h"
#include "client/local/ClientTestSupport.h"
#include "client/ui/ConfigureDlg.h"
#include "platform/userdirs.h"
#include "support/QtApp.h"
#include "support/wait.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

class ClientSettingsPortsTest : public clienttest::ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        desktop = std::make_unique<clienttest::EditingDesktop>(box.Dir("desk"));
        control = std::make_unique<ClientControl>();
        control->SetFileSystem(&desktop->files);
        ASSERT_EQ(control->SetDirectories(fs::path(CLIENT_LANGUAGE_DIR).parent_path().string(),
                                          box.Dir("data").string()),
                  1);
        configPath = (box.Dir("app") / "Config.xml").string();
        ASSERT_TRUE(SaveConfigFile(configPath, config));
        ports = std::make_unique<ClientSettingsPorts>(*control, config, configPath,
                                                      AutoStartEntry("/opt/dravik/DravikClient", plat::ConfigHome()),
                                                      "1.0.0.0");
    }
    void TearDown() override {
        control->Logout();
        control->Bus().Stop();
        control.reset();
        desktop.reset();
        ServerFixture::TearDown();
    }
    void LoginAlice() {
        UserInfo user;
        user.Account = "alice";
        user.Password = "secret";
        user.ServerDomainName = server->BaseUrl();
        user.LanguageCode = "zh-CN";
        user.KeepPassword = 1;
        user.AutoLogin = 1;
        ASSERT_EQ(control->Login(user), 1);
    }
    std::string SavedLogins() const { return ReadFile(control->ConfigDirectory() + "/UserInfoList.xml"); }
    static ino_t Inode(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }

    std::unique_ptr<clienttest::EditingDesktop> desktop;
    std::unique_ptr<ClientControl> control;
    Config config;
    std::string configPath;
    std::unique_ptr<ClientSettingsPorts> ports;
};

TEST_F(ClientSettingsPortsTest, SaveReachesEveryPlace) {
    LoginAlice();
    ASSERT_NE(SavedLogins().find("KeepPassword=\"T\""), std::string::npos);
    SettingsModel model(*ports);
    model.Open();
    ASSERT_TRUE(model.LoggedIn());
    EXPECT_TRUE(model.autoLogin && model.keepPassword);

    const ino_t before = Inode(configPath);
    model.SetKeepPassword(false);
    model.autoStart = true;
    model.server = server->BaseUrl();
    model.interval = 30;
    model.transfers = 2;
    const SettingsModel::SaveResult result = model.Save();
    EXPECT_TRUE(result.configWritten);
    EXPECT_EQ(result.message, "");

    EXPECT_NE(SavedLogins().find("KeepPassword=\"F\" Password=\"\""), std::string::npos) << SavedLogins();
    EXPECT_EQ(control->GetAutoLoginIndex(), -1);
    Config written;
    ASSERT_TRUE(LoadConfigFile(configPath, written));
    EXPECT_EQ(written.DefaultDomainName, server->BaseUrl());
    EXPECT_EQ(written.FreshCloudDirectoryListInterval, 30u);
    EXPECT_EQ(written.TransFileNumberAtSameTime, 2);
    EXPECT_EQ(config.TransFileNumberAtSameTime, 2) << "the application's record";
    EXPECT_EQ(control->GetConfig().TransFileNumberAtSameTime, 2) << "the controller's services";
    EXPECT_NE(Inode(configPath), before) << "a new file renamed into place, not rewritten in place";
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(box.Dir("app"))) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"Config.xml"}) << "no temporary file left";
    EXPECT_TRUE(fs::exists(box.ConfigHome() / "autostart" / "DravikClient.desktop"));
    EXPECT_TRUE(ports->IsAutoStart());
}

TEST_F(ClientSettingsPortsTest, ALogoutWhileOpenLeavesTheSavedLoginsAlone) {
    LoginAlice();
    SettingsModel model(*ports);
    model.Open();
    ASSERT_TRUE(model.LoggedIn());
    const std::string saved = SavedLogins();
    control->Logout();

    model.SetKeepPassword(false);
    model.userLanguage = 0;
    EXPECT_TRUE(model.Save().configWritten);
    EXPECT_EQ(SavedLogins(), saved);
    EXPECT_EQ(saved.find("Account=\"\""), std::string::npos);
    EXPECT_EQ(control->GetUsers().size(), 1u);

    UserInfo stale;
    stale.Account = "alice";
    stale.ServerDomainName = server->BaseUrl();
    EXPECT_EQ(control->UpdateCurrentLogin(stale), ClientControl::LoginUpdate::Refused);
    EXPECT_EQ(control->UpdateCurrentLogin(UserInfo()), ClientControl::LoginUpdate::Refused);
}

TEST_F(ClientSettingsPortsTest, TheOpenDialogFollowsALanguageChange) {
    TestApp();
    control->SetLanguage("zh-CN");
    settingstest::RecordingDesktop desktop;
    ClientControlFacade facade(control.get());
    CConfigureDlg dialog(*ports, desktop, nullptr, &facade);
    EXPECT_EQ(dialog.windowTitle().toStdString(), control->GetText("Configure"));
    ASSERT_NE(control->GetText("Configure"), "Configure");

    control->SetLanguage("en");  // announced on the bus, handled on its thread
    EXPECT_TRUE(testsupport::WaitUntil([&] {
        QApplication::processEvents();
        return dialog.windowTitle() == "Configure";
    }));
    EXPECT_EQ(dialog.findChild<QPushButton*>("1062")->text(), "Save");
}

}  // namespace
