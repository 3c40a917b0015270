// Building a cycle: last synchronised state, local listing and server listing in, the
// unified tree's work out.
#include <gtest/gtest.h>

#include <ostream>

#include "ReconcileWorld.h"

namespace enginetest {
namespace {

struct BuildCase {
    const char* name;
    const char* tracer;
    const char* local;
    const char* server;
    const char* unknownLocal;  // a local path the scan could not list, or ""
    const char* plan;
};

const BuildCase kBuildCases[] = {
    {"in_step", "a.txt=A", "a.txt=A", "a.txt=A", "", "/a.txt:a0t0"},
    {"local_edit", "a.txt=A", "a.txt=B", "a.txt=A", "", "/a.txt:a1t2"},
    {"server_edit", "a.txt=A", "a.txt=A", "a.txt=B", "", "/a.txt:a2t2"},
    {"both_edit_keeps_both", "a.txt=A", "a.txt=B", "a.txt=C", "", "/a.txt:a2t1 /a.txt" BAK ":a1t1"},
    {"same_new_name_same_content", "", "a.txt=A", "a.txt=A", "", "/a.txt:a0t0"},
    {"same_new_name_other_content", "", "a.txt=A", "a.txt=B", "", "/a.txt:a2t1 /a.txt" BAK ":a1t1"},
    {"new_local", "", "n.txt=N", "", "", "/n.txt:a1t1"},
    {"new_server", "", "", "n.txt=N", "", "/n.txt:a2t1"},
    {"new_server_folder", "k=K", "k=K", "k=K nd/ nd/f=F", "", "/k:a0t0 /nd/:a2t1 /nd/f:a2t1"},
    {"local_delete", "a.txt=A k=K", "k=K", "a.txt=A k=K", "", "/a.txt:a1t3 /k:a0t0"},
    {"server_delete", "a.txt=A k=K", "a.txt=A k=K", "k=K", "", "/a.txt:a2t3 /k:a0t0"},
    {"local_delete_vs_server_edit", "a.txt=A k=K", "k=K", "a.txt=B k=K", "", "/a.txt:a2t1 /k:a0t0"},
    {"server_delete_vs_local_edit", "a.txt=A k=K", "a.txt=B k=K", "k=K", "", "/a.txt:a1t1 /k:a0t0"},
    {"new_local_item_in_folder_server_deleted", "d/ d/old=O k=K", "d/ d/old=O d/new=N k=K", "k=K", "",
     "/d/:a1t1 /d/new:a1t1 /d/old:a2t3 /k:a0t0"},
    {"new_server_item_in_folder_deleted_locally", "d/ d/old=O k=K", "k=K", "d/ d/old=O d/new=N k=K", "",
     "/d/:a2t1 /d/new:a2t1 /d/old:a1t3 /k:a0t0"},
    {"server_edit_in_folder_deleted_locally", "d/ d/x=A k=K", "k=K", "d/ d/x=B k=K", "",
     "/d/:a2t1 /d/x:a2t1 /k:a0t0"},
    {"local_edit_in_folder_server_deleted", "d/ d/e/ d/e/x=A k=K", "d/ d/e/ d/e/x=B k=K", "k=K", "",
     "/d/:a1t1 /d/e/:a1t1 /d/e/x:a1t1 /k:a0t0"},
    {"file_turned_folder_locally", "x=A k=K", "x/ x/in=I k=K", "x=A k=K", "", "/k:a0t0 /x/:a1t2 /x/in:a1t1"},
    {"folder_turned_file_locally", "x/ x/in=I k=K", "x=F k=K", "x/ x/in=I k=K", "",
     "/k:a0t0 /x:a1t2 /x/in:a0t3"},
    {"folder_turned_file_on_server", "x/ x/in=I k=K", "x/ x/in=I k=K", "x=F k=K", "",
     "/k:a0t0 /x:a2t2 /x/in:a0t1"},
    {"folder_turned_file_on_server_with_local_edit_inside", "x/ x/in=I k=K", "x/ x/in=J k=K", "x=F k=K", "",
     "/k:a0t0 /x:a2t1 /x" BAK "/:a1t1 /x" BAK "/in:a1t1"},
    {"unhashed_local_file", "a.txt=A", "a.txt=?A", "a.txt=A", "", "/a.txt:a0t0"},
    {"case_only_difference_is_one_item", "", "a.txt=A", "A.TXT=A", "", "/a.txt:a0t0"},
    {"excluded_names_never_synced", "thumbs.db=X k=K", "k=K", "desktop.ini=D x.tmp=T k=K", "", "/k:a0t0"},
    {"unknown_local_item_neither_deleted_nor_downloaded", "a.txt=A k=K", "k=K", "a.txt=A k=K", "/a.txt",
     "/k:a0t0"},
    {"unknown_local_folder_keeps_its_content", "u/ u/x=X k=K", "k=K", "u/ u/x=X u/y=Y k=K", "/u", "/k:a0t0"},
    {"empty_local_folder_is_missing_not_deleted", "a.txt=A d/ d/b=B", "", "a.txt=A d/ d/b=B", "", ""},
    {"undecided_difference_stays_undecided", "a.txt=?", "a.txt=A", "a.txt=B", "", "/a.txt:a0t2"},
    {"undecided_difference_resolved_with_another_conflict", "a.txt=? b.txt=B0", "a.txt=A b.txt=B1",
     "a.txt=A2 b.txt=B2", "", "/a.txt:a2t1 /a.txt" BAK ":a1t1 /b.txt:a2t1 /b.txt" BAK ":a1t1"},
};

// Shown by name when a case fails.
void PrintTo(const BuildCase& c, std::ostream* os) { *os << c.name; }

class BuildTable : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildTable, PlanMatches) {
    const BuildCase& c = GetParam();
    World w(c.tracer, c.local, c.server);
    if (*c.unknownLocal != '\0') w.unknown.Add(c.unknownLocal);
    ASSERT_TRUE(w.Build());
    EXPECT_EQ(w.Plan(), c.plan);
    EXPECT_TRUE(w.LinksValid());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, BuildTable, ::testing::ValuesIn(kBuildCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Build, ConflictKeepsLocalVersionUnderBackupAndLinksIt) {
    World w("a.txt=A", "a.txt=B", "a.txt=C");
    ASSERT_TRUE(w.Build());
    // Both versions survive: the local one on disk under the backup name, the server one
    // is downloaded under the item's own name.
    EXPECT_FALSE(w.fs.Has("/sync/a.txt"));
    EXPECT_EQ(w.fs.Content("/sync/a.txt" BAK), "B");
    ASSERT_EQ(w.fs.moves.size(), 1u);
    EXPECT_EQ(DumpTree(w.driver), "/a.txt" BAK "=B");

    const SyncTaskInfo& backup = w.Record("a.txt" BAK);
    ASSERT_NE(backup.localPartner, nullptr);
    EXPECT_EQ(backup.localPartner->data->name, "a.txt" BAK);
    EXPECT_EQ(backup.serverPartner, nullptr);
    const SyncTaskInfo& item = w.Record("a.txt");
    EXPECT_EQ(item.localPartner, nullptr);
    ASSERT_NE(item.serverPartner, nullptr);
    EXPECT_EQ(item.serverPartner->data->checksum, "C");

    // The rename was announced as the program's own disk operation, and finished.
    const SyncOperation op = w.announce.Snapshot();
    EXPECT_EQ(op.opCode, 6u);
    EXPECT_EQ(op.state, 2u);
    // Canonical form: lower case, '\\' as the only separator, as the echo filter compares.
    EXPECT_EQ(op.path1, "\\a.txt");
    EXPECT_EQ(op.path2, SyncOperation::CanonicalPath(BaseFunc::ToLower("\\a.txt" BAK)));
    EXPECT_TRUE(w.LinksValid());
}

TEST(Build, FolderConflictRewritesBackupPathsAndDropsStaleRecords) {
    World w("x/ x/in=I k=K", "x/ x/in=J x/sub/ x/sub/s=S k=K", "x=F k=K");
    ASSERT_TRUE(w.Build());
    EXPECT_EQ(w.Plan(), "/k:a0t0 /x:a2t1 /x" BAK "/:a1t1 /x" BAK "/in:a1t1 /x" BAK "/sub/:a1t1 /x" BAK
                        "/sub/s:a1t1");
    EXPECT_EQ(DumpTree(w.driver), "/k=K /x" BAK "/ /x" BAK "/in=J /x" BAK "/sub/ /x" BAK "/sub/s=S");
    EXPECT_TRUE(w.LinksValid());
}

TEST(Build, FlagsTellAgreementAndUnknownChecksums) {
    World w("", "a=A b=?B d/", "a=A b=B d/");
    ASSERT_TRUE(w.Build());
    EXPECT_EQ(w.Record("a").flag, 1u);
    EXPECT_EQ(w.Record("b").flag, 2u);
    EXPECT_EQ(w.Record("d").flag, 1u);
    EXPECT_EQ(w.uniform.data->name, "Uniform");
    EXPECT_EQ(w.uniform.data->localPartner, &w.driver);
    EXPECT_EQ(w.uniform.data->serverPartner, &w.server);
}

TEST(Build, RebuildStartsFromNothing) {
    World w("a=A", "a=B", "a=A");
    ASSERT_TRUE(w.Build());
    w.Record("a").duty = kDutyMove;
    w.Record("a").linked = 1;
    ASSERT_TRUE(w.Build());
    EXPECT_EQ(w.Record("a").duty, 0u);
    EXPECT_EQ(w.Record("a").linked, 0u);
    EXPECT_EQ(w.Plan(), "/a:a1t2");
}

TEST(Build, CheckpointStopsTheBuild) {
    World w("a=A", "a=B", "a=A");
    std::vector<int> lines;
    EXPECT_FALSE(w.rc.BuildCycle(&w.driver, &w.server, &w.tracer, &w.uniform, [&lines](int line) {
        lines.push_back(line);
        return line < 317;
    }));
    EXPECT_EQ(lines, (std::vector<int>{310, 313, 317}));
}

}  // namespace
}  // namespace enginetest
