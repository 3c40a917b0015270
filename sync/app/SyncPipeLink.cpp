#include "sync/app/SyncPipeLink.h"

#include <log4cpp/Category.hh>

#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/SyncMessages.h"

namespace {

constexpr std::string_view kUserNameKey = "UserName:";
constexpr std::string_view kPasswordKey = "Password:";
constexpr std::size_t kReadSize = 100;

}  // namespace

// ---------------------------------------------------------------- PipeCommandReader

PipeLoginData PipeCommandReader::ParseLogin(std::string_view text) {
    PipeLoginData login;
    const std::string_view rest = text.size() > kUserNameKey.size() ? text.substr(kUserNameKey.size()) : "";
    const std::size_t key = rest.find(kPasswordKey);
    login.account = std::string(rest.substr(0, key));
    if (key != std::string_view::npos) login.password = std::string(rest.substr(key + kPasswordKey.size()));
    return login;
}

void PipeCommandReader::FinishLogin(std::vector<PipeCommand>& out) {
    if (!collecting_) return;
    collecting_ = false;
    if (overflow_) {
        SyncLog().alert("Pipe login message longer than " + std::to_string(maxLogin_) +
                        " bytes dropped filepath:SyncPipeLink");
    } else {
        PipeCommand command;
        command.message = WM_PIPE_LOGIN;
        command.login = ParseLogin(login_);
        out.push_back(std::move(command));
    }
    login_.clear();
    overflow_ = false;
}

void PipeCommandReader::Feed(std::string_view bytes, std::vector<PipeCommand>& out) {
    for (const char c : bytes) {
        if (ended_) return;
        const auto byte = static_cast<unsigned char>(c);
        if (collecting_) {
            if (byte >= 10) {
                if (login_.size() < maxLogin_) {
                    login_ += c;
                } else {
                    overflow_ = true;
                }
                continue;
            }
            FinishLogin(out);  // a zero byte or a command ends the message
        }
        auto post = [&out](std::uint32_t message, std::uintptr_t wParam) {
            PipeCommand command;
            command.message = message;
            command.wParam = wParam;
            out.push_back(std::move(command));
        };
        switch (byte) {
            case 1:
                collecting_ = true;
                break;
            case 2:
                post(WM_PIPE_EXIT, 0);
                ended_ = true;
                return;
            case 3: post(WM_PIPE_OPEN_FOLDER, 0); break;
            case 4: post(WM_PIPE_SHOW_DETAILS, 0); break;
            case 5:
            case 6: post(WM_PIPE_SYNC_PAUSE, byte); break;
            case 7: post(WM_PIPE_CHOOSE_FOLDER, 0); break;
            case 8: post(WM_PIPE_LANGUAGE_ENGLISH, 0); break;
            case 9: post(WM_PIPE_LANGUAGE_CHINESE, 0); break;
            default: break;
        }
    }
}

// ---------------------------------------------------------------------- SyncPipeLink

SyncPipeLink::~SyncPipeLink() { Stop(); }

bool SyncPipeLink::Start(plat::WindowId window) {
    std::lock_guard<std::mutex> hold(lock_);
    if (reader_.joinable() || stopping_) return false;
    running_ = true;
    reader_ = std::thread([this, window] { ReaderMain(window); });
    return true;
}

void SyncPipeLink::Stop() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        stopEvent_.Set();
        command_.Shutdown();
        reply_.Shutdown();
    }
    if (reader_.joinable()) reader_.join();
    std::lock_guard<std::mutex> hold(lock_);
    command_.Close();
    reply_.Close();
    connected_ = false;
    running_ = false;
}

bool SyncPipeLink::WritePauseState(bool paused) {
    std::lock_guard<std::mutex> hold(lock_);
    if (connected_ && reply_.WriteByte(paused ? 5 : 6)) return true;
    SyncLog().debug(paused ? "Pipe send data <ProcessMsgPauseOn> failed" : "Pipe send data <ProcessMsgPauseOff> failed");
    return false;
}

bool SyncPipeLink::ConnectOne(const std::string& name, const std::string& configured, plat::LocalPipe& out) {
    const std::string path = configured.empty() ? plat::LocalPipePath(name) : configured;
    if (path.empty()) {
        SyncLog().alert("No runtime folder for the link '" + name + "' filepath:SyncPipeLink");
        return false;
    }
    plat::LocalPipe link;
    const plat::PipeStatus status = plat::ConnectLocalPipe(path, link, &stopEvent_, options_.connectTimeoutMs);
    std::lock_guard<std::mutex> hold(lock_);
    if (status != plat::PipeStatus::Ok || stopping_) {
        if (!stopping_) {
            SyncLog().alert("Link '" + EscapeForLog(path) + "' cannot be made filepath:SyncPipeLink");
        }
        return false;
    }
    out = std::move(link);
    return true;
}

void SyncPipeLink::ShutdownLinks() {
    std::lock_guard<std::mutex> hold(lock_);
    command_.Shutdown();
    reply_.Shutdown();
    connected_ = false;
}

void SyncPipeLink::ReaderMain(plat::WindowId window) {
    auto stopped = [this] {
        std::lock_guard<std::mutex> hold(lock_);
        return stopping_;
    };
    auto exitProgram = [&] {
        if (stopped()) return;
        SyncLog().debug("DravikClient Exit");
        plat::PostMessage(window, WM_PIPE_EXIT);
        ShutdownLinks();
    };

    if (!ConnectOne("WritePipe", options_.commandPath, command_) ||
        !ConnectOne("ReadPipe", options_.replyPath, reply_)) {
        exitProgram();
        running_ = false;
        return;
    }
    connected_ = true;

    PipeCommandReader reader(options_.maxLoginBytes);
    std::vector<PipeCommand> commands;
    char buffer[kReadSize];
    for (;;) {
        std::size_t received = 0;
        const int timeout = reader.CollectingLogin() ? static_cast<int>(options_.loginQuietMs) : -1;
        const plat::PipeStatus status = command_.Read(buffer, sizeof buffer, received, timeout);
        commands.clear();
        if (status == plat::PipeStatus::Timeout) {
            reader.FinishLogin(commands);
        } else if (status == plat::PipeStatus::Ok) {
            reader.Feed(std::string_view(buffer, received), commands);
        } else {
            exitProgram();  // the client closed its end, or Stop() shut the link down
            break;
        }
        for (PipeCommand& command : commands) {
            if (command.message == WM_PIPE_LOGIN) {
                SyncLog().debug("Pipe login for '" + EscapeForLog(command.login.account) + "'");
                plat::PostMessage(window, command.message, 0, 0,
                                  plat::Payload::Make<PipeLoginData>(std::move(command.login)));
            } else {
                plat::PostMessage(window, command.message, command.wParam);
            }
        }
        if (reader.Ended()) {
            ShutdownLinks();
            break;
        }
    }
    running_ = false;
}
