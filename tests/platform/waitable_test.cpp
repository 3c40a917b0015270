#include "platform/waitable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/wait.h"

namespace {

using plat::Event;
using plat::kInfinite;
using plat::kWaitFailed;
using plat::kWaitTimeout;
using plat::WaitableMutex;
using plat::WaitAny;
using testsupport::WaitUntil;

constexpr std::uint32_t kNoResult = 12345;

TEST(WaitableTest, BadListsFail) {
    Event e(true, true);
    EXPECT_EQ(WaitAny(std::span<plat::Waitable* const>(), 0), kWaitFailed);
    EXPECT_EQ(WaitAny({&e, nullptr}, 0), kWaitFailed);
    EXPECT_EQ(WaitAny({nullptr}, kInfinite), kWaitFailed);
}

TEST(WaitableTest, PollsAndFirstObtainableWins) {
    Event a(true, false), b(true, false), c(true, false);
    EXPECT_EQ(WaitAny({&a, &b, &c}, 0), kWaitTimeout);
    c.Set();
    EXPECT_EQ(WaitAny({&a, &b, &c}, 0), 2u);
    b.Set();
    EXPECT_EQ(WaitAny({&a, &b, &c}, 0), 1u);
    a.Set();
    EXPECT_EQ(WaitAny({&a, &b, &c}, 0), 0u);
    // Manual reset: still set after being obtained.
    EXPECT_TRUE(a.IsSet());
    a.Reset();
    EXPECT_FALSE(a.IsSet());
    EXPECT_FALSE(a.Wait(0));
}

TEST(WaitableTest, AutoResetEventIsConsumedOnce) {
    Event e(false, true);
    Event other(true, false);
    EXPECT_EQ(WaitAny({&other, &e}, 0), 1u);
    EXPECT_FALSE(e.IsSet());
    EXPECT_EQ(WaitAny({&other, &e}, 0), kWaitTimeout);
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(WaitableTest, TimeoutWaitsAtLeastTheGivenTime) {
    Event e(true, false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitAny({&e}, 50), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST(WaitableTest, SetFromAnotherThreadWakesTheWaiter) {
    Event quit(true, false), work(true, false);
    std::atomic<std::uint32_t> result{kNoResult};
    std::thread waiter([&] { result = WaitAny({&quit, &work}, kInfinite); });
    work.Set();
    EXPECT_TRUE(WaitUntil([&] { return result.load() != kNoResult; }));
    waiter.join();
    EXPECT_EQ(result.load(), 1u);
}

TEST(WaitableTest, AutoResetWakesExactlyOneWaiterPerSet) {
    Event e(false, false);
    std::atomic<int> woken{0};
    std::thread t1([&] { if (e.Wait(kInfinite)) ++woken; });
    std::thread t2([&] { if (e.Wait(kInfinite)) ++woken; });
    e.Set();
    EXPECT_TRUE(WaitUntil([&] { return woken.load() == 1; }));
    EXPECT_FALSE(e.IsSet());
    // The other waiter stays blocked until the next Set.
    EXPECT_FALSE(WaitUntil([&] { return woken.load() == 2; }, std::chrono::milliseconds(50)));
    e.Set();
    EXPECT_TRUE(WaitUntil([&] { return woken.load() == 2; }));
    t1.join();
    t2.join();
    EXPECT_FALSE(e.IsSet());
}

TEST(WaitableTest, MutexIsRecursiveAndOwnerTracked) {
    WaitableMutex m;
    EXPECT_FALSE(m.OwnedByCurrentThread());
    m.Lock();
    EXPECT_TRUE(m.TryLock());
    EXPECT_TRUE(m.OwnedByCurrentThread());
    auto otherTry = [&] {
        bool got = false;
        std::thread t([&] {
            got = m.TryLock();
            if (got) m.Unlock();
        });
        t.join();
        return got;
    };
    EXPECT_FALSE(otherTry());
    m.Unlock();
    EXPECT_TRUE(m.OwnedByCurrentThread());
    EXPECT_FALSE(otherTry());
    // A thread that does not own the mutex cannot release it.
    std::thread([&] { m.Unlock(); }).join();
    EXPECT_TRUE(m.OwnedByCurrentThread());
    m.Unlock();
    EXPECT_FALSE(m.OwnedByCurrentThread());
    EXPECT_TRUE(otherTry());
    m.Unlock();  // unlocking a free mutex changes nothing
    EXPECT_TRUE(otherTry());
}

TEST(WaitableTest, WaitAnyHandsMutexOwnershipOver) {
    WaitableMutex m;
    Event quit(true, false);
    std::atomic<std::uint32_t> result{kNoResult};
    std::atomic<bool> ownedInThread{false};
    Event release(true, false);
    m.Lock();
    std::thread t([&] {
        result = WaitAny({&quit, &m}, kInfinite);
        ownedInThread = m.OwnedByCurrentThread();
        release.Wait(kInfinite);
        m.Unlock();
    });
    EXPECT_FALSE(WaitUntil([&] { return result.load() != kNoResult; }, std::chrono::milliseconds(50)));
    m.Unlock();
    EXPECT_TRUE(WaitUntil([&] { return result.load() != kNoResult; }));
    EXPECT_EQ(result.load(), 1u);
    EXPECT_TRUE(ownedInThread.load());
    EXPECT_FALSE(m.TryLock());
    release.Set();
    t.join();
    EXPECT_TRUE(m.TryLock());
    m.Unlock();
}

TEST(WaitableTest, MutexHolderReleasesOnScopeExit) {
    WaitableMutex m;
    {
        plat::MutexHolder hold(m);
        EXPECT_TRUE(m.OwnedByCurrentThread());
    }
    EXPECT_FALSE(m.OwnedByCurrentThread());
}

TEST(WaitableTest, ContendedMutexKeepsCountsExact) {
    WaitableMutex m;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            for (int k = 0; k < 2000; ++k) {
                plat::MutexHolder hold(m);
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 8000);
}

}  // namespace
