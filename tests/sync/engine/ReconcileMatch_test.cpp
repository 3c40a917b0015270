// Matching moves and copies after a build.
#include <gtest/gtest.h>

#include <ostream>

#include "ReconcileWorld.h"

namespace enginetest {
namespace {

struct MatchCase {
    const char* name;
    const char* tracer;
    const char* local;
    const char* server;
    const char* plan;
};

const MatchCase kMatchCases[] = {
    {"server_rename_becomes_local_move", "a=A k=K", "a=A k=K", "b=A k=K", "/a:a2t3 /b:a2t1 move /k:a0t0"},
    {"server_copy_becomes_local_copy", "a=A d/ d/k=K", "a=A d/ d/k=K", "a=A d/ d/k=K d/a=A",
     "/a:a0t0 /d/:a0t0 /d/a:a2t1 copy /d/k:a0t0"},
    {"local_folder_move_becomes_server_move", "p/ p/f/ p/f/x=X q/", "p/ q/ q/f/ q/f/x=X", "p/ p/f/ p/f/x=X q/",
     "/p/:a0t0 /p/f/:a1t3 /p/f/x:a1t3 /q/:a0t0 /q/f/:a1t1 move /q/f/x:a1t1"},
    {"local_rename_in_same_folder_becomes_server_move", "d/ d/a=A", "d/ d/b=A", "d/ d/a=A",
     "/d/:a0t0 /d/a:a1t3 /d/b:a1t1 move"},
    {"upload_of_unrelated_same_content_is_not_a_copy", "k=K d/ d/o=Z", "k=K d/ d/o=Z n=Z", "k=K d/ d/o=Z",
     "/d/:a0t0 /d/o:a0t0 /k:a0t0 /n:a1t1"},
    {"upload_copy_needs_same_name_in_other_folder", "k=K d/ d/n=Z e/", "k=K d/ d/n=Z e/ e/n=Z", "k=K d/ d/n=Z e/",
     "/d/:a0t0 /d/n:a0t0 /e/:a0t0 /e/n:a1t1 copy /k:a0t0"},
    {"checksums_differing_in_case_do_not_match", "a=AB k=K", "a=AB k=K", "b=ab k=K", "/a:a2t3 /b:a2t1 /k:a0t0"},
    {"one_move_source_serves_one_move", "a=A k=K", "a=A k=K", "b=A c=A k=K",
     "/a:a2t3 /b:a2t1 move /c:a2t1 copy /k:a0t0"},
};

// Shown by name when a case fails.
void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }

class MatchTable : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchTable, DutiesMatch) {
    const MatchCase& c = GetParam();
    World w(c.tracer, c.local, c.server);
    ASSERT_TRUE(w.Build());
    w.Match();
    EXPECT_EQ(w.Plan(), c.plan);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, MatchTable, ::testing::ValuesIn(kMatchCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Match, SourcesPointAtTheRightNodes) {
    World w("a=A d/ d/k=K", "a=A d/ d/k=K", "b=A d/ d/k=K d/c=K");
    ASSERT_TRUE(w.Build());
    w.Match();
    const SyncTaskInfo& moved = w.Record("b");
    ASSERT_EQ(moved.duty, static_cast<std::uint32_t>(kDutyMove));
    EXPECT_EQ(moved.SourceTaskNode(), w.Node("a"));
    const SyncTaskInfo& copied = w.Record("d/c");
    ASSERT_EQ(copied.duty, static_cast<std::uint32_t>(kDutyCopy));
    EXPECT_EQ(copied.SourceFileNode(), w.Record("d/k").localPartner);
}

TEST(Match, ClearDutiesForgetsEarlierMatches) {
    World w("a=A k=K", "a=A k=K", "b=A k=K");
    ASSERT_TRUE(w.Build());
    w.Match();
    ASSERT_EQ(w.Record("b").duty, static_cast<std::uint32_t>(kDutyMove));
    w.rc.ClearDuties(&w.uniform);
    EXPECT_EQ(w.Record("b").duty, 0u);
    EXPECT_EQ(w.Record("b").SourceTaskNode(), nullptr);
}

}  // namespace
}  // namespace enginetest
