// The program Orvane on a desktop and without one, as a process: without a display it
// runs headless; under Xvfb with an XEmbed tray host (trayer) it docks its icon, asks for
// the cloud-drive folder at the first login, and opens the sync-details window from its
// tray menu. The desktop run is skipped where Xvfb, trayer or xdotool is missing.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/localpipe.h"
#include "support/desktop.h"
#include "support/sandbox.h"
#include "support/wait.h"
#include "testserver/TestServer.h"

namespace fs = std::filesystem;
using std::chrono::seconds;
using testsupport::BinaryDir;
using testsupport::Environment;
using testsupport::LogContains;
using testsupport::Output;
using testsupport::Process;
using testsupport::VisibleWindows;

namespace {

std::string DockedIcon(const std::string& display) { return testsupport::DockedIcon(display, "Orvane"); }

}  // namespace

TEST(OrvaneDesktop, WithoutADisplayTheProgramRunsHeadless) {
    testsupport::Sandbox box;
    Process program({(BinaryDir() / "bin" / "Orvane").string()}, Environment({"DISPLAY", "WAYLAND_DISPLAY"}, {}));
    ASSERT_GT(program.Pid(), 0);
    const fs::path log = box.DataHome() / "DravikSync" / "DravikSync.Log";
    ASSERT_TRUE(testsupport::WaitUntil([&] { return LogContains(log, "call COrvaneDlg::OnInitDialog"); }, seconds(30)));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return LogContains(log, "tray (no desktop)"); }, seconds(30)));
    ASSERT_EQ(::kill(program.Pid(), SIGTERM), 0);
    EXPECT_EQ(program.Wait(seconds(30)), 0);
}

TEST(OrvaneDesktop, DocksItsIconAndOpensTheDetailsWindowFromTheMenu) {
    if (const auto missing = testsupport::XvfbDesktop::Missing()) {
        GTEST_SKIP() << *missing << " is missing (scripts/install-deps installs it): "
                        "the run of the program on a desktop is skipped";
    }
    testsupport::Sandbox box;

    // A display of our own with a tray host.
    testsupport::XvfbDesktop desktop;
    ASSERT_TRUE(desktop.Start());
    const std::string display = desktop.Display();
    const std::vector<std::string> desktopEnv = desktop.Env();

    // A server with an account, and the client's pipes, as the client program sets them up.
    fs::path seed = box.Dir("seed");
    testsupport::WriteFile(seed / "hello.txt", "hello");
    testserver::ServerOptions options;
    options.dataDir = box.Dir("server");
    options.users = {{"demo", "secret"}};
    options.seedDir = seed;
    testserver::TestServer cloud(options);
    cloud.Start();
    testsupport::WriteFile(box.ConfigHome() / "Parv" / "Orvane.ini",
                           "ServerTime=1\nServerAddress=127.0.0.1:" + std::to_string(cloud.Port()) + "/dravik\n");
    plat::LocalPipeListener commandListener;
    plat::LocalPipeListener replyListener;
    ASSERT_TRUE(commandListener.Listen(plat::LocalPipePath("WritePipe")));
    ASSERT_TRUE(replyListener.Listen(plat::LocalPipePath("ReadPipe")));

    const fs::path output = box.Dir("out") / "orvane.txt";
    Process program({(BinaryDir() / "bin" / "Orvane").string()}, desktopEnv, output.string());
    ASSERT_GT(program.Pid(), 0);
    plat::LocalPipe command;
    plat::LocalPipe reply;
    ASSERT_EQ(commandListener.Accept(command, 30000), plat::PipeStatus::Ok);
    ASSERT_EQ(replyListener.Accept(reply, 30000), plat::PipeStatus::Ok);

    // The icon docks in the tray host.
    std::string icon;
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !(icon = DockedIcon(display)).empty(); }, seconds(30)));

    // The first login asks for the folder; Return takes the proposal.
    const std::string hello = std::string("\x09\x01UserName:demoPassword:secret");
    ASSERT_TRUE(command.Write(hello.data(), hello.size()));
    std::string dialog;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return !(dialog = VisibleWindows(display, "--name 指定路径")).empty(); }, seconds(60)));
    const std::string dialogId = dialog.substr(0, dialog.find('\n'));
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            Output("DISPLAY=" + display + " xdotool windowfocus --sync " + dialogId + " key Return 2>/dev/null");
            return testsupport::WaitUntil([&] { return VisibleWindows(display, "--name 指定路径").empty(); },
                                          seconds(3));
        },
        seconds(30)))
        << "the folder dialog did not take Return";
    const fs::path folder = box.Home() / "Documents" / "Nuvet云盘" / "demo";
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            std::error_code ec;
            return fs::exists(folder / "hello.txt", ec);
        },
        seconds(60)));

    // A right click on the icon until a new window of the program (its menu) shows.
    auto openMenu = [&] {
        const std::string before = VisibleWindows(display, "--classname Orvane");
        return testsupport::WaitUntil(
            [&] {
                Output("DISPLAY=" + display + " xdotool mousemove --window " + icon + " 6 6 click 3 2>/dev/null");
                return testsupport::WaitUntil([&] { return VisibleWindows(display, "--classname Orvane") != before; },
                                              seconds(3));
            },
            seconds(30));
    };
    // Chooses a menu item by keys until the window it opens shows: a busy machine can
    // lose keys sent while the menu is still being mapped, so each try opens the menu anew.
    auto choose = [&](const std::string& keys, const std::string& window) {
        return testsupport::WaitUntil(
            [&] {
                if (!VisibleWindows(display, "--name " + window).empty()) return true;
                if (!openMenu()) return false;
                Output("DISPLAY=" + display + " xdotool key " + keys + " 2>/dev/null");
                return testsupport::WaitUntil([&] { return !VisibleWindows(display, "--name " + window).empty(); },
                                              seconds(3));
            },
            seconds(60));
    };
    // The menu of a logged-in account: its third item is the sync-details window.
    EXPECT_TRUE(choose("Down Down Down Return", "云盘同步详情"));
    // With the details window open the tray menu still answers: its last command but one
    // opens the version box beside it.
    EXPECT_TRUE(choose("Up Up Return", "版本信息")) << "no menu, or the menu's command did not arrive, while the details window shows";
    EXPECT_FALSE(VisibleWindows(display, "--name 云盘同步详情").empty());
    if (testsupport::FindTool("import")) {
        const char* source = std::getenv("DRAVIK_SOURCE_DIR");
        const fs::path shot = fs::path(source ? source : ".") / "build" / "gallery" / "desktop" / "details-on-xvfb.png";
        fs::create_directories(shot.parent_path());
        Output("DISPLAY=" + display + " import -window root " + shot.string() + " 2>/dev/null");
    }

    // Byte 2 ends the program, the open window first.
    ASSERT_TRUE(command.WriteByte(2));
    EXPECT_EQ(program.Wait(seconds(60)), 0) << testsupport::ReadFile(output);
    reply.Close();
    command.Close();
}
