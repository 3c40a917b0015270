#pragma once
// The shared-memory value table: named blocks of bytes that the sync program publishes
// for other programs of the same user.
//
// The table is a shared memory object of the user (see plat::SharedMemory) whose first
// 102400 bytes hold, little-endian: u32 count, u32 totalSize (102400), then `count`
// records packed without padding, each an 80-byte UTF-16LE name (zero-terminated, at most
// 39 characters, zero-filled), a u32 dataSize and dataSize bytes of data; the space after
// the last record is zero. Behind those bytes lies a trailer of ours: a magic word, a
// layout version, the table generation (raised after a value was added or deleted) and
// 64 value generations (the one at FNV-1a(name) mod 64 is raised after that value was
// written or deleted). Readers wait for changes by watching a generation.
//
// Every operation holds the table's lock, a lock across processes that the system
// releases when its holder ends. A table that is not sound (a size or count that does
// not fit, a torn record, another layout) is initialised afresh before use.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sharedmem.h"

class CSharedMemory {
public:
    static constexpr std::uint32_t kTableSize = 102400;
    static constexpr std::uint32_t kHeaderSize = 8;
    static constexpr std::uint32_t kNameBytes = 80;
    static constexpr std::uint32_t kRecordHeaderSize = 84;
    static constexpr std::uint32_t kMaxNameChars = 39;
    static constexpr std::uint32_t kValueGenerations = 64;

    // System error codes of the table.
    static constexpr std::uint32_t kErrorNotOpen = 4312;
    static constexpr std::uint32_t kErrorZeroLength = 24;
    static constexpr std::uint32_t kErrorNameTooLong = 1743;
    static constexpr std::uint32_t kErrorExists = 183;
    static constexpr std::uint32_t kErrorNoRoom = 14;
    static constexpr std::uint32_t kErrorNoSuchValue = 2;
    static constexpr std::uint32_t kErrorValueTooSmall = 8;
    static constexpr std::uint32_t kErrorInvalidParameter = 87;
    static constexpr std::uint32_t kErrorInvalidName = 123;
    static constexpr std::uint32_t kErrorAccessDenied = 5;
    static constexpr std::uint32_t kErrorNotEnoughMemory = 8;
    static constexpr std::uint32_t kErrorGenFailure = 31;

    // Opens or creates the table `name`; Ready() tells whether it worked.
    explicit CSharedMemory(const std::u16string& name = u"DravikSyncMemMap");
    virtual ~CSharedMemory();
    CSharedMemory(const CSharedMemory&) = delete;
    CSharedMemory& operator=(const CSharedMemory&) = delete;

    // Adds a value of `size` zero bytes (the third argument is not used); 1 or 0.
    int AddValue(const std::u16string& name, std::uint32_t size, std::uint32_t unused = 0);
    // Deletes a value and packs the records after it down; 1 or 0.
    int DeleteValue(const std::u16string& name);
    // Writes `length` bytes at the start of the value's space and zeroes the rest; 1 or 0.
    int SetValue(const std::u16string& name, const void* data, std::uint32_t length);
    // Finds a value without taking the lock: `data` = its bytes (right after its record
    // header), `record` = its record; 1 found, 0 absent. The addresses stay valid while
    // this object lives; the bytes may change under a reader that holds no lock.
    int FindValue(const std::u16string& name, unsigned char** data, unsigned char** record) const;
    // The reader's way in: copies the value's whole space (dataSize bytes) into `out`
    // under the table's lock, so a writer never tears it; 1 found, 0 absent.
    int ReadValue(const std::u16string& name, std::vector<unsigned char>& out);

    bool Ready() const { return ready_; }
    bool Created() const { return created_; }
    std::uint32_t LastError() const { return lastError_; }
    std::uint32_t TotalSize() const { return totalSize_; }
    // The table's name once it is open, else empty.
    const std::u16string& Name() const { return name_; }

    // The generations that stand in for the table's and the values' events.
    std::uint64_t TableGeneration() const;
    std::uint64_t ValueGeneration(const std::u16string& name) const;

private:
    class UnlockOnExit;

    int Fail(std::uint32_t error) const;
    std::uint32_t LockTable(std::unique_lock<std::mutex>& threadLock);
    bool TableIsSound() const;
    void Initialise();
    void RaiseTableGeneration();
    void RaiseValueGeneration(const std::u16string& name);
    std::uint32_t CheckName(const std::u16string& name) const;

    std::u16string name_;
    mutable std::uint32_t lastError_ = 0;
    bool created_ = false;
    bool ready_ = false;
    std::uint32_t totalSize_ = 0;

    std::mutex threadLock_;  // the threads of this process
    plat::ProcessLock lock_;  // every process of the user
    plat::SharedMemory memory_;
};

// The program's one table ("DravikSyncMemMap"), made on the first call and never
// destroyed; null when it could not be made (a later call tries again).
CSharedMemory* GetSharedMemory();
