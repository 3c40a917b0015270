#include "platform/filefacts.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <system_error>

namespace plat::fs {
namespace {

Kind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return Kind::File;
    if (S_ISDIR(mode)) return Kind::Directory;
    if (S_ISLNK(mode)) return Kind::Link;
    return Kind::Special;
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

bool StatItem(const std::string& path, ItemFacts& out) {
    struct statx sx;
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        return false;
    }
    out = ItemFacts();
    out.kind = KindOf(sx.stx_mode);
    out.size = out.kind == Kind::File ? sx.stx_size : 0;
    out.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
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

// A read lease can only be taken while nobody holds the file open for writing, which is
// exactly the question; it is dropped at once. Should a writer open the file in that
// instant, the kernel signals the lease holder: SIGURG, whose default is to be ignored,
// is asked for instead of SIGIO (whose default ends the process). The item is checked
// before it is opened, so no device or FIFO is ever opened; O_NONBLOCK keeps the open
// from waiting on another holder's lease.
bool IsOpenForWriting(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    Fd file{::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0) return false;
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (::fcntl(file.fd, F_SETSIG, SIGURG) != 0) return false;
    if (::fcntl(file.fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(file.fd, F_SETLEASE, F_UNLCK);
        return false;
    }
    return errno == EAGAIN;
}

bool IsRunnableFile(const std::string& path) {
    namespace sfs = std::filesystem;
    std::error_code ec;
    const sfs::file_status st = sfs::status(path, ec);
    if (ec || !sfs::is_regular_file(st)) return false;
    return (st.permissions() & sfs::perms::owner_exec) != sfs::perms::none && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace plat::fs
