#pragma once
// Folder change events from the kernel (inotify), one instance per watched tree, and the
// small poll helpers a monitor thread needs. Folder watches never follow a symbolic link
// and only ever take folders. Results are errno values (0 = success).
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct FolderEvent {
    enum class Kind {
        Created,      // a name appeared in the folder
        Deleted,      // a name disappeared
        Modified,     // content, attributes or a write-close of a name
        MovedFrom,    // a name left the folder by a rename (pairs with MovedTo by cookie)
        MovedTo,      // a name arrived by a rename
        SelfDeleted,  // the watched folder itself was deleted
        SelfMoved,    // the watched folder itself was renamed or moved
        Unmounted,    // the file system holding the folder went away
        WatchGone,    // the kernel dropped the watch (after a delete, unmount or Unwatch)
        Overflow,     // the kernel queue overflowed: events were lost
    };
    Kind kind = Kind::Modified;
    int watch = -1;        // the folder watch the event belongs to; -1 for Overflow
    bool isFolder = false; // the named item is a folder
    std::uint32_t cookie = 0;
    std::string name;      // the item's name in the folder; empty for events on the folder itself
};

class FolderEvents {
public:
    FolderEvents() = default;
    ~FolderEvents();
    FolderEvents(const FolderEvents&) = delete;
    FolderEvents& operator=(const FolderEvents&) = delete;

    // Creates the (non-blocking, close-on-exec) instance.
    int Open();
    bool IsOpen() const { return fd_ >= 0; }
    void Close();
    // Descriptor to poll for readability.
    int Fd() const { return fd_; }

    // Watches one folder for names created, deleted, modified, moved and for the folder
    // itself going away. ENOTDIR for anything but a folder (a link to a folder included).
    int WatchFolder(const std::string& path, int& watch);
    void Unwatch(int watch);

    // Reads the events available now (at most one buffer of them) without blocking; an
    // empty result when none are waiting.
    int Read(std::vector<FolderEvent>& out);

private:
    int fd_ = -1;
    std::vector<char> buffer_;
};

// A wake-up signal for a thread waiting in WaitReadable (an eventfd).
class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Signal();
    void Drain();

private:
    int fd_ = -1;
};

// Waits until one of `fds` is readable or `timeoutMs` passes (negative: no limit);
// `ready[i]` tells whether fds[i] is readable. 0, or the errno of the failure.
int WaitReadable(const std::vector<int>& fds, int timeoutMs, std::vector<bool>& ready);

}  // namespace plat
