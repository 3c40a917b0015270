#include "platform/namedlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fileops.h"
#include "platform/userdirs.h"

namespace plat {

namespace {

// A name must be one usable file-name component.
bool IsUsableName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name) {
        if (c == '/' || c == '\0') return false;
    }
    return true;
}

}  // namespace

NamedLock::~NamedLock() { Release(); }

NamedLock::Result NamedLock::TryAcquire(const std::string& name) {
    if (Held()) return Result::Acquired;
    if (!IsUsableName(name)) return Result::Failed;
    const std::string dir = RuntimeDir();
    if (dir.empty()) return Result::Failed;
    const std::string path = fs::Join(dir, name + ".lock");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Result::Failed;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? Result::HeldElsewhere : Result::Failed;
    }
    fd_ = fd;
    return Result::Acquired;
}

void NamedLock::Release() {
    if (fd_ < 0) return;
    // Closing the only descriptor of the open file releases the lock. The file stays:
    // removing it would let two processes lock two different files of one name.
    ::close(fd_);
    fd_ = -1;
}

}  // namespace plat
