#include "platform/process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "support/wait.h"

namespace {

namespace sfs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Sandbox;
using testsupport::WaitUntil;

bool Gone(int pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

TEST(ProcessTest, SpawnAndWait) {
    int pid = -1;
    ASSERT_TRUE(plat::Spawn({"/bin/sleep", "30"}, false, pid));
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::getpgid(pid), pid) << "the child has a process group of its own";
    EXPECT_EQ(plat::WaitChild(pid, 0), 258);
    EXPECT_EQ(plat::WaitChild(pid, 20), 258);
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(plat::WaitChild(pid, 20000), 0);
    EXPECT_TRUE(Gone(pid)) << "reaped";
    EXPECT_EQ(plat::WaitChild(pid, 0), -1) << "no longer a child";
    EXPECT_EQ(plat::WaitChild(1, 0), -1);
    EXPECT_EQ(plat::WaitChild(0, 0), -1);
}

TEST(ProcessTest, AnEndedChildGivesItsExitStatus) {
    const struct {
        const char* script;
        int code;
    } cases[] = {{"exit 0", 0}, {"exit 3", 3}, {"kill -TERM $$", 128 + SIGTERM}};
    for (const auto& c : cases) {
        int pid = 0;
        ASSERT_TRUE(plat::Spawn({"/bin/sh", "-c", c.script}, false, pid)) << c.script;
        int code = -1;
        ASSERT_EQ(plat::WaitChild(pid, 20000, &code), 0) << c.script;
        EXPECT_EQ(code, c.code) << c.script;
    }
}

TEST(ProcessTest, SpawnRefuses) {
    int pid = 7;
    EXPECT_FALSE(plat::Spawn({}, false, pid));
    EXPECT_EQ(pid, 0);
    EXPECT_FALSE(plat::Spawn({"sh", "-c", "true"}, false, pid)) << "a relative program";
    EXPECT_FALSE(plat::Spawn({"/no/such/program"}, false, pid));
}

TEST(ProcessTest, ChildStartsWithNoBlockedSignals) {
    Sandbox box;
    const std::string out = (box.Root() / "mask").string();
    sigset_t block, saved;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &saved), 0);
    int pid = 0;
    const bool started = plat::Spawn({"/bin/sh", "-c", "grep SigBlk /proc/self/status > \"$0\"", out}, false, pid);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    ASSERT_TRUE(started);
    ASSERT_EQ(plat::WaitChild(pid, 20000), 0);
    EXPECT_EQ(ReadFile(out), "SigBlk:\t0000000000000000\n");
}

TEST(ProcessTest, ChildrenInheritNoDescriptorAboveTwo) {
    Sandbox box;
    // Descriptors as the programs hold them: one without close-on-exec (as the log
    // library opens its file), one with it, and a pipe.
    const std::string held = (box.Root() / "held.log").string();
    const int plain = ::open(held.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int closing = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ASSERT_GE(plain, 3);
    ASSERT_GE(closing, 3);
    for (const bool detach : {false, true}) {
        SCOPED_TRACE(detach);
        const sfs::path out = box.Root() / (detach ? "fds-detached" : "fds");
        int pid = 0;
        // The child program lists its own open descriptors: 0, 1 and 2, and 3 for the
        // folder it reads (the lowest free one). A shell in between would add its own.
        const std::string lister = "exec /bin/ls /proc/self/fd > \"$0\"";
        ASSERT_TRUE(plat::Spawn({"/bin/sh", "-c", "/bin/sh -c '" + lister + "' \"$0.part\" && mv \"$0.part\" \"$0\"",
                                 out.string()},
                                detach, pid));
        if (!detach) ASSERT_EQ(plat::WaitChild(pid, 20000), 0);
        ASSERT_TRUE(WaitUntil([&] { return sfs::exists(out); }));
        std::string listed = ReadFile(out);
        std::vector<std::string> fds;
        for (std::size_t at = 0; at < listed.size();) {
            const std::size_t end = listed.find('\n', at);
            fds.push_back(listed.substr(at, end - at));
            at = end == std::string::npos ? listed.size() : end + 1;
        }
        std::sort(fds.begin(), fds.end());
        EXPECT_EQ(fds, (std::vector<std::string>{"0", "1", "2", "3"})) << listed;
    }
    ::close(plain);
    ::close(closing);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

TEST(ProcessTest, FindProgramSearchesThePath) {
    Sandbox box;
    const sfs::path bin = box.Dir("bin");
    testsupport::WriteFile(bin / "tool", "#!/bin/sh\n");
    testsupport::WriteFile(bin / "plain", "not runnable");
    ::chmod((bin / "tool").c_str(), 0700);
    const std::string path = "relative:" + bin.string() + ":/bin";
    const char* old = std::getenv("PATH");
    const std::string saved = old != nullptr ? old : "";
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(plat::FindProgram("tool"), (bin / "tool").string());
    EXPECT_EQ(plat::FindProgram("plain"), "");
    EXPECT_EQ(plat::FindProgram("sh"), "/bin/sh");
    EXPECT_EQ(plat::FindProgram("bin/tool"), "");
    EXPECT_EQ(plat::FindProgram(""), "");
    setenv("PATH", saved.c_str(), 1);
}

TEST(ProcessTest, DetachedProgramsRunOnTheirOwn) {
    Sandbox box;
    const sfs::path out = box.Root() / "out";
    int pid = -1;
    ASSERT_TRUE(plat::Spawn({"/bin/sh", "-c", "echo ran > \"$0.part\" && mv \"$0.part\" \"$0\"", out.string()}, true, pid));
    EXPECT_EQ(pid, 0);
    ASSERT_TRUE(WaitUntil([&] { return sfs::exists(out); }));
    EXPECT_EQ(ReadFile(out), "ran\n");
}

TEST(ProcessTest, ReapLaterCollectsTheChild) {
    int pid = 0;
    ASSERT_TRUE(plat::Spawn({"/bin/true"}, false, pid));
    plat::ReapLater(pid);
    EXPECT_TRUE(WaitUntil([&] { return Gone(pid); }));

    // Several children at once, one of them ending only after it was handed over.
    Sandbox box;
    const sfs::path go = box.Root() / "go";
    int waiting = 0;
    ASSERT_TRUE(plat::Spawn({"/bin/sh", "-c", "while [ ! -e \"$0\" ]; do sleep 0.01; done", go.string()}, false,
                            waiting));
    std::vector<int> quick(3);
    for (int& child : quick) ASSERT_TRUE(plat::Spawn({"/bin/true"}, false, child));
    plat::ReapLater(waiting);
    for (const int child : quick) plat::ReapLater(child);
    for (const int child : quick) EXPECT_TRUE(WaitUntil([&] { return Gone(child); }));
    EXPECT_FALSE(Gone(waiting));
    testsupport::WriteFile(go, "");
    EXPECT_TRUE(WaitUntil([&] { return Gone(waiting); }));
}

// The reaper's thread is joined when the program ends; a child still running then does
// not hold the program up.
TEST(ProcessDeathTest, AProgramEndsWhileAHandedOverChildStillRuns) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // A child that runs as long as the program does.
            int pid = 0;
            if (!plat::Spawn({"/bin/sh", "-c", "while kill -0 $PPID 2>/dev/null; do sleep 0.05; done"}, false, pid))
                std::exit(2);
            plat::ReapLater(pid);
            std::exit(7);
        },
        ::testing::ExitedWithCode(7), "");
}

TEST(ProcessTest, TerminateChildAsksFirstThenKills) {
    // A child that ends when asked.
    int polite = 0;
    ASSERT_TRUE(plat::Spawn({"/bin/sleep", "30"}, false, polite));
    EXPECT_TRUE(plat::TerminateChild(polite, 20000));
    EXPECT_TRUE(Gone(polite)) << "reaped";

    // A child that ignores the request is killed once the grace time is over.
    Sandbox box;
    const sfs::path ready = box.Root() / "ready";
    int stubborn = 0;
    ASSERT_TRUE(plat::Spawn({"/bin/sh", "-c", "trap '' TERM; : > \"$0\"; exec sleep 30", ready.string()}, false,
                            stubborn));
    ASSERT_TRUE(WaitUntil([&] { return sfs::exists(ready); }));
    EXPECT_TRUE(plat::TerminateChild(stubborn, 50));
    EXPECT_TRUE(Gone(stubborn));

    // A child that has ended already is only reaped; other processes are not touched.
    int ended = 0;
    ASSERT_TRUE(plat::Spawn({"/bin/true"}, false, ended));
    const sfs::path stat = "/proc/" + std::to_string(ended) + "/stat";
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(stat).find(") Z ") != std::string::npos; }));
    EXPECT_TRUE(plat::TerminateChild(ended, 50));
    EXPECT_TRUE(Gone(ended));
    EXPECT_FALSE(plat::TerminateChild(ended, 50)) << "no longer a child";
    EXPECT_FALSE(plat::TerminateChild(1, 50));
    EXPECT_FALSE(plat::TerminateChild(0, 50));
}

TEST(ProcessTest, FindsARunningProgramByItsPath) {
    Sandbox box;
    const sfs::path copy = box.Root() / "sleeper";
    sfs::copy_file("/bin/sleep", copy);
    sfs::permissions(copy, sfs::perms::owner_all);
    EXPECT_EQ(plat::IsProgramRunning(copy.string()), 0);
    int pid = 0;
    ASSERT_TRUE(plat::Spawn({copy.string(), "30"}, false, pid));
    EXPECT_TRUE(WaitUntil([&] { return plat::IsProgramRunning(copy.string()) == 1; }));
    EXPECT_EQ(plat::IsProgramRunning((box.Root() / "." / "sleeper").string()), 1) << "compared canonically";
    ::kill(pid, SIGKILL);
    ASSERT_EQ(plat::WaitChild(pid, 20000), 0);
    EXPECT_EQ(plat::IsProgramRunning(copy.string()), 0);
    EXPECT_EQ(plat::IsProgramRunning("/proc/self/exe"), 1);
}

}  // namespace
