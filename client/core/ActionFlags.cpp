#include "client/core/ActionFlags.h"

#include "client/core/CloudRecords.h"

std::uint16_t ActionFlagsFromPermissions(std::int32_t permissionBits) {
    std::uint16_t flags = 0;
    if ((permissionBits & kPermDown) != 0) flags |= kActionDownload | kActionDownloadOnly;
    if ((permissionBits & kPermD) != 0) flags |= kActionDelete;
    if ((permissionBits & kPermW) != 0) flags |= kActionWrite;
    if ((permissionBits & (kPermW | kPermDown)) == (kPermW | kPermDown)) flags |= kActionOpen;
    if ((permissionBits & kPermC) != 0) flags |= kActionCreate | kActionCreateFolder;
    return flags;
}

std::string NameExtension(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}
