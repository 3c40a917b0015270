#include "OrvaneWorld.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/sharedmem.h"
#include "platform/text.h"
#include "support/wait.h"
#include "sync/app/SyncGlobals.h"

namespace orvanetest {

namespace fs = std::filesystem;

std::atomic<int> OrvaneWorld::worldCount_{0};

std::optional<std::u16string> TestShell::BrowseForFolder(const std::u16string& title, const std::u16string& current) {
    std::lock_guard<std::mutex> hold(lock_);
    if (choices_.empty()) return HeadlessShell::BrowseForFolder(title, current);
    std::u16string folder = choices_.front();
    choices_.erase(choices_.begin());
    return folder;
}

void TestShell::QueueFolderChoice(std::u16string folder) {
    std::lock_guard<std::mutex> hold(lock_);
    choices_.push_back(std::move(folder));
}

OrvaneWorld::OrvaneWorld(const std::map<std::string, std::string>& serverSeed,
                         const std::map<std::string, std::string>& localSeed)
    : tableName_("OrvaneTestTable-" + std::to_string(::getpid()) + "-" + std::to_string(++worldCount_)),
      local_(sandbox_.Root() / "cloud") {
    server_ = std::make_unique<testsupport::RunningServer>(sandbox_,
                                                           testsupport::ServerAccounts{{kAccount, kPassword}});
    remote_ = std::make_unique<testsupport::ServerSide>(*server_, kAccount);
    remote_->Seed(serverSeed);
    fs::create_directories(local_.Root());
    local_.Seed(localSeed);

    // The profile names the test server.
    const fs::path profile = sandbox_.ConfigHome() / "Parv" / "Orvane.ini";
    testsupport::WriteFile(profile, "ServerTime=1\nServerAddress=127.0.0.1:" + std::to_string(server_->Port()) +
                                        "/dravik\n");

    shell_ = std::make_shared<TestShell>();
    tray_ = std::make_shared<HeadlessTray>();
    chooser_ = std::make_shared<FixedChooser>(plat::ToUtf16(local_.Root().string()));
}

OrvaneWorld::~OrvaneWorld() {
    if (appThread_.joinable()) {
        if (!ended_) Exit();
        if (!ended_ && app_) app_->RequestExit();
    }
    ForgetProgram();
    remote_.reset();
    server_.reset();
    plat::SharedMemory::Remove(tableName_);
    // For a look at a failed run: ORVANE_TEST_LOG names a file that gets the program's log.
    if (const char* keep = std::getenv("ORVANE_TEST_LOG")) {
        std::error_code ec;
        fs::copy_file(DataFolder() / "DravikSync.Log", keep, fs::copy_options::overwrite_existing, ec);
    }
}

void OrvaneWorld::ForgetProgram() {
    if (appThread_.joinable()) appThread_.join();
    reply_.Shutdown();
    if (replyReader_.joinable()) replyReader_.join();
    reply_.Close();
    command_.Close();
    app_.reset();
}

bool OrvaneWorld::Start(bool login) {
    // A program that ran before is gone, with its links.
    ForgetProgram();
    ended_ = false;
    exitCode_ = -1;
    {
        std::lock_guard<std::mutex> hold(replyLock_);
        replies_.clear();
    }
    if (!commandListener_.IsListening() && !commandListener_.Listen(plat::LocalPipePath("WritePipe"))) return false;
    if (!replyListener_.IsListening() && !replyListener_.Listen(plat::LocalPipePath("ReadPipe"))) return false;

    OrvaneOptions options;
    options.shell = shell_;
    options.tray = tray_;
    options.chooser = chooser_;
    options.serverPollMs = serverPollMs_;
    options.networkPollMs = 50;
    options.networkProbe = [this] { return networkUp_.load(); };
    options.sharedTableName = plat::ToUtf16(tableName_);
    options.onCycleEnd = [this] { CycleEnded(); };
    app_ = std::make_unique<COrvaneApp>(options);
    appThread_ = std::thread([this] {
        exitCode_ = app_->Run();
        ended_ = true;
        CycleEnded();
    });
    if (commandListener_.Accept(command_, 20000) != plat::PipeStatus::Ok) return false;
    if (replyListener_.Accept(reply_, 20000) != plat::PipeStatus::Ok) return false;
    replyReader_ = std::thread([this] {
        char buffer[32];
        for (;;) {
            std::size_t received = 0;
            if (reply_.Read(buffer, sizeof buffer, received) != plat::PipeStatus::Ok) return;
            std::lock_guard<std::mutex> hold(replyLock_);
            replies_.append(buffer, received);
        }
    });
    if (!login) return true;
    std::string hello = "\x08\x01UserName:";
    hello += kAccount;
    hello += "Password:";
    hello += kPassword;
    return command_.Write(hello.data(), hello.size());
}

bool OrvaneWorld::SendByte(std::uint8_t byte) { return command_.WriteByte(byte); }

std::string OrvaneWorld::Replies() {
    std::lock_guard<std::mutex> hold(replyLock_);
    return replies_;
}

int OrvaneWorld::Exit() {
    if (!appThread_.joinable()) return exitCode_;
    SendByte(2);
    if (!WaitEnded(std::chrono::seconds(60))) return -1;
    appThread_.join();
    return exitCode_;
}

bool OrvaneWorld::WaitEnded(std::chrono::milliseconds timeout) {
    return testsupport::WaitUntil([this] { return ended_.load(); }, timeout);
}

bool OrvaneWorld::PostCommand(std::uint32_t command) {
    const plat::WindowId window = app_ ? app_->MainWindowId() : plat::kNoWindow;
    return window != plat::kNoWindow && plat::PostMessage(window, orvane::kWmCommand, command, 0);
}

// ---------------------------------------------------------------- waits

void OrvaneWorld::CycleEnded() {
    {
        std::lock_guard<std::mutex> hold(cycleLock_);
        ++cycles_;
    }
    cycleEnded_.notify_all();
}

bool OrvaneWorld::WaitCycleEnd(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> hold(cycleLock_);
    for (;;) {
        // A cycle that ends while `done` is looked at is not missed: its count differs.
        const std::uint64_t seen = cycles_;
        hold.unlock();
        if (done()) return true;
        hold.lock();
        if (!cycleEnded_.wait_until(hold, deadline, [&] { return cycles_ != seen; })) {
            hold.unlock();
            return done();
        }
    }
}

bool OrvaneWorld::WaitInSync(std::chrono::milliseconds timeout) {
    return WaitCycleEnd(
        [this] {
            COrvaneDlg* window = Window();
            if (window == nullptr || window->CommitState() != 2) return false;
            return static_cast<bool>(testsupport::SameTrees(local_, *remote_));
        },
        timeout);
}

bool OrvaneWorld::WaitBothEqual(const TreeImage& expected, std::chrono::milliseconds timeout) {
    return WaitCycleEnd([&] { return local_.Image() == expected && remote_->Image() == expected; }, timeout);
}

}  // namespace orvanetest
