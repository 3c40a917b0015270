#pragma once
// The client program's application object. Its start-up (InitInstance) keeps one copy per
// user running, fixes the program's folders, starts the log, reads or writes
// "Config.xml", prepares the controller, runs the version check and then the hidden tray
// window until the user exits; every return path stops the message bus first.
//
// Folders: the executable's folder (languages, and `Orvane` beside it); "Config.xml" in
// the folder beside the executable (or in $DRAVIK_CLIENT_CONFIG_DIR when set, so tests and
// the local demo keep it in their own folder); the data folder
// $XDG_DATA_HOME/Dravik/DravikClient with its "Log" folder.
//
// The desktop it runs on (its windows, message boxes, notification area and what drives
// the message loop beside the toolkit) comes in through Options::runDesktop: the program
// hands in the Qt one of client/desktop. This class itself uses no toolkit.
//
// UI thread only.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/app/ClientRunDesktop.h"
#include "client/core/Config.h"
#include "client/local/ClientControl.h"
#include "client/local/SyncProgramLink.h"
#include "platform/msgloop/MessageLoop.h"

class CDirectoryChangeWatcher;
class CDravikClientDlg;
class ClientDesktop;
namespace client_tray {
class TrayPort;
}
class WatcherBridge;
class WinFileSystemAdapter;
class ClientWindowOpeners;
class UiTexts;

class CDravikClientApp {
public:
    static constexpr const char* kFirstRunArgument = "-firstrun";
    static constexpr const char* kConfigDirVariable = "DRAVIK_CLIENT_CONFIG_DIR";

    // Folders and parts a caller (the tests) may choose; empty or null takes the
    // program's own. The windows, the desktop and the tray come from `runDesktop` unless
    // given here; a run without `runDesktop` needs all three given (and the message loop
    // then runs by itself).
    struct Options {
        std::string exeDir;
        std::string configDir;
        std::string dataDir;
        SyncProgramLink::Options sync;
        ClientRunDesktop* runDesktop = nullptr;
        ClientWindowOpeners* windows = nullptr;
        ClientDesktop* desktop = nullptr;
        client_tray::TrayPort* tray = nullptr;
    };

    CDravikClientApp();
    explicit CDravikClientApp(Options options);
    ~CDravikClientApp();
    CDravikClientApp(const CDravikClientApp&) = delete;
    CDravikClientApp& operator=(const CDravikClientApp&) = delete;

    // The whole run, with the program's arguments (without the program name); the exit
    // code: 0 after Exit or when another copy runs, 1 when the program cannot start (no
    // usable runtime folder, no desktop to run on).
    int InitInstance(const std::vector<std::string>& arguments);

    // 1 when "Config.xml" was read whole, else 0 (a folder or anything that does not
    // parse in its place is moved aside first).
    int LoadConfig();
    // 1 when "Config.xml" was written (through a temporary file and a rename), else 0.
    int SaveConfig();
    // The program's version "a.b.c.d"; empty when unknown.
    static std::string GetFileVersionText();
    // The start banner of the log.
    static std::string LogStartupInfo();
    // Only a command line of exactly "-firstrun" sets the first-run flag.
    static bool IsFirstRunCommandLine(const std::vector<std::string>& arguments);

    std::string GetDataFolder() const { return dataFolder_; }
    std::string GetExePath() const { return exePath_; }
    std::string GetConfigPath() const { return configPath_; }
    Config& Configuration() { return config_; }
    ClientControl& Control() { return control_; }
    ClientControlFacade& Facade() { return facade_; }
    std::atomic<bool>& FirstRun() { return firstRun_; }

    // Any thread: the tray window while it runs (kNoWindow before and after), and a way
    // to end the run as the tray's Exit does (signals, tests).
    plat::WindowId TrayWindow() const { return trayWindow_.load(); }
    bool RequestExit();
    // The tray window while it runs (UI thread); null otherwise.
    CDravikClientDlg* TrayDialog() const { return tray_; }

private:
    void ActOnVersionCheck(int result, ClientWindowOpeners& windows, ClientDesktop& desktop, const UiTexts& texts);

    Options options_;
    Config config_;
    // The local file layer outlives the controller that uses it.
    std::unique_ptr<CDirectoryChangeWatcher> watcher_;
    std::unique_ptr<WatcherBridge> bridge_;
    std::unique_ptr<WinFileSystemAdapter> files_;
    ClientControl control_;
    ClientControlFacade facade_;
    std::string exePath_;
    std::string exeFolder_;
    std::string configPath_;
    std::string dataFolder_;
    std::string logFolder_;
    std::atomic<bool> firstRun_{false};
    std::atomic<plat::WindowId> trayWindow_{plat::kNoWindow};
    CDravikClientDlg* tray_ = nullptr;
};
