// Randomized model of the reconciliation: a random synchronised state is changed on both
// sides, then whole cycles (scan, build, hash, local changes and newer server listings
// folded into the running cycle, match, a simulated commit of both directions in a random
// interleaving) run until nothing is left to do. After every case:
//   - it settled within kMaxCycles cycles;
//   - the local folder equals the server (names ignoring case, kinds, contents);
//   - every content either side had after the changes still exists somewhere (in place,
//     moved, or as a conflict copy), except an item unchanged at its synchronised place
//     and an item one side moved while the other edited or deleted it (a side may
//     replace or delete what it had seen);
//   - nothing was written outside the sync folder;
//   - items the scan cannot read (links, special files) were neither removed locally nor
//     deleted on the server.
// What the program does on purpose, and the checks allow:
//   - an empty sync folder against a synchronised state is a missing folder, not a
//     deletion of everything: the case ends there;
//   - a case-only rename stays local (names compare ignoring case);
//   - what the server holds at the place of an unreadable local item stays as it is, and
//     a local folder whose deletion is refused because it holds unreadable items stays
//     local only (both are left out of the comparison).
// A failing case prints its seed, is shrunk by dropping change operations while it still
// fails, and the smallest list is printed. DRAVIK_MODEL_CASES sets the number of cases
// (default 3000); DRAVIK_MODEL_SEED runs one seed alone and traces its smallest failing
// case cycle by cycle (with DRAVIK_MODEL_CASES too: that many cases from that seed);
// DRAVIK_MODEL_JOBS sets the number of threads that share the cases (default 1).
//
// The disk is the fake disk of ReconcileWorld.h; the server is a map of the same shape.
// The commit is simulated on both maps the way the commit threads do it (five passes per
// direction, items re-checked when their turn comes, a failed item left for the next
// cycle); the next cycle's synchronised state is what both sides agree on, which is what a
// fully committed cycle saves.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ReconcileWorld.h"
#include "sync/common/FolderDigest.h"
#include "sync/engine/CommitThread.h"

namespace enginetest {
namespace {

using Kind = EngineFs::Kind;

constexpr int kMaxCycles = 8;

struct Item {
    Kind kind = Kind::File;
    std::string content;  // files and special items: a unique text
    std::string ref;      // server items: the node reference
};
// One side: record path ("/a/b", names in their own case) -> item.
using Side = std::map<std::string, Item>;

std::string Lower(const std::string& s) { return BaseFunc::ToLower(s); }
std::string ParentOfPath(const std::string& p) {
    const std::size_t cut = p.rfind('/');
    return cut == std::string::npos || cut == 0 ? std::string() : p.substr(0, cut);
}
std::string NameOfPath(const std::string& p) { return p.substr(p.rfind('/') + 1); }
bool AtOrBelow(const std::string& path, const std::string& top) {
    return path == top || (path.size() > top.size() && path.compare(0, top.size(), top) == 0 && path[top.size()] == '/');
}
bool AtOrBelowNoCase(const std::string& path, const std::string& top) { return AtOrBelow(Lower(path), Lower(top)); }

// The stored path of `path` ignoring case ("" for the root); empty with found=false when
// some component is missing.
std::string Resolve(const Side& side, const std::string& path, bool& found) {
    found = true;
    if (path.empty()) return {};
    const std::string key = Lower(path);
    for (const auto& [p, item] : side) {
        if (Lower(p) == key) return p;
    }
    found = false;
    return {};
}
bool IsFolder(const Side& side, const std::string& path) {
    if (path.empty()) return true;
    const auto it = side.find(path);
    return it != side.end() && it->second.kind == Kind::Folder;
}
std::vector<std::string> Below(const Side& side, const std::string& top) {
    std::vector<std::string> out;
    for (const auto& [p, item] : side) {
        if (AtOrBelow(p, top)) out.push_back(p);
    }
    return out;
}
void RemoveTree(Side& side, const std::string& top) {
    for (const std::string& p : Below(side, top)) side.erase(p);
}
void MoveTree(Side& side, const std::string& from, const std::string& to) {
    Side moved;
    for (const std::string& p : Below(side, from)) {
        moved[to + p.substr(from.size())] = side[p];
        side.erase(p);
    }
    side.insert(moved.begin(), moved.end());
}
bool HasOtherBelow(const Side& side, const std::string& top) {
    for (const auto& [p, item] : side) {
        if (item.kind == Kind::Other && AtOrBelow(p, top)) return true;
    }
    return false;
}

// ---------------------------------------------------------------- change operations

enum OpType : int { kCreateFile, kCreateFolder, kEdit, kDelete, kRename, kMove, kKindChange, kCaseRename, kSpecial, kOpTypes };
const char* const kOpNames[] = {"create-file", "create-folder", "edit", "delete", "rename",
                                "move", "kind-change", "case-rename", "special"};

// Phases: 0 before the cycle's scan; after the build: 1 and 3 local changes (with their
// change records), 2 and 4 newer server listings.
struct Op {
    int side = 1;  // 1 local, 2 server
    int phase = 0;
    int type = kCreateFile;
    std::uint32_t a = 0;
    std::uint32_t b = 0;
};

std::string Describe(const Op& op) {
    std::ostringstream out;
    out << (op.side == 1 ? "local" : "server") << " phase" << op.phase << ' ' << kOpNames[op.type] << '(' << op.a
        << ',' << op.b << ')';
    return out.str();
}

// Unique texts: contents, node references, special items.
struct Counter {
    int next = 0;
    std::set<std::string> replacing;  // special items that took the place of a listed file
    std::string Fresh(const char* prefix) { return prefix + std::to_string(++next); }
};

std::string PoolName(std::uint32_t b) {
    std::string name = "n" + std::to_string(b % 6);
    if ((b / 6) % 2 == 1) name += ".txt";
    return name;
}

bool NameFree(const Side& side, const std::string& parent, const std::string& name) {
    bool found = false;
    Resolve(side, parent + "/" + name, found);
    return !found;
}

void PutFile(Side& side, const std::string& path, Counter& counter, bool server) {
    side[path] = Item{Kind::File, counter.Fresh("C"), server ? counter.Fresh("r") : std::string()};
}
void PutFolder(Side& side, const std::string& path, Counter& counter, bool server) {
    side[path] = Item{Kind::Folder, std::string(), server ? counter.Fresh("r") : std::string()};
}

// What the watcher reports, and the unknown items the scan records meanwhile.
struct Reports {
    std::vector<LocalChangeRecord> records;
    std::uint64_t time = 0;
    void Add(std::uint32_t kind, const std::string& path, const std::string& newPath = std::string()) {
        records.push_back(Change(kind, path.substr(1), time += 10, newPath.empty() ? newPath : newPath.substr(1)));
    }
};

// Applies one operation; its targets are picked among the items present now, so any
// sublist of operations is a valid case too.
void ApplyOp(const Op& op, Side& side, Counter& counter, Reports* reports, LocalUnknownSet* unknown) {
    const bool server = op.side == 2;
    std::vector<std::string> items;
    std::vector<std::string> files;
    std::vector<std::string> folders{std::string()};
    for (const auto& [p, item] : side) {
        if (item.kind == Kind::Other) continue;
        items.push_back(p);
        (item.kind == Kind::File ? files : folders).push_back(p);
    }
    const auto report = [&](std::uint32_t kind, const std::string& path, const std::string& newPath = std::string()) {
        if (reports != nullptr) reports->Add(kind, path, newPath);
    };
    switch (op.type) {
        case kCreateFile:
        case kCreateFolder: {
            const std::string parent = folders[op.a % folders.size()];
            const std::string name = PoolName(op.b);
            if (!NameFree(side, parent, name)) return;
            const std::string path = parent + "/" + name;
            if (op.type == kCreateFile) {
                PutFile(side, path, counter, server);
                report(kLocalAdded, path);
            } else {
                PutFolder(side, path, counter, server);
                PutFile(side, path + "/" + PoolName(op.b + 1), counter, server);
                report(kLocalAdded, path);
                report(kLocalAdded, path + "/" + PoolName(op.b + 1));
            }
            return;
        }
        case kEdit: {
            if (files.empty()) return;
            const std::string path = files[op.a % files.size()];
            side[path].content = counter.Fresh("C");
            report(kLocalModified, path);
            return;
        }
        case kDelete: {
            if (items.empty()) return;
            const std::string path = items[op.a % items.size()];
            RemoveTree(side, path);
            report(kLocalRemoved, path);
            return;
        }
        case kRename:
        case kCaseRename: {
            if (items.empty()) return;
            const std::string path = items[op.a % items.size()];
            const std::string parent = ParentOfPath(path);
            std::string name = NameOfPath(path);
            if (op.type == kRename) {
                name = PoolName(op.b);
                if (!NameFree(side, parent, name)) return;
            } else {
                name[0] = name[0] == 'n' ? 'N' : 'n';
            }
            MoveTree(side, path, parent + "/" + name);
            if (unknown != nullptr) unknown->Rename(path, parent + "/" + name);
            report(kLocalRenamed, path, parent + "/" + name);
            return;
        }
        case kMove: {
            if (items.empty()) return;
            const std::string path = items[op.a % items.size()];
            const std::string target = folders[op.b % folders.size()];
            if (AtOrBelow(target, path) || target == ParentOfPath(path)) return;
            if (!NameFree(side, target, NameOfPath(path))) return;
            const std::string to = target + "/" + NameOfPath(path);
            MoveTree(side, path, to);
            if (unknown != nullptr) unknown->Rename(path, to);
            // Between folders the watcher sees a removal and an addition.
            report(kLocalRemoved, path);
            report(kLocalAdded, to);
            return;
        }
        case kKindChange: {
            if (items.empty()) return;
            const std::string path = items[op.a % items.size()];
            const bool wasFile = side[path].kind == Kind::File;
            RemoveTree(side, path);
            if (unknown != nullptr) unknown->Remove(path);
            report(kLocalRemoved, path);
            if (wasFile) {
                PutFolder(side, path, counter, server);
                PutFile(side, path + "/" + PoolName(op.b), counter, server);
            } else {
                PutFile(side, path, counter, server);
            }
            report(kLocalAdded, path);
            return;
        }
        case kSpecial: {
            // A link or special file: locally only (the server has none); it is never
            // listed and the scan records it as unknown.
            if (server) return;
            std::string path;
            if (op.b % 2 == 0 && !files.empty()) {
                path = files[op.a % files.size()];
                report(kLocalRemoved, path);
            } else {
                const std::string parent = folders[op.a % folders.size()];
                if (!NameFree(side, parent, PoolName(op.b))) return;
                path = parent + "/" + PoolName(op.b);
            }
            side[path] = Item{Kind::Other, counter.Fresh("S"), std::string()};
            if (op.b % 2 == 0) counter.replacing.insert(side[path].content);
            if (unknown != nullptr) unknown->Add(path);
            report(kLocalAdded, path);
            return;
        }
        default:
            return;
    }
}

// ---------------------------------------------------------------- the fake disk

// The fake disk, with backup names that are free on it and the listing of new folders
// that records what it skips (as the local scan does).
class ModelFs : public FakeFs {
public:
    LocalUnknownSet* unknown = nullptr;
    int tag = 0;

    std::string BackupNameAt(const std::string& path, const plat::SystemTime&) override {
        static const std::string kMarker = ".冲突备份.";
        const std::string p = Norm(path);
        const std::size_t marker = p.find(kMarker, p.rfind('/') + 1);
        const std::string stem = marker == std::string::npos ? p : p.substr(0, marker);
        for (;;) {
            std::ostringstream candidate;
            candidate << stem << kMarker << "20240102-030405." << std::hex << ++tag << ".bak";
            if (!ExistsNoCase(candidate.str())) return candidate.str();
        }
    }
    bool ExistsNoCase(const std::string& path) const {
        const std::string key = Lower(Norm(path));
        for (const auto& [p, e] : disk) {
            if (Lower(p) == key) return true;
        }
        return false;
    }
    bool ListFolderAt(CSyncBase*, const std::string& path, FileNode* parent, LocalUnknownSet*) override {
        const std::string top = Norm(path);
        for (const auto& [p, e] : disk) {
            if (!AtOrBelow(p, top) || p == top) continue;
            const std::string rel = p.substr(root.size());
            FileNode* above = parent;
            if (ParentOfPath(p) != top) {
                above = FindFileNodeByPath(parent, 2, ParentOfPath(p).substr(top.size()));
                if (above == nullptr || above->data->isFile != 0) continue;
            }
            if (e.kind == Kind::Other || above->FindChild(std::string_view(NameOfPath(p))) != above->children.end()) {
                if (unknown != nullptr) unknown->Add(rel);
                continue;
            }
            above->InsertChild(SyncFileInfo(e.kind == Kind::File ? 1 : 0, 0, e.content.size(), rel));
        }
        return true;
    }
};

// ---------------------------------------------------------------- one case

struct Outcome {
    std::string failure;  // empty: the case passed
    int cycles = 0;
};

class Model {
public:
    Model(std::uint64_t seed, std::vector<Op> ops, bool trace) : ops_(std::move(ops)), run_(seed * 7919 + 17), trace_(trace) {
        std::mt19937_64 tree(seed);
        const int count = static_cast<int>(tree() % 12);
        for (int i = 0; i < count; ++i) {
            Op make;
            make.type = tree() % 3 == 0 ? kCreateFolder : kCreateFile;
            make.a = static_cast<std::uint32_t>(tree());
            make.b = static_cast<std::uint32_t>(tree());
            ApplyOp(make, tracer_, counter_, nullptr, nullptr);
        }
        for (auto& [p, item] : tracer_) item.content = item.kind == Kind::File ? "T" + item.content : item.content;
        local_ = tracer_;
        server_ = tracer_;
        for (auto& [p, item] : server_) item.ref = counter_.Fresh("r");
        fs_.unknown = &w_.unknown;
        // The world's reconciler works on the world's fake disk; this model's disk (with
        // free backup names) replaces it.
        rc_.announce = &w_.announce;
        rc_.unknown = &w_.unknown;
    }

    Outcome Run() {
        Outcome out;
        for (const Op& op : ops_) {
            if (op.phase != 0) continue;
            ApplyOp(op, op.side == 1 ? local_ : server_, counter_, nullptr, op.side == 1 ? &w_.unknown : nullptr);
        }
        PutDisk(local_);
        for (int cycle = 1; cycle <= kMaxCycles; ++cycle) {
            out.cycles = cycle;
            bool idle = false;
            out.failure = Cycle(cycle == 1, idle);
            if (!out.failure.empty()) return out;
            if (idle) {
                out.failure = FinalCheck();
                return out;
            }
        }
        out.failure = "did not settle within " + std::to_string(kMaxCycles) + " cycles; last plan: " + DumpPlan(w_.uniform);
        return out;
    }

private:
    // ---- trees from the sides ----
    Side DiskSide() const {
        Side side;
        for (const auto& [p, e] : fs_.disk) {
            if (p.size() <= fs_.root.size()) continue;
            side[p.substr(fs_.root.size())] = Item{e.kind, e.content, std::string()};
        }
        return side;
    }
    void PutDisk(const Side& side) {
        fs_.disk.clear();
        for (const auto& [p, item] : side) fs_.disk[fs_.root + p] = FakeFs::Entry{item.kind, item.content};
    }
    // The scan digests every file before the build (a file whose digest fails is judged
    // once it has one); files that local changes bring are digested by the hash step.
    static void Fill(FileNode& root, const Side& side, LocalUnknownSet* unknown) {
        root.DeleteChildren();
        std::map<std::string, FileNode*> nodes{{std::string(), &root}};
        for (const auto& [p, item] : side) {
            const auto parent = nodes.find(ParentOfPath(p));
            if (parent == nodes.end() || parent->second->data->isFile != 0) continue;
            if (item.kind == Kind::Other) {
                if (unknown != nullptr) unknown->Add(p);
                continue;
            }
            SyncFileInfo record(item.kind == Kind::File ? 1 : 0, 0, item.content.size(), p);
            record.checksum = item.kind == Kind::File ? item.content : std::string();
            record.nodeRef = item.ref;
            FileNode* node = parent->second->InsertChild(record).Node();
            if (node == nullptr) {
                // Differs only in case from a listed name: the scan cannot tell them apart.
                if (unknown != nullptr) unknown->Add(p);
                continue;
            }
            nodes[p] = node;
        }
    }

    std::string Check(const char* step) {
        if (!w_.LinksValid()) return std::string("a partner link points outside its tree after ") + step;
        for (const auto& [p, e] : fs_.disk) {
            if (!AtOrBelow(p, fs_.root) || p == fs_.root) return "written outside the sync folder: " + p;
        }
        if (trace_) std::cout << "  " << step << ": " << DumpPlan(w_.uniform) << '\n';
        return {};
    }
    void Hash() {
        for (FileNode* node : w_.driver.Preorder()) {
            if (node->data->isFile != 0 && node->data->checksum.empty()) {
                node->data->checksum = fs_.Content(fs_.root + NodePath(node, 2));
            }
        }
        rc_.RelinkPendingLocal(&w_.uniform);
        if (rc_.conflictPending != 0) rc_.RenameConflicts(&w_.uniform);
        rc_.conflictPending = 0;
    }

    // ---- one cycle ----
    std::string Cycle(bool first, bool& idle) {
        if (trace_) std::cout << "cycle\n  local: " << Text(DiskSide()) << "\n  server: " << Text(server_)
                              << "\n  tracer: " << Text(tracer_) << '\n';
        w_.unknown.Clear();
        Fill(w_.driver, DiskSide(), &w_.unknown);
        Fill(w_.server, server_, nullptr);
        Fill(w_.tracer, tracer_, nullptr);
        if (w_.driver.children.empty() && !w_.tracer.children.empty()) {
            // An empty sync folder against a synchronised state is a missing folder: the
            // program stops there instead of deleting everything, and so does the case.
            idle = true;
            missing_ = true;
            return {};
        }
        if (!rc_.BuildCycle(&w_.driver, &w_.server, &w_.tracer, &w_.uniform)) return "the build stopped";
        rc_.conflictPending = 0;
        if (std::string f = Check("build"); !f.empty()) return f;
        Hash();
        if (std::string f = Check("hash"); !f.empty()) return f;
        if (first) {
            for (int phase = 1; phase <= 4; ++phase) {
                if (std::string f = ChangePhase(phase); !f.empty()) return f;
            }
            TakeProtected();
        }
        BaseFunc::ComputeFolderChecksum(&w_.driver);
        BaseFunc::ComputeFolderChecksum(&w_.server);
        rc_.ClearDuties(&w_.uniform);
        rc_.MatchPass(&w_.uniform, 1);
        rc_.MatchPass(&w_.uniform, 2);
        if (std::string f = Check("match"); !f.empty()) return f;
        idle = !HasWork(w_.uniform, DiskSide());
        if (idle) return {};
        Commit();
        tracer_ = Agreement();
        return {};
    }

    std::string ChangePhase(int phase) {
        std::vector<const Op*> mine;
        for (const Op& op : ops_) {
            if (op.phase == phase) mine.push_back(&op);
        }
        if (mine.empty()) return {};
        if (phase % 2 == 1) {
            // Local changes while the cycle stands: the disk changes, the watcher's records
            // are coalesced and applied, then the changed files are digested.
            Side local = DiskSide();
            Reports reports;
            reports.time = w_.clock.now;
            for (const Op* op : mine) ApplyOp(*op, local, counter_, &reports, &w_.unknown);
            PutDisk(local);
            LocalChangeBatch list(reports.records.begin(), reports.records.end());
            rc_.SortLocalChanges(list, &w_.driver);
            if (trace_) {
                std::cout << "  local now: " << Text(local) << "\n  records:";
                for (const LocalChangeRecord& r : list) {
                    std::cout << ' ' << "ARMNL"[r.kind - 1] << ':' << r.path << (r.newPath.empty() ? "" : "->") << r.newPath;
                }
                std::cout << '\n';
            }
            rc_.ApplyLocalChange(list, &w_.driver, &w_.uniform);
            // The program runs each step with a reconciler of its own: a conflict found
            // while applying is resolved by a later step's own findings (or the next build).
            rc_.conflictPending = 0;
            if (std::string f = Check("local changes"); !f.empty()) return f;
            Hash();
            return Check("hash");
        }
        for (const Op* op : mine) ApplyOp(*op, server_, counter_, nullptr, nullptr);
        if (trace_) std::cout << "  server now: " << Text(server_) << '\n';
        Fill(w_.waiter, server_, nullptr);
        rc_.DropVanishedServerItems(&w_.waiter, &w_.uniform);
        rc_.MergeServerChanges(&w_.waiter, &w_.uniform);
        if (rc_.conflictPending != 0) rc_.RenameConflicts(&w_.uniform);
        rc_.conflictPending = 0;
        return Check("server listing");
    }

    // Work left, apart from a local folder deletion that the commit refuses because the
    // folder holds items the scan could not read (nothing can be done about it until the
    // user removes them; the local side keeps them).
    static bool HasWork(const TaskNode& root, const Side& disk) {
        for (const auto& child : root.children) {
            const SyncTaskInfo& r = *child->data;
            if (r.task != 0 || r.duty != 0) {
                const bool blocked = r.aspect == 2 && r.task == kTaskDeleted && r.localPartner != nullptr &&
                                     r.localPartner->data->isFile == 0 &&
                                     HasOtherBelow(disk, NodePath(r.localPartner, 2));
                if (!blocked) return true;
                continue;
            }
            if (HasWork(*child, disk)) return true;
        }
        return false;
    }

    // ---- the simulated commit ----
    struct CommitOp {
        std::uint32_t aspect = 0;
        std::uint32_t pass = 0;
        std::uint32_t kind = 0;
        std::string path;        // the item's place in the unified tree
        std::string localName;   // the local partner's name ("" none)
        bool localIsFile = false;
        std::string localPath;   // the local partner's path
        std::string known;       // the local partner's checksum
        std::string serverName;
        bool serverIsFile = false;
        std::string serverPath;
        std::string sourcePath;  // copy / move: where the content is on the receiving side
    };

    CommitOp Entry(TaskNode* node, std::uint32_t aspect, std::uint32_t pass) const {
        const SyncTaskInfo& r = *node->data;
        CommitOp op;
        op.aspect = aspect;
        op.pass = pass;
        op.kind = r.kind;
        op.path = NodePath(node, 2);
        if (const FileNode* l = r.localPartner) {
            op.localName = l->data->name;
            op.localIsFile = l->data->isFile != 0;
            op.localPath = NodePath(l, 2);
            op.known = l->data->checksum;
        }
        if (const FileNode* s = r.serverPartner) {
            op.serverName = s->data->name;
            op.serverIsFile = s->data->isFile != 0;
            op.serverPath = NodePath(s, 2);
        }
        if (pass == CCommitThread::kPassMove) {
            if (const TaskNode* src = r.SourceTaskNode()) {
                const FileNode* partner = aspect == 1 ? src->data->serverPartner : src->data->localPartner;
                if (partner != nullptr) op.sourcePath = NodePath(partner, 2);
            }
        } else if (pass == CCommitThread::kPassCopy) {
            if (const FileNode* src = r.SourceFileNode()) op.sourcePath = NodePath(src, 2);
        }
        return op;
    }

    std::vector<CommitOp> Collect(std::uint32_t aspect) {
        std::vector<CommitOp> out;
        for (std::uint32_t pass : {CCommitThread::kPassCopy, CCommitThread::kPassMove, CCommitThread::kPassDelete,
                                   CCommitThread::kPassFolder, CCommitThread::kPassFile}) {
            std::vector<TaskNode*> picked;
            if (pass >= CCommitThread::kPassDelete) {
                BaseFunc::TraverseForTaskNode(nullptr, &w_.uniform, aspect, pass, picked);
            } else {
                BaseFunc::TraverseForFileFolder(nullptr, &w_.uniform, aspect, pass == CCommitThread::kPassFolder ? 0 : 1,
                                                picked);
            }
            for (TaskNode* node : picked) out.push_back(Entry(node, aspect, pass));
        }
        return out;
    }

    void Commit() {
        // The two commit threads run side by side: their items interleave at random, each
        // thread keeping its own order.
        std::vector<CommitOp> away = Collect(1);
        std::vector<CommitOp> home = Collect(2);
        std::size_t i = 0;
        std::size_t j = 0;
        Side disk = DiskSide();
        while (i < away.size() || j < home.size()) {
            const bool takeAway = j == home.size() || (i < away.size() && run_() % 2 == 0);
            const CommitOp& op = takeAway ? away[i++] : home[j++];
            const bool ok = takeAway ? ToServer(op, disk) : ToLocal(op, disk);
            if (trace_) {
                std::cout << "  commit " << (takeAway ? "up" : "down") << " pass" << op.pass << ' ' << op.path
                          << (ok ? " ok" : " FAILED") << '\n';
            }
        }
        PutDisk(disk);
    }

    // The receiving side's folder that is to hold the item, in its stored case.
    static bool Parent(const Side& side, const std::string& path, std::string& parent) {
        bool found = false;
        parent = Resolve(side, ParentOfPath(path), found);
        return found && IsFolder(side, parent);
    }

    std::string Backup(const std::string& path) {
        return fs_.MakeBackupName(path, w_.clock.LocalTime());
    }

    bool ToServer(const CommitOp& op, const Side& disk) {
        std::string parent;
        switch (op.pass) {
            case CCommitThread::kPassCopy:
            case CCommitThread::kPassMove: {
                bool found = false;
                const std::string from = Resolve(server_, op.sourcePath, found);
                if (op.sourcePath.empty() || !found || !Parent(server_, op.path, parent)) return false;
                const std::string to = parent + "/" + NameOfPath(op.path);
                bool taken = false;
                Resolve(server_, to, taken);
                if (taken || AtOrBelowNoCase(to, from)) return false;
                if (op.pass == CCommitThread::kPassMove) {
                    MoveTree(server_, from, to);
                } else {
                    for (const std::string& p : Below(server_, from)) {
                        Item copy = server_[p];
                        copy.ref = counter_.Fresh("r");
                        server_[to + p.substr(from.size())] = copy;
                    }
                }
                return true;
            }
            case CCommitThread::kPassDelete: {
                bool found = false;
                const std::string at = Resolve(server_, op.serverPath, found);
                if (op.serverPath.empty() || !found) return false;
                RemoveTree(server_, at);
                return true;
            }
            default: {
                if (op.localPath.empty() || !Parent(server_, op.path, parent)) return false;
                const std::string to = parent + "/" + op.localName;
                bool found = false;
                const std::string there = Resolve(server_, to, found);
                if (op.pass == CCommitThread::kPassFolder) {
                    if (found && server_[there].kind == Kind::Folder) return true;
                    if (found) RemoveTree(server_, there);  // a file in the way goes first
                    server_[to] = Item{Kind::Folder, std::string(), counter_.Fresh("r")};
                    return true;
                }
                // The upload reads the file as it is now.
                const auto local = disk.find(op.localPath);
                if (local == disk.end() || local->second.kind != Kind::File) return false;
                std::string ref = counter_.Fresh("r");
                if (found && server_[there].kind == Kind::File) {
                    ref = server_[there].ref;
                    server_.erase(there);
                } else if (found) {
                    RemoveTree(server_, there);  // a folder in the way goes first
                }
                server_[to] = Item{Kind::File, local->second.content, ref};
                return true;
            }
        }
    }

    bool ToLocal(const CommitOp& op, Side& disk) {
        std::string parent;
        switch (op.pass) {
            case CCommitThread::kPassCopy:
            case CCommitThread::kPassMove: {
                bool found = false;
                const std::string from = Resolve(disk, op.sourcePath, found);
                if (op.sourcePath.empty() || !found || disk[from].kind == Kind::Other || op.serverName.empty() ||
                    !Parent(disk, op.path, parent)) {
                    return false;
                }
                const std::string to = parent + "/" + op.serverName;
                bool taken = false;
                const std::string there = Resolve(disk, to, taken);
                if (AtOrBelowNoCase(to, from)) return false;
                if (op.pass == CCommitThread::kPassCopy) {
                    if (taken) return false;
                    for (const std::string& p : Below(disk, from)) disk[to + p.substr(from.size())] = disk[p];
                    return true;
                }
                // A file replaces a file at the target; a folder never replaces anything.
                if (taken && (disk[from].kind != Kind::File || disk[there].kind != Kind::File)) return false;
                if (taken) disk.erase(there);
                MoveTree(disk, from, to);
                return true;
            }
            case CCommitThread::kPassDelete: {
                bool found = false;
                const std::string at = Resolve(disk, op.localPath, found);
                if (op.localPath.empty() || !found) return false;
                // The commit asks for the record's kind; a folder that holds items the
                // scan could not read is never deleted.
                if ((disk[at].kind == Kind::File) != (op.kind == 1)) return false;
                if (!op.localIsFile && w_.unknown.HasAtOrBelow(op.localPath)) return false;
                RemoveTree(disk, at);
                return true;
            }
            case CCommitThread::kPassFolder: {
                if (op.serverPath.empty() || !Parent(disk, op.path, parent)) return false;
                const std::string name = !op.localName.empty() && !op.localIsFile ? op.localName : op.serverName;
                const std::string to = parent + "/" + name;
                bool found = false;
                const std::string there = Resolve(disk, to, found);
                if (found && disk[there].kind == Kind::Folder) return true;
                if (found && disk[there].kind == Kind::Other) return false;
                if (found) {
                    // A local file stands where the folder goes: kept under a backup name.
                    const std::string backup = Backup(there);
                    MoveTree(disk, there, backup);
                }
                disk[to] = Item{Kind::Folder, std::string(), std::string()};
                return true;
            }
            default: {
                bool onServer = false;
                const std::string from = Resolve(server_, op.serverPath, onServer);
                if (op.serverPath.empty() || !onServer || server_[from].kind != Kind::File ||
                    !Parent(disk, op.path, parent)) {
                    return false;
                }
                const std::string name = !op.localName.empty() && op.localIsFile ? op.localName : op.serverName;
                const std::string to = parent + "/" + name;
                bool found = false;
                const std::string there = Resolve(disk, to, found);
                if (found && disk[there].kind == Kind::Other) return false;
                // A folder at the target, or a file the sync does not know as it is now,
                // is set aside under a backup name.
                const bool keep = found && (disk[there].kind == Kind::Folder || !op.localIsFile ||
                                            (!op.known.empty() && Lower(disk[there].content) != Lower(op.known)));
                if (keep) {
                    MoveTree(disk, there, Backup(there));
                } else if (found) {
                    disk.erase(there);
                }
                disk[to] = Item{Kind::File, server_[from].content, std::string()};
                return true;
            }
        }
    }

    // What both sides agree on: the synchronised state a finished commit leaves.
    Side Agreement() const {
        Side out;
        const Side disk = DiskSide();
        for (const auto& [p, item] : disk) {
            if (item.kind == Kind::Other) continue;
            if (!ParentOfPath(p).empty() && out.count(ParentOfPath(p)) == 0) continue;
            bool found = false;
            const std::string there = Resolve(server_, p, found);
            if (!found) continue;
            const Item& s = server_.at(there);
            if (s.kind != item.kind) continue;
            if (item.kind == Kind::File && Lower(s.content) != Lower(item.content)) continue;
            out[p] = Item{item.kind, item.content, std::string()};
        }
        return out;
    }

    // ---- the checks ----
    // What must survive, taken when every change has been made (after the first cycle's
    // changes, before its commit): every content on either side except an item unchanged
    // at its synchronised place (the other side may delete or replace it), every special
    // item, and the server's content at the place of a special item.
    void TakeProtected() {
        protected_.clear();
        specials_.clear();
        const Side disk = DiskSide();
        std::set<std::string> synced;
        std::set<std::string> onDisk;
        std::set<std::string> onServer;
        for (const auto& [p, item] : tracer_) synced.insert(Lower(item.content));
        for (const auto& [p, item] : disk) onDisk.insert(Lower(item.content));
        for (const auto& [p, item] : server_) onServer.insert(Lower(item.content));
        // A content is protected when it is new, or when one side moved it and the other
        // still has it: a side that edited or deleted what it had seen may replace it.
        const auto protect = [&](const std::string& p, const Item& item, const std::set<std::string>& other) {
            if (item.kind != Kind::File) return;
            const std::string content = Lower(item.content);
            if (synced.count(content) == 0) {
                protected_.insert(item.content);
                return;
            }
            bool found = false;
            const std::string there = Resolve(tracer_, p, found);
            const bool inPlace = found && Lower(tracer_.at(there).content) == content;
            if (!inPlace && other.count(content) != 0) protected_.insert(item.content);
        };
        for (const auto& [p, item] : disk) {
            if (item.kind == Kind::Other) {
                specials_.push_back(item.content);
                // The server's item at its place is protected when the special item took
                // the place of the file (a file the user deleted first may go).
                if (counter_.replacing.count(item.content) == 0) continue;
                bool found = false;
                const std::string there = Resolve(server_, p, found);
                if (found && server_.at(there).kind == Kind::File) protected_.insert(server_.at(there).content);
            } else {
                protect(p, item, onServer);
            }
        }
        for (const auto& [p, item] : server_) protect(p, item, onDisk);
    }

    std::string FinalCheck() const {
        if (missing_) return {};
        const Side disk = DiskSide();
        std::map<std::string, std::string> local;   // lower path -> kind and content
        std::map<std::string, std::string> remote;
        std::vector<std::string> held;  // local-only folders that keep unreadable items
        for (const auto& [p, item] : disk) {
            if (item.kind == Kind::Other) continue;
            bool found = false;
            Resolve(server_, p, found);
            if (!found && item.kind == Kind::Folder && HasOtherBelow(disk, p)) held.push_back(p);
        }
        for (const auto& [p, item] : disk) {
            if (item.kind == Kind::Other) continue;
            if (std::any_of(held.begin(), held.end(), [&](const std::string& h) { return AtOrBelow(p, h); })) continue;
            local[Lower(p)] = item.kind == Kind::File ? "=" + Lower(item.content) : "/";
        }
        std::set<std::string> specialPaths;
        for (const auto& [p, item] : disk) {
            if (item.kind == Kind::Other) specialPaths.insert(Lower(p));
        }
        for (const auto& [p, item] : server_) {
            // What the server has at the place of a local special item is neither deleted
            // nor downloaded over it: both stay as they are.
            if (std::any_of(specialPaths.begin(), specialPaths.end(),
                            [&](const std::string& at) { return AtOrBelow(Lower(p), at); })) {
                continue;
            }
            remote[Lower(p)] = item.kind == Kind::File ? "=" + Lower(item.content) : "/";
        }
        if (local != remote) return "the sides differ: local " + Text(disk) + " / server " + Text(server_);

        std::set<std::string> contents;
        for (const auto& [p, item] : disk) contents.insert(Lower(item.content));
        for (const auto& [p, item] : server_) contents.insert(Lower(item.content));
        for (const std::string& c : protected_) {
            if (contents.count(Lower(c)) == 0) return "content lost: " + c;
        }
        for (const std::string& s : specials_) {
            if (contents.count(Lower(s)) == 0) return "unreadable local item lost: " + s;
        }
        for (const auto& [p, item] : server_) {
            std::istringstream parts(p.substr(1) + "/");
            std::string part;
            while (std::getline(parts, part, '/')) {
                if (part.empty() || part == "." || part == "..") return "server path outside its root: " + p;
            }
        }
        return {};
    }

    static std::string Text(const Side& side) {
        std::ostringstream out;
        for (const auto& [p, item] : side) {
            out << ' ' << p;
            if (item.kind == Kind::Folder) out << '/';
            if (item.kind == Kind::File) out << '=' << item.content;
            if (item.kind == Kind::Other) out << '~' << item.content;
        }
        return out.str();
    }

    std::vector<Op> ops_;
    std::mt19937_64 run_;
    bool trace_;
    Counter counter_;
    World w_{"", "", ""};
    ModelFs fs_;
    Reconciler rc_{fs_, w_.clock};
    Side tracer_;
    Side local_;
    Side server_;
    std::set<std::string> protected_;
    std::vector<std::string> specials_;
    bool missing_ = false;
};

// ---------------------------------------------------------------- cases

std::vector<Op> GenerateOps(std::uint64_t seed) {
    std::mt19937_64 gen(seed ^ 0x9E3779B97F4A7C15ull);
    std::vector<Op> ops;
    const int count = 1 + static_cast<int>(gen() % 8);
    for (int i = 0; i < count; ++i) {
        Op op;
        op.phase = static_cast<int>(gen() % 5);
        if (gen() % 3 != 0) op.phase = 0;  // most changes happen before the scan
        op.side = op.phase == 0 ? 1 + static_cast<int>(gen() % 2) : (op.phase % 2 == 1 ? 1 : 2);
        op.type = static_cast<int>(gen() % kOpTypes);
        op.a = static_cast<std::uint32_t>(gen());
        op.b = static_cast<std::uint32_t>(gen());
        ops.push_back(op);
    }
    return ops;
}

Outcome RunCase(std::uint64_t seed, const std::vector<Op>& ops, bool trace = false) {
    Model model(seed, ops, trace);
    return model.Run();
}

// Drops operations one at a time while the case still fails.
std::vector<Op> Shrink(std::uint64_t seed, std::vector<Op> ops) {
    for (bool smaller = true; smaller;) {
        smaller = false;
        for (std::size_t i = 0; i < ops.size(); ++i) {
            std::vector<Op> fewer = ops;
            fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(i));
            if (!RunCase(seed, fewer).failure.empty()) {
                ops = std::move(fewer);
                smaller = true;
                break;
            }
        }
    }
    return ops;
}

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    return std::strtoull(text, nullptr, 10);
}

struct Failed {
    std::uint64_t seed = 0;
    std::string failure;
};

// Runs the cases of the seeds first .. first + cases - 1 on `jobs` threads, which take the
// seeds in small blocks; the failing seeds come back in seed order. A long run reports
// its progress at every tenth.
std::vector<Failed> RunSeeds(std::uint64_t first, std::uint64_t cases, unsigned jobs, int& maxCycles) {
    constexpr std::uint64_t kBlock = 64;
    const std::uint64_t tenth = cases >= 1000000 ? cases / 10 : 0;
    std::atomic<std::uint64_t> next{0};
    std::mutex lock;
    std::vector<Failed> failed;
    std::uint64_t done = 0;
    const auto work = [&] {
        for (;;) {
            const std::uint64_t begin = next.fetch_add(kBlock);
            if (begin >= cases) return;
            const std::uint64_t end = std::min(cases, begin + kBlock);
            std::vector<Failed> mine;
            int cycles = 0;
            for (std::uint64_t seed = first + begin; seed < first + end; ++seed) {
                const Outcome outcome = RunCase(seed, GenerateOps(seed));
                cycles = std::max(cycles, outcome.cycles);
                if (!outcome.failure.empty()) mine.push_back(Failed{seed, outcome.failure});
            }
            const std::lock_guard<std::mutex> hold(lock);
            failed.insert(failed.end(), mine.begin(), mine.end());
            maxCycles = std::max(maxCycles, cycles);
            const std::uint64_t before = done;
            done += end - begin;
            if (tenth != 0 && before / tenth != done / tenth) {
                std::cerr << "model: " << done << " of " << cases << " cases, " << failed.size() << " failed\n";
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned j = 1; j < jobs; ++j) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
    std::sort(failed.begin(), failed.end(), [](const Failed& a, const Failed& b) { return a.seed < b.seed; });
    return failed;
}

TEST(ReconcileModel, RandomCasesSettleEqualAndLoseNothing) {
    // A seed alone runs that one case; with a number of cases as well, the cases from it.
    // DRAVIK_MODEL_JOBS threads share the cases.
    const bool single = std::getenv("DRAVIK_MODEL_SEED") != nullptr && std::getenv("DRAVIK_MODEL_CASES") == nullptr;
    const std::uint64_t first = EnvNumber("DRAVIK_MODEL_SEED", 1);
    const std::uint64_t cases = single ? 1 : EnvNumber("DRAVIK_MODEL_CASES", 3000);
    const unsigned jobs = static_cast<unsigned>(std::clamp<std::uint64_t>(EnvNumber("DRAVIK_MODEL_JOBS", 1), 1, 256));
    int maxCycles = 0;
    const std::vector<Failed> failed = RunSeeds(first, cases, jobs, maxCycles);

    // The first failures are shrunk (on the same threads) and shown with their smallest
    // list of changes; any further ones are listed by seed.
    constexpr std::size_t kShrunk = 20;
    const std::size_t shrunk = std::min(failed.size(), kShrunk);
    std::vector<std::string> texts(shrunk);
    std::atomic<std::size_t> nextFailure{0};
    const auto shrink = [&] {
        for (std::size_t i = nextFailure++; i < shrunk; i = nextFailure++) {
            const std::uint64_t seed = failed[i].seed;
            const std::vector<Op> minimal = Shrink(seed, GenerateOps(seed));
            std::ostringstream text;
            text << "seed " << seed << " failed (re-run alone with DRAVIK_MODEL_SEED=" << seed
                 << "): " << failed[i].failure << "\n  smallest failing list of changes:";
            for (const Op& op : minimal) text << "\n    " << Describe(op);
            // Alone, the smallest case is traced cycle by cycle.
            text << "\n  which fails with: " << RunCase(seed, minimal, single).failure;
            texts[i] = text.str();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned j = 1; j < std::min<std::size_t>(jobs, shrunk); ++j) threads.emplace_back(shrink);
    shrink();
    for (std::thread& t : threads) t.join();
    for (const std::string& text : texts) ADD_FAILURE() << text;
    for (std::size_t i = shrunk; i < failed.size(); ++i) {
        ADD_FAILURE() << "seed " << failed[i].seed << " failed (not shrunk): " << failed[i].failure;
    }
    std::cout << "model cases: " << cases << " from seed " << first << ", failed: " << failed.size()
              << ", most cycles: " << maxCycles << '\n';
    EXPECT_EQ(failed.size(), 0u);
}

}  // namespace
}  // namespace enginetest
