// The network monitor with a scripted probe: the flag follows the probe, every change a
// poll sees is told to the main window once, and a quit or break ends the loop at once.
#include <atomic>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "CommitTestSupport.h"
#include "sync/engine/ThreadOfAdapter.h"

using namespace committest;

namespace {

const auto* const kQuitEnvironment = ::testing::AddGlobalTestEnvironment(new QuitEventEnvironment);

// Answers the scripted values in turn, then keeps answering the last one.
class ScriptedProbe {
public:
    explicit ScriptedProbe(std::vector<bool> values) : values_(std::move(values)) {}
    bool operator()() {
        std::lock_guard<std::mutex> hold(lock_);
        const std::size_t at = std::min(polls_, values_.size() - 1);
        ++polls_;
        return values_[at];
    }
    std::size_t Polls() const {
        std::lock_guard<std::mutex> hold(lock_);
        return polls_;
    }

private:
    mutable std::mutex lock_;
    std::vector<bool> values_;
    std::size_t polls_ = 0;
};

class AdapterTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_pTerminateEvent->Reset();
        g_bNetworkUp = true;
    }
    void TearDown() override {
        std::uint32_t code = 0;
        adapter.Stop(code);
        g_pTerminateEvent->Reset();
        g_bNetworkUp = true;
    }
    void Run(const std::shared_ptr<ScriptedProbe>& probe, std::uint32_t pollMs) {
        adapter.SetProbe([probe] { return (*probe)(); });
        adapter.pollMs = pollMs;
        adapter.Start();
        adapter.PostCommand(THREAD_CMD_RUN);
    }

    SyncApp app;
    RecordingWindow window;
    CThreadOfAdapter adapter{&app, &window};
};

TEST_F(AdapterTest, TheFirstPollSetsTheFlagWithoutTellingTheWindow) {
    auto probe = std::make_shared<ScriptedProbe>(std::vector<bool>{false});
    Run(probe, 60000);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return probe->Polls() == 1 && !g_bNetworkUp.load(); }));
    EXPECT_EQ(window.adapterResets.load(), 0);
}

TEST_F(AdapterTest, EveryChangeAPollSeesIsToldOnce) {
    // first poll, then: same, down, down, up, up ...
    auto probe = std::make_shared<ScriptedProbe>(std::vector<bool>{true, true, false, false, true});
    Run(probe, 1);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return probe->Polls() >= 8; }));
    EXPECT_EQ(window.adapterResets.load(), 2);
    EXPECT_TRUE(g_bNetworkUp.load());
}

TEST_F(AdapterTest, QuitEndsTheLoopWithoutAnotherPoll) {
    auto probe = std::make_shared<ScriptedProbe>(std::vector<bool>{true});
    Run(probe, 60000);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return probe->Polls() == 1; }));
    g_pTerminateEvent->Set();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return adapter.doneEvent.IsSet(); }));
    EXPECT_EQ(probe->Polls(), 1u);
}

TEST_F(AdapterTest, ABreakEndsTheRunAndANewRunPollsAgain) {
    auto probe = std::make_shared<ScriptedProbe>(std::vector<bool>{true});
    Run(probe, 60000);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return probe->Polls() == 1; }));
    adapter.breakEvent.Set();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return adapter.doneEvent.IsSet(); }));
    adapter.PostCommand(THREAD_CMD_RUN);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return probe->Polls() == 2; }));
}

TEST_F(AdapterTest, BindingWithoutAWindowEndsTheThread) {
    CThreadOfAdapter orphan(&app, nullptr);
    orphan.Start();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !orphan.IsAlive(); }));
    EXPECT_EQ(orphan.exitCode.load(), 0xFFFFFFFFu);
}

}  // namespace
