#pragma once
// Shared pieces of the local scan and digest tests: the process-wide quit event the
// checkpoints need, and a way to run a check without root's power to read everything.
#include <sys/types.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "sync/common/SyncBase.h"

namespace drivertest {

// Installs "Global Terminate" for the whole test program (checkpoints report nothing
// without it); tests that set it reset it themselves.
class QuitEventEnvironment : public ::testing::Environment {
public:
    void SetUp() override { g_pTerminateEvent = &quit_; }
    void TearDown() override { g_pTerminateEvent = nullptr; }

private:
    CEventEx quit_{"Global Terminate", true, false};
};

inline std::u16string Wide(const std::filesystem::path& p) { return plat::ToUtf16(p.string()); }

// Runs `check` where permission bits hold: directly for an ordinary user; as root (who
// can read anything) in a child process that has become user and group "nobody". The
// check's result (0 = passed), or -1 when the child could not run. Folders the child must
// reach are opened up by the caller (OpenUpTo).
inline int RunUnprivileged(const std::function<int()>& check) {
    if (geteuid() != 0) return check();
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
        _exit(check());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Opens the way from the sandbox root down to `path` for other users (read and search).
inline void OpenUpTo(const std::filesystem::path& root, const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    fs::path at = root;
    fs::permissions(at, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    for (const auto& part : fs::relative(path, root)) {
        at /= part;
        fs::permissions(at, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    }
}

}  // namespace drivertest
