#include "platform/fileops.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

namespace plat::fs {
namespace {

thread_local std::string t_lastError;

bool Fail(const char* what, const std::string& path, int error) {
    char buffer[256];
    const char* text = strerror_r(error, buffer, sizeof buffer);
    t_lastError = std::string(what) + " '" + path + "': " + text;
    errno = error;
    return false;
}

bool FailErrno(const char* what, const std::string& path) { return Fail(what, path, errno); }

Kind KindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return Kind::File;
    if (S_ISDIR(st.st_mode)) return Kind::Directory;
    if (S_ISLNK(st.st_mode)) return Kind::Link;
    return Kind::Special;
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

std::string Parent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Drops trailing separators (but keeps a lone "/").
std::string Trimmed(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// Prefix of a temporary name beside `target`: hidden, and short enough to stay a valid
// name whatever the target's length (cut on a UTF-8 character boundary).
std::string TempPrefix(const std::string& target) {
    std::string base = BaseName(target);
    std::size_t cut = std::min<std::size_t>(base.size(), 200);
    while (cut > 0 && cut < base.size() && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
    base.resize(cut);
    const std::string dir = Parent(target);
    return (dir == "/" ? std::string("/") : dir + "/") + "." + base + ".";
}

// Opens the folder `fd` (taking ownership of it) and reads every name but "." and "..".
// All names are read before anything is done with them: changing a folder while
// reading it may make readdir skip entries.
bool ReadNames(int fd, const std::string& path, DirPtr& dir, std::vector<std::string>& names) {
    dir.reset(::fdopendir(fd));
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return Fail("Cannot list folder", path, error);
    }
    for (;;) {
        errno = 0;
        const dirent* ent = ::readdir(dir.get());
        if (ent == nullptr) {
            if (errno != 0) return FailErrno("Cannot read folder", path);
            return true;
        }
        if (std::strcmp(ent->d_name, ".") != 0 && std::strcmp(ent->d_name, "..") != 0) names.emplace_back(ent->d_name);
    }
}

// Lists the entries of an open folder (takes ownership of `fd`).
bool ListFd(int fd, const std::string& path, std::vector<Entry>& out) {
    out.clear();
    DirPtr dir;
    std::vector<std::string> names;
    if (!ReadNames(fd, path, dir, names)) return false;
    for (std::string& name : names) {
        struct stat st;
        if (::fstatat(::dirfd(dir.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;  // removed while we were reading
            return FailErrno("Cannot inspect", Join(path, name));
        }
        Entry e;
        e.name = std::move(name);
        e.kind = KindOf(st);
        e.size = e.kind == Kind::File ? static_cast<std::uint64_t>(st.st_size) : 0;
        e.mtimeSeconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
        out.push_back(std::move(e));
    }
    return true;
}

// The text of the link at `path`.
bool ReadLink(const std::string& path, std::string& target) {
    target.assign(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
        return Fail("Cannot read link", path, n < 0 ? errno : ENAMETOOLONG);
    }
    target.resize(static_cast<std::size_t>(n));
    return true;
}

// Lists a folder that must be a real folder, not a link to one.
bool ListNoFollow(const std::string& path, std::vector<Entry>& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return FailErrno("Cannot open folder", path);
    return ListFd(fd, path, out);
}

// Opens a regular file for reading without following a link and without blocking on
// a FIFO; -1 (with the error set) for anything else.
int OpenRegularForReading(const std::string& path, struct stat& st) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        FailErrno("Cannot open", path);
        return -1;
    }
    const int error = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
    if (error != 0) {
        ::close(fd);
        Fail("Not a regular file", path, error);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies the open regular file `in` into a new temporary file beside `to`; the name of
// the temporary file in `temp`. Mode bits and modification time follow the source.
bool CopyToTemp(int in, const struct stat& st, const std::string& from, const std::string& to,
                std::string& temp) {
    temp = TempPrefix(to) + "XXXXXX.tmp";
    const int out = ::mkostemps(temp.data(), 4, O_CLOEXEC);
    if (out < 0) {
        const int error = errno;
        temp.clear();
        return Fail("Cannot create a temporary file for", to, error);
    }
    FdCloser outCloser{out};
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::unlink(temp.c_str());
            return Fail("Cannot read", from, error);
        }
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) {
            const int error = errno;
            ::unlink(temp.c_str());
            return Fail("Cannot write", temp, error);
        }
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::fchmod(out, st.st_mode & 07777);
    ::futimens(out, times);
    outCloser.fd = -1;
    if (::close(out) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return Fail("Cannot write", temp, error);
    }
    return true;
}

// Renames `from` to `to` only when `to` does not exist, atomically where the file
// system allows it.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return FailErrno("Cannot move", from);
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) return FailErrno("Cannot move", from);
    if (!S_ISDIR(st.st_mode)) {
        // A hard link refuses an existing name atomically.
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (::unlink(from.c_str()) == 0) return true;
            const int error = errno;
            ::unlink(to.c_str());
            return Fail("Cannot move", from, error);
        }
        if (errno == EEXIST) return FailErrno("Cannot move onto existing", to);
    }
    // Last resort for file systems without either: check, then rename.
    if (::lstat(to.c_str(), &st) == 0) return Fail("Cannot move onto existing", to, EEXIST);
    if (::rename(from.c_str(), to.c_str()) != 0) return FailErrno("Cannot move", from);
    return true;
}

bool PlaceFile(const std::string& temp, const std::string& to, bool replace) {
    const bool ok = replace ? ::rename(temp.c_str(), to.c_str()) == 0 || FailErrno("Cannot replace", to)
                            : RenameNoReplace(temp, to);
    if (!ok) {
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
    }
    return ok;
}

// Canonical form of `path` even when its last levels do not exist yet; empty when that
// cannot be told (a "." or ".." among the missing levels).
std::string Canonical(const std::string& path) {
    std::string head = Trimmed(path);
    std::string tail;
    for (;;) {
        char* real = ::realpath(head.c_str(), nullptr);
        if (real != nullptr) {
            std::string result(real);
            ::free(real);
            return tail.empty() ? result : Join(result, tail);
        }
        const std::string name = BaseName(head);
        if (head == "/" || head == "." || name == "." || name == "..") return {};
        tail = tail.empty() ? name : name + "/" + tail;
        head = Parent(head);
    }
}

bool IsSameOrBelow(const std::string& inner, const std::string& outer) {
    if (inner == outer) return true;
    const std::string prefix = outer == "/" ? outer : outer + "/";
    return inner.compare(0, prefix.size(), prefix) == 0;
}

// Copies a folder tree. For a move (`keepLinks`) links are re-created and a special
// file makes the copy fail, so that removing the source afterwards loses nothing;
// otherwise both are skipped.
bool CopyTreeImpl(const std::string& from, const std::string& to, bool keepLinks) {
    std::vector<Entry> entries;
    if (!ListNoFollow(from, entries)) return false;
    if (!MakeDirectories(to)) return false;
    for (const Entry& e : entries) {
        const std::string src = Join(from, e.name);
        const std::string dst = Join(to, e.name);
        switch (e.kind) {
            case Kind::File:
                if (!CopyFile(src, dst, true)) return false;
                break;
            case Kind::Directory:
                if (!CopyTreeImpl(src, dst, keepLinks)) return false;
                break;
            case Kind::Link:
                if (keepLinks) {
                    std::string target;
                    if (!ReadLink(src, target)) return false;
                    if (::symlink(target.c_str(), dst.c_str()) != 0) return FailErrno("Cannot create link", dst);
                }
                break;
            case Kind::Special:
                if (keepLinks) return Fail("Cannot move special file", src, ENOTSUP);
                break;
            case Kind::Missing:
                break;
        }
    }
    return true;
}

// Move across file systems: copy beside the target, put it in place, remove the source.
bool MoveByCopy(const std::string& from, const std::string& to, bool replace, Kind kind) {
    std::string temp;
    if (kind == Kind::File) {
        struct stat st;
        const int in = OpenRegularForReading(from, st);
        if (in < 0) return false;
        FdCloser inCloser{in};
        if (!CopyToTemp(in, st, from, to, temp) || !PlaceFile(temp, to, replace)) return false;
        return RemoveFile(from);
    }
    if (kind == Kind::Link) {
        std::string target;
        if (!ReadLink(from, target)) return false;
        for (int attempt = 0; attempt < 100; ++attempt) {
            temp = TempPrefix(to) + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
            if (::symlink(target.c_str(), temp.c_str()) == 0) break;
            if (errno != EEXIST) return FailErrno("Cannot create link", temp);
            temp.clear();
        }
        if (temp.empty()) return Fail("Cannot create link", to, EEXIST);
        if (!PlaceFile(temp, to, replace)) return false;
        return RemoveFile(from);
    }
    if (kind != Kind::Directory) return Fail("Cannot move special file", from, EXDEV);
    temp = TempPrefix(to) + "XXXXXX";
    if (::mkdtemp(temp.data()) == nullptr) return FailErrno("Cannot create a temporary folder for", to);
    if (!CopyTreeImpl(from, temp, true)) {
        const std::string error = t_lastError;
        RemoveTree(temp);
        t_lastError = error;
        return false;
    }
    if (!RenameNoReplace(temp, to)) {
        const std::string error = t_lastError;
        RemoveTree(temp);
        t_lastError = error;
        return false;
    }
    return RemoveTree(from);
}

// Removes everything inside the open folder `fd` (takes ownership of it); links are
// removed as themselves, never entered.
bool RemoveContents(int fd, const std::string& path) {
    DirPtr dir;
    std::vector<std::string> names;
    if (!ReadNames(fd, path, dir, names)) return false;
    const int dfd = ::dirfd(dir.get());
    for (const std::string& name : names) {
        struct stat st;
        if (::fstatat(dfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            return FailErrno("Cannot inspect", Join(path, name));
        }
        if (S_ISDIR(st.st_mode)) {
            const int sub = ::openat(dfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) return FailErrno("Cannot open folder", Join(path, name));
            if (!RemoveContents(sub, Join(path, name))) return false;
            if (::unlinkat(dfd, name.c_str(), AT_REMOVEDIR) != 0) return FailErrno("Cannot remove folder", Join(path, name));
        } else if (::unlinkat(dfd, name.c_str(), 0) != 0) {
            return FailErrno("Cannot remove", Join(path, name));
        }
    }
    return true;
}

}  // namespace

Kind GetKind(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return Kind::Missing;
    return KindOf(st);
}

bool ListDirectory(const std::string& path, std::vector<Entry>& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return FailErrno("Cannot open folder", path);
    return ListFd(fd, path, out);
}

bool ListDirectoryNoFollow(const std::string& path, std::vector<Entry>& out) {
    out.clear();
    return ListNoFollow(path, out);
}

bool MakeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    const int error = errno;
    if (error == EEXIST && GetKind(path) == Kind::Directory) return true;
    return Fail("Cannot create folder", path, error);
}

bool MakeDirectories(const std::string& path) {
    const std::string p = Trimmed(path);
    if (p.empty()) return Fail("Cannot create folder", path, ENOENT);
    if (GetKind(p) == Kind::Directory) return true;
    // Levels above the last may be links to folders (as with mkdir -p); the last level
    // must be a real folder.
    for (std::size_t slash = p.find('/', 1); slash != std::string::npos; slash = p.find('/', slash + 1)) {
        const std::string level = p.substr(0, slash);
        struct stat st;
        if (::stat(level.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return Fail("Cannot create folder", level, ENOTDIR);
            continue;
        }
        if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) return FailErrno("Cannot create folder", level);
    }
    return MakeDirectory(p);
}

bool MakePrivateDirectories(const std::string& path) {
    const std::string p = Trimmed(path);
    if (p.empty() || p == "/") return Fail("Cannot create folder", path, EINVAL);
    // The last level is made 0700 from the start, so it is never open to others.
    if (::mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) {
        if (errno != ENOENT || !MakeDirectories(Parent(p))) return FailErrno("Cannot create folder", p);
        if (::mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) return FailErrno("Cannot create folder", p);
    }
    const int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return FailErrno("Cannot open folder", p);
    FdCloser closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0) return FailErrno("Cannot inspect", p);
    if (!S_ISDIR(st.st_mode)) return Fail("Cannot create folder", p, ENOTDIR);
    if (st.st_uid != ::getuid()) return Fail("Folder of another user", p, EPERM);
    if ((st.st_mode & 077) != 0 && ::fchmod(fd, st.st_mode & 0700) != 0) return FailErrno("Cannot protect", p);
    return true;
}

std::string BlockedStepBelow(const std::string& root, const std::string& path) {
    const std::string top = Trimmed(root);
    const std::string prefix = top == "/" ? top : top + "/";
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return path;
    for (std::size_t slash = path.find('/', prefix.size()); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (slash + 1 == path.size()) break;  // a trailing separator: the last name ends here
        const std::string level = path.substr(0, slash);
        const Kind kind = GetKind(level);
        if (kind == Kind::Missing) return {};
        if (kind != Kind::Directory) return level;
    }
    return {};
}

int MakeFilePrivate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? 0 : -1;
    FdCloser closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) return -1;
    if ((st.st_mode & 077) == 0) return 0;
    return ::fchmod(fd, st.st_mode & 0700) == 0 ? 1 : -1;
}

bool RemoveFile(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return FailErrno("Cannot remove", path);
    if (S_ISDIR(st.st_mode)) return Fail("Cannot remove", path, EISDIR);
    if (::unlink(path.c_str()) != 0) return FailErrno("Cannot remove", path);
    return true;
}

bool RemoveEmptyDirectory(const std::string& path) {
    if (::rmdir(path.c_str()) != 0) return FailErrno("Cannot remove folder", path);
    return true;
}

bool RemoveTree(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return FailErrno("Cannot remove folder", path);
    if (S_ISLNK(st.st_mode)) return RemoveFile(path);  // the link goes, its target stays
    if (!S_ISDIR(st.st_mode)) return Fail("Cannot remove folder", path, ENOTDIR);
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return FailErrno("Cannot open folder", path);
    if (!RemoveContents(fd, path)) return false;
    return RemoveEmptyDirectory(path);
}

bool CopyFile(const std::string& from, const std::string& to, bool overwrite) {
    struct stat st;
    const int in = OpenRegularForReading(from, st);
    if (in < 0) return false;
    FdCloser inCloser{in};
    struct stat target;
    if (::lstat(to.c_str(), &target) == 0) {
        if (!overwrite) return Fail("Cannot copy onto existing", to, EEXIST);
        if (S_ISDIR(target.st_mode)) return Fail("Cannot copy onto folder", to, EISDIR);
    }
    std::string temp;
    return CopyToTemp(in, st, from, to, temp) && PlaceFile(temp, to, overwrite);
}

bool CopyTree(const std::string& from, const std::string& to) {
    if (GetKind(from) != Kind::Directory) return Fail("Cannot copy folder", from, ENOTDIR);
    const std::string target = Canonical(to);
    if (target.empty() || IsSameOrBelow(target, Canonical(from))) {
        return Fail("Cannot copy folder into itself", to, EINVAL);
    }
    return CopyTreeImpl(from, to, false);
}

bool Move(const std::string& from, const std::string& to, bool replace) {
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) return FailErrno("Cannot move", from);
    const Kind kind = KindOf(st);
    // A folder never replaces anything; a file never replaces a folder.
    if (kind == Kind::Directory) replace = false;
    if (replace && GetKind(to) == Kind::Directory) return Fail("Cannot replace folder", to, EISDIR);
    const bool ok = replace ? ::rename(from.c_str(), to.c_str()) == 0 || FailErrno("Cannot move", from)
                            : RenameNoReplace(from, to);
    if (ok || errno != EXDEV) return ok;
    return MoveByCopy(from, to, replace, kind);
}

std::uint64_t FileSize(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        FailErrno("Cannot inspect", path);
        return std::numeric_limits<std::uint64_t>::max();
    }
    if (!S_ISREG(st.st_mode)) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(st.st_size);
}

std::string LastErrorText() { return t_lastError; }

std::string Join(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    std::size_t end = a.size();
    while (end > 0 && a[end - 1] == '/') --end;
    std::size_t begin = 0;
    while (begin < b.size() && b[begin] == '/') ++begin;
    return a.substr(0, end) + "/" + b.substr(begin);
}

}  // namespace plat::fs
