#include "client/core/MoCatalog.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/sandbox.h"

namespace {

std::string ReadSample(const char* path) { return testsupport::ReadFile(path); }

// A catalogue laid out like msgfmt's, in either byte order, with the entries in the
// order given (msgfmt sorts them; this builder does not).
std::string BuildMo(const std::vector<std::pair<std::string, std::string>>& entries, bool bigEndian) {
    std::string out;
    auto put = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            const int shift = bigEndian ? 24 - 8 * i : 8 * i;
            out.push_back(static_cast<char>((v >> shift) & 0xFF));
        }
    };
    const auto n = static_cast<std::uint32_t>(entries.size());
    const std::uint32_t idTable = 28;
    const std::uint32_t textTable = idTable + 8 * n;
    std::uint32_t offset = textTable + 8 * n;
    put(0x950412DE);
    put(0);
    put(n);
    put(idTable);
    put(textTable);
    put(0);
    put(0);
    std::string strings;
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& e : entries) {
            const std::string& s = pass == 0 ? e.first : e.second;
            put(static_cast<std::uint32_t>(s.size()));
            put(offset);
            strings += s + '\0';
            offset += static_cast<std::uint32_t>(s.size() + 1);
        }
    }
    return out + strings;
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

TEST(MoCatalogParse, MsgfmtOutputInBothByteOrders) {
    for (const char* path : {SAMPLE_MO_LITTLE, SAMPLE_MO_BIG}) {
        SCOPED_TRACE(path);
        auto catalog = MoCatalog::Parse(ReadSample(path));
        ASSERT_TRUE(catalog);
        EXPECT_EQ(catalog->Count(), 7u) << "six messages and the header";
        ASSERT_NE(catalog->Find("Open"), nullptr);
        EXPECT_EQ(*catalog->Find("Open"), "打开");
        EXPECT_EQ(*catalog->Find("Zebra"), "斑马");
        EXPECT_EQ(*catalog->Find("Cancel"), "取消");
        EXPECT_EQ(*catalog->Find("file"), "文件") << "a plural entry answers with its first form";
        // Neighbours in sort order are not matches.
        EXPECT_EQ(catalog->Find("Ope"), nullptr);
        EXPECT_EQ(catalog->Find("Openx"), nullptr);
        EXPECT_EQ(catalog->Find("Apple"), nullptr);
        EXPECT_EQ(catalog->Find("zzz"), nullptr);
    }
}

TEST(MoCatalogParse, BuilderMatchesReader) {
    const std::vector<std::pair<std::string, std::string>> entries = {{"b", "B"}, {"a", "A"}, {"c", ""}};
    for (bool big : {false, true}) {
        auto catalog = MoCatalog::Parse(BuildMo(entries, big));
        ASSERT_TRUE(catalog) << big;
        EXPECT_EQ(*catalog->Find("a"), "A") << "unsorted files are still found";
        EXPECT_EQ(*catalog->Find("b"), "B");
        EXPECT_EQ(*catalog->Find("c"), "");
    }
    auto empty = MoCatalog::Parse(BuildMo({}, false));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->Count(), 0u);
    EXPECT_EQ(empty->Find(""), nullptr);
}

TEST(MoCatalogParse, RefusesMalformedFiles) {
    const std::string good = BuildMo({{"key", "value"}, {"other", "text"}}, false);
    ASSERT_TRUE(MoCatalog::Parse(good));
    // Offsets inside the little-endian file: header words, then the id table at 28 and
    // the text table at 44 (each entry: length, offset).
    struct Case {
        const char* what;
        std::size_t at;
        std::uint32_t value;
    } cases[] = {
        {"bad magic", 0, 0x12345678},
        {"revision", 4, 1},
        {"count beyond the file", 8, 0x10000000},
        {"count that overflows 32 bits", 8, 0xFFFFFFFF},
        {"id table past the end", 12, 0xFFFFFFF0},
        {"text table past the end", 16, static_cast<std::uint32_t>(good.size())},
        {"text table cut by the end", 16, static_cast<std::uint32_t>(good.size() - 8)},
        {"string offset past the end", 32, 0x7FFFFFFF},
        {"string offset + length wraps", 32, 0xFFFFFFFF},
        {"string length past the end", 28, 0xFFFFFFFF},
        {"string length one too long (no NUL)", 28, 4},
        {"translation length past the end", 44, 5000},
        {"translation offset at the very end", 48, static_cast<std::uint32_t>(good.size())},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        Put32(bytes, c.at, c.value);
        EXPECT_FALSE(MoCatalog::Parse(bytes)) << c.what;
    }
    EXPECT_FALSE(MoCatalog::Parse(good.substr(0, 19))) << "header cut short";
    EXPECT_FALSE(MoCatalog::Parse(good.substr(0, good.size() - 1))) << "last string cut short";
    EXPECT_FALSE(MoCatalog::Parse(""));
}

TEST(MoCatalogParse, ByteSwappedFileIsCheckedToo) {
    std::string bytes = BuildMo({{"key", "value"}}, true);
    ASSERT_TRUE(MoCatalog::Parse(bytes));
    bytes[28] = '\x7F';  // big-endian id length: now far past the end
    EXPECT_FALSE(MoCatalog::Parse(bytes));
}

TEST(MoCatalogRegistry, LoadTranslateUnload) {
    testsupport::Sandbox sandbox;
    EXPECT_EQ(MoCatalog::Translate(nullptr), nullptr);
    const char* key = "Open";
    MoCatalog::SetCurrentDomain("");
    EXPECT_EQ(MoCatalog::Translate(key), key) << "no current domain";

    EXPECT_EQ(MoCatalog::Load("", SAMPLE_MO_LITTLE), 0);
    EXPECT_EQ(MoCatalog::Load("test", (sandbox.Root() / "none.mo").string()), 0);
    EXPECT_EQ(MoCatalog::Load("test", ""), 0);
    const auto broken = sandbox.Root() / "broken.mo";
    testsupport::WriteFile(broken, "\xDE\x12\x04\x95 not really");
    EXPECT_EQ(MoCatalog::Load("test", broken.string()), 0);

    MoCatalog::SetCurrentDomain("test");
    EXPECT_EQ(MoCatalog::Translate(key), key) << "no catalogue registered";
    ASSERT_EQ(MoCatalog::Load("test", SAMPLE_MO_BIG), 1);
    EXPECT_STREQ(MoCatalog::Translate(key), "打开");
    const char* missing = "Missing";
    EXPECT_EQ(MoCatalog::Translate(missing), missing);

    // A failed load leaves the registered catalogue in place.
    EXPECT_EQ(MoCatalog::Load("test", broken.string()), 0);
    EXPECT_STREQ(MoCatalog::Translate(key), "打开");

    MoCatalog::Unload("test");
    EXPECT_EQ(MoCatalog::Translate(key), key);
    MoCatalog::Unload("never-loaded");
}

}  // namespace
