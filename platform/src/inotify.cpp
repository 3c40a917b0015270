#include "platform/inotify.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace plat {

namespace {

constexpr std::uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE |
                                      IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                      IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

// Room for many events per read; one event takes at most sizeof(inotify_event) + NAME_MAX + 1.
constexpr std::size_t kReadBuffer = 64 * 1024;

void Append(std::vector<FolderEvent>& out, const inotify_event& raw, FolderEvent::Kind kind, bool withName) {
    FolderEvent e;
    e.kind = kind;
    e.watch = raw.wd;
    e.isFolder = (raw.mask & IN_ISDIR) != 0;
    e.cookie = raw.cookie;
    if (withName && raw.len > 0) e.name.assign(raw.name, ::strnlen(raw.name, raw.len));
    out.push_back(std::move(e));
}

// One kernel record may carry several bits; each becomes its own event, named events
// first and the watch's end last.
void Decode(const inotify_event& raw, std::vector<FolderEvent>& out) {
    using K = FolderEvent::Kind;
    if (raw.mask & IN_Q_OVERFLOW) {
        FolderEvent e;
        e.kind = K::Overflow;
        out.push_back(e);
        return;
    }
    if (raw.mask & IN_CREATE) Append(out, raw, K::Created, true);
    if (raw.mask & IN_MOVED_FROM) Append(out, raw, K::MovedFrom, true);
    if (raw.mask & IN_MOVED_TO) Append(out, raw, K::MovedTo, true);
    if (raw.mask & (IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE)) Append(out, raw, K::Modified, true);
    if (raw.mask & IN_DELETE) Append(out, raw, K::Deleted, true);
    if (raw.mask & IN_DELETE_SELF) Append(out, raw, K::SelfDeleted, false);
    if (raw.mask & IN_MOVE_SELF) Append(out, raw, K::SelfMoved, false);
    if (raw.mask & IN_UNMOUNT) Append(out, raw, K::Unmounted, false);
    if (raw.mask & IN_IGNORED) Append(out, raw, K::WatchGone, false);
}

}  // namespace

FolderEvents::~FolderEvents() { Close(); }

int FolderEvents::Open() {
    if (fd_ >= 0) return 0;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    return fd_ >= 0 ? 0 : errno;
}

void FolderEvents::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int FolderEvents::WatchFolder(const std::string& path, int& watch) {
    watch = -1;
    if (fd_ < 0) return EBADF;
    const int wd = ::inotify_add_watch(fd_, path.c_str(), kFolderMask);
    if (wd < 0) return errno;
    watch = wd;
    return 0;
}

void FolderEvents::Unwatch(int watch) {
    if (fd_ >= 0 && watch >= 0) ::inotify_rm_watch(fd_, watch);
}

int FolderEvents::Read(std::vector<FolderEvent>& out) {
    out.clear();
    if (fd_ < 0) return EBADF;
    // Heap memory is aligned enough for the records.
    if (buffer_.empty()) buffer_.resize(kReadBuffer);
    char* buffer = buffer_.data();
    ssize_t n;
    do {
        n = ::read(fd_, buffer, buffer_.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN ? 0 : errno;
    const std::size_t total = static_cast<std::size_t>(n);
    std::size_t offset = 0;
    while (offset + sizeof(inotify_event) <= total) {
        const auto* raw = reinterpret_cast<const inotify_event*>(buffer + offset);
        const std::size_t next = offset + sizeof(inotify_event) + raw->len;
        if (next > total) break;  // the kernel returns whole records only
        Decode(*raw, out);
        offset = next;
    }
    return 0;
}

WakeSignal::WakeSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeSignal::~WakeSignal() {
    if (fd_ >= 0) ::close(fd_);
}

void WakeSignal::Signal() {
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(fd_, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

void WakeSignal::Drain() {
    std::uint64_t value;
    while (::read(fd_, &value, sizeof value) > 0) {
    }
}

int WaitReadable(const std::vector<int>& fds, int timeoutMs, std::vector<bool>& ready) {
    std::vector<pollfd> polls(fds.size());
    for (std::size_t i = 0; i < fds.size(); ++i) polls[i] = pollfd{fds[i], POLLIN, 0};
    ready.assign(fds.size(), false);
    int rc;
    do {
        rc = ::poll(polls.data(), polls.size(), timeoutMs < 0 ? -1 : timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return errno;
    for (std::size_t i = 0; i < fds.size(); ++i)
        ready[i] = (polls[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
    return 0;
}

}  // namespace plat
