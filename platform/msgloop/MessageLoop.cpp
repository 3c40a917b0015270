#include "platform/msgloop/MessageLoop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace plat {

// ---------------------------------------------------------------------------- clocks

MessageClock::~MessageClock() = default;

std::uint64_t MessageClock::AddListener(std::function<void()> onAdvanced) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::uint64_t id = nextId_++;
    listeners_.emplace(id, std::move(onAdvanced));
    return id;
}

void MessageClock::RemoveListener(std::uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.erase(id);
}

void MessageClock::Advanced() {
    // Listeners run under the clock's lock so that a loop that removed itself is never
    // called afterwards; they only take their loop's lock, never this one.
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [id, listener] : listeners_) listener();
}

std::uint64_t SteadyMessageClock::NowMs() const {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::uint64_t ManualMessageClock::NowMs() const { return now_.load(); }

void ManualMessageClock::Advance(std::uint64_t ms) {
    now_.fetch_add(ms);
    Advanced();
}

// ----------------------------------------------------------------------- loop state

namespace detail {

struct WindowRecord {
    WindowId id = kNoWindow;
    std::weak_ptr<LoopCore> core;
    WindowProc proc;                       // never changed after creation
    std::atomic<bool> destroying{false};   // kWmDestroy delivered (once)
};

struct SendRecord {
    explicit SendRecord(Message m) : message(std::move(m)) {}
    Message message;
    MsgResult result = 0;
    std::atomic<bool> done{false};
    // The sender waits on its own loop's lock and condition when it owns a loop (so it
    // can handle messages sent to it meanwhile), else on the record's own.
    std::shared_ptr<LoopCore> senderLoop;
    std::mutex mutex;
    std::condition_variable condition;
};

struct ModalFrame {
    WindowId dialog = kNoWindow;
    bool ended = false;
    int result = kModalAborted;
};

struct Timer {
    std::uint64_t periodMs = 0;
    std::uint64_t dueMs = 0;
};

using TimerMap = std::map<std::pair<WindowId, std::uintptr_t>, Timer>;

void Complete(SendRecord& send, MsgResult result);

struct LoopCore : std::enable_shared_from_this<LoopCore> {
    std::shared_ptr<MessageClock> clock;
    std::uint64_t clockListener = 0;
    std::thread::id owner;
    int eventFd = -1;
    MessageLoop::NestedRunner nestedRunner;  // used on the owner thread only

    // Everything below is guarded by `mutex`.
    mutable std::mutex mutex;
    std::condition_variable condition;
    bool fdSignalled = false;
    bool closed = false;
    bool quitting = false;
    int exitCode = 0;
    std::unordered_map<WindowId, std::shared_ptr<WindowRecord>> windows;
    std::deque<Message> posted;
    std::deque<std::shared_ptr<SendRecord>> sends;
    TimerMap timers;
    std::vector<ModalFrame*> frames;

    ~LoopCore() {
        if (eventFd >= 0) ::close(eventFd);
    }

    bool IsOwner() const { return std::this_thread::get_id() == owner; }

    void SignalLocked() {
        if (fdSignalled) return;
        std::uint64_t one = 1;
        ssize_t n;
        do {
            n = ::write(eventFd, &one, sizeof one);
        } while (n < 0 && errno == EINTR);
        fdSignalled = true;
    }

    void DrainLocked() {
        std::uint64_t count;
        ssize_t n;
        do {
            n = ::read(eventFd, &count, sizeof count);
        } while (n < 0 && errno == EINTR);
        fdSignalled = false;
    }

    void WakeLocked() {
        SignalLocked();
        condition.notify_all();
    }

    TimerMap::iterator EarliestTimerLocked() {
        return std::min_element(timers.begin(), timers.end(), [](const auto& a, const auto& b) {
            return a.second.dueMs < b.second.dueMs;
        });
    }

    bool HasWorkLocked() {
        if (!sends.empty() || !posted.empty()) return true;
        auto next = EarliestTimerLocked();
        return next != timers.end() && next->second.dueMs <= clock->NowMs();
    }

    std::shared_ptr<WindowRecord> AliveWindow(WindowId id) {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = windows.find(id);
        return it == windows.end() ? nullptr : it->second;
    }

    void Deliver(Message& message) {
        if (auto window = AliveWindow(message.window)) window->proc(message);
    }

    void HandleSend(const std::shared_ptr<SendRecord>& send) {
        // The sender is released even when the procedure throws.
        struct Completer {
            SendRecord& send;
            MsgResult result = 0;
            ~Completer() { Complete(send, result); }
        } completer{*send};
        if (auto window = AliveWindow(send->message.window))
            completer.result = window->proc(send->message);
    }

    // Handles what is due; `stopLocked` (called with the lock held) ends it early.
    std::size_t ProcessDue(const std::function<bool()>* stopLocked) {
        std::unique_lock<std::mutex> lock(mutex);
        DrainLocked();
        std::size_t budget = posted.size();
        const std::uint64_t start = clock->NowMs();
        std::size_t handled = 0;
        while (!closed && !(stopLocked && (*stopLocked)())) {
            if (!sends.empty()) {
                std::shared_ptr<SendRecord> send = std::move(sends.front());
                sends.pop_front();
                lock.unlock();
                HandleSend(send);
            } else if (budget > 0 && !posted.empty()) {
                --budget;
                Message message = std::move(posted.front());
                posted.pop_front();
                lock.unlock();
                Deliver(message);
            } else {
                auto timer = EarliestTimerLocked();
                if (timer == timers.end() || timer->second.dueMs > start) break;
                // Re-armed before the procedure runs, so it may kill or re-arm it.
                timer->second.dueMs = clock->NowMs() + timer->second.periodMs;
                Message message{timer->first.first, kWmTimer, timer->first.second, 0, {}};
                lock.unlock();
                Deliver(message);
            }
            ++handled;
            lock.lock();
        }
        if (!closed && HasWorkLocked()) SignalLocked();
        return handled;
    }

    // Waits until there is work, the loop quits or `stopLocked` holds.
    void WaitLocked(std::unique_lock<std::mutex>& lock, const std::function<bool()>* stopLocked) {
        for (;;) {
            if (closed || quitting || !sends.empty() || !posted.empty()) return;
            if (stopLocked && (*stopLocked)()) return;
            auto next = EarliestTimerLocked();
            if (next == timers.end() || !clock->FollowsRealTime()) {
                if (next != timers.end() && next->second.dueMs <= clock->NowMs()) return;
                condition.wait(lock);
                continue;
            }
            const std::uint64_t now = clock->NowMs();
            if (next->second.dueMs <= now) return;
            condition.wait_for(lock, std::chrono::milliseconds(next->second.dueMs - now));
        }
    }

    void OnClockAdvanced() {
        std::lock_guard<std::mutex> lock(mutex);
        if (closed) return;
        if (HasWorkLocked()) SignalLocked();
        condition.notify_all();
    }

    void Quit(int code) {
        std::deque<std::shared_ptr<SendRecord>> released;
        {
            std::lock_guard<std::mutex> lock(mutex);
            quitting = true;
            exitCode = code;
            released.swap(sends);
            WakeLocked();
        }
        for (auto& send : released) Complete(*send, 0);
    }
};

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<WindowId, std::shared_ptr<WindowRecord>> windows;
    WindowId next = 1;
};

Registry& Windows() {
    static Registry* registry = new Registry;  // outlives every thread's last message
    return *registry;
}

std::shared_ptr<WindowRecord> FindRecord(WindowId id) {
    Registry& registry = Windows();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.windows.find(id);
    return it == registry.windows.end() ? nullptr : it->second;
}

void Unregister(WindowId id) {
    Registry& registry = Windows();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.windows.erase(id);
}

// The window's loop when the window is known (it may be destroyed by now).
std::shared_ptr<LoopCore> FindLoop(WindowId id, std::shared_ptr<WindowRecord>* record = nullptr) {
    auto found = FindRecord(id);
    if (!found) return nullptr;
    auto core = found->core.lock();
    if (record) *record = std::move(found);
    return core;
}

thread_local MessageLoop* tCurrentLoop = nullptr;
thread_local LoopCore* tCurrentCore = nullptr;

void WaitForReply(SendRecord& send) {
    if (LoopCore* mine = send.senderLoop.get()) {
        std::unique_lock<std::mutex> lock(mine->mutex);
        while (!send.done.load()) {
            if (!mine->sends.empty()) {
                std::shared_ptr<SendRecord> incoming = std::move(mine->sends.front());
                mine->sends.pop_front();
                lock.unlock();
                mine->HandleSend(incoming);
                lock.lock();
                continue;
            }
            mine->condition.wait(lock);
        }
        return;
    }
    std::unique_lock<std::mutex> lock(send.mutex);
    send.condition.wait(lock, [&] { return send.done.load(); });
}

}  // namespace

void Complete(SendRecord& send, MsgResult result) {
    std::mutex& mutex = send.senderLoop ? send.senderLoop->mutex : send.mutex;
    std::condition_variable& condition =
        send.senderLoop ? send.senderLoop->condition : send.condition;
    {
        std::lock_guard<std::mutex> lock(mutex);
        send.result = result;
        send.done.store(true);
    }
    condition.notify_all();
}

}  // namespace detail

using detail::LoopCore;

// ------------------------------------------------------------------------ the loop

MessageLoop::MessageLoop(std::shared_ptr<MessageClock> clock)
    : core_(std::make_shared<LoopCore>()) {
    core_->clock = clock ? std::move(clock) : std::make_shared<SteadyMessageClock>();
    core_->owner = std::this_thread::get_id();
    core_->eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (core_->eventFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    std::weak_ptr<LoopCore> weak = core_;
    core_->clockListener = core_->clock->AddListener([weak] {
        if (auto core = weak.lock()) core->OnClockAdvanced();
    });
    if (!detail::tCurrentLoop) {
        detail::tCurrentLoop = this;
        detail::tCurrentCore = core_.get();
    }
}

MessageLoop::~MessageLoop() {
    core_->clock->RemoveListener(core_->clockListener);
    std::unordered_map<WindowId, std::shared_ptr<detail::WindowRecord>> windows;
    std::deque<Message> posted;
    std::deque<std::shared_ptr<detail::SendRecord>> sends;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        core_->closed = true;
        windows.swap(core_->windows);
        posted.swap(core_->posted);
        sends.swap(core_->sends);
        core_->timers.clear();
        core_->condition.notify_all();
    }
    for (auto& [id, record] : windows) detail::Unregister(id);
    for (auto& send : sends) detail::Complete(*send, 0);
    if (detail::tCurrentLoop == this) {
        detail::tCurrentLoop = nullptr;
        detail::tCurrentCore = nullptr;
    }
}

MessageLoop* MessageLoop::Current() { return detail::tCurrentLoop; }

bool MessageLoop::IsOwnerThread() const { return core_->IsOwner(); }

MessageClock& MessageLoop::Clock() const { return *core_->clock; }

WindowId MessageLoop::CreateWindow(WindowProc proc) {
    auto record = std::make_shared<detail::WindowRecord>();
    record->core = core_;
    record->proc = std::move(proc);
    {
        detail::Registry& registry = detail::Windows();
        std::lock_guard<std::mutex> lock(registry.mutex);
        record->id = registry.next++;
        registry.windows.emplace(record->id, record);
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->windows.emplace(record->id, record);
    return record->id;
}

int MessageLoop::Run() {
    if (!core_->IsOwner()) throw std::logic_error("MessageLoop::Run off its owner thread");
    for (;;) {
        core_->ProcessDue(nullptr);
        std::unique_lock<std::mutex> lock(core_->mutex);
        if (core_->quitting || core_->closed) {
            core_->quitting = false;
            return core_->exitCode;
        }
        core_->WaitLocked(lock, nullptr);
    }
}

void MessageLoop::Quit(int exitCode) {
    // Held by the call: once Run sees the quit, the loop object may go away meanwhile.
    std::shared_ptr<LoopCore> core = core_;
    core->Quit(exitCode);
}

int MessageLoop::RunModal(WindowId dialog) {
    if (!core_->IsOwner()) throw std::logic_error("MessageLoop::RunModal off its owner thread");
    LoopCore& core = *core_;
    detail::ModalFrame frame;
    frame.dialog = dialog;
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        if (core.closed || !core.windows.count(dialog)) return kModalAborted;
        core.frames.push_back(&frame);
    }
    struct FrameGuard {
        LoopCore& core;
        detail::ModalFrame* frame;
        ~FrameGuard() {
            std::lock_guard<std::mutex> lock(core.mutex);
            core.frames.erase(std::find(core.frames.begin(), core.frames.end(), frame));
        }
    } guard{core, &frame};

    const std::function<bool()> finishedLocked = [&] {
        return frame.ended || core.quitting || core.closed || !core.windows.count(dialog);
    };
    if (NestedRunner runner = core.nestedRunner) {
        runner([&] {
            std::lock_guard<std::mutex> lock(core.mutex);
            return finishedLocked();
        });
    } else {
        std::unique_lock<std::mutex> lock(core.mutex);
        while (!finishedLocked()) {
            lock.unlock();
            core.ProcessDue(&finishedLocked);
            lock.lock();
            if (finishedLocked()) break;
            core.WaitLocked(lock, &finishedLocked);
        }
    }
    std::lock_guard<std::mutex> lock(core.mutex);
    return frame.ended ? frame.result : kModalAborted;
}

void MessageLoop::SetNestedRunner(NestedRunner runner) { core_->nestedRunner = std::move(runner); }

int MessageLoop::WakeFd() const { return core_->eventFd; }

std::optional<std::uint64_t> MessageLoop::NextTimerDueMs() const {
    std::lock_guard<std::mutex> lock(core_->mutex);
    auto next = core_->EarliestTimerLocked();
    if (next == core_->timers.end()) return std::nullopt;
    const std::uint64_t now = core_->clock->NowMs();
    return next->second.dueMs > now ? next->second.dueMs - now : 0;
}

std::size_t MessageLoop::ProcessDue() {
    if (!core_->IsOwner()) throw std::logic_error("MessageLoop::ProcessDue off its owner thread");
    return core_->ProcessDue(nullptr);
}

// ----------------------------------------------------------------- window functions

bool PostMessage(WindowId window, std::uint32_t message, std::uintptr_t wParam,
                 std::intptr_t lParam, Payload payload) {
    // Declared before the lock: a dropped message (and its payload) is freed unlocked.
    Message posted{window, message, wParam, lParam, std::move(payload)};
    auto core = detail::FindLoop(window);
    if (!core) return false;
    std::lock_guard<std::mutex> lock(core->mutex);
    if (core->closed || !core->windows.count(window)) return false;
    core->posted.push_back(std::move(posted));
    core->WakeLocked();
    return true;
}

MsgResult SendMessage(WindowId window, std::uint32_t message, std::uintptr_t wParam,
                      std::intptr_t lParam, Payload payload) {
    auto send = std::make_shared<detail::SendRecord>(
        Message{window, message, wParam, lParam, std::move(payload)});
    std::shared_ptr<detail::WindowRecord> record;
    auto core = detail::FindLoop(window, &record);
    if (!core) return 0;
    if (core->IsOwner()) {
        if (!core->AliveWindow(window)) return 0;
        return record->proc(send->message);
    }
    if (detail::tCurrentCore) send->senderLoop = detail::tCurrentCore->shared_from_this();
    {
        std::lock_guard<std::mutex> lock(core->mutex);
        if (core->closed || core->quitting || !core->windows.count(window)) return 0;
        core->sends.push_back(send);
        core->WakeLocked();
    }
    detail::WaitForReply(*send);
    return send->result;
}

bool SetTimer(WindowId window, std::uintptr_t id, std::uint32_t periodMs) {
    auto core = detail::FindLoop(window);
    if (!core) return false;
    std::lock_guard<std::mutex> lock(core->mutex);
    if (core->closed || !core->windows.count(window)) return false;
    const std::uint64_t period = std::max(periodMs, kMinimumTimerMs);
    core->timers[{window, id}] = detail::Timer{period, core->clock->NowMs() + period};
    core->WakeLocked();  // a host loop re-reads NextTimerDueMs
    return true;
}

bool KillTimer(WindowId window, std::uintptr_t id) {
    auto core = detail::FindLoop(window);
    if (!core) return false;
    std::lock_guard<std::mutex> lock(core->mutex);
    if (!core->timers.erase({window, id})) return false;
    core->WakeLocked();
    return true;
}

bool IsWindow(WindowId window) {
    auto core = detail::FindLoop(window);
    if (!core) return false;
    std::lock_guard<std::mutex> lock(core->mutex);
    return !core->closed && core->windows.count(window) != 0;
}

bool DestroyWindow(WindowId window) {
    std::shared_ptr<detail::WindowRecord> record;
    auto core = detail::FindLoop(window, &record);
    if (!core || !core->AliveWindow(window)) return false;
    if (core->IsOwner() && !record->destroying.exchange(true)) {
        Message destroy{window, kWmDestroy, 0, 0, {}};
        record->proc(destroy);
    }
    std::deque<Message> dropped;  // freed after the lock is released
    std::vector<std::shared_ptr<detail::SendRecord>> released;
    {
        std::lock_guard<std::mutex> lock(core->mutex);
        // Gone already: the procedure destroyed its window itself while handling kWmDestroy.
        if (!core->windows.erase(window)) return true;
        auto keep = std::stable_partition(core->posted.begin(), core->posted.end(),
                                          [&](const Message& m) { return m.window != window; });
        std::move(keep, core->posted.end(), std::back_inserter(dropped));
        core->posted.erase(keep, core->posted.end());
        for (auto it = core->sends.begin(); it != core->sends.end();) {
            if ((*it)->message.window == window) {
                released.push_back(std::move(*it));
                it = core->sends.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = core->timers.begin(); it != core->timers.end();)
            it = it->first.first == window ? core->timers.erase(it) : std::next(it);
        core->WakeLocked();  // a modal run of the window ends
    }
    detail::Unregister(window);
    for (auto& send : released) detail::Complete(*send, 0);
    return true;
}

bool EndModal(WindowId dialog, int result) {
    auto core = detail::FindLoop(dialog);
    if (!core) return false;
    std::lock_guard<std::mutex> lock(core->mutex);
    for (auto it = core->frames.rbegin(); it != core->frames.rend(); ++it) {
        if ((*it)->dialog == dialog && !(*it)->ended) {
            (*it)->ended = true;
            (*it)->result = result;
            core->WakeLocked();
            return true;
        }
    }
    return false;
}

}  // namespace plat
