#pragma once
// One running request of HttpClient: what its libcurl callbacks read and write. It lives
// in the frame of the call; the active list holds a pointer while it runs. Internal to
// the HTTP client's sources.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "client/core/HttpClient.h"

struct HttpClient::Request {
    HttpClient* client = nullptr;
    CURL* handle = nullptr;
    std::function<std::uint64_t()> clock;  // the watchdog's clock
    std::atomic<std::uint64_t> lastActivity{0};
    std::atomic<bool> cancelled{false};
    bool ignoresLoginState = false;  // the login's own reply, and the logout request

    std::string headers;  // the final response's header lines
    std::string body;     // the reply body (for a download only an error reply)
    CLocalFileIO* bodyFile = nullptr;  // a download's target
    std::int64_t bodyBytes = 0;        // bytes written to bodyFile
    std::int64_t bodyLimit = -1;       // more than this many bytes fail the download
    bool bodyOverflow = false;
    bool bodyWriteFailed = false;

    CLocalFileIO* source = nullptr;  // an upload's source
    std::int64_t sourceLength = -1;  // the length announced for it
    std::int64_t sourceBytes = 0;    // bytes handed to libcurl so far

    std::int32_t requestId = -1;
    std::int32_t direction = 0;  // 0 no progress reports, 1 upload, 2 download
    std::chrono::milliseconds progressInterval{250};
    std::uint64_t lastReport = 0;  // steady milliseconds
    bool reported = false;

    void Touch() { lastActivity.store(clock()); }
    // True when the transfer must stop: logged out (unless exempt) or cancelled.
    bool MustStop() const {
        return cancelled.load() || (!ignoresLoginState && client->GetLoginState() != HttpLoggedIn);
    }
};

// What one web call asks of the request skeleton, and what it learns of the transfer.
struct HttpClient::CallSpec {
    std::string operation;  // the call's name in the log
    std::string path;       // below the server address
    bool post = false;
    std::string body;       // a JSON body (POST)
    bool withTimeout = false;
    bool logsStatus = false;  // its log lines add the HTTP status after the reply
    std::int32_t requestId = -1;
    std::int32_t direction = 0;
    CLocalFileIO* bodyFile = nullptr;
    std::int64_t bodyLimit = -1;
    CLocalFileIO* source = nullptr;
    // Sets further options (the upload's form, kept in `form`); false ends the call
    // before the request, without an error code.
    std::function<bool(CURL*, Request&)> prepare;
    curl_mime* form = nullptr;

    // Filled by the skeleton.
    std::int64_t bodyBytes = 0;
    std::int64_t announcedLength = -1;
    bool bodyOverflow = false;
    bool bodyWriteFailed = false;
};

namespace httpdetail {
// libcurl callbacks; userdata is the HttpClient::Request.
size_t WriteCallback(char* data, size_t size, size_t count, void* userdata);
size_t HeaderCallback(char* data, size_t size, size_t count, void* userdata);
size_t ReadCallback(char* buffer, size_t size, size_t count, void* userdata);
int ProgressCallback(void* userdata, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow);
}  // namespace httpdetail
