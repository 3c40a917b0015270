#pragma once
// Local file operations of the sync program. Paths are absolute UTF-8 paths as the
// records carry them, with '\\' or '/' separators; each one is converted strictly,
// normalised (NormalizeLongPath) and refused when either fails. Nothing here follows a
// symbolic link: a link or a special file is not an existing file or folder for the
// sync program, and copies and deletes never enter links.
#include <cstdint>
#include <string>

namespace LocalFileSystem {

// Kind values of IsExist.
constexpr std::uint32_t kKindFile = 0;
constexpr std::uint32_t kKindFolder = 16;

// True when the item exists as a file or folder. When `kind` < 10 on entry it must also
// be a folder (kind != 0) or a file (kind == 0); on success `kind` = 16 for a folder and
// 0 for a file.
bool IsExist(const std::string& utf8Path, std::uint32_t& kind);
// Creates every missing level; the first failure is logged at level fatal.
bool CreateDirectoryPath(const std::string& utf8Path);
// The source must be an existing folder; the target is created and every file copied
// (overwriting), every subfolder recursively. Fails for a target inside the source.
bool CopyDirectoryTree(const std::string& utf8Source, const std::string& utf8Target);
// Deletes the folder and everything below it; links are deleted as themselves.
bool DeleteDirectoryTree(const std::string& utf8Path);
// Renames; an existing target makes it fail and both items stay.
bool MoveItem(const std::string& utf8Source, const std::string& utf8Target);
// Renames, replacing an existing file; across file systems it copies and renames.
bool MoveItemReplace(const std::string& utf8Source, const std::string& utf8Target);
// Copies one file, overwriting an existing target.
bool CopyOneFile(const std::string& utf8Source, const std::string& utf8Target);
bool RemoveFile(const std::string& utf8Path);
// The file's size; all ones for a folder, a missing item, anything else, or a path that
// cannot be normalised.
std::uint64_t GetItemSize(const std::string& utf8Path);

}  // namespace LocalFileSystem

namespace BaseFunc {

// Creates every missing level of a folder path (never changes the current directory).
bool CreateFullDirectory(const std::u16string& path);

}  // namespace BaseFunc
