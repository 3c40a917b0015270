// The program's window openers for the settings dialog and the version check, against the
// test server: the check reads the configured update site and keeps its update folder in
// the data folder; the settings dialog runs modally, writes the program's "Config.xml"
// and is ended by Close.
#include "client/app/QtClientWindows.h"

#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <filesystem>

#include "client/ui/ClientUiFixture.h"
#include "client/ui/ConfigureDlg.h"
#include "client/ui/UiTexts.h"
#include "client/ui/VersionUpdateDlg.h"
#include "platform/qt/LoopPump.h"

namespace {

namespace fs = std::filesystem;

class QtClientWindowsTest : public clientui::ControlFixture {
protected:
    void SetUp() override {
        ControlFixture::SetUp();
        pump = std::make_unique<plat::qt::LoopPump>(loop);
        config.UpdateSiteAddress = server->BaseUrl();
        windows = std::make_unique<QtWindowOpeners>(*control, config, texts, desktop, "1.0.0.0");
        windows->SetPlaces(ConfigPath(), box.Dir("data").string(), "/opt/dravik/DravikClient");
    }
    void TearDown() override {
        windows.reset();
        pump.reset();
        ControlFixture::TearDown();
    }
    std::string ConfigPath() { return (box.Dir("config") / "Config.xml").string(); }
    // Runs `action` on the dialog of type T once it shows.
    template <class T>
    void WhenShown(std::function<void(T&)> action) {
        QTimer::singleShot(0, [action] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* dialog = dynamic_cast<T*>(widget); dialog != nullptr && dialog->isVisible()) {
                    action(*dialog);
                    return;
                }
            }
            ADD_FAILURE() << "no dialog shows";
        });
    }

    Config config;
    FacadeTexts texts{facade};
    clientui::RecordingDesktop desktop;
    std::unique_ptr<plat::qt::LoopPump> pump;
    std::unique_ptr<QtWindowOpeners> windows;
};

TEST_F(QtClientWindowsTest, TheVersionCheckUsesTheConfiguredSiteAndTheDataFolder) {
    server->SetClientVersion("0.9.9", "old");
    EXPECT_EQ(windows->RunVersionCheck(true), VersionUpdate::EndNothingToDo) << "up to date: no dialog";

    const std::string installer(300 * 1024, 'n');
    server->SetClientVersion("1.0.2", installer);
    WhenShown<CVersionUpdateDlg>([](CVersionUpdateDlg& dialog) { dialog.findChild<QPushButton*>("1018")->click(); });
    EXPECT_EQ(windows->RunVersionCheck(true), VersionUpdate::EndInstallerReady);
    const fs::path saved = box.Dir("data") / "WindowsClientApplication" / "DravikClient.exe";
    EXPECT_EQ(windows->InstallerPath(), saved.string());
    EXPECT_EQ(testsupport::ReadFile(saved), installer);
}

TEST_F(QtClientWindowsTest, TheSettingsDialogSavesAndIsEndedByClose) {
    WhenShown<CConfigureDlg>([this](CConfigureDlg& dialog) {
        EXPECT_EQ(windows->Running(ClientWindow::Settings), &dialog);
        dialog.findChild<QSpinBox*>("1054")->setValue(3);
        dialog.findChild<QPushButton*>("1062")->click();
        windows->Close(ClientWindow::Settings);
    });
    windows->RunSettings();
    EXPECT_EQ(windows->Running(ClientWindow::Settings), nullptr);
    Config written;
    ASSERT_TRUE(LoadConfigFile(ConfigPath(), written));
    EXPECT_EQ(written.TransFileNumberAtSameTime, 3);
    EXPECT_EQ(config.TransFileNumberAtSameTime, 3) << "the program's record";
    EXPECT_TRUE(desktop.boxes.empty());
}

}  // namespace
