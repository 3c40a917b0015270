#pragma once
// One watched folder tree as the inotify monitor keeps it (private to the library).
//
// CDirWatchInfo is the record of one watch: the folder as reported, its kernel watches by
// folder and back, and a rename that left a folder and waits for its arrival record. The
// functions below walk a folder into watches, carry the watches of a renamed folder over
// to its new path, forget the watches of a folder that went, and turn paths relative to
// the watched folder into reports to the watch's delayed handler.
//
// Threads: the thread that starts a watch sets its record up (WatchTree on the root);
// from then on only the monitor thread touches it. Nothing here locks. A name that is not
// UTF-8 is never reported, and only its own record is passed over.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "dirwatch/DelayedDelivery.h"
#include "dirwatch/DirectoryChangeWatcher.h"
#include "platform/inotify.h"

namespace dirwatch::detail {

using Clock = std::chrono::steady_clock;

// The watcher's system error code of an errno value.
std::uint32_t SystemError(int error);

// `name` below `folder`, both relative to the watched folder ("" is the folder itself).
std::string JoinRelative(const std::string& folder, const std::string& name);

}  // namespace dirwatch::detail

class CDirectoryChangeWatcher::CDirWatchInfo {
public:
    CDirWatchInfo(const std::u16string& dir, const std::string& dir8)
        : directory(dir), root8(dir8) {
        prefix16 = directory == u"/" ? directory : directory + u"/";
        prefix8 = root8 == "/" ? root8 : root8 + "/";
    }

    std::string PathOf(const std::string& relative) const { return relative.empty() ? root8 : prefix8 + relative; }

    const std::u16string directory;  // as reported: without a trailing separator
    std::u16string prefix16;
    const std::string root8;
    std::string prefix8;
    std::shared_ptr<CDelayedDirectoryChangeHandler> handler;
    std::weak_ptr<Monitor> monitor;

    // Owned by the thread that sets the watch up, then by the monitor thread.
    plat::FolderEvents events;
    int rootWatch = -1;
    std::unordered_map<int, std::string> folderOf;  // kernel watch -> folder relative to the root
    std::map<std::string, int> watchOf;             // folder relative to the root -> kernel watch
    bool ended = false;
    bool hasPendingFrom = false;
    plat::FolderEvent pendingFrom;
    std::string pendingRelative;
    dirwatch::detail::Clock::time_point pendingDeadline;
};

namespace dirwatch::detail {

using WatchInfo = CDirectoryChangeWatcher::CDirWatchInfo;

// Reports `kind` for the item at `relative`; nothing when the name is not text.
void Report(WatchInfo& w, std::uint32_t kind, const std::string& relative);

// A same-folder rename. Only the name that is text is reported when the other is not.
// An arriving file may have replaced one of its name (an atomic save): inotify does not
// tell, so a file's rename is followed by a modification of the new name.
void ReportRename(WatchInfo& w, const std::string& oldRelative, const std::string& newRelative, bool isFolder);

// Drops the record of one kernel watch (the kernel removed it, or its folder went).
void ForgetWatch(WatchInfo& w, int watch);

// Drops the watches of a folder and of every folder below it; with `unwatch` the kernel
// watches are removed too (a folder moved out of the tree still exists).
void ForgetTree(WatchInfo& w, const std::string& relative, bool unwatch);

// Carries the watches of a renamed folder over to its new path; false when it had none.
bool MoveTree(WatchInfo& w, const std::string& from, const std::string& to);

// Watches `start` and every folder below it. With `report`, everything found below
// `start` is reported as added (the folder appeared with content already in it). Folders
// that vanish meanwhile, cannot be read or whose names are not text are passed over, as
// the scan passes them over; other failures end the walk with their system error.
std::uint32_t WatchTree(WatchInfo& w, const std::string& start, bool report);

}  // namespace dirwatch::detail
