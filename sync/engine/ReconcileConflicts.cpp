// Conflicts: the local version is kept under a backup name (uploaded as a new item) and
// the server version is downloaded under the item's own name.
#include <log4cpp/Category.hh>

#include <vector>

#include "sync/common/BaseFunc.h"
#include "sync/common/FolderDigest.h"
#include "sync/common/SyncLog.h"
#include "sync/engine/Reconcile.h"
#include "ReconcileInternal.h"

using namespace reconcile;

namespace {

bool IsUndecided(const SyncTaskInfo& r) { return r.aspect == 0 && r.task == kTaskModified; }

// Every undecided record in pre-order; the subtree of one is not searched (resolving it
// rebuilds that subtree).
void CollectUndecided(TaskNode* node, std::vector<TaskNode*>& out) {
    for (const auto& child : node->children) {
        if (IsUndecided(*child->data)) {
            out.push_back(child.get());
        } else {
            CollectUndecided(child.get(), out);
        }
    }
}

}  // namespace

void Reconciler::RenameConflicts(TaskNode* root) {
    std::vector<TaskNode*> undecided;
    CollectUndecided(root, undecided);
    for (TaskNode* node : undecided) RenameOneConflict(node);
}

bool Reconciler::RenameOneConflict(TaskNode* u) {
    SyncTaskInfo& r = *u->data;
    FileNode* d = r.localPartner;
    FileNode* server = r.serverPartner;
    if (d == nullptr || server == nullptr || u->parent == nullptr) {
        Alert("RenameFile Failed！ filepath:", 975);
        return false;
    }
    // The backup's path: beside the item.
    const std::string path = NodePath(d, 2);
    const std::string relative = fs_.MakeBackupName(path, clock_.LocalTime());
    if (relative.empty()) {
        Alert("RenameFile Failed！ filepath:", 975);
        return false;
    }
    const std::string backupName = LastComponent(relative);
    const bool isFile = d->data->isFile != 0;

    if (announce != nullptr) {
        SyncOperation op;
        op.kind = 1;
        op.state = 1;
        op.opCode = 6;
        op.path1 = SyncOperation::CanonicalPath(path);
        op.path2 = SyncOperation::CanonicalPath(relative);
        op.startMs = op.sentMs = clock_.Milliseconds();
        op.endMs = 0;
        announce->Set(op);
    }
    const bool renamed = fs_.Move(path, relative, isFile);
    if (announce != nullptr) {
        // A later write to the backup is the user's, however soon it comes.
        if (renamed && isFile) {
            DiskStamp stamp;
            announce->Place(relative, fs_.Stamp(relative, stamp) ? stamp : DiskStamp{});
        }
        const std::uint64_t now = clock_.Milliseconds();
        announce->Update([now](SyncOperation& op) {
            op.state = 2;
            op.endMs = now;
        });
    }
    if (!renamed) {
        Alert("RenameFile Failed！ filepath:", 975);
        return false;
    }
    // The unreadable items in a folder set aside moved with it: they are known at their
    // new places, so that a folder renamed back over the old name still holds them.
    if (unknown != nullptr && !isFile) unknown->Rename(path, relative);

    // The Driver node follows the disk: same node under the backup name, so every link to
    // it stays valid.
    FileNode* driverParent = d->parent;
    if (driverParent != nullptr && RenameNodeInTree(d, driverParent, backupName)) {
        BaseFunc::ClearChecksumUpward(driverParent);
        SyncTaskInfo backupRecord(d->data->isFile, backupName, 0, kSideLocal, kTaskNew, 0, d, nullptr);
        TaskNode* backupNode = u->parent->InsertChild(backupRecord).Node();
        if (backupNode == nullptr) {
            Alert("插入Gamma树节点失败！ '" + LogPath(relative) + "' filepath:", 1641);
        } else if (!isFile) {
            CopyToUniformTree(d, backupNode, kSideLocal, kSideLocal, kTaskNew);
        }
    } else {
        // The tree cannot hold the backup name: the backup stays on disk, untracked until
        // the next scan lists it as a new local item.
        Alert("插入Alpha树节点失败！'" + LogPath(relative) + "' filepath:", 1864);
        if (driverParent != nullptr) BaseFunc::ClearChecksumUpward(driverParent);
        u->DeleteChildren();
        EraseNode(d);
    }

    // The record takes the server version, built afresh from the server-side tree.
    u->DeleteChildren();
    r.kind = server->data->isFile;
    r.linked = 0;
    r.aspect = kSideServer;
    r.task = kTaskNew;
    r.duty = 0;
    r.flag = 0;
    r.localPartner = nullptr;
    r.source = std::monostate{};
    if (server->data->isFile == 0) CopyToUniformTree(server, u, kSideServer, kSideServer, kTaskNew);
    return true;
}
