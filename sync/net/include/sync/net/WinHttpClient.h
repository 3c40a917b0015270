#pragma once
// The sync program's HTTP client: one request at a time over the shared libcurl exchange
// (libs/http), for the web-API class CWebCloud, its only user. A client is made for one
// URL, may be kept and re-targeted for later requests, and keeps one exchange (one libcurl
// handle) for its whole life. This file holds the client's settings and results and runs
// the attempts of a request; HttpRequestPlan.h says what each entry point sends, and
// HttpAttempt.h carries one attempt over the wire.
//
// Every request runs on the calling thread. It stops early when the owner's checkpoint
// (CSyncBase) reports quit, suspend or break, and when no byte has moved for longer than
// the send or receive limit (a watchdog in the transfer callback), so nothing waits on the
// network without bound. Each request starts from a clean result: `lastError`, the status,
// the response headers and fields, the cookies and the body all belong to the last request.
//
// Texts toward the network (URL, headers, cookies, bodies) are UTF-8 bytes.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/Bounds.h"
#include "sync/net/ProgressSink.h"

class CSyncBase;
class SyncOperationSlot;
class HttpAttempt;
struct HttpRequestPlan;
namespace http {
class Exchange;
}

// Failure codes of `lastError` besides the HTTP status (400 or more) of a refused request.
// Transport failures use the numbers of the classic HTTP stack, all 400 or more.
namespace httperr {
constexpr std::uint32_t kNone = 0;
constexpr std::uint32_t kEmptyUrl = 3;
constexpr std::uint32_t kOutOfMemory = 8;
constexpr std::uint32_t kChecksumMismatch = 23;   // downloaded bytes do not match their MD5
constexpr std::uint32_t kFileWrite = 29;          // the download file could not be written
constexpr std::uint32_t kFileRead = 30;           // the upload file could not be read to the end
constexpr std::uint32_t kInvalidVerb = 87;
constexpr std::uint32_t kFileOpen = 110;          // the download or upload file could not be opened
constexpr std::uint32_t kDiskFull = 112;
constexpr std::uint32_t kStopped = 1223;          // a checkpoint stopped the request
constexpr std::uint32_t kTimeout = 12002;
constexpr std::uint32_t kInternal = 12004;
constexpr std::uint32_t kInvalidUrl = 12005;
constexpr std::uint32_t kUnrecognizedScheme = 12006;
constexpr std::uint32_t kNameNotResolved = 12007;
constexpr std::uint32_t kCannotConnect = 12029;
constexpr std::uint32_t kConnectionError = 12030;  // connection reset or closed early
constexpr std::uint32_t kInvalidResponse = 12152;  // unreadable reply, or a length other than expected
constexpr std::uint32_t kRedirectFailed = 12156;
constexpr std::uint32_t kSecureFailure = 12175;
constexpr std::uint32_t kCertificateRejected = 12045;  // the server's certificate or its name was refused
constexpr std::uint32_t kReplyTooLarge = 12184;        // the reply passed its size limit
}  // namespace httperr

// Limits of one request, in milliseconds. Connecting (name resolution included) may take
// resolve + connect; once connected, the request fails when no byte moves for `send` while
// the request goes out, or for `receive` while the reply is awaited or read.
struct HttpTimeouts {
    std::uint32_t resolve = 60000;
    std::uint32_t connect = 60000;
    std::uint32_t send = 60000;
    std::uint32_t receive = 60000;
    // Reply ceilings, the listing's total limit and the least transfer speed.
    http::Bounds bounds;
};

// Marks an operation record as sent (state 1, sentMs now); nothing for a null record.
void MarkOperationSent(SyncOperationSlot* operation);

class WinHttpClient {
public:
    WinHttpClient(CSyncBase* owner, std::string url);
    ~WinHttpClient();
    WinHttpClient(const WinHttpClient&) = delete;
    WinHttpClient& operator=(const WinHttpClient&) = delete;

    // Re-targets a kept client: new owner and URL, no progress hook; every other setting
    // (cookies, headers, body, file mode, limits) stays.
    void UpdateUrl(CSyncBase* owner, std::string url);

    // The general request. `verb` is GET, POST or OPTIONS in any case. With an operation
    // record, the record is marked sent (state 1, sentMs) once the request and its body
    // have gone out, and the checkpoint is no longer polled after that. The reply goes to
    // memory, or with `downloadToFile` to `downloadFilePath`; reply progress goes to
    // `progress` (at most once a second across all clients; null: nowhere) and to
    // `progressCallback`.
    bool SendHttpRequest(const std::string& verb, SyncOperationSlot* operation, const ProgressSink* progress);
    // The login request: GET with its own fixed headers, no cookies, no checkpoint polls.
    bool SendLoginRequest();
    // An upload whose whole body is in memory (`SetPostData`/`AttachPostData`), sent in
    // pieces of 65536 bytes; after each piece the share sent is reported to `node` (null:
    // nowhere).
    bool SendHttpRequestAndCallBack(const ProgressSink* node, const std::string& verb,
                                    SyncOperationSlot* operation, bool disableRedirects);
    // An upload streamed from `uploadFilePath`: `postHead`, then the file's
    // `uploadFileSize` bytes one window at a time, then "\r\n--" + boundary + "--\r\n".
    // The file must still have that size when opened, and keep it while it is read.
    // After each window of the file the share of the file sent is reported to `node`.
    bool SendHttpRequestAndCallBackForBig(const ProgressSink* node, const std::string& verb,
                                          SyncOperationSlot* operation, bool disableRedirects);

    // Reply progress: false when the reply announced no length. Reports `done` of the
    // announced length to the target (when there is one and one second has passed since
    // the last report of any client) and to `progressCallback` (always).
    bool ReportProgress(std::uint64_t done, const ProgressSink* target);
    // Lets the next reply-progress report through at once (tests).
    static void ResetProgressPacing();

    const std::string& GetResponseContent() const { return responseContent; }
    const std::string& GetResponseCookies() const { return responseCookies; }
    bool SetCookies(std::string cookies);
    // Copies the body; false (nothing changed) for a null pointer, false with no body when
    // the copy cannot be allocated.
    bool SetPostData(const void* bytes, std::size_t length);
    // Takes the body over without copying.
    bool AttachPostData(std::vector<std::uint8_t> body);
    // Drops the body (and frees its memory).
    void ClearPostData();
    // Extra request header lines, "Name:value" each ending in CR LF. A "Content-Length"
    // line is sent only when it states the body's real length.
    bool SetAdditionalRequestHeaders(std::string headers);

    // ---- settings, set directly by the web-API class ----
    std::string url;
    CSyncBase* owner = nullptr;
    // File mode: the reply body goes to this file (created or truncated; UTF-8 path);
    // nothing of it is kept in memory.
    bool downloadToFile = false;
    std::string downloadFilePath;
    // File mode: the number of body bytes the reply must have. The request stops as soon
    // as the announced length differs or more bytes arrive. Negative: not checked.
    std::int64_t expectedDownloadSize = -1;
    // Streamed upload.
    std::u16string uploadFilePath;
    std::uint64_t uploadFileSize = 0;
    std::string boundary;
    std::string postHead;
    // Explicit proxy (empty: the system's proxy settings).
    std::string proxyServer;
    std::string proxyUserName;
    std::string proxyPassword;
    // https is always verified; this PEM file names the authorities to trust instead of
    // the system's (empty: the system's).
    std::string caFile;
    // A listing: the request ends after the listing's total limit and keeps the listing's
    // reply ceiling (timeouts.bounds).
    bool wholeCallLimit = false;
    bool keepCharset = false;
    std::string userAgent = "WinHttpClient";
    HttpTimeouts timeouts;
    // Called with the reply's percentage by every ReportProgress; cleared by UpdateUrl.
    std::function<void(double)> progressCallback;
    // Memory mode: when set, the reply's body is handed to it piece by piece as it arrives
    // instead of being kept in `responseContent`; a false answer ends the request as an
    // unreadable reply. Only a final reply's body reaches it (never a refused one's), and an
    // attempt is retried only when no reply began, so it sees one body from its start.
    std::function<bool(const char* data, std::size_t size)> replySink;

    // ---- results of the last request ----
    std::uint32_t lastError = 0;      // 0 after a successful request; see httperr
    std::string failureReason;        // the transport's own text of the last failure ("" when none)
    std::uint32_t statusCode = 0;     // the HTTP status (0 when none arrived)
    std::string statusText;           // the same as text ("" when none arrived)
    std::string responseHeaders;      // the final response's header lines, CR LF ended
    std::string responseContent;      // memory mode: the reply body
    std::string responseCookies;      // this reply's cookies, "a=1; b=2;"
    std::string charset;
    std::string location;
    std::uint64_t contentLength = 0;  // announced reply length; 0 when none was announced
    bool hasContentLength = false;
    std::uint64_t bodySize = 0;       // reply bytes read
    std::uint64_t fileBytesWritten = 0;
    std::string fileMd5;              // file mode: MD5 of the bytes written, lower-case hex

private:
    friend class HttpAttempt;

    bool Run(const HttpRequestPlan& plan);
    bool RunAttempt(const HttpRequestPlan& plan, bool& retry);
    bool Finish(const HttpRequestPlan& plan, HttpAttempt& attempt);
    void ResetResults();
    // Takes the fields of the final response's header block (once per attempt).
    void ApplyHeaderFields(const std::string& headerBlock);

    std::unique_ptr<http::Exchange> exchange_;
    std::string requestCookies;
    std::string additionalHeaders;
    std::vector<std::uint8_t> postData;
    bool hasPostData = false;
};
