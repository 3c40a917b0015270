#pragma once
// A download into a local file that never leaves a partial or foreign file behind: the
// content goes to a temporary file (".draviktemp") in the temporary folder, created at
// its final size; the bytes are counted and a length that differs from the expected one
// fails the download; only a complete file is renamed onto the target, and the temporary
// file is removed on every failure.
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

// Downloads `nodeRef` (of `size` bytes) to localFolder + relativePath. relativePath is
// "/" + names from the server joined by "/"; every name must be a plain file name and the
// target must lie below localFolder. The target's folder is created when missing; an
// existing target file is replaced. The temporary file is named after the node and
// `requestId` (the task id). 1 on success; 0 on failure, with the HTTP error code
// in *errorCode (0 when the failure was local).
int DownloadToLocalFile(HttpClient& http, CLocalFileSystem& files, int requestId, std::int64_t size,
                        const std::string& nodeRef, const std::string& tempFolder, const std::string& localFolder,
                        const std::string& relativePath, int* errorCode);
