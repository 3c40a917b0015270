// The sync program end to end: the in-process test server, a fake client on the pipes,
// the program in a sandbox of its own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "OrvaneWorld.h"
#include "SyncQueryTool.h"
#include "platform/text.h"
#include "support/sandbox.h"
#include "support/wait.h"
#include "shm/SharedMemory.h"
#include "shm/SyncValues.h"
#include "sync/app/SyncGlobals.h"
#include "sync/app/UserRoutine.h"
#include "sync/engine/SyncMessages.h"

using namespace orvanetest;
namespace fs = std::filesystem;
using std::chrono::seconds;

namespace {

std::string Describe(OrvaneWorld& world) {
    std::string text = testsupport::DescribeDifference(world.Local().Image(), world.Remote().Image());
    text += "local:\n";
    for (const auto& [path, value] : world.Local().Image()) text += "  " + path + " = " + value + "\n";
    return text;
}

}  // namespace

TEST(OrvaneSync, FirstSyncThenChangesBothWays) {
    OrvaneWorld world({{"/s1.txt", "server one"}, {"/sd/s2.txt", "server two"}, {"/shared/", ""}},
                      {{"/l1.txt", "local one"}, {"/ld/l2.txt", "local two"}});
    ASSERT_TRUE(world.Start());

    // The first sync of two disjoint trees: each side gets the other's items.
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    const TreeImage first = world.Local().Image();
    EXPECT_EQ(first.at("/s1.txt"), "file:server one");
    EXPECT_EQ(first.at("/sd/s2.txt"), "file:server two");
    EXPECT_EQ(first.at("/l1.txt"), "file:local one");
    EXPECT_EQ(first.at("/ld/l2.txt"), "file:local two");
    EXPECT_EQ(first.at("/shared"), "folder");
    EXPECT_TRUE(fs::exists(world.TracerFile()));

    // A local edit is uploaded.
    world.Local().Write("/l1.txt", "local one, edited");
    ASSERT_TRUE(world.WaitCycleEnd(
        [&] {
            const auto item = world.Server().Find(kAccount, "/l1.txt", true);
            return item && item->content == "local one, edited";
        },
        seconds(60)))
        << Describe(world);

    // A server edit is downloaded at the next inventory.
    world.Remote().Write("/s1.txt", "server one, edited");
    ASSERT_TRUE(world.WaitCycleEnd([&] { return world.Local().Image()["/s1.txt"] == "file:server one, edited"; },
                                       seconds(60)))
        << Describe(world);

    // Deletes both ways.
    world.Local().Remove("/ld");
    world.Remote().Remove("/sd/s2.txt");
    ASSERT_TRUE(world.WaitCycleEnd(
        [&] {
            const TreeImage local = world.Local().Image();
            return !world.Server().Find(kAccount, "/ld") && local.count("/sd/s2.txt") == 0 &&
                   local.count("/sd") == 1;
        },
        seconds(60)))
        << Describe(world);

    // A local rename becomes a move on the server: the item keeps its identity.
    const std::string ref = world.Server().Find(kAccount, "/l1.txt")->ref;
    world.Local().Rename("/l1.txt", "/renamed.txt");
    ASSERT_TRUE(world.WaitCycleEnd(
        [&] {
            const auto moved = world.Server().Find(kAccount, "/renamed.txt");
            return moved && !world.Server().Find(kAccount, "/l1.txt");
        },
        seconds(60)))
        << Describe(world);
    EXPECT_EQ(world.Server().Find(kAccount, "/renamed.txt")->ref, ref);
    // Into another folder under its name: a move.
    world.Local().Rename("/renamed.txt", "/shared/renamed.txt");
    ASSERT_TRUE(world.WaitCycleEnd(
        [&] {
            const auto moved = world.Server().Find(kAccount, "/shared/renamed.txt");
            return moved && !world.Server().Find(kAccount, "/renamed.txt");
        },
        seconds(60)))
        << Describe(world);
    EXPECT_EQ(world.Server().Find(kAccount, "/shared/renamed.txt")->ref, ref);
    EXPECT_FALSE(world.Server().Requests("move").empty());
    EXPECT_FALSE(world.Server().Requests("change").empty());

    // A rename and a new folder on the server reach the sync folder.
    world.Remote().Rename("/s1.txt", "/sd/s1 moved.txt");
    world.Remote().Mkdir("/made/on server");
    ASSERT_TRUE(world.WaitCycleEnd(
        [&] {
            const TreeImage local = world.Local().Image();
            return local.count("/s1.txt") == 0 && local.count("/sd/s1 moved.txt") == 1 &&
                   local.at("/sd/s1 moved.txt") == "file:server one, edited" &&
                   local.count("/made/on server") == 1;
        },
        seconds(60)))
        << Describe(world);

    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    EXPECT_TRUE(testsupport::SameTrees(world.Local(), world.Remote()));
    EXPECT_EQ(world.Exit(), 0);
}

TEST(OrvaneSync, NamesLegalHereSyncBothWays) {
    // Characters and device names another system reserves are plain names here.
    OrvaneWorld world({{"/s:1.txt", "server colon"}, {"/CON/x?y", "server device"}},
                      {{"/l|1<2>.txt", "local bars"}, {"/nul/a*b", "local star"}, {"/say \"hi\".txt", "local quotes"}});
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    const TreeImage local = world.Local().Image();
    EXPECT_EQ(local.at("/s:1.txt"), "file:server colon");
    EXPECT_EQ(local.at("/CON/x?y"), "file:server device");
    // The uploaded name stays as it was: no local file is renamed after its upload.
    EXPECT_EQ(local.at("/say \"hi\".txt"), "file:local quotes");
    for (const auto& [path, content] : {std::pair<std::string, std::string>{"/l|1<2>.txt", "local bars"},
                                        {"/nul/a*b", "local star"},
                                        {"/say \"hi\".txt", "local quotes"}}) {
        const auto item = world.Server().Find(kAccount, path, true);
        ASSERT_TRUE(item) << path << Describe(world);
        EXPECT_EQ(item->content, content);
    }
    EXPECT_EQ(world.Exit(), 0);
}

TEST(OrvaneSync, FlagQueryAnswersFromTheUnifiedTree) {
    OrvaneWorld world({{"/docs/a.txt", "a"}}, {});
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    const auto query = [&](const std::u16string& name, std::uintptr_t expected, std::uint32_t bytes) {
        auto request = std::make_unique<CopyDataRequest>();
        request->dwData = expected;
        request->data = name;
        request->byteCount = bytes;
        return plat::SendMessage(world.App()->MainWindowId(), orvane::kWmCopyData, 0, 0,
                                 plat::Payload(std::move(request)));
    };
    EXPECT_EQ(query(u"\\docs\\a.txt", 1, 22), 1);
    EXPECT_EQ(query(u"\\docs\\a.txt", 0, 22), 0);
    EXPECT_EQ(query(u"\\docs", 1, 10), 1);
    EXPECT_EQ(query(u"\\docs\\missing.txt", 1, 34), 0);
    // The length comes from the message: only "\docs" counts of this text.
    EXPECT_EQ(query(u"\\docs\\a.txt", 1, 10), 1);
    // A length beyond the text is cut to the text.
    EXPECT_EQ(query(u"\\docs\\a.txt", 1, 4000), 1);

    // The published values: the folder's UTF-16 characters without a terminator, and the
    // program's process id.
    CSharedMemory table(plat::ToUtf16(world.TableName()));
    ASSERT_TRUE(table.Ready());
    unsigned char* data = nullptr;
    unsigned char* record = nullptr;
    ASSERT_EQ(table.FindValue(u"DravikCloudDiskPath", &data, &record), 1);
    const std::u16string folder = plat::ToUtf16(world.SyncFolder().string());
    std::uint32_t size = 0;
    std::memcpy(&size, record + CSharedMemory::kNameBytes, 4);
    ASSERT_EQ(size, folder.size() * 2);
    for (std::size_t i = 0; i < folder.size(); ++i) {
        EXPECT_EQ(data[2 * i] | (data[2 * i + 1] << 8), folder[i]) << i;
    }
    ASSERT_EQ(table.FindValue(u"DravikSyncWinHandle", &data, &record), 1);
    EXPECT_EQ(static_cast<pid_t>(data[0] | (data[1] << 8) | (data[2] << 16) | (data[3] << 24)), ::getpid());

    // Another program asks through the query socket those values lead to.
    const auto ask = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--table", world.TableName()});
        return RunSyncQuery(args);
    };
    EXPECT_EQ(ask({"docs/a.txt"}), 0);
    EXPECT_EQ(ask({"--flag", "0", "docs/a.txt"}), 1);
    EXPECT_EQ(ask({(world.SyncFolder() / "docs").string()}), 0);
    EXPECT_EQ(ask({"docs/missing.txt"}), 1);
    const std::string socket = SyncQuerySocketPath(static_cast<std::uint32_t>(::getpid()));
    EXPECT_TRUE(fs::exists(socket));

    EXPECT_EQ(world.Exit(), 0);
    // Withdrawn at exit, and the socket is gone.
    EXPECT_EQ(table.FindValue(u"DravikCloudDiskPath", &data, &record), 0);
    EXPECT_EQ(table.FindValue(u"DravikSyncWinHandle", &data, &record), 0);
    EXPECT_FALSE(fs::exists(socket));
    EXPECT_EQ(ask({"docs/a.txt"}), 2);
}

TEST(OrvaneSync, PauseResumeAndEditsOnBothSides) {
    OrvaneWorld world({{"/doc.txt", "v0"}}, {});
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);

    // Paused by the client: the program holds, and writes nothing back.
    ASSERT_TRUE(world.SendByte(5));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.App()->SuspendEvent().IsSet(); }));
    EXPECT_EQ(world.Window()->paused.load(), 1u);
    EXPECT_EQ(world.Tray().Snapshot().icon, 251);
    ASSERT_TRUE(world.SendByte(5));  // twice: still paused

    // Both sides change the same file meanwhile.
    world.Local().Write("/doc.txt", "local v1");
    world.Remote().Write("/doc.txt", "server v1");

    ASSERT_TRUE(world.SendByte(6));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Window()->paused.load() == 0; }));
    EXPECT_FALSE(world.App()->SuspendEvent().IsSet());
    EXPECT_TRUE(world.App()->ResumeEvent().IsSet());

    // Both versions are kept: one under the name, the other as a backup copy beside it.
    ASSERT_TRUE(world.WaitCycleEnd(
        [&] {
            const TreeImage local = world.Local().Image();
            if (local != world.Remote().Image() || local.size() != 2 || local.count("/doc.txt") == 0) return false;
            std::set<std::string> versions;
            for (const auto& [path, value] : local) {
                if (path != "/doc.txt" && path.find("冲突备份") == std::string::npos) return false;
                versions.insert(value);
            }
            return versions == std::set<std::string>{"file:local v1", "file:server v1"};
        },
        seconds(60)))
        << Describe(world);
    EXPECT_TRUE(world.Replies().empty());

    // Paused and resumed from the program's own menu: the client hears of it.
    ASSERT_TRUE(world.PostCommand(orvane::kCmdSyncControl));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Replies() == "\x05"; }));
    EXPECT_EQ(world.Window()->paused.load(), 1u);
    ASSERT_TRUE(world.PostCommand(orvane::kCmdSyncControl));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Replies() == "\x05\x06"; }));
    EXPECT_EQ(world.Window()->paused.load(), 0u);
    EXPECT_EQ(world.Exit(), 0);
}

TEST(OrvaneSync, NetworkDownAndUp) {
    OrvaneWorld world({{"/a.txt", "a"}}, {});
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);

    world.SetNetwork(false);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Tray().Snapshot().tooltipKey == "Nuvet云盘 离线状态"; }));
    EXPECT_EQ(world.Tray().Snapshot().icon, 268);
    world.Local().Write("/offline.txt", "made offline");
    world.Remote().Write("/remote.txt", "made remotely");

    world.SetNetwork(true);
    ASSERT_TRUE(world.WaitBothEqual(
        {{"/a.txt", "file:a"}, {"/offline.txt", "file:made offline"}, {"/remote.txt", "file:made remotely"}}))
        << Describe(world);
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return world.Tray().Snapshot().icon == 252; }));
    EXPECT_EQ(world.Exit(), 0);
}

TEST(OrvaneSync, RestartCarriesOutDeletesMadeWhileItWasNotRunning) {
    OrvaneWorld world({{"/a.txt", "a"}, {"/b.txt", "b"}, {"/keep/k.txt", "k"}}, {});
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);

    // Exit by the client's byte 2 saves the synchronised state.
    EXPECT_EQ(world.Exit(), 0);
    ASSERT_TRUE(fs::exists(world.TracerFile()));
    const std::string tracer = testsupport::ReadFile(world.TracerFile());
    EXPECT_NE(tracer.find("a.txt"), std::string::npos);
    EXPECT_NE(tracer.find("k.txt"), std::string::npos);

    // Deletes on either side while the program is not running.
    world.Local().Remove("/a.txt");
    world.Remote().Remove("/b.txt");

    ASSERT_TRUE(world.Start());
    const TreeImage expected = {{"/keep", "folder"}, {"/keep/k.txt", "file:k"}};
    ASSERT_TRUE(world.WaitBothEqual(expected)) << Describe(world);
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    // Never undone: nothing came back after the next inventories either.
    world.Server().ClearRequests();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.Server().Requests("allChildNodes").size() >= 2; }));
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    EXPECT_EQ(world.Local().Image(), expected);
    EXPECT_EQ(world.Exit(), 0);
}

TEST(OrvaneSync, ChangeOfFolderByTheClient) {
    OrvaneWorld world({{"/s.txt", "s"}}, {{"/old.txt", "old"}});
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);

    const fs::path second = world.Box().Root() / "second cloud";
    testsupport::WriteFile(second / "new.txt", "new");
    world.Shell().QueueFolderChoice(plat::ToUtf16(second.string()));
    ASSERT_TRUE(world.SendByte(7));
    world.UseSyncFolder(second);
    // The new folder takes the server's items and gives its own; the old one is left alone.
    const TreeImage expected = {{"/s.txt", "file:s"}, {"/old.txt", "file:old"}, {"/new.txt", "file:new"}};
    ASSERT_TRUE(world.WaitBothEqual(expected)) << Describe(world);
    EXPECT_EQ(Globals().CurrentSyncFolder(), second.string());
    EXPECT_EQ(world.App()->syncFolder, plat::ToUtf16(second.string()));
    std::vector<CurrentUser> users;
    ASSERT_TRUE(UserRoutine::LoadUserInfoList((world.DataFolder() / "UserInfo.txt").string(), users));
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].Path, second.string());
    // Changes in the new folder are followed.
    world.Local().Write("/later.txt", "later");
    ASSERT_TRUE(world.WaitCycleEnd([&] { return world.Server().Find(kAccount, "/later.txt").has_value(); },
                                       seconds(60)))
        << Describe(world);
    EXPECT_EQ(world.Exit(), 0);
}

TEST(OrvaneSync, SecondInstanceIsRefused) {
    OrvaneWorld world({{"/a.txt", "a"}}, {});
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);

    auto shell = std::make_shared<HeadlessShell>();
    OrvaneOptions options;
    options.shell = shell;
    {
        COrvaneApp second(options);
        EXPECT_EQ(second.Run(), COrvaneApp::kExitRefused);
    }
    EXPECT_EQ(shell->Boxes(), (std::vector<std::string>{"提示: 云盘客户端已启动！"}));
    // The first one runs on.
    world.Local().Write("/b.txt", "b");
    ASSERT_TRUE(world.WaitCycleEnd([&] { return world.Server().Find(kAccount, "/b.txt").has_value(); },
                                       seconds(60)));
    EXPECT_EQ(world.Exit(), 0);
}

TEST(OrvaneSync, FailedLoginsAreRetriedAndARefusedListingLogsInAgain) {
    OrvaneWorld world({{"/a.txt", "a"}}, {});
    testserver::Fault refuse;
    refuse.route = "login";
    refuse.kind = testserver::FaultKind::Status;
    refuse.status = 500;
    refuse.count = 2;
    world.Server().InjectFault(refuse);
    ASSERT_TRUE(world.Start());

    // The failed attempts keep the poll going; a later one gets through.
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);
    EXPECT_GE(world.Server().Requests("login").size(), 3u);
    EXPECT_EQ(Globals().LoginError().rfind("网络", 0), 0u) << Globals().LoginError();

    // A listing refused with 401 ends the login; the next poll logs in again.
    const std::size_t logins = world.Server().Requests("login").size();
    testserver::Fault expired;
    expired.route = "allChildNodes";
    expired.kind = testserver::FaultKind::Status;
    expired.status = 401;
    expired.count = 1;
    world.Server().InjectFault(expired);
    world.Remote().Write("/after.txt", "after");
    ASSERT_TRUE(
        world.WaitCycleEnd([&] { return world.Local().Image()["/after.txt"] == "file:after"; }, seconds(60)))
        << Describe(world);
    EXPECT_GT(world.Server().Requests("login").size(), logins);
    EXPECT_EQ(world.Exit(), 0);
}

TEST(OrvaneStart, OriginateWipesTheDataFolderFirst) {
    OrvaneWorld world;
    const fs::path data = world.DataFolder();
    testsupport::WriteFile(data / "UserInfo.txt", "old accounts");
    testsupport::WriteFile(data / "demo" / "Tracer.txt", "old state");
    const fs::path profile = world.Box().ConfigHome() / "Parv" / "Orvane.ini";
    testsupport::WriteFile(profile, "Originate=1\n" + testsupport::ReadFile(profile));

    ASSERT_TRUE(world.Start(false));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return world.App()->MainWindowId() != plat::kNoWindow; }));
    EXPECT_FALSE(fs::exists(data / "UserInfo.txt"));
    EXPECT_FALSE(fs::exists(data / "demo"));
    EXPECT_TRUE(fs::exists(data / "DravikSync.Log"));  // set up after the wipe
    EXPECT_TRUE(fs::is_directory(data / "TempFile"));
    // The data folder and the log are the user's alone.
    for (const fs::path& folder : {data, data / "TempFile"}) {
        EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all) << folder;
    }
    EXPECT_EQ(fs::status(data / "DravikSync.Log").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadSyncProfile(profile.string()).originate, 0u);
    EXPECT_EQ(world.Exit(), 0);
}
