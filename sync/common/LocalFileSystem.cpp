#include "sync/common/LocalFileSystem.h"

#include <log4cpp/Category.hh>

#include "platform/fileops.h"
#include "platform/longpath.h"
#include "platform/text.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"

namespace {

namespace fs = plat::fs;

// The file-system form of a record path: strictly converted, normalised, UTF-8 with '/'
// separators. A zero byte would end the conversion early and silently name another
// item, so it is refused.
bool NormaliseWide(const std::u16string& wide, std::string& out) {
    out.clear();
    std::u16string normalised;
    return NormalizeLongPath(wide, normalised) && plat::Utf16ToUtf8(normalised, out);
}

bool ToFsPath(const std::string& utf8Path, std::string& out) {
    out.clear();
    std::u16string wide;
    if (utf8Path.find('\0') != std::string::npos || !UTF8toUTF16(utf8Path, wide)) return false;
    return NormaliseWide(wide, out);
}

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Runs `op` on the file-system forms of two record paths.
template <typename Op>
bool OnTwoPaths(const std::string& a, const std::string& b, Op op) {
    std::string fa;
    std::string fb;
    return ToFsPath(a, fa) && ToFsPath(b, fb) && op(fa, fb);
}

}  // namespace

namespace LocalFileSystem {

bool IsExist(const std::string& utf8Path, std::uint32_t& kind) {
    std::string path;
    if (!ToFsPath(utf8Path, path)) return false;
    if (kind != 0) path = WithoutTrailingSeparator(path);
    // Links and special files are neither files nor folders for the sync program.
    const fs::Kind found = fs::GetKind(path);
    if (found != fs::Kind::File && found != fs::Kind::Directory) return false;
    const bool isFolder = found == fs::Kind::Directory;
    if (kind < 10 && (kind != 0) != isFolder) return false;
    kind = isFolder ? kKindFolder : kKindFile;
    return true;
}

bool CreateDirectoryPath(const std::string& utf8Path) {
    std::string path;
    if (!ToFsPath(utf8Path, path)) return false;
    if (fs::MakeDirectories(path)) return true;
    // The path as tried: normalised, so it is valid UTF-8 without control characters.
    SyncLog().fatal("Create Directory failed '" + EscapeForLog(path) + "'. filepath:LocalFileSystem line:65");
    return false;
}

bool CopyDirectoryTree(const std::string& utf8Source, const std::string& utf8Target) {
    // CopyTree refuses a source that is not a real folder and a target inside it.
    return OnTwoPaths(utf8Source, utf8Target, [](const std::string& from, const std::string& to) {
        return fs::CopyTree(WithoutTrailingSeparator(from), to);
    });
}

bool DeleteDirectoryTree(const std::string& utf8Path) {
    std::string path;
    if (!ToFsPath(utf8Path, path)) return false;
    path = WithoutTrailingSeparator(path);
    // Only a real folder: a link given here is neither entered nor removed.
    return fs::GetKind(path) == fs::Kind::Directory && fs::RemoveTree(path);
}

bool MoveItem(const std::string& utf8Source, const std::string& utf8Target) {
    return OnTwoPaths(utf8Source, utf8Target,
                      [](const std::string& from, const std::string& to) { return fs::Move(from, to, false); });
}

bool MoveItemReplace(const std::string& utf8Source, const std::string& utf8Target) {
    return OnTwoPaths(utf8Source, utf8Target,
                      [](const std::string& from, const std::string& to) { return fs::Move(from, to, true); });
}

bool CopyOneFile(const std::string& utf8Source, const std::string& utf8Target) {
    return OnTwoPaths(utf8Source, utf8Target,
                      [](const std::string& from, const std::string& to) { return fs::CopyFile(from, to, true); });
}

bool RemoveFile(const std::string& utf8Path) {
    std::string path;
    return ToFsPath(utf8Path, path) && fs::RemoveFile(path);
}

std::uint64_t GetItemSize(const std::string& utf8Path) {
    std::string path;
    if (!ToFsPath(utf8Path, path)) return UINT64_MAX;
    return fs::FileSize(path);
}

}  // namespace LocalFileSystem

namespace BaseFunc {

bool CreateFullDirectory(const std::u16string& path) {
    std::string fsPath;
    return NormaliseWide(path, fsPath) && fs::MakeDirectories(fsPath);
}

}  // namespace BaseFunc
