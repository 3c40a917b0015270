#include "platform/sharedmem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fileops.h"
#include "platform/userdirs.h"

namespace plat {

namespace {

bool IsUsableName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 200) return false;
    return name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// The object must be this user's and private to it.
int CheckOwnObject(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return errno;
    if (st.st_uid != ::geteuid()) return EACCES;
    if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0) return errno;
    return 0;
}

}  // namespace

SharedMemory::~SharedMemory() { Close(); }

std::string SharedMemory::ObjectName(const std::string& name) {
    return "/" + name + "-" + std::to_string(::geteuid());
}

int SharedMemory::Open(const std::string& name, bool& created) {
    Close();
    created = false;
    if (!IsUsableName(name)) return EINVAL;
    const std::string object = ObjectName(name);
    // Create exclusively or open what exists; retry when it vanishes in between.
    for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
        fd_ = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ >= 0) {
            created = true;
            break;
        }
        if (errno != EEXIST) return errno;
        fd_ = ::shm_open(object.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0);
        if (fd_ < 0 && errno != ENOENT) return errno;
    }
    if (fd_ < 0) return ENOENT;
    if (const int error = CheckOwnObject(fd_)) {
        Close();
        return error;
    }
    return 0;
}

int SharedMemory::Map(std::size_t size, bool& grew) {
    grew = false;
    if (fd_ < 0) return EBADF;
    if (data_ != nullptr) ::munmap(data_, size_);
    data_ = nullptr;
    size_ = size;
    if (const int error = KeepMappedSize(grew)) return error;
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) return errno;
    data_ = static_cast<unsigned char*>(p);
    return 0;
}

int SharedMemory::KeepMappedSize(bool& grew) {
    grew = false;
    struct stat st;
    if (::fstat(fd_, &st) != 0) return errno;
    if (static_cast<std::uint64_t>(st.st_size) >= size_) return 0;
    if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0) return errno;
    grew = true;
    return 0;
}

void SharedMemory::Close() {
    if (data_ != nullptr) ::munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int SharedMemory::Remove(const std::string& name) {
    if (!IsUsableName(name)) return EINVAL;
    return ::shm_unlink(ObjectName(name).c_str()) == 0 ? 0 : errno;
}

ProcessLock::~ProcessLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock too
}

int ProcessLock::Open(const std::string& name) {
    if (fd_ >= 0) return 0;
    if (!IsUsableName(name)) return EINVAL;
    const std::string dir = RuntimeDir();
    if (dir.empty()) return EACCES;
    const std::string path = fs::Join(dir, name + ".lock");
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd_ >= 0 ? 0 : errno;
}

int ProcessLock::Lock() {
    if (fd_ < 0) return EBADF;
    int rc;
    do {
        rc = ::flock(fd_, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

void ProcessLock::Unlock() {
    if (fd_ >= 0) ::flock(fd_, LOCK_UN);
}

}  // namespace plat
