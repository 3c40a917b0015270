#pragma once
// Reconciliation over the sync trees, free of threads: the unified tree "Uniform" is
// built from the local listing ("Driver") and the server listing ("Server"), each
// compared with the state after the last finished sync ("Tracer"); every item gets its
// work (direction and operation), conflicts are resolved by backup copies, moves and
// copies are matched, and local changes and newer server listings are folded into a
// cycle already built. The reconciliation thread (ThreadOfConform.h) runs these steps
// under its locks and checkpoints; tests run them directly.
//
// The rule over everything here: nothing either side changed is ever lost. Where one side
// deleted an item the other side changed (or created something inside it), the changed
// side wins and the folders around it are recreated; where both sides changed an item,
// the local version is kept under a backup name and the server version is taken.
//
// Sides and directions share one encoding: side 1 is the local side (`localPartner`,
// Driver tree), side 2 the server side (`serverPartner`, server-side tree); `aspect` 1
// carries local content to the server and `aspect` 2 server content to the local disk,
// so a record whose item is new on side s gets aspect s.
//
// Items are left out of the comparison when they are excluded by name (the one syncable
// predicate, for both sides) and, on the server side, when the local scan could not list
// the local item of that path (unknown local items, LocalUnknownSet): an unknown item is
// never deleted on the server nor overwritten by a download.
#include <cstdint>
#include <functional>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sync/common/CommonTypes.h"
#include "sync/common/TreeNode.h"
#include "sync/engine/EngineContext.h"
#include "sync/engine/EngineFs.h"

class CSyncBase;
class MatchIndex;  // ReconcileMatch.cpp: records by checksum for the match passes

using LocalChangeBatch = std::list<LocalChangeRecord>;

enum ReconcileSide : std::uint32_t {
    kSideLocal = 1,
    kSideServer = 2,
};

// Presence and work values of SyncTaskInfo (see CommonTypes.h).
enum ReconcileTask : std::uint32_t {
    kTaskNone = 0,
    kTaskNew = 1,
    kTaskModified = 2,
    kTaskDeleted = 3,
};

enum ReconcileDuty : std::uint32_t {
    kDutyMove = 4,
    kDutyCopy = 5,
};

// The fields of the saved state ("Tracer.txt") come from the unified tree: a record that
// is still undecided (no direction, but work) is not in step with either side and must
// stay out of it, with its subtree.
bool BelongsToSavedState(const SyncTaskInfo& record);

class Reconciler {
public:
    // A checkpoint between steps: true to go on. `line` names the place.
    using Checkpoint = std::function<bool(int line)>;

    // `fs` is the sync folder's disk, rooted by its owner: every record path is read below it.
    Reconciler(EngineFs& fs, EngineClock& clock) : fs_(fs), clock_(clock) {}

    // Set when a step found a conflict; RenameConflicts resolves them.
    std::uint32_t conflictPending = 0;
    // Where a conflict rename is announced (the commit-to-local thread's operation
    // record), so that the main window drops the notifications it causes. May be null.
    SyncOperationSlot* announce = nullptr;
    // Local items the scan could not list; may be null (nothing unknown).
    LocalUnknownSet* unknown = nullptr;
    // Stop owner handed to the local listing of new folders; may be null.
    CSyncBase* owner = nullptr;

    // ---- Building a cycle ----
    // Deletes the unified tree's children, rewrites its root and lays both listings into it
    // with presence states, then derives the tasks and, when a conflict was found, renames
    // the local versions. False when a checkpoint stopped it (the tree is half built).
    bool BuildCycle(FileNode* driver, FileNode* server, FileNode* tracer, TaskNode* uniform,
                    const Checkpoint& checkpoint = {});

    void CopyToChangeTree(FileNode* src, ChangeNode* dst, std::uint32_t state, const std::string& relPath,
                          bool localSide);
    void MarkNewInChangeTree(ChangeNode* d, FileNode* t);
    void DiffAgainstTracer(FileNode* t, ChangeNode* d, const std::string& relPath, bool localSide);
    void CopyToUniformTree(FileNode* src, TaskNode* dst, std::uint32_t side, std::uint32_t aspect,
                           std::uint32_t task);
    void MarkLocalOnly(TaskNode* u, FileNode* s);
    void MergeServerIntoUniform(FileNode* s, TaskNode* u, const std::string& relPath);
    void DeriveTasks(ChangeNode* l, ChangeNode* s, TaskNode* u);
    // Keeps the local version of every undecided record (aspect 0, task 2) under a backup
    // name, uploaded as a new item, and downloads the server version in its place.
    void RenameConflicts(TaskNode* root);

    // ---- Matching moves and copies ----
    // Pass 1 matches downloads (the local side receives), pass 2 uploads.
    void ClearDuties(TaskNode* root);
    void MatchPass(TaskNode* root, int pass);

    // ---- Local changes ----
    // Coalesces a batch of local change records in place (drops, merges, filters).
    // `driverRoot` tells the kind an item had before (null: unknown).
    void SortLocalChanges(LocalChangeBatch& list, const FileNode* driverRoot);
    // Applies every record in order to the Driver and unified trees, then empties the list.
    void ApplyLocalChange(LocalChangeBatch& list, FileNode* driverRoot, TaskNode* uniformRoot);
    void ApplyLocalInsert(TaskNode* uniformRoot, FileNode* driverRoot, const std::string& relPath);
    // `checkDisk`: a removal of an item whose recorded path still exists on disk with its
    // kind is taken as a modification of it.
    void ApplyLocalRemove(TaskNode* uniformRoot, std::uint32_t side, const std::string& relPath,
                          bool checkDisk = true);

    // ---- Server changes ----
    // A newer listing of the server (`w`, its root the home folder) merged into the cycle:
    // items gone from it are detached, new and changed ones merged.
    void MergeServerListing(FileNode* w, TaskNode* u);
    void DropVanishedServerItems(FileNode* w, TaskNode* u);
    void MergeServerChanges(FileNode* w, TaskNode* u, const std::string& relPath = std::string());

    // ---- Partners ----
    // Re-judges every record a local change left pending (`linked`).
    void RelinkPendingLocal(TaskNode* root);
    // Links the listing node as the record's partner on `side` and derives its work again.
    // False when the file could not be judged yet (its checksum is still empty): the
    // earlier work stays and, on the local side, the record stays `linked`.
    bool LinkPartner(FileNode* n, TaskNode* u, std::uint32_t side);
    void ExpandPartnerFolder(FileNode* n, TaskNode* u, std::uint32_t side);
    // Clears the record's partner on `side` (its listing node is removed from its tree
    // unless `keepOwnNode`: a renamed item whose node lives on under its new name).
    void DetachPartner(TaskNode* u, std::uint32_t side, bool keepOwnNode = false);
    // Clears the links on `side` below the record (the listing nodes themselves are not
    // touched); items only on the other side stay.
    void DetachPartnerBelow(TaskNode* u, std::uint32_t side);

private:
    bool Syncable(const std::string& name);
    bool UnknownLocally(const std::string& relPath) const;
    void ReviveAncestors(TaskNode* u, std::uint32_t aspect);
    bool Judge(TaskNode* u, FileNode* n, std::uint32_t side, FileNode* other, bool competing,
               std::uint32_t earlierAspect, std::uint32_t earlierTask);
    void MarkLocalPending(TaskNode* u);
    void MarkDifferent(TaskNode* u, std::uint32_t side, bool competing);
    void LoseSide(TaskNode* u, std::uint32_t side, FileNode* other);
    bool RenameOneConflict(TaskNode* u);
    void AttachLocalItem(TaskNode* u, FileNode* d);
    void ApplyLocalModify(TaskNode* uniformRoot, FileNode* driverRoot, const std::string& relPath);
    void ApplyLocalRelist(TaskNode* uniformRoot, FileNode* driverRoot, const std::string& relPath);
    void ApplyLocalRename(TaskNode* uniformRoot, FileNode* driverRoot, const std::string& oldPath,
                          const std::string& newPath);
    bool RenameDriverNode(FileNode* d, FileNode* newParent, const std::string& newName);
    void ForgetLocalItem(TaskNode* u);
    void AdoptHiddenServerItems(TaskNode* uniformRoot, const std::string& relPath);
    void LinkHiddenServerItem(TaskNode* node);
    void KeepLocalFolderOverServerFile(TaskNode* u);
    void ForgetDeletesAtUnknownPlaces(TaskNode* top);
    void ReplaceServerKind(FileNode* wc, TaskNode* uc, FileNode* sp, const std::string& relPath);
    void KeepServerFolderOverLocalFile(TaskNode* u);
    void KeepFoldersAroundUnknownPlace(TaskNode* u);
    void MatchWalk(TaskNode* node, int pass, std::uint32_t kind, MatchIndex& all, MatchIndex& deletes);

    EngineFs& fs_;
    EngineClock& clock_;
    // While a build runs: the sync folder is empty although the synchronised state is not,
    // so every local item counts as unknown.
    bool localMissing_ = false;
};

// Takes the queued local changes for one application step: once the newest record is at
// least 120 ms old (sleeping 30 ms at a time meanwhile) and, when it is a modification,
// its file is not held open for writing; every record is then moved to `out` in order.
// False, leaving the queue as it is, when the queue is empty, `stop` answers true, or the
// file is still being written.
bool TakeQuietLocalChanges(std::mutex& queueLock, std::deque<LocalChangeRecord>& queue, EngineClock& clock,
                           EngineFs& fs, const std::function<bool()>& stop, LocalChangeBatch& out);
