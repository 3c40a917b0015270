#include "client/local/SyncProgramLink.h"

#include <log4cpp/Category.hh>

#include <algorithm>
#include <chrono>
#include <string_view>

#include "client/core/ClientLog.h"
#include "platform/process.h"
#include "platform/userdirs.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kUserNameKey = "UserName:";
constexpr std::string_view kPasswordKey = "Password:";
// How often a wait for a connection looks whether the started program still runs.
constexpr std::uint32_t kAliveCheckMs = 100;
// Time the sync program gets to end by itself when a start is abandoned.
constexpr int kTerminateGraceMs = 2000;

// The platform's processes: the sync program is a child of this one.
class ChildProcessControl final : public SyncProcessControl {
public:
    bool Start(const std::string& program, int& pid) override { return plat::Spawn({program}, false, pid); }
    bool IsAlive(int pid) override { return plat::WaitChild(pid, 0) == 258; }
    void Terminate(int pid) override { plat::TerminateChild(pid, kTerminateGraceMs); }
};

ChildProcessControl& DefaultProcessControl() {
    static ChildProcessControl control;
    return control;
}

bool HoldsCommandByte(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 10; });
}

}  // namespace

std::uint8_t SyncLanguageByte(const std::string& languageCode) {
    if (languageCode == "en") return ProcessMsgEnglish;
    if (languageCode == "zh-CN") return ProcessMsgChinese;
    return 0;
}

bool BuildSyncLoginMessage(const std::string& account, const std::string& password, std::string& out) {
    out.clear();
    const std::size_t size = 1 + kUserNameKey.size() + account.size() + kPasswordKey.size() + password.size();
    if (size > kSyncPipeReadSize - 1 || account.find(kPasswordKey) != std::string::npos ||
        HoldsCommandByte(account) || HoldsCommandByte(password)) {
        return false;
    }
    out.reserve(size);
    out += static_cast<char>(ProcessMsgLogin);
    out += kUserNameKey;
    out += account;
    out += kPasswordKey;
    out += password;
    return true;
}

SyncProgramLink::SyncProgramLink(SyncLinkHost& host, plat::WindowId window)
    : SyncProgramLink(host, window, Options()) {}

SyncProgramLink::SyncProgramLink(SyncLinkHost& host, plat::WindowId window, Options options)
    : host_(host),
      window_(window),
      options_(std::move(options)),
      process_(options_.process != nullptr ? options_.process : &DefaultProcessControl()) {}

SyncProgramLink::~SyncProgramLink() {
    if (reapArmed_) plat::KillTimer(window_, kTimerSyncReap);
    running_ = false;
    CloseLinks();
    if (pid_ != 0) process_->IsAlive(pid_);  // reaps a program that has ended
}

// ----------------------------------------------------------------- start and stop

void SyncProgramLink::ToggleSync() {
    if (running_) {
        StopSync();
        return;
    }
    if (starting_.exchange(true)) return;
    const StartResult result = Start();
    starting_ = false;
    switch (result) {
        case StartResult::Started:
            paused_ = false;
            running_ = true;
            break;
        case StartResult::LoginRefused:
            host_.ShowSyncNotice(kSyncLoginRefusedKey);
            break;
        case StartResult::Failed:
            host_.ShowSyncNotice(kSyncLoginFailedKey);
            break;
    }
}

int SyncProgramLink::StartSyncProgram() { return Start() == StartResult::Started ? 1 : 0; }

SyncProgramLink::StartResult SyncProgramLink::Start() {
    if (pid_ != 0) {
        if (IsProcessAlive(pid_)) {
            LogClientInfo("<sync> The sync program started earlier still runs; no second start");
            return StartResult::Failed;
        }
        pid_ = 0;
    }
    std::string account;
    std::string password;
    std::string login;
    if (!host_.SyncLogin(account, password)) return StartResult::Failed;
    if (!BuildSyncLoginMessage(account, password, login)) {
        LogClientInfo("<sync> The login cannot be handed to the sync program in one message; not started");
        return StartResult::LoginRefused;
    }

    // Both links listen before the program starts, so that it finds them at once.
    plat::LocalPipeListener commandListener;
    plat::LocalPipeListener replyListener;
    if (!ListenSyncPipes(commandListener, replyListener)) return StartResult::Failed;

    const std::string program =
        options_.programPath.empty() ? plat::ExecutableDir() + "/Orvane" : options_.programPath;
    int pid = 0;
    if (!process_->Start(program, pid) || pid <= 0) {
        LogClientInfo("<sync> The sync program " + program + " cannot be started");
        return StartResult::Failed;
    }
    pid_ = pid;

    if (!CreateSyncPipes(commandListener, replyListener)) {
        AbandonStart();
        return StartResult::Failed;
    }
    // One connection each: nobody else may connect later.
    commandListener.Close();
    replyListener.Close();

    const std::uint8_t language = SyncLanguageByte(host_.SyncLanguageCode());
    if (language != 0) WriteByte(language);  // its result does not matter
    if (!WriteCommand(login.data(), login.size())) {
        LogClientInfo("<sync> The login could not be handed to the sync program");
        AbandonStart();
        return StartResult::Failed;
    }

    const std::uint64_t generation = ++generation_;
    readerQuiet_ = false;
    reader_ = std::thread([this, generation] { SyncPipeReader(generation); });
    return StartResult::Started;
}

bool SyncProgramLink::ListenSyncPipes(plat::LocalPipeListener& command, plat::LocalPipeListener& reply) {
    const std::string commandPath =
        options_.commandPath.empty() ? plat::LocalPipePath("WritePipe") : options_.commandPath;
    const std::string replyPath = options_.replyPath.empty() ? plat::LocalPipePath("ReadPipe") : options_.replyPath;
    if (command.Listen(commandPath) && reply.Listen(replyPath)) return true;
    LogClientInfo("<sync> Cannot listen on the links in the runtime folder");
    command.Close();
    reply.Close();
    return false;
}

int SyncProgramLink::CreateSyncPipes(plat::LocalPipeListener& command, plat::LocalPipeListener& reply) {
    plat::LocalPipe commandLink;
    plat::LocalPipe replyLink;
    if (!AcceptFrom(command, commandLink) || !AcceptFrom(reply, replyLink)) {
        LogClientInfo("<sync> The sync program did not connect to both links");
        return 0;
    }
    std::lock_guard<std::mutex> hold(linkMutex_);
    command_ = std::move(commandLink);
    reply_ = std::move(replyLink);
    return 1;
}

bool SyncProgramLink::AcceptFrom(plat::LocalPipeListener& listener, plat::LocalPipe& out) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options_.connectTimeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        const auto slice = static_cast<std::uint32_t>(std::min<long long>(left, kAliveCheckMs));
        const plat::PipeStatus status = listener.Accept(out, slice);
        if (status == plat::PipeStatus::Ok) return true;
        if (status != plat::PipeStatus::Timeout) return false;
        if (!process_->IsAlive(pid_)) return false;  // it ended without connecting
    }
}

void SyncProgramLink::AbandonStart() {
    CloseLinks();
    process_->Terminate(pid_);
    pid_ = 0;
}

void SyncProgramLink::StopSync() {
    if (pid_ != 0 && IsProcessAlive(pid_) && !WriteByte(ProcessMsgExit)) {
        // The link is broken: the sync program ends by itself when it notices.
        LogClientInfo("<sync> The exit command could not be written; the link is closed");
    }
    running_ = false;
    CloseLinks();
    // The stopped program is reaped once it ends (no zombie is left behind).
    ReapStopped();
}

void SyncProgramLink::OnClientExit() {
    if (running_ && pid_ != 0 && IsProcessAlive(pid_)) WriteByte(ProcessMsgExit);
    running_ = false;
    restoreWanted_ = false;
    CloseLinks();
}

void SyncProgramLink::ReapStopped() {
    if (running_ || pid_ == 0) return;
    if (IsProcessAlive(pid_) == 0) {  // ended: the check reaped it
        pid_ = 0;
        if (reapArmed_) plat::KillTimer(window_, kTimerSyncReap);
        reapArmed_ = false;
        if (restoreWanted_) {
            restoreWanted_ = false;
            ToggleSync();
        }
        return;
    }
    if (!reapArmed_) reapArmed_ = plat::SetTimer(window_, kTimerSyncReap, kSyncReapMs);
}

void SyncProgramLink::RestoreAfterLogin() {
    if (running_) return;
    if (pid_ == 0) {
        ToggleSync();
        return;
    }
    // The program stopped at the logout is still ending: start once it has.
    restoreWanted_ = true;
    ReapStopped();
}

int SyncProgramLink::IsProcessAlive(int pid) { return pid > 0 && process_->IsAlive(pid) ? 1 : 0; }

void SyncProgramLink::CloseLinks() {
    readerQuiet_ = true;
    // Shutting down wakes the reader and any writer blocked on a full link; the
    // descriptors stay valid until they are closed below.
    command_.Shutdown();
    reply_.Shutdown();
    if (reader_.joinable()) reader_.join();
    std::lock_guard<std::mutex> hold(linkMutex_);
    command_.Close();
    reply_.Close();
}

// ------------------------------------------------------------------------ writing

bool SyncProgramLink::WriteCommand(const void* data, std::size_t size) {
    std::lock_guard<std::mutex> hold(linkMutex_);
    return command_.IsOpen() && command_.Write(data, size);
}

void SyncProgramLink::OpenCloudFolder() {
    if (running_) WriteByte(ProcessMsgOpenFolder);
}

void SyncProgramLink::ShowSyncList() {
    if (running_) WriteByte(ProcessMsgShowDetails);
}

void SyncProgramLink::ChangeFolder() {
    if (running_) WriteByte(ProcessMsgChooseFolder);
}

void SyncProgramLink::TogglePause() {
    if (!running_) return;
    if (paused_) {
        WriteByte(ProcessMsgPauseOff);
        paused_ = false;
    } else {
        WriteByte(ProcessMsgPauseOn);
        paused_ = true;
    }
}

void SyncProgramLink::SendLanguage(const std::string& languageCode) {
    const std::uint8_t byte = SyncLanguageByte(languageCode);
    if (byte != 0) WriteByte(byte);
}

// ------------------------------------------------------------------------ reading

bool ScanSyncReplies(const unsigned char* bytes, std::size_t size, std::vector<std::uint32_t>& out) {
    for (std::size_t i = 0; i < size; ++i) {
        switch (bytes[i]) {
            case SyncEventExit: out.push_back(WM_SYNC_EXIT); return true;  // later bytes are dropped
            case SyncEventPaused: out.push_back(WM_SYNC_PAUSED); break;
            case SyncEventResumed: out.push_back(WM_SYNC_RESUMED); break;
            default: break;
        }
    }
    return false;
}

void SyncProgramLink::SyncPipeReader(std::uint64_t generation) {
    const auto post = [this, generation](std::uint32_t message) {
        plat::PostMessage(window_, message, static_cast<std::uintptr_t>(generation));
    };
    unsigned char buffer[kSyncPipeReadSize];
    std::vector<std::uint32_t> messages;
    for (;;) {
        std::size_t received = 0;
        if (reply_.Read(buffer, sizeof buffer, received) != plat::PipeStatus::Ok) {
            if (!readerQuiet_) post(WM_SYNC_PIPE_BROKEN);
            return;
        }
        messages.clear();
        const bool ended = ScanSyncReplies(buffer, received, messages);
        for (const std::uint32_t message : messages) post(message);
        if (ended) return;
    }
}

bool SyncProgramLink::HandleMessage(const plat::Message& message) {
    if (message.message == plat::kWmTimer && message.wParam == kTimerSyncReap) {
        ReapStopped();
        return true;
    }
    switch (message.message) {
        case WM_SYNC_EXIT:
        case WM_SYNC_PAUSED:
        case WM_SYNC_RESUMED:
        case WM_SYNC_PIPE_BROKEN: break;
        default: return false;
    }
    if (message.wParam != generation_.load()) return true;  // an earlier session's
    switch (message.message) {
        case WM_SYNC_EXIT: OnSyncExit(); break;
        case WM_SYNC_PAUSED: paused_ = true; break;
        case WM_SYNC_RESUMED: paused_ = false; break;
        default: OnSyncPipeBroken(); break;
    }
    return true;
}

void SyncProgramLink::OnSyncExit() {
    ClientLog().debug("Call CDravikClientDlg::OnSyncExit");
    if (running_) StopSync();
}

void SyncProgramLink::OnSyncPipeBroken() {
    if (!running_) return;
    host_.ShowSyncNotice(kSyncBrokenKey);
    StopSync();
}
