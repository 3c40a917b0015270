// The transfer queue's records and rules: the count of a batch's results, the locked
// item list, task numbering, the split of an upload's remote name and the deepest folder
// of a folder-creation reply.
#include "client/core/TransferRecords.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace {

TransferItem Item(std::int32_t id, std::int32_t state) {
    TransferItem item;
    item.id = id;
    item.state = state;
    return item;
}

TEST(TransferBatchCounterTest, CountsOnlyOnceEveryIdHasItsItem) {
    TransferBatchCounter counter;
    int total = -1, ok = -1, failed = -1;
    EXPECT_FALSE(counter.CountBatchResults({Item(1, TransferFinished)}, total, ok, failed)) << "no ids";

    for (const std::int32_t id : {1, 2, 3}) counter.Add(id);
    EXPECT_FALSE(counter.CountBatchResults({}, total, ok, failed)) << "no items";
    EXPECT_FALSE(counter.CountBatchResults({Item(1, TransferFinished), Item(3, TransferFailed)}, total, ok, failed))
        << "id 2 has no item yet";
    EXPECT_EQ(counter.Ids(), (std::vector<std::int32_t>{1, 2, 3})) << "the ids are kept";
    EXPECT_EQ(total, -1);

    const std::vector<TransferItem> all = {Item(9, TransferFinished), Item(1, TransferFinished),
                                           Item(2, TransferFailed), Item(3, TransferFinished)};
    ASSERT_TRUE(counter.CountBatchResults(all, total, ok, failed));
    EXPECT_EQ(total, 3);
    EXPECT_EQ(ok, 2);
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(counter.Ids().empty());
    EXPECT_FALSE(counter.CountBatchResults(all, total, ok, failed)) << "counted once";
}

TEST(TransferBatchCounterTest, RunningCountsAnswerAfterEveryFiledItemWithoutTheItems) {
    // A large batch: each filed item is one step of the running counts (no list of items
    // is handed in, so nothing is searched); the count answers once, after the last.
    constexpr int kBatch = 10000;
    TransferBatchCounter counter;
    int total = -1, ok = -1, failed = -1;
    EXPECT_FALSE(counter.TakeResults(total, ok, failed)) << "no ids";
    for (int id = 0; id < kBatch; ++id) counter.Add(id);
    counter.Filed(-7, true);  // an edit transfer: not of the batch
    int answered = 0;
    for (int id = kBatch - 1; id >= 0; --id) {
        counter.Filed(id, id % 10 != 0);
        if (id == 5) counter.Filed(5, false);  // filed twice: counted once
        answered += counter.TakeResults(total, ok, failed) ? 1 : 0;
    }
    EXPECT_EQ(answered, 1);
    EXPECT_EQ(total, kBatch);
    EXPECT_EQ(ok, kBatch - kBatch / 10);
    EXPECT_EQ(failed, kBatch / 10);
    EXPECT_TRUE(counter.Ids().empty());

    // The next batch starts from nothing, also after a count over the items.
    counter.Add(1);
    counter.Add(2);
    counter.Filed(1, true);
    ASSERT_TRUE(counter.CountBatchResults({Item(1, TransferFinished), Item(2, TransferFinished)}, total, ok, failed));
    counter.Add(3);
    EXPECT_FALSE(counter.TakeResults(total, ok, failed));
    counter.Filed(3, false);
    ASSERT_TRUE(counter.TakeResults(total, ok, failed));
    EXPECT_EQ(total, 1);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(failed, 1);
}

TEST(TransferBatchCounterTest, ExpansionsAreCountedWhileTheyRun) {
    TransferBatchCounter counter;
    {
        TransferBatchCounter::Expansion first(counter);
        TransferBatchCounter::Expansion second(counter);
        EXPECT_EQ(counter.ExpandingBatches(), 2);
    }
    EXPECT_EQ(counter.ExpandingBatches(), 0);
}

TEST(SyncedTaskListTest, FindsAndRemovesByIdTheFirstItemOnly) {
    SyncedTaskList list;
    list.PushBack(Item(4, TransferFailed));
    list.PushBack(Item(5, TransferFailed));
    list.PushBack(Item(4, TransferFinished));
    TransferItem found;
    ASSERT_TRUE(list.FindById(4, found));
    EXPECT_EQ(found.state, TransferFailed);
    EXPECT_TRUE(list.RemoveById(4));
    ASSERT_TRUE(list.FindById(4, found));
    EXPECT_EQ(found.state, TransferFinished);
    EXPECT_FALSE(list.RemoveById(7));
    EXPECT_FALSE(list.FindById(7, found));
    EXPECT_EQ(list.Size(), 2u);
    list.Clear();
    EXPECT_TRUE(list.Copy().empty());
}

TEST(TransferItemTest, CopiesTheTaskAndStampsTheTime) {
    TransferFileTask task;
    task.id = 12;
    task.direction = TransferUpward;
    task.kind = TransferEdit;
    task.isFolder = true;
    task.size = 77;
    task.localFolder = "/l";
    task.relativePath = "/r";
    task.remoteFolderPath = "/MyDocument";
    task.remoteName = "/n";
    task.reference = "ref";
    task.destinationRef = "dest";
    task.done = 5;
    const TransferItem item = TransferItem::FromTask(task, TransferFailed);
    EXPECT_EQ(item.id, 12);
    EXPECT_EQ(item.state, TransferFailed);
    EXPECT_EQ(item.kind, TransferEdit);
    EXPECT_TRUE(item.isFolder);
    EXPECT_EQ(item.size, 77);
    EXPECT_EQ(item.localFolder + item.relativePath + item.remoteFolderPath + item.remoteName + item.reference +
                  item.destinationRef,
              "/l/r/MyDocument/nrefdest");
    EXPECT_NE(item.finishTime.year, 0);
}

TEST(NextTransferTaskIdTest, IsUniqueAcrossThreads) {
    std::vector<std::int32_t> ids[4];
    std::vector<std::thread> threads;
    for (auto& out : ids) {
        threads.emplace_back([&out] {
            for (int i = 0; i < 500; ++i) out.push_back(NextTransferTaskId());
        });
    }
    for (auto& t : threads) t.join();
    std::set<std::int32_t> all;
    for (const auto& out : ids) all.insert(out.begin(), out.end());
    EXPECT_EQ(all.size(), 2000u);
    EXPECT_GE(*all.begin(), 0);
}

TEST(ReferenceIdPartTest, TheTextAfterTheStore) {
    EXPECT_EQ(ReferenceIdPart("workspace://SpacesStore/abc-1"), "abc-1");
    EXPECT_EQ(ReferenceIdPart("workspace://SpacesStore/a/b"), "a/b");
    EXPECT_EQ(ReferenceIdPart("workspace://Store"), "Store");
    EXPECT_EQ(ReferenceIdPart("plain"), "plain");
    EXPECT_EQ(ReferenceIdPart(""), "");
}

TEST(SplitRemoteNameTest, FolderPathAndName) {
    struct Case {
        const char* remoteName;
        bool isFolder;
        const char* folderPath;
        const char* name;
    };
    const Case cases[] = {
        {"/b.txt", false, "", "b.txt"},
        {"/dir/b.txt", false, "dir", "b.txt"},
        {"/dir/sub/b.txt", false, "dir/sub", "b.txt"},
        {"/dir/empty", true, "dir/empty", ""},
        {"/top", true, "top", ""},
        {"", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remoteName);
        const RemoteNameParts parts = SplitRemoteName(c.remoteName, c.isFolder);
        EXPECT_EQ(parts.folderPath, c.folderPath);
        EXPECT_EQ(parts.name, c.name);
    }
}

CloudItem Folder(const std::string& ref, const std::string& parent, const std::string& name) {
    CloudItem item;
    item.nodeRef = ref;
    item.parentRef = parent;
    item.name = name;
    return item;
}

TEST(FindDeepestCreatedFolderTest, FollowsTheChainFromTheDestination) {
    const std::vector<CloudItem> reply = {Folder("c", "b", "c"), Folder("a", "D", "a"), Folder("x", "D", "other"),
                                          Folder("b", "a", "b")};
    EXPECT_EQ(FindDeepestCreatedFolder("D", "a/b/c", reply), "c");
    EXPECT_EQ(FindDeepestCreatedFolder("D", "a/b", reply), "b");
    EXPECT_EQ(FindDeepestCreatedFolder("D", "a", reply), "a");
    // The last element of the reply is not the answer; a chain that breaks is none.
    EXPECT_EQ(FindDeepestCreatedFolder("D", "a/b/c/d", reply), std::nullopt);
    EXPECT_EQ(FindDeepestCreatedFolder("elsewhere", "a/b", reply), std::nullopt);
    // An empty reply is a failure, not "the last of nothing".
    EXPECT_EQ(FindDeepestCreatedFolder("D", "a", {}), std::nullopt);
    EXPECT_EQ(FindDeepestCreatedFolder("D", "", reply), std::nullopt);
}

TEST(FindDeepestCreatedFolderTest, TakesTheOnlyChildWhenTheServerSpellsTheNameOtherwise) {
    EXPECT_EQ(FindDeepestCreatedFolder("D", "docs/x", {Folder("1", "D", "Docs"), Folder("2", "1", "X")}), "2");
    // Two candidates and none of the name: no guess.
    EXPECT_EQ(FindDeepestCreatedFolder("D", "docs", {Folder("1", "D", "Docs"), Folder("2", "D", "DOCS")}),
              std::nullopt);
    // A reply that loops back on itself ends.
    EXPECT_EQ(FindDeepestCreatedFolder("D", "a/a/a", {Folder("D", "D", "a")}), std::nullopt);
}

}  // namespace
