// The running, finished and failed pages without widgets: rows, progress, removal,
// clearing, status timers and texts, counts, and the three pages opened while producer
// threads report.
#include "sync/ui/StatePageModels.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <thread>

#include "platform/text.h"
#include "support/feedlists.h"
#include "support/sandbox.h"
#include "sync/common/TreeNode.h"
#include "sync/ui/LanguageIni.h"

namespace {

// A view that counts what it is told.
struct CountingView : PageView {
    int inserted = 0, removed = 0, changed = 0, resets = 0, status = 0;
    void RowsInserted(int, int count) override { inserted += count; }
    void RowsRemoved(int, int count) override { removed += count; }
    void RowChanged(int) override { ++changed; }
    void RowsReset() override { ++resets; }
    void StatusChanged() override { ++status; }
};

class PagesTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::EmptyFeedLists::Reset(); }
    void TearDown() override { testsupport::EmptyFeedLists::Reset(); }
    // Handles everything due, stepping the clock by `ms` first.
    void Step(std::uint64_t ms = 0) {
        if (ms) clock->Advance(ms);
        while (loop.ProcessDue() > 0) {
        }
    }
    std::shared_ptr<plat::ManualMessageClock> clock = std::make_shared<plat::ManualMessageClock>(1000);
    plat::MessageLoop loop{clock};
    testsupport::Sandbox box;
    CLanguageIni language{(box.Dir("bin") / "language" / "language.ini").string()};
    bool paused = false;
    bool scanning = false;
    bool inStep = true;
    int toggles = 0;
    RunningPageModel::Environment Env() {
        return {[this] { return paused; }, [this] { return scanning; },
                [this] {
                    ++toggles;
                    paused = !paused;
                },
                [this] { return inStep; }};
    }
    struct Task {
        FileNode file{SyncFileInfo("f")};
        TaskNode task{SyncTaskInfo()};
        explicit Task(const std::string& checksum) {
            file.data->checksum = checksum;
            task.data->localPartner = &file;
        }
    };
};

TEST(PageTexts, SizeAndDirectionAndPath) {
    const struct {
        std::int64_t size;
        const char16_t* text;
    } sizes[] = {{1610612736, u"1.5 GB"}, {123456789, u"117.74 MB"}, {1024, u"1 KB"}, {1023, u"1023 B"},
                 {-5, u"-5 B"}, {0, u"0 B"}};
    for (const auto& s : sizes) EXPECT_EQ(SizeText(s.size), s.text) << s.size;
    EXPECT_EQ(DirectionKey(1, 1), u"本地删除");
    EXPECT_EQ(DirectionKey(1, 0), u"本地下载");
    EXPECT_EQ(DirectionKey(0, 1), u"云端删除");
    EXPECT_EQ(DirectionKey(0, 0), u"云端上传");
    // Shown with '/' whatever the record holds.
    EXPECT_EQ(PathText("/a/b.txt"), u"/a/b.txt");
    EXPECT_EQ(PathText("\\a\\文档\\b.txt"), u"/a/文档/b.txt");
}

TEST_F(PagesTest, RunningPageRowsProgressRemovalAndStatus) {
    Task a("A"), b("B");
    CStateDoingPage::AddDoingItem(&a.task, 0, 2048, 0, 0, "/a.txt");  // before the page opens
    RunningPageModel page(language, Env());
    CountingView view;
    page.SetView(&view);
    page.Open();
    EXPECT_EQ(page.RowCount(), 0);  // the opening copy comes in chunks
    Step();
    ASSERT_EQ(page.RowCount(), 1);
    EXPECT_EQ(page.Row(0).path, u"/a.txt");
    EXPECT_EQ(page.Row(0).size, u"2 KB");
    EXPECT_EQ(page.Row(0).direction, u"云端上传");
    EXPECT_EQ(page.Row(0).last, u"0 %");
    EXPECT_EQ(page.RunningTimer(), RunningPageModel::kTimerAnimate);
    EXPECT_EQ(page.StatusText(), u"正在同步: 1");

    CStateDoingPage::AddDoingItem(&b.task, 1, 10, 1, 0, "/b");
    Step();
    EXPECT_EQ(page.RowCount(), 2);
    EXPECT_EQ(page.Row(1).direction, u"本地删除");
    EXPECT_TRUE(page.Row(1).deletion);
    EXPECT_EQ(page.StatusText(), u"正在同步: 2");

    // Many progress reports make one change per period.
    for (int i = 1; i <= 50; ++i) CStateDoingPage::UpdateProgressById(&a.task, i);
    Step();
    EXPECT_EQ(view.changed, 0);
    Step(RunningPageModel::kProgressPeriodMs);
    EXPECT_EQ(view.changed, 1);
    EXPECT_EQ(page.Row(0).last, u"50.00 %");

    CStateDoingPage::RemoveDoingItem(&a.task);
    CStateDoingPage::RemoveDoingItem(&b.task);
    Step();
    EXPECT_EQ(page.RowCount(), 0);
    EXPECT_EQ(page.RunningTimer(), RunningPageModel::kTimerIdle);
    Step(1000);
    EXPECT_EQ(page.StatusText(), u"所有文件已经同步完成");
    EXPECT_EQ(page.StatusIcon(), RunningPageModel::kIconIdle);
    EXPECT_EQ(page.RunningTimer(), 0u);
}

TEST_F(PagesTest, RunningPageAnimatesAndTheIdleTextFollowsTheLocalScan) {
    scanning = true;
    RunningPageModel page(language, Env());
    page.Open();
    Step(1000);
    EXPECT_EQ(page.StatusText(), u"正在计算本地云盘数据...");
    Task a("A");
    CStateDoingPage::AddDoingItem(&a.task, 0, 1, 0, 0, "/a");
    Step();
    EXPECT_EQ(page.StatusIcon(), RunningPageModel::kIconFrame0);  // at once, not a check mark
    Step(600);
    EXPECT_EQ(page.StatusIcon(), RunningPageModel::kIconFrame1);
    Step(600);
    EXPECT_EQ(page.StatusIcon(), RunningPageModel::kIconFrame0);
}

TEST_F(PagesTest, RunningPageSaysInSyncOnlyOnceTheProgramIsInStep) {
    // Nothing runs, but an item failed or a change waits: no "in sync", no check mark.
    inStep = false;
    RunningPageModel page(language, Env());
    page.Open();
    for (int second = 0; second < 3; ++second) {
        Step(1000);
        EXPECT_EQ(page.StatusText(), u"正在同步: 0");
        EXPECT_NE(page.StatusIcon(), RunningPageModel::kIconIdle);
        EXPECT_EQ(page.RunningTimer(), RunningPageModel::kTimerIdle);
    }
    // In step: the next look says so.
    inStep = true;
    Step(1000);
    EXPECT_EQ(page.StatusText(), u"所有文件已经同步完成");
    EXPECT_EQ(page.StatusIcon(), RunningPageModel::kIconIdle);
    EXPECT_EQ(page.RunningTimer(), 0u);
}

TEST_F(PagesTest, PauseDisplayIsKeptThroughAdditionsAndRemovals) {
    RunningPageModel page(language, Env());
    page.Open();
    EXPECT_EQ(page.ButtonText(), u"暂停同步");
    page.ClickPause();  // the main window's command toggles the flag
    EXPECT_EQ(toggles, 1);
    EXPECT_EQ(page.ButtonText(), u"恢复同步");
    EXPECT_EQ(page.RunningTimer(), RunningPageModel::kTimerPaused);
    Task a("A");
    CStateDoingPage::AddDoingItem(&a.task, 0, 1, 0, 0, "/a");
    CStateDoingPage::RemoveDoingItem(&a.task);
    Step();
    EXPECT_EQ(page.RunningTimer(), RunningPageModel::kTimerPaused);
    Step(1000);
    EXPECT_EQ(page.StatusText(), u"暂停同步...");
    EXPECT_EQ(page.StatusIcon(), RunningPageModel::kIconPaused);
    paused = false;
    page.UpdatePauseButton();
    EXPECT_EQ(page.ButtonText(), u"暂停同步");
    EXPECT_EQ(page.RunningTimer(), RunningPageModel::kTimerIdle);
}

TEST_F(PagesTest, ProgressForARowThatIsGoneChangesNothing) {
    RunningPageModel page(language, Env());
    CountingView view;
    page.SetView(&view);
    page.Open();
    Task a("A");
    CStateDoingPage::AddDoingItem(&a.task, 0, 1, 0, 0, "/a");
    CStateDoingPage::UpdateProgressById(&a.task, 30);
    CStateDoingPage::RemoveDoingItem(&a.task);
    Step(1000);
    EXPECT_EQ(page.RowCount(), 0);
    EXPECT_EQ(view.changed, 0);
}

TEST_F(PagesTest, FinishedPageIsNewestFirstCountsAndClears) {
    for (int i = 0; i < 6; ++i) CStateDonePage::AddDoneItem(0, 0, i, "f", "/h" + std::to_string(i), "t");
    DonePageModel page(language, false);
    page.Open();
    Step();
    ASSERT_EQ(page.RowCount(), 6);
    EXPECT_EQ(page.Row(0).path, u"/h5");
    EXPECT_EQ(page.StatusText(), u"同步完成: 6");
    EXPECT_EQ(page.StatusIcon(), DonePageModel::kIconIdle);
    EXPECT_EQ(page.Row(0).status, u"成功");
    CStateDonePage::AddDoneItem(1, 0, 5, "n", "/new", "12:00");
    Step();
    EXPECT_EQ(page.RowCount(), 7);
    EXPECT_EQ(page.Row(0).path, u"/new");
    EXPECT_EQ(page.Row(0).last, u"12:00");
    EXPECT_EQ(page.StatusText(), u"同步完成: 7");
    page.ClickClear();
    Step();
    EXPECT_EQ(page.RowCount(), 0);
    EXPECT_EQ(page.StatusText(), u"同步完成: 0");
    EXPECT_TRUE(CStateDonePage::Snapshot().empty());
}

TEST_F(PagesTest, ClearingStopsTheFillAndTheCommitRunClearsTheFailedPage) {
    for (int i = 0; i < 3 * StatePageModel::kFillChunk; ++i) CStateDoneFailedPage::AddFailedItem(0, 0, i, "f", "/p", "t");
    DonePageModel page(language, true);
    page.Open();
    loop.ProcessDue();  // one chunk only
    EXPECT_EQ(page.RowCount(), StatePageModel::kFillChunk);
    EXPECT_EQ(page.StatusIcon(), DonePageModel::kIconWarning) << "failures are no check mark";
    page.ClickClear();
    Step();
    EXPECT_EQ(page.RowCount(), 0);
    EXPECT_EQ(page.PendingFill(), 0u);
    EXPECT_EQ(page.StatusText(), u"同步失败: 0");
    EXPECT_EQ(page.StatusIcon(), DonePageModel::kIconIdle);

    CStateDoneFailedPage::AddFailedItem(0, 0, 1, "f", "/x", "t");
    Step();
    EXPECT_EQ(page.RowCount(), 1);
    EXPECT_EQ(page.StatusIcon(), DonePageModel::kIconWarning);
    CStateDoneFailedPage::Clear();  // a commit run starts
    Step();
    EXPECT_EQ(page.RowCount(), 0);
}

TEST_F(PagesTest, TheFailedPageSaysWhyEachItemFailedInTheUsersLanguage) {
    const char* source = std::getenv("DRAVIK_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    CLanguageIni shipped(std::string(source) + "/resources/orvane/language/language.ini");
    const struct {
        const char* reason;
        std::int64_t code;
        std::u16string chinese, english;
    } cases[] = {
        {"服务器拒绝了请求 (HTTP %d)", 503, u"服务器拒绝了请求 (HTTP 503)", u"Server refused it (HTTP 503)"},
        {"服务器证书被拒绝", 0, u"服务器证书被拒绝", u"Server certificate refused"},
        {"磁盘已满", 0, u"磁盘已满", u"Disk full"},
        {"本地文件已更改且无法另存", 0, u"本地文件已更改且无法另存", u"Local file changed, cannot keep it"},
        {"", 0, u"", u""},  // an item that gives no reason shows none
    };
    for (const int lang : {CLanguageIni::kChinese, CLanguageIni::kEnglish}) {
        shipped.SetLanguage(lang);
        testsupport::EmptyFeedLists::Reset();
        for (const auto& c : cases) CStateDoneFailedPage::AddFailedItem(0, 0, 1, "f", "/f", "t", c.reason, c.code);
        CStateDonePage::AddDoneItem(0, 0, 1, "f", "/ok", "t");
        DonePageModel failed(shipped, true);
        DonePageModel finished(shipped, false);
        failed.Open();
        finished.Open();
        Step();
        ASSERT_EQ(failed.RowCount(), static_cast<int>(std::size(cases)));
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            const auto& c = cases[std::size(cases) - 1 - i];  // newest first
            EXPECT_EQ(failed.Row(static_cast<int>(i)).reason, lang == CLanguageIni::kEnglish ? c.english : c.chinese)
                << c.reason;
        }
        ASSERT_EQ(finished.RowCount(), 1);
        EXPECT_EQ(finished.Row(0).reason, u"");
    }
}

TEST_F(PagesTest, PagesOpenedWhileProducersRunShowEveryItemOnce) {
    constexpr int kThreads = 3, kItems = 400;
    std::vector<std::unique_ptr<Task>> tasks;
    for (int i = 0; i < kThreads * kItems; ++i) tasks.push_back(std::make_unique<Task>(std::to_string(i)));
    std::atomic<bool> go{false};
    std::atomic<int> finishedThreads{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kItems; ++i) {
                const int n = t * kItems + i;
                CStateDoingPage::AddDoingItem(&tasks[n]->task, 0, n, 0, 0, "/r" + std::to_string(n));
                CStateDoingPage::UpdateProgressById(&tasks[n]->task, 50);
                if (i % 2 == 0) CStateDoingPage::RemoveDoingItem(&tasks[n]->task);
                CStateDonePage::AddDoneItem(0, 0, n, "f", "/d" + std::to_string(n), "t");
                CStateDoneFailedPage::AddFailedItem(0, 0, n, "f", "/e" + std::to_string(n), "t");
            }
            ++finishedThreads;
        });
    }
    RunningPageModel running(language, Env());
    DonePageModel done(language, false);
    DonePageModel failed(language, true);
    go = true;
    while (CStateDonePage::Snapshot().size() < 100) std::this_thread::yield();
    running.Open();
    done.Open();
    failed.Open();
    while (finishedThreads.load() < kThreads) Step();
    for (auto& p : producers) p.join();
    Step(1000);

    auto paths = [](const StatePageModel& page) {
        std::multiset<std::u16string> all;
        for (int i = 0; i < page.RowCount(); ++i) all.insert(page.Row(i).path);
        return all;
    };
    const auto runningRows = paths(running);
    EXPECT_EQ(runningRows.size(), static_cast<std::size_t>(kThreads * kItems / 2));
    for (const auto& item : CStateDoingPage::Snapshot()) EXPECT_EQ(runningRows.count(PathText(item.Path)), 1u);
    for (const DonePageModel* page : {&done, &failed}) {
        const auto rows = paths(*page);
        EXPECT_EQ(rows.size(), static_cast<std::size_t>(kThreads * kItems));
        EXPECT_EQ(std::set<std::u16string>(rows.begin(), rows.end()).size(), rows.size());  // no doubles
    }
    EXPECT_EQ(running.StatusText(), u"正在同步: " + plat::ToUtf16(std::to_string(kThreads * kItems / 2)));
}

}  // namespace
