#pragma once
// A bounded pool of worker threads that run submitted jobs in order of submission. Threads
// are made when a job finds none idle, up to the bound; a job that finds the bound
// reached waits in the queue for the next free thread. Every thread is joined before the
// pool lets go of it: nothing a job uses may die while the job runs, so the owner closes
// the pool, waits for it to be idle and joins it before its objects go.
//
// Thread-safe. A job must not close, wait for or join its own pool.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
public:
    explicit WorkerPool(std::size_t maxThreads);
    // Joins (see Join).
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Queues a job; false (and the job is not run) once the pool is closed.
    bool Submit(std::function<void()> job);
    // Takes jobs again after Close or Join.
    void Open();
    // Refuses new jobs; queued and running ones still run.
    void Close();
    bool IsOpen() const;

    // Waits up to `timeout` until no job is queued or running; true when idle.
    bool WaitIdle(std::chrono::milliseconds timeout);
    // Closes the pool, waits for every queued and running job (without limit) and joins
    // every thread.
    void Join();

    // Jobs running now, and threads alive.
    std::size_t Busy() const;
    std::size_t Threads() const;

private:
    void Run();

    const std::size_t maxThreads_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;  // a job was queued, or the pool closed
    std::condition_variable idle_;  // a job ended
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    std::size_t idleThreads_ = 0;
    std::size_t busy_ = 0;
    std::size_t alive_ = 0;
    bool open_ = true;
};
