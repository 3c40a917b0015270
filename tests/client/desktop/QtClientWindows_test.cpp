// The program's window openers with the real windows, offscreen, against the test server:
// every window opens without a modal loop (the opener returns at once, no window blocks
// the tray or another window) and its close is reported; the cloud browser shows the
// account's home folder a double click away, its Transfer List goes to the tray's
// command, Raise and Close reach it; Close ends the dialogs a window opened; the version
// check reads the configured update site and keeps its update folder in the data folder;
// the settings dialog writes the program's "Config.xml" and is ended by Close.
#include "client/desktop/QtClientWindows.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <filesystem>

#include <gtest/gtest.h>

#include "client/local/ClientControl.h"
#include "support/ClientUiFixture.h"
#include "client/ui/ConfigureDlg.h"
#include "client/ui/DialogInputText.h"
#include "client/ui/FolderFileSelectDialog.h"
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
        windows->SetClosedHandler([this](ClientWindow kind) { closedKinds.push_back(kind); });
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
    bool PumpUntil(const std::function<bool()>& done) {
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return done();
        });
    }
    // The window of `kind` is open and visible, and nothing modal blocks the others.
    QDialog* OpenModeless(ClientWindow kind) {
        if (!PumpUntil([&] { return windows->Running(kind) != nullptr && windows->Running(kind)->isVisible(); })) {
            return nullptr;
        }
        EXPECT_FALSE(windows->Running(kind)->isModal());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        return windows->Running(kind);
    }
    // Runs `check` on the window of `kind` once it shows, then closes it through the
    // openers: it goes, and the close is reported once.
    void WhileRunning(ClientWindow kind, std::function<void(QDialog&)> check) {
        QDialog* dialog = OpenModeless(kind);
        ASSERT_NE(dialog, nullptr);
        QPointer<QDialog> alive(dialog);
        check(*dialog);
        windows->Raise(kind);
        windows->Close(kind);
        EXPECT_EQ(windows->Running(kind), nullptr);
        EXPECT_EQ(std::count(closedKinds.begin(), closedKinds.end(), kind), 1);
        // Outside an event loop deferred deletions wait for an explicit send.
        EXPECT_TRUE(PumpUntil([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return alive.isNull();
        })) << "a closed window goes";
    }

    Config config;
    FacadeTexts texts{facade};
    clientui::RecordingDesktop desktop;
    std::vector<ClientWindow> closedKinds;
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
    windows->OpenSettings();
    WhileRunning(ClientWindow::Settings, [](QDialog& dialog) {
        ASSERT_NE(dynamic_cast<CConfigureDlg*>(&dialog), nullptr);
        dialog.findChild<QSpinBox*>("1054")->setValue(3);
        dialog.findChild<QPushButton*>("1062")->click();
    });
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
    windows->OpenMainWindow();
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
    EXPECT_EQ(transferListCommands, 1);
}

TEST_F(QtClientWindowsTest, TheTransferListRunsUntilClosed) {
    LogInWithAFile();
    windows->OpenTransferList();
    WhileRunning(ClientWindow::TransferList, [&](QDialog& dialog) {
        auto* transfers = dynamic_cast<CTransferListDlg*>(&dialog);
        ASSERT_NE(transfers, nullptr);
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return transfers->Model().Ready();
        }));
        EXPECT_EQ(transfers->windowTitle(), "Transfer List");
    });
}

TEST_F(QtClientWindowsTest, EveryWindowOpensBesideTheOthersAndOneCloseEndsOnlyItself) {
    LogInWithAFile();
    const ClientWindow kinds[] = {ClientWindow::MainWindow, ClientWindow::TransferList, ClientWindow::Settings,
                                  ClientWindow::About};
    windows->OpenMainWindow();
    windows->OpenTransferList();
    windows->OpenSettings();
    windows->OpenAbout();
    for (ClientWindow kind : kinds) {
        ASSERT_NE(OpenModeless(kind), nullptr) << static_cast<int>(kind);
    }
    // The browser behind the transfer list still takes input: no window blocks another.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    for (ClientWindow kind : kinds) {
        EXPECT_EQ(windows->Running(kind)->windowModality(), Qt::NonModal) << static_cast<int>(kind);
    }
    // The user closes the browser: the others stay open.
    windows->Running(ClientWindow::MainWindow)->close();
    EXPECT_EQ(windows->Running(ClientWindow::MainWindow), nullptr);
    EXPECT_EQ(closedKinds, std::vector<ClientWindow>{ClientWindow::MainWindow});
    for (ClientWindow kind : {ClientWindow::TransferList, ClientWindow::Settings, ClientWindow::About}) {
        EXPECT_NE(windows->Running(kind), nullptr) << static_cast<int>(kind);
        windows->Close(kind);
    }
    EXPECT_EQ(closedKinds.size(), 4u);
}

TEST_F(QtClientWindowsTest, CloseEndsTheDialogsAWindowOpened) {
    LogInWithAFile();
    windows->OpenMainWindow();
    auto* browser = dynamic_cast<CMainDlg*>(OpenModeless(ClientWindow::MainWindow));
    ASSERT_NE(browser, nullptr);
    // A picker, inside it an input box, inside that a message box, each waiting in a loop
    // of its own as a browser's handler would; the picker and the input box block only the
    // browser, never the tray or the other windows.
    struct Case {
        const char* name;
        std::function<QDialog*()> open;
        bool blocksOnlyItsWindow;
    } cases[] = {
        {"picker", [&] { return new CFolderFileSelectDialog(browser, "pick", "*"); }, true},
        {"input box", [&] { return new CDialogInputText(browser); }, true},
        {"message box", [&] { return new QMessageBox(QMessageBox::Information, "t", "x", QMessageBox::Ok, browser); },
         false},
    };
    std::vector<QPointer<QDialog>> nested;
    int returns = 0;
    std::function<void(std::size_t)> openFrom = [&](std::size_t index) {
        if (index == std::size(cases)) {
            windows->Close(ClientWindow::MainWindow);
            return;
        }
        QDialog* dialog = cases[index].open();
        nested.push_back(dialog);
        QTimer::singleShot(0, [&, index] {
            if (cases[index].blocksOnlyItsWindow) EXPECT_EQ(nested[index]->windowModality(), Qt::WindowModal);
            openFrom(index + 1);
        });
        dialog->exec();
        ++returns;
    };
    openFrom(0);
    EXPECT_EQ(returns, 3) << "every nested loop ended";
    EXPECT_EQ(windows->Running(ClientWindow::MainWindow), nullptr);
    for (std::size_t i = 0; i < nested.size(); ++i) {
        EXPECT_TRUE(nested[i].isNull() || !nested[i]->isVisible()) << cases[i].name;
    }
    EXPECT_EQ(closedKinds, std::vector<ClientWindow>{ClientWindow::MainWindow});
}

}  // namespace
