// The engine's progress target: a transfer's reports reach its own row of the running
// page, by row key or by partner checksum, even after the unified tree's node is gone.
#include "sync/engine/ProgressTarget.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/feedlists.h"
#include "sync/common/FeedLists.h"
#include "sync/common/TreeNode.h"

namespace {

// A transfer node whose local partner carries `checksum`, with its row on the running page.
struct Transfer {
    explicit Transfer(const std::string& checksum, const std::string& path)
        : local(std::make_unique<FileNode>(SyncFileInfo(1, 0, 0, path))),
          node(std::make_unique<TaskNode>(SyncTaskInfo(1, "f", 1, 1, 0, local.get(), nullptr))) {
        local->data->checksum = checksum;
        CStateDoingPage::AddDoingItem(node.get(), 0, 0, 0, 0, path);
    }
    std::unique_ptr<FileNode> local;
    std::unique_ptr<TaskNode> node;
};

class ProgressTargetTest : public ::testing::Test {
protected:
    const testsupport::EmptyFeedLists feeds;

    static double Percent(std::size_t row) { return CStateDoingPage::Snapshot().at(row).percent; }
};

TEST_F(ProgressTargetTest, ARowKeyReachesOnlyItsRow) {
    Transfer first("C1", "\\a.bin");
    Transfer second("C2", "\\b.bin");
    const ProgressTarget target = ProgressTarget::RunningRow(second.node.get());
    ASSERT_EQ(&target, target.Sink());
    target.Sink()->Report(42.5);
    EXPECT_EQ(0.0, Percent(0));
    EXPECT_EQ(42.5, Percent(1));
}

TEST_F(ProgressTargetTest, AChecksumTargetOutlivesTheTreeNode) {
    Transfer other("C1", "\\a.bin");
    Transfer transfer("C2", "\\b.bin");
    const ProgressTarget target = ProgressTarget::SameChecksum(*transfer.node);
    // The commit thread may drop the node (and its partners) while the upload runs.
    transfer.node.reset();
    transfer.local.reset();
    target.Sink()->Report(30.0);
    EXPECT_EQ(0.0, Percent(0));
    EXPECT_EQ(30.0, Percent(1));
}

TEST_F(ProgressTargetTest, ATargetThatLeadsNowhereIsNoSink) {
    Transfer transfer("C1", "\\a.bin");
    EXPECT_EQ(nullptr, ProgressTarget().Sink());
    const ProgressTarget noRow = ProgressTarget::RunningRow(nullptr);
    EXPECT_TRUE(noRow.Empty());
    EXPECT_EQ(nullptr, noRow.Sink());
    noRow.Report(50.0);
    EXPECT_EQ(0.0, Percent(0));
}

}  // namespace
