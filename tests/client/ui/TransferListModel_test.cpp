// The transfer list's logic over a fake queue: the snapshot and the live events with the
// ready flag between them, the counters, retry of one or all failed items and delete.
#include "client/ui/TransferListModel.h"

#include <gtest/gtest.h>

#include "UiFakes.h"

namespace {

using uitest::FakeServices;
using uitest::RecordingTransferView;

TransferFileTask Task(std::int32_t id, std::int32_t state, std::int32_t direction = TransferUpward) {
    TransferFileTask t;
    t.id = id;
    t.state = state;
    t.direction = direction;
    t.size = 1024;
    t.localFolder = "/home/u";
    t.relativePath = "/dir/t" + std::to_string(id) + ".txt";
    t.remoteName = t.relativePath;
    t.remoteFolderPath = "/CloudRoot/MyDocument";
    t.destinationRef = "home-ref";
    t.reference = "ref-" + std::to_string(id);
    return t;
}

TransferItem Item(std::int32_t id, std::int32_t state, std::int32_t direction = TransferUpward) {
    return TransferItem::FromTask(Task(id, state, direction), state);
}

std::vector<std::int32_t> Ids1(const TransferListModel& model, int list) {
    std::vector<std::int32_t> out;
    for (const TransferRow& r : model.Rows(list)) out.push_back(r.id);
    return out;
}

class TransferListTest : public ::testing::Test {
protected:
    void Open() {
        model.Open();
        view.queue.Drain();
    }
    std::vector<std::int32_t> Ids(int list) const {
        std::vector<std::int32_t> out;
        for (const TransferRow& r : model.Rows(list)) out.push_back(r.id);
        return out;
    }
    std::vector<std::string> Column(int list, int column) const {
        std::vector<std::string> out;
        for (int row = 0; row < model.RowCount(list); ++row) out.push_back(model.CellText(list, row, column));
        return out;
    }

    FakeServices services;
    RecordingTransferView view;
    TransferListModel model{services, view};
};

TEST_F(TransferListTest, SnapshotListsRunningThenWaitingAndTheNewestFinishedFirst) {
    services.waiting = {Task(3, TransferWaiting), Task(4, TransferWaiting)};
    services.running = {Task(1, TransferRunning), Task(2, TransferRunning)};
    services.finished = {Item(10, TransferFinished), Item(11, TransferFinished)};
    services.failed = {Item(20, TransferFailed), Item(21, TransferCancelled)};
    Open();
    EXPECT_EQ(services.listeners, std::vector<MessageListener*>{&model});
    EXPECT_TRUE(model.Ready());
    EXPECT_EQ(Ids(0), (std::vector<std::int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(Column(0, 2), (std::vector<std::string>{"0.0%", "0.0%", "Waitting", "Waitting"}));
    EXPECT_EQ(Column(0, 0), (std::vector<std::string>{"t1.txt", "t2.txt", "t3.txt", "t4.txt"}));
    EXPECT_EQ(Ids(1), (std::vector<std::int32_t>{11, 10}));
    EXPECT_EQ(Ids(2), (std::vector<std::int32_t>{21, 20}));
    EXPECT_EQ(Column(2, 5), (std::vector<std::string>{"Cancel", "Fail"}));
    EXPECT_EQ(Column(2, 6), (std::vector<std::string>{"Retry", "Retry"}));
    EXPECT_EQ(model.Tip(3), "/home/u/dir/t3.txt");
    EXPECT_EQ(model.Tip(10), "");  // finished rows of a snapshot carry no tip
    EXPECT_EQ(model.CounterText(), "Total / Waiting / Transferring: 4 / 2 / 2");
    model.SelectTab(1);
    EXPECT_EQ(model.CounterText(), "Tranfer Succeed: 2");
    model.SelectTab(2);
    EXPECT_EQ(model.CounterText(), "Tranfer Failed: 2");
    // A translation is used only with its key's placeholders.
    services.texts["Tranfer Failed: %d"] = "失败：%d";
    EXPECT_EQ(model.CounterText(), "失败：2");
    services.texts["Tranfer Failed: %d"] = "失败：%s %d";
    EXPECT_EQ(model.CounterText(), "Tranfer Failed: 2");
}

TEST_F(TransferListTest, LiveEventsMoveATaskFromWaitingToRunningToFinished) {
    services.running = {Task(1, TransferRunning)};
    Open();
    model.OnTransferTaskAdded(Task(5, TransferWaiting));
    model.OnTransferTaskAdded(Task(6, TransferWaiting));
    EXPECT_EQ(Ids(0), std::vector<std::int32_t>{1});  // slots only post
    view.queue.Drain();
    EXPECT_EQ(Ids(0), (std::vector<std::int32_t>{1, 5, 6}));
    EXPECT_EQ(model.Tip(6), "/home/u/dir/t6.txt");

    // A task that starts moves from the waiting rows to the end of the running rows.
    model.OnTransferTaskStarted(Task(6, TransferRunning));
    view.queue.Drain();
    EXPECT_EQ(Ids(0), (std::vector<std::int32_t>{1, 6, 5}));
    EXPECT_EQ(model.TransferringCount(), 2);
    EXPECT_EQ(model.WaitingCount(), 1);

    TransferProgress p;
    p.id = 6;
    p.total = 400;
    p.done = 100;
    model.OnTransferProgress(p);
    p.id = 5;  // a waiting task has no progress
    model.OnTransferProgress(p);
    view.queue.Drain();
    EXPECT_EQ(Column(0, 2), (std::vector<std::string>{"0.0%", "25.00%", "Waitting"}));

    model.OnTransferTaskFinished(Item(6, TransferFinished));
    model.OnTransferTaskFinished(Item(1, TransferCancelled));
    view.queue.Drain();
    EXPECT_EQ(Ids(0), std::vector<std::int32_t>{5});
    EXPECT_EQ(model.TransferringCount(), 0);
    EXPECT_EQ(Ids(1), std::vector<std::int32_t>{6});
    EXPECT_EQ(Ids(2), std::vector<std::int32_t>{1});
    EXPECT_EQ(Column(2, 5), std::vector<std::string>{"Cancel"});
    // A finished event for a task without a row still lists the item.
    model.OnTransferTaskFinished(Item(42, TransferFinished));
    view.queue.Drain();
    EXPECT_EQ(Ids(1), (std::vector<std::int32_t>{42, 6}));
}

TEST_F(TransferListTest, EventsAroundASnapshotAreNeitherLostNorDoubled) {
    Open();
    // Posted while ready, applied after Refresh: ignored (the snapshot holds the task).
    model.OnTransferTaskAdded(Task(7, TransferWaiting));
    model.Refresh();
    EXPECT_FALSE(model.Ready());
    model.Refresh();  // pending already: nothing more
    // Raised while the snapshot is pending: dropped at once.
    model.OnTransferTaskStarted(Task(7, TransferRunning));
    services.running = {Task(7, TransferRunning)};
    services.finished = {Item(8, TransferFinished)};
    view.queue.Drain();
    EXPECT_TRUE(model.Ready());
    EXPECT_EQ(Ids(0), std::vector<std::int32_t>{7});
    EXPECT_EQ(model.Rows(0)[0].progress, "0.0%");

    // Raised after the flag was set but already in the copy: changes nothing twice.
    model.OnTransferTaskStarted(Task(7, TransferRunning));
    model.OnTransferTaskFinished(Item(8, TransferFinished));
    model.OnTransferTaskAdded(Task(7, TransferWaiting));
    view.queue.Drain();
    EXPECT_EQ(Ids(0), std::vector<std::int32_t>{7});
    EXPECT_EQ(Ids(1), std::vector<std::int32_t>{8});
    EXPECT_EQ(model.TransferringCount(), 1);
}

TEST_F(TransferListTest, LanguageChangeRetitlesAndReloads) {
    Open();
    const int retitles = view.retitles;
    services.waiting = {Task(1, TransferWaiting)};
    services.texts["Waitting"] = "等待中";
    model.OnLanguageChanged("zh-CN");
    view.queue.Drain();
    EXPECT_EQ(view.retitles, retitles + 1);
    EXPECT_EQ(Column(0, 2), std::vector<std::string>{"等待中"});
}

TEST_F(TransferListTest, RetryOfOneItemQueuesItByDirection) {
    TransferItem up = Item(1, TransferFailed, TransferUpward);
    up.remoteName = "/dir/t1.txt";
    TransferItem down = Item(2, TransferFailed, TransferDownward);
    down.remoteName = "/t2.txt";
    TransferItem odd = Item(3, TransferFailed, 0);
    services.failed = {odd, down, up};  // rows: 1, 2, 3
    Open();
    ASSERT_EQ(Ids(2), (std::vector<std::int32_t>{1, 2, 3}));

    model.FailedCellClicked(0, 5);  // not the Retry column
    EXPECT_TRUE(services.batches.empty());

    model.FailedCellClicked(0, TransferListModel::kRetryColumn);
    ASSERT_EQ(services.batches.size(), 1u);
    const TransferBatchTask& u = services.batches[0];
    EXPECT_EQ(u.direction, TransferUpward);
    EXPECT_EQ(u.paths, std::vector<std::string>{"/home/u/dir/t1.txt"});
    EXPECT_EQ(u.baseLocalFolder, "/home/u");
    EXPECT_EQ(u.destinationRef, "home-ref");
    EXPECT_EQ(u.remotePath, "/CloudRoot/MyDocument");
    EXPECT_EQ(Ids(2), (std::vector<std::int32_t>{2, 3}));

    model.FailedCellClicked(0, TransferListModel::kRetryColumn);
    ASSERT_EQ(services.batches.size(), 2u);
    const TransferBatchTask& d = services.batches[1];
    EXPECT_EQ(d.direction, TransferDownward);
    EXPECT_EQ(d.target, "/home/u/dir");
    EXPECT_EQ(d.paths, std::vector<std::string>{"ref-2"});
    ASSERT_EQ(d.items.size(), 1u);
    EXPECT_EQ(d.items[0].relativePath, "/t2.txt");
    EXPECT_EQ(d.items[0].size, 1024);

    // An item of an unknown direction is not queued and stays in both lists.
    model.FailedCellClicked(0, TransferListModel::kRetryColumn);
    EXPECT_EQ(services.batches.size(), 2u);
    EXPECT_EQ(Ids(2), std::vector<std::int32_t>{3});
    ASSERT_EQ(services.failed.size(), 1u);
    EXPECT_EQ(services.failed[0].id, 3);

    // A row whose item left the queue's list stays for a single retry.
    services.failed.clear();
    model.FailedCellClicked(0, TransferListModel::kRetryColumn);
    EXPECT_EQ(Ids(2), std::vector<std::int32_t>{3});
}

TEST_F(TransferListTest, RetryAllQueuesFromTheBottomRowAndSkipsWhatItCannot) {
    model.RetryAll();  // empty: nothing
    EXPECT_TRUE(services.batches.empty());
    services.failed = {Item(1, TransferFailed), Item(2, TransferFailed, 0), Item(3, TransferFailed, TransferDownward)};
    Open();
    ASSERT_EQ(Ids(2), (std::vector<std::int32_t>{3, 2, 1}));
    model.RetryAll();
    ASSERT_EQ(services.batches.size(), 2u);
    EXPECT_EQ(services.batches[0].direction, TransferUpward);    // item 1, the bottom row
    EXPECT_EQ(services.batches[1].direction, TransferDownward);  // item 3
    EXPECT_EQ(Ids(2), std::vector<std::int32_t>{2});
    ASSERT_EQ(services.failed.size(), 1u);
    EXPECT_EQ(services.failed[0].id, 2);
}

TEST_F(TransferListTest, DeleteRemovesEverySelectedRowAndItsItem) {
    services.failed = {Item(1, TransferFailed), Item(2, TransferFailed), Item(3, TransferFailed)};
    Open();
    model.SelectTab(2);
    model.DeleteFailed({0, 1});  // two adjacent rows: items 3 and 2
    EXPECT_EQ(Ids(2), std::vector<std::int32_t>{1});
    ASSERT_EQ(services.failed.size(), 1u);
    EXPECT_EQ(services.failed[0].id, 1);
    EXPECT_EQ(model.CounterText(), "Tranfer Failed: 1");
    model.DeleteFailed({5});
    EXPECT_EQ(Ids(2), std::vector<std::int32_t>{1});
}

TEST_F(TransferListTest, ClosedModelDropsLaterEvents) {
    Open();
    model.Close();
    EXPECT_EQ(services.unsubscribed, std::vector<MessageListener*>{&model});
    model.OnTransferTaskAdded(Task(1, TransferWaiting));
    EXPECT_EQ(view.queue.Pending(), 0u);
}

TEST_F(TransferListTest, TenThousandEntriesCostTheSameWorkPerEventAsTen) {
    // The work of each live event, counted as rows looked at and as view notices, does
    // not grow with the lists: no rebuild of a list per event, no search through them.
    for (const int waiting : {10, 10000}) {
        SCOPED_TRACE(waiting);
        FakeServices services;
        RecordingTransferView view;
        TransferListModel model(services, view);
        for (int id = 0; id < waiting; ++id) services.waiting.push_back(Task(id, TransferWaiting));
        for (int id = 0; id < waiting; ++id) services.finished.push_back(Item(100000 + id, TransferFinished));
        model.Open();
        view.queue.Drain();
        const int resets = view.listChanges[0] + view.listChanges[1] + view.listChanges[2];
        const std::uint64_t before = model.RowsExamined();

        // Ten tasks start, report progress and finish in their order; ten more are added.
        for (int id = 0; id < 10; ++id) {
            model.ApplyStarted(Task(id, TransferRunning));
            TransferProgress p;
            p.id = id;
            p.total = 10;
            p.done = 5;
            model.ApplyProgress(p);
            model.ApplyFinished(Item(id, id % 2 == 0 ? TransferFinished : TransferFailed));
            model.ApplyAdded(Task(200000 + id, TransferWaiting));
        }
        EXPECT_EQ(view.listChanges[0] + view.listChanges[1] + view.listChanges[2], resets) << "no list rebuilt";
        EXPECT_EQ(view.rowChanges[0], 10);
        EXPECT_EQ(view.inserted[1], 5);
        EXPECT_EQ(view.inserted[2], 5);
        EXPECT_EQ(view.lastInsert, std::make_pair(waiting - 1, 1)) << "added at the end";
        EXPECT_LE(model.RowsExamined() - before, 10u * 4) << "a few rows looked at per event";
        EXPECT_EQ(model.RowCount(0), waiting);
        EXPECT_EQ(model.RowCount(1), waiting + 5);
        EXPECT_EQ(Ids1(model, 1).front(), 8) << "the newest finished item on top";
    }
}

TEST_F(TransferListTest, FinishedRowsShowWhereTheItemWentAndFailedRowsWhy) {
    services.texts["MyDocument"] = "My Files";
    Open();
    TransferItem up = Item(1, TransferFinished, TransferUpward);
    TransferItem down = Item(2, TransferFinished, TransferDownward);
    model.ApplyFinished(up);
    model.ApplyFinished(down);
    EXPECT_EQ(Column(1, 0), (std::vector<std::string>{"/home/u/dir/t2.txt", "/My Files/dir/t1.txt"}));
    EXPECT_EQ(Column(0, 0), std::vector<std::string>{}) << "running rows keep their names";

    struct Case {
        std::int32_t failure;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {HttpErrorTransport, "The server cannot be reached."},
        {HttpErrorQuota, "There is not enough space on the server."},
        {TransferFailureLocalMissing, "The local file is missing."},
        {TransferFailureStopped, "Stopped by the logout or the exit."},
        {TransferFailureNone, "The transfer failed."},
    };
    std::int32_t id = 10;
    for (const Case& c : cases) {
        TransferItem failed = Item(id++, TransferFailed);
        failed.failure = c.failure;
        model.ApplyFinished(failed);
        EXPECT_EQ(model.CellText(TransferListModel::Failed, 0, TransferListModel::kReasonColumn), c.reason);
        EXPECT_EQ(model.Heading(TransferListModel::Failed, TransferListModel::kReasonColumn), "Reason");
    }
    // The queue's own words, where it has no code.
    TransferItem refused = Item(id++, TransferFailed, TransferDownward);
    refused.reason = "the item's name is not known or not a plain file name";
    model.ApplyFinished(refused);
    EXPECT_EQ(model.CellText(TransferListModel::Failed, 0, TransferListModel::kReasonColumn), refused.reason);
}

}  // namespace
