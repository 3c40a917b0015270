#include "sync/common/FolderDigest.h"

#include <gtest/gtest.h>

#include "platform/md5.h"
#include "platform/text.h"
#include "sync/common/SyncBase.h"

namespace {

FileNode* AddFile(FileNode* parent, const std::string& name, const std::string& checksum, std::uint64_t size) {
    SyncFileInfo record(1, 0, size, name);
    record.checksum = checksum;
    return parent->InsertChild(record).Node();
}

FileNode* AddFolder(FileNode* parent, const std::string& name) {
    return parent->InsertChild(SyncFileInfo(0, 0, 0, name)).Node();
}

TaskNode* AddTask(TaskNode* parent, const std::string& name, std::uint32_t kind, std::uint32_t aspect = 0,
                  std::uint32_t task = 0, std::uint32_t duty = 0, std::uint32_t flag = 1) {
    SyncTaskInfo record(kind, name, aspect, task, flag, nullptr, nullptr);
    record.duty = duty;
    return parent->InsertChild(record).Node();
}

std::vector<std::string> Names(const std::vector<TaskNode*>& nodes) {
    std::vector<std::string> names;
    for (const TaskNode* node : nodes) names.push_back(node->data->name);
    return names;
}

TEST(FolderDigestTest, KnownDigests) {
    EXPECT_EQ(plat::Md5HexLower("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(MD5Hex(u"abc"), u"900150983cd24fb0d6963f7d28e17f72");
    // Taken over the UTF-8 bytes.
    EXPECT_EQ(MD5Hex(u"\u4E2D"), u"" + plat::ToUtf16(plat::Md5HexLower("\xE4\xB8\xAD")));
    EXPECT_EQ(MD5Hex(std::u16string(1, u'\xD800')), u"");

    FileNode empty(SyncFileInfo("Driver"));
    BaseFunc::ComputeFolderChecksum(&empty);
    EXPECT_EQ(empty.data->checksum, "032C41A58FC6118DEE1985D01C617090");
}

TEST(FolderDigestTest, FolderTextListsChildrenInNameOrder) {
    FileNode root(SyncFileInfo("Driver"));
    AddFile(&root, "B.txt", "abcdef", 12);
    FileNode* sub = AddFolder(&root, "a");
    sub->data->checksum = "00ff";
    EXPECT_EQ(BaseFunc::FolderDigestText(root), "< - >\n<folder:a:00FF>\n<file:b.txt:ABCDEF:12>\n< - >\n");
}

TEST(FolderDigestTest, EqualDigestsIgnoreLetterCase) {
    FileNode local(SyncFileInfo("Driver"));
    FileNode* docs = AddFolder(&local, "Docs");
    AddFile(docs, "Report.DOC", "d41d8cd98f00b204e9800998ecf8427e", 100);
    AddFile(&local, "x", "0cc175b9c0f1b6a831c399e269772661", 1);

    FileNode server(SyncFileInfo("Server"));
    FileNode* docs2 = AddFolder(&server, "docs");
    AddFile(docs2, "report.doc", "D41D8CD98F00B204E9800998ECF8427E", 100);
    AddFile(&server, "X", "0CC175B9C0F1B6A831C399E269772661", 1);

    BaseFunc::ComputeFolderChecksum(&local);
    BaseFunc::ComputeFolderChecksum(&server);
    EXPECT_EQ(local.data->checksum.size(), 32u);
    EXPECT_EQ(local.data->checksum, server.data->checksum);
    EXPECT_EQ(docs->data->checksum, docs2->data->checksum);
    EXPECT_EQ(local.data->checksum, BaseFunc::ToUpper(local.data->checksum.str()));

    // A different size changes the digest.
    (*docs2->children.begin())->data->size = 101;
    BaseFunc::ComputeFolderChecksum(&server);
    EXPECT_NE(local.data->checksum, server.data->checksum);
    EXPECT_NE(docs->data->checksum, docs2->data->checksum);
}

TEST(FolderDigestTest, AnEmptyChecksumEmptiesTheFoldersAbove) {
    FileNode root(SyncFileInfo("Driver"));
    FileNode* a = AddFolder(&root, "a");
    FileNode* inner = AddFolder(a, "inner");
    FileNode* pending = AddFile(inner, "pending", "", 3);
    FileNode* other = AddFolder(&root, "other");
    AddFile(other, "done", "aa", 1);
    root.data->checksum = "STALE";
    a->data->checksum = "STALE";
    BaseFunc::ComputeFolderChecksum(&root);
    EXPECT_EQ(inner->data->checksum, "");
    EXPECT_EQ(a->data->checksum, "");
    EXPECT_EQ(root.data->checksum, "");
    EXPECT_EQ(other->data->checksum.size(), 32u);  // siblings are still computed

    pending->data->checksum = "bb";
    BaseFunc::ComputeFolderChecksum(&root);
    EXPECT_EQ(root.data->checksum.size(), 32u);
    // A file node is left alone.
    BaseFunc::ComputeFolderChecksum(pending);
    EXPECT_EQ(pending->data->checksum, "bb");
}

TEST(FolderDigestTest, ClearChecksumUpward) {
    FileNode root(SyncFileInfo("Driver"));
    FileNode* a = AddFolder(&root, "a");
    FileNode* f = AddFile(a, "f", "cc", 1);
    root.data->checksum = "R";
    a->data->checksum = "A";
    BaseFunc::ClearChecksumUpward(f);
    EXPECT_EQ(f->data->checksum, "");
    EXPECT_EQ(a->data->checksum, "");
    EXPECT_EQ(root.data->checksum, "");

    // Stops at the first record already empty.
    f->data->checksum = "cc";
    root.data->checksum = "R";
    BaseFunc::ClearChecksumUpward(f);
    EXPECT_EQ(f->data->checksum, "");
    EXPECT_EQ(root.data->checksum, "R");
    BaseFunc::ClearChecksumUpward(nullptr);
}

TEST(FolderDigestTest, AndFileFlags) {
    struct Case {
        std::vector<std::uint32_t> flags;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {{}, 1}, {{1, 1}, 1}, {{1, 2}, 2}, {{2, 1, 2}, 2}, {{1, 0}, 0}, {{2, 0, 1}, 0}, {{0, 2}, 0},
    };
    for (const Case& c : cases) {
        TaskNode folder(SyncTaskInfo(0, "f", 0, 0, 7, nullptr, nullptr));
        TaskNode* nested = AddTask(&folder, "nested", 0, 0, 0, 0, 0);  // a folder's own flag does not count
        for (std::size_t i = 0; i < c.flags.size(); ++i) {
            AddTask(i % 2 ? nested : &folder, "file" + std::to_string(i), 1, 0, 0, 0, c.flags[i]);
        }
        SyncTaskInfo record = *folder.data;
        BaseFunc::AndFileFlags(record, TaskNode(folder));
        EXPECT_EQ(record.flag, c.expected) << testing::PrintToString(c.flags);
    }
    SyncTaskInfo file(1, "f", 0, 0, 2, nullptr, nullptr);
    TaskNode fileNode(file);
    BaseFunc::AndFileFlags(file, fileNode);
    EXPECT_EQ(file.flag, 2u);
}

TEST(FolderDigestTest, HasPendingTask) {
    TaskNode root(SyncTaskInfo::CreateUniformRoot());
    TaskNode* a = AddTask(&root, "a", 0);
    TaskNode* deep = AddTask(AddTask(a, "b", 0), "c", 1);
    EXPECT_FALSE(BaseFunc::HasPendingTask(&root));
    deep->data->task = 3;
    EXPECT_TRUE(BaseFunc::HasPendingTask(&root));
    EXPECT_FALSE(BaseFunc::HasPendingTask(deep));
    EXPECT_FALSE(BaseFunc::HasPendingTask(nullptr));
}

class TraverseTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = g_pTerminateEvent;
        g_pTerminateEvent = &quit_;
    }
    void TearDown() override { g_pTerminateEvent = saved_; }

    CEventEx quit_{"Global Terminate", true, false};
    CEventEx* saved_ = nullptr;
    CSyncBase owner;
};

TEST_F(TraverseTest, TaskNodesDoNotDescendIntoMatches) {
    TaskNode root(SyncTaskInfo::CreateUniformRoot());
    TaskNode* copied = AddTask(&root, "copied", 0, 2, 0, 5);
    AddTask(copied, "inside", 1, 2, 0, 5);
    TaskNode* plain = AddTask(&root, "plain", 0);
    AddTask(plain, "deep", 1, 2, 5);
    AddTask(plain, "otherAspect", 1, 1, 5);
    AddTask(&root, "skippedFile", 1, 2, 3);
    TaskNode* fileWithChild = AddTask(&root, "zfile", 1);
    AddTask(fileWithChild, "never", 1, 2, 5);
    std::vector<TaskNode*> out;
    EXPECT_TRUE(BaseFunc::TraverseForTaskNode(&owner, &root, 2, 5, out));
    EXPECT_EQ(Names(out), (std::vector<std::string>{"copied", "deep"}));
}

TEST_F(TraverseTest, FileFolderSelectionIsPreorder) {
    TaskNode root(SyncTaskInfo::CreateUniformRoot());
    TaskNode* a = AddTask(&root, "a", 0, 2, 1);
    AddTask(a, "b", 0, 2, 2);
    AddTask(a, "f", 1, 2, 1);
    AddTask(&root, "c", 0, 2, 1);
    AddTask(&root, "d", 0, 2, 3);
    AddTask(&root, "e", 0, 1, 1);
    std::vector<TaskNode*> folders, files;
    EXPECT_TRUE(BaseFunc::TraverseForFileFolder(&owner, &root, 2, 0, folders));
    EXPECT_EQ(Names(folders), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(BaseFunc::TraverseForFileFolder(&owner, &root, 2, 1, files));
    EXPECT_EQ(Names(files), (std::vector<std::string>{"f"}));
}

// A wide tree of folders none of which matches: the walk visits many nodes but appends
// none, so only a per-visit checkpoint can stop it.
TEST_F(TraverseTest, CheckpointsEveryThousandVisitedNodes) {
    TaskNode root(SyncTaskInfo::CreateUniformRoot());
    for (int i = 0; i < 1500; ++i) AddTask(&root, "n" + std::to_string(i), 0);
    TaskNode small(SyncTaskInfo::CreateUniformRoot());
    for (int i = 0; i < 999; ++i) AddTask(&small, "n" + std::to_string(i), 0);

    owner.breakEvent.Set();
    std::vector<TaskNode*> out;
    EXPECT_FALSE(BaseFunc::TraverseForTaskNode(&owner, &root, 2, 5, out));
    EXPECT_FALSE(BaseFunc::TraverseForFileFolder(&owner, &root, 2, 0, out));
    EXPECT_TRUE(BaseFunc::TraverseForTaskNode(&owner, &small, 2, 5, out));
    EXPECT_TRUE(BaseFunc::TraverseForFileFolder(&owner, &small, 2, 0, out));
    owner.breakEvent.Reset();
    EXPECT_TRUE(BaseFunc::TraverseForTaskNode(&owner, &root, 2, 5, out));
    EXPECT_TRUE(BaseFunc::TraverseForFileFolder(&owner, &root, 2, 0, out));
    EXPECT_TRUE(out.empty());
    // No owner: no checkpoints.
    EXPECT_TRUE(BaseFunc::TraverseForTaskNode(nullptr, &root, 2, 5, out));
}

}  // namespace
