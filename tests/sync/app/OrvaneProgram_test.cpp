// The program Orvane as a process: the client's pipes, a login against the test server,
// a second instance refused, exit by byte 2 and by SIGTERM.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/localpipe.h"
#include "support/sandbox.h"
#include "support/server.h"
#include "support/wait.h"

extern char** environ;

namespace fs = std::filesystem;
using std::chrono::seconds;

namespace {

fs::path ProgramPath() {
    const char* binary = std::getenv("DRAVIK_BINARY_DIR");
    return fs::path(binary != nullptr ? binary : ".") / "bin" / "Orvane";
}

pid_t StartProgram() {
    const std::string path = ProgramPath().string();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
    return pid;
}

// The exit code once the process ended within the time-out; -1 otherwise.
int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    int code = -1;
    testsupport::WaitUntil(
        [&] {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) != pid) return false;
            code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        },
        timeout);
    return code;
}

bool LogContains(const fs::path& log, const std::string& text) {
    std::error_code ec;
    return fs::exists(log, ec) && testsupport::ReadFile(log).find(text) != std::string::npos;
}

}  // namespace

TEST(OrvaneProgram, SyncsForTheClientAndRefusesASecondInstance) {
    testsupport::Sandbox box;
    testsupport::RunningServer server(box, {{"demo", "secret"}});
    server.PutFile("demo", "/hello.txt", "hello");
    testsupport::WriteFile(box.ConfigHome() / "Parv" / "Orvane.ini",
                           "ServerTime=1\nServerAddress=127.0.0.1:" + std::to_string(server.Port()) + "/dravik\n");

    // As the client does: both pipes listen before the program starts.
    plat::LocalPipeListener commandListener;
    plat::LocalPipeListener replyListener;
    ASSERT_TRUE(commandListener.Listen(plat::LocalPipePath("WritePipe")));
    ASSERT_TRUE(replyListener.Listen(plat::LocalPipePath("ReadPipe")));
    const pid_t first = StartProgram();
    ASSERT_GT(first, 0);
    plat::LocalPipe command;
    plat::LocalPipe reply;
    ASSERT_EQ(commandListener.Accept(command, 30000), plat::PipeStatus::Ok);
    ASSERT_EQ(replyListener.Accept(reply, 30000), plat::PipeStatus::Ok);
    const std::string hello = std::string("\x09\x01UserName:demoPassword:secret");
    ASSERT_TRUE(command.Write(hello.data(), hello.size()));

    // Without a desktop the folder dialog takes its proposal below the documents folder.
    const fs::path folder = box.Home() / "Documents" / "Nuvet云盘" / "demo";
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            std::error_code ec;
            return fs::exists(folder / "hello.txt", ec) && testsupport::ReadFile(folder / "hello.txt") == "hello";
        },
        seconds(60)));
    testsupport::WriteFile(folder / "local.txt", "from the folder");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return server.Find("demo", "/local.txt").has_value(); }, seconds(60)));

    // A second start finds the first one running.
    const pid_t second = StartProgram();
    ASSERT_GT(second, 0);
    EXPECT_EQ(WaitExit(second, seconds(30)), 1);

    // Byte 2: the program saves its state and ends.
    ASSERT_TRUE(command.WriteByte(2));
    EXPECT_EQ(WaitExit(first, seconds(60)), 0);
    const fs::path data = box.DataHome() / "DravikSync";
    EXPECT_TRUE(fs::exists(data / "demo" / "Tracer.txt"));
    EXPECT_TRUE(fs::exists(data / "UserInfo.txt"));
    EXPECT_TRUE(LogContains(data / "DravikSync.Log", "call COrvaneApp::ExitInstance()"));
    reply.Close();
    command.Close();
}

TEST(OrvaneProgram, EndsOnSigtermWithoutAClient) {
    testsupport::Sandbox box;
    const pid_t pid = StartProgram();
    ASSERT_GT(pid, 0);
    const fs::path log = box.DataHome() / "DravikSync" / "DravikSync.Log";
    ASSERT_TRUE(testsupport::WaitUntil([&] { return LogContains(log, "call COrvaneDlg::OnInitDialog"); }, seconds(30)));
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(WaitExit(pid, seconds(30)), 0);
    EXPECT_TRUE(LogContains(log, "call COrvaneDlg::OnCloudExit"));
}
