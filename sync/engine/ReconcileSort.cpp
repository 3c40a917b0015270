// Coalescing a batch of local change records, and taking the batch from the queue.
#include <algorithm>
#include <iterator>

#include "sync/engine/Reconcile.h"
#include "ReconcileInternal.h"

using namespace reconcile;

namespace {

using Iter = LocalChangeBatch::iterator;

// `later` came less than 500 ms after `earlier`.
bool Soon(const LocalChangeRecord& earlier, const LocalChangeRecord& later) {
    return later.time < earlier.time + 500;
}

// `key` names `base` itself or an item below it (whole components only).
bool AtOrBelow(const std::string& key, const std::string& base) {
    return key.compare(0, base.size(), base) == 0 && (key.size() == base.size() || key[base.size()] == '\\');
}

bool StrictlyBelow(const std::string& key, const std::string& base) {
    return key.size() > base.size() && AtOrBelow(key, base);
}

// `folder` is the folder directly around `key`.
bool IsFolderAround(const std::string& folder, const std::string& key) {
    return key.size() >= folder.size() + 2 && key.compare(0, folder.size(), folder) == 0 &&
           key[folder.size()] == '\\' && key.find('\\', folder.size() + 1) == std::string::npos;
}

// The key with its last component removed; "\\" for an item directly below the root.
std::string ParentKey(const std::string& key) {
    const std::size_t cut = key.rfind('\\');
    if (cut == std::string::npos) return key;
    return cut == 0 ? std::string("\\") : key.substr(0, cut);
}

std::string CutAtLastSeparator(const std::string& text) {
    const std::size_t cut = text.rfind('\\');
    return cut == std::string::npos ? text : text.substr(0, cut);
}

// After each record for which `starts` holds, drops the directly following records for
// which `drops` holds, up to the first that does not.
template <typename Starts, typename Drops>
void DropFollowing(LocalChangeBatch& list, Starts starts, Drops drops, bool onlyOne = false) {
    for (Iter it = list.begin(); it != list.end(); ++it) {
        if (!starts(*it)) continue;
        Iter next = std::next(it);
        while (next != list.end() && drops(*it, *next)) {
            next = list.erase(next);
            if (onlyOne) break;
        }
    }
}

// Walking from the end: drops the records directly before a record for which `starts`
// holds while `drops` holds for them.
template <typename Starts, typename Drops>
void DropPreceding(LocalChangeBatch& list, Starts starts, Drops drops) {
    if (list.empty()) return;
    Iter it = std::prev(list.end());
    while (it != list.begin()) {
        Iter before = std::prev(it);
        if (starts(*it) && drops(*before, *it)) {
            list.erase(before);
        } else {
            it = before;
        }
    }
}

bool IsKind(const LocalChangeRecord& r, std::uint32_t kind) { return r.kind == kind; }

// A rename that changes only the letter case: the item keeps its digest, so a modification
// beside it is still needed (a rename to another name is digested again anyway).
bool CaseOnlyRename(const LocalChangeRecord& r) { return IsKind(r, kLocalRenamed) && r.newPathKey == r.pathKey; }

// Puts `path` (whose key lies at or below `fromKey`) below `to` instead of `from`.
void Repath(std::string& path, std::string& key, const std::string& fromKey, const std::string& to,
            const std::string& toKey) {
    const std::string rest = path.substr(std::min(fromKey.size(), path.size()));
    path = to + rest;
    key = toKey + key.substr(fromKey.size());
}

// A renamed or moved item carries the records made before the rename for the items below
// its old name (those moved in there too, and the item's own addition or change): they
// now live below the new name, so they are re-pathed and placed directly after the
// rename, in their order. Applied in the old order, they would look for their items under a name that is
// gone, find nothing, and the items created just before the rename would never reach the
// trees.
void CarryRecordsWithRenames(LocalChangeBatch& list) {
    for (Iter rename = list.begin(); rename != list.end(); ++rename) {
        if (!IsKind(*rename, kLocalRenamed) || rename->pathKey == rename->newPathKey) continue;
        const std::string& fromKey = rename->pathKey;
        LocalChangeBatch carried;
        for (Iter it = list.begin(); it != rename;) {
            // The item itself comes along when it was added or changed under the old name;
            // a removal or rename away of that name concerned an earlier item.
            const bool pathBelow = StrictlyBelow(it->pathKey, fromKey) ||
                                   (it->pathKey == fromKey && (IsKind(*it, kLocalAdded) || IsKind(*it, kLocalModified)));
            const bool newPathBelow = IsKind(*it, kLocalRenamed) && StrictlyBelow(it->newPathKey, fromKey);
            if (!pathBelow && !newPathBelow) {
                ++it;
                continue;
            }
            if (pathBelow) Repath(it->path, it->pathKey, fromKey, rename->newPath, rename->newPathKey);
            if (newPathBelow) Repath(it->newPath, it->newPathKey, fromKey, rename->newPath, rename->newPathKey);
            Iter next = std::next(it);
            carried.splice(carried.end(), list, it);
            it = next;
        }
        list.splice(std::next(rename), carried);
    }
}

}  // namespace

void Reconciler::SortLocalChanges(LocalChangeBatch& list, const FileNode* driverRoot) {
    const auto added = [](const LocalChangeRecord& r) { return IsKind(r, kLocalAdded); };
    const auto modified = [](const LocalChangeRecord& r) { return IsKind(r, kLocalModified); };
    const auto renamed = [](const LocalChangeRecord& r) { return IsKind(r, kLocalRenamed); };
    const auto removed = [](const LocalChangeRecord& r) { return IsKind(r, kLocalRemoved); };

    // Records before a case-only rename name the item (or what is inside it) in the old
    // case, which the disk no longer knows: they take the new case.
    for (Iter r = list.begin(); r != list.end(); ++r) {
        if (!CaseOnlyRename(*r) || r->path.size() != r->newPath.size()) continue;
        for (Iter x = list.begin(); x != r; ++x) {
            if (AtOrBelow(x->pathKey, r->pathKey) && x->path.size() >= r->path.size()) {
                x->path = r->newPath + x->path.substr(r->path.size());
            }
            if (!x->newPath.empty() && AtOrBelow(x->newPathKey, r->pathKey) && x->newPath.size() >= r->path.size()) {
                x->newPath = r->newPath + x->newPath.substr(r->path.size());
            }
        }
    }

    // 0. Records of items below a renamed folder follow it to its new name.
    CarryRecordsWithRenames(list);
    // 1. Modifications of a just added item.
    const auto pass1 = [&] {
        DropFollowing(list, added, [](const LocalChangeRecord& a, const LocalChangeRecord& m) {
            return IsKind(m, kLocalModified) && m.pathKey == a.pathKey && Soon(a, m);
        });
    };
    pass1();
    // A modification just before a case-only rename of the item goes after it, under the
    // new name: the disk knows the item only by that name now, and the rename does not
    // digest the item again.
    for (Iter it = list.begin(); it != list.end(); ++it) {
        Iter next = std::next(it);
        if (!modified(*it) || next == list.end() || !CaseOnlyRename(*next) || next->pathKey != it->pathKey) continue;
        it->path = next->newPath;
        it->pathKey = next->newPathKey;
        list.splice(it, list, next);
    }
    // 2. A modification just before the item's rename or removal.
    DropPreceding(
        list, [](const LocalChangeRecord& r) { return IsKind(r, kLocalRenamed) || IsKind(r, kLocalRemoved); },
        [](const LocalChangeRecord& m, const LocalChangeRecord& r) {
            return IsKind(m, kLocalModified) && m.pathKey == r.pathKey && Soon(m, r) && !CaseOnlyRename(r);
        });
    // 3. A removal of a rename's new name just after it.
    DropFollowing(
        list, renamed,
        [](const LocalChangeRecord& r, const LocalChangeRecord& x) {
            return IsKind(x, kLocalRemoved) && x.pathKey == r.newPathKey && Soon(r, x);
        },
        true);
    // 4. Additions inside a just added folder (the folder is listed whole).
    DropFollowing(list, added, [](const LocalChangeRecord& a, const LocalChangeRecord& x) {
        return IsKind(x, kLocalAdded) && AtOrBelow(x.pathKey, a.pathKey);
    });
    // 5. Removals inside a removed folder, reported before it.
    DropPreceding(list, removed, [](const LocalChangeRecord& x, const LocalChangeRecord& r) {
        return IsKind(x, kLocalRemoved) && AtOrBelow(x.pathKey, r.pathKey);
    });
    // 6. A modification of a rename's new name just after it.
    DropFollowing(
        list, renamed,
        [](const LocalChangeRecord& r, const LocalChangeRecord& x) {
            return IsKind(x, kLocalModified) && x.pathKey == r.newPathKey && Soon(r, x) && !CaseOnlyRename(r);
        },
        true);
    // 7. A removal followed by an addition of the same item is a modification, when the
    //    item kept its kind (a file saved by replacing it).
    for (Iter it = list.begin(); it != list.end(); ++it) {
        Iter next = std::next(it);
        if (!removed(*it) || next == list.end() || !added(*next) || next->pathKey != it->pathKey) continue;
        const FileNode* before = driverRoot != nullptr
                                     ? FindFileNodeByPath(const_cast<FileNode*>(driverRoot), 1, it->path)
                                     : nullptr;
        const EngineFs::Kind now = fs_.KindOf(next->path);
        const bool sameKind = before != nullptr && ((before->data->isFile != 0 && now == EngineFs::Kind::File) ||
                                                    (before->data->isFile == 0 && now == EngineFs::Kind::Folder));
        if (!sameKind) continue;
        // The item is named as the addition found it: made anew in another letter case,
        // the disk no longer knows the removed name.
        it->path = next->path;
        list.erase(next);
        // A folder made anew may hold anything: it is listed again, not just marked.
        it->kind = before->data->isFile != 0 ? kLocalModified : kLocalRelist;
    }
    // 8. Repeated modifications of one item.
    DropFollowing(list, modified, [](const LocalChangeRecord& m, const LocalChangeRecord& x) {
        return IsKind(x, kLocalModified) && x.pathKey == m.pathKey;
    });
    // 9. A rename to exactly the same name. (A rename that changes only the letter case is
    //    kept: the disk here tells such names apart, so the trees must follow it.)
    list.remove_if([](const LocalChangeRecord& r) { return IsKind(r, kLocalRenamed) && r.newPath == r.path; });
    // 10. The modification the system reports for the folder around an item just added,
    //     removed or renamed.
    DropFollowing(
        list,
        [](const LocalChangeRecord& r) {
            return IsKind(r, kLocalAdded) || IsKind(r, kLocalRemoved) || IsKind(r, kLocalRenamed);
        },
        [](const LocalChangeRecord& r, const LocalChangeRecord& m) {
            return IsKind(m, kLocalModified) && Soon(r, m) && IsFolderAround(m.pathKey, r.pathKey);
        },
        true);
    // 11. Pass 1 once more.
    pass1();
    // 12. Many removals in one folder: the folder is listed anew instead.
    for (Iter it = list.begin(); it != list.end();) {
        if (!removed(*it)) {
            ++it;
            continue;
        }
        const std::string parent = ParentKey(it->pathKey);
        Iter end = std::next(it);
        std::size_t count = 1;
        while (end != list.end() && removed(*end) && ParentKey(end->pathKey) == parent) {
            ++end;
            ++count;
        }
        if (count > 10 && parent != "\\") {
            it->kind = kLocalRelist;
            it->pathKey = CutAtLastSeparator(it->pathKey);
            it->path = CutAtLastSeparator(it->path);
            it = list.erase(std::next(it), end);
        } else {
            it = end;
        }
    }
    // 13. Items that do not take part in synchronisation. A removed item is judged by its
    //     name (it cannot be looked at any more); a modified one that still exists is kept
    //     even when it is no longer a file or folder, so that it becomes unknown instead of
    //     staying in the trees.
    list.remove_if([this](const LocalChangeRecord& r) {
        switch (r.kind) {
            case kLocalAdded:
                return !fs_.IsSyncable(r.path, true);
            case kLocalRemoved:
                return !fs_.IsSyncable(r.path, false);
            case kLocalModified:
                return !fs_.IsSyncable(r.path, false) || fs_.KindOf(r.path) == EngineFs::Kind::Missing;
            default:
                return false;
        }
    });
}

bool TakeQuietLocalChanges(std::mutex& queueLock, std::deque<LocalChangeRecord>& queue, EngineClock& clock,
                           EngineFs& fs, const std::function<bool()>& stop, LocalChangeBatch& out) {
    std::unique_lock<std::mutex> hold(queueLock);
    if (queue.empty()) return false;
    while (clock.Milliseconds() < queue.back().time + 120) {
        hold.unlock();
        clock.Sleep(30);
        if (stop && stop()) return false;
        hold.lock();
        if (queue.empty()) return false;
    }
    if (stop && stop()) return false;
    const LocalChangeRecord& newest = queue.back();
    if (newest.kind == kLocalModified && fs.IsBeingWritten(newest.path)) return false;
    for (LocalChangeRecord& record : queue) out.push_back(std::move(record));
    queue.clear();
    return true;
}
