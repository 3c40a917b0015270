#pragma once
// What the cloud browser may do with a listed item: the action flags the controller
// derives from the item's server permission bits ("ch" 1, "c" 2, "w" 4, "d" 8, "down" 16).
#include <cstdint>
#include <string>

constexpr std::uint16_t kActionDownload = 0x01;       // "down"
constexpr std::uint16_t kActionDelete = 0x02;         // "d"
constexpr std::uint16_t kActionWrite = 0x04;          // "w"
constexpr std::uint16_t kActionOpen = 0x08;           // "w" and "down": open for editing
constexpr std::uint16_t kActionDownloadOnly = 0x10;   // "down"; also set for a file no application opens
constexpr std::uint16_t kActionCreate = 0x20;         // "c"
constexpr std::uint16_t kActionCreateFolder = 0x40;   // "c"
constexpr std::uint16_t kActionRecycled = 0x80;
// Every item in the recycle bin: delete, and its mark.
constexpr std::uint16_t kActionFlagsInRecycleBin = kActionDelete | kActionRecycled;

// The flags of an item outside the recycle bin.
std::uint16_t ActionFlagsFromPermissions(std::int32_t permissionBits);
// A file whose extension no local application opens cannot be opened for editing.
inline std::uint16_t WithoutApplication(std::uint16_t flags) {
    return static_cast<std::uint16_t>((flags & ~kActionOpen) | kActionDownloadOnly);
}
// The name's text from its last "." on, the dot included; "" when it has none.
std::string NameExtension(const std::string& name);
