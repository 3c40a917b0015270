#include "platform/fsinfo.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/statfs.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

namespace plat {
namespace {

struct MountEntry {
    std::string mountPoint;
    std::string type;
};

// Mount-table fields escape blanks, tabs, newlines and backslashes as \ooo.
std::string UnescapeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<MountEntry> ReadMountTable() {
    std::vector<MountEntry> entries;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    MountEntry entry;
    while (std::getline(in, line)) {
        if (ParseMountInfoLine(line, entry.mountPoint, entry.type)) entries.push_back(entry);
    }
    return entries;
}

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

// True when `path` equals `mountPoint` or lies below it.
bool IsAtOrBelow(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/") return !path.empty() && path[0] == '/';
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

}  // namespace

// "id parent major:minor root mountpoint options [optional fields...] - type source
// superoptions".
bool ParseMountInfoLine(std::string_view line, std::string& mountPoint, std::string& type) {
    std::vector<std::string_view> fields;
    std::string_view rest(line);
    while (!rest.empty()) {
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const std::size_t end = rest.find(' ');
        fields.push_back(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    if (fields.size() < 5) return false;
    std::size_t dash = 5;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 1 >= fields.size()) return false;
    mountPoint = UnescapeMountField(fields[4]);
    type = std::string(fields[dash + 1]);
    return true;
}

bool IsMountRoot(const std::string& path) {
    const std::string real = RealPath(path);
    if (real.empty()) return false;
    if (real == "/") return true;
    struct stat self {}, parent {};
    if (::stat(real.c_str(), &self) != 0 || ::stat((real + "/..").c_str(), &parent) != 0) return false;
    if (self.st_dev != parent.st_dev || self.st_ino == parent.st_ino) return true;
    for (const MountEntry& entry : ReadMountTable()) {
        if (entry.mountPoint == real) return true;
    }
    return false;
}

bool IsNetworkFileSystemType(std::uint64_t magic, std::string_view mountType) {
    static constexpr std::array<std::uint64_t, 12> kNetworkMagic = {
        0x6969,      // NFS
        0x517B,      // SMB
        0xFF534D42,  // CIFS
        0xFE534D42,  // SMB2
        0x5346414F,  // AFS
        0x6B414653,  // kAFS
        0x73757245,  // Coda
        0x564C,      // NCP
        0x01021997,  // 9P
        0x00C36400,  // Ceph
        0x0BD00BD0,  // Lustre
        0x47504653,  // GPFS
    };
    for (std::uint64_t m : kNetworkMagic) {
        if (m == magic) return true;
    }
    static constexpr std::array<std::string_view, 13> kNetworkTypes = {
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "afs", "coda", "ncpfs", "9p", "ceph",
        "glusterfs", "lustre", "davfs"};
    static constexpr std::array<std::string_view, 14> kNetworkFuse = {
        "sshfs", "s3fs", "rclone", "gcsfuse", "goofys", "curlftpfs", "davfs2", "glusterfs",
        "ceph-fuse", "smbnetfs", "afpfs-ng", "juicefs", "onedriver", "httpdirfs"};
    std::string_view type = mountType;
    for (std::string_view t : kNetworkTypes) {
        if (t == type) return true;
    }
    const std::string_view fusePrefix = "fuse.";
    if (type.substr(0, fusePrefix.size()) == fusePrefix) {
        type.remove_prefix(fusePrefix.size());
        for (std::string_view t : kNetworkFuse) {
            if (t == type) return true;
        }
    }
    return false;
}

bool IsOnNetworkFileSystem(const std::string& path) {
    struct statfs info {};
    if (::statfs(path.c_str(), &info) != 0) return false;
    const std::string real = RealPath(path);
    std::string type;
    std::size_t best = 0;
    for (const MountEntry& entry : ReadMountTable()) {
        if (IsAtOrBelow(real, entry.mountPoint) && entry.mountPoint.size() >= best) {
            best = entry.mountPoint.size();
            type = entry.type;
        }
    }
    return IsNetworkFileSystemType(static_cast<std::uint64_t>(info.f_type), type);
}

bool RotationalFlagOfDevice(const std::string& deviceDir) {
    // A partition has no queue of its own: its disk is the folder above.
    for (const std::string& dir : {deviceDir, deviceDir + "/.."}) {
        std::ifstream in(dir + "/queue/rotational");
        int flag = 0;
        if (in >> flag) return flag == 1;
    }
    return false;
}

bool IsOnRotationalDisk(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    const std::string device = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                               std::to_string(minor(st.st_dev));
    char resolved[PATH_MAX];
    if (::realpath(device.c_str(), resolved) == nullptr) return false;
    return RotationalFlagOfDevice(resolved);
}

}  // namespace plat
