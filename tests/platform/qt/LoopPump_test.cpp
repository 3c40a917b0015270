// Qt's event loop drives the message loop: posts from other threads, the loop's timers,
// and nested runs both ways (a loop modal run inside Qt, a Qt loop inside a procedure).
#include "platform/qt/LoopPump.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <thread>

namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "LoopPump_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

constexpr std::uint32_t kCount = plat::kWmApp + 1;
constexpr std::uint32_t kStartNested = plat::kWmApp + 2;
constexpr std::uint32_t kLeaveNested = plat::kWmApp + 3;
constexpr int kDeadlineResult = -7;

// A modal run of the loop that a Qt timer ends after 20 s when the test hangs.
int RunWithDeadline(plat::MessageLoop& loop, plat::WindowId window) {
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [window] { plat::EndModal(window, kDeadlineResult); });
    deadline.start(20000);
    return loop.RunModal(window);
}

TEST(LoopPump, PostsFromAnotherThreadAreHandledInsideQtsLoop) {
    App();
    plat::MessageLoop loop;
    plat::qt::LoopPump pump(loop);
    int handled = 0;
    const plat::WindowId window = loop.CreateWindow([&](plat::Message& m) -> plat::MsgResult {
        if (m.message == kCount && ++handled == 500) plat::EndModal(m.window, 1);
        return 0;
    });
    std::thread sender([window] {
        for (int i = 0; i < 500; ++i) plat::PostMessage(window, kCount);
    });
    EXPECT_EQ(RunWithDeadline(loop, window), 1);
    sender.join();
    EXPECT_EQ(handled, 500);
}

TEST(LoopPump, TimersOfTheLoopFireAndOneArmedFromAnotherThreadWakesIt) {
    App();
    plat::MessageLoop loop;
    plat::qt::LoopPump pump(loop);
    int ticks = 0;
    bool otherFired = false;
    const plat::WindowId window = loop.CreateWindow([&](plat::Message& m) -> plat::MsgResult {
        if (m.message != plat::kWmTimer) return 0;
        if (m.wParam == 1 && ++ticks == 3) plat::KillTimer(m.window, 1);
        if (m.wParam == 2) {
            otherFired = true;
            plat::KillTimer(m.window, 2);
        }
        if (ticks >= 3 && otherFired) plat::EndModal(m.window, 1);
        return 0;
    });
    plat::SetTimer(window, 1, 15);
    std::thread arm([window] { plat::SetTimer(window, 2, 30); });
    arm.join();
    EXPECT_EQ(RunWithDeadline(loop, window), 1);
    EXPECT_EQ(ticks, 3);
    EXPECT_TRUE(otherFired);
}

TEST(LoopPump, QtEventsRunInsideAModalRunAndTheLoopRunsInsideAQtLoop) {
    App();
    plat::MessageLoop loop;
    plat::qt::LoopPump pump(loop);
    bool qtTimerRan = false;
    bool leftNested = false;
    QEventLoop* nested = nullptr;
    std::thread worker;
    const plat::WindowId window = loop.CreateWindow([&](plat::Message& m) -> plat::MsgResult {
        if (m.message == kStartNested) {
            // A Qt loop inside a procedure, as a dialog's exec runs one: a worker posts
            // meanwhile, and its message, handled inside, ends the Qt loop.
            QEventLoop inner;
            nested = &inner;
            QTimer::singleShot(0, &inner, [&] { qtTimerRan = true; });
            QTimer guard;
            guard.setSingleShot(true);
            QObject::connect(&guard, &QTimer::timeout, &inner, &QEventLoop::quit);
            guard.start(20000);
            const plat::WindowId self = m.window;
            worker = std::thread([self] { plat::PostMessage(self, kLeaveNested); });
            inner.exec();
            nested = nullptr;
            plat::EndModal(self, leftNested ? 1 : 2);
        } else if (m.message == kLeaveNested) {
            leftNested = true;
            if (nested) nested->quit();
        }
        return 0;
    });
    plat::PostMessage(window, kStartNested);
    const int result = RunWithDeadline(loop, window);
    if (worker.joinable()) worker.join();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(qtTimerRan);
    EXPECT_TRUE(leftNested);
}

}  // namespace
