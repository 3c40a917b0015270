#include "sync/app/Login.h"

#include <log4cpp/Category.hh>

#include <mutex>
#include <vector>

#include "platform/fileops.h"
#include "platform/text.h"
#include "sync/app/SyncGlobals.h"
#include "sync/app/UserRoutine.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncBase.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/EngineContext.h"

namespace {

constexpr std::string_view kUserInfoLabel = "存储历史用户文件";

}  // namespace

bool IsUsableAccountName(std::string_view account) {
    if (account.empty() || account == "." || account == ".." || !plat::IsValidUtf8(account)) return false;
    for (const char c : account) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

std::string LoginFailureText(std::string_view reply) {
    if (reply.empty()) return "网络访问失败，请检查是否联网";
    const std::size_t colon = reply.find(':');
    const std::size_t start = colon == std::string_view::npos ? 0 : colon + 1;
    const std::size_t brace = reply.find('}', start);
    const std::size_t end = brace == std::string_view::npos ? reply.size() : brace;
    return "网络返回错误信息：" + std::string(reply.substr(start, end - start));
}

std::optional<std::pair<std::string, std::string>> SplitLoginCookie(std::string_view cookie) {
    const std::size_t equals = cookie.find('=');
    if (equals == std::string_view::npos || equals == 0) return std::nullopt;
    return std::make_pair(std::string(cookie.substr(0, equals)), std::string(cookie.substr(equals + 1)));
}

std::string Login::UserInfoPath() const { return plat::fs::Join(env_.dataFolder, "UserInfo.txt"); }

int Login::Logging(std::string user, std::string password) {
    SyncLog().debug("call Login::Logging");
    CurrentUser current;
    current.UserName = user;
    current.PassWord = password;
    current.AutoLogin = 0;
    current.MemoPassWord = 1;
    env_.globals->SetCurrentUser(current);
    env_.globals->SetLogin(user, password);
    env_.globals->BuildServerURLName();
    if (env_.window) env_.window->LoginBegin();
    return 1;
}

int Login::EndLogin() {
    SyncLog().debug("call Login::EndLogin");
    SyncGlobals& globals = *env_.globals;
    CurrentUser current = globals.CurrentUserRecord();
    if (!IsUsableAccountName(current.UserName)) {
        SyncLog().alert("Account name cannot name a folder: '" + EscapeForLog(current.UserName) +
                        "' filepath:Login");
        return 0;
    }

    // The account's records leave the list; the last one's folder is the one known.
    std::vector<CurrentUser> known = globals.KnownUsers();
    std::string folder;
    std::vector<CurrentUser> others;
    for (CurrentUser& user : known) {
        if (user.UserName == current.UserName) {
            folder = user.Path;
        } else {
            others.push_back(std::move(user));
        }
    }

    bool folderGone = false;
    if (folder.empty() || plat::fs::GetKind(folder) != plat::fs::Kind::Directory) {
        folderGone = !folder.empty();
        CSetCloudPath dialog(current.UserName, folderGone ? CSetCloudPath::kFolderGone : CSetCloudPath::kFirstLogin,
                             others, env_.documentsFolder);
        dialog.Init();
        if (env_.chooser) env_.chooser->RunSetCloudPath(dialog);
        if (g_pTerminateEvent != nullptr && g_pTerminateEvent->IsSet()) {
            // The dialog ended because the program exits: the user chose nothing, and
            // nothing of the account is kept or made.
            SyncLog().info("The program exits during the folder choice of the login");
            return 0;
        }
        folder = BaseFunc::WideToUtf8(dialog.Folder());
    }
    if (folder.empty() || folder.front() != '/' || !plat::fs::MakeDirectories(folder)) {
        SyncLog().alert("Sync folder cannot be made '" + EscapeForLog(folder) + "': " +
                        plat::fs::LastErrorText() + " filepath:Login");
        return 0;
    }

    const std::string accountFolder = plat::fs::Join(env_.dataFolder, current.UserName);
    if (!plat::fs::MakeDirectories(accountFolder)) {
        SyncLog().alert("Account folder cannot be made '" + EscapeForLog(accountFolder) + "': " +
                        plat::fs::LastErrorText() + " filepath:Login");
        return 0;
    }
    const std::string tracerPath = plat::fs::Join(accountFolder, "Tracer.txt");

    current.Path = folder;
    others.push_back(current);
    UserRoutine::SaveUserInfoList(UserInfoPath(), kUserInfoLabel, others);

    // A folder chosen anew holds nothing of the last synchronised state.
    if (folderGone && plat::fs::GetKind(tracerPath) != plat::fs::Kind::Missing &&
        !plat::fs::RemoveFile(tracerPath)) {
        SyncLog().alert("Tracer.txt of a vanished folder cannot be deleted: " + plat::fs::LastErrorText() +
                        " filepath:Login");
        return 0;
    }

    globals.SetKnownUsers(std::move(others));
    globals.SetCurrentUser(current);
    globals.SetTracerPath(tracerPath);

    if (env_.app) {
        std::lock_guard<std::recursive_mutex> edit(env_.app->treeEditLock);
        plat::MutexHolder trees(env_.app->treeLock);
        UserRoutine::LoadTreeFile(env_.app->TracerTree, tracerPath, "Tracer");
    }
    return 1;
}

bool Login::ChangeFolder(const std::u16string& folder) {
    SyncGlobals& globals = *env_.globals;
    const std::string account = globals.LoginUser();
    const std::string path = BaseFunc::WideToUtf8(folder);

    std::vector<CurrentUser> known = globals.KnownUsers();
    for (CurrentUser& user : known) {
        if (user.UserName == account) user.Path = path;
    }
    CurrentUser current = globals.CurrentUserRecord();
    if (current.UserName == account) {
        current.Path = path;
        globals.SetCurrentUser(current);
    }
    const bool saved = UserRoutine::SaveUserInfoList(UserInfoPath(), kUserInfoLabel, known);
    globals.SetKnownUsers(std::move(known));

    const std::string tracerPath = globals.TracerPath();
    const bool removed = tracerPath.empty() || plat::fs::GetKind(tracerPath) == plat::fs::Kind::Missing ||
                         plat::fs::RemoveFile(tracerPath);
    if (!removed) {
        SyncLog().alert("Tracer.txt cannot be deleted: " + plat::fs::LastErrorText() + " filepath:Login");
    }
    return saved && removed;
}
