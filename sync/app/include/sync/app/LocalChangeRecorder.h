#pragma once
// Local change recording: the handler of the sync folder's directory watch. Each change
// the watcher reports becomes one record in the application's change queue
// (SyncApp::localChanges: paths relative to the sync folder with '\\' separators and a
// leading '\\', lower-case keys, the time it was queued), unless it is the echo of the
// commit-to-local thread's own operation (LocalChangeFilter.h). Every change breaks off a
// running server inventory and aborts the commit threads' current step; a change that
// meets an operation a commit thread has recorded but not sent makes that thread let go
// of the item, and for the commit-to-server thread asks the window to replace it should
// it not become idle. Every queued change (re)arms the window's debounce timer, so the
// cycle takes the queue up once the folder is quiet.
//
// Who calls it: the directory watcher, on its notification thread (the On_File* calls);
// the main window owns the recorder for its whole life and COrvaneApp::StartWatch watches
// the sync folder with it. The window calls AwayReplaceServed on its own thread once it
// served a replacement request.
//
// Threads: the recorder touches the change queue under SyncApp::changeListLock, the
// operation records as snapshots, the workers' events under the worker slot lock, and
// otherwise only its hooks, which must not block (they arm a timer or post a message).
//
// Paths: the watcher reports full paths in UTF-16; each is turned into its record path
// (UTF-8, below the watched folder) here, once, and the change goes on in that form only.
// The recorder looks at the disk only through the watched folder's EngineFs (the stamp of
// a file the commit-to-local thread placed), with that record path.
//
// What is never lost: a change inside the sync folder is queued unless it is the
// program's own echo; a change outside the folder or with a name that is not text is
// logged and never queued under a wrong path. An item whose name holds '\\' (legal here,
// the records' separator) is recorded as unknown, logged once, and never queued: it is
// never uploaded, never taken for another item, and never becomes a server delete. The
// timer is armed also while the reconciliation thread applies local changes, so that a
// record arriving after it took its batch is still handed over. A replacement request is
// posted once and asked again only after the window served it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "dirwatch/DirectoryChangeHandler.h"
#include "sync/app/PhaseDriver.h"
#include "sync/engine/EngineContext.h"
#include "sync/engine/EngineFs.h"

class LocalChangeRecorder final : public CDirectoryChangeHandler {
public:
    // What the recorder asks of the window; called on the watcher's notification thread.
    struct Hooks {
        // The folder the watch reports below (full path, no trailing '/').
        std::function<std::u16string()> watchedFolder;
        // (Re)arms the debounce timer of the local changes.
        std::function<void()> armTimer;
        // Asks the window's thread to replace the commit-to-server thread if it is busy.
        std::function<void()> replaceAway;
    };

    // `slotLock` guards the worker slots of `app` (WorkerRoster::SlotLock()).
    LocalChangeRecorder(SyncApp& app, std::mutex& slotLock, Hooks hooks);
    ~LocalChangeRecorder() override;

    void On_FileAdded(const std::u16string& path) override;
    void On_FileRemoved(const std::u16string& path) override;
    void On_FileNameChanged(const std::u16string& oldPath, const std::u16string& newPath) override;
    void On_FileModified(const std::u16string& path) override;

    // The window has taken up the replacement request: the next conflict may ask again.
    void AwayReplaceServed() { awayReplaceQueued_ = false; }

private:
    void RecordChange(std::uint32_t kind, const std::u16string& path, const std::u16string& newPath);
    // A change that involves a name holding '\\' (paths as on disk): such an item is
    // unknown (SyncApp::driverUnknown), never queued under a path that names another
    // item. True when a change of the other, syncable name is left to queue (`kind` and
    // the paths are rewritten to it).
    bool KeepOutUnsyncableName(std::uint32_t& kind, std::string& diskPath, std::string& newDiskPath);
    // `folder`: the watched folder the change was reported below.
    bool ValidityCheck(const LocalChangeRecord& change, const std::u16string& folder);
    void ConflictCheck(const LocalChangeRecord& change);
    void ResetWatchTimer();

    SyncApp& app_;
    std::mutex& slotLock_;
    const Hooks hooks_;
    std::mutex throttleLock_;
    phase::RestartThrottle watchThrottle_;
    std::atomic<bool> awayReplaceQueued_{false};
    // The watched folder's disk, rooted at `rootedAt_` (the watcher's thread only).
    DiskEngineFs disk_;
    std::u16string rootedAt_;
};
