#include "sync/app/SyncPipeLink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sandbox.h"
#include "support/wait.h"
#include "sync/engine/SyncMessages.h"

namespace {

using plat::LocalPipe;
using plat::LocalPipeListener;
using plat::PipeStatus;

constexpr std::uint32_t kLong = 20000;  // ms; only reached when something is broken

// ---------------------------------------------------------------- the byte reader

std::vector<PipeCommand> Feed(PipeCommandReader& reader, const std::string& bytes) {
    std::vector<PipeCommand> out;
    reader.Feed(bytes, out);
    return out;
}

std::vector<std::uint32_t> Messages(const std::vector<PipeCommand>& commands) {
    std::vector<std::uint32_t> messages;
    for (const PipeCommand& c : commands) messages.push_back(c.message);
    return messages;
}

TEST(PipeCommandReaderTest, EveryCommandByteBecomesItsMessage) {
    PipeCommandReader reader;
    const auto out = Feed(reader, std::string("\x03\x04\x05\x06\x07\x08\x09\x00\x0a\xff\x05", 11));
    EXPECT_EQ(Messages(out), (std::vector<std::uint32_t>{WM_PIPE_OPEN_FOLDER, WM_PIPE_SHOW_DETAILS,
                                                         WM_PIPE_SYNC_PAUSE, WM_PIPE_SYNC_PAUSE,
                                                         WM_PIPE_CHOOSE_FOLDER, WM_PIPE_LANGUAGE_ENGLISH,
                                                         WM_PIPE_LANGUAGE_CHINESE, WM_PIPE_SYNC_PAUSE}));
    EXPECT_EQ(out[2].wParam, 5u);
    EXPECT_EQ(out[3].wParam, 6u);
    EXPECT_EQ(out[7].wParam, 5u);

    // The exit byte ends the reading: nothing after it counts, now or later.
    const auto exit = Feed(reader, "\x04\x02\x03\x04");
    EXPECT_EQ(Messages(exit), (std::vector<std::uint32_t>{WM_PIPE_SHOW_DETAILS, WM_PIPE_EXIT}));
    EXPECT_TRUE(reader.Ended());
    EXPECT_TRUE(Feed(reader, "\x03").empty());
}

TEST(PipeCommandReaderTest, TheLoginMessageIsCollectedAcrossReads) {
    PipeCommandReader reader;
    EXPECT_EQ(Messages(Feed(reader, "\x08\x01UserName:al")), std::vector<std::uint32_t>{WM_PIPE_LANGUAGE_ENGLISH});
    EXPECT_TRUE(reader.CollectingLogin());
    EXPECT_TRUE(Feed(reader, "ice@example.comPass").empty());
    EXPECT_TRUE(Feed(reader, "word:s3cr=t:").empty());
    // The next command byte ends it and is handled as well.
    const auto out = Feed(reader, "\x04");
    ASSERT_EQ(Messages(out), (std::vector<std::uint32_t>{WM_PIPE_LOGIN, WM_PIPE_SHOW_DETAILS}));
    EXPECT_EQ(out[0].login.account, "alice@example.com");
    EXPECT_EQ(out[0].login.password, "s3cr=t:");
    EXPECT_EQ(out[0].login.extra, "");
    EXPECT_FALSE(reader.CollectingLogin());

    // Or the quiet time ends it.
    Feed(reader, "\x01UserName:bobPassword:pw");
    std::vector<PipeCommand> finished;
    reader.FinishLogin(finished);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].login.account, "bob");
    EXPECT_EQ(finished[0].login.password, "pw");

    // A zero byte ends it too and is dropped.
    const auto zero = Feed(reader, std::string("\x01UserName:zPassword:q\0\x09", 24));
    ASSERT_EQ(Messages(zero), (std::vector<std::uint32_t>{WM_PIPE_LOGIN, WM_PIPE_LANGUAGE_CHINESE}));
    EXPECT_EQ(zero[0].login.password, "q");
}

TEST(PipeCommandReaderTest, LoginTextsAreSplitAsTheClientWritesThem) {
    struct Case {
        const char* text;  // after the login byte
        const char* account;
        const char* password;
    };
    const Case cases[] = {
        {"UserName:alicePassword:secret", "alice", "secret"},
        {"UserName:alice", "alice", ""},  // no "Password:": all of it is the account
        {"UserName:a Password:b Password:c", "a ", "b Password:c"},
        {"UserName:", "", ""},
        {"User", "", ""},
        {"UserName:用户Password:密码", "用户", "密码"},
    };
    for (const Case& c : cases) {
        const PipeLoginData login = PipeCommandReader::ParseLogin(c.text);
        EXPECT_EQ(login.account, c.account) << c.text;
        EXPECT_EQ(login.password, c.password) << c.text;
    }
}

TEST(PipeCommandReaderTest, AnOverlongLoginIsDropped) {
    PipeCommandReader reader(32);
    Feed(reader, "\x01UserName:" + std::string(100, 'a') + "Password:x");
    const auto out = Feed(reader, "\x03");
    EXPECT_EQ(Messages(out), std::vector<std::uint32_t>{WM_PIPE_OPEN_FOLDER});
    // The next login is read normally.
    const auto next = Feed(reader, "\x01UserName:bPassword:c\x04");
    ASSERT_EQ(Messages(next), (std::vector<std::uint32_t>{WM_PIPE_LOGIN, WM_PIPE_SHOW_DETAILS}));
    EXPECT_EQ(next[0].login.account, "b");
}

// ------------------------------------------------------------------- the link

struct Received {
    std::uint32_t message;
    std::uintptr_t wParam;
    PipeLoginData login;
};

// The client program's side (listening first, as it does) and the main window's loop.
class SyncPipeLinkTest : public ::testing::Test {
protected:
    SyncPipeLinkTest() {
        window_ = loop_.CreateWindow([this](plat::Message& m) -> plat::MsgResult {
            Received r{m.message, m.wParam, {}};
            if (auto* login = m.payload.Get<PipeLoginData>()) r.login = *login;
            received_.push_back(std::move(r));
            return 0;
        });
        EXPECT_TRUE(commandListener_.Listen(plat::LocalPipePath("WritePipe")));
        EXPECT_TRUE(replyListener_.Listen(plat::LocalPipePath("ReadPipe")));
    }

    // Starts the link and accepts both of its connections.
    void Connect(SyncPipeLink& link) {
        ASSERT_TRUE(link.Start(window_));
        ASSERT_EQ(commandListener_.Accept(command_, kLong), PipeStatus::Ok);
        ASSERT_EQ(replyListener_.Accept(reply_, kLong), PipeStatus::Ok);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return link.Connected(); }));
    }

    void Send(const std::string& bytes) { ASSERT_TRUE(command_.Write(bytes.data(), bytes.size())); }

    // Handles the window's messages until `count` have arrived.
    bool WaitForMessages(std::size_t count) {
        return testsupport::WaitUntil([&] {
            loop_.ProcessDue();
            return received_.size() >= count;
        });
    }

    std::vector<std::uint32_t> Messages() const {
        std::vector<std::uint32_t> messages;
        for (const Received& r : received_) messages.push_back(r.message);
        return messages;
    }

    testsupport::Sandbox sandbox_;
    plat::MessageLoop loop_;
    plat::WindowId window_ = plat::kNoWindow;
    std::vector<Received> received_;
    LocalPipeListener commandListener_;
    LocalPipeListener replyListener_;
    LocalPipe command_;
    LocalPipe reply_;
};

TEST_F(SyncPipeLinkTest, LanguageAndLoginInOneWrite) {
    SyncPipeLink link;
    Connect(link);
    Send("\x08\x01UserName:alicePassword:secret");
    ASSERT_TRUE(WaitForMessages(2));
    EXPECT_EQ(Messages(), (std::vector<std::uint32_t>{WM_PIPE_LANGUAGE_ENGLISH, WM_PIPE_LOGIN}));
    EXPECT_EQ(received_[1].login.account, "alice");
    EXPECT_EQ(received_[1].login.password, "secret");
    link.Stop();
}

TEST_F(SyncPipeLinkTest, ALoginSplitOverSeveralWritesIsReassembled) {
    SyncPipeLink::Options options;
    options.loginQuietMs = kLong;  // only the next command byte ends the message here
    SyncPipeLink link(options);
    Connect(link);
    Send("\x09\x01User");
    Send("Name:al");
    Send("ice@example.comPassword:");
    Send("se");
    Send("cret\x04");
    ASSERT_TRUE(WaitForMessages(3));
    EXPECT_EQ(Messages(),
              (std::vector<std::uint32_t>{WM_PIPE_LANGUAGE_CHINESE, WM_PIPE_LOGIN, WM_PIPE_SHOW_DETAILS}));
    EXPECT_EQ(received_[1].login.account, "alice@example.com");
    EXPECT_EQ(received_[1].login.password, "secret");
    link.Stop();
}

TEST_F(SyncPipeLinkTest, ALoginLongerThanOneReadEndsWhenTheBytesStop) {
    SyncPipeLink link;
    Connect(link);
    const std::string account(120, 'a');
    const std::string password(90, 'p');
    Send("\x01UserName:" + account + "Password:" + password);
    ASSERT_TRUE(WaitForMessages(1));
    EXPECT_EQ(received_[0].message, WM_PIPE_LOGIN);
    EXPECT_EQ(received_[0].login.account, account);
    EXPECT_EQ(received_[0].login.password, password);
    link.Stop();
}

TEST_F(SyncPipeLinkTest, CommandsArePostedAndTheExitByteEndsTheReader) {
    SyncPipeLink link;
    Connect(link);
    Send(std::string("\x03\x04\x05\x06\x07\x00\x0b", 7));
    ASSERT_TRUE(WaitForMessages(5));
    Send("\x02\x03\x04");
    ASSERT_TRUE(WaitForMessages(6));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !link.Running(); }));
    loop_.ProcessDue();
    EXPECT_EQ(Messages(), (std::vector<std::uint32_t>{WM_PIPE_OPEN_FOLDER, WM_PIPE_SHOW_DETAILS, WM_PIPE_SYNC_PAUSE,
                                                       WM_PIPE_SYNC_PAUSE, WM_PIPE_CHOOSE_FOLDER, WM_PIPE_EXIT}));
    EXPECT_EQ(received_[2].wParam, 5u);
    EXPECT_EQ(received_[3].wParam, 6u);

    // Both links are shut: the client sees its end break, pause notices fail.
    char byte = 0;
    std::size_t got = 0;
    EXPECT_EQ(reply_.Read(&byte, 1, got, static_cast<int>(kLong)), PipeStatus::Closed);
    EXPECT_FALSE(link.WritePauseState(true));
    link.Stop();
}

TEST_F(SyncPipeLinkTest, PauseNoticesReachTheClient) {
    SyncPipeLink link;
    EXPECT_FALSE(link.WritePauseState(true));  // not connected yet
    Connect(link);
    EXPECT_TRUE(link.WritePauseState(true));
    EXPECT_TRUE(link.WritePauseState(false));
    std::string bytes;
    char buffer[8];
    while (bytes.size() < 2) {
        std::size_t got = 0;
        ASSERT_EQ(reply_.Read(buffer, sizeof buffer, got, static_cast<int>(kLong)), PipeStatus::Ok);
        bytes.append(buffer, got);
    }
    EXPECT_EQ(bytes, "\x05\x06");
    link.Stop();
}

TEST_F(SyncPipeLinkTest, ABrokenLinkExitsTheProgram) {
    SyncPipeLink link;
    Connect(link);
    command_.Close();  // the client went away
    ASSERT_TRUE(WaitForMessages(1));
    EXPECT_EQ(Messages(), std::vector<std::uint32_t>{WM_PIPE_EXIT});
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !link.Running(); }));
    link.Stop();
}

TEST_F(SyncPipeLinkTest, StopWakesTheBlockedReaderWithoutAnExit) {
    SyncPipeLink link;
    Connect(link);
    Send("\x04");
    ASSERT_TRUE(WaitForMessages(1));
    link.Stop();  // the reader is blocked in its read: woken, joined, nothing posted
    EXPECT_FALSE(link.Running());
    loop_.ProcessDue();
    EXPECT_EQ(Messages(), std::vector<std::uint32_t>{WM_PIPE_SHOW_DETAILS});
    char byte = 0;
    std::size_t got = 0;
    EXPECT_EQ(reply_.Read(&byte, 1, got, static_cast<int>(kLong)), PipeStatus::Closed);
    EXPECT_FALSE(link.Start(window_));  // the links are never made again
}

TEST_F(SyncPipeLinkTest, StopWhileWaitingForTheClient) {
    commandListener_.Close();  // nobody listens yet
    SyncPipeLink link;
    ASSERT_TRUE(link.Start(window_));
    link.Stop();
    loop_.ProcessDue();
    EXPECT_TRUE(received_.empty());
}

TEST_F(SyncPipeLinkTest, AClientThatNeverComesExitsTheProgramAfterTheTimeOut) {
    commandListener_.Close();
    SyncPipeLink::Options options;
    options.connectTimeoutMs = 50;
    SyncPipeLink link(options);
    ASSERT_TRUE(link.Start(window_));
    ASSERT_TRUE(WaitForMessages(1));
    EXPECT_EQ(Messages(), std::vector<std::uint32_t>{WM_PIPE_EXIT});
    link.Stop();
}

}  // namespace
