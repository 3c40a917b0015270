#include "client/local/WinFileSystem.h"

#include <cctype>
#include <string_view>

#include "client/local/LocalSystem.h"
#include "platform/fileops.h"
#include "platform/longpath.h"
#include "platform/md5.h"
#include "platform/mmfio.h"
#include "platform/text.h"
#include "platform/timetext.h"

namespace WinFileSystem {
namespace {

std::string LastName(const std::string& native) {
    std::string_view p = native;
    while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
    const std::size_t slash = p.find_last_of('/');
    return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

// One listed or looked-up item from its facts.
bool MakeItem(const std::string& name, const localsys::ItemStat& st, LocalFileItem& item) {
    item = LocalFileItem();
    if (!plat::IsValidUtf8(name)) return false;
    item.isFolder = st.kind == localsys::ItemKind::Directory;
    if (item.isFolder) item.attributes |= kLocalAttrDirectory;
    if (st.kind == localsys::ItemKind::Link) item.attributes |= kLocalAttrReparsePoint;
    if (!st.ownerWritable && st.kind != localsys::ItemKind::Link) item.attributes |= kLocalAttrReadOnly;
    if (item.attributes == 0) item.attributes = kLocalAttrNormal;
    item.size = st.size;
    if (!FileTimeToDateTime(st.bornSeconds, st.bornNanoseconds, item.creationTime) ||
        !FileTimeToDateTime(st.modifiedSeconds, st.modifiedNanoseconds, item.lastWriteTime)) {
        return false;
    }
    item.name = name;
    item.shortName = name;
    return true;
}

// Children of `native` into `node`, `depth` levels further (-1 everything).
bool AddChildren(const std::string& native, LocalFileTree& node, int depth) {
    std::vector<LocalFileItem> items;
    if (!ListDirectory(native, items)) return false;
    for (const LocalFileItem& item : items) {
        LocalFileTree& child = node.AppendChild(item);
        if (item.isFolder && depth != 0) {
            const int next = depth < 0 ? -1 : (depth - 1 > 0 ? depth - 1 : 0);
            if (!AddChildren(plat::fs::Join(native, item.name), child, next)) return false;
        }
    }
    return true;
}

}  // namespace

bool ToNativePath(const std::string& path, std::string& native) {
    native.clear();
    // A last "." or ".." is a step like any other: the kernel would resolve it, so the
    // checked path must too.
    const std::string_view p = path;
    const bool stepLast = p.ends_with("/.") || p.ends_with("/..") || p.ends_with("\\.") || p.ends_with("\\..");
    if (!plat::NormalizePathUtf8(stepLast ? path + "/" : path, native)) return false;
    if (stepLast && native.size() > 1) native.pop_back();
    return true;
}

bool ToUtf8Path(const std::string& nativePath, std::string& path) {
    path.clear();
    std::string checked;
    if (!plat::NormalizePathUtf8(nativePath, checked)) return false;
    path = nativePath;
    return true;
}

bool FileTimeToDateTime(std::int64_t seconds, std::int64_t nanoseconds, DateTime& out) {
    if (nanoseconds < 0 || nanoseconds >= 1000000000) return false;
    const plat::SystemTime t = plat::FromEpochSeconds(seconds);
    if (t.year < 1 || t.year > 30827) return false;
    out = DateTime();
    out.year = t.year;
    out.month = static_cast<std::uint8_t>(t.month);
    out.day = static_cast<std::uint8_t>(t.day);
    out.hour = static_cast<std::uint8_t>(t.hour);
    out.minute = static_cast<std::uint8_t>(t.minute);
    out.second = static_cast<std::uint8_t>(t.second);
    out.millisecond = static_cast<std::int32_t>(nanoseconds / 1000000);
    return true;
}

bool HasChildren(const std::string& native) {
    std::vector<plat::fs::Entry> entries;
    return plat::fs::ListDirectory(native, entries) && !entries.empty();
}

bool GetFileInfo(const std::string& native, LocalFileItem& item) {
    localsys::ItemStat st;
    if (!localsys::StatItem(native, st)) return false;
    if (!MakeItem(LastName(native), st, item)) return false;
    if (item.isFolder) {
        item.hasChildren = HasChildren(native);
    } else if (st.kind == localsys::ItemKind::File) {
        item.fileIndexLow = static_cast<std::uint32_t>(st.inode & 0xFFFFFFFFu);
        item.fileIndexHigh = static_cast<std::uint32_t>(st.inode >> 32);
    }
    return true;
}

bool ListDirectory(const std::string& native, std::vector<LocalFileItem>& items) {
    items.clear();
    std::vector<plat::fs::Entry> entries;
    if (!plat::fs::ListDirectory(native, entries)) return false;
    for (const plat::fs::Entry& e : entries) {
        if (e.kind != plat::fs::Kind::File && e.kind != plat::fs::Kind::Directory) continue;
        localsys::ItemStat st;
        if (!localsys::StatItem(plat::fs::Join(native, e.name), st)) continue;  // gone meanwhile
        if (st.kind != localsys::ItemKind::File && st.kind != localsys::ItemKind::Directory) continue;
        LocalFileItem item;
        if (!MakeItem(e.name, st, item)) {
            items.clear();
            return false;
        }
        items.push_back(std::move(item));
    }
    return true;
}

bool GetDirectoryTree(const std::string& native, LocalFileTree& node, int depth) {
    if (!GetFileInfo(native, node.item)) return false;
    if (depth == 0) return true;
    if (!node.item.isFolder) return true;
    if (!AddChildren(native, node, depth < 0 ? -1 : depth - 1)) {
        node.RemoveChildren();
        return false;
    }
    return true;
}

int CreateDirectoryRecursive(const std::string& native) { return plat::fs::MakeDirectories(native) ? 1 : 0; }

int CopyDirectoryRecursive(const std::string& from, const std::string& to) {
    if (plat::fs::GetKind(from) != plat::fs::Kind::Directory) return 0;
    return plat::fs::CopyTree(from, to) ? 1 : 0;
}

int DeleteDirectoryRecursive(const std::string& native) {
    switch (plat::fs::GetKind(native)) {
        case plat::fs::Kind::Missing:
            return 1;
        case plat::fs::Kind::Directory:
            return plat::fs::RemoveTree(native) ? 1 : 0;
        default:
            return 0;
    }
}

int CreateFileWithSize(const std::string& native, std::int64_t size) {
    return localsys::CreateSizedFile(native, size) ? 1 : 0;
}

int SetReadOnly(const std::string& native, bool readOnly) {
    localsys::ItemStat st;
    if (!localsys::StatItem(native, st)) return 0;
    if (st.kind != localsys::ItemKind::File && st.kind != localsys::ItemKind::Directory) return 0;
    if (st.ownerWritable == !readOnly) return 1;
    return localsys::SetWritable(native, !readOnly) ? 1 : 0;
}

bool GetFileMD5(const std::string& native, std::string& md5) {
    if (plat::fs::GetKind(native) != plat::fs::Kind::File) return false;
    std::u16string wide;
    if (!plat::Utf8ToUtf16(native, wide)) return false;
    CWinMMFIO file(CWinMMFIO::Flavour::Client);
    if (!file.Open(wide, 0)) return false;
    const std::uint64_t length = file.GetLength();
    plat::Md5 digest;
    std::vector<unsigned char> buffer(CWinMMFIO::kGranularity);
    std::uint64_t total = 0;
    for (;;) {
        const std::uint32_t n = file.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        if (n == 0) break;
        digest.Update(buffer.data(), n);
        total += n;
    }
    const bool complete = total == length && file.Close();
    if (!complete) return false;
    md5 = digest.FinalHexLower();
    for (char& c : md5) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return true;
}

}  // namespace WinFileSystem
