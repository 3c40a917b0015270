#include "sync/common/SyncBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "support/sandbox.h"
#include "support/synclogcapture.h"

namespace {

constexpr std::uint32_t kNone = kSyncNothingSet;
constexpr std::uint32_t kMissing = kSyncGlobalMissing;

// The application's three globals and a worker, with the sync log captured.
class SyncBaseTest : public ::testing::Test {
protected:
    SyncBaseTest() {
        g_pTerminateEvent = &terminate_;
        g_pSuspendEvent = &suspend_;
        g_pResumeEvent = &resume_;
    }
    ~SyncBaseTest() override {
        g_pTerminateEvent = nullptr;
        g_pSuspendEvent = nullptr;
        g_pResumeEvent = nullptr;
    }

    std::vector<std::string> TakeLog() { return log_.Lines(); }

    CEventEx terminate_{"Global Terminate", true, false};
    CEventEx suspend_{"Global Suspend", true, false};
    CEventEx resume_{"Global Resume", true, false};
    CSyncBase worker_;

private:
    LogCapture log_;
};

struct CheckpointCase {
    const char* what;
    bool quit, suspend, brk, abort;
    std::uint32_t checkBreak, checkState, pollBreak, pollSuspend;
    const char* checkBreakLog;  // message and number of the line, or null
    const char* checkStateLog;
};

const CheckpointCase kCases[] = {
    {"nothing", false, false, false, false, kNone, kNone, kNone, kNone, nullptr, nullptr},
    {"quit", true, false, false, false, 0, 0, 0, 0,
     ": Quit object is signaled. filepath:CommonTypes line:557",
     ": Quit object is signaled. filepath:CommonTypes line:604"},
    {"suspend", false, true, false, false, kNone, 1, kNone, 1, nullptr,
     ": Thread state change to Suspend. filepath:CommonTypes line:612"},
    {"break", false, false, true, false, 1, 2, 1, 2,
     ": Break object is signaled. filepath:CommonTypes line:566",
     ": Break object is signaled. filepath:CommonTypes line:620"},
    {"abort", false, false, false, true, kNone, kNone, 2, 3, nullptr, nullptr},
    {"quit and break", true, false, true, true, 0, 0, 0, 0,
     ": Quit object is signaled. filepath:CommonTypes line:557",
     ": Quit object is signaled. filepath:CommonTypes line:604"},
    {"suspend and break", false, true, true, false, 1, 1, 1, 1,
     ": Break object is signaled. filepath:CommonTypes line:566",
     ": Thread state change to Suspend. filepath:CommonTypes line:612"},
};

TEST_F(SyncBaseTest, CheckpointsReturnTheFirstSetEventAndLogWhatStoppedThem) {
    for (const CheckpointCase& c : kCases) {
        SCOPED_TRACE(c.what);
        if (c.quit) terminate_.Set(); else terminate_.Reset();
        if (c.suspend) suspend_.Set(); else suspend_.Reset();
        if (c.brk) worker_.breakEvent.Set(); else worker_.breakEvent.Reset();
        if (c.abort) worker_.abortEvent.Set(); else worker_.abortEvent.Reset();
        TakeLog();

        EXPECT_EQ(worker_.CheckBreak("Walk", 120), c.checkBreak);
        const std::vector<std::string> breakLog = TakeLog();
        EXPECT_EQ(breakLog, c.checkBreakLog ? std::vector<std::string>{std::string("INFO: Walk() #120") + c.checkBreakLog}
                                            : std::vector<std::string>{});
        EXPECT_EQ(worker_.CheckState("Walk", 120), c.checkState);
        const std::vector<std::string> stateLog = TakeLog();
        EXPECT_EQ(stateLog, c.checkStateLog ? std::vector<std::string>{std::string("INFO: Walk() #120") + c.checkStateLog}
                                            : std::vector<std::string>{});
        EXPECT_EQ(worker_.PollBreak(), c.pollBreak);
        EXPECT_EQ(worker_.PollSuspend(), c.pollSuspend);
        EXPECT_TRUE(TakeLog().empty());
        // Polling consumes nothing.
        EXPECT_EQ(worker_.PollSuspend(), c.pollSuspend);

        // A result means stop exactly when one of the checkpoint's own events is set.
        EXPECT_EQ(IsStopResult(c.checkBreak), c.quit || c.brk);
        EXPECT_EQ(IsStopResult(c.checkState), c.quit || c.suspend || c.brk);
        EXPECT_EQ(IsStopResult(c.pollBreak), c.quit || c.brk || c.abort);
        EXPECT_EQ(IsStopResult(c.pollSuspend), c.quit || c.suspend || c.brk || c.abort);
    }
}

TEST_F(SyncBaseTest, MissingSuspendAndResumeEventsCountAsNotSet) {
    g_pSuspendEvent = nullptr;
    g_pResumeEvent = nullptr;
    EXPECT_TRUE(SyncGlobalEventsReady());
    EXPECT_EQ(worker_.CheckState("F", 1), kNone);
    EXPECT_EQ(worker_.PollSuspend(), kNone);

    worker_.abortEvent.Set();
    EXPECT_EQ(worker_.PollSuspend(), 3u);
    worker_.breakEvent.Set();
    EXPECT_EQ(worker_.CheckState("F", 1), 2u);
    EXPECT_EQ(worker_.PollSuspend(), 2u);
    terminate_.Set();
    EXPECT_EQ(worker_.CheckState("F", 1), 0u);
    EXPECT_EQ(worker_.PollSuspend(), 0u);
}

TEST_F(SyncBaseTest, MissingQuitEventIsReportedAndEveryCheckpointSaysSo) {
    g_pTerminateEvent = nullptr;
    EXPECT_FALSE(SyncGlobalEventsReady());
    worker_.breakEvent.Set();
    CSyncBase peer;
    EXPECT_EQ(worker_.CheckBreak("F", 1), kMissing);
    EXPECT_EQ(worker_.CheckState("F", 1), kMissing);
    EXPECT_EQ(worker_.PollBreak(), kMissing);
    EXPECT_EQ(worker_.PollSuspend(), kMissing);
    EXPECT_EQ(worker_.WaitForPeer(&peer.doneEvent), kMissing);
    EXPECT_TRUE(TakeLog().empty());
    // Without the quit event the checkpoints never stop a walk.
    EXPECT_FALSE(IsStopResult(kMissing));
}

TEST_F(SyncBaseTest, WaitForPeerWithoutAPeerFails) {
    EXPECT_EQ(worker_.WaitForPeer(nullptr), kMissing);
}

TEST_F(SyncBaseTest, WaitForPeerWakesOnTheFirstOfItsEvents) {
    CSyncBase peer;
    // Index of the event that ends the wait: quit, break, abort, the peer's done event.
    const std::vector<plat::Event*> events = {&terminate_, &worker_.breakEvent, &worker_.abortEvent,
                                              &peer.doneEvent};
    EXPECT_TRUE(peer.doneEvent.IsSet());  // a worker starts idle
    for (std::uint32_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        for (plat::Event* e : events) e->Reset();
        std::atomic<std::uint32_t> result{0xABCDu};
        std::thread waiter([&] { result = worker_.WaitForPeer(&peer.doneEvent); });
        events[i]->Set();
        waiter.join();
        EXPECT_EQ(result, i);
    }
}

TEST_F(SyncBaseTest, WorkerEventsStartAsTheWorkersExpect) {
    EXPECT_FALSE(worker_.breakEvent.IsSet());
    EXPECT_FALSE(worker_.abortEvent.IsSet());
    EXPECT_TRUE(worker_.doneEvent.IsSet());
    EXPECT_EQ(worker_.GetOwnerDialog(), nullptr);
}

TEST(CEventExTest, OnlyAClaimedNameIsExclusive) {
    testsupport::Sandbox sandbox;
    CEventEx signal("DravikSyncSignal", true, true);
    EXPECT_TRUE(signal.IsSet());
    EXPECT_EQ(signal.Name(), "DravikSyncSignal");

    auto first = std::make_unique<CEventEx>("DravikSyncSignal", true, true, CEventEx::NameClaim::Exclusive);
    EXPECT_EQ(first->alreadyExisted, 0u);
    EXPECT_TRUE(first->HoldsName());
    EXPECT_TRUE(first->IsSet());

    CEventEx second("DravikSyncSignal", true, true, CEventEx::NameClaim::Exclusive);
    EXPECT_EQ(second.alreadyExisted, 1u);
    EXPECT_FALSE(second.HoldsName());

    // Unclaimed events of the same name never conflict.
    CEventEx plain("DravikSyncSignal", true, false);
    EXPECT_EQ(plain.alreadyExisted, 0u);
    EXPECT_FALSE(plain.HoldsName());

    first.reset();
    CEventEx third("DravikSyncSignal", true, true, CEventEx::NameClaim::Exclusive);
    EXPECT_EQ(third.alreadyExisted, 0u);
    EXPECT_TRUE(third.HoldsName());
}

}  // namespace
