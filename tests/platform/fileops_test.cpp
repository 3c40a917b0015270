#include "platform/fileops.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace {

namespace fs = plat::fs;
namespace sfs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Sandbox;
using testsupport::WriteFile;

constexpr std::uint64_t kNoSize = std::numeric_limits<std::uint64_t>::max();
constexpr uid_t kNobody = 65534;

std::vector<std::string> Names(const sfs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : sfs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void MakeFifo(const sfs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }

// Runs `action` with the rights of an ordinary user: 1 when it succeeded, 0 when it
// failed, -1 when the rights could not be dropped. Root reads every folder, so as root
// the action runs in a child process that has become "nobody", with `area` handed over
// to that user.
int RunUnprivileged(const Sandbox& box, const sfs::path& area, const std::function<bool()>& action) {
    if (::geteuid() != 0) return action() ? 1 : 0;
    ::chmod(box.Root().c_str(), 0711);
    ::lchown(area.c_str(), kNobody, kNobody);
    for (const auto& e : sfs::recursive_directory_iterator(area, sfs::directory_options::skip_permission_denied)) {
        ::lchown(e.path().c_str(), kNobody, kNobody);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
        ::_exit(action() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 0 ? 1 : WEXITSTATUS(status) == 1 ? 0 : -1;
}

class FileOpsTest : public testing::Test {
protected:
    Sandbox box;
    sfs::path dir = box.Dir("work");
    std::string P(const std::string& rel) const { return (dir / rel).string(); }
};

TEST_F(FileOpsTest, KindsNeverFollowLinks) {
    WriteFile(dir / "f", "abc");
    sfs::create_directory(dir / "d");
    sfs::create_directory_symlink(dir / "d", dir / "ld");
    sfs::create_symlink(dir / "gone", dir / "dangling");
    MakeFifo(dir / "p");
    EXPECT_EQ(fs::GetKind(P("f")), fs::Kind::File);
    EXPECT_EQ(fs::GetKind(P("d")), fs::Kind::Directory);
    EXPECT_EQ(fs::GetKind(P("ld")), fs::Kind::Link);
    EXPECT_EQ(fs::GetKind(P("dangling")), fs::Kind::Link);
    EXPECT_EQ(fs::GetKind(P("p")), fs::Kind::Special);
    EXPECT_EQ(fs::GetKind(P("none")), fs::Kind::Missing);

    EXPECT_EQ(fs::FileSize(P("f")), 3u);
    for (const char* other : {"d", "ld", "dangling", "p", "none"}) EXPECT_EQ(fs::FileSize(P(other)), kNoSize) << other;

    std::vector<fs::Entry> entries;
    ASSERT_TRUE(fs::ListDirectory(dir.string(), entries));
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].name, "d");
    EXPECT_EQ(entries[0].kind, fs::Kind::Directory);
    EXPECT_EQ(entries[1].name, "dangling");
    EXPECT_EQ(entries[1].kind, fs::Kind::Link);
    EXPECT_EQ(entries[2].name, "f");
    EXPECT_EQ(entries[2].kind, fs::Kind::File);
    EXPECT_EQ(entries[2].size, 3u);
    EXPECT_GT(entries[2].mtimeSeconds, 0);
    EXPECT_EQ(entries[3].kind, fs::Kind::Link);
    EXPECT_EQ(entries[4].kind, fs::Kind::Special);

    EXPECT_FALSE(fs::ListDirectory(P("none"), entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_NE(fs::LastErrorText().find(P("none")), std::string::npos);
    EXPECT_FALSE(fs::ListDirectory(P("f"), entries));

    // The folder itself is followed by ListDirectory only.
    ASSERT_TRUE(fs::ListDirectory(P("ld"), entries));
    EXPECT_TRUE(entries.empty());
    ASSERT_TRUE(fs::ListDirectoryNoFollow(P("d"), entries));
    EXPECT_FALSE(fs::ListDirectoryNoFollow(P("ld"), entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_FALSE(fs::ListDirectoryNoFollow(P("f"), entries));
}

TEST_F(FileOpsTest, MakeDirectories) {
    EXPECT_TRUE(fs::MakeDirectories(P("a/b/c")));
    EXPECT_EQ(fs::GetKind(P("a/b/c")), fs::Kind::Directory);
    EXPECT_TRUE(fs::MakeDirectories(P("a/b/c/")));
    EXPECT_TRUE(fs::MakeDirectory(P("a/b")));

    WriteFile(dir / "file", "x");
    EXPECT_FALSE(fs::MakeDirectories(P("file/sub")));
    EXPECT_FALSE(fs::MakeDirectory(P("file")));
    EXPECT_FALSE(fs::MakeDirectory(P("missing/sub")));

    // A link is not a folder of its own, but upper levels may pass through one.
    sfs::create_directory_symlink(dir / "a", dir / "la");
    EXPECT_FALSE(fs::MakeDirectory(P("la")));
    EXPECT_TRUE(fs::MakeDirectories(P("la/new")));
    EXPECT_EQ(fs::GetKind(P("a/new")), fs::Kind::Directory);
}

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

TEST_F(FileOpsTest, PrivateFoldersAndFiles) {
    // Folders: new ones are 0700 at once, loose ones of this user are tightened, links and
    // files are refused; levels above keep their modes.
    ::chmod(dir.c_str(), 0755);
    EXPECT_TRUE(fs::MakePrivateDirectories(P("data/Log")));
    EXPECT_EQ(ModeOf(P("data/Log")), 0700u);
    EXPECT_TRUE(fs::MakePrivateDirectories(P("data")));
    EXPECT_EQ(ModeOf(P("data")), 0700u);
    ASSERT_EQ(::chmod(P("data/Log").c_str(), 0775), 0);
    EXPECT_TRUE(fs::MakePrivateDirectories(P("data/Log/")));
    EXPECT_EQ(ModeOf(P("data/Log")), 0700u);
    EXPECT_EQ(ModeOf(dir.string()), 0755u);
    sfs::create_directory_symlink(P("data"), P("link"));
    EXPECT_FALSE(fs::MakePrivateDirectories(P("link")));
    WriteFile(P("file"), "x");
    EXPECT_FALSE(fs::MakePrivateDirectories(P("file")));

    // Files: group and other bits are cleared, once.
    struct Case {
        const char* name;
        mode_t before;
        int result;
        mode_t after;
    };
    const Case cases[] = {
        {"world", 0644, 1, 0600}, {"group", 0640, 1, 0600}, {"all", 0777, 1, 0700},
        {"private", 0600, 0, 0600}, {"readonly", 0400, 0, 0400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(P(c.name), "secret");
        ASSERT_EQ(::chmod(P(c.name).c_str(), c.before), 0);
        EXPECT_EQ(fs::MakeFilePrivate(P(c.name)), c.result);
        EXPECT_EQ(ModeOf(P(c.name)), c.after);
        EXPECT_EQ(fs::MakeFilePrivate(P(c.name)), 0);
    }
    EXPECT_EQ(fs::MakeFilePrivate(P("missing")), 0);
    ::chmod(P("world").c_str(), 0644);
    sfs::create_symlink(P("world"), P("filelink"));
    EXPECT_EQ(fs::MakeFilePrivate(P("filelink")), -1) << "a link is not followed";
    EXPECT_EQ(ModeOf(P("world")), 0644u);
    EXPECT_EQ(fs::MakeFilePrivate(P("data")), -1);
}

TEST_F(FileOpsTest, BlockedStepBelowFindsAnythingButARealFolderOnTheWay) {
    sfs::create_directories(P("root/real/deeper"));
    sfs::create_directories(P("elsewhere"));
    sfs::create_directory_symlink(P("elsewhere"), P("root/linked"));
    sfs::create_directory_symlink(P("elsewhere"), P("root/real/linked"));
    WriteFile(P("root/file"), "x");
    MakeFifo(dir / "root/fifo");
    const std::string root = P("root");
    struct Case {
        const char* below;
        const char* blocked;  // relative to root; "" for a clear way
    };
    const Case cases[] = {
        {"/a.txt", ""},                        // no level on the way
        {"/real/deeper/a.txt", ""},
        {"/real/new/more/a.txt", ""},          // missing levels will be created
        {"/linked", ""},                       // the last name itself is not on the way
        {"/linked/a.txt", "/linked"},
        {"/linked/new/a.txt", "/linked"},
        {"/real/linked/a.txt", "/real/linked"},
        {"/file/a.txt", "/file"},
        {"/fifo/a.txt", "/fifo"},
        {"/real/deeper/", ""},
    };
    for (const Case& c : cases) {
        const std::string expected = *c.blocked != '\0' ? root + c.blocked : std::string();
        EXPECT_EQ(fs::BlockedStepBelow(root, root + c.below), expected) << c.below;
        EXPECT_EQ(fs::BlockedStepBelow(root + "/", root + c.below), expected) << c.below;
    }
    // A path that is not below the root is its own answer.
    EXPECT_EQ(fs::BlockedStepBelow(root, P("rootx/a")), P("rootx/a"));
    EXPECT_EQ(fs::BlockedStepBelow(root, root), root);
    // The root itself may be a link: the user chose it.
    EXPECT_EQ(fs::BlockedStepBelow(P("root/linked"), P("root/linked/a.txt")), "");
}

TEST_F(FileOpsTest, RemoveFileRemovesLinksNotTargets) {
    sfs::create_directory(dir / "d");
    WriteFile(dir / "target", "keep");
    sfs::create_symlink(dir / "target", dir / "link");
    EXPECT_FALSE(fs::RemoveFile(P("d")));
    EXPECT_TRUE(fs::RemoveFile(P("link")));
    EXPECT_EQ(ReadFile(dir / "target"), "keep");
    EXPECT_FALSE(fs::RemoveFile(P("link")));
    EXPECT_TRUE(fs::RemoveEmptyDirectory(P("d")));
    sfs::create_directory(dir / "full");
    WriteFile(dir / "full/x", "");
    EXPECT_FALSE(fs::RemoveEmptyDirectory(P("full")));
}

TEST_F(FileOpsTest, RemoveTreeNeverEntersLinks) {
    const sfs::path outside = box.Dir("outside");
    WriteFile(outside / "precious", "data");
    WriteFile(dir / "tree/a/b/file", "1");
    WriteFile(dir / "tree/top", "2");
    sfs::create_directory_symlink(outside, dir / "tree/a/into-outside");
    sfs::create_symlink(outside / "precious", dir / "tree/file-link");
    MakeFifo(dir / "tree/a/fifo");

    EXPECT_TRUE(fs::RemoveTree(P("tree")));
    EXPECT_EQ(fs::GetKind(P("tree")), fs::Kind::Missing);
    EXPECT_EQ(ReadFile(outside / "precious"), "data");

    // A link given as the tree itself goes; what it points at stays.
    sfs::create_directory_symlink(outside, dir / "top-link");
    EXPECT_TRUE(fs::RemoveTree(P("top-link")));
    EXPECT_EQ(ReadFile(outside / "precious"), "data");

    WriteFile(dir / "plain", "x");
    EXPECT_FALSE(fs::RemoveTree(P("plain")));
    EXPECT_FALSE(fs::RemoveTree(P("none")));
}

TEST_F(FileOpsTest, RemoveTreeStopsAtAnUnreadableFolder) {
    WriteFile(dir / "tree/locked/inner", "x");
    WriteFile(dir / "tree/other", "y");
    ::chmod((dir / "tree/locked").c_str(), 0);
    EXPECT_EQ(RunUnprivileged(box, dir, [&] { return fs::RemoveTree(P("tree")); }), 0);
    ::chmod((dir / "tree/locked").c_str(), 0700);
    EXPECT_EQ(ReadFile(dir / "tree/locked/inner"), "x");
    EXPECT_EQ(RunUnprivileged(box, dir, [&] { return fs::RemoveTree(P("tree")); }), 1);
    EXPECT_FALSE(sfs::exists(dir / "tree"));
}

TEST_F(FileOpsTest, CopyFileGoesThroughATemporaryFile) {
    WriteFile(dir / "src", std::string(300000, 'q'));
    ::chmod(P("src").c_str(), 0640);
    const struct timespec times[2] = {{1500000000, 0}, {1500000000, 0}};
    ::utimensat(AT_FDCWD, P("src").c_str(), times, 0);

    ASSERT_TRUE(fs::CopyFile(P("src"), P("dst"), false));
    EXPECT_EQ(ReadFile(dir / "dst"), std::string(300000, 'q'));
    struct stat st;
    ASSERT_EQ(::stat(P("dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);

    WriteFile(dir / "src", "new");
    EXPECT_FALSE(fs::CopyFile(P("src"), P("dst"), false));
    EXPECT_EQ(ReadFile(dir / "dst").size(), 300000u);
    EXPECT_TRUE(fs::CopyFile(P("src"), P("dst"), true));
    EXPECT_EQ(ReadFile(dir / "dst"), "new");
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"dst", "src"}));  // no temporary left

    // A name at the length limit still gets a temporary name of legal length.
    const std::string longName(255, 'n');
    EXPECT_TRUE(fs::CopyFile(P("src"), P(longName), false));
    EXPECT_EQ(ReadFile(dir / longName), "new");
}

TEST_F(FileOpsTest, CopyFileRefusesWhatIsNotARegularFile) {
    WriteFile(dir / "real", "r");
    sfs::create_symlink(dir / "real", dir / "link");
    MakeFifo(dir / "fifo");
    sfs::create_directory(dir / "folder");
    EXPECT_FALSE(fs::CopyFile(P("link"), P("x1"), true));
    EXPECT_FALSE(fs::CopyFile(P("fifo"), P("x2"), true));  // must not block on the FIFO
    EXPECT_FALSE(fs::CopyFile(P("folder"), P("x3"), true));
    EXPECT_FALSE(fs::CopyFile(P("real"), P("folder"), true));
    EXPECT_FALSE(fs::CopyFile(P("real"), P("no/such/dir/x"), true));
    EXPECT_FALSE(fs::LastErrorText().empty());
    EXPECT_EQ(Names(dir / "folder"), std::vector<std::string>{});
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"fifo", "folder", "link", "real"}));
}

TEST_F(FileOpsTest, CopyTreeSkipsLinksAndSpecialFiles) {
    WriteFile(dir / "from/a.txt", "A");
    WriteFile(dir / "from/sub/deep/b.txt", "B");
    sfs::create_directory(dir / "from/empty");
    sfs::create_symlink(dir / "from/a.txt", dir / "from/link");
    sfs::create_directory_symlink(box.Dir("elsewhere"), dir / "from/sub/dirlink");
    MakeFifo(dir / "from/fifo");

    ASSERT_TRUE(fs::CopyTree(P("from"), P("to")));
    EXPECT_EQ(Names(dir / "to"), (std::vector<std::string>{"a.txt", "empty", "sub"}));
    EXPECT_EQ(Names(dir / "to/sub"), std::vector<std::string>{"deep"});
    EXPECT_EQ(ReadFile(dir / "to/sub/deep/b.txt"), "B");

    // Copying again overwrites.
    WriteFile(dir / "from/a.txt", "A2");
    EXPECT_TRUE(fs::CopyTree(P("from"), P("to")));
    EXPECT_EQ(ReadFile(dir / "to/a.txt"), "A2");
}

TEST_F(FileOpsTest, CopyTreeRefusesItsOwnSubtree) {
    WriteFile(dir / "from/a", "A");
    sfs::create_directory_symlink(dir / "from", dir / "alias");
    for (const char* target : {"from", "from/sub", "from/sub/deeper", "alias/x", "from/../from/y", "new/../from/z"}) {
        EXPECT_FALSE(fs::CopyTree(P("from"), P(target))) << target;
    }
    EXPECT_EQ(Names(dir / "from"), std::vector<std::string>{"a"});
    EXPECT_FALSE(fs::CopyTree(P("none"), P("to")));
    EXPECT_FALSE(fs::CopyTree(P("from/a"), P("to")));
    EXPECT_TRUE(fs::CopyTree(P("from"), P("from-copy")));  // a sibling whose name starts alike
}

TEST_F(FileOpsTest, CopyTreeFailsOnAnUnreadableFolder) {
    WriteFile(dir / "from/locked/x", "x");
    ::chmod((dir / "from/locked").c_str(), 0);
    EXPECT_EQ(RunUnprivileged(box, dir, [&] { return fs::CopyTree(P("from"), P("to")); }), 0);
    ::chmod((dir / "from/locked").c_str(), 0700);
    EXPECT_EQ(RunUnprivileged(box, dir, [&] { return fs::CopyTree(P("from"), P("to")); }), 1);
    EXPECT_EQ(ReadFile(dir / "to/locked/x"), "x");
}

TEST_F(FileOpsTest, MoveReplacesOnlyWhenAsked) {
    WriteFile(dir / "a", "A");
    WriteFile(dir / "b", "B");
    EXPECT_FALSE(fs::Move(P("a"), P("b"), false));
    EXPECT_EQ(ReadFile(dir / "a"), "A");
    EXPECT_EQ(ReadFile(dir / "b"), "B");
    EXPECT_TRUE(fs::Move(P("a"), P("b"), true));
    EXPECT_EQ(fs::GetKind(P("a")), fs::Kind::Missing);
    EXPECT_EQ(ReadFile(dir / "b"), "A");
    EXPECT_TRUE(fs::Move(P("b"), P("c"), false));
    EXPECT_EQ(ReadFile(dir / "c"), "A");
    EXPECT_FALSE(fs::Move(P("none"), P("d"), true));
}

TEST_F(FileOpsTest, FoldersNeverReplaceAndAreNeverReplaced) {
    WriteFile(dir / "f1/x", "1");
    sfs::create_directory(dir / "f2");
    WriteFile(dir / "file", "F");
    for (bool replace : {false, true}) {
        EXPECT_FALSE(fs::Move(P("f1"), P("f2"), replace));
        EXPECT_FALSE(fs::Move(P("f1"), P("file"), replace));
        EXPECT_FALSE(fs::Move(P("file"), P("f2"), replace));
    }
    EXPECT_EQ(ReadFile(dir / "f1/x"), "1");
    EXPECT_EQ(ReadFile(dir / "file"), "F");
    EXPECT_TRUE(sfs::is_empty(dir / "f2"));
    EXPECT_TRUE(fs::Move(P("f1"), P("f3"), true));
    EXPECT_EQ(ReadFile(dir / "f3/x"), "1");

    sfs::create_symlink(dir / "file", dir / "link");
    EXPECT_TRUE(fs::Move(P("link"), P("link2"), false));
    EXPECT_EQ(fs::GetKind(P("link2")), fs::Kind::Link);
}

// Moves between this sandbox and /dev/shm when that is another file system.
class CrossDeviceMoveTest : public FileOpsTest {
protected:
    void SetUp() override {
        struct stat a, b;
        if (::stat("/dev/shm", &b) != 0 || ::stat(dir.c_str(), &a) != 0 || a.st_dev == b.st_dev) {
            GTEST_SKIP() << "no second file system at /dev/shm";
        }
        std::string tmpl = "/dev/shm/dravik-move-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        other = tmpl;
    }
    void TearDown() override {
        if (!other.empty()) sfs::remove_all(other);
    }
    sfs::path other;
};

TEST_F(CrossDeviceMoveTest, FileAndFolderMoveByCopy) {
    WriteFile(dir / "file", "content");
    ASSERT_TRUE(fs::Move(P("file"), (other / "file").string(), false));
    EXPECT_EQ(fs::GetKind(P("file")), fs::Kind::Missing);
    EXPECT_EQ(ReadFile(other / "file"), "content");

    WriteFile(dir / "other", "x");
    EXPECT_FALSE(fs::Move(P("other"), (other / "file").string(), false));
    EXPECT_EQ(ReadFile(dir / "other"), "x");
    EXPECT_EQ(ReadFile(other / "file"), "content");
    EXPECT_TRUE(fs::Move(P("other"), (other / "file").string(), true));
    EXPECT_EQ(ReadFile(other / "file"), "x");

    WriteFile(dir / "tree/a/b", "B");
    sfs::create_symlink("a/b", dir / "tree/rel-link");
    ASSERT_TRUE(fs::Move(P("tree"), (other / "tree").string(), false));
    EXPECT_EQ(fs::GetKind(P("tree")), fs::Kind::Missing);
    EXPECT_EQ(ReadFile(other / "tree/a/b"), "B");
    EXPECT_EQ(sfs::read_symlink(other / "tree/rel-link"), "a/b");  // links survive a move
    EXPECT_EQ(Names(other), (std::vector<std::string>{"file", "tree"}));
}

TEST_F(CrossDeviceMoveTest, FolderWithSpecialFileStaysWhereItWas) {
    WriteFile(dir / "tree/a", "A");
    MakeFifo(dir / "tree/fifo");
    EXPECT_FALSE(fs::Move(P("tree"), (other / "tree").string(), false));
    EXPECT_EQ(ReadFile(dir / "tree/a"), "A");
    EXPECT_EQ(fs::GetKind(P("tree/fifo")), fs::Kind::Special);
    EXPECT_TRUE(sfs::is_empty(other));  // nothing half-copied left behind
}

TEST(FileOpsJoinTest, KeepsExactlyOneSeparator) {
    struct Case {
        const char* a;
        const char* b;
        const char* joined;
    };
    const Case cases[] = {{"/a", "b", "/a/b"},   {"/a/", "b", "/a/b"}, {"/a//", "/b", "/a/b"},
                          {"/", "b", "/b"},      {"", "b", "b"},       {"/a", "", "/a"},
                          {"/a", "b/c", "/a/b/c"}};
    for (const auto& c : cases) EXPECT_EQ(fs::Join(c.a, c.b), c.joined) << c.a << " + " << c.b;
}

}  // namespace
