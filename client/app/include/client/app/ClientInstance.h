#pragma once
// One client program per user: the lock "Dravik_Client" (a lock file in the runtime
// folder, released by the system when the process ends, a crash included). A second start
// finds the lock held, tells the first copy to bring its window forward over the small
// local link "DravikClientRaise" and ends. The first copy listens on that link on a
// thread of its own and reports each request through `onRaise` (called on that thread).
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/localpipe.h"
#include "platform/namedlock.h"

class ClientInstance {
public:
    static constexpr const char* kLockName = "Dravik_Client";
    static constexpr const char* kRaiseLink = "DravikClientRaise";

    enum class Claim { First, Second, Failed };

    ClientInstance() = default;
    // Stops listening and releases the lock.
    ~ClientInstance();
    ClientInstance(const ClientInstance&) = delete;
    ClientInstance& operator=(const ClientInstance&) = delete;

    // First: this copy holds the lock. Second: another copy runs (it was asked to come
    // forward). Failed: no usable runtime folder.
    Claim ClaimOrRaise();
    // The first copy: listens for raise requests until Stop.
    bool Listen(std::function<void()> onRaise);
    void Stop();

private:
    void AcceptLoop();
    plat::NamedLock lock_;
    plat::LocalPipeListener listener_;
    std::function<void()> onRaise_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
