// The sync folder's file system on the real disk: record paths, the rules that keep
// them inside the folder, and what the engine asks of it.
#include "sync/engine/EngineFs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ReconcileWorld.h"
#include "support/sandbox.h"
#include "sync/common/BaseFunc.h"
#include "sync/engine/FileDigest.h"

namespace {

namespace fs = std::filesystem;

class DiskFs : public ::testing::Test {
protected:
    DiskFs() : root(box.Dir("sync")), disk(root.string()) {}
    std::string P(const std::string& rel) const { return (root / rel).string(); }
    testsupport::Sandbox box;
    fs::path root;
    DiskEngineFs disk;
};

TEST_F(DiskFs, KindsNeverFollowLinks) {
    testsupport::WriteFile(root / "f.txt", "abc");
    fs::create_directory(root / "d");
    fs::create_symlink(root / "f.txt", root / "link");
    ASSERT_EQ(::mkfifo(P("fifo").c_str(), 0600), 0);
    EXPECT_EQ(disk.KindOf("/f.txt"), EngineFs::Kind::File);
    EXPECT_EQ(disk.KindOf("d"), EngineFs::Kind::Folder);
    EXPECT_EQ(disk.KindOf("\\link"), EngineFs::Kind::Other);
    EXPECT_EQ(disk.KindOf("/fifo"), EngineFs::Kind::Other);
    EXPECT_EQ(disk.KindOf("/missing"), EngineFs::Kind::Missing);
    EXPECT_EQ(disk.KindOf(""), EngineFs::Kind::Folder);  // the sync folder itself

    bool isFolder = true;
    std::uint64_t size = 0;
    ASSERT_TRUE(disk.Attributes("\\f.txt", isFolder, size));
    EXPECT_FALSE(isFolder);
    EXPECT_EQ(size, 3u);
    EXPECT_FALSE(disk.Attributes("/link", isFolder, size));
    EXPECT_TRUE(disk.IsSyncable("/f.txt", true));
    EXPECT_FALSE(disk.IsSyncable("/link", true));
    EXPECT_TRUE(disk.IsSyncable("/link", false));
    EXPECT_FALSE(disk.IsSyncable("/x.tmp", false));

    DiskStamp stamp;
    ASSERT_TRUE(disk.Stamp("/f.txt", stamp));
    EXPECT_EQ(stamp.size, 3u);
    EXPECT_FALSE(disk.Stamp("/link", stamp));
    FileDigestHolder holder;
    EXPECT_EQ(disk.Digest(holder, "/f.txt"), BaseFunc::ToUpper("900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_EQ(disk.Digest(holder, "/link"), "");
}

// Every record path is read below the root; what would leave it or pass through a link
// is refused before the disk is touched.
TEST_F(DiskFs, RecordPathsStayInsideTheSyncFolder) {
    const fs::path outside = box.Dir("outside");
    testsupport::WriteFile(outside / "secret.txt", "secret");
    testsupport::WriteFile(root / "a" / "b.txt", "b");
    fs::create_directory_symlink(outside, root / "out");       // a link to a folder outside
    testsupport::WriteFile(root / "plain", "p");                 // a file where a folder would be
    const std::string top = root.string();
    struct Case {
        std::string path;
        EngineFs::Refusal refusal;
        std::string disk;  // when accepted
    };
    const Case cases[] = {
        {"", EngineFs::Refusal::None, top},
        {"\\", EngineFs::Refusal::None, top},
        {"a\\b.txt", EngineFs::Refusal::None, top + "/a/b.txt"},
        {"//a///b.txt/", EngineFs::Refusal::None, top + "/a/b.txt"},
        {outside.string() + "/secret.txt", EngineFs::Refusal::None, top + outside.string() + "/secret.txt"},
        {"/a/../../outside/secret.txt", EngineFs::Refusal::Name, ""},
        {"..", EngineFs::Refusal::Name, ""},
        {"/a/./b.txt", EngineFs::Refusal::Name, ""},
        {std::string("/a\x01b"), EngineFs::Refusal::Name, ""},
        {std::string("/a\0b", 4), EngineFs::Refusal::Name, ""},
        {"/\xff\xfe", EngineFs::Refusal::Name, ""},
        {"/" + std::string(255, 'n'), EngineFs::Refusal::None, top + "/" + std::string(255, 'n')},
        {"/" + std::string(256, 'n'), EngineFs::Refusal::TooLong, ""},
        {"/" + std::string(120, '\xe4') + "/x", EngineFs::Refusal::Name, ""},  // not UTF-8
        {std::string(40, '/') + [] { std::string p; for (int i = 0; i < 200; ++i) p += "/" + std::string(200, 'd'); return p; }(), EngineFs::Refusal::TooLong, ""},
        {"/out/secret.txt", EngineFs::Refusal::LinkOnWay, ""},
        {"/plain/x", EngineFs::Refusal::LinkOnWay, ""},
        {"/out", EngineFs::Refusal::None, top + "/out"},  // the link itself, never followed
    };
    for (const Case& c : cases) {
        std::string resolved;
        EXPECT_EQ(disk.Resolve(c.path, resolved), c.refusal) << c.path;
        EXPECT_EQ(resolved, c.disk) << c.path;
    }

    // What is refused is unknown (never absent) and never touched.
    EXPECT_EQ(disk.KindOf("/out/secret.txt"), EngineFs::Kind::Other);
    EXPECT_EQ(disk.KindOf("/a/../../outside/secret.txt"), EngineFs::Kind::Other);
    EXPECT_EQ(disk.KindOf(outside.string() + "/secret.txt"), EngineFs::Kind::Missing);
    errno = 0;
    EXPECT_FALSE(disk.RemoveFile("/out/secret.txt"));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_FALSE(disk.Move("/out/secret.txt", "/stolen.txt", false));
    EXPECT_FALSE(disk.CopyFile("/a/b.txt", "/out/planted.txt"));
    EXPECT_FALSE(disk.MakeFolders("/out/made"));
    errno = 0;
    EXPECT_FALSE(disk.Move("/a/b.txt", "/a/../../outside/b.txt", false));
    EXPECT_EQ(errno, EINVAL);
    std::vector<EngineFs::Entry> entries;
    std::string error;
    EXPECT_FALSE(disk.List("/out", entries, error));  // the link is never entered
    EXPECT_TRUE(entries.empty());
    FileDigestHolder holder;
    EXPECT_EQ(disk.Digest(holder, "/out/secret.txt"), "");
    EXPECT_EQ(testsupport::ReadFile(outside / "secret.txt"), "secret");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(root / "stolen.txt"));
    EXPECT_TRUE(fs::exists(root / "a" / "b.txt"));

    // The sync folder itself is never moved or removed; without a root nothing is taken.
    EXPECT_FALSE(disk.RemoveTree(""));
    EXPECT_FALSE(disk.Move("\\", "/moved", false));
    EXPECT_TRUE(fs::is_directory(root));
    DiskEngineFs unrooted;
    std::string resolved;
    EXPECT_EQ(unrooted.Resolve("/a/b.txt", resolved), EngineFs::Refusal::NoRoot);
    unrooted.SetRoot(std::string("relative/path"));
    EXPECT_EQ(unrooted.Resolve("/a/b.txt", resolved), EngineFs::Refusal::NoRoot);
}

// A hash pass (one holder) checks the way of each folder once; any other folder, and
// the next pass, are checked again.
TEST_F(DiskFs, ADigestPassChecksTheWayOfEachFolder) {
    testsupport::WriteFile(root / "a" / "x.txt", "abc");
    testsupport::WriteFile(root / "a" / "y.txt", "abc");
    const fs::path outside = box.Dir("outside");
    testsupport::WriteFile(outside / "x.txt", "abc");
    fs::create_directory_symlink(outside, root / "out");
    const std::string abc = BaseFunc::ToUpper("900150983cd24fb0d6963f7d28e17f72");
    FileDigestHolder pass;
    EXPECT_EQ(disk.Digest(pass, "/a/x.txt"), abc);
    EXPECT_EQ(disk.Digest(pass, "\\a\\y.txt"), abc);
    EXPECT_EQ(disk.Digest(pass, "/out/x.txt"), "");

    fs::rename(root / "a", root / "real");
    fs::create_directory_symlink(outside, root / "a");
    FileDigestHolder next;
    EXPECT_EQ(disk.Digest(next, "/a/x.txt"), "");
    EXPECT_EQ(disk.Digest(next, "/real/x.txt"), abc);
}

// A pass's clear way spares the levels it has seen, nothing else: what lies below it, or
// beside it, is still checked, and a refusal leaves it as it was.
TEST_F(DiskFs, AClearWayIsCheckedOnFromAndNeverStandsForAnotherWay) {
    const fs::path outside = box.Dir("outside");
    fs::create_directories(root / "a" / "b" / "c");
    fs::create_directory_symlink(outside, root / "a" / "link");
    fs::create_directory_symlink(outside, root / "a" / "b" / "down");
    fs::create_directory_symlink(outside, root / "out");
    const std::string top = root.string();
    struct Step {
        const char* path;
        EngineFs::Refusal refusal;
        std::string wayAfter;
    };
    const Step steps[] = {
        {"/a/b/f", EngineFs::Refusal::None, top + "/a/b"},
        {"/a/b/down/f", EngineFs::Refusal::LinkOnWay, top + "/a/b"},  // below the way
        {"/a/link/f", EngineFs::Refusal::LinkOnWay, top + "/a/b"},    // beside it
        {"/out/f", EngineFs::Refusal::LinkOnWay, top + "/a/b"},
        {"/a/b/c/f", EngineFs::Refusal::None, top + "/a/b/c"},
        {"/f", EngineFs::Refusal::None, top},
    };
    std::string way;
    for (const Step& step : steps) {
        std::string resolved;
        EXPECT_EQ(disk.Resolve(step.path, resolved, &way), step.refusal) << step.path;
        EXPECT_EQ(way, step.wayAfter) << step.path;
    }
}

TEST_F(DiskFs, TheSyncFolderMayBeALinkToAFolder) {
    testsupport::WriteFile(root / "a.txt", "a");
    const fs::path linked = box.Root() / "linked-sync";
    fs::create_directory_symlink(root, linked);
    DiskEngineFs viaLink(linked.string());
    std::vector<EngineFs::Entry> entries;
    std::string error;
    ASSERT_TRUE(viaLink.List("", entries, error)) << error;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "a.txt");
    EXPECT_EQ(viaLink.KindOf("/a.txt"), EngineFs::Kind::File);
}

TEST_F(DiskFs, FileOpenForWritingIsBeingWritten) {
    testsupport::WriteFile(root / "f.txt", "abc");
    EXPECT_FALSE(disk.IsBeingWritten("/f.txt"));
    const int writer = ::open(P("f.txt").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    EXPECT_TRUE(disk.IsBeingWritten("/f.txt"));
    ::close(writer);
    EXPECT_FALSE(disk.IsBeingWritten("/f.txt"));
    // A reader does not count.
    const int reader = ::open(P("f.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(disk.IsBeingWritten("\\f.txt"));
    ::close(reader);
}

TEST_F(DiskFs, WriterTestNeverCreatesAFile) {
    EXPECT_FALSE(disk.IsBeingWritten("/absent.txt"));
    EXPECT_FALSE(fs::exists(root / "absent.txt"));
    fs::create_directory(root / "d");
    EXPECT_FALSE(disk.IsBeingWritten("/d"));
}

TEST_F(DiskFs, MovesKeepOrReplaceTargets) {
    testsupport::WriteFile(root / "a", "A");
    testsupport::WriteFile(root / "b", "B");
    EXPECT_FALSE(disk.Move("/a", "/b", false));
    EXPECT_EQ(testsupport::ReadFile(root / "b"), "B");
    EXPECT_TRUE(disk.Move("/a", "\\b", true));
    EXPECT_EQ(testsupport::ReadFile(root / "b"), "A");
    EXPECT_FALSE(fs::exists(root / "a"));
}

// A new folder is listed as the local scan lists: links recorded as unknown, never
// entered; a folder that cannot be listed to its end is reported.
TEST_F(DiskFs, NewFolderIsListedAsTheScanListsIt) {
    testsupport::WriteFile(root / "new" / "x.txt", "xx");
    testsupport::WriteFile(root / "new" / "sub" / "y.txt", "y");
    fs::create_directory_symlink(root / "new" / "sub", root / "new" / "link");
    FileNode driver(SyncFileInfo("Driver"));
    FileNode* parent = driver.InsertChild(SyncFileInfo(0, 1, 0, "\\new")).Node();
    LocalUnknownSet unknown;
    ASSERT_TRUE(disk.ListFolder(nullptr, "\\new", parent, &unknown));
    EXPECT_EQ(enginetest::DumpTree(driver), "/new/ /new/sub/ /new/sub/y.txt= /new/x.txt=");
    EXPECT_EQ(unknown.Entries(), (std::vector<std::string>{"/new/link"}));
    FileNode other(SyncFileInfo("Driver"));
    EXPECT_FALSE(disk.ListFolder(nullptr, "/absent", &other, &unknown));
    EXPECT_FALSE(disk.ListFolder(nullptr, "/new/link", &other, &unknown));
    EXPECT_TRUE(other.children.empty());
}

// A conflict resolved on a real folder: the local version is renamed to its backup name,
// never over an existing file.
class DiskConflict : public DiskFs {
protected:
    DiskConflict() {
        BaseFunc::SetConflictTagSource([this] { return static_cast<std::uint16_t>(0xAB + tags++); });
    }
    ~DiskConflict() override { BaseFunc::SetConflictTagSource({}); }

    bool Build(const std::string& tracerSpec, const std::string& localSpec, const std::string& serverSpec) {
        enginetest::AddItems(tracer, tracerSpec);
        enginetest::AddItems(driver, localSpec);
        enginetest::AddItems(server, serverSpec);
        return rc.BuildCycle(&driver, &server, &tracer, &uniform);
    }

    int tags = 0;
    enginetest::FakeClock clock;
    Reconciler rc{disk, clock};
    FileNode driver{SyncFileInfo("Driver")};
    FileNode server{SyncFileInfo("Server")};
    FileNode tracer{SyncFileInfo("Tracer")};
    TaskNode uniform{SyncTaskInfo::CreateUniformRoot()};
};

TEST_F(DiskConflict, FileIsKeptUnderItsBackupName) {
    testsupport::WriteFile(root / "a.txt", "local edit");
    ASSERT_TRUE(Build("a.txt=A", "a.txt=B", "a.txt=C"));
    EXPECT_FALSE(fs::exists(root / "a.txt"));
    EXPECT_EQ(testsupport::ReadFile(root / ("a.txt" BAK)), "local edit");
    EXPECT_EQ(enginetest::DumpPlan(uniform), "/a.txt:a2t1 /a.txt" BAK ":a1t1");
}

TEST_F(DiskConflict, ExistingBackupIsNeverOverwritten) {
    testsupport::WriteFile(root / "a.txt", "local edit");
    testsupport::WriteFile(root / ("a.txt" BAK), "older backup");
    ASSERT_TRUE(Build("a.txt=A", "a.txt=B", "a.txt=C"));
    EXPECT_EQ(testsupport::ReadFile(root / ("a.txt" BAK)), "older backup");
    EXPECT_EQ(testsupport::ReadFile(root / "a.txt.冲突备份.20240102-030405.00AC.bak"), "local edit");
}

TEST_F(DiskConflict, FolderIsKeptWithItsContent) {
    testsupport::WriteFile(root / "x/in.txt", "inside");
    ASSERT_TRUE(Build("x/ x/in.txt=I", "x/ x/in.txt=J", "x=F"));
    EXPECT_EQ(testsupport::ReadFile(root / ("x" BAK) / "in.txt"), "inside");
    EXPECT_FALSE(fs::exists(root / "x"));
    EXPECT_EQ(enginetest::DumpTree(driver), "/x" BAK "/ /x" BAK "/in.txt=J");
}

}  // namespace
