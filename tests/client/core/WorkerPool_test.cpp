// The bounded pool of worker threads: the bound holds, queued jobs run when a thread
// frees, a closed pool refuses jobs, and joining leaves no thread behind.
#include "client/core/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "support/wait.h"

namespace {

using testsupport::WaitUntil;

// Jobs that hold until the test opens the gate, counting how many hold at once.
class Gate {
public:
    void Hold() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++holding_;
        most_ = std::max(most_, holding_);
        open_.wait(lock, [&] { return opened_; });
        --holding_;
    }
    void Open() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            opened_ = true;
        }
        open_.notify_all();
    }
    int Holding() {
        std::lock_guard<std::mutex> lock(mutex_);
        return holding_;
    }
    int Most() {
        std::lock_guard<std::mutex> lock(mutex_);
        return most_;
    }

private:
    std::mutex mutex_;
    std::condition_variable open_;
    bool opened_ = false;
    int holding_ = 0, most_ = 0;
};

TEST(WorkerPoolTest, NeverRunsMoreJobsThanItsBound) {
    WorkerPool pool(3);
    Gate gate;
    std::atomic<int> done{0};
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(pool.Submit([&] {
            gate.Hold();
            ++done;
        }));
    }
    ASSERT_TRUE(WaitUntil([&] { return gate.Holding() == 3; }));
    EXPECT_EQ(pool.Threads(), 3u);
    EXPECT_EQ(pool.Busy(), 3u);
    EXPECT_FALSE(pool.WaitIdle(std::chrono::milliseconds(1)));
    gate.Open();
    ASSERT_TRUE(pool.WaitIdle(std::chrono::seconds(20)));
    EXPECT_EQ(done.load(), 10);
    EXPECT_EQ(gate.Most(), 3);
    EXPECT_EQ(pool.Busy(), 0u);
}

TEST(WorkerPoolTest, ClosedRefusesJoinedLeavesNoThreadAndOpensAgain) {
    WorkerPool pool(2);
    std::atomic<int> done{0};
    ASSERT_TRUE(pool.Submit([&] { ++done; }));
    pool.Close();
    EXPECT_FALSE(pool.Submit([&] { ++done; }));
    pool.Join();
    EXPECT_EQ(done.load(), 1) << "a queued job still runs";
    EXPECT_EQ(pool.Threads(), 0u);

    pool.Open();
    ASSERT_TRUE(pool.Submit([&] { ++done; }));
    ASSERT_TRUE(pool.WaitIdle(std::chrono::seconds(20)));
    EXPECT_EQ(done.load(), 2);
    // The destructor joins what is left.
}

TEST(WorkerPoolTest, JoinWaitsForRunningJobs) {
    WorkerPool pool(4);
    Gate gate;
    std::atomic<int> done{0};
    for (int i = 0; i < 6; ++i) pool.Submit([&] {
        gate.Hold();
        ++done;
    });
    ASSERT_TRUE(WaitUntil([&] { return gate.Holding() == 4; }));
    std::thread opener([&] {
        WaitUntil([&] { return !pool.IsOpen(); });
        gate.Open();
    });
    pool.Join();
    opener.join();
    EXPECT_EQ(done.load(), 6);
    EXPECT_EQ(pool.Threads(), 0u);
}

}  // namespace
