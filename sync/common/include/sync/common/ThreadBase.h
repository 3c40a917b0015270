#pragma once
// The thread class of the sync workers. A worker owns one thread and a first-in
// first-out queue of command numbers; other threads drive it only by posting commands,
// and its ThreadHandler loops on GetCommand (the workers share one such loop,
// WorkerLoop.h). Every operation takes the process-wide
// g_csThread, so posting to one worker briefly excludes all others; GetCommand never
// waits while holding it.
//
// Stopping is cooperative: Stop puts THREAD_CMD_EXIT ahead of every queued command,
// calls OnStopRequested (a worker sets its break event there) and waits about a second
// for the thread to end. There is no kill. A worker whose Stop returned 0 is still
// running and must be kept until its thread ends; destroying it waits for that.
//
// Lifetime rule for derived classes: ThreadHandler runs code and members of the derived
// class, which are gone by the time ~CThread runs. Every class that overrides
// ThreadHandler (or a hook that the worker loop calls on the thread) therefore calls
// StopAndWait() first thing in its own destructor; ~CThread only repeats it as a last
// guard.
#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/waitable.h"

// Worker command numbers, queued as u32.
enum ThreadCommand : std::uint32_t {
    THREAD_CMD_QUERY_STATE = 1,
    THREAD_CMD_BIND = 2,
    THREAD_CMD_RUN = 3,
    THREAD_CMD_PAUSE = 4,
    THREAD_CMD_RESUME = 5,
    THREAD_CMD_NOP = 6,
    THREAD_CMD_EXIT = 7,
    THREAD_CMD_RESERVED = 8,
    THREAD_CMD_BUILD = 9,
    THREAD_CMD_DRIVER = 10,
    THREAD_CMD_HASH = 11,
    THREAD_CMD_SERVER = 12,
    THREAD_CMD_MATCH = 13,
    THREAD_CMD_CHANGES = 14,
};

// The worker state word (CThread::state). The thread class writes idle and started; the
// worker loop (WorkerLoop.h) writes running, paused and resumed. The numbers are part of
// the contract: observers compare them as numbers.
enum WorkerState : std::uint32_t {
    kWorkerStarted = 0,  // Start made the thread; it has not run a pass yet
    kWorkerIdle = 1,     // constructed, stopped or ended
    kWorkerRunning = 2,  // a pass began (stays after the pass ends)
    kWorkerPaused = 3,   // passes asked for are dropped
    kWorkerResumed = 4,  // paused before, passes run again
};

// Exit code read from a thread that has not ended yet.
constexpr std::uint32_t kThreadStillActive = 259;

// The process-wide lock of all CThread objects (exists before the first worker).
std::recursive_mutex& g_csThread();

class CThread;
struct SyncTagEntry;

class CThreadException : public std::exception {
public:
    enum Type : std::uint32_t {
        kCreateFailed = 1,
        kAlreadyStarted = 2,
        kEventFailed = 4,
        kPostFailed = 5,
    };

    CThreadException(CThread* thread, std::u16string message, std::uint32_t type);
    const char* what() const noexcept override { return utf8_.c_str(); }
    // Copies the message into `buffer`, cut to `size` characters including the closing
    // zero. False when there is no room at all.
    bool GetErrorMessage(char16_t* buffer, std::uint32_t size,
                         std::uint32_t* helpContext = nullptr) const;

    CThread* thread;
    std::u16string message;
    std::uint32_t type;

private:
    std::string utf8_;
};

class CThread {
public:
    CThread(void* param1, void* param2);
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Starts the thread and posts THREAD_CMD_BIND. Throws CThreadException type 2
    // ("Thread is already started!") when it runs, type 1 when it cannot be created.
    void Start();
    // Asks the thread to end and waits about a second. True (1) when it has ended or
    // there was none; 0 while it still runs. `exitCode` gets the code read (259 while
    // the thread still runs).
    bool Stop(std::uint32_t& exitCode);
    // Asks the thread to end and waits without limit (derived destructors call it).
    void StopAndWait();
    bool IsAlive();

    // Queues a command for a running thread; dropped when there is none. 0 and a repeat
    // of the newest queued command are ignored.
    void PostCommand(std::uint32_t command);
    // Called with g_csThread held; `error` gets a failure text.
    bool PostCommandLocked(std::uint32_t command, std::u16string& error);
    // The oldest queued command, waiting for one; 0 at once without an event.
    void GetCommand(std::uint32_t& command);

    static std::u16string GetSystemErrorText(std::uint32_t code);

    // Synchronisation-tag registry: started workers hold a reference on the entry of
    // their name.
    static void FreeSyncTags();
    static std::uint32_t SyncTagRefCount(const std::u16string& name);

    // Fields set by derived constructors.
    std::uint32_t hasEvent = 0;    // the object uses a notification event
    std::uint32_t useSyncTag = 0;  // the object registers a sync tag under its name
    std::u16string name;           // class name of the worker; key of the sync tag
    // Last exit code read; -2 before the first start.
    std::atomic<std::uint32_t> exitCode{0xFFFFFFFEu};
    // A WorkerState number: 1 idle or ended, 0 started; the worker loop writes 2 running,
    // 3 paused, 4 resumed.
    std::atomic<std::uint32_t> state{kWorkerIdle};
    void* param1;
    void* param2;

protected:
    // The body of the thread; its result is the exit code.
    virtual std::uint32_t ThreadHandler() = 0;
    // Called by Stop and StopAndWait after THREAD_CMD_EXIT was queued, outside the lock.
    // Workers set their break event here so a pass under way ends at its next checkpoint.
    virtual void OnStopRequested() {}

    // Notification event: auto-reset, signalled once per queued command.
    std::unique_ptr<plat::Event> hEvent;
    // Queued commands, oldest first; guarded by g_csThread.
    std::deque<std::uint32_t> commands;

private:
    void ThreadProc();
    void OnThreadExit(std::uint32_t code);
    // With the lock held: queue EXIT ahead of every command and wake the thread.
    bool RequestExitLocked();
    // Joins a thread object whose thread has ended (or waits for it to end).
    void JoinThread();
    void ResetLocked();
    void AcquireTagLocked();
    void ReleaseTagLocked();

    std::thread thread_;
    bool alive_ = false;                 // guarded by g_csThread
    plat::Event ended_{true, true};      // set once the thread has finished its work
    std::shared_ptr<SyncTagEntry> syncTag_;  // the tag entry held; null when none
};
