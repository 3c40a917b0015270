#pragma once
// A name claimed across the processes of one user: an exclusive, non-blocking flock on
// "<runtime folder>/<name>.lock". The lock is held while the object lives and released
// by the system when the process ends, a crash included. Two objects of one process
// claiming the same name also exclude each other.
#include <string>

namespace plat {

class NamedLock {
public:
    enum class Result { Acquired, HeldElsewhere, Failed };

    NamedLock() = default;
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    // Claims `name` (a single file-name component) in RuntimeDir(). Failed when the name
    // is unusable, the runtime folder is unavailable or the lock file cannot be opened.
    Result TryAcquire(const std::string& name);
    void Release();
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace plat
