// The settings dialog's widgets offscreen: every control named by its id, the user's
// options disabled when logged out, the coupled check boxes, and a Save stopped by a bad
// address: its message, the focus back in the edit, nothing written.
#include "client/ui/ConfigureDlg.h"

#include <gtest/gtest.h>


#include "FakeSettingsPorts.h"
#include "support/ClientUiFixture.h"
#include "support/QtApp.h"
#include "support/wait.h"

namespace {

using settingstest::FakePorts;
using clientui::RecordingDesktop;

TEST(ConfigureDlg, ControlsAreNamedByTheirIds) {
    TestApp();
    RecordingDesktop desktop;
    FakePorts ports;
    CConfigureDlg dialog(ports, desktop, nullptr, nullptr);
    EXPECT_EQ(dialog.objectName(), "141");
    for (const char* id : {"1049", "1050", "1058", "1043", "1059", "1051", "1060", "1053", "1061", "1054", "1076",
                           "1064", "1047", "1013", "1014", "1057", "1044", "1062", "2"}) {
        EXPECT_NE(dialog.findChild<QWidget*>(QString::fromLatin1(id)), nullptr) << id;
    }
    EXPECT_EQ(dialog.findChild<QLineEdit*>("1051")->text(), "https://cloud.example.com");
    EXPECT_EQ(dialog.findChild<QSpinBox*>("1053")->value(), 5);
    EXPECT_EQ(dialog.findChild<QComboBox*>("1043")->currentText(), "简体中文");
    EXPECT_EQ(dialog.windowTitle(), "T(Configure)");
}

TEST(ConfigureDlg, TheUsersOptionsFollowTheLoginAndEachOther) {
    TestApp();
    RecordingDesktop desktop;
    FakePorts out;
    out.loggedIn = false;
    {
        CConfigureDlg dialog(out, desktop, nullptr, nullptr);
        for (const char* id : {"1013", "1014", "1044"}) {
            EXPECT_FALSE(dialog.findChild<QWidget*>(QString::fromLatin1(id))->isEnabled()) << id;
        }
    }
    FakePorts in;
    CConfigureDlg dialog(in, desktop, nullptr, nullptr);
    auto* autoLogin = dialog.findChild<QCheckBox*>("1013");
    auto* keep = dialog.findChild<QCheckBox*>("1014");
    ASSERT_TRUE(autoLogin->isEnabled());
    keep->click();  // cleared
    EXPECT_FALSE(keep->isChecked());
    autoLogin->click();
    EXPECT_TRUE(autoLogin->isChecked() && keep->isChecked()) << "auto-login keeps the password";
    keep->click();
    EXPECT_FALSE(autoLogin->isChecked() || keep->isChecked());
}

TEST(ConfigureDlg, ABadAddressStopsSaveWithItsMessage) {
    TestApp();
    RecordingDesktop desktop;
    FakePorts ports;
    CConfigureDlg dialog(ports, desktop, nullptr, nullptr);
    dialog.show();
    auto* server = dialog.findChild<QLineEdit*>("1051");
    server->setText("http://nodot/");
    const SettingsModel::SaveResult result = dialog.Save();
    EXPECT_EQ(desktop.boxes, std::vector<std::string>{"T(Configure): T(Please input the correct URL of the Server.)"});
    EXPECT_EQ(result.focus, SettingsModel::Field::Server);
    EXPECT_FALSE(result.configWritten);
    EXPECT_EQ(ports.calls, (std::vector<std::string>{"user alice 01 zh-CN", "autostart off"}));
    EXPECT_EQ(server->selectedText(), "http://nodot/");

    server->setText("http://cloud.example.com:8443/base");
    dialog.findChild<QSpinBox*>("1054")->setValue(3);
    EXPECT_TRUE(dialog.Save().configWritten);
    EXPECT_EQ(ports.config.DefaultDomainName, "http://cloud.example.com:8443/base");
    EXPECT_EQ(ports.config.TransFileNumberAtSameTime, 3);
    EXPECT_TRUE(dialog.isVisible()) << "the dialog stays open after Save";
    EXPECT_EQ(dialog.findChild<QLabel*>("saved")->text(), "T(Settings saved.)") << "a sign that it saved";

    server->setText("nodot");
    dialog.Save();
    EXPECT_EQ(dialog.findChild<QLabel*>("saved")->text(), "") << "a failed Save claims nothing";
}

TEST(ConfigureDlg, TheIntervalBoxTakesTheConfigurationsRange) {
    TestApp();
    RecordingDesktop desktop;
    FakePorts ports;
    ports.config.FreshCloudDirectoryListInterval = 150;
    CConfigureDlg dialog(ports, desktop, nullptr, nullptr);
    auto* interval = dialog.findChild<QSpinBox*>("1053");
    EXPECT_EQ(interval->value(), 150);
    EXPECT_EQ(interval->minimum(), 1);
    EXPECT_EQ(interval->maximum(), 300);
    EXPECT_TRUE(dialog.Save().configWritten);
    EXPECT_EQ(ports.config.FreshCloudDirectoryListInterval, 150u) << "saved back unchanged";
}

TEST(ConfigureDlg, LeavingABadAddressBringsTheFocusBack) {
    TestApp();
    RecordingDesktop desktop;
    FakePorts ports;
    CConfigureDlg dialog(ports, desktop, nullptr, nullptr);
    dialog.show();
    dialog.activateWindow();
    QApplication::processEvents();
    auto* server = dialog.findChild<QLineEdit*>("1051");
    auto* interval = dialog.findChild<QSpinBox*>("1053");
    server->setFocus(Qt::TabFocusReason);
    server->setText("cloud.example.com/");  // a path may end with '/'
    interval->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        QApplication::processEvents();
        return interval->hasFocus();
    }));
    QApplication::processEvents();
    EXPECT_TRUE(desktop.boxes.empty());

    server->setFocus(Qt::TabFocusReason);
    server->setText("not a server");
    interval->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        QApplication::processEvents();
        return !desktop.boxes.empty();
    }));
    EXPECT_EQ(desktop.boxes, std::vector<std::string>{"T(Configure): T(Please input the correct URL of the Server.)"});
    EXPECT_TRUE(server->hasFocus());
    EXPECT_EQ(server->selectedText(), "not a server");
    EXPECT_TRUE(ports.calls.empty()) << "leaving the edit stores nothing";
}

}  // namespace
