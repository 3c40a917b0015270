// The program's window openers with the real windows, offscreen, logged in against the
// test server: the cloud browser runs modally with the account's home folder a double
// click away, its Transfer List goes to the tray's command, Raise and Close reach it; the
// transfer list runs and closes the same way.
#include "client/app/QtClientWindows.h"

#include <QAbstractButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "client/local/ClientControl.h"
#include "client/local/WinFileSystemAdapter.h"
#include "client/ui/ClientUiFixture.h"
#include "client/ui/MainDlg.h"
#include "client/ui/TransferListDlg.h"
#include "client/ui/UiTexts.h"
#include "support/QtApp.h"
#include "support/server.h"
#include "support/wait.h"

namespace {

class OpenersTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        server = std::make_unique<testsupport::RunningServer>(box);
        server->PutFile(testsupport::kServerAccount, "/hello.txt", "hi");
        control.SetFileSystem(&files);
        ASSERT_EQ(control.SetDirectories(box.Dir("app").string(), box.Dir("data").string()), 1);
        UserInfo user;
        user.Account = testsupport::kServerAccount;
        user.Password = testsupport::kServerPassword;
        user.ServerDomainName = server->BaseUrl();
        user.LanguageCode = "en";
        ASSERT_EQ(control.Login(user), 1);
    }
    void TearDown() override {
        control.Logout();
        control.Bus().Stop();
    }
    // Runs `check` once the window of `kind` shows, then closes it through the openers.
    void WhileRunning(ClientWindow kind, std::function<void(QDialog&)> check) {
        QTimer::singleShot(0, [this, kind, check] {
            ASSERT_TRUE(testsupport::WaitUntil([&] {
                QCoreApplication::processEvents();
                return windows.Running(kind) != nullptr && windows.Running(kind)->isVisible();
            }));
            check(*windows.Running(kind));
            windows.Raise(kind);
            windows.Close(kind);
        });
    }

    testsupport::Sandbox box;
    std::unique_ptr<testsupport::RunningServer> server;
    WinFileSystemAdapter files;
    ClientControl control;
    Config config;
    KeyTexts texts;
    clientui::RecordingDesktop desktop;
    QtWindowOpeners windows{control, config, texts, desktop, "1.0.0.0"};
};

TEST_F(OpenersTest, TheBrowserRunsUntilClosedAndHandsTransferListToTheTray) {
    int transferListCommands = 0;
    windows.SetTransferListCommand([&] { ++transferListCommands; });
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
    windows.RunMainWindow();
    EXPECT_EQ(windows.Running(ClientWindow::MainWindow), nullptr);
    EXPECT_EQ(transferListCommands, 1);
}

TEST_F(OpenersTest, TheTransferListRunsUntilClosed) {
    WhileRunning(ClientWindow::TransferList, [&](QDialog& dialog) {
        auto* transfers = dynamic_cast<CTransferListDlg*>(&dialog);
        ASSERT_NE(transfers, nullptr);
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return transfers->Model().Ready();
        }));
        EXPECT_EQ(transfers->windowTitle(), "Transfer List");
    });
    windows.RunTransferList();
    EXPECT_EQ(windows.Running(ClientWindow::TransferList), nullptr);
}

}  // namespace
