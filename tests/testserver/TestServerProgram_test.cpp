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

// The port of a "listening on http://127.0.0.1:PORT" line, or 0.
int ListeningPort(const std::string& line) {
    const std::string prefix = "listening on http://127.0.0.1:";
    EXPECT_EQ(0u, line.find(prefix)) << line;
    if (line.find(prefix) != 0) return 0;
    const std::string digits = line.substr(prefix.size());
    EXPECT_TRUE(!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos) << line;
    return digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos
               ? 0
               : std::stoi(digits);
}

TEST(ProgramTest, ListensServesAndStopsOnSigterm) {
    testsupport::Sandbox sandbox;
    testsupport::WriteFile(sandbox.Dir("seed") / "docs/hello.txt", "hello");
    const char* binaryDir = std::getenv("DRAVIK_BINARY_DIR");
    ASSERT_NE(nullptr, binaryDir);
    const std::string program = std::string(binaryDir) + "/bin/dravik-testserver";
    const std::string seed = (sandbox.Root() / "seed").string(), data = sandbox.Dir("data").string();
    const std::string installer = (sandbox.Root() / "installer.bin").string();
    testsupport::WriteFile(installer, std::string("MZ\0installer", 12));
    std::vector<std::string> args = {program, "--port", "0", "--user", "alice:se:cret", "--user", "bob:pw",
                                     "--seed", seed, "--data", data, "--client-version", "3.1.4",
                                     "--installer", installer};
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

    const int port = ListeningPort(FirstLine(out[0]));
    ASSERT_GT(port, 0);
    // The second line names the control token: a random one, 128 bits in hexadecimal.
    const std::string tokenLine = FirstLine(out[0]);
    ASSERT_EQ(0u, tokenLine.find("control token: ")) << tokenLine;
    const std::string token = tokenLine.substr(15);
    EXPECT_EQ(32u, token.size());

    httplib::Client client("127.0.0.1", port);
    EXPECT_EQ(403, client.Get("/__test/tree?user=alice")->status);
    EXPECT_EQ(200, client.Get("/__test/tree?user=alice", httplib::Headers{{"X-Control-Token", token}})->status);
    // The password is everything after the first colon.
    auto login = client.Get("/dravik/app/login?user[email]=alice&user[pw]=se%3Acret");
    ASSERT_TRUE(login);
    const std::string setCookie = login->get_header_value("Set-Cookie");
    ASSERT_EQ(0u, setCookie.find("DRAVSID="));
    auto listing = client.Get("/dravik/allChildNodes", httplib::Headers{{"Cookie", setCookie + ";"}});
    ASSERT_TRUE(listing);
    EXPECT_NE(std::string::npos, listing->body.find("\"/docs/hello.txt\""));
    // The version check's page and installer.
    auto page = client.Get("/download.html");
    ASSERT_TRUE(page);
    EXPECT_NE(std::string::npos, page->body.find("\xEF\xBC\x9A" "3.1.4</div>")) << page->body;
    auto setup = client.Get("/download/DravikClient.exe");
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->body, std::string("MZ\0installer", 12));

    ASSERT_EQ(0, kill(pid, SIGTERM));
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    close(out[0]);
}

// Accounts read from standard input (so no password shows in the process list) and a
// control token chosen by the caller.
TEST(ProgramTest, ReadsAccountsFromStandardInputAndTakesAGivenToken) {
    const std::string program = std::string(std::getenv("DRAVIK_BINARY_DIR")) + "/bin/dravik-testserver";
    std::vector<std::string> args = {program, "--port", "0", "--users", "-", "--control-token", "tok-123"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int in[2], out[2];
    ASSERT_EQ(0, pipe2(in, O_CLOEXEC));
    ASSERT_EQ(0, pipe2(out, O_CLOEXEC));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ));
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    const std::string accounts = "carol:pa:ss\r\n\ndave:x\n";
    ASSERT_EQ(static_cast<ssize_t>(accounts.size()), write(in[1], accounts.data(), accounts.size()));
    close(in[1]);

    const int port = ListeningPort(FirstLine(out[0]));
    ASSERT_GT(port, 0);
    EXPECT_EQ("control token: tok-123", FirstLine(out[0]));
    httplib::Client client("127.0.0.1", port);
    auto login = client.Get("/dravik/app/login?user[email]=carol&user[pw]=pa%3Ass");
    ASSERT_TRUE(login);
    EXPECT_EQ(0u, login->get_header_value("Set-Cookie").find("DRAVSID="));
    EXPECT_EQ(200, client.Get("/__test/account?user=dave", httplib::Headers{{"X-Control-Token", "tok-123"}})->status);
    EXPECT_EQ(403, client.Get("/__test/account?user=dave", httplib::Headers{{"X-Control-Token", "tok-12"}})->status);

    ASSERT_EQ(0, kill(pid, SIGTERM));
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(out[0]);
}

TEST(ProgramTest, RefusesABadCommandLine) {
    const std::string program = std::string(std::getenv("DRAVIK_BINARY_DIR")) + "/bin/dravik-testserver";
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--port", "http"}, {"--user", "nopassword"}, {"--bogus", "1"}, {"--port"},
          {"--installer", "/no/such/file"}, {"--users", "/no/such/file"}, {"--control-token", ""},
          {"--control-token", "two words"}}) {
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
