#pragma once
// The two tests a local change passes before it is queued.
//
// Echo filter: the commit-to-local thread writes into the sync folder, and the directory
// watcher reports those writes like any other change. A change is dropped only when it
// is the program's own operation: the operation's exact path (or, for a folder
// operation, an item at or below it where the operation itself touched the subtree), or
// exactly the parent folder whose entries the operation changed. Paths are compared as
// canonical keys (ASCII lower case, '/' separators, a leading '/', no trailing one) at
// whole components, so "\a b" is never taken for something below "\a". An operation
// that is only recorded (state 0) has touched nothing yet, and a download writes its
// target only by the final rename, so a user's edit during a download is always kept.
// Where the operation has noted the file it put in place (SyncOperation::placedPath,
// with its disk stamp), a report for that file is its echo only while the file on disk
// still has that stamp: a user's write or save over it, however soon, is kept.
//
// Conflict test: a change that meets an operation the commit threads have recorded but
// not yet sent (state 0) tells that thread to let go of the item.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "sync/engine/EngineContext.h"

namespace localchange {

// The canonical key of a relative path (either separator).
std::string Key(std::string_view path);
// True when `key` is `base` or lies below it (whole components); false for an empty base.
bool AtOrBelow(const std::string& key, const std::string& base);
// The key of the parent folder ("" for an item directly below the root, and for "").
std::string ParentKey(const std::string& key);

// How long after its end an operation's echoes are still expected.
inline constexpr std::uint64_t kEchoWindowMs = 500;

// Reads the stamp of the file at a record path (relative to the sync folder, either
// separator); false when no regular file is there.
using StampReader = std::function<bool(const std::string& relativePath, DiskStamp& out)>;

// The echo filter (ValidityCheck): true to keep the change, false when it is the echo of
// the commit-to-local thread's operation `homeOp` at time `nowMs`. `readStamp` looks at
// the file the operation placed; without one such a report is always kept.
bool KeepChange(const LocalChangeRecord& change, const SyncOperation& homeOp, std::uint64_t nowMs,
                const StampReader& readStamp = {});

// The conflict test (ConflictCheck): which commit thread's recorded operation the change
// touches.
struct Conflict {
    bool home = false;
    bool away = false;

    bool operator==(const Conflict&) const = default;
};
Conflict FindConflict(const LocalChangeRecord& change, const SyncOperation& homeOp, const SyncOperation& awayOp);

}  // namespace localchange
