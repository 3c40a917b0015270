// The client's start-up in this process, with recording windows and desktop: the first-run
// command line, the configuration file replaced by defaults, the version check's outcomes,
// a second start that only brings the first forward, and the bus stopped on every way out.
#include "client/app/DravikClientApp.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <filesystem>

#include "SandboxedApp.h"
#include "client/app/ClientInstance.h"
#include "client/app/QtClientWindows.h"
#include "client/local/VersionUpdate.h"
#include "client/ui/DialogInputText.h"
#include "client/ui/UiTexts.h"
#include "support/ClientUiFixture.h"
#include "client/ui/DravikClientDlg.h"
#include "support/QtApp.h"

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

class ClientStartTest : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
    CDravikClientApp::Options Options() { return clientapp::SandboxedOptions(box, windows, desktop); }
    fs::path ConfigFile() { return box.Dir("config") / "Config.xml"; }

    testsupport::Sandbox box;
    RecordingWindows windows;
    RecordingDesktop desktop;
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

// The program's real windows (no version check): what the client shows on a desktop.
class RealWindows final : public ClientWindowOpeners {
public:
    // The windows of `app`, made once the program object exists.
    void Bind(CDravikClientApp& app, ClientDesktop& desktop) {
        real = std::make_unique<QtWindowOpeners>(app.Control(), app.Configuration(), keys, desktop, "1.0.0.0");
    }
    void OpenLoginDialog() override { real->OpenLoginDialog(); }
    void OpenMainWindow() override { real->OpenMainWindow(); }
    void OpenTransferList() override { real->OpenTransferList(); }
    void OpenSettings() override { real->OpenSettings(); }
    void OpenAbout() override { real->OpenAbout(); }
    int RunVersionCheck(bool) override { return VersionUpdate::EndNothingToDo; }
    std::string InstallerPath() const override { return {}; }
    void SetClosedHandler(std::function<void(ClientWindow)> handler) override { real->SetClosedHandler(std::move(handler)); }
    void Raise(ClientWindow window) override { real->Raise(window); }
    void Close(ClientWindow window) override { real->Close(window); }

    struct Keys final : UiTexts {
        std::string Text(const std::string& key) const override { return key; }
    } keys;
    std::unique_ptr<QtWindowOpeners> real;
};

TEST_F(ClientStartTest, ExitWithADialogOpenInsideAWindowEndsTheRunAndANewStartWorks) {
    struct Case {
        const char* name;
        std::uint32_t command;  // 0: the login dialog of the start
        ClientWindow kind;
    } cases[] = {
        {"login dialog", 0, ClientWindow::Login},
        {"about box", client_tray::kCmdAbout, ClientWindow::About},
        {"settings dialog", client_tray::kCmdConfigure, ClientWindow::Settings},
    };
    for (const Case& c : cases) {
        for (int start = 0; start < 2; ++start) {
            RealWindows real;
            CDravikClientApp::Options options = Options();
            options.windows = &real;
            CDravikClientApp run(options);
            real.Bind(run, desktop);
            // Drives the run: the window opens, an input box waits in a loop of its own
            // inside it, then Exit arrives from the tray.
            QPointer<CDialogInputText> nested;
            bool commanded = false, exitAsked = false;
            QTimer driver;
            QObject::connect(&driver, &QTimer::timeout, [&] {
                if (run.TrayWindow() == plat::kNoWindow || exitAsked) return;
                if (c.command != 0 && !commanded) {
                    commanded = plat::PostMessage(run.TrayWindow(), client_tray::kWmCommand, c.command);
                    return;
                }
                QDialog* window = real.real->Running(c.kind);
                if (window == nullptr || !window->isVisible()) return;
                if (!nested) {
                    nested = new CDialogInputText(window);
                    QTimer::singleShot(0, nested, [d = nested] { d->exec(); });
                    return;
                }
                if (start == 0 && nested->isVisible()) exitAsked = run.RequestExit();
                if (start == 1) exitAsked = run.RequestExit();
            });
            driver.start(10);
            EXPECT_EQ(run.InitInstance({}), 0) << c.name << " start " << start;
            driver.stop();
            EXPECT_TRUE(exitAsked) << c.name;
            EXPECT_EQ(real.real->Running(c.kind), nullptr) << c.name;
            EXPECT_TRUE(nested.isNull() || !nested->isVisible()) << c.name << ": the nested dialog ended too";
            EXPECT_EQ(run.TrayWindow(), plat::kNoWindow);
            real.real.reset();  // the windows go before the program object, as in the program
        }
    }
}

}  // namespace
