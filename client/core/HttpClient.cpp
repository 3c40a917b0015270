#include "client/core/HttpClient.h"

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include <algorithm>
#include <sstream>

#include "client/core/ClientLog.h"
#include "client/core/HttpRequest.h"
#include "client/core/LocalFileIO.h"
#include "platform/clock.h"

namespace {

constexpr char kUserAgent[] =
    "User-Agent:Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.22 (KHTML, like Gecko) "
    "Chrome/25.0.1364.97 Safari/537.22";

void LogWarn(const std::string& line) { ClientLog().log(log4cpp::Priority::WARN, line); }

}  // namespace

namespace httpdetail {

size_t WriteCallback(char* data, size_t size, size_t count, void* userdata) {
    auto* request = static_cast<HttpClient::Request*>(userdata);
    const size_t n = size * count;
    if (request->MustStop()) return 0;
    if (request->bodyFile != nullptr) {
        // An error reply is kept as text for the log, never written into the file.
        long status = 0;
        curl_easy_getinfo(request->handle, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 400) {
            request->body.append(data, n);
        } else {
            if (request->bodyLimit >= 0 && request->bodyBytes + static_cast<std::int64_t>(n) > request->bodyLimit) {
                request->bodyOverflow = true;
                return 0;
            }
            const std::uint32_t written = request->bodyFile->Write(data, static_cast<std::uint32_t>(n));
            request->bodyBytes += written;
            if (written != n) {
                request->bodyWriteFailed = true;
                return written;
            }
        }
    } else {
        request->body.append(data, n);
    }
    request->Touch();
    return n;
}

size_t HeaderCallback(char* data, size_t size, size_t count, void* userdata) {
    auto* request = static_cast<HttpClient::Request*>(userdata);
    const size_t n = size * count;
    if (request->MustStop()) return 0;
    // Only the final response's headers are kept (not those of a 100 Continue).
    if (n >= 5 && std::equal(data, data + 5, "HTTP/")) request->headers.clear();
    request->headers.append(data, n);
    request->Touch();
    return n;
}

size_t ReadCallback(char* buffer, size_t size, size_t count, void* userdata) {
    auto* request = static_cast<HttpClient::Request*>(userdata);
    if (request->MustStop()) return CURL_READFUNC_ABORT;
    if (request->source == nullptr) return 0;
    const size_t n = std::min<size_t>(size * count, UINT32_MAX);
    const std::uint32_t got = request->source->Read(buffer, static_cast<std::uint32_t>(n));
    request->sourceBytes += got;
    // A file that ends before its announced length must not look like a whole upload.
    if (got == 0 && n > 0 && request->sourceBytes < request->sourceLength) return CURL_READFUNC_ABORT;
    request->Touch();
    return got;
}

int ProgressCallback(void* userdata, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
    auto* request = static_cast<HttpClient::Request*>(userdata);
    if (request->MustStop()) return 1;
    if (request->direction == 0) return 0;
    const std::uint64_t now = plat::SteadyMilliseconds();
    if (request->reported &&
        now - request->lastReport < static_cast<std::uint64_t>(request->progressInterval.count())) {
        return 0;
    }
    const bool upload = request->direction == 1;
    curl_off_t speed = 0;
    if (curl_easy_getinfo(request->handle, upload ? CURLINFO_SPEED_UPLOAD_T : CURLINFO_SPEED_DOWNLOAD_T, &speed) !=
        CURLE_OK) {
        return 0;
    }
    TransferProgress progress;
    progress.id = request->requestId;
    progress.direction = request->direction;
    progress.total = static_cast<double>(upload ? ultotal : dltotal);
    progress.done = static_cast<double>(upload ? ulnow : dlnow);
    progress.speed = static_cast<double>(speed);
    request->reported = true;
    request->lastReport = now;
    request->client->NotifyProgress(&progress);
    return 0;
}

}  // namespace httpdetail

bool IsSafeServerName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) return false;
    }
    return true;
}

HttpClient::HttpClient() : clock_(plat::SteadyMilliseconds) { curl_global_init(CURL_GLOBAL_ALL); }

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
    curl_global_cleanup();
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
            const std::uint64_t last = request->lastActivity.load();
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

long HttpClient::CheckHttpStatusCode(CURL* handle, int* errorCode) {
    long status = 0;
    if (handle != nullptr) curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
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

bool HttpClient::SaveCookie(CURL* handle) {
    curl_slist* cookies = nullptr;
    if (handle == nullptr || curl_easy_getinfo(handle, CURLINFO_COOKIELIST, &cookies) != CURLE_OK) return false;
    std::string text;
    for (curl_slist* line = cookies; line != nullptr; line = line->next) {
        // Cookie-file form: domain, tailmatch, path, secure, expires, name, value.
        std::vector<std::string> fields;
        std::string field;
        std::istringstream in(line->data ? line->data : "");
        while (std::getline(in, field, '\t')) fields.push_back(field);
        if (fields.size() < 7) continue;
        text += fields[5] + "=" + fields[6] + ";";
    }
    curl_slist_free_all(cookies);
    std::lock_guard<std::mutex> lock(sessionMutex_);
    session_.cookie = text;
    return true;
}

curl_slist* HttpClient::BuildHeaders(int bodyLength) const {
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
    curl_slist* list = nullptr;
    for (const std::string& line : lines) {
        curl_slist* next = curl_slist_append(list, line.c_str());
        if (next == nullptr) {
            curl_slist_free_all(list);
            return nullptr;
        }
        list = next;
    }
    return list;
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

void HttpClient::StartRequest(CURL* handle, Request& request, bool withTimeout) {
    HttpLimits limits;
    {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        limits = limits_;
        request.clock = clock_;
    }
    request.client = this;
    request.handle = handle;
    request.Touch();
    request.progressInterval = limits.progressInterval;
    if (handle == nullptr) return;
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.lowSpeedTime.count()));
    if (withTimeout) curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.callTimeout.count()));
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, httpdetail::HeaderCallback);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &request);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, httpdetail::WriteCallback);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &request);
    // The progress callback runs for every request, about once a second even on a
    // silent connection, so a cancelled request ends without waiting for data.
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, httpdetail::ProgressCallback);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &request);
}

HttpClient::Reply HttpClient::Perform(CallSpec& spec, int* errorCode) {
    Reply reply;
    if (loginState_.load() != HttpLoggedIn) return reply;
    const Session session = CopySession();

    CURL* handle = curl_easy_init();
    Request request;
    StartRequest(handle, request, spec.withTimeout);
    request.requestId = spec.requestId;
    request.direction = spec.direction;
    request.bodyFile = spec.bodyFile;
    request.bodyLimit = spec.bodyLimit;
    request.source = spec.source;
    AddActive(&request);

    curl_slist* headers = nullptr;
    CURLcode code = CURLE_FAILED_INIT;
    bool prepared = true;
    if (handle != nullptr) {
        const std::string url = session.scheme + session.host + session.basePath + spec.path;
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_POST, spec.post ? 1L : 0L);
        headers = BuildHeaders(static_cast<int>(spec.body.size()));
        if (spec.source != nullptr && headers != nullptr) {
            // No "Expect: 100-continue" round trip before an upload's body.
            curl_slist* next = curl_slist_append(headers, "Expect:");
            if (next != nullptr) headers = next;
        }
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
        if (spec.post && !spec.body.empty()) {
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(spec.body.size()));
            curl_easy_setopt(handle, CURLOPT_POSTFIELDS, spec.body.c_str());
        }
        if (spec.prepare) prepared = spec.prepare(handle, request);
        if (prepared) code = curl_easy_perform(handle);
    }

    if (prepared) {
        reply.performed = true;
        if (code != CURLE_OK) {
            SetNetworkState(2);
            if (errorCode != nullptr) *errorCode = HttpErrorTransport;
            LogClientInfo("<http>" + spec.operation + ", error, CURLcode=" + std::to_string(static_cast<int>(code)));
        } else {
            SetNetworkState(1);
            reply.status = CheckHttpStatusCode(handle, errorCode);
            reply.ok = reply.status < 400;
            if (!reply.ok) {
                LogClientInfo("<http>" + spec.operation + ", Http response Status Code Error. ResponseString = " +
                              request.body +
                              (spec.logsStatus ? ", http status code=" + std::to_string(reply.status) : std::string()));
            } else if (request.direction != 0) {
                // The final report, whatever the throttle let through before.
                curl_off_t total = -1, done = 0, speed = 0;
                const bool upload = request.direction == 1;
                curl_easy_getinfo(handle, upload ? CURLINFO_CONTENT_LENGTH_UPLOAD_T : CURLINFO_CONTENT_LENGTH_DOWNLOAD_T,
                                  &total);
                curl_easy_getinfo(handle, upload ? CURLINFO_SIZE_UPLOAD_T : CURLINFO_SIZE_DOWNLOAD_T, &done);
                curl_easy_getinfo(handle, upload ? CURLINFO_SPEED_UPLOAD_T : CURLINFO_SPEED_DOWNLOAD_T, &speed);
                TransferProgress progress;
                progress.id = request.requestId;
                progress.direction = request.direction;
                progress.done = static_cast<double>(done);
                progress.total = static_cast<double>(total >= 0 ? total : done);
                progress.speed = static_cast<double>(speed);
                NotifyProgress(&progress);
            }
            curl_off_t announced = -1;
            curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
            spec.announcedLength = announced;
        }
    }
    reply.body = request.body;
    spec.bodyBytes = request.bodyBytes;
    spec.bodyOverflow = request.bodyOverflow;
    spec.bodyWriteFailed = request.bodyWriteFailed;

    if (headers != nullptr) curl_slist_free_all(headers);
    if (spec.form != nullptr) {
        curl_mime_free(spec.form);
        spec.form = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(activeMutex_);
        active_.remove(&request);
        if (handle != nullptr) curl_easy_cleanup(handle);
    }
    activeChanged_.notify_all();
    return reply;
}

void HttpClient::LogDataError(const std::string& operation, const std::string& body, const std::string& extra) {
    LogClientInfo("<http>" + operation + ", Http response Data Error, responseData=" + body + extra);
}
