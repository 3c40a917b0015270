#pragma once
// How the tray window opens the client's windows. The tray window decides when (its menu,
// the start, a login, a first run) and keeps one window of each kind at a time; an
// implementation only makes, runs and ends the windows. The program sets one
// (client/app); the tests record the calls.
//
// Every Run* call runs its window modally: it returns when the window has closed (its
// nested event loop keeps the tray, the bus messages and the timers going meanwhile).
// While a window of a kind runs, the tray window does not ask for a second one: it calls
// Raise for it instead. Close ends the running window of a kind with result 0 (logout,
// exit); nothing when none runs. UI thread only.
#include <string>

enum class ClientWindow { Login, MainWindow, TransferList, Settings, About };

class ClientWindowOpeners {
public:
    virtual ~ClientWindowOpeners() = default;

    // The login dialog (tray Login, left click while logged out, after a first run's settings).
    virtual void RunLoginDialog() = 0;
    // The cloud browser (tray Main Window, left click while logged in, every successful login).
    virtual void RunMainWindow() = 0;
    // The transfer list (tray Transfer List).
    virtual void RunTransferList() = 0;
    // The settings dialog (tray Configure, and first on a first run).
    virtual void RunSettings() = 0;
    // The about box (tray About).
    virtual void RunAbout() = 0;
    // The version check with its own dialog: `automatic` at start-up (silent unless a
    // newer version is offered), else by hand. Returns the dialog's end code (0 the
    // installer was downloaded, 1 no version read, 2 installer in use, 3 download failed,
    // 4 nothing to do).
    virtual int RunVersionCheck(bool automatic) = 0;
    // The installer's full path after a check that ended with 0; empty otherwise.
    virtual std::string InstallerPath() const = 0;

    virtual void Raise(ClientWindow window) = 0;
    virtual void Close(ClientWindow window) = 0;
};
