#include "client/local/InstallerDownload.h"

#include <curl/curl.h>
#include <log4cpp/Category.hh>

#include <mutex>

#include "client/core/ClientLog.h"
#include "platform/fileops.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTempSuffix = ".draviktemp";

void InitCurlOnce() {
    static std::once_flag ready;
    std::call_once(ready, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

// What the callbacks of one transfer share; lives on the download thread's stack.
struct InstallerDownload::Transfer {
    InstallerDownload* owner = nullptr;
    std::FILE* file = nullptr;
    plat::WindowId window = plat::kNoWindow;
    std::chrono::milliseconds noDataLimit{0};
    Clock::time_point lastData;
    std::int64_t written = 0;
    bool writeFailed = false;
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
    InitCurlOnce();
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return InstallerTransferFailed;

    Transfer transfer;
    transfer.owner = this;
    transfer.file = file;
    transfer.window = window;
    transfer.noDataLimit = request.noDataLimit;
    transfer.lastData = Clock::now();

    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &InstallerDownload::OnData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &InstallerDownload::OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_off_t announced = -1;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    curl_easy_cleanup(curl);

    if (code == CURLE_ABORTED_BY_CALLBACK && !timedOut_) return InstallerCancelled;
    if (code != CURLE_OK) {
        ClientLog().debug("<version> Download install file failed!");
        LogClientInfo(std::string("<version> Installer download: ") +
                      (timedOut_ ? "no data for too long" : curl_easy_strerror(code)));
        return transfer.writeFailed ? InstallerFileFailed : InstallerTransferFailed;
    }
    if (status != 200 || (announced >= 0 && announced != transfer.written) || std::fflush(file) != 0) {
        LogClientInfo("<version> Installer download: status " + std::to_string(status) + ", " +
                      std::to_string(transfer.written) + " bytes written of " + std::to_string(announced));
        return InstallerTransferFailed;
    }
    return InstallerDownloaded;
}

std::size_t InstallerDownload::OnData(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    transfer->lastData = Clock::now();
    if (std::fwrite(data, 1, bytes, transfer->file) != bytes) {
        transfer->writeFailed = true;
        return 0;  // ends the transfer with a write error
    }
    transfer->written += static_cast<std::int64_t>(bytes);
    return bytes;
}

int InstallerDownload::OnProgress(void* user, std::int64_t total, std::int64_t now, std::int64_t, std::int64_t) {
    auto* transfer = static_cast<Transfer*>(user);
    InstallerDownload& self = *transfer->owner;
    if (self.cancel_) return 1;
    if (Clock::now() - transfer->lastData > transfer->noDataLimit) {
        self.timedOut_ = true;
        self.cancel_ = true;
        return 1;
    }
    const int percent = total > 0 ? static_cast<int>(static_cast<double>(now) * 100.0 / static_cast<double>(total)) : 0;
    if (percent != self.percent_.exchange(percent) && transfer->window != plat::kNoWindow) {
        plat::PostMessage(transfer->window, WM_UPDATE_PROGRESS);
    }
    return 0;
}
