#pragma once
// Small helpers shared by the whole sync program: ASCII case handling of byte strings,
// the filter of syncable local files, the check of a candidate sync folder, the conflict
// backup name, time and MIME helpers and a few system wrappers.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/timetext.h"
#include "sync/common/UserRecord.h"

namespace BaseFunc {

// ASCII case folding on unsigned bytes, independent of the locale; other bytes (UTF-8
// sequences included) stay as they are.
constexpr unsigned char AsciiLower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}
constexpr unsigned char AsciiUpper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}
// <0, 0 or >0 as the ASCII-folded bytes of a compare with those of b (unsigned bytes;
// on a common prefix the shorter text comes first). Inline: every step of a tree lookup
// calls it.
inline int CompareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    std::size_t i = 0;
    // Equal bytes fold equally: a common prefix (names of one folder share long ones) is
    // passed eight bytes at a time.
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x = 0, y = 0;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) break;
    }
    for (; i < n; ++i) {
        if (a[i] == b[i]) continue;
        const unsigned char x = AsciiLower(static_cast<unsigned char>(a[i]));
        const unsigned char y = AsciiLower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string ToLower(std::string_view text);
std::string ToUpper(std::string_view text);
// Equal lengths and equal ASCII-folded bytes.
bool EqualNoCase(std::string_view a, std::string_view b);

// As ParseInt64WithSeparators (below), but reports whether the text held a number that
// fits: false when no digit follows the optional sign or the value is out of range.
bool TryParseInt64WithSeparators(std::u16string_view text, std::int64_t& value);

// Text of the program's string table entry `id` (empty when there is none).
std::u16string LoadResString(std::uint32_t id);
// Text of the calling thread's last system error (errno), or
// "Sorry, cannot find this error info." when the system has none for it.
std::u16string GetLastErrorText();

// There are no system handles here: a handle is a pointer to an object the caller owns,
// or a file descriptor.
bool IsValidHandle(const void* handle);
bool IsValidHandle(int fd);
// Closes the descriptor; on success it is set to -1. The result of the close.
bool CloseHandleSafe(int* fd);

// Milliseconds of the steady clock.
std::uint64_t GetMilliseconds();
// Shell library versions have no meaning here: always 0.
std::uint64_t GetDllVersion(const std::u16string& dllName);
// Size of the tray-icon data record of the newest layout (956).
std::uint32_t GetNotifyIconDataSize();
// Size of the file at the path; UINT64_MAX for a folder or a missing item; 0 when the
// path cannot be converted or normalised.
std::uint64_t GetFileSize(const std::u16string& path);
// MIME type of an extension with its dot (".txt"); "application/octet-stream" when unknown.
std::string GetMimeType(const std::string& extension);
// The time moved on by `hours` and `minutes` (either may be negative), as
// "YYYY-MM-DD hh:mm:ss". Arithmetic in whole seconds.
std::string GetTimeString(const plat::SystemTime& time, int hours, int minutes);

// TRUE for an absolute path of an existing folder (not a link) that is not "/", not a mount
// root and not on a network file system.
bool IsUsableSyncFolder(const std::u16string& path);
// Whether a local item takes part in synchronisation: its name and extension are not
// excluded and, unless `skipAttributes`, it is a regular file or a folder (not a link,
// FIFO, socket or device). The name is the text after the last '\\' or '/'.
bool IsSyncableFile(const std::u16string& path, bool skipAttributes);
// The name filter of IsSyncableFile alone, on UTF-8 text (the same answer as
// IsSyncableFile(path in UTF-16, true) for valid UTF-8), without a conversion.
bool IsSyncableName(std::string_view utf8Path);
// 0 when a saved account with another user name (compared case-sensitively) uses the same
// folder (compared ignoring ASCII case): `otherUser` receives its name. 0 too for an empty
// folder. 1 when no other account uses it.
std::uint32_t FindOtherUserOfFolder(const std::u16string& folder, const std::u16string& userName,
                                    const std::vector<CurrentUser>& knownUsers,
                                    std::u16string& otherUser);

// The value of one hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c);
// Two hexadecimal digits per byte, in lower or upper case, written to `out`.
void WriteHexDigits(const unsigned char* bytes, std::size_t count, bool lower, char* out);

// Backup name for a local file that conflicts with a server change:
// stem + ".冲突备份." + "YYYYMMDD-hhmmss" + "." + 4 upper-case hex digits + ".bak", the stem
// being the path up to an earlier marker in the last name or the whole path (the backup
// is always beside the item, also inside a backup folder). A fresh tag is drawn for every
// try until the name is free; empty when no free name was found in kConflictNameTries.
inline constexpr int kConflictNameTries = 64;
std::string MakeConflictBackupName(const std::string& path, const plat::SystemTime& time);
// Replaces the source of the 16-bit tags (tests); an empty function restores the default
// random source.
void SetConflictTagSource(std::function<std::uint16_t()> source);

}  // namespace BaseFunc

// Copy with every ASCII upper-case letter lowered.
std::string ToLowerString(std::string_view text);
// Copy with every byte `from` replaced by `to`.
std::string ReplaceCharString(std::string_view text, char from, char to);
// Copy with every occurrence of `from` replaced by `to`, left to right, replaced text not
// scanned again. An empty `from` changes nothing.
std::u16string ReplaceAllW(std::u16string_view text, std::u16string_view from,
                           std::u16string_view to);
// Removes every ',' and ' ', then reads a signed decimal number from the start (leading
// white space and a sign allowed, reading stops at the first non-digit): 0 when there are
// no digits; saturates at the 64-bit limits.
std::int64_t ParseInt64WithSeparators(std::u16string_view text);
