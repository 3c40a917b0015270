#pragma once
// The client's folders and the safe reading and writing of its small state files.
#include <string>
#include <string_view>
#include <sys/types.h>

#include "platform/fileops.h"

// The client's data folder: $XDG_DATA_HOME/Dravik/DravikClient (not created here).
std::string ClientDataDirectory();
// "Beside the executable": the executable's folder when it is writable, else
// $XDG_CONFIG_HOME/Dravik/DravikClient (created when missing).
std::string BesideExecutableDirectory();

// The result of a whole-file read: Read, Missing, NotAFile or Failed.
using FileRead = plat::fs::ReadResult;

// Reads a regular file whole (the path may be a link to one); `content` is empty unless
// the result is Read.
FileRead ReadWholeFile(const std::string& path, std::string& content);

// Writes `content` to a temporary file beside `path` with the given mode, flushes it to
// disk and renames it over `path`; the old file stays intact on any failure and the
// temporary file is removed. True when the new content is in place.
bool WriteFileReplacing(const std::string& path, std::string_view content, mode_t mode);

// Moves whatever is at `path` (a file that does not parse, a folder in the way) aside to
// `path` + ".bad" (".bad.1", ".bad.2" ... when taken), so nothing is lost and the name is
// free. Returns the new path, "" when it could not be moved.
std::string SetFileAside(const std::string& path);

// Creates a folder of the user's own data (every missing level); the folder itself is
// mode 0700, an existing one that others could enter is closed. True when it is so.
bool MakePrivateFolder(const std::string& path);

// Clears the group and other bits of a file of this user that others could read: 1 when
// it did, 0 when the file was private or is missing, -1 when it could not.
int MakeFilePrivate(const std::string& path);
