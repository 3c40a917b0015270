#include "client/local/WatcherBridge.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "dirwatch/DirectoryChanges.h"
#include "platform/text.h"

namespace {

std::string WithoutTrailingSeparators(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace

// One watched folder: the watcher's handler, and the gate through which its changes reach
// the sink. The gate's own lock is held only to enter and leave a call, never during it.
class WatcherBridge::Record : public CDirectoryChangeHandler {
public:
    explicit Record(DirectoryWatchSink* sink) : sink_(sink) {}
    // Stops the watcher's calls before this object goes (they end on the notification
    // thread, so the retiring thread waits for them here).
    ~Record() override { DetachFromWatcher(); }

    void On_FileAdded(const std::u16string& path) override {
        Forward(path, [](DirectoryWatchSink& sink, const std::string& p) { sink.OnAdded(p); });
    }
    void On_FileRemoved(const std::u16string& path) override {
        Forward(path, [](DirectoryWatchSink& sink, const std::string& p) { sink.OnRemoved(p); });
    }
    void On_FileModified(const std::u16string& path) override {
        Forward(path, [](DirectoryWatchSink& sink, const std::string& p) { sink.OnModified(p); });
    }
    void On_FileNameChanged(const std::u16string& oldPath, const std::u16string& newPath) override {
        std::string newUtf8;
        if (!plat::Utf16ToUtf8(newPath, newUtf8)) return;
        Forward(oldPath, [&](DirectoryWatchSink& sink, const std::string& p) { sink.OnRenamed(p, newUtf8); });
    }
    void On_WatchError(std::uint32_t code, const std::u16string& folder) override {
        ended_ = true;  // the watcher has dropped the watch already
        Forward(folder, [code](DirectoryWatchSink& sink, const std::string& p) {
            sink.OnError(static_cast<int>(code), p);
        });
    }
    // The bridge reports neither starts nor stops, and takes every change.
    void On_WatchStarted(std::uint32_t, const std::u16string&) override {}
    void On_WatchStopped(const std::u16string&) override {}

    bool Ended() const { return ended_; }

    // No call reaches the sink any more once this returns: waits for the calls already
    // running on other threads (a call on this thread is the caller itself).
    void Close() {
        const std::thread::id self = std::this_thread::get_id();
        std::unique_lock<std::mutex> lock(gateLock_);
        open_ = false;
        gateChanged_.wait(lock, [&] {
            return std::all_of(inside_.begin(), inside_.end(), [&](std::thread::id id) { return id == self; });
        });
    }

    // Guarded by the bridge's lock: a record whose start is under way is retired by the
    // thread that starts it.
    bool starting = false;
    bool retireAfterStart = false;

private:
    template <class Call>
    void Forward(const std::u16string& path, Call call) {
        std::string utf8;
        if (!plat::Utf16ToUtf8(path, utf8)) return;
        const std::thread::id self = std::this_thread::get_id();
        {
            std::lock_guard<std::mutex> lock(gateLock_);
            if (!open_) return;
            inside_.push_back(self);
        }
        struct Leave {
            Record& record;
            std::thread::id id;
            ~Leave() {
                {
                    std::lock_guard<std::mutex> lock(record.gateLock_);
                    record.inside_.erase(std::find(record.inside_.begin(), record.inside_.end(), id));
                }
                record.gateChanged_.notify_all();
            }
        } leave{*this, self};
        call(*sink_, utf8);
    }

    DirectoryWatchSink* const sink_;
    std::atomic<bool> ended_{false};
    std::mutex gateLock_;
    std::condition_variable gateChanged_;
    bool open_ = true;                     // guarded by gateLock_
    std::vector<std::thread::id> inside_;  // guarded by gateLock_: threads inside a sink call
};

WatcherBridge::WatcherBridge(CDirectoryChangeWatcher& watcher) : watcher_(watcher) {
    retirer_ = std::thread([this] { RetireLoop(); });
}

WatcherBridge::~WatcherBridge() {
    std::vector<std::shared_ptr<Record>> all;
    {
        std::lock_guard<std::mutex> lock(lock_);
        for (auto& entry : records_) all.push_back(std::move(entry.second));
        records_.clear();
    }
    for (auto& record : all) CloseAndRetire(std::move(record));
    {
        std::lock_guard<std::mutex> lock(lock_);
        quitting_ = true;
    }
    retireWake_.notify_all();
    retirer_.join();
}

bool WatcherBridge::IsWatching(const std::string& folder) {
    std::lock_guard<std::mutex> lock(lock_);
    const auto it = records_.find(WithoutTrailingSeparators(folder));
    return it != records_.end() && !it->second->Ended();
}

bool WatcherBridge::Watch(const std::string& folder, DirectoryWatchSink* sink) {
    if (sink == nullptr || folder.empty() || folder[0] != '/') return false;
    const std::string key = WithoutTrailingSeparators(folder);
    // A zero byte would end the conversion early and name another folder.
    std::u16string directory;
    if (key.find('\0') != std::string::npos || !plat::Utf8ToUtf16(key, directory)) return false;

    auto record = std::make_shared<Record>(sink);
    std::shared_ptr<Record> old;
    {
        std::lock_guard<std::mutex> lock(lock_);
        std::shared_ptr<Record>& slot = records_[key];
        old = std::move(slot);
        slot = record;
        record->starting = true;
    }
    if (old) CloseAndRetire(std::move(old));
    const bool started = watcher_.WatchPath(directory, record.get()) == 0;
    FinishStart(std::move(record), started);
    return started;
}

void WatcherBridge::FinishStart(std::shared_ptr<Record> record, bool started) {
    if (!started) record->Close();
    std::lock_guard<std::mutex> lock(lock_);
    record->starting = false;
    if (started && !record->retireAfterStart) return;  // stays in records_
    if (!record->retireAfterStart) {
        // Not started, and not taken out by an Unwatch or a newer Watch meanwhile.
        for (auto it = records_.begin(); it != records_.end(); ++it) {
            if (it->second == record) {
                records_.erase(it);
                break;
            }
        }
    }
    RetireLocked(std::move(record));
}

bool WatcherBridge::Unwatch(const std::string& folder) {
    std::shared_ptr<Record> record;
    {
        std::lock_guard<std::mutex> lock(lock_);
        const auto it = records_.find(WithoutTrailingSeparators(folder));
        if (it == records_.end()) return false;
        record = std::move(it->second);
        records_.erase(it);
    }
    CloseAndRetire(std::move(record));
    return true;
}

void WatcherBridge::CloseAndRetire(std::shared_ptr<Record> record) {
    record->Close();
    std::lock_guard<std::mutex> lock(lock_);
    if (record->starting)
        record->retireAfterStart = true;  // its Watch call retires it
    else
        RetireLocked(std::move(record));
}

void WatcherBridge::RetireLocked(std::shared_ptr<Record> record) {
    retiring_.push_back(std::move(record));
    retireWake_.notify_all();
}

void WatcherBridge::RetireLoop() {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        retireWake_.wait(lock, [this] { return quitting_ || !retiring_.empty(); });
        if (retiring_.empty()) return;  // quitting, and everything retired
        std::shared_ptr<Record> record = std::move(retiring_.front());
        retiring_.pop_front();
        lock.unlock();
        record.reset();  // the last reference: the watcher stops and lets go of it here
        lock.lock();
    }
}
