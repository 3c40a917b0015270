// The reconciliation thread: commands, the step-finished call, locks and checkpoints.
#include "sync/engine/ThreadOfConform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "ReconcileWorld.h"
#include "support/wait.h"
#include "sync/engine/SyncMessages.h"

namespace enginetest {
namespace {

using testsupport::WaitUntil;

class RecorderWindow : public SyncWindow {
public:
    bool PostMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override { return true; }
    std::intptr_t SendMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override { return 0; }
    void OnGammaConform(std::uintptr_t, std::intptr_t) override { ++gammaCalls; }
    std::atomic<int> gammaCalls{0};
};

class TestApp : public SyncApp {
public:
    plat::Event* AwayDoneEvent() override { return away; }
    plat::Event* HomeDoneEvent() override { return nullptr; }
    std::atomic<plat::Event*> away{nullptr};
};

// Stands in for the local scan thread's hash pass: digests from the fake disk.
class TestConform : public CThreadOfConform {
public:
    TestConform(SyncApp* app, SyncWindow* window, FakeFs& fs) : CThreadOfConform(app, window), fs_(fs) {}
    ~TestConform() override { StopAndWait(); }

protected:
    bool HashLocalFiles() override {
        for (FileNode* node : app->DriverTree.Preorder()) {
            if (node->data->isFile != 0 && node->data->checksum.empty()) {
                node->data->checksum = fs_.Content(fs_.root + NodePath(node, 2));
            }
        }
        return true;
    }

private:
    FakeFs& fs_;
};

class ConformThread : public ::testing::Test {
protected:
    ConformThread() {
        g_pTerminateEvent = &quit;
        app.syncFolder = u"/sync";
        app.mainWindow = &window;
        AddItems(app.TracerTree, "a=A k=K");
        AddItems(app.DriverTree, "a=B k=K");
        AddItems(app.ServerTree, "a=A k=K");
        fs.PutFile("/sync/a", "B");
        fs.PutFile("/sync/k", "K");
        thread = std::make_unique<TestConform>(&app, &window, fs);
        thread->SetEnvironment(&fs, &clock);
        app.conformThread = thread.get();
        thread->Start();
    }
    ~ConformThread() override {
        thread.reset();
        g_pTerminateEvent = nullptr;
    }

    // Posts a command and waits until the thread has finished the step it starts.
    void Step(std::uint32_t command) {
        ASSERT_TRUE(WaitUntil([this] { return thread->doneEvent.IsSet(); }));
        thread->doneEvent.Reset();
        thread->PostCommand(command);
        ASSERT_TRUE(WaitUntil([this] { return thread->doneEvent.IsSet(); }));
    }

    CEventEx quit{"Global Terminate", true, false};
    FakeFs fs;
    FakeClock clock;
    TestApp app;
    RecorderWindow window;
    std::unique_ptr<TestConform> thread;
};

TEST_F(ConformThread, BuildDerivesTasksAndCallsTheWindow) {
    Step(THREAD_CMD_BUILD);
    // The window is called just after the step reads as done.
    EXPECT_TRUE(WaitUntil([this] { return window.gammaCalls.load() == 1; }));
    EXPECT_EQ(window.reconcileState.load(), 1u);
    EXPECT_EQ(DumpPlan(app.UniformTree), "/a:a1t2 /k:a0t0");
    EXPECT_EQ(thread->CONFORM_PHASE.load(), 0u);
    EXPECT_EQ(thread->state.load(), 2u);
}

TEST_F(ConformThread, RunBehavesLikeBuild) {
    Step(THREAD_CMD_RUN);
    // The window is called just after the step reads as done.
    EXPECT_TRUE(WaitUntil([this] { return window.gammaCalls.load() == 1; }));
    EXPECT_EQ(window.reconcileState.load(), 1u);
    EXPECT_EQ(DumpPlan(app.UniformTree), "/a:a1t2 /k:a0t0");
}

TEST_F(ConformThread, CommandsWhilePausedAreDropped) {
    thread->PostCommand(THREAD_CMD_PAUSE);
    thread->PostCommand(THREAD_CMD_BUILD);
    thread->PostCommand(THREAD_CMD_RESUME);
    ASSERT_TRUE(WaitUntil([this] { return thread->state == 4; }));
    EXPECT_EQ(window.gammaCalls.load(), 0);
    EXPECT_TRUE(app.UniformTree.children.empty());
    Step(THREAD_CMD_BUILD);
    // The window is called just after the step reads as done.
    EXPECT_TRUE(WaitUntil([this] { return window.gammaCalls.load() == 1; }));
}

TEST_F(ConformThread, StepThatDidNothingDoesNotCallTheWindow) {
    Step(THREAD_CMD_DRIVER);  // no queued local change
    EXPECT_EQ(window.gammaCalls.load(), 0);
    EXPECT_TRUE(thread->doneEvent.IsSet());
    EXPECT_EQ(thread->CONFORM_PHASE.load(), 0u);
    thread->PostCommand(8);
    thread->PostCommand(20);
    Step(THREAD_CMD_BUILD);
    // The window is called just after the step reads as done.
    EXPECT_TRUE(WaitUntil([this] { return window.gammaCalls.load() == 1; }));
}

TEST_F(ConformThread, BreakWhileWaitingForTheTreeLock) {
    app.treeLock.Lock();
    thread->doneEvent.Reset();
    thread->PostCommand(THREAD_CMD_BUILD);
    ASSERT_TRUE(WaitUntil([this] { return thread->CONFORM_PHASE == CThreadOfConform::kPhaseBuild; }));
    thread->breakEvent.Set();
    ASSERT_TRUE(WaitUntil([this] { return thread->doneEvent.IsSet(); }));
    app.treeLock.Unlock();
    EXPECT_EQ(thread->CONFORM_PHASE.load(), 0u);
    EXPECT_EQ(window.gammaCalls.load(), 0);
    EXPECT_EQ(window.reconcileState.load(), 0u);
    EXPECT_TRUE(app.UniformTree.children.empty());
}

TEST_F(ConformThread, LocalChangesThenHashThenMatch) {
    Step(THREAD_CMD_BUILD);
    fs.PutFile("/sync/n", "N");
    {
        std::lock_guard<std::mutex> hold(app.changeListLock);
        app.localChanges.push_back(Change(kLocalAdded, "n", clock.now - 500));
    }
    Step(THREAD_CMD_DRIVER);
    EXPECT_TRUE(WaitUntil([this] { return window.gammaCalls.load() == 2; }));
    EXPECT_EQ(window.localListingState.load(), 1u);
    EXPECT_TRUE(app.localChanges.empty());
    EXPECT_NE(app.UniformTree.FindChild(std::string_view("n")), app.UniformTree.children.end());

    Step(THREAD_CMD_HASH);
    EXPECT_EQ(window.localListingState.load(), 2u);
    EXPECT_EQ(DumpPlan(app.UniformTree), "/a:a1t2 /k:a0t0 /n:a1t1");

    Step(THREAD_CMD_MATCH);
    EXPECT_EQ(window.reconcileState.load(), 2u);
    EXPECT_TRUE(WaitUntil([this] { return window.gammaCalls.load() == 4; }));
}

TEST_F(ConformThread, LocalChangesWaitForBusyCommitThread) {
    Step(THREAD_CMD_BUILD);
    plat::Event awayDone(true, false);
    app.away = &awayDone;
    {
        std::lock_guard<std::mutex> hold(app.changeListLock);
        app.localChanges.push_back(Change(kLocalModified, "k", clock.now - 500));
    }
    thread->doneEvent.Reset();
    thread->PostCommand(THREAD_CMD_DRIVER);
    ASSERT_TRUE(WaitUntil([this] { return thread->CONFORM_PHASE == CThreadOfConform::kPhaseLocalChanges; }));
    thread->breakEvent.Set();
    ASSERT_TRUE(WaitUntil([this] { return thread->doneEvent.IsSet(); }));
    // The window is called just after the step reads as done.
    EXPECT_TRUE(WaitUntil([this] { return window.gammaCalls.load() == 1; }));
    EXPECT_EQ(app.localChanges.size(), 1u);  // untouched

    awayDone.Set();
    Step(THREAD_CMD_DRIVER);
    EXPECT_TRUE(WaitUntil([this] { return window.gammaCalls.load() == 2; }));
    EXPECT_TRUE(app.localChanges.empty());
    app.away = nullptr;
}

TEST_F(ConformThread, MatchWithEqualRootsSetsNoDuty) {
    app.DriverTree.DeleteChildren();
    AddItems(app.DriverTree, "a=A k=K");
    Step(THREAD_CMD_BUILD);
    app.UniformTree.FindChild(std::string_view("a"))->get()->data->duty = kDutyCopy;
    Step(THREAD_CMD_MATCH);
    EXPECT_EQ(window.reconcileState.load(), 2u);
    EXPECT_EQ(app.UniformTree.FindChild(std::string_view("a"))->get()->data->duty,
              static_cast<std::uint32_t>(kDutyCopy));
}

TEST(ConformThreadBind, NullOwnerEndsTheThread) {
    CThreadOfConform thread(nullptr, nullptr);
    thread.Start();
    ASSERT_TRUE(WaitUntil([&thread] { return !thread.IsAlive(); }));
    EXPECT_EQ(thread.exitCode.load(), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace enginetest
