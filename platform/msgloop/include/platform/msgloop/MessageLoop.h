#pragma once
// Window messages without a windowing system.
//
// A MessageLoop belongs to the thread that constructs it (its owner thread). Windows are
// created on a loop and named by a WindowId that is never reused, so an id stays invalid
// once its window is destroyed. Any thread may post to a window, send to it, arm or kill
// its timers; the procedures always run on the owner thread.
//
// - Posted messages of a window are handled in the order they were posted (one FIFO per
//   loop, so the order across the loop's windows is kept too). A post to a destroyed
//   window is dropped and reports false; a message's payload is freed whether it was
//   handled or dropped.
// - SendMessage on the owner thread calls the procedure directly. From another thread it
//   queues the message and blocks until the owner handled it and returns its result.
//   While it waits, a sender that owns a loop itself keeps handling messages *sent* to
//   its own loop, so two loops sending to each other do not deadlock. A blocked sender
//   is released with result 0 when the window is destroyed or its loop quits or dies.
// - Timers are per (window, id), periodic, and armable from any thread; a due timer
//   delivers one kWmTimer (wParam = id) however late it is handled.
// - RunModal runs a nested loop until EndModal for that window; messages keep flowing
//   inside, and the outer loop resumes afterwards.
// - Time comes from an injectable MessageClock, so tests step timers by hand.
//
// Headless, Run() drives the loop itself. A host event loop (the GUI) drives it instead
// through WakeFd() (an eventfd, readable when queued work is due or the timers changed),
// NextTimerDueMs() (to arm one timer of its own) and ProcessDue(); SetNestedRunner lets
// the host run modal loops inside its own event loop. No lock of this library is held
// while a procedure runs or while a thread waits for another thread's loop.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <typeinfo>
#include <unordered_map>
#include <utility>

namespace plat {

using WindowId = std::uint64_t;
inline constexpr WindowId kNoWindow = 0;
using MsgResult = std::intptr_t;

// Message numbers with a meaning of their own here.
inline constexpr std::uint32_t kWmDestroy = 0x0002;
inline constexpr std::uint32_t kWmTimer = 0x0113;
inline constexpr std::uint32_t kWmUser = 0x0400;  // first private message of a window class
inline constexpr std::uint32_t kWmApp = 0x8000;   // first private message of a program

// Shortest timer period; shorter requests are raised to it.
inline constexpr std::uint32_t kMinimumTimerMs = 10;
// RunModal's result when the run ended without EndModal (quit, window destroyed).
inline constexpr int kModalAborted = -1;

// An owned object travelling with a message. It is freed with the message, also when the
// message is dropped, so a posted copy never leaks.
class Payload {
public:
    Payload() noexcept = default;
    template <class T>
    explicit Payload(std::unique_ptr<T> object) noexcept
        : ptr_(object.release(), &Delete<T>), type_(&typeid(T)) {}
    template <class T, class... Args>
    static Payload Make(Args&&... args) {
        return Payload(std::make_unique<T>(std::forward<Args>(args)...));
    }

    Payload(Payload&&) noexcept = default;
    Payload& operator=(Payload&&) noexcept = default;

    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    // The object when it is a T, else null.
    template <class T>
    T* Get() const noexcept {
        return ptr_ && *type_ == typeid(T) ? static_cast<T*>(ptr_.get()) : nullptr;
    }
    // Takes the object out when it is a T; null (and nothing taken) otherwise.
    template <class T>
    std::unique_ptr<T> Take() noexcept {
        T* object = Get<T>();
        if (!object) return nullptr;
        ptr_.release();
        type_ = nullptr;
        return std::unique_ptr<T>(object);
    }
    void Reset() noexcept {
        ptr_.reset();
        type_ = nullptr;
    }

private:
    template <class T>
    static void Delete(void* p) noexcept { delete static_cast<T*>(p); }
    static void DeleteNothing(void*) noexcept {}

    std::unique_ptr<void, void (*)(void*)> ptr_{nullptr, &DeleteNothing};
    const std::type_info* type_ = nullptr;
};

struct Message {
    WindowId window = kNoWindow;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    Payload payload;
};

// A window's procedure: handles one message, returns its result (SendMessage's result).
using WindowProc = std::function<MsgResult(Message&)>;

// Millisecond time source of the loops. Loops register for Advanced() so a clock that
// is stepped by hand can wake them.
class MessageClock {
public:
    virtual ~MessageClock();
    virtual std::uint64_t NowMs() const = 0;
    // True when time passes by itself (loops then wait with a time-out for their
    // timers); false for a clock that only moves when stepped.
    virtual bool FollowsRealTime() const = 0;

    std::uint64_t AddListener(std::function<void()> onAdvanced);
    void RemoveListener(std::uint64_t id);

protected:
    // Calls every listener; a listener removed meanwhile is no longer called once
    // RemoveListener has returned.
    void Advanced();

private:
    std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::unordered_map<std::uint64_t, std::function<void()>> listeners_;
};

// The steady clock (never jumps with the wall clock).
class SteadyMessageClock final : public MessageClock {
public:
    std::uint64_t NowMs() const override;
    bool FollowsRealTime() const override { return true; }
};

// A clock that moves only when told to; for tests.
class ManualMessageClock final : public MessageClock {
public:
    explicit ManualMessageClock(std::uint64_t startMs = 0) : now_(startMs) {}
    std::uint64_t NowMs() const override;
    bool FollowsRealTime() const override { return false; }
    void Advance(std::uint64_t ms);

private:
    std::atomic<std::uint64_t> now_;
};

namespace detail {
struct LoopCore;
}

class MessageLoop {
public:
    // The calling thread becomes the owner. Without a clock the steady clock is used.
    explicit MessageLoop(std::shared_ptr<MessageClock> clock = nullptr);
    // Destroys the remaining windows (without kWmDestroy), frees queued messages and
    // releases blocked senders with 0. Call on the owner thread.
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    // The loop owned by the calling thread, or null.
    static MessageLoop* Current();
    bool IsOwnerThread() const;
    MessageClock& Clock() const;

    // A new window of this loop; any thread.
    WindowId CreateWindow(WindowProc proc);

    // Owner thread: handles messages until Quit, then returns the exit code. A Quit that
    // came before Run makes Run return once it handled what was due.
    int Run();
    // Any thread: ends Run and every modal run of this loop, and releases blocked
    // senders with 0. Until Run returns, sends to the loop's windows return 0 at once.
    void Quit(int exitCode = 0);

    // Owner thread: runs a nested loop until EndModal(dialog, result) and returns the
    // result; kModalAborted when the window is destroyed, the loop quits or the window
    // is not one of this loop's.
    int RunModal(WindowId dialog);
    // Lets a host event loop run the modal loops: the runner must keep the host's loop
    // going (and so ProcessDue) until `finished()` is true. Null restores the built-in one.
    using NestedRunner = std::function<void(const std::function<bool()>& finished)>;
    void SetNestedRunner(NestedRunner runner);

    // For a host event loop. The descriptor becomes readable when queued work is due,
    // when the timers changed and (with a stepped clock) when a timer became due; read
    // it only through ProcessDue.
    int WakeFd() const;
    // Milliseconds until the next timer is due (0: due now); none without timers. A host
    // re-reads it after every ProcessDue and arms its one timer with it.
    std::optional<std::uint64_t> NextTimerDueMs() const;
    // Owner thread: handles the sent messages, the messages posted before the call and
    // the timers due at the call; returns how many it handled. Work that arrives
    // meanwhile makes WakeFd() readable again.
    std::size_t ProcessDue();

private:
    std::shared_ptr<detail::LoopCore> core_;
};

// Window functions; any thread.
bool PostMessage(WindowId window, std::uint32_t message, std::uintptr_t wParam = 0,
                 std::intptr_t lParam = 0, Payload payload = {});
MsgResult SendMessage(WindowId window, std::uint32_t message, std::uintptr_t wParam = 0,
                      std::intptr_t lParam = 0, Payload payload = {});
// Arms (or re-arms from now) the timer `id` of the window; false for a destroyed window.
bool SetTimer(WindowId window, std::uintptr_t id, std::uint32_t periodMs);
// False when the timer was not armed.
bool KillTimer(WindowId window, std::uintptr_t id);
bool IsWindow(WindowId window);
// On the owner thread the procedure first gets kWmDestroy. Afterwards the id is
// invalid: queued messages are freed, timers killed, blocked senders released with 0
// and a modal run of the window ends. False when it was no window.
bool DestroyWindow(WindowId window);
// Ends the innermost modal run of the window with `result`; false when none runs.
bool EndModal(WindowId dialog, int result);

}  // namespace plat
