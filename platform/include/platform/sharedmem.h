#pragma once
// Named shared memory of one user and a lock across processes that dies with its holder.
// Results are errno values (0 = success).
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// A shared memory object "/<name>-<uid>" (shm_open, mode 0600). An object of that name
// that belongs to another user is refused, so another user can neither read it nor
// plant one in its place.
class SharedMemory {
public:
    SharedMemory() = default;
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Opens the object, creating it when missing; `created` tells which happened. `name`
    // is one file-name component without '/'.
    int Open(const std::string& name, bool& created);
    // Makes the object at least `size` bytes long and maps its first `size` bytes for
    // reading and writing; `grew` tells that it had been shorter (new bytes are zero).
    int Map(std::size_t size, bool& grew);
    // Grows the object back to the mapped size when someone shortened it (touching the
    // mapping past its end would fault); `grew` tells that it had to.
    int KeepMappedSize(bool& grew);
    void Close();

    unsigned char* Data() const { return data_; }
    std::size_t Size() const { return size_; }

    // The system name of the object for `name`, and its removal (for tests and clean-up).
    static std::string ObjectName(const std::string& name);
    static int Remove(const std::string& name);

private:
    int fd_ = -1;
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

// An exclusive lock shared by every process of the user: flock on
// "<runtime folder>/<name>.lock". The system releases it when the holder ends, a crash
// included. Two objects of one process exclude each other as well.
class ProcessLock {
public:
    ProcessLock() = default;
    ~ProcessLock();
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;

    int Open(const std::string& name);
    // Waits without limit for the lock.
    int Lock();
    void Unlock();
    bool IsOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace plat
