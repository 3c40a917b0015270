#include "platform/process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace plat {
namespace {

// Spawn actions and attributes that close every descriptor above 2 in the child and give
// it default signal handling, no blocked signals and a process group of its own;
// destroyed with the object.
class SpawnSetup {
public:
    SpawnSetup() {
        actionsReady_ = posix_spawn_file_actions_init(&actions_) == 0;
        // The child inherits standard input, output and error only: the log file, sockets
        // and pipes of this process stay here, whether they were opened close-on-exec or not.
        if (actionsReady_ && posix_spawn_file_actions_addclosefrom_np(&actions_, 3) != 0) {
            posix_spawn_file_actions_destroy(&actions_);
            actionsReady_ = false;
        }
        attributesReady_ = posix_spawnattr_init(&attributes_) == 0;
        if (!attributesReady_) return;
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes_, &defaults);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes_, &none);
        posix_spawnattr_setpgroup(&attributes_, 0);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    }
    ~SpawnSetup() {
        if (actionsReady_) posix_spawn_file_actions_destroy(&actions_);
        if (attributesReady_) posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool Ready() const { return actionsReady_ && attributesReady_; }
    const posix_spawn_file_actions_t* Actions() const { return &actions_; }
    const posix_spawnattr_t* Attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
    bool actionsReady_ = false;
    bool attributesReady_ = false;
};

// Blocks until the child ends; its exit status.
int ReapBlocking(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Waits until the process behind `pidfd` ends or the deadline passes (a signal restarts
// the wait with the time that is left); false when the descriptor cannot be waited on.
bool WaitForEnd(int pidfd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        pollfd p{pidfd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), 1 << 30)));
        if (r >= 0) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace

bool Spawn(const std::vector<std::string>& argv, bool detach, int& pid) {
    pid = 0;
    if (argv.empty() || argv[0].empty() || argv[0][0] != '/') return false;
    // Detached programs are started by a shell that exits at once, so that no child of
    // ours is left for anybody to reap.
    std::vector<std::string> command;
    if (detach) command = {"/bin/sh", "-c", "\"$@\" >/dev/null 2>&1 </dev/null &", "sh"};
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (std::string& a : command) args.push_back(a.data());
    args.push_back(nullptr);

    SpawnSetup setup;
    if (!setup.Ready()) return false;
    pid_t child = 0;
    if (posix_spawn(&child, command[0].c_str(), setup.Actions(), setup.Attributes(), args.data(), environ) != 0)
        return false;
    if (detach) {
        const int status = ReapBlocking(child);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    pid = child;
    return true;
}

std::string FindProgram(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return {};
    const char* path = std::getenv("PATH");
    if (path == nullptr) return {};
    const std::string folders = path;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = folders.find(':', start);
        const std::string folder = folders.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!folder.empty() && folder.front() == '/') {
            const std::string candidate = folder + "/" + name;
            struct stat st;
            if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string::npos) return {};
        start = colon + 1;
    }
}

int WaitChild(int pid, int timeoutMs, int* exitCode) {
    if (pid <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // A descriptor that becomes readable when the process ends; without one (an old
    // kernel) the child is polled. (Called through syscall: the C library's declaration
    // lacks C linkage in C++ on some versions.)
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (exitCode != nullptr) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (r < 0) {
            if (errno == EINTR) continue;
            if (pidfd >= 0) ::close(pidfd);
            return -1;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            if (pidfd >= 0) ::close(pidfd);
            return 258;
        }
        if (pidfd < 0 || !WaitForEnd(pidfd, deadline)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (pidfd >= 0) ::close(pidfd);
    return 0;
}

namespace {

// The children handed over by ReapLater, reaped by one thread as each ends. The thread
// sleeps in poll on a descriptor per child (pidfd) and a wake-up descriptor; where a
// child has no pidfd it looks again every 50 ms. At process exit the thread is stopped
// and joined; a child still running then is left to the system, which reaps it once this
// process is gone.
class Reaper {
public:
    static Reaper& Instance() {
        static Reaper reaper;
        return reaper;
    }

    void Add(int pid) {
        std::lock_guard<std::mutex> hold(lock_);
        if (stop_) return;
        // A pidfd is always close-on-exec.
        added_.push_back(Child{pid, static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))});
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        Wake();
    }

    ~Reaper() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
            Wake();
        }
        if (thread_.joinable()) thread_.join();
        for (const Child& child : added_)
            if (child.pidfd >= 0) ::close(child.pidfd);
        if (wake_ >= 0) ::close(wake_);
    }
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;

private:
    struct Child {
        int pid = 0;
        int pidfd = -1;
    };

    Reaper() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void Wake() {
        if (wake_ < 0) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }

    void Run() {
        std::vector<Child> children;
        for (;;) {
            {
                std::lock_guard<std::mutex> hold(lock_);
                if (stop_) break;
                children.insert(children.end(), added_.begin(), added_.end());
                added_.clear();
            }
            // Reap every child that has ended (or is no child of ours any more).
            std::erase_if(children, [](const Child& child) {
                int status = 0;
                pid_t r = 0;
                do {
                    r = ::waitpid(child.pid, &status, WNOHANG);
                } while (r < 0 && errno == EINTR);
                if (r == 0) return false;
                if (child.pidfd >= 0) ::close(child.pidfd);
                return true;
            });
            std::vector<pollfd> watched;
            if (wake_ >= 0) watched.push_back({wake_, POLLIN, 0});
            bool polling = wake_ < 0;
            for (const Child& child : children) {
                if (child.pidfd >= 0)
                    watched.push_back({child.pidfd, POLLIN, 0});
                else
                    polling = true;
            }
            const int timeout = polling ? 50 : -1;
            if (::poll(watched.data(), watched.size(), timeout) > 0 && wake_ >= 0 && (watched[0].revents & POLLIN)) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t got = ::read(wake_, &count, sizeof count);
            }
        }
        // Stopped: the children not yet reaped are left to the system.
        std::lock_guard<std::mutex> hold(lock_);
        added_.insert(added_.end(), children.begin(), children.end());
    }

    std::mutex lock_;
    std::vector<Child> added_;
    bool stop_ = false;
    int wake_ = -1;
    std::thread thread_;
};

}  // namespace

void ReapLater(int pid) {
    if (pid <= 0) return;
    Reaper::Instance().Add(pid);
}

bool TerminateChild(int pid, int graceMs) {
    if (pid <= 0) return false;
    const int state = WaitChild(pid, 0);
    if (state != 258) return state == 0;
    ::kill(pid, SIGTERM);
    if (WaitChild(pid, graceMs) == 0) return true;
    ::kill(pid, SIGKILL);
    return WaitChild(pid, 60000) == 0;
}

int IsProgramRunning(const std::string& executable) {
    namespace sfs = std::filesystem;
    std::error_code ec;
    const sfs::path wanted = sfs::weakly_canonical(executable, ec);
    if (ec) return 0;
    sfs::directory_iterator it("/proc", ec);
    if (ec) return -1;
    for (; it != sfs::directory_iterator(); it.increment(ec)) {
        if (ec) return -1;
        const std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code linkError;
        sfs::path image = sfs::read_symlink(it->path() / "exe", linkError);
        if (linkError) continue;  // another user's process, or one that has ended
        if (image == wanted) return 1;
    }
    return 0;
}

}  // namespace plat
