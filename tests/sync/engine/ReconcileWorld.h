#pragma once
// A small in-process world for reconciliation scenarios: the five trees, the fake disk
// (FakeDisk.h), a fake clock, and a compact notation for trees and plans.
//
// Trees are written as space-separated items: "d/" a folder, "d/x.txt=ABC" a file whose
// checksum is "ABC" (size 3), "x.txt=?" a file not digested yet (empty checksum). Parent
// folders are created on the way; "x.txt=ABC#r1" also gives the item the node reference
// "r1". Checksums are compared ignoring case, so contents in
// tests use upper-case letters.
//
// A plan is the unified tree in pre-order, one "path:aXtY" per record (folders end in
// '/'), with " move" or " copy" for a matched duty.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FakeDisk.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/TreeNode.h"
#include "sync/engine/EngineContext.h"
#include "sync/engine/EngineFs.h"
#include "sync/engine/Reconcile.h"

namespace enginetest {

// The conflict backup suffix produced with the world's fixed clock and tag.
#define BAK ".冲突备份.20240102-030405.00AB.bak"

class FakeClock : public EngineClock {
public:
    std::uint64_t now = 1000000;
    std::vector<std::uint32_t> sleeps;
    std::uint64_t Milliseconds() override { return now; }
    void Sleep(std::uint32_t ms) override {
        sleeps.push_back(ms);
        now += ms;
    }
    plat::SystemTime LocalTime() override {
        plat::SystemTime t;
        t.year = 2024;
        t.month = 1;
        t.day = 2;
        t.hour = 3;
        t.minute = 4;
        t.second = 5;
        return t;
    }
};

// Builds a tree from the notation above below `root`; record paths are '/'-separated
// and begin with '/'.
void AddItems(FileNode& root, const std::string& spec);
std::string DumpTree(const FileNode& root);  // "path=checksum" / "path/" in pre-order
std::string DumpPlan(const TaskNode& root);

// "\\a\\b.txt" from "a/b.txt".
std::string LocalPath(const std::string& slashPath);
LocalChangeRecord Change(std::uint32_t kind, const std::string& path, std::uint64_t time = 0,
                         const std::string& newPath = std::string());

class World {
public:
    World(const std::string& tracer, const std::string& local, const std::string& server);
    ~World();

    // The full build of a cycle (difference trees, tasks, conflict renames).
    bool Build();
    std::string Plan() const { return DumpPlan(uniform); }

    // Local side.
    void Write(const std::string& path, const std::string& content);  // on disk only
    void Delete(const std::string& path);
    // A link or special file at `path`, which the scan records as unknown.
    void Unreadable(const std::string& path);
    void Apply(std::vector<LocalChangeRecord> changes, bool sort = false);
    // The hash step: digests from the disk for every Driver file without a checksum,
    // then the re-judging of pending records and the conflict renames.
    void Hash();

    // Server side: a newer listing merged into the built cycle.
    void ServerListing(const std::string& spec);

    void Match();

    TaskNode* Node(const std::string& slashPath);
    SyncTaskInfo& Record(const std::string& slashPath) { return *Node(slashPath)->data; }
    // Every partner link points at a node that is really in its tree.
    bool LinksValid() const;

    FakeFs fs;
    FakeClock clock;
    SyncOperationSlot announce;
    LocalUnknownSet unknown;
    FileNode driver{SyncFileInfo("Driver")};
    FileNode server{SyncFileInfo("Server")};
    FileNode tracer{SyncFileInfo("Tracer")};
    FileNode waiter{SyncFileInfo("Waiter")};
    TaskNode uniform{SyncTaskInfo::CreateUniformRoot()};
    Reconciler rc{fs, clock};
    std::uint32_t conflictsSeen = 0;
};

}  // namespace enginetest
