#pragma once
// Directory change watcher: watches folders with their whole subtrees and reports each
// change as a call on a handler object.
//
// Threads: one monitor thread per watcher reads the kernel's folder events; one
// notification thread per watcher calls the handlers, in the order the changes happened.
// A handler is never called on the monitor thread nor on the thread that asked for the
// watch. Paths reach the handler as full UTF-16 paths: the watched folder as it was given
// (without a trailing '/'), '/', then the item's path below it.
//
// What is reported: a rename inside one folder is On_FileNameChanged (for a file followed
// by On_FileModified of the new name, since it may have replaced a file of that name, as
// an atomic save does); a move between folders, into or out of the tree is removed plus
// added; a folder that appears is reported with everything it already holds; links are
// reported as items and never entered; names that are not UTF-8 are passed over, as the
// scan passes them over. When changes could be lost (the kernel's queue overflowed, the
// watched folder was deleted, moved or unmounted, a new folder could not be watched) the
// watch ends with On_WatchError and the program lists the folder again.
//
// Stopping a watch (UnwatchPath, UnwatchHandler, UnwatchAll, the destructors) delivers
// whatever was queued for it and its On_WatchStopped, and returns only when no handler
// call of that watch is running or can follow, so the handler may be destroyed right
// after. A thread that stops a watch waits for the notification thread meanwhile: a
// handler must not block on that thread, unless that thread's messages are pumped through
// SetWaitPump.
#include <atomic>
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

class CDirectoryChangeWatcher;
class CDelayedDirectoryChangeHandler;

namespace dirwatch {

// System error codes of the watcher (0 = success).
inline constexpr std::uint32_t kErrorFileNotFound = 2;      // the watched folder was deleted
inline constexpr std::uint32_t kErrorPathNotFound = 3;      // the watched folder was moved away
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorNotReady = 21;         // its file system was unmounted
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorBadPathname = 161;     // not a folder
inline constexpr std::uint32_t kErrorNoThread = 164;
inline constexpr std::uint32_t kErrorNotifyEnumDir = 1022;  // events were lost: list the folder again
inline constexpr std::uint32_t kErrorNoSystemResources = 1450;

// Notification kinds (also the `action` passed to On_AcceptNotification).
inline constexpr std::uint32_t kAdded = 1;
inline constexpr std::uint32_t kRemoved = 2;
inline constexpr std::uint32_t kModified = 3;
inline constexpr std::uint32_t kNameChanged = 4;
inline constexpr std::uint32_t kWatchError = 5;
inline constexpr std::uint32_t kWatchStarted = 6;
inline constexpr std::uint32_t kWatchStopped = 7;

// Filter flags (the watcher's filter word, default kFileNameOnly).
inline constexpr std::uint32_t kNoWildcards = 1;        // no pattern tests
inline constexpr std::uint32_t kRelativeNames = 4;      // test names relative to the watched folder
inline constexpr std::uint32_t kFileNameOnly = 8;       // test the last path component alone
inline constexpr std::uint32_t kAskHandlerFirst = 16;   // On_AcceptNotification before the patterns
inline constexpr std::uint32_t kNeverAskHandler = 32;   // never On_AcceptNotification
inline constexpr std::uint32_t kNoStartNotice = 64;     // no On_WatchStarted
inline constexpr std::uint32_t kNoStopNotice = 128;     // no On_WatchStopped (any word >= 128)

// The exclude pattern every watch uses, whatever the caller passes.
inline constexpr char16_t kExcludedPattern[] = u"*.tmp";

}  // namespace dirwatch

// "*" matches any run of characters (none included), "?" any one character, everything
// else itself, case-sensitively; the whole text must match.
bool WildcardMatch(std::u16string_view text, std::u16string_view pattern);

// The interface through which a watch reports. Defaults do nothing, except that
// On_WatchError and a failed On_WatchStarted run the process-wide watch-failure action
// when one is installed (the sync program installs one that asks for a full rescan).
class CDirectoryChangeHandler {
public:
    CDirectoryChangeHandler() = default;
    // Stops every watch of this handler. A derived handler should call DetachFromWatcher
    // first thing in its own destructor, so that no call reaches a half-destroyed object.
    virtual ~CDirectoryChangeHandler();
    CDirectoryChangeHandler(const CDirectoryChangeHandler&) = delete;
    CDirectoryChangeHandler& operator=(const CDirectoryChangeHandler&) = delete;

    virtual void On_FileAdded(const std::u16string& path);
    virtual void On_FileRemoved(const std::u16string& path);
    virtual void On_FileNameChanged(const std::u16string& oldPath, const std::u16string& newPath);
    virtual void On_FileModified(const std::u16string& path);
    virtual void On_WatchError(std::uint32_t errorCode, const std::u16string& directory);
    virtual void On_WatchStarted(std::uint32_t status, const std::u16string& directory);
    virtual void On_WatchStopped(const std::u16string& directory);
    virtual bool On_AcceptNotification(std::uint32_t action, const std::u16string& name,
                                       const std::u16string& newName);

    // Records `watcher` as the one watching for this handler (a different watcher first
    // stops this handler's watches on the old one) and counts one watch. The watcher
    // calls this; returns the number of watches counted.
    int SetWatcher(CDirectoryChangeWatcher* watcher);
    // Stops every watch of this handler now.
    void DetachFromWatcher();
    // The watched folder of the change being reported (set before each call).
    std::u16string Directory() const;

    // The action of the default On_WatchError / failed On_WatchStarted for the whole
    // process; an empty function removes it.
    static void SetWatchFailureAction(std::function<void(std::uint32_t, const std::u16string&)> action);

private:
    friend class CDelayedDirectoryChangeHandler;
    void ReleaseWatch();
    void SetDirectory(const std::u16string& directory);

    mutable std::mutex lock_;
    CDirectoryChangeWatcher* watcher_ = nullptr;
    int watchCount_ = 0;
    std::u16string directory_;
};

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

class CDirectoryChangeWatcher {
public:
    class CDirWatchInfo;  // one watched folder (opaque)

    CDirectoryChangeWatcher();
    // Stops every watch and joins the watcher's threads.
    virtual ~CDirectoryChangeWatcher();
    CDirectoryChangeWatcher(const CDirectoryChangeWatcher&) = delete;
    CDirectoryChangeWatcher& operator=(const CDirectoryChangeWatcher&) = delete;

    // Starts watching `directory` (an absolute folder path; a link is not followed) with
    // its subtree for `handler`; 0 on success, else a system error code (87 bad
    // arguments, 123 a name that is not text, 161 not a folder, 164 no thread, or the
    // code of the failed system call). A folder already watched is unwatched first. The
    // notify filter, subtree flag and patterns are accepted and not used: every watch
    // reports names, attributes, sizes and writes in the whole subtree and excludes
    // "*.tmp".
    std::uint32_t WatchPath(const std::u16string& directory, std::uint32_t notifyFilter,
                            CDirectoryChangeHandler* handler, bool watchSubtree = true,
                            const std::u16string& includePatterns = {},
                            const std::u16string& excludePatterns = {});
    std::uint32_t WatchPath(const std::u16string& directory, CDirectoryChangeHandler* handler);

    // Stops the watch of that folder; false when it is not watched.
    bool UnwatchPath(const std::u16string& directory);
    // Stops every watch served by `handler`; true when at least one was stopped.
    bool UnwatchHandler(CDirectoryChangeHandler* handler);
    // Stops every watch and ends the watcher's threads; false when none ran.
    bool UnwatchAll();

    bool IsWatched(const std::u16string& directory) const;
    // The watch of that folder, or null. The record may end at any time: use the
    // answer as a yes or no only.
    CDirWatchInfo* FindWatchInfo(const std::u16string& directory, int* index = nullptr) const;

    // Filter word given to watches started afterwards (default dirwatch::kFileNameOnly).
    void SetFilterFlags(std::uint32_t flags);
    std::uint32_t FilterFlags() const;
    // The last folder passed to WatchPath.
    std::u16string LastDirectory() const;
    // Run repeatedly by a thread that waits for the notification thread while it stops
    // a watch (for instance to serve messages sent to that thread). Set before watching.
    void SetWaitPump(std::function<void()> pump);

    // Test seam: while paused the monitor thread reads no events (the kernel queues them).
    void PauseMonitorForTest(bool paused);

private:
    struct Monitor;

    std::uint32_t EnsureThreads();
    void StopWatch(const std::shared_ptr<CDirWatchInfo>& watch);
    std::vector<std::shared_ptr<CDirWatchInfo>> TakeWatches(const std::function<bool(CDirWatchInfo&)>& which);
    void RemoveEndedWatch(const CDirWatchInfo* watch);
    void DetachAll(const std::function<bool(CDelayedDirectoryChangeHandler&)>& which);
    std::function<void()> Pump() const;

    mutable std::recursive_mutex opLock_;  // serialises starting and ending the threads
    mutable std::mutex watchesLock_;       // guards watches_ and lastDirectory_
    std::vector<std::shared_ptr<CDirWatchInfo>> watches_;  // a slot is null when its watch ended
    std::u16string lastDirectory_;
    std::atomic<std::uint32_t> filterFlags_{dirwatch::kFileNameOnly};

    std::shared_ptr<Monitor> monitor_;
    std::shared_ptr<CDelayedNotificationThread> notifier_;
    std::vector<std::shared_ptr<CDelayedNotificationThread>> retired_;  // quit on their own thread

    mutable std::mutex delayedLock_;
    std::vector<std::weak_ptr<CDelayedDirectoryChangeHandler>> delayed_;

    mutable std::mutex pumpLock_;
    std::function<void()> pump_;
};
