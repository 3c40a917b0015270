#pragma once
// The client's only way to local files and folders. Paths cross this interface as
// absolute UTF-8 texts with '/' separators; a path that is relative, not UTF-8, has an
// empty component, climbs above the root with "..", or names an invalid file name fails
// the operation with its failure value, without touching the disk.
#include <atomic>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "client/core/DateTime.h"

class CLocalFileIO;

// Attribute bits of LocalFileItem::attributes.
constexpr std::uint32_t kLocalAttrReadOnly = 0x01;
constexpr std::uint32_t kLocalAttrDirectory = 0x10;
constexpr std::uint32_t kLocalAttrNormal = 0x80;
// Result of CLocalFileSystem::MoveFileNoReplace when the target exists.
constexpr int kLocalMoveTargetExists = 183;
constexpr std::uint32_t kLocalAttrReparsePoint = 0x400;  // a symbolic link

// One file or folder as this layer reports it.
struct LocalFileItem {
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    bool isFolder = false;
    DateTime creationTime;   // UTC, offset 0
    DateTime lastWriteTime;  // UTC, offset 0
    std::string name;        // no folder part
    std::string shortName;   // the name itself: there are no alternate short names here
    std::uint32_t fileIndexLow = 0;   // the file's identity; GetFileInfo of a file only
    std::uint32_t fileIndexHigh = 0;
    bool hasChildren = false;         // GetFileInfo only
};

// A tree of items; children keep the order of the listing. Nodes have stable addresses.
struct LocalFileTree {
    LocalFileItem item;
    std::list<LocalFileTree> children;

    LocalFileTree& AppendChild(const LocalFileItem& child) {
        children.emplace_back();
        children.back().item = child;
        return children.back();
    }
    void RemoveChildren() { children.clear(); }
};

// The application that opens files of one extension.
struct FileAssociation {
    std::string friendlyDocName;  // the type's description
    std::string friendlyAppName;  // the application's name
    std::string executable;       // absolute path of the program
    bool found = false;           // the extension has a known type
    bool isExe = false;           // found, and a program to start is known
};

// Directory-change notifications with UTF-8 paths.
class CWatchDirHandle {
public:
    virtual ~CWatchDirHandle() = default;
    virtual void On_FileAdded(const std::string& path) {}
    virtual void On_FileRemoved(const std::string& path) {}
    virtual void On_FileModified(const std::string& path) {}
    virtual void On_FileNameChanged(const std::string& oldPath, const std::string& newPath) {}
    virtual void On_WatchError(const std::string& path) {}
};

class CLocalFileSystem {
public:
    virtual ~CLocalFileSystem() = default;

    // True when the item exists (a link counts as itself); isDirectory = 0x10 for a
    // folder, else 0. On false the out value is untouched.
    virtual bool Exists(const std::string& path, int& isDirectory) = 0;
    // Creates every missing level; 1 when the folder exists afterwards.
    virtual int CreateDirectory(const std::string& path) = 0;
    // Copies a folder tree (files overwrite); links and special files are skipped.
    virtual int CopyDirectory(const std::string& from, const std::string& to) = 0;
    // Moves a folder; an existing target is never replaced.
    virtual int MoveDirectory(const std::string& from, const std::string& to) = 0;
    // Deletes a folder and everything below it (links are removed, never followed);
    // a missing path gives 1, a path that is not a folder 0.
    virtual int DeleteDirectory(const std::string& path) = 0;
    // Creates (or truncates) a file with the given size; size 0 or less gives an empty file.
    virtual int CreateFileWithSize(const std::string& path, std::int64_t size) = 0;
    // Copies one file; an existing target is replaced.
    virtual int CopyFile(const std::string& from, const std::string& to) = 0;
    // Moves a file, replacing an existing file at the target (never a folder).
    virtual int MoveFile(const std::string& from, const std::string& to) = 0;
    // Moves a file only when nothing stands at the target (a link counts): 1 moved,
    // kLocalMoveTargetExists when something is there, 0 on another failure.
    virtual int MoveFileNoReplace(const std::string& from, const std::string& to) = 0;
    // Deletes a file (read-only ones too); a missing path gives 1, a folder 0.
    virtual int DeleteFile(const std::string& path) = 0;
    // Size of a file; -1 when missing or not a file; 0 for a path that is refused.
    virtual std::int64_t GetFileSize(const std::string& path) = 0;
    // Watches a folder for `handler` (not owned). 1 when watched afterwards (an already
    // watched folder keeps its first handler), 0 on failure.
    virtual int StartWatchDirectory(const std::string& folder, CWatchDirHandle* handler) = 0;
    // Stops the watch of a folder; 1 when it is not watched afterwards. No notification
    // reaches the folder's handler once this has returned.
    virtual int StopWatchDirectory(const std::string& folder) = 0;
    virtual bool GetFileInfo(const std::string& path, LocalFileItem& item) = 0;
    // One level, in listing order; links and special files are not listed.
    virtual bool ListDirectory(const std::string& folder, std::vector<LocalFileItem>& items) = 0;
    // The item into `node` and, with depth < 0 everything, 0 nothing, n > 0 n levels below.
    virtual bool GetDirectoryTree(const std::string& path, LocalFileTree& node, int depth) = 0;
    // MD5 of the whole content as 32 upper-case hexadecimal digits.
    virtual bool GetFileMD5(const std::string& path, std::string& md5) = 0;
    // Milliseconds of a steady clock.
    virtual std::int64_t GetTickTime() = 0;
    // A new, closed file object (release it with ReleaseFileIO); null when none can be made.
    virtual CLocalFileIO* CreateFileIO() = 0;
    // Deletes the object and nulls the pointer; a null pointer is ignored.
    virtual void ReleaseFileIO(CLocalFileIO** io) = 0;
    // The extension of the desktop's shortcut files.
    virtual std::string GetShortcutExtension() = 0;
    // True when another program holds a lock on the file.
    virtual bool IsFileInUse(const std::string& path) = 0;
    // Opens the file in the application of its type. 0 opened (and, with wait, ended, or
    // refused because that application already runs), 1 no application (the chooser may
    // have been offered), 2 the application could not be started. With wait, returns once
    // the application has ended or *stop turned true (set from another thread).
    virtual int OpenWithApplication(const std::string& path, const std::atomic<bool>* stop, bool wait) = 0;
    // The application for an extension (with its dot); `association` is emptied first.
    virtual bool GetAssociatedApplication(const std::string& extension, FileAssociation& association) = 0;
    // Makes a file read-only (no write permission) or writable by its owner.
    virtual bool SetReadOnly(const std::string& path, bool readOnly) = 0;
};
