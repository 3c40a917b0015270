#include "platform/waitable.h"

#include <condition_variable>
#include <mutex>

namespace plat {
namespace {

// One lock and one condition for every waitable object of the process: a wait over
// several objects needs to see all of them change under the same lock.
struct Hub {
    std::mutex mutex;
    std::condition_variable changed;
};

Hub& TheHub() {
    // Never destroyed, so objects living in other statics stay usable at exit.
    static Hub* hub = new Hub;
    return *hub;
}

}  // namespace

std::uint32_t WaitAny(std::span<Waitable* const> objects, std::uint32_t timeoutMs) {
    if (objects.empty()) return kWaitFailed;
    for (Waitable* object : objects) {
        if (object == nullptr) return kWaitFailed;
    }
    Hub& hub = TheHub();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(hub.mutex);
    for (;;) {
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->TryTakeLocked()) return static_cast<std::uint32_t>(i);
        }
        // A poll (time-out 0) never sleeps: even an expired timed wait costs a trip
        // through the scheduler, and checkpoints poll once per item of long passes.
        if (timeoutMs == 0) return kWaitTimeout;
        if (timeoutMs == kInfinite) {
            hub.changed.wait(lock);
        } else if (hub.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look: the change may have come together with the deadline.
            for (std::size_t i = 0; i < objects.size(); ++i) {
                if (objects[i]->TryTakeLocked()) return static_cast<std::uint32_t>(i);
            }
            return kWaitTimeout;
        }
    }
}

Event::Event(bool manualReset, bool initiallySet) : manual_(manualReset), set_(initiallySet) {}

void Event::Set() {
    Hub& hub = TheHub();
    {
        std::lock_guard<std::mutex> lock(hub.mutex);
        set_ = true;
    }
    hub.changed.notify_all();
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(TheHub().mutex);
    set_ = false;
}

bool Event::IsSet() const {
    std::lock_guard<std::mutex> lock(TheHub().mutex);
    return set_;
}

bool Event::Wait(std::uint32_t timeoutMs) {
    return WaitAny({this}, timeoutMs) == 0;
}

bool Event::TryTakeLocked() {
    if (!set_) return false;
    if (!manual_) set_ = false;
    return true;
}

void WaitableMutex::Lock() {
    WaitAny({this}, kInfinite);
}

bool WaitableMutex::TryLock() {
    return WaitAny({this}, 0) == 0;
}

void WaitableMutex::Unlock() {
    Hub& hub = TheHub();
    {
        std::lock_guard<std::mutex> lock(hub.mutex);
        // Only the owner can release; anything else is a caller's mistake and ignored.
        if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;
        if (--depth_ != 0) return;
        owner_ = std::thread::id{};
    }
    hub.changed.notify_all();
}

bool WaitableMutex::OwnedByCurrentThread() const {
    std::lock_guard<std::mutex> lock(TheHub().mutex);
    return depth_ != 0 && owner_ == std::this_thread::get_id();
}

bool WaitableMutex::TryTakeLocked() {
    const auto self = std::this_thread::get_id();
    if (depth_ == 0) {
        owner_ = self;
        depth_ = 1;
        return true;
    }
    if (owner_ == self) {
        ++depth_;
        return true;
    }
    return false;
}

}  // namespace plat
