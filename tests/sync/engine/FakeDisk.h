#pragma once
// The engine tests' in-memory disk: the sync folder's EngineFs with a map in place of the
// disk below, so that the reconciliation, the local scan and the commit threads run on it
// and disk faults (a folder that cannot be listed, a full disk, a rename across devices,
// a file gone between two looks) are one field away. The record path rules (Resolve) are
// the real ones: only the hooks below them are fake.
//
// The disk is rooted at `root` ("/sync"); `disk` holds absolute paths with '/'
// separators. The hooks may be called from several threads at once (the scan's
// read-ahead helpers, the hash workers, a commit thread); they and the helpers below lock
// the map. Tests change the map directly only while no worker uses it.
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sync/engine/EngineContext.h"
#include "sync/engine/EngineFs.h"

namespace enginetest {

// The parent of a path with '/' separators ("" at the top) and its last name.
std::string ParentPath(const std::string& path);
std::string Name(const std::string& path);

class FakeFs : public EngineFs {
public:
    struct Entry {
        Kind kind = Kind::File;  // Other: a link or a special file
        std::string content;
    };

    FakeFs();

    // The sync folder on this disk.
    const std::string root = "/sync";
    // Absolute paths, '/' separators.
    std::map<std::string, Entry> disk;
    std::set<std::string> beingWritten;
    std::vector<std::string> moves;  // "from -> to"
    // Faults. A move fails with `moveError` (EXDEV: a rename across devices that the disk
    // cannot carry out); a copy or a new folder fails with `writeError` (ENOSPC: the disk
    // is full) and leaves nothing of it behind; a folder in `unlistable` cannot be listed
    // (EACCES).
    int moveError = 0;
    int writeError = 0;
    std::set<std::string> unlistable;
    // New folders listed for the reconciliation (ListFolder calls).
    int listCalls = 0;

    static std::string Norm(const std::string& path);

    void PutFile(const std::string& path, const std::string& content);
    void PutFolder(const std::string& path);
    void PutOther(const std::string& path);  // a link or special file
    void Remove(const std::string& path);     // the item and everything below it
    bool Has(const std::string& path) const;
    // A rename on this disk by someone else (absolute paths); an existing target makes it
    // fail.
    bool MoveItem(const std::string& from, const std::string& to) { return MoveAt(Norm(from), Norm(to), false); }
    std::string Content(const std::string& path) const;
    // The upper-case MD5 of the content (what Digest gives for a file).
    static std::string DigestOf(const std::string& content);

protected:
    bool StatAt(const std::string& path, plat::fs::ItemFacts& out) override;
    std::string BlockedStepAt(const std::string& from, const std::string& path) override;
    bool ListAt(const std::string& path, std::vector<EngineFs::Entry>& out, std::string& error) override;
    bool OpenForWritingAt(const std::string& path) override;
    std::string DigestAt(FileDigestHolder& holder, const std::string& path) override;
    bool RotationalAt(const std::string&) override { return false; }
    bool MoveAt(const std::string& from, const std::string& to, bool replace) override;
    bool CopyFileAt(const std::string& from, const std::string& to) override;
    bool CopyTreeAt(const std::string& from, const std::string& to) override;
    bool MakeFoldersAt(const std::string& path) override;
    bool RemoveFileAt(const std::string& path) override;
    bool RemoveTreeAt(const std::string& path) override;
    bool ListFolderAt(CSyncBase* owner, const std::string& path, FileNode* parent, LocalUnknownSet* unknown) override;

    // With `lock_` held.
    const Entry* Find(const std::string& path) const;
    bool IsFolder(const std::string& path) const;
    void EraseBelow(const std::string& path);

    mutable std::recursive_mutex lock_;
};

}  // namespace enginetest
