#pragma once
// The sync folder's file system, as the whole sync engine sees it: the local scan (its
// listing, attributes, digests and the test for a file still being written), the change
// intake, the reconciliation and both commit threads reach the local disk only through
// an EngineFs, and tests put an in-memory disk in its place.
//
// Rooted once. The owner gives it the sync folder (SetRoot) when it is made or when a pass
// begins; after that every call takes a record path: a path below the sync folder as the
// trees and the change records keep it, '\\' or '/' separators, leading, doubled and
// trailing separators not counting ("" and "\\" name the folder itself). A record path is
// turned into its disk form here and only here (Resolve), once per call, and this is the
// one place where "never leave the sync folder, never follow a link" holds:
//   - a path is always read below the root, never from the top of the file system (a
//     path that looks absolute names an item inside the sync folder);
//   - a component "." or "..", and a name the file system cannot hold as one item (NUL or
//     another control character, not UTF-8, longer than 255 bytes) are refused;
//   - a link, a file or a special file on the way between the root and the last name is
//     refused (plat::fs::BlockedStepBelow, the check the client program shares);
//   - the last name is never followed: a link there is an item of kind Other, moved and
//     removed as itself, never listed, read or written through.
// A refused path names nothing the engine may use: KindOf answers Other (what cannot be
// looked at is unknown, never absent), every other call fails with errno EINVAL (a refused
// name or no root) or ELOOP (a link on the way). The root itself may be a link to a
// folder; it is never moved, copied, replaced or removed.
//
// The way check costs a look at every level of a path. A pass over many items keeps what
// it found of the way, a "clear way": the last folder whose every level below the root was
// found to be a real folder. A path is checked from the deepest folder it shares with it,
// so the files of one folder, and the folders beside one, cost one look. It belongs to one
// thread and one pass (the scan's listing and each of its helpers, one hash worker) and is
// dropped at the pass's end, so no check is older than the pass.
//
// Threads: calls may come from several threads at once (the scan's read-ahead helpers,
// the hash workers); the root changes only between passes, by the owner.
//
// Subclasses supply the disk below through the protected ...At hooks, which take checked
// absolute disk paths ('/' separators, normalised): DiskEngineFs the real disk, tests an
// in-memory one.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/filefacts.h"
#include "platform/fileops.h"
#include "platform/timetext.h"
#include "sync/common/SyncOperation.h"
#include "sync/common/TreeNode.h"

class CSyncBase;
class LocalUnknownSet;
struct FileDigestHolder;

class EngineFs {
public:
    enum class Kind { Missing, File, Folder, Other };  // Other: a link or a special file
    // One entry of a folder listing, described without following it (lstat): a link is a
    // Link and a special file Special, whatever they point at.
    using Entry = plat::fs::Entry;
    // Name: ".", "..", or a name the file system cannot hold; TooLong: a name longer than
    // 255 bytes or a path longer than the path checks take.
    enum class Refusal { None, NoRoot, Name, TooLong, LinkOnWay };

    virtual ~EngineFs() = default;

    // The sync folder: an absolute path, normalised here (no trailing separator but for
    // "/"). A path that cannot be normalised leaves the file system without a root, and
    // every record path is then refused.
    void SetRoot(const std::string& rootUtf8);
    void SetRoot(const std::u16string& root);
    const std::string& Root() const { return root_; }

    // The disk form of a record path (Root() itself for the folder), or why it is refused
    // (`diskPath` empty then). See the rules above; `clearWay` (may be null) is the pass's
    // clear way, taken and brought up to date.
    Refusal Resolve(std::string_view path, std::string& diskPath, std::string* clearWay = nullptr);
    // The part of a resolved disk path below the root, as the disk spells it: "/" and a
    // name per level, "" for the root. The form the scan gives its records.
    std::string BelowRoot(const std::string& diskPath) const;

    // ---- looking (the scan, the intake, the reconciliation) ----
    // What is at the path; links are never followed.
    Kind KindOf(std::string_view path);
    // Size of a file (0 for a folder); false when the item is neither.
    bool Attributes(std::string_view path, bool& isFolder, std::uint64_t& size);
    // The stamp of the regular file at the path (see DiskStamp); false when none is there.
    bool Stamp(std::string_view path, DiskStamp& out);
    // The one predicate of what takes part in synchronisation: the last name passes the
    // name filter of BaseFunc::IsSyncableName and, with `checkDisk`, the item is a regular
    // file or a folder (never a link or a special file, whatever it points at). Server
    // items and removed ones are judged with `checkDisk` false.
    bool IsSyncable(std::string_view path, bool checkDisk);
    // True while another program holds the existing file open for writing. Never creates
    // a file; false for a missing item or a folder.
    bool IsBeingWritten(std::string_view path);
    // One folder's entries (no "." or ".."), in one call; false, with the reason in
    // `error`, when it cannot be opened or read to its end. Only the root may be a link.
    // `clearWay`: the listing pass's clear way on this thread (may be null).
    bool List(std::string_view folder, std::vector<Entry>& out, std::string& error,
              std::string* clearWay = nullptr);
    // The file's content digest (upper-case MD5 hex, FileDigestHex); empty when none could
    // be made (the holder tells why), also for anything but a regular file. The holder
    // (one per worker and pass) keeps the pass's clear way.
    std::string Digest(FileDigestHolder& holder, std::string_view path);
    // Whether the sync folder lies on a rotational disk (parallel reads would only seek).
    bool OnRotationalDisk();

    // ---- changing (the commit threads and the conflict renames) ----
    // Renames; with `replace` false an existing target makes it fail. A folder never
    // replaces anything, a file never a folder. Across file systems the real disk copies
    // and renames.
    bool Move(std::string_view from, std::string_view to, bool replace);
    // Copies one regular file over the target (through a temporary file beside it).
    bool CopyFile(std::string_view from, std::string_view to);
    // Copies a folder tree (links and special files are left out); refuses a target
    // inside the source.
    bool CopyTree(std::string_view from, std::string_view to);
    // Creates every missing level; true when the folder exists afterwards.
    bool MakeFolders(std::string_view path);
    // Removes a file (or a link as itself); refuses a folder.
    bool RemoveFile(std::string_view path);
    // Removes a real folder and everything below it, never entering a link.
    bool RemoveTree(std::string_view path);
    // A free backup name beside the item (see BaseFunc::MakeConflictBackupName), as a
    // record path spelt as `path` is with the last name replaced; empty when none was
    // found or the path is refused.
    std::string MakeBackupName(std::string_view path, const plat::SystemTime& time);

    // Lists a newly added local folder into the Driver tree below `parent`, as the local
    // scan lists (ListLocalFolder, ThreadOfDriver.h: skipped entries recorded in
    // `unknown`, which may be null). False when the folder could not be listed to its end.
    bool ListFolder(CSyncBase* owner, std::string_view folder, FileNode* parent, LocalUnknownSet* unknown);

protected:
    // ---- the disk below: absolute disk paths, already checked by Resolve ----
    // The item itself (lstat); false when nothing is there or it cannot be looked at.
    virtual bool StatAt(const std::string& disk, plat::fs::ItemFacts& out) = 0;
    // The first level strictly between `from` (the root or a folder below it whose way is
    // clear) and the last name of `disk` that is not a real folder; empty when the way is
    // clear.
    virtual std::string BlockedStepAt(const std::string& from, const std::string& disk) = 0;
    virtual bool ListAt(const std::string& disk, std::vector<Entry>& out, std::string& error) = 0;
    virtual bool OpenForWritingAt(const std::string& disk) = 0;
    virtual std::string DigestAt(FileDigestHolder& holder, const std::string& disk) = 0;
    virtual bool RotationalAt(const std::string& root) = 0;
    // These report a failure through errno.
    virtual bool MoveAt(const std::string& from, const std::string& to, bool replace) = 0;
    virtual bool CopyFileAt(const std::string& from, const std::string& to) = 0;
    virtual bool CopyTreeAt(const std::string& from, const std::string& to) = 0;
    virtual bool MakeFoldersAt(const std::string& disk) = 0;
    virtual bool RemoveFileAt(const std::string& disk) = 0;
    virtual bool RemoveTreeAt(const std::string& disk) = 0;
    // A free backup name for the item at `disk`, as a disk path in the same folder; empty
    // when none was found. By default BaseFunc::MakeConflictBackupName on the real disk.
    virtual std::string BackupNameAt(const std::string& disk, const plat::SystemTime& time);
    // The listing of a new folder; by default the local scan's own (ListLocalFolder).
    virtual bool ListFolderAt(CSyncBase* owner, const std::string& disk, FileNode* parent,
                              LocalUnknownSet* unknown);

private:
    // Resolve for a call: errno set on refusal. The Item form refuses the root as well.
    bool ResolveOrFail(std::string_view path, std::string& disk, std::string* clearWay = nullptr);
    bool ResolveItemOrFail(std::string_view path, std::string& disk);

    std::string root_;
};

// The real disk.
class DiskEngineFs : public EngineFs {
public:
    DiskEngineFs() = default;
    explicit DiskEngineFs(const std::string& rootUtf8) { SetRoot(rootUtf8); }

protected:
    bool StatAt(const std::string& disk, plat::fs::ItemFacts& out) override;
    std::string BlockedStepAt(const std::string& from, const std::string& disk) override;
    bool ListAt(const std::string& disk, std::vector<Entry>& out, std::string& error) override;
    bool OpenForWritingAt(const std::string& disk) override;
    std::string DigestAt(FileDigestHolder& holder, const std::string& disk) override;
    bool RotationalAt(const std::string& root) override;
    bool MoveAt(const std::string& from, const std::string& to, bool replace) override;
    bool CopyFileAt(const std::string& from, const std::string& to) override;
    bool CopyTreeAt(const std::string& from, const std::string& to) override;
    bool MakeFoldersAt(const std::string& disk) override;
    bool RemoveFileAt(const std::string& disk) override;
    bool RemoveTreeAt(const std::string& disk) override;
};

class EngineClock {
public:
    virtual ~EngineClock() = default;
    // Milliseconds of the steady clock.
    virtual std::uint64_t Milliseconds() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
    // The local wall-clock time (stamps of conflict backup names).
    virtual plat::SystemTime LocalTime() = 0;
};

class SteadyEngineClock : public EngineClock {
public:
    std::uint64_t Milliseconds() override;
    void Sleep(std::uint32_t milliseconds) override;
    plat::SystemTime LocalTime() override;
};
