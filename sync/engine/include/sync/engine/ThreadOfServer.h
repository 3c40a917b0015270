#pragma once
// The server inventory thread: on each run it makes sure the program is logged in, lists
// the account's whole server tree into the "Waiter" tree, saves that listing and tells
// the main window that a listing is ready; then it re-arms the window's poll timer, so
// the next run follows one poll period after the end of this one.
//
// Results reach the main window as posted messages: WM_ALPHA_CONFORM (0, 1) while no
// unified tree exists, WM_DELTA_CONFORM (8, 0) once one does, and the login result
// through ServerInventoryHost::OnLoginResult (which the window turns into a message on
// its own thread). The window's login state (SyncWindow::serverState) is written here:
// 1 login wanted, 2 logged in. The command loop is CWorkerLoop's: BIND takes the
// application and the listing tree, and a missing one ends the thread with 0xFFFFFFFF.
#include <cstdint>
#include <string>

#include "sync/common/TreeNode.h"
#include "sync/common/WorkerLoop.h"
#include "sync/engine/EngineContext.h"

// What the inventory needs of the main window besides SyncWindow. The program's main
// window implements both; tests use a fake.
class ServerInventoryHost {
public:
    virtual ~ServerInventoryHost() = default;
    // The account and password the client handed over; false when there are none.
    virtual bool LoginCredentials(std::u16string& account, std::u16string& password) = 0;
    // The result of a login attempt (called on the inventory thread).
    virtual void OnLoginResult(bool success) = 0;
    // The poll timer (100): stop it, or (re)arm it at the poll period from now.
    virtual void KillServerPoll() = 0;
    virtual void ArmServerPoll() = 0;
    // Writes the listing to "Server.txt" in the data folder.
    virtual void SaveServerListing(const FileNode& listing) = 0;
};

class CThreadOfServer : public CWorkerLoop {
public:
    // `app` is the application object (its web-API object and main window are used),
    // `tree` its "Waiter" tree (the tree the web-API object fills and that is saved).
    CThreadOfServer(SyncApp* app, FileNode* tree);
    ~CThreadOfServer() override;

    // One inventory with the poll timer handling; the result of _InventoryOnRunHandler,
    // or 0 when a checkpoint stopped it (the timer is then left alone).
    std::uint32_t ServerThreadOnRun();
    // Login when needed, listing, save, report: 1 when a listing was made.
    std::uint32_t _InventoryOnRunHandler();

    SyncApp* app = nullptr;
    FileNode* tree = nullptr;

protected:
    bool Bind() override;
    bool IsPassCommand(std::uint32_t command) const override { return command == THREAD_CMD_RUN; }
    std::uint32_t RunPass(std::uint32_t command) override;

private:
    ServerInventoryHost* Host() const;
};
