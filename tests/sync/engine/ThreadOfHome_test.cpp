// The commit-to-local thread on a real sync folder, with a scripted server for downloads:
// each pass on disk, the Driver and unified trees after it, the operation record the main
// window filters its watcher events with, and the disk safety rules.
#include <memory>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "CommitTestSupport.h"
#include "support/synclogcapture.h"
#include "platform/timetext.h"
#include "sync/common/BaseFunc.h"
#include "sync/engine/FileDigest.h"
#include "sync/engine/ThreadOfHome.h"

using namespace committest;
namespace fs = std::filesystem;

namespace {

const auto* const kQuitEnvironment = ::testing::AddGlobalTestEnvironment(new QuitEventEnvironment);

bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

class HomeTest : public CommitFixture {
protected:
    void SetUp() override {
        CommitFixture::SetUp();
        home.SetServerOps(&ops);
        home.itemPauseMs = 0;
    }
    void TearDown() override {
        std::uint32_t code = 0;
        home.Stop(code);
        CStateDonePage::SetPage(nullptr);
        CommitFixture::TearDown();
    }

    // A local item on disk and in the Driver tree.
    FileNode* OnDisk(const std::string& path, const std::string& content) {
        testsupport::WriteFile(root / path.substr(1), content);
        return Local(path, true, content.size(), "L" + std::to_string(content.size()));
    }
    FileNode* FolderOnDisk(const std::string& path) {
        fs::create_directories(root / path.substr(1));
        return Local(path, false);
    }
    // A local file the last scan hashed: its Driver record carries the real digest.
    FileNode* HashedOnDisk(const std::string& path, const std::string& content) {
        FileNode* node = OnDisk(path, content);
        FileDigestHolder holder;
        node->data->checksum = FileDigestHex(holder, (root / path.substr(1)).string());
        return node;
    }
    std::string Disk(const std::string& path) { return testsupport::ReadFile(root / path.substr(1)); }
    // The names in a folder of the sync folder that carry the conflict backup marker.
    std::vector<std::string> Backups(const std::string& folder) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(root / folder)) {
            const std::string name = e.path().filename().string();
            if (name.find(".冲突备份.") != std::string::npos) out.push_back(name);
        }
        return out;
    }
    bool IsFile(const std::string& path) { return fs::is_regular_file(fs::symlink_status(root / path.substr(1))); }
    bool IsFolder(const std::string& path) { return fs::is_directory(fs::symlink_status(root / path.substr(1))); }

    // The operation record as it stands when each finished row is written.
    std::shared_ptr<std::vector<SyncOperation>> WatchOperations() {
        auto seen = std::make_shared<std::vector<SyncOperation>>();
        auto lock = std::make_shared<std::mutex>();
        CStateDonePage::SetPage(std::make_shared<FeedSink>([this, seen, lock](const FeedEvent&) {
            std::lock_guard<std::mutex> hold(*lock);
            seen->push_back(app.homeOperation.Snapshot());
        }));
        return seen;
    }

    CThreadOfHome home{&app, &window};
};

TEST_F(HomeTest, RunWithNothingToDoReportsSuccess) {
    const Message report = RunOnce(home);
    EXPECT_TRUE(report.sent);
    EXPECT_EQ(report.wParam, 2u);
    EXPECT_EQ(report.lParam, 0);
}

TEST_F(HomeTest, DownloadsNewFilesAndReplacesModifiedOnesInPlace) {
    FolderOnDisk("/Docs");
    Server("/Docs", false);
    Task("/Docs", 0, 0, 0);
    Server("/docs/New.txt", true, 5, "N5");  // the server spells the folder otherwise
    ops.contents["ref:/docs/New.txt"] = "hello";
    Task("/Docs/New.txt", 1, 2, 1);
    FileNode* oldLocal = HashedOnDisk("/Docs/mod.txt", "old content");
    Server("/Docs/mod.txt", true, 3, "M3");
    ops.contents["ref:/Docs/mod.txt"] = "new";
    Task("/Docs/mod.txt", 1, 2, 2);

    const Message report = RunOnce(home);
    EXPECT_EQ(report.wParam, 2u);
    const auto calls = ops.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"ref:/Docs/mod.txt", "/Docs/mod.txt", "3"}));
    EXPECT_EQ(calls[0].current.opCode, 2u);
    EXPECT_EQ(calls[0].current.state, 0u);
    EXPECT_EQ(calls[0].current.path1, "\\docs\\mod.txt");
    // The local folder's own spelling is used for the new file.
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{"ref:/docs/New.txt", "/Docs/New.txt", "5"}));
    EXPECT_EQ(calls[1].current.opCode, 1u);

    EXPECT_EQ(Disk("/Docs/New.txt"), "hello");
    EXPECT_EQ(Disk("/Docs/mod.txt"), "new");
    FileNode* added = FindLocal("/Docs/New.txt");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->data->nodeRef, "");
    EXPECT_EQ(added->data->checksum, "N5");
    EXPECT_EQ(FindTask("/Docs/New.txt")->data->localPartner, added);
    EXPECT_EQ(FindLocal("/Docs/mod.txt"), oldLocal);
    EXPECT_EQ(oldLocal->data->checksum, "M3");
    EXPECT_EQ(oldLocal->data->size, 3u);
    const auto done = CStateDonePage::Snapshot();
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done.front().bLocal, 1u);
    EXPECT_TRUE(CStateDoingPage::Snapshot().empty());
    EXPECT_TRUE(Backups("Docs").empty());
    // The last operation stays, ended, for the main window's echo filter.
    const SyncOperation last = app.homeOperation.Snapshot();
    EXPECT_EQ(last.opCode, 1u);
    EXPECT_EQ(last.path1, "\\docs\\new.txt");
    EXPECT_EQ(last.state, 2u);
    EXPECT_NE(last.endMs, 0u);
}

// A local file that is not the one the Driver tree recorded (edited after the scan, or
// with no digest to vouch for it) is kept under a backup name; the server version comes.
TEST_F(HomeTest, DownloadKeepsALocalFileChangedSinceTheScan) {
    struct Case {
        const char* folder;
        std::string recorded;  // content the scan hashed, or empty: no digest recorded
        std::string onDisk;    // content at the run (the user's edit)
    };
    const Case cases[] = {
        {"/same-size", "old text", "new text"},
        {"/other-size", "old text", "much longer text"},
        {"/no-digest", "", "unknown"},
    };
    for (const Case& c : cases) {
        const std::string path = std::string(c.folder) + "/f.txt";
        FolderOnDisk(c.folder);
        Server(c.folder, false);
        Task(c.folder, 0, 0, 0);
        if (!c.recorded.empty()) {
            HashedOnDisk(path, c.recorded);
        } else {
            // No digest: only the size tells the edit apart (the record knew a longer file).
            OnDisk(path, c.onDisk + " before the edit")->data->checksum.clear();
        }
        testsupport::WriteFile(root / path.substr(1), c.onDisk);
        Server(path, true, 6, "S6");
        ops.contents["ref:" + path] = "server";
        Task(path, 1, 2, 2);
    }

    EXPECT_EQ(RunOnce(home).wParam, 2u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::string path = std::string(c.folder) + "/f.txt";
        EXPECT_EQ(Disk(path), "server");
        const auto backups = Backups(std::string(c.folder).substr(1));
        ASSERT_EQ(backups.size(), 1u);
        EXPECT_EQ(Disk(std::string(c.folder) + "/" + backups[0]), c.onDisk);
        // The backup is left to the next scan: the Driver tree holds only the download.
        EXPECT_EQ(FindLocal(std::string(c.folder) + "/" + backups[0]), nullptr);
        FileNode* local = FindLocal(path);
        ASSERT_NE(local, nullptr);
        EXPECT_EQ(local->data->checksum, "S6");
        EXPECT_EQ(FindTask(path)->data->localPartner, local);
    }
    EXPECT_EQ(ops.Calls().size(), 3u);
    EXPECT_TRUE(CStateDoneFailedPage::Snapshot().empty());
}

TEST_F(HomeTest, DownloadFailsAndKeepsTheLocalFileWhenItCannotBeMovedAside) {
    FolderOnDisk("/ro");
    Server("/ro", false);
    Task("/ro", 0, 0, 0);
    HashedOnDisk("/ro/f.txt", "old text");
    testsupport::WriteFile(root / "ro/f.txt", "new text");
    Server("/ro/f.txt", true, 6, "S6");
    ops.contents["ref:/ro/f.txt"] = "server";
    Task("/ro/f.txt", 1, 2, 2);
    // Every backup name the thread could pick is taken.
    const auto block = [this] {
        const plat::SystemTime t = plat::NowLocal();
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
        testsupport::WriteFile(root / ("ro/f.txt.冲突备份." + std::string(stamp) + ".0000.bak"), "taken");
    };
    block();
    BaseFunc::SetConflictTagSource([block] {
        block();
        return std::uint16_t{0};
    });

    RunOnce(home);  // a failed item fails its row, not the run
    BaseFunc::SetConflictTagSource(nullptr);
    EXPECT_EQ(Disk("/ro/f.txt"), "new text");
    for (const std::string& name : Backups("ro")) EXPECT_EQ(Disk("/ro/" + name), "taken");
    EXPECT_TRUE(ops.Calls().empty());
    EXPECT_EQ(Paths(CStateDoneFailedPage::Snapshot()), (std::vector<std::string>{"/ro/f.txt"}));
    EXPECT_EQ(Reasons(CStateDoneFailedPage::Snapshot())["/ro/f.txt"], failreason::kLocalChanged);
}

TEST_F(HomeTest, WithoutNetworkOnlyTheDownloadsWait) {
    Server("/made", false);
    Task("/made", 0, 2, 1);
    Server("/file.txt", true, 1, "F");
    Task("/file.txt", 1, 2, 1);
    g_bNetworkUp = false;
    const Message report = RunOnce(home);
    EXPECT_EQ(report.wParam, 1u);
    EXPECT_TRUE(IsFolder("/made"));
    EXPECT_TRUE(ops.Calls().empty());
    EXPECT_FALSE(fs::exists(root / "file.txt"));
}

TEST_F(HomeTest, CopyCreatesMissingParentsTopmostFirst) {
    OnDisk("/src/x.txt", "same bytes");
    Server("/src/x.txt", true, 10, "L10");
    Task("/src/x.txt", 1, 0, 0);
    Server("/p/q/x.txt", true, 10, "L10");
    Task("/p", 0, 2, 1);
    Task("/p/q", 0, 2, 1);
    TaskNode* x = Task("/p/q/x.txt", 1, 2, 1, 5);
    x->data->source = FindLocal("/src/x.txt");
    const auto seen = WatchOperations();

    EXPECT_EQ(RunOnce(home).wParam, 2u);
    EXPECT_EQ(Disk("/p/q/x.txt"), "same bytes");
    EXPECT_EQ(Disk("/src/x.txt"), "same bytes");
    EXPECT_EQ(x->data->localPartner, FindLocal("/p/q/x.txt"));
    EXPECT_EQ(x->data->duty, 0u);
    // Newest first: the copy after its parents, the outer parent first.
    EXPECT_EQ(Paths(CStateDonePage::Snapshot()), (std::vector<std::string>{"/p", "/p/q", "/p/q/x.txt"}));
    EXPECT_EQ(CStateDonePage::Snapshot().front().Path, "/p/q/x.txt");
    EXPECT_EQ(CStateDonePage::Snapshot().back().Path, "/p");
    ASSERT_EQ(seen->size(), 3u);
    EXPECT_EQ((*seen)[0].opCode, 1u);
    EXPECT_EQ((*seen)[0].path1, "\\p");
    EXPECT_EQ((*seen)[2].opCode, 5u);
    EXPECT_EQ((*seen)[2].state, 1u);
    EXPECT_EQ((*seen)[2].path1, "\\src\\x.txt");
    EXPECT_EQ((*seen)[2].path2, "\\p\\q\\x.txt");
}

TEST_F(HomeTest, AFolderCopyKeepsItsOwnNameWhenOnlyTheCaseDiffers) {
    OnDisk("/A/Photos/a.jpg", "jpeg");
    Server("/A/Photos/a.jpg", true, 4, "L4");
    Task("/A/Photos/a.jpg", 1, 0, 0);
    FolderOnDisk("/B");
    Server("/B/photos/a.jpg", true, 4, "L4");
    Task("/B", 0, 0, 0);
    TaskNode* copy = Task("/B/photos", 0, 2, 1, 5);
    Task("/B/photos/a.jpg", 1, 2, 1);
    copy->data->source = FindLocal("/A/Photos");

    EXPECT_EQ(RunOnce(home).wParam, 2u);
    EXPECT_EQ(Disk("/B/Photos/a.jpg"), "jpeg");
    FileNode* copied = FindLocal("/B/Photos");
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->data->name, "Photos");
    EXPECT_EQ(FindTask("/B/photos/a.jpg")->data->localPartner, FindLocal("/B/Photos/a.jpg"));
    EXPECT_EQ(Paths(CStateDonePage::Snapshot()), (std::vector<std::string>{"/B/Photos", "/B/Photos/a.jpg"}));
}

TEST_F(HomeTest, MovesRenamesAndReplacesOnDisk) {
    // Across folders.
    FileNode* moved = OnDisk("/a/old.txt", "moved");
    FolderOnDisk("/b");
    Server("/a", false);
    Server("/b/old.txt", true, 5, "L5");
    Task("/a", 0, 0, 0);
    TaskNode* oldPlace = Task("/a/old.txt", 1, 2, 3);
    Task("/b/old.txt", 1, 2, 1, 4)->data->source = oldPlace;
    // Within one folder to a new name.
    OnDisk("/r/one.txt", "renamed");
    Server("/r/two.txt", true, 7, "L7");
    TaskNode* oldName = Task("/r/one.txt", 1, 2, 3);
    Task("/r/two.txt", 1, 2, 1, 4)->data->source = oldName;
    // Within one folder onto a name that exists.
    OnDisk("/s/from.txt", "winner");
    OnDisk("/s/onto.txt", "loser");
    Server("/s/onto.txt", true, 6, "L6");
    TaskNode* from = Task("/s/from.txt", 1, 2, 3);
    Task("/s/onto.txt", 1, 2, 2, 4)->data->source = from;
    const auto seen = WatchOperations();

    EXPECT_EQ(RunOnce(home).wParam, 2u);
    EXPECT_EQ(Disk("/b/old.txt"), "moved");
    EXPECT_FALSE(fs::exists(root / "a/old.txt"));
    EXPECT_EQ(FindLocal("/b/old.txt"), moved);
    EXPECT_EQ(FindTask("/a/old.txt"), nullptr);
    EXPECT_EQ(Disk("/r/two.txt"), "renamed");
    EXPECT_FALSE(fs::exists(root / "r/one.txt"));
    EXPECT_EQ(Disk("/s/onto.txt"), "winner");
    EXPECT_FALSE(fs::exists(root / "s/from.txt"));
    EXPECT_EQ(FindLocal("/s/from.txt"), nullptr);

    std::vector<std::uint32_t> codes;
    for (const SyncOperation& op : *seen) codes.push_back(op.opCode);
    EXPECT_EQ(codes, (std::vector<std::uint32_t>{4, 6, 4}));
    EXPECT_EQ((*seen)[1].path1, "\\r\\one.txt");
    EXPECT_EQ((*seen)[1].path2, "\\r\\two.txt");
    // The delete pass found nothing left: the old places went with the moves.
    EXPECT_TRUE(CStateDoneFailedPage::Snapshot().empty());
}

TEST_F(HomeTest, DeletesNeverFollowLinks) {
    const fs::path outside = sandbox.Dir("outside");
    testsupport::WriteFile(outside / "precious.txt", "keep me");
    OnDisk("/del/sub/f.txt", "f");
    OnDisk("/single.txt", "s");
    fs::create_directory_symlink(outside, root / "del/link");
    Task("/del", 0, 2, 3);
    Task("/del/sub", 0, 2, 3);
    Task("/del/sub/f.txt", 1, 2, 3);
    Task("/single.txt", 1, 2, 3);

    EXPECT_EQ(RunOnce(home).wParam, 2u);
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / "del")));
    EXPECT_FALSE(fs::exists(root / "single.txt"));
    EXPECT_EQ(testsupport::ReadFile(outside / "precious.txt"), "keep me");
    EXPECT_EQ(FindLocal("/del"), nullptr);
    EXPECT_EQ(FindTask("/del"), nullptr);
    const auto done = CStateDonePage::Snapshot();
    EXPECT_EQ(Paths(done), (std::vector<std::string>{"/del", "/del/sub", "/del/sub/f.txt", "/single.txt"}));
    EXPECT_TRUE(std::all_of(done.begin(), done.end(), [](const SyncDoneItem& i) { return i.bDelete == 1; }));
}

TEST_F(HomeTest, AFolderHoldingItemsNeverListedIsNotDeleted) {
    OnDisk("/keep/listed.txt", "l");
    testsupport::WriteFile(root / "keep/unlisted.bin", "u");
    app.driverUnknown.Add("/keep/unlisted.bin");
    Task("/keep", 0, 2, 3);
    Task("/keep/listed.txt", 1, 2, 3);
    LogCapture log;
    EXPECT_EQ(RunOnce(home).wParam, 1u);  // a run with a failed item reports a failure
    EXPECT_EQ(Disk("/keep/unlisted.bin"), "u");
    EXPECT_EQ(Disk("/keep/listed.txt"), "l");
    EXPECT_NE(FindTask("/keep"), nullptr);
    EXPECT_EQ(Paths(CStateDoneFailedPage::Snapshot()), (std::vector<std::string>{"/keep", "/keep/listed.txt"}));
    EXPECT_EQ(Reasons(CStateDoneFailedPage::Snapshot()),
              (std::map<std::string, std::string>{{"/keep", failreason::kUnsynced},
                                                  {"/keep/listed.txt", failreason::kUnsynced}}));
    EXPECT_TRUE(HasLine(log.Lines(), "删除操作失败！ filepath:ThreadOfHome line:893"));
}

TEST_F(HomeTest, DeletingAnItemAlreadyGoneFails) {
    Local("/ghost.txt", true, 1, "G");
    Task("/ghost.txt", 1, 2, 3);
    LogCapture log;
    EXPECT_EQ(RunOnce(home).wParam, 1u);  // a run with a failed item reports a failure
    const auto failed = CStateDoneFailedPage::Snapshot();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].Path, "/ghost.txt");
    EXPECT_EQ(failed[0].bDelete, 1u);
    EXPECT_EQ(failed[0].bLocal, 1u);
    EXPECT_EQ(failed[0].Reason, failreason::kItemChanged);
    EXPECT_TRUE(CStateDonePage::Snapshot().empty());
    EXPECT_TRUE(HasLine(log.Lines(), "删除操作失败！ filepath:ThreadOfHome line:893"));
}

TEST_F(HomeTest, AFolderReplacingALocalFileKeepsTheFileAsABackup) {
    OnDisk("/x", "precious");
    Server("/x", false);
    TaskNode* x = Task("/x", 0, 2, 1);
    const auto seen = WatchOperations();

    EXPECT_EQ(RunOnce(home).wParam, 2u);
    EXPECT_TRUE(IsFolder("/x"));
    std::string backup;
    for (const auto& entry : fs::directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name != "x") backup = name;
    }
    ASSERT_NE(backup.find("x.冲突备份."), std::string::npos) << backup;
    EXPECT_EQ(testsupport::ReadFile(root / backup), "precious");
    FileNode* folder = FindLocal("/x");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->data->isFile, 0u);
    EXPECT_EQ(x->data->localPartner, folder);
    FileNode* kept = FindLocal("/" + backup);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->data->isFile, 1u);
    EXPECT_TRUE(CStateDoneFailedPage::Snapshot().empty());
    ASSERT_EQ(seen->size(), 1u);
    EXPECT_EQ(seen->front().opCode, 1u);
}

TEST_F(HomeTest, AFileReplacingALocalFolderTakesAFreshNode) {
    FolderOnDisk("/y");
    OnDisk("/y/inner.txt", "inner");
    Server("/y", true, 4, "Y4");
    ops.contents["ref:/y"] = "file";
    TaskNode* y = Task("/y", 1, 2, 1);
    Task("/y/inner.txt", 1, 0, 0);

    EXPECT_EQ(RunOnce(home).wParam, 2u);
    EXPECT_EQ(Disk("/y"), "file");
    FileNode* file = FindLocal("/y");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->data->isFile, 1u);
    EXPECT_TRUE(file->children.empty());
    EXPECT_EQ(y->data->localPartner, file);
    EXPECT_TRUE(y->children.empty());
}

TEST_F(HomeTest, PathsFromTheServerNeverLeaveTheSyncFolder) {
    const fs::path outside = sandbox.Dir("elsewhere");
    fs::create_directory_symlink(outside, root / "linked");
    Local("/linked", false);
    Server("/linked/f.txt", true, 1, "F");
    Task("/linked/f.txt", 1, 2, 1);
    Server("/..", true, 1, "D");
    Task("/..", 1, 2, 1);
    FileNode* evil = Server("/evil", false);
    Task("/evil", 0, 2, 1);
    evil->data->name = "a\nb";  // a control character in the server's name
    const std::string longName(256, 'n');  // longer than the disk holds
    Server("/" + longName, false);
    Task("/" + longName, 0, 2, 1);

    EXPECT_EQ(RunOnce(home).wParam, 1u);  // a run with a failed item reports a failure
    EXPECT_TRUE(ops.Calls().empty());
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(root.parent_path() / "f.txt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);  // the link only
    const auto failed = CStateDoneFailedPage::Snapshot();
    ASSERT_EQ(failed.size(), 4u);
    std::multiset<std::string> reasons;
    for (const SyncDoneItem& item : failed) reasons.insert(item.Reason);
    EXPECT_EQ(reasons, (std::multiset<std::string>{failreason::kLinkOnWay, failreason::kNameRefused,
                                                   failreason::kNameRefused, failreason::kNameTooLong}));
}

TEST_F(HomeTest, OnlyABadGatewayOfTheDownloadEndsTheProgram) {
    Server("/a.txt", true, 1, "A");
    Server("/b.txt", true, 1, "B");
    Task("/a.txt", 1, 2, 1);
    Task("/b.txt", 1, 2, 1);
    const std::vector<std::uint32_t> statuses{502, 404};
    std::size_t n = 0;
    ops.respond = [&](const Call&, CSyncBase*, ServerCallResult& result) {
        result.status = statuses[n++];
        return false;
    };
    LogCapture log;
    EXPECT_EQ(RunOnce(home).wParam, 1u);  // a run with a failed item reports a failure
    EXPECT_EQ(window.Of(WM_PIPE_EXIT).size(), 1u);
    const auto lines = log.Lines();
    EXPECT_TRUE(HasLine(lines, "下载文件失败！ filepath:ThreadOfHome line:1122"));
    EXPECT_TRUE(HasLine(lines, "网络通信异常！Code = 502 ！ filepath:ThreadOfHome line:1128"));
    EXPECT_TRUE(HasLine(lines, "关网失效，退出同步功能.filepath:ThreadOfHome line:1137"));
    EXPECT_TRUE(HasLine(lines, "网络通信异常！Code = 404 ！ filepath:ThreadOfHome line:1128"));
    EXPECT_EQ(Paths(CStateDoneFailedPage::Snapshot()), (std::vector<std::string>{"/a.txt", "/b.txt"}));
}

TEST_F(HomeTest, BreakDuringADownloadEndsTheRunAfterIt) {
    Server("/a.txt", true, 1, "A");
    Server("/b.txt", true, 1, "B");
    ops.contents["ref:/a.txt"] = "a";
    Task("/a.txt", 1, 2, 1);
    Task("/b.txt", 1, 2, 1);
    ops.respond = [](const Call&, CSyncBase* owner, ServerCallResult&) {
        owner->breakEvent.Set();
        return true;
    };
    EXPECT_EQ(RunOnce(home).wParam, 1u);
    EXPECT_EQ(ops.Calls().size(), 1u);
    EXPECT_EQ(Disk("/a.txt"), "a");
    EXPECT_FALSE(fs::exists(root / "b.txt"));
}

TEST_F(HomeTest, ItemsArePacedButAStopCutsThePauseShort) {
    Server("/a.txt", true, 1, "A");
    Task("/a.txt", 1, 2, 1);
    home.itemPauseMs = 60000;
    home.Start();
    home.PostCommand(THREAD_CMD_RUN);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !CStateDoingPage::Snapshot().empty(); }));
    home.breakEvent.Set();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return window.Of(WM_SIGMA_CONFORM).size() == 1; }));
    EXPECT_EQ(window.Of(WM_SIGMA_CONFORM)[0].wParam, 1u);
    EXPECT_TRUE(ops.Calls().empty());
}

}  // namespace

TEST_F(HomeTest, ARunWaitsUntilTheServerLookOfTheOtherDirectionIsMerged) {
    Server("/n.txt", true, 2, "N2");
    ops.contents["ref:/n.txt"] = "hi";
    Task("/n.txt", 1, 2, 1);
    app.serverLookDone.Reset();
    home.Start();
    home.PostCommand(THREAD_CMD_RUN);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !home.doneEvent.IsSet(); }));
    // The run holds before its first pass while the merge is still to come.
    EXPECT_FALSE(testsupport::WaitUntil([&] { return !ops.Calls().empty(); }, std::chrono::milliseconds(300)));
    EXPECT_TRUE(CStateDoingPage::Snapshot().empty());
    app.serverLookDone.Set();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return home.doneEvent.IsSet(); }));
    EXPECT_EQ(ops.Ops(), (std::vector<std::string>{"download"}));

    // A break while it holds ends the run as stopped.
    app.serverLookDone.Reset();
    const std::size_t reports = window.Of(WM_SIGMA_CONFORM).size();
    home.PostCommand(THREAD_CMD_RUN);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !home.doneEvent.IsSet(); }));
    home.breakEvent.Set();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return window.Of(WM_SIGMA_CONFORM).size() > reports; }));
    EXPECT_EQ(window.Of(WM_SIGMA_CONFORM).back().wParam, 1u);
    app.serverLookDone.Set();
}
