#pragma once
// What the local file layer needs of the program-wide directory watcher: start, stop and
// look up the watch of a folder. Paths are native paths as the watcher reports them.
#include <string>

// Receives the notifications of one watched folder, on the watcher's notification thread.
class DirectoryWatchSink {
public:
    virtual ~DirectoryWatchSink() = default;
    virtual void OnAdded(const std::string& path) = 0;
    virtual void OnRemoved(const std::string& path) = 0;
    virtual void OnModified(const std::string& path) = 0;
    virtual void OnRenamed(const std::string& oldPath, const std::string& newPath) = 0;
    virtual void OnError(int code, const std::string& folder) = 0;
};

class DirectoryWatchService {
public:
    virtual ~DirectoryWatchService() = default;
    virtual bool IsWatching(const std::string& folder) = 0;
    // Starts watching `folder` for `sink` (not owned); true on success.
    virtual bool Watch(const std::string& folder, DirectoryWatchSink* sink) = 0;
    // Stops the watch. Once it returns true no call reaches the folder's sink any more.
    virtual bool Unwatch(const std::string& folder) = 0;
};
