// What the sync program's main window answers and shows while it works: it keeps
// answering the client and its menu while a worker is stuck, a change of language ends
// only the details window the client opened, the folder browser is raised rather than
// opened twice, and it says "in step" only when the last cycle ended with nothing
// pending and nothing failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "OrvaneWorld.h"
#include "platform/text.h"
#include "support/wait.h"
#include "sync/app/SyncGlobals.h"
#include "sync/common/FeedLists.h"
#include "sync/engine/ThreadOfDriver.h"

using namespace orvanetest;
namespace fs = std::filesystem;
using std::chrono::seconds;

namespace {

std::string Describe(OrvaneWorld& world) {
    return testsupport::DescribeDifference(world.Local().Image(), world.Remote().Image());
}

bool FailedListHolds(const std::string& name) {
    const std::vector<SyncDoneItem> failed = CStateDoneFailedPage::Snapshot();
    return std::any_of(failed.begin(), failed.end(), [&](const SyncDoneItem& item) {
        return item.Path.find(name) != std::string::npos || item.File.find(name) != std::string::npos;
    });
}

bool TrayShowsInSync(OrvaneWorld& world) {
    const HeadlessTray::State tray = world.Tray().Snapshot();
    return tray.icon == 252 && !tray.animating;
}

}  // namespace

TEST(OrvaneWindowAnswers, AFolderChangeWaitsForAStuckWorkerWhileTheWindowAnswers) {
    OrvaneWorld world({{"/s.txt", "s"}}, {});
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    const std::string first = Globals().CurrentSyncFolder();

    // The local-scan worker never becomes idle, as one stuck in a blocking call.
    CThreadOfDriver* driver = world.App()->driverThread;
    ASSERT_NE(driver, nullptr);
    driver->doneEvent.Reset();

    const fs::path second = world.Box().Root() / "second cloud";
    testsupport::WriteFile(second / "new.txt", "new");
    world.Shell().QueueFolderChoice(plat::ToUtf16(second.string()));
    ASSERT_TRUE(world.SendByte(7));

    // Meanwhile the client's commands and the menu are answered.
    ASSERT_TRUE(world.SendByte(5));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Window()->paused.load() == 1; }));
    ASSERT_TRUE(world.PostCommand(orvane::kCmdSyncControl));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Replies() == "\x06"; }));
    EXPECT_EQ(world.Window()->paused.load(), 0u);
    EXPECT_EQ(Globals().CurrentSyncFolder(), first) << "the change waits for the worker";

    // Once the worker is idle the change is carried out.
    driver->doneEvent.Set();
    world.UseSyncFolder(second);
    ASSERT_TRUE(world.WaitBothEqual({{"/s.txt", "file:s"}, {"/new.txt", "file:new"}})) << Describe(world);
    EXPECT_EQ(Globals().CurrentSyncFolder(), second.string());
    EXPECT_EQ(world.Exit(), 0);
}

TEST(OrvaneWindowAnswers, ALanguageChangeEndsOnlyTheDetailsWindowTheClientOpened) {
    OrvaneWorld world;
    ASSERT_TRUE(world.Start(false));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Window() != nullptr; }));
    TestShell& shell = world.Shell();

    // Opened from the program's own menu: it stays.
    ASSERT_TRUE(world.PostCommand(orvane::kCmdSyncDetails));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return shell.DetailsOpen(); }));
    ASSERT_TRUE(world.SendByte(8));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Window()->Language() == 0; }));
    EXPECT_TRUE(shell.DetailsOpen());
    shell.CloseDetailsByUser();

    // Opened by the client: it ends.
    ASSERT_TRUE(world.SendByte(4));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return shell.DetailsOpen(); }));
    ASSERT_TRUE(world.SendByte(9));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Window()->Language() == 1; }));
    EXPECT_FALSE(shell.DetailsOpen());

    // A folder request while the browser is open raises it; none other opens.
    shell.SetFolderBrowserOpen(true);
    world.Shell().QueueFolderChoice(u"/not/asked");
    ASSERT_TRUE(world.SendByte(7));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return shell.FolderBrowserRaises() == 1; }));
    EXPECT_EQ(world.Exit(), 0);
}

TEST(OrvaneWindowAnswers, AFailedUploadIsNotInStepAndItsFailureStaysUntilTheNextRun) {
    OrvaneWorld world({{"/a.txt", "a"}}, {});
    world.SetServerPollMs(600000);  // only the program's own looks at the server
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return TrayShowsInSync(world); }));

    testserver::Fault refuse;
    refuse.route = "upload";
    refuse.kind = testserver::FaultKind::Status;
    refuse.status = 500;
    refuse.count = testserver::kEveryRequest;
    world.Server().InjectFault(refuse);
    world.Local().Write("/bad.txt", "never uploaded");
    ASSERT_TRUE(world.WaitCycleEnd(
        [&] { return FailedListHolds("bad.txt") && world.Window()->CommitState() != 1; }, seconds(60)));
    EXPECT_FALSE(world.Window()->InStep());
    EXPECT_FALSE(TrayShowsInSync(world));

    // The file goes again: both sides agree without a commit run, and the failure of the
    // last run stays listed.
    world.Local().Remove("/bad.txt");
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    EXPECT_TRUE(world.Window()->InStep());
    EXPECT_TRUE(FailedListHolds("bad.txt"));
    world.Server().ClearFaults();
    EXPECT_EQ(world.Exit(), 0);
}

TEST(OrvaneWindowAnswers, AResumeCommitsTheChangesOfThePauseAtOnce) {
    OrvaneWorld world({{"/a.txt", "a"}}, {});
    world.SetServerPollMs(600000);  // no server poll brings the change along
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);

    ASSERT_TRUE(world.SendByte(5));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Window()->paused.load() == 1; }));
    world.Local().Write("/paused.txt", "made during the pause");
    // The recorded change ends the in-step state, also while paused.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !world.Window()->InStep(); }));
    EXPECT_FALSE(world.Server().Find(kAccount, "/paused.txt").has_value());

    ASSERT_TRUE(world.SendByte(6));
    ASSERT_TRUE(world.WaitCycleEnd(
        [&] {
            const auto item = world.Server().Find(kAccount, "/paused.txt", true);
            return item && item->content == "made during the pause";
        },
        seconds(30)))
        << Describe(world);
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return TrayShowsInSync(world); }));
    EXPECT_EQ(world.Exit(), 0);
}
