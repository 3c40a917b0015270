#include "sync/engine/ThreadOfServer.h"

#include <log4cpp/Category.hh>

#include "sync/common/SyncLog.h"
#include "sync/engine/SyncMessages.h"
#include "sync/net/WebCloud.h"

CThreadOfServer::CThreadOfServer(SyncApp* appObject, FileNode* listingTree)
    : CWorkerLoop(appObject, listingTree, u"CThreadOfServer") {}

CThreadOfServer::~CThreadOfServer() { StopAndWait(); }

ServerInventoryHost* CThreadOfServer::Host() const {
    return app != nullptr ? dynamic_cast<ServerInventoryHost*>(app->mainWindow) : nullptr;
}

bool CThreadOfServer::Bind() {
    app = static_cast<SyncApp*>(param1);
    tree = static_cast<FileNode*>(param2);
    return app != nullptr && tree != nullptr;
}

std::uint32_t CThreadOfServer::RunPass(std::uint32_t) { return ServerThreadOnRun(); }

std::uint32_t CThreadOfServer::ServerThreadOnRun() {
    const std::uint32_t result = _InventoryOnRunHandler();
    if (IsStopResult(CheckState("CThreadOfServer::ServerThreadOnRun", 159))) return 0;
    ServerInventoryHost* host = Host();
    SyncWindow* window = app != nullptr ? app->mainWindow : nullptr;
    if (host == nullptr || window == nullptr) return result;
    host->KillServerPoll();
    if (window->serverState == 0) return result;
    host->ArmServerPoll();
    return result;
}

std::uint32_t CThreadOfServer::_InventoryOnRunHandler() {
    if (IsStopResult(CheckState("CThreadOfServer::_InventoryOnRunHandler", 180))) return 0;
    ServerInventoryHost* host = Host();
    SyncWindow* window = app != nullptr ? app->mainWindow : nullptr;
    CWebCloud* web = app != nullptr ? app->webCloud : nullptr;
    if (host == nullptr || window == nullptr || web == nullptr || tree == nullptr) return 0;

    if (!g_bNetworkUp.load()) {
        if (window->serverState != 2) window->serverState = 1;
        host->OnLoginResult(false);
        return 0;
    }

    bool ok = web->LoggedIn();
    bool certificateRefused = false;
    if (!ok) {
        std::u16string account;
        std::u16string password;
        web->ResetLastStatus();
        if (host->LoginCredentials(account, password)) ok = web->iLogin(this, account, password) == 1;
        certificateRefused = !ok && web->LastStatus() == httperr::kCertificateRejected;
        if (ok) {
            host->OnLoginResult(true);
            SyncLog().info("Login Success <ThreadOfServer> line:208");
        } else {
            host->OnLoginResult(false);
            SyncLog().info("Login Failure <ThreadOfServer> line:216");
        }
    }
    // A login is wanted until one succeeds; a failed or unanswered attempt is tried again
    // at the next poll, so the poll timer stays armed. A refused certificate is no
    // outage: asking again would fail the same way, so the poll stops (state 0) until
    // the next login starts it anew.
    if (certificateRefused) {
        SyncLog().error("Login stopped: the server's certificate was refused; no retry until the next login");
        window->serverState = 0;
        return 0;
    }
    window->serverState = 1;
    if (!ok) return 0;
    window->serverState = 2;

    if (IsStopResult(CheckState("CThreadOfServer::_InventoryOnRunHandler", 231))) return 0;
    if (web->iListServerDirs(this) != 1) {
        // A refused request (401, 403) ended the login: log in again at the next poll.
        if (!web->LoggedIn()) window->serverState = 1;
        return 0;
    }
    if (IsStopResult(CheckState("CThreadOfServer::_InventoryOnRunHandler", 240))) return 0;

    host->SaveServerListing(*tree);
    if (window->reconcileState == 0) {
        window->PostMessage(WM_ALPHA_CONFORM, 0, 1);
    } else {
        window->PostMessage(WM_DELTA_CONFORM, 8, 0);
    }
    return 1;
}
