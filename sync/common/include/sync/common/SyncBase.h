#pragma once
// Checkpoints of the sync workers and the application's process-wide events.
//
// CSyncBase is the second base of every worker (after CThread). It holds the worker's
// own events and offers the checkpoints that long work calls to find out, without
// blocking, whether it must stop: the result is the index of the first set event of the
// checkpoint's list, kSyncNothingSet (258) when none is set, or kSyncGlobalMissing
// (0xFFFFFFFF) when the quit event is missing. An index means stop, 258 and 0xFFFFFFFF
// mean carry on: every caller asks IsStopResult, never the numbers itself. WaitForPeer is
// the exception: go on only on result 3.
//
// The quit event is required: an application whose g_pTerminateEvent is missing must
// refuse to start (SyncGlobalEventsReady). The suspend and resume events are optional;
// a missing one counts as not set and never disables the quit and break tests.
#include <cstdint>
#include <string>

#include "platform/namedlock.h"
#include "platform/waitable.h"

template <typename T> class TreeNode;
struct SyncTaskInfo;
class COrvaneDlg;

// Checkpoint results besides an event index.
constexpr std::uint32_t kSyncNothingSet = 258;
constexpr std::uint32_t kSyncGlobalMissing = 0xFFFFFFFFu;

// Whether a result of CheckBreak, CheckState, PollBreak or PollSuspend means stop: it is
// the index of a set event (quit, suspend, break or abort). Nothing set (258) and a
// missing quit event (0xFFFFFFFF) mean carry on.
constexpr bool IsStopResult(std::uint32_t result) { return result < kSyncNothingSet; }

// An in-process event with a name. One event of the application (the single-instance
// event) claims its name across processes: it takes an exclusive lock on a lock file of
// that name in the per-user runtime folder, held while the object lives and released by
// the system when the process ends (a crash included). `alreadyExisted` is 1 when
// another live process (or another object of this process) holds the name.
class CEventEx : public plat::Event {
public:
    enum class NameClaim { None, Exclusive };

    CEventEx(const std::string& name, bool manualReset, bool initiallySet,
             NameClaim claim = NameClaim::None);
    CEventEx(const CEventEx&) = delete;
    CEventEx& operator=(const CEventEx&) = delete;

    const std::string& Name() const { return name_; }
    // True when this object holds its name's lock (only with NameClaim::Exclusive).
    // With alreadyExisted 0 and HoldsName() false the claim could not be made at all
    // (no usable runtime folder): single instance cannot be vouched for.
    bool HoldsName() const { return lock_.Held(); }

    std::uint32_t alreadyExisted = 0;

private:
    std::string name_;
    plat::NamedLock lock_;
};

// The application's "Global Terminate", "Global Suspend" and "Global Resume" events,
// set once at start-up before any worker starts.
extern CEventEx* g_pTerminateEvent;
extern CEventEx* g_pSuspendEvent;
extern CEventEx* g_pResumeEvent;

// True when the globals the workers need are in place (the quit event). The
// application refuses to start otherwise.
bool SyncGlobalEventsReady();

class CSyncBase {
public:
    CSyncBase() = default;
    virtual ~CSyncBase() = default;
    CSyncBase(const CSyncBase&) = delete;
    CSyncBase& operator=(const CSyncBase&) = delete;

    // quit, breakEvent. Logs the event that stopped it (caller's function and line).
    std::uint32_t CheckBreak(const char* func, int line);
    // quit, suspend, breakEvent. Logs the event that stopped it.
    std::uint32_t CheckState(const char* func, int line);
    // quit, breakEvent, abortEvent.
    std::uint32_t PollBreak();
    // quit, suspend, breakEvent, abortEvent.
    std::uint32_t PollSuspend();
    // Waits without time limit on quit, breakEvent, abortEvent, peerDone; the caller goes
    // on only when the result is 3 (the other worker became idle). 0xFFFFFFFF when
    // peerDone is null or the quit event is missing.
    std::uint32_t WaitForPeer(plat::Event* peerDone);

    // The worker's main window; null here.
    virtual COrvaneDlg* GetOwnerDialog();
    // Progress of the item under way; nothing here.
    virtual void OnProgress(const TreeNode<SyncTaskInfo>* node, std::uint32_t value, double percent);

    // Set by the main window to break the current pass off.
    plat::Event breakEvent{true, false};
    // Second stop signal: reset at the start of every pass, set when a local change
    // touches the item the worker is working on.
    plat::Event abortEvent{true, false};
    // Set while the worker is idle: cleared when a RUN pass begins, set when it ends.
    plat::Event doneEvent{true, true};
};
