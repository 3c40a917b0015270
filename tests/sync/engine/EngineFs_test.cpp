// The real disk behind the reconciliation.
#include "sync/engine/EngineFs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ReconcileWorld.h"
#include "support/sandbox.h"
#include "sync/common/BaseFunc.h"

namespace {

namespace fs = std::filesystem;

class DiskFs : public ::testing::Test {
protected:
    DiskFs() : root(box.Dir("sync")) {}
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
    EXPECT_EQ(disk.KindOf(P("f.txt")), EngineFs::Kind::File);
    EXPECT_EQ(disk.KindOf(P("d")), EngineFs::Kind::Folder);
    EXPECT_EQ(disk.KindOf(P("link")), EngineFs::Kind::Other);
    EXPECT_EQ(disk.KindOf(P("fifo")), EngineFs::Kind::Other);
    EXPECT_EQ(disk.KindOf(P("missing")), EngineFs::Kind::Missing);
    // Record paths keep '\\' separators; the disk form is made here.
    EXPECT_EQ(disk.KindOf(root.string() + "\\f.txt"), EngineFs::Kind::File);

    bool isFolder = true;
    std::uint64_t size = 0;
    ASSERT_TRUE(disk.Attributes(P("f.txt"), isFolder, size));
    EXPECT_FALSE(isFolder);
    EXPECT_EQ(size, 3u);
    EXPECT_FALSE(disk.Attributes(P("link"), isFolder, size));
    EXPECT_TRUE(disk.IsSyncable(P("f.txt"), true));
    EXPECT_FALSE(disk.IsSyncable(P("link"), true));
    EXPECT_TRUE(disk.IsSyncable(P("link"), false));
    EXPECT_FALSE(disk.IsSyncable(P("x.tmp"), false));
}

TEST_F(DiskFs, FileOpenForWritingIsBeingWritten) {
    testsupport::WriteFile(root / "f.txt", "abc");
    EXPECT_FALSE(disk.IsBeingWritten(P("f.txt")));
    const int writer = ::open(P("f.txt").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    EXPECT_TRUE(disk.IsBeingWritten(P("f.txt")));
    ::close(writer);
    EXPECT_FALSE(disk.IsBeingWritten(P("f.txt")));
    // A reader does not count.
    const int reader = ::open(P("f.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(disk.IsBeingWritten(P("f.txt")));
    ::close(reader);
}

TEST_F(DiskFs, WriterTestNeverCreatesAFile) {
    EXPECT_FALSE(disk.IsBeingWritten(P("absent.txt")));
    EXPECT_FALSE(fs::exists(root / "absent.txt"));
    fs::create_directory(root / "d");
    EXPECT_FALSE(disk.IsBeingWritten(P("d")));
}

TEST_F(DiskFs, MovesKeepOrReplaceTargets) {
    testsupport::WriteFile(root / "a", "A");
    testsupport::WriteFile(root / "b", "B");
    EXPECT_FALSE(disk.MoveItem(P("a"), P("b")));
    EXPECT_EQ(testsupport::ReadFile(root / "b"), "B");
    EXPECT_TRUE(disk.MoveItemReplace(P("a"), P("b")));
    EXPECT_EQ(testsupport::ReadFile(root / "b"), "A");
    EXPECT_FALSE(fs::exists(root / "a"));
}

TEST_F(DiskFs, ListingNeedsALister) {
    FileNode parent(SyncFileInfo("Driver"));
    EXPECT_FALSE(disk.ListFolder(nullptr, P(""), &parent));
    DiskEngineFs withLister([](CSyncBase*, const std::u16string& folder, FileNode* node) {
        return !folder.empty() && node != nullptr;
    });
    EXPECT_TRUE(withLister.ListFolder(nullptr, P(""), &parent));
}

// A conflict resolved on a real folder: the local version is renamed to its backup name,
// never over an existing file.
class DiskConflict : public DiskFs {
protected:
    DiskConflict() {
        BaseFunc::SetConflictTagSource([this] { return static_cast<std::uint16_t>(0xAB + tags++); });
        rc.syncRootUtf8 = root.string();
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
