#include "client/ui/HttpWatchdog.h"

HttpWatchdog::HttpWatchdog(std::function<void()> check, std::chrono::milliseconds period)
    : check_(std::move(check)), period_(period) {}

HttpWatchdog::~HttpWatchdog() { Stop(); }

void HttpWatchdog::Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) return;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void HttpWatchdog::Stop() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        thread = std::move(thread_);
    }
    wake_.notify_all();
    if (thread.joinable()) thread.join();
}

bool HttpWatchdog::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return thread_.joinable();
}

void HttpWatchdog::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // Steady clock: a change of the wall clock neither skips nor repeats a check.
        const auto due = std::chrono::steady_clock::now() + period_;
        if (wake_.wait_until(lock, due, [this] { return stop_; })) return;
        lock.unlock();
        check_();
        lock.lock();
    }
}
