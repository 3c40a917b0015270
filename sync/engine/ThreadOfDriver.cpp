#include "sync/engine/ThreadOfDriver.h"

#include <log4cpp/Category.hh>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/longpath.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/FolderDigest.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"
#include "sync/engine/FileDigest.h"
#include "sync/engine/SyncMessages.h"
#include "sync/engine/ThreadOfConform.h"

namespace {

using Entry = EngineFs::Entry;
using EntryKind = plat::fs::Kind;

// Longest path the path checks accept, in UTF-16 units.
constexpr std::size_t kMaxPathUnits = kLongestPathChars;
// A queued record must be this old before the intake takes the queue.
constexpr std::uint64_t kQuietMs = 120;
constexpr std::uint32_t kAgePollMs = 30;
// A hash worker's run of consecutive records: at most this many files and bytes.
constexpr std::size_t kRunFiles = 16;
constexpr std::uint64_t kRunBytes = 256 * 1024;

void Alert(const std::string& message, const std::string& path, int line) {
    SyncLog().alert(message + "'" + path + "' filepath:ThreadOfDriver line:" + std::to_string(line));
}

// The text after the last '\\' or '/'.
std::string LastName(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::size_t Utf16Units(const std::string& utf8) {
    std::u16string wide;
    return UTF8toUTF16(utf8, wide) ? wide.size() : SIZE_MAX;
}

// A skipped item: recorded as unknown (see ThreadOfDriver.h) with a log line. `diskPath`:
// the path comes from the disk ('/' separators, names as they are there).
void RecordUnknownItem(LocalUnknownSet* unknown, const std::string& relativePath, const std::string& why, int line,
                       bool diskPath = false) {
    if (unknown != nullptr) unknown->Add(diskPath ? LocalUnknownSet::DiskPath(relativePath) : relativePath);
    SyncLog().alert(why + "'" + EscapeForLog(relativePath) + "' filepath:ThreadOfDriver line:" + std::to_string(line));
}

// What the disk holds at a record path, judged by the one syncable-item predicate.
struct LocalItem {
    enum State { Missing, Excluded, Unlisted, File, Folder };
    State state = Missing;
    std::uint64_t size = 0;
    bool Syncable() const { return state == File || state == Folder; }
};

LocalItem Inspect(EngineFs& fs, const std::string& path) {
    LocalItem item;
    if (!fs.IsSyncable(path, false)) {
        item.state = LocalItem::Excluded;
        return item;
    }
    // A path the disk cannot be asked about (a name the records cannot carry, a link on
    // the way) is Other: whatever is there stays unknown.
    switch (fs.KindOf(path)) {
        case EngineFs::Kind::File: {
            bool isFolder = false;
            if (fs.Attributes(path, isFolder, item.size) && !isFolder) {
                item.state = LocalItem::File;
            } else {
                item.size = 0;  // gone meanwhile
            }
            break;
        }
        case EngineFs::Kind::Folder:
            item.state = LocalItem::Folder;
            break;
        case EngineFs::Kind::Other:
            item.state = LocalItem::Unlisted;
            break;
        case EngineFs::Kind::Missing:
            break;
    }
    return item;
}

// The listings of a folder's subfolders, read ahead on helper threads while the scan
// thread works through the entries in order: most of a listing's cost is the kernel's
// work on each entry (one stat), which spreads over cores and overlaps the scan thread's
// own work on the entries before. One hand-off per folder, never per entry. Helpers take
// the folders in order; the scan thread lists a folder itself when no helper has taken it
// yet. At most kReadAheadThreads helpers run in the whole process (nested folders share
// them); the destructor stops and joins the helpers of this folder.
struct FolderListing {
    bool ok = false;
    std::string error;
    std::vector<Entry> entries;
};

constexpr std::size_t kReadAheadMinFolders = 4;
constexpr int kReadAheadThreads = 3;
std::atomic<int> g_readAheadHelpers{0};

class SubfolderReader {
public:
    // `clearWay`: the listing pass's clear way on the calling (scan) thread; each helper
    // keeps its own, starting at `folderDisk` (the folder's disk path, a clear way).
    SubfolderReader(EngineFs& fs, const std::string& relFolder, const std::vector<Entry>& entries,
                    std::string& clearWay, const std::string& folderDisk)
        : fs_(fs), relFolder_(relFolder), entries_(entries), clearWay_(clearWay), folderDisk_(folderDisk),
          slot_(entries.size(), kNone) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].kind != EntryKind::Directory) continue;
            slot_[i] = folders_.size();
            folders_.push_back(i);
        }
        listings_.resize(folders_.size());
        ready_.assign(folders_.size(), 0);
        if (folders_.size() < kReadAheadMinFolders) return;
        const std::size_t wanted = std::min<std::size_t>(kReadAheadThreads, folders_.size() / 2);
        for (std::size_t t = 0; t < wanted; ++t) {
            if (g_readAheadHelpers.fetch_add(1) >= kReadAheadThreads) {
                g_readAheadHelpers.fetch_sub(1);
                break;
            }
            try {
                helpers_.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                g_readAheadHelpers.fetch_sub(1);
                break;  // fewer helpers; the scan thread lists the rest itself
            }
        }
    }

    ~SubfolderReader() {
        stop_ = true;
        for (std::thread& helper : helpers_) helper.join();
    }

    SubfolderReader(const SubfolderReader&) = delete;
    SubfolderReader& operator=(const SubfolderReader&) = delete;

    // The listing of the folder at `entries[index]`, once it is there.
    FolderListing& Take(std::size_t index) {
        const std::size_t k = slot_[index];
        std::size_t expected = k;
        if (next_.compare_exchange_strong(expected, k + 1)) {
            ListOne(k, clearWay_);  // no helper took it yet
        } else {
            std::unique_lock<std::mutex> lock(mutex_);
            // A folder skipped by the scan thread may still be unclaimed: take it now.
            while (ready_[k] == 0) {
                std::size_t first = next_.load();
                if (first <= k && next_.compare_exchange_strong(first, k + 1)) {
                    // Earlier folders the scan thread passed by are left unlisted.
                    lock.unlock();
                    ListOne(k, clearWay_);
                    return listings_[k];
                }
                ready_changed_.wait(lock);
            }
        }
        return listings_[k];
    }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    void ListOne(std::size_t k, std::string& clearWay) {
        FolderListing& out = listings_[k];
        try {
            out.ok = fs_.List(relFolder_ + "/" + entries_[folders_[k]].name, out.entries, out.error, &clearWay);
        } catch (const std::bad_alloc&) {
            out.ok = false;  // the folder is then skipped as unknown, never taken as empty
            out.entries.clear();
            out.error = "out of memory";
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ready_[k] = 1;
        }
        ready_changed_.notify_all();
    }

    void Work() {
        std::string clearWay = folderDisk_;
        for (std::size_t k = next_++; k < folders_.size() && !stop_; k = next_++) ListOne(k, clearWay);
        g_readAheadHelpers.fetch_sub(1);
    }

    EngineFs& fs_;
    const std::string& relFolder_;
    const std::vector<Entry>& entries_;
    std::string& clearWay_;
    const std::string& folderDisk_;
    std::vector<std::size_t> slot_;     // entry index -> folder number, kNone for files
    std::vector<std::size_t> folders_;  // folder number -> entry index
    std::vector<FolderListing> listings_;
    std::vector<char> ready_;  // guarded by mutex_
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable ready_changed_;
    std::vector<std::thread> helpers_;
};

// One listing run (ListLocalFolder): the disk, where skipped items go, the stop owner.
class LocalLister {
public:
    LocalLister(EngineFs& fs, LocalUnknownSet* unknown, CSyncBase* owner) : fs_(fs), unknown_(unknown), owner_(owner) {}

    bool List(std::string_view folder, FileNode* parent) {
        if (parent == nullptr) return false;
        std::string disk;
        if (fs_.Resolve(folder, disk, &clearWay_) != EngineFs::Refusal::None) {
            Alert("Folder path cannot be used! ", EscapeForLog(fs_.Root() + "/" + std::string(folder)), __LINE__);
            return false;
        }
        std::vector<Entry> entries;
        std::string error;
        const std::string relFolder = fs_.BelowRoot(disk);
        if (!fs_.List(relFolder, entries, error, &clearWay_)) {
            Alert("Folder cannot be listed: " + error + " ", EscapeForLog(disk), __LINE__);
            return false;
        }
        return ListEntries(relFolder, parent, entries);
    }

private:
    bool ListEntries(const std::string& relFolder, FileNode* parent, std::vector<Entry>& entries) {
        // Byte order makes the choice between names that differ only in case repeatable.
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
        // Into an empty node every child found again was listed here (a name differing
        // only in case); only a node that had children before needs the names listed here.
        const bool startedEmpty = parent->children.empty();
        std::unordered_set<std::string> listedHere;
        const std::string& root = fs_.Root();
        // The folder was just listed without being followed, below a way found clear: it
        // is a clear way itself for the listings of its subfolders.
        const std::string folderDisk = root == "/" ? (relFolder.empty() ? root : relFolder) : root + relFolder;
        clearWay_ = folderDisk;
        SubfolderReader subfolders(fs_, relFolder, entries, clearWay_, folderDisk);
        const std::size_t rootBytes = root == "/" ? 0 : root.size();
        for (std::size_t index = 0; index < entries.size(); ++index) {
            Entry& entry = entries[index];
            if (owner_ != nullptr && IsStopResult(owner_->CheckBreak("CThreadOfDriver::DirectoryList", 244))) {
                return false;
            }
            const std::string relPath = relFolder + "/" + entry.name;
            std::u16string wideName;
            const bool utf8 = UTF8toUTF16(entry.name, wideName);
            if (!utf8 || !IsValidFileName(wideName)) {
                // A '\\' in the name must not make the entry cover another item. The log
                // line says why the name was refused.
                const std::string why =
                    utf8 ? plat::FileNameProblem(wideName) : std::string("the name is not valid UTF-8");
                RecordUnknownItem(unknown_, relPath, "Name cannot be synchronised (" + why + "), skipped! ", __LINE__,
                                  true);
                continue;
            }
            if (!BaseFunc::IsSyncableName(entry.name)) continue;  // excluded by name
            if (entry.kind == EntryKind::Missing) continue;       // gone meanwhile
            if (entry.kind == EntryKind::Link || entry.kind == EntryKind::Special) {
                RecordUnknownItem(unknown_, relPath, "Link or special file skipped! ", __LINE__);
                continue;
            }
            if (rootBytes + relPath.size() > kMaxPathUnits && Utf16Units(root + relPath) > kMaxPathUnits) {
                RecordUnknownItem(unknown_, relPath, "Path too long, skipped! ", __LINE__);
                continue;
            }
            const auto existing = parent->FindChild(std::string_view(entry.name));
            if (existing != parent->children.end()) {
                if (startedEmpty || listedHere.count((*existing)->data->name) != 0) {
                    RecordUnknownItem(unknown_, relPath, "Name differs only in case from a listed one, skipped! ",
                                      __LINE__);
                    continue;
                }
                return false;  // the node was not empty: the listing cannot be merged into it
            }
            const bool isFolder = entry.kind == EntryKind::Directory;
            std::vector<Entry> below;
            if (isFolder) {
                FolderListing& listed = subfolders.Take(index);
                if (!listed.ok) {
                    RecordUnknownItem(unknown_, relPath, "Folder cannot be listed (" + listed.error + "), skipped! ",
                                      __LINE__);
                    continue;
                }
                below = std::move(listed.entries);
            }
            // The record is moved into its node, not copied.
            const auto inserted = parent->AdoptChild(
                std::make_unique<FileNode>(SyncFileInfo(isFolder ? 0 : 1, 0, isFolder ? 0 : entry.size, relPath)));
            if (inserted == parent->children.end()) return false;
            if (!startedEmpty) listedHere.insert(entry.name);
            if (isFolder && !ListEntries(relPath, inserted->get(), below)) return false;
        }
        return true;
    }

    EngineFs& fs_;
    LocalUnknownSet* unknown_;
    CSyncBase* owner_;
    std::string clearWay_;  // the scan thread's (see EngineFs.h)
};

}  // namespace

bool ListLocalFolder(EngineFs& fs, LocalUnknownSet* unknown, CSyncBase* owner, std::string_view folder,
                     FileNode* parent) {
    return LocalLister(fs, unknown, owner).List(folder, parent);
}

CThreadOfDriver::CThreadOfDriver(SyncApp* app, FileNode* tree)
    : CWorkerLoop(app, tree, u"CThreadOfDriver", true) {
    clock = [] { return BaseFunc::GetMilliseconds(); };
    // An existing regular file that no program holds open for writing any more. The probe
    // never creates or follows anything.
    fileReady = [this](const std::string& path) {
        return Fs().KindOf(path) == EngineFs::Kind::File && !Fs().IsBeingWritten(path);
    };
    sortChanges = [this](LocalChangeBatch& batch) { CThreadOfConform::SortLocalChanges(batch, Fs(), this->tree); };
    // The owners are taken at the bind; the disk is rooted already, for the calls the
    // reconciliation thread makes.
    if (app != nullptr) diskFs_.SetRoot(app->syncFolder);
}

CThreadOfDriver::~CThreadOfDriver() { StopAndWait(); }

void CThreadOfDriver::RefreshRoot() {
    if (app != nullptr) diskFs_.SetRoot(app->syncFolder);
}

void CThreadOfDriver::SetFs(EngineFs* fs) { fs_ = fs != nullptr ? fs : &diskFs_; }

bool CThreadOfDriver::Bind() {
    app = static_cast<SyncApp*>(param1);
    tree = static_cast<FileNode*>(param2);
    if (app == nullptr || tree == nullptr) return false;
    RefreshRoot();
    return true;
}

bool CThreadOfDriver::IsPassCommand(std::uint32_t command) const {
    return command == THREAD_CMD_RUN || command == THREAD_CMD_HASH || command == THREAD_CMD_CHANGES;
}

std::uint32_t CThreadOfDriver::RunPass(std::uint32_t command) {
    switch (command) {
        case THREAD_CMD_HASH: {
            RefreshRoot();
            const bool ok = HashOnRunHandler(this);
            // Posted whatever the result, before the worker reads as idle.
            if (app->mainWindow != nullptr) {
                app->mainWindow->PostMessage(WM_ALL_FILES_HASH, reinterpret_cast<std::uintptr_t>(this), ok ? 1 : 0);
            }
            return ok ? 1 : 0;
        }
        case THREAD_CMD_CHANGES:
            return ChangeOnRunHandler() ? 1 : 0;
        default:
            return ScanOnRunHandler() ? 1 : 0;
    }
}

void CThreadOfDriver::AfterPass(std::uint32_t command, std::uint32_t result) {
    if (result == 0 || app->mainWindow == nullptr) return;
    if (command == THREAD_CMD_RUN) app->mainWindow->SendMessage(WM_DEVICE_SCAN_FINISHED, 0, 1);
    if (command == THREAD_CMD_CHANGES) app->mainWindow->PostMessage(WM_DEVICE_SCAN_FINISHED, 1, 1);
}

void CThreadOfDriver::RecordUnknown(const std::string& relativePath, const std::string& why, int line) {
    RecordUnknownItem(app != nullptr ? &app->driverUnknown : nullptr, relativePath, why, line);
}

// ---------------------------------------------------------------------------------------
// Full scan

bool CThreadOfDriver::ScanOnRunHandler() {
    if (app == nullptr || tree == nullptr) return false;
    RefreshRoot();
    app->driverUnknown.Clear();
    const bool ok = DirectoryList(this, std::string_view(), tree);
    if (!ok) {
        // Nothing of a broken listing may read as "deleted": the whole folder is unknown.
        tree->DeleteChildren();
        app->driverUnknown.Add("");
    }
    return ok;
}

bool CThreadOfDriver::DirectoryList(CSyncBase* owner, std::string_view folder, FileNode* parent) {
    return ListLocalFolder(Fs(), app != nullptr ? &app->driverUnknown : nullptr, owner, folder, parent);
}

// ---------------------------------------------------------------------------------------
// Hash pass

unsigned CThreadOfDriver::HashWorkerCount() const {
    if (hashWorkers != 0) return hashWorkers;
    if (fs_->OnRotationalDisk()) return 1;
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxHashWorkers);
}

bool CThreadOfDriver::HashOnRunHandler(CSyncBase* owner) {
    if (tree == nullptr) return false;
    EngineFs& disk = Fs();
    // The files to digest, in tree order.
    std::vector<FileNode*> pending;
    for (FileNode* node : tree->Preorder()) {
        const SyncFileInfo& record = *node->data;
        if (record.isFile != 0 && record.checksum.empty()) pending.push_back(node);
    }
    // Workers take runs of consecutive records (mostly files of one folder, whose way below
    // the sync folder a worker then checks once): up to kRunFiles files and kRunBytes bytes
    // (a larger file runs alone), so that large files still spread over the workers. A
    // worker reads one file at a time: it holds no more than the window of that file.
    std::vector<std::size_t> runs;  // where each run begins, then the end
    std::uint64_t runBytes = 0;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        const std::uint64_t size = pending[i]->data->size;
        if (runs.empty() || i - runs.back() == kRunFiles || runBytes + size > kRunBytes) {
            runs.push_back(i);
            runBytes = 0;
        }
        runBytes += size;
    }
    runs.push_back(pending.size());
    std::atomic<std::size_t> nextRun{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> stopped{false};
    const auto work = [&] {
        FileDigestHolder holder(owner);
        for (std::size_t run = nextRun++; run + 1 < runs.size(); run = nextRun++) {
            for (std::size_t i = runs[run]; i < runs[run + 1]; ++i) {
                if (stopped.load()) return;
                const std::string path = NodePath(pending[i], 2);
                if (beforeDigest) beforeDigest(path);
                std::string hex = disk.Digest(holder, path);
                if (!hex.empty()) {
                    pending[i]->data->checksum = std::move(hex);
                    continue;
                }
                failed = true;
                // Once stopped, every further digest would fail at once: end the walk.
                if (Stopped(owner)) stopped = true;
            }
        }
    };
    const std::size_t wanted = std::min<std::size_t>(HashWorkerCount(), runs.size() - 1);
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < wanted; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer helpers; this thread digests the rest itself
        }
    }
    work();
    for (std::thread& helper : helpers) helper.join();
    return !failed.load();
}

bool CThreadOfDriver::Stopped(CSyncBase* owner) {
    if (g_pTerminateEvent != nullptr && g_pTerminateEvent->IsSet()) return true;
    return owner != nullptr && owner->breakEvent.IsSet();
}

// ---------------------------------------------------------------------------------------
// Change intake

bool CThreadOfDriver::ChangeOnRunHandler() {
    if (app == nullptr || tree == nullptr) return false;
    RefreshRoot();
    SyncWindow* window = app->mainWindow;
    if (IsStopResult(PollBreak())) return false;

    LocalChangeBatch batch;
    bool applied = false;
    for (;;) {
        if (IsStopResult(PollBreak())) break;
        if (!TakeChanges(batch)) break;
        sortChanges(batch);
        if (batch.empty()) continue;
        std::lock_guard<std::recursive_mutex> hold(app->treeEditLock);
        applied = true;
        ApplyLocalChange(batch, tree);
    }
    batch.clear();
    if (!applied) return false;
    if (window != nullptr) window->localListingState = 1;
    return true;
}

// Moves the whole queue into `batch` once its first record is quiet long enough and the
// file of a leading modification may be read. False (queue left as it is) otherwise.
bool CThreadOfDriver::TakeChanges(LocalChangeBatch& batch) {
    std::unique_lock<std::mutex> queueLock(app->changeListLock);
    for (;;) {
        if (app->localChanges.empty()) return false;
        if (app->localChanges.front().time + kQuietMs <= clock()) break;
        queueLock.unlock();
        // Wait a little, but wake at once for a quit, a break or an abort.
        std::vector<plat::Waitable*> stops{&breakEvent, &abortEvent};
        if (g_pTerminateEvent != nullptr) stops.push_back(g_pTerminateEvent);
        plat::WaitAny(stops, kAgePollMs);
        queueLock.lock();
    }
    if (IsStopResult(PollBreak())) return false;
    const LocalChangeRecord& first = app->localChanges.front();
    // Only an existing file is tried, and it is opened, never created.
    if (first.kind == kLocalModified && Fs().KindOf(first.path) == EngineFs::Kind::File && !fileReady(first.path)) {
        return false;  // still being written: the queue waits for a later intake
    }
    while (!app->localChanges.empty()) {
        batch.push_back(std::move(app->localChanges.front()));
        app->localChanges.pop_front();
    }
    return true;
}

void CThreadOfDriver::ApplyLocalChange(LocalChangeBatch& batch, FileNode* root) {
    for (const LocalChangeRecord& change : batch) {
        switch (change.kind) {
            case kLocalAdded:
                AddOrUpdate(root, change.path);
                break;
            case kLocalRemoved:
                RemoveDriverNode(root, change.path);
                break;
            case kLocalModified:
                ApplyModified(root, change.path);
                break;
            case kLocalRenamed:
                ApplyRenamed(root, change.path, change.newPath);
                break;
            case kLocalRelist:
                RemoveDriverNode(root, change.path);
                InsertDriverNode(root, change.path);
                break;
            default:
                break;
        }
    }
    batch.clear();
}

void CThreadOfDriver::AddOrUpdate(FileNode* root, const std::string& path) {
    // An added name that is already listed was replaced (a save that renames over the
    // old file): its record is brought up to date instead.
    FileNode* node = FindFileNodeByPath(root, 1, path);
    if (node != nullptr && node->data->name == LastName(path)) {
        ApplyModified(root, path);
    } else {
        InsertDriverNode(root, path);
    }
}

FileNode* CThreadOfDriver::FindItemNode(FileNode* root, const std::string& path) {
    FileNode* node = FindFileNodeByPath(root, 1, path);
    if (node == nullptr || node->data->name == LastName(path)) return node;
    // The node found ignoring case is another item when it still exists under its own
    // name: the path names its skipped twin, which must not touch it.
    const LocalItem listed = Inspect(Fs(), NodePath(node, 2));
    return listed.state == LocalItem::Missing ? node : nullptr;
}

void CThreadOfDriver::ApplyModified(FileNode* root, const std::string& path) {
    const LocalItem item = Inspect(Fs(), path);
    FileNode* parent = FindParentFileNodeByPath(root, 1, path);
    if (parent == nullptr) {
        Alert("检索父节点失败！", path, 496);
        return;
    }
    FileNode* node = FindFileNodeByPath(root, 1, path);
    if (node != nullptr && node != FindItemNode(root, path)) {
        // The path names the skipped twin of a listed item: the listed one stays as it is.
        if (item.state != LocalItem::Missing && item.state != LocalItem::Excluded) {
            RecordUnknown(path, "Name differs only in case from a listed one, skipped! ", __LINE__);
        }
        return;
    }
    if (node == nullptr) {
        if (item.Syncable()) {
            InsertDriverNode(root, path);
        } else if (item.state == LocalItem::Unlisted) {
            RecordUnknown(path, "Link or special file skipped! ", __LINE__);
        }
        return;
    }
    if (!item.Syncable()) {
        RemoveDriverNode(root, path);
        if (item.state == LocalItem::Unlisted) RecordUnknown(path, "Link or special file skipped! ", __LINE__);
        return;
    }
    if ((item.state == LocalItem::File) != (node->data->isFile != 0)) {
        // A folder turned file or the other way round: its old contents must go.
        RemoveDriverNode(root, path);
        InsertDriverNode(root, path);
        return;
    }
    SyncFileInfo record(item.state == LocalItem::File ? 1 : 0, 1, item.size, path);
    *node->data = record;
    node->data->mark = 1;
    Alert("树节点修改情况待定！", path, 533);
    BaseFunc::ClearChecksumUpward(parent);
}

void CThreadOfDriver::ApplyRenamed(FileNode* root, const std::string& oldPath, const std::string& newPath) {
    const std::size_t cut = newPath.rfind('\\');
    const std::size_t namePos = cut == std::string::npos ? 0 : cut + 1;
    const std::string newName = newPath.substr(namePos);
    const LocalItem item = Inspect(Fs(), newPath);
    FileNode* parent = FindParentFileNodeByPath(root, 1, oldPath);
    if (parent == nullptr) return;
    FileNode* old = FindItemNode(root, oldPath);
    const std::string oldNodePath = NodePath(old, 1);
    const bool sameFolder = old != nullptr && oldNodePath.size() >= namePos &&
                            oldNodePath.size() - namePos == old->data->name.size() && namePos > 0 &&
                            BaseFunc::EqualNoCase(std::string_view(oldNodePath).substr(0, namePos),
                                                  std::string_view(newPath).substr(0, namePos));
    if (old != nullptr && item.Syncable() && sameFolder && !newName.empty()) {
        // A node already holding the new name was replaced on disk by the renamed item.
        const auto taken = parent->FindChild(std::string_view(newName));
        if (taken != parent->children.end() && taken->get() != old) parent->EraseChild(taken);
        SyncFileInfo renamed(*old->data);
        renamed.name = newName;
        if (ReplaceFileNode(old, renamed)) {
            if (app != nullptr) app->driverUnknown.Rename(oldPath, newPath);
            BaseFunc::ClearChecksumUpward(parent);
            return;
        }
    }
    if (old != nullptr) {
        RemoveDriverNode(root, oldPath);
    } else if (app != nullptr) {
        app->driverUnknown.Remove(oldPath);  // an unlisted item left that name
    }
    if (item.Syncable() || item.state == LocalItem::Unlisted) AddOrUpdate(root, newPath);
}

bool CThreadOfDriver::InsertDriverNode(FileNode* root, std::string path) {
    const LocalItem item = Inspect(Fs(), path);
    if (!item.Syncable()) {
        if (item.state == LocalItem::Unlisted) RecordUnknown(path, "Link or special file skipped! ", __LINE__);
        return false;
    }
    FileNode* parent = FindParentFileNodeByPath(root, 1, path);
    if (parent == nullptr) {
        Alert("检索父节点失败！", path, 637);
        return false;
    }
    const bool isFolder = item.state == LocalItem::Folder;
    const auto inserted = parent->InsertChild(SyncFileInfo(isFolder ? 0 : 1, 1, item.size, path));
    if (!inserted.Inserted()) {
        Alert("插入Alpha树节点失败！", path, 662);
        const auto existing = parent->FindChild(std::string_view(LastName(path)));
        if (existing != parent->children.end() && (*existing)->data->name != LastName(path)) {
            RecordUnknown(path, "Name differs only in case from a listed one, skipped! ", __LINE__);
        }
        return false;
    }
    if (app != nullptr) app->driverUnknown.Remove(path);
    bool ok = true;
    if (isFolder && !DirectoryList(this, path, inserted.Node())) {
        // A folder listed only in part would read as partly deleted: it stays unknown.
        parent->EraseChild(inserted.position);
        RecordUnknown(path, "Folder cannot be listed, skipped! ", __LINE__);
        ok = false;
    }
    BaseFunc::ClearChecksumUpward(parent);
    return ok;
}

bool CThreadOfDriver::RemoveDriverNode(FileNode* root, std::string path) {
    // The item is gone (or about to be listed anew): what was unknown there is forgotten.
    if (app != nullptr) app->driverUnknown.Remove(path);
    FileNode* node = FindItemNode(root, path);
    if (node == nullptr || node->parent == nullptr) {
        Alert("删除—查找Gamma树旧节点，结果为空！", path, 687);
        return false;
    }
    FileNode* parent = node->parent;
    parent->EraseChild(*node->data);
    BaseFunc::ClearChecksumUpward(parent);
    return true;
}
