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
// made a plain file name) below `tempFolder`.
std::string DownloadTempPath(const std::string& tempFolder, const std::string& nodeRef);

// Downloads `nodeRef` (of `size` bytes) to localFolder + relativePath. relativePath is
// "/" + names from the server joined by "/"; every name must be a plain file name and the
// target must lie below localFolder. The target's folder is created when missing; an
// existing target file is replaced. 1 on success; 0 on failure, with the HTTP error code
// in *errorCode (0 when the failure was local).
int DownloadToLocalFile(HttpClient& http, CLocalFileSystem& files, int requestId, std::int64_t size,
                        const std::string& nodeRef, const std::string& tempFolder, const std::string& localFolder,
                        const std::string& relativePath, int* errorCode);
