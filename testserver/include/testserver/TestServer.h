#pragma once
// dravik-testserver: a local stand-in of the content server. It answers every HTTP call of
// the sync program and of the client program on 127.0.0.1, keeps accounts with a home
// folder, a recycle bin and groups, and offers tests a control interface: read and change
// an account's tree as another user would, inject faults per route, read the request log,
// reset. The same control interface is served as JSON below "/__test/" for other processes;
// it answers only a request that carries the server's control token in the header
// "X-Control-Token", names the listening address in "Host" ("127.0.0.1:<port>"), and, when
// it is a POST, has a body of type "application/json" (so neither another local user nor a
// web page that reaches the port can use it).
//
// Routes (name: method and path). Every route but "login", "versionPage" and "installer"
// needs the login cookie; the upload also takes it from its "cookie" form field.
//   login             GET  /dravik/app/login?user[email]=A&user[pw]=P
//   logout            GET  /dravik/logout
//   allChildNodes     GET  /dravik/allChildNodes
//   content           GET  /dravik/api/node/workspace/SpacesStore/<id>/content
//   upload            POST /upload  (multipart: cookie, destination, updatenoderef, MD5, Filedata)
//   createFolder      POST /dravik/file/createFolder
//   appcreateFolder   POST /dravik/file/appcreateFolder
//   copy              POST /dravik/file/copy/workspace/SpacesStore/<id>
//   move              POST /dravik/file/move/workspace/SpacesStore/<id>
//   delete            POST /dravik/file/delete
//   untrashes         POST /dravik/file/untrashes
//   change            POST /dravik/file/change/workspace/SpacesStore/<id>
//   collaborateManage GET  /dravik/app/collaborateManage[?public=true]
//   list              GET  /dravik/appw/new/list/<id>[?size=N&pos=P]
//   versionPage       GET  /download.html
//   installer         GET  /download/DravikClient.exe
// Anything else is answered 404 and logged with the route name "unknown".
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace testserver {

// Name of the login cookie (seven characters, as the sync program expects).
inline constexpr const char* kSessionCookie = "DRAVSID";
// Header that carries the control token on every request below "/__test/".
inline constexpr const char* kControlTokenHeader = "X-Control-Token";

struct ServerOptions {
    int port = 0;                          // 0: a free port
    std::filesystem::path dataDir;         // where file contents are kept; empty: a temporary folder
    std::vector<std::pair<std::string, std::string>> users;  // account, password
    std::filesystem::path seedDir;         // copied into the first account's home folder at Start
    std::string clientVersion = "1.0.0";   // the version the download page announces
    std::string installer = "dravik-testserver installer stand-in\n";  // the installer's bytes
    std::string controlToken;              // empty: 128 random bits, see ControlToken()
};

// One item of an account's tree.
struct TreeEntry {
    std::string path;      // below the home folder (or the recycle bin): "/a/b.txt"
    bool folder = false;
    std::int64_t size = 0;
    std::string checksum;  // MD5, upper-case hex; empty for folders
    std::string ref;       // "workspace://SpacesStore/<id>"
    std::string content;   // files, when asked for
};

struct AccountInfo {
    std::string account;
    std::string homeRef;   // "workspace://SpacesStore/<id>"
    std::string trashRef;
};

enum class FaultKind {
    Status,             // answer with `status` and a JSON message; the call is not carried out
    Delay,              // wait `delay`, then answer normally
    Drop,               // close the connection without any answer; the call is not carried out
    DropAfterHandling,  // carry the call out, then close the connection without an answer
    CutBody,            // announce the full length but close after `bytes` body bytes
    WrongLength,        // announce the body length plus `bytes` (may be negative); send the body
    InvalidJson,        // carry the call out, answer 200 with a body that is not JSON
    PagedFirstReply,    // listings: a request without paging gets `pageSize` items, more announced
    ReplaceInBody,      // carry the call out, then replace every `from` in the reply's body by `to`
};

struct Fault {
    std::string route = "*";  // a route name from the list above, or "*" for every route
    FaultKind kind = FaultKind::Status;
    int status = 500;
    std::chrono::milliseconds delay{0};
    std::int64_t bytes = 0;
    int pageSize = 1;
    std::string from = {}, to = {};  // ReplaceInBody
    int count = 1;  // requests it applies to; kEveryRequest: until the faults are cleared
};
inline constexpr int kEveryRequest = -1;

struct LoggedPart {
    std::string name, filename, contentType, content;
};

struct LoggedRequest {
    std::uint64_t seq = 0;
    std::string route;   // route name, "unknown" when none matched
    std::string method, path, query;  // path as sent (not decoded); query without '?'
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;    // empty for multipart bodies: see parts (contents cut at 16 MiB)
    std::vector<LoggedPart> parts;
    int status = 0;      // the status answered; 0 when the connection was dropped
    // The first header of that name (ignoring case), or "".
    std::string Header(const std::string& name) const;
};

class TestServer {
public:
    explicit TestServer(ServerOptions options = {});
    ~TestServer();  // stops the server
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Starts listening on 127.0.0.1; throws std::runtime_error when it cannot. After a Stop
    // it listens on the same port again, with accounts, items and sessions as they were.
    void Start();
    // Stops listening and ends every connection; waits for the handlers. Idempotent.
    void Stop();
    int Port() const;
    // The token the control interface below "/__test/" asks for in "X-Control-Token".
    const std::string& ControlToken() const;
    std::string BaseUrl() const;  // "http://127.0.0.1:<port>"

    // Accounts and groups. Each account has a home folder, a recycle bin and a
    // collaboration group of its own; one public group is shared by all.
    void AddUser(const std::string& account, const std::string& password);
    AccountInfo Account(const std::string& account) const;
    // Adds a group; returns its reference.
    std::string AddGroup(const std::string& name, bool isPublic, const std::set<std::string>& members);

    // The account's tree, changed as another user would change it. Paths are below the
    // home folder ("/a/b.txt"); folders on the way are created. Each throws
    // std::runtime_error with the refusal when the change is not possible.
    std::string PutFile(const std::string& account, const std::string& path, const std::string& bytes);
    std::string MakeFolder(const std::string& account, const std::string& path);
    void Remove(const std::string& account, const std::string& path, bool purge = false);
    void Move(const std::string& account, const std::string& from, const std::string& to);
    // Copies a local folder's content into the account's home folder.
    void Seed(const std::string& account, const std::filesystem::path& folder);
    // Every item below the home folder (or the recycle bin), parents before children.
    std::vector<TreeEntry> Tree(const std::string& account, bool withContents = false) const;
    std::vector<TreeEntry> Trash(const std::string& account, bool withContents = false) const;
    std::optional<TreeEntry> Find(const std::string& account, const std::string& path,
                                  bool withContent = false) const;

    // Faults, applied in the order they were added (one fault per request).
    void InjectFault(const Fault& fault);
    void ClearFaults();

    // The request log, the newest 10000 requests (the control interface's own requests are
    // not in it).
    std::vector<LoggedRequest> Requests() const;
    std::vector<LoggedRequest> Requests(const std::string& route) const;
    // Clears the log and the highest counts of requests in flight.
    void ClearRequests();

    // Requests of a route being handled now (a delay fault included), and the highest
    // number handled at once since the last ClearRequests.
    int InFlight(const std::string& route) const;
    int MaxInFlight(const std::string& route) const;
    // Ends the waits of the delay faults running now: those requests go on at once.
    void ReleaseDelays();

    // The version check's download page and installer.
    void SetClientVersion(const std::string& version, const std::string& installer);

    // Clears every item, session, fault and logged request; accounts and groups stay.
    void Reset();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Text form of a fault kind and back ("status", "delay", "drop", "drop_after", "cut_body",
// "wrong_length", "invalid_json", "paged_first", "replace_body"), as the control interface
// names them.
const char* FaultKindName(FaultKind kind);
std::optional<FaultKind> FaultKindFromName(const std::string& name);

}  // namespace testserver
