#pragma once
// The login hand-over: the client hands the account and password over the pipe
// (Logging), the server-inventory thread logs in with them, and after a successful login
// EndLogin settles the account's local folder (asking with the folder dialog when none is
// known or the known one is gone), makes the account's data folder, moves the account to
// the end of the known accounts, saves "UserInfo.txt" and loads the account's own
// "Tracer.txt", so that no cycle ever runs against another account's last state.
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "sync/app/SetCloudPath.h"

class SyncApp;
class SyncGlobals;

// The main window as the login sees it.
class LoginWindow {
public:
    virtual ~LoginWindow() = default;
    // Breaks off a running pass and starts a login followed by a full server rescan.
    virtual void LoginBegin() = 0;
};

struct LoginEnvironment {
    SyncGlobals* globals = nullptr;
    SyncApp* app = nullptr;            // its Tracer tree and tree locks
    LoginWindow* window = nullptr;
    FolderChooser* chooser = nullptr;
    std::string dataFolder;       // UTF-8: the program's data folder ("DravikSync")
    std::string documentsFolder;  // UTF-8: the user's documents folder
};

class Login {
public:
    explicit Login(LoginEnvironment environment) : env_(std::move(environment)) {}

    // Records the account and password handed over by the client (bytes as received) as
    // the login to make and as the current user (no folder yet), rebuilds the server
    // address and calls LoginWindow::LoginBegin. Returns 1.
    int Logging(std::string user, std::string password);

    // After a successful login (runs on the server-inventory thread): settles the current
    // user's folder and state, see above. Returns 1, or 0 when the account cannot be kept
    // (a name that cannot be a folder name, a folder that cannot be made).
    int EndLogin();

    // The account handed over takes another folder: its known records and the current
    // user get it, "UserInfo.txt" is saved and the account's "Tracer.txt" is deleted (it
    // describes the old folder). The caller has stopped the watch and the workers first
    // and updates the folder's other holders itself. True when both files were handled.
    bool ChangeFolder(const std::u16string& folder);

    // data folder + "/UserInfo.txt"
    std::string UserInfoPath() const;

private:
    LoginEnvironment env_;
};

// Whether an account name can serve as a folder name (its data folder, its proposed sync
// folder): valid UTF-8, not empty, ".", "..", no '/', '\\' or control characters.
bool IsUsableAccountName(std::string_view account);

// The text shown after a failed login: "网络访问失败，请检查是否联网" without a reply,
// else "网络返回错误信息：" and the reply's text after its first ':' up to the first '}'
// behind it (the whole rest when one of them is missing).
std::string LoginFailureText(std::string_view reply);

// The login cookie "name=value" split at its first '='; none without '=' or without a name.
std::optional<std::pair<std::string, std::string>> SplitLoginCookie(std::string_view cookie);
