#pragma once
// The one libcurl exchange under both HTTP clients (the client program's HttpClient and the
// sync program's WinHttpClient). An Exchange owns one libcurl easy handle and performs one
// request at a time with it, on the calling thread; it may be kept for later requests
// (each starts from a reset handle) or made per request. Exchanges on different threads
// run independently.
//
// Every request is forced to HTTP/1.1, takes no signals (CURLOPT_NOSIGNAL), never
// decompresses a body (it arrives as the server sent it), and has the transfer-info
// callback on, so that the caller's checkpoint runs about once a second even on a silent
// connection. Of the response headers only the final response's lines are kept: a status
// line (an interim "100 Continue", a followed redirect's target) starts the block anew.
// The caller's Hooks see every header line, take the body, supply the request body and
// decide at every progress tick whether the exchange goes on.
//
// https is always verified, the peer's certificate chain and the host name, against the
// system's authorities or the CA file a request names; nothing turns that off. A reply
// body kept in memory ends the exchange once it passes the request's ceiling.
//
// Nothing of libcurl shows here: its types stay inside this library.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace http {

enum class Method { Get, Post, Options };

// How a request failed on the transport side.
enum class Failure {
    None,
    UnsupportedScheme,
    MalformedUrl,
    NameNotResolved,   // the host or the proxy
    CannotConnect,
    TimedOut,          // a limit of Limits ended it
    OutOfMemory,       // also: the request could not be set up
    TooManyRedirects,
    InvalidReply,      // the reply could not be read as HTTP/1.1
    ConnectionBroken,  // reset, closed early, or nothing came back
    SecureFailure,     // TLS set-up
    CertificateRejected,  // the peer's certificate or its name was refused, or the CA file is unusable
    ReplyTooLarge,     // the reply passed a ceiling of Limits
    Other,             // a hook stopped the exchange, and everything else
};

// The outcome of Perform.
struct Result {
    Failure failure = Failure::None;
    int code = 0;           // libcurl's own result number, for log lines
    bool mayRetry = false;  // failed before anything of a reply came, where a new attempt may succeed
    bool formRejected = false;  // the multipart form could not be built: nothing was sent
    std::string detail;     // libcurl's own text of the failure (the reason of a refused certificate)

    bool Ok() const { return failure == Failure::None; }
};

// Limits of one request; a zero leaves the limit out.
struct Limits {
    std::int64_t connectMs = 0;    // connecting, name resolution included
    long lowSpeedBytes = 0;        // a transfer below this many bytes a second...
    long lowSpeedSeconds = 0;      // ...for this long ends as TimedOut
    std::int64_t totalMs = 0;      // the whole exchange
    // Most body bytes of a reply with a status below 400 / of 400 or more; more end the
    // exchange as ReplyTooLarge. The second also bounds the kept header block.
    std::int64_t replyCeiling = 0;
    std::int64_t errorReplyCeiling = 0;
};

// One part of a multipart form body.
struct FormPart {
    std::string name;
    std::string data;              // a text part's bytes
    bool streamed = false;         // the part's bytes come from Hooks::OnRead
    std::string fileName;          // a streamed part's file name
    std::int64_t length = 0;       // a streamed part's length

    static FormPart Text(std::string name, std::string data) {
        FormPart part;
        part.name = std::move(name);
        part.data = std::move(data);
        return part;
    }
    static FormPart Streamed(std::string name, std::string fileName, std::int64_t length) {
        FormPart part;
        part.name = std::move(name);
        part.streamed = true;
        part.fileName = std::move(fileName);
        part.length = length;
        return part;
    }
};

struct Request {
    enum class Body {
        None,    // no body (a POST without one sends an empty body)
        Bytes,   // `bytes`, not copied: they must outlive Perform
        Stream,  // `streamLength` bytes read through Hooks::OnRead
        Form,    // a multipart form of `form` (POST)
    };

    std::string url;
    Method method = Method::Get;
    // Header lines, sent as given; "Name:" drops a header libcurl would add itself. Empty:
    // libcurl's own headers only.
    std::vector<std::string> headerLines;
    Body body = Body::None;
    std::string_view bytes;
    std::uint64_t streamLength = 0;
    std::vector<FormPart> form;
    long uploadBufferSize = 0;  // bytes handed to OnRead at most per call; 0: libcurl's choice
    long receiveBufferSize = 0;  // bytes handed to OnBody at most per call; 0: libcurl's choice

    bool followRedirects = false;
    long maxRedirects = -1;        // -1: libcurl's default
    bool webOnly = false;          // only http and https, redirects included
    bool freshConnection = false;  // the connection is never kept for a later request
    std::string userAgent;         // empty: none unless a header line names one
    std::string caFile;            // a PEM file of the authorities to trust; empty: the system's
    std::string proxy;             // empty: the environment's proxy settings
    std::string proxyUser;
    std::string proxyPassword;
    bool recordCookies = false;    // keep the reply's cookies for ReceivedCookies
    Limits limits;
};

// Byte counters of the transfer-info callback (totals are 0 while unknown).
struct Counters {
    std::int64_t downTotal = 0;
    std::int64_t downNow = 0;
    std::int64_t upTotal = 0;
    std::int64_t upNow = 0;
};

// What the caller does during Perform; every call runs on the performing thread.
class Hooks {
public:
    virtual ~Hooks() = default;
    // A response header line with its line end; `opensResponse` for a status line. false
    // stops the exchange (the line is then not kept).
    virtual bool OnHeaderLine(std::string_view line, bool opensResponse) { return true; }
    // Body bytes of the response; returns how many were taken: fewer stop the exchange.
    virtual std::size_t OnBody(const char* data, std::size_t size) { return size; }
    // Fills `out` with the next request body bytes (a streamed body or form part); 0 at its
    // end, nothing to stop the exchange.
    virtual std::optional<std::size_t> OnRead(char* out, std::size_t capacity) { return 0; }
    // About once a second and whenever bytes move. false stops the exchange.
    virtual bool OnProgress(const Counters& counters) { return true; }
    // The connection stands and the request is about to go out.
    virtual void OnConnected() {}
};

enum class Direction { Up, Down };

// What libcurl counted of one direction of the transfer.
struct Totals {
    std::int64_t announced = -1;  // the announced length; -1 when none was
    std::int64_t done = 0;        // bytes moved
    std::int64_t speed = 0;       // average bytes per second
};

struct Cookie {
    std::string name;
    std::string value;
};

class Exchange {
public:
    Exchange();
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Makes the easy handle when there is none yet; false when it cannot be made.
    bool Open();
    // Performs `request`, calling `hooks` as it goes. The header block and the counters
    // below then belong to this request alone.
    Result Perform(const Request& request, Hooks& hooks);

    // During and after Perform.
    long ResponseCode() const;  // the last response's status; 0 when none came
    const std::string& Headers() const { return headers_; }
    // The average speed so far of one direction; nothing when libcurl cannot tell.
    std::optional<std::int64_t> Speed(Direction direction) const;

    // After Perform.
    Totals Transfer(Direction direction) const;
    // The cookies libcurl recorded (Request::recordCookies), in its order; false when the
    // list is not available.
    bool ReceivedCookies(std::vector<Cookie>& cookies) const;

private:
    struct Calls;

    void* handle_ = nullptr;
    std::string headers_;
};

}  // namespace http
