// The program Orvane on a desktop and without one, as a process: without a display it
// runs headless; under Xvfb with an XEmbed tray host (trayer) it docks its icon, asks for
// the cloud-drive folder at the first login, and opens the sync-details window from its
// tray menu. The desktop run is skipped where Xvfb, trayer or xdotool is missing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/localpipe.h"
#include "support/sandbox.h"
#include "support/wait.h"
#include "testserver/TestServer.h"

extern char** environ;

namespace fs = std::filesystem;
using std::chrono::seconds;

namespace {

fs::path BinaryDir() {
    const char* binary = std::getenv("DRAVIK_BINARY_DIR");
    return binary != nullptr ? fs::path(binary) : fs::path(".");
}

std::optional<std::string> FindTool(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        const fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return std::nullopt;
}

// The current environment with `unset` removed and `set` added.
std::vector<std::string> Environment(const std::vector<std::string>& unset, const std::vector<std::string>& set) {
    std::vector<std::string> out;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool drop = false;
        for (const std::string& name : unset) drop = drop || entry.rfind(name + "=", 0) == 0;
        for (const std::string& value : set) drop = drop || entry.rfind(value.substr(0, value.find('=') + 1), 0) == 0;
        if (!drop) out.push_back(entry);
    }
    out.insert(out.end(), set.begin(), set.end());
    return out;
}

// A child process, ended (SIGTERM, then waited for) when the object goes.
class Process {
public:
    Process(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& output = "/dev/null") {
        std::vector<char*> argv, envp;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (pid_ <= 0 || exited_) return;
        ::kill(pid_, SIGTERM);
        if (Wait(seconds(20)) < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    pid_t Pid() const { return pid_; }
    // The exit code once the process ended within the time-out; -1 otherwise.
    int Wait(std::chrono::milliseconds timeout) {
        int code = -1;
        testsupport::WaitUntil(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
                exited_ = true;
                code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            },
            timeout);
        return code;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
};

// Runs a command line and returns its standard output.
std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

bool LogContains(const fs::path& log, const std::string& text) {
    std::error_code ec;
    return fs::exists(log, ec) && testsupport::ReadFile(log).find(text) != std::string::npos;
}

// The id of the window docked in trayer's panel that belongs to Orvane; empty when none.
std::string DockedIcon(const std::string& display) {
    const std::string tree = Output("DISPLAY=" + display + " xwininfo -root -tree 2>/dev/null");
    const std::size_t panel = tree.find("(\"panel\"");
    if (panel == std::string::npos) return {};
    const std::size_t icon = tree.find("(\"Orvane\" \"Orvane\")", panel);
    if (icon == std::string::npos) return {};
    const std::size_t lineStart = tree.rfind('\n', icon);
    const std::size_t idStart = tree.find("0x", lineStart);
    const std::size_t idEnd = tree.find(' ', idStart);
    return tree.substr(idStart, idEnd - idStart);
}

std::string VisibleWindows(const std::string& display, const std::string& what) {
    return Output("DISPLAY=" + display + " xdotool search --onlyvisible " + what + " 2>/dev/null");
}

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
    const auto xvfb = FindTool("Xvfb");
    const auto trayer = FindTool("trayer");
    if (!xvfb || !trayer || !FindTool("xdotool") || !FindTool("xwininfo")) {
        GTEST_SKIP() << "Xvfb, trayer, xdotool or xwininfo is missing (scripts/install-deps installs them): "
                        "the run of the program on a desktop is skipped";
    }
    testsupport::Sandbox box;

    // A display of our own.
    int number = 100 + static_cast<int>(::getpid() % 400);
    while (fs::exists("/tmp/.X11-unix/X" + std::to_string(number))) ++number;
    const std::string display = ":" + std::to_string(number);
    Process server({*xvfb, display, "-screen", "0", "1024x600x24", "-nolisten", "tcp"}, Environment({}, {}));
    ASSERT_GT(server.Pid(), 0);
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return fs::exists("/tmp/.X11-unix/X" + std::to_string(number)); }, seconds(30)));
    const std::vector<std::string> desktopEnv = Environment({"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"}, {"DISPLAY=" + display});
    Process tray({*trayer, "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32"}, desktopEnv);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Output("DISPLAY=" + display + " xwininfo -root -tree").find("\"panel\"") != std::string::npos; },
                                       seconds(30)));

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

    // The menu of a logged-in account: its third item is the sync-details window.
    const std::string before = VisibleWindows(display, "--classname Orvane");
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            Output("DISPLAY=" + display + " xdotool mousemove --window " + icon + " 6 6 click 3 2>/dev/null");
            return testsupport::WaitUntil([&] { return VisibleWindows(display, "--classname Orvane") != before; },
                                          seconds(3));
        },
        seconds(30)));
    Output("DISPLAY=" + display + " xdotool key Down Down Down Return 2>/dev/null");
    std::string details;
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] { return !(details = VisibleWindows(display, "--name 云盘同步详情")).empty(); }, seconds(30)));
    if (FindTool("import")) {
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
