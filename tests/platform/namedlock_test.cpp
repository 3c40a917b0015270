#include "platform/namedlock.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "support/sandbox.h"
#include "support/wait.h"

namespace {

using Result = plat::NamedLock::Result;

TEST(NamedLockTest, OneHolderPerNameUntilReleased) {
    testsupport::Sandbox sandbox;
    auto first = std::make_unique<plat::NamedLock>();
    plat::NamedLock second;
    plat::NamedLock other;

    EXPECT_EQ(first->TryAcquire("DravikSyncSignal"), Result::Acquired);
    EXPECT_TRUE(first->Held());
    EXPECT_EQ(second.TryAcquire("DravikSyncSignal"), Result::HeldElsewhere);
    EXPECT_FALSE(second.Held());
    EXPECT_EQ(other.TryAcquire("Another Name"), Result::Acquired);

    const auto file = sandbox.RuntimeDir() / "DravikSyncSignal.lock";
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    first.reset();  // the destructor releases
    EXPECT_EQ(second.TryAcquire("DravikSyncSignal"), Result::Acquired);
    second.Release();
    EXPECT_FALSE(second.Held());
    EXPECT_EQ(second.TryAcquire("DravikSyncSignal"), Result::Acquired);
}

TEST(NamedLockTest, UnusableNamesAndRuntimeFoldersFail) {
    testsupport::Sandbox sandbox;
    plat::NamedLock lock;
    for (const char* bad : {"", ".", "..", "a/b"}) {
        EXPECT_EQ(lock.TryAcquire(bad), Result::Failed) << bad;
    }
    // A runtime folder that cannot be made (its parent is a file).
    const auto blocker = sandbox.Root() / "blocker";
    testsupport::WriteFile(blocker, "x");
    ::setenv("DRAVIK_RUNTIME_DIR", (blocker / "run").c_str(), 1);
    EXPECT_EQ(lock.TryAcquire("DravikSyncSignal"), Result::Failed);
    EXPECT_FALSE(lock.Held());
}

TEST(NamedLockTest, ALockOfAProcessThatDiesIsReleased) {
    testsupport::Sandbox sandbox;
    const std::string path = (sandbox.RuntimeDir() / "DravikSyncSignal.lock").string();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only system calls here: the child of a threaded process.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, 'y');

    plat::NamedLock lock;
    EXPECT_EQ(lock.TryAcquire("DravikSyncSignal"), Result::HeldElsewhere);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(lock.TryAcquire("DravikSyncSignal"), Result::Acquired);
}

}  // namespace
