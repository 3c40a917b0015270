#pragma once
// The logic of the version dialog (`CVersionUpdateDlg` shows it and hands it its
// buttons and messages): whether the update site offers a newer client, the list of
// versions the user chose to skip ("SkipVersions.xml" in the update folder), the
// download of the installer and the dialog's end code. No widgets, on the UI thread.
//
// Start-up runs it in automatic mode, the settings dialog in manual mode. Decide() makes
// the version decision; it ends the dialog at once (an end code) or leaves it to show in
// one of its states. The update button starts the download on its own thread
// (InstallerDownload), which posts WM_UPDATE_PROGRESS and WM_UPDATE_RESULT to the dialog's
// window; the dialog passes them to OnDownloadProgress and OnDownloadResult. Esc and the
// close box go to OnCloseRequest, which never yields the success code 0: during the
// download it cancels, and the dialog ends with 4 when the result arrives. The download
// thread is joined before the result is acted on, and by the destructor.
//
// The installer cannot be started on this system: after end code 0 the caller shows the
// message kInstallerSavedKey with InstallerPath() and opens its folder; the program
// keeps running.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "client/local/InstallerDownload.h"

inline constexpr const char* kInstallerSavedKey = "The installer of the new version was saved in this folder:";

class VersionUpdate {
public:
    enum State : int { StateOffer = 1, StateDownloading = 2, StateLatest = 3 };
    // End codes of the dialog.
    enum EndCode : int {
        EndInstallerReady = 0,   // the installer lies at InstallerPath()
        EndNoServerVersion = 1,  // settings: "Failed to detect version!"
        EndFileOccupied = 2,     // "Installation file occupied!"
        EndDownloadFailed = 3,   // "Download failed!"
        EndNothingToDo = 4,      // up to date, skipped, declined, cancelled or closed
    };

    struct Options {
        std::string updateSite;   // the update site's address
        std::string baseFolder;   // the update folder is baseFolder + "/WindowsClientApplication"
        std::string fileVersion;  // the program's version, "a.b.c.d"
        bool automatic = false;
        std::chrono::milliseconds pageTimeout{4000};
        std::chrono::milliseconds noDataLimit{30000};
    };

    // What the dialog shows in its state (English keys of the language table).
    struct View {
        bool headline = false;       // static 1070: headlineKey followed by headlineVersion
        bool notUpdateButton = false;  // 1069 "Not update"
        bool skipBox = false;        // 1078 "Skip this version"
        bool status = false;         // 1075 "Downloading new version..."
        bool progress = false;       // 1072
        std::string headlineKey;
        std::string headlineVersion;
        std::string updateButtonKey;  // 1018
    };

    explicit VersionUpdate(Options options);
    ~VersionUpdate();  // cancels and joins a running download
    VersionUpdate(const VersionUpdate&) = delete;
    VersionUpdate& operator=(const VersionUpdate&) = delete;

    // The version decision with the version read from the update site.
    std::optional<int> Decide();
    // The same with a server version already read (empty: none could be read).
    std::optional<int> Decide(const std::string& serverVersion);

    State GetState() const { return state_; }
    View GetView() const;
    const std::string& LocalVersion() const { return localVersion_; }
    const std::string& ServerVersion() const { return serverVersion_; }
    std::string UpdateFolder() const;

    // Button 1069; `skipTicked` is the check box. Ends with 4.
    int OnNotUpdate(bool skipTicked);
    // Button 1018: offer -> starts the download (posting to `window`), downloading ->
    // cancels it, latest-version notice -> ends with 4.
    std::optional<int> OnUpdate(plat::WindowId window);
    // Esc or the close box.
    std::optional<int> OnCloseRequest();
    // WM_UPDATE_PROGRESS: the progress bar's position, 0 to 100.
    int OnDownloadProgress() const { return download_.Percent(); }
    // WM_UPDATE_RESULT: the end code for a result of the download; none for other values.
    std::optional<int> OnDownloadResult(int result);
    // The installer's full path after end code 0; empty otherwise.
    const std::string& InstallerPath() const { return installerPath_; }

    // The skip list. IsSkipVersion reads "SkipVersions.xml" (automatic mode only) and
    // tells whether the server version is in it; AddSkipVersion appends the server
    // version and writes the file whole (true when it is listed afterwards).
    bool IsSkipVersion();
    bool AddSkipVersion();
    const std::vector<std::string>& SkippedVersions() const { return skipped_; }

private:
    std::string SkipFilePath() const;
    void ShowOffer();

    Options options_;
    std::string localVersion_;
    std::string serverVersion_;
    std::vector<std::string> skipped_;
    State state_ = StateOffer;
    bool cancelledByUser_ = false;
    std::string installerPath_;
    InstallerDownload download_;
};
