#pragma once
// A download into a local file that never leaves a partial or foreign file behind and
// never replaces a file silently: the content goes to a temporary file (".draviktemp") in
// the temporary folder, created at its final size; the bytes are counted and a length
// that differs from the expected one fails the download; only a complete file is moved
// into place, beside an existing file under a free name "name (1).ext", "name (2).ext"...
// unless the caller's own working copy may be replaced; the temporary file is removed on
// every failure. Nothing is written when a link or a file stands on the way below the
// target folder.
#include <cstdint>
#include <string>

class CLocalFileSystem;
class HttpClient;

// The temporary file of a download of `nodeRef` (the identifier part after the store,
// made a plain file name) below `tempFolder`: "<id>.<task>.draviktemp", so that two
// downloads of one node never share it; "<id>.draviktemp" without a task (taskId < 0).
std::string DownloadTempPath(const std::string& tempFolder, const std::string& nodeRef, int taskId = -1);

// True for "/" + names joined by "/" where every name is a plain file name (no empty
// name, ".", "..", separator or control character).
bool IsSafeRelativePath(const std::string& relativePath);

// Why localFolder + relativePath is no place for data from the server: a name that is not
// a plain file name, a path the local checks refuse, a path outside localFolder, or a
// link (or a file) standing on the way below localFolder. Empty when it is fine.
std::string LocalPlaceProblem(const std::string& localFolder, const std::string& relativePath);

// "name (n).ext" for "name.ext" (the extension after the last dot that does not begin the
// name; "name (n)" without one).
std::string NumberedName(const std::string& name, int n);

// Where and how a download lands.
struct LocalDownloadPlace {
    // The program's own working copy (edit and preview) replaces what stands there.
    bool replaceExisting = false;
    // Out: the relative path the file landed at ("/a/b (1).txt" beside an existing one).
    std::string landedRelativePath;
    // Out: why nothing was written, when the place was refused or the move failed.
    std::string reason;
};

// Downloads `nodeRef` (of `size` bytes) to localFolder + relativePath. relativePath is
// "/" + names from the server joined by "/"; every name must be a plain file name, the
// target must lie below localFolder and no link may stand on the way below it. The
// target's folder is created when missing; an existing item at the target stays and the
// file lands beside it under a free name (unless place->replaceExisting). The temporary
// file is named after the node and `requestId` (the task id). 1 on success; 0 on
// failure, with the HTTP error code in *errorCode (0 when the failure was local).
int DownloadToLocalFile(HttpClient& http, CLocalFileSystem& files, int requestId, std::int64_t size,
                        const std::string& nodeRef, const std::string& tempFolder, const std::string& localFolder,
                        const std::string& relativePath, int* errorCode, LocalDownloadPlace* place = nullptr);
