// Downloads into the sync folder and uploads as multipart forms, against the test server.
#include <algorithm>
#include <chrono>
#include <thread>

#include "WebCloudFixture.h"
#include "support/wait.h"

namespace {

using nettest::Leftovers;
using nettest::Logged;
using nettest::Md5Upper;
using nettest::Pattern;
using nettest::WebCloudTest;
using testserver::Fault;
using testserver::FaultKind;
using testsupport::ReadFile;
using testsupport::WriteFile;
namespace fs = std::filesystem;

class DownloadTest : public WebCloudTest {
protected:
    // Arranges a fault of the content route.
    std::function<void(testserver::TreeEntry&)> Inject(FaultKind kind, std::int64_t bytes, int count = 1) {
        return [this, kind, bytes, count](testserver::TreeEntry&) {
            Fault fault{"content", kind, 500};
            fault.bytes = bytes;
            fault.count = count;
            server.InjectFault(fault);
        };
    }
    // Puts a file on the server and returns its entry.
    testserver::TreeEntry Remote(const std::string& path, const std::string& bytes) {
        server.PutFile("alice", path, bytes);
        return server.Find("alice", path).value();
    }
    int Download(const testserver::TreeEntry& entry, const std::string& localPath, SyncOperationSlot* op = nullptr,
                 const ProgressSink* progress = nullptr) {
        return cloud.iDownload(&checkpoint, static_cast<std::uint64_t>(entry.size), op, progress, entry.ref, localPath,
                               entry.checksum);
    }
};

TEST_F(DownloadTest, FilesOfEverySizeArriveWhole) {
    Login();
    for (const std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{6 * 1024 * 1024 + 3}}) {
        const std::string bytes = Pattern(size);
        const auto entry = Remote("/docs/f" + std::to_string(size) + ".bin", bytes);
        SyncOperationSlot operation;
        ASSERT_EQ(1, Download(entry, "\\docs\\f" + std::to_string(size) + ".bin", &operation)) << size;
        EXPECT_EQ(bytes, ReadFile(Local("docs/f" + std::to_string(size) + ".bin"))) << size;
        EXPECT_EQ(1u, operation.Snapshot().state) << size;
    }
    EXPECT_TRUE(Leftovers(syncDir).empty());
    const auto requests = server.Requests("content");
    ASSERT_EQ(3u, requests.size());
    const std::string id = server.Find("alice", "/docs/f5.bin")->ref.substr(std::string("workspace://").size());
    EXPECT_EQ("/dravik/api/node/workspace/" + id + "/content", requests[1].path);
    EXPECT_EQ(cloud.LoginCookie(), requests[1].Header("Cookie"));
}

// The download notes the file it puts in place as it leaves it, so that a later write by
// anyone else is told from its own; a file written by someone else while the reply came in
// is never overwritten.
TEST_F(DownloadTest, TheFilePutInPlaceIsStampedAndAUsersWriteMeanwhileWins) {
    Login();
    WriteFile(Local("b.txt"), "old");
    SyncOperationSlot operation;
    ASSERT_EQ(1, Download(Remote("/b.txt", "v2"), "\\b.txt", &operation));
    DiskStamp onDisk;
    ASSERT_TRUE(DiskStamp::Read(Local("b.txt").string(), onDisk));
    EXPECT_EQ(onDisk, operation.Snapshot().placed);
    EXPECT_EQ("\\b.txt", operation.Snapshot().placedPath);

    for (const bool existedBefore : {true, false}) {
        SCOPED_TRACE(existedBefore ? "over the user's file" : "where nothing was");
        if (!existedBefore) fs::remove(Local("b.txt"));
        Fault hold{"content", FaultKind::Delay, 500};
        hold.delay = std::chrono::seconds(60);
        server.InjectFault(hold);
        const auto entry = Remote("/b.txt", "v3 from the server");
        int result = -1;
        std::thread download([&] { result = Download(entry, "\\b.txt"); });
        ASSERT_TRUE(testsupport::WaitUntil([&] { return server.InFlight("content") == 1; }));
        WriteFile(Local("b.txt"), "the user's");
        server.ReleaseDelays();
        download.join();
        EXPECT_EQ(0, result);
        EXPECT_EQ("the user's", ReadFile(Local("b.txt")));
        EXPECT_TRUE(Leftovers(syncDir).empty());
    }
}

TEST_F(DownloadTest, ProgressReachesTheSink) {
    Login();
    nettest::RecordingProgress progress;
    const auto entry = Remote("/big.bin", Pattern(3 * 1024 * 1024));
    WinHttpClient::ResetProgressPacing();
    ASSERT_EQ(1, Download(entry, "/big.bin", nullptr, &progress));
    const std::vector<double> percents = progress.Percents();
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_GE(percents.front(), 0.0);
    EXPECT_LE(percents.back(), 100.0);
}

TEST_F(DownloadTest, AnExistingFileIsReplacedAndAFolderInTheWayIsKeptAside) {
    Login();
    WriteFile(Local("docs/old.txt"), "old");
    const auto replaced = Remote("/docs/old.txt", "new content");
    ASSERT_EQ(1, Download(replaced, "\\docs\\old.txt"));
    EXPECT_EQ("new content", ReadFile(Local("docs/old.txt")));

    WriteFile(Local("docs/a.txt/inner.txt"), "keep me");
    const auto file = Remote("/docs/a.txt", "file");
    ASSERT_EQ(1, Download(file, "\\docs\\a.txt"));
    EXPECT_EQ("file", ReadFile(Local("docs/a.txt")));
    int backups = 0;
    for (const auto& entry : fs::directory_iterator(Local("docs"))) {
        if (entry.path().filename().string().rfind("a.txt.冲突备份.", 0) != 0) continue;
        ++backups;
        EXPECT_EQ("keep me", ReadFile(entry.path() / "inner.txt"));
    }
    EXPECT_EQ(1, backups);
}

TEST_F(DownloadTest, AFailedDownloadLeavesTheTargetAndNoTemporaryFile) {
    struct Case {
        const char* name;
        std::function<void(testserver::TreeEntry&)> arrange;
        std::uint32_t status;  // expected LastStatus (0: left as it was)
        const char* log;
    };
    const std::vector<Case> cases = {
        {"server has another size", [](testserver::TreeEntry& e) { e.size -= 1; }, httperr::kInvalidResponse,
         "发送请求失败"},
        {"content differs from checksum", [](testserver::TreeEntry& e) { e.checksum = "00000000000000000000000000000000"; },
         0, "does not match its checksum"},
        {"reply cut short", Inject(FaultKind::CutBody, 100), httperr::kConnectionError, "发送请求失败"},
        {"wrong length announced", Inject(FaultKind::WrongLength, 3), httperr::kInvalidResponse, "发送请求失败"},
        {"refused", Inject(FaultKind::Status, 0), 500, "发送请求失败"},
        {"connection dropped on every try", Inject(FaultKind::Drop, 0, testserver::kEveryRequest),
         httperr::kConnectionError, "发送请求失败"},
    };
    Login();
    const std::string bytes = Pattern(200000);
    for (const Case& c : cases) {
        WriteFile(Local("docs/a.bin"), "old");
        auto entry = Remote("/docs/a.bin", bytes);
        c.arrange(entry);
        const std::uint32_t before = cloud.LastStatus();
        LogCapture log;
        EXPECT_EQ(0, Download(entry, "\\docs\\a.bin")) << c.name;
        EXPECT_EQ(c.status == 0 ? before : c.status, cloud.LastStatus()) << c.name;
        EXPECT_TRUE(Logged(log.Lines(), c.log)) << c.name;
        EXPECT_EQ("old", ReadFile(Local("docs/a.bin"))) << c.name;
        EXPECT_TRUE(Leftovers(syncDir).empty()) << c.name;
        server.ClearFaults();
    }
}

TEST_F(DownloadTest, ABreakFromTheProgressReportStopsTheDownload) {
    Login();
    nettest::RecordingProgress progress([&](double) { checkpoint.breakEvent.Set(); });
    const auto entry = Remote("/big.bin", Pattern(4 * 1024 * 1024));
    WinHttpClient::ResetProgressPacing();
    EXPECT_EQ(0, Download(entry, "\\big.bin", nullptr, &progress));
    EXPECT_EQ(httperr::kStopped, cloud.LastStatus());
    EXPECT_FALSE(fs::exists(Local("big.bin")));
    EXPECT_TRUE(Leftovers(syncDir).empty());
}

TEST_F(DownloadTest, PathsThatLeaveTheSyncFolderAreRefused) {
    Login();
    const auto entry = Remote("/x.txt", "x");
    const fs::path outside = sandbox.Dir("outside");
    fs::create_symlink(outside, Local("link"));
    LogCapture log;
    for (const char* path : {"\\..\\escape.txt", "\\a\\..\\..\\escape.txt", "\\a\\.\\b.txt", "\\a\\\\b.txt",
                             "\\link\\escape.txt", "\\ctl\x01.txt", "\\bad\xFF.txt"}) {
        EXPECT_EQ(0, Download(entry, path)) << path;
    }
    EXPECT_TRUE(server.Requests("content").empty());
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(sandbox.Root() / "escape.txt"));
    EXPECT_TRUE(Logged(log.Lines(), "目录太长 '"));

    EXPECT_EQ(0, cloud.iDownload(&checkpoint, 1, nullptr, nullptr, "no-scheme", "\\x.txt", ""));
    EXPECT_TRUE(Logged(log.Lines(), "参数转换失败 'no-scheme' filepath:WebCloud line:484"));
}

// ---- uploads ----------------------------------------------------------------------------------

class UploadTest : public WebCloudTest {
protected:
    // Writes a local file and uploads it into the server folder `folder`.
    int Upload(const std::string& relative, const std::string& bytes, const std::string& folder,
               const std::string& update = "", SyncOperationSlot* op = nullptr) {
        WriteFile(Local(relative), bytes);
        return cloud.iUpload(&checkpoint, bytes.size(), &progress, op, folder, update, Md5Upper(bytes),
                             "\\" + relative);
    }
    // Every upload reports its progress here.
    nettest::RecordingProgress progress;
    std::string Content(const std::string& path) {
        const auto entry = server.Find("alice", path, true);
        return entry ? entry->content : "<missing>";
    }
};

TEST_F(UploadTest, ASmallFileGoesAsAMultipartForm) {
    const std::string docs = server.MakeFolder("alice", "/docs");
    Login();
    SyncOperationSlot operation;
    ASSERT_EQ(1, Upload("docs/report.doc", "report!", docs, "", &operation));
    EXPECT_EQ("report!", Content("/docs/report.doc"));
    EXPECT_EQ(server.Find("alice", "/docs/report.doc")->ref, cloud.UploadedNodeRef());
    EXPECT_EQ(1u, operation.Snapshot().state);

    const auto request = server.Requests("upload").at(0);
    EXPECT_EQ(cloud.LoginCookie(), request.Header("Cookie"));
    EXPECT_NE(std::string::npos, request.Header("Content-Type").find("multipart/form-data; boundary=------------------"));
    std::vector<std::string> names;
    for (const auto& part : request.parts) names.push_back(part.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"Filedata", "MD5", "cookie", "destination"}), names);
    for (const auto& part : request.parts) {
        if (part.name == "cookie") {
            EXPECT_EQ(cloud.LoginCookie() + "\r\n", part.content);
        }
        if (part.name == "destination") {
            EXPECT_EQ(docs, part.content);
        }
        if (part.name == "MD5") {
            EXPECT_EQ(Md5Upper("report!"), part.content);
        }
        if (part.name == "Filedata") {
            EXPECT_EQ("/report.doc", part.filename);
            EXPECT_EQ("application/octet-stream", part.contentType);
        }
    }
}

TEST_F(UploadTest, AnUpdateReplacesTheServerFile) {
    server.PutFile("alice", "/a.txt", "first");
    const std::string ref = server.Find("alice", "/a.txt")->ref;
    Login();
    ASSERT_EQ(1, Upload("a.txt", "second version", Home(), ref));
    EXPECT_EQ("second version", Content("/a.txt"));
    const auto parts = server.Requests("upload").at(0).parts;
    EXPECT_TRUE(std::any_of(parts.begin(), parts.end(),
                            [&](const auto& p) { return p.name == "updatenoderef" && p.content == ref; }));
}

TEST_F(UploadTest, EmptyAndMultiMegabyteFilesWithProgress) {
    Login();
    ASSERT_EQ(1, Upload("empty.txt", "", Home()));
    EXPECT_EQ("", Content("/empty.txt"));

    progress.Clear();
    const std::string bytes = Pattern(3 * 1024 * 1024 + 17);
    ASSERT_EQ(1, Upload("big.bin", bytes, Home()));
    EXPECT_EQ(bytes, Content("/big.bin"));
    const std::vector<double> percents = progress.Percents();
    ASSERT_GE(percents.size(), bytes.size() / 65536);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_DOUBLE_EQ(100.0, percents.back());
}

TEST_F(UploadTest, LargeFilesAreStreamedAndCarryTheCookieOnlyInTheForm) {
    Login();
    cloud.SetInMemoryUploadLimit(1000);
    const std::string bytes = Pattern(3 * 1024 * 1024 + 5);
    ASSERT_EQ(1, Upload("stream.bin", bytes, Home()));
    EXPECT_EQ(bytes, Content("/stream.bin"));
    const auto request = server.Requests("upload").at(0);
    EXPECT_EQ("", request.Header("Cookie"));
    const std::vector<double> percents = progress.Percents();
    ASSERT_EQ((bytes.size() + 131071) / 131072, percents.size());
    EXPECT_DOUBLE_EQ(100.0, percents.back());
}

TEST_F(UploadTest, TheLimitItselfStillGoesInMemory) {
    Login();
    cloud.SetInMemoryUploadLimit(10);
    ASSERT_EQ(1, Upload("ten.bin", Pattern(10), Home()));
    ASSERT_EQ(1, Upload("eleven.bin", Pattern(11), Home()));
    const auto requests = server.Requests("upload");
    ASSERT_EQ(2u, requests.size());
    EXPECT_NE("", requests[0].Header("Cookie"));
    EXPECT_EQ("", requests[1].Header("Cookie"));
}

TEST_F(UploadTest, AFileWhoseSizeChangedIsNotSent) {
    Login();
    for (const std::uint64_t limit : {CWebCloud::kInMemoryUploadLimit, std::uint64_t{1}}) {
        cloud.SetInMemoryUploadLimit(limit);
        WriteFile(Local("grown.txt"), "123456");
        EXPECT_EQ(0, cloud.iUpload(&checkpoint, 5, &progress, nullptr, Home(), "", "X", "\\grown.txt"));
    }
    EXPECT_EQ(0, cloud.iUpload(&checkpoint, 1, &progress, nullptr, Home(), "", "X", "\\missing.txt"));
    EXPECT_EQ(0, cloud.iUpload(&checkpoint, 6, &progress, nullptr, Home(), "", "", "\\grown.txt"));
    EXPECT_EQ(0, cloud.iUpload(&checkpoint, 6, &progress, nullptr, Home(), "", "X", "\\..\\grown.txt"));
    EXPECT_TRUE(server.Requests("upload").empty());
}

TEST_F(UploadTest, ABreakBetweenPiecesStopsTheUpload) {
    Login();
    for (const std::uint64_t limit : {CWebCloud::kInMemoryUploadLimit, std::uint64_t{1}}) {
        checkpoint.breakEvent.Reset();
        cloud.SetInMemoryUploadLimit(limit);
        progress.Clear();
        progress.OnReport([&](double) { checkpoint.breakEvent.Set(); });
        EXPECT_EQ(0, Upload("stopped.bin", Pattern(2 * 1024 * 1024), Home())) << limit;
        EXPECT_EQ(httperr::kStopped, cloud.LastStatus()) << limit;
        EXPECT_EQ(1u, progress.Percents().size()) << limit;
        EXPECT_FALSE(server.Find("alice", "/stopped.bin").has_value()) << limit;
    }
}

TEST_F(UploadTest, RefusalsAndUnusableRepliesFail) {
    Login();
    LogCapture log;
    server.InjectFault(Fault{"upload", FaultKind::Status, 413});
    EXPECT_EQ(0, Upload("a.txt", "a", Home()));
    EXPECT_EQ(413u, cloud.LastStatus());
    EXPECT_TRUE(Logged(log.Lines(), "发送请求失败 '\\x5Ca.txt' filepath:WebCloud line:920"));

    server.InjectFault(Fault{"upload", FaultKind::InvalidJson});
    EXPECT_EQ(0, Upload("b.txt", "b", Home()));
    EXPECT_TRUE(Logged(log.Lines(), "解析JSON失败 filepath:WebCloud line:939"));

    // A destination the server does not know.
    EXPECT_EQ(0, Upload("c.txt", "c", "workspace://SpacesStore/nowhere"));
}

}  // namespace
