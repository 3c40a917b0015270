#include "client/core/WorkerPool.h"

WorkerPool::WorkerPool(std::size_t maxThreads) : maxThreads_(maxThreads < 1 ? 1 : maxThreads) {}

WorkerPool::~WorkerPool() { Join(); }

bool WorkerPool::Submit(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_ || !job) return false;
    jobs_.push_back(std::move(job));
    if (idleThreads_ >= jobs_.size() || alive_ >= maxThreads_) {
        wake_.notify_one();
        return true;
    }
    ++alive_;
    threads_.emplace_back([this] { Run(); });
    return true;
}

void WorkerPool::Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
}

void WorkerPool::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
    }
    wake_.notify_all();
}

bool WorkerPool::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

bool WorkerPool::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return jobs_.empty() && busy_ == 0; });
}

void WorkerPool::Join() {
    std::vector<std::thread> threads;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        open_ = false;
        wake_.notify_all();
        // Threads end once the queue is empty and the pool closed; those that ended are
        // joined below, and so are the ones still finishing their last job.
        threads.swap(threads_);
    }
    for (std::thread& t : threads) t.join();
}

std::size_t WorkerPool::Busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return busy_;
}

std::size_t WorkerPool::Threads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return alive_;
}

void WorkerPool::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ++idleThreads_;
        wake_.wait(lock, [this] { return !jobs_.empty() || !open_; });
        --idleThreads_;
        if (jobs_.empty()) break;  // closed and nothing left to run
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        ++busy_;
        lock.unlock();
        job();
        job = nullptr;  // whatever the job holds goes before the pool counts it done
        lock.lock();
        --busy_;
        idle_.notify_all();
    }
    --alive_;
    idle_.notify_all();
}
