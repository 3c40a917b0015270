#pragma once
// The download of a new installer on a thread of its own, for the version dialog.
//
// The installer is written to a temporary file in the update folder and renamed onto
// its name only when the transfer ended with status 200 and every byte announced was
// received and written; on every other end the temporary file is removed and an
// installer of an earlier download stays as it was. The download is cancelled by
// Cancel() and by the no-data limit (no byte for that long, on the steady clock); it has
// no total time limit. The thread reports only by posting to the dialog's window:
// WM_UPDATE_PROGRESS when the whole percentage changed (read it with Percent()) and once
// WM_UPDATE_RESULT with the result code in wParam. The owner joins the thread before it
// dies: the destructor cancels and joins.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/msgloop/MessageLoop.h"

inline constexpr std::uint32_t WM_UPDATE_PROGRESS = plat::kWmUser + 1;
inline constexpr std::uint32_t WM_UPDATE_RESULT = plat::kWmUser + 2;

// Results of a download (WM_UPDATE_RESULT's wParam).
enum InstallerDownloadResult : int {
    InstallerDownloaded = 101,
    InstallerFolderFailed = 102,    // the update folder cannot be created
    InstallerFileFailed = 103,      // the installer file cannot be written or put in place
    InstallerTransferFailed = 104,  // transfer failure, bad status, short body, no data for too long
    InstallerCancelled = 105,       // cancelled by the user
};

class InstallerDownload {
public:
    struct Request {
        std::string url;       // the installer's address
        std::string folder;    // the update folder (created when missing)
        std::string fileName = "DravikClient.exe";
        std::chrono::milliseconds noDataLimit{30000};
        std::chrono::milliseconds connectTimeout{30000};
    };

    InstallerDownload() = default;
    ~InstallerDownload();  // Cancel(), Join()
    InstallerDownload(const InstallerDownload&) = delete;
    InstallerDownload& operator=(const InstallerDownload&) = delete;

    // Starts the thread; false when one was started already.
    bool Start(Request request, plat::WindowId window);
    // Any thread: the transfer stops at its next progress call.
    void Cancel() { cancel_ = true; }
    // Waits for the thread to end.
    void Join();

    // Runs the whole download on the calling thread (what the thread does) and returns
    // its result; posts to `window` when it is not kNoWindow.
    int Run(const Request& request, plat::WindowId window);

    // Last whole percentage (0 while the size is unknown).
    int Percent() const { return percent_.load(); }
    bool TimedOut() const { return timedOut_.load(); }
    // The installer's full path after InstallerDownloaded; read it after the result.
    std::string InstallerPath() const;

private:
    struct Transfer;
    // The transfer into the open temporary file; the result code.
    int Fetch(const Request& request, std::FILE* file, plat::WindowId window);

    std::thread thread_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> timedOut_{false};
    std::atomic<int> percent_{0};
    std::atomic<bool> finished_{false};
    std::string installerPath_;  // written by the thread before finished_ is set
};
