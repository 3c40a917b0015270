#include "client/core/ClientFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/userdirs.h"
#include "support/sandbox.h"

namespace {
namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

std::size_t Count(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(ClientFolders, DataFolderFollowsXdg) {
    testsupport::Sandbox sandbox;
    EXPECT_EQ(ClientDataDirectory(), (sandbox.DataHome() / "Dravik/DravikClient").string());
}

TEST(ClientFolders, BesideTheExecutableWhenWritable) {
    testsupport::Sandbox sandbox;
    // The test executable's folder is writable in the build tree.
    EXPECT_EQ(BesideExecutableDirectory(), plat::ExecutableDir());
}

TEST(ClientFiles, ReadWholeFileKinds) {
    testsupport::Sandbox sandbox;
    const fs::path dir = sandbox.Dir("r");
    std::string content = "stale";
    EXPECT_EQ(ReadWholeFile((dir / "none").string(), content), FileRead::Missing);
    EXPECT_EQ(content, "");
    EXPECT_EQ(ReadWholeFile((dir / "none" / "deeper").string(), content), FileRead::Missing);
    EXPECT_EQ(ReadWholeFile(dir.string(), content), FileRead::NotAFile);
    const std::string big(200000, 'x');
    WriteFile(dir / "f", big + std::string("\0end", 4));
    ASSERT_EQ(ReadWholeFile((dir / "f").string(), content), FileRead::Read);
    EXPECT_EQ(content, big + std::string("\0end", 4));
}

TEST(ClientFiles, WriteReplacingSetsModeAndLeavesNoTemporary) {
    testsupport::Sandbox sandbox;
    const fs::path dir = sandbox.Dir("w");
    const std::string path = (dir / "state.xml").string();
    WriteFile(path, "old content that is longer");
    fs::permissions(path, fs::perms::all);
    ASSERT_TRUE(WriteFileReplacing(path, "new", 0600));
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(WriteFileReplacing(path, "", 0644));
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_EQ(Count(dir), 1u);
}

TEST(ClientFiles, FailedWriteKeepsWhatIsThere) {
    testsupport::Sandbox sandbox;
    const fs::path dir = sandbox.Dir("w");
    const fs::path blocker = dir / "name";
    WriteFile(blocker / "inside", "kept");
    EXPECT_FALSE(WriteFileReplacing(blocker.string(), "data", 0600));
    EXPECT_EQ(ReadFile(blocker / "inside"), "kept");
    EXPECT_EQ(Count(dir), 1u) << "the temporary file is removed";
    EXPECT_FALSE(WriteFileReplacing((dir / "no" / "such" / "folder").string(), "data", 0600));
}

TEST(ClientFiles, SetAsideFindsAFreeName) {
    testsupport::Sandbox sandbox;
    const fs::path dir = sandbox.Dir("a");
    const std::string path = (dir / "f.xml").string();
    for (int i = 0; i < 3; ++i) {
        WriteFile(path, "v" + std::to_string(i));
        const std::string expected = i == 0 ? path + ".bad" : path + ".bad." + std::to_string(i);
        EXPECT_EQ(SetFileAside(path), expected);
        EXPECT_EQ(ReadFile(expected), "v" + std::to_string(i));
        EXPECT_FALSE(fs::exists(path));
    }
    EXPECT_EQ(SetFileAside((dir / "missing").string()), "");
}

}  // namespace
