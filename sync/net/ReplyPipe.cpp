#include "sync/net/ReplyPipe.h"

bool ReplyPipe::Give(const char* data, std::size_t size) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || pending_.empty() || pending_.size() + size <= bound_; });
    if (stopped_) return false;
    pending_.append(data, size);
    changed_.notify_all();
    return true;
}

void ReplyPipe::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

bool ReplyPipe::StoppedEarly() const {
    std::lock_guard lock(mutex_);
    return stoppedEarly_;
}

void ReplyPipe::StopReading() {
    std::lock_guard lock(mutex_);
    if (!stopped_ && !closed_) stoppedEarly_ = true;
    stopped_ = true;
    changed_.notify_all();
}

bool ReplyPipe::Fill() {
    read_ += current_.size();
    current_.clear();
    at_ = 0;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !pending_.empty() || closed_; });
    if (pending_.empty()) return false;
    // The emptied stretch goes back to the receiver, keeping its capacity.
    current_.swap(pending_);
    changed_.notify_all();
    return true;
}
