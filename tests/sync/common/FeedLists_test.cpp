#include "sync/common/FeedLists.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/feedlists.h"
#include "support/wait.h"
#include "sync/common/TreeNode.h"

namespace {

// A page that records what it receives.
struct RecordingPage {
    std::mutex lock;
    std::vector<FeedEvent> events;
    std::shared_ptr<FeedSink> Sink() {
        return std::make_shared<FeedSink>([this](const FeedEvent& e) {
            std::lock_guard<std::mutex> hold(lock);
            events.push_back(e);
        });
    }
};

class FeedListsTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::EmptyFeedLists::Reset(); }
    void TearDown() override { testsupport::EmptyFeedLists::Reset(); }

    // A unified-tree node whose local partner carries `checksum`.
    struct TaskWithPartner {
        FileNode file{SyncFileInfo("f")};
        TaskNode task{SyncTaskInfo()};
        explicit TaskWithPartner(const std::string& checksum) {
            file.data->checksum = checksum;
            task.data->localPartner = &file;
        }
    };
};

TEST_F(FeedListsTest, ClosedPageGetsNothingAndListsStillChange) {
    TaskWithPartner t("AA");
    CStateDoingPage::AddDoingItem(&t.task, 0, 10, 0, 0, "/a");
    EXPECT_EQ(CStateDoingPage::Snapshot().size(), 1u);
    CStateDoingPage::RemoveDoingItem(&t.task);
    EXPECT_TRUE(CStateDoingPage::Snapshot().empty());
}

TEST_F(FeedListsTest, ProgressByChecksumClampsAndByIdDoesNot) {
    RecordingPage page;
    CStateDoingPage::SetPage(page.Sink());
    TaskWithPartner t("AA");
    CStateDoingPage::AddDoingItem(&t.task, 1, 10, 0, 0, "/a");
    CStateDoingPage::UpdateProgressByChecksum(t.task, 150.0);
    CStateDoingPage::UpdateProgressById(&t.task, 150.0);
    ASSERT_EQ(page.events.size(), 3u);
    EXPECT_EQ(page.events[0].message, WM_STATE_ADD_ITEM);
    const auto row = page.events[0].doing.rowId;
    EXPECT_GE(row, 1);
    EXPECT_EQ(page.events[1].message, WM_STATE_PROGRESS);
    EXPECT_EQ(page.events[1].wParam, row);
    EXPECT_DOUBLE_EQ(page.events[1].percent, 100.0);
    EXPECT_DOUBLE_EQ(page.events[2].percent, 150.0);
    // The stored percent is the last reported one.
    EXPECT_DOUBLE_EQ(CStateDoingPage::Snapshot().front().percent, 150.0);
}

TEST_F(FeedListsTest, ChecksumMatchUpdatesTheFirstAddedAndNeverReadsTheKeyAgain) {
    RecordingPage page;
    CStateDoingPage::SetPage(page.Sink());
    auto first = std::make_unique<TaskWithPartner>("C0FFEE");
    TaskWithPartner second("c0ffee-other");
    TaskWithPartner third("C0FFEE");
    CStateDoingPage::AddDoingItem(&first->task, 0, 1, 0, 0, "/1");
    CStateDoingPage::AddDoingItem(&third.task, 0, 1, 0, 0, "/3");
    const auto firstRow = page.events[0].doing.rowId;
    const auto* firstKey = &first->task;
    first.reset();  // the key node dies; the running item only keeps it as an identity
    CStateDoingPage::UpdateProgressByChecksum(third.task, 40.0);
    ASSERT_EQ(page.events.size(), 3u);
    EXPECT_EQ(page.events[2].wParam, firstRow);
    CStateDoingPage::RemoveDoingItem(firstKey);
    EXPECT_EQ(CStateDoingPage::Snapshot().size(), 1u);
}

TEST_F(FeedListsTest, RowIdsAreDistinctAndIncreasing) {
    TaskWithPartner a("1"), b("2");
    CStateDoingPage::AddDoingItem(&a.task, 0, 0, 0, 0, "/a");
    CStateDoingPage::AddDoingItem(&b.task, 0, 0, 0, 0, "/b");
    const auto items = CStateDoingPage::Snapshot();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_GE(items[0].rowId, 1);
    EXPECT_GT(items[1].rowId, items[0].rowId);
}

TEST_F(FeedListsTest, FinishedAndFailedAreNewestFirstAndInsertedAtTop) {
    RecordingPage done, failed;
    CStateDonePage::SetPage(done.Sink());
    CStateDoneFailedPage::SetPage(failed.Sink());
    CStateDonePage::AddDoneItem(0, 0, 1, "a", "/a", "t1");
    CStateDonePage::AddDoneItem(1, 1, 2, "b", "/b", "t2");
    CStateDoneFailedPage::AddFailedItem(0, 0, 3, "c", "/c", "t3");
    const auto list = CStateDonePage::Snapshot();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].File, "b");
    EXPECT_EQ(list[0].Index, 0);
    ASSERT_EQ(done.events.size(), 2u);
    EXPECT_EQ(done.events[1].wParam, -1);
    EXPECT_EQ(done.events[1].done.File, "b");
    ASSERT_EQ(failed.events.size(), 1u);
    EXPECT_EQ(failed.events[0].done.Path, "/c");

    CStateDonePage::AppendHistory({SyncDoneItem{"old", "/old", "t0", 5, 0, 0, 7}});
    EXPECT_EQ(CStateDonePage::Snapshot().back().File, "old");
}

TEST_F(FeedListsTest, PageMayReadTheListWhileBeingNotified) {
    // A page handler that takes the list lock (through a snapshot) must not deadlock.
    std::vector<std::size_t> seen;
    CStateDoingPage::SetPage(std::make_shared<FeedSink>(
        [&](const FeedEvent&) { seen.push_back(CStateDoingPage::Snapshot().size()); }));
    TaskWithPartner t("x");
    CStateDoingPage::AddDoingItem(&t.task, 0, 0, 0, 0, "/x");
    CStateDoingPage::ClearDoingItems();
    EXPECT_EQ(seen, (std::vector<std::size_t>{1, 0}));
}

TEST_F(FeedListsTest, ReportingThreadsWhosePageReadsTheListNeverWaitForEachOther) {
    // A handler that takes a snapshot while two threads report: with delivery under a lock
    // of its own, each reporter waits for the lock the other holds.
    std::atomic<int> delivered{0};
    CStateDonePage::SetPage(std::make_shared<FeedSink>([&](const FeedEvent&) {
        (void)CStateDonePage::Snapshot();
        std::this_thread::yield();
        ++delivered;
    }));
    constexpr int kThreads = 4, kItems = 500;
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kItems; ++i) CStateDonePage::AddDoneItem(0, 0, i, "f", "/p", "t");
            ++finished;
        });
    }
    if (!testsupport::WaitUntil([&] { return finished.load() == kThreads; }, std::chrono::seconds(60))) {
        ADD_FAILURE() << "reporting threads deadlocked";
        std::_Exit(1);  // the threads cannot be joined
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(delivered.load(), kThreads * kItems);
}

TEST_F(FeedListsTest, SeveralProducersDeliverEachItemsEventsInOrder) {
    RecordingPage page;
    CStateDoingPage::SetPage(page.Sink());
    constexpr int kThreads = 6, kItems = 200;
    std::vector<std::unique_ptr<TaskWithPartner>> nodes;
    for (int i = 0; i < kThreads * kItems; ++i) nodes.push_back(std::make_unique<TaskWithPartner>(std::to_string(i)));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kItems; ++i) {
                auto* node = &nodes[t * kItems + i]->task;
                CStateDoingPage::AddDoingItem(node, 0, i, 0, 0, "/p");
                CStateDoingPage::UpdateProgressById(node, 50.0);
                CStateDoingPage::RemoveDoingItem(node);
                CStateDonePage::AddDoneItem(0, 0, i, "f", "/p", "t");
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_TRUE(CStateDoingPage::Snapshot().empty());
    EXPECT_EQ(CStateDonePage::Snapshot().size(), static_cast<std::size_t>(kThreads * kItems));
    // Per row: add, progress, remove, in that order.
    std::map<std::int64_t, std::vector<std::uint32_t>> byRow;
    for (const auto& e : page.events) {
        byRow[e.message == WM_STATE_ADD_ITEM ? e.doing.rowId : e.wParam].push_back(e.message);
    }
    ASSERT_EQ(byRow.size(), static_cast<std::size_t>(kThreads * kItems));
    for (const auto& [row, messages] : byRow) {
        EXPECT_EQ(messages, (std::vector<std::uint32_t>{WM_STATE_ADD_ITEM, WM_STATE_PROGRESS, WM_STATE_REMOVE_ITEM}))
            << "row " << row;
    }
}

TEST_F(FeedListsTest, OpeningWhileProducersRunNeitherLosesNorDoublesAnItem) {
    // Each finished item is either in the page's opening copy or reported afterwards.
    constexpr int kThreads = 4, kItems = 300;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kItems; ++i) {
                CStateDonePage::AddDoneItem(0, 0, t * kItems + i, "f", "/p", "t");
                CStateDoneFailedPage::AddFailedItem(0, 0, t * kItems + i, "f", "/p", "t");
            }
        });
    }
    RecordingPage done, failed;
    go = true;
    while (CStateDonePage::Snapshot().size() < static_cast<std::size_t>(kItems)) std::this_thread::yield();
    const std::vector<SyncDoneItem> doneCopy = CStateDonePage::OpenPage(done.Sink());
    const std::vector<SyncDoneItem> failedCopy = CStateDoneFailedPage::OpenPage(failed.Sink());
    for (auto& th : threads) th.join();
    auto sizes = [](const std::vector<SyncDoneItem>& copy, const RecordingPage& page) {
        std::multiset<std::int64_t> all;
        for (const auto& item : copy) all.insert(item.Size);
        for (const auto& e : page.events) all.insert(e.done.Size);
        return all;
    };
    for (const auto& all : {sizes(doneCopy, done), sizes(failedCopy, failed)}) {
        ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kItems));
        for (int i = 0; i < kThreads * kItems; ++i) EXPECT_EQ(all.count(i), 1u) << i;
    }
}

TEST_F(FeedListsTest, ClearingAListTellsItsOpenPage) {
    RecordingPage done, failed;
    CStateDonePage::AddDoneItem(0, 0, 1, "f", "/p", "t");
    CStateDoneFailedPage::AddFailedItem(0, 0, 1, "f", "/p", "t");
    EXPECT_EQ(CStateDonePage::OpenPage(done.Sink()).size(), 1u);
    EXPECT_EQ(CStateDoneFailedPage::OpenPage(failed.Sink()).size(), 1u);
    CStateDonePage::Clear();
    CStateDoneFailedPage::Clear();
    EXPECT_TRUE(CStateDonePage::Snapshot().empty());
    EXPECT_TRUE(CStateDoneFailedPage::Snapshot().empty());
    ASSERT_EQ(done.events.size(), 1u);
    EXPECT_EQ(done.events[0].message, WM_STATE_CLEAR);
    ASSERT_EQ(failed.events.size(), 1u);
    EXPECT_EQ(failed.events[0].message, WM_STATE_CLEAR);
}

}  // namespace
