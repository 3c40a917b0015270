// The decisions of the sync cycle's driver, as tables.
#include "sync/app/PhaseDriver.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace phase;

TEST(PendingReasons, RescanAbsorbsItsSideAndBlocksItsChanges) {
    struct Case {
        std::uint32_t pending, reason, expected;
    };
    const Case cases[] = {
        {0, 0, 0},
        {0, 4, 4},
        {0, 8, 8},
        {4, 1, 1},         // a full local rescan absorbs the local changes
        {1, 4, 1},         // no local changes recorded while it is pending
        {8, 2, 2},         // the same on the server side
        {2, 8, 2},
        {4, 2, 6},         // the other side's change stays
        {8, 1, 9},
        {1, 8, 9},
        {2, 4, 6},
        {12, 3, 3},        // both rescans absorb both change bits
        {0, 5, 1},         // a combined reason is judged as a whole
        {0, 0x30, 0},      // bits that are no reason are ignored
        {15 & ~5u, 4, 14}, // 2|8 pending, local changes join
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RecordReason(c.pending, c.reason), c.expected) << c.pending << " + " << c.reason;
    }
}

TEST(PendingReasons, InterruptMatrix) {
    struct Case {
        std::uint32_t pending, phase;
        ConformInterrupt expected;
    };
    const Case cases[] = {
        // local rescan: breaks every step but the server merge
        {kLocalRescan, kConformBuild, {true, false, 0}},
        {kLocalRescan, kConformLocalChanges, {true, false, 0}},
        {kLocalRescan, kConformHash, {true, false, 0}},
        {kLocalRescan, kConformServerChanges, {false, false, 0}},
        {kLocalRescan, kConformMatch, {true, false, 0}},
        // server rescan: leaves the local steps alone
        {kServerRescan, kConformBuild, {true, false, 0}},
        {kServerRescan, kConformLocalChanges, {false, false, 0}},
        {kServerRescan, kConformHash, {false, false, 0}},
        {kServerRescan, kConformServerChanges, {true, false, 0}},
        {kServerRescan, kConformMatch, {true, false, 0}},
        // local changes: taken by a running intake, abort a hash, break a match
        {kLocalChanges, kConformBuild, {false, false, 0}},
        {kLocalChanges, kConformLocalChanges, {false, false, kLocalChanges}},
        {kLocalChanges, kConformHash, {false, true, 0}},
        {kLocalChanges, kConformServerChanges, {false, false, 0}},
        {kLocalChanges, kConformMatch, {true, false, 0}},
        // server changes: taken by a running merge, break a match
        {kServerChanges, kConformBuild, {false, false, 0}},
        {kServerChanges, kConformServerChanges, {false, false, kServerChanges}},
        {kServerChanges, kConformHash, {false, false, 0}},
        {kServerChanges, kConformMatch, {true, false, 0}},
        // together
        {kLocalChanges | kServerChanges, kConformLocalChanges, {false, false, kLocalChanges}},
        {kLocalChanges | kServerRescan, kConformHash, {false, true, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(InterruptFor(c.pending, c.phase), c.expected) << "pending " << c.pending << " phase " << c.phase;
    }
}

TEST(PendingReasons, ChangeStepServesLocalChangesFirst) {
    struct Case {
        std::uint32_t pending, cyclePhase;
        bool commitBusy;
        ChangePlan expected;
    };
    const Case cases[] = {
        {0, 1, false, {ChangeStep::None, 0}},
        {kLocalChanges, 0, false, {ChangeStep::DriverChanges, kLocalChanges}},
        {kLocalChanges, 1, false, {ChangeStep::ConformDriver, kLocalChanges}},
        {kLocalChanges, 2, true, {ChangeStep::ConformDriver, kLocalChanges}},
        {kLocalChanges | kServerChanges, 1, false, {ChangeStep::ConformDriver, kLocalChanges}},
        {kServerChanges, 0, false, {ChangeStep::AlphaServer, kServerChanges}},
        {kServerChanges, 0, true, {ChangeStep::AlphaServer, kServerChanges}},
        {kServerChanges, 1, false, {ChangeStep::ConformServer, kServerChanges}},
        {kServerChanges, 2, true, {ChangeStep::ServerDeferred, kServerChanges}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlanChangeStep(c.pending, c.cyclePhase, c.commitBusy), c.expected)
            << c.pending << " phase " << c.cyclePhase << " busy " << c.commitBusy;
    }
}

TEST(CycleSteps, NextStepAfterAReconciliationStep) {
    // pending, phase, local, server, commit, paused, online, conformReady -> step
    struct Case {
        CycleView view;
        GammaStep expected;
    };
    const auto view = [](std::uint32_t pending, std::uint32_t phaseNow, std::uint32_t local, std::uint32_t server,
                         std::int32_t commit, bool paused, bool online, bool ready) {
        CycleView v;
        v.pending = pending;
        v.cyclePhase = phaseNow;
        v.localState = local;
        v.serverState = server;
        v.commitState = commit;
        v.paused = paused;
        v.online = online;
        v.conformReady = ready;
        return v;
    };
    const Case cases[] = {
        {view(0, 1, 1, 2, 0, false, true, true), GammaStep::Hash},
        {view(0, 1, 1, 2, 0, true, false, true), GammaStep::Hash},  // hashing goes on paused and offline
        {view(0, 1, 2, 2, 0, false, true, true), GammaStep::Match},
        {view(0, 1, 2, 1, 0, false, true, true), GammaStep::None},  // a newer listing is still to merge
        {view(0, 1, 2, 2, 0, true, true, true), GammaStep::None},
        {view(0, 1, 2, 2, 0, false, false, true), GammaStep::None},
        {view(0, 2, 2, 2, 0, false, true, true), GammaStep::StartConform},
        {view(0, 2, 2, 2, 2, false, true, true), GammaStep::StartConform},
        {view(0, 2, 2, 2, 0, true, true, true), GammaStep::None},
        {view(0, 2, 2, 2, 0, false, false, true), GammaStep::None},
        {view(4, 2, 2, 2, 0, false, true, true), GammaStep::DealVariant},  // pending work first
        {view(4, 0, 0, 0, 0, true, false, true), GammaStep::DealVariant},
        {view(4, 2, 2, 2, 1, false, true, true), GammaStep::None},  // never during a commit run
        {view(4, 2, 2, 2, 0, false, true, false), GammaStep::None}, // nor with a busy or dead thread
        {view(0, 0, 2, 2, 0, false, true, true), GammaStep::None},
    };
    for (const Case& c : cases) {
        const CycleView& v = c.view;
        EXPECT_EQ(DecideGamma(v), c.expected)
            << "pending " << v.pending << " phase " << v.cyclePhase << " L" << v.localState << " S" << v.serverState
            << " C" << v.commitState << " paused " << v.paused << " online " << v.online << " ready "
            << v.conformReady;
    }
}

TEST(CycleSteps, QueuedLocalChangesComeBeforeACommitRun) {
    CycleView v;
    v.cyclePhase = 2;
    v.localState = 2;
    v.serverState = 2;
    v.online = true;
    v.conformReady = true;
    v.localQueued = true;
    EXPECT_EQ(DecideGamma(v), GammaStep::ApplyQueuedChanges);
    v.localQueued = false;
    EXPECT_EQ(DecideGamma(v), GammaStep::StartConform);
    // Steps that write nothing go on.
    v.localQueued = true;
    v.cyclePhase = 1;
    EXPECT_EQ(DecideGamma(v), GammaStep::Match);
    v.paused = true;
    v.cyclePhase = 2;
    EXPECT_EQ(DecideGamma(v), GammaStep::None);
}

TEST(CycleSteps, StartOfACommitRun) {
    EXPECT_EQ(DecideStart(true, true, false, true), StartStep::Rebuild);
    EXPECT_EQ(DecideStart(true, false, false, true), StartStep::ReportSuccess);
    EXPECT_EQ(DecideStart(true, false, true, false), StartStep::ReportSuccess);  // nothing to send anyway
    EXPECT_EQ(DecideStart(false, true, true, true), StartStep::Withheld);
    EXPECT_EQ(DecideStart(false, true, false, false), StartStep::Withheld);
    EXPECT_EQ(DecideStart(false, false, false, true), StartStep::Commit);

    EXPECT_TRUE(RootsAgree("ABCDEF", "abcdef"));
    EXPECT_FALSE(RootsAgree("", ""));  // unknown digests never agree
    EXPECT_FALSE(RootsAgree("ABC", ""));
    EXPECT_FALSE(RootsAgree("ABC", "ABD"));
}

TEST(CycleSteps, EndOfACommitRun) {
    EXPECT_EQ(DecideSigma(2, 2, false, true, true), (SigmaOutcome{true, false}));
    EXPECT_EQ(DecideSigma(1, 2, false, true, true), (SigmaOutcome{false, true}));
    EXPECT_EQ(DecideSigma(2, 1, false, true, false), (SigmaOutcome{false, false}));  // no rerun asked for
    EXPECT_EQ(DecideSigma(1, 1, true, true, true), (SigmaOutcome{false, false}));    // paused
    EXPECT_EQ(DecideSigma(1, 2, false, false, true), (SigmaOutcome{false, false}));  // offline
}

TEST(TrayStates, LooksOfTheStates) {
    EXPECT_EQ(LookOf(TrayState::Synced).icon, 252);
    EXPECT_STREQ(LookOf(TrayState::Synced).tooltipKey, "Nuvet云盘 同步成功");
    EXPECT_TRUE(LookOf(TrayState::Syncing).animate);
    EXPECT_STREQ(LookOf(TrayState::Syncing).tooltipKey, "Nuvet云盘 正在同步...");
    EXPECT_EQ(LookOf(TrayState::Comparing).icon, 249);
    EXPECT_EQ(LookOf(TrayState::Connecting).icon, 0);  // the icon stays
    EXPECT_STREQ(LookOf(TrayState::Connecting).tooltipKey, "Nuvet云盘 正在连接...");
    EXPECT_EQ(LookOf(TrayState::Paused).icon, 251);
    EXPECT_EQ(LookOf(TrayState::Offline).icon, 268);
    EXPECT_STREQ(LookOf(TrayState::Offline).tooltipKey, "Nuvet云盘 离线状态");
}

TEST(TrayStates, StateAfterEachEvent) {
    struct Case {
        TrayEvent event;
        std::int32_t commit;
        bool paused, online, both;
        std::optional<TrayState> expected;
    };
    const Case cases[] = {
        {TrayEvent::PollTimer, 2, false, true, false, TrayState::Synced},
        {TrayEvent::PollTimer, 0, false, true, false, TrayState::Syncing},
        {TrayEvent::PollTimer, 2, false, false, false, std::nullopt},  // offline: the offline look stays
        {TrayEvent::Resume, 2, false, false, false, TrayState::Synced},
        {TrayEvent::Resume, 1, false, true, false, TrayState::Syncing},
        {TrayEvent::Pause, 2, true, true, false, TrayState::Paused},
        {TrayEvent::NetworkDown, 2, false, false, false, TrayState::Offline},
        {TrayEvent::NetworkUp, 2, false, true, false, TrayState::Synced},
        {TrayEvent::NetworkUp, 0, false, true, false, TrayState::Syncing},
        {TrayEvent::NetworkUp, 2, true, true, false, TrayState::Paused},
        {TrayEvent::CommitDone, 2, false, true, true, TrayState::Synced},
        {TrayEvent::CommitDone, 0, false, true, false, TrayState::Syncing},
        {TrayEvent::CommitDone, 2, true, true, true, std::nullopt},
        {TrayEvent::CommitDone, 0, false, false, false, std::nullopt},
        {TrayEvent::CommitStarted, 1, false, true, false, TrayState::Syncing},
    };
    for (const Case& c : cases) {
        TrayInputs in;
        in.commitState = c.commit;
        in.paused = c.paused;
        in.online = c.online;
        in.bothSucceeded = c.both;
        EXPECT_EQ(TrayAfter(c.event, in), c.expected) << static_cast<int>(c.event) << " commit " << c.commit;
    }
}

TEST(Debounce, AcceptsOneRestartPerHalfSecond) {
    RestartThrottle throttle;
    // reports at 0, 300, 600, 900, 1100, 1101 ms
    const std::vector<std::pair<std::uint64_t, bool>> reports = {
        {1000, true}, {1300, false}, {1600, true}, {1900, false}, {2100, false}, {2101, true},
        {2000, false},  // earlier than the last accepted one
    };
    for (const auto& [now, accepted] : reports) EXPECT_EQ(throttle.Accept(now), accepted) << now;
    throttle.Reset();
    EXPECT_TRUE(throttle.Accept(2102));
}

namespace {

class FakeWindows : public ModalGuard::Actions {
public:
    bool IsLive(ModalGuard::WindowRef w) override { return live.count(w) != 0; }
    void Raise(ModalGuard::WindowRef w) override { log.push_back("raise " + std::to_string(w)); }
    void Hide(ModalGuard::WindowRef w) override { log.push_back("hide " + std::to_string(w)); }
    void Close(ModalGuard::WindowRef w) override {
        log.push_back("close " + std::to_string(w));
        live.erase(w);
    }
    std::set<ModalGuard::WindowRef> live;
    std::vector<std::string> log;
};

}  // namespace

TEST(ModalGuardTest, OneWindowPerGuardedCommand) {
    FakeWindows windows;
    ModalGuard guard(windows);
    EXPECT_EQ(guard.Dispatch(kCmdSyncDetails, 0, 0), 1);
    windows.live.insert(7);
    EXPECT_EQ(guard.Dispatch(kCmdSyncDetails, 1, 7), 1);
    // A second request raises the open window.
    EXPECT_EQ(guard.Dispatch(kCmdSyncDetails, 0, 0), 0);
    EXPECT_EQ(guard.Dispatch(kCmdSyncDetails, 1, 8), 0);
    EXPECT_EQ(windows.log, (std::vector<std::string>{"raise 7"}));
    // Settings and change of account share one slot; the details slot is another.
    windows.live.insert(9);
    EXPECT_EQ(guard.Dispatch(kCmdSettings, 1, 9), 1);
    EXPECT_EQ(guard.Dispatch(kCmdChangeAccount, 0, 0), 0);
    // Once the window is gone (no longer live), the query allows a new one.
    windows.live.erase(7);
    EXPECT_EQ(guard.Dispatch(kCmdSyncDetails, 0, 0), 1);
    EXPECT_EQ(guard.Dispatch(kCmdSyncDetails, 2, 7), 1);
    EXPECT_EQ(guard.DetailsWindow(), 0u);
    // Other commands are never guarded.
    EXPECT_EQ(guard.Dispatch(32774, 0, 0), 1);
}

TEST(ModalGuardTest, ExitClosesEveryGuardedWindow) {
    FakeWindows windows;
    ModalGuard guard(windows);
    windows.live = {3, 4};
    guard.Dispatch(kCmdSyncDetails, 1, 3);
    guard.Dispatch(kCmdChangeAccount, 1, 4);
    EXPECT_EQ(guard.Dispatch(kCmdExit, 0, 0), 1);
    EXPECT_EQ(windows.log, (std::vector<std::string>{"hide 3", "close 3", "close 4", "hide 4"}));
    EXPECT_EQ(guard.DetailsWindow(), 0u);
    EXPECT_EQ(guard.AccountWindow(), 0u);
}
