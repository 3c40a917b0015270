#pragma once
// The file functions behind WinFileSystemAdapter, on native paths (absolute, normalised,
// UTF-8, '/'), and the conversions between interface paths and native paths.
#include <cstdint>
#include <string>
#include <vector>

#include "client/local/LocalFileSystem.h"

namespace WinFileSystem {

// Interface path -> native path: valid UTF-8, absolute, no empty component, "." skipped,
// ".." never reaching the root, every name a valid file name, at most 32768 characters.
// The normalised path is returned, so the path used is the path checked.
bool ToNativePath(const std::string& path, std::string& native);
// Watcher path -> interface path, with the same checks; false drops the notification.
bool ToUtf8Path(const std::string& nativePath, std::string& path);

// Seconds and nanoseconds since 1970 (UTC) as a DateTime with offset 0.
bool FileTimeToDateTime(std::int64_t seconds, std::int64_t nanoseconds, DateTime& out);

bool GetFileInfo(const std::string& native, LocalFileItem& item);
bool HasChildren(const std::string& native);
// One level; links and special files are left out. A name that is not UTF-8 fails the
// listing (the items are emptied).
bool ListDirectory(const std::string& native, std::vector<LocalFileItem>& items);
bool GetDirectoryTree(const std::string& native, LocalFileTree& node, int depth);

int CreateDirectoryRecursive(const std::string& native);
int CopyDirectoryRecursive(const std::string& from, const std::string& to);
int DeleteDirectoryRecursive(const std::string& native);
int CreateFileWithSize(const std::string& native, std::int64_t size);
int SetReadOnly(const std::string& native, bool readOnly);
bool GetFileMD5(const std::string& native, std::string& md5);

}  // namespace WinFileSystem
