#pragma once
// The sync program's workers and their lives: the one object that makes the six worker
// threads, publishes them in the worker slots of SyncApp (where the engine and the local
// change recording read them), starts them, replaces one that is stuck, stops them, waits
// for them and destroys them. The application object holds it for the whole run; the main
// window asks it for all of this and keeps only the decisions of its cycle.
//
// Threads. The main window's thread (the one that runs COrvaneApp::InitInstance) is the
// only caller of every member but SlotLock(), Busy() and DoneEvent(). It writes a slot
// under SlotLock(); other threads read a slot only under that lock. A replaced worker
// whose thread has not ended yet, or that the reconciliation thread may still be waiting
// on, is retired, not destroyed: it goes once its thread has ended (and, by its rule, once
// the reconciliation thread is idle), at the latest at shut-down. No worker object is
// destroyed while its thread runs.
//
// Waiting. While the roster waits for a worker (to stop, or to become idle), a send that
// the worker makes to the window must not wait for the window: SendsAsPosts() is set for
// as long as a WaitScope lives, and the window delivers a send as a post while it is set.
// From HoldSendsAsPosts() on (the program exits) it stays set.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/waitable.h"
#include "sync/engine/EngineContext.h"

class CThread;
class CWorkerLoop;

class WorkerRoster {
public:
    // The workers of the cycle (the network monitor is made and stopped with them but
    // never replaced, and the cycle never waits for it).
    enum class Role { Driver, Server, Conform, Away, Home };
    // When a replaced worker may be destroyed: once its thread has ended; once, besides,
    // the reconciliation thread is idle (it waits on the commit threads' done events); or
    // only at shut-down (a replaced local-scan worker: a running reconciliation step may
    // still use the worker it read from the slot).
    enum class RetireRule { WhenEnded, WhenConformIdle, AtExit };

    struct Settings {
        // The network monitor's probe and polling period (empty, 0: its defaults).
        std::function<bool()> networkProbe;
        std::uint32_t networkPollMs = 0;
        // Told when a worker's thread cannot be started (the window's thread).
        std::function<void(const std::exception&)> reportError;
    };

    WorkerRoster(SyncApp& app, Settings settings);
    // Stops and destroys every worker that is left.
    ~WorkerRoster();
    WorkerRoster(const WorkerRoster&) = delete;
    WorkerRoster& operator=(const WorkerRoster&) = delete;

    // The lock under which a slot is replaced (SyncApp::workerSlotLock).
    std::mutex& SlotLock() { return app_.workerSlotLock; }
    // The worker in a role's slot (null when none); the window's thread reads it without
    // the lock, as the only writer.
    CWorkerLoop* Get(Role role) const;
    // The done event of a role's worker, read under the slot lock (any thread); null when
    // there is no worker.
    plat::Event* DoneEvent(Role role);

    // ---- making ----
    // The local-scan and server-inventory workers, which need no window.
    void MakeListers();
    // The workers that talk to the window: the network monitor (started and running at
    // once), the reconciliation thread and both commit threads. False when they cannot be
    // made.
    bool MakeWindowWorkers(SyncWindow& window);

    // ---- states ----
    // A worker whose thread runs and that has a pass under way.
    static bool Busy(CWorkerLoop* worker);
    // Sets the break event of every busy worker among `roles`; true when one was busy.
    bool BreakBusy(std::initializer_list<Role> roles);
    // Sets the break event of every worker among `roles`.
    void Break(std::initializer_list<Role> roles);

    // ---- starting ----
    // Starts the role's thread when it does not run and, unless `command` is 0, posts the
    // command; false (the failure reported) when the thread cannot be started or there is
    // no worker.
    bool Run(Role role, std::uint32_t command);

    // ---- waiting and stopping ----
    class WaitScope;
    // Set while the roster waits for a worker, and from HoldSendsAsPosts() on.
    plat::Event& SendsAsPosts() { return sendsAsPosts_; }
    void HoldSendsAsPosts();
    // Waits up to `ms` for the role's worker to become idle, with sends delivered as
    // posts; true when it is idle (or has no thread).
    bool WaitIdle(Role role, std::uint32_t ms);
    // Stops a worker (about a second); true when its thread ended.
    bool Stop(CThread* worker);
    // Stops the cycle's workers, the local scan first.
    void StopCycle();
    // Asks every thread (the network monitor's and the retired ones too) to end and waits
    // until each has ended. The caller sets the quit event first.
    void StopAll();
    // Destroys every worker (the reconciliation thread before those it points to) and
    // every retired one; their threads have ended.
    void DestroyAll();

    // ---- replacing ----
    // Replaces a commit thread: the old one is stopped (as far as it goes in a second),
    // a fresh one takes the slot and is started; the old one is retired until the
    // reconciliation thread is idle.
    void ReplaceCommit(bool away);
    // Replaces the server-inventory thread the same way and starts the fresh one.
    void ReplaceServer();
    // Replaces the local-scan thread; the fresh one is not started. The old one stays
    // until the program ends.
    void ReplaceDriver();
    // Destroys the retired workers that may go now.
    void ReapRetired();
    // How many replaced workers wait to be destroyed.
    std::size_t RetiredCount();

private:
    // Stops the worker in `slot`, puts what `make` gives in its place and retires the old one.
    template <class T, class Make>
    T* Replace(T*& slot, Make make, RetireRule rule);
    void Retire(CThread* worker, RetireRule rule);
    void Report(const std::exception& error);

    SyncApp& app_;
    Settings settings_;
    SyncWindow* window_ = nullptr;

    plat::Event sendsAsPosts_{true, false};
    int waitDepth_ = 0;
    bool held_ = false;

    struct RetiredWorker {
        std::unique_ptr<CThread> worker;
        RetireRule rule = RetireRule::WhenEnded;
    };
    std::vector<RetiredWorker> retired_;
};

// While alive, the roster waits for workers: a send from a worker is delivered like a post.
class WorkerRoster::WaitScope {
public:
    explicit WaitScope(WorkerRoster& roster) : roster_(roster) {
        if (roster_.waitDepth_++ == 0) roster_.sendsAsPosts_.Set();
    }
    ~WaitScope() {
        if (--roster_.waitDepth_ == 0 && !roster_.held_) roster_.sendsAsPosts_.Reset();
    }
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

private:
    WorkerRoster& roster_;
};
