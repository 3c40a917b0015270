#include "client/local/InstallerDownload.h"

#include <log4cpp/Category.hh>

#include "client/core/ClientLog.h"
#include "http/Bounds.h"
#include "http/Exchange.h"
#include "platform/fileops.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTempSuffix = ".draviktemp";

}  // namespace

// The callbacks of one transfer: the body into the open file, the cancel flag and the
// no-data limit at every progress tick. Lives on the download thread's stack.
struct InstallerDownload::Transfer final : http::Hooks {
    std::size_t OnBody(const char* data, std::size_t size) override {
        lastData = Clock::now();
        if (std::fwrite(data, 1, size, file) != size) {
            writeFailed = true;
            return 0;  // ends the transfer
        }
        written += static_cast<std::int64_t>(size);
        return size;
    }

    bool OnProgress(const http::Counters& counters) override {
        if (owner->cancel_) {
            stopped = true;
            return false;
        }
        if (Clock::now() - lastData > noDataLimit) {
            owner->timedOut_ = true;
            owner->cancel_ = true;
            stopped = true;
            return false;
        }
        const std::int64_t total = counters.downTotal;
        const int percent =
            total > 0 ? static_cast<int>(static_cast<double>(counters.downNow) * 100.0 / static_cast<double>(total)) : 0;
        if (percent != owner->percent_.exchange(percent) && window != plat::kNoWindow) {
            plat::PostMessage(window, WM_UPDATE_PROGRESS);
        }
        return true;
    }

    InstallerDownload* owner = nullptr;
    std::FILE* file = nullptr;
    plat::WindowId window = plat::kNoWindow;
    std::chrono::milliseconds noDataLimit{0};
    Clock::time_point lastData;
    std::int64_t written = 0;
    bool writeFailed = false;
    bool stopped = false;  // by the cancel flag or the no-data limit
};

InstallerDownload::~InstallerDownload() {
    Cancel();
    Join();
}

bool InstallerDownload::Start(Request request, plat::WindowId window) {
    if (thread_.joinable()) return false;
    cancel_ = false;
    finished_ = false;
    thread_ = std::thread([this, request = std::move(request), window] { Run(request, window); });
    return true;
}

void InstallerDownload::Join() {
    if (thread_.joinable()) thread_.join();
}

std::string InstallerDownload::InstallerPath() const { return finished_.load() ? installerPath_ : std::string(); }

int InstallerDownload::Run(const Request& request, plat::WindowId window) {
    finished_ = false;
    timedOut_ = false;
    percent_ = 0;
    installerPath_.clear();
    const auto finish = [&](int result) {
        finished_ = true;
        if (window != plat::kNoWindow) plat::PostMessage(window, WM_UPDATE_RESULT, static_cast<std::uintptr_t>(result));
        return result;
    };
    if (!plat::fs::MakeDirectories(request.folder)) {
        ClientLog().debug("<version> Create full path failed!");
        return finish(InstallerFolderFailed);
    }
    const std::string target = plat::fs::Join(request.folder, request.fileName);
    const std::string temp = target + kTempSuffix;
    std::FILE* file = std::fopen(temp.c_str(), "wbe");
    if (file == nullptr) {
        ClientLog().debug("<version> Open install file failed!");
        return finish(InstallerFileFailed);
    }
    int result = Fetch(request, file, window);
    if (std::fclose(file) != 0 && result == InstallerDownloaded) {
        LogClientInfo("<version> The installer could not be written to the disk");
        result = InstallerFileFailed;
    }
    if (result == InstallerDownloaded && !plat::fs::Move(temp, target, true)) {
        LogClientInfo("<version> The installer could not be put in place: " + plat::fs::LastErrorText());
        result = InstallerFileFailed;
    }
    if (result == InstallerDownloaded) {
        installerPath_ = target;
    } else {
        plat::fs::RemoveFile(temp);
    }
    return finish(result);
}

int InstallerDownload::Fetch(const Request& request, std::FILE* file, plat::WindowId window) {
    http::Exchange exchange;
    if (!exchange.Open()) return InstallerTransferFailed;

    Transfer transfer;
    transfer.owner = this;
    transfer.file = file;
    transfer.window = window;
    transfer.noDataLimit = request.noDataLimit;
    transfer.lastData = Clock::now();

    http::Request call;
    call.url = request.url;
    call.webOnly = true;
    call.limits.connectMs = request.connectTimeout.count();
    // The shared bounds of a transfer: a least average speed, and a refused reply's body
    // (never written to the file) has its ceiling.
    const http::Bounds bounds;
    call.limits.lowSpeedBytes = bounds.minSpeedBytes;
    call.limits.lowSpeedSeconds = bounds.minSpeedWindowSeconds;
    call.limits.errorReplyCeiling = bounds.errorReplyCeiling;
    const http::Result result = exchange.Perform(call, transfer);
    const long status = exchange.ResponseCode();
    const std::int64_t announced = exchange.Transfer(http::Direction::Down).announced;

    if (transfer.stopped && !timedOut_) return InstallerCancelled;
    if (!result.Ok()) {
        ClientLog().debug("<version> Download install file failed!");
        LogClientInfo("<version> Installer download: " +
                      (timedOut_ ? std::string("no data for too long")
                                 : "transfer failure " + std::to_string(result.code)));
        return transfer.writeFailed ? InstallerFileFailed : InstallerTransferFailed;
    }
    if (status != 200 || (announced >= 0 && announced != transfer.written) || std::fflush(file) != 0) {
        LogClientInfo("<version> Installer download: status " + std::to_string(status) + ", " +
                      std::to_string(transfer.written) + " bytes written of " + std::to_string(announced));
        return InstallerTransferFailed;
    }
    return InstallerDownloaded;
}
