#include "sync/common/BaseFunc.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <mutex>
#include <random>

#include "platform/clock.h"
#include "platform/fileops.h"
#include "platform/fsinfo.h"
#include "platform/handles.h"
#include "platform/longpath.h"
#include "platform/mime.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "sync/common/LocalFileSystem.h"
#include "sync/common/unicode.h"

namespace BaseFunc {
namespace {

template <unsigned char (*Fold)(unsigned char)>
std::string MapBytes(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(Fold(static_cast<unsigned char>(c)));
    return out;
}

// The text after the last '\\' or '/'.
template <typename Char>
std::basic_string_view<Char> LastComponent(std::basic_string_view<Char> path) {
    const Char separators[] = {Char('\\'), Char('/'), Char(0)};
    const std::size_t slash = path.find_last_of(separators);
    return slash == std::basic_string_view<Char>::npos ? path : path.substr(slash + 1);
}

// Is `item` one of the '|'-separated entries of `list` (compared case-sensitively)?
template <typename Char>
bool InList(std::basic_string_view<Char> item, std::string_view list) {
    while (!list.empty()) {
        const std::size_t bar = list.find('|');
        const std::string_view entry = list.substr(0, bar);
        if (entry.size() == item.size() && std::equal(entry.begin(), entry.end(), item.begin(), [](char e, Char c) {
                return static_cast<Char>(static_cast<unsigned char>(e)) == c;
            })) {
            return true;
        }
        if (bar == std::string_view::npos) break;
        list.remove_prefix(bar + 1);
    }
    return false;
}

// The name filter: excluded names and extensions (ASCII lists, compared exactly).
template <typename Char>
bool NamePasses(std::basic_string_view<Char> path) {
    if (path.empty()) return false;
    // Every excluded name ends in one of these letters; most names are decided here.
    const Char last = path.back();
    if (last != Char('i') && last != Char('b') && last != Char('p') && last != Char('e')) return true;
    const std::basic_string_view<Char> name = LastComponent(path);
    const std::size_t dot = name.rfind(Char('.'));
    const std::basic_string_view<Char> ext =
        (dot == std::basic_string_view<Char>::npos || dot == 0) ? std::basic_string_view<Char>() : name.substr(dot);
    if (!name.empty() && InList(name, "desktop.ini|thumbs.db")) return false;
    if (!ext.empty() && InList(ext, ".tmp|.ds_store")) return false;
    return true;
}

// The path as the file system takes it (UTF-8, '/' separators); empty when it cannot be
// normalised.
std::string FileSystemPath(const std::u16string& path) {
    std::u16string normalised;
    std::string utf8;
    if (path.find(u'\0') != std::u16string::npos || !NormalizeLongPath(path, normalised) ||
        !plat::Utf16ToUtf8(normalised, utf8)) {
        return {};
    }
    return utf8;
}

struct TagSource {
    std::mutex mutex;
    std::function<std::uint16_t()> custom;
    std::mt19937 engine{std::random_device{}()};

    std::uint16_t Next() {
        std::lock_guard<std::mutex> lock(mutex);
        if (custom) return custom();
        return static_cast<std::uint16_t>(engine() & 0xFFFF);
    }
};

TagSource& Tags() {
    static TagSource source;
    return source;
}

}  // namespace

std::string ToLower(std::string_view text) { return MapBytes<AsciiLower>(text); }

std::string ToUpper(std::string_view text) { return MapBytes<AsciiUpper>(text); }

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool TryParseInt64WithSeparators(std::u16string_view text, std::int64_t& value) {
    value = 0;
    std::u16string digits;
    digits.reserve(text.size());
    for (char16_t c : text) {
        if (c != u',' && c != u' ') digits.push_back(c);
    }
    std::size_t i = 0;
    while (i < digits.size() && (digits[i] == u'\t' || digits[i] == u'\n' || digits[i] == u'\v' ||
                                 digits[i] == u'\f' || digits[i] == u'\r')) {
        ++i;
    }
    bool negative = false;
    if (i < digits.size() && (digits[i] == u'+' || digits[i] == u'-')) negative = digits[i++] == u'-';
    const std::size_t firstDigit = i;
    // Accumulate as a negative number so that INT64_MIN fits.
    std::int64_t acc = 0;
    bool overflow = false;
    for (; i < digits.size() && digits[i] >= u'0' && digits[i] <= u'9'; ++i) {
        const int d = digits[i] - u'0';
        if (acc < (LLONG_MIN + d) / 10) {
            overflow = true;
        } else {
            acc = acc * 10 - d;
        }
    }
    if (i == firstDigit) return false;
    if (overflow || (!negative && acc == LLONG_MIN)) {
        value = negative ? LLONG_MIN : LLONG_MAX;
        return false;
    }
    value = negative ? acc : -acc;
    return true;
}

std::u16string LoadResString(std::uint32_t id) { return plat::LoadString(id); }

std::u16string GetLastErrorText() {
    const std::string text = plat::ErrorDescription(plat::LastErrorCode());
    return text.empty() ? std::u16string(u"Sorry, cannot find this error info.") : plat::ToUtf16(text);
}

bool IsValidHandle(const void* handle) { return handle != nullptr; }

bool IsValidHandle(int fd) { return plat::IsDescriptorOpen(fd); }

bool CloseHandleSafe(int* fd) {
    if (fd == nullptr || !plat::CloseDescriptor(*fd)) return false;
    *fd = -1;
    return true;
}

std::uint64_t GetMilliseconds() { return plat::SteadyMilliseconds(); }

std::uint64_t GetDllVersion(const std::u16string&) { return 0; }

std::uint32_t GetNotifyIconDataSize() { return 956; }

std::uint64_t GetFileSize(const std::u16string& path) {
    std::string utf8;
    // A zero unit would end the conversion early and name another item.
    if (path.find(u'\0') != std::u16string::npos || !UTF16toUTF8(path, utf8)) return 0;
    return LocalFileSystem::GetItemSize(utf8);
}

std::string GetMimeType(const std::string& extension) {
    std::string type = plat::LookupMimeType(extension);
    return type.empty() ? std::string("application/octet-stream") : type;
}

std::string GetTimeString(const plat::SystemTime& time, int hours, int minutes) {
    const std::int64_t seconds = plat::ToEpochSeconds(time) + static_cast<std::int64_t>(hours) * 3600 +
                                 static_cast<std::int64_t>(minutes) * 60;
    return plat::FormatDateTime(plat::FromEpochSeconds(seconds));
}

bool IsUsableSyncFolder(const std::u16string& path) {
    if (path.empty() || (path[0] != u'/' && path[0] != u'\\')) return false;
    const std::string fsPath = FileSystemPath(path);
    if (fsPath.empty() || plat::fs::GetKind(fsPath) != plat::fs::Kind::Directory) return false;
    return !plat::IsMountRoot(fsPath) && !plat::IsOnNetworkFileSystem(fsPath);
}

bool IsSyncableName(std::string_view utf8Path) { return NamePasses(utf8Path); }

bool IsSyncableFile(const std::u16string& path, bool skipAttributes) {
    if (!NamePasses(std::u16string_view(path))) return false;
    if (skipAttributes) return true;
    const std::string fsPath = FileSystemPath(path);
    if (fsPath.empty()) return false;
    const plat::fs::Kind kind = plat::fs::GetKind(fsPath);
    return kind == plat::fs::Kind::File || kind == plat::fs::Kind::Directory;
}

std::uint32_t FindOtherUserOfFolder(const std::u16string& folder, const std::u16string& userName,
                                    const std::vector<CurrentUser>& knownUsers,
                                    std::u16string& otherUser) {
    otherUser.clear();
    if (folder.empty()) return 0;
    // Folder names compare exactly (another letter case is another folder here); a
    // trailing separator does not count.
    const auto trimmed = [](std::u16string text) {
        while (text.size() > 1 && text.back() == u'/') text.pop_back();
        return text;
    };
    const std::u16string wanted = trimmed(folder);
    for (const CurrentUser& user : knownUsers) {
        const std::u16string name = AnsiToWide(user.UserName);
        if (name != userName && !user.Path.empty() && trimmed(AnsiToWide(user.Path)) == wanted) {
            otherUser = name;
            return 0;
        }
    }
    return 1;
}

std::string MakeConflictBackupName(const std::string& path, const plat::SystemTime& time) {
    static const std::string kMarker = ".冲突备份.";
    // Only a marker in the item's own name counts: a folder above it may be a backup too,
    // and the backup always stays beside the item.
    const std::size_t nameStart = path.find_last_of("\\/") + 1;
    const std::size_t marker = path.find(kMarker, nameStart);
    const std::string stem = marker == std::string::npos ? path : path.substr(0, marker);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", time.year, time.month, time.day,
                  time.hour, time.minute, time.second);
    for (int attempt = 0; attempt < kConflictNameTries; ++attempt) {
        char tag[8];
        std::snprintf(tag, sizeof tag, "%04X", static_cast<unsigned>(Tags().Next()));
        std::string candidate = stem + kMarker + stamp + "." + tag + ".bak";
        std::uint32_t kind = 10;  // any kind
        if (!LocalFileSystem::IsExist(candidate, kind)) return candidate;
    }
    return {};
}

void SetConflictTagSource(std::function<std::uint16_t()> source) {
    TagSource& tags = Tags();
    std::lock_guard<std::mutex> lock(tags.mutex);
    tags.custom = std::move(source);
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void WriteHexDigits(const unsigned char* bytes, std::size_t count, bool lower, char* out) {
    const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 15];
    }
}

}  // namespace BaseFunc

std::string ToLowerString(std::string_view text) { return BaseFunc::ToLower(text); }

std::string ReplaceCharString(std::string_view text, char from, char to) {
    std::string out(text);
    for (char& c : out) {
        if (c == from) c = to;
    }
    return out;
}

std::u16string ReplaceAllW(std::u16string_view text, std::u16string_view from, std::u16string_view to) {
    if (from.empty()) return std::u16string(text);
    std::u16string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t hit = text.find(from); hit != std::u16string_view::npos; hit = text.find(from, pos)) {
        out.append(text.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text.substr(pos));
    return out;
}

std::int64_t ParseInt64WithSeparators(std::u16string_view text) {
    std::int64_t value = 0;
    BaseFunc::TryParseInt64WithSeparators(text, value);
    return value;
}
