#include "sync/common/LocalFileSystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "support/synclogcapture.h"

namespace {

namespace stdfs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr std::uint64_t kAllOnes = 0xFFFFFFFFFFFFFFFFull;

// A work folder in a sandbox, with record-style paths ('\\' below the root).
class LocalFileSystemTest : public ::testing::Test {
protected:
    LocalFileSystemTest() : root_(sandbox_.Dir("work")), outside_(sandbox_.Dir("outside")) {
        WriteFile(outside_ / "keep.txt", "outside");
    }

    // Record path of a relative path below the work folder.
    std::string P(const std::string& relative) const {
        std::string p = root_.string();
        for (char c : "\\" + relative) p += c == '/' ? '\\' : c;
        return p;
    }
    stdfs::path F(const std::string& relative) const { return root_ / relative; }

    // The names below a folder, recursively, sorted, links and folders marked.
    static std::vector<std::string> Listing(const stdfs::path& dir) {
        std::vector<std::string> names;
        for (auto it = stdfs::recursive_directory_iterator(dir); it != stdfs::recursive_directory_iterator(); ++it) {
            std::string name = stdfs::relative(it->path(), dir).string();
            if (it->is_symlink()) name += "@";
            else if (it->is_directory()) name += "/";
            names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    testsupport::Sandbox sandbox_;
    stdfs::path root_;
    stdfs::path outside_;
};

// Paths no operation may accept.
const char* const kBadPaths[] = {
    "relative\\a.txt",
    "/a/../../etc",   // .. up to the root
    "/a//b",          // empty component
    "/a/b\x01c",      // refused name (a control character)
    "/a/\xC3\x28",    // malformed UTF-8
};

TEST_F(LocalFileSystemTest, IsExistTellsFilesFromFoldersAndIgnoresLinks) {
    WriteFile(F("file.txt"), "abc");
    stdfs::create_directories(F("dir/sub"));
    stdfs::create_symlink(outside_ / "keep.txt", F("linkfile"));
    stdfs::create_directory_symlink(outside_, F("linkdir"));
    ASSERT_EQ(::mkfifo(F("fifo").c_str(), 0600), 0);

    struct Case {
        std::string path;
        std::uint32_t kindIn;
        bool exists;
        std::uint32_t kindOut;
    };
    const Case cases[] = {
        {P("file.txt"), 0, true, 0},
        {P("file.txt"), 1, false, 1},      // a folder was asked for
        {P("file.txt"), 16, true, 0},      // 10 and above: any kind
        {P("dir"), 0, false, 0},           // a file was asked for
        {P("dir"), 1, true, 16},
        {P("dir"), 16, true, 16},
        {P("dir\\sub\\"), 1, true, 16},    // trailing separator dropped for folders
        {P("dir/./sub/../sub"), 1, true, 16},
        {P("missing"), 0, false, 0},
        {P("missing"), 16, false, 16},
        {P("linkfile"), 0, false, 0},
        {P("linkfile"), 16, false, 16},
        {P("linkdir"), 1, false, 1},
        {P("linkdir\\"), 1, false, 1},     // never followed through a trailing separator
        {P("fifo"), 16, false, 16},
        {std::string(P("file.txt")) + std::string("\0x", 2), 0, false, 0},  // zero byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " kind " + std::to_string(c.kindIn));
        std::uint32_t kind = c.kindIn;
        EXPECT_EQ(LocalFileSystem::IsExist(c.path, kind), c.exists);
        EXPECT_EQ(kind, c.kindOut);
    }
    for (const char* bad : kBadPaths) {
        std::uint32_t kind = 16;
        EXPECT_FALSE(LocalFileSystem::IsExist(bad, kind)) << bad;
    }
}

TEST_F(LocalFileSystemTest, CreateDirectoryPathCreatesEveryLevelAndLogsTheFailure) {
    EXPECT_TRUE(LocalFileSystem::CreateDirectoryPath(P("a\\b\\c")));
    EXPECT_TRUE(stdfs::is_directory(F("a/b/c")));
    EXPECT_TRUE(LocalFileSystem::CreateDirectoryPath(P("a\\b\\c\\")));  // already there

    LogCapture log;
    WriteFile(F("a/file"), "x");
    const std::string blocked = P("a\\file\\d");
    EXPECT_FALSE(LocalFileSystem::CreateDirectoryPath(blocked));
    EXPECT_FALSE(LocalFileSystem::CreateDirectoryPath("relative\\a"));  // refused before any attempt

    EXPECT_EQ(log.Lines(), std::vector<std::string>{"FATAL: Create Directory failed '" + F("a/file/d").string() +
                                                    "'. filepath:LocalFileSystem line:65"});
    EXPECT_FALSE(stdfs::exists(F("a/file/d")));
}

TEST_F(LocalFileSystemTest, CreateFullDirectoryKeepsTheCurrentDirectory) {
    const stdfs::path before = stdfs::current_path();
    EXPECT_TRUE(BaseFunc::CreateFullDirectory(u"" + std::u16string(root_.u16string()) + u"\\x\\y/z"));
    EXPECT_TRUE(stdfs::is_directory(F("x/y/z")));
    EXPECT_EQ(stdfs::current_path(), before);
    EXPECT_FALSE(BaseFunc::CreateFullDirectory(u"x\\y"));
    EXPECT_FALSE(BaseFunc::CreateFullDirectory(root_.u16string() + u"\\q\\..\\.."  u"\\..\\..\\..\\..\\..\\.."));
    EXPECT_EQ(stdfs::current_path(), before);
}

TEST_F(LocalFileSystemTest, CopyDirectoryTreeCopiesFilesAndFoldersButNoLinks) {
    WriteFile(F("src/a.txt"), "A");
    WriteFile(F("src/sub/b.txt"), "B");
    stdfs::create_directories(F("src/empty"));
    stdfs::create_directory_symlink(outside_, F("src/sub/linkdir"));
    stdfs::create_symlink(outside_ / "keep.txt", F("src/linkfile"));
    WriteFile(F("dst/a.txt"), "old");

    EXPECT_TRUE(LocalFileSystem::CopyDirectoryTree(P("src"), P("dst")));
    EXPECT_EQ(Listing(F("dst")), (std::vector<std::string>{"a.txt", "empty/", "sub/", "sub/b.txt"}));
    EXPECT_EQ(ReadFile(F("dst/a.txt")), "A");  // overwritten
    EXPECT_EQ(ReadFile(F("dst/sub/b.txt")), "B");
    EXPECT_EQ(Listing(outside_), std::vector<std::string>{"keep.txt"});

    EXPECT_TRUE(LocalFileSystem::CopyDirectoryTree(P("src\\sub"), P("new\\deep")));  // target levels made
    EXPECT_EQ(ReadFile(F("new/deep/b.txt")), "B");
}

TEST_F(LocalFileSystemTest, CopyDirectoryTreeRefusesBadSourcesAndItsOwnSubtree) {
    WriteFile(F("src/a.txt"), "A");
    WriteFile(F("file.txt"), "f");
    stdfs::create_directory_symlink(outside_, F("linkdir"));
    const std::vector<std::string> before = Listing(root_);

    EXPECT_FALSE(LocalFileSystem::CopyDirectoryTree(P("src"), P("src\\inner")));
    EXPECT_FALSE(LocalFileSystem::CopyDirectoryTree(P("src"), P("src")));
    EXPECT_FALSE(LocalFileSystem::CopyDirectoryTree(P("missing"), P("dst")));
    EXPECT_FALSE(LocalFileSystem::CopyDirectoryTree(P("file.txt"), P("dst")));
    EXPECT_FALSE(LocalFileSystem::CopyDirectoryTree(P("linkdir"), P("dst")));
    EXPECT_EQ(Listing(root_), before);
}

TEST_F(LocalFileSystemTest, EveryOperationRefusesPathsItCannotNormalise) {
    WriteFile(F("a.txt"), "A");
    stdfs::create_directories(F("dir"));
    using TwoPaths = bool (*)(const std::string&, const std::string&);
    const TwoPaths twoPathOps[] = {LocalFileSystem::CopyDirectoryTree, LocalFileSystem::MoveItem,
                                   LocalFileSystem::MoveItemReplace, LocalFileSystem::CopyOneFile};
    const std::vector<std::string> before = Listing(root_);
    for (const char* bad : kBadPaths) {
        SCOPED_TRACE(bad);
        for (TwoPaths op : twoPathOps) {
            EXPECT_FALSE(op(bad, P("new")));
            EXPECT_FALSE(op(P("a.txt"), bad));
            EXPECT_FALSE(op(P("dir"), bad));
        }
        EXPECT_FALSE(LocalFileSystem::CreateDirectoryPath(bad));
        EXPECT_FALSE(LocalFileSystem::DeleteDirectoryTree(bad));
        EXPECT_FALSE(LocalFileSystem::RemoveFile(bad));
    }
    EXPECT_EQ(Listing(root_), before);
}

TEST_F(LocalFileSystemTest, DeleteDirectoryTreeNeverFollowsLinks) {
    WriteFile(F("tree/a.txt"), "A");
    WriteFile(F("tree/sub/b.txt"), "B");
    stdfs::create_directory_symlink(outside_, F("tree/sub/linkdir"));
    stdfs::create_symlink(outside_ / "keep.txt", F("tree/linkfile"));
    stdfs::create_directory_symlink(outside_, F("linkdir"));
    WriteFile(F("file.txt"), "f");

    EXPECT_TRUE(LocalFileSystem::DeleteDirectoryTree(P("tree")));
    EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(F("tree"))));
    EXPECT_EQ(Listing(outside_), std::vector<std::string>{"keep.txt"});

    // Only a real folder is deleted: a link to one, a file or nothing is refused.
    EXPECT_FALSE(LocalFileSystem::DeleteDirectoryTree(P("linkdir")));
    EXPECT_TRUE(stdfs::is_symlink(F("linkdir")));
    EXPECT_FALSE(LocalFileSystem::DeleteDirectoryTree(P("file.txt")));
    EXPECT_TRUE(stdfs::exists(F("file.txt")));
    EXPECT_FALSE(LocalFileSystem::DeleteDirectoryTree(P("missing")));
    EXPECT_EQ(Listing(outside_), std::vector<std::string>{"keep.txt"});
}

TEST_F(LocalFileSystemTest, MoveItemNeverReplacesAndMoveItemReplaceDoes) {
    WriteFile(F("a.txt"), "A");
    WriteFile(F("b.txt"), "B");
    EXPECT_FALSE(LocalFileSystem::MoveItem(P("a.txt"), P("b.txt")));
    EXPECT_EQ(ReadFile(F("a.txt")), "A");
    EXPECT_EQ(ReadFile(F("b.txt")), "B");

    EXPECT_TRUE(LocalFileSystem::MoveItemReplace(P("a.txt"), P("b.txt")));
    EXPECT_FALSE(stdfs::exists(F("a.txt")));
    EXPECT_EQ(ReadFile(F("b.txt")), "A");

    EXPECT_TRUE(LocalFileSystem::MoveItem(P("b.txt"), P("c.txt")));
    EXPECT_EQ(ReadFile(F("c.txt")), "A");
    EXPECT_FALSE(LocalFileSystem::MoveItem(P("missing"), P("d.txt")));
    EXPECT_FALSE(LocalFileSystem::MoveItem(P("c.txt"), "relative\\d.txt"));
    EXPECT_EQ(ReadFile(F("c.txt")), "A");
}

TEST_F(LocalFileSystemTest, FoldersMoveButNeverReplace) {
    WriteFile(F("d1/x.txt"), "x");
    WriteFile(F("d2/y.txt"), "y");
    EXPECT_FALSE(LocalFileSystem::MoveItem(P("d1"), P("d2")));
    EXPECT_FALSE(LocalFileSystem::MoveItemReplace(P("d1"), P("d2")));
    EXPECT_EQ(Listing(root_), (std::vector<std::string>{"d1/", "d1/x.txt", "d2/", "d2/y.txt"}));
    EXPECT_TRUE(LocalFileSystem::MoveItem(P("d1"), P("d2\\d1")));
    EXPECT_EQ(ReadFile(F("d2/d1/x.txt")), "x");
}

TEST_F(LocalFileSystemTest, CopyOneFileAndRemoveFile) {
    WriteFile(F("a.txt"), "A");
    WriteFile(F("b.txt"), "B");
    stdfs::create_symlink(outside_ / "keep.txt", F("link"));
    stdfs::create_directories(F("dir"));

    EXPECT_TRUE(LocalFileSystem::CopyOneFile(P("a.txt"), P("new.txt")));
    EXPECT_EQ(ReadFile(F("new.txt")), "A");
    EXPECT_TRUE(LocalFileSystem::CopyOneFile(P("a.txt"), P("b.txt")));  // overwrites
    EXPECT_EQ(ReadFile(F("b.txt")), "A");
    EXPECT_FALSE(LocalFileSystem::CopyOneFile(P("missing"), P("c.txt")));
    EXPECT_FALSE(LocalFileSystem::CopyOneFile(P("link"), P("c.txt")));  // not followed
    EXPECT_FALSE(LocalFileSystem::CopyOneFile(P("a.txt"), P("dir")));
    EXPECT_FALSE(stdfs::exists(F("c.txt")));

    EXPECT_TRUE(LocalFileSystem::RemoveFile(P("new.txt")));
    EXPECT_FALSE(stdfs::exists(F("new.txt")));
    EXPECT_FALSE(LocalFileSystem::RemoveFile(P("new.txt")));
    EXPECT_FALSE(LocalFileSystem::RemoveFile(P("dir")));
    EXPECT_TRUE(stdfs::is_directory(F("dir")));
    EXPECT_EQ(ReadFile(outside_ / "keep.txt"), "outside");
}

TEST_F(LocalFileSystemTest, GetItemSizeGivesAllOnesForAnythingButAFile) {
    WriteFile(F("five.txt"), "12345");
    WriteFile(F("empty.txt"), "");
    stdfs::create_directories(F("dir"));
    stdfs::create_symlink(outside_ / "keep.txt", F("link"));

    EXPECT_EQ(LocalFileSystem::GetItemSize(P("five.txt")), 5u);
    EXPECT_EQ(LocalFileSystem::GetItemSize(P("empty.txt")), 0u);
    EXPECT_EQ(LocalFileSystem::GetItemSize(P("dir")), kAllOnes);
    EXPECT_EQ(LocalFileSystem::GetItemSize(P("missing")), kAllOnes);
    EXPECT_EQ(LocalFileSystem::GetItemSize(P("link")), kAllOnes);
    for (const char* bad : kBadPaths) {
        EXPECT_EQ(LocalFileSystem::GetItemSize(bad), kAllOnes) << bad;
    }
}

}  // namespace
