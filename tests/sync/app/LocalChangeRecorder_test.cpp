// Local change recording without a window: the watcher's reports as they reach the change
// queue, the program's own echoes, and what a change tells the commit threads.
#include "sync/app/LocalChangeRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/synclogcapture.h"
#include "sync/engine/ThreadOfAway.h"
#include "sync/engine/ThreadOfHome.h"
#include "sync/engine/ThreadOfServer.h"

namespace {

const std::u16string kFolder = u"/home/u/Sync";

// Operation records hold canonical paths, as the commit threads write them.
SyncOperation Op(std::uint32_t state, std::uint32_t code, const std::string& path) {
    SyncOperation op;
    op.kind = 1;  // a file
    op.state = state;
    op.opCode = code;
    op.path1 = SyncOperation::CanonicalPath(path);
    return op;
}

// The application's shared state with a recorder over it; the hooks count their calls.
struct Recording {
    SyncApp app;
    std::mutex slots;
    int timerArmed = 0;
    int replaceAsked = 0;
    LocalChangeRecorder recorder{app, slots,
                                 LocalChangeRecorder::Hooks{[] { return kFolder; }, [this] { ++timerArmed; },
                                                            [this] { ++replaceAsked; }}};

    std::vector<LocalChangeRecord> Queue() {
        std::lock_guard<std::mutex> hold(app.changeListLock);
        return {app.localChanges.begin(), app.localChanges.end()};
    }
};

struct Report {
    std::uint32_t kind;
    std::u16string path;
    std::u16string newPath;
};

void Deliver(LocalChangeRecorder& recorder, const Report& r) {
    switch (r.kind) {
        case kLocalAdded: recorder.On_FileAdded(r.path); break;
        case kLocalRemoved: recorder.On_FileRemoved(r.path); break;
        case kLocalModified: recorder.On_FileModified(r.path); break;
        case kLocalRenamed: recorder.On_FileNameChanged(r.path, r.newPath); break;
        default: FAIL() << "no such report";
    }
}

}  // namespace

TEST(LocalChangeRecorderTest, ReportsBecomeRecordsRelativeToTheSyncFolder) {
    struct Case {
        const char* what;
        Report report;
        const char* path;
        const char* pathKey;
        const char* newPath;
        const char* newPathKey;
    };
    const Case cases[] = {
        {"added", {kLocalAdded, u"/home/u/Sync/Docs/A.txt", {}}, "\\Docs\\A.txt", "\\docs\\a.txt", "", ""},
        {"removed", {kLocalRemoved, u"/home/u/Sync/x", {}}, "\\x", "\\x", "", ""},
        {"modified", {kLocalModified, u"/home/u/Sync/d/\u6587.txt", {}}, "\\d\\\xe6\x96\x87.txt",
         "\\d\\\xe6\x96\x87.txt", "", ""},
        {"renamed", {kLocalRenamed, u"/home/u/Sync/a/Old", u"/home/u/Sync/a/New"}, "\\a\\Old", "\\a\\old",
         "\\a\\New", "\\a\\new"},
    };
    for (const Case& c : cases) {
        Recording r;
        Deliver(r.recorder, c.report);
        const auto queue = r.Queue();
        ASSERT_EQ(queue.size(), 1u) << c.what;
        EXPECT_EQ(queue[0].kind, c.report.kind) << c.what;
        EXPECT_EQ(queue[0].path, c.path) << c.what;
        EXPECT_EQ(queue[0].pathKey, c.pathKey) << c.what;
        EXPECT_EQ(queue[0].newPath, c.newPath) << c.what;
        EXPECT_EQ(queue[0].newPathKey, c.newPathKey) << c.what;
        EXPECT_NE(queue[0].time, 0u) << c.what;
        EXPECT_EQ(r.timerArmed, 1) << c.what << ": the debounce timer takes the queue up";
        EXPECT_EQ(r.replaceAsked, 0) << c.what;
    }
}

TEST(LocalChangeRecorderTest, ChangesOutsideTheFolderOrNotTextAreNeverQueued) {
    const std::u16string loneSurrogate = kFolder + u"/a" + std::u16string(1, char16_t(0xD800));
    const Report reports[] = {
        {kLocalModified, kFolder, {}},                        // the folder itself
        {kLocalAdded, u"/home/u/Sync2/a", {}},                // a sibling with a longer name
        {kLocalAdded, u"/home/u/a", {}},                      // above the folder
        {kLocalAdded, loneSurrogate, {}},                     // a name that is not text
        {kLocalRenamed, u"/home/u/Sync/a", u"/home/u/b"},     // renamed out of the folder
        {kLocalRenamed, u"/home/u/Sync/a", loneSurrogate},    // renamed to a name that is not text
    };
    for (const Report& report : reports) {
        Recording r;
        Deliver(r.recorder, report);
        EXPECT_TRUE(r.Queue().empty()) << report.kind;
        EXPECT_EQ(r.timerArmed, 0) << report.kind;
    }
}

// A name holding '\\' is legal here but is the records' separator: the item is unknown,
// never queued under a path that would name another item ("sub\\inner.txt" is not
// "inner.txt" in "sub"), and a rename to or from such a name queues only the other name.
TEST(LocalChangeRecorderTest, NamesHoldingABackslashAreUnknownNeverQueued) {
    struct Case {
        const char* what;
        std::vector<Report> reports;
        std::vector<std::string> queued;   // "kind:path" of the queued records
        std::vector<std::string> unknown;  // disk paths the unknown set covers afterwards
        int logLines;                      // "kept out" lines
    };
    const std::u16string odd = kFolder + u"/sub\\inner.txt";
    const Case cases[] = {
        {"added then modified",
         {{kLocalAdded, odd, {}}, {kLocalModified, odd, {}}, {kLocalModified, odd, {}}},
         {},
         {"/sub\\inner.txt"},
         1},
        {"an item inside such a folder",
         {{kLocalAdded, kFolder + u"/x\\y", {}}, {kLocalAdded, kFolder + u"/x\\y/f.txt", {}}},
         {},
         {"/x\\y", "/x\\y/f.txt"},
         1},
        {"added then removed", {{kLocalAdded, odd, {}}, {kLocalRemoved, odd, {}}}, {}, {}, 1},
        {"renamed to such a name", {{kLocalRenamed, kFolder + u"/a.txt", kFolder + u"/a\\b.txt"}},
         {"2:\\a.txt"}, {"/a\\b.txt"}, 1},
        {"renamed away from such a name",
         {{kLocalAdded, odd, {}}, {kLocalRenamed, odd, kFolder + u"/sub/inner.txt"}},
         {"1:\\sub\\inner.txt"}, {}, 1},
        {"renamed between two such names",
         {{kLocalAdded, odd, {}}, {kLocalRenamed, odd, kFolder + u"/c\\d"}}, {}, {"/c\\d"}, 1},
    };
    for (const Case& c : cases) {
        LogCapture log;
        Recording r;
        for (const Report& report : c.reports) Deliver(r.recorder, report);
        std::vector<std::string> queued;
        for (const LocalChangeRecord& change : r.Queue()) {
            queued.push_back(std::to_string(change.kind) + ":" + change.path);
            EXPECT_TRUE(change.newPath.empty()) << c.what;
        }
        EXPECT_EQ(queued, c.queued) << c.what;
        std::vector<std::string> covered;
        for (const char* path : {"/sub\\inner.txt", "/x\\y", "/x\\y/f.txt", "/a\\b.txt", "/c\\d"}) {
            if (r.app.driverUnknown.Covers(LocalUnknownSet::DiskPath(path))) covered.push_back(path);
        }
        std::vector<std::string> expected(c.unknown.begin(), c.unknown.end());
        std::sort(expected.begin(), expected.end());
        std::sort(covered.begin(), covered.end());
        EXPECT_EQ(covered, expected) << c.what;
        // Never taken for the item its name would read as in a record path.
        for (const char* other : {"\\sub\\inner.txt", "/sub/inner.txt", "\\sub", "\\a\\b.txt", "\\x\\y"}) {
            EXPECT_FALSE(r.app.driverUnknown.Covers(other)) << c.what << ": " << other;
        }
        int lines = 0;
        for (const std::string& line : log.Lines()) lines += line.find("kept out") != std::string::npos ? 1 : 0;
        EXPECT_EQ(lines, c.logLines) << c.what;
    }
}

TEST(LocalChangeRecorderTest, TheProgramsOwnDownloadIsDroppedAndTheUsersEditKept) {
    Recording r;
    r.app.homeOperation.Set(Op(1, 2, "\\a.txt"));  // a download being put in place
    r.recorder.On_FileModified(u"/home/u/Sync/a.txt");
    EXPECT_TRUE(r.Queue().empty());
    EXPECT_EQ(r.timerArmed, 0);

    r.recorder.On_FileModified(u"/home/u/Sync/b.txt");
    const auto queue = r.Queue();
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue[0].path, "\\b.txt");
    EXPECT_EQ(r.timerArmed, 1);
}

// The commit threads exist but do not run: the recorder only sets their events.
struct WithWorkers : Recording {
    WithWorkers() {
        app.serverThread = &server;
        app.homeThread = &home;
        app.awayThread = &away;
    }
    CThreadOfServer server{&app, &app.WaiterTree};
    CThreadOfHome home{&app, nullptr};
    CThreadOfAway away{&app, nullptr};
};

TEST(LocalChangeRecorderTest, AChangeBreaksOffTheInventoryAndAbortsTheCommitSteps) {
    WithWorkers w;
    w.recorder.On_FileAdded(u"/home/u/Sync/c.txt");
    EXPECT_TRUE(w.server.breakEvent.IsSet());
    EXPECT_TRUE(w.home.abortEvent.IsSet());
    EXPECT_TRUE(w.away.abortEvent.IsSet());
    // Neither thread holds that item: both keep their run.
    EXPECT_FALSE(w.home.breakEvent.IsSet());
    EXPECT_FALSE(w.away.breakEvent.IsSet());
    EXPECT_EQ(w.replaceAsked, 0);
    EXPECT_EQ(w.Queue().size(), 1u);
}

TEST(LocalChangeRecorderTest, AChangeThatMeetsARecordedUploadReleasesItOnceUntilServed) {
    WithWorkers w;
    w.app.awayOperation.Set(Op(0, 1, "\\a\\b.txt"));  // an upload recorded, not sent yet
    w.recorder.On_FileRemoved(u"/home/u/Sync/a");
    EXPECT_TRUE(w.away.breakEvent.IsSet());
    EXPECT_FALSE(w.home.breakEvent.IsSet());
    EXPECT_EQ(w.replaceAsked, 1);
    // The change itself is not lost: the cycle applies it.
    ASSERT_EQ(w.Queue().size(), 1u);
    EXPECT_EQ(w.Queue()[0].path, "\\a");

    // The window has not served the request yet: it is not asked again.
    w.recorder.On_FileModified(u"/home/u/Sync/a/b.txt");
    EXPECT_EQ(w.replaceAsked, 1);
    w.recorder.AwayReplaceServed();
    w.recorder.On_FileModified(u"/home/u/Sync/a/b.txt");
    EXPECT_EQ(w.replaceAsked, 2);
    EXPECT_EQ(w.Queue().size(), 3u);
}
