// The main window as the driver of the sync cycle: the phase messages, the pending
// reasons, the commit run and its end, the timers, the network changes and pause.
#include <log4cpp/Category.hh>

#include "platform/text.h"
#include "sync/app/OrvaneApp.h"
#include "sync/app/OrvaneDlg.h"
#include "sync/app/SyncGlobals.h"
#include "sync/app/SyncShell.h"
#include "sync/app/UserRoutine.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/FolderDigest.h"
#include "sync/common/SyncLog.h"
#include "sync/common/WorkerLoop.h"
#include "sync/engine/SyncMessages.h"
#include "sync/engine/ThreadOfAway.h"
#include "sync/engine/ThreadOfConform.h"
#include "sync/engine/ThreadOfDriver.h"
#include "sync/engine/ThreadOfHome.h"
#include "sync/engine/ThreadOfServer.h"
#include "sync/net/WebCloud.h"
#include "sync/common/FeedLists.h"

using namespace orvane;

namespace {

void Debug(const char* handler) { SyncLog().debug(std::string("call COrvaneDlg::") + handler); }

// Empties a file tree below its root and gives the root a fresh record.
void ResetFileTree(FileNode& tree, const char* rootName) {
    tree.DeleteChildren();
    tree.SetData(SyncFileInfo(rootName));
}

void ResetUniformTree(TaskNode& tree) {
    tree.DeleteChildren();
    tree.SetData(SyncTaskInfo::CreateUniformRoot());
}

using Role = WorkerRoster::Role;

}  // namespace

namespace orvane {

// A rescan of one side empties the synchronised state, the unified tree and that side's
// listing, then lists that side again. It waits until both commit threads and the side's
// lister are idle.
struct RescanSide {
    std::uint32_t reason;  // the pending reason it serves
    Role lister;           // the worker that lists the side again
    std::atomic<std::uint32_t> SyncWindow::*listingState;
    // The listing trees that are emptied, with their roots' names (the second may be null).
    FileNode SyncApp::*trees[2];
    const char* treeNames[2];
    // The local side: the scan is marked under way, and it runs only in a running thread
    // with a sync folder. The server side: the session starts over, and the inventory
    // thread starts when it does not run.
    bool local;
};

namespace {

const RescanSide kLocalRescanSide{phase::kLocalRescan, Role::Driver, &SyncWindow::localListingState,
                                  {&SyncApp::DriverTree, nullptr}, {"Driver", nullptr}, true};
const RescanSide kServerRescanSide{phase::kServerRescan, Role::Server, &SyncWindow::serverListingState,
                                   {&SyncApp::ServerTree, &SyncApp::WaiterTree}, {"Server", "Waiter"}, false};

}  // namespace
}  // namespace orvane

bool COrvaneDlg::LocalChangesQueued() const {
    std::lock_guard<std::mutex> queue(app_.changeListLock);
    return !app_.localChanges.empty();
}

phase::CycleView COrvaneDlg::View() const {
    phase::CycleView v;
    v.pending = pendingReasons_;
    v.cyclePhase = reconcileState.load();
    v.localState = localListingState.load();
    v.serverState = serverListingState.load();
    v.commitState = commitState_.load();
    v.paused = paused.load() != 0;
    v.online = g_bNetworkUp.load();
    CThreadOfConform* conform = app_.conformThread;
    v.conformReady = conform != nullptr && conform->IsAlive() && conform->doneEvent.IsSet();
    v.localQueued = LocalChangesQueued();
    return v;
}

void COrvaneDlg::ShowTray(phase::TrayState state) {
    const phase::TrayLook look = phase::LookOf(state);
    if (look.animate) {
        tray_.Animate();
    } else if (look.icon != 0) {
        tray_.StopAnimation();
        tray_.SetIcon(look.icon);
    }
    tray_.SetTooltipText(look.tooltipKey);
}

void COrvaneDlg::LeaveInStep() {
    std::int32_t succeeded = phase::kCommitSucceeded;
    if (!commitState_.compare_exchange_strong(succeeded, phase::kCommitIdle)) return;
    if (paused.load() == 0 && g_bNetworkUp.load()) ShowTray(phase::TrayState::Syncing);
}

void COrvaneDlg::ShowTrayAfter(phase::TrayEvent event, bool bothSucceeded) {
    phase::TrayInputs in;
    in.commitState = commitState_.load();
    in.paused = paused.load() != 0;
    in.online = g_bNetworkUp.load();
    in.bothSucceeded = bothSucceeded;
    if (const auto state = phase::TrayAfter(event, in)) ShowTray(*state);
}

// ---------------------------------------------------------------- local listing

std::intptr_t COrvaneDlg::OnDeviceScanFinished(std::uintptr_t wParam, std::intptr_t lParam) {
    Debug("OnDeviceScanFinished");
    if (CycleHeld()) return -1;
    if (lParam == 0) {
        shell_.MessageBox("提示", "同步目录文件扫描/更新失败！");
        return 0;
    }
    localListingState = 1;
    if (wParam == 0) app_.StartWatch(app_.syncFolder);
    if (CThreadOfDriver* driver = app_.driverThread) driver->PostCommand(THREAD_CMD_HASH);
    return 0;
}

std::intptr_t COrvaneDlg::OnAllFilesHash(std::uintptr_t, std::intptr_t) {
    Debug("OnAllFilesHash");
    localListingState = 2;
    localScanning = 0;
    {
        plat::MutexHolder trees(app_.treeLock);
        UserRoutine::SaveTreeFile(app_.DriverTree, app_.DataFolderUtf8() + "/Driver.txt", "本地遍历列表文件存储", 1);
    }
    return OnAlphaConform(1, 0);
}

// ---------------------------------------------------------------- listings ready

std::intptr_t COrvaneDlg::OnAlphaConform(std::uintptr_t localReady, std::intptr_t serverReady) {
    Debug("OnAlphaConform");
    if (CycleHeld()) return -1;
    if (localReady != 0) localListingState = 2;
    CThreadOfConform* conform = app_.conformThread;
    if (serverReady != 0) {
        if (WorkerRoster::Busy(conform)) {
            // The reconciliation thread works on the trees: the new listing is merged as a
            // server change once it is idle.
            return OnDeltaConform(kReasonServerListing, 0);
        }
        serverListingState = 2;
        plat::MutexHolder trees(app_.treeLock);
        // The listing moves over as it is: a copy would hold the whole account twice.
        app_.ServerTree.TakeContent(app_.WaiterTree);
        ResetFileTree(app_.WaiterTree, "Waiter");
    }
    if (localListingState.load() == 2 && serverListingState.load() == 2 && conform != nullptr) {
        workers_.Run(Role::Conform, THREAD_CMD_BUILD);
    }
    return 0;
}

// ---------------------------------------------------------------- pending reasons

std::intptr_t COrvaneDlg::OnDeltaConform(std::uintptr_t reason, std::intptr_t) {
    Debug("OnDeltaConform");
    if (Terminating()) return -1;
    CThreadOfConform* conform = app_.conformThread;
    if (reason == 0 || conform == nullptr) return 0;
    // The debounce timer of records that a running intake took already: nothing to do.
    if (reason == kReasonLocalChanges && !LocalChangesQueued()) return 0;
    // Local changes or a rescan wait: the program is no longer in step until a run ends.
    if ((reason & (phase::kLocalRescan | phase::kServerRescan | phase::kLocalChanges)) != 0) LeaveInStep();
    pendingReasons_ = phase::RecordReason(pendingReasons_, static_cast<std::uint32_t>(reason));
    if ((pendingReasons_ & (phase::kLocalRescan | phase::kServerRescan)) != 0) {
        if (CThreadOfHome* home = app_.homeThread) home->breakEvent.Set();
        if (CThreadOfAway* away = app_.awayThread) away->breakEvent.Set();
    }
    // While a new folder waits the reason is only kept; it is served after the change.
    if (folderChange_) return 0;
    if (!conform->IsAlive() || conform->doneEvent.IsSet()) {
        DealVariant();
        return 0;
    }
    const phase::ConformInterrupt cut = phase::InterruptFor(pendingReasons_, conform->CONFORM_PHASE.load());
    pendingReasons_ &= ~cut.clearBits;
    if (cut.signalBreak) conform->breakEvent.Set();
    if (cut.signalAbort) conform->abortEvent.Set();
    return 0;
}

bool COrvaneDlg::Rescan(const RescanSide& side) {
    // A tree reset waits until the workers that use the trees are idle. The window does
    // not block meanwhile: the workers are told to break off, and the reset is tried again
    // shortly.
    if (workers_.BreakBusy({Role::Away, Role::Home, side.lister})) {
        plat::SetTimer(window_, kTimerDeferred, kDeferredRetryMs);
        return false;
    }
    pendingReasons_ &= ~side.reason;
    reconcileState = 0;
    this->*side.listingState = 0;
    {
        std::lock_guard<std::recursive_mutex> edit(app_.treeEditLock);
        plat::MutexHolder trees(app_.treeLock);
        ResetFileTree(app_.TracerTree, "Tracer");
        for (std::size_t i = 0; i < 2; ++i) {
            if (side.trees[i] != nullptr) ResetFileTree(app_.*side.trees[i], side.treeNames[i]);
        }
        ResetUniformTree(app_.UniformTree);
    }
    if (!side.local) app_.WebCloud().iLogout(nullptr);
    app_.LoadTracerTree();
    if (side.local) {
        localScanning = 1;
        CWorkerLoop* driver = workers_.Get(side.lister);
        if (driver != nullptr && driver->IsAlive() && !app_.syncFolder.empty()) driver->PostCommand(THREAD_CMD_RUN);
    } else {
        workers_.Run(side.lister, THREAD_CMD_RUN);
    }
    return true;
}

void COrvaneDlg::DealVariant() {
    Debug("DealVariant");
    rerunAfterCommit_ = false;
    plat::KillTimer(window_, kTimerDeferred);
    for (const RescanSide* side : {&kLocalRescanSide, &kServerRescanSide}) {
        if ((pendingReasons_ & side->reason) != 0 && !Rescan(*side)) return;
    }
    CThreadOfDriver* driver = app_.driverThread;
    CThreadOfAway* away = app_.awayThread;
    CThreadOfHome* home = app_.homeThread;

    // Local changes whose records an earlier step took already leave nothing to apply.
    if ((pendingReasons_ & phase::kLocalChanges) != 0 && !LocalChangesQueued()) {
        pendingReasons_ &= ~phase::kLocalChanges;
    }
    const bool commitThreadBusy = WorkerRoster::Busy(away) || WorkerRoster::Busy(home);
    const phase::ChangePlan plan = phase::PlanChangeStep(pendingReasons_, reconcileState.load(), commitThreadBusy);
    if (plan.step == phase::ChangeStep::None) {
        // Nothing was handed out: the cycle goes on from where it stands.
        if (pendingReasons_ == 0 && View().conformReady) ChooseNextStep();
        return;
    }
    pendingReasons_ &= ~plan.servedBit;
    if (plan.step == phase::ChangeStep::DriverChanges) {
        // The local scan thread changes the listing: no build may start meanwhile. (The
        // reconciliation thread's own intake needs no such guard: it is busy until done,
        // and a step that applies nothing leaves the listing as it was.)
        localListingState = 0;
    } else if (plan.servedBit == phase::kServerChanges) {
        serverListingState = 1;
    }
    if (reconcileState.load() == 2) reconcileState = 1;
    CThreadOfConform* conform = app_.conformThread;
    switch (plan.step) {
        case phase::ChangeStep::DriverChanges:
            if (driver != nullptr) driver->PostCommand(THREAD_CMD_CHANGES);
            break;
        case phase::ChangeStep::ConformDriver:
            if (conform != nullptr) conform->PostCommand(THREAD_CMD_DRIVER);
            break;
        case phase::ChangeStep::AlphaServer:
            PostMessage(WM_ALPHA_CONFORM, 0, 1);
            break;
        case phase::ChangeStep::ServerDeferred:
            SyncLog().debug("A commit thread is busy: the server listing waits for the next poll");
            break;
        case phase::ChangeStep::ConformServer:
            if (conform != nullptr) conform->PostCommand(THREAD_CMD_SERVER);
            break;
        case phase::ChangeStep::None:
            break;
    }
}

// ---------------------------------------------------------------- next step

std::intptr_t COrvaneDlg::OnGammaStep() {
    Debug("OnGammaConform");
    if (CycleHeld()) return -1;
    workers_.ReapRetired();
    ChooseNextStep();
    return 0;
}

void COrvaneDlg::ChooseNextStep() {
    CThreadOfConform* conform = app_.conformThread;
    switch (phase::DecideGamma(View())) {
        case phase::GammaStep::DealVariant: DealVariant(); break;
        case phase::GammaStep::Hash: conform->PostCommand(THREAD_CMD_HASH); break;
        case phase::GammaStep::Match: conform->PostCommand(THREAD_CMD_MATCH); break;
        case phase::GammaStep::StartConform: StartConform(); break;
        case phase::GammaStep::ApplyQueuedChanges:
            pendingReasons_ = phase::RecordReason(pendingReasons_, phase::kLocalChanges);
            DealVariant();
            break;
        case phase::GammaStep::None: break;
    }
}

int COrvaneDlg::StartConform() {
    Debug("StartConform");
    bool agree = false;
    bool tasksLeft = false;
    {
        plat::MutexHolder trees(app_.treeLock);
        agree = phase::RootsAgree(app_.DriverTree.data->checksum, app_.ServerTree.data->checksum);
        tasksLeft = agree && BaseFunc::HasPendingTask(&app_.UniformTree);
    }
    CStateDoingPage::ClearDoingItems();
    homeResult_ = 0;
    awayResult_ = 0;
    switch (phase::DecideStart(agree, tasksLeft, paused.load() != 0, g_bNetworkUp.load())) {
        case phase::StartStep::Rebuild:
            if (CThreadOfConform* conform = app_.conformThread) conform->PostCommand(THREAD_CMD_BUILD);
            return 0;
        case phase::StartStep::ReportSuccess:
            sigmaExpected_ = true;
            PostMessage(WM_SIGMA_CONFORM, 2, 2);
            return 0;
        case phase::StartStep::Withheld:
            return -1;
        case phase::StartStep::Commit:
            break;
    }
    // The failed list shows the last commit run only, whether or not its page is open: it
    // empties when a run starts, never when the trees agree without one.
    CStateDoneFailedPage::Clear();
    if (CThreadOfServer* server = app_.serverThread) server->breakEvent.Set();
    commitState_.exchange(phase::kCommitRunning);
    sigmaExpected_ = true;
    const auto run = [this](CThread* worker, CSyncBase* events, bool isAway) {
        // A commit-to-server side that does not run now leaves nothing to wait for.
        if (isAway && (worker == nullptr || !events->doneEvent.IsSet())) app_.serverLookDone.Set();
        if (worker == nullptr) {
            PostMessage(WM_SIGMA_CONFORM, isAway ? 0 : 1, isAway ? 1 : 0);
            return;
        }
        try {
            if (!worker->IsAlive()) worker->Start();
        } catch (const CThreadException& error) {
            // A side that cannot run counts as failed, so the run still ends.
            SyncLog().error(std::string("Commit thread cannot start: ") + error.what());
            if (isAway) app_.serverLookDone.Set();
            PostMessage(WM_SIGMA_CONFORM, isAway ? 0 : 1, isAway ? 1 : 0);
            return;
        }
        if (events->doneEvent.IsSet()) worker->PostCommand(THREAD_CMD_RUN);
    };
    // The commit-to-local run waits until the commit-to-server run has merged its look at
    // the server (the away thread sets the event again however its run ends).
    app_.serverLookDone.Reset();
    run(app_.awayThread, app_.awayThread, true);
    run(app_.homeThread, app_.homeThread, false);
    ShowTrayAfter(phase::TrayEvent::CommitStarted);
    return 0;
}

// ---------------------------------------------------------------- end of a commit run

std::intptr_t COrvaneDlg::OnSigmaConform(std::uintptr_t homeResult, std::intptr_t awayResult) {
    Debug("OnSigmaConform");
    // While a new folder waits, a report belongs to the old folder's run (written off).
    if (CycleHeld()) return -1;
    if (!sigmaExpected_) {
        // A report of a run that an interruption already wrote off.
        SyncLog().debug("call COrvaneDlg::OnSigmaConform - report of an interrupted run ignored");
        return 0;
    }
    if (homeResult != 0) homeResult_ = static_cast<std::int16_t>(homeResult);
    if (awayResult != 0) awayResult_ = static_cast<std::int16_t>(awayResult);
    if (homeResult_ == 0 || awayResult_ == 0) return 0;
    sigmaExpected_ = false;

    bool rootsSame = false;
    {
        plat::MutexHolder trees(app_.treeLock);
        BaseFunc::ComputeFolderChecksum(&app_.DriverTree);
        BaseFunc::ComputeFolderChecksum(&app_.ServerTree);
        rootsSame = app_.DriverTree.data->SameChecksum(*app_.ServerTree.data);
    }
    app_.PersistTracer();
    if (rootsSame) reconcileState = 1;

    const phase::SigmaOutcome outcome = phase::DecideSigma(homeResult_, awayResult_, paused.load() != 0,
                                                           g_bNetworkUp.load(), rerunAfterCommit_);
    if (outcome.postGamma) PostMessage(WM_GAMMA_CONFORM, 0, 0);
    rerunAfterCommit_ = false;
    commitState_.exchange(phase::kCommitIdle);
    if (outcome.bothSucceeded) {
        commitState_.exchange(phase::kCommitSucceeded);
        ShowTrayAfter(phase::TrayEvent::CommitDone, true);
        CStateDoingPage::ClearDoingItems();
    } else {
        ShowTrayAfter(phase::TrayEvent::CommitDone, false);
    }
    if (app_.Options().onCycleEnd) app_.Options().onCycleEnd();
    return 0;
}

// ---------------------------------------------------------------- timers

void COrvaneDlg::OnTimer(std::uintptr_t id) {
    switch (id) {
        case kTimerServerPoll: {
            if (CycleHeld()) return;
            ShowTrayAfter(phase::TrayEvent::PollTimer);
            CThreadOfServer* server = app_.serverThread;
            CThreadOfConform* conform = app_.conformThread;
            const bool conformIdle = !WorkerRoster::Busy(conform);
            if (commitState_.load() != phase::kCommitRunning && conformIdle && server != nullptr &&
                server->IsAlive() && server->doneEvent.IsSet()) {
                server->PostCommand(THREAD_CMD_RUN);
            }
            break;
        }
        case kTimerLocalChanges:
            plat::KillTimer(window_, kTimerLocalChanges);
            PostMessage(WM_DELTA_CONFORM, kReasonLocalChanges, 0);
            break;
        case kTimerNetwork:
            plat::KillTimer(window_, kTimerNetwork);
            PostMessage(WM_ADAPTER_CHANGE, 0, 0);
            break;
        case kTimerDeferred:
            plat::KillTimer(window_, kTimerDeferred);
            if (CycleHeld()) return;
            workers_.ReapRetired();
            if (pendingReasons_ != 0 && View().conformReady) DealVariant();
            break;
        case kTimerFolderChange: FinishFolderChange(); break;
        default:
            break;
    }
}

void COrvaneDlg::ResetAdapterTimer() {
    {
        std::lock_guard<std::mutex> hold(throttleLock_);
        if (!adapterThrottle_.Accept(BaseFunc::GetMilliseconds())) return;
    }
    plat::SetTimer(window_, kTimerNetwork, kDebounceMs);
}

void COrvaneDlg::KillServerPoll() { plat::KillTimer(window_, kTimerServerPoll); }

void COrvaneDlg::ArmServerPoll() { plat::SetTimer(window_, kTimerServerPoll, app_.ServerPollMs()); }

void COrvaneDlg::SaveServerListing(const FileNode& listing) {
    UserRoutine::SaveTreeFile(listing, app_.DataFolderUtf8() + "/Server.txt", "服务器列表文件存储", 2);
}

// ---------------------------------------------------------------- network changes

std::intptr_t COrvaneDlg::OnAdapterChange() {
    Debug("OnAdapterChange");
    if (Terminating()) return -1;
    if (!g_bNetworkUp.load()) {
        SyncLog().debug("call COrvaneDlg::OnAdapterChange - Network disconnect");
        ShowTray(phase::TrayState::Offline);
        if (commitState_.load() == phase::kCommitRunning) rerunAfterCommit_ = true;
        return 0;
    }
    SyncLog().debug("call COrvaneDlg::OnAdapterChange - Network connected");
    ShowTray(phase::TrayState::Comparing);
    CThreadOfServer* server = app_.serverThread;
    if (server != nullptr && server->IsAlive() && server->doneEvent.IsSet() && serverState.load() == 1 &&
        commitState_.load() != phase::kCommitRunning) {
        SyncLog().debug("call COrvaneDlg::OnAdapterChange - Begin Login");
        server->PostCommand(THREAD_CMD_RUN);
        ShowTray(phase::TrayState::Connecting);
    }
    if (paused.load() == 0) {
        CThreadOfConform* conform = app_.conformThread;
        // No commit run under way: the cycle goes on at once, also after a successful run
        // (changes recorded meanwhile are applied and committed now, not at the next poll).
        if (reconcileState.load() != 0 && conform != nullptr && conform->doneEvent.IsSet() &&
            commitState_.load() != phase::kCommitRunning) {
            PostMessage(WM_GAMMA_CONFORM, 0, 0);
        }
        ShowTrayAfter(phase::TrayEvent::NetworkUp);
        SyncLog().debug("call COrvaneDlg::OnAdapterChange - Syncing");
    } else {
        ShowTray(phase::TrayState::Paused);
        SyncLog().debug("call COrvaneDlg::OnAdapterChange - Sync Paused");
    }
    return 0;
}

// ---------------------------------------------------------------- pause and resume

void COrvaneDlg::ApplyPause() {
    paused = 1;
    ShowTray(phase::TrayState::Paused);
    tray_.SetPauseForm(true);
    plat::KillTimer(window_, kTimerServerPoll);
    app_.ResumeEvent().Reset();
    app_.SuspendEvent().Set();
    if (commitState_.load() == phase::kCommitRunning) rerunAfterCommit_ = true;
}

void COrvaneDlg::ApplyResume() {
    paused = 0;
    ShowTrayAfter(phase::TrayEvent::Resume);
    tray_.SetPauseForm(false);
    app_.SuspendEvent().Reset();
    app_.ResumeEvent().Set();
    // No commit run under way: the changes recorded during the pause go on at once, also
    // after a run that had succeeded.
    CThreadOfConform* conform = app_.conformThread;
    if (reconcileState.load() != 0 && conform != nullptr && conform->doneEvent.IsSet() &&
        commitState_.load() != phase::kCommitRunning) {
        PostMessage(WM_GAMMA_CONFORM, 0, 0);
    }
    CThreadOfServer* server = app_.serverThread;
    if (server != nullptr && server->IsAlive() && server->doneEvent.IsSet()) {
        // The poll timer runs in either case: an inventory that a commit run or a local
        // change breaks off does not arm it again itself.
        plat::SetTimer(window_, kTimerServerPoll, app_.ServerPollMs());
        if (serverState.load() == 1 && commitState_.load() != phase::kCommitRunning) {
            server->PostCommand(THREAD_CMD_RUN);
        }
    }
}

void COrvaneDlg::OnSyncPause(std::uintptr_t byte) {
    Debug("OnSyncPause");
    if (byte == 5) {
        ApplyPause();
    } else if (byte == 6) {
        ApplyResume();
    }
}

// ---------------------------------------------------------------- login start, interruption

void COrvaneDlg::LoginBegin() {
    Debug("LoginBegin");
    serverState = 1;
    InterruptConform(2, true);
    plat::SetTimer(window_, kTimerServerPoll, app_.ServerPollMs());
    PostMessage(WM_DELTA_CONFORM, kReasonServerRescan, 0);
}

void COrvaneDlg::InterruptConform(int side, bool wait) {
    Debug("InterruptConform");
    workers_.Break({Role::Conform, Role::Home, Role::Away, side == 1 ? Role::Driver : Role::Server});
    rerunAfterCommit_ = false;
    commitState_.exchange(phase::kCommitIdle);
    // Whatever the broken run still reports belongs to a cycle that starts over.
    sigmaExpected_ = false;

    // A commit thread that does not become idle (at once, without `wait`) is replaced.
    for (const bool away : {false, true}) {
        CWorkerLoop* worker = workers_.Get(away ? Role::Away : Role::Home);
        if (worker == nullptr || !worker->IsAlive()) continue;
        if (!wait || !workers_.WaitIdle(away ? Role::Away : Role::Home, 1000)) workers_.ReplaceCommit(away);
    }

    reconcileState = 0;
    if (side == 1) {
        localListingState = 0;
        return;
    }
    serverListingState = 0;
    plat::KillTimer(window_, kTimerServerPoll);
    if (workers_.Get(Role::Server) == nullptr) return;
    if (!workers_.WaitIdle(Role::Server, 100)) {
        workers_.ReplaceServer();
    } else {
        workers_.Run(Role::Server, 0);
    }
}

void COrvaneDlg::StartDriverTh() {
    Debug("StartDriverTh");
    app_.SetSyncFolder(plat::ToUtf16(Globals().CurrentSyncFolder()));

    workers_.Break({Role::Driver});
    if (!workers_.WaitIdle(Role::Driver, 1000)) workers_.ReplaceDriver();
    // A full scan lists into an empty tree; the unified tree links into the old listing
    // and goes with it (the commit threads are idle after the login's interruption).
    {
        std::lock_guard<std::recursive_mutex> edit(app_.treeEditLock);
        plat::MutexHolder trees(app_.treeLock);
        ResetFileTree(app_.DriverTree, "Driver");
        ResetUniformTree(app_.UniformTree);
    }
    reconcileState = 0;
    localListingState = 0;
    if (!workers_.Run(Role::Driver, 0)) return;
    localScanning = 1;
    workers_.Get(Role::Driver)->PostCommand(THREAD_CMD_RUN);
}
