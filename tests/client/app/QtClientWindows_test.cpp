// The program's window openers with the real windows, offscreen, against the test server:
// the cloud browser runs modally with the account's home folder a double click away, its
// Transfer List goes to the tray's command, Raise and Close reach it; the transfer list
// runs and closes the same way; the version check reads the configured update site and
// keeps its update folder in the data folder; the settings dialog runs modally, writes
// the program's "Config.xml" and is ended by Close.
#include "client/app/QtClientWindows.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <filesystem>

#include <gtest/gtest.h>

#include "client/local/ClientControl.h"
#include "client/ui/ClientUiFixture.h"
#include "client/ui/ConfigureDlg.h"
#include "client/ui/MainDlg.h"
#include "client/ui/TransferListDlg.h"
#include "client/ui/UiTexts.h"
#include "client/ui/VersionUpdateDlg.h"
#include "platform/qt/LoopPump.h"
#include "support/QtApp.h"
#include "support/server.h"
#include "support/wait.h"

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

    // Logs in with one file in the account's home folder.
    void LogInWithAFile() {
        server->PutFile(testsupport::kServerAccount, "/hello.txt", "hi");
        ASSERT_EQ(control->Login(Alice()), 1);
    }
    // Runs `check` once the window of `kind` shows, then closes it through the openers.
    void WhileRunning(ClientWindow kind, std::function<void(QDialog&)> check) {
        QTimer::singleShot(0, [this, kind, check] {
            ASSERT_TRUE(testsupport::WaitUntil([&] {
                QCoreApplication::processEvents();
                return windows->Running(kind) != nullptr && windows->Running(kind)->isVisible();
            }));
            check(*windows->Running(kind));
            windows->Raise(kind);
            windows->Close(kind);
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

TEST_F(QtClientWindowsTest, TheBrowserRunsUntilClosedAndHandsTransferListToTheTray) {
    LogInWithAFile();
    int transferListCommands = 0;
    windows->SetTransferListCommand([&] { ++transferListCommands; });
    WhileRunning(ClientWindow::MainWindow, [&](QDialog& dialog) {
        auto* browser = dynamic_cast<CMainDlg*>(&dialog);
        ASSERT_NE(browser, nullptr);
        ASSERT_EQ(browser->Model().RowCount(), 2);
        browser->Model().ActivateRow(0);
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return browser->Model().RowCount() == 1;
        }));
        EXPECT_EQ(browser->Model().Row(0).name, "hello.txt");
        browser->Button(CMainDlg::kIdTransferList)->click();
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return transferListCommands == 1;
        }));
    });
    windows->RunMainWindow();
    EXPECT_EQ(windows->Running(ClientWindow::MainWindow), nullptr);
    EXPECT_EQ(transferListCommands, 1);
}

TEST_F(QtClientWindowsTest, TheTransferListRunsUntilClosed) {
    LogInWithAFile();
    WhileRunning(ClientWindow::TransferList, [&](QDialog& dialog) {
        auto* transfers = dynamic_cast<CTransferListDlg*>(&dialog);
        ASSERT_NE(transfers, nullptr);
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return transfers->Model().Ready();
        }));
        EXPECT_EQ(transfers->windowTitle(), "Transfer List");
    });
    windows->RunTransferList();
    EXPECT_EQ(windows->Running(ClientWindow::TransferList), nullptr);
}

}  // namespace
