#include "sync/common/CommonTypes.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "support/synclogcapture.h"
#include "sync/common/TreeNode.h"

namespace {

std::unique_ptr<SyncFileInfo> FromJson(const std::string& json, std::string* pathOut = nullptr) {
    rapidjson::Document doc;
    doc.Parse(json.c_str(), json.size());
    EXPECT_FALSE(doc.HasParseError()) << json;
    std::string path;
    auto record = SyncFileInfo::FromServerJson(doc, path);
    if (pathOut != nullptr) *pathOut = path;
    return record;
}

std::string Item(const std::string& name, const std::string& size, const std::string& type = "content") {
    return R"({"nodeRef":"ws://store/1","name":")" + name + R"(","type":")" + type + R"(","size":)" + size +
           R"(,"checksum":"abc"})";
}

TEST(SyncFileInfoTest, FromServerJsonReadsAnItem) {
    std::string path;
    const auto file = FromJson(Item("/docs/a.txt", "12"), &path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->name, "a.txt");
    EXPECT_EQ(path, "/docs/a.txt");
    EXPECT_EQ(file->nodeRef, "ws://store/1");
    EXPECT_EQ(file->checksum, "abc");
    EXPECT_EQ(file->size, 12u);
    EXPECT_EQ(file->isFile, 1u);
    EXPECT_EQ(file->mark, 0u);

    const auto folder = FromJson(Item("/docs", "0", "folder"));
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->isFile, 0u);
    EXPECT_EQ(FromJson(Item("/x", "1", "contentFile"))->isFile, 1u);
    EXPECT_EQ(FromJson(Item("/x", "1", "Content"))->isFile, 0u);
}

TEST(SyncFileInfoTest, FromServerJsonReadsSizes) {
    struct Case {
        std::string size;
        bool valid;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {R"("1,234 567")", true, 1234567},
        {R"("12abc")", true, 12},
        {R"("  +7")", true, 7},
        {"9223372036854775807", true, 9223372036854775807ull},
        {R"("")", false, 0},
        {R"("abc")", false, 0},
        {R"(", ,")", false, 0},
        {R"("-5")", false, 0},
        {"-1", false, 0},
        {R"("99999999999999999999")", false, 0},
        {"18446744073709551615", false, 0},
        {"1.5", false, 0},
        {"null", false, 0},
    };
    for (const Case& c : cases) {
        const auto record = FromJson(Item("/a", c.size));
        ASSERT_EQ(record != nullptr, c.valid) << c.size;
        if (record) {
            EXPECT_EQ(record->size, c.expected) << c.size;
        }
    }
}

TEST(SyncFileInfoTest, FromServerJsonRefusesBadShapes) {
    const std::string bad[] = {
        "[]",
        R"({"name":"/a","type":"content","size":1,"checksum":""})",
        R"({"nodeRef":"","name":"/a","type":"content","size":1,"checksum":""})",
        R"({"nodeRef":"n","name":"/a","type":"","size":1,"checksum":""})",
        R"({"nodeRef":"n","name":"/a","type":"content","size":1})",
        R"({"nodeRef":"n","name":"/a","type":"content","size":1,"checksum":5})",
        R"({"nodeRef":7,"name":"/a","type":"content","size":1,"checksum":""})",
        R"({"nodeRef":"n","name":"noslash","type":"content","size":1,"checksum":""})",
    };
    for (const std::string& json : bad) EXPECT_EQ(FromJson(json), nullptr) << json;
    EXPECT_NE(FromJson(R"({"nodeRef":"n","name":"/a","type":"content","size":1,"checksum":""})"), nullptr);
}

TEST(SyncFileInfoTest, FromServerJsonRefusesUnsafePathsWithALogLine) {
    const std::string unsafe[] = {
        "/", "//a", "/a/", "/a//b", "/./a", "/a/..", "/../etc/passwd", "/a/../b",
        "/a\\\\b", "/a\\u0000b", "/a\\u0007b", "/a\\tb",
    };
    for (const std::string& name : unsafe) {
        LogCapture log;
        EXPECT_EQ(FromJson(Item(name, "1")), nullptr) << name;
        const std::vector<std::string> lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u) << name;
        EXPECT_NE(lines[0].find("' filepath:CommonTypes line:"), std::string::npos) << lines[0];
        EXPECT_EQ(lines[0].find('\0'), std::string::npos);
        EXPECT_EQ(lines[0].find('\t'), std::string::npos);
    }
    // Dots inside a name are fine.
    const auto dotted = FromJson(Item("/a/..b/c.", "1"));
    ASSERT_NE(dotted, nullptr);
    EXPECT_EQ(dotted->name, "c.");
}

// A node reference or checksum holding what a state file cannot carry (control characters,
// broken UTF-8) would make the record unsavable: the item is refused, with one log line.
TEST(SyncFileInfoTest, FromServerJsonRefusesReferencesAndChecksumsThatCannotBeStored) {
    const std::string item = R"({"nodeRef":"%R","name":"/a.txt","type":"content","size":1,"checksum":"%C"})";
    const auto with = [&](const std::string& ref, const std::string& sum) {
        std::string json = item;
        json.replace(json.find("%R"), 2, ref);
        json.replace(json.find("%C"), 2, sum);
        return json;
    };
    const std::pair<std::string, std::string> bad[] = {
        {"ws://store/a\\u0000b", "abc"}, {"ws://store/\\u0007", "abc"}, {"ws://store/1", "ab\\u001fc"},
        {"ws://store/1", "a\\u007f"},    {"ws://st\xff/1", "abc"},
    };
    for (const auto& [ref, sum] : bad) {
        LogCapture log;
        EXPECT_EQ(FromJson(with(ref, sum)), nullptr) << ref << " " << sum;
        EXPECT_EQ(log.Lines().size(), 1u) << ref << " " << sum;
    }
    const auto fine = FromJson(with("ws://store/é-1", "0cc175b9c0f1b6a831c399e269772661"));
    ASSERT_NE(fine, nullptr);
    EXPECT_EQ(fine->nodeRef, "ws://store/é-1");
}

// "/a/a/.../a" with that many components.
std::string DeepPath(std::size_t components) {
    std::string path;
    for (std::size_t i = 0; i < components; ++i) path += "/a";
    return path;
}

TEST(SyncFileInfoTest, FromServerJsonRefusesPathsBeyondTheLimitsWithAShortLogLine) {
    const std::string longName = "/" + std::string(kMaxServerPathBytes - 1, 'n');
    struct Case {
        const char* name;
        std::string path;
        bool taken;
    };
    const Case cases[] = {
        {"deepest allowed", DeepPath(kMaxServerPathComponents), true},
        {"one component too many", DeepPath(kMaxServerPathComponents + 1), false},
        {"a hostile depth", DeepPath(60000), false},
        {"longest allowed", longName, true},
        {"one byte too long", longName + "n", false},
    };
    for (const Case& c : cases) {
        LogCapture log;
        const auto record = FromJson(Item(c.path, "1"));
        EXPECT_EQ(record != nullptr, c.taken) << c.name;
        EXPECT_EQ(IsServerPathWithinLimits(c.path), c.taken) << c.name;
        const std::vector<std::string> lines = log.Lines();
        if (c.taken) {
            EXPECT_TRUE(lines.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << c.name;
        EXPECT_NE(lines[0].find("beyond the limits"), std::string::npos) << lines[0];
        EXPECT_LT(lines[0].size(), 1000u) << c.name;  // an excerpt, not the whole path
    }
    // Repeated separators do not count as components.
    EXPECT_TRUE(IsServerPathWithinLimits(std::string(kMaxServerPathBytes, '/')));
}

TEST(SyncFileInfoTest, FromServerJsonRefusesMalformedUtf8Names) {
    rapidjson::Document doc;
    doc.SetObject();
    auto& a = doc.GetAllocator();
    const std::string name = "/a\xC3\x28";
    doc.AddMember("nodeRef", "n", a);
    doc.AddMember("name", rapidjson::Value(name.c_str(), static_cast<rapidjson::SizeType>(name.size()), a), a);
    doc.AddMember("type", "content", a);
    doc.AddMember("size", 1, a);
    doc.AddMember("checksum", "", a);
    LogCapture log;
    std::string path;
    EXPECT_EQ(SyncFileInfo::FromServerJson(doc, path), nullptr);
    ASSERT_EQ(log.Lines().size(), 1u);
}

TEST(SyncFileInfoTest, PathConstructorNamesTheRecord) {
    EXPECT_EQ(SyncFileInfo(1, 0, 5, "\\a\\b.txt").name, "b.txt");
    EXPECT_EQ(SyncFileInfo(0, 1, 0, "/a/b").name, "b");
    EXPECT_EQ(SyncFileInfo(1, 0, 0, "abc").name, "abc");
    EXPECT_EQ(SyncFileInfo(1, 0, 0, "/x\\y/z").name, "y/z");  // '\\' wins over '/'
    const SyncFileInfo record(1, 1, 42, "\\d\\f");
    EXPECT_EQ(record.isFile, 1u);
    EXPECT_EQ(record.mark, 1u);
    EXPECT_EQ(record.size, 42u);
    EXPECT_EQ(SyncFileInfo("Driver").name, "Driver");
}

TEST(SyncFileInfoTest, ChecksumComparisons) {
    SyncFileInfo a, b;
    a.checksum = "ABC";
    b.checksum = "abc";
    EXPECT_FALSE(a.ChecksumDiffers(b));
    EXPECT_TRUE(a.SameChecksum(b));
    b.checksum = "abd";
    EXPECT_TRUE(a.ChecksumDiffers(b));
    EXPECT_FALSE(a.SameChecksum(b));
    b.checksum.clear();
    EXPECT_FALSE(a.ChecksumDiffers(b));
    EXPECT_FALSE(b.ChecksumDiffers(a));
    EXPECT_FALSE(a.SameChecksum(b));
}

TEST(SyncFileInfoTest, ExtraSurvivesAssignmentAndClearButNotCopy) {
    SyncFileInfo source(1, 1, 9, "\\a\\b");
    source.checksum = "c";
    source.nodeRef = "n";
    source.extra = "SOURCE~1";
    SyncFileInfo target;
    target.extra = "KEEP";
    target = source;
    EXPECT_EQ(target.extra, "KEEP");
    EXPECT_EQ(target.name, "b");
    EXPECT_EQ(target.checksum, "c");
    EXPECT_EQ(target.nodeRef, "n");
    EXPECT_EQ(target.size, 9u);
    EXPECT_EQ(target.mark, 1u);
    target = SyncFileInfo(source);
    EXPECT_EQ(target.extra, "KEEP");
    EXPECT_EQ(SyncFileInfo(source).extra, "SOURCE~1");
    target.Clear();
    EXPECT_EQ(target.extra, "KEEP");
    EXPECT_TRUE(target.name.empty() && target.checksum.empty() && target.nodeRef.empty());
    EXPECT_EQ(target.isFile + target.mark + target.size, 0u);
}

TEST(SyncTaskInfoTest, ConstructorsAndSource) {
    const SyncTaskInfo root = SyncTaskInfo::CreateUniformRoot();
    EXPECT_EQ(root.name, "Uniform");
    EXPECT_EQ(root.kind + root.linked + root.aspect + root.task + root.duty + root.flag + root.matchMark, 0u);
    EXPECT_EQ(root.localPartner, nullptr);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(root.source));

    FileNode local(SyncFileInfo("x"));
    const SyncTaskInfo a(1, "x", 2, 1, 0, &local, nullptr);
    EXPECT_EQ(a.linked, 0u);
    EXPECT_EQ(a.aspect, 2u);
    EXPECT_EQ(a.task, 1u);
    EXPECT_EQ(a.localPartner, &local);
    EXPECT_EQ(a.matchMark, 0u);
    EXPECT_TRUE(a.IsCreateOrUpdate());
    const SyncTaskInfo b(0, "y", 1, 2, 3, 2, nullptr, &local);
    EXPECT_EQ(b.linked, 1u);
    EXPECT_EQ(b.aspect, 2u);
    EXPECT_EQ(b.task, 3u);
    EXPECT_EQ(b.flag, 2u);
    EXPECT_FALSE(b.IsCreateOrUpdate());

    TaskNode uniform(root);
    SyncTaskInfo moved = a;
    moved.source = &uniform;
    EXPECT_EQ(moved.SourceTaskNode(), &uniform);
    EXPECT_EQ(moved.SourceFileNode(), nullptr);
    moved.source = &local;
    EXPECT_EQ(moved.SourceFileNode(), &local);
    EXPECT_EQ(moved.SourceTaskNode(), nullptr);
}

}  // namespace
