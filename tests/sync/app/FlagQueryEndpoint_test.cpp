// The flag query from another process: the endpoint over a prepared unified tree, found
// by dravik-sync-query through the values published in a shared-memory table of the
// test's own, and raw peers that break the request's rules or stay silent.
#include "sync/app/FlagQueryEndpoint.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SyncQueryTool.h"
#include "platform/localpipe.h"
#include "platform/longpath.h"
#include "platform/sharedmem.h"
#include "platform/text.h"
#include "platform/userdirs.h"
#include "shm/SharedMemory.h"
#include "shm/SyncValues.h"
#include "support/sandbox.h"
#include "support/wait.h"
#include "sync/engine/EngineContext.h"

namespace fs = std::filesystem;
using orvanetest::RunSyncQuery;

namespace {

constexpr std::uint32_t kLong = 20000;  // ms; only reached when something is broken

// Adds a record below `parent`: kind 1 file, 0 folder.
TaskNode* Add(TaskNode* parent, const std::string& name, std::uint32_t kind, std::uint32_t flag) {
    SyncTaskInfo record;
    record.name = name;
    record.kind = kind;
    record.flag = flag;
    return parent->InsertChild(record).Node();
}

std::string Frame(std::uint64_t expected, std::uint32_t byteCount, const std::u16string& path) {
    std::string bytes;
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>(expected >> (8 * i)));
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(byteCount >> (8 * i)));
    for (const char16_t unit : path) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// The program's side in this process: a unified tree, the endpoint on the socket the
// handle value names, and the two values in a table of this test's own.
class FlagQueryTest : public ::testing::Test {
protected:
    FlagQueryTest() {
        static int counter = 0;
        tableName = "DravikQueryTable-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        syncFolder = sandbox.Dir("sync");
        TaskNode* root = &app.UniformTree;
        TaskNode* docs = Add(root, "docs", 0, 1);
        Add(docs, "a.txt", 1, 1);
        Add(Add(docs, "deep", 0, 1), "b.txt", 1, 1);
        TaskNode* mixed = Add(root, "mixed", 0, 1);  // the folder's own record says 1
        Add(mixed, "c.txt", 1, 1);
        Add(Add(mixed, "inner", 0, 1), "d.txt", 1, 0);
        Add(root, "stale.txt", 1, 0);
        Add(Add(root, "hashing", 0, 1), "new.txt", 1, 2);  // a checksum still missing
        Add(root, "empty", 0, 1);
        Add(root, "名前.txt", 1, 1);
    }
    ~FlagQueryTest() override {
        endpoint.reset();
        table.reset();
        plat::SharedMemory::Remove(tableName);
    }

    // Publishes as the program does and starts serving.
    void Start(FlagQueryEndpoint::Limits limits = {}) {
        table = std::make_unique<CSharedMemory>(plat::ToUtf16(tableName));
        ASSERT_TRUE(table->Ready());
        endpoint = std::make_unique<FlagQueryEndpoint>(app, limits);
        ASSERT_TRUE(endpoint->Start(SyncQuerySocketPath(static_cast<std::uint32_t>(::getpid()))));
        ASSERT_TRUE(PublishSyncHandle(*table, static_cast<std::uint32_t>(::getpid())));
        ASSERT_TRUE(PublishSyncFolder(*table, plat::ToUtf16(syncFolder.string())));
    }

    int Ask(std::vector<std::string> args) {
        args.insert(args.begin(), {"--table", tableName});
        return RunSyncQuery(args);
    }

    // Sends raw bytes as a peer would; `halfClose` then says that nothing more comes
    // (a half close of the peer's socket). The answer byte, or none when the connection
    // closed without one.
    static std::optional<int> Raw(const std::string& bytes, bool halfClose) {
        const std::string path = SyncQuerySocketPath(static_cast<std::uint32_t>(::getpid()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        std::optional<int> answer;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            std::size_t sent = 0;
            while (sent < bytes.size()) {
                const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
            if (halfClose) ::shutdown(fd, SHUT_WR);
            pollfd entry{fd, POLLIN, 0};
            unsigned char byte = 0;
            if (::poll(&entry, 1, static_cast<int>(kLong)) == 1 && ::recv(fd, &byte, 1, 0) == 1) answer = byte;
        } else {
            ADD_FAILURE() << "no endpoint at " << path;
        }
        ::close(fd);
        return answer;
    }

    testsupport::Sandbox sandbox;
    SyncApp app;
    fs::path syncFolder;
    std::string tableName;
    std::unique_ptr<CSharedMemory> table;
    std::unique_ptr<FlagQueryEndpoint> endpoint;
};

}  // namespace

TEST_F(FlagQueryTest, TheToolAsksTheProgramFoundThroughThePublishedValues) {
    Start();
    const std::string longest(kLongestPathChars, 'x');
    const std::string tooLong(kLongestPathChars + 1, 'x');
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int exit;
    };
    const Case cases[] = {
        {"file with the flag", {"docs/a.txt"}, 0},
        {"file with the flag, flag 0 asked", {"--flag", "0", "docs/a.txt"}, 1},
        {"file without the flag", {"stale.txt"}, 1},
        {"file without the flag, flag 0 asked", {"--flag", "0", "stale.txt"}, 0},
        {"folder where every file below has it", {"docs"}, 0},
        {"folder where one file deep below lacks it", {"mixed"}, 1},
        {"that folder, flag 0 asked", {"--flag", "0", "mixed"}, 0},
        {"folder without files", {"empty"}, 0},
        {"a folder whose file waits for its checksum has neither 1", {"hashing"}, 1},
        {"nor 0", {"--flag", "0", "hashing"}, 1},
        {"the program's own separators", {"\\docs\\deep\\b.txt"}, 0},
        {"names ignore case", {"DOCS/A.TXT"}, 0},
        {"a name beyond ASCII", {"名前.txt"}, 0},
        {"absolute path inside the sync folder", {(syncFolder / "docs" / "a.txt").string()}, 0},
        {"absolute path outside the sync folder", {(sandbox.Root() / "docs" / "a.txt").string()}, 2},
        {"unknown path", {"docs/missing.txt"}, 1},
        {"the longest path the program accepts is answered", {longest}, 1},
        {"a longer one is refused", {tooLong}, 2},
        {"a flag other than 0 or 1", {"--flag", "2", "docs"}, 2},
        {"no path", {}, 2},
    };
    for (const Case& c : cases) EXPECT_EQ(Ask(c.args), c.exit) << c.what;
}

TEST_F(FlagQueryTest, NoAnswerWithoutAProgramOrAfterItsEnd) {
    // Nothing published yet: the tool finds no program.
    table = std::make_unique<CSharedMemory>(plat::ToUtf16(tableName));
    EXPECT_EQ(Ask({"docs"}), 2);

    Start();
    const std::string socket = SyncQuerySocketPath(static_cast<std::uint32_t>(::getpid()));
    EXPECT_TRUE(fs::exists(socket));
    EXPECT_EQ(fs::status(socket).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(Ask({"docs"}), 0);

    // The handle still published (a program that crashed): the socket is gone, no answer.
    endpoint->Stop();
    EXPECT_FALSE(fs::exists(socket));
    EXPECT_EQ(Ask({"docs"}), 2);
}

TEST_F(FlagQueryTest, RequestsThatBreakTheRulesGetNoAnswer) {
    Start();
    const std::u16string path = u"\\docs\\a.txt";
    const auto bytes = static_cast<std::uint32_t>(path.size() * 2);
    struct Case {
        const char* what;
        std::string frame;
        bool halfClose;
        std::optional<int> answer;
    };
    const Case cases[] = {
        {"a whole request", Frame(1, bytes, path), false, 1},
        {"expected flag 0", Frame(0, bytes, path), false, 0},
        {"a flag beyond 32 bits is not cut to fit", Frame(0x100000001ULL, bytes, path), false, 0},
        {"an empty path", Frame(1, 0, u""), false, 0},
        {"bytes after the request are left unread", Frame(1, bytes, path) + "tail", false, 1},
        {"an odd byte count", Frame(1, bytes - 1, path), false, std::nullopt},
        {"a byte count beyond the longest path", Frame(1, 2 * kLongestPathChars + 2, path), false, std::nullopt},
        {"the largest byte count", Frame(1, 0xFFFFFFFFu, path), false, std::nullopt},
        {"a header cut short", Frame(1, bytes, path).substr(0, 7), true, std::nullopt},
        {"a path cut short", Frame(1, bytes, path).substr(0, 16), true, std::nullopt},
        {"nothing at all", std::string(), true, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(Raw(c.frame, c.halfClose), c.answer) << c.what;
    // The endpoint serves on after all of them.
    EXPECT_EQ(Ask({"docs"}), 0);
}

TEST_F(FlagQueryTest, ASilentPeerDoesNotHoldUpOthersAndIsCutAtTheTimeLimit) {
    {
        // A limit far beyond the test: the silent peers hold their threads all along.
        Start(FlagQueryEndpoint::Limits{60000, 4});
        std::vector<plat::LocalPipe> silent(3);
        for (plat::LocalPipe& peer : silent) {
            ASSERT_EQ(plat::ConnectLocalPipe(SyncQuerySocketPath(static_cast<std::uint32_t>(::getpid())), peer,
                                             nullptr, kLong),
                      plat::PipeStatus::Ok);
        }
        EXPECT_EQ(Ask({"docs"}), 0);
        EXPECT_EQ(Ask({"stale.txt"}), 1);

        // Stop does not wait for them either.
        std::atomic<bool> stopped{false};
        std::thread stopper([&] {
            endpoint->Stop();
            stopped = true;
        });
        const bool ended = testsupport::WaitUntil([&] { return stopped.load(); }, std::chrono::milliseconds(kLong));
        stopper.join();
        EXPECT_TRUE(ended);
        char byte = 0;
        std::size_t received = 0;
        EXPECT_EQ(silent[0].Read(&byte, 1, received, static_cast<int>(kLong)), plat::PipeStatus::Closed);
    }
    {
        // A short limit: a silent peer, and one that stops halfway, are cut.
        endpoint.reset();
        table.reset();
        Start(FlagQueryEndpoint::Limits{100, 1});
        plat::LocalPipe silent;
        ASSERT_EQ(plat::ConnectLocalPipe(SyncQuerySocketPath(static_cast<std::uint32_t>(::getpid())), silent, nullptr,
                                         kLong),
                  plat::PipeStatus::Ok);
        char byte = 0;
        std::size_t received = 0;
        EXPECT_EQ(silent.Read(&byte, 1, received, static_cast<int>(kLong)), plat::PipeStatus::Closed);
        plat::LocalPipe halfway;
        ASSERT_EQ(plat::ConnectLocalPipe(SyncQuerySocketPath(static_cast<std::uint32_t>(::getpid())), halfway,
                                         nullptr, kLong),
                  plat::PipeStatus::Ok);
        const std::string frame = Frame(1, 10, u"\\docs");
        ASSERT_TRUE(halfway.Write(frame.data(), 14));
        EXPECT_EQ(halfway.Read(&byte, 1, received, static_cast<int>(kLong)), plat::PipeStatus::Closed);
        // The one serving thread is free again.
        EXPECT_EQ(Ask({"docs"}), 0);
    }
}

TEST_F(FlagQueryTest, QuerySocketsOfEndedRunsGiveWay) {
    const fs::path runtime = plat::RuntimeDir();  // made as the program makes it
    // Sockets bound and never removed, as a run that crashed leaves them: one under this
    // process id (a reused id) and one under another.
    const auto leaveBound = [](const std::string& path) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return bound;
    };
    const std::string own = SyncQuerySocketPath(static_cast<std::uint32_t>(::getpid()));
    const std::string ended = SyncQuerySocketPath(4000000001u);
    ASSERT_TRUE(leaveBound(own));
    ASSERT_TRUE(leaveBound(ended));
    // A socket somebody listens on, and a file of another kind, are not the endpoint's.
    plat::LocalPipeListener live;
    ASSERT_TRUE(live.Listen(SyncQuerySocketPath(4000000002u)));
    testsupport::WriteFile(SyncQuerySocketPath(4000000003u), "data");
    testsupport::WriteFile(runtime / "notes", "data");

    Start();
    EXPECT_EQ(Ask({"docs"}), 0);
    EXPECT_FALSE(fs::exists(ended));
    EXPECT_TRUE(fs::exists(SyncQuerySocketPath(4000000002u)));
    EXPECT_TRUE(fs::exists(SyncQuerySocketPath(4000000003u)));
    EXPECT_TRUE(fs::exists(runtime / "notes"));
}
