#include "client/ui/DravikClientDlg.h"

#include <string_view>

#include "client/core/ClientLog.h"
#include "client/ui/ClientDesktop.h"
#include "client/ui/UiTexts.h"

using namespace client_tray;

namespace {

constexpr const char* kTipKey = "Dravik Client";
constexpr const char* kSummaryKey =
    "Transfer a total of %d files, including %d successful transmission files, failure %d files.";
// Balloon titles, translated like every other text.
constexpr const char* kInfoTitle = "Information";
constexpr const char* kErrorTitle = "Error";

std::size_t Index(ClientWindow window) { return static_cast<std::size_t>(window); }

std::string_view SchemeOf(const std::string& address) {
    const std::size_t end = address.find("://");
    return end == std::string::npos ? std::string_view() : std::string_view(address).substr(0, end);
}

}  // namespace

std::string WebAddressOf(const std::string& serverDomain) {
    std::string address = serverDomain;
    while (!address.empty() && (address.front() == ' ' || address.front() == '\t')) address.erase(0, 1);
    while (!address.empty() && (address.back() == ' ' || address.back() == '\t')) address.pop_back();
    if (address.empty()) return {};
    if (address.find("://") == std::string::npos) address = "http://" + address;
    std::string scheme(SchemeOf(address));
    for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (scheme != "http" && scheme != "https") return {};
    const std::size_t hostStart = address.find("://") + 3;
    if (hostStart >= address.size() || address[hostStart] == '/') return {};
    for (char c : address) {
        if (static_cast<unsigned char>(c) < 0x21) return {};
    }
    return address;
}

CDravikClientDlg::CDravikClientDlg(ClientControl& control, const UiTexts& texts, Ports ports,
                                   std::atomic<bool>& firstRun, SyncProgramLink::Options syncOptions)
    : control_(control),
      texts_(texts),
      ports_(ports),
      firstRun_(firstRun),
      watchdog_([&control] { control.Http().CheckTimeout(); }) {
    plat::MessageLoop* loop = plat::MessageLoop::Current();
    if (!loop) throw std::logic_error("CDravikClientDlg needs a message loop on its thread");
    window_ = loop->CreateWindow([this](plat::Message& message) { return Proc(message); });
    sync_ = std::make_unique<SyncProgramLink>(*this, window_, std::move(syncOptions));
    if (ports_.windows) ports_.windows->SetClosedHandler([this](ClientWindow kind) { OnWindowClosed(kind); });
}

CDravikClientDlg::~CDravikClientDlg() {
    if (ports_.windows) ports_.windows->SetClosedHandler({});
    LeaveBus();
    watchdog_.Stop();
    sync_.reset();
    plat::DestroyWindow(window_);
}

void CDravikClientDlg::LeaveBus() {
    if (!listening_) return;
    listening_ = false;
    control_.Bus().RemoveListener(this);
}

void CDravikClientDlg::Post(std::uint32_t message, plat::Payload payload) {
    plat::PostMessage(window_, message, 0, 0, std::move(payload));
}

void CDravikClientDlg::OnInitDialog() {
    loginState_ = ClientLoggedOut;
    if (ports_.tray) {
        ports_.tray->SetNotifyWindow(window_);
        iconShown_ = ports_.tray->AddIcon(CutToUnits(texts_.Text(kTipKey), kMaxTip));
        if (!iconShown_) LogClientInfo("<tray>No notification area: the client runs without its icon");
    }
    watchdog_.Start();
    listening_ = control_.Bus().AddListener(this);
    if (firstRun_.load()) {
        plat::PostMessage(window_, kWmCommand, kCmdConfigure);
    } else if (AutoLogin() != 1) {
        plat::PostMessage(window_, kWmCommand, kCmdLogin);
    }
}

int CDravikClientDlg::RunModal() {
    plat::MessageLoop* loop = plat::MessageLoop::Current();
    return loop ? loop->RunModal(window_) : plat::kModalAborted;
}

int CDravikClientDlg::AutoLogin() {
    control_.LoadUserInfoList();
    for (const UserInfo& user : control_.GetUsers()) {
        if (user.AutoLogin != 0) return control_.Login(user);
    }
    return 0;
}

bool CDravikClientDlg::IsOpen(ClientWindow window) const { return open_[Index(window)]; }

std::vector<MenuItem> CDravikClientDlg::CurrentMenu() const {
    MenuState state;
    state.loggedIn = loginState_ == ClientLoggedIn;
    state.syncRunning = sync_->IsRunning();
    state.syncPaused = sync_->IsPaused();
    return BuildMenu(state, texts_);
}

void CDravikClientDlg::ShowTrayMenu() {
    if (ports_.tray) ports_.tray->ShowMenu(CurrentMenu(), window_);
}

plat::MsgResult CDravikClientDlg::Proc(plat::Message& message) {
    if (sync_ && sync_->HandleMessage(message)) return 0;
    switch (message.message) {
        case kWmCommand:
            OnCommand(static_cast<std::uint32_t>(message.wParam));
            return 0;
        case WM_CLIENT_TRAY_NOTIFY:
            OnTrayNotify(message.lParam);
            return 0;
        case WM_TRANSFER_SUMMARY:
            OnTransferSummary(message.wParam);
            return 0;
        case WM_EXIT_FOR_UPDATE:
            OnExit();
            return 0;
        case plat::kWmTimer:
            if (message.wParam == kTimerBatchRecount) {
                plat::KillTimer(window_, kTimerBatchRecount);
                recountArmed_ = false;
                if (control_.Transfers().ExpandingBatches() == 0) CountBatch();
            }
            return 0;
        case WM_BUS_LOGIN:
            if (const TextNotice* notice = message.payload.Get<TextNotice>()) {
                ShowBalloon(texts_.Text("Login information"), notice->text, kBalloonMs, BalloonIcon::Info);
                loginState_ = notice->ok ? ClientLoggedIn : ClientLoggedOut;
                // The cloud browser opens after every successful login.
                if (notice->ok) plat::PostMessage(window_, kWmCommand, kCmdMainWindow);
                // Sync that ran before the logout runs again for the new login.
                if (notice->ok && syncBeforeLogout_) {
                    syncBeforeLogout_ = false;
                    sync_->RestoreAfterLogin();
                }
            }
            return 0;
        case WM_BUS_LOGOUT:
            if (const std::string* text = message.payload.Get<std::string>()) {
                loginState_ = ClientLoggedOut;
                ShowBalloon(texts_.Text("Logout information"), *text, kBalloonMs, BalloonIcon::Info);
            }
            return 0;
        case WM_BUS_BALLOON:
            if (const Balloon* balloon = message.payload.Get<Balloon>())
                ShowBalloon(balloon->title, balloon->text, balloon->timeoutMs, balloon->icon);
            return 0;
        case WM_BUS_FINISHED:
            // The queue keeps the batch's running counts: nothing is recounted here.
            if (message.payload.Get<TransferItem>()) CountBatch();
            return 0;
        case WM_BUS_LANGUAGE:
            if (const std::string* code = message.payload.Get<std::string>()) OnLanguage(*code);
            return 0;
        case WM_RAISE:
            OnRaise();
            return 0;
        case plat::kWmDestroy:
            LeaveBus();
            return 0;
        default:
            return 0;
    }
}

void CDravikClientDlg::OnTrayNotify(std::intptr_t mouse) {
    if (mouse == kWmLButtonUp) {
        plat::PostMessage(window_, kWmCommand, loginState_ == ClientLoggedIn ? kCmdMainWindow : kCmdLogin);
    } else if (mouse == kWmRButtonUp) {
        ShowTrayMenu();
    }
}

void CDravikClientDlg::OnCommand(std::uint32_t id) {
    const bool in = loginState_ == ClientLoggedIn;
    switch (id) {
        case kCmdMainWindow:
            if (in) RunOnce(ClientWindow::MainWindow);
            break;
        case kCmdTransferList:
            if (in) RunOnce(ClientWindow::TransferList);
            break;
        case kCmdAbout:
            RunOnce(ClientWindow::About);
            break;
        case kCmdConfigure:
            RunOnce(ClientWindow::Settings);
            break;
        case kCmdLogin:
            ToggleLogin();
            break;
        case kCmdCloudWeb:
            if (in) OpenCloudWeb();
            break;
        case kCmdExit:
            OnExit();
            break;
        case kCmdSyncToggle:
            if (in) sync_->ToggleSync();
            break;
        case kCmdCloudPath:
            if (in) sync_->OpenCloudFolder();
            break;
        case kCmdSyncList:
            if (in) sync_->ShowSyncList();
            break;
        case kCmdSyncPause:
            if (in) sync_->TogglePause();
            break;
        case kCmdChangePath:
            if (in) sync_->ChangeFolder();
            break;
        default:
            break;
    }
}

void CDravikClientDlg::RunOnce(ClientWindow kind) {
    if (!ports_.windows) return;
    bool& open = open_[Index(kind)];
    if (open) {
        ports_.windows->Raise(kind);
        return;
    }
    open = true;
    // The window opens beside the others; OnWindowClosed hears when it closes.
    switch (kind) {
        case ClientWindow::Login: ports_.windows->OpenLoginDialog(); break;
        case ClientWindow::MainWindow: ports_.windows->OpenMainWindow(); break;
        case ClientWindow::TransferList: ports_.windows->OpenTransferList(); break;
        case ClientWindow::Settings: ports_.windows->OpenSettings(); break;
        case ClientWindow::About: ports_.windows->OpenAbout(); break;
    }
}

void CDravikClientDlg::OnWindowClosed(ClientWindow kind) {
    open_[Index(kind)] = false;
    if (exiting_) return;
    // A first run opens the settings first, then the login dialog.
    if (kind == ClientWindow::Settings && firstRun_.exchange(false)) plat::PostMessage(window_, kWmCommand, kCmdLogin);
}

void CDravikClientDlg::ToggleLogin() {
    if (loginState_ == ClientLoggedOut) {
        RunOnce(ClientWindow::Login);
        return;
    }
    syncBeforeLogout_ = sync_->IsRunning();
    if (syncBeforeLogout_) sync_->StopSync();
    control_.Logout();
    // The controller is logged out now; the bus's logout notice confirms it and shows
    // its balloon, but the login dialog may open before that notice arrives.
    loginState_ = control_.GetLoginState();
    if (ports_.windows) {
        if (open_[Index(ClientWindow::MainWindow)]) ports_.windows->Close(ClientWindow::MainWindow);
        if (open_[Index(ClientWindow::TransferList)]) ports_.windows->Close(ClientWindow::TransferList);
    }
    plat::PostMessage(window_, kWmCommand, kCmdLogin);
}

void CDravikClientDlg::OpenCloudWeb() {
    const std::string address = WebAddressOf(control_.GetCurrentUser().GetServer());
    if (address.empty()) {
        LogClientInfo("<tray>Cloud Web: the server domain is no web address; nothing opened");
        TellOpenFailed(texts_.Text("The server address is no web address: ") + control_.GetCurrentUser().GetServer());
        return;
    }
    if (ports_.desktop == nullptr) return;
    // Told when the desktop's opener fails, also after it started (no browser installed).
    ports_.desktop->OpenAddress(address, [this, alive = std::weak_ptr<int>(alive_), address] {
        if (alive.expired()) return;
        LogClientInfo("<tray>Cloud Web: no web browser opened the address");
        TellOpenFailed(texts_.Text("No web browser could open the address: ") + address);
    });
}

void CDravikClientDlg::TellOpenFailed(const std::string& text) {
    // The user chose the command: a failure is shown, not only logged.
    if (ports_.desktop) ports_.desktop->MessageBox(texts_.Text(kTipKey), text, ClientDesktop::BoxIcon::Exclamation);
}

void CDravikClientDlg::OnExit() {
    if (exiting_) return;
    exiting_ = true;
    sync_->OnClientExit();
    control_.Logout();
    if (ports_.windows) {
        for (ClientWindow kind : {ClientWindow::About, ClientWindow::Login, ClientWindow::MainWindow,
                                  ClientWindow::TransferList, ClientWindow::Settings}) {
            if (open_[Index(kind)]) ports_.windows->Close(kind);
        }
    }
    if (iconShown_ && ports_.tray) ports_.tray->RemoveIcon();
    iconShown_ = false;
    watchdog_.Stop();
    plat::KillTimer(window_, kTimerBatchRecount);
    plat::EndModal(window_, 0);
}

void CDravikClientDlg::ShowBalloon(const std::string& title, const std::string& text, std::uint32_t timeoutMs,
                                   BalloonIcon icon) {
    LogClientInfo("<tray>Balloon: " + title + ": " + text);
    if (!ports_.tray || !iconShown_) return;
    Balloon balloon;
    balloon.title = CutToUnits(title, kMaxBalloonTitle);
    balloon.text = CutToUnits(text, kMaxBalloonText);
    balloon.timeoutMs = timeoutMs;
    balloon.icon = icon;
    ports_.tray->ShowBalloon(balloon);
}

void CDravikClientDlg::CountBatch() {
    // A batch still being expanded gets half a second before its results are counted.
    if (control_.Transfers().ExpandingBatches() != 0) {
        if (!recountArmed_) {
            recountArmed_ = plat::SetTimer(window_, kTimerBatchRecount, kBatchRecountMs);
        }
        return;
    }
    int total = 0, succeeded = 0, failed = 0;
    if (control_.Transfers().TakeBatchResults(total, succeeded, failed)) {
        summaryTotal_ = total;
        summarySucceeded_ = succeeded;
        summaryFailed_ = failed;
        plat::PostMessage(window_, WM_TRANSFER_SUMMARY, kSummaryBatch);
    }
}

void CDravikClientDlg::OnTransferSummary(std::uintptr_t kind) {
    if (kind != kSummaryBatch) return;
    const std::string text = FormatTranslated(texts_, kSummaryKey,
                                              {std::to_string(summaryTotal_), std::to_string(summarySucceeded_),
                                               std::to_string(summaryFailed_)});
    if (control_.GetLoginState() != ClientLoggedIn) return;
    control_.SendControlMessage(ControlMessage::Make(MessageSourceControl,
                                                     summaryFailed_ == 0 ? MessageInfoTip : MessageErrorTip, text));
}

void CDravikClientDlg::OnLanguage(const std::string& code) {
    sync_->SendLanguage(code);
    if (ports_.tray && iconShown_) {
        ports_.tray->ClearBalloon();
        ports_.tray->SetTip(CutToUnits(texts_.Text(kTipKey), kMaxTip));
    }
}

void CDravikClientDlg::OnRaise() {
    for (ClientWindow kind : {ClientWindow::Login, ClientWindow::MainWindow, ClientWindow::Settings,
                              ClientWindow::TransferList, ClientWindow::About}) {
        if (open_[Index(kind)]) {
            if (ports_.windows) ports_.windows->Raise(kind);
            return;
        }
    }
    OnTrayNotify(kWmLButtonUp);
}

// ---------------------------------------------------------------- bus slots

void CDravikClientDlg::OnLoginResult(const TextNotice& notice) {
    Post(WM_BUS_LOGIN, plat::Payload::Make<TextNotice>(notice));
}

void CDravikClientDlg::OnLogoutResult(const std::string& text) {
    Post(WM_BUS_LOGOUT, plat::Payload::Make<std::string>(text));
}

void CDravikClientDlg::OnTip(const std::string& text) {
    Post(WM_BUS_BALLOON, plat::Payload::Make<Balloon>(Balloon{texts_.Text("Tips"), text, 5 * kBalloonMs, BalloonIcon::Info}));
}

void CDravikClientDlg::OnInfoTip(const std::string& text) {
    Post(WM_BUS_BALLOON, plat::Payload::Make<Balloon>(Balloon{texts_.Text(kInfoTitle), text, 5 * kBalloonMs, BalloonIcon::Info}));
}

void CDravikClientDlg::OnErrorTip(const std::string& text) {
    Post(WM_BUS_BALLOON, plat::Payload::Make<Balloon>(Balloon{texts_.Text(kErrorTitle), text, 5 * kBalloonMs, BalloonIcon::Error}));
}

void CDravikClientDlg::OnTransferTaskFinished(const TransferItem& item) {
    Post(WM_BUS_FINISHED, plat::Payload::Make<TransferItem>(item));
}

void CDravikClientDlg::OnLanguageChanged(const std::string& languageCode) {
    Post(WM_BUS_LANGUAGE, plat::Payload::Make<std::string>(languageCode));
}

// ---------------------------------------------------------------- sync link host

bool CDravikClientDlg::SyncLogin(std::string& account, std::string& password) {
    if (control_.GetLoginState() != ClientLoggedIn) return false;
    const UserInfo last = control_.GetLastLoginUser();
    if (last.Account.empty()) return false;
    account = last.Account;
    password = last.Password;
    return true;
}

std::string CDravikClientDlg::SyncLanguageCode() { return control_.Languages().GetCurrentCode(); }

void CDravikClientDlg::ShowSyncNotice(const std::string& key) {
    control_.SendControlMessage(ControlMessage::Make(MessageSourceControl, MessageInfoTip, texts_.Text(key)));
}
