#include "platform/process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

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
