#include "sync/app/PhaseDriver.h"

#include "sync/common/BaseFunc.h"

namespace phase {

std::uint32_t RecordReason(std::uint32_t pending, std::uint32_t reason) {
    reason &= kAllReasons;
    if (reason == 0) return pending;
    const std::uint32_t rescans = (pending | reason) & (kLocalRescan | kServerRescan);
    if ((reason & kLocalRescan) != 0) pending &= ~kLocalChanges;
    if ((reason & kServerRescan) != 0) pending &= ~kServerChanges;
    if ((rescans & kLocalRescan) != 0) reason &= ~kLocalChanges;
    if ((rescans & kServerRescan) != 0) reason &= ~kServerChanges;
    return pending | reason;
}

ConformInterrupt InterruptFor(std::uint32_t pending, std::uint32_t conformPhase) {
    ConformInterrupt out;
    if ((pending & kLocalRescan) != 0 && conformPhase != kConformServerChanges) out.signalBreak = true;
    if ((pending & kServerRescan) != 0 && conformPhase != kConformLocalChanges && conformPhase != kConformHash) {
        out.signalBreak = true;
    }
    if ((pending & kLocalChanges) != 0) {
        if (conformPhase == kConformLocalChanges) out.clearBits |= kLocalChanges;
        if (conformPhase == kConformHash) out.signalAbort = true;
        if (conformPhase == kConformMatch) out.signalBreak = true;
    }
    if ((pending & kServerChanges) != 0) {
        if (conformPhase == kConformServerChanges) out.clearBits |= kServerChanges;
        if (conformPhase == kConformMatch) out.signalBreak = true;
    }
    return out;
}

ChangePlan PlanChangeStep(std::uint32_t pending, std::uint32_t cyclePhase, bool commitBusy) {
    if ((pending & kLocalChanges) != 0) {
        return {cyclePhase == 0 ? ChangeStep::DriverChanges : ChangeStep::ConformDriver, kLocalChanges};
    }
    if ((pending & kServerChanges) != 0) {
        if (cyclePhase == 0) return {ChangeStep::AlphaServer, kServerChanges};
        return {commitBusy ? ChangeStep::ServerDeferred : ChangeStep::ConformServer, kServerChanges};
    }
    return {};
}

GammaStep DecideGamma(const CycleView& v) {
    if (v.commitState == kCommitRunning || !v.conformReady) return GammaStep::None;
    if (v.pending != 0) return GammaStep::DealVariant;
    if (v.cyclePhase == 1) {
        if (v.localState == 1) return GammaStep::Hash;
        if (v.localState == 2 && !v.paused && v.online && v.serverState == 2) return GammaStep::Match;
        return GammaStep::None;
    }
    if (v.cyclePhase == 2 && !v.paused && v.online) {
        return v.localQueued ? GammaStep::ApplyQueuedChanges : GammaStep::StartConform;
    }
    return GammaStep::None;
}

StartStep DecideStart(bool rootsAgree, bool tasksLeft, bool paused, bool online) {
    if (rootsAgree) return tasksLeft ? StartStep::Rebuild : StartStep::ReportSuccess;
    if (paused || !online) return StartStep::Withheld;
    return StartStep::Commit;
}

bool RootsAgree(const std::string& localRoot, const std::string& serverRoot) {
    return !localRoot.empty() && !serverRoot.empty() && BaseFunc::EqualNoCase(localRoot, serverRoot);
}

SigmaOutcome DecideSigma(std::int16_t homeResult, std::int16_t awayResult, bool paused, bool online,
                         bool rerunAfterCommit) {
    SigmaOutcome out;
    out.bothSucceeded = homeResult == 2 && awayResult == 2;
    const bool failed = homeResult == 1 || awayResult == 1;
    out.postGamma = failed && !paused && online && rerunAfterCommit;
    return out;
}

TrayLook LookOf(TrayState state) {
    switch (state) {
        case TrayState::Synced: return {kIconSynced, false, "Nuvet云盘 同步成功"};
        case TrayState::Syncing: return {0, true, "Nuvet云盘 正在同步..."};
        case TrayState::Comparing: return {kIconComparing, false, "Nuvet云盘 正在对比..."};
        case TrayState::Connecting: return {0, false, "Nuvet云盘 正在连接..."};
        case TrayState::Paused: return {kIconPaused, false, "Nuvet云盘 暂停同步"};
        case TrayState::Offline: return {kIconOffline, false, "Nuvet云盘 离线状态"};
    }
    return {};
}

namespace {
TrayState ByCommit(std::int32_t commitState) {
    return commitState == kCommitSucceeded ? TrayState::Synced : TrayState::Syncing;
}
}  // namespace

std::optional<TrayState> TrayAfter(TrayEvent event, const TrayInputs& in) {
    switch (event) {
        case TrayEvent::PollTimer:
            if (!in.online) return std::nullopt;
            return ByCommit(in.commitState);
        case TrayEvent::Resume: return ByCommit(in.commitState);
        case TrayEvent::Pause: return TrayState::Paused;
        case TrayEvent::NetworkDown: return TrayState::Offline;
        case TrayEvent::NetworkUp:
            if (in.paused) return TrayState::Paused;
            return ByCommit(in.commitState);
        case TrayEvent::CommitDone:
            if (in.paused || !in.online) return std::nullopt;
            return in.bothSucceeded ? TrayState::Synced : TrayState::Syncing;
        case TrayEvent::CommitStarted: return TrayState::Syncing;
    }
    return std::nullopt;
}

bool RestartThrottle::Accept(std::uint64_t nowMs) {
    if (accepted_ && (nowMs < last_ || nowMs - last_ <= kQuietMs)) return false;
    accepted_ = true;
    last_ = nowMs;
    return true;
}

ModalGuard::WindowRef* ModalGuard::SlotOf(std::uint32_t command) {
    if (command == kCmdSyncDetails) return &details_;
    if (command == kCmdChangeAccount || command == kCmdSettings) return &account_;
    return nullptr;
}

int ModalGuard::Dispatch(std::uint32_t command, int phaseOfCall, WindowRef window) {
    if (phaseOfCall == 0 && command == kCmdExit) {
        if (details_ != 0 && actions_.IsLive(details_)) {
            actions_.Hide(details_);
            actions_.Close(details_);
        }
        if (account_ != 0 && actions_.IsLive(account_)) {
            actions_.Close(account_);
            actions_.Hide(account_);
        }
        details_ = 0;
        account_ = 0;
        return 1;
    }
    WindowRef* slot = SlotOf(command);
    if (slot == nullptr) return 1;
    const bool live = *slot != 0 && actions_.IsLive(*slot);
    if (!live) *slot = 0;
    switch (phaseOfCall) {
        case 0:
            if (live) {
                actions_.Raise(*slot);
                return 0;
            }
            return 1;
        case 1:
            if (live) return 0;
            *slot = window;
            return 1;
        case 2:
            *slot = 0;
            return 1;
        default:
            return 1;
    }
}

}  // namespace phase
