#include "client/local/ClientControl.h"

#include <map>

#include "client/core/ActionFlags.h"
#include "client/core/ClientFiles.h"
#include "client/core/ClientLog.h"
#include "client/local/LocalFileSystem.h"

ClientControl::ClientControl() {
    bus_.Start();
    http_.SetControl(this);
    http_.AddListener(&transfers_);
}

ClientControl::~ClientControl() {
    edits_.StopAll();
    transfers_.Stop();
    loginState_ = ClientLoggedOut;
    // Logged out explicitly, while everything its listeners use still lives: what still
    // runs is cancelled, and nothing of the queue outlives the controller.
    http_.Logout();
    while (!transfers_.WaitForTransfers(kLogoutWait)) {
    }
    http_.RemoveListener(&transfers_);
}

// ---- set-up -----------------------------------------------------------------------------

int ClientControl::SetDirectories(const std::string& appDir, const std::string& dataDir) {
    if (files_ == nullptr) return 0;
    appDirectory_ = appDir;
    dataDirectory_ = dataDir;
    configDirectory_ = dataDir + "/Config";
    previewDirectory_ = dataDir + "/PreView";
    editDirectory_ = dataDir + "/Edit";
    uploadDirectory_ = dataDir + "/Upload";
    downloadDirectory_ = dataDir + "/Download";

    const Config config = GetConfig();
    transfers_.SetServices(&http_, this, files_, &edits_, downloadDirectory_);
    transfers_.SetConfig(config);
    edits_.SetServices(editDirectory_, previewDirectory_, files_, &transfers_, this);
    edits_.SetTranslator([this](const std::string& key) { return GetText(key); });
    edits_.SetConfig(config);

    // Content of an earlier run is discarded, except edits that never reached the server.
    files_->DeleteDirectory(previewDirectory_);
    edits_.RecoverEditCopies();
    files_->DeleteDirectory(downloadDirectory_);
    // The working folders hold copies of the user's cloud files: the user's alone.
    for (const std::string* folder : {&configDirectory_, &previewDirectory_, &editDirectory_, &downloadDirectory_}) {
        MakePrivateFolder(*folder);
    }

    languages_.SetAppDirectory(appDir);
    languages_.SetMessageSink(this);
    languages_.LoadLanguageList();
    return 1;
}

void ClientControl::SetConfig(const Config& config) {
    {
        std::lock_guard<std::mutex> lock(configMutex_);
        config_ = config;
    }
    http_.SetCaFile(config.CaFile);
    transfers_.SetConfig(config);
    edits_.SetConfig(config);
}

Config ClientControl::GetConfig() const {
    std::lock_guard<std::mutex> lock(configMutex_);
    return config_;
}

// ---- login and logout -------------------------------------------------------------------

namespace {

// The user record of a login is usable when it names the home folder (the browser's root
// and every listing's reference prefix come from it).
bool UsableUserRecord(const ServerUserInfo& info) { return !info.homeFolder.empty(); }

}  // namespace

std::string ClientControl::LastLoginFailure() const {
    std::lock_guard<std::mutex> lock(failureMutex_);
    return lastLoginFailure_;
}

int ClientControl::Login(const UserInfo& user) {
    if (loginState_.load() != ClientLoggedOut) return 0;
    int error = 0;
    bool ok = http_.Login(user.Account, user.Password, user.ServerDomainName, &error) == 1;
    // The user record, read before any lock of the controller is taken.
    const ServerUserInfo info = ok ? http_.GetUserInfo() : ServerUserInfo();
    if (ok && (http_.GetLoginState() != HttpLoggedIn || !UsableUserRecord(info))) {
        LogClientInfo("<control>Login, the server gave no usable user record, user account=" + user.Account);
        http_.Logout();
        ok = false;
    }
    if (!ok) {
        loginState_ = ClientLoggedOut;
        LogClientInfo("<control>Login, failure, user account=" + user.Account);
        // A refused certificate is no mistake of the user's: the notice names the server
        // and the reason.
        const std::string reason = error == HttpErrorCertificate ? http_.LastCertificateFailure() : std::string();
        {
            std::lock_guard<std::mutex> lock(failureMutex_);
            lastLoginFailure_ = reason;
        }
        const std::string text = reason.empty() ? GetText("Sorry, login failed. Please login again.") : reason;
        SendControlMessage(ControlMessage::Make(MessageSourceControl, MessageLoginResult, TextNotice{false, text}));
        return 0;
    }
    LogClientInfo("<control>Login, successfully, user account=" + user.Account);
    {
        std::lock_guard<std::mutex> lock(failureMutex_);
        lastLoginFailure_.clear();
    }
    bool changed = false;
    std::string displayName;
    {
        std::lock_guard<std::mutex> lock(userMutex_);
        changed = users_.AddOrUpdate(user);
        lastLoginUser_ = user;
        currentUser_.Clear();
        currentUser_.account = user.Account;
        currentUser_.password = user.Password;
        currentUser_.server = user.ServerDomainName;
        currentUser_.userName = info.userName;
        currentUser_.displayName = info.name;
        currentUser_.homeFolder = info.homeFolder;
        currentUser_.trashHome = info.trashesHome;
        currentUser_.languageCode = user.LanguageCode;
        currentUser_.valid = true;
        displayName = currentUser_.displayName;
        // Logged in together with the record: nobody sees the state without it.
        loginState_ = ClientLoggedIn;
    }
    if (changed) SaveUserInfoList();
    SendControlMessage(ControlMessage::Make(MessageSourceControl, MessageLoginResult,
                              TextNotice{true, GetText("Welcome ") + displayName + GetText(". You're in Dravik now.")}));
    edits_.SetOwner(user.Account, user.ServerDomainName);
    transfers_.Start();

    // Edits of this login that never reached the server are offered again.
    const std::vector<EditRecoveredCopy> kept = edits_.RecoveredCopies(user.Account, user.ServerDomainName);
    if (!kept.empty()) {
        std::string names;
        for (const EditRecoveredCopy& copy : kept) {
            names += (names.empty() ? "" : ", ") + copy.record.remoteName.substr(1);
        }
        SendControlMessage(ControlMessage::Make(MessageSourceControl, MessageInfoTip,
                                  GetText("Edited files that were not uploaded are kept. Open them again to upload them: ") +
                                      names));
    }
    return 1;
}

bool ClientControl::RenewSession() {
    if (loginState_.load() != ClientLoggedIn) return false;
    const UserInfo user = GetLastLoginUser();
    if (user.Account.empty()) return false;
    LogClientInfo("<control>The server session is lost; logging in again, user account=" + user.Account);
    int error = 0;
    const bool ok = http_.Login(user.Account, user.Password, user.ServerDomainName, &error) == 1;
    const ServerUserInfo info = ok ? http_.GetUserInfo() : ServerUserInfo();
    if (!ok || !UsableUserRecord(info)) {
        if (ok) http_.Logout();
        LogClientInfo("<control>The new login failed, error " + std::to_string(error) + ", user account=" + user.Account);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(userMutex_);
        // A logout while the call ran wins: the record stays the last user's.
        if (loginState_.load() != ClientLoggedIn) return false;
        currentUser_.homeFolder = info.homeFolder;
        currentUser_.trashHome = info.trashesHome;
    }
    LogClientInfo("<control>Logged in again, user account=" + user.Account);
    return true;
}

int ClientControl::Logout() {
    std::string account;
    std::string displayName;
    {
        std::lock_guard<std::mutex> lock(userMutex_);
        account = currentUser_.GetAccount();
        displayName = currentUser_.GetDisplayName();
    }
    LogClientInfo("<control>Begin Logout, user account=" + account);
    edits_.StopAll();
    transfers_.Stop();
    if (loginState_.exchange(ClientLoggedOut) != ClientLoggedOut) {
        {
            std::lock_guard<std::mutex> lock(userMutex_);
            users_.SetCurrentIndex(-1);
        }
        // Cancels the transfers that still run; they are then filed as failed.
        http_.Logout();
        SendControlMessage(ControlMessage::Make(MessageSourceControl, MessageLogoutResult,
                                                       displayName + GetText(", see you next time.")));
        LogClientInfo("<control>End Logout, user account=" + account);
    }
    transfers_.WaitForTransfers(kLogoutWait);
    return 1;
}

// ---- listings and folder operations -----------------------------------------------------

int ClientControl::OpenFolder(CloudListing& listing, const std::string& id, int isRootName, int pos, int size,
                              int* errorCode) {
    if (errorCode != nullptr) *errorCode = HttpErrorNone;
    listing.Clear();
    if (loginState_.load() != ClientLoggedIn) return 0;
    if (isRootName == 0) return ListFolder(listing, id, pos, size, errorCode);
    const CurrentUser user = GetCurrentUser();
    if (id == "CloudRoot") return GetRootListing(listing) ? 1 : 0;
    if (id == "MyDocument") {
        return user.GetHomeFolder().empty() ? 0 : ListFolder(listing, user.GetHomeFolder(), pos, size, errorCode);
    }
    if (id == "RecycleBin") {
        return user.GetTrashHome().empty() ? 0 : ListFolder(listing, user.GetTrashHome(), pos, size, errorCode);
    }
    return ListGroups(listing, id, errorCode);
}

bool ClientControl::GetRootListing(CloudListing& listing) {
    if (loginState_.load() != ClientLoggedIn) return false;
    const CurrentUser user = GetCurrentUser();
    if (user.GetHomeFolder().empty()) return false;
    listing.BuildRoot(user.GetHomeFolder(), user.GetTrashHome());
    return true;
}

int ClientControl::ListGroups(CloudListing& listing, const std::string& rootName, int* errorCode) {
    if (errorCode != nullptr) *errorCode = HttpErrorNone;
    listing.Clear();
    if (loginState_.load() != ClientLoggedIn) return 0;
    const bool collaborate = rootName == "CollaborateGroup";
    const int result = http_.EnumGroupRoots(collaborate ? 1 : 2, listing, errorCode);
    listing.node.MakeRoot(collaborate ? RootKindCollaborateGroup : RootKindPublicGroup);
    if (result == 1) {
        listing.totalRecords = static_cast<std::int32_t>(listing.children.size());
        listing.hasMoreItems = 0;
    }
    return result;
}

int ClientControl::ListFolder(CloudListing& listing, const std::string& id, int pos, int size, int* errorCode) {
    if (errorCode != nullptr) *errorCode = HttpErrorNone;
    if (loginState_.load() != ClientLoggedIn) return 0;
    const int result = http_.EnumDirectory(id, size, pos, listing, errorCode);
    if (result == 0) return 0;
    const CurrentUser user = GetCurrentUser();
    const bool recycleBin = !user.GetTrashHome().empty() && id == user.GetTrashHome();
    CloudNode& node = listing.node;
    if (!user.GetHomeFolder().empty() && id == user.GetHomeFolder()) {
        node.kindFlags = 7;
        node.rootKind = RootKindMyDocument;
        node.name = CloudNode::RootKindName(RootKindMyDocument);
        node.actionFlags = ActionFlagsFromPermissions(node.permissionBits);
    } else if (recycleBin) {
        node.kindFlags = 2;
        node.rootKind = RootKindRecycleBin;
        node.name = CloudNode::RootKindName(RootKindRecycleBin);
        node.actionFlags = 0;
    } else {
        node.actionFlags = ActionFlagsFromPermissions(node.permissionBits);
    }
    // One question per extension and listing: is there an application to open it with?
    std::map<std::string, bool> hasApplication;
    for (CloudNode& child : listing.children) {
        if (recycleBin) {
            child.actionFlags = kActionFlagsInRecycleBin;
            continue;
        }
        child.actionFlags = ActionFlagsFromPermissions(child.permissionBits);
        if (child.IsFolder() || (child.actionFlags & kActionOpen) == 0) continue;
        const std::string extension = NameExtension(child.name);
        auto known = hasApplication.find(extension);
        if (known == hasApplication.end()) {
            FileAssociation association;
            const bool found = files_ != nullptr && files_->GetAssociatedApplication(extension, association) &&
                               association.isExe;
            known = hasApplication.emplace(extension, found).first;
        }
        if (!known->second) child.actionFlags = WithoutApplication(child.actionFlags);
    }
    return result;
}

int ClientControl::CreateMultiLayers(const std::string& parentId, const std::string& path, int* errorCode) {
    if (errorCode != nullptr) *errorCode = HttpErrorNone;
    if (loginState_.load() != ClientLoggedIn) return 0;
    std::vector<CloudItem> created;
    return http_.CreateMultiLayers(parentId, path, created, errorCode);
}

int ClientControl::Rename(const std::string& id, const std::string& newName, int* errorCode) {
    if (errorCode != nullptr) *errorCode = HttpErrorNone;
    if (loginState_.load() != ClientLoggedIn) return 0;
    CloudItem reply;
    return http_.Rename(id, newName, reply, errorCode);
}

// ---- language and texts -----------------------------------------------------------------

int ClientControl::SetLanguage(const std::string& code) {
    const std::string inForce = languages_.SetLanguage(code);
    if (loginState_.load() == ClientLoggedIn && !inForce.empty()) {
        bool changed = false;
        {
            std::lock_guard<std::mutex> lock(userMutex_);
            UserInfo user = users_.GetCurrentUser();
            if (!user.Account.empty()) {
                user.LanguageCode = inForce;
                changed = users_.AddOrUpdate(user);
            }
        }
        if (changed) SaveUserInfoList();
    }
    return 1;
}

std::string ClientControl::GetText(const std::string& key) const { return languages_.LookUp(key); }

std::u16string ClientControl::GetWideText(const std::string& key) const { return languages_.LookUpWide(key); }

// ---- saved logins -----------------------------------------------------------------------

std::string ClientControl::UserInfoListPath() const { return configDirectory_ + "/" + UserInfoList::kFileName; }

bool ClientControl::LoadUserInfoList() {
    if (configDirectory_.empty()) return false;
    std::lock_guard<std::mutex> lock(userMutex_);
    return LoadUserInfoListFile(UserInfoListPath(), users_);
}

bool ClientControl::SaveUserInfoList() {
    if (configDirectory_.empty()) return false;
    std::lock_guard<std::mutex> lock(userMutex_);
    const bool saved = SaveUserInfoListFile(UserInfoListPath(), users_);
    if (!saved) LogClientInfo("<control>The saved logins cannot be written: " + UserInfoListPath());
    return saved;
}

std::vector<UserInfo> ClientControl::GetUsers() const {
    std::lock_guard<std::mutex> lock(userMutex_);
    std::vector<UserInfo> out;
    users_.GetUsers(out);
    return out;
}

int ClientControl::GetAutoLoginIndex() const {
    std::lock_guard<std::mutex> lock(userMutex_);
    return users_.AutoLoginIndex();
}

CurrentUser ClientControl::GetCurrentUser() const {
    std::lock_guard<std::mutex> lock(userMutex_);
    return currentUser_;
}

UserInfo ClientControl::GetCurrentLogin() const {
    std::lock_guard<std::mutex> lock(userMutex_);
    if (loginState_.load() != ClientLoggedIn) return UserInfo();
    return users_.GetCurrentUser();
}

ClientControl::LoginUpdate ClientControl::UpdateCurrentLogin(const UserInfo& login) {
    bool changed = false;
    {
        // A logout clears the state first and the current entry under this lock, so
        // both are seen together here.
        std::lock_guard<std::mutex> lock(userMutex_);
        if (loginState_.load() != ClientLoggedIn || login.Account.empty()) return LoginUpdate::Refused;
        const UserInfo current = users_.GetCurrentUser();
        if (current.Account != login.Account || current.ServerDomainName != login.ServerDomainName) {
            return LoginUpdate::Refused;
        }
        changed = users_.AddOrUpdate(login);
    }
    if (changed) SaveUserInfoList();
    return changed ? LoginUpdate::Changed : LoginUpdate::Unchanged;
}

UserInfo ClientControl::GetLastLoginUser() const {
    std::lock_guard<std::mutex> lock(userMutex_);
    return lastLoginUser_;
}

// ---- copies for the windows -------------------------------------------------------------

int ClientControl::CopyWaitingTasks(std::list<TransferFileTask>& out) const {
    out = transfers_.CopyWaitingTasks();
    return 1;
}

int ClientControl::CopyRunningTasks(std::list<TransferFileTask>& out) const {
    out = transfers_.CopyRunningTasks();
    return 1;
}

int ClientControl::CopyOtherTasks(std::list<TransferFileTask>& out) const {
    out = transfers_.CopyOtherTasks();
    return 1;
}

int ClientControl::CopyFinishedTasks(std::deque<TransferItem>& out) const {
    out = transfers_.FinishedList().Copy();
    return 1;
}

int ClientControl::CopyFailedTasks(std::deque<TransferItem>& out) const {
    out = transfers_.FailedList().Copy();
    return 1;
}

int ClientControl::CopyEditTasks(std::list<EditListEntry>& out) const { return edits_.CopyEntries(out); }

std::vector<EditRecoveredCopy> ClientControl::GetRecoveredEdits() const {
    const CurrentUser user = GetCurrentUser();
    if (loginState_.load() != ClientLoggedIn) return {};
    return edits_.RecoveredCopies(user.GetAccount(), user.GetServer());
}

int ClientControl::ReopenRecoveredEdit(const std::string& reference) {
    if (loginState_.load() != ClientLoggedIn) return 1;
    return edits_.ReopenRecoveredCopy(reference);
}

bool ClientControl::DiscardRecoveredEdit(const std::string& reference) { return edits_.DiscardRecoveredCopy(reference); }

// ---- messages ---------------------------------------------------------------------------

void ClientControl::SendControlMessage(ControlMessage message) { bus_.Post(std::move(message)); }

void ClientControl::ForwardViewMessage(ControlMessage message) {
    if (message.source == MessageSourceControl) SendControlMessage(std::move(message));
}

// ---- facade -----------------------------------------------------------------------------

int ClientControlFacade::GetDefaultDomainName(std::string& out) const {
    out = control_ != nullptr ? control_->GetConfig().GetDefaultDomainName() : std::string();
    return 1;
}

int ClientControlFacade::Rename(const std::string& id, const std::string& newName) {
    return control_ != nullptr ? control_->Rename(id, newName) : 0;
}

bool ClientControlFacade::AddMessageListener(MessageListener* listener) {
    return control_ != nullptr && control_->Bus().AddListener(listener);
}

void ClientControlFacade::RemoveMessageListener(MessageListener* listener) {
    if (control_ != nullptr) control_->Bus().RemoveListener(listener);
}

std::string ClientControlFacade::GetText(const std::string& key) const {
    return control_ != nullptr ? control_->GetText(key) : std::string();
}

std::string ClientControlFacade::GetTextFromCString(const std::string& key) const { return GetText(key); }

std::u16string ClientControlFacade::GetWideText(const std::string& key) const {
    return control_ != nullptr ? control_->GetWideText(key) : std::u16string();
}
