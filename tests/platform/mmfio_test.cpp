#include "platform/mmfio.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/sandbox.h"

namespace {

namespace sfs = std::filesystem;
using Flavour = CWinMMFIO::Flavour;
using testsupport::ReadFile;
using testsupport::Sandbox;
using testsupport::WriteFile;

constexpr std::uint32_t kClientWindow = 65536;
constexpr std::uint32_t kSyncWindow = 2 * 65536;

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
    return s;
}

std::u16string Wide(const sfs::path& p) { return plat::U16(p.string()); }

class MmfioTest : public testing::Test {
protected:
    Sandbox box;
    sfs::path dir = box.Dir("files");
    sfs::path File(const std::string& name, const std::string& content) {
        WriteFile(dir / name, content);
        return dir / name;
    }
};

TEST_F(MmfioTest, SyncStreamsEveryViewAndWrapsToZero) {
    for (std::size_t size : {std::size_t{1}, std::size_t{kSyncWindow - 1}, std::size_t{kSyncWindow},
                             std::size_t{kSyncWindow + 1}, std::size_t{3 * kSyncWindow + 5}}) {
        const std::string content = Pattern(size);
        const auto path = File("s" + std::to_string(size), content);
        CWinMMFIO io(Flavour::Sync);
        ASSERT_TRUE(io.Open(Wide(path), 0)) << size;
        EXPECT_EQ(io.GetLength(), size);
        EXPECT_EQ(io.windowSize, kSyncWindow);
        std::string seen;
        int views = 0;
        do {
            ASSERT_NE(io.viewBase, nullptr);
            EXPECT_EQ(io.viewOffset % kSyncWindow, 0u);
            seen.append(reinterpret_cast<const char*>(io.viewBase), io.viewSize);
            ++views;
            ASSERT_TRUE(io.NextView());
        } while (io.position != 0 && views < 100);
        EXPECT_EQ(seen, content) << size;
        EXPECT_EQ(views, static_cast<int>((size + kSyncWindow - 1) / kSyncWindow)) << size;
        EXPECT_TRUE(io.Close());
    }
}

TEST_F(MmfioTest, OpenFailures) {
    CWinMMFIO zero(Flavour::Sync);
    EXPECT_FALSE(zero.Open(Wide(File("empty", "")), 0));
    EXPECT_EQ(zero.lastError, u"Cannot open zero byte file.");

    for (Flavour flavour : {Flavour::Sync, Flavour::Client}) {
        CWinMMFIO io(flavour);
        EXPECT_FALSE(io.Open(Wide(dir / "missing"), 0));
        EXPECT_EQ(io.lastError, u"Error encountered during file open.");
        EXPECT_FALSE(sfs::exists(dir / "missing"));  // reading never creates

        CWinMMFIO folder(flavour);
        EXPECT_FALSE(folder.Open(Wide(dir), 1));
        EXPECT_EQ(folder.lastError, u"Error encountered during file open.");

        CWinMMFIO relative(flavour);
        EXPECT_FALSE(relative.Open(u"relative/name", 0));
    }

    // The sync flavour reads only, whatever the mode says.
    CWinMMFIO syncWrite(Flavour::Sync);
    EXPECT_FALSE(syncWrite.Open(Wide(dir / "not-created"), 1));
    EXPECT_FALSE(sfs::exists(dir / "not-created"));
}

TEST_F(MmfioTest, OneObjectOpensOneFile) {
    const auto a = File("a", "first");
    const auto b = File("b", "second");
    CWinMMFIO io(Flavour::Client);
    ASSERT_TRUE(io.Open(Wide(a), 0));
    EXPECT_FALSE(io.Open(Wide(b), 0));
    EXPECT_EQ(io.lastError, u"Close previous file before opening another.");
    char buf[16] = {};
    EXPECT_EQ(io.Read(buf, sizeof buf), 5u);
    EXPECT_EQ(std::string(buf, 5), "first");
    EXPECT_TRUE(io.Close());
    EXPECT_FALSE(io.Open(Wide(b), 0));
    EXPECT_EQ(io.lastError, u"Close previous file before opening another.");
}

TEST_F(MmfioTest, ClientWritesIntoAnEmptyFileAndCutsTheGrowthBack) {
    CWinMMFIO io(Flavour::Client);
    ASSERT_TRUE(io.Open(Wide(dir / "new"), 1));  // created on open
    EXPECT_EQ(io.GetLength(), 0u);
    EXPECT_EQ(io.viewBase, nullptr);
    EXPECT_EQ(io.Write("0123456789", 10), 10u);
    EXPECT_EQ(io.grown, 1u);
    EXPECT_TRUE(io.Close());
    EXPECT_EQ(ReadFile(dir / "new"), "0123456789");
}

TEST_F(MmfioTest, ClientWritesAcrossWindowsAndReadsBack) {
    const std::string content = Pattern(3 * kClientWindow + 7);
    {
        CWinMMFIO io(Flavour::Client);
        ASSERT_TRUE(io.Open(Wide(dir / "big"), 1));
        for (std::size_t i = 0; i < content.size(); i += 1000) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(1000, content.size() - i));
            ASSERT_EQ(io.Write(content.data() + i, n), n);
        }
        EXPECT_EQ(io.GetLength(), content.size());
        ASSERT_TRUE(io.Seek(0, 0));
        std::string back(content.size() + 10, '\0');
        EXPECT_EQ(io.Read(back.data(), static_cast<std::uint32_t>(back.size())), content.size());
        back.resize(content.size());
        EXPECT_EQ(back, content);
        EXPECT_EQ(io.Read(back.data(), 1), 0u);  // at the end
        EXPECT_TRUE(io.Close());
    }
    EXPECT_EQ(ReadFile(dir / "big"), content);
}

TEST_F(MmfioTest, CutBackKeepsEverythingWrittenAfterABackwardSeek) {
    CWinMMFIO io(Flavour::Client);
    ASSERT_TRUE(io.Open(Wide(dir / "f"), 1));
    ASSERT_EQ(io.Write(std::string(100, 'a').data(), 100), 100u);
    ASSERT_TRUE(io.Seek(10, 0));
    ASSERT_EQ(io.Write("BBBBB", 5), 5u);
    EXPECT_TRUE(io.Close());
    EXPECT_EQ(ReadFile(dir / "f"), std::string(10, 'a') + "BBBBB" + std::string(85, 'a'));

    CWinMMFIO again(Flavour::Client);
    ASSERT_TRUE(again.Open(Wide(dir / "f"), 1));
    EXPECT_EQ(again.GetLength(), 100u);  // opening for writing keeps content and length
    ASSERT_TRUE(again.Seek(-10, 2));
    ASSERT_EQ(again.Write(std::string(30, 'c').data(), 30), 30u);  // runs past the end
    ASSERT_TRUE(again.Seek(0, 0));
    EXPECT_EQ(again.GetLength(), 120u);
    EXPECT_TRUE(again.Close());
    EXPECT_EQ(ReadFile(dir / "f"), std::string(10, 'a') + "BBBBB" + std::string(75, 'a') + std::string(30, 'c'));
}

TEST_F(MmfioTest, SeekBoundsAndMessages) {
    const std::string content = Pattern(kClientWindow + 100);
    CWinMMFIO io(Flavour::Client);
    ASSERT_TRUE(io.Open(Wide(File("s", content)), 0));
    EXPECT_FALSE(io.Seek(static_cast<std::int64_t>(content.size()), 0));
    EXPECT_EQ(io.lastError, u"Seek request lies outside file boundary.");
    EXPECT_FALSE(io.Seek(-1, 0));
    EXPECT_EQ(io.lastError, u"Seek request lies outside file boundary.");
    EXPECT_FALSE(io.Seek(5, 2));
    EXPECT_EQ(io.lastError, u"Offset must be negative while seeking from file end.");
    EXPECT_FALSE(io.Seek(-static_cast<std::int64_t>(content.size()) - 1, 2));
    EXPECT_EQ(io.lastError, u"Seek request lies outside file boundary.");
    EXPECT_FALSE(io.Seek(INT64_MAX, 0));
    EXPECT_EQ(io.position, 0u);

    ASSERT_TRUE(io.Seek(-1, 2));
    EXPECT_EQ(io.position, content.size() - 1);
    EXPECT_EQ(io.viewOffset, kClientWindow);
    char c = 0;
    EXPECT_EQ(io.Read(&c, 1), 1u);
    EXPECT_EQ(c, content.back());
    ASSERT_TRUE(io.Seek(-200, 1));
    EXPECT_EQ(io.position, content.size() - 200);
    EXPECT_EQ(io.viewOffset, 0u);
    std::string two(2, '\0');
    EXPECT_EQ(io.Read(two.data(), 2), 2u);
    EXPECT_EQ(two, content.substr(content.size() - 200, 2));
    EXPECT_EQ(io.Read(two.data(), 0), 0u);
}

TEST_F(MmfioTest, SetLengthShrinksGrowsAndClampsThePosition) {
    CWinMMFIO io(Flavour::Client);
    ASSERT_TRUE(io.Open(Wide(File("l", Pattern(1000))), 1));
    ASSERT_TRUE(io.Seek(900, 0));
    ASSERT_TRUE(io.SetLength(500));
    EXPECT_EQ(io.position, 500u);
    EXPECT_EQ(io.GetLength(), 500u);
    ASSERT_TRUE(io.SetLength(3 * kClientWindow));
    ASSERT_TRUE(io.Seek(-1, 2));
    char c = 1;
    EXPECT_EQ(io.Read(&c, 1), 1u);
    EXPECT_EQ(c, 0);
    EXPECT_TRUE(io.Close());
    EXPECT_EQ(sfs::file_size(dir / "l"), 3u * kClientWindow);
    EXPECT_EQ(ReadFile(dir / "l").substr(0, 500), Pattern(500));

    CWinMMFIO reader(Flavour::Client);
    ASSERT_TRUE(reader.Open(Wide(dir / "l"), 0));
    EXPECT_EQ(reader.Write("x", 1), 0u);  // opened for reading
    EXPECT_FALSE(reader.SetLength(1));
    EXPECT_EQ(reader.lastError, u"Failed to set end of file.");
}

TEST_F(MmfioTest, FileCutShortByAnotherProgramGivesAShortRead) {
    const auto path = File("t", Pattern(4 * kClientWindow));
    CWinMMFIO io(Flavour::Client);
    ASSERT_TRUE(io.Open(Wide(path), 0));
    ASSERT_EQ(::truncate(path.c_str(), kClientWindow + 10), 0);
    std::string all(4 * kClientWindow, '\0');
    EXPECT_EQ(io.Read(all.data(), static_cast<std::uint32_t>(all.size())), kClientWindow + 10u);
    EXPECT_EQ(all.substr(0, kClientWindow + 10), Pattern(kClientWindow + 10));

    // A streaming loop still ends.
    const auto path2 = File("t2", Pattern(4 * kSyncWindow));
    CWinMMFIO sync(Flavour::Sync);
    ASSERT_TRUE(sync.Open(Wide(path2), 0));
    ASSERT_EQ(::truncate(path2.c_str(), kSyncWindow + 3), 0);
    std::size_t seen = 0;
    int views = 0;
    do {
        seen += sync.viewSize;
        sync.NextView();
    } while (sync.position != 0 && ++views < 100);
    EXPECT_LT(views, 100);
    EXPECT_EQ(seen, kSyncWindow + 3u);
}

}  // namespace
