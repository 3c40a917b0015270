#include "sync/app/OrvaneApp.h"

#include <log4cpp/Category.hh>

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "platform/fileops.h"
#include "platform/logging.h"
#include "platform/text.h"
#include "platform/userdirs.h"
#include "sync/app/Login.h"
#include "sync/app/OrvaneDlg.h"
#include "sync/app/SetCloudPath.h"
#include "shm/SharedMemory.h"
#include "shm/SyncValues.h"
#include "sync/app/FlagQueryEndpoint.h"
#include "sync/app/SyncGlobals.h"
#include "sync/app/SyncShell.h"
#include "sync/app/UserRoutine.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/SyncMessages.h"
#include "sync/net/WebCloud.h"

COrvaneApp::COrvaneApp(OrvaneOptions options)
    : options_(std::move(options)),
      evtSyncSignal_("DravikSyncSignal", true, true, CEventEx::NameClaim::Exclusive),
      evtTerminate_("Global Terminate", true, false),
      evtSuspend_("Global Suspend", true, false),
      evtResume_("Global Resume", true, false),
      workers_(*this, WorkerRoster::Settings{options_.networkProbe, options_.networkPollMs,
                                             [this](const std::exception& error) { ReportWorkerError(error); }}) {
    shell_ = options_.shell ? options_.shell : std::make_shared<HeadlessShell>();
    tray_ = options_.tray ? options_.tray : std::make_shared<HeadlessTray>();
    chooser_ = options_.chooser ? options_.chooser : std::make_shared<HeadlessFolderChooser>();
    web_ = std::make_unique<CWebCloud>(&WaiterTree);
    webCloud = web_.get();
}

COrvaneApp::~COrvaneApp() {
    if (initialised_) ExitInstance();
    if (g_pTerminateEvent == &evtTerminate_) g_pTerminateEvent = nullptr;
    if (g_pSuspendEvent == &evtSuspend_) g_pSuspendEvent = nullptr;
    if (g_pResumeEvent == &evtResume_) g_pResumeEvent = nullptr;
    webCloud = nullptr;
}

int COrvaneApp::Run() {
    const bool ok = InitInstance();
    const int code = ExitInstance();
    if (!ok && exitCode_ == kExitNormal) exitCode_ = kExitFailed;
    return code == kExitNormal ? exitCode_ : code;
}

void COrvaneApp::RequestExit() {
    exitRequested_ = true;
    const plat::WindowId window = mainWindowId_.load();
    if (window != plat::kNoWindow) plat::PostMessage(window, WM_PIPE_EXIT, 0, 0);
}

// ---------------------------------------------------------------- start-up

void COrvaneApp::ComputeUtcOffset() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr) g_nLocalTimeOffset = static_cast<std::int64_t>(local.tm_gmtoff);
}

bool COrvaneApp::InitInstance() {
    ComputeUtcOffset();

    // Single instance: the claim of "DravikSyncSignal" in the user's runtime folder.
    if (evtSyncSignal_.alreadyExisted != 0) {
        shell_->MessageBox("提示", "云盘客户端已启动！");
        exitCode_ = kExitRefused;
        return false;
    }
    if (!evtSyncSignal_.HoldsName()) {
        // Without a usable runtime folder neither the single instance nor the pipes can be
        // vouched for.
        shell_->MessageBox("提示", "No usable runtime folder: the sync program cannot start.");
        exitCode_ = kExitRefused;
        return false;
    }
    initialised_ = true;
    g_pTerminateEvent = &evtTerminate_;
    g_pSuspendEvent = &evtSuspend_;
    g_pResumeEvent = &evtResume_;
    if (!SyncGlobalEventsReady()) {
        exitCode_ = kExitFailed;
        return false;
    }
    g_bNetworkUp = false;

    // The profile; "Originate" wipes the data folder before anything is set up in it.
    const std::string profilePath = SyncProfilePath();
    const SyncProfile profile = ReadSyncProfile(profilePath);
    dataFolder_ = plat::ToUtf16(plat::fs::Join(plat::DataHome(), "DravikSync"));
    const std::string dataUtf8 = DataFolderUtf8();
    bool wiped = false;
    if (profile.originate != 0) {
        wiped = plat::fs::GetKind(dataUtf8) == plat::fs::Kind::Missing || plat::fs::RemoveTree(dataUtf8);
        WriteProfileOriginate(profilePath, 0);
    }
    SetUpFolders();
    SetUpLog();
    SyncLog().debug("-------------- Start DravikSync App ---------------------");
    if (profile.originate != 0) {
        SyncLog().info(std::string("Data folder wiped at start: ") + (wiped ? "done" : "failed"));
    }

    // Accounts and paths.
    SyncGlobals& globals = Globals();
    globals.SetLogin(std::string(), std::string());
    globals.SetCurrentUser(CurrentUser{});
    globals.SetLoginError(std::string());
    globals.SetTracerPath(std::string());
    LoadUserInfoList();
    const CurrentUser current = globals.CurrentUserRecord();
    syncFolder = plat::ToUtf16(current.Path);
    if (IsUsableAccountName(current.UserName)) {
        globals.SetTracerPath(plat::fs::Join(plat::fs::Join(dataUtf8, current.UserName), "Tracer.txt"));
    }

    serverTime_ = profile.serverTime;
    updateSite_ = profile.updateSite;
    globals.SetConfiguredServerAddress(profile.serverAddress);
    if (!globals.BuildServerURLName()) SyncLog().error("The configured server address is not usable");
    if (!web_->SetServerAddress(globals.Server().url)) {
        SyncLog().error("The server address cannot be used: '" + EscapeForLog(globals.Server().url) + "'");
    }
    web_->SetSyncFolder(syncFolder);
    web_->SetCaFile(profile.caFile);
    web_->SetNotifier([this](const std::u16string& caption, const std::u16string& text) {
        const plat::WindowId window = mainWindowId_.load();
        if (window == plat::kNoWindow) return;
        plat::PostMessage(window, orvane::kWmLoginNotice, 0, 0,
                          plat::Payload::Make<std::string>(BaseFunc::WideToUtf8(text)));
    });

    watcher_.SetFilterFlags(dirwatch::kRelativeNames | dirwatch::kNeverAskHandler);
    CDirectoryChangeHandler::SetWatchFailureAction([this](std::uint32_t, const std::u16string&) {
        const plat::WindowId window = mainWindowId_.load();
        if (window != plat::kNoWindow) plat::PostMessage(window, WM_DELTA_CONFORM, kReasonLocalRescan, 0);
    });

    if (options_.sharedTableName.empty()) {
        sharedMemory_ = GetSharedMemory();
    } else {
        ownTable_ = std::make_unique<CSharedMemory>(options_.sharedTableName);
        sharedMemory_ = ownTable_->Ready() ? ownTable_.get() : nullptr;
    }
    if (sharedMemory_ != nullptr) WithdrawSyncValues(*sharedMemory_);
    PublishSyncFolder();

    workers_.MakeListers();

    // The hidden main window, until it ends.
    plat::MessageLoop loop(options_.clock);
    std::shared_ptr<void> host = options_.hostLoop ? options_.hostLoop(loop) : nullptr;
    {
        COrvaneDlg dialog(*this);
        dialog_ = &dialog;
        mainWindow = &dialog;
        const int result = dialog.DoModal(loop, [this](plat::WindowId window) {
            mainWindowId_ = window;
            if (exitRequested_.load()) plat::PostMessage(window, WM_PIPE_EXIT, 0, 0);
        });
        mainWindowId_ = plat::kNoWindow;
        // Nothing may reach the window once it is gone: every worker thread ends first.
        evtTerminate_.Set();
        StopAllWorkers();
        mainWindow = nullptr;
        dialog_ = nullptr;
        if (result < 0) exitCode_ = kExitFailed;
    }
    host.reset();
    CDirectoryChangeHandler::SetWatchFailureAction(nullptr);
    return exitCode_ == kExitNormal;
}

bool COrvaneApp::SetUpFolders() {
    const std::string data = DataFolderUtf8();
    // The data folder (the log, saved logins, state files) is the user's alone.
    bool ok = plat::fs::MakePrivateDirectories(data);
    const std::string temp = plat::fs::Join(data, "TempFile");
    ok = plat::fs::MakePrivateDirectories(temp) && ok;
    tempFolder = plat::ToUtf16(temp);
    return ok;
}

void COrvaneApp::SetUpLog() {
    plat::SetupRollingLog("DravikSyncLog", "rollfileAppender", plat::fs::Join(DataFolderUtf8(), "DravikSync.Log"),
                          5242880, 3);
}

std::string COrvaneApp::DataFolderUtf8() const { return BaseFunc::WideToUtf8(dataFolder_); }

std::uint32_t COrvaneApp::ServerPollMs() const {
    if (options_.serverPollMs) return *options_.serverPollMs;
    return serverTime_ * 60000u;
}

// ---------------------------------------------------------------- shut-down

void COrvaneApp::StopAllWorkers() {
    evtTerminate_.Set();
    workers_.StopAll();
}

void COrvaneApp::ReportWorkerError(const std::exception& error) {
    SyncLog().error(std::string("Worker thread: ") + error.what());
    shell_->MessageBox("提示", error.what());
}

int COrvaneApp::ExitInstance() {
    if (!initialised_) return exitCode_;
    initialised_ = false;
    SyncLog().debug("call COrvaneApp::ExitInstance()");
    StopWatch();
    evtTerminate_.Set();
    if (sharedMemory_ != nullptr) {
        WithdrawSyncValues(*sharedMemory_);
        sharedMemory_ = nullptr;
    }
    if (flagQuery_) flagQuery_->Stop();
    StopAllWorkers();
    workers_.DestroyAll();
    CDirectoryChangeHandler::SetWatchFailureAction(nullptr);
    SyncLog().debug("-------------- Stop DravikSync App ----------------------");
    return exitCode_;
}

// ---------------------------------------------------------------- watch

bool COrvaneApp::StartWatch(const std::u16string& folder) {
    SyncLog().debug("call COrvaneApp::StartWatch");
    if (dialog_ == nullptr || folder.empty()) return false;
    {
        std::lock_guard<std::mutex> hold(watchLock_);
        if (watchedFolder_ == folder && watcher_.IsWatched(folder)) return true;
    }
    // One folder is watched at a time: another account's or an old folder's watch ends.
    StopWatch();
    const std::uint32_t result = watcher_.WatchPath(folder, &dialog_->ChangeRecorder());
    if (result != 0) {
        SyncLog().error("Watch of the sync folder failed, code " + std::to_string(result));
        return false;
    }
    std::lock_guard<std::mutex> hold(watchLock_);
    watchedFolder_ = folder;
    return true;
}

void COrvaneApp::StopWatch() {
    SyncLog().debug("call COrvaneApp::StopWatch");
    std::u16string folder;
    {
        std::lock_guard<std::mutex> hold(watchLock_);
        folder = watchedFolder_;
    }
    if (!folder.empty() && watcher_.FindWatchInfo(folder) != nullptr) watcher_.UnwatchPath(folder);
}

std::u16string COrvaneApp::WatchedFolder() const {
    std::lock_guard<std::mutex> hold(watchLock_);
    return watchedFolder_;
}

void COrvaneApp::SetWatchedFolder(const std::u16string& folder) {
    std::lock_guard<std::mutex> hold(watchLock_);
    watchedFolder_ = folder;
}

// ---------------------------------------------------------------- state files

bool COrvaneApp::LoadTracerTree() {
    SyncLog().debug("call COrvaneApp::LoadTracerTree");
    const std::string path = Globals().TracerPath();
    std::lock_guard<std::recursive_mutex> edit(treeEditLock);
    plat::MutexHolder trees(treeLock);
    if (path.empty()) {
        TracerTree.DeleteChildren();
        TracerTree.SetData(SyncFileInfo("Tracer"));
        return false;
    }
    return UserRoutine::LoadTreeFile(TracerTree, path, "Tracer");
}

bool COrvaneApp::PersistTracer() {
    SyncLog().debug("call COrvaneApp::PersistTracer");
    const std::string path = Globals().TracerPath();
    if (path.empty()) return false;
    std::lock_guard<std::recursive_mutex> edit(treeEditLock);
    plat::MutexHolder trees(treeLock);
    return UserRoutine::SaveTracerFile(UniformTree, path);
}

void COrvaneApp::LoadUserInfoList() {
    SyncLog().debug("call COrvaneApp::LoadUserInfoList()");
    std::vector<CurrentUser> users;
    UserRoutine::LoadUserInfoList(plat::fs::Join(DataFolderUtf8(), "UserInfo.txt"), users);
    for (const CurrentUser& user : users) {
        if (user.AutoLogin != 0) Globals().SetCurrentUser(user);
    }
    Globals().SetKnownUsers(std::move(users));
}

// ---------------------------------------------------------------- the sync folder

void COrvaneApp::SetSyncFolder(const std::u16string& folder) {
    syncFolder = folder;
    web_->SetSyncFolder(folder);
    PublishSyncFolder();
}

void COrvaneApp::PublishSyncFolder() {
    if (sharedMemory_ == nullptr) return;
    if (!::PublishSyncFolder(*sharedMemory_, syncFolder)) {
        SyncLog().error("DravikCloudDiskPath cannot be published, error " + std::to_string(sharedMemory_->LastError()));
    }
}

void COrvaneApp::PublishWindowHandle() {
    // The flag query's socket is named after the value: it listens before the value says
    // where it is.
    const auto pid = static_cast<std::uint32_t>(::getpid());
    if (!flagQuery_) flagQuery_ = std::make_unique<FlagQueryEndpoint>(*this);
    if (!flagQuery_->Start(SyncQuerySocketPath(pid))) SyncLog().error("The flag query cannot be served");
    if (sharedMemory_ == nullptr) return;
    if (!PublishSyncHandle(*sharedMemory_, pid)) {
        SyncLog().error("DravikSyncWinHandle cannot be published, error " + std::to_string(sharedMemory_->LastError()));
    }
}

// ---------------------------------------------------------------- worker slots

plat::Event* COrvaneApp::AwayDoneEvent() { return workers_.DoneEvent(WorkerRoster::Role::Away); }

plat::Event* COrvaneApp::HomeDoneEvent() { return workers_.DoneEvent(WorkerRoster::Role::Home); }
