#pragma once
// The commit-to-local thread: carries the server side's changes (unified-tree items with
// aspect 2) to the local sync folder, then brings the Driver tree and the unified tree
// into the state after each operation. The run frame (passes, rows, report, tree safety)
// is CCommitThread's.
//
// Disk rules: every local path is a record path built from the Driver tree (the local
// parent's path and the item's name, so the disk's own spelling of each folder is used),
// and the sync folder's disk (EngineFs) keeps it inside the folder with no link on the way; a file in the way of a new folder is
// kept under a conflict backup name, never removed; a folder is deleted only when the scan
// listed everything in it (items it could not list are never deleted with it), and links
// are never followed. Downloads land in a temporary file and are renamed into place (the
// server access does this). The operation record holds canonical paths (see
// SyncOperation::CanonicalPath) so that the main window can tell these operations' own
// watcher events from the user's.
//
// A run starts its passes only once the commit-to-server thread has merged its look at
// the server (SyncApp::serverLookDone), so that merge never changes an item under way.
#include <cstdint>
#include <string>

#include "sync/engine/CommitThread.h"

class CThreadOfHome : public CCommitThread {
public:
    CThreadOfHome(SyncApp* app, SyncWindow* dialog);
    ~CThreadOfHome() override;

    // The operations themselves; true on success (trees updated, finished rows written).
    bool ExecClientCopyTask(const CommitEntry& entry);
    bool ExecClientMoveTask(const CommitEntry& entry);
    bool ExecClientDeleteTask(const CommitEntry& entry);
    bool ExecClientFolderTask(const CommitEntry& entry);
    bool ExecClientFileTask(const CommitEntry& entry);


protected:
    SyncOperationSlot& Current() override;
    const PassTask& TaskOf(std::uint32_t pass) const override;
    const FileNode* RowPartner(std::uint32_t pass, const SyncTaskInfo& record) const override;
    bool PassNeedsNetwork(std::uint32_t pass) const override { return pass == kPassFile; }
    FileNode* CopySourceTree() override;
    void ResultParams(bool ok, std::uintptr_t& wParam, std::intptr_t& lParam) const override;
    void LogParentPrecondition(const SyncTaskInfo& record) const override;
    bool PrepareRun() override;

private:
    // True when the file at the record path is still the one the Driver record `known`
    // describes (same size and MD5); false when it changed, cannot be read, or has no
    // record with a checksum to compare against.
    bool LocalFileUnchanged(const std::string& path, const SyncFileInfo* known);
    // Before a download onto `path` (the record path of `name`): a local file there that
    // is not the recorded one is moved to a conflict backup name (and its Driver node
    // dropped). False, logged, when it could not be moved aside; the file is then left as
    // it is.
    bool KeepChangedLocalFile(const CommitEntry& entry, const std::string& path, const std::string& name,
                              const SyncFileInfo* known);
    void QueueBackupAsLocalAddition(const std::string& backupRel);
    // Before a folder is made at `relPath` where the Driver tree holds a file: the file is
    // moved to a conflict backup name beside it (when it is still there) and its Driver
    // node follows it. False, logged, when it could not be moved.
    bool SetLocalFileAside(const CommitEntry& entry, const std::string& relPath, const std::string& name);
};
