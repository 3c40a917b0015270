// Delayed delivery: the notification thread, and the per-watch handler that queues a
// watch's reports on it and filters and delivers them there.
#include "dirwatch/DelayedDelivery.h"

#include <algorithm>
#include <chrono>

using namespace dirwatch;

namespace {

// How often a waiting thread runs its pump.
constexpr auto kPumpSlice = std::chrono::milliseconds(10);

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

// The watch's last notification: an error, the stop, or a start that failed.
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
