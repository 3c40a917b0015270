// The sync program end to end against server content its cycle has not seen: another user
// (the test server's control interface) changes the server after the program's last
// inventory and before the program carries out the local side's changes. Nothing either
// side changed may be lost, and the sides end equal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "OrvaneWorld.h"
#include "support/wait.h"
#include "sync/common/BaseFunc.h"

using namespace orvanetest;
using std::chrono::seconds;

namespace {

// No inventory of the server's own during a test: only the program's look at the server
// before a commit run can see what the other user did.
constexpr std::uint32_t kNoPoll = 3600000;

std::string Describe(OrvaneWorld& world) {
    const TreeImage local = world.Local().Image();
    std::string text = testsupport::DescribeDifference(local, world.Remote().Image());
    text += "local:\n";
    for (const auto& [path, value] : local) text += "  " + path + " = " + value + "\n";
    return text;
}

bool HoldsAll(const TreeImage& image, const std::vector<std::string>& contents) {
    std::set<std::string> present;
    for (const auto& [path, value] : image) present.insert(value);
    return std::all_of(contents.begin(), contents.end(),
                       [&](const std::string& c) { return present.count("file:" + c) != 0; });
}

// Settled after a commit run: both sides equal, and both hold every one of `contents`.
bool SettledWith(OrvaneWorld& world, const std::vector<std::string>& contents) {
    COrvaneDlg* window = world.Window();
    if (window == nullptr || window->CommitState() != 2) return false;
    const TreeImage local = world.Local().Image();
    return local == world.Remote().Image() && HoldsAll(local, contents);
}

// These cases are about the server's changes, not the echo filter: a user's change is made
// only once the program's last download is well over, so it can never look like that
// download's own write (same size within one clock tick).
bool OwnWritesSettled(OrvaneWorld& world) {
    return testsupport::WaitUntil([&] {
        const SyncOperation op = world.App()->homeOperation.Snapshot();
        return op.opCode == 0 || (op.state == 2 && BaseFunc::GetMilliseconds() > op.endMs + 600);
    });
}

bool ChangesServer(const std::string& route) {
    return route == "upload" || route == "delete" || route == "move" || route == "copy" || route == "change" ||
           route == "createFolder";
}

// The request log since it was cleared: the program listed the server before its first
// request that changed something there.
::testing::AssertionResult ListedBeforeFirstChange(const testserver::TestServer& server) {
    std::vector<testserver::LoggedRequest> log = server.Requests();
    std::sort(log.begin(), log.end(), [](const auto& a, const auto& b) { return a.seq < b.seq; });
    bool listed = false;
    std::string seen;
    for (const auto& request : log) {
        seen += request.route + " ";
        if (request.route == "allChildNodes") listed = true;
        if (ChangesServer(request.route)) {
            if (listed) return ::testing::AssertionSuccess();
            return ::testing::AssertionFailure() << "changed before listing: " << seen;
        }
    }
    return ::testing::AssertionFailure() << "no change request: " << seen;
}

class OrvaneUnseenTest : public ::testing::Test {
protected:
    // Starts the program on `seed` (on both sides) with no inventory of its own and waits
    // for the first sync; the request log starts empty then.
    void StartSynced(const std::map<std::string, std::string>& seed) {
        world_ = std::make_unique<OrvaneWorld>(seed, seed);
        world_->SetServerPollMs(kNoPoll);
        ASSERT_TRUE(world_->Start());
        ASSERT_TRUE(world_->WaitInSync()) << Describe(*world_);
        ASSERT_TRUE(OwnWritesSettled(*world_));
        world_->Server().ClearRequests();
    }
    OrvaneWorld& World() { return *world_; }
    void TearDown() override {
        if (world_) {
            EXPECT_EQ(world_->Exit(), 0);
        }
    }

    std::unique_ptr<OrvaneWorld> world_;
};

}  // namespace

// A local edit of a file the other user edited too: both versions are kept on both sides.
TEST_F(OrvaneUnseenTest, AnUploadNeverReplacesAServerEditItHasNotSeen) {
    StartSynced({{"/b.txt", "base"}});
    World().Remote().Write("/b.txt", "server edit");
    World().Local().Write("/b.txt", "local edit");

    ASSERT_TRUE(World().WaitCycleEnd([&] { return SettledWith(World(), {"server edit", "local edit"}); },
                                       seconds(60)))
        << Describe(World());
    // The server's version keeps the name; the local one sits beside it as a backup copy.
    EXPECT_EQ(World().Local().Image().at("/b.txt"), "file:server edit");
    EXPECT_EQ(World().Local().Image().size(), 2u);
    EXPECT_TRUE(ListedBeforeFirstChange(World().Server()));
}

// Local deletes against server changes the cycle has not seen.
TEST_F(OrvaneUnseenTest, ALocalDeleteNeverTakesAlongServerChangesItHasNotSeen) {
    StartSynced({{"/edited.txt", "base"}, {"/F/known.txt", "known"}, {"/F/sub/deep.txt", "deep"}});
    // A server edit of a file deleted locally; a new server item in a folder deleted locally.
    World().Remote().Write("/edited.txt", "server edit");
    World().Remote().Write("/F/sub/new.txt", "new on the server");
    World().Local().Remove("/edited.txt");
    World().Local().Remove("/F");

    ASSERT_TRUE(World().WaitCycleEnd(
        [&] { return SettledWith(World(), {"server edit", "new on the server"}); }, seconds(60)))
        << Describe(World());
    const TreeImage image = World().Local().Image();
    EXPECT_EQ(image.at("/edited.txt"), "file:server edit");
    EXPECT_EQ(image.at("/F/sub/new.txt"), "file:new on the server");
    // What nobody changed on the server is deleted as the user asked.
    EXPECT_EQ(image.count("/F/known.txt"), 0u);
    EXPECT_EQ(image.count("/F/sub/deep.txt"), 0u);
    EXPECT_TRUE(ListedBeforeFirstChange(World().Server()));
}

// A folder moved to another parent under another name is carried out as: create the new
// folder, move the known items into it, delete the old folder. A new server item in the old
// folder survives where the other user put it, with its folder.
TEST_F(OrvaneUnseenTest, AFolderMoveNeverTakesAlongServerItemsItHasNotSeen) {
    StartSynced({{"/A/F/k1.txt", "one"}, {"/A/F/k2.txt", "two"}, {"/B/", ""}});
    World().Remote().Write("/A/F/new.txt", "new on the server");
    World().Local().Rename("/A/F", "/B/G");

    ASSERT_TRUE(World().WaitCycleEnd(
        [&] {
            return SettledWith(World(), {"one", "two", "new on the server"}) &&
                   World().Local().Image().count("/B/G/k1.txt") != 0;
        },
        seconds(60)))
        << Describe(World());
    const TreeImage image = World().Local().Image();
    EXPECT_EQ(image.at("/B/G/k1.txt"), "file:one");
    EXPECT_EQ(image.at("/B/G/k2.txt"), "file:two");
    EXPECT_EQ(image.at("/A/F/new.txt"), "file:new on the server");
    const auto trash = World().Server().Trash(kAccount);
    EXPECT_TRUE(std::none_of(trash.begin(), trash.end(), [](const testserver::TreeEntry& e) {
        return e.path.find("new.txt") != std::string::npos;
    }));
    EXPECT_TRUE(ListedBeforeFirstChange(World().Server()));
}

// A delete whose reply was lost is not sent again: the folder stays restorable in the
// recycle bin (a delete of an item in the bin would remove it for good).
TEST_F(OrvaneUnseenTest, ADeleteWhoseReplyWasLostIsNotSentAgain) {
    StartSynced({{"/G/x.txt", "x"}, {"/keep.txt", "keep"}});
    testserver::Fault lost;
    lost.route = "delete";
    lost.kind = testserver::FaultKind::DropAfterHandling;
    World().Server().InjectFault(lost);
    World().Local().Remove("/G");
    ASSERT_TRUE(World().WaitCycleEnd(
        [&] { return !World().Server().Find(kAccount, "/G") && World().Server().Requests("delete").size() == 1; },
        seconds(60)))
        << Describe(World());

    // The next cycle, started by another local change.
    World().Local().Write("/other.txt", "other");
    ASSERT_TRUE(World().WaitCycleEnd([&] { return SettledWith(World(), {"other", "keep"}); }, seconds(60)))
        << Describe(World());
    EXPECT_EQ(World().Server().Requests("delete").size(), 1u);
    const auto trash = World().Server().Trash(kAccount);
    EXPECT_TRUE(std::any_of(trash.begin(), trash.end(), [](const testserver::TreeEntry& e) {
        return e.path.size() >= 2 && e.path.compare(e.path.size() - 2, 2, "/G") == 0;
    })) << "the deleted folder is no longer in the recycle bin";
    EXPECT_EQ(World().Local().Image().count("/G"), 0u);
}

// Random edits, deletes and renames on both sides while the program runs, in rounds. Within
// a round neither user sees the other's changes; every content written in a round must be
// on both sides once the program settles (as the file itself or as a backup copy). The
// number of rounds and the seed come from DRAVIK_SOAK_ROUNDS and DRAVIK_SOAK_SEED.
TEST(OrvaneUnseenSoak, RandomChangesOnBothSidesLoseNothing) {
    const char* roundsText = std::getenv("DRAVIK_SOAK_ROUNDS");
    const char* seedText = std::getenv("DRAVIK_SOAK_SEED");
    const int rounds = roundsText != nullptr ? std::max(1, std::atoi(roundsText)) : 3;
    const unsigned seed = seedText != nullptr ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : 11u;
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));

    const std::map<std::string, std::string> start = {
        {"/r/a.txt", "a0"}, {"/r/b.txt", "b0"}, {"/r/d/c.txt", "c0"}, {"/r/d/e.txt", "e0"}};
    OrvaneWorld world(start, start);
    // Only the program's look at the server before each commit run sees the other user's
    // changes; every round ends with a new local file, so every round has a commit run.
    world.SetServerPollMs(kNoPoll);
    ASSERT_TRUE(world.Start());
    ASSERT_TRUE(world.WaitInSync()) << Describe(world);

    int serial = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(OwnWritesSettled(world));
        // Targets come from the state both users saw; each side touches a path once.
        std::vector<std::string> files;
        for (const auto& [path, value] : world.Local().Image()) {
            if (value.rfind("file:", 0) == 0) files.push_back(path);
        }
        std::set<std::string> touched[2];
        std::vector<std::string> written;
        const int operations = 3 + static_cast<int>(random() % 4);
        for (int i = 0; i < operations; ++i) {
            const int sideIndex = static_cast<int>(random() % 2);
            testsupport::TreeSide& side =
                sideIndex == 0 ? static_cast<testsupport::TreeSide&>(world.Local()) : world.Remote();
            const std::string tag = (sideIndex == 0 ? "L" : "S") + std::to_string(++serial);
            const std::string folder = random() % 2 == 0 ? "/r" : "/r/d";
            const std::string fresh = folder + "/n" + std::to_string(serial) + ".txt";
            std::string target = files.empty() ? fresh : files[random() % files.size()];
            if (touched[sideIndex].count(target) != 0) target = fresh;
            touched[sideIndex].insert(target);
            switch (target == fresh ? 0 : random() % 4) {
                case 0:  // a new file
                case 1:  // an edit
                    side.Write(target, tag);
                    written.push_back(tag);
                    break;
                case 2:  // a delete
                    side.Remove(target);
                    break;
                default: {  // a rename within the tree
                    touched[sideIndex].insert(fresh);
                    side.Rename(target, fresh);
                    break;
                }
            }
        }
        const std::string tick = "T" + std::to_string(++serial);
        world.Local().Write("/r/" + tick + ".txt", tick);
        written.push_back(tick);
        ASSERT_TRUE(world.WaitCycleEnd([&] { return SettledWith(world, written); }, seconds(90)))
            << Describe(world);
    }
    EXPECT_EQ(world.Exit(), 0);
}
