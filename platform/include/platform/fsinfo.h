#pragma once
// Facts about the file system an item lies on: mount roots and network file systems.
// A sync folder may be neither (a "drive root" here is "/" or any mount root).
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// True when the folder is the root of a mounted file system ("/" included): its device
// differs from its parent's, or it is listed as a mount point in /proc/self/mountinfo.
// Links are resolved first; false when the path cannot be resolved.
bool IsMountRoot(const std::string& path);

// True when the item lies on a network file system (NFS, SMB/CIFS, AFS, Coda, NCP, 9P,
// Ceph, Lustre, or a FUSE file system of a network kind).
bool IsOnNetworkFileSystem(const std::string& path);

// The classification behind IsOnNetworkFileSystem: `magic` is the file system's statfs
// type, `mountType` the type of its mount-table entry ("fuse.sshfs", "nfs4", ...).
bool IsNetworkFileSystemType(std::uint64_t magic, std::string_view mountType);

// One line of /proc/self/mountinfo split into the mount point (unescaped) and the file
// system type; false when the line does not have that form.
bool ParseMountInfoLine(std::string_view line, std::string& mountPoint, std::string& type);

// True when the item lies on a rotational disk, as the kernel reports it for the block
// device holding the item's file system. False for solid-state and virtual devices, and
// when the device cannot be told (a file system without a block device, a missing path).
bool IsOnRotationalDisk(const std::string& path);

// The kernel's rotational flag of the block device whose sysfs folder is `deviceDir`
// (".../block/sda" or, for a partition, ".../block/sda/sda1", whose flag is its disk's);
// false when no flag can be read there.
bool RotationalFlagOfDevice(const std::string& deviceDir);

}  // namespace plat
