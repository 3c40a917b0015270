#pragma once
// How the tray window opens the client's windows. The tray window decides when (its menu,
// the start, a login, a first run) and keeps one window of each kind at a time; an
// implementation only makes, runs and ends the windows. The program sets one
// (client/desktop); the tests record the calls.
//
// Every Open* call shows its window and returns at once: the windows run beside the tray
// and beside each other, none blocks another, so the tray icon and its menu answer while
// any of them is open. When a window closes (by the user or by Close), the implementation
// calls the closed handler with its kind. While a window of a kind is open, the tray window
// does not ask for a second one: it calls Raise for it instead. Close ends the open window
// of a kind with result 0 (logout, exit), the dialogs it has opened first; nothing when
// none is open. UI thread only.
#include <cstddef>
#include <functional>
#include <string>

enum class ClientWindow { Login, MainWindow, TransferList, Settings, About };
inline constexpr std::size_t kClientWindowKinds = 5;

class ClientWindowOpeners {
public:
    virtual ~ClientWindowOpeners() = default;

    // The login dialog (tray Login, left click while logged out, after a first run's settings).
    virtual void OpenLoginDialog() = 0;
    // The cloud browser (tray Main Window, left click while logged in, every successful login).
    virtual void OpenMainWindow() = 0;
    // The transfer list (tray Transfer List).
    virtual void OpenTransferList() = 0;
    // The settings dialog (tray Configure, and first on a first run).
    virtual void OpenSettings() = 0;
    // The about box (tray About).
    virtual void OpenAbout() = 0;
    // The version check with its own dialog: `automatic` at start-up (silent unless a
    // newer version is offered), else by hand. Returns the dialog's end code (0 the
    // installer was downloaded, 1 no version read, 2 installer in use, 3 download failed,
    // 4 nothing to do).
    virtual int RunVersionCheck(bool automatic) = 0;
    // The installer's full path after a check that ended with 0; empty otherwise.
    virtual std::string InstallerPath() const = 0;

    // Called on the UI thread each time a window closes; set once by the tray window.
    virtual void SetClosedHandler(std::function<void(ClientWindow)> handler) = 0;

    virtual void Raise(ClientWindow window) = 0;
    virtual void Close(ClientWindow window) = 0;
};
