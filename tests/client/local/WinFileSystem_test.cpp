// The file functions behind the local file-system adapter, called through it, on real
// temporary folders.
#include "client/local/WinFileSystemAdapter.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "client/core/LocalFileIO.h"
#include "client/local/WinFileSystem.h"
#include "platform/md5.h"
#include "support/sandbox.h"

namespace {
namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Sandbox;
using testsupport::WriteFile;

class LocalFileSystemTest : public ::testing::Test {
protected:
    std::string P(const std::string& rel) const { return (box.Root() / rel).string(); }

    Sandbox box;
    WinFileSystemAdapter adapter;
};

TEST_F(LocalFileSystemTest, RefusedPathsFailEveryOperationWithoutTouchingTheDisk) {
    WriteFile(box.Root() / "keep/file.txt", "x");
    const std::vector<std::string> refused = {
        "relative/path",
        P("keep") + "//file.txt",            // empty component
        P("keep") + "/../../../../../../..",  // above the root
        P("keep") + "/" + std::string(256, 'n'),  // name longer than 255 bytes
        P("keep") + "/a\x01" "b",            // control character
        P("keep") + "/bad\xff\xfe",          // not UTF-8
        "",
    };
    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        int isDir = 77;
        EXPECT_FALSE(adapter.Exists(path, isDir));
        EXPECT_EQ(isDir, 77);
        EXPECT_EQ(adapter.CreateDirectory(path), 0);
        EXPECT_EQ(adapter.DeleteDirectory(path), 0);
        EXPECT_EQ(adapter.DeleteFile(path), 0);
        EXPECT_EQ(adapter.CreateFileWithSize(path, 4), 0);
        EXPECT_EQ(adapter.GetFileSize(path), 0);
        EXPECT_EQ(adapter.CopyFile(P("keep/file.txt"), path), 0);
        EXPECT_EQ(adapter.MoveFile(P("keep/file.txt"), path), 0);
        LocalFileItem item;
        EXPECT_FALSE(adapter.GetFileInfo(path, item));
        std::string md5;
        EXPECT_FALSE(adapter.GetFileMD5(path, md5));
        EXPECT_FALSE(adapter.SetReadOnly(path, true));
        EXPECT_FALSE(adapter.IsFileInUse(path));
        EXPECT_EQ(adapter.OpenWithApplication(path, nullptr, false), 0);
        CLocalFileIO* io = adapter.CreateFileIO();
        EXPECT_FALSE(io->Open(path, 1, 10));
        adapter.ReleaseFileIO(&io);
    }
    EXPECT_EQ(ReadFile(box.Root() / "keep/file.txt"), "x");
}

TEST_F(LocalFileSystemTest, DotStepsAreResolvedBeforeUse) {
    WriteFile(box.Root() / "a/b/f.txt", "1");
    std::string native;
    ASSERT_TRUE(WinFileSystem::ToNativePath(P("a/b/.."), native));
    EXPECT_EQ(native, P("a"));
    ASSERT_TRUE(WinFileSystem::ToNativePath(P("a/./b/."), native));
    EXPECT_EQ(native, P("a/b"));
    EXPECT_EQ(adapter.GetFileSize(P("a/b/../b/f.txt")), 1);
}

TEST_F(LocalFileSystemTest, ExistsReportsTheFolderBitNotOne) {
    WriteFile(box.Root() / "d/f", "abc");
    int isDir = -1;
    ASSERT_TRUE(adapter.Exists(P("d"), isDir));
    EXPECT_EQ(isDir, 0x10);
    ASSERT_TRUE(adapter.Exists(P("d/f"), isDir));
    EXPECT_EQ(isDir, 0);
    isDir = 5;
    EXPECT_FALSE(adapter.Exists(P("d/missing"), isDir));
    EXPECT_EQ(isDir, 5);
}

TEST_F(LocalFileSystemTest, FoldersAreCreatedCopiedMovedAndDeleted) {
    ASSERT_EQ(adapter.CreateDirectory(P("x/y/z")), 1);
    EXPECT_TRUE(fs::is_directory(box.Root() / "x/y/z"));
    EXPECT_EQ(adapter.CreateDirectory(P("x/y/z")), 1);  // already there
    WriteFile(box.Root() / "x/file", "f");
    EXPECT_EQ(adapter.CreateDirectory(P("x/file")), 0);  // a file stands there
    EXPECT_EQ(adapter.CreateDirectory(P("x/file/sub")), 0);

    WriteFile(box.Root() / "x/y/z/deep.txt", "deep");
    ASSERT_EQ(adapter.CopyDirectory(P("x"), P("copy")), 1);
    EXPECT_EQ(ReadFile(box.Root() / "copy/y/z/deep.txt"), "deep");
    EXPECT_EQ(ReadFile(box.Root() / "copy/file"), "f");
    EXPECT_EQ(adapter.CopyDirectory(P("x/file"), P("copy2")), 0);  // source is no folder
    EXPECT_EQ(adapter.CopyDirectory(P("missing"), P("copy3")), 0);

    EXPECT_EQ(adapter.MoveDirectory(P("copy"), P("x")), 0);  // never replaces
    ASSERT_EQ(adapter.MoveDirectory(P("copy"), P("moved")), 1);
    EXPECT_FALSE(fs::exists(box.Root() / "copy"));
    EXPECT_EQ(ReadFile(box.Root() / "moved/y/z/deep.txt"), "deep");

    // Read-only files and folders below go too; a file path is no folder.
    fs::permissions(box.Root() / "moved/y/z/deep.txt", fs::perms::owner_read, fs::perm_options::replace);
    EXPECT_EQ(adapter.DeleteDirectory(P("moved/file")), 0);
    ASSERT_EQ(adapter.DeleteDirectory(P("moved")), 1);
    EXPECT_FALSE(fs::exists(box.Root() / "moved"));
    EXPECT_EQ(adapter.DeleteDirectory(P("moved")), 1);  // missing counts as done
}

TEST_F(LocalFileSystemTest, DeleteDirectoryRemovesLinksWithoutFollowingThem) {
    WriteFile(box.Root() / "outside/precious.txt", "keep me");
    WriteFile(box.Root() / "tree/a.txt", "a");
    fs::create_directory_symlink(box.Root() / "outside", box.Root() / "tree/link");
    ASSERT_EQ(adapter.DeleteDirectory(P("tree")), 1);
    EXPECT_FALSE(fs::exists(box.Root() / "tree"));
    EXPECT_EQ(ReadFile(box.Root() / "outside/precious.txt"), "keep me");
}

TEST_F(LocalFileSystemTest, FilesAreCreatedSizedCopiedMovedAndDeleted) {
    ASSERT_EQ(adapter.CreateFileWithSize(P("f.bin"), 5000), 1);
    EXPECT_EQ(fs::file_size(box.Root() / "f.bin"), 5000u);
    EXPECT_EQ(adapter.GetFileSize(P("f.bin")), 5000);
    ASSERT_EQ(adapter.CreateFileWithSize(P("f.bin"), 0), 1);  // truncates
    EXPECT_EQ(fs::file_size(box.Root() / "f.bin"), 0u);
    EXPECT_EQ(adapter.CreateFileWithSize(P("nofolder/f.bin"), 1), 0);
    fs::create_directory(box.Root() / "dir");
    EXPECT_EQ(adapter.CreateFileWithSize(P("dir"), 1), 0);

    EXPECT_EQ(adapter.GetFileSize(P("dir")), -1);
    EXPECT_EQ(adapter.GetFileSize(P("missing")), -1);

    WriteFile(box.Root() / "src.txt", "source");
    WriteFile(box.Root() / "dst.txt", "old content that is longer");
    ASSERT_EQ(adapter.CopyFile(P("src.txt"), P("dst.txt")), 1);
    EXPECT_EQ(ReadFile(box.Root() / "dst.txt"), "source");
    EXPECT_EQ(adapter.CopyFile(P("missing"), P("dst2.txt")), 0);

    WriteFile(box.Root() / "dst.txt", "replace me");
    ASSERT_EQ(adapter.MoveFile(P("src.txt"), P("dst.txt")), 1);
    EXPECT_EQ(ReadFile(box.Root() / "dst.txt"), "source");
    EXPECT_FALSE(fs::exists(box.Root() / "src.txt"));
    EXPECT_EQ(adapter.MoveFile(P("dst.txt"), P("dir")), 0);  // a folder is never replaced
    EXPECT_TRUE(fs::exists(box.Root() / "dst.txt"));

    fs::permissions(box.Root() / "dst.txt", fs::perms::owner_read, fs::perm_options::replace);
    EXPECT_EQ(adapter.DeleteFile(P("dst.txt")), 1);  // read-only files too
    EXPECT_FALSE(fs::exists(box.Root() / "dst.txt"));
    EXPECT_EQ(adapter.DeleteFile(P("dst.txt")), 1);  // missing counts as done
    EXPECT_EQ(adapter.DeleteFile(P("dir")), 0);
    EXPECT_TRUE(fs::is_directory(box.Root() / "dir"));
}

TEST_F(LocalFileSystemTest, FileInfoDescribesFilesAndFolders) {
    WriteFile(box.Root() / "d/f.txt", "hello");
    fs::create_directory(box.Root() / "empty");
    LocalFileItem file;
    ASSERT_TRUE(adapter.GetFileInfo(P("d/f.txt"), file));
    EXPECT_EQ(file.name, "f.txt");
    EXPECT_EQ(file.shortName, "f.txt");
    EXPECT_EQ(file.size, 5u);
    EXPECT_FALSE(file.isFolder);
    EXPECT_EQ(file.attributes & kLocalAttrDirectory, 0u);
    EXPECT_FALSE(file.hasChildren);
    EXPECT_NE(file.fileIndexLow | file.fileIndexHigh, 0u);
    EXPECT_GE(file.lastWriteTime.year, 2020);
    EXPECT_EQ(file.lastWriteTime.utcOffsetHours, 0);
    EXPECT_GE(file.creationTime.year, 2020);

    LocalFileItem folder;
    ASSERT_TRUE(adapter.GetFileInfo(P("d"), folder));
    EXPECT_TRUE(folder.isFolder);
    EXPECT_EQ(folder.attributes & kLocalAttrDirectory, kLocalAttrDirectory);
    EXPECT_TRUE(folder.hasChildren);
    EXPECT_EQ(folder.fileIndexLow | folder.fileIndexHigh, 0u);
    ASSERT_TRUE(adapter.GetFileInfo(P("empty"), folder));
    EXPECT_FALSE(folder.hasChildren);

    LocalFileItem missing;
    EXPECT_FALSE(adapter.GetFileInfo(P("nothing"), missing));

    fs::permissions(box.Root() / "d/f.txt", fs::perms::owner_read, fs::perm_options::replace);
    ASSERT_TRUE(adapter.GetFileInfo(P("d/f.txt"), file));
    EXPECT_EQ(file.attributes & kLocalAttrReadOnly, kLocalAttrReadOnly);
}

TEST_F(LocalFileSystemTest, ListingSkipsLinksAndSpecialFilesAndFailsOnNamesThatAreNotUtf8) {
    WriteFile(box.Root() / "l/a.txt", "a");
    fs::create_directory(box.Root() / "l/sub");
    fs::create_symlink(box.Root() / "l/a.txt", box.Root() / "l/link");
    ASSERT_EQ(::mkfifo((box.Root() / "l/fifo").c_str(), 0600), 0);
    std::vector<LocalFileItem> items;
    ASSERT_TRUE(adapter.ListDirectory(P("l"), items));
    std::map<std::string, bool> seen;
    for (const auto& i : items) {
        seen[i.name] = i.isFolder;
        EXPECT_EQ(i.fileIndexLow | i.fileIndexHigh, 0u);
        EXPECT_FALSE(i.hasChildren);
    }
    EXPECT_EQ(seen, (std::map<std::string, bool>{{"a.txt", false}, {"sub", true}}));

    ASSERT_TRUE(adapter.ListDirectory(P("l/sub"), items));
    EXPECT_TRUE(items.empty());
    EXPECT_FALSE(adapter.ListDirectory(P("l/a.txt"), items));
    EXPECT_FALSE(adapter.ListDirectory(P("none"), items));

    WriteFile(box.Root() / "l/bad\xff" "name", "?");
    items.push_back(LocalFileItem());
    EXPECT_FALSE(adapter.ListDirectory(P("l"), items));
    EXPECT_TRUE(items.empty());
}

TEST_F(LocalFileSystemTest, DirectoryTreeFollowsItsDepth) {
    WriteFile(box.Root() / "t/a.txt", "a");
    WriteFile(box.Root() / "t/s/b.txt", "bb");
    WriteFile(box.Root() / "t/s/u/c.txt", "ccc");
    fs::create_directory(box.Root() / "t/empty");

    auto count = [](const LocalFileTree& node, auto&& self) -> int {
        int n = 0;
        for (const auto& c : node.children) n += 1 + self(c, self);
        return n;
    };
    LocalFileTree tree;
    ASSERT_TRUE(adapter.GetDirectoryTree(P("t"), tree, 0));
    EXPECT_EQ(tree.item.name, "t");
    EXPECT_TRUE(tree.item.hasChildren);
    EXPECT_EQ(count(tree, count), 0);

    LocalFileTree one;
    ASSERT_TRUE(adapter.GetDirectoryTree(P("t"), one, 1));
    EXPECT_EQ(count(one, count), 3);  // a.txt, s, empty

    LocalFileTree all;
    ASSERT_TRUE(adapter.GetDirectoryTree(P("t"), all, -1));
    EXPECT_EQ(count(all, count), 6);
    for (const auto& child : all.children) {
        EXPECT_EQ(child.item.fileIndexLow | child.item.fileIndexHigh, 0u);
        EXPECT_FALSE(child.item.hasChildren);
        if (child.item.name == "s") {
            ASSERT_EQ(child.children.size(), 2u);
        }
    }

    // A file is a tree of one item.
    LocalFileTree file;
    ASSERT_TRUE(adapter.GetDirectoryTree(P("t/a.txt"), file, -1));
    EXPECT_EQ(file.item.name, "a.txt");
    EXPECT_TRUE(file.children.empty());

    LocalFileTree missing;
    EXPECT_FALSE(adapter.GetDirectoryTree(P("t/none"), missing, -1));
}

TEST_F(LocalFileSystemTest, Md5IsUpperCaseHexOfTheWholeContent) {
    WriteFile(box.Root() / "abc", "abc");
    WriteFile(box.Root() / "empty", "");
    std::string big(3 * 65536 + 123, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 3);
    WriteFile(box.Root() / "big", big);

    std::string md5;
    ASSERT_TRUE(adapter.GetFileMD5(P("abc"), md5));
    EXPECT_EQ(md5, "900150983CD24FB0D6963F7D28E17F72");
    ASSERT_TRUE(adapter.GetFileMD5(P("empty"), md5));
    EXPECT_EQ(md5, "D41D8CD98F00B204E9800998ECF8427E");
    ASSERT_TRUE(adapter.GetFileMD5(P("big"), md5));
    std::string expected = plat::Md5HexLower(big);
    std::transform(expected.begin(), expected.end(), expected.begin(), ::toupper);
    EXPECT_EQ(md5, expected);

    md5 = "unchanged";
    EXPECT_FALSE(adapter.GetFileMD5(P("missing"), md5));
    fs::create_directory(box.Root() / "folder");
    EXPECT_FALSE(adapter.GetFileMD5(P("folder"), md5));
    EXPECT_EQ(md5, "unchanged");
}

TEST_F(LocalFileSystemTest, ReadOnlyIsSetAndCleared) {
    WriteFile(box.Root() / "r.txt", "r");
    const fs::path p = box.Root() / "r.txt";
    auto writable = [&] { return (fs::status(p).permissions() & fs::perms::owner_write) != fs::perms::none; };
    ASSERT_TRUE(adapter.SetReadOnly(P("r.txt"), true));
    EXPECT_FALSE(writable());
    EXPECT_EQ(fs::status(p).permissions() & (fs::perms::group_write | fs::perms::others_write), fs::perms::none);
    EXPECT_TRUE(adapter.SetReadOnly(P("r.txt"), true));  // already so
    ASSERT_TRUE(adapter.SetReadOnly(P("r.txt"), false));
    EXPECT_TRUE(writable());
    EXPECT_FALSE(adapter.SetReadOnly(P("missing"), true));
}

TEST_F(LocalFileSystemTest, FileInUseMeansAnotherHolderOfALock) {
    WriteFile(box.Root() / "u.txt", "u");
    EXPECT_FALSE(adapter.IsFileInUse(P("u.txt")));
    EXPECT_FALSE(adapter.IsFileInUse(P("missing.txt")));
    const int fd = ::open((box.Root() / "u.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_TRUE(adapter.IsFileInUse(P("u.txt")));
    ::close(fd);
    EXPECT_FALSE(adapter.IsFileInUse(P("u.txt")));
}

TEST_F(LocalFileSystemTest, SmallFacts) {
    EXPECT_EQ(adapter.GetShortcutExtension(), ".desktop");
    const std::int64_t a = adapter.GetTickTime();
    EXPECT_GE(adapter.GetTickTime(), a);
    adapter.ReleaseFileIO(nullptr);
    CLocalFileIO* none = nullptr;
    adapter.ReleaseFileIO(&none);
}

TEST(LocalPathBelowTest, OnlyPathsStrictlyInsideTheFolder) {
    struct Case {
        const char* folder;
        const char* path;
        bool below;
    };
    const Case cases[] = {
        {"/data/target", "/data/target/a.txt", true},
        {"/data/target/", "/data/target/a/b", true},
        {"/data/target", "/data/target", false},
        {"/data/target", "/data/targetx/a", false},
        {"/data/target", "/data/target/../other/a", false},
        {"/data/target", "/data/target/a/..", false},
        {"/data/target", "/data/target/a/../b", true},
        {"/data/target", "/data/target//a", false},
        {"/data/target", "relative/a", false},
        {"/", "/a", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsLocalPathBelow(c.folder, c.path), c.below) << c.folder << " " << c.path;
    }
}

}  // namespace
