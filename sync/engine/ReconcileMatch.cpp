// Matching: a transfer whose content already exists on the receiving side becomes a move
// (reusing an item the cycle deletes there) or a copy (of an item that stays).
#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "sync/common/BaseFunc.h"
#include "sync/engine/Reconcile.h"
#include "ReconcileInternal.h"

using namespace reconcile;

// Records by their partners' checksums (which stay in place, unchanged, for the pass):
// sorted once, records of one checksum in walk order. Taken entries are nulled, not
// erased. One flat array instead of a tree node per record.
class MatchIndex {
public:
    using Entry = std::pair<const DigestText*, TaskNode*>;
    using Range = std::pair<std::vector<Entry>::iterator, std::vector<Entry>::iterator>;

    void Add(const DigestText& key, TaskNode* node) { entries_.emplace_back(&key, node); }
    void Seal() { std::stable_sort(entries_.begin(), entries_.end(), KeyLess); }
    bool Empty() const { return entries_.empty(); }
    Range Find(const DigestText& key) {
        return std::equal_range(entries_.begin(), entries_.end(), Entry(&key, nullptr), KeyLess);
    }

private:
    static bool KeyLess(const Entry& a, const Entry& b) { return *a.first < *b.first; }

    std::vector<Entry> entries_;
};

namespace {

using Index = MatchIndex;

struct PassSides {
    std::uint32_t direction;  // aspect of the records that transfer in this pass
    std::uint32_t receiving;  // side that receives them
    std::uint32_t sending;
};

PassSides SidesOf(int pass) {
    return pass == 1 ? PassSides{kSideServer, kSideLocal, kSideServer} : PassSides{kSideLocal, kSideServer, kSideLocal};
}

// The two items (of two trees) stand in folders of the same path, ignoring case.
bool SameParentFolder(const FileNode* a, const FileNode* b) { return SamePathNoCase(a->parent, b->parent); }

void EraseEntry(Index& index, const DigestText& key, const TaskNode* node) {
    auto [first, last] = index.Find(key);
    for (auto it = first; it != last; ++it) {
        if (it->second == node) {
            it->second = nullptr;
            return;
        }
    }
}

}  // namespace

void Reconciler::ClearDuties(TaskNode* root) {
    for (TaskNode* n : root->Preorder()) {
        n->data->duty = 0;
        n->data->source = std::monostate{};
    }
}

void Reconciler::MatchPass(TaskNode* root, int pass) {
    const PassSides sides = SidesOf(pass);
    Index all;
    Index deletes;
    // One walk clears the marks and marks the folders above every transfer of this pass:
    // a folder comes before everything below it, so it is cleared before anything below
    // can mark it.
    for (TaskNode* n : root->Preorder()) {
        n->data->matchMark = 0;
        const SyncTaskInfo& r = *n->data;
        if (r.aspect != sides.direction || !r.IsCreateOrUpdate()) continue;
        for (TaskNode* p = n->parent; p != nullptr && p->parent != nullptr && p->data->matchMark == 0; p = p->parent) {
            p->data->matchMark = 1;
        }
    }
    for (TaskNode* n : root->Preorder()) {
        const SyncTaskInfo& r = *n->data;
        if (r.matchMark != 0) continue;
        const FileNode* q = PartnerOf(r, sides.receiving);
        if (q == nullptr || q->data->checksum.empty()) continue;
        all.Add(q->data->checksum, n);
        if (r.aspect == sides.direction && r.task == kTaskDeleted) deletes.Add(q->data->checksum, n);
    }
    all.Seal();
    deletes.Seal();
    if (!all.Empty()) MatchWalk(root, pass, 0, all, deletes);
    if (!all.Empty()) MatchWalk(root, pass, 1, all, deletes);
}

void Reconciler::MatchWalk(TaskNode* node, int pass, std::uint32_t kind, Index& all, Index& deletes) {
    const PassSides sides = SidesOf(pass);
    for (const auto& child : node->children) {
        TaskNode* n = child.get();
        SyncTaskInfo& r = *n->data;
        if (r.duty == kDutyMove || r.duty == kDutyCopy) continue;
        const FileNode* sender = PartnerOf(r, sides.sending);
        const bool candidate = r.kind == kind && r.aspect == sides.direction && r.task == kTaskNew &&
                               sender != nullptr && !sender->data->checksum.empty();
        if (candidate) {
            const SyncFileInfo& p = *sender->data;
            auto [first, last] = deletes.Find(p.checksum);
            for (auto it = first; it != last; ++it) {
                TaskNode* e = it->second;
                if (e == nullptr || e->data->kind != r.kind) continue;
                const FileNode* q = PartnerOf(*e->data, sides.receiving);
                if (pass == 2 && (q == nullptr || (!SameParentFolder(sender, q) &&
                                                   !BaseFunc::EqualNoCase(q->data->name, p.name)))) {
                    continue;
                }
                r.duty = kDutyMove;
                r.source = e;
                it->second = nullptr;
                if (e->data->kind == 0) {
                    for (TaskNode* below : e->Preorder()) {
                        const FileNode* bq = PartnerOf(*below->data, sides.receiving);
                        if (bq != nullptr && !bq->data->checksum.empty()) EraseEntry(deletes, bq->data->checksum, below);
                    }
                }
                break;
            }
            if (r.duty == kDutyMove) continue;
            if (!(pass == 2 && kind == 0)) {
                auto [from, to] = all.Find(p.checksum);
                for (auto it = from; it != to; ++it) {
                    TaskNode* e = it->second;
                    if (e->data->kind != r.kind) continue;
                    FileNode* q = PartnerOf(*e->data, sides.receiving);
                    if (pass == 2 && (SameParentFolder(sender, q) || !BaseFunc::EqualNoCase(q->data->name, p.name))) {
                        continue;
                    }
                    r.duty = kDutyCopy;
                    r.source = q;
                    break;
                }
                if (r.duty == kDutyCopy) continue;
            }
        }
        if (r.kind == 0) MatchWalk(n, pass, kind, all, deletes);
    }
}
