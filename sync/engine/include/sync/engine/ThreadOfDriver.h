#pragma once
// The local scan thread: lists the sync folder into the "Driver" tree, digests the files
// that have no checksum yet and folds the queued local change records into the tree.
// It never touches the server, the unified tree or file contents (beyond reading them
// for digests); it reports to the main window, which drives the cycle. The command loop is
// CWorkerLoop's; the passes are RUN (full scan), HASH (digests) and CHANGES (intake).
//
// The disk is the sync folder's EngineFs (EngineFs.h): the listing (one call per folder),
// the attributes, the digests' file reading and the test for a file still being written
// all go through it with record paths, so no path below the sync folder leaves it or
// follows a link, and tests run the scan on an in-memory disk.
//
// What takes part in synchronisation is decided by ONE predicate, EngineFs::IsSyncable
// (the name filter of BaseFunc::IsSyncableName plus "a regular file or a folder, never a
// link or a special file"). The full scan, the change intake, the watcher and the server
// side all ask the same question, so an excluded name is never uploaded, downloaded or
// deleted.
//
// Unknown items. Some local items exist but cannot or will not be listed:
//   - symbolic links (to files or folders; never followed) and special files (FIFOs,
//     sockets, devices);
//   - folders that cannot be opened or read to the end (permissions, I/O errors);
//   - the second of two names that differ only in case (the trees compare names ignoring
//     case; the first one in byte order is kept);
//   - names that are not valid UTF-8, are not valid file names for the records, or make a
//     path too long to handle.
// Such an item is UNKNOWN, never ABSENT: the thread records its path in the application's
// SyncApp::driverUnknown (a LocalUnknownSet, EngineContext.h) with a log line, and the
// reconciliation must keep every path covered by that set out of its comparison with the
// last synchronised state ("Tracer"): an item missing from the Driver tree whose path is
// covered (LocalUnknownSet::Covers) is not a local delete, so it never becomes a server
// delete. Names excluded by the name filter (desktop.ini, *.tmp, ...) are not recorded:
// they are excluded on both sides by the same predicate.
//
// Who writes the set: a full scan clears it first and fills it while it lists; a failed
// scan empties the tree below the root and records the whole folder ("" covers every path)
// so an empty tree can never read as "everything deleted". The change intake removes the
// entries of an item it removes (really gone) or lists anew, and adds an item that turns
// unsyncable while it exists (a file replaced by a link). DirectoryList records what it
// skips below the folder it lists, whoever calls it; when the folder it was asked to list
// cannot be listed (or the listing is broken off) it returns false and the caller decides
// (InsertDriverNode takes the folder out of the tree again and records it as unknown).
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <vector>

#include "sync/common/TreeNode.h"
#include "sync/common/WorkerLoop.h"
#include "sync/engine/EngineContext.h"
#include "sync/engine/EngineFs.h"

// A batch of local change records taken from the queue, in event order.
using LocalChangeBatch = std::list<LocalChangeRecord>;

// The local scan's listing of the folder at the record path `folder` (on `fs`, which
// must be rooted at the sync folder) recursively under `parent`: one record per syncable
// entry (files: isFile 1, size; folders: isFile 0), path = the entry's path below the sync
// folder as the disk spells it ('/' separators, a leading '/'), mark 0, checksum and extra
// empty. Skipped entries are recorded in `unknown` (may be null; see above). True only
// when `folder` itself was read to its normal end and no quit or break (CheckBreak of
// `owner`, may be null) came; false too when a child of an entry's name already exists
// under `parent`. The scan, the change intake and the reconciliation's listing of a new
// folder all list this way.
bool ListLocalFolder(EngineFs& fs, LocalUnknownSet* unknown, CSyncBase* owner, std::string_view folder,
                     FileNode* parent);

class CThreadOfDriver : public CWorkerLoop {
public:
    // `app` is the application object, `tree` the root of its Driver tree; both are
    // handed back to the thread with THREAD_CMD_BIND.
    CThreadOfDriver(SyncApp* app, FileNode* tree);
    ~CThreadOfDriver() override;

    // Full listing of the sync folder into `tree` (the caller resets the tree before).
    // False (tree emptied below its root, the whole folder recorded as unknown) when the
    // root is missing or unreadable, or a quit or break cut it short.
    bool ScanOnRunHandler();

    // ListLocalFolder on this worker's disk for the folder at the record path `folder`,
    // recording what it skips in the application's SyncApp::driverUnknown.
    bool DirectoryList(CSyncBase* owner, std::string_view folder, FileNode* parent);

    // Digests (upper-case MD5 hex) every file record of `tree` that has no checksum;
    // `owner`'s break and the quit event stop a digest between two windows. True when
    // every digest succeeded; a failed file keeps an empty checksum and the walk goes on.
    // Also called by the reconciliation thread's hashing step with its own CSyncBase.
    // Files are digested by up to HashWorkerCount() workers at once, each taking runs of
    // consecutive files; the results land in the same records whatever their number.
    bool HashOnRunHandler(CSyncBase* owner);

    // How many files the hash pass digests at once: `hashWorkers` when set, else one per
    // core (at most kMaxHashWorkers), and one when the sync folder lies on a rotational
    // disk, where parallel reads would only make the head seek.
    unsigned HashWorkerCount() const;
    static constexpr unsigned kMaxHashWorkers = 8;

    // Takes the queued local changes (once the first one is 120 ms old and the file of a
    // leading modification is not held by a writer), sorts them with the reconciliation
    // thread's SortLocalChanges and applies them under treeEditLock. True when anything
    // was applied (the main window's localListingState is then 1).
    bool ChangeOnRunHandler();

    // Applies every record of the batch to `tree` in order, then empties the batch.
    void ApplyLocalChange(LocalChangeBatch& batch, FileNode* tree);
    // One item (path relative to the sync folder, '\\' separators) into or out of `tree`.
    bool InsertDriverNode(FileNode* tree, std::string path);
    bool RemoveDriverNode(FileNode* tree, std::string path);

    // Bound owners (THREAD_CMD_BIND).
    SyncApp* app = nullptr;
    FileNode* tree = nullptr;

    // The disk: the worker's own, rooted at the application's sync folder when the worker
    // is made, at every bind and at the start of every scan, hash pass and change intake
    // (RefreshRoot). SetFs puts another one in its place (tests; call before Start; it
    // must be rooted at the sync folder by its owner and outlive the worker); null
    // restores the own disk.
    void RefreshRoot();
    void SetFs(EngineFs* fs);
    EngineFs& Fs() { return *fs_; }

    // Replaceable for tests. `clock`: milliseconds of the steady clock (the age of queued
    // records). `fileReady`: whether the modified file at a record path may be read now
    // (by default an existing file that no program holds open for writing; it never
    // creates one). `sortChanges`: coalesces a taken batch; by default the
    // reconciliation's SortLocalChanges against the disk and `tree`.
    std::function<std::uint64_t()> clock;
    std::function<bool(const std::string& path)> fileReady;
    std::function<void(LocalChangeBatch&)> sortChanges;
    // `hashWorkers`: a fixed worker count for the hash pass (0: chosen as described at
    // HashWorkerCount). `beforeDigest`: called by a hash worker just before it digests a
    // file (its record path), from several threads at once.
    unsigned hashWorkers = 0;
    std::function<void(const std::string& path)> beforeDigest;

protected:
    bool Bind() override;
    bool IsPassCommand(std::uint32_t command) const override;
    std::uint32_t RunPass(std::uint32_t command) override;
    void AfterPass(std::uint32_t command, std::uint32_t result) override;

private:
    void RecordUnknown(const std::string& relativePath, const std::string& why, int line);
    static bool Stopped(CSyncBase* owner);
    bool TakeChanges(LocalChangeBatch& batch);
    FileNode* FindItemNode(FileNode* root, const std::string& path);
    void AddOrUpdate(FileNode* root, const std::string& path);
    void ApplyModified(FileNode* root, const std::string& path);
    void ApplyRenamed(FileNode* root, const std::string& oldPath, const std::string& newPath);

    DiskEngineFs diskFs_;
    EngineFs* fs_ = &diskFs_;
};
