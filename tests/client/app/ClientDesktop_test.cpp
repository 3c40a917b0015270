// The program DravikClient as a process: a second start leaves the first running and ends;
// under Xvfb with an XEmbed tray host (trayer) its icon docks, the login dialog shows, a
// right click on the icon opens the menu, and SIGTERM ends it as Exit does. The desktop run
// is skipped where Xvfb, trayer, xdotool or xwininfo is missing.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "client/core/Config.h"
#include "support/desktop.h"
#include "support/sandbox.h"
#include "support/wait.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;
using testsupport::BinaryDir;
using testsupport::Environment;
using testsupport::LogContains;
using testsupport::Process;

std::vector<std::string> ClientEnv(const testsupport::Sandbox& box, std::vector<std::string> base) {
    for (std::string& entry : base) {
        if (entry.rfind("DRAVIK_CLIENT_CONFIG_DIR=", 0) == 0) entry.clear();
    }
    base.push_back("DRAVIK_CLIENT_CONFIG_DIR=" + box.Dir("config").string());
    return base;
}

void WriteEnglishConfig(const testsupport::Sandbox& box) {
    Config config;
    config.DefaultLanguageCode = "en";
    config.DefaultDomainName = "http://127.0.0.1:9";
    config.UpdateSiteAddress = "http://127.0.0.1:9";
    ASSERT_TRUE(SaveConfigFile((box.Dir("config") / "Config.xml").string(), config));
}

TEST(ClientProgramTest, ASecondCopyEndsAndTheFirstRunsOn) {
    testsupport::Sandbox box;
    WriteEnglishConfig(box);
    const std::vector<std::string> env =
        ClientEnv(box, Environment({"DISPLAY", "WAYLAND_DISPLAY"}, {"QT_QPA_PLATFORM=offscreen"}));
    const std::string program = (BinaryDir() / "bin" / "DravikClient").string();
    const fs::path log = box.DataHome() / "Dravik" / "DravikClient" / "Log" / "DravikClient.log";
    Process first({program}, env, (box.Dir("out") / "first.txt").string());
    ASSERT_GT(first.Pid(), 0);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return LogContains(log, "No notification area"); }, seconds(30)));
    Process second({program}, env, (box.Dir("out") / "second.txt").string());
    EXPECT_EQ(second.Wait(seconds(30)), 0);
    EXPECT_NE(testsupport::ReadFile(box.Dir("out") / "second.txt").find("already running"), std::string::npos);
    ASSERT_EQ(::kill(first.Pid(), SIGTERM), 0);
    EXPECT_EQ(first.Wait(seconds(30)), 0);
    EXPECT_TRUE(LogContains(log, "The client ends (0)"));
}

TEST(ClientProgramTest, DocksItsIconAndShowsTheLoginDialogAndMenuOnADesktop) {
    if (const auto missing = testsupport::XvfbDesktop::Missing()) {
        GTEST_SKIP() << *missing << " is missing (scripts/install-deps installs it): "
                        "the run of the client on a desktop is skipped";
    }
    testsupport::Sandbox box;
    WriteEnglishConfig(box);
    testsupport::XvfbDesktop desktop;
    ASSERT_TRUE(desktop.Start());
    const std::string display = desktop.Display();
    const fs::path output = box.Dir("out") / "client.txt";
    Process program({(BinaryDir() / "bin" / "DravikClient").string()}, ClientEnv(box, desktop.Env()), output.string());
    ASSERT_GT(program.Pid(), 0);

    std::string icon;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return !(icon = testsupport::DockedIcon(display, "DravikClient")).empty(); }, seconds(30)))
        << testsupport::ReadFile(output);
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] { return !testsupport::VisibleWindows(display, "--name 'Login - Dravik'").empty(); }, seconds(30)));

    // A right click opens the menu (a new visible window of the program).
    const std::string before = testsupport::VisibleWindows(display, "--classname DravikClient");
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] {
            testsupport::Output("DISPLAY=" + display + " xdotool mousemove --window " + icon + " 6 6 click 3 2>/dev/null");
            return testsupport::WaitUntil(
                [&] { return testsupport::VisibleWindows(display, "--classname DravikClient") != before; }, seconds(3));
        },
        seconds(30)));
    if (testsupport::FindTool("import")) {
        const char* source = std::getenv("DRAVIK_SOURCE_DIR");
        const fs::path shot = fs::path(source ? source : ".") / "build" / "gallery" / "desktop" / "client-on-xvfb.png";
        fs::create_directories(shot.parent_path());
        testsupport::Output("DISPLAY=" + display + " import -window root " + shot.string() + " 2>/dev/null");
    }
    testsupport::Output("DISPLAY=" + display + " xdotool key Escape 2>/dev/null");

    ASSERT_EQ(::kill(program.Pid(), SIGTERM), 0);
    EXPECT_EQ(program.Wait(seconds(30)), 0) << testsupport::ReadFile(output);
}

}  // namespace
