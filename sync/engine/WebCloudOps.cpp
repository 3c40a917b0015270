#include "sync/engine/WebCloudOps.h"

#include "sync/engine/ProgressTarget.h"
#include "sync/net/WebCloud.h"

namespace {

class WebCloudServerOps : public CommitServerOps {
public:
    explicit WebCloudServerOps(CWebCloud& cloud) : cloud_(cloud) {}

    ServerCallResult CreateFolder(CSyncBase* owner, SyncOperationSlot* operation, const std::string& parentRef,
                                  const std::string& name) override {
        return Run([&] { return cloud_.iCreateFolder(owner, operation, parentRef, name); },
                   [&] { return cloud_.CreatedNodeRef(); });
    }
    ServerCallResult Copy(CSyncBase* owner, SyncOperationSlot* operation, const std::string& sourceParentRef,
                          const std::string& sourceRef, const std::string& targetFolderRef) override {
        return Run([&] { return cloud_.iCopy(owner, operation, sourceParentRef, sourceRef, targetFolderRef); },
                   [&] { return cloud_.ResultNodeRef(); });
    }
    ServerCallResult Move(CSyncBase* owner, SyncOperationSlot* operation, const std::string& sourceParentRef,
                          const std::string& sourceRef, const std::string& targetFolderRef) override {
        return Run([&] { return cloud_.iMove(owner, operation, sourceParentRef, sourceRef, targetFolderRef); },
                   [&] { return cloud_.ResultNodeRef(); });
    }
    ServerCallResult Delete(CSyncBase* owner, SyncOperationSlot* operation, const std::string& parentRef,
                            const std::string& itemRef) override {
        return Run([&] { return cloud_.iDelete(owner, operation, parentRef, itemRef); }, [] { return std::string(); });
    }
    ServerCallResult Rename(CSyncBase* owner, SyncOperationSlot* operation, const std::string& itemRef,
                            const std::string& newName) override {
        // A rename keeps the item's reference.
        return Run([&] { return cloud_.iRename(owner, operation, itemRef, newName); }, [] { return std::string(); });
    }
    ServerCallResult UploadFile(CSyncBase* owner, SyncOperationSlot* operation, const TaskNode& progress,
                                const Upload& upload) override {
        const ProgressTarget target = ProgressTarget::SameChecksum(progress);
        return Run(
            [&] {
                return cloud_.iUpload(owner, upload.size, target.Sink(), operation, upload.destinationRef,
                                      upload.updateRef, upload.checksum, upload.relativePath);
            },
            [&] { return cloud_.UploadedNodeRef(); });
    }
    ServerCallResult ListServer(CSyncBase* owner, FileNode* into) override {
        return Run([&] { return cloud_.iListServerTree(owner, into); }, [] { return std::string(); });
    }
    ServerCallResult DownloadFile(CSyncBase* owner, SyncOperationSlot* operation, const TaskNode* rowKey,
                                  const Download& download) override {
        const ProgressTarget target = ProgressTarget::RunningRow(rowKey);
        return Run(
            [&] {
                return cloud_.iDownload(owner, download.size, operation, target.Sink(), download.nodeRef,
                                        download.relativePath, download.checksum);
            },
            [] { return std::string(); });
    }

private:
    // A call without a login cookie makes no request, so it has no status of its own; a
    // failed call with one reports the status its request left.
    template <typename Call, typename Ref>
    ServerCallResult Run(Call call, Ref ref) {
        ServerCallResult result;
        const bool canSend = !cloud_.LoginCookie().empty();
        cloud_.ResetLastStatus();
        result.ok = call() != 0;
        if (result.ok) {
            result.nodeRef = ref();
        } else if (canSend && cloud_.LastStatus() != 200) {
            result.status = cloud_.LastStatus();
        }
        return result;
    }

    CWebCloud& cloud_;
};

}  // namespace

std::unique_ptr<CommitServerOps> MakeWebCloudServerOps(SyncApp& app) {
    if (app.webCloud == nullptr) return nullptr;
    return std::make_unique<WebCloudServerOps>(*app.webCloud);
}
