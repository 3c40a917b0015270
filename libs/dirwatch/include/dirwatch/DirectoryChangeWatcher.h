#pragma once
// The directory change watcher: starts and stops watches of folders with their whole
// subtrees, each served by a CDirectoryChangeHandler.
//
// Who calls it, on which thread: any thread may start or stop a watch. The watcher keeps
// two threads of its own, made with the first watch and ended by UnwatchAll or the
// destructor: the monitor thread, which reads the kernel's events of every watch, and the
// notification thread (DelayedDelivery.h), which calls the handlers.
//
// What is never lost: a watch that was started ends with one last notification to its
// handler: On_WatchStopped when it is stopped (unless the filter word turns the stop
// notice off), On_WatchError when it cannot go on without losing changes (the handler
// then lists the folder again). A stop returns only after that notification was
// delivered and when no handler call of the watch runs or can follow. A thread that
// stops a watch waits for the notification thread meanwhile: a handler must not block on
// the stopping thread, unless that thread's messages are pumped through SetWaitPump.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dirwatch/DirectoryChangeHandler.h"
#include "dirwatch/WatchCodes.h"

class CDelayedDirectoryChangeHandler;
class CDelayedNotificationThread;

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
    struct Monitor;  // the inotify monitor thread (src/InotifyMonitor.h)

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
