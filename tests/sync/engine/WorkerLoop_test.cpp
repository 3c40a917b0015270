// The one command loop as every worker runs it: network monitor, local scan, server
// inventory, reconciliation and both commit threads go through the same table of cases.
// Each worker brings the command of one of its passes and a count of the passes that got
// to do their work (not stopped at their first checkpoint).
#include <atomic>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "CommitTestSupport.h"
#include "support/wait.h"
#include "sync/common/WorkerLoop.h"
#include "sync/engine/SyncMessages.h"
#include "sync/engine/ThreadOfAdapter.h"
#include "sync/engine/ThreadOfAway.h"
#include "sync/engine/ThreadOfConform.h"
#include "sync/engine/ThreadOfDriver.h"
#include "sync/engine/ThreadOfHome.h"
#include "sync/engine/ThreadOfServer.h"

using namespace committest;
using testsupport::WaitUntil;

namespace {

const auto* const kQuitEnvironment = ::testing::AddGlobalTestEnvironment(new QuitEventEnvironment);

// The main window of every worker: records messages, counts the reconciliation's
// step-finished calls and answers the server inventory.
class WorkerWindow : public RecordingWindow, public ServerInventoryHost {
public:
    void OnGammaConform(std::uintptr_t, std::intptr_t) override { ++gammaCalls; }
    bool LoginCredentials(std::u16string&, std::u16string&) override { return false; }
    void OnLoginResult(bool) override {}
    void KillServerPoll() override { ++serverPollKills; }
    void ArmServerPoll() override {}
    void SaveServerListing(const FileNode&) override {}

    std::atomic<int> gammaCalls{0};
    std::atomic<int> serverPollKills{0};
};

// Holds the next pass command right after the loop took it from the queue, before the
// pass begins, until a stop has been asked for.
class PassHold {
public:
    virtual ~PassHold() = default;
    void HoldNextPass() { hold_ = true; }
    bool Holding() const { return holding_.load(); }

protected:
    void MaybeHold(const CWorkerLoop& worker) const {
        if (!hold_.exchange(false)) return;
        holding_ = true;
        WaitUntil([&] { return worker.StopWasRequested(); });
    }

private:
    mutable std::atomic<bool> hold_{false};
    mutable std::atomic<bool> holding_{false};
};

template <class Worker>
class Holdable final : public Worker, public PassHold {
public:
    template <class... Args>
    explicit Holdable(Args... args) : Worker(args...) {}
    ~Holdable() override { this->StopAndWait(); }

protected:
    bool IsPassCommand(std::uint32_t command) const override {
        const bool pass = Worker::IsPassCommand(command);
        if (pass) MaybeHold(*this);
        return pass;
    }
};

class WorkerLoopTest;

struct WorkerCase {
    const char* name;
    std::uint32_t pass;     // the command of one pass
    std::uint32_t foreign;  // a pass command of another worker
    bool endless;           // the pass lasts until a stop (the network monitor)
    // Makes the worker; without `owners` its second owner is missing.
    std::function<std::unique_ptr<CWorkerLoop>(WorkerLoopTest&, bool owners)> make;
    std::function<int(WorkerLoopTest&)> worked;
};

void PrintTo(const WorkerCase& c, std::ostream* out) { *out << c.name; }

class WorkerLoopTest : public CommitFixture, public ::testing::WithParamInterface<WorkerCase> {
public:
    using CommitFixture::app;
    using CommitFixture::ops;

    void SetUp() override {
        CommitFixture::SetUp();
        app.mainWindow = &host;
        testsupport::WriteFile(root / "a.txt", "abc");  // the scan reaches its checkpoint
    }
    void TearDown() override {
        worker.reset();
        CommitFixture::TearDown();
    }

    CWorkerLoop& Start(bool owners = true) {
        worker = GetParam().make(*this, owners);
        worker->Start();
        return *worker;
    }
    int Worked() { return GetParam().worked(*this); }
    int Reports(std::uintptr_t wParam, std::intptr_t lParam) {
        int n = 0;
        for (const Message& m : host.Of(WM_SIGMA_CONFORM)) n += m.wParam == wParam && m.lParam == lParam ? 1 : 0;
        return n;
    }
    // Waits until the pass under way has ended (the network monitor's never does).
    bool PassEnded() { return GetParam().endless || WaitUntil([&] { return worker->doneEvent.IsSet(); }); }

    WorkerWindow host;
    std::atomic<int> polls{0};
    std::unique_ptr<CWorkerLoop> worker;
};

template <class Worker, class Owner>
std::unique_ptr<Worker> Make(SyncApp* app, Owner* owner, bool owners) {
    return std::make_unique<Holdable<Worker>>(app, owners ? owner : nullptr);
}

// A commit thread against the scripted server.
template <class Commit>
std::unique_ptr<CWorkerLoop> MakeCommit(WorkerLoopTest& t, bool owners) {
    auto w = Make<Commit>(&t.app, static_cast<SyncWindow*>(&t.host), owners);
    w->SetServerOps(&t.ops);
    return w;
}

const WorkerCase kWorkers[] = {
    {"NetworkMonitor", THREAD_CMD_RUN, THREAD_CMD_HASH, true,
     [](WorkerLoopTest& t, bool owners) -> std::unique_ptr<CWorkerLoop> {
         auto w = Make<CThreadOfAdapter>(&t.app, static_cast<SyncWindow*>(&t.host), owners);
         w->SetProbe([&t] {
             ++t.polls;
             return true;
         });
         w->pollMs = 60000;
         return w;
     },
     [](WorkerLoopTest& t) { return t.polls.load(); }},
    {"LocalScan", THREAD_CMD_RUN, THREAD_CMD_BUILD, false,
     [](WorkerLoopTest& t, bool owners) -> std::unique_ptr<CWorkerLoop> {
         return Make<CThreadOfDriver>(&t.app, &t.app.DriverTree, owners);
     },
     [](WorkerLoopTest& t) { return static_cast<int>(t.host.Of(WM_DEVICE_SCAN_FINISHED).size()); }},
    {"ServerInventory", THREAD_CMD_RUN, THREAD_CMD_CHANGES, false,
     [](WorkerLoopTest& t, bool owners) -> std::unique_ptr<CWorkerLoop> {
         return Make<CThreadOfServer>(&t.app, &t.app.WaiterTree, owners);
     },
     [](WorkerLoopTest& t) { return t.host.serverPollKills.load(); }},
    {"Reconciliation", THREAD_CMD_BUILD, THREAD_CMD_CHANGES, false,
     [](WorkerLoopTest& t, bool owners) -> std::unique_ptr<CWorkerLoop> {
         return Make<CThreadOfConform>(&t.app, static_cast<SyncWindow*>(&t.host), owners);
     },
     [](WorkerLoopTest& t) { return t.host.gammaCalls.load(); }},
    {"CommitToServer", THREAD_CMD_RUN, THREAD_CMD_MATCH, false, MakeCommit<CThreadOfAway>,
     [](WorkerLoopTest& t) { return t.Reports(0, 2); }},
    {"CommitToLocal", THREAD_CMD_RUN, THREAD_CMD_SERVER, false, MakeCommit<CThreadOfHome>,
     [](WorkerLoopTest& t) { return t.Reports(2, 0); }},
};

INSTANTIATE_TEST_SUITE_P(EveryWorker, WorkerLoopTest, ::testing::ValuesIn(kWorkers),
                         [](const ::testing::TestParamInfo<WorkerCase>& info) { return info.param.name; });

TEST_P(WorkerLoopTest, BindTakesTheOwnersAndAMissingOneEndsTheThread) {
    CWorkerLoop& bound = Start();
    bound.PostCommand(GetParam().pass);
    EXPECT_TRUE(WaitUntil([&] { return Worked() == 1; }));

    auto orphan = GetParam().make(*this, false);
    orphan->Start();
    EXPECT_TRUE(WaitUntil([&] { return !orphan->IsAlive(); }));
    EXPECT_EQ(orphan->exitCode.load(), 0xFFFFFFFFu);
}

TEST_P(WorkerLoopTest, PassesWhilePausedAreDroppedUntilResumed) {
    CWorkerLoop& w = Start();
    w.PostCommand(THREAD_CMD_PAUSE);
    ASSERT_TRUE(WaitUntil([&] { return w.state == 3; }));
    w.PostCommand(GetParam().pass);
    w.PostCommand(THREAD_CMD_PAUSE);  // paused again: stays paused
    w.PostCommand(THREAD_CMD_RESUME);
    ASSERT_TRUE(WaitUntil([&] { return w.state == 4; }));
    EXPECT_EQ(Worked(), 0);
    EXPECT_TRUE(w.doneEvent.IsSet());

    w.PostCommand(GetParam().pass);
    EXPECT_TRUE(WaitUntil([&] { return Worked() == 1; }));
    EXPECT_EQ(w.state.load(), 2u);
}

TEST_P(WorkerLoopTest, EveryPassStartsWithItsEventsReset) {
    CWorkerLoop& w = Start();
    // Left over from an earlier pass: neither may cut the next one short.
    w.breakEvent.Set();
    w.abortEvent.Set();
    w.PostCommand(GetParam().pass);
    EXPECT_TRUE(WaitUntil([&] { return Worked() == 1; }));
    ASSERT_TRUE(PassEnded());
    EXPECT_FALSE(w.breakEvent.IsSet());
    EXPECT_FALSE(w.abortEvent.IsSet());
    EXPECT_EQ(w.state.load(), 2u);
}

TEST_P(WorkerLoopTest, AStopAskedForJustBeforeAPassEndsThatPassAtOnce) {
    CWorkerLoop& w = Start();
    dynamic_cast<PassHold&>(w).HoldNextPass();
    w.PostCommand(GetParam().pass);
    ASSERT_TRUE(WaitUntil([&] { return dynamic_cast<PassHold&>(w).Holding(); }));
    // The pass command is taken; the stop comes before the pass resets its events.
    std::thread stopper([&] {
        std::uint32_t code = 0;
        w.Stop(code);
    });
    EXPECT_TRUE(WaitUntil([&] { return !w.IsAlive(); }));
    stopper.join();
    EXPECT_EQ(w.exitCode.load(), 0u);
    EXPECT_EQ(Worked(), 0);
}

TEST_P(WorkerLoopTest, OtherCommandsAreIgnoredAndExitEndsTheLoopWithZero) {
    CWorkerLoop& w = Start();
    const std::uint32_t ignored[] = {THREAD_CMD_QUERY_STATE, THREAD_CMD_NOP, THREAD_CMD_RESERVED,
                                     GetParam().foreign, 99};
    for (const std::uint32_t command : ignored) w.PostCommand(command);
    w.PostCommand(THREAD_CMD_EXIT);
    ASSERT_TRUE(WaitUntil([&] { return !w.IsAlive(); }));
    EXPECT_EQ(w.exitCode.load(), 0u);
    EXPECT_EQ(Worked(), 0);
    EXPECT_TRUE(w.doneEvent.IsSet());
}

}  // namespace
