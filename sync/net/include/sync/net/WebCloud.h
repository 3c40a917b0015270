#pragma once
// CWebCloud: the sync program's client of the server's web interface. The application
// owns exactly one. Every call is one synchronous request on the calling thread, carried
// out by a WinHttpClient; the object keeps one client per operation and re-targets it for
// the next call of that operation.
//
// Threads: login and listing run on the server-inventory thread, item operations and
// uploads on the commit-to-server thread, downloads on the commit-to-local thread, logout
// on the main window's thread. Each operation uses only its own client. The login state
// (cookie, logged-in flag, home folder, account, last login reply) and the configuration
// (server address, sync folder, limits, notifier) are guarded by the object's lock; the
// result texts (CreatedNodeRef, UploadedNodeRef, ResultNodeRef) are written and read by the
// one thread that calls the operation.
//
// A call fails (0) without a request when not logged in on the server (no login cookie).
// A request that fails copies its client's failure code into LastStatus(); a refusal with
// 401 or 403 also clears the login, so the next inventory logs in again.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <rapidjson/fwd.h>

#include "sync/net/WinHttpClient.h"

template <typename T> class TreeNode;
struct SyncFileInfo;
class CSyncBase;
class SyncOperationSlot;

// The server base address and its parts.
struct ServerAddress {
    std::string url;   // scheme, authority and path: the prefix of every call ("http://h:8080/dravik")
    std::string root;  // scheme and authority: the prefix of the upload ("http://h:8080")
    std::string host;  // authority alone: the value of "Host:" ("h:8080")
};

// The address from the configured server text: "host[:port][/path]", or the same after
// "http://" or "https://". Trailing '/' characters are dropped. Nothing for an empty
// host, another scheme, user information ('@') or blanks and control characters.
std::optional<ServerAddress> ParseServerAddress(std::string_view configured);

class CWebCloud {
public:
    // Shows the failed-login notice: caption and text ("提示信息", "连接服务器失败\n请稍后重试").
    using LoginNotifier = std::function<void(const std::u16string& caption, const std::u16string& text)>;

    // Uploads up to this size go in memory; larger ones are streamed from the file.
    static constexpr std::uint64_t kInMemoryUploadLimit = 314572800;

    // `targetTree` (not owned) is the tree a listing fills: the application's "Waiter" tree.
    explicit CWebCloud(TreeNode<SyncFileInfo>* targetTree);
    ~CWebCloud();
    CWebCloud(const CWebCloud&) = delete;
    CWebCloud& operator=(const CWebCloud&) = delete;

    // ---- configuration ----
    // False (address unchanged) when the text is not a usable address.
    bool SetServerAddress(std::string_view configured);
    ServerAddress GetServerAddress() const;
    // The local sync folder (absolute, no trailing separator), root of every transfer path.
    void SetSyncFolder(const std::u16string& folder);
    void SetNotifier(LoginNotifier notifier);
    // Limits given to every client from its next request on.
    void SetTimeouts(const HttpTimeouts& timeouts);
    void SetInMemoryUploadLimit(std::uint64_t bytes);
    // The PEM file of the authorities https servers are checked against (empty: the
    // system's), from every client's next request on.
    void SetCaFile(std::string path);

    // ---- login ----
    // 1 logged in (cookie and home folder kept), 0 failed. Logs out first when a login
    // cookie is held. The reply text is kept for the login-failure message (LoginReply).
    int iLogin(CSyncBase* checkpoint, const std::u16string& account, const std::u16string& password);
    // Sends "/logout" with the login cookie, then forgets the login whatever the reply;
    // 0 without a request when there is no login cookie.
    int iLogout(CSyncBase* checkpoint);

    // ---- listing ----
    // Lists the whole home folder into the target tree: 1 when the tree was replaced, 0
    // otherwise (the tree is then untouched). Items with unsafe names or with paths beyond
    // the limits of IsServerPathWithinLimits are skipped, as is the later of two items
    // whose names differ only in case; a file never gets children.
    int iListServerDirs(CSyncBase* checkpoint);
    // The same listing into `into` (not the target tree), for the commit-to-server thread's
    // look at the server just before it changes server items; a request of its own, so it
    // never meets the inventory's listing.
    int iListServerTree(CSyncBase* checkpoint, TreeNode<SyncFileInfo>* into);
    // Fills `node` from a listing array (elements below `parentPath` when it is not
    // empty); the node is changed only when the whole array was read.
    int BuildServerTree(const rapidjson::Value& value, TreeNode<SyncFileInfo>* node, const std::string& parentPath);
    // The same from the reply's text, read one element at a time; -1 (nothing changed) when
    // the text is not JSON.
    int BuildServerTreeFromText(std::string_view text, TreeNode<SyncFileInfo>* node, const std::string& parentPath);

    // ---- transfers ----
    // Downloads the file `nodeRef` to `path` (relative to the sync folder, leading
    // separator) through a temporary file beside it: the reply must have exactly `size`
    // bytes and, when `checksum` is not empty, that MD5; then the file replaces the target
    // (a folder standing there is first moved aside as a conflict backup). The reply's
    // progress goes to `progress` (null: nowhere). The operation record is marked sent
    // before the target is replaced.
    int iDownload(CSyncBase* checkpoint, std::uint64_t size, SyncOperationSlot* operation,
                  const ProgressSink* progress, const std::string& nodeRef, const std::string& path,
                  const std::string& checksum);
    // Uploads the file at `path` (relative to the sync folder) into the folder `destination`
    // as a multipart form; `update` (may be empty) names the server file it replaces. The
    // body's progress goes to `progress` (null: nowhere). 1 with UploadedNodeRef set, 0
    // otherwise.
    int iUpload(CSyncBase* checkpoint, std::uint64_t size, const ProgressSink* progress,
                SyncOperationSlot* operation, const std::string& destination, const std::string& update,
                const std::string& checksum, const std::string& path);

    // ---- item operations ----
    int iCreateFolder(CSyncBase* checkpoint, SyncOperationSlot* operation, const std::string& parent,
                      const std::string& name);
    int iCopy(CSyncBase* checkpoint, SyncOperationSlot* operation, const std::string& sourceParent,
              const std::string& source, const std::string& target);
    int iMove(CSyncBase* checkpoint, SyncOperationSlot* operation, const std::string& sourceParent,
              const std::string& source, const std::string& target);
    // A refusal with status 400 counts as done (the item is gone already).
    int iDelete(CSyncBase* checkpoint, SyncOperationSlot* operation, const std::string& parent,
                const std::string& item);
    int iRename(CSyncBase* checkpoint, SyncOperationSlot* operation, const std::string& item,
                const std::string& newName);

    // ---- state ----
    // The failure code of the calling thread's last failed request (200 when none failed
    // since the thread started or last called ResetLastStatus). Each thread sees only its
    // own requests: the commit threads and the inventory thread never read each other's
    // status.
    std::uint32_t LastStatus() const;
    // Forgets the calling thread's last failure, so that a caller can tell the status of
    // the call it is about to make from an earlier one.
    void ResetLastStatus();
    bool LoggedIn() const;
    std::string LoginCookie() const;
    std::string HomeFolder() const;
    std::u16string Account() const;
    // The last login reply's text (empty when the request failed).
    std::u16string LoginReply() const;
    const std::string& CreatedNodeRef() const { return createdNodeRef_; }
    const std::string& UploadedNodeRef() const { return uploadedNodeRef_; }
    const std::string& ResultNodeRef() const { return resultNodeRef_; }

    // ---- helpers ----
    // Percent-encoding: 'a'-'z', 'A'-'Z', '0'-'9', '-', '.', '_', '~' stay, every other byte
    // becomes '%' and two upper-case hexadecimal digits.
    static std::string UrlEncode(std::string_view text);
    // A node reference as a URL path: its first "://" becomes "/", every segment is
    // percent-encoded; nothing when there is no "://" or a segment is empty, "." or "..".
    static std::optional<std::string> UrlReference(std::string_view nodeRef);
    // A multipart boundary: 18 '-' and twelve upper-case hexadecimal digits.
    static std::string MakeBoundary();
    // The multipart head of an upload (everything before the file's bytes); nothing when a
    // value holds a line break.
    static std::optional<std::string> BuildUploadHead(const std::string& boundary, const std::string& cookie,
                                                      const std::string& destination, const std::string& update,
                                                      const std::string& checksum, const std::string& path);
    static std::string UploadTail(const std::string& boundary);

private:
    struct Config {
        std::optional<ServerAddress> address;
        std::u16string syncFolder;
        HttpTimeouts timeouts;
        LoginNotifier notifier;
        std::uint64_t inMemoryUploadLimit = kInMemoryUploadLimit;
        std::string caFile;
    };

    Config Settings() const;
    // The operation's kept client, made or re-targeted for this call.
    WinHttpClient& Client(std::unique_ptr<WinHttpClient>& slot, CSyncBase* checkpoint, const std::string& url);
    // After a failed request: LastStatus() = the client's code; 401 and 403 end the login.
    void RequestFailed(const WinHttpClient& client);
    void ClearLogin();
    // The absolute local path of a record path below the sync folder; nothing when the path
    // is unsafe, leaves the folder or passes through a link.
    std::optional<std::string> LocalPath(const Config& config, const std::string& path) const;

    // One JSON POST of the item operations: 1 parsed reply, 0 failed (logged), -1 request
    // failed (LastStatus() set, nothing logged).
    struct JsonCall;
    int PostJson(const JsonCall& call, CSyncBase* checkpoint, SyncOperationSlot* operation,
                 rapidjson::Document& reply);
    int CopyOrMove(bool move, CSyncBase* checkpoint, SyncOperationSlot* operation, const std::string& sourceParent,
                   const std::string& source, const std::string& target);
    struct UploadJob;
    int UploadInMemory(const UploadJob& job);
    int UploadStreamed(const UploadJob& job);
    int TakeUploadReply(const WinHttpClient& client, int parseLine, int resultLine);
    int BuildInto(const rapidjson::Value& value, TreeNode<SyncFileInfo>& scratch, const std::string& parentPath);
    // Fills a scratch copy of `node` and hands its content to `node` only when `fill` read
    // the whole listing: 1 then, 0 with `node` unchanged.
    int BuildThroughScratch(TreeNode<SyncFileInfo>* node, const std::string& parentPath,
                            const std::function<bool(TreeNode<SyncFileInfo>& scratch)>& fill);
    // One listing element into the scratch tree: 1 when placed or skipped, 0 when the listing
    // must be refused.
    int BuildElement(const rapidjson::Value& element, TreeNode<SyncFileInfo>& scratch, const std::string& parentPath);
    int ListInto(std::unique_ptr<WinHttpClient>& slot, CSyncBase* checkpoint, TreeNode<SyncFileInfo>* into);
    // Reads a listing's text from `bytes` (a RapidJSON input stream) in one pass, building
    // each element into `scratch` (null: only reading): -1 when the text is not JSON, 0 when
    // the listing must be refused, 1 when every element was taken.
    template <class Stream>
    int ReadListingInto(Stream& bytes, TreeNode<SyncFileInfo>* scratch, const std::string& parentPath);

    TreeNode<SyncFileInfo>* targetTree_;

    std::mutex logoutLock_;    // one logout at a time (the main window's and a new login's)
    mutable std::mutex lock_;  // guards everything from here to the result texts
    Config config_;
    std::u16string account_;
    std::u16string password_;
    std::string homeFolder_;
    std::string loginCookie_;
    bool loggedIn_ = false;
    std::u16string loginReply_;

    std::string createdNodeRef_;
    std::string uploadedNodeRef_;
    std::string resultNodeRef_;

    std::unique_ptr<WinHttpClient> loginClient_, logoutClient_, listClient_, commitListClient_, downloadClient_,
        bigUploadClient_, uploadClient_, createFolderClient_, copyClient_, moveClient_, deleteClient_, renameClient_;
};
