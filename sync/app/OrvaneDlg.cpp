// The main window: construction, message dispatch, the menu commands, the client link's
// messages that reach the cycle, the folder change and the exit.
#include "sync/app/OrvaneDlg.h"

#include <log4cpp/Category.hh>

#include <unistd.h>

#include "platform/fileops.h"
#include "platform/text.h"
#include "platform/userdirs.h"
#include "sync/app/OrvaneApp.h"
#include "shm/SharedMemory.h"
#include "sync/app/SyncGlobals.h"
#include "sync/app/SyncShell.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/common/WorkerLoop.h"
#include "sync/engine/SyncMessages.h"
#include "sync/net/WebCloud.h"

using namespace orvane;

namespace {

void Debug(const char* handler) { SyncLog().debug(std::string("call COrvaneDlg::") + handler); }

// A send from another thread waits on this; the window fills in the result when it has
// handled the message. The ticket travels as the message's payload and releases the
// sender when it is freed, also when the message is dropped.
struct PendingSend {
    plat::Event done{true, false};
    std::atomic<std::intptr_t> result{0};
};

struct SendTicket {
    explicit SendTicket(std::shared_ptr<PendingSend> c) : call(std::move(c)) {}
    ~SendTicket() {
        if (call) call->done.Set();
    }
    SendTicket(const SendTicket&) = delete;
    SendTicket& operator=(const SendTicket&) = delete;
    std::shared_ptr<PendingSend> call;
};

constexpr phase::ModalGuard::WindowRef kDetailsRef = 1;
constexpr phase::ModalGuard::WindowRef kAccountRef = 2;

}  // namespace


COrvaneDlg::COrvaneDlg(COrvaneApp& app)
    : app_(app),
      workers_(app.Workers()),
      shell_(app.Shell()),
      tray_(app.Tray()),
      modalWindows_(app.Shell()),
      link_(app, *this),
      changes_(app, app.Workers().SlotLock(),
               LocalChangeRecorder::Hooks{
                   [&app] { return app.WatchedFolder(); },
                   [this] { plat::SetTimer(window_, kTimerLocalChanges, kDebounceMs); },
                   [this] { PostMessage(kWmReplaceAway, 0, 0); },
               }) {
    localScanning = 1;
}

COrvaneDlg::~COrvaneDlg() {
    // No watcher call may reach a window that is being taken apart.
    changes_.DetachFromWatcher();
    link_.StopPipes();
}

bool COrvaneDlg::OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }

bool COrvaneDlg::Terminating() const { return g_pTerminateEvent != nullptr && g_pTerminateEvent->IsSet(); }

int COrvaneDlg::DoModal(plat::MessageLoop& loop, const std::function<void(plat::WindowId)>& onCreated) {
    windowThread_ = std::this_thread::get_id();
    window_ = loop.CreateWindow([this](plat::Message& message) { return WindowProc(message); });
    if (onCreated) onCreated(window_);
    if (!OnInitDialog()) {
        plat::DestroyWindow(window_);
        return -1;
    }
    if (app_.Options().onWindowReady) app_.Options().onWindowReady(*this);
    const int result = loop.RunModal(window_);
    exiting_ = true;
    workers_.HoldSendsAsPosts();
    link_.StopPipes();
    plat::DestroyWindow(window_);
    return result;
}

// ---------------------------------------------------------------- SyncWindow

bool COrvaneDlg::PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return plat::PostMessage(window_, message, wParam, lParam);
}

std::intptr_t COrvaneDlg::SendMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (OnWindowThread()) {
        plat::Message direct;
        direct.window = window_;
        direct.message = message;
        direct.wParam = wParam;
        direct.lParam = lParam;
        return WindowProc(direct);
    }
    // While the window waits for a worker, a send is delivered as a post.
    if (workers_.SendsAsPosts().IsSet()) {
        PostMessage(message, wParam, lParam);
        return 0;
    }
    auto call = std::make_shared<PendingSend>();
    if (!plat::PostMessage(window_, message, wParam, lParam, plat::Payload::Make<SendTicket>(call))) return 0;
    const std::uint32_t r = plat::WaitAny({&call->done, &workers_.SendsAsPosts()}, plat::kInfinite);
    return r == 0 ? call->result.load() : 0;
}

void COrvaneDlg::OnGammaConform(std::uintptr_t, std::intptr_t) {
    // The reconciliation thread calls this after each of its steps; the decision is
    // taken on the window's thread.
    if (OnWindowThread()) {
        OnGammaStep();
    } else {
        PostMessage(WM_GAMMA_CONFORM, 0, 0);
    }
}

// ---------------------------------------------------------------- dispatch

plat::MsgResult COrvaneDlg::WindowProc(plat::Message& m) {
    plat::MsgResult result = 0;
    switch (m.message) {
        case plat::kWmTimer: OnTimer(m.wParam); break;
        case kWmCommand: OnCommand(static_cast<std::uint32_t>(m.wParam)); break;
        case WM_DEVICE_SCAN_FINISHED: result = OnDeviceScanFinished(m.wParam, m.lParam); break;
        case WM_APP + 0x16: result = 0; break;
        case WM_ALL_FILES_HASH: result = OnAllFilesHash(m.wParam, m.lParam); break;
        case WM_ALPHA_CONFORM: result = OnAlphaConform(m.wParam, m.lParam); break;
        case WM_DELTA_CONFORM: result = OnDeltaConform(m.wParam, m.lParam); break;
        case WM_GAMMA_CONFORM: result = OnGammaStep(); break;
        case WM_SIGMA_CONFORM: result = OnSigmaConform(m.wParam, m.lParam); break;
        case WM_ADAPTER_CHANGE: result = OnAdapterChange(); break;
        case WM_PIPE_LOGIN: link_.OnPipeLogin(m); break;
        case WM_PIPE_EXIT: OnCloudExit(ExitKind::Pipe); break;
        case WM_PIPE_OPEN_FOLDER: OnPipeOpenFolder(); break;
        case WM_PIPE_SHOW_DETAILS: OnPipeShowDetails(); break;
        case WM_PIPE_SYNC_PAUSE: OnSyncPause(m.wParam); break;
        case WM_PIPE_CHOOSE_FOLDER: OnPipeChooseFolder(); break;
        case WM_PIPE_LANGUAGE_ENGLISH: link_.OnPipeLanguage(0, detailsFromPipe_); result = 1; break;
        case WM_PIPE_LANGUAGE_CHINESE: link_.OnPipeLanguage(1, detailsFromPipe_); result = 1; break;
        case WM_LOGIN_SUCCESS: result = OnloginSuccess(); break;
        case WM_LOGIN_FAILURE: link_.OnLoginFailure(); break;
        case kWmCopyData: result = link_.OnCopyData(m); break;
        case kWmReplaceAway: ReplaceAwayIfBusy(); break;
        case kWmLoginNotice:
            if (auto* text = m.payload.Get<std::string>()) shell_.MessageBox("提示信息", *text);
            break;
        default: break;
    }
    if (auto* ticket = m.payload.Get<SendTicket>()) ticket->call->result = result;
    return result;
}

void COrvaneDlg::OnCommand(std::uint32_t command) {
    switch (command) {
        case kCmdExit: OnCloudExit(ExitKind::Menu); break;
        case kCmdOpenLocalFolder: OnOpenLocalFolder(); break;
        case kCmdOpenWebCloud: OnOpenWebCloud(); break;
        case kCmdSyncDetails: OnSyncDetails(); break;
        case kCmdSyncControl: OnSyncControl(); break;
        case kCmdChangeAccount: OnChangeAccount(); break;
        case kCmdCheckUpdate: OnCheckUpdate(); break;
        case kCmdUnloginWebCloud: OnUnloginWebCloud(); break;
        case kCmdUnloginExit: OnCloudExit(ExitKind::NotLoggedIn); break;
        case kCmdAbout: OnAbout(); break;
        default: break;
    }
}

// ---------------------------------------------------------------- initialisation

bool COrvaneDlg::OnInitDialog() {
    SyncLog().debug("call COrvaneDlg::OnInitDialog");
    app_.PublishWindowHandle();

    // The tray icon: six tries 100 ms apart. Without a tray the program runs on.
    bool trayMade = false;
    for (int attempt = 0; attempt < 6 && !trayMade; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        trayMade = tray_.Create("Nuvet云盘 正在连接...", phase::kIconOffline);
    }
    if (!trayMade) SyncLog().warn("No tray icon could be made; the program runs without one");
    tray_.SetMenu(SyncTray::kMenuLoggedOut);
    tray_.SetLanguage(link_.Language());

    if (!workers_.MakeWindowWorkers(*this)) {
        SyncLog().fatal("Workers cannot be made");
        return false;
    }

    if (!link_.StartPipes(window_)) SyncLog().warn("The pipe reader could not be started");
    return true;
}

// ---------------------------------------------------------------- menu commands

void COrvaneDlg::OpenSyncFolderInShell() {
    const std::u16string folder = app_.syncFolder;
    if (!folder.empty() && plat::fs::GetKind(BaseFunc::WideToUtf8(folder)) == plat::fs::Kind::Directory) {
        shell_.OpenFolder(folder);
    } else {
        shell_.OpenFolder(plat::ToUtf16(plat::HomeDir()));
    }
}

void COrvaneDlg::OnOpenLocalFolder() {
    SyncLog().debug("call COrvaneDlg::OnOpenLocalFolder");
    OpenSyncFolderInShell();
}

void COrvaneDlg::OnOpenWebCloud() {
    SyncLog().debug("call COrvaneDlg::OnOpenWebCloud");
    // The browser gets the address only: a login cookie is never handed to another program.
    shell_.OpenUrl(Globals().Server().url);
}

void COrvaneDlg::OnUnloginWebCloud() {
    SyncLog().debug("call COrvaneDlg::OnUnloginWebCloud");
    shell_.OpenUrl(Globals().Server().url);
}

void COrvaneDlg::OnSyncDetails() {
    SyncLog().debug("call COrvaneDlg::OnSyncDetails");
    if (NonReentrantDispatch(kCmdSyncDetails, 0, 0) == 0) return;
    NonReentrantDispatch(kCmdSyncDetails, 1, kDetailsRef);
    detailsFromPipe_ = false;
    // The window runs on without a modal loop: the guard keeps it recorded until it is
    // gone (a recorded window counts only while it is live), so the exit closes it.
    shell_.RunDetails();
}

void COrvaneDlg::OnPipeShowDetails() {
    SyncLog().debug("call COrvaneDlg::OnPipeShowDetails");
    shell_.RaiseMainWindow();
    if (NonReentrantDispatch(kCmdSyncDetails, 0, 0) == 0) return;
    NonReentrantDispatch(kCmdSyncDetails, 1, kDetailsRef);
    // Only this window ends when the client changes the language.
    detailsFromPipe_ = true;
    shell_.RunDetails();
}

void COrvaneDlg::OnSyncControl() {
    SyncLog().debug("call COrvaneDlg::OnSyncControl");
    const bool nowPaused = paused.load() == 0;
    if (nowPaused) {
        ApplyPause();
        if (!link_.WritePauseState(true)) SyncLog().debug("Pipe send data <ProcessMsgPauseOn> failed");
    } else {
        ApplyResume();
        if (!link_.WritePauseState(false)) SyncLog().debug("Pipe send data <ProcessMsgPauseOff> failed");
    }
}

void COrvaneDlg::OnChangeAccount() {
    SyncLog().debug("call COrvaneDlg::OnChangeAccount");
    if (NonReentrantDispatch(kCmdChangeAccount, 0, 0) == 0) return;
    if (Globals().LoginUser().empty()) return;
    NonReentrantDispatch(kCmdChangeAccount, 1, kAccountRef);
    const bool confirmed = shell_.Confirm("更换账号",
                                          "您确定要更换帐号吗？\n更换帐号后，当前帐号的文件将不再和\n云盘保持同步。");
    NonReentrantDispatch(kCmdChangeAccount, 2, kAccountRef);
    if (!confirmed) return;
    tray_.StopAnimation();
    tray_.SetIcon(phase::kIconOffline);
    tray_.SetTooltipText("Nuvet云盘 正在连接...");
    tray_.SetMenu(SyncTray::kMenuLoggedOut);
    serverState = 0;
    app_.StopWatch();
    InterruptConform(1, false);
}

void COrvaneDlg::OnCheckUpdate() {
    SyncLog().debug("call COrvaneDlg::OnCheckUpdate");
    shell_.RunUpdateNotice();
}

void COrvaneDlg::OnAbout() {
    SyncLog().debug("call COrvaneDlg::OnAbout");
    shell_.RunAbout();
}

void COrvaneDlg::OnCloudExit(ExitKind kind) {
    SyncLog().debug("call COrvaneDlg::OnCloudExit");
    if (exiting_) return;
    exiting_ = true;
    // From here on the window waits for its workers: their sends must not wait for it.
    workers_.HoldSendsAsPosts();

    if (kind == ExitKind::Pipe && shell_.DetailsOpen()) shell_.CloseDetails();
    NonReentrantDispatch(kCmdExit, 0, 0);
    // Every other window and box of the program ends too (the about box, the update
    // notice, a confirmation, the folder dialog of a login, the folder browser): none may
    // keep the program running after its exit. The code that opened them sees the exit
    // when they return and does not carry on.
    shell_.CloseAll();
    if (kind == ExitKind::Pipe) {
        if (g_bNetworkUp.load()) {
            SyncLog().debug("Start sending \"logout\" request to the server");
            app_.WebCloud().iLogout(nullptr);
            SyncLog().debug("End send \"logout\" request to the server");
        }
    } else {
        app_.WebCloud().iLogout(nullptr);
    }
    if (g_pTerminateEvent != nullptr) g_pTerminateEvent->Set();
    plat::KillTimer(window_, kTimerServerPoll);
    workers_.StopCycle();
    if (folderChange_) {
        // A folder chosen while the workers were breaking off is kept. The synchronised
        // state belongs to the old folder: it is not written again.
        ApplyFolderChange(*folderChange_);
        folderChange_.reset();
        reconcileState = 0;
    }
    shell_.NotifyAssociationsChanged();
    if (reconcileState.load() != 0) app_.PersistTracer();
    if (kind != ExitKind::NotLoggedIn) link_.SaveHistory();
    if (shell_.FolderBrowserOpen()) shell_.CloseFolderBrowser();
    // A box that a worker asked for meanwhile ends too.
    shell_.CloseAll();
    plat::EndModal(window_, 2);
    if (kind == ExitKind::Pipe) SyncLog().debug("call COrvaneDlg::OnCloudExit End");
}

// ---------------------------------------------------------------- the client link

bool COrvaneDlg::LoginCredentials(std::u16string& account, std::u16string& password) {
    return ClientLink::LoginCredentials(account, password);
}

void COrvaneDlg::OnLoginResult(bool success) { PostMessage(success ? WM_LOGIN_SUCCESS : WM_LOGIN_FAILURE, 0, 0); }

std::intptr_t COrvaneDlg::OnloginSuccess() {
    Debug("OnloginSuccess");
    if (Terminating() || exiting_) return -1;
    if (!link_.EndLogin()) return -1;
    // The folder dialog of the login may have ended because the program exits: nothing
    // is opened and no scan starts then.
    if (Terminating() || exiting_) return -1;
    ShowTray(phase::TrayState::Syncing);
    tray_.SetMenu(SyncTray::kMenuLoggedIn);
    app_.SetSyncFolder(plat::ToUtf16(Globals().CurrentSyncFolder()));
    OpenSyncFolderInShell();
    StartDriverTh();
    link_.ReadHistory();
    return 0;
}

void COrvaneDlg::OnPipeOpenFolder() {
    Debug("OnPipeOpenFolder");
    OpenSyncFolderInShell();
}

void COrvaneDlg::OnPipeChooseFolder() {
    Debug("OnPipeChooseFolder");
    if (folderChange_) {
        // A folder was chosen and waits for the workers to break off: it goes on.
        shell_.RaiseMainWindow();
        return;
    }
    const std::optional<std::u16string> folder = link_.ChooseFolder();
    if (!folder || exiting_ || Terminating()) return;

    // A new folder: the workers break off first. The window does not wait for them: it
    // goes on answering the tray, the menus and the pipe, holds the cycle (no new work is
    // handed out) and looks again shortly; once every worker is idle every holder of the
    // folder takes the new one, the old synchronised state goes, and both sides are
    // listed anew.
    app_.StopWatch();
    plat::KillTimer(window_, kTimerServerPoll);
    using Role = WorkerRoster::Role;
    workers_.Break({Role::Away, Role::Home, Role::Conform, Role::Server, Role::Driver});
    folderChange_ = *folder;
    FinishFolderChange();
}

bool COrvaneDlg::CycleHeld() const { return Terminating() || folderChange_.has_value(); }

void COrvaneDlg::FinishFolderChange() {
    plat::KillTimer(window_, kTimerFolderChange);
    if (!folderChange_ || exiting_ || Terminating()) return;
    using Role = WorkerRoster::Role;
    if (workers_.BreakBusy({Role::Away, Role::Home, Role::Conform, Role::Server, Role::Driver})) {
        plat::SetTimer(window_, kTimerFolderChange, kDeferredRetryMs);
        return;
    }
    const std::u16string folder = *folderChange_;
    folderChange_.reset();
    rerunAfterCommit_ = false;
    commitState_.exchange(phase::kCommitIdle);
    sigmaExpected_ = false;

    ApplyFolderChange(folder);
    SendMessage(WM_DELTA_CONFORM, kReasonLocalRescan, 0);
    // The inventory runs now and the poll goes on, also when that run is broken off.
    if (serverState.load() != 0 && paused.load() == 0) plat::SetTimer(window_, kTimerServerPoll, app_.ServerPollMs());
    if (CWorkerLoop* server = workers_.Get(Role::Server)) server->PostCommand(THREAD_CMD_RUN);
}

void COrvaneDlg::ApplyFolderChange(const std::u16string& folder) {
    app_.SetSyncFolder(folder);
    app_.SetWatchedFolder(folder);
    link_.TakeFolder(folder);
}

// ---------------------------------------------------------------- local changes

void COrvaneDlg::ReplaceAwayIfBusy() {
    changes_.AwayReplaceServed();
    if (Terminating()) return;
    if (!workers_.WaitIdle(WorkerRoster::Role::Away, 100)) workers_.ReplaceCommit(true);
}

// ---------------------------------------------------------------- the modal guard

int COrvaneDlg::NonReentrantDispatch(std::uint32_t command, int phaseOfCall, phase::ModalGuard::WindowRef window) {
    return guard_.Dispatch(command, phaseOfCall, window);
}

bool COrvaneDlg::ModalWindows::IsLive(phase::ModalGuard::WindowRef window) {
    if (window == kDetailsRef) return shell_.DetailsOpen();
    return false;  // the account confirmation is modal and gone once it returned
}

void COrvaneDlg::ModalWindows::Raise(phase::ModalGuard::WindowRef window) {
    if (window == kDetailsRef) shell_.RaiseDetails();
}

void COrvaneDlg::ModalWindows::Hide(phase::ModalGuard::WindowRef) {}

void COrvaneDlg::ModalWindows::Close(phase::ModalGuard::WindowRef window) {
    if (window == kDetailsRef) shell_.CloseDetails();
}
