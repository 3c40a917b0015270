#pragma once
// The client's hidden main window: the icon in the notification area with its menu, the
// balloons, the automatic login at start, the reaction to login and logout, the summary
// of finished transfer batches, the one-at-a-time opening of the other windows and the
// link with the sync program (SyncProgramLink).
//
// It is a window of the UI thread's message loop. Start-up makes it, calls OnInitDialog
// and RunModal; Exit ends that run. Every command arrives as WM_COMMAND (the tray menu,
// the icon's clicks, its own posts). The other windows open beside it without a loop of
// their own, so the tray answers while any of them is open.
//
// Threads: the bus calls the listener slots on its dispatch thread; they only post copies
// of their payloads to the window, and everything else (state, tray, pipes, windows)
// happens on the UI thread. The HTTP watchdog runs on a thread of its own (HttpWatchdog).
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/core/MessageManage.h"
#include "client/core/TransferRecords.h"
#include "client/local/ClientControl.h"
#include "client/local/SyncProgramLink.h"
#include "client/ui/ClientTray.h"
#include "client/ui/ClientWindowOpeners.h"
#include "client/ui/HttpWatchdog.h"
#include "platform/msgloop/MessageLoop.h"

class ClientDesktop;
class UiTexts;

class CDravikClientDlg : public MessageListener, public SyncLinkHost, public ClientControlAndBaseViewBridgeInterface {
public:
    static constexpr std::uint32_t WM_TRANSFER_SUMMARY = plat::kWmUser + 111;
    static constexpr std::uint32_t WM_EXIT_FOR_UPDATE = plat::kWmUser + 0x1AF;
    static constexpr std::uintptr_t kSummaryBatch = 201;
    static constexpr std::uint32_t kBalloonMs = 3000;
    static constexpr std::uintptr_t kTimerBatchRecount = 2;
    static constexpr std::uint32_t kBatchRecountMs = 500;
    // Copies of bus messages, and the raise request of a second start.
    static constexpr std::uint32_t WM_BUS_LOGIN = plat::kWmApp + 1;
    static constexpr std::uint32_t WM_BUS_LOGOUT = plat::kWmApp + 2;
    static constexpr std::uint32_t WM_BUS_BALLOON = plat::kWmApp + 3;
    static constexpr std::uint32_t WM_BUS_FINISHED = plat::kWmApp + 4;
    static constexpr std::uint32_t WM_BUS_LANGUAGE = plat::kWmApp + 5;
    static constexpr std::uint32_t WM_RAISE = plat::kWmApp + 6;

    struct Ports {
        client_tray::TrayPort* tray = nullptr;
        ClientWindowOpeners* windows = nullptr;
        ClientDesktop* desktop = nullptr;
    };

    // Makes the window on the calling thread's message loop. `firstRun` is the start-up's
    // flag, read and cleared here.
    CDravikClientDlg(ClientControl& control, const UiTexts& texts, Ports ports, std::atomic<bool>& firstRun,
                     SyncProgramLink::Options syncOptions = {});
    // Leaves the bus, stops the watchdog and the sync link, destroys the window.
    ~CDravikClientDlg() override;
    CDravikClientDlg(const CDravikClientDlg&) = delete;
    CDravikClientDlg& operator=(const CDravikClientDlg&) = delete;

    plat::WindowId Window() const { return window_; }

    // Adds the icon, starts the watchdog, joins the bus, then logs in automatically or
    // opens the login dialog (the settings first on a first run), by posted commands.
    void OnInitDialog();
    // Runs the window's modal loop until Exit; its result (0).
    int RunModal();

    // The first saved login marked for automatic login, through the controller (blocks);
    // its result, 0 when none is marked.
    int AutoLogin();
    // The menu as a right click shows it now.
    std::vector<client_tray::MenuItem> CurrentMenu() const;
    void ShowTrayMenu();
    // Exit: the exit byte to the sync program, logout, every window ended, icon removed,
    // the run ended.
    void OnExit();

    int LoginState() const { return loginState_; }
    bool IsOpen(ClientWindow window) const;
    bool IconShown() const { return iconShown_; }
    SyncProgramLink& Sync() { return *sync_; }
    HttpWatchdog& Watchdog() { return watchdog_; }

    // Bus slots (dispatch thread): each posts a copy to the window.
    void OnLoginResult(const TextNotice& notice) override;
    void OnLogoutResult(const std::string& text) override;
    void OnTip(const std::string& text) override;
    void OnInfoTip(const std::string& text) override;
    void OnErrorTip(const std::string& text) override;
    void OnTransferTaskFinished(const TransferItem& item) override;
    void OnLanguageChanged(const std::string& languageCode) override;

    // Sync link host.
    bool SyncLogin(std::string& account, std::string& password) override;
    std::string SyncLanguageCode() override;
    void ShowSyncNotice(const std::string& key) override;

    // The bridge of the controller's facade: nothing to do here.
    void ForwardViewMessage(ControlMessage) override {}

private:
    plat::MsgResult Proc(plat::Message& message);
    void OnCommand(std::uint32_t id);
    void OnTrayNotify(std::intptr_t mouse);
    // Runs the window of `kind` unless it is open already (then brings it forward).
    void RunOnce(ClientWindow kind);
    // The openers report a window closed (by the user, or ended by the tray window).
    void OnWindowClosed(ClientWindow kind);
    void ToggleLogin();
    void OpenCloudWeb();
    void TellOpenFailed(const std::string& text);
    void ShowBalloon(const std::string& title, const std::string& text, std::uint32_t timeoutMs,
                     client_tray::BalloonIcon icon);
    void CountBatch();
    void OnTransferSummary(std::uintptr_t kind);
    void OnLanguage(const std::string& code);
    void OnRaise();
    void Post(std::uint32_t message, plat::Payload payload = {});
    void LeaveBus();

    ClientControl& control_;
    const UiTexts& texts_;
    Ports ports_;
    std::atomic<bool>& firstRun_;
    plat::WindowId window_ = plat::kNoWindow;
    std::unique_ptr<SyncProgramLink> sync_;
    HttpWatchdog watchdog_;
    bool listening_ = false;
    bool iconShown_ = false;
    bool exiting_ = false;
    // Held by what the desktop calls back later (a failed opener): gone with the window.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    bool syncBeforeLogout_ = false;  // the sync program ran when the user logged out
    int loginState_ = ClientLoggedOut;
    std::array<bool, kClientWindowKinds> open_{};
    bool recountArmed_ = false;
    int summaryTotal_ = 0;
    int summarySucceeded_ = 0;
    int summaryFailed_ = 0;
};
