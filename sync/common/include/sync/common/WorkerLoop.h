#pragma once
// The command loop every sync worker runs (network monitor, local scan, server
// inventory, reconciliation, both commit threads). A worker derives from CWorkerLoop and
// supplies hooks for its own commands; the loop itself is here once:
//
//   QUERY_STATE, NOP, RESERVED and every command that is not one of the worker's passes:
//            ignored.
//   BIND     the worker takes its owners from param1/param2 (Bind); a missing owner ends
//            the thread with 0xFFFFFFFF.
//   PAUSE    state 3 (paused). RESUME: 3 becomes 4; any other state stays.
//   EXIT     OnExit, then the loop returns 0. Stop and StopAndWait queue it ahead of every
//            other command.
//   a pass   (IsPassCommand) dropped while paused; otherwise the per-pass reset (state 2,
//            break, abort and done events reset), PreparePass, RunPass, the done event set,
//            AfterPass. What must reach others before the worker reads as idle goes into
//            RunPass; what follows its idleness into AfterPass.
//
// A stop asked for (CThread::Stop, StopAndWait) sets the break event so that a pass under
// way ends at its next checkpoint. A stop asked for just before a pass begins, when the
// pass command was already taken from the queue, would be wiped out by the per-pass reset;
// the loop therefore sets the break event again after the reset, and the pass ends at
// once. The stop stays asked for until the next BIND (a new start of the thread).
//
// Everything here runs on the worker's own thread except Stop's OnStopRequested (on the
// stopping thread) and StopWasRequested (any thread). Hooks run on the worker's thread.
// Lifetime: hooks are members of the derived class, so every derived class calls
// StopAndWait() first thing in its destructor (see ThreadBase.h).
#include <atomic>
#include <cstdint>

#include "sync/common/SyncBase.h"
#include "sync/common/ThreadBase.h"

class CWorkerLoop : public CThread, public CSyncBase {
public:
    ~CWorkerLoop() override;

    // True once a stop was asked for since the thread's last BIND.
    bool StopWasRequested() const { return stopRequested_.load(); }

protected:
    // `param1`, `param2`: the owners handed back with BIND; `threadName`: the worker's
    // class name (also its sync-tag key); `syncTag`: whether a started worker registers one.
    CWorkerLoop(void* param1, void* param2, std::u16string threadName, bool syncTag = false);

    std::uint32_t ThreadHandler() final;
    void OnStopRequested() final;

    // ---- what a worker supplies ----
    // BIND: takes the owners from param1/param2; false when one is missing.
    virtual bool Bind() = 0;
    // Whether `command` is one of this worker's passes (RUN, BUILD, HASH...).
    virtual bool IsPassCommand(std::uint32_t command) const = 0;
    // After the per-pass reset and before the stop check: what the pass needs refreshed.
    virtual void PreparePass(std::uint32_t /*command*/) {}
    // The pass itself; its result goes to AfterPass.
    virtual std::uint32_t RunPass(std::uint32_t command) = 0;
    // After the done event was set.
    virtual void AfterPass(std::uint32_t /*command*/, std::uint32_t /*result*/) {}
    // On EXIT, before the loop returns 0 (the commands still queued are dropped).
    virtual void OnExit() {}

private:
    // The per-pass reset: state running, the worker's three events reset.
    void BeginPass();

    std::atomic<bool> stopRequested_{false};
};
