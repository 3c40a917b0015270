#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/fileops.h"
#include "support/sandbox.h"

namespace {

namespace fs = plat::fs;
namespace sfs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Sandbox;
using testsupport::WriteFile;

std::size_t Count(const sfs::path& dir) {
    return static_cast<std::size_t>(std::distance(sfs::directory_iterator(dir), sfs::directory_iterator()));
}

TEST(AtomicFileTest, ReadWholeFileKinds) {
    Sandbox box;
    const sfs::path dir = box.Dir("r");
    WriteFile(dir / "f", std::string(200000, 'x') + std::string("\0end", 4));
    sfs::create_symlink(dir / "f", dir / "link");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);

    std::string content = "stale";
    EXPECT_EQ(fs::ReadWholeFile((dir / "none").string(), content), fs::ReadResult::Missing);
    EXPECT_EQ(content, "");
    EXPECT_EQ(fs::ReadWholeFile((dir / "f" / "deeper").string(), content), fs::ReadResult::Missing);
    EXPECT_EQ(fs::ReadWholeFile(dir.string(), content), fs::ReadResult::NotAFile);
    EXPECT_EQ(fs::ReadWholeFile((dir / "fifo").string(), content), fs::ReadResult::NotAFile);
    ASSERT_EQ(fs::ReadWholeFile((dir / "f").string(), content), fs::ReadResult::Read);
    EXPECT_EQ(content, ReadFile(dir / "f"));
    ASSERT_EQ(fs::ReadWholeFile((dir / "link").string(), content), fs::ReadResult::Read);
    EXPECT_EQ(content.size(), 200004u);
}

TEST(AtomicFileTest, WriteReplacesWithExactModeAndLeavesNoTemporary) {
    Sandbox box;
    const sfs::path dir = box.Dir("w");
    const std::string path = (dir / "state.xml").string();
    WriteFile(path, "old content that is longer");
    const mode_t saved = ::umask(022);
    ASSERT_TRUE(fs::WriteFileAtomic(path, "new", 0600));
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_EQ(sfs::status(path).permissions() & sfs::perms::all, sfs::perms::owner_read | sfs::perms::owner_write);
    // The mode is applied as given, whatever the umask.
    ASSERT_TRUE(fs::WriteFileAtomic(path, std::string("a\0b", 3), 0666));
    ::umask(saved);
    EXPECT_EQ(ReadFile(path), std::string("a\0b", 3));
    EXPECT_EQ(sfs::status(path).permissions() & sfs::perms::all,
              sfs::perms::owner_read | sfs::perms::owner_write | sfs::perms::group_read | sfs::perms::group_write |
                  sfs::perms::others_read | sfs::perms::others_write);
    ASSERT_TRUE(fs::WriteFileAtomic((dir / "fresh").string(), "", 0644));
    EXPECT_EQ(ReadFile(dir / "fresh"), "");
    EXPECT_EQ(Count(dir), 2u);
}

TEST(AtomicFileTest, FailedWriteKeepsWhatIsThere) {
    Sandbox box;
    const sfs::path dir = box.Dir("w");
    WriteFile(dir / "name" / "inside", "kept");
    errno = 0;
    EXPECT_FALSE(fs::WriteFileAtomic((dir / "name").string(), "data", 0600));
    EXPECT_NE(errno, 0);
    EXPECT_EQ(ReadFile(dir / "name" / "inside"), "kept");
    EXPECT_EQ(Count(dir), 1u) << "the temporary file is removed";
    EXPECT_FALSE(fs::WriteFileAtomic((dir / "no" / "such" / "folder").string(), "data", 0600));
    for (const std::string& path : {std::string(), dir.string() + "/"}) {
        errno = 0;
        EXPECT_FALSE(fs::WriteFileAtomic(path, "data", 0600)) << path;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(Count(dir), 1u);
}

// A file written piece by piece: pieces below and above the writer's buffer come out in
// order; a writer never committed, or one whose write fails (a file-size limit stands in
// for a full disk), leaves the old file and no temporary.
TEST(AtomicFileTest, PieceByPieceWriter) {
    Sandbox box;
    const sfs::path dir = box.Dir("p");
    const std::string path = (dir / "tree.xml").string();
    WriteFile(path, "old");

    std::string expected;
    {
        fs::AtomicFileWriter writer;
        ASSERT_TRUE(writer.Begin(path, 0600));
        for (int i = 0; i < 3000; ++i) {
            const std::string piece = i % 1000 == 999 ? std::string(3 << 20, static_cast<char>('a' + i % 26))
                                                      : "<item n=\"" + std::to_string(i) + "\"/>\r\n";
            writer.Append(piece);
            expected += piece;
        }
        EXPECT_EQ(ReadFile(path), "old") << "nothing replaces the file before the commit";
        ASSERT_TRUE(writer.Commit());
    }
    EXPECT_TRUE(ReadFile(path) == expected);
    EXPECT_EQ(Count(dir), 1u);

    {
        fs::AtomicFileWriter abandoned;
        ASSERT_TRUE(abandoned.Begin(path, 0600));
        abandoned.Append("half");
        EXPECT_EQ(Count(dir), 2u);
    }
    EXPECT_TRUE(ReadFile(path) == expected);
    EXPECT_EQ(Count(dir), 1u);

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    fs::AtomicFileWriter full;
    ASSERT_TRUE(full.Begin(path, 0600));
    for (int i = 0; i < 5; ++i) full.Append(std::string(700000, 'z'));
    errno = 0;
    const bool committed = full.Commit();
    const int error = errno;
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(committed);
    EXPECT_NE(error, 0);
    EXPECT_TRUE(ReadFile(path) == expected);
    EXPECT_EQ(Count(dir), 1u);
}

TEST(AtomicFileTest, SetAsideNeverReplacesAnything) {
    Sandbox box;
    const sfs::path dir = box.Dir("a");
    const std::string path = (dir / "f.xml").string();
    sfs::create_directory(path + ".bad.1");  // a folder on one of the names
    for (int i = 0; i < 3; ++i) {
        WriteFile(path, "v" + std::to_string(i));
        const std::string expected = i == 0 ? path + ".bad" : path + ".bad." + std::to_string(i + 1);
        EXPECT_EQ(fs::SetAside(path), expected);
        EXPECT_EQ(ReadFile(expected), "v" + std::to_string(i));
        EXPECT_FALSE(sfs::exists(path));
    }
    EXPECT_TRUE(sfs::is_directory(path + ".bad.1"));

    // A folder in the way is moved aside too.
    WriteFile(dir / "folder" / "inside", "x");
    EXPECT_EQ(fs::SetAside((dir / "folder").string()), (dir / "folder.bad").string());
    EXPECT_EQ(ReadFile(dir / "folder.bad" / "inside"), "x");

    EXPECT_EQ(fs::SetAside((dir / "missing").string()), "");
}

TEST(AtomicFileTest, SetAsideGivesUpWhenEveryNameIsTaken) {
    Sandbox box;
    const sfs::path dir = box.Dir("full");
    const std::string path = (dir / "f").string();
    WriteFile(path + ".bad", "0");
    for (int i = 1; i < 100; ++i) WriteFile(path + ".bad." + std::to_string(i), std::to_string(i));
    WriteFile(path, "current");
    EXPECT_EQ(fs::SetAside(path), "");
    EXPECT_EQ(ReadFile(path), "current");
    EXPECT_EQ(ReadFile(path + ".bad.99"), "99");
}

TEST(AtomicFileTest, Writable) {
    Sandbox box;
    EXPECT_TRUE(fs::IsWritable(box.Dir("d").string()));
    EXPECT_FALSE(fs::IsWritable((box.Root() / "missing").string()));
}

}  // namespace
