#pragma once
// The sync program's application object: one per process, alive for the whole run.
//
// Start-up (InitInstance) refuses a second instance, sets up the data folder, the log,
// the known accounts, the profile values, the server address and the shared-memory
// values, makes the local-scan and server-inventory workers and runs the hidden main
// window (COrvaneDlg) until it ends; shut-down (ExitInstance) stops the watch, signals
// the quit event, withdraws the shared-memory values and destroys the workers. Run()
// does both and gives the process's exit code.
//
// The shared state every part of the program reaches through this object lives in
// SyncApp: the trees, treeEditLock (held while trees are reset, the synchronised state is
// written and the flag query walks the unified tree), treeLock (the workers' tree lock),
// changeListLock with the queue localChanges, the sync folder and the staging folder.
//
// The workers' lives and their slots belong to the worker roster this object holds
// (WorkerRoster.h, Workers()); the main window tells it when to start, replace or stop one.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/msgloop/MessageLoop.h"
#include "dirwatch/DirectoryChangeWatcher.h"
#include "sync/common/SyncBase.h"
#include "sync/common/ThreadBase.h"
#include "sync/app/WorkerRoster.h"
#include "sync/engine/EngineContext.h"

class CWebCloud;
class CSharedMemory;
class COrvaneDlg;
class SyncShell;
class SyncTray;
class FolderChooser;
class FlagQueryEndpoint;

// Replaceable parts of the program; every member may stay empty (the defaults: no
// desktop, the system's network probe, the profile's poll period).
struct OrvaneOptions {
    std::shared_ptr<SyncShell> shell;
    std::shared_ptr<SyncTray> tray;
    std::shared_ptr<FolderChooser> chooser;
    // Poll period of the server inventory in milliseconds, in place of "ServerTime"
    // minutes (tests).
    std::optional<std::uint32_t> serverPollMs;
    // The network probe of the network monitor (tests force the network up or down).
    std::function<bool()> networkProbe;
    // Polling period of the network monitor in milliseconds (0: its default).
    std::uint32_t networkPollMs = 0;
    // Called on the main window's thread once the window is up (tests).
    std::function<void(COrvaneDlg&)> onWindowReady;
    // Called on the main window's thread each time a commit run has ended (also the
    // stand-in report of a run that had nothing to do), once its results are in the
    // commit state (tests).
    std::function<void()> onCycleEnd;
    // The clock of the message loop (tests); null: the steady clock.
    std::shared_ptr<plat::MessageClock> clock;
    // Called on the main thread once the program's message loop exists, before the main
    // window is made: a host event loop (the desktop's) attaches to it. What it returns is
    // kept until just before the loop ends.
    std::function<std::shared_ptr<void>(plat::MessageLoop&)> hostLoop;
    // A shared-memory table of this name in place of the program's "DravikSyncMemMap"
    // (tests, so that they never write the table of a program the user runs).
    std::u16string sharedTableName;
};

class COrvaneApp : public SyncApp {
public:
    // Process exit codes of Run().
    static constexpr int kExitNormal = 0;
    static constexpr int kExitRefused = 1;   // another instance runs, or no single-instance claim
    static constexpr int kExitFailed = 2;    // the program could not set up

    explicit COrvaneApp(OrvaneOptions options = {});
    ~COrvaneApp() override;
    COrvaneApp(const COrvaneApp&) = delete;
    COrvaneApp& operator=(const COrvaneApp&) = delete;

    // InitInstance, then ExitInstance; the exit code.
    int Run();
    // Asks the running program to end as the client's exit command does (any thread;
    // also before the main window is up).
    void RequestExit();
    // The main window's id while it runs (any thread).
    plat::WindowId MainWindowId() const { return mainWindowId_.load(); }
    // Start-up and the main window's whole life; false when start-up refused or failed.
    bool InitInstance();
    int ExitInstance();

    // The directory watch of the sync folder (main window's thread).
    bool StartWatch(const std::u16string& folder);
    void StopWatch();
    std::u16string WatchedFolder() const;
    void SetWatchedFolder(const std::u16string& folder);

    // Empties the Tracer tree and reads the current account's "Tracer.txt" into it.
    bool LoadTracerTree();
    // Writes the unified tree's synchronised state to the account's "Tracer.txt".
    bool PersistTracer();
    // The known accounts from "UserInfo.txt"; the last one marked for automatic login
    // becomes the current user.
    void LoadUserInfoList();

    // The sync folder changes: every holder of it (this object, the web-API object, the
    // shared-memory value) takes the new one. Workers must be idle.
    void SetSyncFolder(const std::u16string& folder);
    // Publishes "DravikCloudDiskPath" (the sync folder's UTF-16 characters, no terminator).
    void PublishSyncFolder();
    // Serves the flag query on its socket and publishes "DravikSyncWinHandle" (4 bytes:
    // the process id, which names that socket; see shm/SyncValues.h).
    void PublishWindowHandle();

    // ---- workers ----
    // Makes, replaces, stops and destroys the workers; writes their slots.
    WorkerRoster& Workers() { return workers_; }
    plat::Event* AwayDoneEvent() override;
    plat::Event* HomeDoneEvent() override;

    // ---- values ----
    const std::u16string& DataFolder() const { return dataFolder_; }
    std::string DataFolderUtf8() const;
    std::uint32_t ServerTimeMinutes() const { return serverTime_; }
    // Poll period of timer 100 in milliseconds.
    std::uint32_t ServerPollMs() const;
    // The update site of the profile (empty: none configured).
    const std::string& UpdateSite() const { return updateSite_; }
    const OrvaneOptions& Options() const { return options_; }
    SyncShell& Shell() { return *shell_; }
    SyncTray& Tray() { return *tray_; }
    FolderChooser& Chooser() { return *chooser_; }
    CWebCloud& WebCloud() { return *web_; }
    CDirectoryChangeWatcher& Watcher() { return watcher_; }
    CSharedMemory* SharedTable() const { return sharedMemory_; }
    COrvaneDlg* MainDialog() const { return dialog_; }

    // The four named events.
    CEventEx& SyncSignalEvent() { return evtSyncSignal_; }
    CEventEx& TerminateEvent() { return evtTerminate_; }
    CEventEx& SuspendEvent() { return evtSuspend_; }
    CEventEx& ResumeEvent() { return evtResume_; }

private:
    bool SetUpFolders();
    // Signals the quit event and waits until every worker thread (retired ones too) ended.
    void StopAllWorkers();
    void ReportWorkerError(const std::exception& error);
    void SetUpLog();
    void ComputeUtcOffset();

    OrvaneOptions options_;
    std::shared_ptr<SyncShell> shell_;
    std::shared_ptr<SyncTray> tray_;
    std::shared_ptr<FolderChooser> chooser_;

    CEventEx evtSyncSignal_;
    CEventEx evtTerminate_;
    CEventEx evtSuspend_;
    CEventEx evtResume_;

    std::u16string dataFolder_;
    std::uint32_t serverTime_ = 1;
    std::string updateSite_;
    std::unique_ptr<CWebCloud> web_;
    CDirectoryChangeWatcher watcher_;
    mutable std::mutex watchLock_;
    std::u16string watchedFolder_;
    CSharedMemory* sharedMemory_ = nullptr;
    std::unique_ptr<CSharedMemory> ownTable_;
    std::unique_ptr<FlagQueryEndpoint> flagQuery_;
    COrvaneDlg* dialog_ = nullptr;
    bool initialised_ = false;
    int exitCode_ = kExitNormal;
    std::atomic<bool> exitRequested_{false};
    std::atomic<plat::WindowId> mainWindowId_{plat::kNoWindow};
    // After the web-API object, so destroyed before it: no worker outlives what it uses.
    WorkerRoster workers_;
};
