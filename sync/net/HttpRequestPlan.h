#pragma once
// Request planning of WinHttpClient (internal to it): what each entry point asks of a
// request before anything goes on the wire. A plan names the variant (general, login,
// in-memory upload, streamed upload), the verb, the operation record, the checkpoint lines
// it polls, the log line of a refusal, where progress goes and whether redirects are
// followed; the functions below turn a plan and the client's settings into the header
// lines and the libcurl exchange's request. Pure: nothing here touches the network.
//
// The header lines are the wire contract: the caller's block in its order (a
// Content-Length line only when it states the real body length), the cookie text, and
// blank lines that keep libcurl from adding Accept, Content-Type and Expect of its own.
#include <cstdint>
#include <string>
#include <vector>

class ProgressSink;
class SyncOperationSlot;
class WinHttpClient;
namespace http {
struct Request;
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

struct HttpRequestPlan {
    enum class Variant { General, Login, MemoryUpload, StreamedUpload };

    Variant variant = Variant::General;
    std::string verb;
    SyncOperationSlot* operation = nullptr;
    const PollPoints* polls = nullptr;  // null: no checkpoint polls
    const char* statusLog = nullptr;    // logged when the server refuses the request
    const ProgressSink* replyProgress = nullptr;
    const ProgressSink* bodyProgress = nullptr;
    bool followRedirects = true;
    bool toFile = false;

    bool HasBody() const { return verb == "POST"; }
    bool IsUpload() const { return variant == Variant::MemoryUpload || variant == Variant::StreamedUpload; }

    static HttpRequestPlan General(const std::string& verb, SyncOperationSlot* operation,
                                   const ProgressSink* progress, bool toFile);
    static HttpRequestPlan Login();
    static HttpRequestPlan Upload(bool streamed, const ProgressSink* node, const std::string& verb,
                                  SyncOperationSlot* operation, bool disableRedirects);
};

// Pieces in which an in-memory upload body goes out (a progress report after each).
constexpr std::uint64_t kBodyPiece = 65536;
// Most bytes libcurl hands to a download's body callback at once (its largest buffer is
// 512 KiB).
constexpr long kReceivePiece = 524288;

// The log line of a download file that cannot be written.
extern const char* const kFileWriteLog;

// GET, POST or OPTIONS in its canonical spelling, from any case; false for any other verb.
bool CanonicalVerb(const std::string& verb, std::string& out);

// The request's header lines: the login's fixed lines, or the caller's block with the
// cookie text (see the contract above).
std::vector<std::string> RequestHeaderLines(const HttpRequestPlan& plan, const std::string& additional,
                                            const std::string& cookies, std::uint64_t bodyLength);

// The exchange's request for one attempt of `plan` with the client's URL, agent, limits,
// proxy and certificate settings. The body (if any) is streamed through the attempt.
http::Request ExchangeRequest(const HttpRequestPlan& plan, const WinHttpClient& client,
                              std::vector<std::string> headerLines, std::uint64_t bodyLength);
