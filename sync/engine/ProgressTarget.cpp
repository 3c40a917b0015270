#include "sync/engine/ProgressTarget.h"

#include "sync/common/FeedLists.h"
#include "sync/common/TreeNode.h"

struct ProgressTarget::Snapshot {
    std::unique_ptr<TreeNode<SyncFileInfo>> local;
    std::unique_ptr<TreeNode<SyncFileInfo>> server;
    std::unique_ptr<TreeNode<SyncTaskInfo>> node;
};

ProgressTarget ProgressTarget::RunningRow(const TreeNode<SyncTaskInfo>* key) {
    ProgressTarget target;
    if (key != nullptr) {
        target.kind_ = Kind::Row;
        target.key_ = key;
    }
    return target;
}

ProgressTarget ProgressTarget::SameChecksum(const TreeNode<SyncTaskInfo>& node) {
    auto snapshot = std::make_shared<Snapshot>();
    SyncTaskInfo record = *node.data;
    record.source = {};
    if (record.localPartner != nullptr) {
        snapshot->local = std::make_unique<TreeNode<SyncFileInfo>>(*record.localPartner->data);
        record.localPartner = snapshot->local.get();
    }
    if (record.serverPartner != nullptr) {
        snapshot->server = std::make_unique<TreeNode<SyncFileInfo>>(*record.serverPartner->data);
        record.serverPartner = snapshot->server.get();
    }
    snapshot->node = std::make_unique<TreeNode<SyncTaskInfo>>(std::move(record));
    ProgressTarget target;
    target.kind_ = Kind::Checksum;
    target.snapshot_ = std::move(snapshot);
    return target;
}

void ProgressTarget::Report(double percent) const {
    switch (kind_) {
        case Kind::Row: CStateDoingPage::UpdateProgressById(key_, percent); break;
        case Kind::Checksum: CStateDoingPage::UpdateProgressByChecksum(*snapshot_->node, percent); break;
        case Kind::None: break;
    }
}
