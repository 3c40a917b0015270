#pragma once
// The decisions of the sync cycle's driver, kept apart from the main window so that each
// one can be checked on its own: which pending reasons are recorded, which running
// reconciliation step a new reason interrupts, what the next step is, whether a commit
// run starts, what the tray shows, and the throttle of the debounce timers.
//
// The main window (COrvaneDlg) owns the cycle state and carries these decisions out; the
// functions here only read the values they are given.
#include <cstdint>
#include <optional>
#include <string>

namespace phase {

// Pending-work reasons (bits of the pending word, wParam of WM_DELTA_CONFORM).
inline constexpr std::uint32_t kLocalRescan = 1;   // list the local folder again from scratch
inline constexpr std::uint32_t kServerRescan = 2;  // log in again and list the server from scratch
inline constexpr std::uint32_t kLocalChanges = 4;  // apply the queued local changes
inline constexpr std::uint32_t kServerChanges = 8; // merge a newer server listing
inline constexpr std::uint32_t kAllReasons = 15;

// Running phases of the reconciliation thread (its CONFORM_PHASE word).
inline constexpr std::uint32_t kConformIdle = 0;
inline constexpr std::uint32_t kConformBuild = 1;
inline constexpr std::uint32_t kConformLocalChanges = 2;
inline constexpr std::uint32_t kConformHash = 3;
inline constexpr std::uint32_t kConformServerChanges = 4;
inline constexpr std::uint32_t kConformMatch = 5;

// Commit state word.
inline constexpr std::int32_t kCommitIdle = 0;
inline constexpr std::int32_t kCommitRunning = 1;
inline constexpr std::int32_t kCommitSucceeded = 2;

// The pending word after `reason` arrived: a full rescan absorbs the change bit of its
// side, and a change bit is not recorded while the full rescan of its side is pending.
// Bits other than the four reasons are ignored.
std::uint32_t RecordReason(std::uint32_t pending, std::uint32_t reason);

// What a new pending word does to a reconciliation step that is running in `conformPhase`.
struct ConformInterrupt {
    bool signalBreak = false;
    bool signalAbort = false;
    std::uint32_t clearBits = 0;  // reasons the running step takes care of itself

    bool operator==(const ConformInterrupt&) const = default;
};
ConformInterrupt InterruptFor(std::uint32_t pending, std::uint32_t conformPhase);

// The change step that DealVariant hands out once the full rescans are served.
enum class ChangeStep {
    None,
    DriverChanges,   // THREAD_CMD_CHANGES to the local scan thread (no unified tree yet)
    ConformDriver,   // THREAD_CMD_DRIVER to the reconciliation thread
    AlphaServer,     // post WM_ALPHA_CONFORM (0, 1): the listing becomes the Server tree
    ServerDeferred,  // a commit thread is busy: the next server poll brings the listing again
    ConformServer,   // THREAD_CMD_SERVER to the reconciliation thread
};
struct ChangePlan {
    ChangeStep step = ChangeStep::None;
    std::uint32_t servedBit = 0;  // the bit that is cleared (0 for None)

    bool operator==(const ChangePlan&) const = default;
};
// Bit 4 first; bit 8 only when bit 4 is not set. `commitBusy`: a commit thread is alive
// and not idle.
ChangePlan PlanChangeStep(std::uint32_t pending, std::uint32_t cyclePhase, bool commitBusy);

// The state the cycle decisions look at.
struct CycleView {
    std::uint32_t pending = 0;
    std::uint32_t cyclePhase = 0;   // 0 no unified tree, 1 built, 2 matched
    std::uint32_t localState = 0;   // 0, 1 listed, 2 listed and digested
    std::uint32_t serverState = 0;  // 0, 1 newer listing waiting, 2 ready
    std::int32_t commitState = 0;
    bool paused = false;
    bool online = false;
    bool conformReady = false;      // the reconciliation thread is alive and idle
    bool localQueued = false;       // local change records wait in the queue
};

// The next step after a reconciliation step finished (OnGammaConform). A commit run never
// starts while local changes wait in the queue: the files they name may hold edits the
// trees do not know yet, so the changes are applied first (ApplyQueuedChanges: record
// the local-changes reason and serve it).
enum class GammaStep { None, DealVariant, Hash, Match, StartConform, ApplyQueuedChanges };
GammaStep DecideGamma(const CycleView& view);

// What StartConform does with matched trees.
enum class StartStep {
    Rebuild,        // trees agree but tasks are left: THREAD_CMD_BUILD
    ReportSuccess,  // trees agree, nothing left: WM_SIGMA_CONFORM (2, 2) to itself
    Withheld,       // trees differ but paused or offline: -1
    Commit,         // trees differ: run both commit threads
};
StartStep DecideStart(bool rootsAgree, bool tasksLeft, bool paused, bool online);
// The roots agree when both checksums are known and equal ignoring ASCII case.
bool RootsAgree(const std::string& localRoot, const std::string& serverRoot);

// What OnSigmaConform does once both commit results are in (1 failed, 2 succeeded).
struct SigmaOutcome {
    bool bothSucceeded = false;
    bool postGamma = false;  // a failed side with a rerun wanted: another reconciliation step

    bool operator==(const SigmaOutcome&) const = default;
};
SigmaOutcome DecideSigma(std::int16_t homeResult, std::int16_t awayResult, bool paused, bool online,
                         bool rerunAfterCommit);

// ---- tray feedback ----

enum class TrayState { Synced, Syncing, Comparing, Connecting, Paused, Offline };

inline constexpr int kIconSynced = 252;
inline constexpr int kIconComparing = 249;
inline constexpr int kIconPaused = 251;
inline constexpr int kIconOffline = 268;  // also the icon of the first start ("connecting")

struct TrayLook {
    int icon = 0;          // fixed icon, 0 = animation or unchanged
    bool animate = false;  // the syncing animation
    const char* tooltipKey = "";
};
TrayLook LookOf(TrayState state);

// Moments at which the tray changes.
enum class TrayEvent {
    PollTimer,     // timer 100
    Resume,        // pause lifted (menu or pipe)
    Pause,
    NetworkDown,
    NetworkUp,     // the final look after a network return
    CommitDone,    // both commit results in
    CommitStarted,
};
struct TrayInputs {
    std::int32_t commitState = 0;
    bool paused = false;
    bool online = false;
    bool bothSucceeded = false;  // CommitDone only
};
// The state the tray takes at the event; none when it keeps its look.
std::optional<TrayState> TrayAfter(TrayEvent event, const TrayInputs& in);

// ---- debounce ----

// Accepts a restart of a debounce timer unless the last accepted one is 500 ms or less
// ago (or in the future). The first call is always accepted.
class RestartThrottle {
public:
    static constexpr std::uint64_t kQuietMs = 500;
    bool Accept(std::uint64_t nowMs);
    void Reset() { accepted_ = false; }

private:
    bool accepted_ = false;
    std::uint64_t last_ = 0;
};

// ---- the guard of the single modal windows ----

// Guarded commands.
inline constexpr std::uint32_t kCmdSyncDetails = 32776;
inline constexpr std::uint32_t kCmdChangeAccount = 32778;
inline constexpr std::uint32_t kCmdSettings = 32780;
inline constexpr std::uint32_t kCmdExit = 32781;

// Keeps at most one modal window per guarded command: one slot for the sync-details
// window (32776), one shared by change account (32778) and settings (32780). Windows are
// named by opaque non-zero ids; `isLive` tells whether an id still names a window.
class ModalGuard {
public:
    using WindowRef = std::uint64_t;
    struct Actions {
        virtual ~Actions() = default;
        virtual bool IsLive(WindowRef window) = 0;
        virtual void Raise(WindowRef window) = 0;
        virtual void Hide(WindowRef window) = 0;
        virtual void Close(WindowRef window) = 0;  // posts a close request
    };

    explicit ModalGuard(Actions& actions) : actions_(actions) {}
    // Phase 0 query, 1 enter, 2 leave; see the window's NonReentrantDispatch.
    int Dispatch(std::uint32_t command, int phaseOfCall, WindowRef window);
    WindowRef DetailsWindow() const { return details_; }
    WindowRef AccountWindow() const { return account_; }

private:
    WindowRef* SlotOf(std::uint32_t command);
    Actions& actions_;
    WindowRef details_ = 0;
    WindowRef account_ = 0;
};

}  // namespace phase
