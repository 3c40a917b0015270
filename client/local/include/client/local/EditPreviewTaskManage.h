#pragma once
// Opening cloud files in their local application, to edit them or only to look at them.
//
// The cloud browser adds a task (AddTask); the manager downloads the file through the
// transfer queue into the task's own folder below the "/Edit" or "/PreView" working
// folder and opens it with the application of its type. A preview is made read-only and
// ends as soon as its application has started. An edit is watched: each time the file is
// saved with a new digest, a copy of it (staged beside the task's folder, never inside
// it) goes back to the server as new content of the same cloud node. Every change of a
// task is posted on the bus (message 12).
//
// Once the application has ended, an edit stays watched while another program holds the
// file (an application that handed the file to a running instance of itself) or for a
// grace period after the last write; then a running upload is awaited and the final
// content is uploaded when it differs from the last upload. A failed upload is retried
// with a growing delay, never while logged out. The content last known to be on the
// server is recorded beside each edit copy ("<folder>.task"), so that an edit copy whose
// content was not uploaded survives a logout or a restart: it is kept, offered again
// (RecoveredCopies) and resumed when the same file is opened again.
//
// Threads: AddTask, RemoveTask, StopAll and the recovery calls come from the UI thread;
// OnTransferFinished from a transfer worker; the change slots from the watcher's
// notification thread. Each opened file has a thread of its own (counted, joined), and
// one retry thread times failed uploads. One mutex guards the task list and the records;
// no thread waits for another while holding it, and watches are stopped outside it.
// StopAll (logout, exit) ends every task and joins every thread of the manager.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/core/Config.h"
#include "client/core/EditRecords.h"
#include "client/core/TransferRecords.h"
#include "client/local/LocalFileSystem.h"

class SendControlMessageInterface;
class TransferManage;

// An edit copy kept from an earlier login or run whose content was not uploaded.
struct EditRecoveredCopy {
    EditCopyRecord record;
    std::string localFolder;  // the copy is localFolder + record.remoteName
    std::int64_t size = 0;
};

// A task as the manager sees it (for tests and diagnostics).
struct EditTaskStatus {
    EditPreviewTaskInfo info;
    int failedUploads = 0;        // failures in a row of the current upload
    bool retryScheduled = false;
    bool waitingForLogin = false;  // a retry came due while logged out
    bool applicationEnded = false;
};

class EditPreviewTaskManage : public CWatchDirHandle {
public:
    // Delays of the edit loop; the defaults suit the program, tests shorten them.
    struct Timing {
        std::int64_t retryFirstMs = 2000;    // first retry of a failed upload
        std::int64_t retryMaxMs = 300000;    // longest delay between retries
        std::int64_t handOverGraceMs = 15000;  // watch after the last write once the application ended
        std::int64_t pollMs = 100;           // re-test of a file held by another program
    };

    EditPreviewTaskManage();
    // Ends every task (StopAll).
    ~EditPreviewTaskManage() override;
    EditPreviewTaskManage(const EditPreviewTaskManage&) = delete;
    EditPreviewTaskManage& operator=(const EditPreviewTaskManage&) = delete;

    // The working folders and collaborators (not owned; they outlive the manager).
    void SetServices(const std::string& editFolder, const std::string& previewFolder, CLocalFileSystem* files,
                     TransferManage* transfers, SendControlMessageInterface* sink);
    // Takes "EditFileNumberAtSameTime".
    void SetConfig(const Config& config);
    void SetTiming(const Timing& timing);
    // Translates the texts the manager tells the user (by default they stay as keyed).
    void SetTranslator(std::function<std::string(const std::string&)> translate);
    // The login whose edits are recorded (account and server).
    void SetOwner(const std::string& account, const std::string& server);

    // 0 added (download started or a kept copy resumed); 1 the download was refused (or
    // the reference or name cannot make a local file); 2 a task of this reference is
    // listed; 3 the limit of tasks is reached; 4 an old local copy cannot be deleted (or
    // is another login's kept copy).
    int AddTask(const EditPreviewTaskInfo& info);
    // Ends the task of `reference` (its thread stops waiting for the application); false
    // when none is listed. The local copy stays.
    bool RemoveTask(const std::string& reference);
    // A transfer of kind 1 or 2 ended (called by the transfer queue). Always 1.
    int OnTransferFinished(const std::string& reference, bool success);

    void On_FileModified(const std::string& path) override;
    void On_FileNameChanged(const std::string& oldPath, const std::string& newPath) override;

    // Ends every task and joins every thread; copies with content not uploaded are kept
    // for RecoveredCopies.
    void StopAll();

    // Rows for the cloud browser; 1.
    int CopyEntries(std::list<EditListEntry>& out) const;
    bool GetTask(const std::string& reference, EditTaskStatus& out) const;
    std::size_t TaskCount() const;
    // Threads of opened files still alive (the retry thread not counted).
    std::size_t ThreadCount();

    // At start, before the Edit folder is used: keeps the edit copies whose content was
    // not uploaded and deletes everything else in the folder.
    void RecoverEditCopies();
    // The kept copies of a login.
    std::vector<EditRecoveredCopy> RecoveredCopies(const std::string& account, const std::string& server) const;
    // Opens a kept copy again as an edit (AddTask's results).
    int ReopenRecoveredCopy(const std::string& reference);
    // Deletes a kept copy; false when none has the reference.
    bool DiscardRecoveredCopy(const std::string& reference);

private:
    struct Task;
    struct TaskThread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    std::shared_ptr<Task> FindLocked(const std::string& reference) const;
    // Takes a task off the list and posts its removal (the watch is stopped by the caller).
    void EraseLocked(const std::shared_ptr<Task>& task);
    // A transfer of the task's file: download into its folder, or upload of a staged copy.
    static TransferFileTask MakeTransfer(const Task& task, std::int32_t direction, const std::string& localFolder,
                                         std::int64_t size);
    int StartDownloadLocked(Task& task);
    // Stages a copy and uploads it when its digest is new; a failure schedules a retry.
    void UploadBackLocked(Task& task);
    void ScheduleRetryLocked(Task& task);
    void FileChanged(const std::string& path);
    // What is recorded beside an edit copy: the content on the server is downloadedMD5.
    EditCopyRecord RecordOfLocked(const Task& task) const;
    void WriteRecordLocked(const Task& task);
    void StartTaskThreadLocked(const std::shared_ptr<Task>& task, bool watch);
    void RunTask(const std::shared_ptr<Task>& task, bool watch);
    void RetryLoop();
    // After a task left the list: keeps its copy when its content was not uploaded.
    void KeepIfNotUploaded(const std::shared_ptr<Task>& task);
    void ReapThreads();
    void DeleteItem(const std::string& path);

    std::string StagingFolder(const Task& task) const;
    std::string RecordPath(const Task& task) const;

    void PostState(const Task& task, std::int32_t transferId, std::int32_t removed, std::int32_t direction);

    static std::int64_t NowMs();

    std::string editFolder_;
    std::string previewFolder_;
    CLocalFileSystem* files_ = nullptr;
    TransferManage* transfers_ = nullptr;
    SendControlMessageInterface* sink_ = nullptr;
    std::atomic<int> taskLimit_{5};

    mutable std::mutex mutex_;  // everything below
    std::function<std::string(const std::string&)> translate_;
    std::condition_variable changed_;
    std::list<std::shared_ptr<Task>> tasks_;
    std::vector<EditRecoveredCopy> recovered_;
    Timing timing_;
    std::string ownerAccount_;
    std::string ownerServer_;
    std::thread retryThread_;
    bool retryQuit_ = false;

    std::mutex threadsMutex_;  // threads_; taken after mutex_, never before it
    std::list<TaskThread> threads_;
};
