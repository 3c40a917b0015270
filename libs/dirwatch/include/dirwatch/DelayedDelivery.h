#pragma once
// Delayed delivery: how a watch's reports travel from the monitor thread that reads the
// kernel's events to the caller's handler.
//
// The monitor thread posts each report to the watch's CDelayedDirectoryChangeHandler
// (Post, any thread), which queues it on a CDelayedNotifier. The notifier's own thread
// (CDelayedNotificationThread: one per watcher) takes the reports in the order they were
// posted and hands each back to its delayed handler (Deliver), which tests it against
// the filter word and the patterns and calls the caller's handler. So the monitor thread
// never waits for a handler, and a handler never runs on the monitor thread.
//
// What is never lost: a watch's last notification (watch error, watch stopped, or a
// failed start) is queued exactly once and always delivered or, when the notifier has
// ended, discarded with the same bookkeeping, so a thread waiting for it (WaitForLast)
// always wakes. A queued modification absorbs only an identical one behind it, which
// adds nothing. Once Detach returns no call reaches the caller's handler any more.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dirwatch/DirectoryChangeHandler.h"
#include "dirwatch/WatchCodes.h"

// "*" matches any run of characters (none included), "?" any one character, everything
// else itself, case-sensitively; the whole text must match.
bool WildcardMatch(std::u16string_view text, std::u16string_view pattern);

// One queued notification.
struct CDirChangeNotification {
    std::shared_ptr<CDelayedDirectoryChangeHandler> handler;
    std::uint32_t kind = 0;
    std::u16string name;
    std::u16string newName;  // renames only
    std::uint32_t code = 0;  // error code or start status
    bool silent = false;     // start or stop notice the filter word turned off
    bool terminal = false;   // the watch's last notification
};

// Carries notifications to the thread that delivers them.
class CDelayedNotifier {
public:
    virtual ~CDelayedNotifier() = default;
    virtual void PostNotification(CDirChangeNotification notification) = 0;
    // True on the delivering thread itself.
    virtual bool IsDeliveringThread() const = 0;
};

// A thread of its own that delivers notifications in the order they were posted. An
// identical modification that is still queued absorbs a new one.
class CDelayedNotificationThread final : public CDelayedNotifier {
public:
    CDelayedNotificationThread();
    ~CDelayedNotificationThread() override;
    void PostNotification(CDirChangeNotification notification) override;
    bool IsDeliveringThread() const override;
    // Delivers what is queued, then ends the thread (joined unless called on it). While
    // waiting, `pump` runs every few milliseconds when given.
    void Quit(const std::function<void()>& pump);

private:
    void Run();

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::deque<CDirChangeNotification> queue_;
    bool quit_ = false;
    bool finished_ = false;
    std::thread thread_;
};

// Wraps the caller's handler for one watch: queues the watch's reports to the notifier
// and, on the notifier's thread, filters them and calls the caller's handler.
class CDelayedDirectoryChangeHandler : public std::enable_shared_from_this<CDelayedDirectoryChangeHandler> {
public:
    CDelayedDirectoryChangeHandler(CDirectoryChangeHandler* realHandler, std::shared_ptr<CDelayedNotifier> notifier,
                                   std::uint32_t filterFlags, const std::u16string& directory);

    // Queues a notification (any thread). Watch error, watch stopped and a failed watch
    // start are the watch's last; only the first of them is queued.
    void Post(std::uint32_t kind, const std::u16string& name, const std::u16string& newName = {},
              std::uint32_t code = 0);
    // On the notifier's thread: filter and call the caller's handler.
    void Deliver(const CDirChangeNotification& notification);
    // Drops a notification that cannot be delivered any more (keeps the bookkeeping).
    void Discard(const CDirChangeNotification& notification);
    // The pattern and handler tests of the filter word.
    bool Accepts(const CDirChangeNotification& notification);

    bool LastPosted() const;
    // Waits until the watch's last notification has been delivered or dropped.
    void WaitForLast(const std::function<void()>& pump);
    // On the notifier's own thread: delivers the stop notice at once.
    void DeliverStopHere();
    // No further calls reach the caller's handler; waits for a call in progress (unless
    // on that call's own thread) and releases the handler's watch count.
    void Detach(const std::function<void()>& pump);

    // True on the thread that delivers this watch's notifications.
    bool OnDeliveringThread() const { return notifier_->IsDeliveringThread(); }
    bool UsesNotifier(const CDelayedNotifier* notifier) const { return notifier_.get() == notifier; }
    CDirectoryChangeHandler* OriginalHandler() const { return original_; }
    const std::u16string& Directory() const { return directory_; }
    std::uint32_t FilterFlags() const { return filterFlags_; }
    std::uint32_t PrefixLength() const { return prefixLength_; }

private:
    void CallHandler(const CDirChangeNotification& n);
    void FinishLast();
    bool Passes(const std::u16string& name) const;

    CDirectoryChangeHandler* const original_;
    std::shared_ptr<CDelayedNotifier> notifier_;
    const std::uint32_t filterFlags_;
    const std::u16string directory_;
    std::uint32_t prefixLength_ = 0;
    std::vector<std::u16string> includes_;
    std::vector<std::u16string> excludes_;

    std::recursive_timed_mutex deliveryLock_;  // held around every call of the real handler
    CDirectoryChangeHandler* real_;           // guarded by deliveryLock_; null once detached
    bool released_ = false;                   // guarded by deliveryLock_

    mutable std::mutex stateLock_;
    std::condition_variable stateChanged_;
    bool lastPosted_ = false;
    bool lastDone_ = false;
};
