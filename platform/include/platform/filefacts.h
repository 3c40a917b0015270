#pragma once
// Facts about one item beyond its kind and size (identity, times, write permission),
// sized file creation, write permission changes, lock tests and the test for a file
// still being written. Paths are absolute UTF-8 POSIX paths.
#include <cstdint>
#include <string>

#include "platform/fileops.h"

namespace plat::fs {

struct ItemFacts {
    Kind kind = Kind::Missing;
    std::uint64_t size = 0;  // files only
    std::uint64_t device = 0;  // with `inode`, the item's identity
    std::uint64_t inode = 0;
    bool ownerWritable = false;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t bornSeconds = 0;  // the modification time where the file system keeps none
    std::int64_t bornNanoseconds = 0;
};

// Facts about the item itself (a link is not followed). False when it cannot be read.
bool StatItem(const std::string& path, ItemFacts& out);

// Creates or truncates a regular file and sets its length. Refuses anything that is not
// a regular file (a FIFO in the way is not waited for).
bool CreateSizedFile(const std::string& path, std::int64_t size);

// Sets or clears write permission (setting gives the owner's bit only, clearing removes
// owner's, group's and others'). Refuses anything but a file or folder (links too).
bool SetWritable(const std::string& path, bool writable);

// True when another open file holds a lock (flock or a POSIX record lock) on the regular
// file at `path` (a link is not followed).
bool IsLockedByOther(const std::string& path);

// True while some open file (of any process, this one included) has the existing regular
// file at `path` open for writing: a file still being written. Never creates a file,
// never blocks and does not follow a link (a link, a folder, a missing or special item
// gives false). Where the system cannot tell (a file of another user, a file system
// without leases) the file counts as not being written.
bool IsOpenForWriting(const std::string& path);

// True when `path` is (or links to) a regular file that its owner may run and this
// process may execute.
bool IsRunnableFile(const std::string& path);

}  // namespace plat::fs
