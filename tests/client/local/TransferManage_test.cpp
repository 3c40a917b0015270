// The transfer queue against the test server: the limit of simultaneous transfers,
// folder trees up and down, the folder cache, downloads that go wrong, names from the
// server that would leave the target folder, and what the bus hears.
#include "client/local/TransferManage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <set>

#include "support/ClientServerFixture.h"
#include "support/ClientTestSupport.h"
#include "support/wait.h"

namespace {
namespace fs = std::filesystem;
using clienttest::PostedMessage;
using clienttest::HoldRequests;
using clienttest::RecordingSink;
using clienttest::WriteFiles;
using ServerFixture = clienttest::ServerFixture<WinFileSystemAdapter>;
using testserver::Fault;
using testserver::FaultKind;
using testsupport::ReadFile;
using testsupport::WaitUntil;
using testsupport::WriteFile;

class TransferManageTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        LoginAlice();
        temp = P("data/Download");
        fs::create_directories(temp);
        queue.SetServices(http.get(), &sink, &files, nullptr, temp);
        http->AddListener(&queue);
        SetLimit(3);
        queue.Start();
    }
    void TearDown() override {
        server->ClearFaults();
        server->ReleaseDelays();
        queue.Stop();
        http->Logout();
        EXPECT_TRUE(queue.WaitForTransfers(std::chrono::seconds(30)));
        EXPECT_EQ(queue.WorkerThreads(), 0u);
        http->RemoveListener(&queue);
        ServerFixture::TearDown();
    }

    void SetLimit(int limit, std::uint32_t pageSize = 200) {
        Config config;
        config.TransFileNumberAtSameTime = limit;
        config.FreshCloudDirectoryPageSize = pageSize;
        queue.SetConfig(config);
    }
    // Runs until the queue is idle, letting every delayed request go.
    bool RunUntilIdle() {
        return WaitUntil(
            [&] {
                server->ReleaseDelays();
                return queue.IsIdle();
            },
            std::chrono::seconds(60));
    }
    TransferBatchTask Upload(const std::vector<std::string>& paths) {
        TransferBatchTask batch;
        batch.direction = TransferUpward;
        batch.destinationRef = Home();
        batch.remotePath = "/CloudRoot/MyDocument";
        batch.paths = paths;
        return batch;
    }
    TransferBatchTask Download(const std::vector<std::string>& refs, const std::string& target) {
        TransferBatchTask batch;
        batch.direction = TransferDownward;
        batch.target = target;
        batch.remotePath = "/CloudRoot/MyDocument";
        batch.destinationRef = Home();
        batch.paths = refs;
        // The items as the browser showed them, under their names on the server now.
        for (const auto& entry : server->Tree("alice")) {
            if (std::find(refs.begin(), refs.end(), entry.ref) == refs.end()) continue;
            batch.items.push_back(TransferEntry{entry.folder ? 1 : 0, entry.path.substr(entry.path.rfind('/')),
                                                entry.ref, entry.size});
        }
        return batch;
    }
    std::string Content(const std::string& path) {
        const auto entry = server->Find("alice", path, true);
        return entry ? entry->content : "<missing>";
    }
    std::set<std::string> FoldersCreated() {
        std::set<std::string> names;
        for (const auto& r : server->Requests("appcreateFolder")) {
            const std::size_t at = r.body.find("\"prop_cm_name\":\"");
            if (at == std::string::npos) continue;
            const std::size_t from = at + 16;
            names.insert(r.body.substr(from, r.body.find('"', from) - from));
        }
        return names;
    }
    bool TempEmpty() const { return fs::is_empty(temp); }

    std::string temp;
    RecordingSink sink;
    TransferManage queue;
};

TEST_F(TransferManageTest, RunsAtMostTheConfiguredNumberOfTransfersAtOnce) {
    for (const int limit : {1, 3}) {
        SCOPED_TRACE(limit);
        SetLimit(limit);
        server->ClearRequests();
        const int count = 2 * limit + 1;
        const std::vector<std::string> paths = WriteFiles(P("up" + std::to_string(limit)), count, "file ");
        HoldRequests(*server, "upload", std::chrono::seconds(5));
        queue.AddBatchTask(Upload(paths));

        // The first wave fills the limit and the rest waits.
        ASSERT_TRUE(WaitUntil([&] { return server->InFlight("upload") == limit; }));
        ASSERT_TRUE(WaitUntil([&] { return queue.CopyWaitingTasks().size() == static_cast<std::size_t>(count - limit); }));
        EXPECT_EQ(queue.CopyRunningTasks().size(), static_cast<std::size_t>(limit));

        if (limit == 1) {
            // Edit and preview transfers do not wait for a slot.
            const std::string ref = server->PutFile("alice", "/edit.txt", "edited");
            TransferFileTask edit;
            edit.id = NextTransferTaskId();
            edit.direction = TransferDownward;
            edit.kind = TransferEdit;
            edit.size = 6;
            edit.localFolder = P("edit");
            edit.relativePath = "/edit.txt";
            edit.reference = ref;
            ASSERT_EQ(queue.AddFileTask(edit), 0);
            ASSERT_TRUE(WaitUntil([&] { return fs::exists(P("edit/edit.txt")); }));
            EXPECT_EQ(ReadFile(P("edit/edit.txt")), "edited");
            EXPECT_EQ(server->InFlight("upload"), 1);
            edit.kind = TransferOrdinary;
            EXPECT_EQ(queue.AddFileTask(edit), 1) << "only edits and previews start at once";
        }

        ASSERT_TRUE(RunUntilIdle());
        server->ClearFaults();
        EXPECT_EQ(server->MaxInFlight("upload"), limit);
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(Content("/f" + std::to_string(i) + ".txt"), "file " + std::to_string(i));
        }
    }
}

TEST_F(TransferManageTest, AFolderTreeGoesUpWithOneFolderCreationPerFolder) {
    WriteFile(P("src/tree/a.txt"), "A");
    WriteFile(P("src/tree/b.txt"), "B");
    WriteFile(P("src/tree/sub/c.txt"), "C");
    WriteFile(P("src/tree/sub/deeper/d.txt"), "D");
    fs::create_directories(P("src/tree/empty"));
    WriteFile(P("src/top.txt"), "top");
    server->ClearRequests();
    queue.AddBatchTask(Upload({P("src/tree"), P("src/top.txt")}));
    ASSERT_TRUE(RunUntilIdle());

    for (const auto& [path, content] : std::vector<std::pair<std::string, std::string>>{
             {"/tree/a.txt", "A"}, {"/tree/b.txt", "B"}, {"/tree/sub/c.txt", "C"}, {"/tree/sub/deeper/d.txt", "D"},
             {"/top.txt", "top"}}) {
        EXPECT_EQ(Content(path), content) << path;
    }
    const auto empty = server->Find("alice", "/tree/empty");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->folder);
    EXPECT_EQ(FoldersCreated(), (std::set<std::string>{"tree", "tree/sub", "tree/sub/deeper", "tree/empty"}));
    EXPECT_EQ(server->Requests("appcreateFolder").size(), 4u) << "two files of one new folder: one creation";

    // The bus heard every file: waiting, started, progress and finished.
    const std::vector<TransferItem> items = sink.Items();
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(sink.OfType(MessageTransferTaskAdded).size(), 5u);
    EXPECT_EQ(sink.OfType(MessageTransferTaskStarted).size(), 5u);
    for (const TransferItem& item : items) EXPECT_EQ(item.state, TransferFinished) << item.relativePath;
    const auto top = std::find_if(items.begin(), items.end(), [](const TransferItem& i) { return i.remoteName == "/top.txt"; });
    ASSERT_NE(top, items.end());
    EXPECT_EQ(top->localFolder, P("src"));
    EXPECT_EQ(top->relativePath, "/top.txt");
    const auto folder = std::find_if(items.begin(), items.end(), [](const TransferItem& i) { return i.isFolder; });
    ASSERT_NE(folder, items.end());
    EXPECT_EQ(folder->relativePath, "/tree/empty");
    for (const PostedMessage& m : sink.OfType(MessageTransferTaskStarted)) EXPECT_EQ(m.task->state, TransferRunning);
    for (const PostedMessage& m : sink.OfType(MessageTransferTaskAdded)) EXPECT_EQ(m.task->state, TransferWaiting);
    const auto progress = sink.OfType(MessageTransferProgress);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().progress->direction, TransferUpward);

    int total = 0, ok = 0, failed = 0;
    ASSERT_TRUE(queue.CountBatchResults(items, total, ok, failed));
    EXPECT_EQ(total, 6);
    EXPECT_EQ(ok, 6);
    EXPECT_EQ(failed, 0);
    EXPECT_TRUE(TempEmpty());
}

TEST_F(TransferManageTest, TheFolderCacheLastsOneLoginAndForgetsAFolderAnUploadFailedIn) {
    WriteFile(P("src/tree/sub/a.txt"), "A");
    server->ClearRequests();
    queue.AddBatchTask(Upload({P("src/tree")}));
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_EQ(server->Requests("appcreateFolder").size(), 1u);

    // A retried item keeps its path below the chosen folder; the known folder is reused.
    auto retry = [&](const std::string& name) {
        WriteFile(P("src/tree/sub/" + name), name);
        TransferBatchTask batch = Upload({P("src/tree/sub/" + name)});
        batch.baseLocalFolder = P("src");
        queue.AddBatchTask(batch);
        return RunUntilIdle();
    };
    ASSERT_TRUE(retry("b.txt"));
    EXPECT_EQ(Content("/tree/sub/b.txt"), "b.txt");
    EXPECT_EQ(server->Requests("appcreateFolder").size(), 1u);

    // A new login starts without it.
    queue.Stop();
    queue.Start();
    ASSERT_TRUE(retry("c.txt"));
    EXPECT_EQ(server->Requests("appcreateFolder").size(), 2u);

    // An upload that fails into the folder drops it: the next one asks again.
    server->InjectFault(Fault{"upload", FaultKind::Status, 500});  // once
    ASSERT_TRUE(retry("d.txt"));
    EXPECT_EQ(queue.FailedList().Size(), 1u);
    ASSERT_TRUE(retry("e.txt"));
    EXPECT_EQ(Content("/tree/sub/e.txt"), "e.txt");
    EXPECT_EQ(server->Requests("appcreateFolder").size(), 3u);
}

TEST_F(TransferManageTest, UploadsSendTheFileAsItIsWhenItsTransferStarts) {
    SetLimit(1);
    WriteFile(P("src/first.txt"), "1");
    WriteFile(P("src/second.txt"), "2");
    HoldRequests(*server, "upload", std::chrono::seconds(5), 1);
    queue.AddBatchTask(Upload({P("src/first.txt"), P("src/second.txt")}));
    ASSERT_TRUE(WaitUntil([&] { return server->InFlight("upload") == 1; }));
    // Grown after the batch was expanded, before its upload: the whole file goes.
    WriteFile(P("src/second.txt"), "2 and more");
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(Content("/second.txt"), "2 and more");
    EXPECT_EQ(Content("/first.txt"), "1");
}

TEST_F(TransferManageTest, ReplacementsAndItemsThatCannotBeSent) {
    const std::string ref = server->PutFile("alice", "/r.txt", "old");
    WriteFile(P("rep/local.txt"), "new content");
    TransferBatchTask replace = Upload({P("rep/local.txt")});
    replace.target = ref;
    queue.AddBatchTask(replace);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(Content("/r.txt"), "new content");
    ASSERT_EQ(sink.Items().size(), 1u);

    // A replacement needs exactly one local file: nothing is queued otherwise.
    sink.Clear();
    for (const std::vector<std::string>& paths :
         {std::vector<std::string>{P("rep")}, std::vector<std::string>{P("rep/local.txt"), P("rep/local.txt")}}) {
        TransferBatchTask bad = Upload(paths);
        bad.target = ref;
        queue.AddBatchTask(bad);
    }
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(sink.All().empty());

    // A chosen file that is gone is reported as failed, not dropped.
    queue.AddBatchTask(Upload({P("rep/gone.txt")}));
    ASSERT_TRUE(RunUntilIdle());
    const auto items = sink.Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].state, TransferFailed);
    EXPECT_EQ(items[0].relativePath, "/gone.txt");
}

TEST_F(TransferManageTest, AFolderComesDownWholeThroughEveryPageOfItsListing) {
    SetLimit(3, 2);
    const std::string d = server->MakeFolder("alice", "/d");
    server->PutFile("alice", "/d/empty.bin", "");
    server->PutFile("alice", "/d/x.txt", "xx");
    server->PutFile("alice", "/d/sub/y.txt", "yyy");
    server->MakeFolder("alice", "/d/hollow");
    server->PutFile("alice", "/d/z.txt", "zzzz");
    const std::string single = server->PutFile("alice", "/d2.txt", "single");
    const std::string target = P("dl");
    WriteFile(target + "/d/x.txt", "old local content");
    server->ClearRequests();
    queue.AddBatchTask(Download({d, single}, target));
    ASSERT_TRUE(RunUntilIdle());

    EXPECT_EQ(ReadFile(target + "/d/empty.bin"), "");
    // The local file stays; the server's lands beside it.
    EXPECT_EQ(ReadFile(target + "/d/x.txt"), "old local content");
    EXPECT_EQ(ReadFile(target + "/d/x (1).txt"), "xx");
    EXPECT_EQ(ReadFile(target + "/d/sub/y.txt"), "yyy");
    EXPECT_EQ(ReadFile(target + "/d/z.txt"), "zzzz");
    EXPECT_TRUE(fs::is_directory(target + "/d/hollow"));
    EXPECT_EQ(ReadFile(target + "/d2.txt"), "single");
    EXPECT_EQ(queue.FinishedList().Size(), 6u);
    EXPECT_EQ(queue.FailedList().Size(), 0u);
    EXPECT_TRUE(TempEmpty());

    // Five children in pages of two: positions 1, 2 and 3, never one unpaged request.
    const std::string dId = d.substr(d.rfind('/') + 1);
    std::vector<std::string> queries;
    for (const auto& r : server->Requests("list")) {
        if (r.path.find(dId) != std::string::npos) queries.push_back(r.query);
    }
    EXPECT_EQ(queries, (std::vector<std::string>{"size=2&pos=1", "size=2&pos=2", "size=2&pos=3"}));
}

TEST_F(TransferManageTest, TwoDownloadsOfOneFileAtOnceKeepTheirOwnTemporaryFiles) {
    const std::string content(300000, 'q');
    const std::string ref = server->PutFile("alice", "/same.bin", content);
    // A partial file some earlier run left behind is no one's now.
    WriteFile(temp + "/leftover.draviktemp", "partial");
    HoldRequests(*server, "content", std::chrono::seconds(30));
    queue.AddBatchTask(Download({ref}, P("one")));
    queue.AddBatchTask(Download({ref}, P("two")));
    ASSERT_TRUE(WaitUntil([&] { return server->InFlight("content") == 2; }));
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(ReadFile(P("one/same.bin")), content);
    EXPECT_EQ(ReadFile(P("two/same.bin")), content);
    EXPECT_EQ(queue.FailedList().Size(), 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(temp), fs::directory_iterator()), 1);
}

TEST_F(TransferManageTest, ABodyThatComesShortFailsTheItemAndLeavesNothing) {
    const std::string ref = server->PutFile("alice", "/short.bin", std::string(1000, 's'));
    Fault cut{"content", FaultKind::CutBody};
    cut.bytes = 100;
    server->InjectFault(cut);
    queue.AddBatchTask(Download({ref}, P("dl")));
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_EQ(queue.FailedList().Size(), 1u);
    EXPECT_FALSE(fs::exists(P("dl/short.bin")));
    EXPECT_TRUE(TempEmpty());
}

TEST_F(TransferManageTest, NamesFromTheServerThatWouldLeaveTheTargetFailOnlyTheirItem) {
    const std::string h = server->MakeFolder("alice", "/h");
    server->PutFile("alice", "/h/good.txt", "good");
    server->PutFile("alice", "/h/evil", "e");
    const std::string evil = server->PutFile("alice", "/evil", "E");
    Fault rename{"list", FaultKind::ReplaceInBody};
    rename.from = "\"name\":\"evil\"";
    rename.to = "\"name\":\"..\"";
    rename.count = testserver::kEveryRequest;
    server->InjectFault(rename);
    server->ClearRequests();
    TransferBatchTask batch = Download({h, evil}, P("box/dl"));
    batch.items.push_back(TransferEntry{0, "/evil", evil, 1});
    queue.AddBatchTask(batch);
    ASSERT_TRUE(RunUntilIdle());

    EXPECT_EQ(ReadFile(P("box/dl/h/good.txt")), "good");
    std::vector<std::string> local;
    for (const auto& e : fs::recursive_directory_iterator(P("box"))) local.push_back(e.path().string());
    EXPECT_EQ(local.size(), 3u) << "dl, dl/h and dl/h/good.txt only";
    EXPECT_EQ(server->Requests("content").size(), 1u);
    const auto failed = queue.FailedList().Copy();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].reference, evil);
    EXPECT_EQ(failed[0].relativePath, "/evil");
    EXPECT_EQ(queue.FinishedList().Size(), 1u);
}

TEST_F(TransferManageTest, AChosenItemTheServerNowNamesDifferentlyFailsWithTheReason) {
    struct Case {
        const char* shown;    // the path the user chose it by
        const char* renamed;  // its path on the server when the download starts
        const char* reason;
    };
    const Case cases[] = {
        {"/Photos", "/.ssh", "the server now names the item differently: .ssh"},
        {"/notes.txt", "/.bashrc", "the server now names the item differently: .bashrc"},
        {"/Report.txt", "/report.txt", "the server now names the item differently: report.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        sink.Clear();
        const std::string shown = c.shown;
        const std::string ref = shown.find('.') == std::string::npos ? server->MakeFolder("alice", shown)
                                                                      : server->PutFile("alice", shown, "data");
        if (shown.find('.') == std::string::npos) server->PutFile("alice", shown + "/authorized_keys", "key");
        const TransferBatchTask batch = Download({ref}, P("dl"));
        server->Move("alice", c.shown, c.renamed);
        queue.AddBatchTask(batch);
        ASSERT_TRUE(RunUntilIdle());
        const auto items = sink.Items();
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].state, TransferFailed);
        EXPECT_EQ(items[0].relativePath, c.shown);
        EXPECT_EQ(items[0].reason, c.reason);
        EXPECT_FALSE(fs::exists(P("dl")) && !fs::is_empty(P("dl")));
        server->Remove("alice", c.renamed, true);
    }
    // A chosen item whose shown name the batch does not carry is refused too.
    const std::string ref = server->PutFile("alice", "/unnamed.txt", "u");
    TransferBatchTask bare = Download({ref}, P("dl"));
    bare.items.clear();
    sink.Clear();
    queue.AddBatchTask(bare);
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_EQ(sink.Items().size(), 1u);
    EXPECT_EQ(sink.Items()[0].reason, "the item's name is not known or not a plain file name");
    EXPECT_FALSE(fs::exists(P("dl/unnamed.txt")));
}

TEST_F(TransferManageTest, ADownloadBesideAnExistingFileShowsTheNameItGot) {
    const std::string d = server->MakeFolder("alice", "/d");
    server->PutFile("alice", "/d/a.txt", "server a");
    const std::string top = server->PutFile("alice", "/top.txt", "server top");
    const std::string target = P("dl");
    WriteFile(target + "/top.txt", "mine");
    WriteFile(target + "/top (1).txt", "mine too");
    WriteFile(target + "/d/a.txt", "my a");
    queue.AddBatchTask(Download({d, top}, target));
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(ReadFile(target + "/top.txt"), "mine");
    EXPECT_EQ(ReadFile(target + "/top (1).txt"), "mine too");
    EXPECT_EQ(ReadFile(target + "/top (2).txt"), "server top");
    EXPECT_EQ(ReadFile(target + "/d/a.txt"), "my a");
    EXPECT_EQ(ReadFile(target + "/d/a (1).txt"), "server a");
    std::set<std::pair<std::string, std::string>> shown;  // relative path, server name
    for (const TransferItem& item : sink.Items()) {
        EXPECT_EQ(item.state, TransferFinished) << item.relativePath;
        shown.emplace(item.relativePath, item.remoteName);
    }
    EXPECT_EQ(shown, (std::set<std::pair<std::string, std::string>>{{"/top (2).txt", "/top.txt"},
                                                                     {"/d/a (1).txt", "/d/a.txt"}}));
}

TEST_F(TransferManageTest, ALinkBelowTheChosenFolderFailsTheItemsBehindIt) {
    const std::string d = server->MakeFolder("alice", "/d");
    server->PutFile("alice", "/d/a.txt", "a");
    server->MakeFolder("alice", "/d/empty");
    const std::string target = P("dl");
    const std::string outside = P("outside");
    fs::create_directories(outside);
    fs::create_directories(target);
    fs::create_directory_symlink(outside, target + "/d");
    queue.AddBatchTask(Download({d}, target));
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(fs::is_empty(outside));
    const auto failed = queue.FailedList().Copy();
    ASSERT_EQ(failed.size(), 2u);
    for (const TransferItem& item : failed) {
        EXPECT_EQ(item.reason, "a link or a file stands on the way: " + target + "/d") << item.relativePath;
    }
    EXPECT_TRUE(TempEmpty());
}

TEST_F(TransferManageTest, StoppedItEndsItsThreadsAndCancelledTransfersAreFiledAsFailed) {
    SetLimit(2);
    HoldRequests(*server, "upload", std::chrono::seconds(60));
    queue.AddBatchTask(Upload(WriteFiles(P("many"), 5, "x")));
    ASSERT_TRUE(WaitUntil([&] { return server->InFlight("upload") == 2; }));
    queue.Stop();
    EXPECT_FALSE(queue.IsRunning());
    http->Logout();  // cancels what runs
    ASSERT_TRUE(queue.WaitForTransfers(std::chrono::seconds(30)));
    EXPECT_EQ(queue.RunningTransfers(), 0u);
    EXPECT_EQ(queue.WorkerThreads(), 0u);
    EXPECT_EQ(queue.FailedList().Size(), 2u);
    EXPECT_TRUE(queue.CopyRunningTasks().empty());
    TransferFileTask late;
    late.kind = TransferEdit;
    late.direction = TransferDownward;
    EXPECT_EQ(queue.AddFileTask(late), 1) << "a stopped queue takes nothing";
}

TEST_F(TransferManageTest, StopDuringAPagedFolderListingCancelsThePageInFlight) {
    // A folder of many pages whose second page the server holds far longer than any wait
    // here: Stop (a logout, an exit) must not wait for it, and no later page is asked for.
    SetLimit(3, 2);
    const std::string big = server->MakeFolder("alice", "/big");
    for (int i = 0; i < 9; ++i) server->PutFile("alice", "/big/f" + std::to_string(i) + ".txt", "x");
    Fault firstPage{"list", FaultKind::Delay};  // the first page passes as it is
    Fault hold{"list", FaultKind::Delay};
    hold.delay = std::chrono::minutes(10);
    hold.count = testserver::kEveryRequest;
    server->InjectFault(firstPage);
    server->InjectFault(hold);
    server->ClearRequests();
    queue.AddBatchTask(Download({big}, P("dl")));
    ASSERT_TRUE(WaitUntil([&] { return server->Requests("list").size() == 2 && server->InFlight("list") == 1; }));

    auto stopped = std::async(std::launch::async, [&] { queue.Stop(); });
    EXPECT_TRUE(WaitUntil([&] { return stopped.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                          std::chrono::seconds(20)))
        << "Stop waited for the held page";
    server->ReleaseDelays();
    stopped.wait();
    EXPECT_FALSE(queue.IsRunning());
    EXPECT_EQ(server->Requests("list").size(), 2u) << "no page after the stop";
    EXPECT_TRUE(queue.CopyWaitingTasks().empty());
}

TEST_F(TransferManageTest, BatchResultsAreCountedFromRunningCountsAsItemsAreFiled) {
    // One good file and one that fails: the count answers only once both are filed, with
    // the same totals as the count over the items, and only once.
    const std::vector<std::string> paths = WriteFiles(P("two"), 1, "ok");
    int total = 0, ok = 0, failed = 0;
    EXPECT_FALSE(queue.TakeBatchResults(total, ok, failed)) << "nothing listed";
    queue.AddBatchTask(Upload({paths[0], P("two/missing.txt")}));
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_TRUE(queue.TakeBatchResults(total, ok, failed));
    EXPECT_EQ(total, 2);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(queue.TakeBatchResults(total, ok, failed)) << "counted once";
}

}  // namespace
