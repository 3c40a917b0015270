// The settings dialog's logic over the running program against the test server: Save
// reaches the saved logins, "Config.xml" (replaced through a rename, nothing left beside
// it), the controller's settings and the autostart entry; a logout while the dialog is
// open leaves the saved logins as they were; a language change on the bus reaches the
// open dialog on the UI thread.
#include "client/ui/ClientSettingsPorts.h"

#include <QPushButton>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "client/local/ClientControl.h"
#include "support/ClientUiFixture.h"
#include "client/ui/ConfigureDlg.h"
#include "platform/userdirs.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

class ClientSettingsPortsTest : public clientui::ControlFixture {
protected:
    void SetUp() override {
        ControlFixture::SetUp();
        configPath = (box.Dir("app") / "Config.xml").string();
        ASSERT_TRUE(SaveConfigFile(configPath, config));
        ports = std::make_unique<ClientSettingsPorts>(*control, config, configPath,
                                                      AutoStartEntry("/opt/dravik/DravikClient", plat::ConfigHome()),
                                                      "1.0.0.0");
    }
    void LoginAlice() { ASSERT_EQ(control->Login(Alice(1)), 1); }
    std::string SavedLogins() const { return ReadFile(control->ConfigDirectory() + "/UserInfoList.xml"); }
    static ino_t Inode(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }

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
    clientui::RecordingDesktop desktop;
    CConfigureDlg dialog(*ports, desktop, nullptr, &facade);
    EXPECT_EQ(dialog.windowTitle(), "Configure");

    control->SetLanguage("zh-CN");  // announced on the bus, handled on its thread
    ASSERT_NE(control->GetText("Configure"), "Configure");
    EXPECT_TRUE(PumpUntil([&] { return dialog.windowTitle().toStdString() == control->GetText("Configure"); }));
    EXPECT_EQ(dialog.findChild<QPushButton*>("1062")->text().toStdString(), control->GetText("Save"));
}

}  // namespace
