#include "client/app/DravikClientApp.h"

#include <cstdlib>
#include <iostream>

#include "client/app/ClientInstance.h"
#include "client/core/ClientFiles.h"
#include "client/core/ClientLog.h"
#include "client/local/VersionUpdate.h"
#include "client/local/WatcherBridge.h"
#include "client/local/WinFileSystemAdapter.h"
#include "client/ui/DravikClientDlg.h"
#include "client/ui/UiTexts.h"
#include "client/ui/VersionEndAction.h"
#include "dirwatch/DirectoryChangeWatcher.h"
#include "platform/fileops.h"
#include "platform/userdirs.h"

#ifndef DRAVIK_CLIENT_VERSION
#define DRAVIK_CLIENT_VERSION ""
#endif

namespace {

// Stops the bus on every way out of the start-up.
class BusStopper {
public:
    explicit BusStopper(ClientControl& control) : control_(control) {}
    ~BusStopper() { control_.Bus().Stop(); }
    BusStopper(const BusStopper&) = delete;
    BusStopper& operator=(const BusStopper&) = delete;

private:
    ClientControl& control_;
};

}  // namespace

CDravikClientApp::CDravikClientApp() : CDravikClientApp(Options{}) {}

CDravikClientApp::CDravikClientApp(Options options) : options_(std::move(options)) {}

// The controller goes first, then the file layer it used (declared before it).
CDravikClientApp::~CDravikClientApp() { control_.Bus().Stop(); }

std::string CDravikClientApp::GetFileVersionText() { return DRAVIK_CLIENT_VERSION; }

std::string CDravikClientApp::LogStartupInfo() {
    const std::string version = GetFileVersionText();
    return std::string("Information for Application:\nMachine: x86\nVersion: ") + (version.empty() ? "error" : version);
}

bool CDravikClientApp::IsFirstRunCommandLine(const std::vector<std::string>& arguments) {
    return arguments.size() == 1 && arguments.front() == kFirstRunArgument;
}

int CDravikClientApp::LoadConfig() { return LoadConfigFile(configPath_, config_) ? 1 : 0; }

int CDravikClientApp::SaveConfig() { return SaveConfigFile(configPath_, config_) ? 1 : 0; }

bool CDravikClientApp::RequestExit() {
    const plat::WindowId window = trayWindow_.load();
    return window != plat::kNoWindow && plat::PostMessage(window, client_tray::kWmCommand, client_tray::kCmdExit);
}

void CDravikClientApp::ActOnVersionCheck(int result, ClientWindowOpeners& windows, ClientDesktop& desktop,
                                         const UiTexts& texts) {
    // The installer cannot be run here: its folder is shown, and the program runs on.
    const std::string installer = result == VersionUpdate::EndInstallerReady ? windows.InstallerPath() : std::string();
    if (!installer.empty()) LogClientInfo("<version>Installer saved: " + installer);
    ActOnVersionEnd(result, installer, false, desktop, [&texts](const std::string& key) { return texts.Text(key); });
}

int CDravikClientApp::InitInstance(const std::vector<std::string>& arguments) {
    BusStopper busStopper(control_);
    if (options_.runDesktop == nullptr && (!options_.windows || !options_.desktop || !options_.tray)) {
        std::cerr << "DravikClient: no desktop to run on\n";
        return 1;
    }

    // 1. One copy per user; a second start brings the first one's window forward.
    ClientInstance instance;
    switch (instance.ClaimOrRaise()) {
        case ClientInstance::Claim::First:
            break;
        case ClientInstance::Claim::Second:
            std::cerr << "DravikClient: the program is already running; its window was brought forward\n";
            return 0;
        case ClientInstance::Claim::Failed:
            std::cerr << "DravikClient: no usable runtime folder for the program's lock\n";
            return 1;
    }

    // 3. Folders.
    exeFolder_ = options_.exeDir.empty() ? plat::ExecutableDir() : options_.exeDir;
    exePath_ = exeFolder_ + "/DravikClient";
    std::string configDir = options_.configDir;
    if (configDir.empty()) {
        const char* variable = std::getenv(kConfigDirVariable);
        configDir = variable != nullptr && *variable != '\0' ? variable : BesideExecutableDirectory();
    }
    plat::fs::MakeDirectories(configDir);
    configPath_ = configDir + "/" + Config::kFileName;
    dataFolder_ = options_.dataDir.empty() ? ClientDataDirectory() : options_.dataDir;
    logFolder_ = dataFolder_ + "/Log";

    // 4-5. The log. The data and log folders are the user's alone.
    MakePrivateFolder(dataFolder_);
    MakePrivateFolder(logFolder_);
    if (!SetupLogging(logFolder_, LogStartupInfo()))
        std::cerr << "DravikClient: the log cannot be written in " << logFolder_ << "\n";

    // 6. The configuration; a missing or unreadable one is replaced by the defaults.
    if (LoadConfig() == 0 && SaveConfig() == 0) LogClientInfo("<control>Config.xml cannot be written: " + configPath_);

    // 7. The local file layer and the controller.
    watcher_ = std::make_unique<CDirectoryChangeWatcher>();
    bridge_ = std::make_unique<WatcherBridge>(*watcher_);
    files_ = std::make_unique<WinFileSystemAdapter>(bridge_.get());
    control_.SetFileSystem(files_.get());
    control_.SetConfig(config_);
    control_.SetDirectories(exeFolder_, dataFolder_);
    facade_.SetControl(&control_);

    // 8. The language.
    control_.SetLanguage(config_.DefaultLanguageCode);

    // 9. The first run.
    firstRun_ = IsFirstRunCommandLine(arguments);

    // The message loop of the windows, and the desktop's parts of this run (which drive
    // the loop beside the toolkit's own).
    std::unique_ptr<plat::MessageLoop> ownLoop;
    if (plat::MessageLoop::Current() == nullptr) ownLoop = std::make_unique<plat::MessageLoop>();
    plat::MessageLoop& loop = *plat::MessageLoop::Current();
    FacadeTexts texts(facade_);
    std::unique_ptr<ClientRun> run;
    if (options_.runDesktop != nullptr)
        run = options_.runDesktop->Open(control_, config_, texts, loop, options_.desktop,
                                        {GetFileVersionText(), configPath_, dataFolder_, exePath_});
    ClientDesktop& desktop = options_.desktop ? *options_.desktop : run->Desktop();
    ClientWindowOpeners& windows = options_.windows ? *options_.windows : run->Windows();

    // 10. The version check.
    ActOnVersionCheck(windows.RunVersionCheck(true), windows, desktop, texts);

    // 11. The hidden tray window until Exit.
    CDravikClientDlg::Ports ports;
    ports.tray = options_.tray ? options_.tray : &run->Tray();
    ports.windows = &windows;
    ports.desktop = &desktop;
    SyncProgramLink::Options sync = options_.sync;
    if (sync.programPath.empty()) sync.programPath = exeFolder_ + "/Orvane";
    int result = 0;
    {
        CDravikClientDlg dialog(control_, texts, ports, firstRun_, sync);
        tray_ = &dialog;
        trayWindow_ = dialog.Window();
        instance.Listen([window = dialog.Window()] { plat::PostMessage(window, CDravikClientDlg::WM_RAISE); });
        if (run) run->TrayWindowReady(dialog.Window());
        dialog.OnInitDialog();
        result = dialog.RunModal();
        instance.Stop();
        trayWindow_ = plat::kNoWindow;
        tray_ = nullptr;
    }
    LogClientInfo("<control>The client ends (" + std::to_string(result) + ")");

    // 12-13. The bus stops (busStopper) before the controller and the file layer go.
    control_.Bus().Stop();
    control_.Logout();
    return 0;
}
