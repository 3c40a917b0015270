#pragma once
// The local scan thread: lists the sync folder into the "Driver" tree, digests the files
// that have no checksum yet and folds the queued local change records into the tree.
// It never touches the server, the unified tree or file contents (beyond reading them
// for digests); it reports to the main window, which drives the cycle. The command loop is
// CWorkerLoop's; the passes are RUN (full scan), HASH (digests) and CHANGES (intake).
//
// What takes part in synchronisation is decided by ONE predicate, IsSyncableLocalItem
// below (the name filter of BaseFunc::IsSyncableFile plus "a regular file or a folder,
// never a link or a special file"). The full scan, the change intake, the watcher and the
// server side all ask the same question, so an excluded name is never uploaded,
// downloaded or deleted.
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
#include <vector>

#include "platform/fileops.h"
#include "sync/common/TreeNode.h"
#include "sync/common/WorkerLoop.h"
#include "sync/engine/EngineContext.h"

// A batch of local change records taken from the queue, in event order.
using LocalChangeBatch = std::list<LocalChangeRecord>;

// The one predicate of what takes part in synchronisation: the name passes the name
// filter of BaseFunc::IsSyncableFile and, when `checkDisk`, the item at `path` (absolute,
// '\\' or '/' separators) exists as a regular file or a folder (lstat: a link is never
// syncable, whatever it points at). Server items are judged with checkDisk false.
bool IsSyncableLocalItem(const std::u16string& path, bool checkDisk);

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

    // Lists `folder` (absolute; must lie inside the sync folder) recursively under
    // `parent`: one record per syncable entry (files: isFile 1, size; folders: isFile 0),
    // path = the entry's path relative to the sync folder with '/' separators and a
    // leading '/', mark 0, checksum empty, extra empty. Skipped entries are recorded as
    // unknown (see above). True only when `folder` itself was read to its normal end and
    // no quit or break (CheckBreak of `owner`) came; false too when a child of an
    // entry's name already exists under `parent`. Also called by the reconciliation thread
    // (with its own CSyncBase as owner) for a newly added local folder.
    bool DirectoryList(CSyncBase* owner, const std::u16string& folder, FileNode* parent);

    // Digests (upper-case MD5 hex) every file record of `tree` that has no checksum;
    // `owner`'s break and the quit event stop a digest between two windows. True when
    // every digest succeeded; a failed file keeps an empty checksum and the walk goes on.
    // Also called by the reconciliation thread's hashing step with its own CSyncBase.
    // Files are digested by HashWorkerCount() workers at once; the results land in the
    // same records whatever their number.
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

    // Bound owners and the sync folder path (refreshed at every bind, scan, hash pass and
    // change intake).
    SyncApp* app = nullptr;
    FileNode* tree = nullptr;
    std::u16string rootPath;

    // Replaceable for tests. `clock`: milliseconds of the steady clock (the age of queued
    // records). `fileReady`: whether a modified file may be read now (absolute UTF-8 path;
    // by default an existing file that no program holds open for writing; it never
    // creates one). `sortChanges`: coalesces a taken batch; by default the
    // reconciliation's SortLocalChanges against the disk and `tree`.
    std::function<std::uint64_t()> clock;
    std::function<bool(const std::string& utf8Path)> fileReady;
    std::function<void(LocalChangeBatch&)> sortChanges;
    // `hashWorkers`: a fixed worker count for the hash pass (0: chosen as described at
    // HashWorkerCount). `beforeDigest`: called by a hash worker just before it digests a
    // file (absolute UTF-8 path), from several threads at once.
    unsigned hashWorkers = 0;
    std::function<void(const std::string& utf8Path)> beforeDigest;

protected:
    bool Bind() override;
    bool IsPassCommand(std::uint32_t command) const override;
    std::uint32_t RunPass(std::uint32_t command) override;
    void AfterPass(std::uint32_t command, std::uint32_t result) override;

private:
    bool ListEntries(CSyncBase* owner, const std::string& fsFolder, const std::string& relFolder,
                     FileNode* parent, std::vector<plat::fs::Entry>& entries);
    // `diskPath`: the path comes from the disk ('/' separators, names as they are there).
    void RecordUnknown(const std::string& relativePath, const std::string& why, int line, bool diskPath = false);
    static bool Stopped(CSyncBase* owner);
    bool TakeChanges(LocalChangeBatch& batch);
    std::u16string FullPath(const std::string& relativePath) const;
    FileNode* FindItemNode(FileNode* root, const std::string& path);
    void AddOrUpdate(FileNode* root, const std::string& path);
    void ApplyModified(FileNode* root, const std::string& path);
    void ApplyRenamed(FileNode* root, const std::string& oldPath, const std::string& newPath);
    std::string RootUtf8() const;
};
