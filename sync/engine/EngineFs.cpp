#include "sync/engine/EngineFs.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/clock.h"
#include "platform/fsinfo.h"
#include "platform/longpath.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/LocalFileSystem.h"
#include "sync/common/unicode.h"
#include "sync/engine/FileDigest.h"
#include "sync/engine/ThreadOfDriver.h"

namespace {

// The longest name the file system holds as one item.
constexpr std::size_t kLongestNameBytes = 255;

EngineFs::Kind KindOfFacts(plat::fs::Kind kind) {
    switch (kind) {
        case plat::fs::Kind::File:
            return EngineFs::Kind::File;
        case plat::fs::Kind::Directory:
            return EngineFs::Kind::Folder;
        case plat::fs::Kind::Missing:
            return EngineFs::Kind::Missing;
        default:
            return EngineFs::Kind::Other;
    }
}

// The deepest folder that two absolute folder paths share (whole names).
std::string_view SharedFolder(std::string_view a, std::string_view b) {
    std::size_t shared = 0;
    for (std::size_t i = 0;; ++i) {
        const bool aEnd = i == a.size();
        const bool bEnd = i == b.size();
        if ((aEnd || a[i] == '/') && (bEnd || b[i] == '/')) shared = i;
        if (aEnd || bEnd || a[i] != b[i]) break;
    }
    return a.substr(0, shared);
}

// The text after the last separator of either kind.
std::string_view LastName(std::string_view path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The root and the record paths

void EngineFs::SetRoot(const std::string& rootUtf8) {
    std::string normalised;
    if (rootUtf8.empty() || !plat::NormalizePathUtf8(rootUtf8, normalised)) normalised.clear();
    while (normalised.size() > 1 && normalised.back() == '/') normalised.pop_back();
    root_ = std::move(normalised);
}

void EngineFs::SetRoot(const std::u16string& root) {
    std::string utf8;
    if (!UTF16toUTF8(root, utf8)) utf8.clear();
    SetRoot(utf8);
}

EngineFs::Refusal EngineFs::Resolve(std::string_view path, std::string& diskPath, std::string* clearWay) {
    diskPath.clear();
    if (root_.empty()) return Refusal::NoRoot;
    // The names below the root, each after a '/'. Nothing may climb: "." and ".." are
    // refused before the normaliser (which would resolve them) sees the path.
    std::string below;
    below.reserve(path.size() + 1);
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view name = path.substr(start, end - start);
        if (!name.empty()) {
            if (name == "." || name == "..") return Refusal::Name;
            if (name.size() > kLongestNameBytes) return Refusal::TooLong;
            below += '/';
            below.append(name);
        }
        start = end + 1;
    }
    if (below.empty()) {
        diskPath = root_;
        return Refusal::None;
    }
    // The shared path check judges every name below the (already normalised) root: NUL
    // and control characters, UTF-8. The whole path must stay within the longest one the
    // path checks take.
    std::string normalised;
    if (!plat::NormalizePathUtf8(below, normalised)) {
        std::u16string wide;
        const bool text = UTF8toUTF16(below, wide);
        return text && wide.size() + root_.size() > kLongestPathChars ? Refusal::TooLong : Refusal::Name;
    }
    std::string disk = root_ == "/" ? std::move(normalised) : root_ + normalised;
    if (disk.size() > kLongestPathChars) {
        std::u16string wide;
        if (!UTF8toUTF16(disk, wide)) return Refusal::Name;
        if (wide.size() > kLongestPathChars) return Refusal::TooLong;
    }
    // The way: every level between the root and the last name (the last name's folder
    // and the folders above it), checked from the deepest folder it shares with the
    // pass's clear way (whose every level is a real folder).
    const std::string_view folder(disk.data(), std::max<std::size_t>(disk.rfind('/'), 1));
    std::string_view from = root_;
    if (clearWay != nullptr && !clearWay->empty()) {
        const std::string_view shared = SharedFolder(*clearWay, folder);
        if (shared.size() > from.size()) from = shared;
    }
    if (from != folder && !BlockedStepAt(std::string(from), disk).empty()) return Refusal::LinkOnWay;
    if (clearWay != nullptr) clearWay->assign(folder);
    diskPath = std::move(disk);
    return Refusal::None;
}

std::string EngineFs::BelowRoot(const std::string& diskPath) const {
    if (diskPath == root_) return {};
    return root_ == "/" ? diskPath : diskPath.substr(root_.size());
}

bool EngineFs::ResolveOrFail(std::string_view path, std::string& disk, std::string* clearWay) {
    switch (Resolve(path, disk, clearWay)) {
        case Refusal::None:
            return true;
        case Refusal::LinkOnWay:
            errno = ELOOP;
            return false;
        default:
            errno = EINVAL;
            return false;
    }
}

bool EngineFs::ResolveItemOrFail(std::string_view path, std::string& disk) {
    if (!ResolveOrFail(path, disk)) return false;
    if (disk != root_) return true;
    errno = EINVAL;  // the sync folder itself is never moved, copied, replaced or removed
    return false;
}

// ---------------------------------------------------------------------------------------
// Looking

EngineFs::Kind EngineFs::KindOf(std::string_view path) {
    std::string disk;
    // A path that cannot be looked at names an item that is unknown, never absent.
    if (Resolve(path, disk) != Refusal::None) return Kind::Other;
    plat::fs::ItemFacts facts;
    return StatAt(disk, facts) ? KindOfFacts(facts.kind) : Kind::Missing;
}

bool EngineFs::Attributes(std::string_view path, bool& isFolder, std::uint64_t& size) {
    std::string disk;
    plat::fs::ItemFacts facts;
    if (!ResolveOrFail(path, disk) || !StatAt(disk, facts)) return false;
    if (facts.kind == plat::fs::Kind::Directory) {
        isFolder = true;
        size = 0;
        return true;
    }
    if (facts.kind != plat::fs::Kind::File) return false;
    isFolder = false;
    size = facts.size;
    return true;
}

bool EngineFs::Stamp(std::string_view path, DiskStamp& out) {
    std::string disk;
    plat::fs::ItemFacts facts;
    return ResolveOrFail(path, disk) && StatAt(disk, facts) && DiskStamp::Of(facts, out);
}

bool EngineFs::IsSyncable(std::string_view path, bool checkDisk) {
    if (!BaseFunc::IsSyncableName(path)) return false;
    if (!checkDisk) return true;
    const Kind kind = KindOf(path);
    return kind == Kind::File || kind == Kind::Folder;
}

bool EngineFs::IsBeingWritten(std::string_view path) {
    std::string disk;
    return ResolveOrFail(path, disk) && OpenForWritingAt(disk);
}

bool EngineFs::List(std::string_view folder, std::vector<Entry>& out, std::string& error, std::string* clearWay) {
    out.clear();
    std::string disk;
    if (!ResolveOrFail(folder, disk, clearWay)) {
        error = errno == ELOOP ? "a link or a file stands on the way" : "the path cannot be used";
        return false;
    }
    return ListAt(disk, out, error);
}

std::string EngineFs::Digest(FileDigestHolder& holder, std::string_view path) {
    std::string disk;
    if (!ResolveOrFail(path, disk, &holder.clearWay)) {
        holder.errorCode = 0;
        holder.errorText = std::string(path) + " could not be opened";
        return {};
    }
    return DigestAt(holder, disk);
}

bool EngineFs::OnRotationalDisk() { return !root_.empty() && RotationalAt(root_); }

// ---------------------------------------------------------------------------------------
// Changing

bool EngineFs::Move(std::string_view from, std::string_view to, bool replace) {
    std::string a;
    std::string b;
    return ResolveItemOrFail(from, a) && ResolveItemOrFail(to, b) && MoveAt(a, b, replace);
}

bool EngineFs::CopyFile(std::string_view from, std::string_view to) {
    std::string a;
    std::string b;
    return ResolveItemOrFail(from, a) && ResolveItemOrFail(to, b) && CopyFileAt(a, b);
}

bool EngineFs::CopyTree(std::string_view from, std::string_view to) {
    std::string a;
    std::string b;
    return ResolveItemOrFail(from, a) && ResolveItemOrFail(to, b) && CopyTreeAt(a, b);
}

bool EngineFs::MakeFolders(std::string_view path) {
    std::string disk;
    return ResolveOrFail(path, disk) && MakeFoldersAt(disk);
}

bool EngineFs::RemoveFile(std::string_view path) {
    std::string disk;
    return ResolveItemOrFail(path, disk) && RemoveFileAt(disk);
}

bool EngineFs::RemoveTree(std::string_view path) {
    std::string disk;
    return ResolveItemOrFail(path, disk) && RemoveTreeAt(disk);
}

std::string EngineFs::MakeBackupName(std::string_view path, const plat::SystemTime& time) {
    std::string disk;
    if (!ResolveItemOrFail(path, disk)) return {};
    const std::string backup = BackupNameAt(disk, time);
    // The backup stays beside the item: same folder, another name.
    const std::size_t cut = disk.rfind('/');
    if (backup.size() <= cut + 1 || backup.compare(0, cut + 1, disk, 0, cut + 1) != 0 ||
        backup.find('/', cut + 1) != std::string::npos) {
        return {};
    }
    const std::string_view name = LastName(path);
    return std::string(path.substr(0, path.size() - name.size())) + backup.substr(cut + 1);
}

bool EngineFs::ListFolder(CSyncBase* owner, std::string_view folder, FileNode* parent, LocalUnknownSet* unknown) {
    std::string disk;
    if (parent == nullptr || !ResolveOrFail(folder, disk)) return false;
    return ListFolderAt(owner, disk, parent, unknown);
}

std::string EngineFs::BackupNameAt(const std::string& disk, const plat::SystemTime& time) {
    return BaseFunc::MakeConflictBackupName(disk, time);
}

bool EngineFs::ListFolderAt(CSyncBase* owner, const std::string& disk, FileNode* parent, LocalUnknownSet* unknown) {
    return ListLocalFolder(*this, unknown, owner, BelowRoot(disk), parent);
}

// ---------------------------------------------------------------------------------------
// The real disk

bool DiskEngineFs::StatAt(const std::string& disk, plat::fs::ItemFacts& out) { return plat::fs::StatItem(disk, out); }

std::string DiskEngineFs::BlockedStepAt(const std::string& from, const std::string& disk) {
    return plat::fs::BlockedStepBelow(from, disk);
}

bool DiskEngineFs::ListAt(const std::string& disk, std::vector<Entry>& out, std::string& error) {
    // The sync folder itself may be a link to a folder; nothing below it is followed.
    const bool ok = disk == Root() ? plat::fs::ListDirectory(disk, out) : plat::fs::ListDirectoryNoFollow(disk, out);
    if (!ok) error = plat::fs::LastErrorText();
    return ok;
}

bool DiskEngineFs::OpenForWritingAt(const std::string& disk) { return plat::fs::IsOpenForWriting(disk); }

std::string DiskEngineFs::DigestAt(FileDigestHolder& holder, const std::string& disk) {
    return FileDigestHex(holder, disk);
}

bool DiskEngineFs::RotationalAt(const std::string& root) { return plat::IsOnRotationalDisk(root); }

bool DiskEngineFs::MoveAt(const std::string& from, const std::string& to, bool replace) {
    return replace ? LocalFileSystem::MoveItemReplace(from, to) : LocalFileSystem::MoveItem(from, to);
}

bool DiskEngineFs::CopyFileAt(const std::string& from, const std::string& to) {
    return LocalFileSystem::CopyOneFile(from, to);
}

bool DiskEngineFs::CopyTreeAt(const std::string& from, const std::string& to) {
    return LocalFileSystem::CopyDirectoryTree(from, to);
}

bool DiskEngineFs::MakeFoldersAt(const std::string& disk) { return LocalFileSystem::CreateDirectoryPath(disk); }

bool DiskEngineFs::RemoveFileAt(const std::string& disk) { return LocalFileSystem::RemoveFile(disk); }

bool DiskEngineFs::RemoveTreeAt(const std::string& disk) { return LocalFileSystem::DeleteDirectoryTree(disk); }

// ---------------------------------------------------------------------------------------
// The clock

std::uint64_t SteadyEngineClock::Milliseconds() { return plat::SteadyMilliseconds(); }

void SteadyEngineClock::Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

plat::SystemTime SteadyEngineClock::LocalTime() { return plat::NowLocal(); }
