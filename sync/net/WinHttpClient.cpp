#include "sync/net/WinHttpClient.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>
#include <new>
#include <thread>

#include <curl/curl.h>
#include <fcntl.h>
#include <log4cpp/Category.hh>
#include <unistd.h>

#include "platform/md5.h"
#include "platform/mmfio.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncBase.h"
#include "sync/common/SyncLog.h"
#include "sync/common/TreeNode.h"
#include "sync/common/SyncOperation.h"
#include "sync/net/HttpHeaders.h"
#include "sync/common/FeedLists.h"

namespace {

// Pieces in which an in-memory upload body goes out (a progress report after each).
constexpr std::uint64_t kBodyPiece = 65536;
constexpr int kAttempts = 3;
constexpr long kMaxRedirects = 10;

// Time of the last reply-progress report that reached the running page, shared by all
// clients; a lost update only lets one extra report through.
std::atomic<std::uint64_t> g_lastProgressReportMs{0};

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Checkpoint lines of one request variant, as they appear in the checkpoint's log line.
struct PollPoints {
    const char* function;
    int attemptStart;   // start of an attempt
    int beforeSend;     // before the request goes out (and while it does)
    int beforePiece;    // before each body piece of an upload
    int beforeReceive;  // waiting for the reply
    int beforeRead;     // before each piece of the reply body
};
constexpr PollPoints kGeneralPolls{"WinHttpClient::SendHttpRequest", 382, 444, 444, 570, 749};
constexpr PollPoints kMemoryUploadPolls{"WinHttpClient::SendHttpRequestAndCallBack", 1083, 1153, 1281, 1321, 1461};
constexpr PollPoints kStreamUploadPolls{"WinHttpClient::SendHttpRequestAndCallBackForBig", 1704, 1774, 1912, 1963,
                                        2111};

constexpr const char* kGeneralStatusLog =
    "call WinHttpClient::SendHttpRequest() file <Include\\STL\\WinHttpClient> line:689, 发送请求失败";
constexpr const char* kLoginStatusLog =
    "call WinHttpClient::SendLoginRequest() file <Include\\STL\\WinHttpClient> line:2820, 发送请求失败";
constexpr const char* kMemoryUploadStatusLog =
    "call WinHttpClient::SendHttpRequestAndCallBack() file <Include\\STL\\WinHttpClient> line:1437, 发送请求失败";
constexpr const char* kStreamUploadStatusLog =
    "call WinHttpClient::SendHttpRequestAndCallBackForBig() file <Include\\STL\\WinHttpClient> line:2083, 发送请求失败";
constexpr const char* kFileWriteLog =
    "call WinHttpClient::SendHttpRequest() file <Include\\STL\\WinHttpClient> line:813写本地临时文件失败！";

// The fixed header texts of the login request, character for character.
constexpr const char* kLoginHeaders[] = {
    "Accept-Language: zh-cn/r/n",
    "Accept-Encoding: gzip, deflate/r/n",
    "Content-Type: text/xml/r/n",
};

std::uint32_t MapCurlError(CURLcode code) {
    switch (code) {
        case CURLE_OK: return httperr::kNone;
        case CURLE_UNSUPPORTED_PROTOCOL: return httperr::kUnrecognizedScheme;
        case CURLE_URL_MALFORMAT: return httperr::kInvalidUrl;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST: return httperr::kNameNotResolved;
        case CURLE_COULDNT_CONNECT: return httperr::kCannotConnect;
        case CURLE_OPERATION_TIMEDOUT: return httperr::kTimeout;
        case CURLE_OUT_OF_MEMORY: return httperr::kOutOfMemory;
        case CURLE_TOO_MANY_REDIRECTS: return httperr::kRedirectFailed;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_HTTP2:
        case CURLE_HTTP3: return httperr::kInvalidResponse;
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_SEND_FAIL_REWIND: return httperr::kConnectionError;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_USE_SSL_FAILED: return httperr::kSecureFailure;
        default: return httperr::kInternal;
    }
}

// Failures after which the same request may be sent again: nothing of a reply arrived.
bool MayRetry(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING: return true;
        default: return false;
    }
}

bool Stopped(CSyncBase* owner, const char* function, int line) {
    return owner != nullptr && owner->CheckState(function, line) < 3;
}

// Appends a header line to a libcurl list; false when the list could not grow.
bool Append(curl_slist*& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) return false;
    list = grown;
    return true;
}

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
};

// Reads the streamed upload's file one window after the other, checking that the file
// keeps the size it had when the request began.
class StreamedFile {
public:
    bool Open(const std::u16string& path, std::uint64_t expected) {
        expected_ = expected;
        return expected > 0 && io_.Open(path, 0) && io_.GetLength() == expected && io_.viewSize > 0;
    }
    // Copies up to `capacity` bytes from `offset`; 0 when the file cannot supply them.
    std::size_t Read(std::uint64_t offset, char* out, std::size_t capacity, bool& windowEnded) {
        windowEnded = false;
        if (offset >= io_.viewOffset + io_.viewSize) {
            if (!io_.NextView() || io_.viewOffset != offset || io_.viewSize == 0) return 0;
        }
        if (offset < io_.viewOffset || io_.fileSize != expected_) return 0;
        const std::uint64_t inView = offset - io_.viewOffset;
        const std::uint64_t available = io_.viewSize - inView;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(available, capacity));
        std::copy_n(io_.viewBase + inView, n, out);
        windowEnded = n == available;
        return n;
    }
    ~StreamedFile() { io_.Close(); }

private:
    CWinMMFIO io_{CWinMMFIO::Flavour::Sync};
    std::uint64_t expected_ = 0;
};

}  // namespace

void MarkOperationSent(SyncOperationSlot* operation) {
    if (operation == nullptr) return;
    const std::uint64_t now = BaseFunc::GetMilliseconds();
    operation->Update([now](SyncOperation& op) {
        op.state = 1;
        op.sentMs = now;
    });
}

// ---- progress targets ---------------------------------------------------------------------

struct ProgressTarget::Snapshot {
    std::unique_ptr<TreeNode<SyncFileInfo>> local;
    std::unique_ptr<TreeNode<SyncFileInfo>> server;
    std::unique_ptr<TreeNode<SyncTaskInfo>> node;
};

ProgressTarget ProgressTarget::RunningRow(const TreeNode<SyncTaskInfo>* key) {
    ProgressTarget target;
    if (key != nullptr) {
        target.kind_ = Kind::Row;
        target.key_ = key;
    }
    return target;
}

ProgressTarget ProgressTarget::SameChecksum(const TreeNode<SyncTaskInfo>& node) {
    auto snapshot = std::make_shared<Snapshot>();
    SyncTaskInfo record = *node.data;
    record.source = {};
    if (record.localPartner != nullptr) {
        snapshot->local = std::make_unique<TreeNode<SyncFileInfo>>(*record.localPartner->data);
        record.localPartner = snapshot->local.get();
    }
    if (record.serverPartner != nullptr) {
        snapshot->server = std::make_unique<TreeNode<SyncFileInfo>>(*record.serverPartner->data);
        record.serverPartner = snapshot->server.get();
    }
    snapshot->node = std::make_unique<TreeNode<SyncTaskInfo>>(std::move(record));
    ProgressTarget target;
    target.kind_ = Kind::Checksum;
    target.snapshot_ = std::move(snapshot);
    return target;
}

void ProgressTarget::Report(double percent) const {
    switch (kind_) {
        case Kind::Row: CStateDoingPage::UpdateProgressById(key_, percent); break;
        case Kind::Checksum: CStateDoingPage::UpdateProgressByChecksum(*snapshot_->node, percent); break;
        case Kind::None: break;
    }
}

// ---- one request ----------------------------------------------------------------------------

struct WinHttpClient::Plan {
    enum class Variant { General, Login, MemoryUpload, StreamedUpload };
    Variant variant = Variant::General;
    std::string verb;
    SyncOperationSlot* operation = nullptr;
    const PollPoints* polls = nullptr;  // null: no checkpoint polls
    const char* statusLog = kGeneralStatusLog;
    ProgressTarget replyProgress;
    ProgressTarget bodyProgress;
    bool followRedirects = true;
    bool toFile = false;

    bool HasBody() const { return verb == "POST"; }
};

// The working state of one attempt, shared with the libcurl callbacks.
struct WinHttpClient::Exchange {
    Exchange(WinHttpClient& c, const Plan& p) : client(c), plan(p) {}
    ~Exchange() { CloseFile(); }

    WinHttpClient& client;
    const Plan& plan;

    // Request body: in memory (`memory`) or head + streamed file + tail.
    const std::uint8_t* memory = nullptr;
    std::uint64_t bodyTotal = 0;
    std::uint64_t bodySent = 0;
    std::uint64_t pieceSize = 0;  // memory bodies: report after every piece of this size
    std::unique_ptr<StreamedFile> file;
    std::string tail;
    bool bodyDelivered = false;  // the request and its whole body went out

    // Reply.
    std::string headerBlock;
    bool gotStatusLine = false;
    bool fieldsApplied = false;
    long refusedStatus = 0;  // a status of 400 or more seen when the body began
    std::string body;
    int fd = -1;
    plat::Md5 md5;
    std::uint32_t abortCode = 0;

    // Watchdog.
    bool connected = false;
    curl_off_t lastDown = 0;
    curl_off_t lastUp = 0;
    std::uint64_t lastMoveMs = 0;

    bool IsUpload() const {
        return plan.variant == Plan::Variant::MemoryUpload || plan.variant == Plan::Variant::StreamedUpload;
    }

    bool Poll(int line) {
        if (abortCode != 0 || plan.polls == nullptr) return false;
        if (!Stopped(client.owner, plan.polls->function, line)) return false;
        abortCode = httperr::kStopped;
        return true;
    }

    void Delivered() {
        if (bodyDelivered) return;
        bodyDelivered = true;
        MarkOperationSent(plan.operation);
    }

    bool OpenFile() {
        if (fd >= 0) return true;
        fd = ::open(client.downloadFilePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
        return fd >= 0;
    }

    bool WriteFile(const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    // Flushes and closes the download file; false when that failed.
    bool CloseFile() {
        if (fd < 0) return true;
        const bool ok = ::fsync(fd) == 0;
        const bool closed = ::close(fd) == 0;
        fd = -1;
        return ok && closed;
    }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnRead(char* out, std::size_t size, std::size_t count, void* self);
    static int OnProgress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up);
    static int OnConnected(void* self, char*, char*, int, int);

    std::size_t Body(const char* data, std::size_t size);
    std::size_t Read(char* out, std::size_t capacity);
    std::size_t ReadStreamed(char* out, std::size_t capacity);
};

std::size_t WinHttpClient::Exchange::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto& ex = *static_cast<Exchange*>(self);
    const std::size_t length = size * count;
    const std::string_view line(data, length);
    // A new status line starts a new response (an interim one or a redirect's target):
    // only the final response's headers are kept.
    if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
        ex.headerBlock.clear();
        ex.gotStatusLine = true;
        ex.fieldsApplied = false;
    }
    try {
        ex.headerBlock.append(line);
    } catch (const std::bad_alloc&) {
        ex.abortCode = httperr::kOutOfMemory;
        return 0;
    }
    return length;
}

std::size_t WinHttpClient::Exchange::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    return static_cast<Exchange*>(self)->Body(data, size * count);
}

std::size_t WinHttpClient::Exchange::Body(const char* data, std::size_t size) {
    if (abortCode != 0) return 0;
    long status = 0;
    curl_easy_getinfo(static_cast<CURL*>(client.curl_), CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) {
        // A refused request: its body is not wanted (and never written to a file).
        refusedStatus = status;
        return 0;
    }
    const bool fileMode = plan.toFile;
    if (!fieldsApplied) {
        client.ApplyHeaderFields(*this);
        if (fileMode && client.expectedDownloadSize >= 0 && client.hasContentLength &&
            client.contentLength != static_cast<std::uint64_t>(client.expectedDownloadSize)) {
            abortCode = httperr::kInvalidResponse;
            return 0;
        }
    }
    if (plan.operation == nullptr && Poll(plan.polls != nullptr ? plan.polls->beforeRead : 0)) return 0;
    client.ReportProgress(client.bodySize, plan.replyProgress);
    if (fileMode) {
        if (client.expectedDownloadSize >= 0 &&
            client.bodySize + size > static_cast<std::uint64_t>(client.expectedDownloadSize)) {
            abortCode = httperr::kInvalidResponse;
            return 0;
        }
        if (!OpenFile()) {
            abortCode = httperr::kFileOpen;
            return 0;
        }
        if (!WriteFile(data, size)) {
            abortCode = errno == ENOSPC ? httperr::kDiskFull : httperr::kFileWrite;
            SyncLog().debug(kFileWriteLog);
            return 0;
        }
        md5.Update(data, size);
        client.fileBytesWritten += size;
    } else {
        try {
            body.append(data, size);
        } catch (const std::bad_alloc&) {
            abortCode = httperr::kOutOfMemory;
            return 0;
        }
    }
    client.bodySize += size;
    return size;
}

std::size_t WinHttpClient::Exchange::OnRead(char* out, std::size_t size, std::size_t count, void* self) {
    auto& ex = *static_cast<Exchange*>(self);
    const std::size_t n = ex.Read(out, size * count);
    return ex.abortCode != 0 ? CURL_READFUNC_ABORT : n;
}

std::size_t WinHttpClient::Exchange::Read(char* out, std::size_t capacity) {
    if (bodySent >= bodyTotal) return 0;
    if (Poll(IsUpload() ? plan.polls->beforePiece : plan.polls != nullptr ? plan.polls->beforeSend : 0)) return 0;
    std::size_t n = 0;
    if (file) {
        n = ReadStreamed(out, capacity);
    } else {
        // Memory body: never past the end of the current piece, so that every piece is
        // reported exactly once.
        const std::uint64_t pieceEnd = std::min(bodyTotal, (bodySent / pieceSize + 1) * pieceSize);
        n = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, pieceEnd - bodySent));
        std::copy_n(memory + bodySent, n, out);
        bodySent += n;
        if (bodySent == pieceEnd && plan.variant == Plan::Variant::MemoryUpload) {
            plan.bodyProgress.Report(static_cast<double>(bodySent) * 100.0 / static_cast<double>(bodyTotal));
            std::this_thread::yield();
        }
    }
    if (abortCode == 0 && bodySent == bodyTotal) Delivered();
    return n;
}

std::size_t WinHttpClient::Exchange::ReadStreamed(char* out, std::size_t capacity) {
    const std::string& head = client.postHead;
    const std::uint64_t fileSize = client.uploadFileSize;
    const std::uint64_t fileEnd = head.size() + fileSize;
    std::size_t n = 0;
    if (bodySent < head.size()) {
        n = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, head.size() - bodySent));
        std::copy_n(head.data() + bodySent, n, out);
    } else if (bodySent < fileEnd) {
        bool windowEnded = false;
        const std::uint64_t offset = bodySent - head.size();
        n = file->Read(offset, out, static_cast<std::size_t>(std::min<std::uint64_t>(capacity, fileEnd - bodySent)),
                       windowEnded);
        if (n == 0) {
            abortCode = httperr::kFileRead;
            return 0;
        }
        if (windowEnded || offset + n == fileSize) {
            plan.bodyProgress.Report(static_cast<double>(offset + n) * 100.0 / static_cast<double>(fileSize));
            std::this_thread::yield();
        }
    } else {
        const std::uint64_t inTail = bodySent - fileEnd;
        n = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, tail.size() - inTail));
        std::copy_n(tail.data() + inTail, n, out);
    }
    bodySent += n;
    return n;
}

int WinHttpClient::Exchange::OnConnected(void* self, char*, char*, int, int) {
    auto& ex = *static_cast<Exchange*>(self);
    ex.connected = true;
    ex.lastMoveMs = BaseFunc::GetMilliseconds();
    if (ex.bodyTotal == 0) ex.Delivered();
    return CURL_PREREQFUNC_OK;
}

int WinHttpClient::Exchange::OnProgress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto& ex = *static_cast<Exchange*>(self);
    if (ex.abortCode != 0) return 1;
    if (ex.plan.polls != nullptr) {
        int line = 0;
        if (!ex.bodyDelivered) {
            line = ex.IsUpload() && ex.connected ? ex.plan.polls->beforePiece : ex.plan.polls->beforeSend;
        } else if (ex.plan.operation == nullptr) {
            line = ex.gotStatusLine ? ex.plan.polls->beforeRead : ex.plan.polls->beforeReceive;
        }
        if (line != 0 && ex.Poll(line)) return 1;
    }
    // Watchdog: once connected, a request whose bytes stop moving ends after the send
    // limit (request under way) or the receive limit (reply awaited or being read).
    if (!ex.connected) return 0;
    const std::uint64_t now = BaseFunc::GetMilliseconds();
    if (down != ex.lastDown || up != ex.lastUp) {
        ex.lastDown = down;
        ex.lastUp = up;
        ex.lastMoveMs = now;
        return 0;
    }
    const std::uint32_t limit = ex.bodyDelivered ? ex.client.timeouts.receive : ex.client.timeouts.send;
    if (now - ex.lastMoveMs > limit) {
        ex.abortCode = httperr::kTimeout;
        return 1;
    }
    return 0;
}

// ---- the client -----------------------------------------------------------------------------

WinHttpClient::WinHttpClient(CSyncBase* owner, std::string url) : url(std::move(url)), owner(owner) {
    InitCurlOnce();
}

WinHttpClient::~WinHttpClient() {
    if (curl_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

void WinHttpClient::UpdateUrl(CSyncBase* newOwner, std::string newUrl) {
    owner = newOwner;
    url = std::move(newUrl);
    progressCallback = nullptr;
}

void* WinHttpClient::Handle() {
    if (curl_ == nullptr) curl_ = curl_easy_init();
    return curl_;
}

bool WinHttpClient::SetCookies(std::string cookies) {
    requestCookies = std::move(cookies);
    return true;
}

bool WinHttpClient::SetPostData(const void* bytes, std::size_t length) {
    if (bytes == nullptr) return false;
    ClearPostData();
    try {
        const auto* begin = static_cast<const std::uint8_t*>(bytes);
        postData.assign(begin, begin + length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    hasPostData = true;
    return true;
}

bool WinHttpClient::AttachPostData(std::vector<std::uint8_t> body) {
    postData = std::move(body);
    hasPostData = true;
    return true;
}

void WinHttpClient::ClearPostData() {
    std::vector<std::uint8_t>().swap(postData);
    hasPostData = false;
}

bool WinHttpClient::SetAdditionalRequestHeaders(std::string headers) {
    additionalHeaders = std::move(headers);
    return true;
}

void WinHttpClient::ResetResults() {
    lastError = 0;
    statusCode = 0;
    statusText.clear();
    responseHeaders.clear();
    responseContent.clear();
    responseCookies.clear();
    if (!keepCharset) charset.clear();
    location.clear();
    contentLength = 0;
    hasContentLength = false;
    bodySize = 0;
    fileBytesWritten = 0;
    fileMd5.clear();
}

void WinHttpClient::ApplyHeaderFields(Exchange& ex) {
    ex.fieldsApplied = true;
    responseHeaders = ex.headerBlock;
    httphdr::ResponseFields fields = httphdr::ScanResponseHeaders(ex.headerBlock);
    hasContentLength = fields.contentLength.has_value();
    contentLength = fields.contentLength.value_or(0);
    location = std::move(fields.location);
    if (!keepCharset) charset = std::move(fields.charset);
    responseCookies = httphdr::JoinCookies(fields.cookies);
}

void WinHttpClient::ResetProgressPacing() { g_lastProgressReportMs = 0; }

bool WinHttpClient::ReportProgress(std::uint64_t done, const ProgressTarget& target) {
    if (!hasContentLength || contentLength == 0 || contentLength > static_cast<std::uint64_t>(INT64_MAX)) {
        return false;
    }
    const double percent = static_cast<double>(done) * 100.0 / static_cast<double>(contentLength);
    if (!target.Empty()) {
        const std::uint64_t now = BaseFunc::GetMilliseconds();
        std::uint64_t last = g_lastProgressReportMs.load();
        if (now > last + 1000 && g_lastProgressReportMs.compare_exchange_strong(last, now)) {
            target.Report(percent);
            std::this_thread::yield();
        }
    }
    if (progressCallback) progressCallback(percent);
    return true;
}

namespace {

// The request's header lines: the caller's block (a Content-Length line only when it
// states the real body length), the cookie text, and blanks for the headers libcurl would
// otherwise add on its own.
bool BuildHeaders(const std::string& additional, const std::string& cookies, bool hasBody,
                  std::uint64_t bodyLength, curl_slist*& list) {
    bool haveAccept = false;
    bool haveContentType = false;
    bool cookieMerged = false;
    for (std::string_view line : httphdr::SplitLines(additional)) {
        if (line.empty() || line.find(':') == std::string_view::npos) continue;
        std::string_view value;
        if (httphdr::FieldValue(line, "Content-Length", value)) {
            if (!hasBody || value != std::to_string(bodyLength)) continue;
        }
        haveAccept = haveAccept || httphdr::FieldValue(line, "Accept", value);
        haveContentType = haveContentType || httphdr::FieldValue(line, "Content-Type", value);
        std::string text(line);
        if (!cookies.empty() && httphdr::FieldValue(line, "Cookie", value)) {
            text += "; " + cookies;
            cookieMerged = true;
        }
        if (!Append(list, text)) return false;
    }
    if (!cookies.empty() && !cookieMerged && !Append(list, "Cookie: " + cookies)) return false;
    if (!haveAccept && !Append(list, "Accept:")) return false;
    if (hasBody && !haveContentType && !Append(list, "Content-Type:")) return false;
    return Append(list, "Expect:");
}

bool CanonicalVerb(const std::string& verb, std::string& out) {
    for (const char* known : {"GET", "POST", "OPTIONS"}) {
        if (BaseFunc::EqualNoCase(verb, known)) {
            out = known;
            return true;
        }
    }
    return false;
}

}  // namespace

bool WinHttpClient::SendHttpRequest(const std::string& verb, SyncOperationSlot* operation,
                                    const ProgressTarget& progress) {
    Plan plan;
    plan.variant = Plan::Variant::General;
    plan.verb = verb;
    plan.operation = operation;
    plan.polls = &kGeneralPolls;
    plan.statusLog = kGeneralStatusLog;
    plan.replyProgress = progress;
    plan.toFile = downloadToFile;
    return Run(plan);
}

bool WinHttpClient::SendLoginRequest() {
    Plan plan;
    plan.variant = Plan::Variant::Login;
    plan.verb = "GET";
    plan.statusLog = kLoginStatusLog;
    return Run(plan);
}

WinHttpClient::Plan WinHttpClient::UploadPlan(bool streamed, const ProgressTarget& node, const std::string& verb,
                                              SyncOperationSlot* operation, bool disableRedirects) {
    Plan plan;
    plan.variant = streamed ? Plan::Variant::StreamedUpload : Plan::Variant::MemoryUpload;
    plan.verb = verb;
    plan.operation = operation;
    plan.polls = streamed ? &kStreamUploadPolls : &kMemoryUploadPolls;
    plan.statusLog = streamed ? kStreamUploadStatusLog : kMemoryUploadStatusLog;
    plan.bodyProgress = node;
    plan.followRedirects = !disableRedirects;
    return plan;
}

bool WinHttpClient::SendHttpRequestAndCallBack(const ProgressTarget& node, const std::string& verb,
                                               SyncOperationSlot* operation, bool disableRedirects) {
    return Run(UploadPlan(false, node, verb, operation, disableRedirects));
}

bool WinHttpClient::SendHttpRequestAndCallBackForBig(const ProgressTarget& node, const std::string& verb,
                                                     SyncOperationSlot* operation, bool disableRedirects) {
    return Run(UploadPlan(true, node, verb, operation, disableRedirects));
}

bool WinHttpClient::Run(const Plan& requested) {
    ResetResults();
    if (url.empty()) {
        lastError = httperr::kEmptyUrl;
        return false;
    }
    Plan plan = requested;
    if (!CanonicalVerb(requested.verb, plan.verb)) {
        lastError = httperr::kInvalidVerb;
        return false;
    }
    if (plan.variant == Plan::Variant::StreamedUpload && plan.verb != "POST") {
        lastError = httperr::kInvalidVerb;
        return false;
    }
    if (Handle() == nullptr) {
        lastError = httperr::kOutOfMemory;
        return false;
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (plan.polls != nullptr && Stopped(owner, plan.polls->function, plan.polls->attemptStart)) {
            lastError = httperr::kStopped;
            return false;
        }
        Exchange ex(*this, plan);
        bool retry = false;
        if (RunAttempt(plan, ex, retry)) return true;
        if (!retry) return false;
    }
    return false;
}

bool WinHttpClient::RunAttempt(const Plan& plan, Exchange& ex, bool& retry) {
    retry = false;
    ResetResults();
    CURL* h = static_cast<CURL*>(curl_);
    curl_easy_reset(h);

    // The body of this attempt, from its beginning.
    if (plan.HasBody()) {
        if (plan.variant == Plan::Variant::StreamedUpload) {
            ex.file = std::make_unique<StreamedFile>();
            if (!ex.file->Open(uploadFilePath, uploadFileSize)) {
                lastError = httperr::kFileOpen;
                return false;
            }
            ex.tail = "\r\n--" + boundary + "--\r\n";
            ex.bodyTotal = postHead.size() + uploadFileSize + ex.tail.size();
        } else if (hasPostData) {
            ex.memory = postData.data();
            ex.bodyTotal = postData.size();
        }
        ex.pieceSize = plan.variant == Plan::Variant::MemoryUpload ? kBodyPiece : std::max<std::uint64_t>(ex.bodyTotal, 1);
    }

    HeaderList headers;
    bool listOk = true;
    if (plan.variant == Plan::Variant::Login) {
        for (const char* line : kLoginHeaders) listOk = listOk && Append(headers.list, line);
        listOk = listOk && Append(headers.list, "Accept:");
    } else {
        listOk = BuildHeaders(additionalHeaders, requestCookies, plan.HasBody(), ex.bodyTotal, headers.list);
    }
    if (!listOk) {
        lastError = httperr::kOutOfMemory;
        return false;
    }
    if (plan.polls != nullptr && Stopped(owner, plan.polls->function, plan.polls->beforeSend)) {
        lastError = httperr::kStopped;
        return false;
    }

    const long connectMs = static_cast<long>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(timeouts.resolve) + timeouts.connect, LONG_MAX));
    const long stallSeconds = static_cast<long>(std::max(timeouts.send, timeouts.receive) / 1000 + 2);
    bool setOk = curl_easy_setopt(h, CURLOPT_URL, url.c_str()) == CURLE_OK;
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, plan.followRedirects ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    setOk = setOk && curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str()) == CURLE_OK;
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Exchange::OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &ex);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Exchange::OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &ex);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Exchange::OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &ex);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &Exchange::OnConnected);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &ex);
    if (!verifyCertificate && BaseFunc::EqualNoCase(std::string_view(url).substr(0, 8), "https://")) {
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (!proxyServer.empty()) {
        setOk = setOk && curl_easy_setopt(h, CURLOPT_PROXY, proxyServer.c_str()) == CURLE_OK;
        if (!proxyUserName.empty()) {
            setOk = setOk && curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, proxyUserName.c_str()) == CURLE_OK;
            if (!proxyPassword.empty()) {
                setOk = setOk && curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, proxyPassword.c_str()) == CURLE_OK;
            }
        }
    }
    if (plan.verb == "POST") {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &Exchange::OnRead);
        curl_easy_setopt(h, CURLOPT_READDATA, &ex);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ex.bodyTotal));
        curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, static_cast<long>(kBodyPiece));
    } else if (plan.verb == "OPTIONS") {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "OPTIONS");
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    if (!setOk) {
        lastError = httperr::kOutOfMemory;
        return false;
    }

    const CURLcode result = curl_easy_perform(h);
    if (ex.refusedStatus == 0 && ex.abortCode != 0) {
        lastError = ex.abortCode;
        return false;
    }
    if (ex.refusedStatus == 0 && result != CURLE_OK) {
        lastError = MapCurlError(result);
        retry = !ex.gotStatusLine && !(plan.HasBody() && ex.bodyDelivered) && MayRetry(result);
        return false;
    }
    return Finish(plan, ex);
}

bool WinHttpClient::Finish(const Plan& plan, Exchange& ex) {
    long status = 0;
    curl_easy_getinfo(static_cast<CURL*>(curl_), CURLINFO_RESPONSE_CODE, &status);
    if (!ex.fieldsApplied && ex.gotStatusLine) ApplyHeaderFields(ex);
    if (status > 0) {
        statusCode = static_cast<std::uint32_t>(status);
        statusText = std::to_string(status);
    }
    if (status >= 400) {
        SyncLog().debug(plan.statusLog);
        lastError = static_cast<std::uint32_t>(status);
        return false;
    }
    if (plan.toFile) {
        // A reply without body bytes is checked here; one with bytes was checked as they came.
        if (expectedDownloadSize >= 0 && hasContentLength &&
            contentLength != static_cast<std::uint64_t>(expectedDownloadSize)) {
            lastError = httperr::kInvalidResponse;
            return false;
        }
        if (!ex.OpenFile()) {
            lastError = httperr::kFileOpen;
            return false;
        }
        if (!ex.CloseFile()) {
            SyncLog().debug(kFileWriteLog);
            lastError = httperr::kFileWrite;
            return false;
        }
        fileMd5 = ex.md5.FinalHexLower();
    } else {
        responseContent = std::move(ex.body);
    }
    ReportProgress(bodySize, plan.replyProgress);
    return true;
}
