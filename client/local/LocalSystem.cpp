#include "client/local/LocalSystem.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

extern char** environ;

namespace localsys {
namespace {

ItemKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return ItemKind::File;
    if (S_ISDIR(mode)) return ItemKind::Directory;
    if (S_ISLNK(mode)) return ItemKind::Link;
    return ItemKind::Special;
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

bool StatItem(const std::string& path, ItemStat& out) {
    struct statx sx;
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        return false;
    }
    out = ItemStat();
    out.kind = KindOf(sx.stx_mode);
    out.size = out.kind == ItemKind::File ? sx.stx_size : 0;
    out.inode = sx.stx_ino;
    out.ownerWritable = (sx.stx_mode & S_IWUSR) != 0;
    out.modifiedSeconds = sx.stx_mtime.tv_sec;
    out.modifiedNanoseconds = sx.stx_mtime.tv_nsec;
    if ((sx.stx_mask & STATX_BTIME) != 0) {
        out.bornSeconds = sx.stx_btime.tv_sec;
        out.bornNanoseconds = sx.stx_btime.tv_nsec;
    } else {
        out.bornSeconds = out.modifiedSeconds;
        out.bornNanoseconds = out.modifiedNanoseconds;
    }
    return true;
}

bool CreateSizedFile(const std::string& path, std::int64_t size) {
    Fd file{::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666)};
    if (file.fd < 0) return false;
    struct stat st;
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (size > 0 && ::ftruncate(file.fd, static_cast<off_t>(size)) != 0) return false;
    const int fd = file.fd;
    file.fd = -1;
    return ::close(fd) == 0;
}

bool SetWritable(const std::string& path, bool writable) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) return false;
    mode_t mode = st.st_mode & 07777;
    mode = writable ? (mode | S_IWUSR) : (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH));
    return ::chmod(path.c_str(), mode) == 0;
}

bool IsLockedByOther(const std::string& path) {
    Fd file{::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) return false;
    struct stat st;
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    // A POSIX record lock of another process.
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    if (::fcntl(file.fd, F_GETLK, &query) == 0 && query.l_type != F_UNLCK) return true;
    // A whole-file lock on another open file.
    if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK;
    ::flock(file.fd, LOCK_UN);
    return false;
}

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

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    // The child starts with default signal handling and its own process group.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    pid_t child = 0;
    const int rc = posix_spawn(&child, command[0].c_str(), &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) return false;
    if (detach) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    pid = child;
    return true;
}

int WaitChild(int pid, int timeoutMs) {
    if (pid <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return 0;
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (std::chrono::steady_clock::now() >= deadline) return 258;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ReapLater(int pid) {
    if (pid <= 0) return;
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

int IsProgramRunning(const std::string& executable) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path wanted = fs::weakly_canonical(executable, ec);
    if (ec) return 0;
    fs::directory_iterator it("/proc", ec);
    if (ec) return -1;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return -1;
        const std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code linkError;
        fs::path image = fs::read_symlink(it->path() / "exe", linkError);
        if (linkError) continue;  // another user's process, or one that has ended
        if (image == wanted) return 1;
    }
    return 0;
}

bool IsRunnableFile(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec || !fs::is_regular_file(st)) return false;
    return (st.permissions() & fs::perms::owner_exec) != fs::perms::none && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace localsys
