#pragma once
// The frame shared by the two commit threads (ThreadOfAway.h: local changes to the
// server, ThreadOfHome.h: server changes to the local disk). A RUN command makes one
// commit run over the unified tree: five passes (copies, moves, deletes, folders, files),
// each collecting the items of the thread's direction, listing them on the running page
// and working them one at a time. The run's result always reaches the main window with
// WM_SIGMA_CONFORM (sent; posted when the thread is being stopped, so a main window that
// waits for the stop is never blocked), also when the run is stopped, broken off or
// replaced, so a cycle never waits for a report that does not come. The command loop
// (BIND, PAUSE, RESUME, EXIT, the per-pass reset, a stop asked for before the run) is
// CWorkerLoop's; RUN is the frame's one pass.
//
// One item's work has one shape in both directions, and the frame owns it: RunItem looks
// up the pass's task in the direction's table (TaskOf), runs its operation and ends the
// item (failed rows with the reason, the operation record closed); an operation is a set
// of steps (ItemSteps: snapshot under the tree lock, the call, placing under the lock)
// that RunSteps runs with the locking, re-finding and row emission in between.
//
// Tree safety. Both commit threads change the trees while the other one walks them, and
// an item may erase nodes that later entries of the same list point at (a move erases its
// old place). So nodes are never trusted across a lock release: every list entry keeps
// the node's path, and each step that touches the trees takes treeLock (waiting on quit,
// break and the lock), finds the node again by that path and goes on only when it is the
// same node, still carrying the pass's work. Copy and move sources are pinned the same
// way. Feed rows are gathered under the lock and handed to the pages after it is released.
//
// The local disk is the sync folder's EngineFs (EngineFs.h), rooted at the start of every
// run: every local path is a record path checked there (never outside the sync folder,
// never through a link).
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sync/common/TreeNode.h"
#include "sync/common/WorkerLoop.h"
#include "sync/engine/CommitServerOps.h"
#include "sync/engine/EngineContext.h"
#include "sync/engine/EngineFs.h"
#include "sync/engine/FailReasons.h"

// One item of a pass list.
struct CommitEntry {
    TaskNode* node = nullptr;  // identity only: compared, dereferenced after re-finding
    std::string path;          // the node's place in the unified tree ('\\' separators)
    std::vector<const TaskNode*> rowKeys;  // keys of the running rows listed for it
    // Copy and move: the source, with its place in its tree when the list was made.
    const void* source = nullptr;
    std::string sourcePath;
};

// One finished or failed row, copied from the tree under the lock.
struct CommitRow {
    const TaskNode* key = nullptr;
    bool hasPartner = false;  // false: the running row is removed, no row is added
    std::int64_t size = 0;
    std::string name;
    std::string path;
};

class CCommitThread : public CWorkerLoop {
public:
    enum Pass : std::uint32_t {
        kPassFile = 1,
        kPassFolder = 2,
        kPassDelete = 3,
        kPassMove = 4,
        kPassCopy = 5,
    };

    ~CCommitThread() override;

    // One commit run (the five passes). False when it was stopped (quit, suspend, break,
    // abort), the network went down where the direction needs it, or a collection was
    // stopped; single failed items do not make it false (they go on with the next item),
    // but the run then reports a failure to the main window.
    bool CommitOnRunHandler();

    // Replaces the server access (tests); call before Start. The object must outlive the
    // thread. Null: the application's web-API object.
    void SetServerOps(CommitServerOps* ops) { serverOps_ = ops; }
    // Replaces the local disk (tests); call before Start. It must be rooted at the sync
    // folder by its owner and outlive the thread. Null: the thread's own disk, rooted at
    // the application's sync folder at the start of every run.
    void SetLocalFs(EngineFs* fs) { fs_ = fs != nullptr ? fs : &diskFs_; }

    // The failure of a server call: its text, then for a status of 400 or more the
    // network line, and for 502 the exit line and WM_PIPE_EXIT to the main window.
    struct CallFailure {
        const char* text;
        int textLevel;
        int textLine;
        int statusLevel;
        int statusLine;
        int exitLine;
        const char* statusSuffix;  // what follows the status number
        const char* exitSuffix;    // what follows the exit line's text
    };

    // Log lines of PlaceCopyOrMove.
    struct PlaceLog {
        int oldNotErased;
        int notFound;
        int notMatched;
        int childMissing;
        int sourceNotErased;
        const char* sourceNotErasedText;
    };

    // The unified-tree path of a node ("\\a\\b"); "" for the root.

    // Bound owners (THREAD_CMD_BIND).
    SyncApp* app = nullptr;
    SyncWindow* dialog = nullptr;
    // The pass under way (Pass), 0 between runs.
    std::atomic<std::uint32_t> passCode{0};
    std::deque<CommitEntry> fileTasks;
    std::deque<CommitEntry> folderTasks;
    std::deque<CommitEntry> deleteTasks;
    std::deque<CommitEntry> moveTasks;
    std::deque<CommitEntry> copyTasks;
    // Pause before each item (and each parent folder made for a copy or move), cut short
    // by a quit, break or abort.
    std::uint32_t itemPauseMs = 0;

protected:
    // `aspect`: the direction of the items this thread carries (1 to the server, 2 to the
    // local disk); `direction`: the first value of its feed rows (0 server, 1 local).
    CCommitThread(SyncApp* app, SyncWindow* dialog, std::u16string threadName, std::uint32_t aspect,
                  std::uint32_t direction, const char* logSource);

    bool Bind() override;
    bool IsPassCommand(std::uint32_t command) const override { return command == THREAD_CMD_RUN; }
    std::uint32_t RunPass(std::uint32_t command) override;
    void OnExit() override;

    // One pass's operation of a direction and how its failed rows are shown. The frame
    // runs the operation; when it failed and no quit, suspend or break is pending
    // (CheckState with `name` and `line`), the item's running rows go to the failed page
    // (the node's and, with `descendants`, those of the nodes below it that have a
    // partner); the operation record is then marked ended.
    using Exec = bool (CCommitThread::*)(const CommitEntry&);
    struct PassTask {
        Exec exec;
        const char* name;
        int line;
        bool descendants;
        const FileNode* (*partner)(const SyncTaskInfo&);  // the record a failed row shows
        std::uint32_t deleteFlag;
    };
    template <typename Thread>
    static Exec ExecOf(bool (Thread::*exec)(const CommitEntry&)) {
        return static_cast<Exec>(exec);
    }

    // The steps of one item operation. RunSteps runs them in this order and stops at the
    // first that fails:
    //   parents (copies and moves): every ancestor folder the receiving side lacks is made;
    //   snapshot, under the tree lock, with the entry's node found again (and, with
    //     `snapshotUnderParent`, the receiving side's partner of its parent): copies what
    //     the call needs out of the trees;
    //   call, without the lock: begins the operation record, makes the server or disk call
    //     and reports its failure;
    //   place, under the tree lock, with the node found again the same way
    //     (`placeUnderParent`): brings the trees to the state after the operation and
    //     gathers the finished rows, which are then emitted with `deleteFlag`.
    // A node not found again is logged as stale.
    struct ItemSteps {
        bool parents = false;
        bool snapshotUnderParent = true;
        bool placeUnderParent = true;
        std::uint32_t deleteFlag = 0;
        std::function<bool(TaskNode& node, FileNode* parent)> snapshot;
        std::function<bool()> call;
        std::function<bool(TaskNode& node, FileNode* parent, std::vector<CommitRow>& rows)> place;
    };
    bool RunSteps(const CommitEntry& entry, const ItemSteps& steps);

    // ---- what a direction supplies ----
    virtual SyncOperationSlot& Current() = 0;
    // The direction's table: the task of each pass.
    virtual const PassTask& TaskOf(std::uint32_t pass) const = 0;
    // The record whose path and size a running row of this pass shows.
    virtual const FileNode* RowPartner(std::uint32_t pass, const SyncTaskInfo& record) const = 0;
    virtual bool PassNeedsNetwork(std::uint32_t pass) const = 0;
    // The tree that holds copy sources (the receiving side's listing).
    virtual FileNode* CopySourceTree() = 0;
    // The main window's WM_SIGMA_CONFORM parameters for a run result.
    virtual void ResultParams(bool ok, std::uintptr_t& wParam, std::intptr_t& lParam) const = 0;
    virtual void OnRunStart() {}
    // After OnRunStart, before the first pass collects anything: false ends the run as
    // stopped.
    virtual bool PrepareRun() { return true; }
    // When a run ends (also a stopped one) and when a run still queued is dropped by EXIT.
    virtual void OnRunEnd() {}

    // ---- helpers of the operations ----
    // Holds treeLock for its lifetime when it could be taken; a quit or break ends the
    // wait without it.
    class TreeHold {
    public:
        explicit TreeHold(CCommitThread& thread);
        ~TreeHold();
        TreeHold(const TreeHold&) = delete;
        TreeHold& operator=(const TreeHold&) = delete;
        bool Held() const { return held_; }

    private:
        plat::WaitableMutex* lock_ = nullptr;
        bool held_ = false;
    };

    // With the tree lock held: the entry's node when it is still in the tree at its path.
    TaskNode* Resolve(const CommitEntry& entry);
    // With the tree lock held: the pinned move source (unified node) or copy source
    // (CopySourceTree node) when still at its place; null otherwise.
    TaskNode* ResolveMoveSource(const CommitEntry& entry);
    FileNode* ResolveCopySource(const CommitEntry& entry);
    // With the tree lock held: an entry for a node of the tree; with `pinSource` (copy and
    // move passes) its source is pinned too. Outside those passes a record's source is
    // never read: an item whose copy or move failed may point at a node gone since.
    CommitEntry EntryFor(TaskNode* node, bool pinSource = false) const;

    // The operation record: a new operation (texts made canonical), and its end.
    void BeginOperation(std::uint32_t kind, std::uint32_t state, std::uint32_t opCode, const std::string& path1,
                        const std::string& path2);
    void EndOperation();

    // Rows of the node (and, with `descendants`, of every node below it in pre-order);
    // `partner` picks the record a row shows; a row's path has '/' separators.
    using PartnerOf = std::function<const FileNode*(const SyncTaskInfo&)>;
    static void GatherRows(TaskNode* node, bool descendants, const PartnerOf& partner, std::vector<CommitRow>& out);
    // Moves the rows from the running page to the finished (or failed) page.
    void EmitRows(const std::vector<CommitRow>& rows, bool failed, std::uint32_t deleteFlag) const;
    // A running row for each (key, size, path) of the pass's new list.
    struct RunningRow {
        const TaskNode* key;
        std::int64_t size;
        std::string path;
    };
    void AddRunningRows(const std::vector<RunningRow>& rows, std::uint32_t deleteFlag) const;
    // Takes the entry's running rows off the page (an entry whose node is gone).
    static void DropRows(const CommitEntry& entry);

    // With the tree lock held: the entry's node and the partner, on this thread's receiving
    // side, of its unified parent (the folder that is to hold the item); null, logged,
    // when either is gone.
    TaskNode* ResolveUnder(const CommitEntry& entry, FileNode*& parent, int line);
    // With the tree lock held: inserts the record under `parent`; null, logged with the
    // text, when the name is taken.
    FileNode* InsertUnder(FileNode* parent, const SyncFileInfo& record, const char* failText, int line) const;
    // With the tree lock held: removes the node's receiving-side partner from `parent` and
    // clears those links in the node's unified subtree.
    bool EraseOldPartner(TaskNode* node, FileNode* parent);
    static bool EraseExactChild(FileNode* parent, const FileNode* child);
    static bool EraseExactChild(TaskNode* parent, const TaskNode* child);
    static bool IsSameOrAncestor(const TaskNode* candidate, const TaskNode* node);
    void LogStale(const CommitEntry& entry, int line) const;

    // Before a copy or move: creates every ancestor folder the receiving side lacks (an
    // ancestor without both partners), topmost first, each as an item of the folder pass.
    bool CreateParentFolders(const CommitEntry& entry);
    virtual void LogParentPrecondition(const SyncTaskInfo& record) const = 0;
    // With the tree lock held: links the unified subtree of `g` to the receiving side's
    // subtree of `a` (partners; work cleared; on the server side the paths follow the
    // local ones). False, logged at `missingLine`, when a child has no counterpart.
    bool MatchAlphaNode(TaskNode* g, FileNode* a, int missingLine);

    // The tree update after a copy or move on the receiving side, under the tree lock with
    // the item's node and its parent partner (as ResolveUnder found them): the item's old
    // partner goes; the source node (a copy: a deep copy of it) is placed under
    // the item's parent partner as `name` (a non-empty `newRef` becomes its reference); the
    // unified subtree is linked to it; a move's old unified node goes. The finished rows
    // are gathered into `rows`. False, logged, at the first step that fails.
    bool PlaceCopyOrMove(const CommitEntry& entry, TaskNode* node, FileNode* parent, bool move,
                         const std::string& name, const std::string& newRef, const PlaceLog& log,
                         std::vector<CommitRow>& rows);

    // Waits the item pause; false when a stop came meanwhile.
    bool PauseBeforeItem();
    // Clears the record's work after a finished operation.
    static void ClearWork(SyncTaskInfo& record);
    // Clears one side's partner links of the node and every node below it.
    static void ClearPartnerBelow(TaskNode* node, bool serverSide);

    // The local disk.
    EngineFs& Fs() const { return *fs_; }
    // True when the record path names an item below the sync folder that the disk takes
    // (EngineFs::Resolve: acceptable names, no link or file on the way; never the folder
    // itself); otherwise false, with the item's reason recorded.
    bool SafeLocalPath(const std::string& relativePath) const;
    // The record path's place on disk, for log lines ("" when it is refused).
    std::string DiskPathOf(const std::string& relativePath) const;
    // Notes in the operation record the file the operation put at the record path.
    void NotePlaced(const std::string& relativePath);

    // Log lines "<text>filepath:<source> line:<n>".
    void LogLine(int level, const std::string& text, int line) const;
    void LogFailure(const std::string& text, int line) const;
    // Logs the failure and, for an item, records the reason its status tells.
    void ReportCallFailure(const CallFailure& failure, std::uint32_t status) const;

    // Records why the item under way failed; the first reason of an item stands (a later
    // step that fails only because of it does not replace it).
    void Fail(FailReason reason) const;
    void Fail(const char* key) const { Fail(FailReason{key, 0}); }
    // Fail(DiskFailReason(errno)) for a disk operation that just failed.
    void FailOnDisk() const;

    CommitServerOps* ServerOps() const { return serverOps_ != nullptr ? serverOps_ : ownOps_.get(); }

    std::uint32_t aspect_;
    std::uint32_t direction_;
    const char* logSource_;

private:
    bool CommitPass(std::uint32_t pass);  // one of the five passes of a run
    bool StillHasWork(std::uint32_t pass, const SyncTaskInfo& record) const;
    std::deque<CommitEntry>& ListOf(std::uint32_t pass);
    void ClearLists();
    void SendResult(bool ok);
    bool RunCommandQueued();
    // One item: its reason cleared, the pass's operation, then its end (see PassTask).
    bool RunItem(std::uint32_t pass, const CommitEntry& entry);
    // With the tree lock held: the entry's node (and its parent partner), logged as stale
    // when it is gone.
    TaskNode* Refind(const CommitEntry& entry, bool underParent, FileNode*& parent, int line);
    // The end of an item operation (see PassTask).
    bool FinishItem(const CommitEntry& entry, bool ok, const PassTask& task);

    CommitServerOps* serverOps_ = nullptr;
    std::unique_ptr<CommitServerOps> ownOps_;
    DiskEngineFs diskFs_;
    EngineFs* fs_ = &diskFs_;
    // Items of the run under way that failed (this thread's own count).
    std::uint32_t itemsFailed_ = 0;
    // Why the item under way failed (only this thread touches it).
    mutable FailReason failReason_;
};

// The time text of finished and failed rows: the local time (UTC moved by
// g_nLocalTimeOffset) as "YYYY-MM-DD hh:mm:ss".
std::string CommitTimeText();
