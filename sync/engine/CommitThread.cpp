#include "sync/engine/CommitThread.h"

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "platform/timetext.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/FolderDigest.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/SyncMessages.h"
#include "sync/engine/WebCloudOps.h"
#include "sync/net/WinHttpClient.h"

std::string CommitTimeText() {
    const std::int64_t offset = g_nLocalTimeOffset.load();
    const int hours = static_cast<int>((offset / 3600) % 24);
    const int minutes = static_cast<int>((offset / 60) % 60);
    return BaseFunc::GetTimeString(plat::NowUtc(), hours, minutes);
}

CCommitThread::CCommitThread(SyncApp* a, SyncWindow* d, std::u16string threadName, std::uint32_t aspect,
                             std::uint32_t direction, const char* logSource)
    : CWorkerLoop(a, d, std::move(threadName)), aspect_(aspect), direction_(direction), logSource_(logSource) {}

CCommitThread::~CCommitThread() { StopAndWait(); }

// ---------------------------------------------------------------------------------------
// Command hooks

bool CCommitThread::Bind() {
    app = static_cast<SyncApp*>(param1);
    dialog = static_cast<SyncWindow*>(param2);
    if (app == nullptr || dialog == nullptr) return false;
    if (serverOps_ == nullptr && !ownOps_ && app->webCloud != nullptr) ownOps_ = MakeWebCloudServerOps(*app);
    return true;
}

std::uint32_t CCommitThread::RunPass(std::uint32_t) {
    ClearLists();
    Current().Set(SyncOperation{});
    itemsFailed_ = 0;
    const bool ok = CommitOnRunHandler();
    OnRunEnd();
    ClearLists();
    // The last operation stays (ended) so that the main window still tells its late
    // watcher events from the user's for a moment after the run.
    {
        const std::uint64_t now = BaseFunc::GetMilliseconds();
        Current().Update([now](SyncOperation& op) {
            if (op.opCode != 0 && op.state != 2) {
                op.state = 2;
                op.endMs = now;
            }
        });
    }
    passCode = 0;
    // Sent before the done event is set: the main window has handled the result before
    // the thread reads as idle. A run in which an item failed did not bring its side in
    // step: it reports a failure, so the program never says "in sync" over failed items.
    SendResult(ok && itemsFailed_ == 0);
    return ok ? 1 : 0;
}

void CCommitThread::OnExit() {
    // A run that was asked for but is dropped by the stop is reported as failed.
    OnRunEnd();
    if (RunCommandQueued()) SendResult(false);
}

bool CCommitThread::RunCommandQueued() {
    std::lock_guard<std::recursive_mutex> hold(g_csThread());
    return std::find(commands.begin(), commands.end(), THREAD_CMD_RUN) != commands.end();
}

void CCommitThread::SendResult(bool ok) {
    if (dialog == nullptr) return;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    ResultParams(ok, wParam, lParam);
    // While a stop is under way the main window may be the one waiting for this thread:
    // the result is posted then, never sent.
    if (StopWasRequested()) {
        dialog->PostMessage(WM_SIGMA_CONFORM, wParam, lParam);
    } else {
        dialog->SendMessage(WM_SIGMA_CONFORM, wParam, lParam);
    }
}

void CCommitThread::ClearLists() {
    fileTasks.clear();
    folderTasks.clear();
    deleteTasks.clear();
    moveTasks.clear();
    copyTasks.clear();
}

std::deque<CommitEntry>& CCommitThread::ListOf(std::uint32_t pass) {
    switch (pass) {
        case kPassCopy: return copyTasks;
        case kPassMove: return moveTasks;
        case kPassDelete: return deleteTasks;
        case kPassFolder: return folderTasks;
        default: return fileTasks;
    }
}

// ---------------------------------------------------------------------------------------
// The run

bool CCommitThread::CommitOnRunHandler() {
    if (IsStopResult(PollSuspend())) return false;
    if (app == nullptr) return false;
    diskFs_.SetRoot(app->syncFolder);
    OnRunStart();
    if (!PrepareRun()) return false;
    for (const std::uint32_t pass : {kPassCopy, kPassMove, kPassDelete, kPassFolder, kPassFile}) {
        if (!CommitPass(pass)) return false;
    }
    return true;
}

bool CCommitThread::StillHasWork(std::uint32_t pass, const SyncTaskInfo& r) const {
    if (r.aspect != aspect_) return false;
    if (pass >= kPassDelete) return r.task == pass || r.duty == pass;
    return r.kind == (pass == kPassFolder ? 0u : 1u) && r.IsCreateOrUpdate();
}

bool CCommitThread::CommitPass(std::uint32_t pass) {
    passCode = pass;
    std::deque<CommitEntry>& list = ListOf(pass);
    list.clear();
    std::vector<RunningRow> rows;
    {
        TreeHold hold(*this);
        if (!hold.Held()) return false;
        std::vector<TaskNode*> picked;
        TaskNode* root = &app->UniformTree;
        const bool collected =
            pass >= kPassDelete ? BaseFunc::TraverseForTaskNode(this, root, aspect_, pass, picked)
                                : BaseFunc::TraverseForFileFolder(this, root, aspect_, pass == kPassFolder ? 0 : 1, picked);
        if (!collected) return false;
        if (pass == kPassFile && aspect_ == 1) {
            // Files that replace server content go before new ones, so that as little as
            // possible lies between the run's look at the server and their requests.
            std::stable_partition(picked.begin(), picked.end(),
                                  [](const TaskNode* n) { return n->data->task == 2; });
        }
        for (TaskNode* node : picked) {
            CommitEntry entry = EntryFor(node, pass == kPassCopy || pass == kPassMove);
            auto addRow = [&](TaskNode* n) {
                const FileNode* partner = RowPartner(pass, *n->data);
                if (partner == nullptr) return;
                rows.push_back(RunningRow{n, static_cast<std::int64_t>(partner->data->size), NodePath(partner, 2)});
                entry.rowKeys.push_back(n);
            };
            if (pass >= kPassDelete && node->data->kind == 0) {
                for (TaskNode* below : node->Preorder()) {
                    if (below->data->kind == 1) addRow(below);
                }
            } else {
                addRow(node);
            }
            list.push_back(std::move(entry));
        }
    }
    AddRunningRows(rows, pass == kPassDelete ? 1 : 0);

    while (!list.empty()) {
        if (PassNeedsNetwork(pass) && !g_bNetworkUp.load()) return false;
        if (!PauseBeforeItem()) return false;
        const CommitEntry& entry = list.front();
        bool current = false;
        {
            TreeHold hold(*this);
            if (hold.Held()) {
                TaskNode* node = Resolve(entry);
                current = node != nullptr && StillHasWork(pass, *node->data);
            }
        }
        if (current) {
            RunItem(pass, entry);
        } else if (!IsStopResult(PollSuspend())) {
            // An earlier item of this run took the node away (or already did its work).
            DropRows(entry);
        }
        if (IsStopResult(PollSuspend())) return false;
        list.pop_front();
    }
    return true;
}

bool CCommitThread::RunItem(std::uint32_t pass, const CommitEntry& entry) {
    failReason_ = FailReason{};
    const PassTask& task = TaskOf(pass);
    return FinishItem(entry, (this->*task.exec)(entry), task);
}

TaskNode* CCommitThread::Refind(const CommitEntry& entry, bool underParent, FileNode*& parent, int line) {
    parent = nullptr;
    if (underParent) return ResolveUnder(entry, parent, line);
    TaskNode* node = Resolve(entry);
    if (node == nullptr) LogStale(entry, line);
    return node;
}

bool CCommitThread::RunSteps(const CommitEntry& entry, const ItemSteps& steps) {
    if (steps.parents && !CreateParentFolders(entry)) return false;
    {
        TreeHold hold(*this);
        if (!hold.Held()) return false;
        FileNode* parent = nullptr;
        TaskNode* node = Refind(entry, steps.snapshotUnderParent, parent, __LINE__);
        if (node == nullptr || !steps.snapshot(*node, parent)) return false;
    }
    if (!steps.call()) return false;
    std::vector<CommitRow> rows;
    {
        TreeHold hold(*this);
        if (!hold.Held()) return false;
        FileNode* parent = nullptr;
        TaskNode* node = Refind(entry, steps.placeUnderParent, parent, __LINE__);
        if (node == nullptr || !steps.place(*node, parent, rows)) return false;
    }
    EmitRows(rows, false, steps.deleteFlag);
    return true;
}

bool CCommitThread::PauseBeforeItem() {
    if (itemPauseMs == 0) return true;
    std::vector<plat::Waitable*> stops{&breakEvent, &abortEvent};
    if (g_pTerminateEvent != nullptr) stops.push_back(g_pTerminateEvent);
    return plat::WaitAny(stops, itemPauseMs) == plat::kWaitTimeout;
}

// ---------------------------------------------------------------------------------------
// Tree access

CCommitThread::TreeHold::TreeHold(CCommitThread& thread) {
    if (thread.app == nullptr) return;
    plat::WaitableMutex* lock = &thread.app->treeLock;
    std::uint32_t result;
    if (g_pTerminateEvent != nullptr) {
        result = plat::WaitAny({g_pTerminateEvent, &thread.breakEvent, lock}, plat::kInfinite);
        held_ = result == 2;
    } else {
        result = plat::WaitAny({&thread.breakEvent, lock}, plat::kInfinite);
        held_ = result == 1;
    }
    if (held_) lock_ = lock;
}

CCommitThread::TreeHold::~TreeHold() {
    if (held_) lock_->Unlock();
}

TaskNode* CCommitThread::Resolve(const CommitEntry& entry) {
    if (entry.path.empty()) return nullptr;
    TaskNode* found = FindNodeByPath(&app->UniformTree, 1, entry.path);
    return found == entry.node ? found : nullptr;
}

TaskNode* CCommitThread::ResolveMoveSource(const CommitEntry& entry) {
    if (entry.source == nullptr || entry.sourcePath.empty()) return nullptr;
    TaskNode* found = FindNodeByPath(&app->UniformTree, 1, entry.sourcePath);
    return found == entry.source ? found : nullptr;
}

FileNode* CCommitThread::ResolveCopySource(const CommitEntry& entry) {
    if (entry.source == nullptr || entry.sourcePath.empty()) return nullptr;
    FileNode* found = FindFileNodeByPath(CopySourceTree(), 1, entry.sourcePath);
    return found == entry.source ? found : nullptr;
}

CommitEntry CCommitThread::EntryFor(TaskNode* node, bool pinSource) const {
    CommitEntry entry;
    entry.node = node;
    entry.path = NodePath(node, 1);
    if (!pinSource) return entry;
    const SyncTaskInfo& r = *node->data;
    if (r.duty == 4) {
        if (const TaskNode* source = r.SourceTaskNode()) {
            entry.source = source;
            entry.sourcePath = NodePath(source, 1);
        }
    } else if (r.duty == 5) {
        if (const FileNode* source = r.SourceFileNode()) {
            entry.source = source;
            entry.sourcePath = NodePath(source, 1);
        }
    }
    return entry;
}

void CCommitThread::ClearWork(SyncTaskInfo& record) {
    record.aspect = 0;
    record.task = 0;
    record.duty = 0;
    record.flag = 1;
}

void CCommitThread::ClearPartnerBelow(TaskNode* node, bool serverSide) {
    (serverSide ? node->data->serverPartner : node->data->localPartner) = nullptr;
    for (TaskNode* below : node->Preorder()) {
        (serverSide ? below->data->serverPartner : below->data->localPartner) = nullptr;
    }
}

bool CCommitThread::EraseExactChild(FileNode* parent, const FileNode* child) {
    if (parent == nullptr || child == nullptr) return false;
    const auto it = parent->FindChild(*child->data);
    if (it == parent->children.end() || it->get() != child) return false;
    parent->EraseChild(it);
    return true;
}

bool CCommitThread::EraseExactChild(TaskNode* parent, const TaskNode* child) {
    if (parent == nullptr || child == nullptr) return false;
    const auto it = parent->FindChild(*child->data);
    if (it == parent->children.end() || it->get() != child) return false;
    parent->EraseChild(it);
    return true;
}

bool CCommitThread::IsSameOrAncestor(const TaskNode* candidate, const TaskNode* node) {
    for (; node != nullptr; node = node->parent) {
        if (node == candidate) return true;
    }
    return false;
}

TaskNode* CCommitThread::ResolveUnder(const CommitEntry& entry, FileNode*& parent, int line) {
    TaskNode* node = Resolve(entry);
    parent = nullptr;
    if (node != nullptr && node->parent != nullptr) {
        const SyncTaskInfo& above = *node->parent->data;
        parent = aspect_ == 1 ? above.serverPartner : above.localPartner;
    }
    if (node == nullptr || parent == nullptr) {
        LogStale(entry, line);
        return nullptr;
    }
    return node;
}

FileNode* CCommitThread::InsertUnder(FileNode* parent, const SyncFileInfo& record, const char* failText,
                                     int line) const {
    FileNode* inserted = parent->InsertChild(record).Node();
    if (inserted == nullptr) {
        Fail(failreason::kNameTaken);
        LogFailure(failText, line);
    }
    return inserted;
}

bool CCommitThread::EraseOldPartner(TaskNode* node, FileNode* parent) {
    const bool serverSide = aspect_ == 1;
    FileNode* old = serverSide ? node->data->serverPartner : node->data->localPartner;
    if (old == nullptr) return true;
    if (!EraseExactChild(parent, old)) return false;
    ClearPartnerBelow(node, serverSide);
    return true;
}

void CCommitThread::LogStale(const CommitEntry& entry, int line) const {
    Fail(failreason::kItemChanged);
    LogFailure("Commit item no longer matches the trees '" + EscapeForLog(entry.path) + "' ", line);
}

bool CCommitThread::CreateParentFolders(const CommitEntry& entry) {
    std::vector<CommitEntry> missing;
    {
        TreeHold hold(*this);
        if (!hold.Held()) return false;
        TaskNode* node = Resolve(entry);
        if (node == nullptr) {
            LogStale(entry, __LINE__);
            return false;
        }
        const SyncTaskInfo& r = *node->data;
        if (r.aspect != aspect_ || (r.duty != 4 && r.duty != 5)) {
            LogParentPrecondition(r);
            return false;
        }
        for (TaskNode* a = node->parent; a != nullptr && a->parent != nullptr; a = a->parent) {
            if (a->data->localPartner != nullptr && a->data->serverPartner != nullptr) break;
            missing.push_back(EntryFor(a));
        }
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!PauseBeforeItem()) return false;
        if (!RunItem(kPassFolder, *it)) return false;
    }
    return true;
}

bool CCommitThread::MatchAlphaNode(TaskNode* g, FileNode* a, int missingLine) {
    SyncTaskInfo& r = *g->data;
    if (aspect_ == 1) {
        r.serverPartner = a;
    } else {
        r.localPartner = a;
    }
    ClearWork(r);
    for (const auto& child : g->children) {
        const auto found = a->FindChild(std::string_view(child->data->name));
        if (found == a->children.end()) {
            LogFailure("Gamma-Alpha树节点匹配查找失败！ ", missingLine);
            return false;
        }
        if (!MatchAlphaNode(child.get(), found->get(), missingLine)) return false;
    }
    return true;
}

bool CCommitThread::PlaceCopyOrMove(const CommitEntry& entry, TaskNode* node, FileNode* parent, bool move,
                                    const std::string& name, const std::string& newRef, const PlaceLog& log,
                                    std::vector<CommitRow>& rows) {
    const bool serverSide = aspect_ == 1;
    TaskNode* sourceTask = move ? ResolveMoveSource(entry) : nullptr;
    FileNode* source = nullptr;
    if (move) {
        if (sourceTask != nullptr && !IsSameOrAncestor(sourceTask, node)) {
            source = serverSide ? sourceTask->data->serverPartner : sourceTask->data->localPartner;
        }
    } else {
        source = ResolveCopySource(entry);
    }
    if (source == nullptr) {
        LogStale(entry, __LINE__);
        return false;
    }
    FileNode* old = serverSide ? node->data->serverPartner : node->data->localPartner;
    if (old != source && !EraseOldPartner(node, parent)) {
        LogFailure("删除旧节点失败！ ", log.oldNotErased);
        return false;
    }
    if (!(move ? MoveNodeUnder(source, parent, name, newRef) : CopyNodeUnder(source, parent, name, newRef))) {
        return false;
    }
    const auto found = parent->FindChild(std::string_view(name));
    if (found == parent->children.end()) {
        LogFailure("查找子树节点失败！ ", log.notFound);
        return false;
    }
    if (serverSide && !move) {
        // The server gave the items below a copied folder new references that its reply
        // does not name: the source's references must not stand for them.
        for (FileNode* below : (*found)->Preorder()) below->data->nodeRef.clear();
    }
    if (!MatchAlphaNode(node, found->get(), log.childMissing)) {
        LogFailure("匹配Gamma树节点失败！ ", log.notMatched);
        return false;
    }
    if (move && !EraseExactChild(sourceTask->parent, sourceTask)) {
        LogFailure(log.sourceNotErasedText, log.sourceNotErased);
        return false;
    }
    GatherRows(node, true, [](const SyncTaskInfo& r) { return r.localPartner; }, rows);
    return true;
}

// ---------------------------------------------------------------------------------------
// Operation record and rows

void CCommitThread::BeginOperation(std::uint32_t kind, std::uint32_t opState, std::uint32_t opCode,
                                   const std::string& path1, const std::string& path2) {
    SyncOperation op;
    op.kind = kind;
    op.state = opState;
    op.opCode = opCode;
    op.path1 = SyncOperation::CanonicalPath(path1);
    op.path2 = SyncOperation::CanonicalPath(path2);
    op.startMs = BaseFunc::GetMilliseconds();
    Current().Set(op);
}

void CCommitThread::EndOperation() {
    const std::uint64_t now = BaseFunc::GetMilliseconds();
    Current().Update([now](SyncOperation& op) {
        op.state = 2;
        op.endMs = now;
    });
}

void CCommitThread::GatherRows(TaskNode* node, bool descendants, const PartnerOf& partner,
                               std::vector<CommitRow>& out) {
    auto add = [&](const TaskNode* n, bool always) {
        const FileNode* p = partner(*n->data);
        if (p == nullptr && !always) return;
        CommitRow row;
        row.key = n;
        if (p != nullptr) {
            row.hasPartner = true;
            row.size = static_cast<std::int64_t>(p->data->size);
            row.name = p->data->name;
            row.path = NodePath(p, 2);
        }
        out.push_back(std::move(row));
    };
    add(node, true);
    if (!descendants) return;
    for (TaskNode* below : node->Preorder()) add(below, false);
}

// ---------------------------------------------------------------------------------------
// Paths and logs

bool CCommitThread::SafeLocalPath(const std::string& relativePath) const {
    std::string disk;
    switch (Fs().Resolve(relativePath, disk)) {
        case EngineFs::Refusal::None:
            if (disk != Fs().Root()) return true;
            Fail(failreason::kNameRefused);  // the sync folder itself is no item
            return false;
        case EngineFs::Refusal::Name:
            Fail(failreason::kNameRefused);
            return false;
        case EngineFs::Refusal::TooLong:
            Fail(failreason::kNameTooLong);
            return false;
        case EngineFs::Refusal::LinkOnWay:
            // A folder on the way that is a link (or anything but a folder) would lead the
            // operation out of the sync folder.
            Fail(failreason::kLinkOnWay);
            return false;
        default:
            return false;  // no sync folder
    }
}

std::string CCommitThread::DiskPathOf(const std::string& relativePath) const {
    std::string disk;
    Fs().Resolve(relativePath, disk);
    return disk;
}

void CCommitThread::NotePlaced(const std::string& relativePath) {
    DiskStamp stamp;
    Current().Place(relativePath, Fs().Stamp(relativePath, stamp) ? stamp : DiskStamp{});
}

void CCommitThread::LogLine(int level, const std::string& text, int line) const {
    SyncLog().log(static_cast<log4cpp::Priority::Value>(level),
                  text + "filepath:" + logSource_ + " line:" + std::to_string(line));
}

void CCommitThread::LogFailure(const std::string& text, int line) const {
    LogLine(log4cpp::Priority::ALERT, text, line);
}

void CCommitThread::Fail(FailReason reason) const {
    if (failReason_.key == nullptr) failReason_ = reason;
}

void CCommitThread::FailOnDisk() const { Fail(DiskFailReason(errno)); }

FailReason ServerCallFailReason(std::uint32_t status) {
    namespace e = httperr;
    if (status >= 400 && status < 600) return {failreason::kServerRefused, status};
    switch (status) {
        case 0: return {failreason::kServerCallFailed, 0};
        case e::kDiskFull: return {failreason::kDiskFull, 0};
        case e::kFileWrite: return {failreason::kFileWrite, 0};
        case e::kFileRead:
        case e::kFileOpen: return {failreason::kFileRead, 0};
        case e::kTimeout: return {failreason::kNoAnswer, 0};
        case e::kNameNotResolved:
        case e::kCannotConnect:
        case e::kConnectionError: return {failreason::kUnreachable, 0};
        case e::kCertificateRejected:
        case e::kSecureFailure: return {failreason::kCertificate, 0};
        case e::kInvalidResponse:
        case e::kReplyTooLarge: return {failreason::kBadReply, 0};
        default: return {failreason::kNetwork, status};
    }
}

FailReason DiskFailReason(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT: return {failreason::kDiskFull, 0};
        case EACCES:
        case EPERM: return {failreason::kPermission, 0};
        case EROFS: return {failreason::kReadOnly, 0};
        case ENAMETOOLONG: return {failreason::kNameTooLong, 0};
        case EEXIST:
        case ENOTEMPTY: return {failreason::kNameTaken, 0};
        default: return {failreason::kDiskFailed, 0};
    }
}

void CCommitThread::ReportCallFailure(const CallFailure& failure, std::uint32_t status) const {
    Fail(ServerCallFailReason(status));
    LogLine(failure.textLevel, failure.text, failure.textLine);
    if (status >= 400) {
        LogLine(failure.statusLevel, "网络通信异常！Code = " + std::to_string(status) + failure.statusSuffix,
                failure.statusLine);
    }
    if (status == 502) {
        LogLine(log4cpp::Priority::INFO, std::string("关网失效，退出同步功能") + failure.exitSuffix, failure.exitLine);
        if (dialog != nullptr) dialog->PostMessage(WM_PIPE_EXIT, 0, 0);
    }
}
