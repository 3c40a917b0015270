// The client's side of the link with the sync program: the bytes it writes, the events it
// reads, starting and stopping, against an in-process sync program (a peer thread on the
// platform's sockets behind a fake process control).
#include "client/local/SyncProgramLink.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/localpipe.h"
#include "platform/waitable.h"
#include "support/sandbox.h"
#include "support/wait.h"
#include "testserver/TestServer.h"

namespace {

namespace fs = std::filesystem;
using testsupport::WaitUntil;

constexpr std::uint32_t kLong = 20000;  // ms; only reached when something is broken

// The sync program's side, on a thread: connects to both links as the sync program does,
// records what arrives on "WritePipe", writes what the test asks on "ReadPipe" and ends
// when the exit byte arrives.
class FakeSync {
public:
    enum class Behaviour { Connect, NeverConnect, EndAtOnce };

    explicit FakeSync(Behaviour behaviour) : behaviour_(behaviour) {
        if (behaviour_ == Behaviour::EndAtOnce) {
            alive_ = false;
            return;
        }
        thread_ = std::thread([this] { Main(); });
    }
    ~FakeSync() { End(); }

    // The program ends: its links close.
    void End() {
        alive_ = false;
        stop_.Set();
        ShutdownLinks();
        if (thread_.joinable()) thread_.join();
        command_.Close();
        reply_.Close();
    }
    // Closes its links but keeps running (as a hung program would look).
    void CloseLinks() {
        ShutdownLinks();
        if (thread_.joinable()) thread_.join();
    }

    bool Alive() const { return alive_; }
    bool Connected() const { return connected_; }
    std::string Received() {
        std::lock_guard<std::mutex> hold(mutex_);
        return received_;
    }
    bool Send(const std::string& bytes) {
        if (!WaitUntil([&] { return connected_.load(); })) return false;
        std::lock_guard<std::mutex> hold(mutex_);
        return reply_.Write(bytes.data(), bytes.size());
    }

private:
    void ShutdownLinks() {
        std::lock_guard<std::mutex> hold(mutex_);
        closing_ = true;
        command_.Shutdown();
        reply_.Shutdown();
    }

    void Main() {
        if (behaviour_ == Behaviour::NeverConnect) {
            stop_.Wait(0xFFFFFFFFu);
            return;
        }
        plat::LocalPipe command;
        plat::LocalPipe reply;
        if (plat::ConnectLocalPipe(plat::LocalPipePath("WritePipe"), command, &stop_, kLong) != plat::PipeStatus::Ok ||
            plat::ConnectLocalPipe(plat::LocalPipePath("ReadPipe"), reply, &stop_, kLong) != plat::PipeStatus::Ok) {
            return;
        }
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (!alive_ || closing_) return;  // ended or closed meanwhile
            command_ = std::move(command);
            reply_ = std::move(reply);
            connected_ = true;
        }
        char buffer[100];
        for (;;) {
            std::size_t received = 0;
            if (command_.Read(buffer, sizeof buffer, received) != plat::PipeStatus::Ok) return;
            {
                std::lock_guard<std::mutex> hold(mutex_);
                received_.append(buffer, received);
            }
            if (std::string_view(buffer, received).find('\x02') != std::string_view::npos) {
                alive_ = false;
                ShutdownLinks();
                return;
            }
        }
    }

    Behaviour behaviour_;
    std::thread thread_;
    plat::Event stop_{true, false};
    plat::LocalPipe command_;
    plat::LocalPipe reply_;
    std::atomic<bool> alive_{true};
    std::atomic<bool> connected_{false};
    std::mutex mutex_;  // guards the links while they are stored and shut down, and received_
    bool closing_ = false;
    std::string received_;
};

class FakeProcesses : public SyncProcessControl {
public:
    bool Start(const std::string& program, int& pid) override {
        programs.push_back(program);
        if (failStart) return false;
        pid = nextPid++;
        peers[pid] = std::make_unique<FakeSync>(behaviour);
        return true;
    }
    bool IsAlive(int pid) override { return peers.count(pid) != 0 && peers[pid]->Alive(); }
    void Terminate(int pid) override {
        terminated.push_back(pid);
        if (peers.count(pid) != 0) peers[pid]->End();
    }

    FakeSync& Last() { return *peers.rbegin()->second; }

    FakeSync::Behaviour behaviour = FakeSync::Behaviour::Connect;
    bool failStart = false;
    int nextPid = 100;
    std::vector<std::string> programs;
    std::vector<int> terminated;
    std::map<int, std::unique_ptr<FakeSync>> peers;
};

class RecordingHost : public SyncLinkHost {
public:
    bool SyncLogin(std::string& a, std::string& p) override {
        a = account;
        p = password;
        return loggedIn;
    }
    std::string SyncLanguageCode() override { return language; }
    void ShowSyncNotice(const std::string& key) override { notices.push_back(key); }

    bool loggedIn = true;
    std::string account = "alice";
    std::string password = "secret";
    std::string language = "en";
    std::vector<std::string> notices;
};

class SyncProgramLinkTest : public ::testing::Test {
protected:
    SyncProgramLinkTest() {
        window_ = loop_.CreateWindow([this](plat::Message& m) -> plat::MsgResult {
            if (m.message == kMarker) ++markers_;
            if (link_->HandleMessage(m)) ++handled_;
            return 0;
        });
        SyncProgramLink::Options options;
        options.programPath = "/opt/dravik/Orvane";
        options.process = &processes_;
        link_ = std::make_unique<SyncProgramLink>(host_, window_, options);
    }
    ~SyncProgramLinkTest() override { link_.reset(); }

    // Starts the sync program through the tray command and checks it runs.
    void Open() {
        link_->ToggleSync();
        ASSERT_TRUE(link_->IsRunning());
        ASSERT_TRUE(host_.notices.empty());
    }
    // Handles the window's messages until `condition` holds.
    bool PumpUntil(const std::function<bool()>& condition) {
        return WaitUntil([&] {
            loop_.ProcessDue();
            return condition();
        });
    }
    bool PeerReceived(const std::string& bytes) {
        return WaitUntil([&] { return processes_.Last().Received() == bytes; });
    }

    testsupport::Sandbox sandbox_;
    plat::MessageLoop loop_;
    plat::WindowId window_ = plat::kNoWindow;
    int handled_ = 0;
    // A message of the test's own, posted behind others: once it is handled, so are they.
    static constexpr std::uint32_t kMarker = plat::kWmUser + 0x3f0;
    int markers_ = 0;
    FakeProcesses processes_;
    RecordingHost host_;
    std::unique_ptr<SyncProgramLink> link_;
};

const std::string kHello = std::string("\x08") + "\x01UserName:alicePassword:secret";

TEST(SyncLoginMessageTest, FitsOneReadOfTheSyncProgramOrIsRefused) {
    struct Case {
        std::string account;
        std::string password;
        bool ok;
    };
    const Case cases[] = {
        {"alice", "secret", true},
        {"", "", true},
        {std::string(40, 'a'), std::string(40, 'p'), true},  // 99 bytes, the language byte makes 100
        {std::string(41, 'a'), std::string(40, 'p'), false},
        {"用户", "密码", true},
        {"bobPassword:x", "pw", false},  // the sync program would cut the account there
        {"bob", "Password:is fine here", true},
        {std::string("b\0b", 3), "pw", false},
        {"bob", "p\x05w", false},  // read as a command byte
        {"bob", "tab\there", false},
        {"bob", "line\nfeed", true},
    };
    for (const Case& c : cases) {
        std::string message;
        EXPECT_EQ(BuildSyncLoginMessage(c.account, c.password, message), c.ok) << c.account << " / " << c.password;
        if (c.ok) {
            EXPECT_EQ(message, "\x01UserName:" + c.account + "Password:" + c.password);
            EXPECT_LE(message.size() + 1, kSyncPipeReadSize);
        } else {
            EXPECT_TRUE(message.empty());
        }
    }
    EXPECT_EQ(SyncLanguageByte("en"), 8);
    EXPECT_EQ(SyncLanguageByte("zh-CN"), 9);
    EXPECT_EQ(SyncLanguageByte("zh"), 0);
    EXPECT_EQ(SyncLanguageByte(""), 0);
}

TEST_F(SyncProgramLinkTest, StartHandsOverLanguageAndLoginAndLeavesNoListener) {
    Open();
    EXPECT_EQ(processes_.programs, std::vector<std::string>{"/opt/dravik/Orvane"});
    ASSERT_TRUE(PeerReceived(kHello));
    EXPECT_FALSE(link_->IsPaused());
    EXPECT_EQ(link_->ProcessId(), 100);
    // One connection each: the listening sockets are gone.
    EXPECT_FALSE(fs::exists(sandbox_.RuntimeDir() / "WritePipe"));
    EXPECT_FALSE(fs::exists(sandbox_.RuntimeDir() / "ReadPipe"));
}

TEST_F(SyncProgramLinkTest, ALanguageWithoutItsByteSendsOnlyTheLogin) {
    host_.language = "fr";
    Open();
    EXPECT_TRUE(PeerReceived("\x01UserName:alicePassword:secret"));
}

TEST_F(SyncProgramLinkTest, TrayCommandsAndLanguageChangesWriteTheirBytes) {
    // Nothing is written while the sync program does not run.
    link_->OpenCloudFolder();
    link_->TogglePause();
    EXPECT_FALSE(link_->IsPaused());

    Open();
    link_->OpenCloudFolder();
    link_->ShowSyncList();
    link_->TogglePause();
    EXPECT_TRUE(link_->IsPaused());
    link_->TogglePause();
    EXPECT_FALSE(link_->IsPaused());
    link_->ChangeFolder();
    std::thread bus([this] {  // language changes come from the bus's thread
        link_->SendLanguage("zh-CN");
        link_->SendLanguage("de");
        link_->SendLanguage("en");
    });
    bus.join();
    EXPECT_TRUE(PeerReceived(kHello + "\x03\x04\x05\x06\x07\x09\x08"));
}

TEST_F(SyncProgramLinkTest, PauseAndResumeFromTheSyncProgramFollowInTheClient) {
    Open();
    ASSERT_TRUE(processes_.Last().Send("\x05"));
    ASSERT_TRUE(PumpUntil([&] { return link_->IsPaused(); }));
    ASSERT_TRUE(processes_.Last().Send(std::string("\x01\x06\x00", 3)));  // other bytes are ignored
    ASSERT_TRUE(PumpUntil([&] { return !link_->IsPaused(); }));
    EXPECT_TRUE(link_->IsRunning());
    // The next pause command follows the reported state.
    link_->TogglePause();
    EXPECT_TRUE(PeerReceived(kHello + "\x05"));
}

TEST_F(SyncProgramLinkTest, CloseWritesTheExitByteAndShowsNoNotice) {
    Open();
    ASSERT_TRUE(PeerReceived(kHello));
    link_->ToggleSync();
    EXPECT_FALSE(link_->IsRunning());
    EXPECT_TRUE(PeerReceived(kHello + "\x02"));
    // The sync program ends; its broken link after a deliberate stop shows nothing.
    ASSERT_TRUE(WaitUntil([&] { return !processes_.Last().Alive(); }));
    loop_.ProcessDue();
    EXPECT_TRUE(host_.notices.empty());
    EXPECT_TRUE(processes_.terminated.empty());
}

TEST_F(SyncProgramLinkTest, TheSyncProgramEndingBreaksTheLinkWithANotice) {
    Open();
    processes_.Last().End();
    ASSERT_TRUE(PumpUntil([&] { return !link_->IsRunning(); }));
    EXPECT_EQ(host_.notices, std::vector<std::string>{kSyncBrokenKey});
    // It can be opened again.
    host_.notices.clear();
    Open();
    EXPECT_EQ(link_->ProcessId(), 101);
}

TEST_F(SyncProgramLinkTest, ExitEventStopsTheLinkAndDropsWhatFollows) {
    Open();
    ASSERT_TRUE(processes_.Last().Send("\x02\x05"));
    ASSERT_TRUE(PumpUntil([&] { return !link_->IsRunning(); }));
    EXPECT_FALSE(link_->IsPaused()) << "the byte after the exit is not read";
    EXPECT_TRUE(PeerReceived(kHello + "\x02")) << "the program still ran: it is told to exit";
    EXPECT_TRUE(host_.notices.empty());
}

TEST_F(SyncProgramLinkTest, MessagesOfAnEarlierSessionAreIgnored) {
    Open();
    const std::uintptr_t first = 1;
    link_->ToggleSync();
    ASSERT_TRUE(WaitUntil([&] { return !processes_.Last().Alive(); }));
    Open();
    ASSERT_TRUE(PeerReceived(kHello));
    // A broken-link report of the first session arriving late must not stop the second.
    plat::PostMessage(window_, WM_SYNC_PIPE_BROKEN, first);
    plat::PostMessage(window_, WM_SYNC_EXIT, first);
    plat::PostMessage(window_, WM_SYNC_PAUSED, first);
    // The first session's own reader may still report its end: count by a marker posted
    // behind the three, not by the number handled.
    plat::PostMessage(window_, kMarker, 0);
    ASSERT_TRUE(PumpUntil([&] { return markers_ == 1; }));
    EXPECT_TRUE(link_->IsRunning());
    EXPECT_FALSE(link_->IsPaused());
    EXPECT_TRUE(host_.notices.empty());
    // The current session's messages count.
    plat::PostMessage(window_, WM_SYNC_PAUSED, first + 1);
    ASSERT_TRUE(PumpUntil([&] { return link_->IsPaused(); }));
}

TEST_F(SyncProgramLinkTest, AFailedExitByteStillLeavesTheRunningState) {
    Open();
    // The links break while the process still looks alive.
    processes_.Last().CloseLinks();
    link_->ToggleSync();
    EXPECT_FALSE(link_->IsRunning());
    loop_.ProcessDue();
    EXPECT_TRUE(host_.notices.empty());
    // A new start is refused while that process lives.
    link_->ToggleSync();
    EXPECT_FALSE(link_->IsRunning());
    EXPECT_EQ(host_.notices, std::vector<std::string>{kSyncLoginFailedKey});
    EXPECT_EQ(processes_.programs.size(), 1u);
}

TEST_F(SyncProgramLinkTest, ClientExitWritesTheExitByteOnlyToALiveProgram) {
    Open();
    link_->OnClientExit();
    EXPECT_FALSE(link_->IsRunning());
    EXPECT_TRUE(PeerReceived(kHello + "\x02"));
    ASSERT_TRUE(WaitUntil([&] { return !processes_.Last().Alive(); }));

    Open();
    ASSERT_TRUE(PeerReceived(kHello));
    processes_.Last().End();
    link_->OnClientExit();
    EXPECT_FALSE(link_->IsRunning());
    EXPECT_EQ(processes_.Last().Received(), kHello);
}

TEST_F(SyncProgramLinkTest, ALoginTooLongForOneReadIsRefusedBeforeAnythingStarts) {
    host_.password = std::string(80, 'p');
    link_->ToggleSync();
    EXPECT_FALSE(link_->IsRunning());
    EXPECT_EQ(host_.notices, std::vector<std::string>{kSyncLoginRefusedKey});
    EXPECT_TRUE(processes_.programs.empty());
    EXPECT_FALSE(fs::exists(sandbox_.RuntimeDir() / "WritePipe"));
}

TEST_F(SyncProgramLinkTest, FailedStartsEndTheProgramAndShowTheLoginNotice) {
    struct Case {
        const char* name;
        bool failStart;
        FakeSync::Behaviour behaviour;
        bool terminated;
    };
    const Case cases[] = {
        {"not startable", true, FakeSync::Behaviour::Connect, false},
        {"never connects", false, FakeSync::Behaviour::NeverConnect, true},
        // Ends at once: the wait gives up without waiting for the time-out.
        {"ends without connecting", false, FakeSync::Behaviour::EndAtOnce, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeProcesses processes;
        processes.failStart = c.failStart;
        processes.behaviour = c.behaviour;
        RecordingHost host;
        SyncProgramLink::Options options;
        options.process = &processes;
        options.connectTimeoutMs = c.behaviour == FakeSync::Behaviour::NeverConnect ? 300 : 600000;
        SyncProgramLink link(host, window_, options);
        link.ToggleSync();
        EXPECT_FALSE(link.IsRunning());
        EXPECT_FALSE(link.IsStarting());
        EXPECT_EQ(host.notices, std::vector<std::string>{kSyncLoginFailedKey});
        EXPECT_EQ(processes.terminated.size(), c.terminated ? 1u : 0u);
        EXPECT_EQ(link.ProcessId(), 0);
        EXPECT_FALSE(fs::exists(sandbox_.RuntimeDir() / "WritePipe"));
        EXPECT_FALSE(fs::exists(sandbox_.RuntimeDir() / "ReadPipe"));
    }
}

TEST_F(SyncProgramLinkTest, NobodyLoggedInStartsNothing) {
    host_.loggedIn = false;
    link_->ToggleSync();
    EXPECT_FALSE(link_->IsRunning());
    EXPECT_TRUE(processes_.programs.empty());
    EXPECT_EQ(host_.notices, std::vector<std::string>{kSyncLoginFailedKey});
}

TEST_F(SyncProgramLinkTest, DestroyingTheLinkWhileRunningEndsTheReader) {
    Open();
    ASSERT_TRUE(PeerReceived(kHello));
    link_.reset();  // joins the reader; nothing is written
    EXPECT_EQ(processes_.Last().Received(), kHello);
}

// ------------------------------------------------------------ real processes

// Text of a file, empty while it does not exist.
std::string FileText(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec) ? testsupport::ReadFile(path) : std::string();
}

bool ProcessGone(int pid) { return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH; }

class SyncProgramProcessTest : public ::testing::Test {
protected:
    SyncProgramProcessTest() {
        window_ = loop_.CreateWindow([this](plat::Message& m) -> plat::MsgResult {
            if (link_) link_->HandleMessage(m);
            return 0;
        });
    }
    void MakeLink(const std::string& program, std::uint32_t connectTimeoutMs = 30000) {
        SyncProgramLink::Options options;
        options.programPath = program;
        options.connectTimeoutMs = connectTimeoutMs;
        link_ = std::make_unique<SyncProgramLink>(host_, window_, options);
    }
    fs::path Runtime(const char* name) const { return sandbox_.RuntimeDir() / name; }
    int StubPid() const {
        const std::string text = FileText(Runtime("sync-stub.pid"));
        return text.empty() ? 0 : std::stoi(text);
    }

    testsupport::Sandbox sandbox_;
    plat::MessageLoop loop_;
    plat::WindowId window_ = plat::kNoWindow;
    RecordingHost host_;
    std::unique_ptr<SyncProgramLink> link_;
};

TEST_F(SyncProgramProcessTest, AStubProgramIsStartedHandedTheLoginAndStopped) {
    MakeLink(SYNC_STUB_PATH);
    link_->ToggleSync();
    ASSERT_TRUE(link_->IsRunning());
    const int pid = link_->ProcessId();
    EXPECT_EQ(pid, StubPid());
    ASSERT_TRUE(WaitUntil([&] { return FileText(Runtime("sync-stub.received")) == kHello; }));
    link_->ToggleSync();
    EXPECT_FALSE(link_->IsRunning());
    ASSERT_TRUE(WaitUntil([&] { return FileText(Runtime("sync-stub.ended")) == "ended"; }));
    EXPECT_EQ(FileText(Runtime("sync-stub.received")), kHello + "\x02");
    EXPECT_TRUE(WaitUntil([&] { return link_->IsProcessAlive(pid) == 0; }));
    EXPECT_TRUE(ProcessGone(pid)) << "reaped";
    EXPECT_TRUE(host_.notices.empty());
}

TEST_F(SyncProgramProcessTest, AProgramThatEndsOrNeverConnectsFailsTheStart) {
    for (const char* mode : {"exit", "silent"}) {
        SCOPED_TRACE(mode);
        testsupport::WriteFile(Runtime("sync-stub.mode"), mode);
        fs::remove(Runtime("sync-stub.pid"));
        host_.notices.clear();
        // A program that ended is noticed at once; one that never connects is waited for
        // (long enough for a slow start to have written its process id).
        MakeLink(SYNC_STUB_PATH, std::string(mode) == "exit" ? 600000 : 2000);
        link_->ToggleSync();
        EXPECT_FALSE(link_->IsRunning());
        EXPECT_EQ(host_.notices, std::vector<std::string>{kSyncLoginFailedKey});
        const int pid = StubPid();
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(ProcessGone(pid)) << "ended and reaped";
    }
}

TEST_F(SyncProgramProcessTest, AMissingProgramFailsTheStart) {
    MakeLink((sandbox_.Root() / "no-such-program").string());
    link_->ToggleSync();
    EXPECT_FALSE(link_->IsRunning());
    EXPECT_EQ(host_.notices, std::vector<std::string>{kSyncLoginFailedKey});
}

// The real sync program, started as the client starts it: it takes the login, fills the
// sync folder from the test server, follows a pause and ends on the exit byte.
TEST_F(SyncProgramProcessTest, TheRealSyncProgramRunsForTheClient) {
    const fs::path seed = sandbox_.Dir("seed");
    testsupport::WriteFile(seed / "hello.txt", "hello");
    testserver::ServerOptions serverOptions;
    serverOptions.dataDir = sandbox_.Dir("server");
    serverOptions.users = {{"demo", "secret"}};
    serverOptions.seedDir = seed;
    testserver::TestServer server(serverOptions);
    server.Start();
    testsupport::WriteFile(sandbox_.ConfigHome() / "Parv" / "Orvane.ini",
                           "ServerTime=1\nServerAddress=127.0.0.1:" + std::to_string(server.Port()) + "/dravik\n");
    const char* binary = std::getenv("DRAVIK_BINARY_DIR");
    ASSERT_NE(binary, nullptr);
    MakeLink((fs::path(binary) / "bin" / "Orvane").string());
    host_.account = "demo";

    link_->ToggleSync();
    ASSERT_TRUE(link_->IsRunning()) << (host_.notices.empty() ? "" : host_.notices[0]);
    const int pid = link_->ProcessId();
    const fs::path file = sandbox_.Home() / "Documents" / "Nuvet云盘" / "demo" / "hello.txt";
    ASSERT_TRUE(WaitUntil([&] { return FileText(file) == "hello"; }, std::chrono::seconds(60)));

    const fs::path log = sandbox_.DataHome() / "DravikSync" / "DravikSync.Log";
    link_->TogglePause();
    EXPECT_TRUE(link_->IsPaused());
    EXPECT_TRUE(WaitUntil([&] { return FileText(log).find("OnSyncPause") != std::string::npos; }));

    link_->ToggleSync();
    EXPECT_FALSE(link_->IsRunning());
    EXPECT_TRUE(WaitUntil([&] { return link_->IsProcessAlive(pid) == 0; }, std::chrono::seconds(60)));
    EXPECT_NE(FileText(log).find("call COrvaneApp::ExitInstance()"), std::string::npos);
    loop_.ProcessDue();
    EXPECT_TRUE(host_.notices.empty());
}

}  // namespace
