#include "sync/net/WinHttpClient.h"

#include <atomic>
#include <new>
#include <thread>

#include <log4cpp/Category.hh>

#include "http/Exchange.h"
#include "http/HeaderFields.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncBase.h"
#include "sync/common/SyncLog.h"
#include "sync/common/SyncOperation.h"
#include "HttpAttempt.h"
#include "HttpRequestPlan.h"

namespace {

constexpr int kAttempts = 3;

// Time of the last reply-progress report that reached the running page, shared by all
// clients; a lost update only lets one extra report through.
std::atomic<std::uint64_t> g_lastProgressReportMs{0};

// Scheme and authority of a URL, for log lines (never the path or query: the login's
// query holds the password).
std::string Origin(std::string_view url) {
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    return std::string(url.substr(0, url.find_first_of("/?#", start)));
}

// A failure that is no outage of the network gets a log line of its own with the reason.
void LogDistinctFailure(const http::Result& result, const std::string& url) {
    if (result.failure == http::Failure::CertificateRejected) {
        SyncLog().error("The server's certificate was refused, " + Origin(url) + ": " + result.detail);
    } else if (result.failure == http::Failure::ReplyTooLarge) {
        SyncLog().error("The reply of " + Origin(url) + " passed its size limit; the request ends");
    } else if (result.failure == http::Failure::TimedOut) {
        SyncLog().error("The request to " + Origin(url) + " took too long or stalled: " + result.detail);
    }
}

}  // namespace

void MarkOperationSent(SyncOperationSlot* operation) {
    if (operation == nullptr) return;
    const std::uint64_t now = BaseFunc::GetMilliseconds();
    operation->Update([now](SyncOperation& op) {
        op.state = 1;
        op.sentMs = now;
    });
}

// ---- the client -----------------------------------------------------------------------------

WinHttpClient::WinHttpClient(CSyncBase* owner, std::string url)
    : url(std::move(url)), owner(owner), exchange_(std::make_unique<http::Exchange>()) {}

WinHttpClient::~WinHttpClient() = default;

void WinHttpClient::UpdateUrl(CSyncBase* newOwner, std::string newUrl) {
    owner = newOwner;
    url = std::move(newUrl);
    progressCallback = nullptr;
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
    failureReason.clear();
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

void WinHttpClient::ApplyHeaderFields(const std::string& headerBlock) {
    responseHeaders = headerBlock;
    http::ResponseFields fields = http::ScanResponseHeaders(headerBlock);
    hasContentLength = fields.contentLength.has_value();
    contentLength = fields.contentLength.value_or(0);
    location = std::move(fields.location);
    if (!keepCharset) charset = std::move(fields.charset);
    responseCookies = http::JoinCookies(fields.cookies);
}

void WinHttpClient::ResetProgressPacing() { g_lastProgressReportMs = 0; }

bool WinHttpClient::ReportProgress(std::uint64_t done, const ProgressSink* target) {
    if (!hasContentLength || contentLength == 0 || contentLength > static_cast<std::uint64_t>(INT64_MAX)) {
        return false;
    }
    const double percent = static_cast<double>(done) * 100.0 / static_cast<double>(contentLength);
    if (target != nullptr) {
        const std::uint64_t now = BaseFunc::GetMilliseconds();
        std::uint64_t last = g_lastProgressReportMs.load();
        if (now > last + 1000 && g_lastProgressReportMs.compare_exchange_strong(last, now)) {
            target->Report(percent);
            std::this_thread::yield();
        }
    }
    if (progressCallback) progressCallback(percent);
    return true;
}

bool WinHttpClient::SendHttpRequest(const std::string& verb, SyncOperationSlot* operation,
                                    const ProgressSink* progress) {
    return Run(HttpRequestPlan::General(verb, operation, progress, downloadToFile));
}

bool WinHttpClient::SendLoginRequest() { return Run(HttpRequestPlan::Login()); }

bool WinHttpClient::SendHttpRequestAndCallBack(const ProgressSink* node, const std::string& verb,
                                               SyncOperationSlot* operation, bool disableRedirects) {
    return Run(HttpRequestPlan::Upload(false, node, verb, operation, disableRedirects));
}

bool WinHttpClient::SendHttpRequestAndCallBackForBig(const ProgressSink* node, const std::string& verb,
                                                     SyncOperationSlot* operation, bool disableRedirects) {
    return Run(HttpRequestPlan::Upload(true, node, verb, operation, disableRedirects));
}

bool WinHttpClient::Run(const HttpRequestPlan& requested) {
    ResetResults();
    if (url.empty()) {
        lastError = httperr::kEmptyUrl;
        return false;
    }
    HttpRequestPlan plan = requested;
    if (!CanonicalVerb(requested.verb, plan.verb)) {
        lastError = httperr::kInvalidVerb;
        return false;
    }
    if (plan.variant == HttpRequestPlan::Variant::StreamedUpload && plan.verb != "POST") {
        lastError = httperr::kInvalidVerb;
        return false;
    }
    if (!exchange_->Open()) {
        lastError = httperr::kOutOfMemory;
        return false;
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (plan.polls != nullptr && owner != nullptr &&
            IsStopResult(owner->CheckState(plan.polls->function, plan.polls->attemptStart))) {
            lastError = httperr::kStopped;
            return false;
        }
        bool retry = false;
        if (RunAttempt(plan, retry)) return true;
        if (!retry) return false;
    }
    return false;
}

bool WinHttpClient::RunAttempt(const HttpRequestPlan& plan, bool& retry) {
    retry = false;
    ResetResults();
    HttpAttempt attempt(*this, plan);
    // The body of this attempt, from its beginning.
    if (const std::uint32_t error = attempt.PrepareBody(); error != httperr::kNone) {
        lastError = error;
        return false;
    }
    std::vector<std::string> lines;
    try {
        lines = RequestHeaderLines(plan, additionalHeaders, requestCookies, attempt.BodyTotal());
    } catch (const std::bad_alloc&) {
        lastError = httperr::kOutOfMemory;
        return false;
    }
    if (attempt.Poll(plan.polls != nullptr ? plan.polls->beforeSend : 0)) {
        lastError = httperr::kStopped;
        return false;
    }

    const http::Result result =
        exchange_->Perform(ExchangeRequest(plan, *this, std::move(lines), attempt.BodyTotal()), attempt);
    if (attempt.refusedStatus == 0 && attempt.abortCode != 0) {
        lastError = attempt.abortCode;
        return false;
    }
    if (attempt.refusedStatus == 0 && !result.Ok()) {
        lastError = HttpAttempt::TransportError(result.failure);
        failureReason = result.detail;
        LogDistinctFailure(result, url);
        retry = !attempt.gotStatusLine && !(plan.HasBody() && attempt.bodyDelivered) && result.mayRetry;
        return false;
    }
    return Finish(plan, attempt);
}

bool WinHttpClient::Finish(const HttpRequestPlan& plan, HttpAttempt& attempt) {
    const long status = exchange_->ResponseCode();
    if (!attempt.fieldsApplied && attempt.gotStatusLine) {
        attempt.fieldsApplied = true;
        ApplyHeaderFields(exchange_->Headers());
    }
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
        if (const std::uint32_t error = attempt.CloseDownload(); error != httperr::kNone) {
            lastError = error;
            return false;
        }
        fileMd5 = attempt.Md5Hex();
    } else {
        responseContent = attempt.TakeBody();
    }
    ReportProgress(bodySize, plan.replyProgress);
    return true;
}
