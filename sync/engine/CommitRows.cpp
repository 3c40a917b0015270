// The feed-list side of the commit threads (kept apart from the window messages, whose
// page numbers the feed lists define on their own).
#include "sync/engine/CommitThread.h"
#include "sync/common/FeedLists.h"

void CCommitThread::AddRunningRows(const std::vector<RunningRow>& rows, std::uint32_t deleteFlag) const {
    for (const RunningRow& row : rows) {
        CStateDoingPage::AddDoingItem(row.key, direction_, row.size, deleteFlag, 0, row.path);
    }
}

void CCommitThread::EmitRows(const std::vector<CommitRow>& rows, bool failed, std::uint32_t deleteFlag) const {
    if (rows.empty()) return;
    const std::string time = CommitTimeText();
    for (const CommitRow& row : rows) {
        CStateDoingPage::RemoveDoingItem(row.key);
        if (!row.hasPartner) continue;
        if (failed) {
            const FailReason reason = failReason_.key != nullptr ? failReason_ : FailReason{failreason::kFailed, 0};
            CStateDoneFailedPage::AddFailedItem(direction_, deleteFlag, row.size, row.name, row.path, time,
                                                reason.key, reason.code);
        } else {
            CStateDonePage::AddDoneItem(direction_, deleteFlag, row.size, row.name, row.path, time);
        }
    }
}

bool CCommitThread::FinishItem(const CommitEntry& entry, bool ok, const PassTask& task) {
    if (!ok && !IsStopResult(CheckState(task.name, task.line))) {
        ++itemsFailed_;
        std::vector<CommitRow> rows;
        bool gone = false;
        {
            TreeHold hold(*this);
            if (hold.Held()) {
                TaskNode* node = Resolve(entry);
                gone = node == nullptr;
                if (node != nullptr) GatherRows(node, task.descendants, task.partner, rows);
            }
        }
        if (gone) DropRows(entry);
        EmitRows(rows, true, task.deleteFlag);
    }
    EndOperation();
    return ok;
}

void CCommitThread::DropRows(const CommitEntry& entry) {
    CStateDoingPage::RemoveDoingItem(entry.node);
    for (const TaskNode* key : entry.rowKeys) CStateDoingPage::RemoveDoingItem(key);
}

