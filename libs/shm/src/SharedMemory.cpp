#include "shm/SharedMemory.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "platform/text.h"

namespace {

// Trailer behind the table: u32 magic, u32 layout version, u64 table generation, then the
// value generations.
constexpr std::uint32_t kMagic = 0x4D534B44;  // "DKSM"
constexpr std::uint32_t kLayoutVersion = 1;
constexpr std::size_t kTrailerOffset = CSharedMemory::kTableSize;
constexpr std::size_t kTableGenerationOffset = kTrailerOffset + 8;
constexpr std::size_t kValueGenerationsOffset = kTrailerOffset + 16;
constexpr std::size_t kTrailerSize = 16 + 8 * CSharedMemory::kValueGenerations;
constexpr std::size_t kObjectSize = CSharedMemory::kTableSize + 4096;
static_assert(kTrailerSize <= 4096);
static_assert(std::atomic_ref<std::uint64_t>::is_always_lock_free);

constexpr std::uint64_t kNotFound = std::numeric_limits<std::uint64_t>::max();

std::uint32_t Load32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void Store32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

char16_t NameUnit(const unsigned char* record, std::size_t i) {
    return static_cast<char16_t>(record[2 * i] | record[2 * i + 1] << 8);
}

bool NameEquals(const unsigned char* record, const std::u16string& name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (NameUnit(record, i) != name[i]) return false;
    }
    return NameUnit(record, name.size()) == 0;  // name.size() is at most 39
}

// A name field holds a terminating zero within its 40 units and only zeros after it.
bool NameFieldSound(const unsigned char* record) {
    std::size_t i = 0;
    while (i < CSharedMemory::kNameBytes / 2 && NameUnit(record, i) != 0) ++i;
    if (i == CSharedMemory::kNameBytes / 2) return false;
    for (std::size_t b = 2 * i; b < CSharedMemory::kNameBytes; ++b) {
        if (record[b] != 0) return false;
    }
    return true;
}

// Walks the records of the table at `base` with every size checked against the table in
// 64-bit arithmetic. `found` = offset of the record named `name` (kNotFound when absent or
// no name given), `end` = offset right after the last record. False when a record does
// not fit or its name field is torn.
bool Locate(const unsigned char* base, const std::u16string* name, std::uint64_t& found, std::uint64_t& end) {
    const std::uint64_t total = CSharedMemory::kTableSize;
    const std::uint32_t count = Load32(base);
    std::uint64_t offset = CSharedMemory::kHeaderSize;
    found = kNotFound;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (offset + CSharedMemory::kRecordHeaderSize > total) return false;
        const unsigned char* record = base + offset;
        const std::uint64_t size = Load32(record + CSharedMemory::kNameBytes);
        if (offset + CSharedMemory::kRecordHeaderSize + size > total) return false;
        if (!NameFieldSound(record)) return false;
        if (name != nullptr && found == kNotFound && NameEquals(record, *name)) found = offset;
        offset += CSharedMemory::kRecordHeaderSize + size;
    }
    end = offset;
    return true;
}

std::uint64_t NameHash(const std::u16string& name) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char16_t c : name) {
        for (const unsigned char byte : {static_cast<unsigned char>(c), static_cast<unsigned char>(c >> 8)}) {
            h ^= byte;
            h *= 0x100000001b3ULL;
        }
    }
    return h;
}

std::uint32_t SystemError(int error) {
    switch (error) {
    case EACCES:
    case EPERM: return CSharedMemory::kErrorAccessDenied;
    case ENOMEM:
    case ENOSPC: return CSharedMemory::kErrorNotEnoughMemory;
    case EINVAL: return CSharedMemory::kErrorInvalidName;
    default: return CSharedMemory::kErrorGenFailure;
    }
}

std::atomic_ref<std::uint64_t> Counter(unsigned char* base, std::size_t offset) {
    return std::atomic_ref<std::uint64_t>(*reinterpret_cast<std::uint64_t*>(base + offset));
}

}  // namespace

// Releases the table's lock across processes when an operation ends.
class CSharedMemory::UnlockOnExit {
public:
    explicit UnlockOnExit(plat::ProcessLock& lock) : lock_(lock) {}
    ~UnlockOnExit() { lock_.Unlock(); }
    UnlockOnExit(const UnlockOnExit&) = delete;
    UnlockOnExit& operator=(const UnlockOnExit&) = delete;

private:
    plat::ProcessLock& lock_;
};

CSharedMemory::CSharedMemory(const std::u16string& name) {
    std::string name8;
    if (name.empty() || name.find(u'\0') != std::u16string::npos || !plat::Utf16ToUtf8(name, name8)) {
        lastError_ = kErrorInvalidName;
        return;
    }
    if (const int error = lock_.Open(name8 + "_Sync")) {
        lastError_ = SystemError(error);
        return;
    }
    if (const int error = lock_.Lock()) {
        lastError_ = SystemError(error);
        return;
    }
    UnlockOnExit unlock(lock_);
    bool created = false;
    bool grew = false;
    int error = memory_.Open(name8, created);
    if (error == 0) error = memory_.Map(kObjectSize, grew);
    if (error != 0) {
        memory_.Close();
        lastError_ = SystemError(error);
        return;
    }
    created_ = created;
    if (created || grew || !TableIsSound()) Initialise();
    totalSize_ = kTableSize;
    ready_ = true;
    name_ = name;
}

CSharedMemory::~CSharedMemory() = default;

int CSharedMemory::Fail(std::uint32_t error) const {
    lastError_ = error;
    return 0;
}

bool CSharedMemory::TableIsSound() const {
    const unsigned char* base = memory_.Data();
    if (Load32(base + kTrailerOffset) != kMagic || Load32(base + kTrailerOffset + 4) != kLayoutVersion) return false;
    if (Load32(base + 4) != kTableSize) return false;
    std::uint64_t found, end;
    if (!Locate(base, nullptr, found, end)) return false;
    for (std::uint64_t i = end; i < kTableSize; ++i) {
        if (base[i] != 0) return false;
    }
    return true;
}

void CSharedMemory::Initialise() {
    unsigned char* base = memory_.Data();
    const bool trailerOurs =
        Load32(base + kTrailerOffset) == kMagic && Load32(base + kTrailerOffset + 4) == kLayoutVersion;
    std::memset(base, 0, kTableSize);
    Store32(base + 4, kTableSize);
    if (!trailerOurs) {
        std::memset(base + kTrailerOffset, 0, kTrailerSize);
        Store32(base + kTrailerOffset, kMagic);
        Store32(base + kTrailerOffset + 4, kLayoutVersion);
    }
    RaiseTableGeneration();
}

std::uint32_t CSharedMemory::LockTable(std::unique_lock<std::mutex>& threadLock) {
    threadLock = std::unique_lock<std::mutex>(threadLock_);
    if (const int error = lock_.Lock()) return SystemError(error);
    bool grew = false;
    if (const int error = memory_.KeepMappedSize(grew)) {
        lock_.Unlock();
        return SystemError(error);
    }
    // Shortened, torn or foreign: start afresh rather than read past what fits.
    if (grew || !TableIsSound()) Initialise();
    return 0;
}

std::uint32_t CSharedMemory::CheckName(const std::u16string& name) const {
    if (name.size() > kMaxNameChars) return kErrorNameTooLong;
    if (name.empty() || name.find(u'\0') != std::u16string::npos) return kErrorInvalidParameter;
    return 0;
}

void CSharedMemory::RaiseTableGeneration() { Counter(memory_.Data(), kTableGenerationOffset).fetch_add(1); }

void CSharedMemory::RaiseValueGeneration(const std::u16string& name) {
    Counter(memory_.Data(), kValueGenerationsOffset + 8 * (NameHash(name) % kValueGenerations)).fetch_add(1);
}

std::uint64_t CSharedMemory::TableGeneration() const {
    if (!ready_) return 0;
    return Counter(memory_.Data(), kTableGenerationOffset).load();
}

std::uint64_t CSharedMemory::ValueGeneration(const std::u16string& name) const {
    if (!ready_) return 0;
    return Counter(memory_.Data(), kValueGenerationsOffset + 8 * (NameHash(name) % kValueGenerations)).load();
}

int CSharedMemory::AddValue(const std::u16string& name, std::uint32_t size, std::uint32_t) {
    if (!ready_) return Fail(kErrorNotOpen);
    std::unique_lock<std::mutex> threadLock;
    if (const std::uint32_t error = LockTable(threadLock)) return Fail(error);
    UnlockOnExit unlock(lock_);
    if (size == 0) return Fail(kErrorZeroLength);
    if (const std::uint32_t error = CheckName(name)) return Fail(error);

    unsigned char* base = memory_.Data();
    const std::uint32_t count = Load32(base);
    std::uint64_t found, end;
    Locate(base, &name, found, end);  // sound: LockTable checked it
    if (found != kNotFound) return Fail(kErrorExists);
    if (end + kRecordHeaderSize + size > kTableSize) return Fail(kErrorNoRoom);

    unsigned char* record = base + end;
    std::memset(record, 0, kRecordHeaderSize + static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < name.size(); ++i) {
        record[2 * i] = static_cast<unsigned char>(name[i]);
        record[2 * i + 1] = static_cast<unsigned char>(name[i] >> 8);
    }
    Store32(record + kNameBytes, size);
    Store32(base, count + 1);
    RaiseTableGeneration();
    return 1;
}

int CSharedMemory::DeleteValue(const std::u16string& name) {
    if (!ready_) return Fail(kErrorNotOpen);
    std::unique_lock<std::mutex> threadLock;
    if (const std::uint32_t error = LockTable(threadLock)) return Fail(error);
    UnlockOnExit unlock(lock_);
    if (name.size() > kMaxNameChars) return Fail(kErrorNoSuchValue);

    unsigned char* base = memory_.Data();
    const std::uint32_t count = Load32(base);
    std::uint64_t found, end;
    Locate(base, &name, found, end);
    if (count == 0 || found == kNotFound) return Fail(kErrorNoSuchValue);

    const std::uint64_t length = kRecordHeaderSize + static_cast<std::uint64_t>(Load32(base + found + kNameBytes));
    const std::uint64_t after = found + length;
    std::memmove(base + found, base + after, static_cast<std::size_t>(end - after));
    std::memset(base + (end - length), 0, static_cast<std::size_t>(length));
    Store32(base, count - 1);
    RaiseTableGeneration();
    RaiseValueGeneration(name);
    return 1;
}

int CSharedMemory::SetValue(const std::u16string& name, const void* data, std::uint32_t length) {
    if (!ready_) return Fail(kErrorNotOpen);
    std::unique_lock<std::mutex> threadLock;
    if (const std::uint32_t error = LockTable(threadLock)) return Fail(error);
    UnlockOnExit unlock(lock_);
    if (length == 0) return Fail(kErrorZeroLength);
    if (data == nullptr) return Fail(kErrorInvalidParameter);

    unsigned char* base = memory_.Data();
    std::uint64_t found = kNotFound, end;
    if (name.size() <= kMaxNameChars) Locate(base, &name, found, end);
    if (found == kNotFound) return Fail(kErrorNoSuchValue);
    const std::uint32_t space = Load32(base + found + kNameBytes);
    if (length > space) return Fail(kErrorValueTooSmall);

    unsigned char* bytes = base + found + kRecordHeaderSize;
    std::memset(bytes, 0, space);
    std::memcpy(bytes, data, length);
    RaiseValueGeneration(name);
    return 1;
}

int CSharedMemory::FindValue(const std::u16string& name, unsigned char** data, unsigned char** record) const {
    if (!ready_) return Fail(kErrorNotOpen);
    unsigned char* base = memory_.Data();
    std::uint64_t found = kNotFound, end;
    if (name.size() > kMaxNameChars || !Locate(base, &name, found, end) || found == kNotFound)
        return Fail(kErrorNoSuchValue);
    if (record != nullptr) *record = base + found;
    if (data != nullptr) *data = base + found + kRecordHeaderSize;
    return 1;
}

int CSharedMemory::ReadValue(const std::u16string& name, std::vector<unsigned char>& out) {
    out.clear();
    if (!ready_) return Fail(kErrorNotOpen);
    std::unique_lock<std::mutex> threadLock;
    if (const std::uint32_t error = LockTable(threadLock)) return Fail(error);
    UnlockOnExit unlock(lock_);
    const unsigned char* base = memory_.Data();
    std::uint64_t found = kNotFound, end;
    if (name.size() <= kMaxNameChars) Locate(base, &name, found, end);  // sound: LockTable checked it
    if (found == kNotFound) return Fail(kErrorNoSuchValue);
    const std::uint32_t size = Load32(base + found + kNameBytes);
    const unsigned char* bytes = base + found + kRecordHeaderSize;
    out.assign(bytes, bytes + size);
    return 1;
}

CSharedMemory* GetSharedMemory() {
    static std::mutex lock;
    static CSharedMemory* table = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (table == nullptr) table = new (std::nothrow) CSharedMemory();
    return table;
}
