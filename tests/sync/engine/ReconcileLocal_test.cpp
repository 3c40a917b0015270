// Local changes: coalescing the queued records, taking the queue once it is quiet, and
// folding the changes into a built cycle (then hashing and re-judging).
#include <gtest/gtest.h>

#include <ostream>

#include <sstream>

#include "ReconcileWorld.h"

namespace enginetest {
namespace {

constexpr std::uint32_t A = kLocalAdded;
constexpr std::uint32_t R = kLocalRemoved;
constexpr std::uint32_t M = kLocalModified;
constexpr std::uint32_t N = kLocalRenamed;

std::string Describe(const LocalChangeBatch& list) {
    std::ostringstream out;
    for (const LocalChangeRecord& r : list) {
        if (out.tellp() > 0) out << ' ';
        out << "ARMNL"[r.kind - 1] << ':' << r.path;
        if (r.kind == kLocalRenamed) out << "->" << r.newPath;
    }
    return out.str();
}

// ---- SortLocalChanges ----

struct SortCase {
    const char* name;
    const char* driver;  // the local listing (and disk) before the changes
    const char* disk;    // items written to disk afterwards ("" none)
    std::vector<LocalChangeRecord> input;
    const char* expected;
};

std::vector<LocalChangeRecord> Removals(const std::string& folder, int count, std::uint64_t time) {
    std::vector<LocalChangeRecord> out;
    for (int i = 0; i < count; ++i) out.push_back(Change(R, folder + "f" + std::to_string(i) + ".txt", time));
    return out;
}

std::vector<SortCase> SortCases() {
    return {
        {"modification_soon_after_addition", "", "a.txt=A", {Change(A, "a.txt", 0), Change(M, "a.txt", 200)},
         "A:\\a.txt"},
        {"modification_long_after_addition", "", "a.txt=A", {Change(A, "a.txt", 0), Change(M, "a.txt", 600)},
         "A:\\a.txt M:\\a.txt"},
        {"modification_before_removal", "a.txt=A", "", {Change(M, "a.txt", 0), Change(R, "a.txt", 100)},
         "R:\\a.txt"},
        {"removal_of_new_name_after_rename", "", "b.txt=B",
         {Change(N, "a.txt", 0, "b.txt"), Change(R, "b.txt", 100)}, "N:\\a.txt->\\b.txt"},
        {"additions_inside_added_folder", "", "d/ d/x=X db/", {Change(A, "d", 0), Change(A, "d/x", 10), Change(A, "db", 20)},
         "A:\\d A:\\db"},
        {"removals_inside_removed_folder", "d/ d/x=X d/y=Y dx=Z", "",
         {Change(R, "d/x", 0), Change(R, "dx", 5), Change(R, "d/y", 10), Change(R, "d", 20)},
         "R:\\d/x R:\\dx R:\\d"},
        {"modification_of_new_name_after_rename", "", "b.txt=B",
         {Change(N, "a.txt", 0, "b.txt"), Change(M, "b.txt", 100)}, "N:\\a.txt->\\b.txt"},
        {"replaced_file_is_a_modification", "x=A", "x=B", {Change(R, "x", 0), Change(A, "x", 5000)}, "M:\\x"},
        {"replaced_with_other_kind_stays_two_changes", "x/", "x=B", {Change(R, "x", 0), Change(A, "x", 10)},
         "R:\\x A:\\x"},
        {"repeated_modifications", "a=A", "a=B", {Change(M, "a", 0), Change(M, "a", 5000)}, "M:\\a"},
        {"case_only_rename_is_kept", "", "A.txt=A", {Change(N, "a.txt", 0, "A.txt")}, "N:\\a.txt->\\A.txt"},
        {"modification_beside_case_only_rename_is_kept", "a.txt=A", "A.txt=B",
         {Change(M, "a.txt", 0), Change(N, "a.txt", 10, "A.txt"), Change(M, "A.txt", 20)},
         "N:\\a.txt->\\A.txt M:\\A.txt"},
        {"records_before_case_only_rename_take_the_new_case", "d/", "D/ D/x=X",
         {Change(A, "d/x", 0), Change(N, "d", 10, "D")}, "A:\\D\\x N:\\d->\\D"},
        {"replaced_folder_is_listed_again", "d/ d/x=X", "d/ d/y=Y", {Change(R, "d", 0), Change(A, "d", 10)}, "L:\\d"},
        // Removed, then made anew in another letter case: the disk knows only the new name.
        {"item_made_anew_in_other_case_is_named_as_now", "n/ n/N4=A", "n/ n/n4=B",
         {Change(R, "n/N4", 0), Change(A, "n/n4", 10)}, "M:\\n\\n4"},
        {"folder_made_anew_in_other_case_is_named_as_now", "D/ D/x=X", "d/ d/y=Y", {Change(R, "D", 0), Change(A, "d", 10)},
         "L:\\d"},
        {"rename_to_same_name_is_dropped", "", "a.txt=A", {Change(N, "a.txt", 0, "a.txt")}, ""},
        {"folder_modification_after_item_change", "d/", "d/ d/x=X", {Change(A, "d/x", 0), Change(M, "d", 10)},
         "A:\\d\\x"},
        {"other_folder_modification_is_kept", "e/", "d/ d/x=X e/", {Change(A, "d/x", 0), Change(M, "e", 10)},
         "A:\\d\\x M:\\e"},
        {"grandparent_modification_is_kept", "d/ d/e/", "d/ d/e/ d/e/x=X", {Change(A, "d/e/x", 0), Change(M, "d", 10)},
         "A:\\d\\e\\x M:\\d"},
        // Records made below a folder before its rename follow it (re-pathed, after the rename).
        {"new_items_follow_their_folder_rename", "A/", "B/ B/new/ B/new/f.txt=x",
         {Change(A, "A/new", 0), Change(A, "A/new/f.txt", 50), Change(M, "A/new/f.txt", 60), Change(N, "A", 100, "B")},
         "N:\\A->\\B A:\\B\\new"},
        {"changes_below_follow_a_slow_rename", "A/ A/old.txt=O A/z=Z", "B/ B/old.txt=P B/new/ B/new/f.txt=x",
         {Change(A, "A/new", 0), Change(A, "A/new/f.txt", 600), Change(M, "A/old.txt", 1200), Change(R, "A/z", 1300),
          Change(N, "A", 1800, "B")},
         "N:\\A->\\B A:\\B\\new M:\\B\\old.txt R:\\B\\z"},
        {"item_moved_into_a_renamed_folder_follows_it", "A/ C/ C/y=Y", "B/ B/y=Y C/",
         {Change(N, "C/y", 0, "A/y"), Change(N, "A", 100, "B")}, "N:\\A->\\B N:\\C\\y->\\B\\y"},
        {"renames_in_a_chain_keep_their_order", "A/", "C/ C/new/",
         {Change(A, "A/new", 0), Change(N, "A", 100, "B"), Change(N, "B", 200, "C")},
         "N:\\A->\\B N:\\B->\\C A:\\C\\new"},
        {"removal_of_the_old_name_stays_before", "A/", "B/ Ab/",
         {Change(R, "A", 0), Change(A, "A", 10), Change(N, "A", 100, "B"), Change(A, "Ab", 120)},
         "R:\\A N:\\A->\\B A:\\B A:\\Ab"},
        {"filtered_items", "", "thumbs.db=T",
         {Change(A, "thumbs.db", 0), Change(R, "a.tmp", 1000), Change(R, "gone.txt", 2000), Change(M, "missing.txt", 3000),
          Change(A, "missing2.txt", 4000)},
         "R:\\gone.txt"},
    };
}

// Shown by name when a case fails.
void PrintTo(const SortCase& c, std::ostream* os) { *os << c.name; }

class SortTable : public ::testing::TestWithParam<SortCase> {};

TEST_P(SortTable, Coalesces) {
    const SortCase& c = GetParam();
    World w("", c.driver, "");
    std::istringstream items(c.disk);
    std::string item;
    while (items >> item) {
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos) {
            w.fs.PutFolder("/sync/" + item);
        } else {
            w.Write(item.substr(0, eq), item.substr(eq + 1));
        }
    }
    LocalChangeBatch list(c.input.begin(), c.input.end());
    w.rc.SortLocalChanges(list, &w.driver);
    std::string expected = c.expected;
    for (char& ch : expected) {
        if (ch == '/') ch = '\\';
    }
    EXPECT_EQ(Describe(list), expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, SortTable, ::testing::ValuesIn(SortCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SortLocalChanges, ManyRemovalsInOneFolderBecomeOneRelist) {
    World w("", "", "");
    w.fs.PutFolder("/sync/d");
    std::vector<LocalChangeRecord> input = Removals("d/", 11, 0);
    LocalChangeBatch list(input.begin(), input.end());
    w.rc.SortLocalChanges(list, &w.driver);
    EXPECT_EQ(Describe(list), "L:\\d");
    EXPECT_EQ(list.front().pathKey, "\\d");

    input = Removals("d/", 10, 0);
    list.assign(input.begin(), input.end());
    w.rc.SortLocalChanges(list, &w.driver);
    EXPECT_EQ(list.size(), 10u);

    input = Removals("", 11, 0);
    list.assign(input.begin(), input.end());
    w.rc.SortLocalChanges(list, &w.driver);
    EXPECT_EQ(list.size(), 11u);  // not for the sync folder itself
}

// ---- Taking the queue ----

class QuietQueue : public ::testing::Test {
protected:
    bool Take(const std::function<bool()>& stop = {}) {
        return TakeQuietLocalChanges(lock, queue, clock, fs, stop, taken);
    }
    std::mutex lock;
    std::deque<LocalChangeRecord> queue;
    FakeClock clock;
    FakeFs fs;
    LocalChangeBatch taken;
};

TEST_F(QuietQueue, WaitsUntilTheNewestRecordIs120MsOld) {
    queue.push_back(Change(A, "a", clock.now - 50));
    queue.push_back(Change(A, "b", clock.now - 20));
    queue.push_back(Change(A, "c", clock.now));
    ASSERT_TRUE(Take());
    EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{30, 30, 30, 30}));
    EXPECT_EQ(taken.size(), 3u);
    EXPECT_TRUE(queue.empty());
}

TEST_F(QuietQueue, QuietQueueIsTakenAtOnce) {
    queue.push_back(Change(A, "a", clock.now - 120));
    ASSERT_TRUE(Take());
    EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(QuietQueue, FileStillBeingWrittenHoldsTheWholeQueue) {
    queue.push_back(Change(A, "a", clock.now - 500));
    queue.push_back(Change(M, "b", clock.now - 500));
    fs.beingWritten.insert("/sync/b");
    EXPECT_FALSE(Take());
    EXPECT_EQ(queue.size(), 2u);
    EXPECT_TRUE(taken.empty());
}

TEST_F(QuietQueue, StopOrEmptyQueueTakesNothing) {
    EXPECT_FALSE(Take());
    queue.push_back(Change(A, "a", clock.now - 500));
    EXPECT_FALSE(Take([] { return true; }));
    EXPECT_EQ(queue.size(), 1u);
}

// ---- Applying local changes ----

TEST(ApplyLocal, EditIsJudgedAfterHashing) {
    World w("a=A", "a=A", "a=A");
    ASSERT_TRUE(w.Build());
    w.Write("a", "B");
    w.Apply({Change(M, "a")});
    EXPECT_EQ(w.Record("a").linked, 1u);
    EXPECT_EQ(w.Record("a").localPartner->data->checksum, "");
    EXPECT_EQ(w.Record("a").localPartner->data->mark, 1u);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/a:a1t2");
    EXPECT_EQ(w.Record("a").linked, 0u);
    EXPECT_EQ(w.Record("a").localPartner->data->mark, 0u);
}

TEST(ApplyLocal, EditThatChangedNothingIsInStep) {
    World w("a=A", "a=A", "a=A");
    ASSERT_TRUE(w.Build());
    w.Apply({Change(M, "a")});
    w.Hash();
    EXPECT_EQ(w.Plan(), "/a:a0t0");
    EXPECT_EQ(w.Record("a").flag, 1u);
}

TEST(ApplyLocal, EditWhileDownloadPendingIsAConflict) {
    World w("a=A", "a=A", "a=B");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/a:a2t2");
    w.Write("a", "C");
    w.Apply({Change(M, "a")});
    w.Hash();
    EXPECT_EQ(w.Plan(), "/a:a2t1 /a" BAK ":a1t1");
    EXPECT_EQ(w.fs.Content("/sync/a" BAK), "C");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, UnreadableDigestKeepsEarlierWorkAndStaysPending) {
    World w("a=A", "a=A", "a=B");
    ASSERT_TRUE(w.Build());
    w.Write("a", "");  // the digest fails: the checksum stays empty
    w.Apply({Change(M, "a")});
    w.Hash();
    EXPECT_EQ(w.Plan(), "/a:a2t2");
    EXPECT_EQ(w.Record("a").linked, 1u);
    EXPECT_EQ(w.Record("a").flag, 2u);
    w.Write("a", "C");
    w.Hash();
    EXPECT_EQ(w.Plan(), "/a:a2t1 /a" BAK ":a1t1");
}

TEST(ApplyLocal, RemovedItemWithServerPartnerIsDeletedOnServerWithItsContent) {
    World w("d/ d/x=X k=K", "d/ d/x=X k=K", "d/ d/x=X k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("d");
    w.Apply({Change(R, "d")});
    EXPECT_EQ(w.Plan(), "/d/:a1t3 /d/x:a1t3 /k:a0t0");
    EXPECT_EQ(DumpTree(w.driver), "/k=K");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, RemovedLocalOnlyItemDisappears) {
    World w("k=K", "k=K n=N", "k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("n");
    w.Apply({Change(R, "n")});
    EXPECT_EQ(w.Plan(), "/k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, LocalDeleteNeverDiscardsPendingDownload) {
    World w("a=A k=K", "a=A k=K", "a=B k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("a");
    w.Apply({Change(R, "a")});
    EXPECT_EQ(w.Plan(), "/a:a2t1 /k:a0t0");
}

TEST(ApplyLocal, RemovalOfRecordWithoutLocalPartnerDoesNothing) {
    World w("k=K", "k=K", "k=K n=N");
    ASSERT_TRUE(w.Build());
    w.driver.data->checksum = "ROOT";
    w.Apply({Change(R, "n")});
    EXPECT_EQ(w.Plan(), "/k:a0t0 /n:a2t1");
    EXPECT_EQ(w.driver.data->checksum, "ROOT");  // the local side did not change
}

TEST(ApplyLocal, DeletedFolderKeepsNewServerItemInside) {
    World w("d/ d/x=X k=K", "d/ d/x=X k=K", "d/ d/x=X d/new=N k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("d");
    w.Apply({Change(R, "d")});
    EXPECT_EQ(w.Plan(), "/d/:a2t1 /d/new:a2t1 /d/x:a1t3 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, RemovalOfItemStillOnDiskIsAModification) {
    World w("a=A", "a=A", "a=A");
    ASSERT_TRUE(w.Build());
    w.Apply({Change(R, "a")});
    EXPECT_EQ(w.Record("a").linked, 1u);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/a:a0t0");
}

TEST(ApplyLocal, ItemReplacedByLinkBecomesUnknownNotDeleted) {
    World w("a=A k=K", "a=A k=K", "a=A k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("a");
    w.fs.PutOther("/sync/a");
    w.Apply({Change(R, "a")});
    EXPECT_EQ(w.Plan(), "/k:a0t0");
    EXPECT_EQ(DumpTree(w.driver), "/k=K");
    EXPECT_TRUE(w.unknown.Covers("\\a"));
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, AdditionOverExistingItemIsAModification) {
    World w("a=A", "a=A", "a=A");
    ASSERT_TRUE(w.Build());
    w.Write("a", "B");
    w.Apply({Change(A, "a")});
    w.Hash();
    EXPECT_EQ(w.Plan(), "/a:a1t2");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, AdditionStopsWhenParentIsMissing) {
    World w("k=K", "k=K", "k=K");
    ASSERT_TRUE(w.Build());
    w.Write("zz/q", "Q");
    w.Apply({Change(A, "zz/q")});
    EXPECT_EQ(DumpTree(w.driver), "/k=K");
    EXPECT_EQ(w.Plan(), "/k:a0t0");
}

TEST(ApplyLocal, NewFolderIsListedAndUploadedWhole) {
    World w("k=K", "k=K", "k=K");
    ASSERT_TRUE(w.Build());
    w.Write("d2/a", "A");
    w.Write("d2/s/b", "B");
    w.Apply({Change(A, "d2")});
    EXPECT_EQ(w.fs.listCalls, 1);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/d2/:a1t1 /d2/a:a1t1 /d2/s/:a1t1 /d2/s/b:a1t1 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, FolderThatCannotBeListedIsUnknown) {
    World w("k=K", "k=K", "k=K");
    ASSERT_TRUE(w.Build());
    w.fs.PutFolder("/sync/locked");
    w.fs.unlistable.insert("/sync/locked");
    w.Apply({Change(A, "locked")});
    EXPECT_EQ(w.Plan(), "/k:a0t0");
    EXPECT_EQ(DumpTree(w.driver), "/k=K");
    EXPECT_TRUE(w.unknown.Covers("/locked"));
}

TEST(ApplyLocal, AdditionOnPendingDownloadKeepsThatWork) {
    World w("k=K", "k=K", "k=K n=N");
    ASSERT_TRUE(w.Build());
    w.Write("n", "M");
    w.Apply({Change(A, "n")});
    EXPECT_EQ(w.Plan(), "/k:a0t0 /n:a2t1");
    w.Hash();
    EXPECT_EQ(w.Plan(), "/k:a0t0 /n:a2t1 /n" BAK ":a1t1");
    EXPECT_EQ(w.fs.Content("/sync/n" BAK), "M");
}

TEST(ApplyLocal, AdditionWithSameContentAsPendingDownloadIsInStep) {
    World w("k=K", "k=K", "k=K n=N");
    ASSERT_TRUE(w.Build());
    w.Write("n", "N");
    w.Apply({Change(A, "n")});
    w.Hash();
    EXPECT_EQ(w.Plan(), "/k:a0t0 /n:a0t0");
}

TEST(ApplyLocal, RecreatedItemResetsPendingServerDelete) {
    World w("a=A k=K", "a=A k=K", "a=A k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("a");
    w.Apply({Change(R, "a")});
    ASSERT_EQ(w.Plan(), "/a:a1t3 /k:a0t0");
    w.Write("a", "A2");
    w.Apply({Change(A, "a")});
    w.Hash();
    EXPECT_EQ(w.Plan(), "/a:a1t2 /k:a0t0");
}

TEST(ApplyLocal, RenameInSyncedFolderBecomesServerMove) {
    World w("d/ d/a=A k=K", "d/ d/a=A k=K", "d/ d/a=A k=K");
    ASSERT_TRUE(w.Build());
    w.fs.MoveItem("/sync/d/a", "/sync/d/b");
    w.Apply({Change(N, "d/a", 0, "d/b")});
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/a:a1t3 /d/b:a1t1 /k:a0t0");
    EXPECT_EQ(NodePath(w.Record("d/b").localPartner, 1), "\\d\\b");
    EXPECT_EQ(w.Record("d/a").serverPartner->data->checksum, "A");
    w.Hash();
    w.Match();
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/a:a1t3 /d/b:a1t1 move /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, RenamedFolderKeepsEveryLinkValid) {
    World w("d/ d/x=X k=K", "d/ d/x=X k=K", "d/ d/x=X k=K");
    ASSERT_TRUE(w.Build());
    w.fs.MoveItem("/sync/d", "/sync/e");
    w.Apply({Change(N, "d", 0, "e")});
    EXPECT_EQ(w.Plan(), "/d/:a1t3 /d/x:a1t3 /e/:a1t1 /e/x:a1t1 /k:a0t0");
    EXPECT_EQ(DumpTree(w.driver), "/e/ /e/x=X /k=K");
    EXPECT_TRUE(w.LinksValid());
}

// mkdir A/new; echo x > A/new/f.txt; mv A B, all in one batch: the new items reach the
// trees under their new place, the rest of the folder moves with it.
TEST(ApplyLocal, ItemsCreatedJustBeforeTheirFolderIsRenamedAreUploaded) {
    for (const bool synced : {true, false}) {
        SCOPED_TRACE(synced ? "folder on the server" : "folder only local");
        World w(synced ? "A/ A/k=K" : "", "A/ A/k=K", synced ? "A/ A/k=K" : "");
        ASSERT_TRUE(w.Build());
        w.Write("A/new/f.txt", "x");
        w.fs.MoveItem("/sync/A", "/sync/B");
        w.Apply({Change(A, "A/new", 0), Change(A, "A/new/f.txt", 50), Change(M, "A/new/f.txt", 60),
                 Change(N, "A", 110, "B")},
                true);
        w.Hash();
        if (synced) {
            EXPECT_EQ(w.Plan(), "/A/:a1t3 /A/k:a1t3 /B/:a1t1 /B/k:a1t1 /B/new/:a1t1 /B/new/f.txt:a1t1");
        } else {
            EXPECT_EQ(w.Plan(), "/B/:a1t1 /B/k:a1t1 /B/new/:a1t1 /B/new/f.txt:a1t1");
        }
        EXPECT_EQ(w.Record("B/new/f.txt").localPartner->data->checksum, "x");
        EXPECT_TRUE(w.LinksValid());
    }
}

// The same when the new items were applied (not uploaded yet) before the rename came.
TEST(ApplyLocal, ItemsAppliedBeforeTheirFolderIsRenamedGoWithIt) {
    World w("A/ A/k=K", "A/ A/k=K", "A/ A/k=K");
    ASSERT_TRUE(w.Build());
    w.Write("A/new/f.txt", "x");
    w.Apply({Change(A, "A/new", 0), Change(A, "A/new/f.txt", 50)}, true);
    w.Hash();
    ASSERT_EQ(w.Plan(), "/A/:a0t0 /A/k:a0t0 /A/new/:a1t1 /A/new/f.txt:a1t1");
    w.fs.MoveItem("/sync/A", "/sync/B");
    w.Apply({Change(N, "A", 5000, "B")}, true);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/A/:a1t3 /A/k:a1t3 /B/:a1t1 /B/k:a1t1 /B/new/:a1t1 /B/new/f.txt:a1t1");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, RenamedLocalOnlyItemJustTakesTheNewName) {
    World w("k=K", "k=K n=N", "k=K");
    ASSERT_TRUE(w.Build());
    w.fs.MoveItem("/sync/n", "/sync/m");
    w.Apply({Change(N, "n", 0, "m")});
    EXPECT_EQ(w.Plan(), "/k:a0t0 /m:a1t1");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, RenameWithPendingDownloadRestoresTheServerVersion) {
    World w("a=A k=K", "a=A k=K", "a=B k=K");
    ASSERT_TRUE(w.Build());
    w.fs.MoveItem("/sync/a", "/sync/b");
    w.Apply({Change(N, "a", 0, "b")});
    EXPECT_EQ(w.Plan(), "/a:a2t1 /b:a1t1 /k:a0t0");
    EXPECT_EQ(w.Record("a").serverPartner->data->checksum, "B");
}

TEST(ApplyLocal, CaseOnlyRenameFollowsTheDiskWithoutServerWork) {
    World w("a.txt=A k=K", "a.txt=A k=K", "a.txt=A k=K");
    ASSERT_TRUE(w.Build());
    w.fs.MoveItem("/sync/a.txt", "/sync/A.txt");
    LocalChangeBatch list{Change(N, "a.txt", 0, "A.txt")};
    w.rc.SortLocalChanges(list, &w.driver);
    w.rc.ApplyLocalChange(list, &w.driver, &w.uniform);
    EXPECT_EQ(w.Plan(), "/A.txt:a0t0 /k:a0t0");
    EXPECT_EQ(DumpTree(w.driver), "/A.txt=A /k=K");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, FolderReplacingFileWithPendingDownloadIsAConflict) {
    World w("x=A k=K", "x=A k=K", "x=B k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("x");
    w.Write("x/in", "I");
    w.Apply({Change(R, "x", 0), Change(A, "x", 10)}, true);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/k:a0t0 /x:a2t1 /x" BAK "/:a1t1 /x" BAK "/in:a1t1");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, DetachClearsPendingMark) {
    World w("a=A k=K", "a=A k=K", "a=A k=K");
    ASSERT_TRUE(w.Build());
    w.Apply({Change(M, "a")});
    ASSERT_EQ(w.Record("a").linked, 1u);
    w.Delete("a");
    w.Apply({Change(R, "a")});
    EXPECT_EQ(w.Record("a").linked, 0u);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/a:a1t3 /k:a0t0");
}

TEST(ApplyLocal, RelistRemovesWhatIsGoneAndKeepsTheRest) {
    World w("d/ d/a=A d/b=B k=K", "d/ d/a=A d/b=B k=K", "d/ d/a=A d/b=B k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("d/a");
    w.Apply({Change(kLocalRelist, "d")});
    w.Hash();
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/a:a1t3 /d/b:a0t0 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, NewLocalItemInFolderTheServerDeletedRecreatesIt) {
    World w("d/ d/old=O k=K", "d/ d/old=O k=K", "k=K");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/d/:a2t3 /d/old:a2t3 /k:a0t0");
    w.Write("d/new", "N");
    w.Apply({Change(A, "d/new")});
    w.Hash();
    EXPECT_EQ(w.Plan(), "/d/:a1t1 /d/new:a1t1 /d/old:a2t3 /k:a0t0");
}

// ---- Cases found by the randomized model (ReconcileModel_test.cpp) ----

TEST(ApplyLocal, RenameOfItemTheServerDeletedUploadsItUnderItsNewName) {
    World w("d/ d/a=A k=K", "d/ d/a=A k=K", "d/ k=K");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/d/:a0t0 /d/a:a2t3 /k:a0t0");
    w.fs.MoveItem("/sync/d/a", "/sync/d/b");
    w.Apply({Change(N, "d/a", 0, "d/b")}, true);
    w.Hash();
    // The pending delete must not follow the file to its new name.
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/b:a1t1 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, EditBesideCaseOnlyRenameIsUploaded) {
    for (const bool editFirst : {false, true}) {
        World w("a=A k=K", "a=A k=K", "a=A k=K");
        ASSERT_TRUE(w.Build());
        w.fs.MoveItem("/sync/a", "/sync/A");
        w.Write("A", "B");
        if (editFirst) {
            w.Apply({Change(M, "a", 0), Change(N, "a", 100, "A")}, true);
        } else {
            w.Apply({Change(N, "a", 0, "A"), Change(M, "A", 100)}, true);
        }
        w.Hash();
        EXPECT_EQ(w.Plan(), "/A:a1t2 /k:a0t0") << (editFirst ? "edit, then rename" : "rename, then edit");
    }
}

TEST(ApplyLocal, FolderMadeAnewIsListedAgain) {
    World w("d/ d/a=A k=K", "d/ d/a=A k=K", "d/ d/a=A k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("d");
    w.Write("d/n", "N");
    w.Apply({Change(R, "d", 0), Change(A, "d", 10)}, true);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/a:a1t3 /d/n:a1t1 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, ItemUnderUnreadableNameAfterLaterRenameIsNotDeleted) {
    // A file replaced by a link, then its folder renamed in letter case only: the removal
    // record's path is gone from the disk, but the scan knows an unreadable item there.
    World w("d/ d/a=A k=K", "d/ d/a=A k=K", "d/ d/a=A k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("d");
    w.fs.PutFolder("/sync/D");
    w.Unreadable("D/a");
    w.Apply({Change(R, "d/a", 0), Change(A, "d/a", 10), Change(N, "d", 20, "D")}, true);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/D/:a0t0 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, ServerContentBelowUnreadableItemIsJudgedWhenItsFolderGoes) {
    // The server changed what lies below a local link; the user then replaced the folder
    // around it by a file: both the server's content and the file are kept.
    World w("d/ d/x=X k=K", "d/ k=K", "d/ d/x/ d/x/in=C k=K");
    w.Unreadable("d/x");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/d/:a0t0 /k:a0t0");
    w.Delete("d");
    w.Write("d", "F");
    w.Apply({Change(R, "d", 0), Change(A, "d", 10)}, true);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/d/:a2t1 /d/x/:a2t1 /d/x/in:a2t1 /d" BAK ":a1t1 /k:a0t0");
    EXPECT_EQ(w.fs.Content("/sync/d" BAK), "F");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, ServerContentBelowUnreadableItemIsJudgedWhenItsRenamedFolderGoes) {
    // As above, with a case-only rename of the folder first (its removal record is then
    // dropped as the rename's echo, and the addition replaces the folder).
    World w("d/ d/x=X k=K", "d/ k=K", "d/ d/x/ d/x/in=C k=K");
    w.Unreadable("d/x");
    ASSERT_TRUE(w.Build());
    w.Delete("d");
    w.Write("D", "F");
    w.Apply({Change(N, "d", 0, "D"), Change(R, "D", 10), Change(A, "D", 20)}, true);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/D/:a2t1 /D/x/:a2t1 /D/x/in:a2t1 /D" BAK ":a1t1 /k:a0t0");
    EXPECT_EQ(w.fs.Content("/sync/D" BAK), "F");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, NewItemInFolderTheServerTurnedIntoFileKeepsTheFolder) {
    World w("x/ x/in=I k=K", "x/ x/in=I k=K", "x=F k=K");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/k:a0t0 /x:a2t2 /x/in:a0t1");
    w.Write("x/new", "N");
    w.Apply({Change(A, "x/new")});
    w.Hash();
    EXPECT_EQ(w.Plan(), "/k:a0t0 /x:a2t1 /x" BAK "/:a1t1 /x" BAK "/in:a1t1 /x" BAK "/new:a1t1");
    // The server then deletes its file: the local folder with the new item stays.
    w.ServerListing("k=K");
    EXPECT_EQ(w.Plan(), "/k:a0t0 /x" BAK "/:a1t1 /x" BAK "/in:a1t1 /x" BAK "/new:a1t1");
    EXPECT_EQ(w.fs.Content("/sync/x" BAK "/new"), "N");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, RenamedFolderLeavesServerContentBelowUnreadableItemInPlace) {
    World w("d/ d/x=X k=K", "d/ k=K", "d/ d/x/ d/x/in=C k=K");
    w.Unreadable("d/x");
    ASSERT_TRUE(w.Build());
    w.fs.MoveItem("/sync/d", "/sync/e");
    w.unknown.Rename("/d", "/e");
    w.Apply({Change(N, "d", 0, "e")}, true);
    w.Hash();
    // The server's folder is not deleted (nor moved) with what it holds below the link:
    // it comes back locally, and the renamed folder is new to the server.
    EXPECT_EQ(w.Plan(), "/d/:a2t1 /d/x/:a2t1 /d/x/in:a2t1 /e/:a1t1 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}
// The folder was renamed away and a new folder took its old name, in one batch: what
// stands at the old name now is listed, never judged by the listing of the folder that
// left (whose items would be deleted locally there). Whether or not the server renamed
// the folder meanwhile.
TEST(ApplyLocal, FolderRenamedAwayAndMadeAnewUnderItsOldNameIsListedAgain) {
    for (const bool serverRenamed : {true, false}) {
        SCOPED_TRACE(serverRenamed ? "server renamed it too" : "server unchanged");
        World w("d/ d/x=X k=K", "d/ d/x=X k=K", serverRenamed ? "s/ s/x=X k=K" : "d/ d/x=X k=K");
        ASSERT_TRUE(w.Build());
        w.fs.MoveItem("/sync/d", "/sync/e");
        w.Write("d/x", "N");
        w.Apply({Change(N, "d", 0, "e"), Change(A, "d", 10), Change(A, "d/x", 20)}, true);
        w.Hash();
        if (serverRenamed) {
            EXPECT_EQ(w.Plan(), "/d/:a1t1 /d/x:a1t1 /e/:a1t1 /e/x:a1t1 /k:a0t0 /s/:a2t1 /s/x:a2t1");
        } else {
            EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/x:a1t2 /e/:a1t1 /e/x:a1t1 /k:a0t0");
        }
        EXPECT_EQ(w.Record("d/x").localPartner->data->checksum, "N");
        EXPECT_TRUE(w.LinksValid());
    }
}

// A removal whose folder is back on disk (made anew, its addition not directly after):
// the folder is listed again, as a file would be digested again.
TEST(ApplyLocal, RemovedFolderStillOnDiskIsListedAgain) {
    World w("d/ d/a=A k=K", "d/ d/a=A k=K", "d/ d/a=A k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("d");
    w.Write("d/n", "N");
    w.Apply({Change(R, "d", 0)});
    w.Hash();
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/a:a1t3 /d/n:a1t1 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

// A file removed and written anew in another letter case: the new content is uploaded.
TEST(ApplyLocal, FileMadeAnewInOtherCaseIsUploaded) {
    World w("n/ n/n4=A k=K", "n/ n/N4=A k=K", "n/ n/n4=A k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("n/N4");
    w.Write("n/n4", "B");
    w.Apply({Change(R, "n/N4", 0), Change(A, "n/n4", 10)}, true);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/k:a0t0 /n/:a0t0 /n/n4:a1t2");
    EXPECT_EQ(NodePath(w.Record("n/n4").localPartner, 1), "\\n\\n4");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ApplyLocal, FolderBackWithUnreadableItemKeepsTheServerItem) {
    // The folder was gone at the build (its delete pending on the server); it comes back
    // holding a link where the file was: the server's file is not deleted.
    World w("d/ d/a=A k=K", "k=K", "d/ d/a=A k=K");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/d/:a1t3 /d/a:a1t3 /k:a0t0");
    w.fs.PutFolder("/sync/d");
    w.fs.PutOther("/sync/d/a");
    w.Apply({Change(A, "d")});
    w.Hash();
    EXPECT_TRUE(w.unknown.Covers("/d/a"));
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}
// A link stood in a folder (the server's item there was left out); the user replaced the
// folder by a file and then by an empty folder, in one batch: with the link gone, the
// server's item is downloaded into the new folder.
TEST(ApplyLocal, FolderMadeAnewWithoutItsUnreadableItemGetsTheServerItem) {
    World w("d/ d/a=A k=K", "d/ k=K", "d/ d/a=A k=K");
    w.Unreadable("d/a");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/d/:a0t0 /k:a0t0");
    w.Delete("d");
    w.unknown.Remove("/d");
    w.fs.PutFolder("/sync/d");
    w.Apply({Change(R, "d", 0), Change(A, "d", 10)}, true);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/a:a2t1 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

// A local folder holding a link is set aside under a backup name (the server has a file
// of its name); the user renames it back to its synchronised name: the link still stands
// where the server's file is, and that file is not deleted.
TEST(ApplyLocal, FolderSetAsideWithUnreadableItemAndRenamedBackKeepsTheServerItem) {
    World w("d/ d/a=A k=K", "e/ k=K", "d/ d/a=A e=F k=K");
    w.Unreadable("e/a");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/d/:a1t3 /d/a:a1t3 /e:a2t1 /e" BAK "/:a1t1 /k:a0t0");
    EXPECT_TRUE(w.unknown.Covers("/e" BAK "/a"));
    w.fs.MoveItem("/sync/e" BAK, "/sync/d");
    w.unknown.Rename("/e" BAK, "/d");
    w.Apply({Change(N, "e" BAK, 0, "d")}, true);
    w.Hash();
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /e:a2t1 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}
}  // namespace
}  // namespace enginetest
