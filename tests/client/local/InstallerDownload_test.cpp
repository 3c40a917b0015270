// The installer download against the test server: complete files only, every failure
// leaves nothing behind, cancel and the no-data limit, and the messages to the window.
#include "client/local/InstallerDownload.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "support/wait.h"
#include "testserver/TestServer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testserver::Fault;
using testserver::FaultKind;
using testsupport::ReadFile;
using testsupport::WaitUntil;

std::string Bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    return bytes;
}

class InstallerDownloadTest : public ::testing::Test {
protected:
    InstallerDownloadTest() {
        testserver::ServerOptions options;
        options.dataDir = box.Dir("server");
        server = std::make_unique<testserver::TestServer>(options);
        server->Start();
        installer = Bytes(3 * 1024 * 1024 + 17);
        server->SetClientVersion("9.9.9", installer);
        window = loop.CreateWindow([this](plat::Message& m) -> plat::MsgResult {
            if (m.message == WM_UPDATE_PROGRESS) progress.push_back(download.Percent());
            if (m.message == WM_UPDATE_RESULT) results.push_back(static_cast<int>(m.wParam));
            return 0;
        });
    }

    InstallerDownload::Request Request() const {
        InstallerDownload::Request request;
        request.url = server->BaseUrl() + "/download/DravikClient.exe";
        request.folder = (box.Root() / "update").string();
        return request;
    }
    fs::path Target() const { return box.Root() / "update" / "DravikClient.exe"; }
    // Only the installer (when given) lies in the update folder.
    bool OnlyInstaller(bool withInstaller) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(box.Root() / "update", ec)) {
            names.push_back(entry.path().filename().string());
        }
        return names == (withInstaller ? std::vector<std::string>{"DravikClient.exe"} : std::vector<std::string>{});
    }
    void Fail(FaultKind kind, int status = 500, std::int64_t bytes = 0, std::chrono::milliseconds delay = 0ms) {
        Fault fault;
        fault.route = "installer";
        fault.kind = kind;
        fault.status = status;
        fault.bytes = bytes;
        fault.delay = delay;
        server->InjectFault(fault);
    }

    testsupport::Sandbox box;
    std::unique_ptr<testserver::TestServer> server;
    std::string installer;
    plat::MessageLoop loop;
    plat::WindowId window = plat::kNoWindow;
    std::vector<int> progress;
    std::vector<int> results;
    InstallerDownload download;
};

TEST_F(InstallerDownloadTest, TheWholeInstallerArrivesWithProgress) {
    ASSERT_TRUE(download.Start(Request(), window));
    ASSERT_TRUE(WaitUntil([&] {
        loop.ProcessDue();
        return !results.empty();
    }));
    download.Join();
    loop.ProcessDue();
    EXPECT_EQ(results, std::vector<int>{InstallerDownloaded});
    EXPECT_EQ(download.InstallerPath(), Target().string());
    EXPECT_EQ(ReadFile(Target()), installer);
    EXPECT_TRUE(OnlyInstaller(true)) << "no temporary file left";
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_LE(progress.size(), 101u) << "one message per whole percent at most";
}

TEST_F(InstallerDownloadTest, FailedTransfersLeaveTheEarlierInstallerAlone) {
    testsupport::WriteFile(Target(), "earlier installer");
    struct Case {
        const char* name;
        FaultKind kind;
        int status;
        std::int64_t bytes;
    };
    const Case cases[] = {
        {"not found", FaultKind::Status, 404, 0},
        {"server error", FaultKind::Status, 500, 0},
        {"body cut short", FaultKind::CutBody, 0, 1000},
        {"connection dropped", FaultKind::Drop, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fail(c.kind, c.status, c.bytes);
        EXPECT_EQ(download.Run(Request(), plat::kNoWindow), InstallerTransferFailed);
        EXPECT_EQ(download.InstallerPath(), "");
        EXPECT_EQ(ReadFile(Target()), "earlier installer");
        EXPECT_TRUE(OnlyInstaller(true));
    }
    // The next download replaces it.
    EXPECT_EQ(download.Run(Request(), plat::kNoWindow), InstallerDownloaded);
    EXPECT_EQ(ReadFile(Target()), installer);
}

TEST_F(InstallerDownloadTest, NoDataForTooLongEndsAsAFailure) {
    Fail(FaultKind::Delay, 0, 0, 3s);
    InstallerDownload::Request request = Request();
    request.noDataLimit = 200ms;
    EXPECT_EQ(download.Run(request, plat::kNoWindow), InstallerTransferFailed);
    EXPECT_TRUE(download.TimedOut());
    EXPECT_TRUE(OnlyInstaller(false));
}

TEST_F(InstallerDownloadTest, CancelEndsAsCancelled) {
    Fail(FaultKind::Delay, 0, 0, 3s);
    ASSERT_TRUE(download.Start(Request(), window));
    download.Cancel();
    ASSERT_TRUE(WaitUntil([&] {
        loop.ProcessDue();
        return !results.empty();
    }));
    EXPECT_EQ(results, std::vector<int>{InstallerCancelled});
    EXPECT_FALSE(download.TimedOut());
    EXPECT_TRUE(OnlyInstaller(false));
}

TEST_F(InstallerDownloadTest, LocalFailures) {
    // The update folder cannot be made: a file stands in its way.
    testsupport::WriteFile(box.Root() / "update", "a file");
    EXPECT_EQ(download.Run(Request(), plat::kNoWindow), InstallerFolderFailed);
    fs::remove(box.Root() / "update");

    // The installer's name is taken by a folder: nothing replaces it.
    fs::create_directories(Target());
    EXPECT_EQ(download.Run(Request(), plat::kNoWindow), InstallerFileFailed);
    EXPECT_TRUE(fs::is_directory(Target()));
    EXPECT_FALSE(fs::exists(Target().string() + ".draviktemp"));
}

TEST_F(InstallerDownloadTest, DestroyedWhileRunningItJoinsItsThread) {
    Fail(FaultKind::Delay, 0, 0, 3s);
    auto running = std::make_unique<InstallerDownload>();
    ASSERT_TRUE(running->Start(Request(), window));
    EXPECT_FALSE(running->Start(Request(), window)) << "one download at a time";
    running.reset();  // cancels and joins
    loop.ProcessDue();
    EXPECT_EQ(results, std::vector<int>{InstallerCancelled});
}

}  // namespace
