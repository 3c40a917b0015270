// The watcher: starting and stopping watches, and the threads they share.
#include "dirwatch/DirectoryChangeWatcher.h"

#include <algorithm>
#include <new>
#include <system_error>

#include "InotifyMonitor.h"
#include "WatchedTree.h"
#include "dirwatch/DelayedDelivery.h"
#include "platform/fileops.h"
#include "platform/text.h"

using namespace dirwatch;
using dirwatch::detail::SystemError;
using dirwatch::detail::WatchTree;

namespace {

std::u16string TrimSeparators(const std::u16string& directory) {
    std::u16string d = directory;
    while (d.size() > 1 && d.back() == u'/') d.pop_back();
    return d;
}

}  // namespace

CDirectoryChangeWatcher::CDirectoryChangeWatcher() = default;

CDirectoryChangeWatcher::~CDirectoryChangeWatcher() {
    UnwatchAll();
    std::vector<std::shared_ptr<CDelayedNotificationThread>> retired;
    {
        std::lock_guard<std::recursive_mutex> lock(opLock_);
        retired.swap(retired_);
    }
    for (const auto& n : retired) n->Quit(Pump());
}

std::uint32_t CDirectoryChangeWatcher::EnsureThreads() {
    if (monitor_ && monitor_->Running()) return 0;
    if (monitor_) {
        monitor_->Quit();
        monitor_.reset();
    }
    try {
        if (!notifier_) notifier_ = std::make_shared<CDelayedNotificationThread>();
        auto monitor = std::make_shared<Monitor>(this);
        if (!monitor->Start()) return kErrorNoThread;
        monitor_ = std::move(monitor);
    } catch (const std::system_error&) {
        return kErrorNoThread;
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
    return 0;
}

std::uint32_t CDirectoryChangeWatcher::WatchPath(const std::u16string& directory, std::uint32_t,
                                                 CDirectoryChangeHandler* handler, bool, const std::u16string&,
                                                 const std::u16string&) {
    if (directory.empty() || handler == nullptr) return kErrorInvalidParameter;
    const std::u16string dir = TrimSeparators(directory);
    std::string dir8;
    if (dir.find(u'\0') != std::u16string::npos || !plat::Utf16ToUtf8(dir, dir8)) return kErrorInvalidName;
    if (dir8.front() != '/' || plat::fs::GetKind(dir8) != plat::fs::Kind::Directory) return kErrorBadPathname;

    UnwatchPath(dir);

    std::lock_guard<std::recursive_mutex> op(opLock_);
    {
        std::lock_guard<std::mutex> lock(watchesLock_);
        lastDirectory_ = directory;
    }
    if (const std::uint32_t error = EnsureThreads()) return error;

    auto watch = std::make_shared<CDirWatchInfo>(dir, dir8);
    watch->handler = std::make_shared<CDelayedDirectoryChangeHandler>(handler, notifier_, filterFlags_.load(), dir);
    watch->monitor = monitor_;
    {
        std::lock_guard<std::mutex> lock(delayedLock_);
        std::erase_if(delayed_, [](const auto& d) { return d.expired(); });
        delayed_.push_back(watch->handler);
    }
    handler->SetWatcher(this);

    std::uint32_t error = SystemError(watch->events.Open());
    if (error == 0) error = WatchTree(*watch, std::string(), false);
    if (error != 0) {
        watch->events.Close();
        watch->handler->Post(kWatchStarted, dir, {}, error);
        return error;
    }
    watch->handler->Post(kWatchStarted, dir, {}, 0);
    {
        std::lock_guard<std::mutex> lock(watchesLock_);
        const auto freeSlot = std::find(watches_.begin(), watches_.end(), nullptr);
        if (freeSlot != watches_.end())
            *freeSlot = watch;
        else
            watches_.push_back(watch);
    }
    monitor_->Add(watch);
    return 0;
}

std::uint32_t CDirectoryChangeWatcher::WatchPath(const std::u16string& directory, CDirectoryChangeHandler* handler) {
    return WatchPath(directory, 0x1F, handler, true, {}, {});
}

std::vector<std::shared_ptr<CDirectoryChangeWatcher::CDirWatchInfo>> CDirectoryChangeWatcher::TakeWatches(
    const std::function<bool(CDirWatchInfo&)>& which) {
    std::vector<std::shared_ptr<CDirWatchInfo>> taken;
    std::lock_guard<std::mutex> lock(watchesLock_);
    for (auto& slot : watches_) {
        if (slot && which(*slot)) taken.push_back(std::move(slot));
    }
    return taken;  // the slots they held are null now
}

void CDirectoryChangeWatcher::RemoveEndedWatch(const CDirWatchInfo* watch) {
    std::lock_guard<std::mutex> lock(watchesLock_);
    for (auto& slot : watches_) {
        if (slot.get() == watch) slot.reset();
    }
}

void CDirectoryChangeWatcher::StopWatch(const std::shared_ptr<CDirWatchInfo>& watch) {
    const std::function<void()> pump = Pump();
    if (const auto monitor = watch->monitor.lock())
        monitor->Stop(watch);
    else if (!watch->ended) {
        watch->events.Close();
        watch->ended = true;
        watch->handler->Post(kWatchStopped, watch->directory);
    }
    CDelayedDirectoryChangeHandler& delayed = *watch->handler;
    if (delayed.OnDeliveringThread())
        delayed.DeliverStopHere();
    else
        delayed.WaitForLast(pump);
    delayed.Detach(pump);
}

void CDirectoryChangeWatcher::DetachAll(const std::function<bool(CDelayedDirectoryChangeHandler&)>& which) {
    std::vector<std::shared_ptr<CDelayedDirectoryChangeHandler>> found;
    {
        std::lock_guard<std::mutex> lock(delayedLock_);
        for (const auto& weak : delayed_) {
            if (auto d = weak.lock(); d && which(*d)) found.push_back(std::move(d));
        }
    }
    const std::function<void()> pump = Pump();
    for (const auto& d : found) d->Detach(pump);
}

bool CDirectoryChangeWatcher::UnwatchPath(const std::u16string& directory) {
    const std::u16string dir = TrimSeparators(directory);
    const auto taken = TakeWatches([&](CDirWatchInfo& w) { return w.directory == dir; });
    for (const auto& w : taken) StopWatch(w);
    return !taken.empty();
}

bool CDirectoryChangeWatcher::UnwatchHandler(CDirectoryChangeHandler* handler) {
    const auto taken = TakeWatches([&](CDirWatchInfo& w) { return w.handler->OriginalHandler() == handler; });
    for (const auto& w : taken) StopWatch(w);
    // Watches that already ended on an error may still have a report queued for it.
    DetachAll([&](CDelayedDirectoryChangeHandler& d) { return d.OriginalHandler() == handler; });
    return !taken.empty();
}

bool CDirectoryChangeWatcher::UnwatchAll() {
    std::shared_ptr<Monitor> monitor;
    std::shared_ptr<CDelayedNotificationThread> notifier;
    {
        std::lock_guard<std::recursive_mutex> op(opLock_);
        monitor = std::move(monitor_);
        notifier = std::move(notifier_);
    }
    const auto taken = TakeWatches([](CDirWatchInfo&) { return true; });
    for (const auto& w : taken) StopWatch(w);
    if (monitor) monitor->Quit();
    const std::function<void()> pump = Pump();
    if (notifier) {
        notifier->Quit(pump);
        if (notifier->IsDeliveringThread()) {
            std::lock_guard<std::recursive_mutex> op(opLock_);
            retired_.push_back(notifier);
        }
        DetachAll([&](CDelayedDirectoryChangeHandler& d) { return d.UsesNotifier(notifier.get()); });
    }
    // Notification threads that were asked to end from their own thread earlier.
    std::vector<std::shared_ptr<CDelayedNotificationThread>> retired;
    {
        std::lock_guard<std::recursive_mutex> op(opLock_);
        for (auto it = retired_.begin(); it != retired_.end();) {
            if ((*it)->IsDeliveringThread()) {
                ++it;
            } else {
                retired.push_back(std::move(*it));
                it = retired_.erase(it);
            }
        }
    }
    for (const auto& n : retired) n->Quit(pump);
    return monitor != nullptr;
}

bool CDirectoryChangeWatcher::IsWatched(const std::u16string& directory) const {
    return FindWatchInfo(directory) != nullptr;
}

CDirectoryChangeWatcher::CDirWatchInfo* CDirectoryChangeWatcher::FindWatchInfo(const std::u16string& directory,
                                                                               int* index) const {
    const std::u16string dir = TrimSeparators(directory);
    std::lock_guard<std::mutex> lock(watchesLock_);
    for (std::size_t i = 0; i < watches_.size(); ++i) {
        if (watches_[i] && watches_[i]->directory == dir) {
            if (index != nullptr) *index = static_cast<int>(i);
            return watches_[i].get();
        }
    }
    return nullptr;
}

void CDirectoryChangeWatcher::SetFilterFlags(std::uint32_t flags) { filterFlags_ = flags; }

std::uint32_t CDirectoryChangeWatcher::FilterFlags() const { return filterFlags_; }

std::u16string CDirectoryChangeWatcher::LastDirectory() const {
    std::lock_guard<std::mutex> lock(watchesLock_);
    return lastDirectory_;
}

void CDirectoryChangeWatcher::SetWaitPump(std::function<void()> pump) {
    std::lock_guard<std::mutex> lock(pumpLock_);
    pump_ = std::move(pump);
}

std::function<void()> CDirectoryChangeWatcher::Pump() const {
    std::lock_guard<std::mutex> lock(pumpLock_);
    return pump_;
}

void CDirectoryChangeWatcher::PauseMonitorForTest(bool paused) {
    std::lock_guard<std::recursive_mutex> op(opLock_);
    if (monitor_) monitor_->SetPaused(paused);
}
