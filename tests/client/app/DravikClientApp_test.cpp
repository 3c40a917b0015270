// The client's start-up in this process, with recording windows, desktop and tray and no
// toolkit: the first-run command line, the configuration file replaced by defaults, the
// version check's outcomes, a start without a desktop, a second start that only brings
// the first forward, and the bus stopped on every way out.
#include "client/app/DravikClientApp.h"

#include <filesystem>

#include "client/app/ClientInstance.h"
#include "client/ui/DravikClientDlg.h"
#include "client/ui/UiTexts.h"
#include "support/ClientUiFixture.h"
#include "support/SandboxedApp.h"

namespace {

namespace fs = std::filesystem;
using clientui::RecordingDesktop;
using clientui::RecordingWindows;

TEST(ClientCommandLineTest, OnlyExactlyFirstRunSetsTheFlag) {
    EXPECT_TRUE(CDravikClientApp::IsFirstRunCommandLine({"-firstrun"}));
    EXPECT_FALSE(CDravikClientApp::IsFirstRunCommandLine({}));
    EXPECT_FALSE(CDravikClientApp::IsFirstRunCommandLine({"-FIRSTRUN"}));
    EXPECT_FALSE(CDravikClientApp::IsFirstRunCommandLine({"-firstrun", "x"}));
    EXPECT_FALSE(CDravikClientApp::IsFirstRunCommandLine({"firstrun"}));
    EXPECT_EQ(CDravikClientApp::LogStartupInfo(), "Information for Application:\nMachine: x86\nVersion: 1.0.0.0");
}

// The application object on a desktop of the test's own, without any toolkit: the
// message loop runs by itself.
class ClientStartTest : public ::testing::Test {
protected:
    CDravikClientApp::Options Options() {
        CDravikClientApp::Options options = clientapp::SandboxedOptions(box, windows, desktop);
        options.tray = &tray;
        return options;
    }
    fs::path ConfigFile() { return box.Dir("config") / "Config.xml"; }

    testsupport::Sandbox box;
    RecordingWindows windows;
    RecordingDesktop desktop;
    clientui::RecordingTray tray;
};

TEST_F(ClientStartTest, AStartWritesTheDefaultsAndRunsTheTrayUntilExit) {
    // A folder in the place of "Config.xml" is moved aside and a default file written.
    fs::create_directories(ConfigFile() / "inner");
    CDravikClientApp app(Options());
    windows.during[ClientWindow::Login] = [&] {
        EXPECT_NE(app.TrayWindow(), plat::kNoWindow);
        EXPECT_TRUE(app.RequestExit());
    };
    EXPECT_EQ(app.InitInstance({}), 0);
    EXPECT_EQ(windows.versionChecks, std::vector<bool>{true});
    EXPECT_EQ(windows.Runs(ClientWindow::Login), 1);
    EXPECT_FALSE(tray.shown) << "the icon went with the tray window";
    EXPECT_TRUE(fs::is_regular_file(ConfigFile()));
    EXPECT_TRUE(fs::is_directory(box.Dir("config") / "Config.xml.bad"));
    Config written;
    EXPECT_TRUE(LoadConfigFile(ConfigFile().string(), written));
    EXPECT_EQ(written.DefaultLanguageCode, "zh-CN");
    EXPECT_FALSE(app.Control().Bus().IsRunning());
    EXPECT_EQ(app.TrayWindow(), plat::kNoWindow);
    EXPECT_FALSE(app.FirstRun().load());
    EXPECT_TRUE(fs::exists(box.Dir("data") / "Log" / "DravikClient.log"));
}

TEST_F(ClientStartTest, AnEmptyConfigurationIsReplacedAndAFirstRunOpensTheSettings) {
    testsupport::WriteFile(ConfigFile(), "");
    CDravikClientApp app(Options());
    windows.during[ClientWindow::Login] = [&] { app.RequestExit(); };
    EXPECT_EQ(app.InitInstance({"-firstrun"}), 0);
    EXPECT_EQ(windows.order, (std::vector<ClientWindow>{ClientWindow::Settings, ClientWindow::Login}));
    EXPECT_GT(fs::file_size(ConfigFile()), 0u);
    EXPECT_EQ(app.Control().Languages().GetCurrentCode(), "zh-CN");
}

TEST_F(ClientStartTest, VersionCheckOutcomesAreShownAndTheProgramRunsOn) {
    struct Case {
        int result;
        const char* installer;
        const char* boxPart;
        bool folderOpened;
    } cases[] = {
        {0, "/tmp/updates/WindowsClientApplication/DravikClient.exe", "/tmp/updates/WindowsClientApplication/DravikClient.exe", true},
        {0, "", nullptr, false},
        {2, "", "Installation file occupied!", false},
        {3, "", "Download failed!", false},
        {1, "", nullptr, false},
    };
    for (const Case& c : cases) {
        RecordingWindows local;
        RecordingDesktop shown;
        local.versionResult = c.result;
        local.installer = c.installer;
        CDravikClientApp::Options options = Options();
        options.windows = &local;
        options.desktop = &shown;
        CDravikClientApp app(options);
        app.Configuration().DefaultLanguageCode = "en";
        local.during[ClientWindow::Login] = [&] { app.RequestExit(); };
        EXPECT_EQ(app.InitInstance({}), 0) << c.result;
        EXPECT_EQ(local.Runs(ClientWindow::Login), 1) << c.result;
        if (c.boxPart) {
            ASSERT_EQ(shown.boxes.size(), 1u) << c.result;
            EXPECT_NE(shown.boxes[0].find(c.boxPart), std::string::npos) << shown.boxes[0];
        } else {
            EXPECT_TRUE(shown.boxes.empty()) << c.result;
        }
        EXPECT_EQ(shown.folders.size(), c.folderOpened ? 1u : 0u) << c.result;
        if (c.folderOpened) {
            EXPECT_EQ(shown.folders[0], "/tmp/updates/WindowsClientApplication");
        }
    }
}

TEST_F(ClientStartTest, AStartWithoutADesktopEndsAtOnce) {
    CDravikClientApp::Options options = Options();
    options.tray = nullptr;
    CDravikClientApp app(options);
    EXPECT_EQ(app.InitInstance({}), 1);
    EXPECT_TRUE(windows.order.empty());
    EXPECT_FALSE(app.Control().Bus().IsRunning());
}

TEST_F(ClientStartTest, ASecondStartBringsTheFirstForwardAndStopsItsBus) {
    auto first = std::make_unique<ClientInstance>();
    ASSERT_EQ(first->ClaimOrRaise(), ClientInstance::Claim::First);
    std::atomic<int> raised{0};
    ASSERT_TRUE(first->Listen([&] { ++raised; }));

    CDravikClientApp second(Options());
    EXPECT_TRUE(second.Control().Bus().IsRunning());
    EXPECT_EQ(second.InitInstance({}), 0);
    EXPECT_FALSE(second.Control().Bus().IsRunning());
    EXPECT_TRUE(windows.order.empty());
    EXPECT_TRUE(windows.versionChecks.empty());
    EXPECT_TRUE(testsupport::WaitUntil([&] { return raised.load() == 1; }));

    // Once the first copy is gone, a start runs (and a raise request reaches its window).
    first.reset();
    CDravikClientApp third(Options());
    windows.during[ClientWindow::Login] = [&] {
        if (windows.Runs(ClientWindow::Login) == 1) {
            ClientInstance another;
            EXPECT_EQ(another.ClaimOrRaise(), ClientInstance::Claim::Second);
            // The raise arrives as a message: the login dialog is asked for again.
            return;
        }
        third.RequestExit();
    };
    EXPECT_EQ(third.InitInstance({}), 0);
    EXPECT_EQ(windows.Runs(ClientWindow::Login), 2);
}

}  // namespace
