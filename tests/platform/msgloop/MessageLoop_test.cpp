#include "platform/msgloop/MessageLoop.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/wait.h"

namespace {

using plat::kWmApp;
using plat::kWmUser;
using plat::Message;
using plat::MessageLoop;
using plat::MsgResult;
using plat::WindowId;
using testsupport::WaitUntil;

bool FdReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// Handles what is due until `done` holds (or the deadline of WaitUntil passes).
bool PumpUntil(MessageLoop& loop, const std::function<bool()>& done) {
    return WaitUntil([&] {
        loop.ProcessDue();
        return done();
    });
}

// A payload that counts its live instances, to see that dropped copies are freed.
struct Tracked {
    static inline std::atomic<int> live{0};
    explicit Tracked(int v) : value(v) { ++live; }
    ~Tracked() { --live; }
    int value;
};

// A window whose procedure records every message it gets (owner thread only).
struct RecordingWindow {
    explicit RecordingWindow(MessageLoop& loop, std::function<MsgResult(Message&)> extra = {})
        : extra_(std::move(extra)) {
        id = loop.CreateWindow([this](Message& m) {
            log.push_back(m.message);
            params.push_back(m.wParam);
            return extra_ ? extra_(m) : 0;
        });
    }
    WindowId id;
    std::vector<std::uint32_t> log;
    std::vector<std::uintptr_t> params;

private:
    std::function<MsgResult(Message&)> extra_;
};

// --------------------------------------------------------------------- posting

TEST(MessageLoopPost, KeepsPostOrderPerWindowAcrossThreads) {
    MessageLoop loop;
    constexpr int kPerThread = 2000;
    std::map<std::pair<WindowId, std::intptr_t>, std::vector<std::uintptr_t>> seen;
    int handled = 0;
    auto proc = [&](Message& m) -> MsgResult {
        seen[{m.window, m.lParam}].push_back(m.wParam);
        ++handled;
        return 0;
    };
    const WindowId a = loop.CreateWindow(proc);
    const WindowId b = loop.CreateWindow(proc);
    std::vector<std::thread> posters;
    for (std::intptr_t thread = 0; thread < 3; ++thread) {
        posters.emplace_back([=] {
            for (std::uintptr_t i = 0; i < kPerThread; ++i)
                ASSERT_TRUE(plat::PostMessage(i % 2 ? a : b, kWmApp + 1, i, thread));
        });
    }
    for (auto& t : posters) t.join();
    ASSERT_TRUE(PumpUntil(loop, [&] { return handled == 3 * kPerThread; }));
    ASSERT_EQ(seen.size(), 6u);
    for (const auto& [key, order] : seen) {
        ASSERT_EQ(order.size(), kPerThread / 2u);
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    }
}

TEST(MessageLoopPost, DestroyedWindowStaysInvalidAndDropsPosts) {
    MessageLoop loop;
    RecordingWindow window(loop);
    EXPECT_TRUE(plat::IsWindow(window.id));
    ASSERT_TRUE(plat::PostMessage(window.id, kWmApp + 1));
    ASSERT_TRUE(plat::DestroyWindow(window.id));

    EXPECT_FALSE(plat::IsWindow(window.id));
    EXPECT_FALSE(plat::PostMessage(window.id, kWmApp + 2));
    EXPECT_EQ(plat::SendMessage(window.id, kWmApp + 3), 0);
    EXPECT_FALSE(plat::SetTimer(window.id, 100, 10));
    EXPECT_FALSE(plat::DestroyWindow(window.id));
    loop.ProcessDue();
    // Only the destroy notice arrived; the queued post was dropped.
    EXPECT_EQ(window.log, std::vector<std::uint32_t>{plat::kWmDestroy});

    const WindowId next = loop.CreateWindow([](Message&) { return MsgResult{0}; });
    EXPECT_NE(next, window.id);
    EXPECT_FALSE(plat::IsWindow(window.id));
    EXPECT_FALSE(plat::IsWindow(plat::kNoWindow));
}

TEST(MessageLoopPost, DestroyNoticeComesOnceEvenWhenTheProcedureDestroysItself) {
    MessageLoop loop;
    int notices = 0;
    WindowId self = loop.CreateWindow([&](Message& m) -> MsgResult {
        if (m.message == plat::kWmDestroy) {
            ++notices;
            EXPECT_TRUE(plat::DestroyWindow(m.window));
        }
        return 0;
    });
    EXPECT_TRUE(plat::DestroyWindow(self));
    EXPECT_EQ(notices, 1);
    EXPECT_FALSE(plat::IsWindow(self));
}

TEST(MessageLoopPost, PayloadsAreFreedWhetherHandledOrDropped) {
    ASSERT_EQ(Tracked::live.load(), 0);
    int sum = 0;
    {
        auto loop = std::make_unique<MessageLoop>();
        const WindowId window = loop->CreateWindow([&](Message& m) -> MsgResult {
            if (auto* t = m.payload.Get<Tracked>()) sum += t->value;
            return 0;
        });
        const WindowId doomed = loop->CreateWindow([](Message&) { return MsgResult{0}; });
        const WindowId orphan = loop->CreateWindow([](Message&) { return MsgResult{0}; });

        ASSERT_TRUE(plat::PostMessage(window, kWmApp, 0, 0, plat::Payload::Make<Tracked>(5)));
        loop->ProcessDue();
        EXPECT_EQ(sum, 5);

        // Dropped when the window is destroyed with messages still queued.
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(plat::PostMessage(doomed, kWmApp, 0, 0, plat::Payload::Make<Tracked>(i)));
        EXPECT_EQ(Tracked::live.load(), 3);
        plat::DestroyWindow(doomed);
        EXPECT_EQ(Tracked::live.load(), 0);

        // Refused at once: posted to a window that no longer exists.
        EXPECT_FALSE(plat::PostMessage(doomed, kWmApp, 0, 0, plat::Payload::Make<Tracked>(9)));
        EXPECT_EQ(plat::SendMessage(doomed, kWmApp, 0, 0, plat::Payload::Make<Tracked>(9)), 0);
        EXPECT_EQ(Tracked::live.load(), 0);

        // Still queued when the loop itself goes away.
        ASSERT_TRUE(plat::PostMessage(orphan, kWmApp, 0, 0, plat::Payload::Make<Tracked>(1)));
        EXPECT_EQ(Tracked::live.load(), 1);
    }
    EXPECT_EQ(Tracked::live.load(), 0);
}

TEST(MessageLoopPost, PayloadIsTypeChecked) {
    plat::Payload payload = plat::Payload::Make<std::string>("text");
    EXPECT_EQ(payload.Get<int>(), nullptr);
    EXPECT_EQ(payload.Take<int>(), nullptr);
    ASSERT_NE(payload.Get<std::string>(), nullptr);
    std::unique_ptr<std::string> taken = payload.Take<std::string>();
    ASSERT_TRUE(taken);
    EXPECT_EQ(*taken, "text");
    EXPECT_FALSE(payload);
}

// ---------------------------------------------------------------------- sending

TEST(MessageLoopSend, CrossThreadSendBlocksUntilHandledAndReturnsTheResult) {
    MessageLoop loop;
    std::atomic<bool> senderReturned{false};
    bool senderWasBlocked = false;
    std::thread::id handledOn;
    std::string carried;
    const WindowId window = loop.CreateWindow([&](Message& m) -> MsgResult {
        senderWasBlocked = !senderReturned.load();
        handledOn = std::this_thread::get_id();
        if (auto* text = m.payload.Get<std::string>()) carried = *text;
        return static_cast<MsgResult>(m.wParam) * 2 + m.lParam;
    });
    MsgResult result = 0;
    std::thread sender([&] {
        result = plat::SendMessage(window, kWmApp + 0x22, 20, 1,
                                   plat::Payload::Make<std::string>("carried"));
        senderReturned = true;
    });
    ASSERT_TRUE(PumpUntil(loop, [&] { return senderReturned.load(); }));
    sender.join();
    EXPECT_EQ(result, 41);
    EXPECT_TRUE(senderWasBlocked);
    EXPECT_EQ(handledOn, std::this_thread::get_id());
    EXPECT_EQ(carried, "carried");
}

TEST(MessageLoopSend, SendOnTheOwnerThreadCallsTheProcedureDirectly) {
    MessageLoop loop;
    std::vector<std::string> log;
    RecordingWindow inner(loop, [&](Message& m) -> MsgResult {
        log.push_back("inner");
        return 7;
    });
    RecordingWindow outer(loop, [&](Message& m) -> MsgResult {
        log.push_back("outer begins");
        EXPECT_EQ(plat::SendMessage(inner.id, kWmUser + 5), 7);
        log.push_back("outer ends");
        return 0;
    });
    // No loop is running: the call itself runs the procedure.
    EXPECT_EQ(plat::SendMessage(inner.id, kWmUser + 1), 7);
    EXPECT_EQ(log, std::vector<std::string>{"inner"});

    log.clear();
    ASSERT_TRUE(plat::PostMessage(outer.id, kWmApp));
    EXPECT_EQ(loop.ProcessDue(), 1u);
    EXPECT_EQ(log, (std::vector<std::string>{"outer begins", "inner", "outer ends"}));
}

TEST(MessageLoopSend, LoopsSendingToEachOtherDoNotDeadlock) {
    MessageLoop mainLoop;
    std::atomic<WindowId> remote{plat::kNoWindow};
    std::atomic<MessageLoop*> remoteLoop{nullptr};
    const WindowId local = mainLoop.CreateWindow([&](Message&) -> MsgResult {
        // Handled while this thread waits for the remote loop's answer.
        return plat::SendMessage(remote, kWmApp + 2) + 10;
    });
    std::thread remoteThread([&] {
        MessageLoop loop;
        remote = loop.CreateWindow([&](Message& m) -> MsgResult {
            // The first message asks back; the second arrives while this thread waits.
            return m.message == kWmApp + 1 ? plat::SendMessage(local, kWmApp) + 100 : 1;
        });
        remoteLoop = &loop;
        loop.Run();
    });
    EXPECT_TRUE(WaitUntil([&] { return remoteLoop.load() != nullptr; }));
    EXPECT_EQ(plat::SendMessage(remote, kWmApp + 1), 111);
    remoteLoop.load()->Quit();
    remoteThread.join();
}

// The three ways a blocked sender must be let go.
enum class Release { DestroyWindow, QuitLoop, DestroyLoop };

class MessageLoopRelease : public ::testing::TestWithParam<Release> {};

TEST_P(MessageLoopRelease, BlockedSenderGetsZero) {
    auto loop = std::make_unique<MessageLoop>();
    bool handled = false;
    const WindowId window = loop->CreateWindow([&](Message& m) -> MsgResult {
        if (m.message == kWmApp) handled = true;
        return 5;
    });
    std::atomic<bool> returned{false};
    MsgResult result = -1;
    std::thread sender([&] {
        result = plat::SendMessage(window, kWmApp, 0, 0, plat::Payload::Make<Tracked>(1));
        returned = true;
    });
    // The send is queued once the loop's descriptor turns readable.
    ASSERT_TRUE(WaitUntil([&] { return FdReadable(loop->WakeFd()); }));
    switch (GetParam()) {
        case Release::DestroyWindow: plat::DestroyWindow(window); break;
        case Release::QuitLoop: loop->Quit(); break;
        case Release::DestroyLoop: loop.reset(); break;
    }
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }));
    sender.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(handled);
    if (loop) loop->ProcessDue();
    EXPECT_FALSE(handled);
    EXPECT_EQ(Tracked::live.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(AllWays, MessageLoopRelease,
                         ::testing::Values(Release::DestroyWindow, Release::QuitLoop,
                                           Release::DestroyLoop));

TEST(MessageLoopSend, SendsAfterQuitReturnAtOnceUntilRunEnds) {
    MessageLoop loop;
    const WindowId window = loop.CreateWindow([](Message&) { return MsgResult{3}; });
    loop.Quit(4);
    MsgResult during = -1;
    std::thread([&] { during = plat::SendMessage(window, kWmApp); }).join();
    EXPECT_EQ(during, 0);
    EXPECT_EQ(loop.Run(), 4);  // the earlier Quit ends it at once

    // Run consumed the quit: sends are served again.
    std::atomic<bool> done{false};
    MsgResult after = -1;
    std::thread sender([&] {
        after = plat::SendMessage(window, kWmApp);
        done = true;
    });
    ASSERT_TRUE(PumpUntil(loop, [&] { return done.load(); }));
    sender.join();
    EXPECT_EQ(after, 3);
}

// ----------------------------------------------------------------------- timers

class MessageLoopTimers : public ::testing::Test {
protected:
    std::shared_ptr<plat::ManualMessageClock> clock = std::make_shared<plat::ManualMessageClock>(1000);
    MessageLoop loop{clock};
    RecordingWindow window{loop};

    // Arms or kills from another thread, as the workers do.
    template <class F>
    static void OnOtherThread(F f) {
        std::thread(f).join();
    }
    std::vector<std::uintptr_t> Fired() {
        loop.ProcessDue();
        std::vector<std::uintptr_t> ids;
        for (std::size_t i = 0; i < window.log.size(); ++i)
            if (window.log[i] == plat::kWmTimer) ids.push_back(window.params[i]);
        window.log.clear();
        window.params.clear();
        return ids;
    }
};

TEST_F(MessageLoopTimers, FiresOncePerDuePeriodAndCoalescesLateTicks) {
    OnOtherThread([&] { ASSERT_TRUE(plat::SetTimer(window.id, 100, 100)); });
    EXPECT_EQ(loop.NextTimerDueMs(), 100u);
    clock->Advance(99);
    EXPECT_TRUE(Fired().empty());
    clock->Advance(1);
    EXPECT_EQ(Fired(), std::vector<std::uintptr_t>{100});
    EXPECT_EQ(loop.NextTimerDueMs(), 100u);  // periodic, from when it was handled
    clock->Advance(1000);
    EXPECT_EQ(Fired(), std::vector<std::uintptr_t>{100});
    EXPECT_TRUE(Fired().empty());
}

TEST_F(MessageLoopTimers, ReArmingFromAnotherThreadRestartsThePeriod) {
    ASSERT_TRUE(plat::SetTimer(window.id, 101, 100));
    clock->Advance(60);
    OnOtherThread([&] { ASSERT_TRUE(plat::SetTimer(window.id, 101, 100)); });
    clock->Advance(60);
    EXPECT_TRUE(Fired().empty());
    clock->Advance(40);
    EXPECT_EQ(Fired(), std::vector<std::uintptr_t>{101});
}

TEST_F(MessageLoopTimers, KillTimerStopsItFromAnyThread) {
    ASSERT_TRUE(plat::SetTimer(window.id, 100, 100));
    ASSERT_TRUE(plat::SetTimer(window.id, 102, 50));
    OnOtherThread([&] { EXPECT_TRUE(plat::KillTimer(window.id, 100)); });
    EXPECT_FALSE(plat::KillTimer(window.id, 100));
    EXPECT_FALSE(plat::KillTimer(window.id, 999));
    clock->Advance(500);
    EXPECT_EQ(Fired(), std::vector<std::uintptr_t>{102});
    ASSERT_TRUE(plat::KillTimer(window.id, 102));
    EXPECT_EQ(loop.NextTimerDueMs(), std::nullopt);
}

TEST_F(MessageLoopTimers, TimersFireInDueOrderAndMayBeKilledByTheirHandler) {
    RecordingWindow killer(loop, [&](Message& m) -> MsgResult {
        if (m.message == plat::kWmTimer) plat::KillTimer(m.window, m.wParam);
        return 0;
    });
    ASSERT_TRUE(plat::SetTimer(window.id, 102, 300));
    ASSERT_TRUE(plat::SetTimer(window.id, 101, 200));
    ASSERT_TRUE(plat::SetTimer(window.id, 100, 100));
    ASSERT_TRUE(plat::SetTimer(killer.id, 100, 100));
    clock->Advance(300);
    EXPECT_EQ(Fired(), (std::vector<std::uintptr_t>{100, 101, 102}));
    EXPECT_EQ(killer.log.size(), 1u);
    clock->Advance(300);
    loop.ProcessDue();
    EXPECT_EQ(killer.log.size(), 1u);
}

TEST_F(MessageLoopTimers, DestroyingTheWindowKillsItsTimers) {
    ASSERT_TRUE(plat::SetTimer(window.id, 100, 100));
    plat::DestroyWindow(window.id);
    EXPECT_EQ(loop.NextTimerDueMs(), std::nullopt);
    EXPECT_FALSE(plat::KillTimer(window.id, 100));
}

TEST_F(MessageLoopTimers, RunWakesWhenTheClockMakesATimerDue) {
    RecordingWindow quitter(loop, [&](Message& m) -> MsgResult {
        if (m.message == plat::kWmTimer) loop.Quit(static_cast<int>(m.wParam));
        return 0;
    });
    ASSERT_TRUE(plat::SetTimer(quitter.id, 102, 100));
    std::thread stepper([&] { clock->Advance(100); });
    EXPECT_EQ(loop.Run(), 102);
    stepper.join();
}

// ------------------------------------------------------- host-loop descriptor

TEST_F(MessageLoopTimers, DescriptorTurnsReadableWhenWorkIsDue) {
    const int fd = loop.WakeFd();
    loop.ProcessDue();
    EXPECT_FALSE(FdReadable(fd));

    OnOtherThread([&] { ASSERT_TRUE(plat::PostMessage(window.id, kWmApp + 1)); });
    EXPECT_TRUE(FdReadable(fd));
    loop.ProcessDue();
    EXPECT_FALSE(FdReadable(fd));

    // Timers changed: the host re-reads NextTimerDueMs.
    OnOtherThread([&] { ASSERT_TRUE(plat::SetTimer(window.id, 100, 100)); });
    EXPECT_TRUE(FdReadable(fd));
    loop.ProcessDue();
    EXPECT_FALSE(FdReadable(fd));
    clock->Advance(99);
    EXPECT_FALSE(FdReadable(fd));
    clock->Advance(1);
    EXPECT_TRUE(FdReadable(fd));
    EXPECT_EQ(Fired(), std::vector<std::uintptr_t>{100});
    EXPECT_FALSE(FdReadable(fd));
}

TEST(MessageLoopHost, ProcessDueLeavesLaterPostsForTheNextRound) {
    MessageLoop loop;
    int handled = 0;
    const WindowId window = loop.CreateWindow([&](Message& m) -> MsgResult {
        ++handled;
        plat::PostMessage(m.window, kWmApp);  // posts itself again, forever
        return 0;
    });
    ASSERT_TRUE(plat::PostMessage(window, kWmApp));
    EXPECT_EQ(loop.ProcessDue(), 1u);
    EXPECT_EQ(handled, 1);
    EXPECT_TRUE(FdReadable(loop.WakeFd()));
}

// ------------------------------------------------------------------ modal runs

// Drives modal runs the way a host event loop does: waits on the descriptor (with the
// next timer as time-out), then lets the loop handle what is due.
void HostRunner(MessageLoop& loop, const std::function<bool()>& finished) {
    while (!finished()) {
        auto next = loop.NextTimerDueMs();
        pollfd p{loop.WakeFd(), POLLIN, 0};
        ::poll(&p, 1, next ? static_cast<int>(*next) : 20000);
        loop.ProcessDue();
    }
}

class MessageLoopModal : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) loop.SetNestedRunner([this](const auto& finished) { HostRunner(loop, finished); });
    }
    MessageLoop loop;
};

TEST_P(MessageLoopModal, MessagesFlowInsideAndTheOuterLoopResumes) {
    enum : std::uint32_t { kOpen = kWmApp + 1, kWork, kNest, kEndInner, kAfter };
    std::vector<std::string> log;
    std::thread worker;
    WindowId main = plat::kNoWindow, dialog = plat::kNoWindow, inner = plat::kNoWindow;
    main = loop.CreateWindow([&](Message& m) -> MsgResult {
        if (m.message == kOpen) {
            log.push_back("open");
            // Posted from a worker while the dialog's nested run waits for them.
            worker = std::thread([&] {
                for (std::uintptr_t i = 0; i < 3; ++i) plat::PostMessage(main, kWork, i);
                plat::PostMessage(dialog, kNest);
            });
            log.push_back("closed " + std::to_string(loop.RunModal(dialog)));
        } else if (m.message == kWork) {
            log.push_back("work " + std::to_string(m.wParam));
        } else if (m.message == kAfter) {
            log.push_back("after");
            loop.Quit();
        }
        return 0;
    });
    dialog = loop.CreateWindow([&](Message& m) -> MsgResult {
        if (m.message == kNest) {
            log.push_back("nested");
            plat::PostMessage(inner, kEndInner);
            log.push_back("inner closed " + std::to_string(loop.RunModal(inner)));
            worker.join();
            plat::EndModal(dialog, 42);
            plat::PostMessage(main, kAfter);
        }
        return 0;
    });
    inner = loop.CreateWindow([&](Message& m) -> MsgResult {
        if (m.message == kEndInner) {
            EXPECT_TRUE(plat::EndModal(inner, 5));
        }
        return 0;
    });
    EXPECT_FALSE(plat::EndModal(dialog, 1));  // no modal run yet
    ASSERT_TRUE(plat::PostMessage(main, kOpen));
    loop.Run();
    EXPECT_EQ(log, (std::vector<std::string>{"open", "work 0", "work 1", "work 2", "nested",
                                             "inner closed 5", "closed 42", "after"}));
}

TEST_P(MessageLoopModal, QuitOrDestroyEndsTheModalRun) {
    const WindowId dialog = loop.CreateWindow([](Message&) { return MsgResult{0}; });
    const WindowId main = loop.CreateWindow([&](Message& m) -> MsgResult {
        if (m.message == kWmApp) return loop.RunModal(dialog);
        if (m.message == kWmApp + 1) plat::DestroyWindow(dialog);
        if (m.message == kWmApp + 2) loop.Quit(9);
        return 0;
    });
    ASSERT_TRUE(plat::PostMessage(main, kWmApp + 1));
    EXPECT_EQ(plat::SendMessage(main, kWmApp), plat::kModalAborted);
    EXPECT_FALSE(plat::IsWindow(dialog));

    const WindowId second = loop.CreateWindow([](Message&) { return MsgResult{0}; });
    std::thread([&] { ASSERT_TRUE(plat::PostMessage(main, kWmApp + 2)); }).join();
    EXPECT_EQ(loop.RunModal(second), plat::kModalAborted);
    EXPECT_EQ(loop.Run(), 9);  // the quit reaches the outer loop
    EXPECT_FALSE(plat::EndModal(second, 1));  // nothing runs for it any more
}

INSTANTIATE_TEST_SUITE_P(BuiltInAndHostDriven, MessageLoopModal, ::testing::Bool());

}  // namespace
