#include "client/core/HttpClient.h"

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include <algorithm>
#include <sstream>

#include "HttpRequest.h"
#include "client/core/ClientLog.h"
#include "client/core/LocalFileIO.h"
#include "http/Bounds.h"
#include "http/Exchange.h"
#include "platform/clock.h"

namespace {

constexpr char kUserAgent[] =
    "User-Agent:Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.22 (KHTML, like Gecko) "
    "Chrome/25.0.1364.97 Safari/537.22";

void LogWarn(const std::string& line) { ClientLog().log(log4cpp::Priority::WARN, line); }

}  // namespace

bool HttpClient::Request::OnHeaderLine(std::string_view, bool) {
    if (MustStop()) return false;
    Touch();
    return true;
}

std::size_t HttpClient::Request::OnBody(const char* data, std::size_t size) {
    const std::size_t n = size;
    if (MustStop()) return 0;
    if (bodyFile != nullptr) {
        // An error reply is kept as text for the log, never written into the file.
        if (exchange->ResponseCode() >= 400) {
            body.append(data, n);
        } else {
            if (bodyLimit >= 0 && bodyBytes + static_cast<std::int64_t>(n) > bodyLimit) {
                bodyOverflow = true;
                return 0;
            }
            const std::uint32_t written = bodyFile->Write(data, static_cast<std::uint32_t>(n));
            bodyBytes += written;
            if (written != n) {
                bodyWriteFailed = true;
                return written;
            }
        }
    } else {
        body.append(data, n);
    }
    Touch();
    return n;
}

std::optional<std::size_t> HttpClient::Request::OnRead(char* buffer, std::size_t capacity) {
    if (MustStop()) return std::nullopt;
    if (source == nullptr) return 0;
    const std::size_t n = std::min<std::size_t>(capacity, UINT32_MAX);
    const std::uint32_t got = source->Read(buffer, static_cast<std::uint32_t>(n));
    sourceBytes += got;
    // A file that ends before its announced length must not look like a whole upload.
    if (got == 0 && n > 0 && sourceBytes < sourceLength) return std::nullopt;
    Touch();
    return got;
}

bool HttpClient::Request::OnProgress(const http::Counters& counters) {
    if (MustStop()) return false;
    if (direction == 0) return true;
    const std::uint64_t now = plat::SteadyMilliseconds();
    if (reported && now - lastReport < static_cast<std::uint64_t>(progressInterval.count())) return true;
    const bool upload = direction == 1;
    const std::optional<std::int64_t> speed = exchange->Speed(upload ? http::Direction::Up : http::Direction::Down);
    if (!speed) return true;
    TransferProgress progress;
    progress.id = requestId;
    progress.direction = direction;
    progress.total = static_cast<double>(upload ? counters.upTotal : counters.downTotal);
    progress.done = static_cast<double>(upload ? counters.upNow : counters.downNow);
    progress.speed = static_cast<double>(*speed);
    reported = true;
    lastReport = now;
    client->NotifyProgress(&progress);
    return true;
}

bool IsSafeServerName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) return false;
    }
    return true;
}

HttpClient::HttpClient() : clock_(plat::SteadyMilliseconds) {}

HttpClient::~HttpClient() {
    Logout();
    {
        // Requests still running on other threads end at their next callback.
        std::unique_lock<std::mutex> lock(activeMutex_);
        activeChanged_.wait(lock, [this] {
            for (Request* r : active_) r->cancelled = true;
            return active_.empty();
        });
    }
}

int HttpClient::AddListener(HttpClientListener* listener) {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    listeners_.push_back(listener);
    return 1;
}

int HttpClient::RemoveListener(HttpClientListener* listener) {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    auto it = std::find(listeners_.begin(), listeners_.end(), listener);
    if (it != listeners_.end()) listeners_.erase(it);
    return 1;
}

ServerUserInfo HttpClient::GetUserInfo() const {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    return user_;
}

std::string HttpClient::GetScheme() const { return CopySession().scheme; }
std::string HttpClient::GetHost() const { return CopySession().host; }
std::string HttpClient::GetBasePath() const { return CopySession().basePath; }
std::string HttpClient::GetCookieText() const { return CopySession().cookie; }

void HttpClient::SetLimits(const HttpLimits& limits) {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    limits_ = limits;
}

HttpLimits HttpClient::GetLimits() const {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    return limits_;
}

void HttpClient::SetCaFile(std::string path) {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    caFile_ = std::move(path);
}

std::string HttpClient::LastCertificateFailure() const {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    return certificateFailure_;
}

void HttpClient::TransportFailed(const std::string& operation, const std::string& origin, const http::Result& result,
                                 int* errorCode) {
    std::string why;
    int code = HttpErrorTransport;
    if (result.failure == http::Failure::CertificateRejected) {
        code = HttpErrorCertificate;
        const std::string text = "The certificate of the server " + origin + " was refused: " + result.detail;
        {
            std::lock_guard<std::mutex> lock(sessionMutex_);
            certificateFailure_ = text;
        }
        why = ", " + text;
    } else if (result.failure == http::Failure::ReplyTooLarge) {
        why = ", the reply of " + origin + " passed its size limit";
    } else {
        // An outage of the network or the server, as the watchdog reports one.
        if (result.failure == http::Failure::TimedOut) why = ", " + origin + " took too long or stalled: " + result.detail;
        SetNetworkState(2);
    }
    if (errorCode != nullptr) *errorCode = code;
    LogClientInfo("<http>" + operation + ", error, CURLcode=" + std::to_string(result.code) + why);
}

void HttpClient::SetClock(std::function<std::uint64_t()> clock) {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    clock_ = clock ? std::move(clock) : std::function<std::uint64_t()>(plat::SteadyMilliseconds);
}

HttpClient::Session HttpClient::CopySession() const {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    return session_;
}

std::uint64_t HttpClient::Now() const {
    std::function<std::uint64_t()> clock;
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        clock = clock_;
    }
    return clock();
}

void HttpClient::CheckTimeout() {
    const std::uint64_t now = Now();
    const int limit = GetLimits().watchdogSeconds;
    bool timedOut = false;
    {
        std::lock_guard<std::mutex> lock(activeMutex_);
        for (Request* request : active_) {
            const std::uint64_t last = request->watchdog.Last();
            const std::uint64_t silentSeconds = now > last ? (now - last) / 1000 : 0;
            if (silentSeconds <= static_cast<std::uint64_t>(limit)) continue;
            request->cancelled = true;
            timedOut = true;
            std::ostringstream line;
            line << "<http>Network is abnormal, connect timeout. oldCloclTick=" << last << ", newClockTick=" << now
                 << ", CLK_TCK=1000, TimeOut=" << limit << "s";
            LogWarn(line.str());
        }
    }
    if (timedOut) SetNetworkState(2);
}

long HttpClient::CheckHttpStatusCode(long status, int* errorCode) {
    if (status < 400) return status;
    int code = HttpErrorOtherStatus;
    const char* detail = ", Other Error";
    switch (status) {
        case 401:
            code = HttpErrorNotLoggedIn;
            detail = ", User is Not logged in";
            break;
        case 403:
            code = HttpErrorNoPermission;
            detail = ", User is Not has permissions";
            break;
        case 409:
            code = HttpErrorInvalidData;
            detail = ", Invalid data";
            break;
        case 413:
            code = HttpErrorQuota;
            detail = ", Disk Quota is not enough";
            break;
        default:
            break;
    }
    if (errorCode != nullptr) *errorCode = code;
    LogWarn(std::string("<http>CheckHttpStatusCode") + detail + ", code=" + std::to_string(status));
    return status;
}

bool HttpClient::SaveCookie(const http::Exchange& exchange) {
    std::vector<http::Cookie> cookies;
    if (!exchange.ReceivedCookies(cookies)) return false;
    std::string text;
    for (const http::Cookie& cookie : cookies) text += cookie.name + "=" + cookie.value + ";";
    std::lock_guard<std::mutex> lock(sessionMutex_);
    session_.cookie = text;
    return true;
}

std::vector<std::string> HttpClient::BuildHeaders(int bodyLength) const {
    const Session s = CopySession();
    std::vector<std::string> lines = {
        "Accept:application/json, text/javascript, */*; q=0.01",
        "Accept-Charset:GBK,utf-8;q=0.7,*;q=0.3",
        "Accept-Language:zh-CN,zh;q=0.8",
        "Connection:keep-alive",
    };
    if (bodyLength != 0) {
        lines.push_back("Content-Length:" + std::to_string(bodyLength));
        lines.push_back("Content-Type:application/json");
    }
    lines.push_back("Cookie:" + s.cookie);
    lines.push_back("Host:" + s.host);
    lines.push_back("Origin:" + s.host + s.basePath + "/dravik");
    lines.push_back("Referer:" + s.host + s.basePath + "/dravik");
    lines.push_back(kUserAgent);
    lines.push_back("X-Requested-With:XMLHttpRequest");
    return lines;
}

void HttpClient::NotifyProgress(const TransferProgress* progress) {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    for (HttpClientListener* l : listeners_) l->OnProgress(progress);
}

void HttpClient::NotifyNetworkState() {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    const int state = networkState_.load();
    for (HttpClientListener* l : listeners_) l->OnNetworkState(state);
}

void HttpClient::NotifyLoginState() {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    const int state = loginState_.load();
    for (HttpClientListener* l : listeners_) l->OnLoginState(state);
}

void HttpClient::SetNetworkState(int state) {
    networkState_.exchange(state);
    NotifyNetworkState();
}

void HttpClient::SetLoginState(int state) {
    loginState_.exchange(state);
    NotifyLoginState();
}

void HttpClient::AddActive(Request* request) {
    std::lock_guard<std::mutex> lock(activeMutex_);
    active_.push_back(request);
}

void HttpClient::CancelAll() {
    std::lock_guard<std::mutex> lock(activeMutex_);
    for (Request* r : active_) r->cancelled = true;
}

namespace {
// The running flag of the innermost StopScope of this thread.
thread_local const std::atomic<int>* tStopFlag = nullptr;
}  // namespace

HttpClient::StopScope::StopScope(const std::atomic<int>& running) : previous_(tStopFlag) { tStopFlag = &running; }

HttpClient::StopScope::~StopScope() { tStopFlag = previous_; }

void HttpClient::StartRequest(const http::Exchange& exchange, Request& request, http::Request& call,
                              bool withTimeout) {
    request.running = tStopFlag;
    HttpLimits limits;
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        limits = limits_;
        call.caFile = caFile_;
        request.watchdog.SetClock(clock_);
    }
    request.client = this;
    request.exchange = &exchange;
    request.Touch();
    request.progressInterval = limits.progressInterval;
    http::Limits set;
    set.connectMs = limits.connectTimeout.count();
    set.lowSpeedBytes = limits.lowSpeedBytes;
    set.lowSpeedSeconds = static_cast<long>(limits.lowSpeedTime.count());
    if (withTimeout) set.totalMs = limits.callTimeout.count();
    set.replyCeiling = limits.replyCeiling;
    set.errorReplyCeiling = limits.errorReplyCeiling;
    call.limits = set;
}

HttpClient::Reply HttpClient::Perform(CallSpec& spec, int* errorCode) {
    Reply reply;
    if (loginState_.load() != HttpLoggedIn) return reply;
    const Session session = CopySession();

    http::Exchange exchange;
    Request request;
    http::Request call;
    StartRequest(exchange, request, call, spec.withTimeout);
    // A download streams into its file; a listing has its whole-call limit.
    if (spec.bodyFile != nullptr) call.limits.replyCeiling = 0;
    if (spec.listing) call.limits.totalMs = GetLimits().listingTimeout.count();
    request.requestId = spec.requestId;
    request.direction = spec.direction;
    request.bodyFile = spec.bodyFile;
    request.bodyLimit = spec.bodyLimit;
    request.source = spec.source;
    request.sourceLength = spec.sourceLength;
    AddActive(&request);

    call.url = session.scheme + session.host + session.basePath + spec.path;
    call.method = spec.post ? http::Method::Post : http::Method::Get;
    call.headerLines = BuildHeaders(static_cast<int>(spec.body.size()));
    // No "Expect: 100-continue" round trip before an upload's body.
    if (spec.source != nullptr) call.headerLines.emplace_back("Expect:");
    if (spec.post && !spec.body.empty()) {
        call.body = http::Request::Body::Bytes;
        call.bytes = spec.body;
    }
    if (!spec.form.empty()) {
        call.body = http::Request::Body::Form;
        call.form = spec.form;
    }
    const http::Result result = exchange.Perform(call, request);

    if (result.formRejected) {
        LogClientInfo("<http>" + spec.operation + ", form add error, CURLcode=" + std::to_string(result.code));
    } else {
        reply.performed = true;
        if (!result.Ok()) {
            TransportFailed(spec.operation, session.scheme + session.host, result, errorCode);
        } else {
            SetNetworkState(1);
            reply.status = CheckHttpStatusCode(exchange.ResponseCode(), errorCode);
            reply.ok = reply.status < 400;
            if (!reply.ok) {
                LogClientInfo("<http>" + spec.operation + ", Http response Status Code Error. ResponseString = " +
                              http::LogExcerpt(request.body) +
                              (spec.logsStatus ? ", http status code=" + std::to_string(reply.status) : std::string()));
            } else if (request.direction != 0) {
                // The final report, whatever the throttle let through before.
                const bool upload = request.direction == 1;
                const http::Totals totals = exchange.Transfer(upload ? http::Direction::Up : http::Direction::Down);
                TransferProgress progress;
                progress.id = request.requestId;
                progress.direction = request.direction;
                progress.done = static_cast<double>(totals.done);
                progress.total = static_cast<double>(totals.announced >= 0 ? totals.announced : totals.done);
                progress.speed = static_cast<double>(totals.speed);
                NotifyProgress(&progress);
            }
            spec.announcedLength = exchange.Transfer(http::Direction::Down).announced;
        }
    }
    reply.body = request.body;
    spec.bodyBytes = request.bodyBytes;
    spec.bodyOverflow = request.bodyOverflow;
    spec.bodyWriteFailed = request.bodyWriteFailed;
    {
        std::lock_guard<std::mutex> lock(activeMutex_);
        active_.remove(&request);
    }
    activeChanged_.notify_all();
    return reply;
}

void HttpClient::LogDataError(const std::string& operation, const std::string& body, const std::string& extra) {
    LogClientInfo("<http>" + operation + ", Http response Data Error, responseData=" + http::LogExcerpt(body) + extra);
}
