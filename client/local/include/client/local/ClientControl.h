#pragma once
// The non-visual heart of the client program. One controller lives for the program's
// whole life: it owns the HTTP client, its copy of the settings, the saved logins with
// their cipher, the record of the logged-in user, the language catalogue, the transfer
// queue, the edit tasks and the message bus; it prepares the working folders, logs in
// and out, and serves the dialogs their listings, folder operations, texts and copies of
// the transfer and edit lists. Results that arrive later, or that several windows care
// about, go out as bus messages.
//
// It lives in the local layer because it wires the local services (file system,
// transfer queue, edit tasks); the records and rules it uses are the control layer's.
//
// Threads: every operation runs on the UI thread and blocks it while it talks to the
// server, except SendControlMessage (any thread). Logout ends the edit tasks and the
// transfer queue and waits (bounded) for their threads; the destructor does the same
// without a bound and logs the HTTP client out before it goes, so nothing the controller
// owns runs once it is destroyed. The shell stops the bus (Bus().Stop()) before that.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "client/core/CloudRecords.h"
#include "client/core/Config.h"
#include "client/core/EditRecords.h"
#include "client/core/HttpClient.h"
#include "client/core/LanguageManager.h"
#include "client/core/MessageManage.h"
#include "client/core/TransferRecords.h"
#include "client/core/UserInfo.h"
#include "client/local/EditPreviewTaskManage.h"
#include "client/local/TransferManage.h"

class CLocalFileSystem;

// What the dialogs hand the controller: a tip of theirs to pass on to the bus.
class ClientControlAndBaseViewBridgeInterface {
public:
    virtual ~ClientControlAndBaseViewBridgeInterface() = default;
    // Passes the message on to the bus when its source is the controller's (5).
    virtual void ForwardViewMessage(ControlMessage message) = 0;
};

// Login states of the controller.
enum ClientLoginState : int { ClientLoggedOut = 0, ClientLoggedIn = 2 };

class ClientControl : public SendControlMessageInterface, public ClientControlAndBaseViewBridgeInterface {
public:
    // The longest wait of a logout for the threads of the transfers and edit tasks.
    static constexpr std::chrono::milliseconds kLogoutWait{30000};

    // Starts the bus, ties the HTTP client to the controller and registers the transfer
    // queue as its progress listener. Touches neither disk nor network.
    ClientControl();
    ~ClientControl() override;
    ClientControl(const ClientControl&) = delete;
    ClientControl& operator=(const ClientControl&) = delete;

    // The local file system (not owned; it outlives the controller). Before SetDirectories.
    void SetFileSystem(CLocalFileSystem* files) { files_ = files; }
    // Derives the working folders below dataDir, empties "/PreView" and "/Download",
    // keeps only the edit copies not yet uploaded in "/Edit", creates "/Config",
    // "/PreView", "/Edit" and "/Download", wires the services and loads the language
    // list from appDir. 1; 0 without a file system.
    int SetDirectories(const std::string& appDir, const std::string& dataDir);

    // The settings the services work with: those of "Config.xml" at start, then those of
    // the settings dialog.
    void SetConfig(const Config& config);
    Config GetConfig() const;

    // 1 logged in; 0 on failure or when not logged out. Posts message 1 when the server
    // was asked. A login whose reply holds no usable user record (no home folder) fails
    // like any other: nothing of it is kept and the server session is ended.
    int Login(const UserInfo& user);
    // Why the last Login failed when the user's credentials were not the cause (the
    // server's certificate was refused: the text names the server and the reason);
    // empty after a success or a refusal of the credentials.
    std::string LastLoginFailure() const;
    // A lost server session (HTTP 401) while logged in: one new login with this login's
    // credentials, without the login messages. True when the session is back; false when
    // logged out or the new login failed (the HTTP client is then logged out).
    bool RenewSession();
    // Ends the edit tasks and the transfer queue and logs out; message 2 when it was
    // logged in. 1.
    int Logout();
    int GetLoginState() const { return loginState_.load(); }

    // Listings (logged in only, else 0). OpenFolder and ListGroups empty the listing first.
    // The server calls write the HTTP client's error code through `errorCode` (0 when no
    // call was made).
    int OpenFolder(CloudListing& listing, const std::string& id, int isRootName, int pos, int size,
                   int* errorCode = nullptr);
    bool GetRootListing(CloudListing& listing);
    int ListGroups(CloudListing& listing, const std::string& rootName, int* errorCode = nullptr);
    int ListFolder(CloudListing& listing, const std::string& id, int pos, int size, int* errorCode = nullptr);

    int CreateMultiLayers(const std::string& parentId, const std::string& path, int* errorCode = nullptr);
    int Rename(const std::string& id, const std::string& newName, int* errorCode = nullptr);

    // Switches the language and records it in the logged-in user's saved login. 1.
    int SetLanguage(const std::string& code);
    std::string GetText(const std::string& key) const;
    std::string GetTextFromCString(const std::string& key) const { return GetText(key); }
    std::u16string GetWideText(const std::string& key) const;

    // "UserInfoList.xml" in the Config folder. A file that does not parse is kept aside.
    bool LoadUserInfoList();
    bool SaveUserInfoList();
    std::vector<UserInfo> GetUsers() const;
    int GetAutoLoginIndex() const;
    // The logged-in user; after a logout the last one's values.
    CurrentUser GetCurrentUser() const;
    // The saved login of the logged-in user (an empty record when logged out).
    UserInfo GetCurrentLogin() const;
    // Stores changed options of the logged-in user's saved login (`login` names it by
    // account and server) and writes "UserInfoList.xml" when the list changed. Refused
    // when nobody is logged in any more or another user is: a logout while a dialog is
    // open never makes an entry without an account.
    enum class LoginUpdate { Changed, Unchanged, Refused };
    LoginUpdate UpdateCurrentLogin(const UserInfo& login);
    // The record of the last successful login (the pipe link hands it to the sync program).
    UserInfo GetLastLoginUser() const;

    // Copies of the transfer queue's lists. 1.
    int CopyWaitingTasks(std::list<TransferFileTask>& out) const;
    int CopyRunningTasks(std::list<TransferFileTask>& out) const;
    int CopyOtherTasks(std::list<TransferFileTask>& out) const;
    int CopyFinishedTasks(std::deque<TransferItem>& out) const;
    int CopyFailedTasks(std::deque<TransferItem>& out) const;
    // Appends one row per edit or preview task. 1.
    int CopyEditTasks(std::list<EditListEntry>& out) const;

    // Edit copies of the logged-in user whose content was not uploaded; offered after
    // login (message 4) and opened again or discarded on the user's word.
    std::vector<EditRecoveredCopy> GetRecoveredEdits() const;
    int ReopenRecoveredEdit(const std::string& reference);
    bool DiscardRecoveredEdit(const std::string& reference);

    void SendControlMessage(ControlMessage message) override;
    void ForwardViewMessage(ControlMessage message) override;

    // The services, for the shell's windows.
    HttpClient& Http() { return http_; }
    TransferManage& Transfers() { return transfers_; }
    EditPreviewTaskManage& Edits() { return edits_; }
    MessageManage& Bus() { return bus_; }
    LanguageManager& Languages() { return languages_; }

    const std::string& AppDirectory() const { return appDirectory_; }
    const std::string& DataDirectory() const { return dataDirectory_; }
    const std::string& ConfigDirectory() const { return configDirectory_; }
    const std::string& PreViewDirectory() const { return previewDirectory_; }
    const std::string& EditDirectory() const { return editDirectory_; }
    const std::string& UploadDirectory() const { return uploadDirectory_; }
    const std::string& DownloadDirectory() const { return downloadDirectory_; }

private:
    std::string UserInfoListPath() const;

    std::string appDirectory_;
    std::string dataDirectory_;
    std::string configDirectory_;
    std::string previewDirectory_;
    std::string editDirectory_;
    std::string uploadDirectory_;
    std::string downloadDirectory_;

    mutable std::mutex userMutex_;  // users_, currentUser_, lastLoginUser_
    UserInfoList users_;
    CurrentUser currentUser_;
    UserInfo lastLoginUser_;

    CloudListing listing_;  // kept empty: the windows keep their own listings
    LanguageManager languages_;
    CLocalFileSystem* files_ = nullptr;
    HttpClient http_;
    mutable std::mutex configMutex_;
    Config config_;
    TransferManage transfers_;
    EditPreviewTaskManage edits_;
    MessageManage bus_;
    std::atomic<int> loginState_{ClientLoggedOut};
    mutable std::mutex failureMutex_;
    std::string lastLoginFailure_;
};

// The dialogs' way to the controller for texts, the configured server address, rename
// and listener registration.
class ClientControlFacade {
public:
    explicit ClientControlFacade(ClientControl* control = nullptr) : control_(control) {}
    void SetControl(ClientControl* control) { control_ = control; }

    int GetDefaultDomainName(std::string& out) const;
    int Rename(const std::string& id, const std::string& newName);
    // Registers a listener while the bus runs; true when registered.
    bool AddMessageListener(MessageListener* listener);
    void RemoveMessageListener(MessageListener* listener);
    std::string GetText(const std::string& key) const;
    std::string GetTextFromCString(const std::string& key) const;
    std::u16string GetWideText(const std::string& key) const;

private:
    ClientControl* control_;
};
