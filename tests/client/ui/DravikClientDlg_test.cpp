// The tray window against the test server with recording ports: the menu in each state,
// the first run, automatic and dialog login, one window of each kind, logout and exit,
// the batch summary balloons, the language change, the web page, the watchdog off the UI
// thread, and the link to a stub sync program.
#include "client/ui/DravikClientDlg.h"

#include <atomic>
#include <filesystem>
#include <thread>

#include "support/ClientUiFixture.h"
#include "client/core/TransferRecords.h"
#include "client/ui/HttpWatchdog.h"
#include "platform/userdirs.h"

namespace {

using namespace client_tray;
using clientui::RecordingDesktop;
using clientui::RecordingTray;
using clientui::RecordingWindows;
namespace fs = std::filesystem;

struct MenuExpectation {
    const char* name;
    MenuState state;
    std::vector<std::uint32_t> enabled;
    std::vector<std::pair<std::uint32_t, const char*>> texts;
};

TEST(TrayMenuTest, ItemsFollowTheLoginAndSyncState) {
    KeyTexts keys;
    const std::vector<std::uint32_t> all = {kCmdMainWindow, kCmdTransferList, kCmdCloudWeb, kCmdSyncToggle,
                                            kCmdCloudPath,  kCmdSyncList,     kCmdSyncPause, kCmdChangePath,
                                            kCmdLogin,      kCmdExit,         kCmdConfigure, kCmdAbout};
    const MenuExpectation cases[] = {
        {"logged out", {false, false, false}, {kCmdLogin, kCmdExit, kCmdConfigure, kCmdAbout}, {{kCmdLogin, "Login"}, {kCmdSyncToggle, "Open"}}},
        {"logged in, sync stopped",
         {true, false, false},
         {kCmdMainWindow, kCmdTransferList, kCmdCloudWeb, kCmdSyncToggle, kCmdLogin, kCmdExit, kCmdConfigure, kCmdAbout},
         {{kCmdLogin, "Logout"}, {kCmdSyncToggle, "Open"}, {kCmdSyncPause, "Pause sync"}}},
        {"logged in, sync paused", {true, true, true}, all,
         {{kCmdSyncToggle, "Close"}, {kCmdSyncPause, "Restore sync"}}},
        {"sync left running after a logout", {false, true, false}, {kCmdLogin, kCmdExit, kCmdConfigure, kCmdAbout},
         {{kCmdSyncToggle, "Close"}}},
    };
    for (const MenuExpectation& c : cases) {
        const std::vector<MenuItem> menu = BuildMenu(c.state, keys);
        for (std::uint32_t id : all) {
            const MenuItem* item = FindItem(menu, id);
            ASSERT_NE(item, nullptr) << c.name << " " << id;
            const bool expected = std::find(c.enabled.begin(), c.enabled.end(), id) != c.enabled.end();
            EXPECT_EQ(item->enabled, expected) << c.name << " " << id;
        }
        for (const auto& [id, text] : c.texts) EXPECT_EQ(FindItem(menu, id)->text, text) << c.name;
        EXPECT_EQ(menu[4].text, "Sync") << c.name;
        EXPECT_EQ(menu[4].submenu.size(), 7u) << c.name;
        EXPECT_EQ(FindItem(menu, kCmdCloudWeb)->bitmap, 198);
        EXPECT_EQ(FindItem(menu, kCmdConfigure)->bitmap, 197);
    }
}

TEST(TrayTextTest, BalloonTextsAreCutByUtf16Units) {
    EXPECT_EQ(CutToUnits("abcdef", 4), "abcd");
    EXPECT_EQ(CutToUnits("ab", 4), "ab");
    // A character outside the basic plane takes two units and is never split.
    EXPECT_EQ(CutToUnits("a\xF0\x9F\x98\x80" "b", 2), "a");
    EXPECT_EQ(CutToUnits("a\xF0\x9F\x98\x80" "b", 3), "a\xF0\x9F\x98\x80");
}

TEST(TrayTextTest, OnlyWebAddressesAreOpened) {
    EXPECT_EQ(WebAddressOf("cloud.example.com"), "http://cloud.example.com");
    EXPECT_EQ(WebAddressOf(" https://cloud.example.com/x "), "https://cloud.example.com/x");
    EXPECT_EQ(WebAddressOf("HTTP://127.0.0.1:8080"), "HTTP://127.0.0.1:8080");
    for (const char* refused : {"", "file:///etc/passwd", "javascript:alert(1)://x", "ftp://host", "http:///path",
                                "http://host/a b", "smb://server/share"}) {
        EXPECT_EQ(WebAddressOf(refused), "") << refused;
    }
}

TEST(HttpWatchdogTest, ChecksOnItsOwnThreadWhileTheCallerIsBusyAndStopsAtOnce) {
    std::atomic<int> checks{0};
    std::atomic<bool> otherThread{true};
    const std::thread::id self = std::this_thread::get_id();
    HttpWatchdog watchdog(
        [&] {
            if (std::this_thread::get_id() == self) otherThread = false;
            ++checks;
        },
        std::chrono::milliseconds(20));
    watchdog.Start();
    // The calling thread is busy (as the UI thread is during a server call): checks go on.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return checks.load() >= 3; }));
    EXPECT_TRUE(otherThread.load());
    const auto before = std::chrono::steady_clock::now();
    watchdog.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_FALSE(watchdog.Running());
    const int after = checks.load();
    EXPECT_FALSE(testsupport::WaitUntil([&] { return checks.load() != after; }, std::chrono::milliseconds(100)));
}

class TrayWindowTest : public clientui::ControlFixture {
protected:
    std::unique_ptr<CDravikClientDlg> Make(SyncProgramLink::Options sync = {}) {
        CDravikClientDlg::Ports ports{&tray, &windows, &desktop};
        return std::make_unique<CDravikClientDlg>(*control, texts, ports, firstRun, std::move(sync));
    }
    void SaveLogin(const UserInfo& user) {
        // A login that the list keeps, then logged out again.
        ASSERT_EQ(control->Login(user), 1);
        control->Logout();
    }
    // A tray window logged in with Alice's saved login whose Sync command started the stub
    // sync program (tests/client/local/sync_stub.cpp) as a process.
    std::unique_ptr<CDravikClientDlg> StartWithSyncStub() {
        SaveLogin(Alice(1));
        SyncProgramLink::Options sync;
        sync.programPath = SYNC_STUB_PATH;
        sync.connectTimeoutMs = 20000;
        auto dlg = Make(sync);
        dlg->OnInitDialog();
        EXPECT_TRUE(PumpUntil([&] { return dlg->LoginState() == ClientLoggedIn; }));
        plat::PostMessage(dlg->Window(), kWmCommand, kCmdSyncToggle);
        EXPECT_TRUE(PumpUntil([&] { return dlg->Sync().IsRunning(); }));
        return dlg;
    }
    bool HasBalloon(const std::string& title, const std::string& textPart) {
        for (const Balloon& b : tray.balloons)
            if (b.title == title && b.text.find(textPart) != std::string::npos) return true;
        return false;
    }

    FacadeTexts texts{facade};
    std::atomic<bool> firstRun{false};
    RecordingTray tray;
    RecordingWindows windows;
    RecordingDesktop desktop;
};

TEST_F(TrayWindowTest, WithoutSavedLoginsTheLoginDialogOpens) {
    auto dlg = Make();
    dlg->OnInitDialog();
    EXPECT_TRUE(tray.shown);
    EXPECT_EQ(tray.tip, "Dravik Client");
    EXPECT_TRUE(PumpUntil([&] { return windows.Runs(ClientWindow::Login) == 1; }));
    EXPECT_EQ(windows.Runs(ClientWindow::MainWindow), 0);
    EXPECT_EQ(dlg->LoginState(), ClientLoggedOut);
}

TEST_F(TrayWindowTest, AFirstRunOpensTheSettingsAndThenTheLoginDialog) {
    SaveLogin(Alice(1));  // even an automatic login waits for the settings
    firstRun = true;
    auto dlg = Make();
    dlg->OnInitDialog();
    EXPECT_TRUE(PumpUntil([&] { return windows.Runs(ClientWindow::Login) == 1; }));
    EXPECT_EQ(windows.order.front(), ClientWindow::Settings);
    EXPECT_FALSE(firstRun.load());
    EXPECT_EQ(control->GetLoginState(), ClientLoggedOut);
}

TEST_F(TrayWindowTest, AnAutomaticLoginOpensTheCloudBrowserWithABalloon) {
    SaveLogin(Alice(1));
    tray.balloons.clear();
    auto dlg = Make();
    dlg->OnInitDialog();
    EXPECT_EQ(control->GetLoginState(), ClientLoggedIn);
    EXPECT_TRUE(PumpUntil([&] { return windows.Runs(ClientWindow::MainWindow) == 1; }));
    EXPECT_EQ(dlg->LoginState(), ClientLoggedIn);
    EXPECT_EQ(windows.Runs(ClientWindow::Login), 0);
    ASSERT_FALSE(tray.balloons.empty());
    EXPECT_EQ(tray.balloons.back().title, "Login information");
    EXPECT_EQ(tray.balloons.back().timeoutMs, 3000u);
    EXPECT_EQ(tray.balloons.back().icon, BalloonIcon::Info);

    // A left click now opens the cloud browser; the menu offers Logout.
    plat::PostMessage(dlg->Window(), WM_CLIENT_TRAY_NOTIFY, 128, kWmLButtonUp);
    EXPECT_TRUE(PumpUntil([&] { return windows.Runs(ClientWindow::MainWindow) == 2; }));
    plat::PostMessage(dlg->Window(), WM_CLIENT_TRAY_NOTIFY, 128, kWmRButtonUp);
    EXPECT_TRUE(PumpUntil([&] { return tray.menus.size() == 1; }));
    EXPECT_EQ(FindItem(tray.menus.back(), kCmdLogin)->text, "Logout");
}

TEST_F(TrayWindowTest, ARefusedLoginKeepsTheStateLoggedOut) {
    auto dlg = Make();
    windows.during[ClientWindow::Login] = [&] { EXPECT_EQ(control->Login(Alice(0, "wrong")), 0); };
    dlg->OnInitDialog();
    EXPECT_TRUE(PumpUntil([&] { return HasBalloon("Login information", "login failed"); }));
    Pump();
    EXPECT_EQ(dlg->LoginState(), ClientLoggedOut);
    EXPECT_EQ(windows.Runs(ClientWindow::MainWindow), 0);
}

TEST_F(TrayWindowTest, ACommandForAnOpenWindowBringsItForward) {
    auto dlg = Make();
    windows.during[ClientWindow::About] = [&] {
        EXPECT_TRUE(dlg->IsOpen(ClientWindow::About));
        plat::PostMessage(dlg->Window(), kWmCommand, kCmdAbout);
        loop.ProcessDue();  // the nested loop of the open about box
    };
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdAbout);
    EXPECT_TRUE(PumpUntil([&] { return windows.raised.size() == 1; }));
    EXPECT_EQ(windows.Runs(ClientWindow::About), 1);
    EXPECT_EQ(windows.raised.front(), ClientWindow::About);
    EXPECT_FALSE(dlg->IsOpen(ClientWindow::About));
    // Logged out, the commands of logged-in windows do nothing.
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdTransferList);
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdCloudWeb);
    Pump();
    EXPECT_EQ(windows.Runs(ClientWindow::TransferList), 0);
    EXPECT_TRUE(desktop.addresses.empty());
}

TEST_F(TrayWindowTest, LogoutClosesTheBrowserAndOpensTheLoginDialog) {
    SaveLogin(Alice(1));
    auto dlg = Make();
    windows.during[ClientWindow::MainWindow] = [&] {
        // Logout chosen from the tray while the cloud browser is open.
        plat::PostMessage(dlg->Window(), kWmCommand, kCmdLogin);
        loop.ProcessDue();
    };
    dlg->OnInitDialog();
    EXPECT_TRUE(PumpUntil([&] { return windows.Runs(ClientWindow::Login) == 1; }));
    EXPECT_EQ(control->GetLoginState(), ClientLoggedOut);
    EXPECT_EQ(windows.closed, std::vector<ClientWindow>{ClientWindow::MainWindow});
    EXPECT_TRUE(PumpUntil([&] { return HasBalloon("Logout information", "see you next time"); }));
    EXPECT_EQ(dlg->LoginState(), ClientLoggedOut);
}

TEST_F(TrayWindowTest, CloudWebOpensTheUsersServerInTheBrowser) {
    SaveLogin(Alice(1));
    auto dlg = Make();
    dlg->OnInitDialog();
    ASSERT_TRUE(PumpUntil([&] { return dlg->LoginState() == ClientLoggedIn; }));
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdCloudWeb);
    EXPECT_TRUE(PumpUntil([&] { return desktop.addresses.size() == 1; }));
    EXPECT_EQ(desktop.addresses.front(), server->BaseUrl());
    EXPECT_TRUE(desktop.boxes.empty());

    // A desktop without a browser: the user is told.
    desktop.opens = false;
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdCloudWeb);
    ASSERT_TRUE(PumpUntil([&] { return desktop.boxes.size() == 1; }));
    EXPECT_NE(desktop.boxes[0].find("No web browser could open the address: " + server->BaseUrl()), std::string::npos)
        << desktop.boxes[0];
}

TEST_F(TrayWindowTest, BatchSummariesShowAsInformationOrErrorBalloons) {
    SaveLogin(Alice(1));
    auto dlg = Make();
    dlg->OnInitDialog();
    ASSERT_TRUE(PumpUntil([&] { return dlg->LoginState() == ClientLoggedIn; }));
    const fs::path local = box.Dir("local");
    testsupport::WriteFile(local / "one.txt", "one");
    testsupport::WriteFile(local / "two.txt", "two");
    TransferBatchTask batch;
    batch.direction = TransferUpward;
    batch.destinationRef = server->Account(testsupport::kServerAccount).homeRef;
    batch.paths = {(local / "one.txt").string(), (local / "two.txt").string()};
    control->Transfers().AddBatchTask(batch);
    EXPECT_TRUE(PumpUntil([&] { return HasBalloon("Information", "Transfer a total of 2 files, including 2 successful"); }));

    // One file that cannot be read: the batch ends in an error balloon (titled in the
    // interface's language, here English).
    testsupport::WriteFile(local / "three.txt", "three");
    batch.paths = {(local / "three.txt").string(), (local / "gone.txt").string()};
    control->Transfers().AddBatchTask(batch);
    EXPECT_TRUE(PumpUntil([&] { return HasBalloon("Error", "failure 1 files"); }))
        << (tray.balloons.empty() ? "" : tray.balloons.back().text);
    EXPECT_EQ(tray.balloons.back().icon, BalloonIcon::Error);
    EXPECT_EQ(tray.balloons.back().timeoutMs, 15000u);

    // No summary while logged out: a marker sent through the bus after it arrives first.
    control->Logout();
    const std::size_t before = tray.balloons.size();
    plat::PostMessage(dlg->Window(), CDravikClientDlg::WM_TRANSFER_SUMMARY, CDravikClientDlg::kSummaryBatch);
    Pump();
    control->SendControlMessage(ControlMessage::Make(MessageSourceControl, MessageInfoTip, std::string("marker")));
    ASSERT_TRUE(PumpUntil([&] { return HasBalloon("Information", "marker"); }));
    for (std::size_t i = before; i < tray.balloons.size(); ++i)
        EXPECT_EQ(tray.balloons[i].text.find("Transfer a total"), std::string::npos);
}

TEST_F(TrayWindowTest, ALanguageChangeRenewsTheTipAndTheMenu) {
    auto dlg = Make();
    dlg->OnInitDialog();
    control->SetLanguage("zh-CN");
    EXPECT_TRUE(PumpUntil([&] { return tray.tip != "Dravik Client"; }));
    EXPECT_GE(tray.cleared, 1);
    const std::vector<MenuItem> menu = dlg->CurrentMenu();
    EXPECT_EQ(FindItem(menu, kCmdExit)->text, control->GetText("Exit"));
    EXPECT_NE(FindItem(menu, kCmdExit)->text, "Exit");
}

TEST_F(TrayWindowTest, ExitLogsOutEndsTheWindowsAndTheRun) {
    SaveLogin(Alice(1));
    auto dlg = Make();
    windows.during[ClientWindow::MainWindow] = [&] {
        plat::PostMessage(dlg->Window(), kWmCommand, kCmdExit);
        loop.ProcessDue();
    };
    dlg->OnInitDialog();
    EXPECT_EQ(dlg->RunModal(), 0);
    EXPECT_EQ(control->GetLoginState(), ClientLoggedOut);
    EXPECT_EQ(windows.closed, std::vector<ClientWindow>{ClientWindow::MainWindow});
    EXPECT_FALSE(tray.shown);
    EXPECT_FALSE(dlg->Watchdog().Running());
}

TEST_F(TrayWindowTest, TheTrayAnswersWhileEveryWindowIsOpen) {
    SaveLogin(Alice(1));
    auto dlg = Make();
    const ClientWindow kinds[] = {ClientWindow::MainWindow, ClientWindow::TransferList, ClientWindow::Settings,
                                  ClientWindow::About};
    for (ClientWindow kind : kinds) windows.stayOpen.insert(kind);
    dlg->OnInitDialog();  // the automatic login opens the browser
    ASSERT_TRUE(PumpUntil([&] { return windows.Runs(ClientWindow::MainWindow) == 1; }));
    for (std::uint32_t command : {kCmdTransferList, kCmdConfigure, kCmdAbout}) {
        plat::PostMessage(dlg->Window(), kWmCommand, command);
    }
    ASSERT_TRUE(PumpUntil([&] { return windows.open.size() == 4; }));
    for (ClientWindow kind : kinds) EXPECT_TRUE(dlg->IsOpen(kind)) << static_cast<int>(kind);

    // With all of them open the icon's menu opens and its commands run.
    plat::PostMessage(dlg->Window(), WM_CLIENT_TRAY_NOTIFY, 128, kWmRButtonUp);
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdCloudWeb);
    ASSERT_TRUE(PumpUntil([&] { return tray.menus.size() == 1 && desktop.addresses.size() == 1; }));
    // A second window of a kind raises the first; once the user closes it, it opens anew.
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdTransferList);
    ASSERT_TRUE(PumpUntil([&] { return windows.raised == std::vector<ClientWindow>{ClientWindow::TransferList}; }));
    windows.UserCloses(ClientWindow::TransferList);
    EXPECT_FALSE(dlg->IsOpen(ClientWindow::TransferList));
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdTransferList);
    ASSERT_TRUE(PumpUntil([&] { return windows.Runs(ClientWindow::TransferList) == 2; }));

    // Exit from the menu ends every open window and the run.
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdExit);
    EXPECT_EQ(dlg->RunModal(), 0);
    EXPECT_TRUE(windows.open.empty());
    for (ClientWindow kind : kinds) EXPECT_FALSE(dlg->IsOpen(kind)) << static_cast<int>(kind);
    EXPECT_EQ(windows.closed.size(), 4u);
}

TEST_F(TrayWindowTest, WithoutANotificationAreaTheClientRunsOn) {
    tray.available = false;
    auto dlg = Make();
    dlg->OnInitDialog();
    EXPECT_FALSE(dlg->IconShown());
    EXPECT_TRUE(PumpUntil([&] { return windows.Runs(ClientWindow::Login) == 1; }));
    plat::PostMessage(dlg->Window(), CDravikClientDlg::WM_RAISE);
    EXPECT_TRUE(PumpUntil([&] { return windows.Runs(ClientWindow::Login) == 2; }));
}

// The link to a stub sync program started as a process (tests/client/local/sync_stub.cpp).
TEST_F(TrayWindowTest, TrayCommandsReachTheSyncProgram) {
    auto dlg = StartWithSyncStub();
    ASSERT_TRUE(dlg->Sync().IsRunning());
    const std::string dir = plat::RuntimeDir();
    auto received = [&] {
        std::error_code ec;
        return fs::exists(dir + "/sync-stub.received", ec) ? testsupport::ReadFile(dir + "/sync-stub.received")
                                                            : std::string();
    };

    EXPECT_EQ(FindItem(dlg->CurrentMenu(), kCmdSyncToggle)->text, "Close");
    EXPECT_TRUE(FindItem(dlg->CurrentMenu(), kCmdSyncPause)->enabled);
    const std::string hello = std::string("\x08\x01UserName:alicePassword:secret");
    EXPECT_TRUE(PumpUntil([&] { return received() == hello; })) << received();

    for (std::uint32_t id : {kCmdSyncPause, kCmdCloudPath, kCmdSyncList, kCmdChangePath, kCmdSyncPause})
        plat::PostMessage(dlg->Window(), kWmCommand, id);
    EXPECT_TRUE(PumpUntil([&] { return received() == hello + "\x05\x03\x04\x07\x06"; })) << received();
    EXPECT_FALSE(dlg->Sync().IsPaused());

    // Exit: the exit byte, and the stub ends.
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdExit);
    EXPECT_EQ(dlg->RunModal(), 0);
    EXPECT_TRUE(testsupport::WaitUntil([&] {
        std::error_code ec;
        return fs::exists(dir + "/sync-stub.ended", ec);
    }));
    EXPECT_EQ(received(), hello + "\x05\x03\x04\x07\x06\x02");
}

TEST_F(TrayWindowTest, ALogoutReapsTheSyncProgramAndTheNextLoginStartsItAgain) {
    auto dlg = StartWithSyncStub();
    ASSERT_TRUE(dlg->Sync().IsRunning());
    const int first = dlg->Sync().ProcessId();
    ASSERT_GT(first, 0);
    const std::string proc = "/proc/" + std::to_string(first);

    // Logout: the program is told to exit and, once it has, reaped (no zombie stays).
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdLogin);
    ASSERT_TRUE(PumpUntil([&] { return dlg->LoginState() == ClientLoggedOut; }));
    EXPECT_FALSE(dlg->Sync().IsRunning());
    EXPECT_TRUE(PumpUntil([&] { return !fs::exists(proc); })) << "the ended sync program is reaped";

    // A new login starts the sync again, as it ran before the logout.
    ASSERT_EQ(control->Login(Alice(1)), 1);
    ASSERT_TRUE(PumpUntil([&] { return dlg->Sync().IsRunning(); }));
    EXPECT_NE(dlg->Sync().ProcessId(), first);
    plat::PostMessage(dlg->Window(), kWmCommand, kCmdExit);
    EXPECT_EQ(dlg->RunModal(), 0);
}

}  // namespace
