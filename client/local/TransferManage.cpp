#include "client/local/TransferManage.h"

#include <algorithm>
#include <set>

#include "client/core/ClientLog.h"
#include "client/core/LocalFileIO.h"
#include "client/core/MessageManage.h"
#include "client/local/EditPreviewTaskManage.h"
#include "client/local/LocalDownload.h"
#include "client/local/LocalFileSystem.h"
#include "client/local/WinFileSystemAdapter.h"

namespace {

// Bounds of what a folder download takes from the server: the children listed for one
// folder and the length of a relative path (the longest local path there is).
constexpr std::size_t kMaxListedChildren = 1u << 20;
constexpr std::size_t kMaxRelativePath = 32768;

}  // namespace

TransferManage::TransferManage() = default;

TransferManage::~TransferManage() {
    Stop();
    pool_.Join();
}

void TransferManage::SetServices(HttpClient* http, SendControlMessageInterface* sink, CLocalFileSystem* files,
                                 EditPreviewTaskManage* edits, const std::string& tempFolder) {
    http_ = http;
    sink_ = sink;
    files_ = files;
    edits_ = edits;
    tempFolder_ = tempFolder;
}

void TransferManage::SetConfig(const Config& config) {
    transferLimit_ = std::clamp(config.TransFileNumberAtSameTime, 1, 10);
    pageSize_ = static_cast<int>(std::clamp<std::uint32_t>(config.FreshCloudDirectoryPageSize, 1, 100000));
    {
        // Taken so that a scheduler about to wait sees the new limit or the wake-up.
        std::lock_guard<std::mutex> lock(schedMutex_);
    }
    schedWake_.notify_all();
}

bool TransferManage::IsLoggedIn() const { return http_ != nullptr && http_->GetLoginState() == HttpLoggedIn; }

// ---- running and stopping ---------------------------------------------------------------

void TransferManage::Start() {
    std::lock_guard<std::mutex> threads(threadsMutex_);
    if (runningFlag_.load() != 0) return;
    {
        std::lock_guard<std::mutex> lock(schedMutex_);
        batches_.clear();
        waiting_.clear();
    }
    {
        std::lock_guard<std::mutex> lock(runningMutex_);
        runningTasks_.clear();
    }
    {
        std::lock_guard<std::mutex> lock(otherMutex_);
        other_.clear();
    }
    finished_.Clear();
    failed_.Clear();
    batchIds_.Clear();
    {
        // Folders found for an earlier login may be gone or not this login's.
        std::lock_guard<std::mutex> lock(folderMutex_);
        folderCache_.clear();
    }
    pool_.Open();
    runningFlag_ = 1;
    batchThread_ = std::thread([this] { BatchTaskThread(); });
    starterThread_ = std::thread([this] { TransferStartThread(); });
}

void TransferManage::Stop() {
    std::lock_guard<std::mutex> threads(threadsMutex_);
    {
        std::lock_guard<std::mutex> lock(schedMutex_);
        runningFlag_ = 0;
    }
    schedWake_.notify_all();
    if (batchThread_.joinable()) batchThread_.join();
    if (starterThread_.joinable()) starterThread_.join();
    pool_.Close();
}

bool TransferManage::WaitForTransfers(std::chrono::milliseconds timeout) {
    if (!pool_.WaitIdle(timeout)) {
        LogClientInfo("<transfer>Transfers still run after " + std::to_string(timeout.count()) + " ms: " +
                      std::to_string(pool_.Busy()));
        return false;
    }
    if (runningFlag_.load() == 0) pool_.Join();
    return true;
}

// ---- adding work ------------------------------------------------------------------------

void TransferManage::AddBatchTask(const TransferBatchTask& batch) {
    {
        std::lock_guard<std::mutex> lock(schedMutex_);
        batches_.push_back(batch);
    }
    schedWake_.notify_all();
    LogClientInfo(std::string(batch.direction == TransferUpward ? "<AddBatchTask>Upward" : "Downward") +
                  ", Target=" + (batch.paths.empty() ? std::string() : batch.paths.front()));
}

int TransferManage::AddFileTask(const TransferFileTask& task) {
    if (task.kind != TransferEdit && task.kind != TransferPreview) return 1;
    if (runningFlag_.load() == 0) return 1;
    TransferFileTask started = task;
    started.state = TransferRunning;
    {
        std::lock_guard<std::mutex> lock(runningMutex_);
        runningTasks_.push_back(started);
    }
    const std::int32_t id = started.id;
    const std::int32_t kind = started.kind;
    if (!pool_.Submit([this, id, kind] { FileTransfer(id, kind); })) {
        RemoveRunning(id, nullptr);
        return 1;
    }
    return 0;
}

int TransferManage::QueueFileTask(const TransferFileTask& task) {
    TransferFileTask queued = task;
    queued.state = TransferWaiting;
    {
        std::lock_guard<std::mutex> lock(schedMutex_);
        waiting_.push_back(queued);
    }
    schedWake_.notify_all();
    Post(MessageTransferTaskAdded, queued);
    return 1;
}

// ---- the scheduler threads --------------------------------------------------------------

void TransferManage::BatchTaskThread() {
    std::unique_lock<std::mutex> lock(schedMutex_);
    for (;;) {
        schedWake_.wait(lock, [this] { return runningFlag_.load() == 0 || !batches_.empty(); });
        if (runningFlag_.load() == 0) return;
        const TransferBatchTask batch = std::move(batches_.front());
        batches_.pop_front();
        ++batchesInHand_;
        lock.unlock();
        if (batch.direction == TransferUpward) ExpandUploadBatch(batch);
        else ExpandDownloadBatch(batch);
        lock.lock();
        --batchesInHand_;
    }
}

void TransferManage::TransferStartThread() {
    std::unique_lock<std::mutex> lock(schedMutex_);
    for (;;) {
        schedWake_.wait(lock, [this] {
            return runningFlag_.load() == 0 || (!waiting_.empty() && active_ < transferLimit_.load());
        });
        if (runningFlag_.load() == 0) return;
        TransferFileTask task = std::move(waiting_.front());
        waiting_.pop_front();
        ++active_;
        lock.unlock();
        task.state = TransferRunning;
        if (runningFlag_.load() == 0) {
            // Taken in the moment the queue stops: the slot goes back and the task is
            // reported, never lost.
            ReleaseSlot();
            FileItem(TransferItem::FromTask(task, TransferFailed));
            return;
        }
        {
            std::lock_guard<std::mutex> running(runningMutex_);
            runningTasks_.push_back(task);
        }
        StartFileTask(task);
        lock.lock();
    }
}

void TransferManage::StartFileTask(const TransferFileTask& task) {
    const std::int32_t id = task.id;
    const std::int32_t kind = task.kind;
    if (pool_.Submit([this, id, kind] { FileTransfer(id, kind); })) return;
    RemoveRunning(id, nullptr);
    ReleaseSlot();
    FileItem(TransferItem::FromTask(task, TransferFailed));
}

void TransferManage::ReleaseSlot() {
    {
        std::lock_guard<std::mutex> lock(schedMutex_);
        --active_;
    }
    schedWake_.notify_all();
}

bool TransferManage::RemoveRunning(std::int32_t taskId, TransferFileTask* removed) {
    std::lock_guard<std::mutex> lock(runningMutex_);
    const auto it = std::find_if(runningTasks_.begin(), runningTasks_.end(),
                                 [&](const TransferFileTask& t) { return t.id == taskId; });
    if (it == runningTasks_.end()) return false;
    if (removed != nullptr) *removed = *it;
    runningTasks_.erase(it);
    return true;
}

// ---- one transfer -----------------------------------------------------------------------

void TransferManage::FileTransfer(std::int32_t taskId, std::int32_t kind) {
    TransferFileTask task;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(runningMutex_);
        for (const TransferFileTask& t : runningTasks_) {
            if (t.id == taskId) {
                task = t;
                found = true;
                break;
            }
        }
    }
    if (!found) {
        // Cleared by a new Start while this job waited: ordinary tasks still hold a slot.
        LogClientInfo("<transfer>Task " + std::to_string(taskId) + " is no longer listed");
        if (kind == TransferOrdinary) ReleaseSlot();
        return;
    }
    task.state = TransferRunning;
    Post(MessageTransferTaskStarted, task);

    int result = 0;
    std::string reason;
    if (task.direction == TransferUpward) result = UploadFile(task);
    else if (task.direction == TransferDownward) result = DownloadFile(task, reason);

    if (RemoveRunning(taskId, nullptr)) {
        if ((task.kind == TransferEdit || task.kind == TransferPreview) && edits_ != nullptr) {
            edits_->OnTransferFinished(task.reference, result == 1);
        }
        if (result != 0) FileItem(TransferItem::FromTask(task, TransferFinished));
        else FileFailed(task, reason);
    }
    if (task.kind == TransferOrdinary) ReleaseSlot();
}

int TransferManage::UploadFile(TransferFileTask& task) {
    if (http_ == nullptr || files_ == nullptr) return 0;
    const RemoteNameParts parts = SplitRemoteName(task.remoteName, task.isFolder);
    std::string destination = task.destinationRef;
    if (task.isFolder) {
        if (parts.folderPath.empty()) return 1;
        return EnsureRemoteFolder(destination, parts.folderPath, destination) ? 1 : 0;
    }
    // A file whose folders are not there yet goes into them, never into the folder above.
    if (!parts.folderPath.empty() && !EnsureRemoteFolder(destination, parts.folderPath, destination)) return 0;
    if (parts.name.empty()) return 0;

    const std::string local = task.localFolder + task.relativePath;
    int isDirectory = 0;
    if (!files_->Exists(local, isDirectory) || isDirectory != 0) {
        LogClientInfo("<transfer>Upload, the local file is missing: " + local);
        return 0;
    }
    CLocalFileIO* io = files_->CreateFileIO();
    if (io == nullptr) return 0;
    int result = 0;
    if (io->Open(local, 0, files_->GetFileSize(local))) {
        // The length sent is the length of the file as opened; a file that shrinks while
        // it is read fails the upload (the HTTP client stops on the missing bytes).
        const std::int64_t length = io->GetLength();
        CloudItem reply;
        int error = 0;
        result = http_->Upload(task.id, parts.name, length, io, destination, task.reference, reply, &error);
        io->Close();
    } else {
        std::string reason;
        io->GetErrorText(reason);
        LogClientInfo("<transfer>Upload, the local file cannot be opened: " + local + " " + reason);
    }
    files_->ReleaseFileIO(&io);
    if (result != 1) ForgetFolder(destination);
    return result;
}

int TransferManage::DownloadFile(TransferFileTask& task, std::string& reason) {
    if (http_ == nullptr || files_ == nullptr) return 0;
    if (task.isFolder) {
        reason = LocalPlaceProblem(task.localFolder, task.relativePath);
        if (!reason.empty()) {
            LogClientInfo("<transfer>Download, refused, " + reason + ": " + task.relativePath);
            return 0;
        }
        return files_->CreateDirectory(task.localFolder + task.relativePath) == 1 ? 1 : 0;
    }
    int error = 0;
    LocalDownloadPlace place;
    // Edit and preview copies live in the program's own folders and replace their own.
    place.replaceExisting = task.kind == TransferEdit || task.kind == TransferPreview;
    const int result = DownloadToLocalFile(*http_, *files_, task.id, task.size, task.reference, tempFolder_,
                                           task.localFolder, task.relativePath, &error, &place);
    if (result == 1) task.relativePath = place.landedRelativePath;
    reason = place.reason;
    return result;
}

// ---- expanding batches ------------------------------------------------------------------

void TransferManage::ExpandUploadBatch(const TransferBatchTask& batch) {
    TransferBatchCounter::Expansion expansion(batchIds_);
    if (!batch.target.empty()) {
        // Replacement of one cloud file's content by one local file.
        int isDirectory = 0;
        if (batch.paths.size() != 1 || files_ == nullptr || !files_->Exists(batch.paths[0], isDirectory) ||
            isDirectory != 0) {
            LogClientInfo("<AddBatchTask>Upward, a replacement needs exactly one local file");
            return;
        }
        const std::string& path = batch.paths[0];
        const std::size_t slash = path.find_last_of('/');
        if (slash == std::string::npos) return;
        TransferFileTask task;
        task.id = NextTransferTaskId();
        task.direction = TransferUpward;
        task.size = files_->GetFileSize(path);
        task.localFolder = path.substr(0, slash);
        task.relativePath = task.remoteName = path.substr(slash);
        task.remoteFolderPath = batch.remotePath;
        task.reference = batch.target;
        task.destinationRef = batch.destinationRef;
        QueueFileTask(task);
        batchIds_.Add(task.id);
        return;
    }
    for (const std::string& path : batch.paths) {
        if (runningFlag_.load() == 0) return;
        std::string localFolder;
        std::vector<TransferEntry> entries;
        if (!CollectLocalFiles(path, localFolder, entries)) continue;
        const std::string& base = batch.baseLocalFolder;
        if (!base.empty() && !entries.empty() && path.size() > base.size() && path.compare(0, base.size(), base) == 0) {
            entries.front().relativePath = path.substr(base.size());
            localFolder = base;
        }
        for (const TransferEntry& entry : entries) {
            if (runningFlag_.load() == 0) return;
            TransferFileTask task;
            task.id = NextTransferTaskId();
            task.direction = TransferUpward;
            task.isFolder = entry.isFolder != 0;
            task.size = entry.size;
            task.localFolder = localFolder;
            task.relativePath = task.remoteName = entry.relativePath;
            task.remoteFolderPath = batch.remotePath;
            task.destinationRef = batch.destinationRef;
            if (!CreateRemoteFolders(task)) {
                FileItem(TransferItem::FromTask(task, TransferFailed));
            } else if (task.isFolder) {
                FileItem(TransferItem::FromTask(task, TransferFinished));
            } else {
                QueueFileTask(task);
            }
            batchIds_.Add(task.id);
        }
    }
}

bool TransferManage::CollectLocalFiles(const std::string& chosen, std::string& localFolder,
                                       std::vector<TransferEntry>& entries) {
    entries.clear();
    std::string path = chosen;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::size_t slash = path.find_last_of('/');
    if (files_ == nullptr || slash == std::string::npos || slash + 1 == path.size()) return false;
    localFolder = path.substr(0, slash);
    LocalFileTree tree;
    if (!files_->GetDirectoryTree(path, tree, -1)) {
        // A chosen item that is gone still gives its task, which then fails visibly.
        entries.push_back(TransferEntry{0, path.substr(slash), std::string(), 0});
        return true;
    }
    // Depth first, children in listing order, without recursion (trees may be deep).
    std::vector<std::pair<const LocalFileTree*, std::string>> stack{{&tree, path.substr(slash)}};
    while (!stack.empty()) {
        if (runningFlag_.load() == 0) return false;
        const auto [node, relative] = stack.back();
        stack.pop_back();
        if (!node->item.isFolder) {
            entries.push_back(TransferEntry{0, relative, std::string(), static_cast<std::int64_t>(node->item.size)});
        } else if (node->children.empty()) {
            entries.push_back(TransferEntry{1, relative, std::string(), 0});
        } else {
            for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) {
                stack.emplace_back(&*it, relative + "/" + it->item.name);
            }
        }
    }
    return true;
}

bool TransferManage::CreateRemoteFolders(TransferFileTask& task) {
    const RemoteNameParts parts = SplitRemoteName(task.remoteName, task.isFolder);
    if (parts.folderPath.empty()) return true;
    std::string deepest;
    bool cached = false;
    {
        std::lock_guard<std::mutex> lock(folderMutex_);
        const auto it = folderCache_.find({task.destinationRef, parts.folderPath});
        if (it != folderCache_.end()) {
            deepest = it->second;
            cached = true;
        }
    }
    if (!cached && !EnsureRemoteFolder(task.destinationRef, parts.folderPath, deepest)) return false;
    task.remoteFolderPath += "/" + parts.folderPath;
    task.remoteName = task.isFolder ? std::string() : "/" + parts.name;
    task.destinationRef = deepest;
    return true;
}

bool TransferManage::EnsureRemoteFolder(const std::string& destination, const std::string& folderPath,
                                        std::string& deepest) {
    if (http_ == nullptr) return false;
    std::vector<CloudItem> created;
    int error = 0;
    if (http_->CreateMultiLayers(destination, folderPath, created, &error) != 1) {
        LogClientInfo("<transfer>The cloud folder cannot be made: " + folderPath + ", error " + std::to_string(error));
        ForgetFolder(destination);
        return false;
    }
    const std::optional<std::string> found = FindDeepestCreatedFolder(destination, folderPath, created);
    if (!found) {
        LogClientInfo("<transfer>The reply names no folder for " + folderPath);
        ForgetFolder(destination);
        return false;
    }
    std::lock_guard<std::mutex> lock(folderMutex_);
    folderCache_[{destination, folderPath}] = *found;
    deepest = *found;
    return true;
}

void TransferManage::ForgetFolder(const std::string& reference) {
    std::lock_guard<std::mutex> lock(folderMutex_);
    std::erase_if(folderCache_, [&](const auto& entry) { return entry.second == reference; });
}

void TransferManage::ExpandDownloadBatch(const TransferBatchTask& batch) {
    TransferBatchCounter::Expansion expansion(batchIds_);
    TransferFileTask model;
    model.direction = TransferDownward;
    model.localFolder = batch.target;
    model.remoteFolderPath = batch.remotePath;
    model.destinationRef = batch.destinationRef;
    for (const std::string& reference : batch.paths) {
        if (runningFlag_.load() == 0) return;
        const auto item = std::find_if(batch.items.begin(), batch.items.end(),
                                       [&](const TransferEntry& e) { return e.reference == reference; });
        // The name the user saw: the last name of the chosen item's path.
        const std::string seen = item == batch.items.end()
                                     ? std::string()
                                     : item->relativePath.substr(item->relativePath.find_last_of('/') + 1);
        std::vector<TransferEntry> entries;
        std::string reason;
        if (CollectCloudFiles(reference, seen, entries, reason)) {
            for (const TransferEntry& entry : entries) {
                if (runningFlag_.load() == 0) return;
                TransferFileTask task = model;
                task.id = NextTransferTaskId();
                task.isFolder = entry.isFolder != 0;
                task.size = entry.size;
                task.relativePath = task.remoteName = entry.relativePath;
                task.reference = entry.reference;
                QueueFileTask(task);
                batchIds_.Add(task.id);
            }
            continue;
        }
        // The item cannot be expanded: it is reported as failed, with what the browser
        // knew of it.
        TransferFileTask task = model;
        task.id = NextTransferTaskId();
        task.reference = reference;
        if (item != batch.items.end()) {
            task.isFolder = item->isFolder != 0;
            task.size = item->size;
            task.relativePath = task.remoteName = item->relativePath;
        }
        FileFailed(task, reason);
        batchIds_.Add(task.id);
    }
}

bool TransferManage::ListWholeFolder(const std::string& reference, CloudListing& listing) {
    const int size = pageSize_.load();
    for (int pos = 1;; ++pos) {
        CloudListing page;
        int error = 0;
        if (http_->EnumDirectory(reference, size, pos, page, &error) != 1) return false;
        if (pos == 1) {
            listing = std::move(page);
        } else {
            listing.AppendChildren(page);
            listing.hasMoreItems = page.hasMoreItems;
        }
        if (page.hasMoreItems == 0) return true;
        // More announced than the total, or more than any folder holds: not a listing.
        const std::int64_t asked = static_cast<std::int64_t>(pos) * size;
        if (asked >= static_cast<std::int64_t>(std::max(page.totalRecords, 0)) + size ||
            listing.children.size() > kMaxListedChildren) {
            LogClientInfo("<transfer>The listing of " + reference + " does not end");
            return false;
        }
    }
}

bool TransferManage::CollectCloudFiles(const std::string& reference, const std::string& seenName,
                                       std::vector<TransferEntry>& entries, std::string& reason) {
    entries.clear();
    reason.clear();
    if (http_ == nullptr || http_->GetLoginState() != HttpLoggedIn) return false;
    if (!IsSafeServerName(seenName)) {
        reason = "the item's name is not known or not a plain file name";
        LogClientInfo("<transfer>Download refused, " + reason + ", ref=" + reference);
        return false;
    }
    CloudListing root;
    if (!ListWholeFolder(reference, root)) return false;
    if (root.node.name != seenName) {
        // The item keeps the name the user chose it by; a server that names it otherwise
        // now (another name, or one that would land elsewhere) gets nothing written.
        reason = "the server now names the item differently: " +
                 (IsSafeServerName(root.node.name) ? root.node.name : std::string("a name that is not a plain file name"));
        LogClientInfo("<transfer>Download refused, " + seenName + ": " + reason + ", ref=" + reference);
        return false;
    }
    struct Frame {
        std::vector<CloudNode> children;
        std::size_t next = 0;
        std::string relative;
    };
    std::vector<Frame> stack;
    std::set<std::string> visited{root.node.nodeRef, reference};
    const auto enter = [&](CloudListing& listing, const std::string& relative) {
        if (!listing.node.IsFolder()) {
            entries.push_back(TransferEntry{0, relative, listing.node.nodeRef, listing.node.size});
        } else if (listing.children.empty()) {
            entries.push_back(TransferEntry{1, relative, listing.node.nodeRef, 0});
        } else {
            stack.push_back(Frame{std::move(listing.children), 0, relative});
        }
    };
    enter(root, "/" + root.node.name);
    while (!stack.empty()) {
        if (runningFlag_.load() == 0) return false;
        Frame& frame = stack.back();
        if (frame.next == frame.children.size()) {
            stack.pop_back();
            continue;
        }
        const CloudNode child = frame.children[frame.next++];
        const std::string relative = frame.relative + "/" + child.name;
        if (!IsSafeServerName(child.name)) {
            LogClientInfo("<transfer>Download, item left out, its name is not a plain file name, ref=" + child.nodeRef);
            continue;
        }
        if (relative.size() > kMaxRelativePath) return false;
        if (!child.IsFolder()) {
            entries.push_back(TransferEntry{0, relative, child.nodeRef, child.size});
            continue;
        }
        if (!visited.insert(child.nodeRef).second) {
            LogClientInfo("<transfer>Download refused, the folder contains itself, ref=" + child.nodeRef);
            return false;
        }
        CloudListing listing;
        if (!ListWholeFolder(child.nodeRef, listing)) return false;
        enter(listing, relative);
    }
    return true;
}

// ---- progress, lists and messages -------------------------------------------------------

void TransferManage::OnProgress(const TransferProgress* progress) {
    if (progress == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(runningMutex_);
        for (TransferFileTask& t : runningTasks_) {
            if (t.id != progress->id) continue;
            t.total = progress->total;
            t.done = progress->done;
            t.speed = progress->speed;
            break;
        }
    }
    if (sink_ != nullptr) {
        sink_->SendControlMessage(ControlMessage::Make(MessageSourceService, MessageTransferProgress, *progress));
    }
}

bool TransferManage::CountBatchResults(const std::vector<TransferItem>& items, int& total, int& succeeded,
                                       int& failed) {
    return batchIds_.CountBatchResults(items, total, succeeded, failed);
}

bool TransferManage::IsIdle() const {
    {
        std::lock_guard<std::mutex> lock(schedMutex_);
        if (!batches_.empty() || batchesInHand_ != 0 || !waiting_.empty() || active_ != 0) return false;
    }
    {
        std::lock_guard<std::mutex> lock(runningMutex_);
        if (!runningTasks_.empty()) return false;
    }
    return pool_.Busy() == 0;
}

std::list<TransferFileTask> TransferManage::CopyWaitingTasks() const {
    std::lock_guard<std::mutex> lock(schedMutex_);
    return waiting_;
}

std::list<TransferFileTask> TransferManage::CopyRunningTasks() const {
    std::lock_guard<std::mutex> lock(runningMutex_);
    return runningTasks_;
}

std::list<TransferFileTask> TransferManage::CopyOtherTasks() const {
    std::lock_guard<std::mutex> lock(otherMutex_);
    return other_;
}

void TransferManage::FileItem(const TransferItem& item) {
    (item.state == TransferFinished ? finished_ : failed_).PushBack(item);
    if (sink_ != nullptr) {
        sink_->SendControlMessage(ControlMessage::Make(MessageSourceService, MessageTransferTaskFinished, item));
    }
}

void TransferManage::FileFailed(const TransferFileTask& task, const std::string& reason) {
    TransferItem item = TransferItem::FromTask(task, TransferFailed);
    item.reason = reason;
    FileItem(item);
}

void TransferManage::Post(std::int32_t type, const TransferFileTask& task) {
    if (sink_ != nullptr) sink_->SendControlMessage(ControlMessage::Make(MessageSourceService, type, task));
}
