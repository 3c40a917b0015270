#pragma once
// The sync program running in this process against the in-process test server, in a
// sandbox (HOME, XDG folders and runtime folder of its own), driven by a fake client on
// its two pipes, as the client program drives it. The network probe and the poll period
// are the test's: the network is up unless the test takes it down, and the server is
// listed about twice a second. Tests change the sync folder (Local) and the account's
// home folder (Remote) through the same calls of tests/support's two-sided modifier.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/localpipe.h"
#include "sync/app/OrvaneApp.h"
#include "sync/app/OrvaneDlg.h"
#include "sync/app/SetCloudPath.h"
#include "sync/app/SyncShell.h"
#include "support/sandbox.h"
#include "support/server.h"
#include "support/twosides.h"

namespace orvanetest {

inline constexpr const char* kAccount = "demo";
inline constexpr const char* kPassword = "secret";

// The folder dialog of a first login takes the test's folder.
class FixedChooser : public FolderChooser {
public:
    explicit FixedChooser(std::u16string folder) : folder_(std::move(folder)) {}
    void RunSetCloudPath(CSetCloudPath& dialog) override { dialog.SetFolder(folder_); }
    std::optional<std::u16string> BrowseForFolder(std::u16string_view, const std::u16string&) override {
        return std::nullopt;
    }

private:
    std::u16string folder_;
};

// The headless shell, with a folder browser that answers what the test queued, and a
// sync-details window and folder browser that stay open (as windows beside the tray do)
// until the program or the test closes them.
class TestShell : public HeadlessShell {
public:
    std::optional<std::u16string> BrowseForFolder(const std::u16string& title,
                                                  const std::u16string& current) override;
    void QueueFolderChoice(std::u16string folder);

    void RunDetails() override { detailsOpen_ = true; }
    bool DetailsOpen() override { return detailsOpen_; }
    void CloseDetails() override { detailsOpen_ = false; }
    bool FolderBrowserOpen() override { return browserOpen_; }
    void RaiseFolderBrowser() override { ++browserRaises_; }
    void CloseFolderBrowser() override { browserOpen_ = false; }
    // The user opens the browser (elsewhere) or closes the details window.
    void SetFolderBrowserOpen(bool open) { browserOpen_ = open; }
    void CloseDetailsByUser() { detailsOpen_ = false; }
    int FolderBrowserRaises() const { return browserRaises_; }

private:
    std::mutex lock_;
    std::vector<std::u16string> choices_;
    std::atomic<bool> detailsOpen_{false};
    std::atomic<bool> browserOpen_{false};
    std::atomic<int> browserRaises_{0};
};

using testsupport::TreeImage;

class OrvaneWorld {
public:
    // Seeds the account's home folder with `serverSeed` (may be empty) and the sync
    // folder with `localSeed` (relative path -> content; a path ending in '/' is a folder).
    OrvaneWorld(const std::map<std::string, std::string>& serverSeed = {},
                const std::map<std::string, std::string>& localSeed = {});
    ~OrvaneWorld();

    // Starts the program (the client side listens first) and hands over the language and
    // the login. False when the program did not connect to its pipes.
    bool Start(bool login = true);
    // Sends a command byte as the client does.
    bool SendByte(std::uint8_t byte);
    // The bytes the program wrote back to the client so far.
    std::string Replies();
    // Ends the program with the exit byte and waits for it; its exit code (-1 when it did
    // not end in time).
    int Exit();
    // Waits until the program ended by itself.
    bool WaitEnded(std::chrono::milliseconds timeout);

    // Waits until `done` holds: it looks at once, then each time one of the program's
    // cycles has finished (a commit run ended) and when the program ended, never on a
    // clock. For what a finished run settles: the trees after a run, the commit state.
    bool WaitCycleEnd(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Waits until the local folder and the server tree are the same and the program is
    // idle after a successful commit run.
    bool WaitInSync(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Waits until the images show `expected` on both sides after a run.
    bool WaitBothEqual(const TreeImage& expected, std::chrono::milliseconds timeout = std::chrono::seconds(60));

    // The two sides: the sync folder on disk and the account's home folder on the server.
    testsupport::LocalSide& Local() { return local_; }
    testsupport::ServerSide& Remote() { return *remote_; }

    testsupport::Sandbox& Box() { return sandbox_; }
    testserver::TestServer& Server() { return *server_; }
    COrvaneApp* App() { return app_.get(); }
    COrvaneDlg* Window() { return app_ ? app_->MainDialog() : nullptr; }
    TestShell& Shell() { return *shell_; }
    HeadlessTray& Tray() { return *tray_; }
    const std::filesystem::path& SyncFolder() const { return local_.Root(); }
    // The folder the local side uses from now on.
    void UseSyncFolder(std::filesystem::path folder) { local_.SetRoot(std::move(folder)); }
    std::filesystem::path DataFolder() const { return sandbox_.DataHome() / "DravikSync"; }
    std::filesystem::path TracerFile() const { return DataFolder() / kAccount / "Tracer.txt"; }
    void SetNetwork(bool up) { networkUp_ = up; }
    // The period of the program's server inventory from the next Start on (500 ms unless
    // set): a long one leaves the server to the program's other looks at it.
    void SetServerPollMs(std::uint32_t ms) { serverPollMs_ = ms; }
    // Posts a menu command to the main window.
    bool PostCommand(std::uint32_t command);

    // The shared-memory table of this world's program.
    const std::string& TableName() const { return tableName_; }

private:
    // Joins the program's thread (it has ended) and closes its links.
    void ForgetProgram();

    static std::atomic<int> worldCount_;
    testsupport::Sandbox sandbox_;
    std::string tableName_;
    std::unique_ptr<testsupport::RunningServer> server_;
    std::unique_ptr<testsupport::ServerSide> remote_;
    testsupport::LocalSide local_;
    std::shared_ptr<TestShell> shell_;
    std::shared_ptr<HeadlessTray> tray_;
    std::shared_ptr<FixedChooser> chooser_;
    std::atomic<bool> networkUp_{true};
    std::uint32_t serverPollMs_ = 500;

    plat::LocalPipeListener commandListener_;
    plat::LocalPipeListener replyListener_;
    plat::LocalPipe command_;
    plat::LocalPipe reply_;
    std::thread replyReader_;
    std::mutex replyLock_;
    std::string replies_;

    // Counts the finished cycles of the program (and its end); waits sleep on it.
    void CycleEnded();
    std::mutex cycleLock_;
    std::condition_variable cycleEnded_;
    std::uint64_t cycles_ = 0;

    std::unique_ptr<COrvaneApp> app_;
    std::thread appThread_;
    std::atomic<int> exitCode_{-1};
    std::atomic<bool> ended_{false};
};

}  // namespace orvanetest
