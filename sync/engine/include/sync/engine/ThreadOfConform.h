#pragma once
// The reconciliation thread: one handler per command, each a step of a sync cycle over
// the application's trees (see Reconcile.h for the steps themselves).
//
//   THREAD_CMD_RUN, THREAD_CMD_BUILD  OnBuildHandler   build the unified tree, derive tasks
//   THREAD_CMD_DRIVER                 OnDriverHandler  apply queued local changes
//   THREAD_CMD_HASH                   OnHashHandler    digest changed local files, re-judge
//   THREAD_CMD_SERVER                 OnServerHandler  merge the newest server listing
//   THREAD_CMD_MATCH                  OnMatchHandler   folder digests and move/copy matching
//
// A handler returns non-zero when its step was done; the thread then calls the main
// window's OnGammaConform itself (after its done event is set), which decides (and posts)
// the next command. The command loop is CWorkerLoop's: commands that arrive while the
// thread is paused are dropped. Tree work waits on {quit, break (and abort, suspend where
// a step says so), treeLock}; a quit or break ends the handler with 0 without touching
// the trees.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "sync/common/WorkerLoop.h"
#include "sync/engine/EngineContext.h"
#include "sync/engine/EngineFs.h"
#include "sync/engine/Reconcile.h"

class CThreadOfConform : public CWorkerLoop {
public:
    // Running phase (CONFORM_PHASE): which handler runs.
    enum Phase : std::uint32_t {
        kPhaseIdle = 0,
        kPhaseBuild = 1,
        kPhaseLocalChanges = 2,
        kPhaseHash = 3,
        kPhaseServerChanges = 4,
        kPhaseMatch = 5,
    };

    // `app` and `dialog` are handed back to the thread with THREAD_CMD_BIND.
    CThreadOfConform(SyncApp* app, SyncWindow* dialog);
    ~CThreadOfConform() override;

    std::uint32_t OnBuildHandler();
    std::uint32_t OnDriverHandler();
    std::uint32_t OnHashHandler();
    std::uint32_t OnServerHandler();
    std::uint32_t OnMatchHandler();

    // Coalesces a batch of local change records against the sync folder's disk `fs`; the
    // local scan thread's change intake uses it too. `driverRoot` (may be null) tells what
    // kind an item had before it was replaced.
    static void SortLocalChanges(LocalChangeBatch& list, EngineFs& fs, const FileNode* driverRoot);
    // The same for the application this thread was made for (its disk and Driver tree);
    // callable from the local scan thread while it owns the Driver tree.
    void SortLocalChanges(LocalChangeBatch& list);

    // Replaces the disk and the clock (tests); call before Start. The disk must be rooted
    // at the sync folder by its owner. Null restores the real ones (the thread's own disk
    // is rooted at the application's sync folder at the bind and before every step). The
    // objects must outlive the thread.
    void SetEnvironment(EngineFs* fs, EngineClock* clock);

    SyncApp* app = nullptr;
    SyncWindow* dialog = nullptr;
    // The application's local scan worker as it stands now (the main window replaces it);
    // null before the bind or when there is none.
    CThreadOfDriver* CurrentDriver() const;
    // Set by a step that found a conflict; 0 once RenameConflicts ran (and between steps).
    std::uint32_t conflictPending = 0;
    // Non-zero exactly while a handler runs (Phase); read by the main window.
    std::atomic<std::uint32_t> CONFORM_PHASE{kPhaseIdle};

protected:
    bool Bind() override;
    bool IsPassCommand(std::uint32_t command) const override;
    void PreparePass(std::uint32_t command) override;
    std::uint32_t RunPass(std::uint32_t command) override;
    void AfterPass(std::uint32_t command, std::uint32_t result) override;
    // The local scan thread's hash pass, with this thread as the stop owner.
    virtual bool HashLocalFiles();

private:
    void RefreshRoot();
    Reconciler MakeReconciler();
    // Waits for {quit, [suspend], break, [abort], treeLock}; true when the tree lock was
    // taken (the caller releases it).
    bool LockTrees(bool withAbort, bool withSuspend);
    // Both commit threads idle (waited for); false when a quit, break or abort came.
    bool CommitThreadsIdle();

    DiskEngineFs diskFs_;
    SteadyEngineClock steadyClock_;
    EngineFs* fs_ = &diskFs_;
    EngineClock* clock_ = &steadyClock_;
};
