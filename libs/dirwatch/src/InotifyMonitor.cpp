// The inotify monitor thread: requests from the watcher, the wait on the kernel's event
// queues, and the translation of events into reports.
#include "InotifyMonitor.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "platform/text.h"

using namespace dirwatch;
using namespace dirwatch::detail;

namespace {

// How long a name that left a folder by a rename waits for its arrival record before it
// counts as moved out of the tree. The kernel queues both records in one rename, so the
// wait only bridges a read that fell between them.
constexpr auto kMoveGrace = std::chrono::milliseconds(20);

// The error a watch ends with when its root folder goes.
std::uint32_t RootLossCode(plat::FolderEvent::Kind kind) {
    using K = plat::FolderEvent::Kind;
    return kind == K::SelfMoved ? kErrorPathNotFound : kind == K::Unmounted ? kErrorNotReady : kErrorFileNotFound;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Requests

bool CDirectoryChangeWatcher::Monitor::Start() {
    try {
        if (!wake_.Ok()) throw std::system_error(EMFILE, std::generic_category());
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(lock_);
        running_ = false;
        return false;
    }
    return true;
}

bool CDirectoryChangeWatcher::Monitor::Running() const {
    std::lock_guard<std::mutex> lock(lock_);
    return running_;
}

void CDirectoryChangeWatcher::Monitor::Add(const std::shared_ptr<CDirWatchInfo>& watch) {
    Send({RequestKind::Add, watch});
}

void CDirectoryChangeWatcher::Monitor::Stop(const std::shared_ptr<CDirWatchInfo>& watch) {
    Send({RequestKind::Stop, watch});
}

void CDirectoryChangeWatcher::Monitor::Quit() {
    if (thread_.get_id() == std::this_thread::get_id()) return;
    Send({RequestKind::Quit, nullptr});
    if (thread_.joinable()) thread_.join();
}

void CDirectoryChangeWatcher::Monitor::SetPaused(bool paused) {
    Send({paused ? RequestKind::Pause : RequestKind::Resume, nullptr});
}

// Queues a request for the monitor thread and waits until it was carried out (at once,
// on this thread, when the monitor thread has ended).
void CDirectoryChangeWatcher::Monitor::Send(Request request) {
    std::unique_lock<std::mutex> lock(lock_);
    if (!running_) {
        lock.unlock();
        CarryOutAfterEnd(request);
        return;
    }
    const std::uint64_t ticket = ++posted_;
    requests_.push_back(std::move(request));
    wake_.Signal();
    done_.wait(lock, [&] { return completed_ >= ticket; });
}

void CDirectoryChangeWatcher::Monitor::Complete() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        ++completed_;
    }
    done_.notify_all();
}

void CDirectoryChangeWatcher::Monitor::CarryOutAfterEnd(const Request& request) {
    if (!request.watch) return;
    request.watch->events.Close();
    request.watch->ended = true;
    if (request.kind == RequestKind::Stop)
        request.watch->handler->Post(kWatchStopped, request.watch->directory);
    else
        request.watch->handler->Post(kWatchError, request.watch->directory, {}, kErrorNoThread);
}

// ---------------------------------------------------------------------------------------
// The thread

void CDirectoryChangeWatcher::Monitor::Run() {
    PollSet poll;
    for (;;) {
        FillPollSet(poll);
        if (const int error = plat::WaitReadable(poll.fds, poll.timeoutMs, poll.ready)) {
            EndAllWithError(SystemError(error));
            break;
        }
        if (poll.ready[0]) {
            wake_.Drain();
            if (!CarryOutRequests()) break;
        }
        if (paused_) continue;
        ServeReady(poll);
    }
    FailLeftRequests();
}

// The wake-up signal and, unless paused, every active watch; the wait ends in time for
// the earliest rename that waits for its arrival record.
void CDirectoryChangeWatcher::Monitor::FillPollSet(PollSet& poll) const {
    poll.fds.assign(1, wake_.Fd());
    poll.watches.clear();
    poll.timeoutMs = -1;
    if (paused_) return;
    const auto now = Clock::now();
    for (const auto& w : active_) {
        poll.fds.push_back(w->events.Fd());
        poll.watches.push_back(w);
        if (w->hasPendingFrom) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(w->pendingDeadline - now).count();
            const int ms = static_cast<int>(std::max<long long>(0, left));
            poll.timeoutMs = poll.timeoutMs < 0 ? ms : std::min(poll.timeoutMs, ms);
        }
    }
}

// Reads the watches whose queues are readable, and lets a rename whose grace is over
// count as moved out.
void CDirectoryChangeWatcher::Monitor::ServeReady(const PollSet& poll) {
    for (std::size_t i = 0; i < poll.watches.size(); ++i) {
        CDirWatchInfo& w = *poll.watches[i];
        if (w.ended) continue;
        if (poll.ready[i + 1]) ReadAndProcess(w);
        if (!w.ended && w.hasPendingFrom && Clock::now() >= w.pendingDeadline) FlushPendingFrom(w);
    }
}

// False when asked to quit.
bool CDirectoryChangeWatcher::Monitor::CarryOutRequests() {
    for (;;) {
        Request r;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (requests_.empty()) return true;
            r = std::move(requests_.front());
            requests_.pop_front();
        }
        switch (r.kind) {
        case RequestKind::Add:
            if (!r.watch->ended) active_.push_back(r.watch);  // a stop may have overtaken it
            break;
        case RequestKind::Stop: EndStopped(*r.watch); break;
        case RequestKind::Pause: paused_ = true; break;
        case RequestKind::Resume: paused_ = false; break;
        case RequestKind::Quit: Complete(); return false;
        }
        Complete();
    }
}

// The thread ends: requests that arrived meanwhile are carried out as after the end.
void CDirectoryChangeWatcher::Monitor::FailLeftRequests() {
    std::deque<Request> left;
    {
        std::lock_guard<std::mutex> lock(lock_);
        running_ = false;
        left.swap(requests_);
    }
    for (const Request& r : left) {
        CarryOutAfterEnd(r);
        Complete();
    }
}

// ---------------------------------------------------------------------------------------
// Ending watches

void CDirectoryChangeWatcher::Monitor::Deactivate(CDirWatchInfo& w) {
    active_.erase(std::remove_if(active_.begin(), active_.end(), [&](const auto& p) { return p.get() == &w; }),
                  active_.end());
    w.events.Close();
    w.ended = true;
}

void CDirectoryChangeWatcher::Monitor::EndStopped(CDirWatchInfo& w) {
    if (!w.ended) {
        if (w.hasPendingFrom) FlushPendingFrom(w);
        Deactivate(w);
    }
    w.handler->Post(kWatchStopped, w.directory);  // dropped when the watch already failed
}

// The watch cannot go on without losing changes: it ends, and the handler is told so that
// the program lists the folder again.
void CDirectoryChangeWatcher::Monitor::EndWithError(CDirWatchInfo& w, std::uint32_t code) {
    if (w.ended) return;
    Deactivate(w);
    owner_->RemoveEndedWatch(&w);  // gone before the handler hears of it
    w.handler->Post(kWatchError, w.directory, {}, code);
}

void CDirectoryChangeWatcher::Monitor::EndAllWithError(std::uint32_t code) {
    for (const auto& w : std::vector<std::shared_ptr<CDirWatchInfo>>(active_)) EndWithError(*w, code);
}

// ---------------------------------------------------------------------------------------
// Events

void CDirectoryChangeWatcher::Monitor::ReadAndProcess(CDirWatchInfo& w) {
    std::vector<plat::FolderEvent> events;
    if (const int error = w.events.Read(events)) {
        EndWithError(w, SystemError(error));
        return;
    }
    for (const plat::FolderEvent& e : events) {
        if (w.ended) return;
        Handle(w, e);
    }
}

void CDirectoryChangeWatcher::Monitor::Handle(CDirWatchInfo& w, const plat::FolderEvent& e) {
    using K = plat::FolderEvent::Kind;
    // Any record but the arrival of the name that left ends that name's wait.
    if (w.hasPendingFrom && !(e.kind == K::MovedTo && e.cookie == w.pendingFrom.cookie)) FlushPendingFrom(w);
    if (HandleWatchEvent(w, e)) return;
    if (e.name.empty()) return;  // the folder's own attributes
    const auto folder = w.folderOf.find(e.watch);
    if (folder == w.folderOf.end()) return;  // a folder no longer watched
    HandleItemEvent(w, e, JoinRelative(folder->second, e.name));
}

// Records about the kernel's watches themselves rather than an item; true when `e` was one.
bool CDirectoryChangeWatcher::Monitor::HandleWatchEvent(CDirWatchInfo& w, const plat::FolderEvent& e) {
    using K = plat::FolderEvent::Kind;
    switch (e.kind) {
    case K::Overflow: EndWithError(w, kErrorNotifyEnumDir); return true;
    case K::SelfDeleted:
    case K::SelfMoved:
    case K::Unmounted:
    case K::WatchGone:
        if (e.watch == w.rootWatch) {
            EndWithError(w, RootLossCode(e.kind));
        } else if (e.kind == K::WatchGone) {
            ForgetWatch(w, e.watch);
        }
        return true;  // a folder below the root: its parent's records tell what happened
    default: return false;
    }
}

void CDirectoryChangeWatcher::Monitor::HandleItemEvent(CDirWatchInfo& w, const plat::FolderEvent& e,
                                                       const std::string& relative) {
    using K = plat::FolderEvent::Kind;
    switch (e.kind) {
    case K::Created:
        Report(w, kAdded, relative);
        if (e.isFolder) FolderAppeared(w, relative);
        break;
    case K::Deleted:
        Report(w, kRemoved, relative);
        if (e.isFolder) ForgetTree(w, relative, false);
        break;
    case K::Modified: Report(w, kModified, relative); break;
    case K::MovedFrom: HoldMovedFrom(w, e, relative); break;
    case K::MovedTo: HandleMovedTo(w, e, relative); break;
    default: break;
    }
}

// A name left its folder by a rename: it waits for its arrival record.
void CDirectoryChangeWatcher::Monitor::HoldMovedFrom(CDirWatchInfo& w, const plat::FolderEvent& e,
                                                     const std::string& relative) {
    w.hasPendingFrom = true;
    w.pendingFrom = e;
    w.pendingRelative = relative;
    w.pendingDeadline = Clock::now() + kMoveGrace;
}

// A name arrived by a rename: paired with the name that left (same cookie) it is a
// rename in one folder or a move between folders; unpaired it came from outside the tree.
void CDirectoryChangeWatcher::Monitor::HandleMovedTo(CDirWatchInfo& w, const plat::FolderEvent& e,
                                                     const std::string& relative) {
    if (!w.hasPendingFrom) {
        Report(w, kAdded, relative);
        if (e.isFolder) FolderAppeared(w, relative);
        return;
    }
    w.hasPendingFrom = false;  // Handle let only the matching cookie through
    const std::string from = std::move(w.pendingRelative);
    const bool movedWatches = e.isFolder && MoveTree(w, from, relative);
    if (w.pendingFrom.watch == e.watch) {
        ReportRename(w, from, relative, e.isFolder);
    } else {
        Report(w, kRemoved, from);
        Report(w, kAdded, relative);
    }
    // A folder that was not watched under its old name (not text) is new to us.
    if (e.isFolder && !movedWatches) FolderAppeared(w, relative);
}

// The name that left is not coming back into the tree: it was removed.
void CDirectoryChangeWatcher::Monitor::FlushPendingFrom(CDirWatchInfo& w) {
    w.hasPendingFrom = false;
    Report(w, kRemoved, w.pendingRelative);
    if (w.pendingFrom.isFolder) ForgetTree(w, w.pendingRelative, true);
}

// A folder that appeared (created, or moved in from outside the tree): watch it and
// everything below it, and report what it already holds as added.
void CDirectoryChangeWatcher::Monitor::FolderAppeared(CDirWatchInfo& w, const std::string& relative) {
    if (!plat::IsValidUtf8(relative)) return;
    if (const std::uint32_t error = WatchTree(w, relative, true)) EndWithError(w, error);
}
