#pragma once
// The sync program's hidden main window: the state machine of the sync cycle. It owns
// the tray icon, receives the workers' messages, the timer of the recorded local changes,
// the client's commands over the pipes and the login results, and tells the worker roster
// (WorkerRoster.h, the application object's) when to start, replace or stop a worker.
//
// Threads. Every handler runs on the window's own thread (the one that runs its message
// loop). Calls that other threads make into the window become messages: the
// reconciliation thread's step-finished call (OnGammaConform), the login results of the
// server-inventory thread, the watcher's requests to replace the commit-to-server thread.
// The workers' sends (WM_SIGMA_CONFORM, WM_DEVICE_SCAN_FINISHED) are synchronous, except
// while the roster waits on the window's thread for a worker to stop or become idle: then
// a send is delivered like a post, so the two never wait for each other.
//
// Parts. The window carries out the cycle (OrvaneDlgCycle.cpp, decisions in
// PhaseDriver.h) and owns two member objects with contracts of their own: the local
// change recording (LocalChangeRecorder.h), which is the sync folder's watch handler and
// runs on the watcher's notification thread, touching only the change queue, the
// operation records, worker events, timer 101 and the request to replace the
// commit-to-server thread (kWmReplaceAway); and the
// link with the client program (ClientLink.h: pipes, login hand-over, folder choice,
// language, flag query), called from the window's message handlers. The message map stays
// here: every message reaches WindowProc, which hands it to the part it belongs to.
//
// Cycle state (see PhaseDriver.h for the decisions): the words the workers write too live
// in SyncWindow (reconcileState = the cycle phase, localListingState, serverListingState,
// serverState = the login state, paused, localScanning); the commit state is an atomic of
// its own; the pending reasons, the commit results and the rerun flag are the window
// thread's alone.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/msgloop/MessageLoop.h"
#include "platform/waitable.h"
#include "sync/app/ClientLink.h"
#include "sync/app/LocalChangeRecorder.h"
#include "sync/app/Login.h"
#include "sync/app/PhaseDriver.h"
#include "sync/app/WorkerRoster.h"
#include "sync/engine/EngineContext.h"
#include "sync/engine/ThreadOfServer.h"

class COrvaneApp;
class CThread;
class SyncShell;
class SyncTray;

// Message numbers the window uses besides those of SyncMessages.h.
namespace orvane {
inline constexpr std::uint32_t kWmCommand = 0x0111;
inline constexpr std::uint32_t kWmCopyData = 0x004A;
// Timer ids.
inline constexpr std::uintptr_t kTimerServerPoll = 100;
inline constexpr std::uintptr_t kTimerLocalChanges = 101;
inline constexpr std::uintptr_t kTimerNetwork = 102;
inline constexpr std::uintptr_t kTimerDeferred = 103;  // pending work that waits for idle workers
inline constexpr std::uintptr_t kTimerFolderChange = 104;  // a new folder that waits for idle workers
inline constexpr std::uint32_t kDebounceMs = 1000;
inline constexpr std::uint32_t kDeferredRetryMs = 100;
// Private messages: the watcher asks for the commit-to-server thread to be replaced; the
// login notice of the web-API object.
inline constexpr std::uint32_t kWmReplaceAway = 0x8000 + 0x30;
inline constexpr std::uint32_t kWmLoginNotice = 0x8000 + 0x31;
// Menu commands.
inline constexpr std::uint32_t kCmdOpenLocalFolder = 32774;
inline constexpr std::uint32_t kCmdOpenWebCloud = 32775;
inline constexpr std::uint32_t kCmdSyncDetails = 32776;
inline constexpr std::uint32_t kCmdSyncControl = 32777;
inline constexpr std::uint32_t kCmdChangeAccount = 32778;
inline constexpr std::uint32_t kCmdCheckUpdate = 32779;
inline constexpr std::uint32_t kCmdSettings = 32780;
inline constexpr std::uint32_t kCmdExit = 32781;
inline constexpr std::uint32_t kCmdUnloginWebCloud = 32810;
inline constexpr std::uint32_t kCmdUnloginExit = 32811;
inline constexpr std::uint32_t kCmdAbout = 32815;
// One side listed anew: what a rescan resets and whom it restarts (OrvaneDlgCycle.cpp).
struct RescanSide;
}  // namespace orvane

class COrvaneDlg final : public SyncWindow, public ServerInventoryHost, public LoginWindow {
public:
    explicit COrvaneDlg(COrvaneApp& app);
    ~COrvaneDlg() override;
    COrvaneDlg(const COrvaneDlg&) = delete;
    COrvaneDlg& operator=(const COrvaneDlg&) = delete;

    // Creates the window on the calling thread's loop, tells `onCreated` its id,
    // initialises it and runs it until it ends (exit command, pipe exit). The modal
    // result; -1 when the initialisation failed.
    int DoModal(plat::MessageLoop& loop, const std::function<void(plat::WindowId)>& onCreated);
    plat::WindowId Window() const { return window_; }

    // ---- SyncWindow ----
    bool PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    std::intptr_t SendMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void OnGammaConform(std::uintptr_t wParam, std::intptr_t lParam) override;

    // ---- ServerInventoryHost ----
    bool LoginCredentials(std::u16string& account, std::u16string& password) override;
    void OnLoginResult(bool success) override;
    void KillServerPoll() override;
    void ArmServerPoll() override;
    void SaveServerListing(const FileNode& listing) override;

    // ---- LoginWindow ----
    void LoginBegin() override;

    // Called on the network monitor's thread when the network flag changed.
    void ResetAdapterTimer() override;

    // ---- state for observers (any thread) ----
    std::int32_t CommitState() const { return commitState_.load(); }
    // In step: the last cycle ended with both sides' runs successful, no item failed, and
    // no local change has been recorded since.
    bool InStep() const { return commitState_.load() == phase::kCommitSucceeded; }
    int Language() const { return link_.Language(); }

    // The handler of the sync folder's watch (COrvaneApp::StartWatch).
    LocalChangeRecorder& ChangeRecorder() { return changes_; }

private:
    friend class COrvaneApp;

    // Message dispatch.
    plat::MsgResult WindowProc(plat::Message& message);
    void OnCommand(std::uint32_t command);
    bool OnInitDialog();
    void OnTimer(std::uintptr_t id);

    // ---- menu commands ----
    void OnOpenLocalFolder();
    void OnOpenWebCloud();
    void OnSyncDetails();
    void OnSyncControl();
    void OnChangeAccount();
    void OnCheckUpdate();
    void OnAbout();
    void OnUnloginWebCloud();
    enum class ExitKind { Menu, Pipe, NotLoggedIn };
    void OnCloudExit(ExitKind kind);

    // ---- the cycle ----
    std::intptr_t OnDeviceScanFinished(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t OnAllFilesHash(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t OnAlphaConform(std::uintptr_t localReady, std::intptr_t serverReady);
    std::intptr_t OnDeltaConform(std::uintptr_t reason, std::intptr_t lParam);
    std::intptr_t OnGammaStep();
    std::intptr_t OnSigmaConform(std::uintptr_t homeResult, std::intptr_t awayResult);
    std::intptr_t OnAdapterChange();
    void DealVariant();
    // Resets one side's listing (what the side says) and restarts its lister once the
    // workers that use the trees are idle; false (retried on a timer) while they break off.
    bool Rescan(const orvane::RescanSide& side);
    // The step the cycle takes from where it stands (the decision of OnGammaConform).
    void ChooseNextStep();
    bool LocalChangesQueued() const;
    int StartConform();
    void InterruptConform(int side, bool wait);
    void StartDriverTh();
    phase::CycleView View() const;
    void ShowTray(phase::TrayState state);
    void ShowTrayAfter(phase::TrayEvent event, bool bothSucceeded = false);
    // A change waits: a succeeded commit state drops to idle and the tray shows syncing.
    void LeaveInStep();
    bool Terminating() const;

    // ---- the client link's messages that reach the cycle ----
    std::intptr_t OnloginSuccess();
    void OnPipeOpenFolder();
    void OnPipeShowDetails();
    void OnSyncPause(std::uintptr_t byte);
    void OnPipeChooseFolder();
    // The chosen folder is taken once every worker is idle; until then the busy ones are
    // told to break off and the timer looks again.
    void FinishFolderChange();
    void ApplyFolderChange(const std::u16string& folder);
    // The cycle hands out no work: the program exits, or a new folder waits.
    bool CycleHeld() const;
    void ApplyPause();
    void ApplyResume();
    void OpenSyncFolderInShell();

    // ---- local changes ----
    // Replaces the commit-to-server thread unless it becomes idle shortly (the recorder
    // asks when a change met its recorded operation).
    void ReplaceAwayIfBusy();

    // ---- the guard of the single modal windows ----
    // The windows the guard keeps single, as the shell shows them.
    class ModalWindows final : public phase::ModalGuard::Actions {
    public:
        explicit ModalWindows(SyncShell& shell) : shell_(shell) {}
        bool IsLive(phase::ModalGuard::WindowRef window) override;
        void Raise(phase::ModalGuard::WindowRef window) override;
        void Hide(phase::ModalGuard::WindowRef window) override;
        void Close(phase::ModalGuard::WindowRef window) override;

    private:
        SyncShell& shell_;
    };
    int NonReentrantDispatch(std::uint32_t command, int phaseOfCall, phase::ModalGuard::WindowRef window);

    bool OnWindowThread() const;

    COrvaneApp& app_;
    WorkerRoster& workers_;
    SyncShell& shell_;
    SyncTray& tray_;
    plat::WindowId window_ = plat::kNoWindow;
    std::thread::id windowThread_;

    // Cycle state of the window's thread.
    std::atomic<std::int32_t> commitState_{0};
    bool rerunAfterCommit_ = false;
    std::int16_t homeResult_ = 0;
    std::int16_t awayResult_ = 0;
    std::uint32_t pendingReasons_ = 0;
    bool sigmaExpected_ = false;  // a commit run (or its stand-in report) is under way
    bool exiting_ = false;
    // A folder the user chose that waits until every worker is idle.
    std::optional<std::u16string> folderChange_;
    // The open sync-details window was opened through the pipe (a language change ends it).
    bool detailsFromPipe_ = false;

    std::mutex throttleLock_;
    phase::RestartThrottle adapterThrottle_;

    ModalWindows modalWindows_;
    phase::ModalGuard guard_{modalWindows_};
    ClientLink link_;
    // Last, so destroyed first: its watch ends before the members its hooks use go.
    LocalChangeRecorder changes_;
};
