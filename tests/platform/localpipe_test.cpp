#include "platform/localpipe.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/waitable.h"
#include "support/sandbox.h"
#include "support/wait.h"

namespace {

namespace fs = std::filesystem;
using plat::LocalPipe;
using plat::LocalPipeListener;
using plat::PipeStatus;

constexpr std::uint32_t kLong = 20000;  // ms; only reached when something is broken

// A listener and a connected pair of ends over it.
struct Link {
    LocalPipeListener listener;
    LocalPipe server;  // the client program's end
    LocalPipe client;  // the sync program's end

    explicit Link(const std::string& path) {
        EXPECT_TRUE(listener.Listen(path));
        EXPECT_EQ(plat::ConnectLocalPipe(path, client, nullptr, kLong), PipeStatus::Ok);
        EXPECT_EQ(listener.Accept(server, kLong), PipeStatus::Ok);
    }
};

std::string ReadSome(LocalPipe& pipe, std::size_t count) {
    std::string text;
    char buffer[64];
    while (text.size() < count) {
        std::size_t received = 0;
        if (pipe.Read(buffer, sizeof buffer, received, static_cast<int>(kLong)) != PipeStatus::Ok) break;
        text.append(buffer, received);
    }
    return text;
}

TEST(LocalPipeTest, PathsLieInTheRuntimeFolder) {
    testsupport::Sandbox sandbox;
    EXPECT_EQ(plat::LocalPipePath("WritePipe"), (sandbox.RuntimeDir() / "WritePipe").string());
    EXPECT_TRUE(plat::LocalPipePath("").empty());
    EXPECT_TRUE(plat::LocalPipePath("..").empty());
    EXPECT_TRUE(plat::LocalPipePath("a/b").empty());
}

TEST(LocalPipeTest, BytesTravelBothWaysBetweenPeersOfTheSameUser) {
    testsupport::Sandbox sandbox;
    const std::string path = plat::LocalPipePath("WritePipe");
    Link link(path);

    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const std::string login("\x08\x01UserName:alicePassword:secret", 31);
    ASSERT_TRUE(link.server.Write(login.data(), login.size()));
    EXPECT_EQ(ReadSome(link.client, login.size()), login);
    ASSERT_TRUE(link.client.WriteByte(5));
    EXPECT_EQ(ReadSome(link.server, 1), "\x05");

    link.listener.Close();
    EXPECT_FALSE(fs::exists(path));
}

TEST(LocalPipeTest, PeersOfAnotherUserAreRefusedOnBothEnds) {
    testsupport::Sandbox sandbox;
    const std::string path = plat::LocalPipePath("WritePipe");
    LocalPipeListener listener;
    ASSERT_TRUE(listener.Listen(path));

    // The sync program refuses a listener that does not run as the expected user.
    LocalPipe client;
    EXPECT_EQ(plat::ConnectLocalPipe(path, client, nullptr, kLong, ::geteuid() + 1), PipeStatus::Failed);
    EXPECT_FALSE(client.IsOpen());

    // The client program refuses a peer that does not: its link is closed and the wait
    // goes on until the time-out.
    LocalPipe other;
    ASSERT_EQ(plat::ConnectLocalPipe(path, other, nullptr, kLong), PipeStatus::Ok);
    LocalPipe server;
    EXPECT_EQ(listener.Accept(server, 50, ::geteuid() + 1), PipeStatus::Timeout);
    EXPECT_FALSE(server.IsOpen());
    char byte = 0;
    std::size_t received = 0;
    EXPECT_EQ(other.Read(&byte, 1, received, static_cast<int>(kLong)), PipeStatus::Closed);
}

TEST(LocalPipeTest, AcceptAndReadTimeOut) {
    testsupport::Sandbox sandbox;
    LocalPipeListener listener;
    ASSERT_TRUE(listener.Listen(plat::LocalPipePath("ReadPipe")));
    LocalPipe nobody;
    EXPECT_EQ(listener.Accept(nobody, 30), PipeStatus::Timeout);

    Link link(plat::LocalPipePath("WritePipe"));
    char byte = 0;
    std::size_t received = 7;
    EXPECT_EQ(link.client.Read(&byte, 1, received, 30), PipeStatus::Timeout);
    EXPECT_EQ(received, 0u);
}

TEST(LocalPipeTest, ConnectWaitsForTheListenerUntilCancelledOrTimedOut) {
    testsupport::Sandbox sandbox;
    const std::string path = plat::LocalPipePath("WritePipe");

    LocalPipe early;
    EXPECT_EQ(plat::ConnectLocalPipe(path, early, nullptr, 30), PipeStatus::Timeout);

    plat::Event cancel(true, false);
    std::atomic<int> result{-1};
    std::thread waiter([&] {
        LocalPipe pipe;
        result = static_cast<int>(plat::ConnectLocalPipe(path, pipe, &cancel));
    });
    cancel.Set();
    waiter.join();
    EXPECT_EQ(result.load(), static_cast<int>(PipeStatus::Cancelled));

    // Started before anybody listens, the connect gets through once the listener is there.
    plat::Event never(true, false);
    LocalPipe late;
    std::thread connector([&] { result = static_cast<int>(plat::ConnectLocalPipe(path, late, &never)); });
    LocalPipeListener listener;
    ASSERT_TRUE(listener.Listen(path));
    LocalPipe server;
    EXPECT_EQ(listener.Accept(server, kLong), PipeStatus::Ok);
    connector.join();
    EXPECT_EQ(result.load(), static_cast<int>(PipeStatus::Ok));
    EXPECT_TRUE(late.IsOpen());
}

TEST(LocalPipeTest, ShutdownWakesABlockedReaderAndTheDescriptorStaysWithItsOwner) {
    testsupport::Sandbox sandbox;
    Link link(plat::LocalPipePath("WritePipe"));
    std::atomic<int> status{-1};
    std::thread reader([&] {
        char buffer[100];
        std::size_t received = 0;
        status = static_cast<int>(link.client.Read(buffer, sizeof buffer, received));  // no limit
    });
    link.client.Shutdown();
    reader.join();
    EXPECT_EQ(status.load(), static_cast<int>(PipeStatus::Closed));
    EXPECT_TRUE(link.client.IsOpen());  // only the owner closes
    EXPECT_FALSE(link.client.WriteByte(6));
    link.client.Close();
    EXPECT_FALSE(link.client.IsOpen());
}

TEST(LocalPipeTest, ListenerShutdownWakesEveryWaitingAcceptForGood) {
    testsupport::Sandbox sandbox;
    LocalPipeListener listener;
    ASSERT_TRUE(listener.Listen(plat::LocalPipePath("QueryPipe")));
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            LocalPipe peer;
            if (listener.Accept(peer, 0xFFFFFFFFu) == PipeStatus::Closed) ++woken;  // no limit
        });
    }
    listener.Shutdown();
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_EQ(woken.load(), 3);
    // Later waits end at once, even with a peer queued; the socket file stays with the owner.
    LocalPipe client;
    EXPECT_EQ(plat::ConnectLocalPipe(listener.Path(), client, nullptr, kLong),
              PipeStatus::Ok);
    LocalPipe server;
    EXPECT_EQ(listener.Accept(server, kLong), PipeStatus::Closed);
    EXPECT_TRUE(fs::exists(listener.Path()));
    const std::string path = listener.Path();
    listener.Close();
    EXPECT_FALSE(fs::exists(path));
}

TEST(LocalPipeTest, APeerThatGoesAwayBreaksTheLink) {
    testsupport::Sandbox sandbox;
    Link link(plat::LocalPipePath("WritePipe"));
    link.server.Close();
    char byte = 0;
    std::size_t received = 0;
    EXPECT_EQ(link.client.Read(&byte, 1, received, static_cast<int>(kLong)), PipeStatus::Closed);
    EXPECT_FALSE(link.client.WriteByte(5));  // no SIGPIPE: the test lives on
}

TEST(LocalPipeTest, ListenReplacesOnlyAStaleSocket) {
    testsupport::Sandbox sandbox;
    const std::string path = plat::LocalPipePath("WritePipe");

    // Another kind of item of that name is left alone.
    testsupport::WriteFile(path, "data");
    LocalPipeListener listener;
    EXPECT_FALSE(listener.Listen(path));
    EXPECT_EQ(testsupport::ReadFile(path), "data");
    fs::remove(path);

    // A socket file whose program ended (bound, never unlinked) is replaced.
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    ASSERT_TRUE(listener.Listen(path));

    // A socket somebody listens on belongs to a running program.
    LocalPipeListener second;
    EXPECT_FALSE(second.Listen(path));
    LocalPipe client;
    EXPECT_EQ(plat::ConnectLocalPipe(path, client, nullptr, kLong), PipeStatus::Ok);
}

}  // namespace
