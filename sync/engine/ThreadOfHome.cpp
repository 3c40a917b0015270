#include "sync/engine/ThreadOfHome.h"

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include "platform/timetext.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/FileDigest.h"
#include "sync/engine/SyncMessages.h"

#include <cerrno>
#include <vector>

namespace {

using log4cpp::Priority;

const CCommitThread::CallFailure kDownloadFailed{"下载文件失败！ ", Priority::ALERT, 1122, Priority::ALERT, 1128, 1137,
                                                 " ！ ", "."};

const CCommitThread::PlaceLog kCopyPlaced{544, 559, 569, 414, 0, ""};
const CCommitThread::PlaceLog kMovePlaced{735, 750, 760, 414, 770, "删除节点失败！ "};

const FileNode* LocalOf(const SyncTaskInfo& r) { return r.localPartner; }
const FileNode* ServerOf(const SyncTaskInfo& r) { return r.serverPartner; }
const FileNode* LocalOrServerOf(const SyncTaskInfo& r) {
    return r.localPartner != nullptr ? r.localPartner : r.serverPartner;
}

// The record path of a child of the Driver node `parent` ('/' separators, as the local
// scan writes them).
std::string ChildPath(const FileNode* parent, const std::string& name) {
    return NodePath(parent, 2) + '/' + name;
}

// The name a copied or moved item takes: the source's own when the two differ only in
// case (the trees keep one spelling of a name), else the new one.
const std::string& KeptName(const std::string& sourceName, const std::string& newName) {
    return BaseFunc::EqualNoCase(sourceName, newName) ? sourceName : newName;
}

// The last component of a record path.
std::string LastName(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

CThreadOfHome::CThreadOfHome(SyncApp* a, SyncWindow* d)
    : CCommitThread(a, d, u"CThreadOfHome", 2, 1, "ThreadOfHome") {
    itemPauseMs = 30;
}

CThreadOfHome::~CThreadOfHome() { StopAndWait(); }

bool CThreadOfHome::PrepareRun() {
    std::vector<plat::Waitable*> objects;
    if (g_pTerminateEvent != nullptr) objects.push_back(g_pTerminateEvent);
    objects.push_back(&breakEvent);
    objects.push_back(&abortEvent);
    objects.push_back(&app->serverLookDone);
    return plat::WaitAny(objects, plat::kInfinite) == objects.size() - 1;
}

SyncOperationSlot& CThreadOfHome::Current() { return app->homeOperation; }

FileNode* CThreadOfHome::CopySourceTree() { return &app->DriverTree; }

void CThreadOfHome::ResultParams(bool ok, std::uintptr_t& wParam, std::intptr_t& lParam) const {
    wParam = ok ? 2 : 1;
    lParam = 0;
}

const FileNode* CThreadOfHome::RowPartner(std::uint32_t pass, const SyncTaskInfo& r) const {
    return pass == kPassDelete ? r.localPartner : r.serverPartner;
}

const CCommitThread::PassTask& CThreadOfHome::TaskOf(std::uint32_t pass) const {
    static const PassTask kTasks[] = {
        {ExecOf(&CThreadOfHome::ExecClientFileTask), "CThreadOfHome::CommitClientFileTask", 1082, false, ServerOf,
         0},
        {ExecOf(&CThreadOfHome::ExecClientFolderTask), "CThreadOfHome::CommitClientFolderTask", 953, false, ServerOf, 0},
        {ExecOf(&CThreadOfHome::ExecClientDeleteTask), "CThreadOfHome::CommitClientDeleteTask", 811, true, LocalOf,
         1},
        {ExecOf(&CThreadOfHome::ExecClientMoveTask), "CThreadOfHome::CommitClientMoveTask", 610, true, LocalOrServerOf, 0},
        {ExecOf(&CThreadOfHome::ExecClientCopyTask), "CThreadOfHome::CommitClientCopyTask", 429, true, LocalOf, 0},
    };
    return kTasks[pass >= kPassFile && pass <= kPassCopy ? pass - kPassFile : 0];
}

// ---------------------------------------------------------------------------------------
// Shared steps

void CThreadOfHome::LogParentPrecondition(const SyncTaskInfo& r) const {
    const std::string path = NodePath(r.serverPartner, 1);
    LogFailure("创建父目录的前提条件不合适！'" + EscapeForLog(path) + "': aspect=" + std::to_string(r.aspect) +
                   ", task=" + std::to_string(r.task) + ", duty=" + std::to_string(r.duty) + "  ",
               366);
}

// ---------------------------------------------------------------------------------------
// Copy

bool CThreadOfHome::ExecClientCopyTask(const CommitEntry& entry) {
    std::uint32_t kind = 0;
    std::string name, fromPath, toPath;
    ItemSteps steps;
    steps.parents = true;
    steps.snapshot = [&](TaskNode& node, FileNode* parent) {
        const FileNode* source = ResolveCopySource(entry);
        const FileNode* server = node.data->serverPartner;
        if (source == nullptr || server == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        kind = node.data->kind;
        name = KeptName(source->data->name, server->data->name);
        fromPath = NodePath(source, 2);
        toPath = ChildPath(parent, name);
        return true;
    };
    steps.call = [&] {
        if (!SafeLocalPath(fromPath) || !SafeLocalPath(toPath)) {
            LogFailure("复制操作失败！ ", 522);
            return false;
        }
        BeginOperation(kind, 1, 5, fromPath, toPath);
        errno = 0;
        const bool copied = kind == 1 ? Fs().CopyFile(fromPath, toPath) : Fs().CopyTree(fromPath, toPath);
        if (!copied) {
            FailOnDisk();
            LogFailure("复制操作失败！ ", 522);
            return false;
        }
        if (kind == 1) NotePlaced(toPath);
        return true;
    };
    steps.place = [&](TaskNode& node, FileNode* parent, std::vector<CommitRow>& rows) {
        return PlaceCopyOrMove(entry, &node, parent, false, name, std::string(), kCopyPlaced, rows);
    };
    return RunSteps(entry, steps);
}

// ---------------------------------------------------------------------------------------
// Move and rename

bool CThreadOfHome::ExecClientMoveTask(const CommitEntry& entry) {
    std::uint32_t kind = 0;
    bool sameParent = false;
    std::string name, fromPath, toPath;
    ItemSteps steps;
    steps.parents = true;
    steps.snapshot = [&](TaskNode& node, FileNode* parent) {
        TaskNode* sourceTask = ResolveMoveSource(entry);
        const FileNode* source = sourceTask != nullptr ? sourceTask->data->localPartner : nullptr;
        const FileNode* server = node.data->serverPartner;
        if (source == nullptr || server == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        kind = node.data->kind;
        sameParent = source->parent == parent;
        name = KeptName(source->data->name, server->data->name);
        fromPath = NodePath(source, 2);
        toPath = ChildPath(parent, name);
        return true;
    };
    steps.call = [&] {
        if (!SafeLocalPath(fromPath) || !SafeLocalPath(toPath)) {
            LogFailure("移动操作失败！ ", 713);
            return false;
        }
        BeginOperation(kind, 1, sameParent && Fs().KindOf(toPath) == EngineFs::Kind::Missing ? 6 : 4, fromPath,
                       toPath);
        // Across file systems both fall back to copy and rename.
        errno = 0;
        if (!Fs().Move(fromPath, toPath, kind == 1)) {
            FailOnDisk();
            LogFailure("移动操作失败！ ", 713);
            return false;
        }
        if (kind == 1) NotePlaced(toPath);
        return true;
    };
    steps.place = [&](TaskNode& node, FileNode* parent, std::vector<CommitRow>& rows) {
        return PlaceCopyOrMove(entry, &node, parent, true, name, std::string(), kMovePlaced, rows);
    };
    return RunSteps(entry, steps);
}

// ---------------------------------------------------------------------------------------
// Delete

bool CThreadOfHome::ExecClientDeleteTask(const CommitEntry& entry) {
    std::uint32_t kind = 0;
    std::string localPath;
    ItemSteps steps;
    steps.snapshotUnderParent = false;
    steps.placeUnderParent = false;
    steps.deleteFlag = 1;
    steps.snapshot = [&](TaskNode& node, FileNode*) {
        const FileNode* local = node.data->localPartner;
        if (local == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        kind = node.data->kind;
        localPath = NodePath(local, 2);
        return true;
    };
    steps.call = [&] {
        BeginOperation(kind, 1, 3, localPath, std::string());
        if (!SafeLocalPath(localPath)) return false;
        // The item must still be there as what the listing saw: a folder, or a file.
        if (Fs().KindOf(localPath) != (kind == 0 ? EngineFs::Kind::Folder : EngineFs::Kind::File)) {
            Fail(failreason::kItemChanged);
            LogFailure("删除操作失败！ ", 893);
            return false;
        }
        if (kind == 0 && app->driverUnknown.HasAtOrBelow(localPath)) {
            // The scan could not list everything in the folder: what it holds beyond the
            // listing is not the server's to delete.
            Fail(failreason::kUnsynced);
            LogFailure("Folder holds items that were never synchronised, kept '" + EscapeForLog(localPath) + "' ",
                       __LINE__);
            LogFailure("删除操作失败！ ", 893);
            return false;
        }
        errno = 0;
        const bool removed = kind == 0 ? Fs().RemoveTree(localPath) : Fs().RemoveFile(localPath);
        if (!removed) {
            FailOnDisk();
            LogFailure("删除操作失败！ ", 893);
            return false;
        }
        return true;
    };
    steps.place = [&](TaskNode& node, FileNode*, std::vector<CommitRow>& rows) {
        FileNode* local = node.data->localPartner;
        if (local == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        GatherRows(&node, true, LocalOf, rows);
        if (!EraseExactChild(local->parent, local) || !EraseExactChild(node.parent, &node)) {
            LogFailure("删除节点失败！ ", 938);
            return false;
        }
        return true;
    };
    return RunSteps(entry, steps);
}

// ---------------------------------------------------------------------------------------
// Folder creation

bool CThreadOfHome::SetLocalFileAside(const CommitEntry& entry, const std::string& relPath, const std::string& name) {
    std::string backupRel;
    std::string backupName;
    if (Fs().KindOf(relPath) != EngineFs::Kind::Missing) {
        const std::string backup = Fs().MakeBackupName(relPath, plat::NowLocal());
        backupName = LastName(backup);
        backupRel = relPath.substr(0, relPath.size() - name.size()) + backupName;
        BeginOperation(1, 1, 6, relPath, backupRel);
        errno = 0;
        if (backup.empty() || !Fs().Move(relPath, backupRel, false)) {
            if (backup.empty()) Fail(failreason::kNameTaken);
            FailOnDisk();
            LogFailure("移除文件失败！'" + EscapeForLog(DiskPathOf(relPath)) + "' ", 1008);
            return false;
        }
        NotePlaced(backupRel);
        EndOperation();
    }
    TreeHold hold(*this);
    if (!hold.Held()) return false;
    TaskNode* node = Resolve(entry);
    FileNode* local = node != nullptr ? node->data->localPartner : nullptr;
    if (node == nullptr || local == nullptr) {
        LogStale(entry, __LINE__);
        return false;
    }
    ClearPartnerBelow(node, false);
    // The Driver node follows the file to its backup name (or goes, when the file was
    // not there any more).
    if (backupRel.empty() || !RenameNodeInTree(local, local->parent, backupName)) {
        EraseExactChild(local->parent, local);
    }
    return true;
}

bool CThreadOfHome::ExecClientFolderTask(const CommitEntry& entry) {
    std::uint32_t kind = 0;
    SyncFileInfo record;
    std::string relPath;
    bool localIsFile = false;
    ItemSteps steps;
    steps.snapshot = [&](TaskNode& node, FileNode* parent) {
        const FileNode* server = node.data->serverPartner;
        if (server == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        kind = node.data->kind;
        const FileNode* local = node.data->localPartner;
        localIsFile = local != nullptr && local->data->isFile != 0;
        record = *server->data;
        if (local != nullptr && local->data->isFile == 0) record.name = local->data->name;
        relPath = ChildPath(parent, record.name);
        return true;
    };
    steps.call = [&] {
        if (!SafeLocalPath(relPath)) {
            LogFailure("新建目录失败！'" + EscapeForLog(relPath) + "' ", 1022);
            return false;
        }
        // A local file stands where the folder goes: it is kept under a conflict backup
        // name beside it (uploaded by a later cycle), never removed.
        if (localIsFile && !SetLocalFileAside(entry, relPath, record.name)) return false;
        BeginOperation(kind, 1, 1, relPath, std::string());
        errno = 0;
        if (!Fs().MakeFolders(relPath)) {
            FailOnDisk();
            LogFailure("新建目录失败！'" + EscapeForLog(DiskPathOf(relPath)) + "' ", 1022);
            return false;
        }
        return true;
    };
    steps.place = [&](TaskNode& node, FileNode* parent, std::vector<CommitRow>& rows) {
        SyncTaskInfo& r = *node.data;
        // A folder the Driver tree already has is only linked.
        if (r.localPartner == nullptr || r.localPartner->data->isFile != 0) {
            FileNode* inserted = parent->InsertChild(record).Node();
            if (inserted == nullptr) {
                Fail(failreason::kNameTaken);
                LogFailure("插入节点失败！ ", 1048);
                return false;
            }
            r.localPartner = inserted;
        }
        ClearWork(r);
        GatherRows(&node, false, LocalOf, rows);
        return true;
    };
    return RunSteps(entry, steps);
}

// ---------------------------------------------------------------------------------------
// File download

bool CThreadOfHome::LocalFileUnchanged(const std::string& path, const SyncFileInfo* known) {
    if (known == nullptr) return false;  // a file the sync never saw
    bool isFolder = false;
    std::uint64_t size = 0;
    if (!Fs().Attributes(path, isFolder, size) || isFolder || size != known->size) return false;
    // Without a digest the size is all there is to compare; the hash step judges the
    // record's content before the next cycle.
    if (known->checksum.empty()) return true;
    FileDigestHolder holder(this);
    const std::string digest = Fs().Digest(holder, path);
    return !digest.empty() && BaseFunc::EqualNoCase(digest, known->checksum);
}

bool CThreadOfHome::KeepChangedLocalFile(const CommitEntry& entry, const std::string& path, const std::string& name,
                                         const SyncFileInfo* known) {
    if (Fs().KindOf(path) != EngineFs::Kind::File) return true;  // nothing of the user's to lose
    if (LocalFileUnchanged(path, known)) return true;

    // The file on disk is not the one the sync knew (edited since the scan, or never
    // seen): it is kept under a conflict backup name, which a later cycle uploads as a
    // new local file, and the server's version takes the item's name.
    const std::string backup = Fs().MakeBackupName(path, plat::NowLocal());
    const std::string backupRel = path.substr(0, path.size() - name.size()) + LastName(backup);
    BeginOperation(1, 1, 6, path, backupRel);
    if (backup.empty() || !Fs().Move(path, backupRel, false)) {
        Fail(failreason::kLocalChanged);
        LogFailure("Cannot keep the changed local file '" + EscapeForLog(DiskPathOf(path)) + "' ", __LINE__);
        return false;
    }
    NotePlaced(backupRel);
    EndOperation();
    SyncLog().info("Changed local file kept as '" + EscapeForLog(DiskPathOf(backupRel)) + "'");

    // The Driver tree forgets the old file, so the backup is a new local item to the next
    // scan and the download inserts a fresh record.
    TreeHold hold(*this);
    if (!hold.Held()) return false;
    FileNode* parent = nullptr;
    TaskNode* node = ResolveUnder(entry, parent, __LINE__);
    if (node == nullptr) return false;
    FileNode* local = node->data->localPartner;
    if (local != nullptr && local->data->isFile != 0) {
        if (!EraseOldPartner(node, parent)) {
            LogFailure("删除旧节点失败！ ", __LINE__);
            return false;
        }
    }
    QueueBackupAsLocalAddition(backupRel);
    return true;
}

// The backup is the program's own rename, so the watcher's report of it is filtered out;
// it is queued here as an added local item instead, so that the next cycle uploads it.
void CThreadOfHome::QueueBackupAsLocalAddition(const std::string& backupRel) {
    if (app == nullptr) return;
    LocalChangeRecord change;
    change.kind = kLocalAdded;
    change.path = ReplaceCharString(backupRel, '/', '\\');
    if (change.path.empty() || change.path.front() != '\\') change.path.insert(change.path.begin(), '\\');
    change.pathKey = ToLowerString(change.path);
    change.time = BaseFunc::GetMilliseconds();
    {
        std::lock_guard<std::mutex> queue(app->changeListLock);
        app->localChanges.push_back(std::move(change));
    }
    if (app->mainWindow != nullptr) app->mainWindow->PostMessage(WM_DELTA_CONFORM, kReasonLocalChanges, 0);
}

bool CThreadOfHome::ExecClientFileTask(const CommitEntry& entry) {
    std::uint32_t kind = 0;
    bool modified = false;
    SyncFileInfo record;
    std::string relPath;
    SyncFileInfo known;  // the Driver record of the local file the download replaces
    bool knownFile = false;
    CommitServerOps::Download download;
    ItemSteps steps;
    steps.snapshot = [&](TaskNode& node, FileNode* parent) {
        const FileNode* server = node.data->serverPartner;
        if (server == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        kind = node.data->kind;
        modified = node.data->task == 2;
        record = *server->data;
        const FileNode* local = node.data->localPartner;
        if (local != nullptr && local->data->isFile != 0) {
            record.name = local->data->name;
            known = *local->data;
            knownFile = true;
        }
        relPath = ChildPath(parent, record.name);
        download.size = server->data->size;
        download.nodeRef = server->data->nodeRef;
        download.relativePath = relPath;
        download.checksum = server->data->checksum;
        return true;
    };
    steps.call = [&] {
        BeginOperation(kind, 0, modified ? 2 : 1, relPath, std::string());
        ServerCallResult result;
        bool placeFree = false;
        if (!SafeLocalPath(relPath)) {
            LogFailure("Refused local path '" + EscapeForLog(relPath) + "' ", __LINE__);
        } else if (!(placeFree = KeepChangedLocalFile(entry, relPath, record.name, knownFile ? &known : nullptr))) {
            return false;
        }
        if (placeFree && ServerOps() != nullptr) {
            BeginOperation(kind, 0, modified ? 2 : 1, relPath, std::string());
            result = ServerOps()->DownloadFile(this, &Current(), entry.node, download);
        }
        if (!result.ok) ReportCallFailure(kDownloadFailed, result.status);
        return result.ok;
    };
    steps.place = [&](TaskNode& node, FileNode* parent, std::vector<CommitRow>& rows) {
        SyncTaskInfo& r = *node.data;
        record.nodeRef.clear();
        if (r.localPartner != nullptr && r.localPartner->data->isFile != 0) {
            *r.localPartner->data = record;
        } else {
            // A folder that stood there was set aside by the download; its node goes.
            if (r.localPartner != nullptr && !EraseOldPartner(&node, parent)) {
                LogFailure("删除旧节点失败！ ", __LINE__);
                return false;
            }
            node.DeleteChildren();
            FileNode* inserted = parent->InsertChild(record).Node();
            if (inserted == nullptr) {
                Fail(failreason::kNameTaken);
                LogFailure("插入节点失败！ ", 1164);
                return false;
            }
            r.localPartner = inserted;
        }
        ClearWork(r);
        GatherRows(&node, false, LocalOf, rows);
        return true;
    };
    return RunSteps(entry, steps);
}
