// The dravik-testserver program: command line, first line, a call, a clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/sandbox.h"

extern char** environ;

namespace {

// Reads the child's first stdout line, waiting at most 30 seconds.
std::string FirstLine(int fd) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c = 0;
        if (read(fd, &c, 1) != 1 || c == '\n') break;
        line += c;
    }
    return line;
}

TEST(ProgramTest, ListensServesAndStopsOnSigterm) {
    testsupport::Sandbox sandbox;
    testsupport::WriteFile(sandbox.Dir("seed") / "docs/hello.txt", "hello");
    const char* binaryDir = std::getenv("DRAVIK_BINARY_DIR");
    ASSERT_NE(nullptr, binaryDir);
    const std::string program = std::string(binaryDir) + "/bin/dravik-testserver";
    const std::string seed = (sandbox.Root() / "seed").string(), data = sandbox.Dir("data").string();
    std::vector<std::string> args = {program, "--port", "0", "--user", "alice:se:cret", "--user", "bob:pw",
                                     "--seed", seed, "--data", data};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    ASSERT_EQ(0, pipe2(out, O_CLOEXEC));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ));
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);

    const std::string line = FirstLine(out[0]);
    const std::string prefix = "listening on http://127.0.0.1:";
    ASSERT_EQ(0u, line.find(prefix)) << line;
    const std::string digits = line.substr(prefix.size());
    ASSERT_TRUE(!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos) << line;
    const int port = std::stoi(digits);
    EXPECT_GT(port, 0);

    httplib::Client client("127.0.0.1", port);
    // The password is everything after the first colon.
    auto login = client.Get("/dravik/app/login?user[email]=alice&user[pw]=se%3Acret");
    ASSERT_TRUE(login);
    const std::string setCookie = login->get_header_value("Set-Cookie");
    ASSERT_EQ(0u, setCookie.find("DRAVSID="));
    auto listing = client.Get("/dravik/allChildNodes", httplib::Headers{{"Cookie", setCookie + ";"}});
    ASSERT_TRUE(listing);
    EXPECT_NE(std::string::npos, listing->body.find("\"/docs/hello.txt\""));

    ASSERT_EQ(0, kill(pid, SIGTERM));
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    close(out[0]);
}

TEST(ProgramTest, RefusesABadCommandLine) {
    const std::string program = std::string(std::getenv("DRAVIK_BINARY_DIR")) + "/bin/dravik-testserver";
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--port", "http"}, {"--user", "nopassword"}, {"--bogus", "1"}, {"--port"}}) {
        std::vector<std::string> args = {program};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        ASSERT_EQ(0, posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ));
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(2, WEXITSTATUS(status)) << extra[0];
    }
}

}  // namespace
