#include "sync/engine/EngineFs.h"

#include <thread>

#include "platform/clock.h"
#include "platform/filefacts.h"
#include "platform/fileops.h"
#include "platform/longpath.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/LocalFileSystem.h"
#include "sync/common/unicode.h"
#include "sync/engine/ThreadOfDriver.h"

namespace {

// The disk form of a record path ('/' separators, normalised); empty when it has none.
std::string DiskPath(const std::string& path) {
    std::string out;
    if (path.find('\0') != std::string::npos || !plat::NormalizePathUtf8(path, out)) return {};
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

}  // namespace

std::string EngineFs::MakeBackupName(const std::string& path, const plat::SystemTime& time) {
    return BaseFunc::MakeConflictBackupName(path, time);
}

EngineFs::Kind DiskEngineFs::KindOf(const std::string& path) {
    const std::string disk = DiskPath(path);
    if (disk.empty()) return Kind::Missing;
    switch (plat::fs::GetKind(disk)) {
        case plat::fs::Kind::File:
            return Kind::File;
        case plat::fs::Kind::Directory:
            return Kind::Folder;
        case plat::fs::Kind::Missing:
            return Kind::Missing;
        default:
            return Kind::Other;
    }
}

bool DiskEngineFs::Attributes(const std::string& path, bool& isFolder, std::uint64_t& size) {
    const std::string disk = DiskPath(path);
    if (disk.empty()) return false;
    const plat::fs::Kind kind = plat::fs::GetKind(disk);
    if (kind == plat::fs::Kind::Directory) {
        isFolder = true;
        size = 0;
        return true;
    }
    if (kind != plat::fs::Kind::File) return false;
    const std::uint64_t bytes = plat::fs::FileSize(disk);
    if (bytes == UINT64_MAX) return false;
    isFolder = false;
    size = bytes;
    return true;
}

bool DiskEngineFs::IsSyncable(const std::string& path, bool checkDisk) {
    return IsSyncableLocalItem(BaseFunc::AnsiToWide(path), checkDisk);
}

bool DiskEngineFs::MoveItem(const std::string& from, const std::string& to) {
    return LocalFileSystem::MoveItem(from, to);
}

bool DiskEngineFs::MoveItemReplace(const std::string& from, const std::string& to) {
    return LocalFileSystem::MoveItemReplace(from, to);
}

bool DiskEngineFs::IsBeingWritten(const std::string& path) {
    const std::string disk = DiskPath(path);
    return !disk.empty() && plat::fs::IsOpenForWriting(disk);
}

bool DiskEngineFs::ListFolder(CSyncBase* owner, const std::string& path, FileNode* parent) {
    if (!lister_ || parent == nullptr) return false;
    return lister_(owner, BaseFunc::AnsiToWide(path), parent);
}

std::uint64_t SteadyEngineClock::Milliseconds() { return plat::SteadyMilliseconds(); }

void SteadyEngineClock::Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

plat::SystemTime SteadyEngineClock::LocalTime() { return plat::NowLocal(); }
