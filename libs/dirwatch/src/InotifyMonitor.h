#pragma once
// The inotify monitor thread of a watcher (private to the library).
//
// One thread per watcher reads the kernel's events of every active watch and turns them
// into reports to each watch's delayed handler: a rename inside one folder is paired by
// cookie into one name change; a move between folders, into or out of the tree is removed
// plus added; a folder that appears is watched with everything below it and its content
// reported as added. A name that left by a rename waits a short grace for its arrival
// record before it counts as moved out.
//
// Who calls it: the watcher, on any thread, through Add, Stop, SetPaused and Quit. Each
// is a request that the monitor thread carries out; the call returns once it was carried
// out, or carries it out itself when the thread has ended.
//
// What is never lost: a watch whose changes could be lost (the kernel's queue overflowed,
// the watched folder went, a new folder could not be watched, the wait failed) ends with
// a watch error, and the watch is dropped from the watcher before its handler hears of
// it. A request that finds the thread ended ends its watch (a stop as stopped, an add as
// a watch error), so every watch gets its last report.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "WatchedTree.h"
#include "dirwatch/DirectoryChangeWatcher.h"
#include "platform/inotify.h"

struct CDirectoryChangeWatcher::Monitor {
    explicit Monitor(CDirectoryChangeWatcher* owner) : owner_(owner) {}

    // Starts the thread; false when it (or its wake-up signal) cannot be made.
    bool Start();
    bool Running() const;

    void Add(const std::shared_ptr<CDirWatchInfo>& watch);
    // Ends the watch on the monitor thread; its stop notice is posted.
    void Stop(const std::shared_ptr<CDirWatchInfo>& watch);
    // Ends the thread and joins it (nothing when called on the monitor thread itself).
    void Quit();
    // Returns once the monitor thread has taken the request in.
    void SetPaused(bool paused);

private:
    enum class RequestKind { Add, Stop, Pause, Resume, Quit };
    struct Request {
        RequestKind kind;
        std::shared_ptr<CDirWatchInfo> watch;
    };
    // What one wait looks at: the wake-up signal first, then each polled watch.
    struct PollSet {
        std::vector<int> fds;
        std::vector<bool> ready;
        std::vector<std::shared_ptr<CDirWatchInfo>> watches;
        int timeoutMs = -1;
    };

    // ---- requests (any thread) ----
    void Send(Request request);
    void Complete();
    static void CarryOutAfterEnd(const Request& request);

    // ---- the thread ----
    void Run();
    void FillPollSet(PollSet& poll) const;
    void ServeReady(const PollSet& poll);
    bool CarryOutRequests();
    void FailLeftRequests();

    // ---- ending watches ----
    void Deactivate(CDirWatchInfo& w);
    void EndStopped(CDirWatchInfo& w);
    void EndWithError(CDirWatchInfo& w, std::uint32_t code);
    void EndAllWithError(std::uint32_t code);

    // ---- events ----
    void ReadAndProcess(CDirWatchInfo& w);
    void Handle(CDirWatchInfo& w, const plat::FolderEvent& e);
    bool HandleWatchEvent(CDirWatchInfo& w, const plat::FolderEvent& e);
    void HandleItemEvent(CDirWatchInfo& w, const plat::FolderEvent& e, const std::string& relative);
    void HoldMovedFrom(CDirWatchInfo& w, const plat::FolderEvent& e, const std::string& relative);
    void HandleMovedTo(CDirWatchInfo& w, const plat::FolderEvent& e, const std::string& relative);
    void FlushPendingFrom(CDirWatchInfo& w);
    void FolderAppeared(CDirWatchInfo& w, const std::string& relative);

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
