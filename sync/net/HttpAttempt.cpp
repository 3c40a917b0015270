#include "HttpAttempt.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <log4cpp/Category.hh>
#include <unistd.h>

#include "platform/mmfio.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncBase.h"
#include "sync/common/SyncLog.h"
#include "HttpRequestPlan.h"
#include "sync/net/ProgressSink.h"
#include "sync/net/WinHttpClient.h"

namespace {

// Bytes of a download written between two starts of their write-back to disk.
constexpr std::uint64_t kWriteBackStretch = 8u << 20;

bool Stopped(CSyncBase* owner, const char* function, int line) {
    return owner != nullptr && IsStopResult(owner->CheckState(function, line));
}

void Report(const ProgressSink* sink, double percent) {
    if (sink == nullptr) return;
    sink->Report(percent);
    std::this_thread::yield();
}

}  // namespace

// Reads the streamed upload's file one window after the other, checking that the file
// keeps the size it had when the request began.
class HttpAttempt::StreamedFile {
public:
    bool Open(const std::u16string& path, std::uint64_t expected) {
        expected_ = expected;
        return expected > 0 && io_.Open(path, 0) && io_.GetLength() == expected && io_.viewSize > 0;
    }
    // Copies up to `capacity` bytes from `offset`; 0 when the file cannot supply them.
    std::size_t Read(std::uint64_t offset, char* out, std::size_t capacity, bool& windowEnded) {
        windowEnded = false;
        if (offset >= io_.viewOffset + io_.viewSize) {
            if (!io_.NextView() || io_.viewOffset != offset || io_.viewSize == 0) return 0;
        }
        if (offset < io_.viewOffset || io_.fileSize != expected_) return 0;
        const std::uint64_t inView = offset - io_.viewOffset;
        const std::uint64_t available = io_.viewSize - inView;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(available, capacity));
        std::copy_n(io_.viewBase + inView, n, out);
        windowEnded = n == available;
        return n;
    }
    ~StreamedFile() { io_.Close(); }

private:
    CWinMMFIO io_{CWinMMFIO::Flavour::Sync};
    std::uint64_t expected_ = 0;
};

HttpAttempt::HttpAttempt(WinHttpClient& client, const HttpRequestPlan& plan)
    : client_(client), plan_(plan), watchdog_(BaseFunc::GetMilliseconds) {}

HttpAttempt::~HttpAttempt() { CloseFile(); }

std::uint32_t HttpAttempt::PrepareBody() {
    if (!plan_.HasBody()) return httperr::kNone;
    if (plan_.variant == HttpRequestPlan::Variant::StreamedUpload) {
        file_ = std::make_unique<StreamedFile>();
        if (!file_->Open(client_.uploadFilePath, client_.uploadFileSize)) return httperr::kFileOpen;
        tail_ = "\r\n--" + client_.boundary + "--\r\n";
        bodyTotal_ = client_.postHead.size() + client_.uploadFileSize + tail_.size();
    } else if (client_.hasPostData) {
        memory_ = client_.postData.data();
        bodyTotal_ = client_.postData.size();
    }
    pieceSize_ = plan_.variant == HttpRequestPlan::Variant::MemoryUpload ? kBodyPiece
                                                                          : std::max<std::uint64_t>(bodyTotal_, 1);
    return httperr::kNone;
}

bool HttpAttempt::Poll(int line) {
    if (abortCode != 0 || plan_.polls == nullptr) return false;
    if (!Stopped(client_.owner, plan_.polls->function, line)) return false;
    abortCode = httperr::kStopped;
    return true;
}

void HttpAttempt::Delivered() {
    if (bodyDelivered) return;
    bodyDelivered = true;
    MarkOperationSent(plan_.operation);
}

bool HttpAttempt::OnHeaderLine(std::string_view, bool opensResponse) {
    // A new status line starts a new response (an interim one or a redirect's target):
    // only the final response's fields count.
    if (opensResponse) {
        gotStatusLine = true;
        fieldsApplied = false;
    }
    return true;
}

std::size_t HttpAttempt::OnBody(const char* data, std::size_t size) {
    if (abortCode != 0) return 0;
    const long status = client_.exchange_->ResponseCode();
    if (status >= 400) {
        // A refused request: its body is not wanted (and never written to a file).
        refusedStatus = status;
        return 0;
    }
    const bool fileMode = plan_.toFile;
    if (!fieldsApplied) {
        fieldsApplied = true;
        client_.ApplyHeaderFields(client_.exchange_->Headers());
        if (fileMode && client_.expectedDownloadSize >= 0 && client_.hasContentLength &&
            client_.contentLength != static_cast<std::uint64_t>(client_.expectedDownloadSize)) {
            abortCode = httperr::kInvalidResponse;
            return 0;
        }
    }
    if (plan_.operation == nullptr && Poll(plan_.polls != nullptr ? plan_.polls->beforeRead : 0)) return 0;
    client_.ReportProgress(client_.bodySize, plan_.replyProgress);
    if (fileMode) {
        if (client_.expectedDownloadSize >= 0 &&
            client_.bodySize + size > static_cast<std::uint64_t>(client_.expectedDownloadSize)) {
            abortCode = httperr::kInvalidResponse;
            return 0;
        }
        if (!OpenFile()) {
            abortCode = httperr::kFileOpen;
            return 0;
        }
        if (!WriteFile(data, size)) {
            abortCode = errno == ENOSPC ? httperr::kDiskFull : httperr::kFileWrite;
            SyncLog().debug(kFileWriteLog);
            return 0;
        }
        md5_.Update(data, size);
        client_.fileBytesWritten += size;
    } else if (client_.replySink) {
        if (!client_.replySink(data, size)) {
            abortCode = httperr::kInvalidResponse;
            return 0;
        }
    } else {
        try {
            body_.append(data, size);
        } catch (const std::bad_alloc&) {
            abortCode = httperr::kOutOfMemory;
            return 0;
        }
    }
    client_.bodySize += size;
    return size;
}

std::optional<std::size_t> HttpAttempt::OnRead(char* out, std::size_t capacity) {
    if (bodySent_ >= bodyTotal_) return abortCode != 0 ? std::nullopt : std::optional<std::size_t>(0);
    if (Poll(plan_.IsUpload() ? plan_.polls->beforePiece : plan_.polls != nullptr ? plan_.polls->beforeSend : 0)) {
        return std::nullopt;
    }
    std::size_t n = 0;
    if (file_) {
        n = ReadStreamed(out, capacity);
    } else {
        // Memory body: never past the end of the current piece, so that every piece is
        // reported exactly once.
        const std::uint64_t pieceEnd = std::min(bodyTotal_, (bodySent_ / pieceSize_ + 1) * pieceSize_);
        n = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, pieceEnd - bodySent_));
        std::copy_n(memory_ + bodySent_, n, out);
        bodySent_ += n;
        if (bodySent_ == pieceEnd && plan_.variant == HttpRequestPlan::Variant::MemoryUpload) {
            Report(plan_.bodyProgress, static_cast<double>(bodySent_) * 100.0 / static_cast<double>(bodyTotal_));
        }
    }
    if (abortCode == 0 && bodySent_ == bodyTotal_) Delivered();
    if (abortCode != 0) return std::nullopt;
    return n;
}

std::size_t HttpAttempt::ReadStreamed(char* out, std::size_t capacity) {
    const std::string& head = client_.postHead;
    const std::uint64_t fileSize = client_.uploadFileSize;
    const std::uint64_t fileEnd = head.size() + fileSize;
    std::size_t n = 0;
    if (bodySent_ < head.size()) {
        n = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, head.size() - bodySent_));
        std::copy_n(head.data() + bodySent_, n, out);
    } else if (bodySent_ < fileEnd) {
        bool windowEnded = false;
        const std::uint64_t offset = bodySent_ - head.size();
        n = file_->Read(offset, out, static_cast<std::size_t>(std::min<std::uint64_t>(capacity, fileEnd - bodySent_)),
                        windowEnded);
        if (n == 0) {
            abortCode = httperr::kFileRead;
            return 0;
        }
        if (windowEnded || offset + n == fileSize) {
            Report(plan_.bodyProgress, static_cast<double>(offset + n) * 100.0 / static_cast<double>(fileSize));
        }
    } else {
        const std::uint64_t inTail = bodySent_ - fileEnd;
        n = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, tail_.size() - inTail));
        std::copy_n(tail_.data() + inTail, n, out);
    }
    bodySent_ += n;
    return n;
}

void HttpAttempt::OnConnected() {
    connected_ = true;
    watchdog_.Touch();
    if (bodyTotal_ == 0) Delivered();
}

bool HttpAttempt::OnProgress(const http::Counters& counters) {
    if (abortCode != 0) return false;
    if (plan_.polls != nullptr) {
        int line = 0;
        if (!bodyDelivered) {
            line = plan_.IsUpload() && connected_ ? plan_.polls->beforePiece : plan_.polls->beforeSend;
        } else if (plan_.operation == nullptr) {
            line = gotStatusLine ? plan_.polls->beforeRead : plan_.polls->beforeReceive;
        }
        if (line != 0 && Poll(line)) return false;
    }
    // Watchdog: once connected, a request whose bytes stop moving ends after the send
    // limit (request under way) or the receive limit (reply awaited or being read).
    if (!connected_) return true;
    if (watchdog_.Observe(counters.downNow, counters.upNow)) return true;
    const std::uint32_t limit = bodyDelivered ? client_.timeouts.receive : client_.timeouts.send;
    if (watchdog_.SilentMs(watchdog_.Now()) > limit) {
        abortCode = httperr::kTimeout;
        return false;
    }
    return true;
}

bool HttpAttempt::OpenFile() {
    if (fd_ >= 0) return true;
    fd_ = ::open(client_.downloadFilePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    return fd_ >= 0;
}

bool HttpAttempt::WriteFile(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        fileWritten_ += static_cast<std::uint64_t>(n);
    }
    // The file is flushed to disk before it is put in place; starting the write-back of
    // each written stretch now lets the disk work while the rest arrives, instead of all
    // at the end. Only started here, never waited for.
    if (fileWritten_ - writeBackFrom_ >= kWriteBackStretch) {
        ::sync_file_range(fd_, static_cast<off_t>(writeBackFrom_), static_cast<off_t>(fileWritten_ - writeBackFrom_),
                          SYNC_FILE_RANGE_WRITE);
        writeBackFrom_ = fileWritten_;
    }
    return true;
}

bool HttpAttempt::CloseFile() {
    if (fd_ < 0) return true;
    const bool ok = ::fsync(fd_) == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return ok && closed;
}

std::uint32_t HttpAttempt::CloseDownload() {
    if (!OpenFile()) return httperr::kFileOpen;
    if (!CloseFile()) {
        SyncLog().debug(kFileWriteLog);
        return httperr::kFileWrite;
    }
    return httperr::kNone;
}

std::uint32_t HttpAttempt::TransportError(http::Failure failure) {
    switch (failure) {
        case http::Failure::None: return httperr::kNone;
        case http::Failure::UnsupportedScheme: return httperr::kUnrecognizedScheme;
        case http::Failure::MalformedUrl: return httperr::kInvalidUrl;
        case http::Failure::NameNotResolved: return httperr::kNameNotResolved;
        case http::Failure::CannotConnect: return httperr::kCannotConnect;
        case http::Failure::TimedOut: return httperr::kTimeout;
        case http::Failure::OutOfMemory: return httperr::kOutOfMemory;
        case http::Failure::TooManyRedirects: return httperr::kRedirectFailed;
        case http::Failure::InvalidReply: return httperr::kInvalidResponse;
        case http::Failure::ConnectionBroken: return httperr::kConnectionError;
        case http::Failure::SecureFailure: return httperr::kSecureFailure;
        case http::Failure::CertificateRejected: return httperr::kCertificateRejected;
        case http::Failure::ReplyTooLarge: return httperr::kReplyTooLarge;
        case http::Failure::Other: return httperr::kInternal;
    }
    return httperr::kInternal;
}
