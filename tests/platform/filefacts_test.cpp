#include "platform/filefacts.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "support/sandbox.h"

namespace {

namespace fs = plat::fs;
namespace sfs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Sandbox;
using testsupport::WriteFile;

mode_t ModeOf(const sfs::path& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A child process that takes something on a file (`take`, run in the child; true when
// taken) and holds it until End() ends the child.
class ChildHolding {
public:
    explicit ChildHolding(const std::function<bool()>& take) {
        if (::pipe2(ready_, O_CLOEXEC) != 0 || ::pipe2(done_, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            const char ok = take() ? 'y' : 'n';
            if (::write(ready_[1], &ok, 1) != 1) ::_exit(1);
            char c;
            (void)!::read(done_[0], &c, 1);
            ::_exit(0);
        }
        char ok = 0;
        taken_ = pid_ > 0 && ::read(ready_[0], &ok, 1) == 1 && ok == 'y';
    }
    ~ChildHolding() { End(); }
    bool Taken() const { return taken_; }
    void End() {
        if (pid_ > 0) {
            (void)!::write(done_[1], "x", 1);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        for (int* fd : {&ready_[0], &ready_[1], &done_[0], &done_[1]}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }

private:
    int ready_[2] = {-1, -1};
    int done_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool taken_ = false;
};

class FileFactsTest : public ::testing::Test {
protected:
    Sandbox box;
    sfs::path dir = box.Dir("facts");
};

TEST_F(FileFactsTest, StatDescribesTheItemItself) {
    WriteFile(dir / "f", "12345");
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "f").c_str(), times, 0), 0);
    sfs::create_symlink(dir / "f", dir / "link");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);

    fs::ItemFacts f;
    ASSERT_TRUE(fs::StatItem((dir / "f").string(), f));
    struct stat st;
    ASSERT_EQ(::stat((dir / "f").c_str(), &st), 0);
    EXPECT_EQ(f.kind, fs::Kind::File);
    EXPECT_EQ(f.size, 5u);
    EXPECT_EQ(f.inode, st.st_ino);
    EXPECT_EQ(f.device, st.st_dev);
    EXPECT_TRUE(f.ownerWritable);
    EXPECT_EQ(f.modifiedSeconds, 1700000000);
    EXPECT_EQ(f.modifiedNanoseconds, 123456789);
    EXPECT_GT(f.bornSeconds, 0) << "the birth time, or the modification time without one";

    struct Case {
        const char* name;
        fs::Kind kind;
    } kinds[] = {{"link", fs::Kind::Link}, {"fifo", fs::Kind::Special}, {".", fs::Kind::Directory}};
    for (const Case& c : kinds) {
        fs::ItemFacts facts;
        ASSERT_TRUE(fs::StatItem((dir / c.name).string(), facts)) << c.name;
        EXPECT_EQ(facts.kind, c.kind) << c.name;
        EXPECT_EQ(facts.size, 0u) << "sizes are for files only: " << c.name;
    }
    fs::ItemFacts missing;
    EXPECT_FALSE(fs::StatItem((dir / "missing").string(), missing));
}

TEST_F(FileFactsTest, CreateSizedFile) {
    ASSERT_TRUE(fs::CreateSizedFile((dir / "new").string(), 3000000));
    EXPECT_EQ(sfs::file_size(dir / "new"), 3000000u);
    WriteFile(dir / "old", std::string(100, 'x'));
    ASSERT_TRUE(fs::CreateSizedFile((dir / "old").string(), 10));
    EXPECT_EQ(ReadFile(dir / "old"), std::string(10, '\0'));
    ASSERT_TRUE(fs::CreateSizedFile((dir / "empty").string(), 0));
    EXPECT_EQ(sfs::file_size(dir / "empty"), 0u);

    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(fs::CreateSizedFile((dir / "fifo").string(), 10)) << "refused, without waiting for a reader";
    EXPECT_FALSE(fs::CreateSizedFile(dir.string(), 10));
    EXPECT_FALSE(fs::CreateSizedFile((dir / "no/such/file").string(), 10));
}

TEST_F(FileFactsTest, SetWritableTouchesWriteBitsOnly) {
    WriteFile(dir / "f", "x");
    ::chmod((dir / "f").c_str(), 0676);
    ASSERT_TRUE(fs::SetWritable((dir / "f").string(), false));
    EXPECT_EQ(ModeOf(dir / "f"), 0454u);
    fs::ItemFacts facts;
    ASSERT_TRUE(fs::StatItem((dir / "f").string(), facts));
    EXPECT_FALSE(facts.ownerWritable);
    ASSERT_TRUE(fs::SetWritable((dir / "f").string(), true));
    EXPECT_EQ(ModeOf(dir / "f"), 0654u) << "the owner's bit only";

    sfs::create_directory(dir / "d");
    ::chmod((dir / "d").c_str(), 0755);
    ASSERT_TRUE(fs::SetWritable((dir / "d").string(), false));
    EXPECT_EQ(ModeOf(dir / "d"), 0555u);

    sfs::create_symlink(dir / "f", dir / "link");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
    EXPECT_FALSE(fs::SetWritable((dir / "link").string(), false));
    EXPECT_FALSE(fs::SetWritable((dir / "fifo").string(), false));
    EXPECT_EQ(ModeOf(dir / "f"), 0654u) << "a link's target is left alone";
    EXPECT_FALSE(fs::SetWritable((dir / "missing").string(), true));
}

TEST_F(FileFactsTest, LocksOfOtherOpenFiles) {
    const sfs::path file = dir / "doc.odt";
    WriteFile(file, "content");
    sfs::create_symlink(file, dir / "link");
    EXPECT_FALSE(fs::IsLockedByOther(file.string()));

    // A whole-file lock on another open file of this process.
    const int holder = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_SH), 0);
    EXPECT_TRUE(fs::IsLockedByOther(file.string()));
    EXPECT_FALSE(fs::IsLockedByOther((dir / "link").string())) << "links are not followed";
    ::close(holder);
    EXPECT_FALSE(fs::IsLockedByOther(file.string()));

    // A record lock of another process.
    {
        ChildHolding locker([&] {
            const int fd = ::open(file.c_str(), O_RDWR);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_start = 2;
            lock.l_len = 1;
            return fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0;
        });
        ASSERT_TRUE(locker.Taken());
        EXPECT_TRUE(fs::IsLockedByOther(file.string()));
        locker.End();
        EXPECT_FALSE(fs::IsLockedByOther(file.string()));
    }

    EXPECT_FALSE(fs::IsLockedByOther(dir.string()));
    EXPECT_FALSE(fs::IsLockedByOther((dir / "missing").string()));
}

TEST_F(FileFactsTest, FilesOpenForWriting) {
    const sfs::path file = dir / "report.txt";
    WriteFile(file, "partial");
    sfs::create_symlink(file, dir / "link");
    EXPECT_FALSE(fs::IsOpenForWriting(file.string())) << "a closed file";

    {
        ChildHolding writer([&] { return ::open(file.c_str(), O_WRONLY | O_APPEND) >= 0; });
        ASSERT_TRUE(writer.Taken());
        EXPECT_TRUE(fs::IsOpenForWriting(file.string())) << "held open by another process";
        EXPECT_FALSE(fs::IsOpenForWriting((dir / "link").string())) << "links are not followed";
        writer.End();
        EXPECT_FALSE(fs::IsOpenForWriting(file.string())) << "closed again";
    }

    // A second open file of this process counts as well; readers do not.
    const int reader = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(fs::IsOpenForWriting(file.string()));
    const int writer = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    EXPECT_TRUE(fs::IsOpenForWriting(file.string()));
    ::close(writer);
    ::close(reader);
    EXPECT_FALSE(fs::IsOpenForWriting(file.string()));
    EXPECT_EQ(ReadFile(file), "partial") << "the probe leaves the file alone";
}

TEST_F(FileFactsTest, OnlyExistingRegularFilesAreProbed) {
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(fs::IsOpenForWriting((dir / "fifo").string())) << "refused without waiting for a writer";
    EXPECT_FALSE(fs::IsOpenForWriting(dir.string()));
    EXPECT_FALSE(fs::IsOpenForWriting((dir / "missing").string()));
    EXPECT_FALSE(sfs::exists(dir / "missing")) << "never created";
    sfs::create_symlink(dir / "dangling-target", dir / "dangling");
    EXPECT_FALSE(fs::IsOpenForWriting((dir / "dangling").string()));
    EXPECT_FALSE(sfs::exists(dir / "dangling-target")) << "a link's target is never created";
}

TEST_F(FileFactsTest, RunnableFiles) {
    WriteFile(dir / "tool", "#!/bin/sh\n");
    WriteFile(dir / "plain", "text");
    ::chmod((dir / "tool").c_str(), 0755);
    ::chmod((dir / "plain").c_str(), 0644);
    sfs::create_symlink(dir / "tool", dir / "link");
    EXPECT_TRUE(fs::IsRunnableFile((dir / "tool").string()));
    EXPECT_TRUE(fs::IsRunnableFile((dir / "link").string()));
    EXPECT_FALSE(fs::IsRunnableFile((dir / "plain").string()));
    EXPECT_FALSE(fs::IsRunnableFile(dir.string()));
    EXPECT_FALSE(fs::IsRunnableFile((dir / "missing").string()));
}

}  // namespace
