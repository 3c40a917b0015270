// A newer server listing merged into a built cycle.
#include <gtest/gtest.h>

#include <ostream>

#include "ReconcileWorld.h"

namespace enginetest {
namespace {

struct ServerCase {
    const char* name;
    const char* tracer;
    const char* local;
    const char* server;
    const char* listing;  // the newer server listing
    const char* plan;
};

const ServerCase kServerCases[] = {
    {"server_delete_of_unchanged_file", "a=A k=K", "a=A k=K", "a=A k=K", "k=K", "/a:a2t3 /k:a0t0"},
    {"vanished_pending_download", "k=K", "k=K", "k=K n=N", "k=K", "/k:a0t0"},
    {"reference_only_change", "a=A#r1", "a=A", "a=A#r1", "a=A#r2", "/a:a0t0"},
    {"new_server_folder", "k=K", "k=K", "k=K", "k=K nd/ nd/f=F nd/s/ nd/s/g=G",
     "/k:a0t0 /nd/:a2t1 /nd/f:a2t1 /nd/s/:a2t1 /nd/s/g:a2t1"},
    {"pending_local_delete_survives_unchanged_listing", "a=A k=K", "k=K", "a=A k=K", "a=A k=K",
     "/a:a1t3 /k:a0t0"},
    {"server_edit_wins_over_pending_local_delete", "a=A k=K", "k=K", "a=A k=K", "a=B k=K", "/a:a2t1 /k:a0t0"},
    {"new_server_item_in_folder_pending_local_delete", "d/ d/x=X k=K", "k=K", "d/ d/x=X k=K",
     "d/ d/x=X d/new=N k=K", "/d/:a2t1 /d/new:a2t1 /d/x:a1t3 /k:a0t0"},
    {"pending_upload_against_server_delete", "a=A k=K", "a=B k=K", "a=A k=K", "k=K", "/a:a1t1 /k:a0t0"},
    {"pending_upload_in_folder_the_server_deleted", "d/ d/x=X d/y=Y k=K", "d/ d/x=Z d/y=Y k=K",
     "d/ d/x=X d/y=Y k=K", "k=K", "/d/:a1t1 /d/x:a1t1 /d/y:a2t3 /k:a0t0"},
    {"pending_upload_against_server_edit", "a=A", "a=B", "a=A", "a=C", "/a:a2t1 /a" BAK ":a1t1"},
    {"server_edit_on_in_step_file", "a=A", "a=A", "a=A", "a=B", "/a:a2t2"},
    {"server_edit_to_local_content", "a=A", "a=B", "a=A", "a=B", "/a:a1t2"},
    {"server_file_turned_folder", "x=A k=K", "x=A k=K", "x=A k=K", "x/ x/in=I k=K", "/k:a0t0 /x/:a2t2 /x/in:a2t1"},
    {"server_folder_turned_file_over_local_edit", "x/ x/in=I k=K", "x/ x/in=J k=K", "x/ x/in=I k=K", "x=F k=K",
     "/k:a0t0 /x:a2t1 /x" BAK "/:a1t1 /x" BAK "/in:a1t1"},
    {"unchanged_server_folder_keeps_pending_kind_change", "x=A k=K", "x=A k=K", "x/ x/in=I k=K",
     "x/ x/in=I k=K", "/k:a0t0 /x/:a2t2 /x/in:a2t1"},
    {"new_server_item_in_folder_replaced_by_local_file_keeps_both", "x/ x/in=I k=K", "x=F k=K", "x/ x/in=I k=K",
     "x/ x/in=I x/new=N k=K", "/k:a0t0 /x/:a2t1 /x/in:a2t1 /x/new:a2t1 /x" BAK ":a1t1"},
    {"server_kind_change_in_folder_replaced_by_local_file_keeps_both", "x/ x/in/ x/in/a=A k=K", "x=F k=K",
     "x/ x/in/ x/in/a=A k=K", "x/ x/in=I k=K", "/k:a0t0 /x/:a2t1 /x/in:a2t1 /x" BAK ":a1t1"},
    // The server replaced a folder by a file (the local folder is to be set aside when the
    // file comes down), then deleted it: the local folder is deleted as what it is, with
    // everything in it.
    {"server_deletes_its_file_over_a_local_folder", "d/ d/f/ d/f/x=X k=K", "d/ d/f/ d/f/x=X k=K",
     "d/ d/f=F k=K", "k=K", "/d/:a2t3 /d/f/:a2t3 /d/f/x:a2t3 /k:a0t0"},
    {"excluded_server_names_ignored", "k=K", "k=K", "k=K", "k=K thumbs.db=T a.tmp=X", "/k:a0t0"},
};

// Shown by name when a case fails.
void PrintTo(const ServerCase& c, std::ostream* os) { *os << c.name; }

class ServerTable : public ::testing::TestWithParam<ServerCase> {};

TEST_P(ServerTable, MergeMatches) {
    const ServerCase& c = GetParam();
    World w(c.tracer, c.local, c.server);
    ASSERT_TRUE(w.Build());
    w.ServerListing(c.listing);
    EXPECT_EQ(w.Plan(), c.plan);
    EXPECT_TRUE(w.LinksValid());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ServerTable, ::testing::ValuesIn(kServerCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServerChanges, ReferenceOnlyChangeTouchesOnlyTheReference) {
    World w("a=A#r1", "a=A", "a=A#r1");
    ASSERT_TRUE(w.Build());
    w.ServerListing("a=A#r2");
    const FileNode* sp = w.Record("a").serverPartner;
    ASSERT_NE(sp, nullptr);
    EXPECT_EQ(sp->data->nodeRef, "r2");
    EXPECT_EQ(sp->data->checksum, "A");
}

TEST(ServerChanges, NewFolderIsCopiedIntoTheServerTree) {
    World w("k=K", "k=K", "k=K");
    ASSERT_TRUE(w.Build());
    w.ServerListing("k=K nd/ nd/f=F");
    EXPECT_EQ(DumpTree(w.server), "/k=K /nd/ /nd/f=F");
    EXPECT_EQ(w.Record("nd/f").serverPartner, FindFileNodeByPath(&w.server, 1, "\\nd\\f"));
}

TEST(ServerChanges, LocalDeleteThenUnchangedListing) {
    World w("a=A k=K", "a=A k=K", "a=A k=K");
    ASSERT_TRUE(w.Build());
    w.Delete("a");
    w.Apply({Change(kLocalRemoved, "a")});
    w.ServerListing("a=A k=K");
    EXPECT_EQ(w.Plan(), "/a:a1t3 /k:a0t0");
}

TEST(ServerChanges, ServerEditWhileLocalDigestPendingRaisesConflictWhenHashed) {
    World w("a=A k=K", "a=A k=K", "a=A k=K");
    ASSERT_TRUE(w.Build());
    w.Write("a", "L");
    w.Apply({Change(kLocalModified, "a")});
    w.ServerListing("a=S k=K");
    EXPECT_EQ(w.Plan(), "/a:a2t2 /k:a0t0");
    w.Hash();
    EXPECT_EQ(w.Plan(), "/a:a2t1 /a" BAK ":a1t1 /k:a0t0");
    EXPECT_EQ(w.fs.Content("/sync/a" BAK), "L");
}

TEST(ServerChanges, LocalEditAgainstServerFolderStaysAConflictAfterUnchangedListing) {
    // The server turned the file into a folder with new content; an unchanged listing must
    // not drop that work, or the local edit would be uploaded over the server's folder.
    World w("x=A k=K", "x=A k=K", "x/ x/in=I k=K");
    ASSERT_TRUE(w.Build());
    w.ServerListing("x/ x/in=I k=K");
    w.Write("x", "B");
    w.Apply({Change(kLocalModified, "x")});
    w.Hash();
    EXPECT_EQ(w.Plan(), "/k:a0t0 /x/:a2t1 /x/in:a2t1 /x" BAK ":a1t1");
    EXPECT_EQ(w.fs.Content("/sync/x" BAK), "B");
}

TEST(ServerChanges, NewServerItemBelowUnknownPlaceStopsThePendingDeleteAroundIt) {
    // The folder was deleted locally, then a link took its name; the server adds an item
    // to the folder: the delete of the folder must not take the new item along.
    World w("d/ d/a=A k=K", "k=K", "d/ d/a=A k=K");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/d/:a1t3 /d/a:a1t3 /k:a0t0");
    w.Unreadable("d");
    w.ServerListing("d/ d/a=A d/n=N k=K");
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/a:a1t3 /k:a0t0");
}

TEST(ServerChanges, ServerItemHiddenBehindUnknownPlaceIsJudgedOnceTheLocalSideHasAnItemThere) {
    // A link stood where the server has a file; the user put a file in its place, and the
    // server turned its file into a folder: the newer listing is judged against the new
    // local file (both are kept), not dropped because of the stale server node.
    World w("d/ d/a=A k=K", "d/ k=K", "d/ d/a=A k=K");
    w.Unreadable("d/a");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/d/:a0t0 /k:a0t0");
    w.fs.Remove("/sync/d/a");
    w.Write("d/a", "L");
    w.Apply({Change(kLocalAdded, "d/a")});
    w.Hash();
    w.ServerListing("d/ d/a/ d/a/in=C k=K");
    w.Hash();
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/a/:a2t1 /d/a/in:a2t1 /d/a" BAK ":a1t1 /k:a0t0");
    EXPECT_EQ(w.fs.Content("/sync/d/a" BAK), "L");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ServerChanges, NewServerItemAtUnknownPlaceIsKeptWhenTheLocalFolderGoes) {
    // The newer listing's item at the place of a link stays in the server tree, so that
    // the local removal of the folder around it does not delete it unseen.
    World w("d/ d/a=A k=K", "d/ d/a=A k=K", "d/ d/a=A k=K");
    w.Unreadable("d/x");
    ASSERT_TRUE(w.Build());
    w.ServerListing("d/ d/a=A d/x=C k=K");
    ASSERT_EQ(w.Plan(), "/d/:a0t0 /d/a:a0t0 /k:a0t0");
    w.Delete("d");
    w.Apply({Change(kLocalRemoved, "d")});
    EXPECT_EQ(w.Plan(), "/d/:a2t1 /d/a:a1t3 /d/x:a2t1 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

TEST(ServerChanges, NewServerItemOverUnknownLocalItemIsLeftAlone) {
    World w("k=K", "k=K", "k=K");
    ASSERT_TRUE(w.Build());
    w.unknown.Add("/n");
    w.ServerListing("k=K n=N");
    EXPECT_EQ(w.Plan(), "/k:a0t0");
}

TEST(ServerChanges, ServerItemMatchingPendingUploadIsLinked) {
    World w("k=K", "k=K n=N", "k=K");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/k:a0t0 /n:a1t1");
    w.ServerListing("k=K n=N");
    EXPECT_EQ(w.Plan(), "/k:a0t0 /n:a0t0");
    EXPECT_EQ(w.Record("n").flag, 1u);
    w.ServerListing("k=K n=X");
    EXPECT_EQ(w.Plan(), "/k:a0t0 /n:a2t2");
}

// As above, with a local edit inside the folder, before or after the server's delete:
// the edited file is uploaded and the folders around it are made again on the server.
TEST(ServerChanges, LocalEditBelowFolderTheServerReplacedAndDeletedIsUploaded) {
    for (const bool editFirst : {false, true}) {
        SCOPED_TRACE(editFirst ? "edit, then server delete" : "server delete, then edit");
        World w("d/ d/f/ d/f/g/ d/f/g/x=X d/f/y=Y k=K", "d/ d/f/ d/f/g/ d/f/g/x=X d/f/y=Y k=K", "d/ d/f=F k=K");
        ASSERT_TRUE(w.Build());
        ASSERT_EQ(w.Plan(), "/d/:a0t0 /d/f:a2t2 /d/f/g/:a0t1 /d/f/g/x:a0t1 /d/f/y:a0t1 /k:a0t0");
        const auto edit = [&] {
            w.Write("d/f/g/x", "Z");
            w.Apply({Change(kLocalModified, "d/f/g/x")});
            w.Hash();
        };
        if (editFirst) edit();
        w.ServerListing("k=K");
        if (!editFirst) edit();
        EXPECT_EQ(w.Plan(), "/d/:a1t1 /d/f/:a1t1 /d/f/g/:a1t1 /d/f/g/x:a1t1 /d/f/y:a2t3 /k:a0t0");
        EXPECT_TRUE(w.LinksValid());
    }
}

// The mirror case: the local side replaced the folder by a file and then deleted it; the
// server's edit inside the folder is downloaded with the folders around it.
TEST(ServerChanges, ServerEditBelowFolderTheLocalSideReplacedAndDeletedIsDownloaded) {
    World w("d/ d/f/ d/f/g/ d/f/g/x=X d/f/y=Y k=K", "d/ d/f=F k=K", "d/ d/f/ d/f/g/ d/f/g/x=X d/f/y=Y k=K");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/d/:a0t0 /d/f:a1t2 /d/f/g/:a0t3 /d/f/g/x:a0t3 /d/f/y:a0t3 /k:a0t0");
    w.Delete("d/f");
    w.Apply({Change(kLocalRemoved, "d/f")});
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/f/:a1t3 /d/f/g/:a1t3 /d/f/g/x:a1t3 /d/f/y:a1t3 /k:a0t0");
    w.ServerListing("d/ d/f/ d/f/g/ d/f/g/x=Z d/f/y=Y k=K");
    EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/f/:a2t1 /d/f/g/:a2t1 /d/f/g/x:a2t1 /d/f/y:a1t3 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

// An item held back below a folder the server replaced by a file is renamed locally;
// then the server deletes its file: under its new name the item is new, and uploaded.
TEST(ServerChanges, RenamedItemHeldBackBelowServerFileIsUploadedWhenTheFileGoes) {
    World w("d/ d/a=A k=K", "d/ d/a=A k=K", "d=F k=K");
    ASSERT_TRUE(w.Build());
    ASSERT_EQ(w.Plan(), "/d:a2t2 /d/a:a0t1 /k:a0t0");
    w.fs.MoveItem("/sync/d/a", "/sync/d/b");
    w.Apply({Change(kLocalRenamed, "d/a", 0, "d/b")}, true);
    w.Hash();
    w.ServerListing("k=K");
    EXPECT_EQ(w.Plan(), "/d/:a1t1 /d/b:a1t1 /k:a0t0");
    EXPECT_TRUE(w.LinksValid());
}

// A link stood where the server changed its item (a file turned folder); the user puts a
// file in the link's place: it is judged against the server's item at once (both kept),
// whether it comes as an addition or with its folder listed anew.
TEST(ServerChanges, LocalItemReplacingUnknownOneIsJudgedAgainstTheServerItemThere) {
    for (const std::uint32_t kind : {kLocalAdded, kLocalRelist}) {
        SCOPED_TRACE(kind == kLocalAdded ? "addition" : "folder listed anew");
        World w("d/ d/a=A k=K", "d/ k=K", "d/ d/a/ d/a/in=C k=K");
        w.Unreadable("d/a");
        ASSERT_TRUE(w.Build());
        ASSERT_EQ(w.Plan(), "/d/:a0t0 /k:a0t0");
        w.fs.Remove("/sync/d/a");
        w.Write("d/a", "L");
        w.Apply({Change(kind, kind == kLocalAdded ? "d/a" : "d")});
        w.Hash();
        EXPECT_EQ(w.Plan(), "/d/:a0t0 /d/a/:a2t1 /d/a/in:a2t1 /d/a" BAK ":a1t1 /k:a0t0");
        EXPECT_EQ(w.fs.Content("/sync/d/a" BAK), "L");
        EXPECT_TRUE(w.LinksValid());
    }
}

TEST(ServerChanges, ServerItemDifferingFromPendingUploadIsAConflict) {
    World w("k=K", "k=K n=N", "k=K");
    ASSERT_TRUE(w.Build());
    w.ServerListing("k=K n=X");
    EXPECT_EQ(w.Plan(), "/k:a0t0 /n:a2t1 /n" BAK ":a1t1");
}

}  // namespace
}  // namespace enginetest
