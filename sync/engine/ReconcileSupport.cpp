// Helpers shared by the reconciliation steps.
#include <log4cpp/Category.hh>

#include "sync/common/BaseFunc.h"
#include "sync/common/FolderDigest.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/Reconcile.h"
#include "ReconcileInternal.h"
#include "sync/engine/ThreadOfDriver.h"

namespace reconcile {

void Alert(const std::string& message, int line) {
    SyncLog().alert(message + "ThreadOfConform line:" + std::to_string(line));
}

std::string LogPath(std::string_view path) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t cut = path.find('\\', start);
        out += EscapeForLog(path.substr(start, cut == std::string_view::npos ? std::string_view::npos : cut - start));
        if (cut == std::string_view::npos) break;
        out.push_back('\\');
        start = cut + 1;
    }
    return out;
}

FileNode* PartnerOf(const SyncTaskInfo& record, std::uint32_t side) {
    return side == kSideLocal ? record.localPartner : record.serverPartner;
}

void SetPartner(SyncTaskInfo& record, std::uint32_t side, FileNode* node) {
    (side == kSideLocal ? record.localPartner : record.serverPartner) = node;
}

bool HoldsCompetingWork(const SyncTaskInfo& record, std::uint32_t side) {
    return record.task != kTaskNone && record.aspect != side;
}

std::string JoinRel(const std::string& relPath, const std::string& name) { return relPath + "/" + name; }

std::string LastComponent(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ParentOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace reconcile

bool BelongsToSavedState(const SyncTaskInfo& record) {
    const bool undecided = record.aspect == 0 && record.task != kTaskNone;
    return !undecided && (record.flag == 1 || record.task == kTaskModified || record.task == kTaskDeleted);
}

bool Reconciler::Syncable(const std::string& name) {
    // The name filter of EngineFs::IsSyncable, without a disk.
    return BaseFunc::IsSyncableName(name);
}

bool Reconciler::UnknownLocally(const std::string& relPath) const {
    return localMissing_ || (unknown != nullptr && unknown->Covers(relPath));
}

// A record that ends with create or update work toward one side keeps the folders around
// it: ancestors marked for deletion are created toward that side instead. The root is
// never changed.
void Reconciler::ReviveAncestors(TaskNode* u, std::uint32_t aspect) {
    if (u == nullptr || (aspect != kSideLocal && aspect != kSideServer)) return;
    for (TaskNode* p = u->parent; p != nullptr && p->parent != nullptr; p = p->parent) {
        SyncTaskInfo& r = *p->data;
        if (r.task != kTaskDeleted) break;
        r.aspect = aspect;
        r.task = kTaskNew;
        r.flag = 0;
    }
}

// The local item changed and must be digested again before the record can be judged.
void Reconciler::MarkLocalPending(TaskNode* u) {
    SyncTaskInfo& r = *u->data;
    FileNode* d = r.localPartner;
    if (d == nullptr) return;
    r.linked = 1;
    d->data->mark = 1;
    if (d->data->isFile != 0) d->data->checksum.clear();
    if (d->parent != nullptr) BaseFunc::ClearChecksumUpward(d->parent);
}

