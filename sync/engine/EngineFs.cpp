#include "sync/engine/EngineFs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "platform/clock.h"
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

// A read lease can only be taken while nobody holds the file open for writing, which is
// exactly the question. The lease is dropped at once. Should a writer open the file in
// that instant, the kernel signals the lease holder: SIGURG, whose default is to be
// ignored, is asked for instead of SIGIO (whose default ends the process). A file this
// user does not own cannot be leased; it then counts as free.
bool DiskEngineFs::IsBeingWritten(const std::string& path) {
    const std::string disk = DiskPath(path);
    if (disk.empty() || plat::fs::GetKind(disk) != plat::fs::Kind::File) return false;
    const int fd = ::open(disk.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    bool busy = false;
    if (::fcntl(fd, F_SETSIG, SIGURG) == 0) {
        if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
            ::fcntl(fd, F_SETLEASE, F_UNLCK);
        } else {
            busy = errno == EAGAIN;
        }
    }
    ::close(fd);
    return busy;
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
