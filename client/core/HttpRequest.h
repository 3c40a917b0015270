#pragma once
// One running request of HttpClient, private to the HTTP client's sources: the hooks the
// libcurl exchange calls while it runs, and what they read and write. It lives in the
// frame of the call; the active list holds a pointer while it runs, through which the
// watchdog and a logout may cancel it from other threads (`cancelled`, and the
// watchdog's record of its last sign of life, are the only fields they touch).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "client/core/HttpClient.h"
#include "http/Exchange.h"
#include "http/Watchdog.h"

struct HttpClient::Request : http::Hooks {
    HttpClient* client = nullptr;
    const http::Exchange* exchange = nullptr;
    http::Watchdog watchdog;  // every callback with data is a sign of life
    std::atomic<bool> cancelled{false};
    bool ignoresLoginState = false;  // the login's own reply, and the logout request
    // The running flag of the thread's StopScope (none outside one): 0 ends the request.
    const std::atomic<int>* running = nullptr;

    std::string body;                  // the reply body (for a download only an error reply)
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

    void Touch() { watchdog.Touch(); }
    // True when the transfer must stop: logged out (unless exempt), cancelled, or its
    // thread's running flag cleared.
    bool MustStop() const {
        return cancelled.load() || (running != nullptr && running->load() == 0) ||
               (!ignoresLoginState && client->GetLoginState() != HttpLoggedIn);
    }

    bool OnHeaderLine(std::string_view line, bool opensResponse) override;
    std::size_t OnBody(const char* data, std::size_t size) override;
    std::optional<std::size_t> OnRead(char* out, std::size_t capacity) override;
    bool OnProgress(const http::Counters& counters) override;
};

// What one web call asks of the request skeleton, and what it learns of the transfer.
struct HttpClient::CallSpec {
    std::string operation;  // the call's name in the log
    std::string path;       // below the server address
    bool post = false;
    std::string body;       // a JSON body (POST)
    bool withTimeout = false;
    bool listing = false;     // the listing's whole-call limit
    bool logsStatus = false;  // its log lines add the HTTP status after the reply
    std::int32_t requestId = -1;
    std::int32_t direction = 0;
    CLocalFileIO* bodyFile = nullptr;
    std::int64_t bodyLimit = -1;
    CLocalFileIO* source = nullptr;
    std::int64_t sourceLength = -1;
    // A multipart form body (the upload); its streamed part reads `source`. A form that
    // cannot be built ends the call before the request, without an error code.
    std::vector<http::FormPart> form;

    // Filled by the skeleton.
    std::int64_t bodyBytes = 0;
    std::int64_t announcedLength = -1;
    bool bodyOverflow = false;
    bool bodyWriteFailed = false;
};
