// The whole system with the real programs: the client (its start-up in this process,
// offscreen, the login dialog standing in for the user) logs in against the test server,
// starts Orvane beside it from the tray, and the sync folder fills with the account's
// tree; pause and resume from the tray reach Orvane, and after the resume a new local
// file reaches the server; Exit ends both programs.
#include "client/app/DravikClientApp.h"
#include "client/desktop/QtRunDesktop.h"

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>

#include "support/ClientUiFixture.h"
#include "client/ui/DravikClientDlg.h"
#include "support/QtApp.h"
#include "support/SandboxedApp.h"
#include "support/server.h"

namespace {

namespace fs = std::filesystem;
using namespace client_tray;
using clientui::RecordingDesktop;
using clientui::RecordingWindows;
using std::chrono::seconds;

std::string Text(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) ? testsupport::ReadFile(path) : std::string();
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(ClientEndToEndTest, TheClientDrivesTheSyncProgram) {
    TestApp();
    // Orvane runs headless here, whatever the desktop of the test run.
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    testsupport::Sandbox box;
    testsupport::RunningServer server(box);
    const std::string account = testsupport::kServerAccount;
    server.PutFile(account, "/hello.txt", "hello");
    server.PutFile(account, "/docs/plan.txt", "the plan");
    testsupport::WriteFile(box.ConfigHome() / "Parv" / "Orvane.ini",
                           "ServerTime=1\nServerAddress=127.0.0.1:" + std::to_string(server.Port()) + "/dravik\n");

    RecordingWindows windows;
    RecordingDesktop desktop;
    QtRunDesktop qt;
    CDravikClientApp::Options options = clientapp::SandboxedOptions(box, windows, desktop);
    options.runDesktop = &qt;
    CDravikClientApp app(options);
    Config config;
    config.DefaultDomainName = server.BaseUrl();
    config.DefaultLanguageCode = "en";
    config.UpdateSiteAddress = server.BaseUrl();
    ASSERT_TRUE(SaveConfigFile((box.Dir("config") / "Config.xml").string(), config));

    const fs::path folder = box.Home() / "Documents" / "Nuvet云盘" / account;
    const fs::path syncLog = box.DataHome() / "DravikSync" / "DravikSync.Log";
    auto pumpUntil = [](const std::function<bool()>& condition, seconds timeout) {
        return testsupport::WaitUntil(
            [&] {
                QCoreApplication::processEvents();
                return condition();
            },
            timeout);
    };
    // The login dialog: the user logs in.
    windows.during[ClientWindow::Login] = [&] {
        UserInfo user;
        user.Account = account;
        user.Password = testsupport::kServerPassword;
        user.ServerDomainName = server.BaseUrl();
        user.LanguageCode = "en";
        EXPECT_EQ(app.Control().Login(user), 1);
    };
    // The cloud browser opens after the login; the user works the tray meanwhile.
    int syncPid = 0;
    windows.during[ClientWindow::MainWindow] = [&] {
        // However the steps end, the user exits at the end.
        struct ExitAtEnd {
            CDravikClientApp& app;
            ~ExitAtEnd() { app.RequestExit(); }
        } exitAtEnd{app};
        CDravikClientDlg* tray = app.TrayDialog();
        ASSERT_NE(tray, nullptr);
        const plat::WindowId window = app.TrayWindow();
        plat::PostMessage(window, kWmCommand, kCmdSyncToggle);
        ASSERT_TRUE(pumpUntil([&] { return tray->Sync().IsRunning(); }, seconds(60)));
        syncPid = tray->Sync().ProcessId();
        EXPECT_TRUE(pumpUntil(
            [&] { return Text(folder / "hello.txt") == "hello" && Text(folder / "docs" / "plan.txt") == "the plan"; },
            seconds(90)));

        plat::PostMessage(window, kWmCommand, kCmdSyncPause);
        EXPECT_TRUE(pumpUntil([&] { return tray->Sync().IsPaused(); }, seconds(10)));
        EXPECT_EQ(FindItem(tray->CurrentMenu(), kCmdSyncPause)->text, "Restore sync");
        EXPECT_TRUE(pumpUntil([&] { return Count(Text(syncLog), "OnSyncPause") == 1; }, seconds(30)));
        plat::PostMessage(window, kWmCommand, kCmdSyncPause);
        EXPECT_TRUE(pumpUntil([&] { return Count(Text(syncLog), "OnSyncPause") == 2; }, seconds(30)));
        EXPECT_FALSE(tray->Sync().IsPaused());
        // Synchronising again: a new local file reaches the server.
        testsupport::WriteFile(folder / "after-resume.txt", "back");
        EXPECT_TRUE(pumpUntil(
            [&] {
                const auto found = server.Find(account, "/after-resume.txt", true);
                return found && found->content == "back";
            },
            seconds(90)));
    };

    EXPECT_EQ(app.InitInstance({}), 0);
    EXPECT_EQ(windows.Runs(ClientWindow::MainWindow), 1);
    ASSERT_NE(syncPid, 0);
    // Exit ended the sync program too.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return Text(syncLog).find("call COrvaneApp::ExitInstance()") != std::string::npos; },
                                       seconds(60)));
    EXPECT_EQ(app.Control().GetLoginState(), ClientLoggedOut);
}

}  // namespace
