// Whole-file reads, replacing writes through a temporary file, and setting a file aside:
// the safe handling of the programs' small state and configuration files.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fileops.h"

namespace plat::fs {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
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

ReadResult ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Failed;
    if (!S_ISREG(st.st_mode)) return ReadResult::NotAFile;
    // Non-blocking: a FIFO put in the file's place meanwhile must not stall the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return ReadResult::Failed;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::NotAFile;
    }
    std::string buffer(65536, '\0');
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            content.clear();
            errno = error;
            return ReadResult::Failed;
        }
        if (n == 0) break;
        content.append(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadResult::Read;
}

bool WriteFileAtomic(const std::string& path, std::string_view bytes, std::uint32_t mode) {
    AtomicFileWriter writer;
    if (!writer.Begin(path, mode)) return false;
    writer.Append(bytes);
    return writer.Commit();
}

namespace {
constexpr std::size_t kWriteBuffer = 1 << 20;
}  // namespace

AtomicFileWriter::~AtomicFileWriter() { Discard(); }

bool AtomicFileWriter::Begin(const std::string& path, std::uint32_t mode) {
    Discard();
    error_ = 0;
    if (path.empty() || path.back() == '/') {
        errno = EINVAL;
        return false;
    }
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // created 0600
    if (fd < 0) return false;
    if (::fchmod(fd, static_cast<mode_t>(mode & 07777)) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        errno = error;
        return false;
    }
    fd_ = fd;
    path_ = path;
    temp_ = std::move(temp);
    buffer_.reserve(kWriteBuffer);
    return true;
}

void AtomicFileWriter::Append(std::string_view bytes) {
    if (!Ok()) return;
    if (buffer_.size() + bytes.size() > kWriteBuffer) {
        Flush();
        if (bytes.size() >= kWriteBuffer) {
            if (Ok() && !WriteAll(fd_, bytes)) error_ = errno ? errno : EIO;
            return;
        }
    }
    buffer_.append(bytes);
}

void AtomicFileWriter::Flush() {
    if (Ok() && !buffer_.empty() && !WriteAll(fd_, buffer_)) error_ = errno ? errno : EIO;
    buffer_.clear();
}

bool AtomicFileWriter::Commit() {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    Flush();
    if (error_ == 0 && ::fsync(fd_) != 0) error_ = errno;
    if (::close(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
    if (error_ == 0 && ::rename(temp_.c_str(), path_.c_str()) != 0) error_ = errno;
    if (error_ != 0) {
        const int error = error_;
        ::unlink(temp_.c_str());
        temp_.clear();
        errno = error;
        return false;
    }
    temp_.clear();
    SyncFolder(FolderOf(path_));
    return true;
}

void AtomicFileWriter::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    buffer_.clear();
    buffer_.shrink_to_fit();
}

std::string SetAside(const std::string& path) {
    for (int i = 0; i < 100; ++i) {
        const std::string target = path + (i == 0 ? std::string(".bad") : ".bad." + std::to_string(i));
        if (Move(path, target, false)) return target;  // never replaces an item
        if (errno != EEXIST) return std::string();
    }
    return std::string();
}

bool IsWritable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

}  // namespace plat::fs
