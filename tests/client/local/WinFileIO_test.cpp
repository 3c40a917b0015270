// Local file I/O through the adapter's file objects, on real temporary files.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "client/core/LocalFileIO.h"
#include "client/local/WinFileSystemAdapter.h"
#include "support/sandbox.h"

namespace {
namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Sandbox;
using testsupport::WriteFile;

class LocalFileIOTest : public ::testing::Test {
protected:
    void SetUp() override { io = adapter.CreateFileIO(); ASSERT_NE(io, nullptr); }
    void TearDown() override {
        adapter.ReleaseFileIO(&io);
        EXPECT_EQ(io, nullptr);
    }
    std::string P(const std::string& rel) const { return (box.Root() / rel).string(); }

    Sandbox box;
    WinFileSystemAdapter adapter;
    CLocalFileIO* io = nullptr;
};

TEST_F(LocalFileIOTest, ReadingNeedsAnExistingFile) {
    EXPECT_FALSE(io->Open(P("missing.bin"), 0, 100));
    EXPECT_FALSE(fs::exists(box.Root() / "missing.bin"));
    fs::create_directory(box.Root() / "folder");
    EXPECT_FALSE(io->Open(P("folder"), 0, 0));
    CLocalFileIO* other = adapter.CreateFileIO();
    EXPECT_FALSE(other->Open(P("folder"), 1, 10));  // a folder is never a file
    EXPECT_TRUE(fs::is_directory(box.Root() / "folder"));
    adapter.ReleaseFileIO(&other);
}

TEST_F(LocalFileIOTest, WritingCreatesAMissingFileWithItsFinalSize) {
    ASSERT_TRUE(io->Open(P("new.bin"), 1, 200000));
    EXPECT_EQ(io->GetLength(), 200000);
    EXPECT_EQ(io->GetGranularity(), 65536u);
    EXPECT_TRUE(io->Close());
    EXPECT_EQ(fs::file_size(box.Root() / "new.bin"), 200000u);

    CLocalFileIO* empty = adapter.CreateFileIO();
    ASSERT_TRUE(empty->Open(P("empty.bin"), 1, 0));
    EXPECT_EQ(empty->GetLength(), 0);
    char c;
    EXPECT_EQ(empty->Read(&c, 1), 0u);
    EXPECT_TRUE(empty->Close());
    adapter.ReleaseFileIO(&empty);
    EXPECT_EQ(fs::file_size(box.Root() / "empty.bin"), 0u);
}

TEST_F(LocalFileIOTest, WritingKeepsAnExistingFile) {
    WriteFile(box.Root() / "old.txt", "0123456789");
    ASSERT_TRUE(io->Open(P("old.txt"), 1, 3));
    EXPECT_EQ(io->GetLength(), 10);
    ASSERT_TRUE(io->Seek(4, 0));
    EXPECT_EQ(io->Write("ab", 2), 2u);
    EXPECT_EQ(io->GetPosition(), 6);
    EXPECT_TRUE(io->Close());
    EXPECT_EQ(ReadFile(box.Root() / "old.txt"), "0123ab6789");
}

TEST_F(LocalFileIOTest, ASecondOpenFailsUntilClosed) {
    WriteFile(box.Root() / "a.txt", "a");
    WriteFile(box.Root() / "b.txt", "b");
    ASSERT_TRUE(io->Open(P("a.txt"), 0, 0));
    EXPECT_FALSE(io->Open(P("b.txt"), 0, 0));
    std::string error;
    io->GetErrorText(error);
    EXPECT_EQ(error, "Close previous file before opening another.");
    ASSERT_TRUE(io->Close());
    ASSERT_TRUE(io->Open(P("b.txt"), 0, 0));
    char c = 0;
    EXPECT_EQ(io->Read(&c, 1), 1u);
    EXPECT_EQ(c, 'b');
}

TEST_F(LocalFileIOTest, ReadsAndWritesAcrossWindowsAndPastTheEnd) {
    std::string content(150000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
    WriteFile(box.Root() / "big.txt", content);

    ASSERT_TRUE(io->Open(P("big.txt"), 0, 0));
    std::string back(content.size(), '\0');
    std::size_t got = 0;
    while (got < back.size()) {
        const std::uint32_t n = io->Read(back.data() + got, 40000);
        if (n == 0) break;
        got += n;
    }
    EXPECT_EQ(got, content.size());
    EXPECT_EQ(back, content);
    char c;
    EXPECT_EQ(io->Read(&c, 1), 0u);  // at the end
    ASSERT_TRUE(io->Seek(-1, 2));
    EXPECT_EQ(io->Read(&c, 1), 1u);
    EXPECT_EQ(c, content.back());
    EXPECT_FALSE(io->Seek(1, 2));  // from the end the offset must be negative
    EXPECT_FALSE(io->Seek(-1, 0));
    EXPECT_EQ(io->Write("x", 1), 0u);  // opened for reading
    ASSERT_TRUE(io->Close());

    ASSERT_TRUE(io->Open(P("big.txt"), 1, 0));
    ASSERT_TRUE(io->Seek(-10, 2));
    const std::string tail(70000, 'Z');
    EXPECT_EQ(io->Write(tail.data(), static_cast<std::uint32_t>(tail.size())), tail.size());
    EXPECT_EQ(io->GetLength(), static_cast<std::int64_t>(content.size() - 10 + tail.size()));
    ASSERT_TRUE(io->Close());
    EXPECT_EQ(ReadFile(box.Root() / "big.txt"), content.substr(0, content.size() - 10) + tail);
}

TEST_F(LocalFileIOTest, SetLengthCutsAndGrows) {
    WriteFile(box.Root() / "s.txt", "abcdef");
    ASSERT_TRUE(io->Open(P("s.txt"), 1, 0));
    const std::int64_t three = 3;
    ASSERT_TRUE(io->SetLength(&three));
    EXPECT_EQ(io->GetLength(), 3);
    const std::int64_t negative = -1;
    EXPECT_FALSE(io->SetLength(&negative));
    EXPECT_FALSE(io->SetLength(nullptr));
    const std::int64_t five = 5;
    ASSERT_TRUE(io->SetLength(&five));
    ASSERT_TRUE(io->Close());
    EXPECT_EQ(ReadFile(box.Root() / "s.txt"), std::string("abc\0\0", 5));
}

}  // namespace
