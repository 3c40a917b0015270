#pragma once
// The local file layer's folder watches on the program's directory change watcher.
//
// Each watched folder has its own record between the watcher and the sink. The watcher
// calls the record on its notification thread; the record hands the change on to the
// sink with UTF-8 paths (the folder as given, without a trailing '/', then '/' and the
// item's path below it). No lock of the bridge is held while a sink runs, so a sink may
// call IsWatching, Watch and Unwatch.
//
// Stopping. Unwatch closes the folder's record at once: a notification that has not
// reached the sink yet (still queued on the watcher) never does. Then Unwatch waits only
// for a sink call of that folder that is already running on another thread, and returns;
// after that no call reaches the sink, which may be destroyed. It never waits for the
// notification thread itself, nor for the sink calls of other folders: the watcher's own
// stop (which waits until the notification thread has delivered everything queued
// before it) runs on the bridge's retiring thread. A sink that unwatches its own folder
// from inside one of its calls is not waited for.
//
// The rule for callers. A thread may call Unwatch while it holds a lock that sinks take
// (the edit-task manager stops a watch under the mutex its change slots take): queued
// changes of that folder are dropped and other folders' sinks are not waited for, so
// nothing there can deadlock. What it must not do is hold such a lock while a call of
// *that folder's* sink may already be running and waiting for the lock: Unwatch has to
// wait for that call, and the call waits for the lock. A caller that cannot rule this
// out takes what the sink looks up (the task) off its lists under the lock, and calls
// Unwatch after releasing the lock; a late change then finds nothing to act on.
//
// Watch of a folder that is watched already replaces the old watch (the old sink hears
// nothing more once Watch has closed its record). The watcher stops an old watch of the
// folder that it still holds before it starts the new one, and that stop does wait for
// the notification thread: re-watching a folder is not for a thread holding such a lock.
//
// The watcher must outlive the bridge. The destructor stops every watch and waits for
// the watcher to let go of them all; do not destroy the bridge from a sink or while
// holding a lock that sinks take.
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "client/local/DirectoryWatchService.h"

class CDirectoryChangeWatcher;

class WatcherBridge : public DirectoryWatchService {
public:
    explicit WatcherBridge(CDirectoryChangeWatcher& watcher);
    ~WatcherBridge() override;
    WatcherBridge(const WatcherBridge&) = delete;
    WatcherBridge& operator=(const WatcherBridge&) = delete;

    // True from a successful Watch until Unwatch, or until the watch ended on an error
    // (reported to the sink through OnError).
    bool IsWatching(const std::string& folder) override;
    // Watches an absolute folder (not a link) with its subtree; false for a relative,
    // missing or non-UTF-8 path, a null sink, or when the watcher cannot watch it.
    bool Watch(const std::string& folder, DirectoryWatchSink* sink) override;
    // Stops the folder's watch as described above; false when the bridge holds no watch
    // of it (a watch that ended on an error is still held until Unwatch).
    bool Unwatch(const std::string& folder) override;

private:
    class Record;

    // Closes a record taken out of records_ and hands it to the retiring thread (or, while
    // its start is under way, to the Watch call starting it).
    void CloseAndRetire(std::shared_ptr<Record> record);
    // Hands a closed record to the retiring thread; called with lock_ held.
    void RetireLocked(std::shared_ptr<Record> record);
    // After a record's start: retires it when it was stopped meanwhile or did not start.
    void FinishStart(std::shared_ptr<Record> record, bool started);
    void RetireLoop();

    CDirectoryChangeWatcher& watcher_;
    std::mutex lock_;  // guards everything below
    std::map<std::string, std::shared_ptr<Record>> records_;  // by folder without trailing '/'
    std::deque<std::shared_ptr<Record>> retiring_;
    bool quitting_ = false;
    std::condition_variable retireWake_;
    std::thread retirer_;  // destroys retired records: the watcher lets go of them there
};
