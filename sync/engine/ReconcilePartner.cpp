// Partners: linking a listing item to its unified-tree record (and deriving the record's
// work again from its two partners), detaching it, and re-judging the records that local
// changes left pending.
#include <vector>

#include "sync/common/BaseFunc.h"
#include "sync/common/FolderDigest.h"
#include "sync/engine/Reconcile.h"
#include "ReconcileInternal.h"

using namespace reconcile;

namespace {

std::vector<TaskNode*> ChildrenOf(TaskNode* node) {
    std::vector<TaskNode*> out;
    out.reserve(node->children.size());
    for (const auto& child : node->children) out.push_back(child.get());
    return out;
}

}  // namespace

void Reconciler::RelinkPendingLocal(TaskNode* root) {
    std::vector<TaskNode*> pending;
    for (TaskNode* n : root->Preorder()) {
        if (n->data->linked != 0) pending.push_back(n);
    }
    for (TaskNode* u : pending) {
        SyncTaskInfo& r = *u->data;
        FileNode* d = r.localPartner;
        if (d == nullptr) {
            r.linked = 0;
            continue;
        }
        r.localPartner = nullptr;
        if (LinkPartner(d, u, kSideLocal)) {
            r.linked = 0;
            d->data->mark = 0;
        }
    }
}

bool Reconciler::LinkPartner(FileNode* n, TaskNode* u, std::uint32_t side) {
    SyncTaskInfo& r = *u->data;
    FileNode* other = PartnerOf(r, OtherSide(side));
    const std::uint32_t earlierAspect = r.aspect;
    const std::uint32_t earlierTask = r.task;
    SetPartner(r, side, n);
    if (other == nullptr) {
        r.kind = n->data->isFile;
        r.aspect = side;
        r.task = kTaskNew;
        r.flag = 0;
        ReviveAncestors(u, side);
        if (n->data->isFile == 0) ExpandPartnerFolder(n, u, side);
        return true;
    }
    const bool competing = HoldsCompetingWork(r, side);
    r.aspect = 0;
    r.task = kTaskNone;
    return Judge(u, n, side, other, competing, earlierAspect, earlierTask);
}

// Derives the work of a record linked on both sides from `n` (the partner on `side` that
// just changed) and `other`. `competing`: the record held work toward `side` before.
bool Reconciler::Judge(TaskNode* u, FileNode* n, std::uint32_t side, FileNode* other, bool competing,
                       std::uint32_t earlierAspect, std::uint32_t earlierTask) {
    SyncTaskInfo& r = *u->data;
    const bool nIsFile = n->data->isFile != 0;
    const bool otherIsFile = other->data->isFile != 0;
    if (nIsFile != otherIsFile) {
        r.kind = n->data->isFile;
        MarkDifferent(u, side, competing);
        if (!nIsFile) ExpandPartnerFolder(n, u, side);
        return true;
    }
    if (!nIsFile) {
        r.flag = 1;
        ExpandPartnerFolder(n, u, side);
        return true;
    }
    r.kind = 1;
    if (n->data->checksum.empty()) {
        // Not judged yet: the earlier work stays, and a local item waits for its digest.
        r.aspect = earlierAspect;
        r.task = earlierTask;
        r.flag = 2;
        if (side == kSideLocal) {
            r.linked = 1;
            n->data->mark = 1;
        }
        return false;
    }
    if (other->data->checksum.empty()) {
        r.flag = 2;
        if (side == kSideServer) {
            // The local content is not known yet: undecided (nothing is transferred) until
            // the hash step judges the local file against this server version.
            r.task = kTaskModified;
            r.linked = 1;
            other->data->mark = 1;
        }
        return true;
    }
    if (BaseFunc::EqualNoCase(other->data->checksum, n->data->checksum)) {
        r.flag = 1;
        return true;
    }
    MarkDifferent(u, side, competing);
    return true;
}

// The two sides differ and `side` changed: its version goes to the other side, unless
// the record held competing work toward `side` (then both changed: a conflict).
void Reconciler::MarkDifferent(TaskNode* u, std::uint32_t side, bool competing) {
    SyncTaskInfo& r = *u->data;
    r.task = kTaskModified;
    r.flag = 0;
    if (competing) {
        r.aspect = 0;
        conflictPending = 1;
    } else {
        r.aspect = side;
        ReviveAncestors(u, side);
    }
}

void Reconciler::ExpandPartnerFolder(FileNode* n, TaskNode* u, std::uint32_t side) {
    for (const auto& child : n->children) {
        FileNode* c = child.get();
        if (!Syncable(c->data->name)) continue;
        TaskNode* found = Child(u, c->data->name);
        if (found == nullptr) {
            if (side == kSideServer && UnknownLocally(NodePath(u, 2) + "/" + c->data->name)) continue;
            SyncTaskInfo record(c->data->isFile, c->data->name, 0, side, kTaskNew, 0,
                                side == kSideLocal ? c : nullptr, side == kSideLocal ? nullptr : c);
            TaskNode* node = u->InsertChild(record).Node();
            if (node == nullptr) {
                Alert("插入节点失败！ filepath:", 2049);
                continue;
            }
            ReviveAncestors(node, side);
            if (c->data->isFile == 0) CopyToUniformTree(c, node, side, side, kTaskNew);
            if (side == kSideLocal) LinkHiddenServerItem(node);
            continue;
        }
        SyncTaskInfo& cr = *found->data;
        const bool folder = c->data->isFile == 0;
        // A link that did not change keeps its record's work; only new items below count.
        if (PartnerOf(cr, side) == c && cr.linked == 0) {
            if (folder && cr.kind == 0) ExpandPartnerFolder(c, found, side);
            continue;
        }
        FileNode* other = PartnerOf(cr, OtherSide(side));
        const std::uint32_t earlierAspect = cr.aspect;
        const std::uint32_t earlierTask = cr.task;
        SetPartner(cr, side, c);
        if (other == nullptr) {
            cr.name = c->data->name;  // equal ignoring case: the child keeps its place
            cr.kind = c->data->isFile;
            cr.aspect = side;
            cr.task = kTaskNew;
            cr.flag = 0;
            ReviveAncestors(found, side);
            if (folder) ExpandPartnerFolder(c, found, side);
            continue;
        }
        const bool competing = HoldsCompetingWork(cr, side);
        cr.aspect = 0;
        cr.task = kTaskNone;
        Judge(found, c, side, other, competing, earlierAspect, earlierTask);
    }
}

void Reconciler::DetachPartner(TaskNode* u, std::uint32_t side, bool keepOwnNode) {
    SyncTaskInfo& r = *u->data;
    FileNode* own = PartnerOf(r, side);
    FileNode* other = PartnerOf(r, OtherSide(side));
    if (u->parent != nullptr) {
        FileNode* parentPartner = PartnerOf(*u->parent->data, side);
        if (parentPartner != nullptr) BaseFunc::ClearChecksumUpward(parentPartner);
    }
    if (other == nullptr) {
        EraseNode(u);
        if (own != nullptr && !keepOwnNode) EraseNode(own);
        return;
    }
    LoseSide(u, side, other);
    DetachPartnerBelow(u, side);
    if (own != nullptr && !keepOwnNode) EraseNode(own);
}

void Reconciler::DetachPartnerBelow(TaskNode* u, std::uint32_t side) {
    const bool deletedHere = u->data->aspect == side && u->data->task == kTaskDeleted;
    for (TaskNode* child : ChildrenOf(u)) {
        SyncTaskInfo& c = *child->data;
        FileNode* mine = PartnerOf(c, side);
        FileNode* theirs = PartnerOf(c, OtherSide(side));
        const bool heldBack = c.aspect == 0 && (c.task == kTaskNew || c.task == kTaskDeleted);
        if (mine == nullptr && deletedHere && theirs != nullptr && heldBack) {
            // Held back while `side` had an item of the other kind here (to be set aside
            // with the folder it was to replace, or to go with it): that item is gone, so
            // it goes with the folder around it, and work below it keeps the folders alive.
            c.aspect = side;
            c.task = kTaskDeleted;
            c.flag = 0;
            DetachPartnerBelow(child, side);
            continue;
        }
        if (mine == nullptr) {
            // Only on the other side: it stays, and keeps its folders when it is new there.
            if (c.IsCreateOrUpdate() && c.aspect != 0) ReviveAncestors(child, c.aspect);
            continue;
        }
        if (theirs == nullptr) {
            EraseNode(child);
            continue;
        }
        LoseSide(child, side, theirs);
        DetachPartnerBelow(child, side);
    }
}

// The record's item is gone on `side` while `other` (the other side's node) still has it.
// Work toward `side` that was still pending means the other side's version wins over the
// removal: a pending download is restored, a pending (or undecided) upload re-created.
// Otherwise the item is deleted on the other side.
void Reconciler::LoseSide(TaskNode* u, std::uint32_t side, FileNode* other) {
    SyncTaskInfo& r = *u->data;
    const bool competing = HoldsCompetingWork(r, side) || (side == kSideServer && r.linked != 0);
    SetPartner(r, side, nullptr);
    if (side == kSideLocal) r.linked = 0;
    r.kind = other->data->isFile;  // the item that is left says what the record is
    if (competing) {
        const std::uint32_t keep = OtherSide(side);
        r.aspect = keep;
        r.task = kTaskNew;
        r.linked = 0;
        other->data->mark = 0;
        ReviveAncestors(u, keep);
    } else {
        r.aspect = side;
        r.task = kTaskDeleted;
    }
    r.flag = 0;
}

// A new local item where the server tree holds an item that no record links (left out
// while the local place could not be read): the two are judged against each other, as a
// newer listing would do, and differing versions are both kept.
void Reconciler::LinkHiddenServerItem(TaskNode* node) {
    FileNode* sp = node->parent != nullptr ? node->parent->data->serverPartner : nullptr;
    if (sp == nullptr || sp->data->isFile != 0 || node->data->serverPartner != nullptr) return;
    if (FileNode* hidden = Child(sp, node->data->name)) LinkPartner(hidden, node, kSideServer);
}
