#include "sync/common/ThreadBase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/wait.h"
#include "sync/common/SyncBase.h"

namespace {

using testsupport::WaitUntil;

// What a test worker saw; outlives the worker so it can be checked after destruction.
struct Probe {
    std::mutex mutex;
    std::vector<std::uint32_t> seen;
    plat::Event gate{true, false};  // a RUN pass waits for it
    std::atomic<bool> inPass{false};
    std::atomic<bool> passEnded{false};
    std::atomic<bool> destroying{false};
    void* bound1 = nullptr;
    void* bound2 = nullptr;

    std::vector<std::uint32_t> Seen() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }
    bool HasSeen(std::size_t count) { return Seen().size() >= count; }
};

// A worker shaped like the real ones: it takes its owners on BIND, a RUN pass waits for
// the probe's gate (and, when it honours breaks, for its break event), NOP makes it end
// on its own with code 42, EXIT with code 0.
class TestWorker : public CThread, public CSyncBase {
public:
    TestWorker(Probe& probe, bool honoursBreak, void* p1 = nullptr, void* p2 = nullptr)
        : CThread(p1, p2), probe_(probe), honoursBreak_(honoursBreak) {
        name = u"TestWorker";
        hasEvent = 1;
        useSyncTag = 1;
    }
    ~TestWorker() override {
        probe_.destroying = true;
        StopAndWait();
    }

protected:
    std::uint32_t ThreadHandler() override {
        for (;;) {
            std::uint32_t command = 0;
            GetCommand(command);
            {
                std::lock_guard<std::mutex> lock(probe_.mutex);
                if (command == THREAD_CMD_BIND) {
                    probe_.bound1 = param1;
                    probe_.bound2 = param2;
                }
                probe_.seen.push_back(command);
            }
            switch (command) {
                case THREAD_CMD_RUN:
                    RunPass();
                    break;
                case THREAD_CMD_PAUSE:
                    state = 3;
                    break;
                case THREAD_CMD_NOP:
                    return 42;
                case THREAD_CMD_EXIT:
                    return 0;
                default:
                    break;
            }
        }
    }
    void OnStopRequested() override { breakEvent.Set(); }

private:
    void RunPass() {
        state = 2;
        doneEvent.Reset();
        probe_.inPass = true;
        if (honoursBreak_) {
            plat::WaitAny({&probe_.gate, &breakEvent}, plat::kInfinite);
        } else {
            probe_.gate.Wait(plat::kInfinite);
        }
        probe_.inPass = false;
        probe_.passEnded = true;
        doneEvent.Set();
    }

    Probe& probe_;
    bool honoursBreak_;
};

using Commands = std::vector<std::uint32_t>;

TEST(ThreadBaseTest, FirstCommandIsBindWithTheOwnersAndStopEndsTheThread) {
    Probe probe;
    int app = 0;
    int dlg = 0;
    TestWorker worker(probe, true, &app, &dlg);
    EXPECT_EQ(worker.state, 1u);
    EXPECT_EQ(worker.exitCode, 0xFFFFFFFEu);
    EXPECT_FALSE(worker.IsAlive());

    worker.Start();
    EXPECT_TRUE(worker.IsAlive());
    ASSERT_TRUE(WaitUntil([&] { return probe.HasSeen(1); }));
    EXPECT_EQ(probe.Seen(), Commands({THREAD_CMD_BIND}));
    {
        std::lock_guard<std::mutex> lock(probe.mutex);
        EXPECT_EQ(probe.bound1, &app);
        EXPECT_EQ(probe.bound2, &dlg);
    }

    std::uint32_t code = 99;
    EXPECT_TRUE(worker.Stop(code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(worker.IsAlive());
    EXPECT_EQ(worker.state, 1u);
    EXPECT_EQ(probe.Seen(), Commands({THREAD_CMD_BIND, THREAD_CMD_EXIT}));
    // Stopping a worker that has no thread says so at once.
    EXPECT_TRUE(worker.Stop(code));
    EXPECT_EQ(code, 0u);
}

TEST(ThreadBaseTest, QueueDropsZeroAndRepeatsOfTheNewestCommand) {
    Probe probe;
    TestWorker worker(probe, true);
    worker.Start();
    worker.PostCommand(THREAD_CMD_RUN);
    ASSERT_TRUE(WaitUntil([&] { return probe.inPass.load(); }));

    // The queue is empty while the pass runs: RUN RUN 0 PAUSE RUN queues RUN PAUSE RUN.
    for (std::uint32_t c : std::initializer_list<std::uint32_t>{THREAD_CMD_RUN, THREAD_CMD_RUN, 0u, THREAD_CMD_PAUSE, THREAD_CMD_RUN}) {
        worker.PostCommand(c);
    }
    probe.gate.Set();
    ASSERT_TRUE(WaitUntil([&] { return probe.HasSeen(5) && !probe.inPass; }));
    std::uint32_t code = 0;
    EXPECT_TRUE(worker.Stop(code));
    EXPECT_EQ(probe.Seen(), Commands({THREAD_CMD_BIND, THREAD_CMD_RUN, THREAD_CMD_RUN, THREAD_CMD_PAUSE,
                                      THREAD_CMD_RUN, THREAD_CMD_EXIT}));
}

TEST(ThreadBaseTest, StopPutsExitAheadOfQueuedCommandsAndBreaksThePass) {
    Probe probe;
    TestWorker worker(probe, true);
    worker.Start();
    worker.PostCommand(THREAD_CMD_RUN);
    ASSERT_TRUE(WaitUntil([&] { return probe.inPass.load(); }));
    worker.PostCommand(THREAD_CMD_PAUSE);
    worker.PostCommand(THREAD_CMD_RESUME);
    worker.PostCommand(THREAD_CMD_RUN);

    std::uint32_t code = 99;
    EXPECT_TRUE(worker.Stop(code));  // the pass saw the break event and ended
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(worker.breakEvent.IsSet());
    EXPECT_EQ(probe.Seen(), Commands({THREAD_CMD_BIND, THREAD_CMD_RUN, THREAD_CMD_EXIT}));
}

TEST(ThreadBaseTest, StartOnARunningWorkerThrowsAndLeavesItRunning) {
    Probe probe;
    TestWorker worker(probe, true);
    worker.Start();
    try {
        worker.Start();
        FAIL() << "no exception";
    } catch (const CThreadException& e) {
        EXPECT_EQ(e.type, 2u);
        EXPECT_EQ(e.message, u"Thread is already started!");
        EXPECT_STREQ(e.what(), "Thread is already started!");
        EXPECT_EQ(e.thread, &worker);
        char16_t buffer[7];
        EXPECT_TRUE(e.GetErrorMessage(buffer, 7));
        EXPECT_EQ(std::u16string(buffer), u"Thread");
    }
    EXPECT_TRUE(worker.IsAlive());
    probe.gate.Set();
    worker.PostCommand(THREAD_CMD_RUN);
    ASSERT_TRUE(WaitUntil([&] { return probe.passEnded.load(); }));
    EXPECT_EQ(probe.Seen(), Commands({THREAD_CMD_BIND, THREAD_CMD_RUN}));  // one BIND only
}

TEST(ThreadBaseTest, StopOfAWorkerThatDoesNotReactGivesUpAndALaterStopSucceeds) {
    Probe probe;
    TestWorker worker(probe, false);
    worker.Start();
    worker.PostCommand(THREAD_CMD_RUN);
    ASSERT_TRUE(WaitUntil([&] { return probe.inPass.load(); }));

    const auto begin = std::chrono::steady_clock::now();
    std::uint32_t code = 0;
    EXPECT_FALSE(worker.Stop(code));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(900));
    EXPECT_EQ(code, kThreadStillActive);
    EXPECT_TRUE(worker.IsAlive());

    probe.gate.Set();
    ASSERT_TRUE(WaitUntil([&] { return !worker.IsAlive(); }));
    EXPECT_TRUE(worker.Stop(code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(probe.Seen(), Commands({THREAD_CMD_BIND, THREAD_CMD_RUN, THREAD_CMD_EXIT}));
}

TEST(ThreadBaseTest, DestroyingAWorkerWhoseStopGaveUpWaitsForItsThread) {
    Probe probe;
    auto worker = std::make_unique<TestWorker>(probe, false);
    worker->Start();
    worker->PostCommand(THREAD_CMD_RUN);
    ASSERT_TRUE(WaitUntil([&] { return probe.inPass.load(); }));
    std::uint32_t code = 0;
    ASSERT_FALSE(worker->Stop(code));

    std::atomic<bool> passEndedBeforeDelete{false};
    std::thread deleter([&] {
        worker.reset();
        passEndedBeforeDelete = probe.passEnded.load();
    });
    ASSERT_TRUE(WaitUntil([&] { return probe.destroying.load(); }));
    probe.gate.Set();
    deleter.join();
    EXPECT_TRUE(passEndedBeforeDelete);
    EXPECT_EQ(probe.Seen(), Commands({THREAD_CMD_BIND, THREAD_CMD_RUN, THREAD_CMD_EXIT}));
}

TEST(ThreadBaseTest, AStoppedOrEndedWorkerCanBeStartedAgain) {
    Probe probe;
    probe.gate.Set();
    TestWorker worker(probe, true);
    std::uint32_t code = 0;

    worker.Start();
    ASSERT_TRUE(WaitUntil([&] { return probe.HasSeen(1); }));
    EXPECT_TRUE(worker.Stop(code));

    // Restart after Stop; then the worker ends on its own (NOP gives 42).
    worker.Start();
    worker.PostCommand(THREAD_CMD_RUN);
    worker.PostCommand(THREAD_CMD_NOP);
    ASSERT_TRUE(WaitUntil([&] { return !worker.IsAlive(); }));
    EXPECT_EQ(worker.exitCode, 42u);
    EXPECT_EQ(worker.state, 1u);

    // Restart after the thread ended on its own.
    worker.Start();
    ASSERT_TRUE(WaitUntil([&] { return probe.HasSeen(6); }));
    EXPECT_TRUE(worker.Stop(code));
    EXPECT_EQ(probe.Seen(), Commands({THREAD_CMD_BIND, THREAD_CMD_EXIT, THREAD_CMD_BIND, THREAD_CMD_RUN,
                                      THREAD_CMD_NOP, THREAD_CMD_BIND, THREAD_CMD_EXIT}));
}

TEST(ThreadBaseTest, CommandsToAWorkerWithoutAThreadAreDropped) {
    Probe probe;
    TestWorker worker(probe, true);
    worker.PostCommand(THREAD_CMD_RUN);  // no thread: lost without a report
    worker.Start();
    ASSERT_TRUE(WaitUntil([&] { return probe.HasSeen(1); }));
    std::uint32_t code = 0;
    EXPECT_TRUE(worker.Stop(code));
    worker.PostCommand(THREAD_CMD_RUN);  // ended: lost as well
    EXPECT_EQ(probe.Seen(), Commands({THREAD_CMD_BIND, THREAD_CMD_EXIT}));
}

TEST(ThreadBaseTest, StartedWorkersHoldAReferenceOnTheirSyncTag) {
    Probe probeA;
    Probe probeB;
    TestWorker a(probeA, true);
    TestWorker b(probeB, true);
    std::uint32_t code = 0;
    EXPECT_EQ(CThread::SyncTagRefCount(u"TestWorker"), 0u);
    a.Start();
    b.Start();
    EXPECT_EQ(CThread::SyncTagRefCount(u"TestWorker"), 2u);
    EXPECT_TRUE(a.Stop(code));
    EXPECT_EQ(CThread::SyncTagRefCount(u"TestWorker"), 1u);
    EXPECT_TRUE(b.Stop(code));
    EXPECT_EQ(CThread::SyncTagRefCount(u"TestWorker"), 0u);

    // Freeing the registry while a worker runs leaves its later release harmless.
    a.Start();
    CThread::FreeSyncTags();
    EXPECT_EQ(CThread::SyncTagRefCount(u"TestWorker"), 0u);
    b.Start();
    EXPECT_TRUE(a.Stop(code));
    EXPECT_EQ(CThread::SyncTagRefCount(u"TestWorker"), 1u);
}

}  // namespace
