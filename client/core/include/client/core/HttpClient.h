#pragma once
// The client program's only road to the server: every web call over the shared libcurl
// exchange (libs/http), on the caller's thread, one exchange per request (several
// requests may run at once on different threads). Each request is forced to HTTP/1.1,
// takes no signals, has a connect limit and a low-speed limit (so a stalled server never
// hangs the caller), sends the fixed header list with the login's cookies, maps HTTP
// statuses to error codes, and can be cancelled by logout or by the watchdog. Progress of
// uploads and downloads reaches the listeners a few times a second per request, plus a
// final report.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "client/core/CloudRecords.h"
#include "http/Bounds.h"

class CLocalFileIO;
class ClientControl;
namespace http {
class Exchange;
struct Request;
struct Result;
}  // namespace http

// One progress report of an upload or a download.
struct TransferProgress {
    std::int32_t id = -1;         // the request's (transfer task's) id
    std::int32_t direction = 0;   // 1 upload, 2 download
    double total = 0;             // bytes to transfer
    double done = 0;              // bytes so far
    double speed = 0;             // bytes per second
};

// Listener of the HTTP client; every slot has an empty default.
class HttpClientListener {
public:
    virtual ~HttpClientListener() = default;
    virtual void OnProgress(const TransferProgress* progress) {}
    // The network state after a performed request or a watchdog time-out (1 reachable, 2 abnormal).
    virtual void OnNetworkState(int state) {}
    // The HTTP login state (0 logged out, 1 logging in, 2 logged in).
    virtual void OnLoginState(int state) {}
};

// The error code a web call writes through its last argument (0 when it succeeded or
// failed without a code of its own, as when not logged in).
enum HttpErrorCode : int {
    HttpErrorNone = 0,
    HttpErrorTransport = 1,             // the transfer failed, was cancelled or came short
    HttpErrorNotLoggedIn = 2,           // HTTP 401
    HttpErrorInvalidData = 4,           // HTTP 409
    HttpErrorQuota = 5,                 // HTTP 413
    HttpErrorNoPermission = 6,          // HTTP 403
    HttpErrorReplyData = 7,             // the reply is not what the call reads
    HttpErrorCookies = 8,               // login: the cookie list is not available
    HttpErrorDeleteNotConfirmed = 9,    // delete: "msg" is not "success"
    HttpErrorOtherStatus = 11,          // any other HTTP status of 400 or more
    HttpErrorRestoreNotConfirmed = 12,  // restore: "msg" is not "success"
    HttpErrorCertificate = 13,          // https: the server's certificate or its name was refused
};

// HTTP login states.
enum HttpLoginState : int { HttpLoggedOut = 0, HttpLoggingIn = 1, HttpLoggedIn = 2 };

// Limits of every request. The defaults suit the program (the shared bounds of
// http::Bounds); tests shorten them.
struct HttpLimits {
    std::chrono::milliseconds connectTimeout{30000};
    // A transfer below `lowSpeedBytes` per second for `lowSpeedTime` ends as a transport failure.
    std::chrono::seconds lowSpeedTime{http::Bounds{}.minSpeedWindowSeconds};
    long lowSpeedBytes = http::Bounds{}.minSpeedBytes;
    // The whole-call limit of a listing.
    std::chrono::milliseconds listingTimeout{http::Bounds{}.listingTotalMs};
    // Most bytes of a reply kept in memory, and of a refused reply's body.
    std::int64_t replyCeiling = http::Bounds{}.replyCeiling;
    std::int64_t errorReplyCeiling = http::Bounds{}.errorReplyCeiling;
    // The whole-call limit of the calls that have one (login, logout, create folder,
    // delete, restore, rename).
    std::chrono::milliseconds callTimeout{300000};
    // The watchdog cancels a request whose data has been silent longer than this many
    // whole seconds.
    int watchdogSeconds = 300;
    // Least time between two progress reports of one request.
    std::chrono::milliseconds progressInterval{250};
};

// One entry of the create-folder reply.
struct CreatedFolderEntry {
    std::string nodeRef;
    std::string parent;
    std::string name;
    DateTime modified;
};

// True for a name the server may give an item: not empty, not "." or "..", and without
// '/', '\\', NUL or any other control character. Names that fail never become parts of a
// local path.
bool IsSafeServerName(const std::string& name);

class HttpClient {
public:
    HttpClient();
    // Logs out, then waits until no request of this client runs any more.
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Listeners (not owned). Notifications run with the listener lock held: a listener
    // must not add or remove listeners from inside one.
    int AddListener(HttpClientListener* listener);
    int RemoveListener(HttpClientListener* listener);

    void SetControl(ClientControl* control) { control_ = control; }
    ClientControl* GetControl() const { return control_; }

    // The user record of the last successful login (kept after logout).
    ServerUserInfo GetUserInfo() const;
    int GetLoginState() const { return loginState_.load(); }
    int GetNetworkState() const { return networkState_.load(); }
    // The parts of the address of the current login: "http://", "host:port", "/base".
    std::string GetScheme() const;
    std::string GetHost() const;
    std::string GetBasePath() const;
    std::string GetCookieText() const;

    void SetLimits(const HttpLimits& limits);
    HttpLimits GetLimits() const;
    // The PEM file of the authorities https servers are checked against (empty: the
    // system's). https is always verified.
    void SetCaFile(std::string path);
    // The text for the user of the last request refused for its certificate: the server
    // and the reason ("" when none was).
    std::string LastCertificateFailure() const;
    // Replaces the steady millisecond clock of the watchdog (tests).
    void SetClock(std::function<std::uint64_t()> clock);

    // The watchdog, once a second: cancels every request silent for longer than the
    // limit and then reports the network as abnormal.
    void CheckTimeout();

    // The response code of a performed request, passed through; 400 and above write the
    // error code.
    static long CheckHttpStatusCode(long status, int* errorCode);
    // Rebuilds the cookie text from the cookies the login's exchange recorded.
    bool SaveCookie(const http::Exchange& exchange);
    // The fixed request header lines.
    std::vector<std::string> BuildHeaders(int bodyLength) const;

    void NotifyProgress(const TransferProgress* progress);
    void NotifyNetworkState();
    void NotifyLoginState();

    // The web calls: 1 on success, 0 on failure with the error code written through the
    // last argument (which is reset to 0 first). All but Login and Logout need the login.
    int Login(const std::string& account, const std::string& password, const std::string& address,
              int* errorCode);
    int Logout();
    // kind 1 collaboration groups, 2 public groups.
    int EnumGroupRoots(int kind, CloudListing& listing, int* errorCode);
    // One page (`position` is the 1-based page number, `pageSize` items) or, with
    // position 0, every item.
    int EnumDirectory(const std::string& folderId, int pageSize, int position, CloudListing& listing,
                      int* errorCode);
    int Upload(int requestId, const std::string& fileName, std::int64_t contentLength, CLocalFileIO* source,
               const std::string& destination, const std::string& updateNodeRef, CloudItem& reply,
               int* errorCode);
    // Writes the content into `target`. The bytes are counted: more than `expectedSize`
    // (when it is 0 or more), or a count that differs from it or from the announced
    // length, fails the call with error code 1.
    int Download(int requestId, std::int64_t expectedSize, CLocalFileIO* target, const std::string& nodeRef,
                 int* errorCode);
    // Creates (or finds) every level of `folderPath` ("a/b/c") below `destination`;
    // `created` gets the reply's folders, parents first.
    int CreateMultiLayers(const std::string& destination, const std::string& folderPath,
                          std::vector<CloudItem>& created, int* errorCode);
    int Delete(const std::string& parentId, const std::vector<std::string>& nodeRefs, int* errorCode);
    int Restore(const std::vector<std::string>& nodeRefs, int* errorCode);
    int Rename(const std::string& nodeRef, const std::string& newName, CloudItem& reply, int* errorCode);

    // Readers of the JSON replies. They fill their output as they go; false when the
    // reply is not what they read.
    static bool ParseUserInfo(const std::string& body, ServerUserInfo& user);
    static bool ParseListing(const std::string& body, const std::string& prefix, CloudListing& listing);
    static bool ParseGroupRoots(const std::string& body, const std::string& prefix, CloudListing& listing);
    static bool ParseItemReply(const std::string& body, CloudItem& item);
    static bool ParseCreatedFolders(const std::string& body, std::vector<CloudItem>& created);
    static bool ParseReplyMessage(const std::string& body, std::string& message);
    // A delete or restore reply's "msg" confirms it: the word "success" ("Delete
    // success"), never a text that merely holds the letters ("unsuccessful") or denies it
    // ("not success").
    static bool IsSuccessMessage(const std::string& message);
    // Parents before children; entries whose parent chain never reaches a root are dropped.
    static std::vector<CreatedFolderEntry> OrderParentsFirst(std::vector<CreatedFolderEntry> entries);

    // Request bodies, written with a JSON writer.
    static std::string CreateFolderBody(const std::string& destination, const std::string& folderPath);
    static std::string DeleteBody(const std::string& parentId, const std::vector<std::string>& nodeRefs);
    static std::string RestoreBody(const std::vector<std::string>& nodeRefs);
    static std::string RenameBody(const std::string& newName);
    // A node reference as a URL path: its first "://" becomes "/", each part percent-encoded.
    static std::string ReferencePath(const std::string& nodeRef);
    // A '/'-separated path with each part percent-encoded.
    static std::string EncodePath(const std::string& path);

    struct Request;  // one running request (internal)

    // While it lives, every request made on the constructing thread ends at its next
    // callback once `running` reads 0 (one started after that at its first): a
    // worker that is told to stop leaves a call in flight instead of waiting for it.
    class StopScope {
    public:
        explicit StopScope(const std::atomic<int>& running);
        ~StopScope();
        StopScope(const StopScope&) = delete;
        StopScope& operator=(const StopScope&) = delete;

    private:
        const std::atomic<int>* previous_;
    };

private:
    struct Session {
        std::string cookie, scheme, host, basePath;
        int secure = 0;
    };
    struct Reply {
        bool performed = false;  // the request was made (logged in, form built)
        bool ok = false;         // performed, and a status below 400
        long status = 0;
        std::string body;
    };
    struct CallSpec;

    Session CopySession() const;
    std::uint64_t Now() const;
    // The request skeleton: performs the call and judges transport and status.
    Reply Perform(CallSpec& spec, int* errorCode);
    // Ties a request to this client and its exchange; sets the limits every request has
    // and the authorities its certificate is checked against.
    void StartRequest(const http::Exchange& exchange, Request& request, http::Request& call, bool withTimeout);
    void AddActive(Request* request);
    void CancelAll();
    void SetNetworkState(int state);
    void SetLoginState(int state);
    void SendLogoutRequest();
    // Judges a failed transfer: the error code, the network state, the log line (with the
    // reason of a refused certificate or an oversized or stalled reply).
    void TransportFailed(const std::string& operation, const std::string& origin, const http::Result& result,
                         int* errorCode);
    // Performs the call and reads its reply with `read`; an unreadable reply is error 7,
    // logged under `dataErrorName` (the operation's name when empty).
    int Call(CallSpec& spec, const std::function<bool(const std::string&)>& read, int* errorCode,
             const std::string& dataErrorName = {});
    // A call whose reply must confirm it with "success" in "msg".
    int ConfirmedCall(CallSpec& spec, int notConfirmedCode, const std::string& logName, int* errorCode);
    // A POST of a JSON body with the whole-call limit.
    static CallSpec JsonPost(const std::string& operation, const std::string& path, std::string body);
    // Logs "<http>" + operation + ", Http response Data Error, responseData=" + body.
    static void LogDataError(const std::string& operation, const std::string& body, const std::string& extra = {});

    std::atomic<int> loginState_{HttpLoggedOut};
    std::atomic<int> networkState_{0};

    mutable std::mutex sessionMutex_;  // session_, user_, limits_, clock_, caFile_, certificateFailure_
    Session session_;
    ServerUserInfo user_;
    HttpLimits limits_;
    std::string caFile_;
    std::string certificateFailure_;
    std::function<std::uint64_t()> clock_;

    std::mutex listenerMutex_;
    std::vector<HttpClientListener*> listeners_;

    std::mutex activeMutex_;
    std::condition_variable activeChanged_;
    std::list<Request*> active_;

    ClientControl* control_ = nullptr;
};
