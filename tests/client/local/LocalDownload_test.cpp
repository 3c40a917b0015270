// Downloads into local files against the test server: temporary file, counted bytes,
// rename into place, nothing left behind on failure.
#include "client/local/LocalDownload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "client/local/WinFileSystemAdapter.h"
#include "support/ClientServerFixture.h"
#include "support/clientlogcapture.h"

namespace {
namespace fs = std::filesystem;
using ServerFixture = clienttest::ServerFixture<WinFileSystemAdapter>;
using testserver::Fault;
using testserver::FaultKind;
using testsupport::ReadFile;
using testsupport::WriteFile;

class LocalDownloadTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        temp = P("work/Download");
        target = P("target");
        fs::create_directories(temp);
        LoginAlice();
    }
    // Nothing is left in the temporary folder.
    bool TempEmpty() const { return fs::is_empty(temp); }
    int Fetch(const std::string& ref, std::int64_t size, const std::string& relative, int* error) {
        return DownloadToLocalFile(*http, files, 7, size, ref, temp, target, relative, error);
    }

    std::string temp, target;
};

TEST_F(LocalDownloadTest, FilesOfEverySizeArriveWhole) {
    struct Case {
        const char* path;
        std::size_t size;
    };
    const Case cases[] = {{"/empty.bin", 0}, {"/small.txt", 5}, {"/deep/er/big.bin", 6 * 1024 * 1024 + 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string content(c.size, '\0');
        for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + 1);
        const std::string ref = server->PutFile("alice", c.path, content);
        listener.Clear();
        int error = -1;
        ASSERT_EQ(Fetch(ref, static_cast<std::int64_t>(c.size), c.path, &error), 1) << error;
        EXPECT_EQ(error, 0);
        EXPECT_EQ(ReadFile(target + c.path), content);
        EXPECT_TRUE(TempEmpty());
        const auto progress = listener.Progress();
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back().id, 7);
        EXPECT_EQ(progress.back().direction, 2);
        EXPECT_EQ(progress.back().done, static_cast<double>(c.size));
        EXPECT_EQ(progress.back().total, static_cast<double>(c.size));
        EXPECT_LT(progress.size(), 50u);
    }
    // A stale temporary file of the same name is removed first.
    const std::string ref = server->PutFile("alice", "/fresh.txt", "fresh");
    WriteFile(DownloadTempPath(temp, ref, 7), "stale partial");
    int error = -1;
    ASSERT_EQ(Fetch(ref, 5, "/fresh.txt", &error), 1);
    EXPECT_EQ(ReadFile(target + "/fresh.txt"), "fresh");
    EXPECT_TRUE(TempEmpty());
}

TEST_F(LocalDownloadTest, AnExistingFileIsNeverReplacedButWrittenBeside) {
    struct Case {
        const char* relative;  // where the server's file goes
        const char* landed;    // where it lands, the existing items staying as they were
        bool replace;          // the program's own working copy
    };
    const Case cases[] = {
        {"/report.txt", "/report (1).txt", false},
        {"/report.txt", "/report (2).txt", false},  // "(1)" is taken now
        {"/.bashrc", "/.bashrc (1)", false},
        {"/archive.tar.gz", "/archive.tar (1).gz", false},
        {"/sub/plain", "/sub/plain (1)", false},
        {"/taken-by-folder.txt", "/taken-by-folder (1).txt", false},
        {"/dangling", "/dangling (1)", false},  // a link counts as existing
        {"/edit.txt", "/edit.txt", true},
    };
    WriteFile(target + "/report.txt", "mine");
    WriteFile(target + "/.bashrc", "mine");
    WriteFile(target + "/archive.tar.gz", "mine");
    WriteFile(target + "/sub/plain", "mine");
    WriteFile(target + "/edit.txt", "old copy");
    fs::create_directories(target + "/taken-by-folder.txt");
    fs::create_symlink(P("nowhere"), target + "/dangling");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.landed);
        const std::string ref = server->PutFile("alice", "/server.txt", std::string("from ") + c.landed);
        LocalDownloadPlace place;
        place.replaceExisting = c.replace;
        int error = -1;
        ASSERT_EQ(DownloadToLocalFile(*http, files, 7, static_cast<std::int64_t>(5 + std::strlen(c.landed)), ref,
                                      temp, target, c.relative, &error, &place),
                  1);
        EXPECT_EQ(place.landedRelativePath, c.landed);
        EXPECT_EQ(place.reason, "");
        EXPECT_EQ(ReadFile(target + c.landed), std::string("from ") + c.landed);
        EXPECT_TRUE(TempEmpty());
    }
    // What stood there stays as it was.
    for (const char* mine : {"/report.txt", "/.bashrc", "/archive.tar.gz", "/sub/plain"}) {
        EXPECT_EQ(ReadFile(target + mine), "mine") << mine;
    }
    EXPECT_TRUE(fs::is_directory(target + "/taken-by-folder.txt"));
    EXPECT_TRUE(fs::is_empty(target + "/taken-by-folder.txt"));
    EXPECT_TRUE(fs::is_symlink(target + "/dangling"));
    EXPECT_FALSE(fs::exists(P("nowhere")));
    EXPECT_EQ(NumberedName("a.b.c", 3), "a.b (3).c");
    EXPECT_EQ(NumberedName("noext", 12), "noext (12)");
}

TEST_F(LocalDownloadTest, ALinkBelowTheTargetFolderIsNeverFollowed) {
    const std::string outside = P("outside");
    fs::create_directories(outside);
    fs::create_directories(target + "/real");
    fs::create_directory_symlink(outside, target + "/linked");
    fs::create_directory_symlink(outside, target + "/real/deeper");
    WriteFile(target + "/file", "a file, not a folder");
    const std::string ref = server->PutFile("alice", "/x.txt", "x");
    struct Case {
        const char* relative;
        const char* reason;
    };
    const Case cases[] = {
        {"/linked/x.txt", "a link or a file stands on the way: "},
        {"/linked/new/x.txt", "a link or a file stands on the way: "},
        {"/real/deeper/x.txt", "a link or a file stands on the way: "},
        {"/file/x.txt", "a link or a file stands on the way: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.relative);
        LocalDownloadPlace place;
        int error = -1;
        EXPECT_EQ(DownloadToLocalFile(*http, files, 7, 1, ref, temp, target, c.relative, &error, &place), 0);
        EXPECT_EQ(place.reason.rfind(c.reason, 0), 0u) << place.reason;
        EXPECT_TRUE(fs::is_empty(outside));
        EXPECT_TRUE(TempEmpty());
    }
    // The chosen folder itself may be a link: the user chose it.
    fs::create_directory_symlink(target + "/real", P("chosen"));
    int error = -1;
    EXPECT_EQ(DownloadToLocalFile(*http, files, 7, 1, ref, temp, P("chosen"), "/x.txt", &error), 1);
    EXPECT_EQ(ReadFile(target + "/real/x.txt"), "x");
}

TEST_F(LocalDownloadTest, BrokenTransfersLeaveTheTargetAloneAndNoTemporaryFile) {
    const std::string content(200000, 'c');
    const std::string ref = server->PutFile("alice", "/c.bin", content);
    WriteFile(target + "/c.bin", "previous");

    Fault cut{"content", FaultKind::CutBody};
    cut.bytes = 1000;
    Fault longer{"content", FaultKind::WrongLength};
    longer.bytes = 10;
    Fault shorter{"content", FaultKind::WrongLength};
    shorter.bytes = -10;
    for (const Fault& fault : {cut, longer, shorter, Fault{"content", FaultKind::Drop},
                               Fault{"content", FaultKind::Status, 404}}) {
        SCOPED_TRACE(testserver::FaultKindName(fault.kind));
        server->InjectFault(fault);
        int error = -1;
        EXPECT_EQ(Fetch(ref, static_cast<std::int64_t>(content.size()), "/c.bin", &error), 0);
        EXPECT_NE(error, 0);
        EXPECT_EQ(ReadFile(target + "/c.bin"), "previous");
        EXPECT_TRUE(TempEmpty());
    }
    // The size the listing gave must be the size that came.
    int error = -1;
    EXPECT_EQ(Fetch(ref, static_cast<std::int64_t>(content.size()) + 1, "/c.bin", &error), 0);
    EXPECT_EQ(error, HttpErrorTransport);
    EXPECT_EQ(Fetch(ref, static_cast<std::int64_t>(content.size()) - 1, "/c.bin", &error), 0);
    EXPECT_EQ(error, HttpErrorTransport);
    EXPECT_EQ(ReadFile(target + "/c.bin"), "previous");
    EXPECT_TRUE(TempEmpty());
    // An error reply is never written into a file.
    server->InjectFault(Fault{"content", FaultKind::Status, 403});
    EXPECT_EQ(Fetch(ref, static_cast<std::int64_t>(content.size()), "/other.bin", &error), 0);
    EXPECT_EQ(error, HttpErrorNoPermission);
    EXPECT_FALSE(fs::exists(target + "/other.bin"));
}

TEST_F(LocalDownloadTest, NamesFromTheServerNeverLeaveTheTargetFolder) {
    const std::string ref = server->PutFile("alice", "/x.txt", "x");
    server->ClearRequests();
    for (const char* relative : {"/../x.txt", "/a/../../x.txt", "/..", "x.txt", "/a//x.txt", "/a/./x.txt", "/",
                                 "/a\\..\\..\\x.txt"}) {
        int error = -1;
        EXPECT_EQ(Fetch(ref, 1, relative, &error), 0) << relative;
        EXPECT_EQ(error, 0);
    }
    EXPECT_TRUE(server->Requests("content").empty());
    EXPECT_FALSE(fs::exists(P("x.txt")));
}

TEST_F(LocalDownloadTest, NamesLegalHereArriveAndRefusedOnesSayWhy) {
    const std::string ref = server->PutFile("alice", "/n.txt", "n");
    struct Case {
        std::string relative;
        std::string reason;  // "" when the name is legal here
    };
    const std::string longName(256, 'n');
    const std::vector<Case> cases = {
        {"/a:b.txt", ""},
        {"/x?y", ""},
        {"/CON", ""},
        {"/lpt1/nul.txt", ""},
        {"/<a>|\"b\"*", ""},
        {"/" + std::string(255, 'n'), ""},
        {"/" + longName, "'" + longName + "': the name is longer than 255 bytes"},
        {"/sub/" + longName + "/x", "'" + longName + "': the name is longer than 255 bytes"},
        {"/a\\b", "a name from the server is not a plain file name"},
        {"/tab\tname", "a name from the server is not a plain file name"},
        {"/..", "a name from the server is not a plain file name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.relative);
        ClientLogCapture log;
        LocalDownloadPlace place;
        int error = -1;
        const int result = DownloadToLocalFile(*http, files, 7, 1, ref, temp, target, c.relative, &error, &place);
        EXPECT_EQ(result, c.reason.empty() ? 1 : 0);
        EXPECT_EQ(place.reason, c.reason);
        if (c.reason.empty()) {
            EXPECT_EQ(ReadFile(target + c.relative), "n");
        } else {
            EXPECT_NE(log.All().find("refused, " + c.reason + ": "), std::string::npos) << log.All();
            EXPECT_EQ(log.All().find("would leave its folder"), std::string::npos);
        }
    }
    EXPECT_TRUE(TempEmpty());
}

TEST(DownloadTempPathTest, OnePlainNameInTheTemporaryFolder) {
    EXPECT_EQ(DownloadTempPath("/t", "workspace://SpacesStore/abc-1"), "/t/abc-1.draviktemp");
    EXPECT_EQ(DownloadTempPath("/t", "workspace://SpacesStore/a/b"), "/t/a_b.draviktemp");
    EXPECT_EQ(DownloadTempPath("/t", "workspace://SpacesStore/.."), "/t/_...draviktemp");
    EXPECT_EQ(DownloadTempPath("/t", "workspace://Store"), "/t/Store.draviktemp");
}

}  // namespace
