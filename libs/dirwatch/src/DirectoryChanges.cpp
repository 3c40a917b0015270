#include "dirwatch/DirectoryChanges.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <system_error>
#include <unordered_map>

#include "platform/fileops.h"
#include "platform/inotify.h"
#include "platform/text.h"

using namespace dirwatch;

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting thread runs its pump.
constexpr auto kPumpSlice = std::chrono::milliseconds(10);
// How long a name that left a folder by a rename waits for its arrival record before it
// counts as moved out of the tree. The kernel queues both records in one rename, so the
// wait only bridges a read that fell between them.
constexpr auto kMoveGrace = std::chrono::milliseconds(20);

using FailureAction = std::function<void(std::uint32_t, const std::u16string&)>;

// The process-wide failure action. Never destroyed: a watcher owned by a global object
// may still report while the program's statics are being destroyed.
struct FailureActionSlot {
    std::mutex lock;
    FailureAction action;
};
FailureActionSlot& Failure() {
    static auto* slot = new FailureActionSlot;
    return *slot;
}

void RunFailureAction(std::uint32_t code, const std::u16string& directory) {
    FailureAction action;
    {
        std::lock_guard<std::mutex> lock(Failure().lock);
        action = Failure().action;
    }
    if (action) action(code, directory);
}

std::uint32_t SystemError(int error) {
    switch (error) {
    case 0: return 0;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorBadPathname;
    case EACCES:
    case EPERM: return kErrorAccessDenied;
    case ENOMEM: return kErrorNotEnoughMemory;
    case ENOSPC: return kErrorNoSystemResources;  // the per-user watch limit
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    default: return kErrorGenFailure;
    }
}

std::u16string TrimSeparators(const std::u16string& directory) {
    std::u16string d = directory;
    while (d.size() > 1 && d.back() == u'/') d.pop_back();
    return d;
}

// Waits until `done` holds; with a pump, runs it between short waits.
template <class Pred>
void WaitPumping(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Pred done,
                 const std::function<void()>& pump) {
    if (!pump) {
        cv.wait(lock, done);
        return;
    }
    while (!cv.wait_for(lock, kPumpSlice, done)) {
        lock.unlock();
        pump();
        lock.lock();
    }
}

std::string JoinRelative(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

bool IsTerminal(std::uint32_t kind, std::uint32_t code) {
    return kind == kWatchError || kind == kWatchStopped || (kind == kWatchStarted && code != 0);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Wildcards

bool WildcardMatch(std::u16string_view text, std::u16string_view pattern) {
    // Iterative match with one backtrack point for the last '*'.
    std::size_t t = 0, p = 0;
    std::size_t starP = std::u16string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || (pattern[p] != u'*' && pattern[p] == text[t]))) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starT = t;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

// ---------------------------------------------------------------------------------------
// Handler interface

CDirectoryChangeHandler::~CDirectoryChangeHandler() { DetachFromWatcher(); }

void CDirectoryChangeHandler::On_FileAdded(const std::u16string&) {}
void CDirectoryChangeHandler::On_FileRemoved(const std::u16string&) {}
void CDirectoryChangeHandler::On_FileNameChanged(const std::u16string&, const std::u16string&) {}
void CDirectoryChangeHandler::On_FileModified(const std::u16string&) {}

void CDirectoryChangeHandler::On_WatchError(std::uint32_t errorCode, const std::u16string& directory) {
    RunFailureAction(errorCode, directory);
}

void CDirectoryChangeHandler::On_WatchStarted(std::uint32_t status, const std::u16string& directory) {
    if (status != 0) RunFailureAction(status, directory);
}

void CDirectoryChangeHandler::On_WatchStopped(const std::u16string&) {}

bool CDirectoryChangeHandler::On_AcceptNotification(std::uint32_t, const std::u16string&, const std::u16string&) {
    return true;
}

int CDirectoryChangeHandler::SetWatcher(CDirectoryChangeWatcher* watcher) {
    CDirectoryChangeWatcher* old = nullptr;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (watcher_ != nullptr && watcher_ != watcher) old = watcher_;
    }
    if (old != nullptr) old->UnwatchHandler(this);
    std::lock_guard<std::mutex> lock(lock_);
    watcher_ = watcher;
    return ++watchCount_;
}

void CDirectoryChangeHandler::DetachFromWatcher() {
    CDirectoryChangeWatcher* watcher;
    {
        std::lock_guard<std::mutex> lock(lock_);
        watcher = watcher_;
    }
    if (watcher != nullptr) watcher->UnwatchHandler(this);
}

std::u16string CDirectoryChangeHandler::Directory() const {
    std::lock_guard<std::mutex> lock(lock_);
    return directory_;
}

void CDirectoryChangeHandler::SetWatchFailureAction(std::function<void(std::uint32_t, const std::u16string&)> action) {
    std::lock_guard<std::mutex> lock(Failure().lock);
    Failure().action = std::move(action);
}

void CDirectoryChangeHandler::ReleaseWatch() {
    std::lock_guard<std::mutex> lock(lock_);
    if (watchCount_ > 0 && --watchCount_ == 0) watcher_ = nullptr;
}

void CDirectoryChangeHandler::SetDirectory(const std::u16string& directory) {
    std::lock_guard<std::mutex> lock(lock_);
    directory_ = directory;
}

// ---------------------------------------------------------------------------------------
// Notification thread

CDelayedNotificationThread::CDelayedNotificationThread() : thread_([this] { Run(); }) {}

CDelayedNotificationThread::~CDelayedNotificationThread() { Quit(nullptr); }

void CDelayedNotificationThread::PostNotification(CDirChangeNotification notification) {
    std::unique_lock<std::mutex> lock(lock_);
    if (finished_) {
        lock.unlock();
        notification.handler->Discard(notification);
        return;
    }
    // A modification of a name whose modification is still waiting adds nothing: the
    // waiting one is delivered after this change happened.
    if (notification.kind == kModified && !queue_.empty()) {
        const CDirChangeNotification& last = queue_.back();
        if (last.kind == kModified && last.handler == notification.handler && last.name == notification.name) return;
    }
    queue_.push_back(std::move(notification));
    wake_.notify_all();
}

bool CDelayedNotificationThread::IsDeliveringThread() const {
    return std::this_thread::get_id() == thread_.get_id();
}

void CDelayedNotificationThread::Run() {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
        if (queue_.empty()) break;  // asked to quit and everything delivered
        CDirChangeNotification n = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        n.handler->Deliver(n);
        n = CDirChangeNotification();
        lock.lock();
    }
    finished_ = true;
    wake_.notify_all();
}

void CDelayedNotificationThread::Quit(const std::function<void()>& pump) {
    std::unique_lock<std::mutex> lock(lock_);
    quit_ = true;
    wake_.notify_all();
    if (IsDeliveringThread()) return;  // ends after the call in progress; joined later
    WaitPumping(lock, wake_, [this] { return finished_; }, pump);
    lock.unlock();
    if (thread_.joinable()) thread_.join();
}

// ---------------------------------------------------------------------------------------
// Delayed handler

CDelayedDirectoryChangeHandler::CDelayedDirectoryChangeHandler(CDirectoryChangeHandler* realHandler,
                                                               std::shared_ptr<CDelayedNotifier> notifier,
                                                               std::uint32_t filterFlags,
                                                               const std::u16string& directory)
    : original_(realHandler),
      notifier_(std::move(notifier)),
      filterFlags_(filterFlags),
      directory_(directory),
      real_(realHandler) {
    if (filterFlags_ & kRelativeNames)
        prefixLength_ = static_cast<std::uint32_t>(directory_.size() + (directory_.ends_with(u'/') ? 0 : 1));
    excludes_.emplace_back(kExcludedPattern);
}

void CDelayedDirectoryChangeHandler::Post(std::uint32_t kind, const std::u16string& name,
                                          const std::u16string& newName, std::uint32_t code) {
    CDirChangeNotification n;
    n.handler = shared_from_this();
    n.kind = kind;
    n.name = name;
    n.newName = newName;
    n.code = code;
    n.terminal = IsTerminal(kind, code);
    n.silent = (kind == kWatchStarted && (filterFlags_ & kNoStartNotice) != 0) ||
               (kind == kWatchStopped && filterFlags_ >= kNoStopNotice);
    if (n.terminal) {
        std::lock_guard<std::mutex> lock(stateLock_);
        if (lastPosted_) return;
        lastPosted_ = true;
    }
    notifier_->PostNotification(std::move(n));
}

void CDelayedDirectoryChangeHandler::Deliver(const CDirChangeNotification& n) {
    {
        std::lock_guard<std::recursive_timed_mutex> lock(deliveryLock_);
        if (real_ != nullptr && !n.silent && Accepts(n)) CallHandler(n);
    }
    if (n.terminal) FinishLast();
}

void CDelayedDirectoryChangeHandler::Discard(const CDirChangeNotification& n) {
    if (n.terminal) FinishLast();
}

void CDelayedDirectoryChangeHandler::CallHandler(const CDirChangeNotification& n) {
    real_->SetDirectory(directory_);
    try {
        switch (n.kind) {
        case kAdded: real_->On_FileAdded(n.name); break;
        case kRemoved: real_->On_FileRemoved(n.name); break;
        case kModified: real_->On_FileModified(n.name); break;
        case kNameChanged: real_->On_FileNameChanged(n.name, n.newName); break;
        case kWatchError: real_->On_WatchError(n.code, n.name); break;
        case kWatchStarted: real_->On_WatchStarted(n.code, n.name); break;
        case kWatchStopped: real_->On_WatchStopped(n.name); break;
        default: break;
        }
    } catch (...) {
        // A handler's failure must not end the delivery of later changes.
    }
}

bool CDelayedDirectoryChangeHandler::Passes(const std::u16string& name) const {
    std::u16string_view tested = name;
    if (filterFlags_ & kFileNameOnly) {
        const std::size_t slash = tested.find_last_of(u'/');
        if (slash != std::u16string_view::npos) tested.remove_prefix(slash + 1);
    } else if (filterFlags_ & kRelativeNames) {
        tested.remove_prefix(std::min<std::size_t>(prefixLength_, tested.size()));
    }
    if (!includes_.empty() &&
        std::none_of(includes_.begin(), includes_.end(), [&](const std::u16string& p) { return WildcardMatch(tested, p); }))
        return false;
    return std::none_of(excludes_.begin(), excludes_.end(),
                        [&](const std::u16string& p) { return WildcardMatch(tested, p); });
}

bool CDelayedDirectoryChangeHandler::Accepts(const CDirChangeNotification& n) {
    if (n.kind == kWatchError || n.kind == kWatchStarted || n.kind == kWatchStopped) return true;
    const std::uint32_t f = filterFlags_;
    if ((f & kNoWildcards) && (f & kNeverAskHandler)) return true;
    auto ask = [&] { return real_ == nullptr || real_->On_AcceptNotification(n.kind, n.name, n.newName); };
    if ((f & kAskHandlerFirst) && !(f & kNeverAskHandler) && !ask()) return false;
    if (!(f & kNoWildcards)) {
        const bool passes = Passes(n.name) || (n.kind == kNameChanged && Passes(n.newName));
        if (!passes) return false;
    }
    if (f & (kAskHandlerFirst | kNeverAskHandler)) return true;
    return ask();
}

bool CDelayedDirectoryChangeHandler::LastPosted() const {
    std::lock_guard<std::mutex> lock(stateLock_);
    return lastPosted_;
}

void CDelayedDirectoryChangeHandler::FinishLast() {
    {
        std::lock_guard<std::recursive_timed_mutex> lock(deliveryLock_);
        if (real_ != nullptr && !released_) {
            real_->ReleaseWatch();
            released_ = true;
        }
        real_ = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        lastDone_ = true;
    }
    stateChanged_.notify_all();
}

void CDelayedDirectoryChangeHandler::WaitForLast(const std::function<void()>& pump) {
    std::unique_lock<std::mutex> lock(stateLock_);
    WaitPumping(lock, stateChanged_, [this] { return lastDone_; }, pump);
}

void CDelayedDirectoryChangeHandler::DeliverStopHere() {
    {
        std::lock_guard<std::recursive_timed_mutex> lock(deliveryLock_);
        if (real_ != nullptr && filterFlags_ < kNoStopNotice) {
            CDirChangeNotification n;
            n.kind = kWatchStopped;
            n.name = directory_;
            CallHandler(n);
        }
    }
    FinishLast();
}

void CDelayedDirectoryChangeHandler::Detach(const std::function<void()>& pump) {
    std::unique_lock<std::recursive_timed_mutex> lock(deliveryLock_, std::defer_lock);
    if (pump && !OnDeliveringThread()) {
        while (!lock.try_lock_for(kPumpSlice)) pump();
    } else {
        lock.lock();  // recursive: a handler detaching itself gets it at once
    }
    if (real_ != nullptr && !released_) {
        real_->ReleaseWatch();
        released_ = true;
    }
    real_ = nullptr;
}

// ---------------------------------------------------------------------------------------
// Watch records and the monitor thread

class CDirectoryChangeWatcher::CDirWatchInfo {
public:
    CDirWatchInfo(const std::u16string& dir, const std::string& dir8)
        : directory(dir), root8(dir8) {
        prefix16 = directory == u"/" ? directory : directory + u"/";
        prefix8 = root8 == "/" ? root8 : root8 + "/";
    }

    std::string PathOf(const std::string& relative) const { return relative.empty() ? root8 : prefix8 + relative; }

    const std::u16string directory;  // as reported: without a trailing separator
    std::u16string prefix16;
    const std::string root8;
    std::string prefix8;
    std::shared_ptr<CDelayedDirectoryChangeHandler> handler;
    std::weak_ptr<Monitor> monitor;

    // Owned by the thread that sets the watch up, then by the monitor thread.
    plat::FolderEvents events;
    int rootWatch = -1;
    std::unordered_map<int, std::string> folderOf;  // kernel watch -> folder relative to the root
    std::map<std::string, int> watchOf;             // folder relative to the root -> kernel watch
    bool ended = false;
    bool hasPendingFrom = false;
    plat::FolderEvent pendingFrom;
    std::string pendingRelative;
    Clock::time_point pendingDeadline;
};

namespace {

using WatchInfo = CDirectoryChangeWatcher::CDirWatchInfo;

void Report(WatchInfo& w, std::uint32_t kind, const std::string& relative) {
    std::u16string r;
    if (!plat::Utf8ToUtf16(relative, r)) return;  // not text: unknown to the program, this record only
    w.handler->Post(kind, w.prefix16 + r);
}

// A same-folder rename. Only the name that is text is reported when the other is not.
// An arriving file may have replaced one of its name (an atomic save): inotify does not
// tell, so a file's rename is followed by a modification of the new name.
void ReportRename(WatchInfo& w, const std::string& oldRelative, const std::string& newRelative, bool isFolder) {
    std::u16string o, n;
    const bool oldOk = plat::Utf8ToUtf16(oldRelative, o);
    const bool newOk = plat::Utf8ToUtf16(newRelative, n);
    if (oldOk && newOk) {
        w.handler->Post(kNameChanged, w.prefix16 + o, w.prefix16 + n);
        if (!isFolder) w.handler->Post(kModified, w.prefix16 + n);
    } else if (newOk) {
        w.handler->Post(kAdded, w.prefix16 + n);
    } else if (oldOk) {
        w.handler->Post(kRemoved, w.prefix16 + o);
    }
}

void ForgetWatch(WatchInfo& w, int watch) {
    const auto it = w.folderOf.find(watch);
    if (it == w.folderOf.end()) return;
    const auto p = w.watchOf.find(it->second);
    if (p != w.watchOf.end() && p->second == watch) w.watchOf.erase(p);
    w.folderOf.erase(it);
}

void Register(WatchInfo& w, int watch, const std::string& relative) {
    ForgetWatch(w, watch);  // the same folder seen under an older path
    w.folderOf[watch] = relative;
    w.watchOf[relative] = watch;
}

// The watches of a folder and of every folder below it.
std::vector<std::pair<std::string, int>> WatchesBelow(const WatchInfo& w, const std::string& relative) {
    std::vector<std::pair<std::string, int>> found;
    const auto exact = w.watchOf.find(relative);
    if (exact != w.watchOf.end()) found.emplace_back(*exact);
    const std::string prefix = relative + "/";
    for (auto it = w.watchOf.lower_bound(prefix); it != w.watchOf.end() && it->first.starts_with(prefix); ++it)
        found.emplace_back(*it);
    return found;
}

void ForgetTree(WatchInfo& w, const std::string& relative, bool unwatch) {
    for (const auto& [path, watch] : WatchesBelow(w, relative)) {
        ForgetWatch(w, watch);
        if (unwatch) w.events.Unwatch(watch);
    }
}

// Carries the watches of a renamed folder over to its new path; false when it had none.
bool MoveTree(WatchInfo& w, const std::string& from, const std::string& to) {
    const auto moved = WatchesBelow(w, from);
    for (const auto& [path, watch] : moved) ForgetWatch(w, watch);
    for (const auto& [path, watch] : moved) Register(w, watch, to + path.substr(from.size()));
    return !moved.empty();
}

// Watches `start` and every folder below it. With `report`, everything found below
// `start` is reported as added (the folder appeared with content already in it). Folders
// that vanish meanwhile, cannot be read or whose names are not text are passed over, as
// the scan passes them over; other failures end the walk with their system error.
std::uint32_t WatchTree(WatchInfo& w, const std::string& start, bool report) {
    std::vector<std::string> pending{start};
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        const bool isStart = folder == start;
        int watch = -1;
        if (const int error = w.events.WatchFolder(w.PathOf(folder), watch)) {
            const bool passOver = error == ENOENT || error == ENOTDIR || error == EACCES;
            if (passOver && !(isStart && !report)) continue;
            return SystemError(error);
        }
        Register(w, watch, folder);
        if (folder.empty()) w.rootWatch = watch;
        std::vector<plat::fs::Entry> entries;
        if (!plat::fs::ListDirectory(w.PathOf(folder), entries)) {
            if (isStart && !report) return SystemError(errno);
            continue;
        }
        for (const plat::fs::Entry& e : entries) {
            if (!plat::IsValidUtf8(e.name)) continue;
            const std::string child = JoinRelative(folder, e.name);
            if (report) Report(w, kAdded, child);
            if (e.kind == plat::fs::Kind::Directory) pending.push_back(child);
        }
    }
    return 0;
}

}  // namespace

struct CDirectoryChangeWatcher::Monitor {
    enum class RequestKind { Add, Stop, Pause, Resume, Quit };
    struct Request {
        RequestKind kind;
        std::shared_ptr<CDirWatchInfo> watch;
    };

    explicit Monitor(CDirectoryChangeWatcher* owner) : owner_(owner) {}

    bool Start() {
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

    bool Running() const {
        std::lock_guard<std::mutex> lock(lock_);
        return running_;
    }

    void Add(const std::shared_ptr<CDirWatchInfo>& watch) { Send({RequestKind::Add, watch}); }
    void Stop(const std::shared_ptr<CDirWatchInfo>& watch) { Send({RequestKind::Stop, watch}); }

    void Quit() {
        if (thread_.get_id() == std::this_thread::get_id()) return;
        Send({RequestKind::Quit, nullptr});
        if (thread_.joinable()) thread_.join();
    }

    // Returns once the monitor thread has taken the request in.
    void SetPaused(bool paused) { Send({paused ? RequestKind::Pause : RequestKind::Resume, nullptr}); }

private:
    // Queues a request for the monitor thread and waits until it was carried out (at
    // once, on this thread, when the monitor thread has ended).
    void Send(Request request) {
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

    void Complete() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            ++completed_;
        }
        done_.notify_all();
    }

    static void CarryOutAfterEnd(const Request& request) {
        if (!request.watch) return;
        request.watch->events.Close();
        request.watch->ended = true;
        if (request.kind == RequestKind::Stop)
            request.watch->handler->Post(kWatchStopped, request.watch->directory);
        else
            request.watch->handler->Post(kWatchError, request.watch->directory, {}, kErrorNoThread);
    }

    void Run() {
        std::vector<int> fds;
        std::vector<bool> ready;
        std::vector<std::shared_ptr<CDirWatchInfo>> polled;
        for (;;) {
            fds.assign(1, wake_.Fd());
            polled.clear();
            int timeout = -1;
            if (!paused_) {
                const auto now = Clock::now();
                for (const auto& w : active_) {
                    fds.push_back(w->events.Fd());
                    polled.push_back(w);
                    if (w->hasPendingFrom) {
                        const auto left = std::chrono::ceil<std::chrono::milliseconds>(w->pendingDeadline - now).count();
                        const int ms = static_cast<int>(std::max<long long>(0, left));
                        timeout = timeout < 0 ? ms : std::min(timeout, ms);
                    }
                }
            }
            if (const int error = plat::WaitReadable(fds, timeout, ready)) {
                for (const auto& w : std::vector<std::shared_ptr<CDirWatchInfo>>(active_)) EndWithError(*w, SystemError(error));
                break;
            }
            if (ready[0]) {
                wake_.Drain();
                if (!CarryOutRequests()) break;
            }
            if (paused_) continue;
            for (std::size_t i = 0; i < polled.size(); ++i) {
                CDirWatchInfo& w = *polled[i];
                if (w.ended) continue;
                if (ready[i + 1]) ReadAndProcess(w);
                if (!w.ended && w.hasPendingFrom && Clock::now() >= w.pendingDeadline) FlushPendingFrom(w);
            }
        }
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

    // False when asked to quit.
    bool CarryOutRequests() {
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

    void Deactivate(CDirWatchInfo& w) {
        active_.erase(std::remove_if(active_.begin(), active_.end(), [&](const auto& p) { return p.get() == &w; }),
                      active_.end());
        w.events.Close();
        w.ended = true;
    }

    void EndStopped(CDirWatchInfo& w) {
        if (!w.ended) {
            if (w.hasPendingFrom) FlushPendingFrom(w);
            Deactivate(w);
        }
        w.handler->Post(kWatchStopped, w.directory);  // dropped when the watch already failed
    }

    // The watch cannot go on without losing changes: it ends, and the handler is told so
    // that the program lists the folder again.
    void EndWithError(CDirWatchInfo& w, std::uint32_t code) {
        if (w.ended) return;
        Deactivate(w);
        owner_->RemoveEndedWatch(&w);  // gone before the handler hears of it
        w.handler->Post(kWatchError, w.directory, {}, code);
    }

    void ReadAndProcess(CDirWatchInfo& w) {
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

    void FlushPendingFrom(CDirWatchInfo& w) {
        w.hasPendingFrom = false;
        Report(w, kRemoved, w.pendingRelative);
        if (w.pendingFrom.isFolder) ForgetTree(w, w.pendingRelative, true);
    }

    // A folder that appeared (created, or moved in from outside the tree): watch it and
    // everything below it, and report what it already holds as added.
    void FolderAppeared(CDirWatchInfo& w, const std::string& relative) {
        if (!plat::IsValidUtf8(relative)) return;
        if (const std::uint32_t error = WatchTree(w, relative, true)) EndWithError(w, error);
    }

    void Handle(CDirWatchInfo& w, const plat::FolderEvent& e) {
        using K = plat::FolderEvent::Kind;
        if (w.hasPendingFrom && !(e.kind == K::MovedTo && e.cookie == w.pendingFrom.cookie)) FlushPendingFrom(w);
        switch (e.kind) {
        case K::Overflow: EndWithError(w, kErrorNotifyEnumDir); return;
        case K::SelfDeleted:
        case K::SelfMoved:
        case K::Unmounted:
        case K::WatchGone:
            if (e.watch == w.rootWatch) {
                EndWithError(w, e.kind == K::SelfMoved ? kErrorPathNotFound
                                : e.kind == K::Unmounted ? kErrorNotReady
                                                         : kErrorFileNotFound);
            } else if (e.kind == K::WatchGone) {
                ForgetWatch(w, e.watch);
            }
            return;  // a folder below the root: its parent's records tell what happened
        default: break;
        }
        if (e.name.empty()) return;  // the folder's own attributes
        const auto folder = w.folderOf.find(e.watch);
        if (folder == w.folderOf.end()) return;  // a folder no longer watched
        const std::string relative = JoinRelative(folder->second, e.name);
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
        case K::MovedFrom:
            w.hasPendingFrom = true;
            w.pendingFrom = e;
            w.pendingRelative = relative;
            w.pendingDeadline = Clock::now() + kMoveGrace;
            break;
        case K::MovedTo:
            if (w.hasPendingFrom) {  // the cookie matched
                w.hasPendingFrom = false;
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
            } else {
                Report(w, kAdded, relative);
                if (e.isFolder) FolderAppeared(w, relative);
            }
            break;
        default: break;
        }
    }

    CDirectoryChangeWatcher* const owner_;
    plat::WakeSignal wake_;
    mutable std::mutex lock_;
    std::condition_variable done_;
    std::deque<Request> requests_;
    std::uint64_t posted_ = 0;
    std::uint64_t completed_ = 0;
    bool running_ = true;
    bool paused_ = false;  // monitor thread only
    std::vector<std::shared_ptr<CDirWatchInfo>> active_;  // monitor thread only
    std::thread thread_;
};

// ---------------------------------------------------------------------------------------
// Watcher

CDirectoryChangeWatcher::CDirectoryChangeWatcher() = default;

CDirectoryChangeWatcher::~CDirectoryChangeWatcher() {
    UnwatchAll();
    std::vector<std::shared_ptr<CDelayedNotificationThread>> retired;
    {
        std::lock_guard<std::recursive_mutex> lock(opLock_);
        retired.swap(retired_);
    }
    for (const auto& n : retired) n->Quit(Pump());
}

std::uint32_t CDirectoryChangeWatcher::EnsureThreads() {
    if (monitor_ && monitor_->Running()) return 0;
    if (monitor_) {
        monitor_->Quit();
        monitor_.reset();
    }
    try {
        if (!notifier_) notifier_ = std::make_shared<CDelayedNotificationThread>();
        auto monitor = std::make_shared<Monitor>(this);
        if (!monitor->Start()) return kErrorNoThread;
        monitor_ = std::move(monitor);
    } catch (const std::system_error&) {
        return kErrorNoThread;
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    return 0;
}

std::uint32_t CDirectoryChangeWatcher::WatchPath(const std::u16string& directory, std::uint32_t,
                                                 CDirectoryChangeHandler* handler, bool, const std::u16string&,
                                                 const std::u16string&) {
    if (directory.empty() || handler == nullptr) return kErrorInvalidParameter;
    const std::u16string dir = TrimSeparators(directory);
    std::string dir8;
    if (dir.find(u'\0') != std::u16string::npos || !plat::Utf16ToUtf8(dir, dir8)) return kErrorInvalidName;
    if (dir8.front() != '/' || plat::fs::GetKind(dir8) != plat::fs::Kind::Directory) return kErrorBadPathname;

    UnwatchPath(dir);

    std::lock_guard<std::recursive_mutex> op(opLock_);
    {
        std::lock_guard<std::mutex> lock(watchesLock_);
        lastDirectory_ = directory;
    }
    if (const std::uint32_t error = EnsureThreads()) return error;

    auto watch = std::make_shared<CDirWatchInfo>(dir, dir8);
    watch->handler = std::make_shared<CDelayedDirectoryChangeHandler>(handler, notifier_, filterFlags_.load(), dir);
    watch->monitor = monitor_;
    {
        std::lock_guard<std::mutex> lock(delayedLock_);
        std::erase_if(delayed_, [](const auto& d) { return d.expired(); });
        delayed_.push_back(watch->handler);
    }
    handler->SetWatcher(this);

    std::uint32_t error = SystemError(watch->events.Open());
    if (error == 0) error = WatchTree(*watch, std::string(), false);
    if (error != 0) {
        watch->events.Close();
        watch->handler->Post(kWatchStarted, dir, {}, error);
        return error;
    }
    watch->handler->Post(kWatchStarted, dir, {}, 0);
    {
        std::lock_guard<std::mutex> lock(watchesLock_);
        const auto freeSlot = std::find(watches_.begin(), watches_.end(), nullptr);
        if (freeSlot != watches_.end())
            *freeSlot = watch;
        else
            watches_.push_back(watch);
    }
    monitor_->Add(watch);
    return 0;
}

std::uint32_t CDirectoryChangeWatcher::WatchPath(const std::u16string& directory, CDirectoryChangeHandler* handler) {
    return WatchPath(directory, 0x1F, handler, true, {}, {});
}

std::vector<std::shared_ptr<CDirectoryChangeWatcher::CDirWatchInfo>> CDirectoryChangeWatcher::TakeWatches(
    const std::function<bool(CDirWatchInfo&)>& which) {
    std::vector<std::shared_ptr<CDirWatchInfo>> taken;
    std::lock_guard<std::mutex> lock(watchesLock_);
    for (auto& slot : watches_) {
        if (slot && which(*slot)) taken.push_back(std::move(slot));
    }
    return taken;  // the slots they held are null now
}

void CDirectoryChangeWatcher::RemoveEndedWatch(const CDirWatchInfo* watch) {
    std::lock_guard<std::mutex> lock(watchesLock_);
    for (auto& slot : watches_) {
        if (slot.get() == watch) slot.reset();
    }
}

void CDirectoryChangeWatcher::StopWatch(const std::shared_ptr<CDirWatchInfo>& watch) {
    const std::function<void()> pump = Pump();
    if (const auto monitor = watch->monitor.lock())
        monitor->Stop(watch);
    else if (!watch->ended) {
        watch->events.Close();
        watch->ended = true;
        watch->handler->Post(kWatchStopped, watch->directory);
    }
    CDelayedDirectoryChangeHandler& delayed = *watch->handler;
    if (delayed.OnDeliveringThread())
        delayed.DeliverStopHere();
    else
        delayed.WaitForLast(pump);
    delayed.Detach(pump);
}

void CDirectoryChangeWatcher::DetachAll(const std::function<bool(CDelayedDirectoryChangeHandler&)>& which) {
    std::vector<std::shared_ptr<CDelayedDirectoryChangeHandler>> found;
    {
        std::lock_guard<std::mutex> lock(delayedLock_);
        for (const auto& weak : delayed_) {
            if (auto d = weak.lock(); d && which(*d)) found.push_back(std::move(d));
        }
    }
    const std::function<void()> pump = Pump();
    for (const auto& d : found) d->Detach(pump);
}

bool CDirectoryChangeWatcher::UnwatchPath(const std::u16string& directory) {
    const std::u16string dir = TrimSeparators(directory);
    const auto taken = TakeWatches([&](CDirWatchInfo& w) { return w.directory == dir; });
    for (const auto& w : taken) StopWatch(w);
    return !taken.empty();
}

bool CDirectoryChangeWatcher::UnwatchHandler(CDirectoryChangeHandler* handler) {
    const auto taken = TakeWatches([&](CDirWatchInfo& w) { return w.handler->OriginalHandler() == handler; });
    for (const auto& w : taken) StopWatch(w);
    // Watches that already ended on an error may still have a report queued for it.
    DetachAll([&](CDelayedDirectoryChangeHandler& d) { return d.OriginalHandler() == handler; });
    return !taken.empty();
}

bool CDirectoryChangeWatcher::UnwatchAll() {
    std::shared_ptr<Monitor> monitor;
    std::shared_ptr<CDelayedNotificationThread> notifier;
    {
        std::lock_guard<std::recursive_mutex> op(opLock_);
        monitor = std::move(monitor_);
        notifier = std::move(notifier_);
    }
    const auto taken = TakeWatches([](CDirWatchInfo&) { return true; });
    for (const auto& w : taken) StopWatch(w);
    if (monitor) monitor->Quit();
    const std::function<void()> pump = Pump();
    if (notifier) {
        notifier->Quit(pump);
        if (notifier->IsDeliveringThread()) {
            std::lock_guard<std::recursive_mutex> op(opLock_);
            retired_.push_back(notifier);
        }
        DetachAll([&](CDelayedDirectoryChangeHandler& d) { return d.UsesNotifier(notifier.get()); });
    }
    // Notification threads that were asked to end from their own thread earlier.
    std::vector<std::shared_ptr<CDelayedNotificationThread>> retired;
    {
        std::lock_guard<std::recursive_mutex> op(opLock_);
        for (auto it = retired_.begin(); it != retired_.end();) {
            if ((*it)->IsDeliveringThread()) {
                ++it;
            } else {
                retired.push_back(std::move(*it));
                it = retired_.erase(it);
            }
        }
    }
    for (const auto& n : retired) n->Quit(pump);
    return monitor != nullptr;
}

bool CDirectoryChangeWatcher::IsWatched(const std::u16string& directory) const {
    return FindWatchInfo(directory) != nullptr;
}

CDirectoryChangeWatcher::CDirWatchInfo* CDirectoryChangeWatcher::FindWatchInfo(const std::u16string& directory,
                                                                               int* index) const {
    const std::u16string dir = TrimSeparators(directory);
    std::lock_guard<std::mutex> lock(watchesLock_);
    for (std::size_t i = 0; i < watches_.size(); ++i) {
        if (watches_[i] && watches_[i]->directory == dir) {
            if (index != nullptr) *index = static_cast<int>(i);
            return watches_[i].get();
        }
    }
    return nullptr;
}

void CDirectoryChangeWatcher::SetFilterFlags(std::uint32_t flags) { filterFlags_ = flags; }

std::uint32_t CDirectoryChangeWatcher::FilterFlags() const { return filterFlags_; }

std::u16string CDirectoryChangeWatcher::LastDirectory() const {
    std::lock_guard<std::mutex> lock(watchesLock_);
    return lastDirectory_;
}

void CDirectoryChangeWatcher::SetWaitPump(std::function<void()> pump) {
    std::lock_guard<std::mutex> lock(pumpLock_);
    pump_ = std::move(pump);
}

std::function<void()> CDirectoryChangeWatcher::Pump() const {
    std::lock_guard<std::mutex> lock(pumpLock_);
    return pump_;
}

void CDirectoryChangeWatcher::PauseMonitorForTest(bool paused) {
    std::lock_guard<std::recursive_mutex> op(opLock_);
    if (monitor_) monitor_->SetPaused(paused);
}
