#include "sync/engine/ThreadOfAway.h"

#include <log4cpp/Priority.hh>

#include <memory>

#include "sync/common/BaseFunc.h"
#include "sync/common/FolderDigest.h"
#include "sync/engine/Reconcile.h"
#include "sync/common/unicode.h"
#include "sync/common/FeedLists.h"

namespace {

using log4cpp::Priority;

// Server call failures: text, its level and line; the network line's level, line and
// ending; the exit line and its ending.
const CCommitThread::CallFailure kCopyFailed{"服务器复制失败！ ", Priority::ERROR, 511, Priority::ALERT, 519, 528, ". ", ". "};
const CCommitThread::CallFailure kMoveFailed{"服务器移动失败！ ", Priority::ALERT, 699, Priority::ERROR, 705, 714, " ", ". "};
const CCommitThread::CallFailure kDeleteFailed{"服务器删除失败！ ", Priority::ALERT, 867, Priority::ALERT, 873, 882, " ", ". "};
const CCommitThread::CallFailure kFileNotDeleted{"创建文件夹前的删除同名文件失败！ ", Priority::ALERT, 999, Priority::ALERT,
                                                 1005, 1014, " ", ". "};
const CCommitThread::CallFailure kFolderFailed{"创建文件夹失败！ ", Priority::ALERT, 1034, Priority::ALERT, 1040, 1049, " ", ". "};
const CCommitThread::CallFailure kFolderNotDeleted{"创建文件夹前的删除同名文件夹失败！ ", Priority::ALERT, 1166, Priority::ALERT,
                                                   1172, 1181, " ", ". "};
const CCommitThread::CallFailure kUploadFailed{"上传文件失败！ ", Priority::ALERT, 1206, Priority::ALERT, 1212, 1221, " ", ". "};

const CCommitThread::CallFailure kListingFailed{"Server listing before the commit run failed! ", Priority::ALERT, 190,
                                                Priority::ALERT, 192, 194, " ", ". "};

const CCommitThread::PlaceLog kCopyPlaced{550, 575, 586, 431, 0, ""};
const CCommitThread::PlaceLog kMovePlaced{736, 751, 761, 431, 771, "删除Gamma节点失败！ "};

// The server holds what the cycle believes it holds: the same names and kinds, the same
// references, files with the same content.
bool SameServerItems(const FileNode& listed, const FileNode& known) {
    if (listed.children.size() != known.children.size()) return false;
    for (const auto& child : listed.children) {
        const SyncFileInfo& l = *child->data;
        const auto it = known.FindChild(std::string_view(l.name));
        if (it == known.children.end()) return false;
        const SyncFileInfo& k = *(*it)->data;
        if (k.name != l.name || k.isFile != l.isFile || k.nodeRef != l.nodeRef) return false;
        if (l.isFile != 0 && !BaseFunc::EqualNoCase(l.checksum, k.checksum)) return false;
        if (!SameServerItems(*child, **it)) return false;
    }
    return true;
}

const FileNode* LocalOf(const SyncTaskInfo& r) { return r.localPartner; }
const FileNode* ServerOf(const SyncTaskInfo& r) { return r.serverPartner; }

}  // namespace

CThreadOfAway::CThreadOfAway(SyncApp* a, SyncWindow* d)
    : CCommitThread(a, d, u"CThreadOfAway", 1, 0, "ThreadOfAway") {}

CThreadOfAway::~CThreadOfAway() { StopAndWait(); }

SyncOperationSlot& CThreadOfAway::Current() { return app->awayOperation; }

FileNode* CThreadOfAway::CopySourceTree() { return &app->ServerTree; }

void CThreadOfAway::ResultParams(bool ok, std::uintptr_t& wParam, std::intptr_t& lParam) const {
    wParam = 0;
    lParam = ok ? 2 : 1;
}

void CThreadOfAway::OnRunStart() {
    LogLine(Priority::INFO, "Client operation -> Server operation. ", 181);
}

bool CThreadOfAway::PrepareRun() {
    bool work = false;
    {
        TreeHold hold(*this);
        if (!hold.Held()) return false;
        for (const TaskNode* n : app->UniformTree.Preorder()) {
            const SyncTaskInfo& r = *n->data;
            if (r.aspect == aspect_ && (r.task != 0 || r.duty != 0)) {
                work = true;
                break;
            }
        }
    }
    if (work && ServerOps() != nullptr) {
        FileNode listing(SyncFileInfo("Waiter"));
        const ServerCallResult listed = ServerOps()->ListServer(this, &listing);
        if (IsStopResult(PollSuspend())) return false;
        if (!listed.ok) {
            // Without a look at the server nothing is changed there in this run.
            ReportCallFailure(kListingFailed, listed.status);
            return false;
        }
        TreeHold hold(*this);
        if (!hold.Held()) return false;
        if (SameServerItems(listing, app->ServerTree)) {
            LogLine(Priority::DEBUG, "Server unchanged since the cycle's listing. ", __LINE__);
        } else {
            LogLine(Priority::INFO, "Server changed since the cycle's listing: its items are decided again. ", __LINE__);
            MergeFreshListing(listing);
        }
    }
    app->serverLookDone.Set();
    return true;
}

void CThreadOfAway::OnRunEnd() {
    if (app != nullptr) app->serverLookDone.Set();
}

void CThreadOfAway::MergeFreshListing(FileNode& listing) {
    SteadyEngineClock clock;
    Reconciler reconciler(Fs(), clock);
    reconciler.announce = &app->homeOperation;
    reconciler.unknown = &app->driverUnknown;
    reconciler.owner = this;
    reconciler.MergeServerListing(&listing, &app->UniformTree);
    if (reconciler.conflictPending != 0) reconciler.RenameConflicts(&app->UniformTree);
    // The moves and copies were matched against the older listing: a move's source may
    // have come back to life, a copy's source may hold other content now.
    BaseFunc::ComputeFolderChecksum(&app->DriverTree);
    BaseFunc::ComputeFolderChecksum(&app->ServerTree);
    reconciler.ClearDuties(&app->UniformTree);
    reconciler.MatchPass(&app->UniformTree, 1);
    reconciler.MatchPass(&app->UniformTree, 2);
}

void CThreadOfAway::OnProgress(const TreeNode<SyncTaskInfo>* node, std::uint32_t, double percent) {
    if (node != nullptr) CStateDoingPage::UpdateProgressByChecksum(*node, percent);
}

const FileNode* CThreadOfAway::RowPartner(std::uint32_t pass, const SyncTaskInfo& r) const {
    return pass == kPassDelete ? r.serverPartner : r.localPartner;
}

const CCommitThread::PassTask& CThreadOfAway::TaskOf(std::uint32_t pass) const {
    static const PassTask kTasks[] = {
        {ExecOf(&CThreadOfAway::ExecServerFileTask), "CThreadOfAway::CommitServerFileTask", 1107, false, LocalOf, 0},
        {ExecOf(&CThreadOfAway::ExecServerFolderTask), "CThreadOfAway::CommitServerFolderTask", 943, false, LocalOf, 0},
        {ExecOf(&CThreadOfAway::ExecServerDeleteTask), "CThreadOfAway::CommitServerDeleteTask", 814, true, ServerOf, 1},
        {ExecOf(&CThreadOfAway::ExecServerMoveTask), "CThreadOfAway::CommitServerMoveTask", 629, true, LocalOf, 0},
        {ExecOf(&CThreadOfAway::ExecServerCopyTask), "CThreadOfAway::CommitServerCopyTask", 446, true, LocalOf, 0},
    };
    return kTasks[pass >= kPassFile && pass <= kPassCopy ? pass - kPassFile : 0];
}

void CThreadOfAway::LogParentPrecondition(const SyncTaskInfo& r) const {
    const std::string path = NodePath(r.localPartner, 2);
    LogFailure("创建父文件夹的前提条件不合适！" + EscapeForLog(path) + ": aspect=" + std::to_string(r.aspect) +
                   ", task=" + std::to_string(r.task) + ", duty=" + std::to_string(r.duty) + " ",
               386);
}

// ---------------------------------------------------------------------------------------
// Copy

bool CThreadOfAway::ExecServerCopyTask(const CommitEntry& entry) {
    std::uint32_t kind = 0;
    std::string sourceParentRef, sourceRef, targetRef, sourcePath, localPath, localName;
    ServerCallResult result;
    ItemSteps steps;
    steps.parents = true;
    steps.snapshot = [&](TaskNode& node, FileNode* target) {
        const FileNode* source = ResolveCopySource(entry);
        if (source == nullptr || source->parent == nullptr || node.data->localPartner == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        kind = node.data->kind;
        sourceParentRef = source->parent->data->nodeRef;
        sourceRef = source->data->nodeRef;
        targetRef = target->data->nodeRef;
        sourcePath = NodePath(source, 1);
        localPath = NodePath(node.data->localPartner, 2);
        localName = node.data->localPartner->data->name;
        return true;
    };
    steps.call = [&] {
        BeginOperation(kind, 0, 5, sourcePath, localPath);
        if (ServerOps() != nullptr) result = ServerOps()->Copy(this, &Current(), sourceParentRef, sourceRef, targetRef);
        if (!result.ok) ReportCallFailure(kCopyFailed, result.status);
        return result.ok;
    };
    steps.place = [&](TaskNode& node, FileNode* parent, std::vector<CommitRow>& rows) {
        if (!PlaceCopyOrMove(entry, &node, parent, false, localName, result.nodeRef, kCopyPlaced, rows)) return false;
        LogLine(Priority::INFO, "服务器复制成功！ ", 595);
        return true;
    };
    return RunSteps(entry, steps);
}

// ---------------------------------------------------------------------------------------
// Move and rename

bool CThreadOfAway::ExecServerMoveTask(const CommitEntry& entry) {
    std::uint32_t kind = 0;
    bool sameParent = false;
    std::string sourceParentRef, sourceRef, targetRef, sourcePath, localPath, localName;
    ServerCallResult result;
    ItemSteps steps;
    steps.parents = true;
    steps.snapshot = [&](TaskNode& node, FileNode* target) {
        TaskNode* sourceTask = ResolveMoveSource(entry);
        const FileNode* source = sourceTask != nullptr ? sourceTask->data->serverPartner : nullptr;
        const FileNode* local = node.data->localPartner;
        if (source == nullptr || source->parent == nullptr || local == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        kind = node.data->kind;
        sameParent = SamePathNoCase(source->parent, local->parent);
        sourceParentRef = source->parent->data->nodeRef;
        sourceRef = source->data->nodeRef;
        targetRef = target->data->nodeRef;
        sourcePath = NodePath(source, 1);
        localPath = NodePath(local, 2);
        localName = local->data->name;
        return true;
    };
    steps.call = [&] {
        BeginOperation(kind, 0, sameParent ? 6 : 4, sourcePath, localPath);
        if (ServerOps() != nullptr) {
            result = sameParent ? ServerOps()->Rename(this, &Current(), sourceRef, localName)
                                : ServerOps()->Move(this, &Current(), sourceParentRef, sourceRef, targetRef);
        }
        if (!result.ok) ReportCallFailure(kMoveFailed, result.status);
        return result.ok;
    };
    steps.place = [&](TaskNode& node, FileNode* parent, std::vector<CommitRow>& rows) {
        if (!PlaceCopyOrMove(entry, &node, parent, true, localName, result.nodeRef, kMovePlaced, rows)) return false;
        LogLine(Priority::INFO, "服务器移动成功！ ", 780);
        return true;
    };
    return RunSteps(entry, steps);
}

// ---------------------------------------------------------------------------------------
// Delete

bool CThreadOfAway::ExecServerDeleteTask(const CommitEntry& entry) {
    std::uint32_t kind = 0;
    std::string parentRef, itemRef, serverPath;
    ItemSteps steps;
    steps.placeUnderParent = false;
    steps.deleteFlag = 1;
    steps.snapshot = [&](TaskNode& node, FileNode* target) {
        const FileNode* server = node.data->serverPartner;
        if (server == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        kind = node.data->kind;
        parentRef = target->data->nodeRef;
        itemRef = server->data->nodeRef;
        serverPath = NodePath(server, 1);
        return true;
    };
    steps.call = [&] {
        BeginOperation(kind, 0, 3, serverPath, std::string());
        const ServerCallResult result =
            ServerOps() != nullptr ? ServerOps()->Delete(this, &Current(), parentRef, itemRef) : ServerCallResult{};
        if (!result.ok) ReportCallFailure(kDeleteFailed, result.status);
        return result.ok;
    };
    steps.place = [&](TaskNode& node, FileNode*, std::vector<CommitRow>& rows) {
        FileNode* server = node.data->serverPartner;
        if (server == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        GatherRows(&node, true, ServerOf, rows);
        if (!EraseExactChild(server->parent, server) || !EraseExactChild(node.parent, &node)) {
            LogFailure("删除节点失败！ ", 928);
            return false;
        }
        return true;
    };
    return RunSteps(entry, steps);
}

// ---------------------------------------------------------------------------------------
// Folder creation and file upload

bool CThreadOfAway::DeleteInTheWay(const CommitEntry& entry, const InTheWay& old, const CallFailure& failure) {
    BeginOperation(old.isFile ? 1 : 0, 0, 3, old.path, std::string());
    const ServerCallResult removed =
        ServerOps() != nullptr ? ServerOps()->Delete(this, &Current(), old.parentRef, old.ref) : ServerCallResult{};
    if (!removed.ok) {
        ReportCallFailure(failure, removed.status);
        return false;
    }
    EndOperation();
    TreeHold hold(*this);
    if (!hold.Held()) return false;
    FileNode* target = nullptr;
    TaskNode* node = ResolveUnder(entry, target, __LINE__);
    if (node == nullptr) return false;
    if (!EraseOldPartner(node, target)) {
        LogStale(entry, __LINE__);
        return false;
    }
    // A file's unified node keeps nothing of the folder that was there.
    if (node->data->kind == 1) node->DeleteChildren();
    return true;
}

bool CThreadOfAway::ExecServerFolderTask(const CommitEntry& entry) {
    std::uint32_t kind = 0;
    SyncFileInfo record;
    std::string folderPath;
    std::string targetRef;
    InTheWay old;
    bool present = false;  // the server has a folder of that name already
    ServerCallResult created;
    ItemSteps steps;
    steps.snapshot = [&](TaskNode& node, FileNode* target) {
        const FileNode* local = node.data->localPartner;
        if (local == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        kind = node.data->kind;
        record = *local->data;
        record.checksum.clear();
        record.nodeRef.clear();
        folderPath = NodePath(local, 2);
        record.size = 0;
        targetRef = target->data->nodeRef;
        old = InTheWayOf(&node, targetRef);
        present = old.exists && !old.isFile;
        return true;
    };
    steps.call = [&] {
        // A file of that name is in the way on the server: it goes first, and its node with it.
        if (old.exists && old.isFile && !DeleteInTheWay(entry, old, kFileNotDeleted)) return false;
        if (present) return true;
        BeginOperation(kind, 0, 1, folderPath, std::string());
        if (ServerOps() != nullptr) created = ServerOps()->CreateFolder(this, &Current(), targetRef, record.name);
        if (!created.ok) ReportCallFailure(kFolderFailed, created.status);
        return created.ok;
    };
    steps.place = [&](TaskNode& node, FileNode* target, std::vector<CommitRow>& rows) {
        SyncTaskInfo& r = *node.data;
        // A folder the server already has is only linked.
        if (!present || r.serverPartner == nullptr) {
            record.nodeRef = created.nodeRef;
            FileNode* inserted = InsertUnder(target, record, "插入节点失败！ ", 1076);
            if (inserted == nullptr) return false;
            r.serverPartner = inserted;
        }
        ClearWork(r);
        GatherRows(&node, false, LocalOf, rows);
        return true;
    };
    return RunSteps(entry, steps);
}

CThreadOfAway::InTheWay CThreadOfAway::InTheWayOf(const TaskNode* node, const std::string& parentRef) {
    InTheWay old;
    if (const FileNode* server = node->data->serverPartner) {
        old.exists = true;
        old.isFile = server->data->isFile != 0;
        old.ref = server->data->nodeRef;
        old.parentRef = parentRef;
        old.path = NodePath(server, 1);
    }
    return old;
}

bool CThreadOfAway::ExecServerFileTask(const CommitEntry& entry) {
    std::uint32_t kind = 0;
    bool modified = false;
    InTheWay old;
    CommitServerOps::Upload upload;
    // The detached copies through which the upload reports its progress.
    std::unique_ptr<FileNode> progressPartner;
    std::unique_ptr<TaskNode> progressNode;
    ServerCallResult result;
    ItemSteps steps;
    steps.snapshot = [&](TaskNode& node, FileNode* target) {
        const FileNode* local = node.data->localPartner;
        if (local == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        const SyncTaskInfo& r = *node.data;
        kind = r.kind;
        modified = r.task == 2;
        upload.size = local->data->size;
        upload.destinationRef = target->data->nodeRef;
        upload.checksum = local->data->checksum;
        upload.relativePath = NodePath(local, 2);
        old = InTheWayOf(&node, upload.destinationRef);
        if (modified && old.exists && old.isFile) upload.updateRef = old.ref;
        progressPartner = std::make_unique<FileNode>(*local->data);
        SyncTaskInfo copy = r;
        copy.localPartner = progressPartner.get();
        copy.serverPartner = nullptr;
        copy.source = std::monostate{};
        progressNode = std::make_unique<TaskNode>(copy);
        return true;
    };
    steps.call = [&] {
        if (!SafeLocalPath(upload.relativePath)) {
            LogFailure("Refused local path '" + EscapeForLog(upload.relativePath) + "' ", __LINE__);
            return false;
        }
        // A folder of that name is in the way on the server: it goes first, with everything
        // below it, and the file is uploaded as a new one.
        if (old.exists && !old.isFile && !DeleteInTheWay(entry, old, kFolderNotDeleted)) return false;
        BeginOperation(kind, 0, modified ? 2 : 1, upload.relativePath, std::string());
        if (ServerOps() != nullptr) result = ServerOps()->UploadFile(this, &Current(), *progressNode, upload);
        if (!result.ok) ReportCallFailure(kUploadFailed, result.status);
        return result.ok;
    };
    steps.place = [&](TaskNode& node, FileNode* target, std::vector<CommitRow>& rows) {
        const FileNode* local = node.data->localPartner;
        if (local == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        SyncTaskInfo& r = *node.data;
        SyncFileInfo record = *local->data;
        record.nodeRef = result.nodeRef;
        if (modified && r.serverPartner != nullptr && r.serverPartner->data->isFile != 0) {
            *r.serverPartner->data = record;
        } else {
            FileNode* inserted = InsertUnder(target, record, "插入节点失败! ", 1252);
            if (inserted == nullptr) return false;
            r.serverPartner = inserted;
        }
        ClearWork(r);
        GatherRows(&node, false, LocalOf, rows);
        return true;
    };
    return RunSteps(entry, steps);
}
