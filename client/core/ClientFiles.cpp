#include "client/core/ClientFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/fileops.h"
#include "platform/userdirs.h"

namespace {
bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Makes a rename in `folder` durable.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}
}  // namespace

std::string ClientDataDirectory() { return plat::DataHome() + "/Dravik/DravikClient"; }

std::string BesideExecutableDirectory() {
    const std::string exeDir = plat::ExecutableDir();
    if (!exeDir.empty() && ::access(exeDir.c_str(), W_OK) == 0) return exeDir;
    const std::string fallback = plat::ConfigHome() + "/Dravik/DravikClient";
    plat::fs::MakeDirectories(fallback);
    return fallback;
}

FileRead ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Failed;
    if (!S_ISREG(st.st_mode)) return FileRead::NotAFile;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return FileRead::Failed;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return FileRead::NotAFile;
    }
    std::vector<char> buffer(65536);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            content.clear();
            return FileRead::Failed;
        }
        if (n == 0) break;
        content.append(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    return FileRead::Read;
}

bool WriteFileReplacing(const std::string& path, std::string_view content, mode_t mode) {
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // created 0600
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(FolderOf(path));
    return true;
}

std::string SetFileAside(const std::string& path) {
    for (int i = 0; i < 100; ++i) {
        const std::string target = path + (i == 0 ? std::string(".bad") : ".bad." + std::to_string(i));
        struct stat st;
        if (::lstat(target.c_str(), &st) == 0) continue;  // taken
        if (::rename(path.c_str(), target.c_str()) == 0) return target;
        return std::string();
    }
    return std::string();
}
