// The echo filter (ValidityCheck) and the conflict test (ConflictCheck) of local changes.
#include "sync/app/LocalChangeFilter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace localchange;

namespace {

LocalChangeRecord Change(std::uint32_t kind, const std::string& path, const std::string& newPath = {}) {
    LocalChangeRecord r;
    r.kind = kind;
    r.path = path;
    r.newPath = newPath;
    return r;
}

// Operation records hold canonical paths, as the commit threads write them.
SyncOperation Op(std::uint32_t kind, std::uint32_t state, std::uint32_t code, const std::string& p1,
                 const std::string& p2 = {}, std::uint64_t endMs = 0) {
    SyncOperation op;
    op.kind = kind;
    op.state = state;
    op.opCode = code;
    op.path1 = SyncOperation::CanonicalPath(p1);
    op.path2 = SyncOperation::CanonicalPath(p2);
    op.endMs = endMs;
    return op;
}

constexpr std::uint32_t kFile = 1;
constexpr std::uint32_t kFolder = 0;
constexpr std::uint64_t kNow = 100000;

}  // namespace

TEST(ChangeKeys, CanonicalKeysCompareAtWholeComponents) {
    EXPECT_EQ(Key("\\Docs\\A.TXT"), "/docs/a.txt");
    EXPECT_EQ(Key("/docs//a.txt/"), "/docs/a.txt");
    EXPECT_TRUE(AtOrBelow("/a/b", "/a"));
    EXPECT_TRUE(AtOrBelow("/a", "/a"));
    EXPECT_FALSE(AtOrBelow("/ab", "/a"));
    EXPECT_FALSE(AtOrBelow("/a b/c", "/a"));
    EXPECT_FALSE(AtOrBelow("/a", ""));
    EXPECT_EQ(ParentKey("/a/b/c"), "/a/b");
    EXPECT_EQ(ParentKey("/a"), "");
}

TEST(EchoFilter, DropsOnlyTheProgramsOwnOperations) {
    struct Case {
        const char* what;
        LocalChangeRecord change;
        SyncOperation op;
        bool keep;
    };
    const Case cases[] = {
        {"no operation", Change(kLocalModified, "\\a.txt"), SyncOperation{}, true},
        // A download writes nothing until its final rename: the user's edit meanwhile stays.
        {"edit during a download", Change(kLocalModified, "\\a.txt"), Op(kFile, 0, 2, "\\a.txt"), true},
        {"download put in place", Change(kLocalModified, "\\a.txt"), Op(kFile, 1, 2, "\\a.txt"), false},
        {"download renamed into place", Change(kLocalRenamed, "\\.dravik-1.tmp", "\\A.txt"),
         Op(kFile, 1, 1, "\\a.txt"), false},
        {"new download seen as added", Change(kLocalAdded, "\\New.txt"), Op(kFile, 1, 1, "\\new.txt"), false},
        {"finished 400 ms ago", Change(kLocalModified, "\\a.txt"), Op(kFile, 2, 2, "\\a.txt", {}, kNow - 400), false},
        {"finished 600 ms ago", Change(kLocalModified, "\\a.txt"), Op(kFile, 2, 2, "\\a.txt", {}, kNow - 600), true},
        // Another file is the user's, whatever the program writes.
        {"other file while downloading", Change(kLocalModified, "\\b.txt"), Op(kFile, 1, 1, "\\a.txt"), true},
        {"other file added", Change(kLocalAdded, "\\b.txt"), Op(kFile, 1, 1, "\\a.txt"), true},
        // The parent folder whose entries the operation changed, exactly.
        {"parent folder", Change(kLocalModified, "\\Docs"), Op(kFile, 1, 1, "\\docs\\a.txt"), false},
        {"grandparent folder", Change(kLocalModified, "\\docs"), Op(kFile, 1, 1, "\\docs\\sub\\a.txt"), true},
        {"unrelated short folder", Change(kLocalModified, "\\abc"), Op(kFile, 1, 1, "\\xyz\\file"), true},
        {"folder with a prefix name", Change(kLocalModified, "\\do"), Op(kFile, 1, 1, "\\docs\\a.txt"), true},
        {"target's parent of a move", Change(kLocalModified, "\\dst"), Op(kFile, 1, 4, "\\src\\a", "\\dst\\a"), false},
        // Deletes.
        {"deleted file", Change(kLocalRemoved, "\\a.txt"), Op(kFile, 1, 3, "\\a.txt"), false},
        {"item below a deleted folder", Change(kLocalRemoved, "\\old\\x.txt"), Op(kFolder, 1, 3, "\\old"), false},
        {"folder with a longer name", Change(kLocalRemoved, "\\older\\x.txt"), Op(kFolder, 1, 3, "\\old"), true},
        {"below a deleted file's name", Change(kLocalRemoved, "\\a.txt\\x"), Op(kFile, 1, 3, "\\a.txt"), true},
        {"modified below a deleted folder", Change(kLocalModified, "\\old\\x"), Op(kFolder, 1, 3, "\\old"), false},
        // Moves, renames and copies.
        {"move source removed", Change(kLocalRemoved, "\\src\\a"), Op(kFile, 1, 4, "\\src\\a", "\\dst\\a"), false},
        {"move target added", Change(kLocalAdded, "\\dst\\a"), Op(kFile, 1, 4, "\\src\\a", "\\dst\\a"), false},
        {"move source added", Change(kLocalAdded, "\\src\\a"), Op(kFile, 1, 4, "\\src\\a", "\\dst\\a"), true},
        {"own rename", Change(kLocalRenamed, "\\a", "\\b"), Op(kFile, 1, 4, "\\a", "\\b"), false},
        {"own folder rename", Change(kLocalRenamed, "\\f", "\\g"), Op(kFolder, 1, 6, "\\f", "\\g"), false},
        {"rename to elsewhere", Change(kLocalRenamed, "\\a", "\\c"), Op(kFile, 1, 4, "\\a", "\\b"), true},
        {"copied file", Change(kLocalAdded, "\\copy.txt"), Op(kFile, 1, 5, "\\a.txt", "\\copy.txt"), false},
        {"inside a copied folder", Change(kLocalAdded, "\\copy\\x"), Op(kFolder, 1, 5, "\\f", "\\copy"), false},
        {"copy source edited", Change(kLocalModified, "\\a.txt"), Op(kFile, 1, 5, "\\a.txt", "\\copy.txt"), true},
        {"new folder", Change(kLocalAdded, "\\New"), Op(kFolder, 1, 1, "\\new"), false},
        {"inside a new folder", Change(kLocalAdded, "\\new\\x"), Op(kFolder, 1, 1, "\\new"), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KeepChange(c.change, c.op, kNow), c.keep) << c.what;
    }
}

// Where the operation noted the file it placed, a report for that file is its echo only
// while the disk still shows the stamp the program left; the 500 ms window still bounds it.
TEST(EchoFilter, PlacedFileIsAnEchoOnlyWhileUnchanged) {
    DiskStamp placed;
    placed.device = 1;
    placed.inode = 42;
    placed.size = 5;
    placed.modifiedSeconds = 1000;
    DiskStamp written = placed;  // the user wrote it in place 100 ms later
    written.modifiedNanoseconds = 100000000;
    written.size = 9;
    DiskStamp saved = placed;  // the user's editor saved by renaming a new file over it
    saved.inode = 43;
    const auto placedOp = [&](std::uint32_t code, std::uint32_t state, const std::string& p1, const std::string& p2,
                              const std::string& at, std::uint64_t endMs = 0) {
        SyncOperation op = Op(kFile, state, code, p1, p2, endMs);
        op.placedPath = SyncOperation::CanonicalPath(at);
        op.placed = placed;
        return op;
    };
    struct Case {
        const char* what;
        LocalChangeRecord change;
        SyncOperation op;
        std::optional<DiskStamp> disk;  // the file at the report's path now
        bool keep;
    };
    const Case cases[] = {
        {"own download renamed into place", Change(kLocalRenamed, "\\.dravik-1.tmp", "\\b.txt"),
         placedOp(2, 1, "\\b.txt", {}, "\\b.txt"), placed, false},
        {"own write reported late", Change(kLocalModified, "\\b.txt"),
         placedOp(2, 2, "\\b.txt", {}, "\\b.txt", kNow - 300),
         placed, false},
        {"user write 100 ms after", Change(kLocalModified, "\\b.txt"),
         placedOp(2, 2, "\\b.txt", {}, "\\b.txt", kNow - 100),
         written, true},
        {"user save by rename into place", Change(kLocalRenamed, "\\b.txt.part", "\\B.txt"),
         placedOp(1, 2, "\\b.txt", {}, "\\b.txt", kNow - 100), saved, true},
        {"user removed and re-created it", Change(kLocalAdded, "\\b.txt"),
         placedOp(1, 2, "\\b.txt", {}, "\\b.txt", kNow - 50),
         saved, true},
        {"file gone again", Change(kLocalModified, "\\b.txt"), placedOp(2, 2, "\\b.txt", {}, "\\b.txt", kNow - 50),
         std::nullopt, true},
        {"own move target", Change(kLocalAdded, "\\dst\\a"),
         placedOp(4, 2, "\\src\\a", "\\dst\\a", "\\dst\\a", kNow - 10),
         placed, false},
        {"edited after the own move", Change(kLocalModified, "\\dst\\a"),
         placedOp(4, 2, "\\src\\a", "\\dst\\a", "\\dst\\a", kNow - 10), written, true},
        // Reports the stamp does not speak for are judged as before.
        {"parent folder of the placed file", Change(kLocalModified, "\\d"),
         placedOp(1, 2, "\\d\\b.txt", {}, "\\d\\b.txt", kNow - 10),
         std::nullopt, false},
        {"own move source removed", Change(kLocalRemoved, "\\src\\a"),
         placedOp(4, 2, "\\src\\a", "\\dst\\a", "\\dst\\a", kNow - 10), std::nullopt, false},
        {"user write 600 ms after", Change(kLocalModified, "\\b.txt"),
         placedOp(2, 2, "\\b.txt", {}, "\\b.txt", kNow - 600),
         placed, true},
    };
    for (const Case& c : cases) {
        const StampReader read = [&](const std::string&, DiskStamp& out) {
            if (!c.disk) return false;
            out = *c.disk;
            return true;
        };
        EXPECT_EQ(KeepChange(c.change, c.op, kNow, read), c.keep) << c.what;
    }
    // Without a way to look at the disk, a report for the placed file is kept.
    EXPECT_TRUE(KeepChange(Change(kLocalModified, "\\b.txt"), placedOp(2, 1, "\\b.txt", {}, "\\b.txt"), kNow));
}

TEST(ConflictTest, ChangesThatMeetARecordedOperation) {
    struct Case {
        const char* what;
        LocalChangeRecord change;
        SyncOperation home;
        SyncOperation away;
        Conflict expected;
    };
    const Case cases[] = {
        {"home download recorded", Change(kLocalModified, "\\A.txt"), Op(kFile, 0, 1, "\\a.txt"), {}, {true, false}},
        {"home download already sent", Change(kLocalModified, "\\a.txt"), Op(kFile, 1, 1, "\\a.txt"), {}, {false, false}},
        {"home, another path", Change(kLocalModified, "\\b.txt"), Op(kFile, 0, 1, "\\a.txt"), {}, {false, false}},
        {"folder of a recorded upload removed", Change(kLocalRemoved, "\\a"), {}, Op(kFile, 0, 1, "\\a\\b.txt"),
         {false, true}},
        {"folder with a prefix name removed", Change(kLocalRemoved, "\\a b"), {}, Op(kFile, 0, 1, "\\a\\b.txt"),
         {false, false}},
        {"upload sent already", Change(kLocalRemoved, "\\a"), {}, Op(kFile, 1, 1, "\\a\\b.txt"), {false, false}},
        {"added below a folder being deleted", Change(kLocalAdded, "\\d\\x"), {}, Op(kFolder, 0, 3, "\\d"),
         {false, true}},
        {"added beside a new upload", Change(kLocalAdded, "\\a\\c.txt"), {}, Op(kFile, 0, 1, "\\a\\b.txt"),
         {false, false}},
        {"file of an update edited again", Change(kLocalModified, "\\a.txt"), {}, Op(kFile, 0, 2, "\\a.txt"),
         {false, true}},
        {"move target's folder edited", Change(kLocalModified, "\\dst"), {}, Op(kFile, 0, 4, "\\src\\a", "\\dst\\a"),
         {false, true}},
        {"rename onto a file being deleted", Change(kLocalRenamed, "\\x", "\\a.txt"), {}, Op(kFile, 0, 3, "\\a.txt"),
         {false, true}},
        {"case-only rename", Change(kLocalRenamed, "\\a\\B", "\\a\\b"), {}, Op(kFile, 0, 1, "\\a\\b"), {false, false}},
        {"rename of the uploading folder", Change(kLocalRenamed, "\\a", "\\z"), {}, Op(kFile, 0, 1, "\\a\\b"),
         {false, true}},
        {"rename into a copy source", Change(kLocalRenamed, "\\q", "\\src\\q"), {}, Op(kFolder, 0, 5, "\\src", "\\dst"),
         {false, true}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindConflict(c.change, c.home, c.away), c.expected) << c.what;
    }
}
