#pragma once
// The records of the client's edit and preview tasks and the pure rules they follow: the
// task record, the bus payload of a task's change (type 12), the row of the browser's
// list of open files, the name of a task's local folder, the back-off of failed uploads,
// how long an edit stays watched after its application has ended, and the small record
// kept beside an edit copy so that content not yet uploaded survives a restart.
#include <cstdint>
#include <string>

// Kinds and states of a task.
enum EditTaskKind : std::int32_t { EditKindEdit = 0, EditKindPreview = 1 };
enum EditTaskState : std::int32_t {
    EditStateNew = 0,
    EditStateDownloading = 1,
    EditStateUploading = 2,
    EditStateOpen = 3,
};

// One opened cloud file.
struct EditPreviewTaskInfo {
    std::int32_t kind = EditKindEdit;
    std::int32_t state = EditStateNew;
    std::int32_t changed = 0;     // the file changed while a transfer of the task ran
    std::int32_t transferId = -1;
    std::int64_t size = 0;        // the cloud size at first, the local size after each change
    std::string localFolder;      // working folder + "/" + EditTaskFolderName(reference)
    std::string fileName;         // "/" + the file name; the local file is localFolder + fileName
    std::string remoteFolderPath;
    std::string remoteName;       // "/" + the file name
    std::string reference;        // the cloud file; the key of the task
    std::string parentRef;        // the cloud folder holding it
    std::string downloadedMD5;    // digest of the content last known to be on the server
    std::string stagedMD5;        // digest of the copy staged for the last upload
};

// Payload of message 12.
struct EditTaskStateMessage {
    std::string reference;
    std::string parentRef;
    std::int32_t transferId = -1;
    std::int32_t kind = EditKindEdit;
    std::int32_t removed = 0;
    std::int32_t direction = 0;  // 0 none, 2 download, 1 upload
};

// One row of the browser's list of open files.
struct EditListEntry {
    std::string reference;
    std::string parentRef;
    std::int32_t transferId = -1;
    std::int32_t kind = 0;
    std::int32_t transferDirection = 0;  // 2 while the task downloads, 1 while it uploads
    double total = 0;
    double done = 0;
    double speed = 0;
    std::int32_t browserIndex = -1;  // kept by the browser for itself
    std::int64_t browserTicks = 0;
};

// The name of a task's local folder below its working folder: the reference's id part
// with every byte other than A-Z, a-z, 0-9, '-' and '_' written as '%' and two hex digits.
// Different references give different names, and a name never holds '.', so the
// ".task" and ".upload" names beside it are never another task's folder. "" when the id
// part is empty.
std::string EditTaskFolderName(const std::string& reference);

// Milliseconds before the retry of an upload that failed `failures` times in a row:
// `firstMs` doubled for each further failure, at most `maxMs`.
std::int64_t EditRetryDelay(int failures, std::int64_t firstMs, std::int64_t maxMs);

// Whether an edit stays watched after its application has ended: while another program
// holds the file (an application that handed the file to a running instance of itself)
// or until `graceMs` have passed since the last write.
bool EditWatchLasts(bool fileInUse, std::int64_t msSinceLastWrite, std::int64_t graceMs);

// What is kept beside an edit copy ("<folder name>.task" in the Edit working folder): the
// cloud file it belongs to, whose login it was, and the digest of the content last known
// to be on the server. A copy whose content differs from it was not uploaded.
struct EditCopyRecord {
    std::string reference;
    std::string parentRef;
    std::string remoteFolderPath;
    std::string remoteName;  // "/" + the file name
    std::string account;
    std::string server;
    std::string uploadedMD5;

    // A JSON object.
    std::string ToText() const;
    // False when the text is not such an object or a member is missing.
    bool FromText(const std::string& text);
};
