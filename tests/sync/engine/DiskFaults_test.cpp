// What the sync engine does when the disk fails it: one table, one row per fault and the
// place it strikes. Each row runs a cycle as the program does (scan, hash pass,
// reconciliation with the conflict renames, move and copy matching, the commit-to-local
// run) on the fake disk (FakeDisk.h), with the fault injected, and says what must hold.
#include <cerrno>
#include <functional>
#include <map>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "CommitTestSupport.h"
#include "ReconcileWorld.h"
#include "sync/common/FolderDigest.h"
#include "sync/engine/FailReasons.h"
#include "sync/engine/Reconcile.h"
#include "sync/engine/ThreadOfDriver.h"
#include "sync/engine/ThreadOfHome.h"
#include "sync/net/WinHttpClient.h"

namespace {

using enginetest::FakeFs;

const auto* const kQuitEnvironment = ::testing::AddGlobalTestEnvironment(new committest::QuitEventEnvironment);

// How far a row's cycle runs.
enum class Until { Build, Commit };

// One cycle of the engine on the fake disk. Trees are written in the notation of
// ReconcileWorld.h, where a file's text after '=' is its content; the listings carry the
// digests of those contents (as the scan's hash pass and the server give them), and the
// server's items are downloadable under the reference "ref:<path>".
class Cycle {
public:
    Cycle() {
        app.syncFolder = u"/sync";
        app.mainWindow = &window;
        app.ServerTree.data->nodeRef = "ref:home";
        g_bNetworkUp = true;
        driver.SetFs(&disk);
        driver.app = &app;
        driver.tree = &app.DriverTree;
        ops.place = [this](const std::string& relativePath, const std::string& content) -> std::uint32_t {
            // A download goes to a temporary file first: a full disk leaves nothing.
            if (disk.writeError != 0) return disk.writeError == ENOSPC ? httperr::kDiskFull : httperr::kFileWrite;
            disk.PutFile(disk.root + relativePath, content);
            return 0;
        };
    }

    void Lay(const std::string& local, const std::string& tracer, const std::string& server) {
        FileNode onDisk(SyncFileInfo("Disk"));
        enginetest::AddItems(onDisk, local);
        for (FileNode* node : onDisk.Preorder()) {
            if (node->data->isFile != 0) {
                disk.PutFile(disk.root + NodePath(node, 2), node->data->checksum);
            } else {
                disk.PutFolder(disk.root + NodePath(node, 2));
            }
        }
        Digested(app.TracerTree, tracer, false);
        Digested(app.ServerTree, server, true);
    }

    // The scan and the hash pass of the local scan thread.
    void ScanAndHash() {
        scanned = driver.ScanOnRunHandler();
        hashed = driver.HashOnRunHandler(&driver);
    }

    // The reconciliation: the build (with its conflict renames), then the matching of
    // moves and copies.
    void Reconcile() {
        enginetest::FakeClock clock;
        Reconciler rc(disk, clock);
        rc.unknown = &app.driverUnknown;
        rc.announce = &app.homeOperation;
        built = rc.BuildCycle(&app.DriverTree, &app.ServerTree, &app.TracerTree, &app.UniformTree);
        BaseFunc::ComputeFolderChecksum(&app.DriverTree);
        BaseFunc::ComputeFolderChecksum(&app.ServerTree);
        rc.ClearDuties(&app.UniformTree);
        rc.MatchPass(&app.UniformTree, 1);
        rc.MatchPass(&app.UniformTree, 2);
        plan = enginetest::DumpPlan(app.UniformTree);
        announced = app.homeOperation.Snapshot();
    }

    // One run of the commit-to-local thread.
    void CommitToLocal() {
        CThreadOfHome home(&app, &window);
        home.SetLocalFs(&disk);
        home.SetServerOps(&ops);
        home.itemPauseMs = 0;
        home.Start();
        home.PostCommand(THREAD_CMD_RUN);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return !window.Of(WM_SIGMA_CONFORM).empty(); }));
        ASSERT_TRUE(testsupport::WaitUntil([&] { return home.doneEvent.IsSet(); }));
        std::uint32_t code = 0;
        home.Stop(code);
        report = window.Of(WM_SIGMA_CONFORM).back();
        for (const SyncDoneItem& item : CStateDoneFailedPage::Snapshot()) failed[item.Path] = item.Reason;
    }

    // The Driver record at a path ("/a/b"), or null.
    const SyncFileInfo* Local(const std::string& path) {
        const FileNode* node = FindFileNodeByPath(&app.DriverTree, 2, path);
        return node == nullptr ? nullptr : node->data.get();
    }
    // The unified record at a path (which must be there).
    const SyncTaskInfo& Record(const std::string& path) {
        static const SyncTaskInfo kNone;
        const TaskNode* node = FindNodeByPath(&app.UniformTree, 2, path);
        EXPECT_NE(node, nullptr) << path;
        return node == nullptr ? kNone : *node->data;
    }
    bool OnDisk(const std::string& path) { return disk.Has(disk.root + path); }
    std::string Content(const std::string& path) { return disk.Content(disk.root + path); }

    FakeFs disk;
    SyncApp app;
    committest::RecordingWindow window;
    committest::FakeServerOps ops;
    CThreadOfDriver driver{&app, &app.DriverTree};
    testsupport::EmptyFeedLists feeds;
    bool scanned = false;
    bool hashed = false;
    bool built = false;
    std::string plan;
    SyncOperation announced;  // the commit-to-local operation record after the reconciliation
    committest::Message report;
    std::map<std::string, std::string> failed;  // path -> reason of the failed rows

private:
    void Digested(FileNode& into, const std::string& spec, bool server) {
        enginetest::AddItems(into, spec);
        for (FileNode* node : into.Preorder()) {
            SyncFileInfo& r = *node->data;
            if (server) {
                r.nodeRef = "ref:" + NodePath(node, 2);
                ops.contents[r.nodeRef] = r.checksum;
            }
            if (r.isFile != 0) r.checksum = FakeFs::DigestOf(r.checksum);
        }
    }
};

struct FaultRow {
    const char* name;
    const char* local;   // the sync folder on disk
    const char* tracer;  // the last synchronised state
    const char* server;  // the server's listing
    std::function<void(Cycle&)> fault;
    Until until;
    const char* must;
    std::function<void(Cycle&)> check;
    // After the reconciliation, before the commit run (what the user does meanwhile).
    std::function<void(Cycle&)> meanwhile = {};
};

void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }

// The unified record's work at a path ("aXtY", with " move"/" copy"), "" when absent.
std::string Work(const std::string& plan, const std::string& path) {
    const std::string key = path + ":";
    for (std::size_t at = plan.find(key); at != std::string::npos; at = plan.find(key, at + 1)) {
        if (at != 0 && plan[at - 1] != ' ') continue;
        const std::size_t end = plan.find(" /", at);
        return plan.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
    }
    return {};
}

// The file "/a.txt" is removed just before the hash pass reads it.
void VanishBeforeDigest(Cycle& c) {
    c.driver.beforeDigest = [&c](const std::string& path) {
        if (path == "/a.txt") c.disk.Remove("/sync/a.txt");
    };
}

const FaultRow kRows[] = {
    {"UnreadableFolder",
     "docs/a.txt=A docs/b.txt=B k=K",
     "docs/ docs/a.txt=A docs/b.txt=B k=K",
     "docs/ docs/a.txt=A docs/b.txt=B k=K",
     [](Cycle& c) { c.disk.unlistable.insert("/sync/docs"); },
     Until::Commit,
     "the scan goes on around a folder it cannot list and records it as unknown: nothing in it is deleted on "
     "the server, downloaded over or touched on disk",
     [](Cycle& c) {
         EXPECT_TRUE(c.scanned);
         EXPECT_TRUE(c.app.driverUnknown.Covers("/docs/a.txt"));
         EXPECT_NE(c.Local("/k"), nullptr);
         for (const char* path : {"/docs", "/docs/a.txt", "/docs/b.txt"}) {
             const std::string work = Work(c.plan, path);
             EXPECT_TRUE(work.empty() || work.rfind("a0", 0) == 0) << path << " " << work;
         }
         EXPECT_EQ(c.Content("/docs/a.txt"), "A");
         EXPECT_EQ(c.Content("/docs/b.txt"), "B");
         EXPECT_TRUE(c.ops.Calls().empty());
     }},
    {"UnreadableFolderTheServerDeleted",
     "docs/a.txt=A k=K",
     "docs/ docs/a.txt=A k=K",
     "k=K",
     [](Cycle& c) { c.disk.unlistable.insert("/sync/docs"); },
     Until::Commit,
     "a server delete never reaches into a folder the scan could not read: the folder and its files stay",
     [](Cycle& c) {
         EXPECT_TRUE(c.app.driverUnknown.Covers("/docs"));
         EXPECT_EQ(c.Content("/docs/a.txt"), "A");
     }},
    {"FullDiskCopy",
     "a.txt=A k=K",
     "a.txt=A k=K",
     "a.txt=A b.txt=A k=K",
     [](Cycle& c) { c.disk.writeError = ENOSPC; },
     Until::Commit,
     "a copy onto a full disk leaves no file at its place, no record of one, and fails as 'disk full'",
     [](Cycle& c) {
         EXPECT_EQ(Work(c.plan, "/b.txt"), "a2t1 copy");
         EXPECT_FALSE(c.OnDisk("/b.txt"));
         EXPECT_EQ(c.Local("/b.txt"), nullptr);
         EXPECT_EQ(c.Content("/a.txt"), "A");
         EXPECT_EQ(c.failed["/b.txt"], failreason::kDiskFull);
         EXPECT_EQ(c.report.wParam, 1u) << "the run reports a failure";
     }},
    {"FullDiskNewFolder",
     "k=K",
     "k=K",
     "d/ k=K",
     [](Cycle& c) { c.disk.writeError = ENOSPC; },
     Until::Commit,
     "a folder that cannot be made is not recorded and fails as 'disk full'",
     [](Cycle& c) {
         EXPECT_EQ(Work(c.plan, "/d/"), "a2t1");
         EXPECT_FALSE(c.OnDisk("/d"));
         EXPECT_EQ(c.Local("/d"), nullptr);
         EXPECT_EQ(c.failed["/d"], failreason::kDiskFull);
         EXPECT_EQ(c.report.wParam, 1u);
     }},
    {"FullDiskDownload",
     "a.txt=A",
     "a.txt=A",
     "a.txt=C",
     [](Cycle& c) { c.disk.writeError = ENOSPC; },
     Until::Commit,
     "a download onto a full disk leaves the local file and its record as they were, keeps its work for the "
     "next cycle and fails as 'disk full'",
     [](Cycle& c) {
         EXPECT_EQ(Work(c.plan, "/a.txt"), "a2t2");
         EXPECT_EQ(c.Content("/a.txt"), "A");
         ASSERT_NE(c.Local("/a.txt"), nullptr);
         EXPECT_EQ(c.Local("/a.txt")->checksum, FakeFs::DigestOf("A"));
         EXPECT_EQ(c.Record("/a.txt").task, 2u);
         EXPECT_EQ(c.failed["/a.txt"], failreason::kDiskFull);
         EXPECT_EQ(c.report.wParam, 1u);
     }},
    {"CrossDeviceMove",
     "d1/a.txt=A d2/",
     "d1/ d1/a.txt=A d2/",
     "d1/ d2/ d2/a.txt=A",
     [](Cycle& c) { c.disk.moveError = EXDEV; },
     Until::Commit,
     "a move the disk refuses fails and loses nothing: the content stays on disk and the run reports the "
     "failure",
     [](Cycle& c) {
         EXPECT_EQ(Work(c.plan, "/d2/a.txt"), "a2t1 move");
         EXPECT_EQ(c.failed["/d2/a.txt"], failreason::kDiskFailed);
         EXPECT_TRUE(c.Content("/d1/a.txt") == "A" || c.Content("/d2/a.txt") == "A");
         EXPECT_EQ(c.report.wParam, 1u);
     }},
    {"CrossDeviceConflictBackup",
     "a.txt=B k=K",
     "a.txt=A k=K",
     "a.txt=C k=K",
     [](Cycle& c) { c.disk.moveError = EXDEV; },
     Until::Commit,
     "when the local version of a conflict cannot be renamed to its backup name, it keeps its name and "
     "content: it is neither downloaded over nor taken into the synchronised state",
     [](Cycle& c) {
         EXPECT_EQ(c.plan, "/a.txt:a0t2 /k:a0t0");
         EXPECT_FALSE(BelongsToSavedState(c.Record("/a.txt")));
         EXPECT_TRUE(BelongsToSavedState(c.Record("/k")));
         EXPECT_EQ(c.Content("/a.txt"), "B");
         EXPECT_EQ(c.announced.opCode, 6u);
         EXPECT_EQ(c.announced.state, 2u) << "the announced rename is closed";
         EXPECT_TRUE(c.ops.Calls().empty());
     }},
    {"CrossDeviceBackupBeforeADownload",
     "a.txt=A",
     "a.txt=A",
     "a.txt=C",
     [](Cycle& c) { c.disk.moveError = EXDEV; },
     Until::Commit,
     "a file the user changed after the scan, which cannot be set aside before the download, is kept as it is: "
     "the download is not made and the item fails as 'local file changed'",
     [](Cycle& c) {
         EXPECT_EQ(c.Content("/a.txt"), "user's edit");
         EXPECT_TRUE(c.ops.Calls().empty());
         EXPECT_EQ(c.failed["/a.txt"], failreason::kLocalChanged);
     },
     [](Cycle& c) { c.disk.PutFile("/sync/a.txt", "user's edit"); }},
    {"NewFileVanishesBeforeItsDigest",
     "a.txt=A k=K",
     "k=K",
     "k=K",
     VanishBeforeDigest,
     Until::Build,
     "a file gone between the listing and its digest fails the hash pass and keeps no checksum (never the "
     "empty file's, so no empty content goes up for it); the other files are digested",
     [](Cycle& c) {
         EXPECT_TRUE(c.scanned);
         EXPECT_FALSE(c.hashed);
         ASSERT_NE(c.Local("/a.txt"), nullptr);
         EXPECT_EQ(c.Local("/a.txt")->checksum, "");
         EXPECT_EQ(c.Local("/k")->checksum, FakeFs::DigestOf("K"));
     }},
    {"SynchronisedFileVanishesBeforeItsDigest",
     "a.txt=A k=K",
     "a.txt=A k=K",
     "a.txt=A k=K",
     VanishBeforeDigest,
     Until::Build,
     "a synchronised file gone before its digest is not judged without one: nothing is deleted on the server "
     "or uploaded for it, and it does not count as in step",
     [](Cycle& c) {
         EXPECT_FALSE(c.hashed);
         EXPECT_EQ(c.Local("/a.txt")->checksum, "");
         EXPECT_EQ(Work(c.plan, "/a.txt"), "a0t0");
         EXPECT_NE(c.Record("/a.txt").flag, 1u);
     }},
};

class DiskFaults : public ::testing::TestWithParam<FaultRow> {};

TEST_P(DiskFaults, EngineKeepsWhatItMust) {
    const FaultRow& row = GetParam();
    SCOPED_TRACE(row.must);
    Cycle c;
    c.Lay(row.local, row.tracer, row.server);
    row.fault(c);
    c.ScanAndHash();
    c.Reconcile();
    ASSERT_TRUE(c.built);
    if (row.until == Until::Commit) {
        if (row.meanwhile) row.meanwhile(c);
        c.CommitToLocal();
    }
    row.check(c);
}

INSTANTIATE_TEST_SUITE_P(Table, DiskFaults, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

}  // namespace
