// The handler interface's defaults, its watch count and the process-wide failure action.
#include "dirwatch/DirectoryChangeHandler.h"

#include <mutex>

#include "dirwatch/DirectoryChangeWatcher.h"

using namespace dirwatch;

namespace {

using FailureAction = std::function<void(std::uint32_t, const std::u16string&)>;

// The process-wide failure action. Never destroyed: a watcher owned by a global object
// may still report while the program's statics are being destroyed.
struct FailureActionSlot {
    std::mutex lock;
    FailureAction action;
};
FailureActionSlot& Failure() {
    static auto* slot = new FailureActionSlot;
    return *slot;
}

void RunFailureAction(std::uint32_t code, const std::u16string& directory) {
    FailureAction action;
    {
        std::lock_guard<std::mutex> lock(Failure().lock);
        action = Failure().action;
    }
    if (action) action(code, directory);
}

}  // namespace

CDirectoryChangeHandler::~CDirectoryChangeHandler() { DetachFromWatcher(); }

void CDirectoryChangeHandler::On_FileAdded(const std::u16string&) {}
void CDirectoryChangeHandler::On_FileRemoved(const std::u16string&) {}
void CDirectoryChangeHandler::On_FileNameChanged(const std::u16string&, const std::u16string&) {}
void CDirectoryChangeHandler::On_FileModified(const std::u16string&) {}

void CDirectoryChangeHandler::On_WatchError(std::uint32_t errorCode, const std::u16string& directory) {
    RunFailureAction(errorCode, directory);
}

void CDirectoryChangeHandler::On_WatchStarted(std::uint32_t status, const std::u16string& directory) {
    if (status != 0) RunFailureAction(status, directory);
}

void CDirectoryChangeHandler::On_WatchStopped(const std::u16string&) {}

bool CDirectoryChangeHandler::On_AcceptNotification(std::uint32_t, const std::u16string&, const std::u16string&) {
    return true;
}

int CDirectoryChangeHandler::SetWatcher(CDirectoryChangeWatcher* watcher) {
    CDirectoryChangeWatcher* old = nullptr;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (watcher_ != nullptr && watcher_ != watcher) old = watcher_;
    }
    if (old != nullptr) old->UnwatchHandler(this);
    std::lock_guard<std::mutex> lock(lock_);
    watcher_ = watcher;
    return ++watchCount_;
}

void CDirectoryChangeHandler::DetachFromWatcher() {
    CDirectoryChangeWatcher* watcher;
    {
        std::lock_guard<std::mutex> lock(lock_);
        watcher = watcher_;
    }
    if (watcher != nullptr) watcher->UnwatchHandler(this);
}

std::u16string CDirectoryChangeHandler::Directory() const {
    std::lock_guard<std::mutex> lock(lock_);
    return directory_;
}

void CDirectoryChangeHandler::SetWatchFailureAction(std::function<void(std::uint32_t, const std::u16string&)> action) {
    std::lock_guard<std::mutex> lock(Failure().lock);
    Failure().action = std::move(action);
}

void CDirectoryChangeHandler::ReleaseWatch() {
    std::lock_guard<std::mutex> lock(lock_);
    if (watchCount_ > 0 && --watchCount_ == 0) watcher_ = nullptr;
}

void CDirectoryChangeHandler::SetDirectory(const std::u16string& directory) {
    std::lock_guard<std::mutex> lock(lock_);
    directory_ = directory;
}
