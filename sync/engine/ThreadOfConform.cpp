#include "sync/engine/ThreadOfConform.h"

#include <log4cpp/Category.hh>

#include <vector>

#include "sync/common/BaseFunc.h"
#include "sync/common/FolderDigest.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/ThreadOfDriver.h"

namespace {

// Releases the tree lock taken by LockTrees.
class TreeLockHold {
public:
    explicit TreeLockHold(plat::WaitableMutex* lock) : lock_(lock) {}
    ~TreeLockHold() {
        if (lock_ != nullptr) lock_->Unlock();
    }
    TreeLockHold(const TreeLockHold&) = delete;
    TreeLockHold& operator=(const TreeLockHold&) = delete;

private:
    plat::WaitableMutex* lock_;
};

}  // namespace

CThreadOfConform::CThreadOfConform(SyncApp* appObject, SyncWindow* window)
    : CWorkerLoop(appObject, window, u"CThreadOfConform") {}

CThreadOfConform::~CThreadOfConform() { StopAndWait(); }

CThreadOfDriver* CThreadOfConform::CurrentDriver() const {
    if (app == nullptr) return nullptr;
    // The main window replaces the worker under this lock.
    std::lock_guard<std::mutex> slots(app->workerSlotLock);
    return app->driverThread;
}

void CThreadOfConform::SetEnvironment(EngineFs* fs, EngineClock* clock) {
    fs_ = fs != nullptr ? fs : &diskFs_;
    clock_ = clock != nullptr ? clock : &steadyClock_;
}

bool CThreadOfConform::Bind() {
    app = static_cast<SyncApp*>(param1);
    dialog = static_cast<SyncWindow*>(param2);
    if (app == nullptr || dialog == nullptr) return false;
    RefreshRoot();
    return true;
}

bool CThreadOfConform::IsPassCommand(std::uint32_t command) const {
    switch (command) {
        case THREAD_CMD_RUN:
        case THREAD_CMD_BUILD:
        case THREAD_CMD_DRIVER:
        case THREAD_CMD_HASH:
        case THREAD_CMD_SERVER:
        case THREAD_CMD_MATCH:
            return true;
        default:
            return false;
    }
}

void CThreadOfConform::PreparePass(std::uint32_t command) {
    if (command == THREAD_CMD_RUN || command == THREAD_CMD_BUILD) RefreshRoot();
}

std::uint32_t CThreadOfConform::RunPass(std::uint32_t command) {
    std::uint32_t result = 0;
    switch (command) {
        case THREAD_CMD_DRIVER:
            CONFORM_PHASE = kPhaseLocalChanges;
            result = OnDriverHandler();
            break;
        case THREAD_CMD_HASH:
            CONFORM_PHASE = kPhaseHash;
            result = OnHashHandler();
            break;
        case THREAD_CMD_SERVER:
            CONFORM_PHASE = kPhaseServerChanges;
            result = OnServerHandler();
            break;
        case THREAD_CMD_MATCH:
            CONFORM_PHASE = kPhaseMatch;
            result = OnMatchHandler();
            break;
        default:
            CONFORM_PHASE = kPhaseBuild;
            result = OnBuildHandler();
            break;
    }
    CONFORM_PHASE = kPhaseIdle;
    return result;
}

void CThreadOfConform::AfterPass(std::uint32_t, std::uint32_t result) {
    if (result != 0) dialog->OnGammaConform(0, 0);
}

void CThreadOfConform::RefreshRoot() {
    if (app != nullptr) diskFs_.SetRoot(app->syncFolder);
}

Reconciler CThreadOfConform::MakeReconciler() {
    Reconciler reconciler(*fs_, *clock_);
    reconciler.announce = &app->homeOperation;
    reconciler.unknown = &app->driverUnknown;
    reconciler.owner = this;
    return reconciler;
}

bool CThreadOfConform::LockTrees(bool withAbort, bool withSuspend) {
    std::vector<plat::Waitable*> objects;
    if (g_pTerminateEvent != nullptr) objects.push_back(g_pTerminateEvent);
    if (withSuspend && g_pSuspendEvent != nullptr) objects.push_back(g_pSuspendEvent);
    objects.push_back(&breakEvent);
    if (withAbort) objects.push_back(&abortEvent);
    objects.push_back(&app->treeLock);
    const std::uint32_t result = plat::WaitAny(objects, plat::kInfinite);
    return result == objects.size() - 1;
}

bool CThreadOfConform::CommitThreadsIdle() {
    for (plat::Event* done : {app->AwayDoneEvent(), app->HomeDoneEvent()}) {
        if (done != nullptr && WaitForPeer(done) != 3) return false;
    }
    return true;
}

bool CThreadOfConform::HashLocalFiles() {
    CThreadOfDriver* driver = CurrentDriver();
    return driver != nullptr && driver->HashOnRunHandler(this);
}

std::uint32_t CThreadOfConform::OnBuildHandler() {
    if (!LockTrees(false, false)) return 0;
    TreeLockHold hold(&app->treeLock);
    Reconciler reconciler = MakeReconciler();
    const auto checkpoint = [this](int line) {
        return !IsStopResult(CheckBreak("CThreadOfConform::OnBuildHandler", line));
    };
    const bool built = reconciler.BuildCycle(&app->DriverTree, &app->ServerTree, &app->TracerTree,
                                             &app->UniformTree, checkpoint);
    conflictPending = 0;
    if (!built) return 0;
    dialog->reconcileState = 1;
    return 1;
}

std::uint32_t CThreadOfConform::OnDriverHandler() {
    SyncLog().debug("call CThreadOfConform::OnDriverHandler");
    RefreshRoot();
    if (!CommitThreadsIdle()) return 0;
    bool applied = false;
    const auto stop = [this] { return IsStopResult(PollBreak()); };
    while (!stop()) {
        LocalChangeBatch batch;
        if (!TakeQuietLocalChanges(app->changeListLock, app->localChanges, *clock_, *fs_, stop, batch)) {
            break;
        }
        bool done = false;
        {
            std::lock_guard<std::recursive_mutex> edit(app->treeEditLock);
            if (LockTrees(false, false)) {
                TreeLockHold hold(&app->treeLock);
                Reconciler reconciler = MakeReconciler();
                reconciler.SortLocalChanges(batch, &app->DriverTree);
                if (!batch.empty()) {
                    applied = true;
                    reconciler.ApplyLocalChange(batch, &app->DriverTree, &app->UniformTree);
                }
                done = true;
            }
        }
        if (!done) {
            // Broken off before the trees could be taken: the records go back to the
            // front of the queue for the next step, in their order.
            std::lock_guard<std::mutex> queue(app->changeListLock);
            app->localChanges.insert(app->localChanges.begin(), std::make_move_iterator(batch.begin()),
                                     std::make_move_iterator(batch.end()));
            break;
        }
    }
    if (!applied) return 0;
    dialog->localListingState = 1;
    return 1;
}

std::uint32_t CThreadOfConform::OnHashHandler() {
    SyncLog().debug("call CThreadOfConform::OnHashHandler");
    RefreshRoot();
    if (IsStopResult(PollBreak())) return 0;
    HashLocalFiles();
    if (!LockTrees(true, false)) return 0;
    TreeLockHold hold(&app->treeLock);
    Reconciler reconciler = MakeReconciler();
    reconciler.RelinkPendingLocal(&app->UniformTree);
    if (reconciler.conflictPending != 0) reconciler.RenameConflicts(&app->UniformTree);
    conflictPending = 0;
    dialog->localListingState = 2;
    return 1;
}

std::uint32_t CThreadOfConform::OnServerHandler() {
    SyncLog().debug("call CThreadOfConform::OnServerHandler");
    RefreshRoot();
    if (!CommitThreadsIdle()) return 0;
    if (!LockTrees(true, false)) return 0;
    TreeLockHold hold(&app->treeLock);
    if (IsStopResult(PollBreak())) return 0;
    Reconciler reconciler = MakeReconciler();
    reconciler.MergeServerListing(&app->WaiterTree, &app->UniformTree);
    if (IsStopResult(PollBreak())) return 0;
    if (reconciler.conflictPending != 0) reconciler.RenameConflicts(&app->UniformTree);
    conflictPending = 0;
    dialog->serverListingState = 2;
    return 1;
}

std::uint32_t CThreadOfConform::OnMatchHandler() {
    SyncLog().debug("call CThreadOfConform::OnMatchHandler");
    RefreshRoot();
    const auto stop = [this] { return IsStopResult(PollSuspend()); };
    if (stop()) return 0;
    // The folder digests are written into the shared trees, so they are computed under
    // the tree lock as well.
    if (!LockTrees(true, true)) return 0;
    TreeLockHold hold(&app->treeLock);
    BaseFunc::ComputeFolderChecksum(&app->DriverTree);
    if (stop()) return 0;
    BaseFunc::ComputeFolderChecksum(&app->ServerTree);
    if (stop()) return 0;
    const std::string& localRoot = app->DriverTree.data->checksum;
    const std::string& serverRoot = app->ServerTree.data->checksum;
    if (!localRoot.empty() && !serverRoot.empty() && BaseFunc::EqualNoCase(localRoot, serverRoot)) {
        dialog->reconcileState = 2;
        return 1;
    }
    Reconciler reconciler = MakeReconciler();
    reconciler.ClearDuties(&app->UniformTree);
    for (int pass = 1; pass <= 2; ++pass) {
        if (stop()) return 0;
        reconciler.MatchPass(&app->UniformTree, pass);
    }
    if (stop()) return 0;
    dialog->reconcileState = 2;
    return 1;
}

void CThreadOfConform::SortLocalChanges(LocalChangeBatch& list, EngineFs& fs, const FileNode* driverRoot) {
    SteadyEngineClock clock;
    Reconciler reconciler(fs, clock);
    reconciler.SortLocalChanges(list, driverRoot);
}

void CThreadOfConform::SortLocalChanges(LocalChangeBatch& list) {
    auto* owner = static_cast<SyncApp*>(param1);
    if (owner == nullptr) return;
    Reconciler reconciler(*fs_, *clock_);
    reconciler.SortLocalChanges(list, &owner->DriverTree);
}
