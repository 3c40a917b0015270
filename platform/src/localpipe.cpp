#include "platform/localpipe.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/fileops.h"
#include "platform/userdirs.h"
#include "platform/waitable.h"

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;
constexpr std::uint32_t kConnectRetryMs = 100;

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path || path.find('\0') != std::string::npos) {
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// Milliseconds left until `deadline` (none: no limit), for poll.
int RemainingMs(const Clock::time_point* deadline) {
    if (!deadline) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 0x7FFFFFFF));
}

// Connects a new socket to `address`; the descriptor, or -1 with errno set.
int ConnectOnce(const sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

std::string LocalPipePath(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        return {};
    }
    const std::string folder = RuntimeDir();
    return folder.empty() ? std::string() : fs::Join(folder, name);
}

// ------------------------------------------------------------------ LocalPipe

LocalPipe::~LocalPipe() { Close(); }

LocalPipe::LocalPipe(LocalPipe&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

LocalPipe& LocalPipe::operator=(LocalPipe&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool LocalPipe::Write(const void* data, std::size_t size) {
    if (fd_ < 0) return false;
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd_, bytes, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

PipeStatus LocalPipe::Read(void* buffer, std::size_t capacity, std::size_t& received, int timeoutMs) {
    received = 0;
    if (fd_ < 0 || capacity == 0) return PipeStatus::Failed;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        pollfd entry{fd_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, timeoutMs < 0 ? -1 : RemainingMs(&deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return PipeStatus::Failed;
        }
        if (ready == 0) return PipeStatus::Timeout;
        const ssize_t n = ::recv(fd_, buffer, capacity, MSG_DONTWAIT);
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return PipeStatus::Ok;
        }
        if (n == 0) return PipeStatus::Closed;
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return (errno == ECONNRESET || errno == EPIPE) ? PipeStatus::Closed : PipeStatus::Failed;
    }
}

void LocalPipe::Shutdown() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void LocalPipe::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

long LocalPipe::PeerUid(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) {
        return -1;
    }
    return static_cast<long>(credentials.uid);
}

// ---------------------------------------------------------- LocalPipeListener

LocalPipeListener::~LocalPipeListener() { Close(); }

bool LocalPipeListener::Listen(const std::string& path) {
    Close();
    sockaddr_un address;
    if (!MakeAddress(path, address)) return false;

    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            errno = EEXIST;
            return false;
        }
        // A socket somebody still listens on belongs to a running program: leave it.
        const int probe = ConnectOnce(address);
        if (probe >= 0) {
            ::close(probe);
            errno = EADDRINUSE;
            return false;
        }
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    } else if (errno != ENOENT) {
        return false;
    }

    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        ::close(wake);
        return false;
    }
    // Nobody can connect before listen(), so the mode is right before the first peer.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        ::close(wake);
        errno = error;
        return false;
    }
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 4) != 0) {
        const int error = errno;
        ::close(fd);
        ::close(wake);
        ::unlink(path.c_str());
        errno = error;
        return false;
    }
    fd_ = fd;
    wake_ = wake;
    path_ = path;
    return true;
}

PipeStatus LocalPipeListener::Accept(LocalPipe& out, std::uint32_t timeoutMs, uid_t expectedUid) {
    if (fd_ < 0) return PipeStatus::Failed;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const Clock::time_point* limit = timeoutMs == kNoLimit ? nullptr : &deadline;
    for (;;) {
        pollfd entries[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
        const int ready = ::poll(entries, 2, RemainingMs(limit));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return PipeStatus::Failed;
        }
        if (entries[1].revents != 0) return PipeStatus::Closed;
        if (ready == 0) return PipeStatus::Timeout;
        const int peer = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED) continue;
            return PipeStatus::Failed;
        }
        if (LocalPipe::PeerUid(peer) != static_cast<long>(expectedUid)) {
            ::close(peer);  // another user's program: refused, keep waiting
            continue;
        }
        out = LocalPipe(peer);
        return PipeStatus::Ok;
    }
}

void LocalPipeListener::Shutdown() {
    if (wake_ < 0) return;
    const std::uint64_t one = 1;
    // The counter only grows; a full counter is readable already.
    while (::write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void LocalPipeListener::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(path_.c_str());
    }
    if (wake_ >= 0) {
        ::close(wake_);
        wake_ = -1;
    }
    path_.clear();
}

// ------------------------------------------------------------------ connect

PipeStatus ConnectLocalPipe(const std::string& path, LocalPipe& out, Event* cancel, std::uint32_t timeoutMs,
                            uid_t expectedUid) {
    sockaddr_un address;
    if (!MakeAddress(path, address)) return PipeStatus::Failed;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (cancel && cancel->IsSet()) return PipeStatus::Cancelled;
        const int fd = ConnectOnce(address);
        if (fd >= 0) {
            if (LocalPipe::PeerUid(fd) != static_cast<long>(expectedUid)) {
                ::close(fd);
                return PipeStatus::Failed;
            }
            out = LocalPipe(fd);
            return PipeStatus::Ok;
        }
        // Nobody listens yet (no socket file, or one left by a program that ended).
        if (errno != ENOENT && errno != ECONNREFUSED && errno != EAGAIN) return PipeStatus::Failed;

        std::uint32_t pause = kConnectRetryMs;
        if (timeoutMs != kNoLimit) {
            const int left = RemainingMs(&deadline);
            if (left == 0) return PipeStatus::Timeout;
            pause = std::min<std::uint32_t>(pause, static_cast<std::uint32_t>(left));
        }
        if (cancel) {
            if (cancel->Wait(pause)) return PipeStatus::Cancelled;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        }
    }
}

}  // namespace plat
