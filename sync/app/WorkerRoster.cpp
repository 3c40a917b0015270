#include "sync/app/WorkerRoster.h"

#include <new>

#include "sync/common/ThreadBase.h"
#include "sync/common/WorkerLoop.h"
#include "sync/engine/ThreadOfAdapter.h"
#include "sync/engine/ThreadOfAway.h"
#include "sync/engine/ThreadOfConform.h"
#include "sync/engine/ThreadOfDriver.h"
#include "sync/engine/ThreadOfHome.h"
#include "sync/engine/ThreadOfServer.h"

namespace {

template <class T>
void DestroyWorker(T*& slot) {
    delete slot;
    slot = nullptr;
}

}  // namespace

WorkerRoster::WorkerRoster(SyncApp& app, Settings settings) : app_(app), settings_(std::move(settings)) {}

WorkerRoster::~WorkerRoster() {
    StopAll();
    DestroyAll();
}

CWorkerLoop* WorkerRoster::Get(Role role) const {
    switch (role) {
        case Role::Driver: return app_.driverThread;
        case Role::Server: return app_.serverThread;
        case Role::Conform: return app_.conformThread;
        case Role::Away: return app_.awayThread;
        case Role::Home: return app_.homeThread;
    }
    return nullptr;
}

plat::Event* WorkerRoster::DoneEvent(Role role) {
    std::lock_guard<std::mutex> slots(SlotLock());
    CWorkerLoop* worker = Get(role);
    return worker != nullptr ? &worker->doneEvent : nullptr;
}

// ---------------------------------------------------------------- making

void WorkerRoster::MakeListers() {
    std::lock_guard<std::mutex> slots(SlotLock());
    app_.driverThread = new CThreadOfDriver(&app_, &app_.DriverTree);
    app_.serverThread = new CThreadOfServer(&app_, &app_.WaiterTree);
}

bool WorkerRoster::MakeWindowWorkers(SyncWindow& window) {
    window_ = &window;
    try {
        std::lock_guard<std::mutex> slots(SlotLock());
        auto* adapter = new CThreadOfAdapter(&app_, window_);
        app_.adapterThread = adapter;
        if (settings_.networkProbe) adapter->SetProbe(settings_.networkProbe);
        if (settings_.networkPollMs != 0) adapter->pollMs = settings_.networkPollMs;
        app_.conformThread = new CThreadOfConform(&app_, window_);
        app_.awayThread = new CThreadOfAway(&app_, window_);
        app_.homeThread = new CThreadOfHome(&app_, window_);
    } catch (const std::bad_alloc&) {
        return false;
    }
    try {
        app_.adapterThread->Start();
        app_.adapterThread->PostCommand(THREAD_CMD_RUN);
    } catch (const CThreadException& error) {
        Report(error);
    }
    return true;
}

// ---------------------------------------------------------------- states

bool WorkerRoster::Busy(CWorkerLoop* worker) {
    return worker != nullptr && worker->IsAlive() && !worker->doneEvent.IsSet();
}

bool WorkerRoster::BreakBusy(std::initializer_list<Role> roles) {
    bool busy = false;
    for (Role role : roles) {
        CWorkerLoop* worker = Get(role);
        if (!Busy(worker)) continue;
        worker->breakEvent.Set();
        busy = true;
    }
    return busy;
}

void WorkerRoster::Break(std::initializer_list<Role> roles) {
    for (Role role : roles) {
        if (CWorkerLoop* worker = Get(role)) worker->breakEvent.Set();
    }
}

// ---------------------------------------------------------------- starting

bool WorkerRoster::Run(Role role, std::uint32_t command) {
    CWorkerLoop* worker = Get(role);
    if (worker == nullptr) return false;
    try {
        if (!worker->IsAlive()) worker->Start();
        if (command != 0) worker->PostCommand(command);
        return true;
    } catch (const CThreadException& error) {
        Report(error);
        return false;
    }
}

void WorkerRoster::Report(const std::exception& error) {
    if (settings_.reportError) settings_.reportError(error);
}

// ---------------------------------------------------------------- waiting and stopping

void WorkerRoster::HoldSendsAsPosts() {
    held_ = true;
    sendsAsPosts_.Set();
}

bool WorkerRoster::WaitIdle(Role role, std::uint32_t ms) {
    CWorkerLoop* worker = Get(role);
    if (worker == nullptr || !worker->IsAlive()) return true;
    WaitScope scope(*this);
    return worker->doneEvent.Wait(ms);
}

bool WorkerRoster::Stop(CThread* worker) {
    if (worker == nullptr || !worker->IsAlive()) return true;
    WaitScope scope(*this);
    std::uint32_t code = 0;
    return worker->Stop(code);
}

void WorkerRoster::StopCycle() {
    WaitScope scope(*this);
    for (Role role : {Role::Driver, Role::Server, Role::Conform, Role::Away, Role::Home}) Stop(Get(role));
}

void WorkerRoster::StopAll() {
    // Each thread leaves at its next checkpoint; a thread that is stopped is joined.
    CThread* workers[] = {app_.adapterThread, app_.conformThread, app_.driverThread,
                          app_.serverThread,  app_.awayThread,    app_.homeThread};
    for (CThread* worker : workers) {
        if (worker != nullptr) worker->StopAndWait();
    }
    // Only this thread changes the retired list; the lock is not held while joining.
    std::vector<CThread*> retired;
    {
        std::lock_guard<std::mutex> slots(SlotLock());
        for (RetiredWorker& entry : retired_) retired.push_back(entry.worker.get());
    }
    for (CThread* worker : retired) worker->StopAndWait();
}

void WorkerRoster::DestroyAll() {
    {
        std::lock_guard<std::mutex> slots(SlotLock());
        // The reconciliation thread first: it holds pointers to the others.
        DestroyWorker(app_.adapterThread);
        DestroyWorker(app_.conformThread);
        DestroyWorker(app_.driverThread);
        DestroyWorker(app_.serverThread);
        DestroyWorker(app_.awayThread);
        DestroyWorker(app_.homeThread);
    }
    std::vector<RetiredWorker> doomed;
    {
        std::lock_guard<std::mutex> slots(SlotLock());
        doomed.swap(retired_);
    }
    doomed.clear();  // each destructor joins its ended thread
}

// ---------------------------------------------------------------- replacing

template <class T, class Make>
T* WorkerRoster::Replace(T*& slot, Make make, RetireRule rule) {
    T* old = slot;
    Stop(old);
    T* fresh = make();
    {
        std::lock_guard<std::mutex> slots(SlotLock());
        slot = fresh;
    }
    Retire(old, rule);
    return fresh;
}

void WorkerRoster::ReplaceCommit(bool away) {
    CThread* fresh = nullptr;
    if (away) {
        fresh = Replace(app_.awayThread, [this] { return new CThreadOfAway(&app_, window_); },
                        RetireRule::WhenConformIdle);
    } else {
        fresh = Replace(app_.homeThread, [this] { return new CThreadOfHome(&app_, window_); },
                        RetireRule::WhenConformIdle);
    }
    try {
        fresh->Start();
    } catch (const CThreadException& error) {
        Report(error);
    }
}

void WorkerRoster::ReplaceServer() {
    try {
        CThreadOfServer* fresh = Replace(app_.serverThread,
                                         [this] { return new CThreadOfServer(&app_, &app_.WaiterTree); },
                                         RetireRule::WhenEnded);
        fresh->Start();
    } catch (const CThreadException& error) {
        Report(error);
    }
}

void WorkerRoster::ReplaceDriver() {
    // The reconciliation thread reads the slot when a step lists or digests local files
    // and may still be using the old worker in a step that runs now: the old object stays
    // until the program ends.
    Replace(app_.driverThread, [this] { return new CThreadOfDriver(&app_, &app_.DriverTree); },
            RetireRule::AtExit);
}

void WorkerRoster::Retire(CThread* worker, RetireRule rule) {
    if (worker == nullptr) return;
    std::lock_guard<std::mutex> slots(SlotLock());
    retired_.push_back(RetiredWorker{std::unique_ptr<CThread>(worker), rule});
}

void WorkerRoster::ReapRetired() {
    std::vector<std::unique_ptr<CThread>> doomed;
    {
        std::lock_guard<std::mutex> slots(SlotLock());
        const bool conformIdle = app_.conformThread == nullptr || app_.conformThread->doneEvent.IsSet();
        for (auto it = retired_.begin(); it != retired_.end();) {
            bool go = false;
            if (!it->worker->IsAlive()) {
                go = it->rule == RetireRule::WhenEnded || (it->rule == RetireRule::WhenConformIdle && conformIdle);
            }
            if (go) {
                doomed.push_back(std::move(it->worker));
                it = retired_.erase(it);
            } else {
                ++it;
            }
        }
    }
    doomed.clear();  // each destructor joins its (ended or ending) thread
}

std::size_t WorkerRoster::RetiredCount() {
    std::lock_guard<std::mutex> slots(SlotLock());
    return retired_.size();
}
