#include "sync/engine/FileDigest.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DriverTestSupport.h"
#include "platform/md5.h"
#include "platform/mmfio.h"
#include "support/sandbox.h"
#include "sync/common/BaseFunc.h"

namespace fs = std::filesystem;
using testsupport::Sandbox;
using testsupport::WriteFile;

namespace {

const auto* const kQuitEnvironment = ::testing::AddGlobalTestEnvironment(new drivertest::QuitEventEnvironment);

constexpr std::uint64_t kWindow = 2 * CWinMMFIO::kGranularity;

std::string Pattern(std::uint64_t size) {
    std::string bytes(size, '\0');
    for (std::uint64_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return bytes;
}

std::string ExpectedHex(const std::string& bytes) { return BaseFunc::ToUpper(plat::Md5HexLower(bytes)); }

class FileDigestTest : public ::testing::Test {
protected:
    Sandbox sandbox;
    fs::path dir = sandbox.Dir("files");
};

TEST(DigestBytesToHexTest, UpperCaseZeroFilled) {
    EXPECT_EQ(DigestBytesToHex({}), "");
    EXPECT_EQ(DigestBytesToHex({0x0A}), "0A");
    EXPECT_EQ(DigestBytesToHex({0x00, 0xFF, 0x5c}), "00FF5C");
}

// Sizes around the window edges: every byte is hashed once, in order.
TEST_F(FileDigestTest, DigestsEveryByteAcrossWindows) {
    const std::uint64_t sizes[] = {0, 1, kWindow - 1, kWindow, kWindow + 1, 3 * kWindow + 17};
    for (const std::uint64_t size : sizes) {
        const fs::path file = dir / ("f" + std::to_string(size));
        const std::string bytes = Pattern(size);
        WriteFile(file, bytes);
        FileDigestHolder holder;
        EXPECT_EQ(FileDigestHex(holder, file.string()), ExpectedHex(bytes)) << size;
        EXPECT_EQ(holder.errorText, "") << size;
    }
}

TEST_F(FileDigestTest, EmptyFileIsTheDigestOfNoBytes) {
    WriteFile(dir / "empty", "");
    FileDigestHolder holder;
    EXPECT_EQ(FileDigestHex(holder, (dir / "empty").string()), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST_F(FileDigestTest, RecordPathsWithBackslashesAreRead) {
    WriteFile(dir / "sub" / "a.txt", "abc");
    FileDigestHolder holder;
    EXPECT_EQ(FileDigestHex(holder, dir.string() + "\\sub\\a.txt"), "900150983CD24FB0D6963F7D28E17F72");
}

TEST_F(FileDigestTest, ItemsWithoutContentGiveNoDigest) {
    fs::create_directory(dir / "folder");
    WriteFile(dir / "target", "data");
    fs::create_symlink(dir / "target", dir / "link");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const char* name : {"folder", "missing", "link", "fifo"}) {
        const std::string path = (dir / name).string();
        FileDigestHolder holder;
        EXPECT_EQ(FileDigestHex(holder, path), "") << name;
        EXPECT_EQ(holder.errorText, path + " could not get size") << name;
    }
    FileDigestHolder holder;
    EXPECT_EQ(FileDigestHex(holder, std::string("/bad/\xff")), "");
    EXPECT_EQ(holder.errorText, std::string("/bad/\xff could not get size"));
}

TEST_F(FileDigestTest, UnreadableFileCannotBeOpened) {
    const fs::path file = dir / "secret";
    WriteFile(file, "data");
    fs::permissions(file, fs::perms::none);
    drivertest::OpenUpTo(sandbox.Root(), dir);
    const int result = drivertest::RunUnprivileged([&] {
        FileDigestHolder holder;
        if (FileDigestHex(holder, file.string()) != "") return 1;
        return holder.errorText == file.string() + " could not be opened" ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
}

// A file whose content ends before its stated length (as when another program cuts it
// short) gives the digest of the bytes it really holds, not of zeros filling the gap.
TEST_F(FileDigestTest, FileShorterThanItsLengthGivesTheDigestOfItsBytes) {
    const std::string path = "/sys/kernel/mm/transparent_hugepage/enabled";
    std::error_code ec;
    if (fs::file_size(path, ec) != 4096 || ec) GTEST_SKIP() << "no short sysfs file here";
    const std::string bytes = testsupport::ReadFile(path);
    ASSERT_LT(bytes.size(), 4096u);
    FileDigestHolder holder;
    EXPECT_EQ(FileDigestHex(holder, path), ExpectedHex(bytes));
}

TEST_F(FileDigestTest, BreakOrQuitStopsTheDigestAndTheNextPassSucceeds) {
    const std::string bytes = Pattern(2 * kWindow + 5);
    WriteFile(dir / "big", bytes);
    CSyncBase owner;
    FileDigestHolder holder(&owner);

    owner.breakEvent.Set();
    EXPECT_EQ(FileDigestHex(holder, (dir / "big").string()), "");
    owner.breakEvent.Reset();

    g_pTerminateEvent->Set();
    EXPECT_EQ(FileDigestHex(holder, (dir / "big").string()), "");
    g_pTerminateEvent->Reset();

    EXPECT_EQ(FileDigestHex(holder, (dir / "big").string()), ExpectedHex(bytes));
}

TEST(CryptoHashTest, OneObjectServesOneDigest) {
    crypto::cryptohash_helper_t<crypto::kAlgorithmMd5> hash;
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_FALSE(hash.update(abc, 3));
    EXPECT_EQ(hash.errorText, "Cryptographic provider not acquired!");
    EXPECT_FALSE(hash.final());
    EXPECT_EQ(hash.errorText, "Cryptographic provider not acquired!");

    ASSERT_TRUE(hash.init());
    EXPECT_FALSE(hash.init());
    EXPECT_EQ(hash.errorText, "Cryptographic provider already acquired!");
    EXPECT_TRUE(hash.update(abc, 3));
    EXPECT_EQ(hash.errorText, "");
    ASSERT_TRUE(hash.final());
    EXPECT_EQ(DigestBytesToHex(hash.digest), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_FALSE(hash.update(abc, 3));
}

}  // namespace
