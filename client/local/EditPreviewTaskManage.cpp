#include "client/local/EditPreviewTaskManage.h"

#include <algorithm>

#include "client/core/ClientFiles.h"
#include "client/core/ClientLog.h"
#include "client/core/HttpClient.h"
#include "client/core/MessageManage.h"
#include "client/core/TransferRecords.h"
#include "client/local/TransferManage.h"

namespace {

constexpr const char* kRecordSuffix = ".task";
constexpr const char* kStagingSuffix = ".upload";

// "/" and one plain file name.
bool IsSingleName(const std::string& remoteName) {
    return remoteName.size() > 1 && remoteName[0] == '/' && IsSafeServerName(remoteName.substr(1));
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

struct EditPreviewTaskManage::Task {
    EditPreviewTaskInfo info;
    std::string folderName;            // EditTaskFolderName(reference)
    std::atomic<bool> stop{false};     // ends the task's thread
    std::int64_t lastWriteMs = 0;      // the last change noticed (or the download's end)
    int failures = 0;                  // failed uploads in a row
    std::int64_t retryAtMs = -1;       // when the next retry is due; -1 none
    bool waitingForLogin = false;
    bool applicationEnded = false;
    bool downloaded = false;           // the local copy is complete

    std::string LocalPath() const { return info.localFolder + info.fileName; }
};

EditPreviewTaskManage::EditPreviewTaskManage() = default;

EditPreviewTaskManage::~EditPreviewTaskManage() { StopAll(); }

void EditPreviewTaskManage::SetServices(const std::string& editFolder, const std::string& previewFolder,
                                        CLocalFileSystem* files, TransferManage* transfers,
                                        SendControlMessageInterface* sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    editFolder_ = editFolder;
    previewFolder_ = previewFolder;
    files_ = files;
    transfers_ = transfers;
    sink_ = sink;
}

void EditPreviewTaskManage::SetConfig(const Config& config) {
    taskLimit_ = std::clamp(config.EditFileNumberAtSameTime, 1, 10);
}

void EditPreviewTaskManage::SetTranslator(std::function<std::string(const std::string&)> translate) {
    std::lock_guard<std::mutex> lock(mutex_);
    translate_ = std::move(translate);
}

void EditPreviewTaskManage::SetTiming(const Timing& timing) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timing_ = timing;
    }
    changed_.notify_all();
}

void EditPreviewTaskManage::SetOwner(const std::string& account, const std::string& server) {
    std::lock_guard<std::mutex> lock(mutex_);
    ownerAccount_ = account;
    ownerServer_ = server;
}

std::int64_t EditPreviewTaskManage::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ---- adding and removing ----------------------------------------------------------------

int EditPreviewTaskManage::AddTask(const EditPreviewTaskInfo& info) {
    ReapThreads();
    std::lock_guard<std::mutex> lock(mutex_);
    if (files_ == nullptr || transfers_ == nullptr) return 1;
    if (tasks_.size() >= static_cast<std::size_t>(taskLimit_.load())) return 3;
    if (FindLocked(info.reference)) return 2;
    const std::string folderName = EditTaskFolderName(info.reference);
    if (folderName.empty() || !IsSingleName(info.remoteName)) {
        LogClientInfo("<EditPreviewTask>Error, the file cannot be opened here, ref=" + info.reference);
        return 1;
    }
    auto task = std::make_shared<Task>();
    task->info = info;
    task->info.state = EditStateNew;
    task->info.changed = 0;
    task->info.transferId = -1;
    task->folderName = folderName;
    task->info.fileName = info.remoteName;
    task->info.localFolder =
        (info.kind == EditKindPreview ? previewFolder_ : editFolder_) + "/" + folderName;

    if (info.kind == EditKindEdit) {
        // A kept copy of this file: its content is what the user last saved; it is
        // opened again and uploaded, never replaced by a new download.
        const auto kept = std::find_if(recovered_.begin(), recovered_.end(), [&](const EditRecoveredCopy& c) {
            return c.record.reference == info.reference && c.record.account == ownerAccount_ &&
                   c.record.server == ownerServer_;
        });
        if (kept != recovered_.end()) {
            task->info.localFolder = kept->localFolder;
            task->info.fileName = kept->record.remoteName;
            task->info.downloadedMD5 = kept->record.uploadedMD5;
            task->info.size = files_->GetFileSize(task->LocalPath());
            task->info.state = EditStateOpen;
            task->downloaded = true;
            task->lastWriteMs = NowMs();
            recovered_.erase(kept);
            tasks_.push_back(task);
            PostState(*task, -1, 0, 0);
            StartTaskThreadLocked(task, true);
            task->info.state = EditStateUploading;
            UploadBackLocked(*task);
            return 0;
        }
    }

    // Another login's unsent edit of the same file keeps its folder.
    for (const EditRecoveredCopy& copy : recovered_) {
        if (copy.localFolder == task->info.localFolder) return 4;
    }
    int isDirectory = 0;
    if (files_->Exists(task->info.localFolder, isDirectory)) {
        const int deleted = isDirectory != 0 ? files_->DeleteDirectory(task->info.localFolder)
                                             : files_->DeleteFile(task->info.localFolder);
        if (deleted != 1) return 4;
    }
    if (info.kind == EditKindEdit) {
        DeleteItem(StagingFolder(*task));
        DeleteItem(RecordPath(*task));
    }
    files_->CreateDirectory(task->info.localFolder);
    tasks_.push_back(task);
    PostState(*task, -1, 0, 0);
    if (StartDownloadLocked(*task) != 0) {
        EraseLocked(task);
        return 1;
    }
    return 0;
}

TransferFileTask EditPreviewTaskManage::MakeTransfer(const Task& task, std::int32_t direction,
                                                     const std::string& localFolder, std::int64_t size) {
    TransferFileTask transfer;
    transfer.id = NextTransferTaskId();
    transfer.state = TransferRunning;
    transfer.direction = direction;
    transfer.kind = task.info.kind == EditKindPreview ? TransferPreview : TransferEdit;
    transfer.size = size;
    transfer.localFolder = localFolder;
    transfer.relativePath = task.info.fileName;
    transfer.remoteFolderPath = task.info.remoteFolderPath;
    transfer.remoteName = task.info.remoteName;
    transfer.reference = task.info.reference;
    transfer.destinationRef = task.info.parentRef;
    return transfer;
}

int EditPreviewTaskManage::StartDownloadLocked(Task& task) {
    const TransferFileTask transfer = MakeTransfer(task, TransferDownward, task.info.localFolder, task.info.size);
    task.info.transferId = transfer.id;
    task.info.state = EditStateDownloading;
    PostState(task, transfer.id, 0, TransferDownward);
    return transfers_->AddFileTask(transfer);
}

bool EditPreviewTaskManage::RemoveTask(const std::string& reference) {
    std::shared_ptr<Task> task;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        task = FindLocked(reference);
        if (!task) return false;
        EraseLocked(task);
    }
    changed_.notify_all();
    // Outside the lock: a change call of this folder may be waiting for it.
    if (task->info.kind == EditKindEdit) files_->StopWatchDirectory(task->info.localFolder);
    KeepIfNotUploaded(task);
    return true;
}

std::shared_ptr<EditPreviewTaskManage::Task> EditPreviewTaskManage::FindLocked(const std::string& reference) const {
    for (const auto& task : tasks_) {
        if (task->info.reference == reference) return task;
    }
    return nullptr;
}

void EditPreviewTaskManage::EraseLocked(const std::shared_ptr<Task>& task) {
    task->stop = true;
    task->retryAtMs = -1;
    PostState(*task, -1, 1, 0);
    tasks_.remove(task);
}

void EditPreviewTaskManage::StopAll() {
    std::list<std::shared_ptr<Task>> removed;
    std::thread retry;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& task : tasks_) {
            task->stop = true;
            task->retryAtMs = -1;
            PostState(*task, -1, 1, 0);
        }
        removed.swap(tasks_);
        retryQuit_ = true;
        retry = std::move(retryThread_);
    }
    changed_.notify_all();
    for (const auto& task : removed) {
        if (task->info.kind == EditKindEdit && files_ != nullptr) files_->StopWatchDirectory(task->info.localFolder);
    }
    if (retry.joinable()) retry.join();
    std::list<TaskThread> threads;
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        threads.swap(threads_);
    }
    for (TaskThread& t : threads) t.thread.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        retryQuit_ = false;
    }
    for (const auto& task : removed) KeepIfNotUploaded(task);
}

void EditPreviewTaskManage::KeepIfNotUploaded(const std::shared_ptr<Task>& task) {
    if (task->info.kind != EditKindEdit || !task->downloaded || files_ == nullptr) return;
    std::string md5;
    if (!files_->GetFileMD5(task->LocalPath(), md5)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (md5 == task->info.downloadedMD5) return;
    EditRecoveredCopy copy;
    copy.record = RecordOfLocked(*task);
    copy.localFolder = task->info.localFolder;
    copy.size = files_->GetFileSize(task->LocalPath());
    std::erase_if(recovered_, [&](const EditRecoveredCopy& c) { return c.record.reference == copy.record.reference; });
    recovered_.push_back(copy);
    LogClientInfo("<EditPreviewTask>An edited file was not uploaded and is kept: " + task->LocalPath());
}

// ---- transfers --------------------------------------------------------------------------

int EditPreviewTaskManage::OnTransferFinished(const std::string& reference, bool success) {
    std::shared_ptr<Task> gone;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::shared_ptr<Task> task = FindLocked(reference);
        if (!task) return 1;
        Task& t = *task;
        if (t.info.state == EditStateDownloading) {
            PostState(t, -1, 1, TransferDownward);
            t.info.state = EditStateOpen;
            if (!success) {
                EraseLocked(task);
            } else if (t.info.kind == EditKindPreview) {
                t.downloaded = true;
                files_->SetReadOnly(t.LocalPath(), true);
                StartTaskThreadLocked(task, false);
            } else if (files_->GetFileMD5(t.LocalPath(), t.info.downloadedMD5)) {
                t.downloaded = true;
                t.lastWriteMs = NowMs();
                WriteRecordLocked(t);
                StartTaskThreadLocked(task, true);
            } else {
                // Nothing can tell a save from the download: the file is not opened.
                LogClientInfo("<EditPreviewTask>Error, the downloaded file cannot be read: " + t.LocalPath());
                t.info.downloadedMD5.clear();
                EraseLocked(task);
            }
        } else if (t.info.state == EditStateUploading) {
            PostState(t, -1, 1, TransferUpward);
            if (success) {
                t.info.state = EditStateOpen;
                t.info.downloadedMD5 = t.info.stagedMD5;
                t.failures = 0;
                t.waitingForLogin = false;
                WriteRecordLocked(t);
                if (t.info.changed != 0) {
                    t.info.state = EditStateUploading;
                    t.info.changed = 0;
                    UploadBackLocked(t);
                }
            } else {
                t.info.changed = 0;
                LogClientInfo("<EditPreviewTask>Upload failed, retried later: " + t.LocalPath());
                ScheduleRetryLocked(t);
            }
        }
    }
    changed_.notify_all();
    return 1;
}

void EditPreviewTaskManage::UploadBackLocked(Task& task) {
    for (;;) {
        const std::string staging = StagingFolder(task);
        DeleteItem(staging);
        files_->CreateDirectory(staging);
        const std::string staged = staging + task.info.fileName;
        // The upload reads a copy that the application cannot change meanwhile.
        std::string md5;
        if (files_->CopyFile(task.LocalPath(), staged) != 1 || !files_->GetFileMD5(staged, md5)) {
            LogClientInfo("<EditPreviewTask>The edited file cannot be copied for its upload: " + task.LocalPath());
            ScheduleRetryLocked(task);
            return;
        }
        task.info.stagedMD5 = md5;
        if (md5 != task.info.downloadedMD5) {
            // The cloud file's content is replaced (reference), in its folder (parentRef).
            const TransferFileTask transfer =
                MakeTransfer(task, TransferUpward, staging, files_->GetFileSize(staged));
            task.info.transferId = transfer.id;
            task.info.state = EditStateUploading;
            PostState(task, transfer.id, 0, TransferUpward);
            if (transfers_->AddFileTask(transfer) != 0) {
                PostState(task, -1, 1, TransferUpward);
                ScheduleRetryLocked(task);
            }
            return;
        }
        // Nothing new to send.
        PostState(task, -1, 1, TransferUpward);
        task.info.state = EditStateOpen;
        task.failures = 0;
        if (task.info.changed == 0) return;
        task.info.state = EditStateUploading;
        task.info.changed = 0;
    }
}

void EditPreviewTaskManage::ScheduleRetryLocked(Task& task) {
    task.info.state = EditStateUploading;
    ++task.failures;
    task.retryAtMs = NowMs() + EditRetryDelay(task.failures, timing_.retryFirstMs, timing_.retryMaxMs);
    if (!retryThread_.joinable() && !retryQuit_) retryThread_ = std::thread([this] { RetryLoop(); });
    changed_.notify_all();
}

void EditPreviewTaskManage::RetryLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!retryQuit_) {
        std::shared_ptr<Task> due;
        for (const auto& task : tasks_) {
            if (task->retryAtMs >= 0 && (!due || task->retryAtMs < due->retryAtMs)) due = task;
        }
        if (!due) {
            changed_.wait(lock);
            continue;
        }
        const std::int64_t wait = due->retryAtMs - NowMs();
        if (wait > 0) {
            changed_.wait_for(lock, std::chrono::milliseconds(wait));
            continue;
        }
        due->retryAtMs = -1;
        if (!transfers_->IsLoggedIn()) {
            // No upload while logged out: look again later.
            due->waitingForLogin = true;
            due->retryAtMs = NowMs() + timing_.retryMaxMs;
            continue;
        }
        due->waitingForLogin = false;
        due->info.changed = 0;
        UploadBackLocked(*due);
    }
}

// ---- changes of the files ---------------------------------------------------------------

void EditPreviewTaskManage::On_FileModified(const std::string& path) { FileChanged(path); }

void EditPreviewTaskManage::On_FileNameChanged(const std::string& oldPath, const std::string& newPath) {
    FileChanged(newPath);
}

void EditPreviewTaskManage::FileChanged(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& task : tasks_) {
            Task& t = *task;
            if (t.info.kind != EditKindEdit || !t.downloaded || t.LocalPath() != path) continue;
            t.info.changed = 1;
            t.info.size = files_->GetFileSize(path);
            t.lastWriteMs = NowMs();
            if (t.info.state == EditStateOpen) {
                t.info.state = EditStateUploading;
                t.info.changed = 0;
                UploadBackLocked(t);
            }
        }
    }
    changed_.notify_all();
}

// ---- the thread of an opened file -------------------------------------------------------

void EditPreviewTaskManage::StartTaskThreadLocked(const std::shared_ptr<Task>& task, bool watch) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> lock(threadsMutex_);
    threads_.push_back(TaskThread{std::thread([this, task, watch, done] {
                                      RunTask(task, watch);
                                      *done = true;
                                  }),
                                  done});
}

void EditPreviewTaskManage::RunTask(const std::shared_ptr<Task>& task, bool watch) {
    const std::string path = task->LocalPath();
    const std::string folder = task->info.localFolder;
    if (watch && files_->StartWatchDirectory(folder, this) != 1) {
        LogClientInfo("<EditPreviewTask>Error, the edited file cannot be watched; it is uploaded when it closes");
    }
    const int r = files_->OpenWithApplication(path, &task->stop, watch);

    std::unique_lock<std::mutex> lock(mutex_);
    if (watch && r == 0) {
        // The application has ended, but the file may live on in a running instance it
        // handed it to: watch while another program holds it or writes keep coming.
        task->applicationEnded = true;
        while (!task->stop) {
            const std::int64_t sinceWrite = NowMs() - task->lastWriteMs;
            const std::int64_t grace = timing_.handOverGraceMs;
            const std::int64_t poll = timing_.pollMs;
            lock.unlock();
            const bool inUse = files_->IsFileInUse(path);
            lock.lock();
            if (task->stop || !EditWatchLasts(inUse, sinceWrite, grace)) break;
            changed_.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(
                                        1, inUse ? poll : std::min(poll, grace - sinceWrite))));
        }
    }
    if (watch) {
        lock.unlock();
        files_->StopWatchDirectory(folder);
        LogClientInfo("<EditPreview>Stop watch directory");
        lock.lock();
        // The last save may not have been noticed yet: a running upload is awaited, then
        // the final content goes up when it differs from the last upload.
        while (!task->stop) {
            changed_.wait(lock, [&] { return task->stop || task->info.state != EditStateUploading; });
            if (task->stop || !FindLocked(task->info.reference)) break;
            lock.unlock();
            std::string md5;
            const bool read = files_->GetFileMD5(path, md5);
            lock.lock();
            if (task->stop || !read || md5 == task->info.downloadedMD5) break;
            if (task->info.state != EditStateOpen) continue;
            task->info.state = EditStateUploading;
            task->info.changed = 0;
            UploadBackLocked(*task);
        }
    }
    const bool stopped = task->stop;
    lock.unlock();

    if (r == 1) LogClientInfo("<EditPreviewTask>Error, not found the application by the extension name.");
    else if (r == 2) LogClientInfo("<EditPreviewTask>Error, create process failure.");
    if ((r == 1 || r == 2) && !stopped && sink_ != nullptr) {
        // The user asked to open the file: say that nothing opened it, and where the copy is.
        const std::string key = r == 1 ? "No application is installed to open this file. Its copy is here: "
                                       : "The application of this file could not be started. Its copy is here: ";
        std::string text;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            text = translate_ ? translate_(key) : key;
        }
        sink_->SendControlMessage(ControlMessage::Make(MessageSourceControl, MessageErrorTip, text + path));
    }
    else if (r != 0) LogClientInfo("<EditPreviewTask>Error, Open edit file");
    if (!stopped && !RemoveTask(task->info.reference)) {
        LogClientInfo("<EditPreviewTask>Error, Remove the edit file not found the edit file");
    }
}

void EditPreviewTaskManage::ReapThreads() {
    std::list<TaskThread> ended;
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        for (auto it = threads_.begin(); it != threads_.end();) {
            if (it->done->load()) {
                ended.splice(ended.end(), threads_, it++);
            } else {
                ++it;
            }
        }
    }
    for (TaskThread& t : ended) t.thread.join();
}

std::size_t EditPreviewTaskManage::ThreadCount() {
    ReapThreads();
    std::lock_guard<std::mutex> lock(threadsMutex_);
    return threads_.size();
}

// ---- snapshots --------------------------------------------------------------------------

int EditPreviewTaskManage::CopyEntries(std::list<EditListEntry>& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& task : tasks_) {
        EditListEntry entry;
        entry.reference = task->info.reference;
        entry.parentRef = task->info.parentRef;
        entry.transferId = task->info.transferId;
        entry.kind = task->info.kind;
        entry.transferDirection = task->info.state == EditStateDownloading ? TransferDownward
                                  : task->info.state == EditStateUploading ? TransferUpward
                                                                           : 0;
        out.push_back(entry);
    }
    return 1;
}

bool EditPreviewTaskManage::GetTask(const std::string& reference, EditTaskStatus& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::shared_ptr<Task> task = FindLocked(reference);
    if (!task) return false;
    out.info = task->info;
    out.failedUploads = task->failures;
    out.retryScheduled = task->retryAtMs >= 0;
    out.waitingForLogin = task->waitingForLogin;
    out.applicationEnded = task->applicationEnded;
    return true;
}

std::size_t EditPreviewTaskManage::TaskCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tasks_.size();
}

// ---- kept copies ------------------------------------------------------------------------

std::string EditPreviewTaskManage::StagingFolder(const Task& task) const {
    return editFolder_ + "/" + task.folderName + kStagingSuffix;
}

std::string EditPreviewTaskManage::RecordPath(const Task& task) const {
    return editFolder_ + "/" + task.folderName + kRecordSuffix;
}

EditCopyRecord EditPreviewTaskManage::RecordOfLocked(const Task& task) const {
    EditCopyRecord record;
    record.reference = task.info.reference;
    record.parentRef = task.info.parentRef;
    record.remoteFolderPath = task.info.remoteFolderPath;
    record.remoteName = task.info.fileName;
    record.account = ownerAccount_;
    record.server = ownerServer_;
    record.uploadedMD5 = task.info.downloadedMD5;
    return record;
}

void EditPreviewTaskManage::WriteRecordLocked(const Task& task) {
    if (task.info.kind != EditKindEdit) return;
    if (!WriteFileReplacing(RecordPath(task), RecordOfLocked(task).ToText(), 0600)) {
        LogClientInfo("<EditPreviewTask>The record of an edited file cannot be written: " + RecordPath(task));
    }
}

void EditPreviewTaskManage::DeleteItem(const std::string& path) {
    int isDirectory = 0;
    if (!files_->Exists(path, isDirectory)) return;
    if (isDirectory != 0) files_->DeleteDirectory(path);
    else files_->DeleteFile(path);
}

void EditPreviewTaskManage::RecoverEditCopies() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (files_ == nullptr || editFolder_.empty()) return;
    recovered_.clear();
    std::vector<LocalFileItem> items;
    if (!files_->ListDirectory(editFolder_, items)) {
        DeleteItem(editFolder_);
        return;
    }
    std::vector<std::string> keep;
    for (const LocalFileItem& item : items) {
        if (item.isFolder || !EndsWith(item.name, kRecordSuffix)) continue;
        const std::string folderName = item.name.substr(0, item.name.size() - std::string(kRecordSuffix).size());
        std::string text;
        EditCopyRecord record;
        if (ReadWholeFile(editFolder_ + "/" + item.name, text) != FileRead::Read || !record.FromText(text) ||
            EditTaskFolderName(record.reference) != folderName || !IsSingleName(record.remoteName)) {
            continue;
        }
        EditRecoveredCopy copy;
        copy.record = record;
        copy.localFolder = editFolder_ + "/" + folderName;
        const std::string local = copy.localFolder + record.remoteName;
        std::string md5;
        if (!files_->GetFileMD5(local, md5) || md5 == record.uploadedMD5) continue;
        copy.size = files_->GetFileSize(local);
        recovered_.push_back(copy);
        keep.push_back(folderName);
        keep.push_back(item.name);
        LogClientInfo("<EditPreviewTask>An edited file that was not uploaded is kept: " + local);
    }
    for (const LocalFileItem& item : items) {
        if (std::find(keep.begin(), keep.end(), item.name) == keep.end()) DeleteItem(editFolder_ + "/" + item.name);
    }
}

std::vector<EditRecoveredCopy> EditPreviewTaskManage::RecoveredCopies(const std::string& account,
                                                                      const std::string& server) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<EditRecoveredCopy> out;
    for (const EditRecoveredCopy& c : recovered_) {
        if (c.record.account == account && c.record.server == server) out.push_back(c);
    }
    return out;
}

int EditPreviewTaskManage::ReopenRecoveredCopy(const std::string& reference) {
    EditPreviewTaskInfo info;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = std::find_if(recovered_.begin(), recovered_.end(),
                                     [&](const EditRecoveredCopy& c) { return c.record.reference == reference; });
        if (it == recovered_.end()) return 1;
        info.kind = EditKindEdit;
        info.size = it->size;
        info.remoteFolderPath = it->record.remoteFolderPath;
        info.remoteName = it->record.remoteName;
        info.reference = it->record.reference;
        info.parentRef = it->record.parentRef;
    }
    return AddTask(info);
}

bool EditPreviewTaskManage::DiscardRecoveredCopy(const std::string& reference) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find_if(recovered_.begin(), recovered_.end(),
                                 [&](const EditRecoveredCopy& c) { return c.record.reference == reference; });
    if (it == recovered_.end()) return false;
    const std::string folderName = EditTaskFolderName(reference);
    DeleteItem(it->localFolder);
    DeleteItem(editFolder_ + "/" + folderName + kRecordSuffix);
    DeleteItem(editFolder_ + "/" + folderName + kStagingSuffix);
    recovered_.erase(it);
    return true;
}

// ---- messages ---------------------------------------------------------------------------

void EditPreviewTaskManage::PostState(const Task& task, std::int32_t transferId, std::int32_t removed,
                                      std::int32_t direction) {
    if (sink_ == nullptr) return;
    EditTaskStateMessage message;
    message.reference = task.info.reference;
    message.parentRef = task.info.parentRef;
    message.transferId = transferId;
    message.kind = task.info.kind;
    message.removed = removed;
    message.direction = direction;
    sink_->SendControlMessage(ControlMessage::Make(MessageSourceService, MessageEditTaskState, std::move(message)));
}
