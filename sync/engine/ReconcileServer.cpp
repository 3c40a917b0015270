// A newer server listing ("Waiter") merged into a cycle already built.
#include <vector>

#include "sync/common/BaseFunc.h"
#include "sync/engine/Reconcile.h"
#include "ReconcileInternal.h"

using namespace reconcile;

namespace {

// Some record below holds local work that a server-side replacement would destroy.
bool LocalWorkBelow(TaskNode* node) {
    for (TaskNode* n : node->Preorder()) {
        const SyncTaskInfo& r = *n->data;
        if (r.localPartner != nullptr && (r.linked != 0 || HoldsCompetingWork(r, kSideServer))) return true;
    }
    return false;
}

// Some record at or below `u` links a server-side node.
bool LinksServerSide(TaskNode* u) {
    if (u == nullptr) return false;
    if (u->data->serverPartner != nullptr) return true;
    for (TaskNode* n : u->Preorder()) {
        if (n->data->serverPartner != nullptr) return true;
    }
    return false;
}

}  // namespace

// New or changed server content below `u`: when a folder above it was replaced by a file
// locally and that file is still to replace the server's folder, both are kept instead
// (the local file under a backup name), as a build decides; otherwise the upload would
// remove the server's new content with its folder.
void Reconciler::KeepServerFolderOverLocalFile(TaskNode* u) {
    for (TaskNode* p = u->parent; p != nullptr && p->parent != nullptr; p = p->parent) {
        SyncTaskInfo& r = *p->data;
        if (r.localPartner == nullptr || r.localPartner->data->isFile == 0) continue;
        if (r.aspect == kSideLocal && r.task != kTaskNone) {
            r.aspect = 0;
            r.task = kTaskModified;
            r.flag = 0;
            conflictPending = 1;
        }
        return;
    }
}

// A new server item at a place the local side cannot read stays on the server, and so do
// the folders around it: a delete of them that is still pending (the local folder was
// removed before the unreadable item took its place) would take the new item along.
void Reconciler::KeepFoldersAroundUnknownPlace(TaskNode* u) {
    for (TaskNode* p = u; p != nullptr && p->parent != nullptr; p = p->parent) {
        SyncTaskInfo& r = *p->data;
        if (r.localPartner != nullptr || r.aspect != kSideLocal || r.task != kTaskDeleted) break;
        r.aspect = 0;
        r.task = kTaskNone;
        r.flag = 0;
    }
}

void Reconciler::MergeServerListing(FileNode* w, TaskNode* u) {
    DropVanishedServerItems(w, u);
    MergeServerChanges(w, u);
}

void Reconciler::DropVanishedServerItems(FileNode* w, TaskNode* u) {
    std::vector<TaskNode*> children;
    for (const auto& child : u->children) children.push_back(child.get());
    for (TaskNode* uc : children) {
        if (uc->data->serverPartner == nullptr) continue;
        FileNode* wc = Child(w, uc->data->name);
        if (wc == nullptr || !Syncable(wc->data->name)) {
            DetachPartner(uc, kSideServer);
        } else {
            DropVanishedServerItems(wc, uc);
        }
    }
}

void Reconciler::MergeServerChanges(FileNode* w, TaskNode* u, const std::string& relPath) {
    FileNode* s = u->data->serverPartner;
    if (s == nullptr) return;
    for (const auto& child : w->children) {
        FileNode* wc = child.get();
        const std::string& name = wc->data->name;
        if (!Syncable(name)) continue;
        const std::string rel = JoinRel(relPath, name);
        TaskNode* uc = Child(u, name);
        if (uc == nullptr || uc->data->serverPartner == nullptr) {
            if (uc == nullptr && UnknownLocally(rel)) {
                // The server tree still holds it as listed (as a build leaves it), so that
                // it is judged once the local place can be read or goes away.
                if (FileNode* stale = Child(s, name)) EraseNode(stale);
                s->InsertSubtree(*wc);
                KeepFoldersAroundUnknownPlace(u);
                continue;
            }
            if (FileNode* stale = Child(s, name); stale != nullptr && !LinksServerSide(uc)) {
                // A server node no record links (left out while its local place could not
                // be read): the newer listing's item takes its place and is judged.
                EraseNode(stale);
            }
            if (Child(s, name) != nullptr || !s->InsertSubtree(*wc)) {
                Alert("插入Alpha树节点失败！ '" + LogPath(NodePath(wc, 2)) + "' filepath:", 2117);
                continue;
            }
            FileNode* added = Child(s, name);
            if (uc == nullptr) {
                SyncTaskInfo record(wc->data->isFile, name, 0, kSideServer, kTaskNew, 0, nullptr, added);
                TaskNode* node = u->InsertChild(record).Node();
                if (node == nullptr) {
                    Alert("插入Gamma树节点失败！'" + LogPath(NodePath(wc, 2)) + "' filepath:", 2131);
                    continue;
                }
                ReviveAncestors(node, kSideServer);
                KeepServerFolderOverLocalFile(node);
                CopyToUniformTree(added, node, kSideServer, kSideServer, kTaskNew);
            } else {
                LinkPartner(added, uc, kSideServer);
            }
            continue;
        }
        SyncTaskInfo& r = *uc->data;
        FileNode* sp = r.serverPartner;
        if ((sp->data->isFile != 0) != (wc->data->isFile != 0)) {
            ReplaceServerKind(wc, uc, sp, rel);
            continue;
        }
        const bool serverChanged = wc->data->isFile != 0 && wc->data->ChecksumDiffers(*sp->data);
        if (r.localPartner == nullptr) {
            *sp->data = *wc->data;
            // A pending local delete survives a listing in which the item did not change;
            // a server change wins over it.
            if (!(r.aspect == kSideLocal && r.task == kTaskDeleted && !serverChanged)) {
                r.aspect = kSideServer;
                r.task = kTaskNew;
                r.flag = 0;
                ReviveAncestors(uc, kSideServer);
                KeepServerFolderOverLocalFile(uc);
            }
        } else {
            if (sp->data->nodeRef != wc->data->nodeRef) sp->data->nodeRef = wc->data->nodeRef;
            if (wc->data->isFile == 0) {
                // Folders on both sides are in step; a local file where the server has
                // its folder keeps the work that replaces it (or the conflict about it).
                if (r.localPartner->data->isFile == 0) {
                    r.aspect = 0;
                    r.task = kTaskNone;
                    r.flag = 1;
                }
            } else if (serverChanged) {
                *sp->data = *wc->data;
                FileNode* local = r.localPartner;
                const DigestText& localSum = local->data->checksum;
                if (localSum.empty() || !BaseFunc::EqualNoCase(localSum, sp->data->checksum)) {
                    if (r.task == kTaskNone || r.aspect == kSideServer) {
                        // Downloaded; when the local file changed too (its digest is still
                        // pending), the hash step finds the conflict.
                        r.aspect = kSideServer;
                        r.task = kTaskModified;
                        if (localSum.empty()) {
                            r.linked = 1;
                            local->data->mark = 1;
                        }
                    } else {
                        // Pending local work against a server edit: both versions are kept.
                        r.aspect = 0;
                        r.task = kTaskModified;
                        conflictPending = 1;
                    }
                    r.flag = 0;
                } else {
                    r.flag = 1;
                }
            } else {
                const DigestText& localSum = r.localPartner->data->checksum;
                if (localSum.empty() || sp->data->checksum.empty()) {
                    r.flag = 2;
                } else if (BaseFunc::EqualNoCase(localSum, sp->data->checksum)) {
                    r.flag = 1;
                }
            }
        }
        if (wc->data->isFile == 0) MergeServerChanges(wc, uc, rel);
    }
}

// The server item changed its kind (file to folder or back).
void Reconciler::ReplaceServerKind(FileNode* wc, TaskNode* uc, FileNode* sp, const std::string& relPath) {
    SyncTaskInfo& r = *uc->data;
    const bool localWork = r.localPartner != nullptr &&
                           (r.linked != 0 || HoldsCompetingWork(r, kSideServer) || LocalWorkBelow(uc));
    // The old server subtree goes; nothing may keep pointing into it.
    DetachPartnerBelow(uc, kSideServer);
    sp->DeleteChildren();
    *sp->data = *wc->data;
    if (r.localPartner == nullptr) {
        r.kind = wc->data->isFile;
        r.aspect = kSideServer;
        r.task = kTaskNew;
        ReviveAncestors(uc, kSideServer);
        KeepServerFolderOverLocalFile(uc);
    } else if (!localWork) {
        r.kind = wc->data->isFile;
        r.aspect = kSideServer;
        r.task = kTaskModified;
    } else {
        r.aspect = 0;
        r.task = kTaskModified;
        conflictPending = 1;
    }
    r.flag = 0;
    if (wc->data->isFile == 0) MergeServerChanges(wc, uc, relPath);
}
