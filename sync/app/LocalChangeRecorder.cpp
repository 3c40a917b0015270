// Local change recording: the directory watcher's reports become queued change records,
// freed of the program's own echoes, and a change that meets a recorded commit operation
// makes that thread let go of the item. Runs on the watcher's notification thread.
#include "sync/app/LocalChangeRecorder.h"

#include <log4cpp/Category.hh>

#include "sync/app/LocalChangeFilter.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/ThreadOfAway.h"
#include "sync/engine/ThreadOfHome.h"
#include "sync/engine/ThreadOfServer.h"

namespace {

// The path below `folder` as on disk ('/' separators, starting with '/'), in UTF-8: the
// one conversion of a recorded change's path. False when the path does not lie below the
// folder or is not text.
bool RelativeDiskPath(const std::u16string& path, const std::u16string& folder, std::string& out) {
    if (folder.empty() || path.size() <= folder.size() + 1 || path.compare(0, folder.size(), folder) != 0 ||
        path[folder.size()] != u'/') {
        return false;
    }
    return UTF16toUTF8(path.data() + folder.size(), path.size() - folder.size(), out);
}

// A name holding '\\' (legal here) cannot be carried by a record path, whose separator it
// is: "sub\\inner.txt" would read as "inner.txt" in the folder "sub".
bool HoldsRecordSeparator(const std::string& diskPath) { return diskPath.find('\\') != std::string::npos; }

}  // namespace

LocalChangeRecorder::LocalChangeRecorder(SyncApp& app, std::mutex& slotLock, Hooks hooks)
    : app_(app), slotLock_(slotLock), hooks_(std::move(hooks)) {}

LocalChangeRecorder::~LocalChangeRecorder() {
    // No watcher call may reach a recorder that is being taken apart.
    DetachFromWatcher();
}

// The log names keep the window's handlers: the trace reads the same as before the
// recording had a class of its own.
void LocalChangeRecorder::On_FileAdded(const std::u16string& path) {
    SyncLog().debug("call COrvaneDlg::On_FileAdded");
    RecordChange(kLocalAdded, path, std::u16string());
}

void LocalChangeRecorder::On_FileRemoved(const std::u16string& path) {
    SyncLog().debug("call COrvaneDlg::On_FileRemoved");
    RecordChange(kLocalRemoved, path, std::u16string());
}

void LocalChangeRecorder::On_FileNameChanged(const std::u16string& oldPath, const std::u16string& newPath) {
    SyncLog().debug("call COrvaneDlg::On_FileNameChanged");
    RecordChange(kLocalRenamed, oldPath, newPath);
}

void LocalChangeRecorder::On_FileModified(const std::u16string& path) {
    SyncLog().debug("call COrvaneDlg::On_FileModified");
    RecordChange(kLocalModified, path, std::u16string());
}

void LocalChangeRecorder::RecordChange(std::uint32_t kind, const std::u16string& path,
                                       const std::u16string& newPath) {
    const std::u16string folder = hooks_.watchedFolder();
    std::string diskPath;
    std::string newDiskPath;
    if (!RelativeDiskPath(path, folder, diskPath) ||
        (kind == kLocalRenamed && !RelativeDiskPath(newPath, folder, newDiskPath))) {
        SyncLog().info("Change outside the sync folder or not text, not recorded: '" +
                       EscapeForLog(BaseFunc::WideToUtf8(path)) + "'");
        return;
    }
    if ((HoldsRecordSeparator(diskPath) || HoldsRecordSeparator(newDiskPath)) &&
        !KeepOutUnsyncableName(kind, diskPath, newDiskPath)) {
        return;
    }
    LocalChangeRecord change;
    change.kind = kind;
    change.path = ReplaceCharString(diskPath, '/', '\\');
    change.newPath = ReplaceCharString(newDiskPath, '/', '\\');
    change.pathKey = ToLowerString(change.path);
    change.newPathKey = ToLowerString(change.newPath);
    change.time = BaseFunc::GetMilliseconds();

    if (!ValidityCheck(change, folder)) return;
    ConflictCheck(change);
    ResetWatchTimer();
    std::lock_guard<std::mutex> queue(app_.changeListLock);
    app_.localChanges.push_back(std::move(change));
}

bool LocalChangeRecorder::KeepOutUnsyncableName(std::uint32_t& kind, std::string& diskPath,
                                                std::string& newDiskPath) {
    const bool oldOut = HoldsRecordSeparator(diskPath);
    const bool newOut = kind == kLocalRenamed && HoldsRecordSeparator(newDiskPath);
    const auto noteUnknown = [this](const std::string& item) {
        const std::string entry = LocalUnknownSet::DiskPath(item);
        // Logged once: not again for a further change of it, nor for an item inside it.
        if (!app_.driverUnknown.Covers(entry) && app_.driverUnknown.Add(entry)) {
            SyncLog().alert("Name cannot be synchronised (it holds '\\', the server's separator), kept out: '" +
                            EscapeForLog(item) + "'");
        }
    };
    if (kind != kLocalRenamed) {
        // The item (or a folder above it) is unknown: it exists but takes no part, and
        // when it goes, nothing of the synchronised items went with it.
        if (kind == kLocalRemoved) {
            app_.driverUnknown.Remove(LocalUnknownSet::DiskPath(diskPath));
        } else {
            noteUnknown(diskPath);
        }
        return false;
    }
    if (oldOut && newOut) {
        app_.driverUnknown.Rename(LocalUnknownSet::DiskPath(diskPath), LocalUnknownSet::DiskPath(newDiskPath));
        return false;
    }
    if (oldOut) {
        // An unknown item took a name that can be synchronised: it is new there.
        app_.driverUnknown.Remove(LocalUnknownSet::DiskPath(diskPath));
        kind = kLocalAdded;
        diskPath = std::move(newDiskPath);
    } else {
        // A synchronised name went; the item lives on under a name that cannot be.
        noteUnknown(newDiskPath);
        kind = kLocalRemoved;
    }
    newDiskPath.clear();
    return true;
}

bool LocalChangeRecorder::ValidityCheck(const LocalChangeRecord& change, const std::u16string& folder) {
    if (folder != rootedAt_) {
        disk_.SetRoot(folder);
        rootedAt_ = folder;
    }
    const auto readStamp = [this](const std::string& relativePath, DiskStamp& out) {
        return disk_.Stamp(relativePath, out);
    };
    const bool keep =
        localchange::KeepChange(change, app_.homeOperation.Snapshot(), BaseFunc::GetMilliseconds(), readStamp);
    if (!keep) SyncLog().debug("Own change dropped: '" + EscapeForLog(change.path) + "'");
    return keep;
}

void LocalChangeRecorder::ConflictCheck(const LocalChangeRecord& change) {
    const localchange::Conflict conflict =
        localchange::FindConflict(change, app_.homeOperation.Snapshot(), app_.awayOperation.Snapshot());
    bool replaceAway = false;
    {
        std::lock_guard<std::mutex> slots(slotLock_);
        if (CThreadOfServer* server = app_.serverThread) server->breakEvent.Set();
        if (CThreadOfHome* home = app_.homeThread) {
            home->abortEvent.Set();
            if (conflict.home) home->breakEvent.Set();
        }
        if (CThreadOfAway* away = app_.awayThread) {
            away->abortEvent.Set();
            if (conflict.away) {
                away->breakEvent.Set();
                replaceAway = true;
            }
        }
    }
    // The thread is replaced on the window's thread, which owns the worker slots.
    if (replaceAway && !awayReplaceQueued_.exchange(true)) hooks_.replaceAway();
}

void LocalChangeRecorder::ResetWatchTimer() {
    // Also while the reconciliation thread applies local changes: a record that arrives
    // after it took its batch must still be handed over.
    {
        std::lock_guard<std::mutex> hold(throttleLock_);
        if (!watchThrottle_.Accept(BaseFunc::GetMilliseconds())) return;
    }
    hooks_.armTimer();
}
