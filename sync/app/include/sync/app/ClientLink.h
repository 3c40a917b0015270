#pragma once
// The main window's side of the link with the client program: the pipe reader that turns
// the client's bytes into window messages, the login hand-over, the choice of another
// sync folder, the language, the account's history file, and the flag query that stands
// in for WM_COPYDATA.
//
// Who calls it, on which thread: the main window (COrvaneDlg) owns one ClientLink for its
// whole life and calls it on its own thread, from its message handlers. The login calls
// the window back (LoginWindow::LoginBegin) on that same thread, from OnPipeLogin. The
// pipe reader runs on a thread of its own (SyncPipeLink) and only posts to the window.
//
// What it leaves to the window: the workers and the cycle state. Where a client command
// needs them (a successful login starts the local scan; a new folder stops and restarts
// the workers) the window does that part and asks the link for its own (EndLogin,
// ChooseFolder, TakeFolder).
//
// What is never lost: the pipes are closed and their reader joined by StopPipes, at the
// latest by the destructor, so the reader never posts to a window that is gone. A folder
// choice that is refused is asked again (the request is posted anew), never dropped. An
// account that cannot be kept after its login ends the program as the client's exit
// command does.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/msgloop/MessageLoop.h"
#include "sync/app/Login.h"
#include "sync/app/SyncPipeLink.h"
#include "sync/app/UserRoutine.h"

class COrvaneApp;
class SyncShell;
class SyncTray;

// The payload of the WM_COPYDATA stand-in: the expected flag and a UTF-16 file name
// relative to the sync folder ('\\' separators). Only `byteCount` bytes of `data` count
// (at most its size; an odd last byte is ignored).
struct CopyDataRequest {
    std::uintptr_t dwData = 0;
    std::uint32_t byteCount = 0;
    std::u16string data;
};

class ClientLink {
public:
    ClientLink(COrvaneApp& app, LoginWindow& window);
    ~ClientLink();
    ClientLink(const ClientLink&) = delete;
    ClientLink& operator=(const ClientLink&) = delete;

    // Starts the pipe reader, which posts the client's commands to `window`; requests
    // the link posts itself go there too. False when the reader could not be started.
    bool StartPipes(plat::WindowId window);
    // Closes the pipes and joins their reader (again: nothing).
    void StopPipes();
    // Tells the client that the sync is paused or resumed; false when that failed.
    bool WritePauseState(bool paused);

    // ---- login hand-over ----
    // WM_PIPE_LOGIN: records the account handed over and begins its login.
    void OnPipeLogin(plat::Message& message);
    // The account and password the login runs with; false when there are none.
    static bool LoginCredentials(std::u16string& account, std::u16string& password);
    // After a successful login: settles the account's folder and state. False when the
    // account cannot be kept: the program is then asked to end and the pipes close.
    bool EndLogin();
    // WM_LOGIN_FAILURE: keeps the reason for the client to show.
    void OnLoginFailure();

    // ---- the account's history file ----
    void ReadHistory();
    void SaveHistory();

    // ---- client commands ----
    // WM_PIPE_LANGUAGE_*: 0 English, 1 Chinese. A change of language ends the open folder
    // browser, and the open sync-details window with `closeDetails` (the one opened
    // through the pipe).
    void OnPipeLanguage(int language, bool closeDetails);
    int Language() const { return language_.load(); }
    // WM_PIPE_CHOOSE_FOLDER: asks for another sync folder. The new folder when one was
    // chosen that may be used; none when nothing changes (a refused choice is asked again)
    // or when the folder browser is open already (it is raised).
    std::optional<std::u16string> ChooseFolder();
    // The account takes the new folder (its records, its state file). The window has
    // stopped the watch and the workers first.
    void TakeFolder(const std::u16string& folder);
    // WM_COPYDATA: 1 when the unified tree's record of the named file carries the flag
    // asked for, else 0.
    std::intptr_t OnCopyData(plat::Message& message);

private:
    COrvaneApp& app_;
    SyncShell& shell_;
    SyncTray& tray_;
    plat::WindowId window_ = plat::kNoWindow;
    std::atomic<int> language_{1};  // the window texts start in Chinese
    Login login_;
    SyncHistory history_;
    std::unique_ptr<SyncPipeLink> pipes_;
};
