#pragma once
// System queries the sync helpers need that the platform layer does not offer yet: mount
// roots, network file systems, descriptors and error texts. This is the only file of the
// sync library that calls the operating system directly.
#include <cstdint>
#include <string>
#include <string_view>

namespace syscheck {

// True when the folder is the root of a mounted file system ("/" included): its device
// differs from its parent's, or it is listed as a mount point in /proc/self/mountinfo.
bool IsMountRoot(const std::string& path);

// True when the item lies on a network file system (NFS, SMB/CIFS, AFS, Coda, NCP, 9P,
// Ceph, Lustre, or a FUSE file system of a network kind).
bool IsOnNetworkFileSystem(const std::string& path);

// The classification behind IsOnNetworkFileSystem: `magic` is the file system's statfs
// type, `mountType` the type of its mount-table entry ("fuse.sshfs", "nfs4", ...).
bool IsNetworkFileSystemType(std::uint64_t magic, std::string_view mountType);

// True when `fd` is an open descriptor of this process.
bool IsDescriptorOpen(int fd);
// Closes `fd`; true on success.
bool CloseDescriptor(int fd);

// The system's description of an errno value; empty when it has none.
std::string ErrorDescription(int code);
// The calling thread's errno.
int LastErrorCode();

}  // namespace syscheck
