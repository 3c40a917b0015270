#pragma once
// The interface through which a directory watch reports: one virtual call per change,
// made on the watcher's notification thread (never on its monitor thread, nor on the
// thread that asked for the watch), with full UTF-16 paths. The caller derives from it
// and passes it to CDirectoryChangeWatcher::WatchPath.
//
// Defaults do nothing, except that On_WatchError and a failed On_WatchStarted run the
// process-wide watch-failure action when one is installed (the sync program installs one
// that asks for a full rescan), so a handler that overrides neither still never loses a
// watch's end silently.
//
// Lifetime: the handler counts the watches it serves and remembers the watcher serving
// them. Its destructor stops them all, and once a stop returns no call of that watch runs
// or can follow; a derived handler calls DetachFromWatcher first thing in its own
// destructor, so that no call reaches a half-destroyed object.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "dirwatch/WatchCodes.h"

class CDirectoryChangeWatcher;
class CDelayedDirectoryChangeHandler;

class CDirectoryChangeHandler {
public:
    CDirectoryChangeHandler() = default;
    // Stops every watch of this handler. A derived handler should call DetachFromWatcher
    // first thing in its own destructor, so that no call reaches a half-destroyed object.
    virtual ~CDirectoryChangeHandler();
    CDirectoryChangeHandler(const CDirectoryChangeHandler&) = delete;
    CDirectoryChangeHandler& operator=(const CDirectoryChangeHandler&) = delete;

    virtual void On_FileAdded(const std::u16string& path);
    virtual void On_FileRemoved(const std::u16string& path);
    virtual void On_FileNameChanged(const std::u16string& oldPath, const std::u16string& newPath);
    virtual void On_FileModified(const std::u16string& path);
    virtual void On_WatchError(std::uint32_t errorCode, const std::u16string& directory);
    virtual void On_WatchStarted(std::uint32_t status, const std::u16string& directory);
    virtual void On_WatchStopped(const std::u16string& directory);
    virtual bool On_AcceptNotification(std::uint32_t action, const std::u16string& name,
                                       const std::u16string& newName);

    // Records `watcher` as the one watching for this handler (a different watcher first
    // stops this handler's watches on the old one) and counts one watch. The watcher
    // calls this; returns the number of watches counted.
    int SetWatcher(CDirectoryChangeWatcher* watcher);
    // Stops every watch of this handler now.
    void DetachFromWatcher();
    // The watched folder of the change being reported (set before each call).
    std::u16string Directory() const;

    // The action of the default On_WatchError / failed On_WatchStarted for the whole
    // process; an empty function removes it.
    static void SetWatchFailureAction(std::function<void(std::uint32_t, const std::u16string&)> action);

private:
    friend class CDelayedDirectoryChangeHandler;
    void ReleaseWatch();
    void SetDirectory(const std::u16string& directory);

    mutable std::mutex lock_;
    CDirectoryChangeWatcher* watcher_ = nullptr;
    int watchCount_ = 0;
    std::u16string directory_;
};
