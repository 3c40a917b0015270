#pragma once
// The few system facilities of the local file layer that the platform layer does not
// offer: file identity, times and permission bits, lock tests, and starting, waiting for
// and finding processes. Paths are native (absolute, UTF-8, '/').
#include <cstdint>
#include <string>
#include <vector>

namespace localsys {

enum class ItemKind { Missing, File, Directory, Link, Special };

struct ItemStat {
    ItemKind kind = ItemKind::Missing;
    std::uint64_t size = 0;     // files only
    std::uint64_t inode = 0;
    bool ownerWritable = false;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t bornSeconds = 0;  // the modification time where the file system keeps none
    std::int64_t bornNanoseconds = 0;
};

// Facts about the item itself (a link is not followed). False when it cannot be read.
bool StatItem(const std::string& path, ItemStat& out);

// Creates or truncates a regular file and sets its length.
bool CreateSizedFile(const std::string& path, std::int64_t size);

// Sets or clears every write permission bit (owner, group, others: clearing all, setting
// the owner's only). Refuses anything but a file or folder.
bool SetWritable(const std::string& path, bool writable);

// True when another open file holds a lock (flock or a POSIX record lock) on the file.
bool IsLockedByOther(const std::string& path);

// Starts `argv` (argv[0] an absolute program path). With `detach` the program runs on
// its own and `pid` is 0; otherwise `pid` is the child to wait for.
bool Spawn(const std::vector<std::string>& argv, bool detach, int& pid);
// Waits up to timeoutMs for a child started without detach: 0 ended, 258 running,
// -1 unknown child.
int WaitChild(int pid, int timeoutMs);
// Reaps the child on a background thread once it ends.
void ReapLater(int pid);

// 1 when a process runs the program at `executable` (compared by canonical path), 0 when
// none does, -1 when the processes cannot be enumerated.
int IsProgramRunning(const std::string& executable);

// True when `path` is a regular file that its owner may run.
bool IsRunnableFile(const std::string& path);

}  // namespace localsys
