#pragma once
// The server calls of the commit threads, one per item operation. The program uses the
// application's web-API object through WebCloudServerOps (WebCloudOps.h); tests may put a
// fake in its place. Every call runs on the calling commit thread, stops at the owner's
// checkpoints, and marks the operation record sent once its request has gone out.
#include <cstdint>
#include <string>

#include "sync/common/TreeNode.h"

class CSyncBase;
class SyncOperationSlot;

// The outcome of one call. `status` belongs to the request this call made (the HTTP
// status of a refused request, or the transport failure code), 0 when it made none or
// the request succeeded; it never carries an earlier request's status.
struct ServerCallResult {
    bool ok = false;
    std::uint32_t status = 0;
    std::string nodeRef;  // create folder, copy, move, upload: the new item's reference
};

class CommitServerOps {
public:
    virtual ~CommitServerOps() = default;

    virtual ServerCallResult CreateFolder(CSyncBase* owner, SyncOperationSlot* operation,
                                          const std::string& parentRef, const std::string& name) = 0;
    // Copy and move put the source item into the target folder under its own name.
    virtual ServerCallResult Copy(CSyncBase* owner, SyncOperationSlot* operation, const std::string& sourceParentRef,
                                  const std::string& sourceRef, const std::string& targetFolderRef) = 0;
    virtual ServerCallResult Move(CSyncBase* owner, SyncOperationSlot* operation, const std::string& sourceParentRef,
                                  const std::string& sourceRef, const std::string& targetFolderRef) = 0;
    virtual ServerCallResult Delete(CSyncBase* owner, SyncOperationSlot* operation, const std::string& parentRef,
                                    const std::string& itemRef) = 0;
    virtual ServerCallResult Rename(CSyncBase* owner, SyncOperationSlot* operation, const std::string& itemRef,
                                    const std::string& newName) = 0;

    // Uploads the local file at `relativePath` (below the sync folder) into the folder
    // `destinationRef`; a non-empty `updateRef` replaces that item's content. `progress`
    // is a detached copy of the task node (its local partner a copy too) for the running
    // page's progress.
    struct Upload {
        std::uint64_t size = 0;
        std::string destinationRef;
        std::string updateRef;
        std::string checksum;
        std::string relativePath;
    };
    virtual ServerCallResult UploadFile(CSyncBase* owner, SyncOperationSlot* operation, const TaskNode& progress,
                                        const Upload& upload) = 0;

    // Lists the account's whole home folder into `into` (its children replaced only when
    // the whole listing was read).
    virtual ServerCallResult ListServer(CSyncBase* owner, TreeNode<SyncFileInfo>* into) = 0;

    // Downloads the item `nodeRef` to `relativePath` below the sync folder: into a
    // temporary file first, replaced into place only when the byte count (and the checksum,
    // when known) is right. `rowKey` names the running row that shows the progress.
    struct Download {
        std::uint64_t size = 0;
        std::string nodeRef;
        std::string relativePath;
        std::string checksum;
    };
    virtual ServerCallResult DownloadFile(CSyncBase* owner, SyncOperationSlot* operation, const TaskNode* rowKey,
                                          const Download& download) = 0;
};
