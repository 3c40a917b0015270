#pragma once
// Event, recursive owner-tracked mutex and a wait over several of them, on one
// process-wide mutex+condition hub. Results follow the classic codes: the index of the
// object obtained, kWaitTimeout (258) or kWaitFailed (0xFFFFFFFF).
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <thread>

namespace plat {

constexpr std::uint32_t kWaitTimeout = 258;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

class Waitable {
public:
    virtual ~Waitable() = default;

protected:
    friend std::uint32_t WaitAny(std::span<Waitable* const>, std::uint32_t);
    // Called with the hub held: take the object for the calling thread when it is
    // available (an auto-reset event is consumed, a mutex is locked). True when taken.
    virtual bool TryTakeLocked() = 0;
};

class Event : public Waitable {
public:
    Event(bool manualReset, bool initiallySet);
    void Set();
    void Reset();
    bool IsSet() const;
    // Waits up to timeoutMs (kInfinite: no limit); true when the event was obtained.
    bool Wait(std::uint32_t timeoutMs);

protected:
    bool TryTakeLocked() override;

private:
    bool manual_;
    bool set_;
};

class WaitableMutex : public Waitable {
public:
    WaitableMutex() = default;
    void Lock();
    bool TryLock();
    void Unlock();
    bool OwnedByCurrentThread() const;

protected:
    bool TryTakeLocked() override;

private:
    std::thread::id owner_{};
    std::uint32_t depth_ = 0;
};

// Waits until one of the objects can be taken, first one wins; returns its index,
// kWaitTimeout after timeoutMs (0: poll once), kWaitFailed when the list is empty or
// holds a null object.
std::uint32_t WaitAny(std::span<Waitable* const> objects, std::uint32_t timeoutMs);
inline std::uint32_t WaitAny(std::initializer_list<Waitable*> objects, std::uint32_t timeoutMs) {
    return WaitAny(std::span<Waitable* const>(objects.begin(), objects.size()), timeoutMs);
}

// RAII holder for WaitableMutex.
class MutexHolder {
public:
    explicit MutexHolder(WaitableMutex& m) : m_(m) { m_.Lock(); }
    ~MutexHolder() { m_.Unlock(); }
    MutexHolder(const MutexHolder&) = delete;
    MutexHolder& operator=(const MutexHolder&) = delete;

private:
    WaitableMutex& m_;
};

}  // namespace plat
