#pragma once
// One attempt of a WinHttpClient request on the wire (internal to the client): the hooks
// the libcurl exchange calls while the attempt runs, on the requesting thread.
//
// Going out: the body from its beginning (the client's in-memory body in pieces of
// kBodyPiece with a progress report after each, or the streamed upload's head, file
// windows and closing line); the file must keep the size it had when the attempt began.
// The operation record is marked sent once the request and its whole body went out.
// Coming back: a refused reply's body (status 400 or more) is never taken; otherwise the
// body goes to memory, to the client's reply sink, or, in file mode, to the download file
// (its MD5 computed as it is written; more bytes than expected or an announced length other
// than expected stop it).
// Stops: the owner's checkpoint at the plan's poll lines (no polls after an announced
// operation's request went out), and the watchdog once connected: no byte moved for the
// send limit (request under way) or the receive limit (reply awaited or read).
// `abortCode` tells why the attempt stopped itself; nothing is lost on a stop: the
// download file is flushed and closed, or just closed, when the attempt ends.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "http/Exchange.h"
#include "http/Watchdog.h"
#include "platform/md5.h"

class WinHttpClient;
struct HttpRequestPlan;

class HttpAttempt : public http::Hooks {
public:
    HttpAttempt(WinHttpClient& client, const HttpRequestPlan& plan);
    ~HttpAttempt() override;
    HttpAttempt(const HttpAttempt&) = delete;
    HttpAttempt& operator=(const HttpAttempt&) = delete;

    // Sets up this attempt's request body; an httperr code when it cannot be sent.
    std::uint32_t PrepareBody();
    std::uint64_t BodyTotal() const { return bodyTotal_; }

    // Polls the owner's checkpoint at `line` of the plan's function; true (abortCode set)
    // when it says stop. No plan polls: never stops.
    bool Poll(int line);

    bool OnHeaderLine(std::string_view line, bool opensResponse) override;
    std::size_t OnBody(const char* data, std::size_t size) override;
    std::optional<std::size_t> OnRead(char* out, std::size_t capacity) override;
    bool OnProgress(const http::Counters& counters) override;
    void OnConnected() override;

    // ---- after the exchange ----
    std::uint32_t abortCode = 0;  // why the attempt stopped itself (httperr), 0 when it did not
    long refusedStatus = 0;       // a status of 400 or more seen when the body began
    bool gotStatusLine = false;
    bool fieldsApplied = false;   // the final header block's fields were taken
    bool bodyDelivered = false;   // the request and its whole body went out

    std::string TakeBody() { return std::move(body_); }
    // File mode: creates the download file when no byte arrived, flushes and closes it;
    // an httperr code when that failed. `md5` then holds the digest of the bytes written.
    std::uint32_t CloseDownload();
    std::string Md5Hex() { return md5_.FinalHexLower(); }

    // The httperr code of a failed exchange.
    static std::uint32_t TransportError(http::Failure failure);

private:
    class StreamedFile;

    void Delivered();
    bool OpenFile();
    bool WriteFile(const char* data, std::size_t size);
    bool CloseFile();
    std::size_t ReadStreamed(char* out, std::size_t capacity);

    WinHttpClient& client_;
    const HttpRequestPlan& plan_;

    // Request body: in memory (`memory_`) or head + streamed file + tail.
    const std::uint8_t* memory_ = nullptr;
    std::uint64_t bodyTotal_ = 0;
    std::uint64_t bodySent_ = 0;
    std::uint64_t pieceSize_ = 0;  // memory bodies: report after every piece of this size
    std::unique_ptr<StreamedFile> file_;
    std::string tail_;

    // Reply.
    std::string body_;
    int fd_ = -1;
    std::uint64_t fileWritten_ = 0;  // bytes written to the download file
    std::uint64_t writeBackFrom_ = 0;  // first byte whose write-back was not started yet
    plat::StreamMd5 md5_;

    // Watchdog.
    bool connected_ = false;
    http::Watchdog watchdog_;
};
