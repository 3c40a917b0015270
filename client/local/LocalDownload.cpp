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

std::string LocalPlaceProblem(const std::string& localFolder, const std::string& relativePath) {
    if (!IsSafeRelativePath(relativePath)) return "a name from the server is not a plain file name";
    return LocalPathBelowProblem(localFolder, localFolder + relativePath);
}

std::string NumberedName(const std::string& name, int n) {
    const std::size_t dot = name.find_last_of('.');
    const bool extension = dot != std::string::npos && dot > 0;
    const std::string stem = extension ? name.substr(0, dot) : name;
    return stem + " (" + std::to_string(n) + ")" + (extension ? name.substr(dot) : std::string());
}

namespace {

// Highest number tried for a free name beside an existing file.
constexpr int kMaxBesideNumber = 9999;

// Moves the complete temporary file to the target, or beside it under the first free
// numbered name; the relative path it landed at, empty when it could not be moved.
std::string MoveIntoPlace(CLocalFileSystem& files, const std::string& temp, const std::string& localFolder,
                          const std::string& relativePath, bool replace) {
    if (replace) return files.MoveFile(temp, localFolder + relativePath) == 1 ? relativePath : std::string();
    const std::size_t slash = relativePath.find_last_of('/');
    const std::string folder = relativePath.substr(0, slash + 1);
    const std::string name = relativePath.substr(slash + 1);
    for (int n = 0; n <= kMaxBesideNumber; ++n) {
        const std::string candidate = folder + (n == 0 ? name : NumberedName(name, n));
        // A numbered name that is no valid name (too long) ends the search.
        if (n > 0 && !LocalPlaceProblem(localFolder, candidate).empty()) return {};
        const int moved = files.MoveFileNoReplace(temp, localFolder + candidate);
        if (moved == 1) return candidate;
        if (moved != kLocalMoveTargetExists) return {};
    }
    return {};
}

}  // namespace

int DownloadToLocalFile(HttpClient& http, CLocalFileSystem& files, int requestId, std::int64_t size,
                        const std::string& nodeRef, const std::string& tempFolder, const std::string& localFolder,
                        const std::string& relativePath, int* errorCode, LocalDownloadPlace* place) {
    if (errorCode != nullptr) *errorCode = 0;
    LocalDownloadPlace ownPlace;
    if (place == nullptr) place = &ownPlace;
    place->landedRelativePath.clear();
    place->reason.clear();
    const std::string target = localFolder + relativePath;
    const std::string temp = DownloadTempPath(tempFolder, nodeRef, requestId);
    std::string problem = LocalPlaceProblem(localFolder, relativePath);
    if (problem.empty() && !IsLocalPathBelow(tempFolder, temp)) problem = "the temporary file would leave its folder";
    if (!problem.empty()) {
        LogClientInfo("<http>Download, refused, " + problem + ": " + relativePath);
        place->reason = problem;
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
    if (result == 1) {
        // The way may have changed while the content came.
        problem = LocalPlaceProblem(localFolder, relativePath);
        if (problem.empty()) {
            place->landedRelativePath = MoveIntoPlace(files, temp, localFolder, relativePath, place->replaceExisting);
            if (!place->landedRelativePath.empty()) {
                if (place->landedRelativePath != relativePath) {
                    LogClientInfo("<http>Download, " + relativePath + " exists, written beside it as " +
                                  place->landedRelativePath);
                }
                return 1;
            }
            place->reason = "the file cannot be put in place";
        } else {
            place->reason = problem;
        }
        LogClientInfo("<http>Download, " + place->reason + ": " + relativePath);
    }
    RemoveTemp(files, temp);
    return 0;
}
