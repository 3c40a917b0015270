#pragma once
// The client's upload and download queue.
//
// The cloud browser and the transfer list hand it batches (AddBatchTask): an upload batch
// names local files and folders to send into a cloud folder, a download batch cloud
// items to fetch into a local folder. While the queue runs (Start after login, Stop
// before logout) a batch thread expands each batch into one task per file (and per empty
// folder) and a starter thread starts waiting tasks while fewer than the configured
// number ("TransFileNumberAtSameTime") run. The edit tasks hand it single edit and
// preview transfers (AddFileTask), which start at once besides that limit. Each transfer
// runs as one job of a bounded pool of worker threads owned by the queue and ends in the
// finished or the failed list. Every step is posted on the message bus (types 7 to 10,
// source 6); the queue is also the HTTP client's progress listener.
//
// Threads: AddBatchTask, Start, Stop and WaitForTransfers come from the UI thread; the
// batch and starter threads and the pool's workers are the queue's own; OnProgress runs
// on a worker (inside the HTTP client). No lock of the queue is held while a transfer
// runs, while the edit-task manager is told about one, or while a message is posted.
//
// Ending. Stop ends the batch and starter threads and joins them; transfers that run go
// on until the HTTP client's logout cancels them and are then filed as failed.
// WaitForTransfers waits (bounded) for them and joins the workers once they are idle;
// the destructor joins everything without limit. Nothing of the queue runs after it.
//
// Safety. Names from the server never leave the local target folder: a listed item whose
// name is not a plain file name fails alone; a chosen item keeps the name the user saw,
// and one that a fresh listing names differently fails with that reason; nothing is
// written through a link standing below the target folder; downloads go through a
// temporary file of their own (task id in its name), count their bytes and are moved
// into place only when complete, beside an existing file under a free name "name (1).ext"
// (edit and preview copies, in the program's own folders, replace theirs).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "client/core/Config.h"
#include "client/core/HttpClient.h"
#include "client/core/TransferRecords.h"
#include "client/core/WorkerPool.h"

class CLocalFileSystem;
class EditPreviewTaskManage;
class SendControlMessageInterface;

class TransferManage : public HttpClientListener {
public:
    // At most 10 ordinary transfers and 10 edit transfers run at once (the bounds of
    // "TransFileNumberAtSameTime" and "EditFileNumberAtSameTime").
    static constexpr std::size_t kMaxWorkers = 20;

    TransferManage();
    // Stops the queue and joins every thread it owns.
    ~TransferManage() override;
    TransferManage(const TransferManage&) = delete;
    TransferManage& operator=(const TransferManage&) = delete;

    // The collaborators (not owned; they outlive the queue) and the folder of partial
    // downloads. Set once before Start.
    void SetServices(HttpClient* http, SendControlMessageInterface* sink, CLocalFileSystem* files,
                     EditPreviewTaskManage* edits, const std::string& tempFolder);
    // Takes the limit of simultaneous transfers and the page size of folder listings.
    void SetConfig(const Config& config);

    // Clears the queues, the lists, the batch ids and the folder cache of an earlier
    // login and starts the batch and starter threads.
    void Start();
    // Ends and joins the batch and starter threads (transfers that run go on).
    void Stop();
    bool IsRunning() const { return runningFlag_.load() != 0; }
    // Waits up to `timeout` for the transfers that run; when none is left the workers are
    // joined. True when nothing runs any more.
    bool WaitForTransfers(std::chrono::milliseconds timeout);

    void AddBatchTask(const TransferBatchTask& batch);
    // Starts an edit (kind 1) or preview (kind 2) transfer at once: 0 started; 1 refused
    // (another kind, or the queue does not run).
    int AddFileTask(const TransferFileTask& task);
    // Lists a task as waiting and posts message 7; 1.
    int QueueFileTask(const TransferFileTask& task);

    void OnProgress(const TransferProgress* progress) override;

    // See TransferBatchCounter::CountBatchResults.
    bool CountBatchResults(const std::vector<TransferItem>& items, int& total, int& succeeded, int& failed);
    int ExpandingBatches() const { return batchIds_.ExpandingBatches(); }

    // Copies for the windows.
    std::list<TransferFileTask> CopyWaitingTasks() const;
    std::list<TransferFileTask> CopyRunningTasks() const;
    std::list<TransferFileTask> CopyOtherTasks() const;
    SyncedTaskList& FinishedList() { return finished_; }
    SyncedTaskList& FailedList() { return failed_; }
    const SyncedTaskList& FinishedList() const { return finished_; }
    const SyncedTaskList& FailedList() const { return failed_; }

    // True when no batch is queued or being expanded and no task waits or runs.
    bool IsIdle() const;
    // Transfers running on workers now, and worker threads alive.
    std::size_t RunningTransfers() const { return pool_.Busy(); }
    std::size_t WorkerThreads() const { return pool_.Threads(); }
    // True when the HTTP client is logged in.
    bool IsLoggedIn() const;

private:
    void BatchTaskThread();
    void TransferStartThread();
    // Hands a running task to a worker; files it as failed when the pool refuses it.
    void StartFileTask(const TransferFileTask& task);
    void FileTransfer(std::int32_t taskId, std::int32_t kind);

    void ExpandUploadBatch(const TransferBatchTask& batch);
    void ExpandDownloadBatch(const TransferBatchTask& batch);
    bool CollectLocalFiles(const std::string& path, std::string& localFolder, std::vector<TransferEntry>& entries);
    // The leaves below the chosen item `reference`, which the user saw as `seenName`; false
    // with `reason` set when the item cannot be expanded (a fresh listing that names it
    // differently is refused).
    bool CollectCloudFiles(const std::string& reference, const std::string& seenName,
                           std::vector<TransferEntry>& entries, std::string& reason);
    bool ListWholeFolder(const std::string& reference, CloudListing& listing);
    bool CreateRemoteFolders(TransferFileTask& task);
    // Creates (or finds) folderPath below destination; the deepest folder's reference.
    bool EnsureRemoteFolder(const std::string& destination, const std::string& folderPath, std::string& deepest);
    void ForgetFolder(const std::string& reference);
    int UploadFile(TransferFileTask& task);
    // Downloads a file (or makes an empty folder); a file written beside an existing one
    // gets its landed path in task.relativePath; `reason` says why it failed, when known.
    int DownloadFile(TransferFileTask& task, std::string& reason);

    // Files an item in the finished (state 4) or failed list and posts message 10.
    void FileItem(const TransferItem& item);
    void FileFailed(const TransferFileTask& task, const std::string& reason);
    void Post(std::int32_t type, const TransferFileTask& task);
    bool RemoveRunning(std::int32_t taskId, TransferFileTask* removed);
    void ReleaseSlot();

    HttpClient* http_ = nullptr;
    SendControlMessageInterface* sink_ = nullptr;
    CLocalFileSystem* files_ = nullptr;
    EditPreviewTaskManage* edits_ = nullptr;
    std::string tempFolder_;
    std::atomic<int> transferLimit_{6};
    std::atomic<int> pageSize_{200};

    // The batch queue, the waiting list and the count of running ordinary transfers,
    // with the condition the two scheduler threads wait on.
    mutable std::mutex schedMutex_;
    std::condition_variable schedWake_;
    std::deque<TransferBatchTask> batches_;
    std::list<TransferFileTask> waiting_;
    int batchesInHand_ = 0;  // taken off the queue, still being expanded
    int active_ = 0;

    mutable std::mutex runningMutex_;
    std::list<TransferFileTask> runningTasks_;
    mutable std::mutex otherMutex_;
    std::list<TransferFileTask> other_;  // never filled; kept for the windows' copies

    SyncedTaskList finished_;
    SyncedTaskList failed_;
    TransferBatchCounter batchIds_;

    std::mutex folderMutex_;
    std::map<std::pair<std::string, std::string>, std::string> folderCache_;

    std::atomic<int> runningFlag_{0};
    std::mutex threadsMutex_;  // orders Start and Stop
    std::thread batchThread_;
    std::thread starterThread_;
    WorkerPool pool_{kMaxWorkers};
};
