#pragma once
// Where a transfer's progress goes on the sync-details running page: the engine's sink for
// the HTTP client's progress reports (sync/net's ProgressSink). The commit threads make one
// per transfer and pass it to the web-API call; Report runs on that thread and updates the
// page's feed rows (CStateDoingPage, which posts to the page). It never keeps a pointer it
// would dereference later: a row key is only compared, and a node is copied (with its
// partners' records) when the target is made, so the unified tree may change meanwhile.
#include <memory>

#include "sync/net/ProgressSink.h"

template <typename T> class TreeNode;
struct SyncTaskInfo;

class ProgressTarget : public ProgressSink {
public:
    ProgressTarget() = default;  // nowhere
    // The running row added with this key (CStateDoingPage::UpdateProgressById).
    static ProgressTarget RunningRow(const TreeNode<SyncTaskInfo>* key);
    // The running row whose partner checksum equals the node's
    // (CStateDoingPage::UpdateProgressByChecksum).
    static ProgressTarget SameChecksum(const TreeNode<SyncTaskInfo>& node);

    bool Empty() const { return kind_ == Kind::None; }
    void Report(double percent) const override;
    // This target as the HTTP client's sink; null when it leads nowhere, so that a
    // transfer without a row never takes a report's turn from one with a row.
    const ProgressSink* Sink() const { return Empty() ? nullptr : this; }

private:
    struct Snapshot;
    enum class Kind { None, Row, Checksum };
    Kind kind_ = Kind::None;
    const TreeNode<SyncTaskInfo>* key_ = nullptr;
    std::shared_ptr<const Snapshot> snapshot_;
};
