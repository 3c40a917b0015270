// The web calls of HttpClient: login and logout, listings, upload, download, folder
// creation, delete, restore and rename.
#include <algorithm>
#include <cctype>
#include <sstream>

#include "HttpRequest.h"
#include "client/core/ClientLog.h"
#include "client/core/HttpClient.h"
#include "client/core/LocalFileIO.h"
#include "client/core/TextHelpers.h"
#include "http/Bounds.h"
#include "http/Exchange.h"

namespace {

void ResetCode(int* errorCode) {
    if (errorCode != nullptr) *errorCode = HttpErrorNone;
}

void SetCode(int* errorCode, int code) {
    if (errorCode != nullptr) *errorCode = code;
}

}  // namespace

bool HttpClient::IsSuccessMessage(const std::string& message) {
    bool success = false;
    std::string word;
    auto judge = [&] {
        if (word == "success" || word == "successful" || word == "successfully") success = true;
        if (word == "not" || word == "no" || word == "fail" || word == "failed" || word == "failure" ||
            word == "error") {
            return false;
        }
        word.clear();
        return true;
    };
    for (const char c : message) {
        if (std::isalpha(static_cast<unsigned char>(c))) {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (!judge()) {
            return false;
        }
    }
    return judge() && success;
}

int HttpClient::Login(const std::string& account, const std::string& password, const std::string& address,
                      int* errorCode) {
    ResetCode(errorCode);
    Logout();
    SetLoginState(HttpLoggingIn);
    bool ok = false;
    http::Exchange exchange;
    if (exchange.Open()) {
        // scheme://authority/base-path, without a trailing '/'.
        std::string rest = address;
        while (!rest.empty() && rest.back() == '/') rest.pop_back();
        Session session;
        const std::size_t scheme = rest.find("://");
        if (scheme == std::string::npos) {
            session.scheme = "http://";
        } else {
            session.scheme = rest.substr(0, scheme + 3);
            session.secure = rest.size() > 4 && rest[4] == 's' ? 1 : 0;
            rest = rest.substr(scheme + 3);
        }
        const std::size_t slash = rest.find('/');
        session.host = rest.substr(0, slash);
        session.basePath = slash == std::string::npos ? std::string() : rest.substr(slash);
        {
            std::lock_guard<std::mutex> lock(sessionMutex_);
            session_ = session;
        }
        LogClientInfo(std::string("<http> Login") + (session.secure ? ", Use HTTPS" : ", Use HTTP"));

        const std::string url = session.scheme + session.host + session.basePath + "/dravik/app/login?user[email]=" +
                                UrlEncode(account) + "&user[pw]=" + UrlEncode(password);
        Request request;
        request.ignoresLoginState = true;
        http::Request call;
        StartRequest(exchange, request, call, true);
        call.url = url;
        call.recordCookies = true;
        const http::Result result = exchange.Perform(call, request);
        if (!result.Ok()) {
            TransportFailed(" Login", session.scheme + session.host, result, errorCode);
        } else {
            SetNetworkState(1);
            ServerUserInfo user;
            if (CheckHttpStatusCode(exchange.ResponseCode(), errorCode) >= 400) {
                LogClientInfo("<http>Login, error, Http response Status Code Error. ResponseString = " +
                              http::LogExcerpt(request.body));
            } else if (!SaveCookie(exchange)) {
                SetCode(errorCode, HttpErrorCookies);
                LogClientInfo("<http>Login, error, Save Cookie Error");
            } else if (!ParseUserInfo(request.body, user)) {
                SetCode(errorCode, HttpErrorReplyData);
                LogClientInfo("<http>Login, error, Response data");
            } else {
                std::lock_guard<std::mutex> lock(sessionMutex_);
                user_ = user;
                ok = true;
            }
        }
    }
    SetLoginState(ok ? HttpLoggedIn : HttpLoggedOut);
    return ok ? 1 : 0;
}

void HttpClient::SendLogoutRequest() {
    const Session session = CopySession();
    http::Exchange exchange;
    if (!exchange.Open()) return;
    Request request;
    request.ignoresLoginState = true;
    http::Request call;
    StartRequest(exchange, request, call, true);
    // Nobody waits for the outcome: a stalled server must not hold the logout long.
    call.limits.totalMs = std::min<std::int64_t>(GetLimits().callTimeout.count(), 10000);
    call.url = session.scheme + session.host + session.basePath + "/dravik/logout";
    call.headerLines = BuildHeaders(0);
    exchange.Perform(call, request);
}

int HttpClient::Logout() {
    LogClientInfo("<http>Logout...");
    if (loginState_.exchange(HttpLoggedOut) == HttpLoggedIn) SendLogoutRequest();
    CancelAll();
    {
        // Running transfers notice at their next callback; give them a moment to end.
        std::unique_lock<std::mutex> lock(activeMutex_);
        activeChanged_.wait_for(lock, std::chrono::milliseconds(500), [this] { return active_.empty(); });
    }
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        session_ = Session();
    }
    NotifyLoginState();
    return 1;
}

int HttpClient::Call(CallSpec& spec, const std::function<bool(const std::string&)>& read, int* errorCode,
                     const std::string& dataErrorName) {
    const Reply reply = Perform(spec, errorCode);
    if (!reply.ok) return 0;
    if (read && !read(reply.body)) {
        SetCode(errorCode, HttpErrorReplyData);
        LogDataError(dataErrorName.empty() ? spec.operation : dataErrorName, reply.body,
                     spec.logsStatus ? ", http status code=" + std::to_string(reply.status) : std::string());
        return 0;
    }
    return 1;
}

int HttpClient::ConfirmedCall(CallSpec& spec, int notConfirmedCode, const std::string& logName, int* errorCode) {
    std::string message;
    if (!Call(spec, [&](const std::string& body) { return ParseReplyMessage(body, message); }, errorCode, logName)) {
        return 0;
    }
    if (!IsSuccessMessage(message)) {
        SetCode(errorCode, notConfirmedCode);
        LogClientInfo("<http>" + logName + ", return value is not SUCCESS");
        return 0;
    }
    return 1;
}

int HttpClient::EnumGroupRoots(int kind, CloudListing& listing, int* errorCode) {
    ResetCode(errorCode);
    if (kind != 1 && kind != 2) return 0;
    CallSpec spec;
    spec.operation = "EnumGroupRoots";
    spec.listing = true;
    spec.path = kind == 1 ? "/dravik/app/collaborateManage?isApp2=true&size=-1"
                          : "/dravik/app/collaborateManage?public=true&isApp2=true&size=-1";
    const std::string prefix = GetUserInfo().nodeRefPrefix;
    return Call(spec, [&](const std::string& body) { return ParseGroupRoots(body, prefix, listing); }, errorCode);
}

int HttpClient::EnumDirectory(const std::string& folderId, int pageSize, int position, CloudListing& listing,
                              int* errorCode) {
    ResetCode(errorCode);
    const std::string prefix = GetUserInfo().nodeRefPrefix;
    const bool prefixed = !prefix.empty() && folderId.compare(0, prefix.size(), prefix) == 0;
    CallSpec spec;
    spec.operation = "EnumDirectory";
    spec.listing = true;
    spec.path = "/dravik/appw/new/list/" + EncodePath(prefixed ? folderId.substr(prefix.size()) : folderId);
    if (position > 0) spec.path += "?size=" + std::to_string(pageSize) + "&pos=" + std::to_string(position);
    return Call(spec, [&](const std::string& body) { return ParseListing(body, prefix, listing); }, errorCode);
}

int HttpClient::Upload(int requestId, const std::string& fileName, std::int64_t contentLength, CLocalFileIO* source,
                       const std::string& destination, const std::string& updateNodeRef, CloudItem& reply,
                       int* errorCode) {
    ResetCode(errorCode);
    CallSpec spec;
    spec.operation = "Upload";
    spec.path = "/upload";
    spec.post = true;
    spec.requestId = requestId;
    spec.direction = 1;
    spec.source = source;
    spec.sourceLength = contentLength;
    spec.form.push_back(http::FormPart::Text("cookie", GetCookieText()));
    spec.form.push_back(http::FormPart::Text("destination", destination));
    if (!updateNodeRef.empty()) spec.form.push_back(http::FormPart::Text("updatenoderef", updateNodeRef));
    spec.form.push_back(http::FormPart::Streamed("Filedata", fileName, contentLength));
    return Call(spec, [&](const std::string& body) { return ParseItemReply(body, reply); }, errorCode);
}

int HttpClient::Download(int requestId, std::int64_t expectedSize, CLocalFileIO* target, const std::string& nodeRef,
                         int* errorCode) {
    ResetCode(errorCode);
    if (loginState_.load() != HttpLoggedIn) return 0;
    if (target == nullptr) {
        SetCode(errorCode, HttpErrorTransport);
        return 0;
    }
    CallSpec spec;
    spec.operation = "Download";
    spec.path = "/dravik/api/node/" + ReferencePath(nodeRef) + "/content";
    spec.requestId = requestId;
    spec.direction = 2;
    spec.bodyFile = target;
    spec.bodyLimit = expectedSize;
    const Reply reply = Perform(spec, errorCode);
    if (spec.bodyOverflow) {
        LogClientInfo("<http>Download, error, more bytes than expected, expected=" + std::to_string(expectedSize));
    }
    if (spec.bodyWriteFailed) {
        std::string reason;
        target->GetErrorText(reason);
        LogClientInfo("<http>Download, error, the local file cannot be written: " + reason);
    }
    if (!reply.ok) return 0;
    const bool announcedDiffers = spec.announcedLength >= 0 && spec.announcedLength != spec.bodyBytes;
    const bool expectedDiffers = expectedSize >= 0 && expectedSize != spec.bodyBytes;
    if (announcedDiffers || expectedDiffers) {
        SetCode(errorCode, HttpErrorTransport);
        std::ostringstream line;
        line << "<http>Download, error, length mismatch, received=" << spec.bodyBytes << ", expected=" << expectedSize
             << ", announced=" << spec.announcedLength;
        LogClientInfo(line.str());
        return 0;
    }
    // A file created at its final size before the body came holds exactly the body.
    if (target->GetLength() != spec.bodyBytes && !target->SetLength(&spec.bodyBytes)) {
        SetCode(errorCode, HttpErrorTransport);
        LogClientInfo("<http>Download, error, the local file cannot be cut to its length");
        return 0;
    }
    return 1;
}

int HttpClient::CreateMultiLayers(const std::string& destination, const std::string& folderPath,
                                  std::vector<CloudItem>& created, int* errorCode) {
    ResetCode(errorCode);
    CallSpec spec = JsonPost("CreateMultiLayers", "/dravik/file/appcreateFolder",
                             CreateFolderBody(destination, folderPath));
    spec.logsStatus = true;
    return Call(spec, [&](const std::string& body) { return ParseCreatedFolders(body, created); }, errorCode);
}

int HttpClient::Delete(const std::string& parentId, const std::vector<std::string>& nodeRefs, int* errorCode) {
    ResetCode(errorCode);
    CallSpec spec = JsonPost("Delete", "/dravik/file/delete", DeleteBody(parentId, nodeRefs));
    return ConfirmedCall(spec, HttpErrorDeleteNotConfirmed, "Delete", errorCode);
}

int HttpClient::Restore(const std::vector<std::string>& nodeRefs, int* errorCode) {
    ResetCode(errorCode);
    CallSpec spec = JsonPost("Restore", "/dravik/file/untrashes", RestoreBody(nodeRefs));
    // The restore's data and confirmation lines have always spelt it this way.
    return ConfirmedCall(spec, HttpErrorRestoreNotConfirmed, "Resotre", errorCode);
}

int HttpClient::Rename(const std::string& nodeRef, const std::string& newName, CloudItem& reply, int* errorCode) {
    ResetCode(errorCode);
    CallSpec spec = JsonPost("Rename", "/dravik/file/change/" + ReferencePath(nodeRef), RenameBody(newName));
    return Call(spec, [&](const std::string& body) { return ParseItemReply(body, reply); }, errorCode);
}

HttpClient::CallSpec HttpClient::JsonPost(const std::string& operation, const std::string& path, std::string body) {
    CallSpec spec;
    spec.operation = operation;
    spec.path = path;
    spec.post = true;
    spec.withTimeout = true;
    spec.body = std::move(body);
    return spec;
}
