#include "client/local/LocalDownload.h"

#include "client/core/ClientLog.h"
#include "client/core/HttpClient.h"
#include "client/core/LocalFileIO.h"
#include "client/core/TransferRecords.h"
#include "client/local/LocalFileSystem.h"
#include "client/local/WinFileSystemAdapter.h"

bool IsSafeRelativePath(const std::string& relativePath) {
    if (relativePath.size() < 2 || relativePath[0] != '/') return false;
    std::size_t start = 1;
    for (;;) {
        const std::size_t slash = relativePath.find('/', start);
        const std::string name = relativePath.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!IsSafeServerName(name)) return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

namespace {

// Removes whatever stands at a temporary path.
void RemoveTemp(CLocalFileSystem& files, const std::string& path) {
    int isDirectory = 0;
    if (!files.Exists(path, isDirectory)) return;
    if (isDirectory != 0) files.DeleteDirectory(path);
    else files.DeleteFile(path);
}

}  // namespace

std::string DownloadTempPath(const std::string& tempFolder, const std::string& nodeRef, int taskId) {
    std::string name;
    for (const char c : ReferenceIdPart(nodeRef)) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_' || c == '.' || u >= 0x80;
        name += plain ? c : '_';
    }
    if (name.empty() || name == "." || name == "..") name = "_" + name;
    if (taskId >= 0) name += "." + std::to_string(taskId);
    return tempFolder + "/" + name + ".draviktemp";
}

int DownloadToLocalFile(HttpClient& http, CLocalFileSystem& files, int requestId, std::int64_t size,
                        const std::string& nodeRef, const std::string& tempFolder, const std::string& localFolder,
                        const std::string& relativePath, int* errorCode) {
    if (errorCode != nullptr) *errorCode = 0;
    const std::string target = localFolder + relativePath;
    const std::string temp = DownloadTempPath(tempFolder, nodeRef, requestId);
    if (!IsSafeRelativePath(relativePath) || !IsLocalPathBelow(localFolder, target) ||
        !IsLocalPathBelow(tempFolder, temp)) {
        LogClientInfo("<http>Download, refused, the local path would leave its folder: " + relativePath);
        return 0;
    }
    files.CreateDirectory(target.substr(0, target.find_last_of('/')));
    RemoveTemp(files, temp);

    CLocalFileIO* io = files.CreateFileIO();
    if (io == nullptr) return 0;
    int result = 0;
    if (io->Open(temp, 1, size)) {
        result = http.Download(requestId, size, io, nodeRef, errorCode);
        if (!io->Close()) result = 0;
    }
    files.ReleaseFileIO(&io);
    if (result == 1 && files.MoveFile(temp, target) == 1) return 1;
    RemoveTemp(files, temp);
    return 0;
}
