// Local edits the sync program must never lose, end to end against the test server: an
// edit made right after the program wrote the same file, new items in a folder renamed
// just after, and names the records cannot carry. Every case ends with the local folder
// equal to the server's tree.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "OrvaneWorld.h"
#include "support/sandbox.h"
#include "support/wait.h"

using namespace orvanetest;
namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

std::string Describe(OrvaneWorld& world) {
    return testsupport::DescribeDifference(world.Local().Image(), world.Remote().Image());
}

// A gap between two steps of the user (the timing a case reproduces), not a wait.
void Gap(milliseconds gap) { std::this_thread::sleep_for(gap); }

// Both sides hold `path` and every other item only as a conflict backup beside it, with
// the contents `versions` between them: nothing of either version was lost.
bool BothVersionsKept(OrvaneWorld& world, const std::string& path, const std::set<std::string>& versions) {
    const TreeImage local = world.Local().Image();
    if (local != world.Remote().Image() || local.count(path) == 0) return false;
    std::set<std::string> seen;
    for (const auto& [item, value] : local) {
        if (value == "folder") continue;
        if (item != path && item.find("冲突备份") == std::string::npos) return false;
        seen.insert(value);
    }
    return seen == versions;
}

// The local image without the items whose names hold '\\' (they take no part).
TreeImage SyncableImage(const TreeImage& image) {
    TreeImage out;
    for (const auto& [path, value] : image) {
        if (path.find('\\') == std::string::npos) out.emplace(path, value);
    }
    return out;
}

bool AnyUploadCarries(OrvaneWorld& world, const std::string& content) {
    for (const testserver::LoggedRequest& request : world.Server().Requests("upload")) {
        for (const testserver::LoggedPart& part : request.parts) {
            if (part.name == "Filedata" && part.content == content) return true;
        }
    }
    return false;
}

// Waits until the program is idle after a successful commit run and the server holds the
// local tree (less the items whose names hold '\\').
bool WaitInStep(OrvaneWorld& world) {
    return world.WaitCycleEnd(
        [&] {
            COrvaneDlg* window = world.Window();
            return window != nullptr && window->CommitState() == 2 &&
                   SyncableImage(world.Local().Image()) == world.Remote().Image();
        },
        seconds(60));
}

// Waits until the server was listed `count` more times and both sides are in step.
bool InSyncAfterInventories(OrvaneWorld& world, std::size_t count) {
    const std::size_t listed = world.Server().Requests("allChildNodes").size();
    return testsupport::WaitUntil(
               [&] { return world.Server().Requests("allChildNodes").size() >= listed + count; }, seconds(60)) &&
           WaitInStep(world);
}

}  // namespace

// The echo filter, end to end: the program's own download is not taken for a local edit,
// and the user's edit of that file is kept however soon after the download it comes.
TEST(OrvaneLocalEdits, EditsRightAfterTheProgramWroteTheFileAreKept) {
    enum class Step { None, WriteAfter, SaveByRenameAfter };
    struct Case {
        const char* what;
        Step step;
        const char* expected;  // the file's content on both sides in the end
    };
    const Case cases[] = {
        {"own write", Step::None, "server v2"},
        {"user write 100 ms after", Step::WriteAfter, "user v3"},
        {"user save by rename into place 100 ms after", Step::SaveByRenameAfter, "user v3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OrvaneWorld world({{"/b.txt", "server v1"}}, {});
        ASSERT_TRUE(world.Start());
        ASSERT_TRUE(world.WaitInSync()) << Describe(world);
        world.Server().ClearRequests();

        world.Remote().Write("/b.txt", "server v2");
        ASSERT_TRUE(world.WaitCycleEnd([&] { return world.Local().Image()["/b.txt"] == "file:server v2"; },
                                           seconds(60)))
            << Describe(world);
        switch (c.step) {
            case Step::None:
                break;
            case Step::WriteAfter:
                Gap(milliseconds(100));
                world.Local().Write("/b.txt", "user v3");
                break;
            case Step::SaveByRenameAfter:
                Gap(milliseconds(100));
                world.Local().Write("/b.txt.new", "user v3");
                world.Local().Rename("/b.txt.new", "/b.txt");
                break;
        }
        const TreeImage expected = {{"/b.txt", std::string("file:") + c.expected}};
        ASSERT_TRUE(world.WaitBothEqual(expected)) << Describe(world);
        // Still so after further inventories: nothing undone, nothing sent back and forth.
        ASSERT_TRUE(InSyncAfterInventories(world, 2)) << Describe(world);
        EXPECT_EQ(world.Local().Image(), expected);
        if (c.step == Step::None) EXPECT_TRUE(world.Server().Requests("upload").empty());
        EXPECT_EQ(world.Exit(), 0);
    }
}

// A user's edit while the program downloads a newer server version of the same file: the
// download does not overwrite it; both versions are kept.
TEST(OrvaneLocalEdits, EditDuringADownloadKeepsBothVersions) {
    OrvaneWorld world({{"/b.txt", "server v1"}}, {});
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);

    testserver::Fault hold;
    hold.route = "content";
    hold.kind = testserver::FaultKind::Delay;
    hold.delay = seconds(60);
    world.Server().InjectFault(hold);
    world.Remote().Write("/b.txt", "server v2");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Server().InFlight("content") == 1; }, seconds(60)));
    world.Local().Write("/b.txt", "user v2");
    world.Server().ReleaseDelays();

    ASSERT_TRUE(world.WaitCycleEnd(
        [&] { return BothVersionsKept(world, "/b.txt", {"file:server v2", "file:user v2"}); }, seconds(60)))
        << Describe(world);
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    EXPECT_EQ(world.Exit(), 0);
}

// mkdir A/new; echo x > A/new/f.txt; mv A B, quickly or slowly: the new items reach the
// server under B with the rest of the folder.
TEST(OrvaneLocalEdits, NewItemsInAFolderRenamedJustAfterReachTheServer) {
    for (const milliseconds gap : {milliseconds(50), milliseconds(600)}) {
        SCOPED_TRACE("steps " + std::to_string(gap.count()) + " ms apart");
        OrvaneWorld world({{"/A/k.txt", "k"}}, {});
        ASSERT_TRUE(world.Start());
        ASSERT_TRUE(world.WaitInSync()) << Describe(world);

        world.Local().Mkdir("/A/new");
        Gap(gap);
        world.Local().Write("/A/new/f.txt", "x");
        Gap(gap);
        world.Local().Rename("/A", "/B");

        const TreeImage expected = {
            {"/B", "folder"}, {"/B/k.txt", "file:k"}, {"/B/new", "folder"}, {"/B/new/f.txt", "file:x"}};
        ASSERT_TRUE(world.WaitBothEqual(expected)) << Describe(world);
        ASSERT_TRUE(InSyncAfterInventories(world, 2)) << Describe(world);
        EXPECT_EQ(world.Remote().Image(), expected);
        EXPECT_EQ(world.Exit(), 0);
    }
}

// "sub\inner.txt" is a legal name here, but not a path: it is never uploaded, never taken
// for "sub/inner.txt" (whose changes go both ways as usual), and its removal deletes
// nothing on the server. Whether the scan meets it at start or the watcher reports it.
TEST(OrvaneLocalEdits, NameHoldingABackslashNeverMapsOntoAnotherItem) {
    for (const bool atStart : {true, false}) {
        SCOPED_TRACE(atStart ? "there at start" : "made while running");
        std::map<std::string, std::string> localSeed = {{"/sub/inner.txt", "real"}};
        if (atStart) localSeed["/sub\\inner.txt"] = "odd";
        OrvaneWorld world({{"/sub/inner.txt", "real"}}, localSeed);
        ASSERT_TRUE(world.Start());
        ASSERT_TRUE(WaitInStep(world)) << Describe(world);
        if (!atStart) world.Local().Write("/sub\\inner.txt", "odd");
        const auto expect = [&](const TreeImage& expected) {
            return world.WaitCycleEnd(
                       [&] {
                           return world.Remote().Image() == expected &&
                                  SyncableImage(world.Local().Image()) == expected;
                       },
                       seconds(60)) &&
                   InSyncAfterInventories(world, 2) && world.Remote().Image() == expected &&
                   world.Local().Image()["/sub\\inner.txt"] == "file:odd";
        };

        // The real file's changes go both ways.
        world.Local().Write("/sub/inner.txt", "real, edited");
        ASSERT_TRUE(expect({{"/sub", "folder"}, {"/sub/inner.txt", "file:real, edited"}})) << Describe(world);
        world.Remote().Write("/sub/inner.txt", "real, edited on the server");
        ASSERT_TRUE(expect({{"/sub", "folder"}, {"/sub/inner.txt", "file:real, edited on the server"}}))
            << Describe(world);

        // Renamed to a name that can be synchronised, it is a new item there; the real
        // file stays where it is.
        world.Local().Rename("/sub\\inner.txt", "/x.txt");
        ASSERT_TRUE(world.WaitCycleEnd([&] { return world.Remote().Image()["/x.txt"] == "file:odd"; },
                                           seconds(60)))
            << Describe(world);
        ASSERT_TRUE(InSyncAfterInventories(world, 2)) << Describe(world);
        EXPECT_EQ(world.Remote().Image()["/sub/inner.txt"], "file:real, edited on the server");
        world.Local().Remove("/x.txt");
        world.Local().Write("/sub\\inner.txt", "odd");
        const TreeImage real = {{"/sub", "folder"}, {"/sub/inner.txt", "file:real, edited on the server"}};
        ASSERT_TRUE(expect(real)) << Describe(world);

        // The odd file's removal is not the real file's; the real file's removal is, also
        // when it happened while the program was not running.
        world.Server().ClearRequests();
        world.Local().Remove("/sub\\inner.txt");
        ASSERT_TRUE(InSyncAfterInventories(world, 2)) << Describe(world);
        EXPECT_TRUE(world.Server().Requests("delete").empty());
        EXPECT_EQ(world.Remote().Image(), real);
        world.Local().Write("/sub\\inner.txt", "odd");
        EXPECT_EQ(world.Exit(), 0);
        world.Local().Remove("/sub/inner.txt");
        ASSERT_TRUE(world.Start());
        ASSERT_TRUE(expect({{"/sub", "folder"}})) << Describe(world);
        EXPECT_FALSE(AnyUploadCarries(world, "odd"));
        EXPECT_EQ(world.Exit(), 0);
    }
}
