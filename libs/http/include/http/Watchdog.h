#pragma once
// The watchdog's record of one transfer: when it last showed a sign of life. The
// transfer's own thread marks life (Touch on data, Observe on the byte counters of a
// progress tick); any thread may read how long it has been silent, so a request can end
// itself from its progress hook or another thread can cancel it. Times come from the
// clock given (steady milliseconds), so that tests can move time by hand.
#include <atomic>
#include <cstdint>
#include <functional>

namespace http {

class Watchdog {
public:
    using Clock = std::function<std::uint64_t()>;

    Watchdog() = default;
    explicit Watchdog(Clock clock) : clock_(std::move(clock)) {}
    // Set before the transfer starts.
    void SetClock(Clock clock) { clock_ = std::move(clock); }

    std::uint64_t Now() const { return clock_ ? clock_() : 0; }
    // A sign of life now.
    void Touch() { last_.store(Now()); }
    // A sign of life when the counters moved since the last call; true when they did.
    bool Observe(std::int64_t down, std::int64_t up) {
        if (down == down_ && up == up_) return false;
        down_ = down;
        up_ = up;
        Touch();
        return true;
    }
    std::uint64_t Last() const { return last_.load(); }
    // Milliseconds since the last sign of life (0 when the clock stands before it).
    std::uint64_t SilentMs(std::uint64_t now) const {
        const std::uint64_t last = Last();
        return now > last ? now - last : 0;
    }

private:
    Clock clock_;
    std::atomic<std::uint64_t> last_{0};
    std::int64_t down_ = 0;
    std::int64_t up_ = 0;
};

}  // namespace http
