#pragma once
// Local file operations on UTF-8 POSIX paths. Nothing here follows a symbolic link:
// scans, copies and deletes treat a link as a non-syncable item (deleted as itself,
// never entered). Special files (FIFOs, sockets, devices) are skipped by copies.
// Every failure leaves errno-based detail in LastErrorText().
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat::fs {

enum class Kind { Missing, File, Directory, Link, Special };

// lstat-based kind of the item.
Kind GetKind(const std::string& path);

struct Entry {
    std::string name;
    Kind kind = Kind::Missing;
    std::uint64_t size = 0;
    std::int64_t mtimeSeconds = 0;
};

// Lists a folder (no "." or ".."); false when it cannot be opened or read to the end.
// Entries are described by lstat (a link is a Link, whatever it points at); `size` is
// set for files only. The path itself may name a link to a folder (a sync root may).
bool ListDirectory(const std::string& path, std::vector<Entry>& out);
// ListDirectory of a folder that must be a real one: a link there is not followed (the
// listing fails with ELOOP), so nothing below a chosen folder leads out of it.
bool ListDirectoryNoFollow(const std::string& path, std::vector<Entry>& out);

// Creates one folder; true when it exists as a folder (not a link to one) afterwards.
bool MakeDirectory(const std::string& path);
// Creates every missing level; true when the folder exists afterwards. Upper levels may
// be links to folders (as with mkdir -p); the last level must be a real folder.
bool MakeDirectories(const std::string& path);

// MakeDirectories whose last level is private: created mode 0700, and an existing folder
// of this user that others may enter is tightened to 0700. Levels above keep their modes.
bool MakePrivateDirectories(const std::string& path);

// The first item on the way from `root` down to the folder that holds `path` (every level
// strictly below root and above the last name) that is not a real folder: a link (to a
// folder or not), a file or a special file. Empty when the way is clear; a missing level
// ends the walk (what follows does not exist yet). `path` must be `root` + "/" + names
// (both normalised); any other `path` is returned itself. Used wherever data from the
// server is placed below a chosen folder, so that nothing standing there leads it out.
std::string BlockedStepBelow(const std::string& root, const std::string& path);

bool RemoveFile(const std::string& path);        // unlink; refuses folders
bool RemoveEmptyDirectory(const std::string& path);
// Deletes a folder and everything below it without following links; a link given as
// `path` is removed itself. Stops at the first failure.
bool RemoveTree(const std::string& path);

// Copies one regular file (through a temporary file beside the target, then rename).
bool CopyFile(const std::string& from, const std::string& to, bool overwrite);
// Copies a folder tree; fails when `to` lies inside `from`. Links and special files
// are skipped.
bool CopyTree(const std::string& from, const std::string& to);

// Renames; with replace=false an existing target makes it fail. A folder never
// replaces anything. Across file systems it falls back to copy and rename; such a move
// keeps links as links and refuses a folder holding special files (nothing is lost).
bool Move(const std::string& from, const std::string& to, bool replace);

// Size of a regular file; UINT64_MAX for a folder, a missing item or anything else.
std::uint64_t FileSize(const std::string& path);

// Text of the last failure of these functions on this thread.
std::string LastErrorText();

// Path joins that keep exactly one '/' between parts.
std::string Join(const std::string& a, const std::string& b);

// --- Small whole files (state and configuration files). These report through their
// results and leave errno set on failure; they do not touch LastErrorText().

enum class ReadResult {
    Read,      // a regular file, read whole
    Missing,   // nothing at the path
    NotAFile,  // a folder or anything else that is not a regular file
    Failed,    // a regular file that could not be read
};

// Reads a regular file whole (the path may be a link to one); `content` is empty unless
// the result is Read.
ReadResult ReadWholeFile(const std::string& path, std::string& content);

// Writes `bytes` to a temporary file beside `path` ("<path>.tmp-XXXXXX") with the
// permission bits `mode`, flushes it to disk, renames it over `path` and flushes the
// folder. On any failure the old file stays as it was and the temporary file is removed.
// True when the new content is in place.
bool WriteFileAtomic(const std::string& path, std::string_view bytes, std::uint32_t mode);

// The same replacing write for a file made piece by piece (a large state file written as
// it is produced, never held whole in memory): Begin makes the temporary file, Append
// writes through a buffer, Commit flushes and renames it into place. A writer that is not
// committed removes its temporary file, and the old file stays as it was.
class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
    ~AtomicFileWriter();

    // Makes "<path>.tmp-XXXXXX" with the permission bits `mode`; false (errno set) when it
    // cannot.
    bool Begin(const std::string& path, std::uint32_t mode);
    // Adds bytes; a failed write is kept and reported by Commit (and by Ok).
    void Append(std::string_view bytes);
    bool Ok() const { return fd_ >= 0 && error_ == 0; }
    // Writes what is buffered, flushes to disk and renames over the path; true when the
    // new content is in place. On failure errno is set and nothing is left behind.
    bool Commit();
    // Removes the temporary file; the old file stays as it was.
    void Abandon() { Discard(); }

private:
    void Flush();
    void Discard();

    std::string path_;
    std::string temp_;
    std::string buffer_;
    int fd_ = -1;
    int error_ = 0;
};

// Moves whatever is at `path` (a file that does not parse, a folder in the way) aside to
// `path` + ".bad" (".bad.1" ... ".bad.99" when taken), never replacing anything, so that
// nothing is lost and the name is free. Returns the new path, "" when it could not move.
std::string SetAside(const std::string& path);

// Makes a regular file of this user (not followed when a link) unreadable to others: a
// file whose group or other bits are set gets them cleared. 1 tightened, 0 already
// private or missing, -1 it could not be checked or changed (another owner, a link,
// not a regular file, a failed change).
int MakeFilePrivate(const std::string& path);

// True when this process may write to the item (or create items in the folder).
bool IsWritable(const std::string& path);

}  // namespace plat::fs
