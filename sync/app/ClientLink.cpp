// The main window's side of the link with the client program: the login hand-over, the
// pipe commands, the choice of another folder, the language, and the flag query that
// stands in for WM_COPYDATA.
#include "sync/app/ClientLink.h"

#include <log4cpp/Category.hh>

#include <algorithm>

#include "platform/text.h"
#include "platform/userdirs.h"
#include "sync/app/FlagQueryEndpoint.h"
#include "sync/app/OrvaneApp.h"
#include "sync/app/SetCloudPath.h"
#include "sync/app/SyncGlobals.h"
#include "sync/app/SyncShell.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/SyncMessages.h"
#include "sync/net/WebCloud.h"

namespace {
// The log names keep the window's handlers, whose work this is.
void Debug(const char* handler) { SyncLog().debug(std::string("call COrvaneDlg::") + handler); }
}  // namespace

ClientLink::ClientLink(COrvaneApp& app, LoginWindow& window)
    : app_(app),
      shell_(app.Shell()),
      tray_(app.Tray()),
      login_(LoginEnvironment{&Globals(), &app, &window, &app.Chooser(), app.DataFolderUtf8(), plat::DocumentsDir()}),
      history_(app.DataFolderUtf8() + "/history.txt") {}

ClientLink::~ClientLink() { StopPipes(); }

// ---------------------------------------------------------------- pipes

bool ClientLink::StartPipes(plat::WindowId window) {
    window_ = window;
    pipes_ = std::make_unique<SyncPipeLink>();
    return pipes_->Start(window);
}

void ClientLink::StopPipes() {
    if (pipes_) pipes_->Stop();
}

bool ClientLink::WritePauseState(bool paused) { return pipes_ && pipes_->WritePauseState(paused); }

// ---------------------------------------------------------------- login

void ClientLink::OnPipeLogin(plat::Message& message) {
    Debug("OnPipeLogin");
    std::unique_ptr<PipeLoginData> data = message.payload.Take<PipeLoginData>();
    if (!data) return;
    login_.Logging(data->account, data->password);
}

bool ClientLink::LoginCredentials(std::u16string& account, std::u16string& password) {
    account = plat::ToUtf16(Globals().LoginUser());
    password = plat::ToUtf16(Globals().LoginPassword());
    return !account.empty();
}

bool ClientLink::EndLogin() {
    if (login_.EndLogin() != 0) return true;
    plat::PostMessage(window_, WM_PIPE_EXIT, 0, 0);
    StopPipes();
    return false;
}

void ClientLink::OnLoginFailure() {
    Debug("OnloginFailure");
    Globals().SetLoginError(LoginFailureText(BaseFunc::WideToUtf8(app_.WebCloud().LoginReply())));
}

// ---------------------------------------------------------------- history

void ClientLink::ReadHistory() {
    Debug("ReadSyncHisList");
    history_.ReadOnce(Globals().CurrentUserRecord().UserName);
}

void ClientLink::SaveHistory() {
    Debug("SaveSyncHisList");
    history_.Save();
    SyncLog().debug("call COrvaneDlg::SaveSyncHisList end");
}

// ---------------------------------------------------------------- commands

void ClientLink::OnPipeLanguage(int language, bool closeDetails) {
    Debug(language == 0 ? "OnPipeLanguageEnglish" : "OnPipeLanguageChinese");
    if (language_.load() != language) {
        language_ = language;
        tray_.SetLanguage(language);
        if (closeDetails && shell_.DetailsOpen()) shell_.CloseDetails();
        if (shell_.FolderBrowserOpen()) shell_.CloseFolderBrowser();
    }
    tray_.SetTooltipText(std::string());
}

std::optional<std::u16string> ClientLink::ChooseFolder() {
    shell_.RaiseMainWindow();
    if (shell_.FolderBrowserOpen()) {
        shell_.RaiseFolderBrowser();
        return std::nullopt;
    }

    const std::u16string current = app_.syncFolder;
    const std::optional<std::u16string> picked =
        shell_.BrowseForFolder(std::u16string(CSetCloudPath::kBrowseTitleKey), current);
    const FolderChange change =
        CheckFolderChange(picked, current, Globals().LoginUser(), Globals().KnownUsers());
    switch (change.verdict) {
        case FolderChange::kNoChange:
            return std::nullopt;
        case FolderChange::kInvalid:
            shell_.MessageBox("提示", "无效路径");
            plat::PostMessage(window_, WM_PIPE_CHOOSE_FOLDER, 0, 0);
            return std::nullopt;
        case FolderChange::kTaken:
            shell_.MessageBox("警告提示", BaseFunc::WideToUtf8(FormatKeyText(kFolderTakenKey,
                                                                            plat::ToUtf16(change.otherUser))));
            plat::PostMessage(window_, WM_PIPE_CHOOSE_FOLDER, 0, 0);
            return std::nullopt;
        case FolderChange::kNewFolder:
            break;
    }
    return change.folder;
}

void ClientLink::TakeFolder(const std::u16string& folder) { login_.ChangeFolder(folder); }

// ---------------------------------------------------------------- flag query

std::intptr_t ClientLink::OnCopyData(plat::Message& message) {
    const CopyDataRequest* request = message.payload.Get<CopyDataRequest>();
    if (request == nullptr) return 0;
    const std::size_t units = std::min<std::size_t>(request->byteCount / 2, request->data.size());
    return AnswerFlagQuery(app_, request->dwData, request->data.data(), units);
}
