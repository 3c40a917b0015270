// The worker roster without a window loop: which workers it tells to break off, when a
// replaced worker may be destroyed, and that a worker's send never waits for a window
// that waits for that worker.
#include "sync/app/WorkerRoster.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/wait.h"
#include "sync/common/SyncBase.h"
#include "sync/engine/ThreadOfAway.h"
#include "sync/engine/ThreadOfConform.h"
#include "sync/engine/ThreadOfDriver.h"
#include "sync/engine/ThreadOfServer.h"

namespace {

using Role = WorkerRoster::Role;

class QuietWindow : public SyncWindow {
public:
    bool PostMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override { return true; }
    std::intptr_t SendMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override { return 0; }
    void OnGammaConform(std::uintptr_t, std::intptr_t) override {}
};

class Roster : public ::testing::Test {
protected:
    Roster() { g_pTerminateEvent = &quit; }
    ~Roster() override {
        quit.Set();
        roster.reset();
        g_pTerminateEvent = nullptr;
    }

    // Every worker made, the listers' threads running and idle.
    void MakeAll() {
        roster->MakeListers();
        ASSERT_TRUE(roster->MakeWindowWorkers(window));
        ASSERT_TRUE(roster->Run(Role::Driver, 0));
        ASSERT_TRUE(roster->Run(Role::Server, 0));
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            return app.driverThread->IsAlive() && app.serverThread->IsAlive();
        }));
    }

    CEventEx quit{"Global Terminate", true, false};
    SyncApp app;
    QuietWindow window;
    std::unique_ptr<WorkerRoster> roster =
        std::make_unique<WorkerRoster>(app, WorkerRoster::Settings{[] { return false; }, 50, nullptr});
};

TEST_F(Roster, OnlyTheBusyWorkersAreToldToBreakOff) {
    MakeAll();
    // A pass under way in the local scan; the inventory idle; the reconciliation thread
    // not started at all, whatever its done event says.
    app.driverThread->doneEvent.Reset();
    app.conformThread->doneEvent.Reset();
    EXPECT_TRUE(roster->BreakBusy({Role::Driver, Role::Server, Role::Conform}));
    EXPECT_TRUE(app.driverThread->breakEvent.IsSet());
    EXPECT_FALSE(app.serverThread->breakEvent.IsSet());
    EXPECT_FALSE(app.conformThread->breakEvent.IsSet());
    EXPECT_FALSE(roster->BreakBusy({Role::Server, Role::Conform, Role::Away, Role::Home}));
    app.driverThread->doneEvent.Set();
}

TEST_F(Roster, SendsArePostsWhileTheRosterWaitsAndFromTheExitOn) {
    MakeAll();
    EXPECT_FALSE(roster->SendsAsPosts().IsSet());
    // The worker finishes its pass only once the window's sends no longer block it.
    app.driverThread->doneEvent.Reset();
    std::thread worker([&] {
        if (testsupport::WaitUntil([&] { return roster->SendsAsPosts().IsSet(); })) app.driverThread->doneEvent.Set();
    });
    EXPECT_TRUE(roster->WaitIdle(Role::Driver, 60000));
    worker.join();
    EXPECT_FALSE(roster->SendsAsPosts().IsSet());
    {
        WorkerRoster::WaitScope outer(*roster);
        {
            WorkerRoster::WaitScope inner(*roster);
        }
        EXPECT_TRUE(roster->SendsAsPosts().IsSet());
    }
    EXPECT_FALSE(roster->SendsAsPosts().IsSet());
    roster->HoldSendsAsPosts();
    {
        WorkerRoster::WaitScope scope(*roster);
    }
    EXPECT_TRUE(roster->SendsAsPosts().IsSet());
}

TEST_F(Roster, AReplacedCommitThreadGoesOnceTheReconciliationIsIdle) {
    MakeAll();
    ASSERT_TRUE(roster->Run(Role::Away, 0));
    CThreadOfAway* old = app.awayThread;
    roster->ReplaceCommit(true);
    ASSERT_NE(app.awayThread, nullptr);
    EXPECT_NE(app.awayThread, old);
    EXPECT_TRUE(app.awayThread->IsAlive());
    EXPECT_EQ(roster->DoneEvent(Role::Away), &app.awayThread->doneEvent);
    ASSERT_EQ(roster->RetiredCount(), 1u);
    // The reconciliation thread may still wait on the old thread's done event.
    app.conformThread->doneEvent.Reset();
    roster->ReapRetired();
    EXPECT_EQ(roster->RetiredCount(), 1u);
    app.conformThread->doneEvent.Set();
    roster->ReapRetired();
    EXPECT_EQ(roster->RetiredCount(), 0u);
}

TEST_F(Roster, AReplacedListerStaysAsItsRuleSays) {
    MakeAll();
    CThreadOfDriver* oldDriver = app.driverThread;
    CThreadOfServer* oldServer = app.serverThread;
    roster->ReplaceDriver();
    roster->ReplaceServer();
    EXPECT_NE(app.driverThread, oldDriver);
    EXPECT_NE(app.serverThread, oldServer);
    // The fresh inventory runs; the fresh local scan waits for its start.
    EXPECT_TRUE(app.serverThread->IsAlive());
    EXPECT_FALSE(app.driverThread->IsAlive());
    ASSERT_EQ(roster->RetiredCount(), 2u);
    // The old inventory goes once its thread ended; the old local scan only at the end,
    // since a reconciliation step may still use it.
    roster->ReapRetired();
    EXPECT_EQ(roster->RetiredCount(), 1u);
    quit.Set();
    roster->StopAll();
    roster->DestroyAll();
    EXPECT_EQ(roster->RetiredCount(), 0u);
    EXPECT_EQ(app.driverThread, nullptr);
    EXPECT_EQ(app.serverThread, nullptr);
    EXPECT_EQ(app.conformThread, nullptr);
    EXPECT_EQ(app.adapterThread, nullptr);
    EXPECT_EQ(roster->DoneEvent(Role::Away), nullptr);
}

}  // namespace
