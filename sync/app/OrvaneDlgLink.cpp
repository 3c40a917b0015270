// The main window's side of the link with the client program: the login hand-over, the
// pipe commands, the choice of another folder, the language, and the flag query that
// stands in for WM_COPYDATA.
#include <log4cpp/Category.hh>

#include <algorithm>

#include "platform/text.h"
#include "sync/app/OrvaneApp.h"
#include "sync/app/OrvaneDlg.h"
#include "sync/app/SetCloudPath.h"
#include "sync/app/SyncGlobals.h"
#include "sync/app/SyncShell.h"
#include "sync/common/FolderDigest.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/SyncMessages.h"
#include "sync/engine/ThreadOfAway.h"
#include "sync/engine/ThreadOfConform.h"
#include "sync/engine/ThreadOfDriver.h"
#include "sync/engine/ThreadOfHome.h"
#include "sync/engine/ThreadOfServer.h"
#include "sync/net/WebCloud.h"

using namespace orvane;

namespace {
void Debug(const char* handler) { SyncLog().debug(std::string("call COrvaneDlg::") + handler); }
}  // namespace

// ---------------------------------------------------------------- login

std::intptr_t COrvaneDlg::OnPipeLogin(plat::Message& message) {
    Debug("OnPipeLogin");
    std::unique_ptr<PipeLoginData> data = message.payload.Take<PipeLoginData>();
    if (!data) return 0;
    login_.Logging(data->account, data->password);
    return 0;
}

bool COrvaneDlg::LoginCredentials(std::u16string& account, std::u16string& password) {
    account = plat::ToUtf16(Globals().LoginUser());
    password = plat::ToUtf16(Globals().LoginPassword());
    return !account.empty();
}

void COrvaneDlg::OnLoginResult(bool success) { PostMessage(success ? WM_LOGIN_SUCCESS : WM_LOGIN_FAILURE, 0, 0); }

std::intptr_t COrvaneDlg::OnloginSuccess() {
    Debug("OnloginSuccess");
    if (Terminating()) return -1;
    if (login_.EndLogin() == 0) {
        PostMessage(WM_PIPE_EXIT, 0, 0);
        if (pipes_) pipes_->Stop();
        return -1;
    }
    ShowTray(phase::TrayState::Syncing);
    tray_.SetMenu(SyncTray::kMenuLoggedIn);
    app_.SetSyncFolder(plat::ToUtf16(Globals().CurrentSyncFolder()));
    OpenSyncFolderInShell();
    StartDriverTh();
    ReadSyncHisList();
    return 0;
}

std::intptr_t COrvaneDlg::OnloginFailure() {
    Debug("OnloginFailure");
    Globals().SetLoginError(LoginFailureText(BaseFunc::WideToUtf8(app_.WebCloud().LoginReply())));
    return 0;
}

void COrvaneDlg::ReadSyncHisList() {
    Debug("ReadSyncHisList");
    history_.ReadOnce(Globals().CurrentUserRecord().UserName);
}

void COrvaneDlg::SaveSyncHisList() {
    Debug("SaveSyncHisList");
    history_.Save();
    SyncLog().debug("call COrvaneDlg::SaveSyncHisList end");
}

void COrvaneDlg::SaveServerListing(const FileNode& listing) {
    UserRoutine::SaveTreeFile(listing, app_.DataFolderUtf8() + "/Server.txt", "服务器列表文件存储");
}

// ---------------------------------------------------------------- commands

void COrvaneDlg::OnPipeOpenFolder() {
    Debug("OnPipeOpenFolder");
    OpenSyncFolderInShell();
}

void COrvaneDlg::OnPipeLanguage(int language) {
    Debug(language == 0 ? "OnPipeLanguageEnglish" : "OnPipeLanguageChinese");
    if (language_.load() != language) {
        language_ = language;
        tray_.SetLanguage(language);
        if (shell_.DetailsOpen()) shell_.CloseDetails();
        if (shell_.FolderBrowserOpen()) shell_.CloseFolderBrowser();
    }
    tray_.SetTooltipText(std::string());
}

void COrvaneDlg::OnPipeChooseFolder() {
    Debug("OnPipeChooseFolder");
    shell_.RaiseMainWindow();
    if (shell_.FolderBrowserOpen()) return;

    const std::u16string current = app_.syncFolder;
    const std::optional<std::u16string> picked =
        shell_.BrowseForFolder(std::u16string(CSetCloudPath::kBrowseTitleKey), current);
    const FolderChange change =
        CheckFolderChange(picked, current, Globals().LoginUser(), Globals().KnownUsers());
    switch (change.verdict) {
        case FolderChange::kNoChange:
            return;
        case FolderChange::kInvalid:
            shell_.MessageBox("提示", "无效路径");
            PostMessage(WM_PIPE_CHOOSE_FOLDER, 0, 0);
            return;
        case FolderChange::kTaken:
            shell_.MessageBox("警告提示", BaseFunc::WideToUtf8(FormatKeyText(kFolderTakenKey,
                                                                            plat::ToUtf16(change.otherUser))));
            PostMessage(WM_PIPE_CHOOSE_FOLDER, 0, 0);
            return;
        case FolderChange::kNewFolder:
            break;
    }

    // A new folder: the workers stop and wait first, then every holder of the folder takes
    // the new one, the old synchronised state goes, and both sides are listed anew.
    app_.StopWatch();
    plat::KillTimer(window_, kTimerServerPoll);
    CThread* workers[] = {app_.awayThread, app_.homeThread, app_.conformThread, app_.serverThread,
                          app_.driverThread};
    CSyncBase* events[] = {app_.awayThread, app_.homeThread, app_.conformThread, app_.serverThread,
                           app_.driverThread};
    for (CSyncBase* worker : events) {
        if (worker != nullptr) worker->breakEvent.Set();
    }
    {
        WaitScope scope(*this);
        for (std::size_t i = 0; i < std::size(workers); ++i) {
            if (workers[i] != nullptr && workers[i]->IsAlive()) events[i]->doneEvent.Wait(plat::kInfinite);
        }
    }
    rerunAfterCommit_ = false;
    commitState_.exchange(phase::kCommitIdle);
    sigmaExpected_ = false;

    app_.SetSyncFolder(change.folder);
    app_.SetWatchedFolder(change.folder);
    login_.ChangeFolder(change.folder);
    SendMessage(WM_DELTA_CONFORM, kReasonLocalRescan, 0);
    // The inventory runs now and the poll goes on, also when that run is broken off.
    if (serverState.load() != 0 && paused.load() == 0) plat::SetTimer(window_, kTimerServerPoll, app_.ServerPollMs());
    if (CThreadOfServer* server = app_.serverThread) server->PostCommand(THREAD_CMD_RUN);
}

// ---------------------------------------------------------------- flag query

std::intptr_t COrvaneDlg::OnCopyData(plat::Message& message) {
    const CopyDataRequest* request = message.payload.Get<CopyDataRequest>();
    if (request == nullptr) return 0;
    std::lock_guard<std::recursive_mutex> edit(app_.treeEditLock);
    plat::MutexHolder trees(app_.treeLock);

    const std::size_t units = std::min<std::size_t>(request->byteCount / 2, request->data.size());
    std::string name;
    if (!UTF16toUTF8(request->data.data(), units, name)) {
        SyncLog().debug("call COrvaneDlg::OnCopyData, receive filename=<not text>");
        return 0;
    }
    SyncLog().debug("call COrvaneDlg::OnCopyData, receive filename='" + EscapeForLog(name) + "'");
    if (name.empty()) return 0;
    if (name.front() != '\\') name.insert(name.begin(), '\\');
    TaskNode* node = FindNodeByPath(&app_.UniformTree, 1, name);
    if (node == nullptr) return 0;
    SyncTaskInfo record = *node->data;
    BaseFunc::AndFileFlags(record, *node);
    return record.flag == request->dwData ? 1 : 0;
}
