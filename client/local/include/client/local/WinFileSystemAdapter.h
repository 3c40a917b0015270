#pragma once
// CLocalFileSystem on this machine's file system. Each interface path is checked and
// normalised first (WinFileSystem::ToNativePath); folder watches go through the
// program's directory watcher and reach the client's handlers with UTF-8 paths; file
// types are opened through an association provider.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/local/AppAssociation.h"
#include "client/local/DirectoryWatchService.h"
#include "client/local/LocalFileSystem.h"

// Hands the watcher's notifications of one folder to a client handler, with checked
// UTF-8 paths. A rename whose new path cannot be told is dropped; one whose old path
// cannot be told arrives as an addition of the new path.
class CWinWatchDirHandle : public DirectoryWatchSink {
public:
    CWinWatchDirHandle(CWatchDirHandle* handler, std::string folder);

    const std::string& Folder() const { return folder_; }

    void OnAdded(const std::string& path) override;
    void OnRemoved(const std::string& path) override;
    void OnModified(const std::string& path) override;
    void OnRenamed(const std::string& oldPath, const std::string& newPath) override;
    void OnError(int code, const std::string& folder) override;

private:
    CWatchDirHandle* handler_;  // not owned
    std::string folder_;        // native path
};

class WinFileSystemAdapter : public CLocalFileSystem {
public:
    // Neither pointer is owned. Without a watcher no folder can be watched; without an
    // association provider the process-wide default provider is used.
    explicit WinFileSystemAdapter(DirectoryWatchService* watcher = nullptr,
                                  AssociationProvider* associations = nullptr);
    // Stops the watches this adapter started.
    ~WinFileSystemAdapter() override;
    WinFileSystemAdapter(const WinFileSystemAdapter&) = delete;
    WinFileSystemAdapter& operator=(const WinFileSystemAdapter&) = delete;

    bool Exists(const std::string& path, int& isDirectory) override;
    int CreateDirectory(const std::string& path) override;
    int CopyDirectory(const std::string& from, const std::string& to) override;
    int MoveDirectory(const std::string& from, const std::string& to) override;
    int DeleteDirectory(const std::string& path) override;
    int CreateFileWithSize(const std::string& path, std::int64_t size) override;
    int CopyFile(const std::string& from, const std::string& to) override;
    int MoveFile(const std::string& from, const std::string& to) override;
    int MoveFileNoReplace(const std::string& from, const std::string& to) override;
    int DeleteFile(const std::string& path) override;
    std::int64_t GetFileSize(const std::string& path) override;
    int StartWatchDirectory(const std::string& folder, CWatchDirHandle* handler) override;
    int StopWatchDirectory(const std::string& folder) override;
    bool GetFileInfo(const std::string& path, LocalFileItem& item) override;
    bool ListDirectory(const std::string& folder, std::vector<LocalFileItem>& items) override;
    bool GetDirectoryTree(const std::string& path, LocalFileTree& node, int depth) override;
    bool GetFileMD5(const std::string& path, std::string& md5) override;
    std::int64_t GetTickTime() override;
    CLocalFileIO* CreateFileIO() override;
    void ReleaseFileIO(CLocalFileIO** io) override;
    std::string GetShortcutExtension() override;
    bool IsFileInUse(const std::string& path) override;
    int OpenWithApplication(const std::string& path, const std::atomic<bool>* stop, bool wait) override;
    bool GetAssociatedApplication(const std::string& extension, FileAssociation& association) override;
    bool SetReadOnly(const std::string& path, bool readOnly) override;

private:
    DirectoryWatchService* watcher_;
    AssociationProvider* associations_;
    std::mutex watchMutex_;  // guards wrappers_ and orders starts and stops
    std::vector<std::unique_ptr<CWinWatchDirHandle>> wrappers_;
};

// True when `path` lies strictly below `folder` once both are normalised (interface
// paths). Local paths built from server data are checked with it.
bool IsLocalPathBelow(const std::string& folder, const std::string& path);

// Why `path` is no place below `folder` for data from the server: the reason the path
// checks refuse it, "the local path would leave its folder", or a link (or a file)
// standing on the way below `folder` (the same check the sync program makes for its
// sync folder). Empty when `path` lies below `folder` with a clear way.
std::string LocalPathBelowProblem(const std::string& folder, const std::string& path);
