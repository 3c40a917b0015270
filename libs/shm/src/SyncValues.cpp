#include "shm/SyncValues.h"

#include <vector>

#include "platform/localpipe.h"

namespace {

constexpr char kQuerySocketPrefix[] = "DravikSyncQuery-";

bool Publish(CSharedMemory& table, const std::u16string& name, const std::vector<unsigned char>& bytes) {
    table.DeleteValue(name);
    const auto size = static_cast<std::uint32_t>(bytes.size());
    return table.AddValue(name, size) == 1 && table.SetValue(name, bytes.data(), size) == 1;
}

}  // namespace

std::string SyncQuerySocketName(std::uint32_t handle) { return kQuerySocketPrefix + std::to_string(handle); }

std::string SyncQuerySocketPath(std::uint32_t handle) { return plat::LocalPipePath(SyncQuerySocketName(handle)); }

bool IsSyncQuerySocketName(const std::string& name) {
    const std::string prefix = kQuerySocketPrefix;
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 10 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
}

bool PublishSyncFolder(CSharedMemory& table, const std::u16string& folder) {
    if (folder.empty()) {
        table.DeleteValue(kSyncFolderValue);
        return true;
    }
    std::vector<unsigned char> bytes;
    bytes.reserve(folder.size() * 2);
    for (const char16_t unit : folder) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return Publish(table, kSyncFolderValue, bytes);
}

bool PublishSyncHandle(CSharedMemory& table, std::uint32_t handle) {
    std::vector<unsigned char> bytes(4);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(handle >> (8 * i));
    return Publish(table, kSyncHandleValue, bytes);
}

void WithdrawSyncValues(CSharedMemory& table) {
    table.DeleteValue(kSyncFolderValue);
    table.DeleteValue(kSyncHandleValue);
}

PublishedSync ReadPublishedSync(CSharedMemory& table) {
    PublishedSync published;
    std::vector<unsigned char> bytes;
    if (table.ReadValue(kSyncFolderValue, bytes) == 1 && bytes.size() % 2 == 0) {
        for (std::size_t i = 0; i < bytes.size(); i += 2) {
            published.folder.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
        }
    }
    if (table.ReadValue(kSyncHandleValue, bytes) == 1 && bytes.size() == 4) {
        const std::uint32_t handle = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                                     static_cast<std::uint32_t>(bytes[2]) << 16 |
                                     static_cast<std::uint32_t>(bytes[3]) << 24;
        published.handle = handle;
        published.queryPath = SyncQuerySocketPath(handle);
    }
    return published;
}
