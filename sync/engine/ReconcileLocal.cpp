// Local changes applied to the Driver and unified trees of a cycle already built.
#include <log4cpp/Category.hh>

#include "sync/common/BaseFunc.h"
#include "sync/common/FolderDigest.h"
#include "sync/common/SyncLog.h"
#include "sync/engine/Reconcile.h"
#include "ReconcileInternal.h"

using namespace reconcile;

void Reconciler::ApplyLocalChange(LocalChangeBatch& list, FileNode* driverRoot, TaskNode* uniformRoot) {
    for (const LocalChangeRecord& record : list) {
        switch (record.kind) {
            case kLocalAdded:
                ApplyLocalInsert(uniformRoot, driverRoot, record.path);
                break;
            case kLocalRemoved:
                ApplyLocalRemove(uniformRoot, kSideLocal, record.path);
                break;
            case kLocalModified:
                ApplyLocalModify(uniformRoot, driverRoot, record.path);
                break;
            case kLocalRenamed:
                ApplyLocalRename(uniformRoot, driverRoot, record.path, record.newPath);
                break;
            case kLocalRelist:
                ApplyLocalRelist(uniformRoot, driverRoot, record.path);
                break;
            default:
                break;
        }
    }
    list.clear();
    ForgetDeletesAtUnknownPlaces(uniformRoot);
}

// A server delete still pending below `top` where the local side now holds an item it
// cannot read (a folder renamed back over its old name, a link in the place) is
// forgotten: the server keeps its item, as a build would decide.
void Reconciler::ForgetDeletesAtUnknownPlaces(TaskNode* top) {
    if (unknown == nullptr || unknown->Empty()) return;
    std::vector<TaskNode*> stale;
    for (TaskNode* n : top->Preorder()) {
        const SyncTaskInfo& r = *n->data;
        if (r.localPartner == nullptr && r.aspect == kSideLocal && r.task == kTaskDeleted &&
            unknown->Covers(NodePath(n, 2))) {
            stale.push_back(n);
        }
    }
    // Deepest first, so that no erased node is visited.
    for (auto it = stale.rbegin(); it != stale.rend(); ++it) EraseNode(*it);
}

// The folder is listed anew: what is gone is removed, what is new is added. Records that
// the removal left as server deletes although their items still exist but cannot be
// listed any more are forgotten instead.
void Reconciler::ApplyLocalRelist(TaskNode* uniformRoot, FileNode* driverRoot, const std::string& relPath) {
    ApplyLocalRemove(uniformRoot, kSideLocal, relPath, false);
    ApplyLocalInsert(uniformRoot, driverRoot, relPath);
    if (TaskNode* u = FindNodeByPath(uniformRoot, 1, relPath)) ForgetDeletesAtUnknownPlaces(u);
}

void Reconciler::ApplyLocalInsert(TaskNode* uniformRoot, FileNode* driverRoot, const std::string& relPath) {
    if (relPath.empty()) return;
    const EngineFs::Kind kind = fs_.KindOf(relPath);
    if (!fs_.IsSyncable(relPath, true)) {
        if (kind == EngineFs::Kind::Other && fs_.IsSyncable(relPath, false) && unknown != nullptr) {
            unknown->Add(relPath);
        }
        return;
    }
    const bool isFolder = kind == EngineFs::Kind::Folder;
    const std::string name = LastComponent(relPath);
    FileNode* d = FindParentFileNodeByPath(driverRoot, 1, relPath);
    if (d == nullptr) {
        Alert("检索父节点失败！ '" + LogPath(relPath) + "' filepath:", 1838);
        return;
    }
    TaskNode* u = FindNodeByPath(uniformRoot, 1, relPath);
    if (FileNode* existing = Child(d, name); existing != nullptr) {
        const bool linkedHere = u != nullptr && u->data->localPartner == existing;
        if ((existing->data->isFile == 0) == isFolder && linkedHere) {
            // Already there: an item saved by renaming over it changed in place.
            ApplyLocalModify(uniformRoot, driverRoot, relPath);
            return;
        }
        if (linkedHere) {
            // The item changed its kind: the old one is gone.
            ApplyLocalRemove(uniformRoot, kSideLocal, relPath, false);
            AdoptHiddenServerItems(uniformRoot, relPath);
        } else {
            EraseNode(existing);
        }
        u = FindNodeByPath(uniformRoot, 1, relPath);
    }
    bool attrFolder = false;
    std::uint64_t size = 0;
    if (!fs_.Attributes(relPath, attrFolder, size)) {
        Alert("检索文件属性失败！ - '" + LogPath(relPath) + "' filepath:", 1495);
        return;
    }
    FileNode* dn = d->InsertChild(SyncFileInfo(attrFolder ? 0 : 1, 1, size, relPath)).Node();
    if (dn == nullptr) {
        Alert("插入Alpha树节点失败！'" + LogPath(relPath) + "' filepath:", 1864);
        return;
    }
    if (unknown != nullptr) unknown->Remove(relPath);
    if (attrFolder && !fs_.ListFolder(owner, relPath, dn, unknown)) {
        // A folder that cannot be listed is unknown: it leaves the tree again and its
        // record (if any) is forgotten, so that nothing is deleted or downloaded there.
        SyncLog().alert("Folder cannot be listed '" + LogPath(relPath) + "' filepath:ThreadOfConform");
        EraseNode(dn);
        if (unknown != nullptr) unknown->Add(relPath);
        if (u != nullptr) EraseNode(u);
        return;
    }
    if (u == nullptr) {
        TaskNode* up = FindParentNodeByPath(uniformRoot, 1, relPath);
        if (up == nullptr) {
            Alert("检索父节点失败！ '" + LogPath(relPath) + "' filepath:", 1882);
        } else {
            SyncTaskInfo record(attrFolder ? 0 : 1, name, 1, kSideLocal, kTaskNew, 0, dn, nullptr);
            TaskNode* node = up->InsertChild(record).Node();
            if (node == nullptr) {
                Alert("插入Gamma树节点失败！ '" + LogPath(relPath) + "' filepath:", 1893);
            } else {
                dn->data->mark = 1;
                ReviveAncestors(node, kSideLocal);
                KeepLocalFolderOverServerFile(node);
                LinkHiddenServerItem(node);
            }
        }
    } else {
        AttachLocalItem(u, dn);
        // A folder made anew no longer holds the unreadable items that kept server items
        // out of the cycle, unless the scan found them again.
        if (attrFolder) AdoptHiddenServerItems(uniformRoot, relPath);
    }
    BaseFunc::ClearChecksumUpward(d);
}

// A local item appeared for a record that had none: its link is set and the hash step
// judges it. A pending server delete (the item was removed locally before) is reset; a
// pending download stays, so that a differing local file becomes a conflict.
void Reconciler::AttachLocalItem(TaskNode* u, FileNode* d) {
    SyncTaskInfo& r = *u->data;
    r.localPartner = d;
    r.linked = 1;
    d->data->mark = 1;
    if (r.task == kTaskNone || (r.aspect == kSideLocal && r.task == kTaskDeleted)) {
        r.aspect = 0;
        r.task = kTaskNone;
        r.flag = 1;
    }
}

void Reconciler::ApplyLocalRemove(TaskNode* uniformRoot, std::uint32_t side, const std::string& relPath,
                                  bool checkDisk) {
    TaskNode* u = FindNodeByPath(uniformRoot, 1, relPath);
    if (u == nullptr) {
        Alert("删除—查找Gamma树旧节点，结果为空！ '" + LogPath(relPath) + "' filepath:", 1699);
        return;
    }
    if (side == kSideLocal) {
        FileNode* d = u->data->localPartner;
        if (d == nullptr) return;  // nothing local to remove
        if (checkDisk) {
            const EngineFs::Kind now = fs_.KindOf(NodePath(d, 2));
            const bool stillThere = (now == EngineFs::Kind::File && d->data->isFile != 0) ||
                                    (now == EngineFs::Kind::Folder && d->data->isFile == 0);
            if (stillThere && d->data->isFile == 0) {
                // A folder removed and made anew may hold anything: it is listed again.
                FileNode* driverRoot = d;
                while (driverRoot->parent != nullptr) driverRoot = driverRoot->parent;
                ApplyLocalRelist(uniformRoot, driverRoot, relPath);
                return;
            }
            if (stillThere) {
                MarkLocalPending(u);
                return;
            }
            if (now == EngineFs::Kind::Other) {
                ForgetLocalItem(u);
                if (unknown != nullptr) unknown->Add(relPath);
                return;
            }
            if (now == EngineFs::Kind::Missing && UnknownLocally(relPath)) {
                // Not at its recorded path any more (a later rename in the same batch
                // moved it), but the scan knows an unreadable item there: it is unknown,
                // never a deletion on the server.
                ForgetLocalItem(u);
                return;
            }
        }
        if (unknown != nullptr) unknown->Remove(relPath);
        DetachPartner(u, side);
        // The item is really gone (a folder listed anew still holds what was unreadable).
        if (checkDisk) AdoptHiddenServerItems(uniformRoot, relPath);
        return;
    }
    DetachPartner(u, side);
}

// A new local item inside a folder that a pending download is to replace by the server's
// file: the folder is no longer the one the download may set aside unseen; the record is
// undecided, so that the local folder is kept under a backup name and the server's file
// is downloaded (as a build decides), and a later server delete cannot take the new item.
void Reconciler::KeepLocalFolderOverServerFile(TaskNode* u) {
    for (TaskNode* p = u->parent; p != nullptr && p->parent != nullptr; p = p->parent) {
        SyncTaskInfo& r = *p->data;
        if (r.serverPartner == nullptr) continue;
        if (r.serverPartner->data->isFile != 0 && r.aspect == kSideServer && r.task != kTaskNone &&
            r.localPartner != nullptr && r.localPartner->data->isFile == 0) {
            r.aspect = 0;
            r.task = kTaskModified;
            r.flag = 0;
            conflictPending = 1;
        }
        return;
    }
}

// Server items at the places of unreadable local items were left out of the cycle. Once
// the local side removed the folder around them, they are judged like every other server
// item: as items the local side lacks, so that nothing the server holds there is deleted
// unseen (the folders around them are made again locally). Server items that simply have
// no record yet (new since the build) get the same work a newer listing would give them.
void Reconciler::AdoptHiddenServerItems(TaskNode* uniformRoot, const std::string& relPath) {
    TaskNode* u = FindNodeByPath(uniformRoot, 1, relPath);
    if (u == nullptr) return;
    std::vector<TaskNode*> nodes{u};
    for (TaskNode* n : u->Preorder()) nodes.push_back(n);
    for (TaskNode* n : nodes) {
        FileNode* sp = n->data->serverPartner;
        if (sp == nullptr || sp->data->isFile != 0) continue;
        for (const auto& child : sp->children) {
            FileNode* sc = child.get();
            if (!Syncable(sc->data->name) || Child(n, sc->data->name) != nullptr) continue;
            if (UnknownLocally(NodePath(n, 2) + "/" + sc->data->name)) continue;  // still unreadable here
            SyncTaskInfo record(sc->data->isFile, sc->data->name, 0, kSideServer, kTaskNew, 0, nullptr, sc);
            TaskNode* node = n->InsertChild(record).Node();
            if (node == nullptr) continue;
            ReviveAncestors(node, kSideServer);
            CopyToUniformTree(sc, node, kSideServer, kSideServer, kTaskNew);
        }
    }
}

// The local item exists but can no longer be synchronised (a link or special file took
// its place): it is unknown from now on. Its Driver node and its record go without any
// work on the server.
void Reconciler::ForgetLocalItem(TaskNode* u) {
    FileNode* d = u->data->localPartner;
    EraseNode(u);
    if (d != nullptr) {
        if (d->parent != nullptr) BaseFunc::ClearChecksumUpward(d->parent);
        EraseNode(d);
    }
}

void Reconciler::ApplyLocalModify(TaskNode* uniformRoot, FileNode* driverRoot, const std::string& relPath) {
    TaskNode* u = FindNodeByPath(uniformRoot, 1, relPath);
    TaskNode* p = FindParentNodeByPath(uniformRoot, 1, relPath);
    if (p == nullptr) {
        Alert("检索父节点失败！ - '" + LogPath(relPath) + "' filepath:", 1461);
        return;
    }
    if (p->data->localPartner == nullptr) {
        Alert("检索父节点失败！ - '" + LogPath(relPath) + "' filepath:", 1471);
        return;
    }
    const EngineFs::Kind kind = fs_.KindOf(relPath);
    if (u == nullptr) {
        if (fs_.IsSyncable(relPath, true)) ApplyLocalInsert(uniformRoot, driverRoot, relPath);
        return;
    }
    if (kind == EngineFs::Kind::Missing) {
        ApplyLocalRemove(uniformRoot, kSideLocal, relPath);
        return;
    }
    if (kind == EngineFs::Kind::Other) {
        if (u->data->localPartner != nullptr) {
            ForgetLocalItem(u);
            if (unknown != nullptr) unknown->Add(relPath);
        }
        return;
    }
    bool isFolder = false;
    std::uint64_t size = 0;
    if (!fs_.Attributes(relPath, isFolder, size)) {
        Alert("检索文件属性失败！ - '" + LogPath(relPath) + "' filepath:", 1495);
        return;
    }
    FileNode* d = u->data->localPartner;
    if (d == nullptr) {
        ApplyLocalInsert(uniformRoot, driverRoot, relPath);
        return;
    }
    if ((d->data->isFile == 0) != isFolder) {
        // The kind changed: the old item went, a new one came.
        ApplyLocalRemove(uniformRoot, kSideLocal, relPath, false);
        ApplyLocalInsert(uniformRoot, driverRoot, relPath);
        return;
    }
    *d->data = SyncFileInfo(isFolder ? 0 : 1, 1, size, relPath);
    d->data->mark = 1;
    u->data->name = d->data->name;  // made anew in another letter case: named as now
    u->data->linked = 1;
    Alert("树节点修改情况待定！ - '" + LogPath(relPath) + "' filepath:", 1534);
    BaseFunc::ClearChecksumUpward(p->data->localPartner);
}

// Gives the Driver node its new name and place (the node itself moves, so every link to it
// stays valid); a name that differs only in letter case is changed in place.
bool Reconciler::RenameDriverNode(FileNode* d, FileNode* newParent, const std::string& newName) {
    if (newParent == d->parent && BaseFunc::EqualNoCase(d->data->name, newName)) {
        d->data->name = newName;
        return true;
    }
    return RenameNodeInTree(d, newParent, newName);
}

void Reconciler::ApplyLocalRename(TaskNode* uniformRoot, FileNode* driverRoot, const std::string& oldPath,
                                  const std::string& newPath) {
    const std::string newName = LastComponent(newPath);
    TaskNode* oldParent = FindParentNodeByPath(uniformRoot, 1, oldPath);
    if (oldParent == nullptr || oldParent->data->localPartner == nullptr) return;
    TaskNode* u = FindNodeByPath(uniformRoot, 1, oldPath);
    if (u == nullptr) {
        ApplyLocalInsert(uniformRoot, driverRoot, newPath);
        return;
    }
    if (!fs_.IsSyncable(newPath, true)) {
        ApplyLocalRemove(uniformRoot, kSideLocal, oldPath);
        ApplyLocalInsert(uniformRoot, driverRoot, newPath);  // records an unknown item
        return;
    }
    FileNode* d = u->data->localPartner;
    FileNode* newDriverParent = FindParentFileNodeByPath(driverRoot, 1, newPath);
    FileNode* target = Child(newDriverParent, newName);
    if (d == nullptr || newDriverParent == nullptr || (target != nullptr && target != d)) {
        // Nothing local to carry over, or renamed over another item: the old item is
        // gone and the new one changed or appeared.
        ApplyLocalRemove(uniformRoot, kSideLocal, oldPath);
        ApplyLocalInsert(uniformRoot, driverRoot, newPath);
        return;
    }
    FileNode* oldDriverParent = d->parent;
    const bool caseOnly = newDriverParent == oldDriverParent && BaseFunc::EqualNoCase(d->data->name, newName);
    const SyncTaskInfo& before = *u->data;
    if (!caseOnly && before.serverPartner == nullptr && before.aspect == kSideServer && before.task == kTaskDeleted) {
        // The server deleted the item and the user renamed it since: under its new name it
        // is the user's new item (as a scan would see it), not the deleted one.
        ApplyLocalRemove(uniformRoot, kSideLocal, oldPath);
        ApplyLocalInsert(uniformRoot, driverRoot, newPath);
        return;
    }
    if (!RenameDriverNode(d, newDriverParent, newName)) {
        ApplyLocalRemove(uniformRoot, kSideLocal, oldPath);
        ApplyLocalInsert(uniformRoot, driverRoot, newPath);
        return;
    }
    if (!caseOnly) {
        // Digested again under the new name.
        if (d->data->isFile != 0) {
            bool isFolder = false;
            std::uint64_t size = 0;
            if (fs_.Attributes(newPath, isFolder, size) && !isFolder) d->data->size = size;
        }
        d->data->checksum.clear();
    }
    if (oldDriverParent != nullptr) BaseFunc::ClearChecksumUpward(oldDriverParent);
    BaseFunc::ClearChecksumUpward(newDriverParent);

    SyncTaskInfo& r = *u->data;
    if (caseOnly) {
        // The same item for both sides (names compare ignoring case): only the name follows
        // the disk, and the content is unchanged.
        r.name = newName;
        return;
    }
    TaskNode* newParent = FindParentNodeByPath(uniformRoot, 1, newPath);
    if (newParent == nullptr) {
        Alert("检索父节点失败！ '" + LogPath(newPath) + "' filepath:", 1882);
        return;
    }
    if (r.serverPartner == nullptr) {
        // Not on the server yet: the record simply takes the new name.
        Alert("Gamma—Alpha树节点重命名！ '" + LogPath(oldPath) + "' -> '" + LogPath(newPath) + "' filepath:", 1623);
        TaskNode* existing = Child(newParent, newName);
        if (existing == nullptr) {
            // Held back (undecided while the server has an item of another kind around
            // it), the item is new to the server under its new name, and so is what it holds.
            const bool heldBack = r.aspect == 0 && r.task == kTaskNew;
            std::unique_ptr<TaskNode> owned = u->parent->DetachChild(u->parent->FindChild(std::string_view(r.name)));
            owned->data->name = newName;
            newParent->AdoptChild(std::move(owned));
            if (heldBack) {
                r.aspect = kSideLocal;
                for (TaskNode* n : u->Preorder()) {
                    if (n->data->aspect == 0) n->data->aspect = kSideLocal;
                }
                ReviveAncestors(u, kSideLocal);
            }
            return;
        }
        EraseNode(u);
        LinkPartner(d, existing, kSideLocal);
        return;
    }
    // On the server: the old name is deleted there and the new one uploaded; matching
    // turns the pair into a move on the server.
    DetachPartner(u, kSideLocal, true);
    AdoptHiddenServerItems(uniformRoot, oldPath);
    if (TaskNode* existing = Child(newParent, newName); existing != nullptr) {
        if (existing->data->localPartner != nullptr && existing->data->localPartner != d) {
            existing->data->localPartner = nullptr;
        }
        LinkPartner(d, existing, kSideLocal);
        return;
    }
    SyncTaskInfo record(d->data->isFile, newName, 0, kSideLocal, kTaskNew, 0, d, nullptr);
    TaskNode* node = newParent->InsertChild(record).Node();
    if (node == nullptr) {
        Alert("插入Gamma树节点失败！ '" + LogPath(newPath) + "' filepath:", 1641);
        return;
    }
    ReviveAncestors(node, kSideLocal);
    if (d->data->isFile == 0) CopyToUniformTree(d, node, kSideLocal, kSideLocal, kTaskNew);
}
