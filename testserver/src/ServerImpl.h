#pragma once
// Inside of TestServer: the state under one mutex, the HTTP transport with its faults and
// request log, and the route tables (the programs' calls and the control interface).
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <httplib.h>

#include "Store.h"
#include "testserver/TestServer.h"

namespace testserver {

// A refusal of the control interface or the C++ API, with the HTTP status that tells why.
class Refused : public std::runtime_error {
public:
    Refused(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
    int HttpStatus() const { return status_; }

private:
    int status_;
};

inline constexpr const char* kJsonType = "application/json; charset=utf-8";

// Bounds of the request log, so that a long run does not keep every upload in memory.
inline constexpr std::size_t kLogEntries = 10000;
inline constexpr std::size_t kLogContentBytes = 16u << 20;

// What a handler answers; the transport writes it (and bends it when a fault says so).
struct Reply {
    int status = 200;
    std::string contentType = kJsonType;
    std::string body;
    BlobPtr file;  // streamed from disk in place of the body
    std::vector<std::pair<std::string, std::string>> headers;
};

Reply JsonReply(int status, std::string body);
Reply ErrorReply(int status, const std::string& message);
Reply StatusReply(const Status& status);  // the store's refusal as a reply

// What the transport tells a handler about its request.
struct CallContext {
    int firstPageSize = 0;  // > 0: a listing without paging answers only this many items
};

struct Session {
    std::string account, token;
};

struct TestServer::Impl {
    explicit Impl(ServerOptions options);
    ~Impl();

    using Handler = std::function<Reply(const httplib::Request&, CallContext&)>;

    // Lifecycle.
    void Start();
    void Stop();

    // Transport (Transport.cpp).
    void Route(const char* method, const std::string& pattern, const std::string& name, Handler handler);
    void Serve(const std::string& route, const httplib::Request& req, httplib::Response& res,
               const Handler& handler);
    std::uint64_t LogRequest(const std::string& route, const httplib::Request& req);
    std::optional<Fault> TakeFault(const std::string& route);
    void Write(Reply reply, const std::optional<Fault>& fault, httplib::Response& res);
    void Pause(std::chrono::milliseconds delay);
    void DropConnection();  // of the request the calling thread answers

    // Sessions from "Cookie" headers or the upload's "cookie" field.
    std::optional<Session> SessionFromCookieText(const std::string& text) const;
    std::optional<Session> SessionOf(const httplib::Request& req) const;

    // Route tables.
    void AddProgramRoutes();   // ProgramRoutes.cpp
    void AddControlRoutes();   // ControlRoutes.cpp

    // Operations shared by the C++ API and the control interface; they throw Refused.
    template <class F>
    auto Locked(F&& f) const {
        std::lock_guard<std::mutex> lock(mu);
        return f(*store);
    }
    static void Check(const Status& status);
    std::string PutFile(const std::string& account, const std::string& path, const std::string& bytes);
    std::vector<ItemView> Views(const std::string& account, bool trash) const;
    static TreeEntry ToEntry(const ItemView& item, bool withContent);
    std::vector<TreeEntry> Entries(const std::string& account, bool trash, bool withContents) const;
    void Seed(const std::string& account, const std::filesystem::path& folder);
    void Reset();

    ServerOptions options;
    std::filesystem::path blobDir;
    bool ownsBlobDir = false;

    mutable std::mutex mu;  // the one state mutex: store, faults, log, version page
    std::unique_ptr<Store> store;
    std::vector<Fault> faults;
    std::deque<LoggedRequest> log;  // the newest kLogEntries requests
    std::map<std::string, int> inFlight, maxInFlight;  // by route
    std::uint64_t nextSeq = 1;
    std::string clientVersion, installer;

    std::unique_ptr<httplib::Server> http;
    std::thread listener;
    std::atomic<bool> listenerDone{false};
    int port = 0;
    bool started = false;

    std::atomic<bool> stopping{false};
    std::mutex pauseMu;
    std::condition_variable pauseCv;
    std::uint64_t pauseGeneration = 0;  // raised by ReleaseDelays (under pauseMu)
};

}  // namespace testserver
