#pragma once
// The commit-to-server thread: carries the local side's changes (unified-tree items with
// aspect 1) to the server, then brings the server-side tree and the unified tree into the
// state after each operation so that the next reconciliation finds nothing left to do.
// The run frame (passes, rows, report, tree safety) is CCommitThread's.
//
// Before it changes anything on the server, a run that has work looks at the server
// once: it lists the account's tree afresh and merges that listing into the unified tree
// as a newer server listing (Reconciler::MergeServerListing), then matches moves and
// copies again. Items the server changed since the cycle's listing are decided again
// (both changed: the local version is kept under a backup name, the server's is
// downloaded), items the server no longer holds are not deleted there (a delete whose
// reply was lost is not sent twice), and a folder that got new server content is not
// deleted with it. Between that listing and each request of the run lies only the run's
// own earlier work.
//
// Items and their partners: "local" is the item's Driver node, "server" its node in the
// server-side tree, the "target parent" the server node of the folder that holds the item
// (the server partner of the unified parent).
#include <cstdint>
#include <string>

#include "sync/engine/CommitThread.h"

class CThreadOfAway : public CCommitThread {
public:
    CThreadOfAway(SyncApp* app, SyncWindow* dialog);
    ~CThreadOfAway() override;

    // Upload progress of the item under way, shown on the running page.
    void OnProgress(const TreeNode<SyncTaskInfo>* node, std::uint32_t value, double percent) override;

    // The operations themselves; true on success (trees updated, finished rows written).
    bool ExecServerCopyTask(const CommitEntry& entry);
    bool ExecServerMoveTask(const CommitEntry& entry);
    bool ExecServerDeleteTask(const CommitEntry& entry);
    bool ExecServerFolderTask(const CommitEntry& entry);
    bool ExecServerFileTask(const CommitEntry& entry);


protected:
    SyncOperationSlot& Current() override;
    const PassTask& TaskOf(std::uint32_t pass) const override;
    const FileNode* RowPartner(std::uint32_t pass, const SyncTaskInfo& record) const override;
    bool PassNeedsNetwork(std::uint32_t) const override { return true; }
    FileNode* CopySourceTree() override;
    void ResultParams(bool ok, std::uintptr_t& wParam, std::intptr_t& lParam) const override;
    void OnRunStart() override;
    bool PrepareRun() override;
    void OnRunEnd() override;
    void LogParentPrecondition(const SyncTaskInfo& record) const override;

private:
    // With the tree lock held: merges a fresh listing of the server into the unified tree
    // and derives the moves and copies again.
    void MergeFreshListing(FileNode& listing);

    // The item's old server node, when there is one (a file in the way of a folder, a
    // folder in the way of a file, or the file a modified one replaces).
    struct InTheWay {
        bool exists = false;
        bool isFile = false;
        std::string ref;
        std::string parentRef;
        std::string path;
    };
    // With the tree lock held.
    static InTheWay InTheWayOf(const TaskNode* node, const std::string& parentRef);
    // Deletes the item in the way on the server, then its node (and, for a file's unified
    // node, everything below it).
    bool DeleteInTheWay(const CommitEntry& entry, const InTheWay& old, const CallFailure& failure);
};
