// Building a cycle: both listings against the last synchronised state, laid into the
// unified tree, and the work derived from the three.
#include <log4cpp/Category.hh>

#include "sync/common/BaseFunc.h"
#include "sync/common/SyncLog.h"
#include "sync/engine/Reconcile.h"
#include "ReconcileInternal.h"

using namespace reconcile;

namespace {

constexpr std::uint32_t kUnchanged = 0;
constexpr std::uint32_t kAdded = 1;
constexpr std::uint32_t kDeleted = 2;
constexpr std::uint32_t kModified = 3;

void SetStateBelow(ChangeNode* node, std::uint32_t state) {
    for (ChangeNode* n : node->Preorder()) n->data->state = state;
}

// Whether anything below the difference record changed since the last sync.
bool AnyChangeBelow(ChangeNode* node) {
    if (node == nullptr) return false;
    for (ChangeNode* n : node->Preorder()) {
        if (n->data->state != 0) return true;
    }
    return false;
}

void SetWorkBelow(TaskNode* node, std::uint32_t aspect, std::uint32_t task) {
    for (TaskNode* n : node->Preorder()) {
        n->data->aspect = aspect;
        n->data->task = task;
        n->data->flag = 0;
    }
}

}  // namespace

bool Reconciler::BuildCycle(FileNode* driver, FileNode* server, FileNode* tracer, TaskNode* uniform,
                            const Checkpoint& checkpoint) {
    const auto go = [&checkpoint](int line) { return !checkpoint || checkpoint(line); };
    ChangeNode localDiff{SyncChangeInfo{}};
    ChangeNode serverDiff{SyncChangeInfo{}};

    uniform->DeleteChildren();
    SyncTaskInfo root = SyncTaskInfo::CreateUniformRoot();
    root.flag = 1;
    root.localPartner = driver;
    root.serverPartner = server;
    *uniform->data = root;

    // An empty sync folder against a non-empty synchronised state is a folder that is not
    // there (an unmounted disk, a folder emptied by accident), not "delete everything":
    // the local side counts as unknown for this cycle.
    localMissing_ = driver->children.empty() && !tracer->children.empty();
    struct ResetOnExit {
        bool& flag;
        ~ResetOnExit() { flag = false; }
    } resetMissing{localMissing_};
    if (localMissing_) {
        SyncLog().alert("Sync folder is empty while the synchronised state is not: nothing is deleted or "
                        "downloaded in this cycle filepath:ThreadOfConform");
    }

    CopyToChangeTree(driver, &localDiff, kUnchanged, std::string(), true);
    MarkNewInChangeTree(&localDiff, tracer);
    DiffAgainstTracer(tracer, &localDiff, std::string(), true);
    if (!go(310)) return false;

    CopyToChangeTree(server, &serverDiff, kUnchanged, std::string(), false);
    MarkNewInChangeTree(&serverDiff, tracer);
    DiffAgainstTracer(tracer, &serverDiff, std::string(), false);
    if (!go(313)) return false;

    CopyToUniformTree(driver, uniform, kSideLocal, 0, kTaskNone);
    MarkLocalOnly(uniform, server);
    MergeServerIntoUniform(server, uniform, std::string());
    if (!go(317)) return false;

    conflictPending = 0;
    DeriveTasks(&localDiff, &serverDiff, uniform);
    if (!go(322)) return false;

    if (conflictPending != 0) RenameConflicts(uniform);
    conflictPending = 0;
    return true;
}

void Reconciler::CopyToChangeTree(FileNode* src, ChangeNode* dst, std::uint32_t state, const std::string& relPath,
                                  bool localSide) {
    for (const auto& child : src->children) {
        FileNode* c = child.get();
        if (!Syncable(c->data->name)) continue;
        // The path is made only where it is needed (most items are files left alone).
        const auto rel = [&] { return JoinRel(relPath, c->data->name); };
        // A local item the scan could not list is not deleted.
        if (state == kDeleted && localSide && UnknownLocally(rel())) continue;
        SyncChangeInfo record;
        record.name = c->data->name;
        record.kind = c->data->isFile;
        record.state = state;
        record.aux2 = c;
        ChangeNode* node = dst->InsertChild(record).Node();
        if (node == nullptr) {
            Alert("插入节点失败！ filepath:", 599);
            continue;
        }
        if (c->data->isFile == 0) CopyToChangeTree(c, node, state, rel(), localSide);
    }
}

void Reconciler::MarkNewInChangeTree(ChangeNode* d, FileNode* t) {
    ChildWalk<SyncFileInfo> inTracer(t);
    for (const auto& child : d->children) {
        ChangeNode* dc = child.get();
        FileNode* tc = inTracer.Find(dc->data->name);
        if (tc != nullptr) {
            if (dc->data->kind == 0 && tc->data->isFile == 0) MarkNewInChangeTree(dc, tc);
            continue;
        }
        dc->data->state = kAdded;
        if (dc->data->kind == 0) SetStateBelow(dc, kAdded);
    }
}

void Reconciler::DiffAgainstTracer(FileNode* t, ChangeNode* d, const std::string& relPath, bool localSide) {
    ChildWalk<SyncChangeInfo> inDiff(d);
    for (const auto& child : t->children) {
        FileNode* tc = child.get();
        if (!Syncable(tc->data->name)) continue;
        const auto rel = [&] { return JoinRel(relPath, tc->data->name); };
        ChangeNode* dc = inDiff.Find(tc->data->name);
        if (dc == nullptr) {
            if (localSide && UnknownLocally(rel())) continue;
            SyncChangeInfo record;
            record.name = tc->data->name;
            record.kind = tc->data->isFile;
            record.state = kDeleted;
            record.aux2 = tc;
            ChangeNode* node = d->InsertChild(record).Node();
            if (node == nullptr) {
                Alert("插入节点失败！ filepath:", 738);
                continue;
            }
            if (tc->data->isFile == 0) CopyToChangeTree(tc, node, kDeleted, rel(), localSide);
            continue;
        }
        if (dc->data->kind == tc->data->isFile) {
            if (tc->data->isFile == 0) {
                DiffAgainstTracer(tc, dc, rel(), localSide);
            } else if (dc->data->aux2 != nullptr &&
                       tc->data->ChecksumDiffers(*dc->data->aux2->data)) {
                dc->data->state = kModified;
            }
            continue;
        }
        dc->data->state = kModified;
        if (dc->data->kind == 0) {
            SetStateBelow(dc, kAdded);
        } else {
            CopyToChangeTree(tc, dc, kDeleted, rel(), localSide);
        }
    }
}

void Reconciler::CopyToUniformTree(FileNode* src, TaskNode* dst, std::uint32_t side, std::uint32_t aspect,
                                   std::uint32_t task) {
    for (const auto& child : src->children) {
        FileNode* c = child.get();
        if (!Syncable(c->data->name)) continue;
        SyncTaskInfo record(c->data->isFile, c->data->name, 0, aspect, task, task == kTaskNone ? 1 : 0,
                            side == kSideLocal ? c : nullptr, side == kSideLocal ? nullptr : c);
        TaskNode* node = dst->InsertChild(record).Node();
        if (node == nullptr) {
            Alert("插入节点失败！ filepath:", 621);
            continue;
        }
        if (c->data->isFile == 0) CopyToUniformTree(c, node, side, aspect, task);
    }
}

void Reconciler::MarkLocalOnly(TaskNode* u, FileNode* s) {
    ChildWalk<SyncFileInfo> inServer(s);
    for (const auto& child : u->children) {
        TaskNode* uc = child.get();
        FileNode* sc = inServer.Find(uc->data->name);
        if (sc != nullptr) {
            if (uc->data->kind == 0 && sc->data->isFile == 0) MarkLocalOnly(uc, sc);
            continue;
        }
        uc->data->aspect = 0;
        uc->data->task = kTaskNew;
        uc->data->flag = 0;
        if (uc->data->kind == 0) SetWorkBelow(uc, 0, kTaskNew);
    }
}

void Reconciler::MergeServerIntoUniform(FileNode* s, TaskNode* u, const std::string& relPath) {
    ChildWalk<SyncTaskInfo> inUniform(u);
    for (const auto& child : s->children) {
        FileNode* sc = child.get();
        if (!Syncable(sc->data->name)) continue;
        const auto rel = [&] { return JoinRel(relPath, sc->data->name); };
        TaskNode* uc = inUniform.Find(sc->data->name);
        if (uc == nullptr) {
            // Never download over a local item the scan could not list.
            if (UnknownLocally(rel())) continue;
            SyncTaskInfo record(sc->data->isFile, sc->data->name, 0, 0, kTaskDeleted, 0, nullptr, sc);
            TaskNode* node = u->InsertChild(record).Node();
            if (node == nullptr) {
                Alert("插入节点失败！ filepath:", 796);
                continue;
            }
            if (sc->data->isFile == 0) CopyToUniformTree(sc, node, kSideServer, 0, kTaskDeleted);
            continue;
        }
        SyncTaskInfo& r = *uc->data;
        r.serverPartner = sc;
        const bool localIsFile = r.kind != 0;
        const bool serverIsFile = sc->data->isFile != 0;
        if (localIsFile == serverIsFile) {
            if (!localIsFile) {
                MergeServerIntoUniform(sc, uc, rel());
                continue;
            }
            const DigestText& serverSum = sc->data->checksum;
            static const DigestText kNoSum;
            const DigestText& localSum = r.localPartner != nullptr ? r.localPartner->data->checksum : kNoSum;
            if (serverSum.empty() || localSum.empty() || BaseFunc::EqualNoCase(serverSum, localSum)) {
                r.flag = (serverSum.empty() || localSum.empty()) ? 2 : 1;
            } else {
                r.aspect = 0;
                r.task = kTaskModified;
                r.flag = 0;
            }
            continue;
        }
        r.aspect = 0;
        r.task = kTaskModified;
        r.flag = 0;
        if (!localIsFile) {
            SetWorkBelow(uc, 0, kTaskNew);
        } else {
            CopyToUniformTree(sc, uc, kSideServer, 0, kTaskDeleted);
        }
    }
}

// The presence state (R.task) and the two difference records (L local, S server: changed
// or not since the last sync) give the work:
//   both sides, different: only S changed -> download; only L changed -> upload; both ->
//     conflict; neither -> undecided. A folder replaced by a file on one side while
//     something inside it changed on the other side is a conflict too.
//   local only: server never had it, or L changed -> upload as new; S changed (the
//     server deleted it) and L did not -> delete locally.
//   server only: local never had it, or S changed -> download as new; L changed (deleted
//     locally) and S did not -> delete on the server.
// A record that ends with create or update work recreates the folders around it that were
// to be deleted. An absent difference record counts as changed on its side, so that
// nothing is dropped for want of a record.
void Reconciler::DeriveTasks(ChangeNode* l, ChangeNode* s, TaskNode* u) {
    ChildWalk<SyncChangeInfo> inLocal(l);
    ChildWalk<SyncChangeInfo> inServer(s);
    for (const auto& child : u->children) {
        TaskNode* node = child.get();
        SyncTaskInfo& r = *node->data;
        ChangeNode* lc = inLocal.Find(r.name);
        ChangeNode* sc = inServer.Find(r.name);
        const bool lChanged = lc == nullptr || lc->data->state != kUnchanged;
        const bool sChanged = sc == nullptr || sc->data->state != kUnchanged;
        switch (r.task) {
            case kTaskModified:  // on both sides, different
                if (lc == nullptr || sc == nullptr) break;
                // A folder replaced on one side is a conflict when something inside it
                // changed on the other side: that content must not go down with it.
                if (!lChanged && sChanged && !AnyChangeBelow(lc)) {
                    r.aspect = kSideServer;
                    r.kind = sc->data->kind;
                } else if (lChanged && !sChanged && !AnyChangeBelow(sc)) {
                    r.aspect = kSideLocal;
                    r.kind = lc->data->kind;
                } else if (lChanged || sChanged) {
                    conflictPending = 1;
                }
                break;
            case kTaskNew:  // local only
                if (sc == nullptr || (lChanged && !sChanged) || (lChanged && sChanged)) {
                    r.aspect = kSideLocal;
                    r.task = kTaskNew;
                } else if (sChanged) {
                    r.aspect = kSideServer;
                    r.task = kTaskDeleted;
                }
                break;
            case kTaskDeleted:  // server only
                if (lc == nullptr || (!lChanged && sChanged) || (lChanged && sChanged)) {
                    r.aspect = kSideServer;
                    r.task = kTaskNew;
                } else if (lChanged) {
                    r.aspect = kSideLocal;
                    r.task = kTaskDeleted;
                }
                break;
            default:
                break;
        }
        if (r.IsCreateOrUpdate() && r.aspect != 0) ReviveAncestors(node, r.aspect);
        if (r.kind != 0) continue;
        if (r.task == kTaskNew) {
            SetWorkBelow(node, r.aspect, kTaskNew);
        } else {
            DeriveTasks(lc, sc, node);
        }
    }
}
