#pragma once
// The parts of the sync program's application object and main window that the engine
// workers touch. The program's application object derives from SyncApp; its main window
// implements SyncWindow. Tests replace both with small fixtures.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/waitable.h"
#include "sync/common/CommonTypes.h"
#include "sync/common/SyncOperation.h"
#include "sync/common/TreeNode.h"

class CThreadOfAdapter;
class CThreadOfDriver;
class CThreadOfServer;
class CThreadOfConform;
class CThreadOfAway;
class CThreadOfHome;
class CWebCloud;

// One queued local change, made by the main window from a watcher notification.
enum LocalChangeKind : std::uint32_t {
    kLocalAdded = 1,
    kLocalRemoved = 2,
    kLocalModified = 3,
    kLocalRenamed = 4,
    kLocalRelist = 5,  // folder to list anew (made only when many removals are coalesced)
};

struct LocalChangeRecord {
    std::uint32_t kind = 0;
    std::string pathKey;     // lower-case path key (UTF-8)
    std::string newPathKey;  // lower-case new path key (renames)
    std::string path;        // path relative to the sync folder, beginning with '\\'
    std::string newPath;     // new relative path (renames)
    std::uint64_t time = 0;  // BaseFunc::GetMilliseconds when queued
};

// The main window as the workers see it. Messages are posted (or sent) to its loop;
// OnGammaConform is the reconciliation thread's direct step-finished call.
class SyncWindow {
public:
    virtual ~SyncWindow() = default;
    virtual bool PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    virtual std::intptr_t SendMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    virtual void OnGammaConform(std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // Called on the network monitor's thread whenever g_bNetworkUp changes; the main
    // window (re)starts its network debounce timer. Must not block.
    virtual void ResetAdapterTimer() {}

    std::atomic<std::uint32_t> paused{0};
    std::atomic<std::uint32_t> localScanning{0};
    std::atomic<std::uint32_t> localListingState{0};   // 1 needs digests, 2 ready
    std::atomic<std::uint32_t> serverListingState{0};  // 2 ready
    std::atomic<std::uint32_t> reconcileState{0};      // 1 built, 2 matched
    std::atomic<std::uint32_t> serverState{0};         // 0 none, 1 login/listing under way, 2 listed
};

// Local items that exist but were not listed into the Driver tree (links, special files,
// unreadable folders, case clashes, names that cannot be recorded). They are unknown, not
// absent: an item missing from the Driver tree whose path Covers() is not a local delete.
// Paths are relative to the sync folder with '\\' or '/' separators; keys are ASCII
// lower-case (the trees compare names ignoring ASCII case) with '/' separators, a leading
// '/' and no trailing one; the key "" (from "" or "/") stands for the whole folder.
// Written by the local scan thread (see ThreadOfDriver.h); safe to use from any thread.
class LocalUnknownSet {
public:
    static std::string Key(std::string_view relativePath) {
        std::string key;
        key.reserve(relativePath.size() + 1);
        for (char c : relativePath) {
            if (c == '\\' || c == '/') {
                if (key.empty() || key.back() != '/') key.push_back('/');
            } else {
                key.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c);
            }
        }
        if (key.empty() || key.front() != '/') key.insert(key.begin(), '/');
        while (!key.empty() && key.back() == '/') key.pop_back();
        return key;
    }
    // The entry path of a local item named by its path on disk below the sync folder
    // ('/' as the only separator). A name there may hold '\\', which record paths take as
    // a separator: such a '\\' is kept as NUL, which no name can hold, so that the entry
    // covers only that item and never the one its name would read as in a record path.
    static std::string DiskPath(std::string_view slashPath) {
        std::string out(slashPath);
        for (char& c : out) {
            if (c == '\\') c = '\0';
        }
        return out;
    }
    // Records the item and everything below it; true when it was not recorded yet.
    bool Add(std::string_view relativePath) {
        std::lock_guard<std::mutex> hold(lock_);
        return keys_.insert(Key(relativePath)).second;
    }
    // Forgets the item's entry and every entry below it (the item is gone or listed anew).
    void Remove(std::string_view relativePath) {
        const std::string key = Key(relativePath);
        std::lock_guard<std::mutex> hold(lock_);
        for (auto it = keys_.lower_bound(key); it != keys_.end() && StartsWith(*it, key);) {
            it = IsAtOrBelow(*it, key) ? keys_.erase(it) : std::next(it);
        }
    }
    // Moves the entries at and below `from` to the same places below `to` (the item was
    // renamed).
    void Rename(std::string_view from, std::string_view to) {
        const std::string oldKey = Key(from);
        const std::string newKey = Key(to);
        std::lock_guard<std::mutex> hold(lock_);
        std::vector<std::string> moved;
        for (auto it = keys_.lower_bound(oldKey); it != keys_.end() && StartsWith(*it, oldKey);) {
            if (!IsAtOrBelow(*it, oldKey)) {
                ++it;
                continue;
            }
            moved.push_back(newKey + it->substr(oldKey.size()));
            it = keys_.erase(it);
        }
        keys_.insert(moved.begin(), moved.end());
    }
    // True when the item or one of the folders above it was recorded.
    bool Covers(std::string_view relativePath) const {
        const std::string key = Key(relativePath);
        std::lock_guard<std::mutex> hold(lock_);
        if (keys_.count(std::string()) != 0 || keys_.count(key) != 0) return true;
        for (std::size_t slash = key.find('/', 1); slash != std::string::npos; slash = key.find('/', slash + 1)) {
            if (keys_.count(key.substr(0, slash)) != 0) return true;
        }
        return false;
    }
    // True when some recorded item lies at or below the path (the folder's listing is
    // incomplete).
    bool HasAtOrBelow(std::string_view relativePath) const {
        const std::string key = Key(relativePath);
        std::lock_guard<std::mutex> hold(lock_);
        for (auto it = keys_.lower_bound(key); it != keys_.end() && StartsWith(*it, key); ++it) {
            if (IsAtOrBelow(*it, key)) return true;
        }
        return false;
    }
    void Clear() {
        std::lock_guard<std::mutex> hold(lock_);
        keys_.clear();
    }
    bool Empty() const {
        std::lock_guard<std::mutex> hold(lock_);
        return keys_.empty();
    }
    std::vector<std::string> Entries() const {
        std::lock_guard<std::mutex> hold(lock_);
        return std::vector<std::string>(keys_.begin(), keys_.end());
    }

private:
    static bool StartsWith(const std::string& candidate, const std::string& key) {
        return candidate.compare(0, key.size(), key) == 0;
    }
    // Keys sharing the text prefix "/a" include "/a b" and "/ab": only whole components count.
    static bool IsAtOrBelow(const std::string& candidate, const std::string& key) {
        return StartsWith(candidate, key) &&
               (key.empty() || candidate.size() == key.size() || candidate[key.size()] == '/');
    }

    mutable std::mutex lock_;
    std::set<std::string> keys_;
};

// The application object's shared state.
class SyncApp {
public:
    SyncApp()
        : DriverTree(SyncFileInfo("Driver")),
          ServerTree(SyncFileInfo("Server")),
          TracerTree(SyncFileInfo("Tracer")),
          WaiterTree(SyncFileInfo("Waiter")),
          UniformTree(SyncTaskInfo::CreateUniformRoot()) {}
    virtual ~SyncApp() = default;
    SyncApp(const SyncApp&) = delete;
    SyncApp& operator=(const SyncApp&) = delete;

    FileNode DriverTree;
    FileNode ServerTree;
    FileNode TracerTree;
    FileNode WaiterTree;
    TaskNode UniformTree;
    // Local items the last scan or change intake saw but could not or would not list.
    LocalUnknownSet driverUnknown;

    // Local sync folder (no trailing separator) and the download staging folder. Changed
    // only while every worker is stopped, so workers read them without a lock.
    std::u16string syncFolder;
    std::u16string tempFolder;

    // Held by every thread while it changes or walks the shared trees; workers take it as
    // the last object of a WaitAny with their quit and break events.
    plat::WaitableMutex treeLock;
    // Held while queued local changes are applied (and around the main window's lookups).
    std::recursive_mutex treeEditLock;
    // Guards localChanges.
    std::mutex changeListLock;
    std::deque<LocalChangeRecord> localChanges;

    // Workers (null when not made). Their lives belong to the application's WorkerRoster
    // (sync/app, WorkerRoster.h), which makes, publishes, replaces, stops and destroys
    // them. Only the main window's thread writes a slot, under workerSlotLock; other
    // threads read a slot only under it.
    std::mutex workerSlotLock;
    CThreadOfAdapter* adapterThread = nullptr;
    CThreadOfDriver* driverThread = nullptr;
    CThreadOfServer* serverThread = nullptr;
    CThreadOfConform* conformThread = nullptr;
    CThreadOfAway* awayThread = nullptr;
    CThreadOfHome* homeThread = nullptr;

    CWebCloud* webCloud = nullptr;
    SyncWindow* mainWindow = nullptr;

    // The `current` operation records of the commit-to-local (home) and commit-to-server
    // (away) threads. They live here so that they outlive a replaced thread object.
    SyncOperationSlot homeOperation;
    SyncOperationSlot awayOperation;

    // Set while no commit-to-server run is about to look at the server. That run first
    // lists the server and merges the listing into the unified tree; the commit-to-local
    // thread waits for this event before its passes, so that the merge never changes
    // records it is working on. The main window resets it just before it asks the
    // commit-to-server thread for a run; that thread sets it once the listing is merged
    // (or the run ends, or the thread stops).
    plat::Event serverLookDone{true, true};

    // Done events of the commit-to-server (away) and commit-to-local (home) threads, set
    // while the thread is idle. The reconciliation thread waits on them before it changes
    // the unified tree that a commit run walks. Null when there is no such thread (it
    // counts as idle). The program's application object answers from its worker slots and
    // destroys a replaced thread object only while the reconciliation thread is idle.
    virtual plat::Event* AwayDoneEvent() { return nullptr; }
    virtual plat::Event* HomeDoneEvent() { return nullptr; }
};

// Process-wide network flag: written only by the network monitor, read by everyone.
extern std::atomic<bool> g_bNetworkUp;
// Seconds by which local time is ahead of UTC, set by the application at start-up (0
// until then); the commit threads turn it into the local time of finished and failed rows.
extern std::atomic<std::int64_t> g_nLocalTimeOffset;
