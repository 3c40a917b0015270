#pragma once
// The records of the client's transfer queue: a batch as the user asks for it, the leaves
// found while expanding it, one file transfer, a finished or failed transfer as the
// transfer list shows it, and the locked list those are kept in. Also the pure rules the
// queue follows: task numbering, the count of a batch's results, the split of an upload's
// remote name and the choice of the deepest folder of a folder-creation reply.
//
// These records travel on the message bus (types 7 to 10) as copies; nothing here holds
// a pointer into the queue.
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/core/CloudRecords.h"
#include "client/core/DateTime.h"

// Directions of a batch and of a file task.
enum TransferDirection : std::int32_t {
    TransferUpward = 1,    // upload
    TransferDownward = 2,  // download (a batch treats every value but 1 as a download)
};

// States of a file task.
enum TransferTaskState : std::int32_t {
    TransferWaiting = 0,
    TransferRunning = 2,
    TransferFinished = 4,
    TransferFailed = 5,
    TransferCancelled = 6,  // shown by the transfer list only
};

// Kinds of a file task.
enum TransferKind : std::int32_t {
    TransferOrdinary = 0,
    TransferEdit = 1,
    TransferPreview = 2,
};

// One leaf found while expanding a batch: a file, or a folder without children.
struct TransferEntry {
    std::int32_t isFolder = 0;  // 1 for an empty folder
    std::string relativePath;   // "/" + the chosen item's name + "/" + ... down to the leaf
    std::string reference;      // the cloud node (downloads only)
    std::int64_t size = 0;      // bytes; 0 for folders
};

// One request of the user.
struct TransferBatchTask {
    std::int32_t direction = 0;  // 1 upload, anything else download
    std::string destinationRef;  // the cloud folder that receives uploads
    std::string remotePath;      // display text of that folder's path
    // Upload: the cloud file whose content the one local file replaces (empty for an
    // ordinary upload). Download: the local target folder.
    std::string target;
    std::vector<std::string> paths;  // upload: local paths; download: node references
    std::string baseLocalFolder;     // upload retry: the folder the item's path is relative to
    std::vector<TransferEntry> items;  // download: the chosen items, to report a failure

    void Init() { *this = TransferBatchTask(); }
};

// One file transfer.
struct TransferFileTask {
    std::int32_t id = -1;
    std::int32_t state = TransferWaiting;
    std::int32_t direction = 0;  // 1 upload, 2 download
    std::int32_t kind = TransferOrdinary;
    bool isFolder = false;
    std::int64_t size = 0;
    std::string localFolder;       // the local path is localFolder + relativePath
    std::string relativePath;      // "/" + name, with further levels below the chosen item
    std::string remoteFolderPath;  // display text of the cloud folder path
    std::string remoteName;        // upload: path below the destination; download: as relativePath
    std::string reference;         // download: the cloud file; upload: the cloud file replaced (or "")
    std::string destinationRef;    // upload: the receiving cloud folder
    double total = 0;
    double done = 0;
    double speed = 0;

    void Reset() { *this = TransferFileTask(); }
};

// A finished or failed transfer.
struct TransferItem {
    std::int32_t id = -1;
    std::int32_t state = TransferWaiting;
    std::int32_t direction = 0;
    std::int32_t kind = TransferOrdinary;
    bool isFolder = false;
    std::int64_t size = 0;
    std::string localFolder;
    std::string relativePath;
    std::string remoteFolderPath;
    std::string remoteName;
    std::string reference;
    std::string destinationRef;
    DateTime finishTime;  // local time when it was filed
    std::string reason;   // a failed item: why, when the queue knows it ("" otherwise)

    // The task's fields with `state`, stamped now.
    static TransferItem FromTask(const TransferFileTask& task, std::int32_t state);
};

// A deque of items under its own mutex; every operation holds it.
class SyncedTaskList {
public:
    void PushBack(const TransferItem& item);
    // Removes the first item with the id; false when none has it.
    bool RemoveById(std::int32_t id);
    // Copies the item with the id into `out`; false when none has it.
    bool FindById(std::int32_t id, TransferItem& out) const;
    std::deque<TransferItem> Copy() const;
    void Clear();
    std::size_t Size() const;

private:
    mutable std::mutex mutex_;
    std::deque<TransferItem> items_;
};

// The next task number of the process, from 0: transfers of the queue and of the edit
// tasks share it.
std::int32_t NextTransferTaskId();

// The ids filed for the batches since the last count, and how many batch expansions are
// under way. The tray window counts a batch's results once every id has an item.
class TransferBatchCounter {
public:
    void Add(std::int32_t id);
    void Clear();
    std::vector<std::int32_t> Ids() const;

    // False when no id is listed, when `items` is empty or when a listed id has no item
    // among them (the ids are then kept). Otherwise total is the number of ids, succeeded
    // those whose item finished (state 4), failed the others, and the ids are emptied.
    bool CountBatchResults(const std::vector<TransferItem>& items, int& total, int& succeeded, int& failed);

    // Raised by one for as long as an expansion runs.
    class Expansion {
    public:
        explicit Expansion(TransferBatchCounter& counter) : counter_(counter) { ++counter_.expanding_; }
        ~Expansion() { --counter_.expanding_; }
        Expansion(const Expansion&) = delete;
        Expansion& operator=(const Expansion&) = delete;

    private:
        TransferBatchCounter& counter_;
    };
    int ExpandingBatches() const { return expanding_.load(); }

private:
    mutable std::mutex mutex_;
    std::vector<std::int32_t> ids_;
    std::atomic<int> expanding_{0};
};

// The identifier part of a node reference: the text after the first '/' that follows its
// "://" ("workspace://SpacesStore/abc" gives "abc"); the text after "://" when no '/'
// follows, the whole reference when it has no "://".
std::string ReferenceIdPart(const std::string& nodeRef);

// The cloud folders an upload task needs below its destination. For a folder task
// (`isFolder`) the folder path is remoteName without its leading '/' and the name is
// empty; for a file the name is the text after the last '/' and the folder path the text
// between the leading '/' and that '/' (empty for a file directly in the destination).
struct RemoteNameParts {
    std::string folderPath;
    std::string name;
};
RemoteNameParts SplitRemoteName(const std::string& remoteName, bool isFolder);

// The deepest folder of a folder-creation reply for `folderPath` ("a/b/c") below
// `destination`: the entry of the last component reached by walking the reply from the
// destination through each component's entry (an entry is a component's when its parent
// is the level above and its name is the component's; when no name matches, the one
// entry below that level is taken). Nothing when the reply is empty or the chain breaks.
std::optional<std::string> FindDeepestCreatedFolder(const std::string& destination, const std::string& folderPath,
                                                    const std::vector<CloudItem>& created);
