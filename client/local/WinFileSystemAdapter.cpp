#include "client/local/WinFileSystemAdapter.h"

#include <new>
#include <sstream>

#include "client/core/ClientLog.h"
#include "client/local/LocalSystem.h"
#include "client/local/WinFileIO.h"
#include "client/local/WinFileSystem.h"
#include "platform/clock.h"
#include "platform/fileops.h"
#include "platform/longpath.h"

CWinWatchDirHandle::CWinWatchDirHandle(CWatchDirHandle* handler, std::string folder)
    : handler_(handler), folder_(std::move(folder)) {}

void CWinWatchDirHandle::OnAdded(const std::string& path) {
    std::string utf8;
    if (WinFileSystem::ToUtf8Path(path, utf8)) handler_->On_FileAdded(utf8);
}

void CWinWatchDirHandle::OnRemoved(const std::string& path) {
    std::string utf8;
    if (WinFileSystem::ToUtf8Path(path, utf8)) handler_->On_FileRemoved(utf8);
}

void CWinWatchDirHandle::OnModified(const std::string& path) {
    std::string utf8;
    if (WinFileSystem::ToUtf8Path(path, utf8)) handler_->On_FileModified(utf8);
}

void CWinWatchDirHandle::OnRenamed(const std::string& oldPath, const std::string& newPath) {
    std::string newUtf8;
    if (!WinFileSystem::ToUtf8Path(newPath, newUtf8)) return;
    std::string oldUtf8;
    if (!WinFileSystem::ToUtf8Path(oldPath, oldUtf8)) {
        OnAdded(newPath);
        return;
    }
    handler_->On_FileNameChanged(oldUtf8, newUtf8);
}

void CWinWatchDirHandle::OnError(int code, const std::string& folder) {
    std::string utf8;
    if (WinFileSystem::ToUtf8Path(folder, utf8)) handler_->On_WatchError(utf8);
}

WinFileSystemAdapter::WinFileSystemAdapter(DirectoryWatchService* watcher, AssociationProvider* associations)
    : watcher_(watcher), associations_(associations ? associations : &DefaultAssociationProvider()) {}

WinFileSystemAdapter::~WinFileSystemAdapter() {
    std::lock_guard<std::mutex> lock(watchMutex_);
    for (const auto& wrapper : wrappers_) {
        if (watcher_ != nullptr) watcher_->Unwatch(wrapper->Folder());
    }
    wrappers_.clear();
}

bool WinFileSystemAdapter::Exists(const std::string& path, int& isDirectory) {
    std::string native;
    if (!WinFileSystem::ToNativePath(path, native)) return false;
    const plat::fs::Kind kind = plat::fs::GetKind(native);
    if (kind == plat::fs::Kind::Missing) return false;
    isDirectory = kind == plat::fs::Kind::Directory ? static_cast<int>(kLocalAttrDirectory) : 0;
    return true;
}

int WinFileSystemAdapter::CreateDirectory(const std::string& path) {
    std::string native;
    return WinFileSystem::ToNativePath(path, native) ? WinFileSystem::CreateDirectoryRecursive(native) : 0;
}

int WinFileSystemAdapter::CopyDirectory(const std::string& from, const std::string& to) {
    std::string a, b;
    if (!WinFileSystem::ToNativePath(from, a) || !WinFileSystem::ToNativePath(to, b)) return 0;
    return WinFileSystem::CopyDirectoryRecursive(a, b);
}

int WinFileSystemAdapter::MoveDirectory(const std::string& from, const std::string& to) {
    std::string a, b;
    if (!WinFileSystem::ToNativePath(from, a) || !WinFileSystem::ToNativePath(to, b)) return 0;
    return plat::fs::Move(a, b, false) ? 1 : 0;
}

int WinFileSystemAdapter::DeleteDirectory(const std::string& path) {
    std::string native;
    return WinFileSystem::ToNativePath(path, native) ? WinFileSystem::DeleteDirectoryRecursive(native) : 0;
}

int WinFileSystemAdapter::CreateFileWithSize(const std::string& path, std::int64_t size) {
    std::string native;
    return WinFileSystem::ToNativePath(path, native) ? WinFileSystem::CreateFileWithSize(native, size) : 0;
}

int WinFileSystemAdapter::CopyFile(const std::string& from, const std::string& to) {
    std::string a, b;
    if (!WinFileSystem::ToNativePath(from, a) || !WinFileSystem::ToNativePath(to, b)) return 0;
    return plat::fs::CopyFile(a, b, true) ? 1 : 0;
}

int WinFileSystemAdapter::MoveFile(const std::string& from, const std::string& to) {
    std::string a, b;
    if (!WinFileSystem::ToNativePath(from, a) || !WinFileSystem::ToNativePath(to, b)) return 0;
    return plat::fs::Move(a, b, true) ? 1 : 0;
}

int WinFileSystemAdapter::MoveFileNoReplace(const std::string& from, const std::string& to) {
    std::string a, b;
    if (!WinFileSystem::ToNativePath(from, a) || !WinFileSystem::ToNativePath(to, b)) return 0;
    if (plat::fs::GetKind(a) == plat::fs::Kind::Directory) return 0;
    if (plat::fs::Move(a, b, false)) return 1;
    return plat::fs::GetKind(b) != plat::fs::Kind::Missing ? kLocalMoveTargetExists : 0;
}

int WinFileSystemAdapter::DeleteFile(const std::string& path) {
    std::string native;
    if (!WinFileSystem::ToNativePath(path, native)) return 0;
    switch (plat::fs::GetKind(native)) {
        case plat::fs::Kind::Missing:
            return 1;
        case plat::fs::Kind::Directory:
            return 0;
        default:
            return plat::fs::RemoveFile(native) ? 1 : 0;
    }
}

std::int64_t WinFileSystemAdapter::GetFileSize(const std::string& path) {
    std::string native;
    if (!WinFileSystem::ToNativePath(path, native)) return 0;
    const std::uint64_t size = plat::fs::FileSize(native);
    return size == UINT64_MAX ? -1 : static_cast<std::int64_t>(size);
}

int WinFileSystemAdapter::StartWatchDirectory(const std::string& folder, CWatchDirHandle* handler) {
    std::string native;
    if (handler == nullptr || !WinFileSystem::ToNativePath(folder, native)) return 0;
    std::lock_guard<std::mutex> lock(watchMutex_);
    if (watcher_ == nullptr) return 0;
    if (watcher_->IsWatching(native)) return 1;
    auto wrapper = std::make_unique<CWinWatchDirHandle>(handler, native);
    LogClientInfo("<winFileSystem>StartWatchDirectory, Starting...");
    const bool ok = watcher_->Watch(native, wrapper.get());
    LogClientInfo(std::string("<winFileSystem>StartWatchDirectory, Starting...") +
                  (ok ? ", start success" : ", start failed"));
    if (!ok) return 0;
    wrappers_.push_back(std::move(wrapper));
    return 1;
}

int WinFileSystemAdapter::StopWatchDirectory(const std::string& folder) {
    std::string native;
    if (!WinFileSystem::ToNativePath(folder, native)) return 0;
    std::lock_guard<std::mutex> lock(watchMutex_);
    if (watcher_ == nullptr || !watcher_->IsWatching(native)) return 1;
    if (!watcher_->Unwatch(native)) return 0;
    // Only once the watcher has let go may the wrappers of the folder die.
    std::erase_if(wrappers_, [&](const auto& wrapper) { return wrapper->Folder() == native; });
    return 1;
}

bool WinFileSystemAdapter::GetFileInfo(const std::string& path, LocalFileItem& item) {
    std::string native;
    return WinFileSystem::ToNativePath(path, native) && WinFileSystem::GetFileInfo(native, item);
}

bool WinFileSystemAdapter::ListDirectory(const std::string& folder, std::vector<LocalFileItem>& items) {
    items.clear();
    std::string native;
    return WinFileSystem::ToNativePath(folder, native) && WinFileSystem::ListDirectory(native, items);
}

bool WinFileSystemAdapter::GetDirectoryTree(const std::string& path, LocalFileTree& node, int depth) {
    std::string native;
    return WinFileSystem::ToNativePath(path, native) && WinFileSystem::GetDirectoryTree(native, node, depth);
}

bool WinFileSystemAdapter::GetFileMD5(const std::string& path, std::string& md5) {
    std::string native;
    return WinFileSystem::ToNativePath(path, native) && WinFileSystem::GetFileMD5(native, md5);
}

std::int64_t WinFileSystemAdapter::GetTickTime() { return static_cast<std::int64_t>(plat::SteadyMilliseconds()); }

CLocalFileIO* WinFileSystemAdapter::CreateFileIO() { return new (std::nothrow) CWinFileIO(); }

void WinFileSystemAdapter::ReleaseFileIO(CLocalFileIO** io) {
    if (io == nullptr || *io == nullptr) return;
    delete *io;
    *io = nullptr;
}

std::string WinFileSystemAdapter::GetShortcutExtension() { return ".desktop"; }

bool WinFileSystemAdapter::IsFileInUse(const std::string& path) {
    std::string native;
    return WinFileSystem::ToNativePath(path, native) && localsys::IsLockedByOther(native);
}

int WinFileSystemAdapter::OpenWithApplication(const std::string& path, const std::atomic<bool>* stop, bool wait) {
    std::string native;
    if (!WinFileSystem::ToNativePath(path, native)) return 0;
    const std::size_t slash = native.find_last_of('/');
    const std::size_t dot = native.find_last_of('.');
    const std::string extension = dot != std::string::npos && dot > slash ? native.substr(dot) : std::string();

    FileAssociation app;
    if (!associations_->Query(extension, app)) return 1;
    if (!app.isExe) {
        associations_->OfferChooser(native);
        return 1;
    }
    if (IsSingleInstanceDocumentType(extension) && associations_->IsProgramRunning(app.executable) != 0) {
        associations_->ShowAlreadyRunning(app.friendlyAppName);
        return 0;
    }
    int processId = 0;
    if (!associations_->Start(extension, native, wait, processId)) return 2;
    if (!wait) return 0;
    for (;;) {
        const int r = associations_->WaitForExit(processId, 50);
        if (r == 0) {
            std::ostringstream line;
            line << "<WinFileSystem>The online Edit Application has quit. PID=" << processId
                 << ", TID=" << processId;
            LogClientInfo(line.str());
            break;
        }
        if (r != 258) break;
        if (stop != nullptr && stop->load()) {
            associations_->Abandon(processId);
            break;
        }
    }
    return 0;
}

bool WinFileSystemAdapter::GetAssociatedApplication(const std::string& extension, FileAssociation& association) {
    association = FileAssociation();
    return associations_->Query(extension, association);
}

bool WinFileSystemAdapter::SetReadOnly(const std::string& path, bool readOnly) {
    std::string native;
    return WinFileSystem::ToNativePath(path, native) && WinFileSystem::SetReadOnly(native, readOnly) == 1;
}

bool IsLocalPathBelow(const std::string& folder, const std::string& path) {
    std::string root, inner;
    if (!WinFileSystem::ToNativePath(folder, root) || !WinFileSystem::ToNativePath(path, inner)) return false;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    while (inner.size() > 1 && inner.back() == '/') inner.pop_back();
    const std::string prefix = root == "/" ? root : root + "/";
    return inner.size() > prefix.size() && inner.compare(0, prefix.size(), prefix) == 0;
}

std::string LocalPathBelowProblem(const std::string& folder, const std::string& path) {
    std::string root, inner;
    for (const std::string* p : {&folder, &path}) {
        const std::string problem = plat::PathProblemUtf8(*p);
        if (!problem.empty()) return problem;
    }
    if (!IsLocalPathBelow(folder, path) || !WinFileSystem::ToNativePath(folder, root) ||
        !WinFileSystem::ToNativePath(path, inner)) {
        return "the local path would leave its folder";
    }
    const std::string blocked = plat::fs::BlockedStepBelow(root, inner);
    if (!blocked.empty()) return "a link or a file stands on the way: " + blocked;
    return {};
}
