// Local change recording: the directory watcher's reports become queued change records,
// freed of the program's own echoes, and a change that meets a recorded commit operation
// makes that thread let go of the item. Runs on the watcher's notification thread.
#include <log4cpp/Category.hh>

#include "sync/app/LocalChangeFilter.h"
#include "sync/app/OrvaneApp.h"
#include "sync/app/OrvaneDlg.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/ThreadOfAway.h"
#include "sync/engine/ThreadOfConform.h"
#include "sync/engine/ThreadOfHome.h"
#include "sync/engine/ThreadOfServer.h"

using namespace orvane;

namespace {

// The path below `folder` with '\\' separators, starting with '\\'; false when the path
// does not lie below the folder or is not text.
bool RelativeRecordPath(const std::u16string& path, const std::u16string& folder, std::string& out) {
    if (folder.empty() || path.size() <= folder.size() + 1 || path.compare(0, folder.size(), folder) != 0 ||
        path[folder.size()] != u'/') {
        return false;
    }
    std::string relative;
    if (!UTF16toUTF8(path.data() + folder.size(), path.size() - folder.size(), relative)) return false;
    out = ReplaceCharString(relative, '/', '\\');
    return true;
}

}  // namespace

void COrvaneDlg::On_FileAdded(const std::u16string& path) {
    SyncLog().debug("call COrvaneDlg::On_FileAdded");
    RecordChange(kLocalAdded, path, std::u16string());
}

void COrvaneDlg::On_FileRemoved(const std::u16string& path) {
    SyncLog().debug("call COrvaneDlg::On_FileRemoved");
    RecordChange(kLocalRemoved, path, std::u16string());
}

void COrvaneDlg::On_FileNameChanged(const std::u16string& oldPath, const std::u16string& newPath) {
    SyncLog().debug("call COrvaneDlg::On_FileNameChanged");
    RecordChange(kLocalRenamed, oldPath, newPath);
}

void COrvaneDlg::On_FileModified(const std::u16string& path) {
    SyncLog().debug("call COrvaneDlg::On_FileModified");
    RecordChange(kLocalModified, path, std::u16string());
}

void COrvaneDlg::RecordChange(std::uint32_t kind, const std::u16string& path, const std::u16string& newPath) {
    const std::u16string folder = app_.WatchedFolder();
    LocalChangeRecord change;
    change.kind = kind;
    if (!RelativeRecordPath(path, folder, change.path) ||
        (kind == kLocalRenamed && !RelativeRecordPath(newPath, folder, change.newPath))) {
        SyncLog().info("Change outside the sync folder or not text, not recorded: '" +
                       EscapeForLog(BaseFunc::WideToUtf8(path)) + "'");
        return;
    }
    change.pathKey = ToLowerString(change.path);
    change.newPathKey = ToLowerString(change.newPath);
    change.time = BaseFunc::GetMilliseconds();

    if (!ValidityCheck(change)) return;
    ConflictCheck(change);
    ResetWatchTimer();
    std::lock_guard<std::mutex> queue(app_.changeListLock);
    app_.localChanges.push_back(std::move(change));
}

bool COrvaneDlg::ValidityCheck(const LocalChangeRecord& change) {
    const bool keep = localchange::KeepChange(change, app_.homeOperation.Snapshot(), BaseFunc::GetMilliseconds());
    if (!keep) SyncLog().debug("Own change dropped: '" + EscapeForLog(change.path) + "'");
    return keep;
}

void COrvaneDlg::ConflictCheck(const LocalChangeRecord& change) {
    const localchange::Conflict conflict =
        localchange::FindConflict(change, app_.homeOperation.Snapshot(), app_.awayOperation.Snapshot());
    bool replaceAway = false;
    {
        std::lock_guard<std::mutex> slots(app_.SlotLock());
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
    if (replaceAway && !awayReplaceQueued_.exchange(true)) PostMessage(kWmReplaceAway, 0, 0);
}

void COrvaneDlg::ReplaceAwayIfBusy() {
    awayReplaceQueued_ = false;
    if (Terminating()) return;
    CThreadOfAway* away = app_.awayThread;
    if (away == nullptr || !away->IsAlive()) return;
    bool idle = false;
    {
        WaitScope scope(*this);
        idle = away->doneEvent.Wait(100);
    }
    if (!idle) ReplaceCommitThread(true);
}

void COrvaneDlg::ResetWatchTimer() {
    // Also while the reconciliation thread applies local changes: a record that arrives
    // after it took its batch must still be handed over.
    {
        std::lock_guard<std::mutex> hold(throttleLock_);
        if (!watchThrottle_.Accept(BaseFunc::GetMilliseconds())) return;
    }
    plat::SetTimer(window_, kTimerLocalChanges, kDebounceMs);
}
