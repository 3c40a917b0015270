#include "http/Exchange.h"

#include <mutex>
#include <new>
#include <sstream>

#include <curl/curl.h>

namespace http {

namespace {

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

Failure Classify(CURLcode code) {
    switch (code) {
        case CURLE_OK: return Failure::None;
        case CURLE_UNSUPPORTED_PROTOCOL: return Failure::UnsupportedScheme;
        case CURLE_URL_MALFORMAT: return Failure::MalformedUrl;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST: return Failure::NameNotResolved;
        case CURLE_COULDNT_CONNECT: return Failure::CannotConnect;
        case CURLE_OPERATION_TIMEDOUT: return Failure::TimedOut;
        case CURLE_OUT_OF_MEMORY: return Failure::OutOfMemory;
        case CURLE_TOO_MANY_REDIRECTS: return Failure::TooManyRedirects;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_HTTP2:
        case CURLE_HTTP3: return Failure::InvalidReply;
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_SEND_FAIL_REWIND: return Failure::ConnectionBroken;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return Failure::CertificateRejected;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_USE_SSL_FAILED: return Failure::SecureFailure;
        default: return Failure::Other;
    }
}

// Failures that happen before anything of a reply arrives.
bool BeforeAnyReply(CURLcode code) {
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

Result Failed(Failure failure, CURLcode code) {
    Result result;
    result.failure = failure;
    result.code = static_cast<int>(code);
    return result;
}

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    bool Append(const std::string& line) {
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (grown == nullptr) return false;
        list = grown;
        return true;
    }
};

struct Form {
    curl_mime* mime = nullptr;
    ~Form() { curl_mime_free(mime); }
};

}  // namespace

// The state the libcurl callbacks of one Perform share.
struct Exchange::Calls {
    Exchange& exchange;
    Hooks& hooks;
    const Limits& limits;
    bool outOfMemory = false;
    bool tooLarge = false;
    std::int64_t bodyBytes = 0;
    long bodyStatus = -1;  // the status the counted body bytes belong to

    static bool Exceeds(std::int64_t ceiling, std::int64_t bytes) { return ceiling > 0 && bytes > ceiling; }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
        auto& calls = *static_cast<Calls*>(self);
        const std::size_t length = size * count;
        const std::string_view line(data, length);
        const bool opens = line.size() >= 5 && line.substr(0, 5) == "HTTP/";
        if (!calls.hooks.OnHeaderLine(line, opens)) return 0;
        if (opens) calls.exchange.headers_.clear();
        if (Exceeds(calls.limits.errorReplyCeiling,
                    static_cast<std::int64_t>(calls.exchange.headers_.size() + line.size()))) {
            calls.tooLarge = true;
            return 0;
        }
        try {
            calls.exchange.headers_.append(line);
        } catch (const std::bad_alloc&) {
            calls.outOfMemory = true;
            return 0;
        }
        return length;
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto& calls = *static_cast<Calls*>(self);
        const std::size_t length = size * count;
        const long status = calls.exchange.ResponseCode();
        if (status != calls.bodyStatus) {
            calls.bodyStatus = status;
            calls.bodyBytes = 0;
        }
        calls.bodyBytes += static_cast<std::int64_t>(length);
        const std::int64_t ceiling = status >= 400 ? calls.limits.errorReplyCeiling : calls.limits.replyCeiling;
        if (Exceeds(ceiling, calls.bodyBytes)) {
            calls.tooLarge = true;
            return 0;
        }
        return calls.hooks.OnBody(data, length);
    }

    static std::size_t OnRead(char* out, std::size_t size, std::size_t count, void* self) {
        const std::optional<std::size_t> n = static_cast<Calls*>(self)->hooks.OnRead(out, size * count);
        return n ? *n : CURL_READFUNC_ABORT;
    }

    static int OnProgress(void* self, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal,
                          curl_off_t upNow) {
        const Counters counters{downTotal, downNow, upTotal, upNow};
        return static_cast<Calls*>(self)->hooks.OnProgress(counters) ? 0 : 1;
    }

    static int OnConnected(void* self, char*, char*, int, int) {
        static_cast<Calls*>(self)->hooks.OnConnected();
        return CURL_PREREQFUNC_OK;
    }
};

Exchange::Exchange() { InitCurlOnce(); }

Exchange::~Exchange() {
    if (handle_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(handle_));
}

bool Exchange::Open() {
    if (handle_ == nullptr) handle_ = curl_easy_init();
    return handle_ != nullptr;
}

Result Exchange::Perform(const Request& request, Hooks& hooks) {
    headers_.clear();
    if (!Open()) return Failed(Failure::OutOfMemory, CURLE_FAILED_INIT);
    CURL* h = static_cast<CURL*>(handle_);
    curl_easy_reset(h);
    Calls calls{*this, hooks, request.limits};
    char errorText[CURL_ERROR_SIZE] = {};

    HeaderList headers;
    for (const std::string& line : request.headerLines) {
        if (!headers.Append(line)) return Failed(Failure::OutOfMemory, CURLE_OUT_OF_MEMORY);
    }

    bool setOk = curl_easy_setopt(h, CURLOPT_URL, request.url.c_str()) == CURLE_OK;
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    if (request.freshConnection) curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    if (request.webOnly) {
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    }
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    if (request.maxRedirects >= 0) curl_easy_setopt(h, CURLOPT_MAXREDIRS, request.maxRedirects);
    if (!request.userAgent.empty()) {
        setOk = setOk && curl_easy_setopt(h, CURLOPT_USERAGENT, request.userAgent.c_str()) == CURLE_OK;
    }
    const Limits& limits = request.limits;
    if (limits.connectMs > 0) {
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectMs));
    }
    if (limits.lowSpeedSeconds > 0) {
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    }
    if (limits.totalMs > 0) curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalMs));
    if (headers.list != nullptr) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Calls::OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &calls);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Calls::OnBody);
    if (request.receiveBufferSize > 0) curl_easy_setopt(h, CURLOPT_BUFFERSIZE, request.receiveBufferSize);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &calls);
    // The transfer-info callback runs for every request, about once a second even on a
    // silent connection, so a stopped request ends without waiting for data.
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Calls::OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &calls);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &Calls::OnConnected);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &calls);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    // The one rule for https: the peer's chain and the host name are always checked.
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!request.caFile.empty()) {
        setOk = setOk && curl_easy_setopt(h, CURLOPT_CAINFO, request.caFile.c_str()) == CURLE_OK;
    }
    if (!request.proxy.empty()) {
        setOk = setOk && curl_easy_setopt(h, CURLOPT_PROXY, request.proxy.c_str()) == CURLE_OK;
    }
    if (!request.proxyUser.empty()) {
        setOk = setOk && curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, request.proxyUser.c_str()) == CURLE_OK;
    }
    if (!request.proxyPassword.empty()) {
        setOk = setOk && curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, request.proxyPassword.c_str()) == CURLE_OK;
    }
    if (request.recordCookies) setOk = setOk && curl_easy_setopt(h, CURLOPT_COOKIEFILE, "") == CURLE_OK;

    Form form;
    switch (request.method) {
        case Method::Get: curl_easy_setopt(h, CURLOPT_HTTPGET, 1L); break;
        case Method::Options: curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "OPTIONS"); break;
        case Method::Post: curl_easy_setopt(h, CURLOPT_POST, 1L); break;
    }
    switch (request.body) {
        case Request::Body::None:
            if (request.method == Method::Post) {
                curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
                curl_easy_setopt(h, CURLOPT_POSTFIELDS, "");
            }
            break;
        case Request::Body::Bytes:
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.bytes.size()));
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.bytes.data());
            break;
        case Request::Body::Stream:
            curl_easy_setopt(h, CURLOPT_READFUNCTION, &Calls::OnRead);
            curl_easy_setopt(h, CURLOPT_READDATA, &calls);
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.streamLength));
            if (request.uploadBufferSize > 0) curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, request.uploadBufferSize);
            break;
        case Request::Body::Form: {
            form.mime = curl_mime_init(h);
            CURLcode code = form.mime != nullptr ? CURLE_OK : CURLE_OUT_OF_MEMORY;
            for (const FormPart& spec : request.form) {
                if (code != CURLE_OK) break;
                curl_mimepart* part = curl_mime_addpart(form.mime);
                code = part == nullptr ? CURLE_OUT_OF_MEMORY : curl_mime_name(part, spec.name.c_str());
                if (code != CURLE_OK) break;
                if (!spec.streamed) {
                    code = curl_mime_data(part, spec.data.data(), spec.data.size());
                    continue;
                }
                code = curl_mime_filename(part, spec.fileName.c_str());
                if (code == CURLE_OK) {
                    code = curl_mime_data_cb(part, static_cast<curl_off_t>(spec.length), &Calls::OnRead, nullptr,
                                             nullptr, &calls);
                }
            }
            if (code == CURLE_OK) code = curl_easy_setopt(h, CURLOPT_MIMEPOST, form.mime);
            if (code != CURLE_OK) {
                Result result = Failed(Failure::OutOfMemory, code);
                result.formRejected = true;
                return result;
            }
            break;
        }
    }
    if (!setOk) return Failed(Failure::OutOfMemory, CURLE_OUT_OF_MEMORY);

    const CURLcode code = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
    Result result;
    result.code = static_cast<int>(code);
    if (code == CURLE_OK) return result;
    result.failure = calls.outOfMemory ? Failure::OutOfMemory : calls.tooLarge ? Failure::ReplyTooLarge : Classify(code);
    result.mayRetry = !calls.outOfMemory && !calls.tooLarge && BeforeAnyReply(code);
    result.detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    if (calls.tooLarge) result.detail = "the reply passed its size limit";
    return result;
}

long Exchange::ResponseCode() const {
    long status = 0;
    if (handle_ != nullptr) curl_easy_getinfo(static_cast<CURL*>(handle_), CURLINFO_RESPONSE_CODE, &status);
    return status;
}

std::optional<std::int64_t> Exchange::Speed(Direction direction) const {
    curl_off_t speed = 0;
    if (handle_ == nullptr) return std::nullopt;
    const CURLINFO info = direction == Direction::Up ? CURLINFO_SPEED_UPLOAD_T : CURLINFO_SPEED_DOWNLOAD_T;
    if (curl_easy_getinfo(static_cast<CURL*>(handle_), info, &speed) != CURLE_OK) return std::nullopt;
    return static_cast<std::int64_t>(speed);
}

Totals Exchange::Transfer(Direction direction) const {
    Totals totals;
    if (handle_ == nullptr) return totals;
    CURL* h = static_cast<CURL*>(handle_);
    const bool up = direction == Direction::Up;
    curl_off_t announced = -1, done = 0, speed = 0;
    curl_easy_getinfo(h, up ? CURLINFO_CONTENT_LENGTH_UPLOAD_T : CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    curl_easy_getinfo(h, up ? CURLINFO_SIZE_UPLOAD_T : CURLINFO_SIZE_DOWNLOAD_T, &done);
    curl_easy_getinfo(h, up ? CURLINFO_SPEED_UPLOAD_T : CURLINFO_SPEED_DOWNLOAD_T, &speed);
    totals.announced = announced;
    totals.done = done;
    totals.speed = speed;
    return totals;
}

bool Exchange::ReceivedCookies(std::vector<Cookie>& cookies) const {
    curl_slist* list = nullptr;
    if (handle_ == nullptr || curl_easy_getinfo(static_cast<CURL*>(handle_), CURLINFO_COOKIELIST, &list) != CURLE_OK) {
        return false;
    }
    for (curl_slist* line = list; line != nullptr; line = line->next) {
        // Cookie-file form: domain, tailmatch, path, secure, expires, name, value.
        std::vector<std::string> fields;
        std::string field;
        std::istringstream in(line->data ? line->data : "");
        while (std::getline(in, field, '\t')) fields.push_back(field);
        if (fields.size() < 7) continue;
        cookies.push_back(Cookie{fields[5], fields[6]});
    }
    curl_slist_free_all(list);
    return true;
}

}  // namespace http
