#pragma once
// Path checks shared by both programs. Paths are absolute POSIX paths; '\\' in the
// input is read as a separator (records keep '\\' on the local side, and it is the
// server's separator). The normaliser skips ".", resolves ".." (never up to or above the
// root), refuses empty components and checks every name with IsValidFileName. A trailing
// separator is kept.
#include <cstddef>
#include <string>

// The longest path the path checks accept, in characters (UTF-16 units).
inline constexpr std::size_t kLongestPathChars = 32768;

// FALSE for a name this file system cannot hold as one item, or that the programs read
// as more than one: the empty name, "." and "..", a name holding '/', '\\' (a separator
// here), NUL or another control character, and a name longer than 255 bytes (UTF-8).
// Every other name is legal here, "a:b.txt", "x?y" and "CON" included.
bool IsValidFileName(const std::u16string& name);

namespace plat {
// Why IsValidFileName refuses `name` ("the name is empty", "the name holds a control
// character", ...); empty when it accepts it.
std::string FileNameProblem(const std::u16string& name);
}  // namespace plat

// Normalised absolute path in `out` ('/' separators), TRUE on success; on failure `out`
// is empty. FALSE too when the result is longer than 32768 characters.
bool NormalizeLongPath(const std::u16string& path, std::u16string& out);

// There is no long-path prefix on Linux: `out` = path, TRUE when it has at most 32768
// characters.
bool AddLongPathPrefix(const std::u16string& path, std::u16string& out);

namespace plat {
// UTF-8 form of NormalizeLongPath (the form the file system takes).
bool NormalizePathUtf8(const std::string& path, std::string& out);
// Why NormalizePathUtf8 refuses `path`, naming the component at fault ("'a\\tb': the
// name holds a control character", "the path is not absolute", ...); empty when it
// accepts it.
std::string PathProblemUtf8(const std::string& path);
}  // namespace plat
