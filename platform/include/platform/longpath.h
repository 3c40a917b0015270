#pragma once
// Path checks shared by both programs. Paths are absolute POSIX paths; '\\' in the
// input is read as a separator (records keep '\\' on the local side). The normaliser
// skips ".", resolves ".." (never up to or above the root), refuses empty components and
// checks every name with IsValidFileName. A trailing separator is kept.
#include <cstddef>
#include <string>

// The longest path the path checks accept, in characters (UTF-16 units).
inline constexpr std::size_t kLongestPathChars = 32768;

// FALSE for a name holding < > : " / \ | ? * or a control character, the empty name,
// and the reserved device names (CON, PRN, AUX, NUL, COM1-9, LPT1-9; case-sensitive).
bool IsValidFileName(const std::u16string& name);

// Normalised absolute path in `out` ('/' separators), TRUE on success; on failure `out`
// is empty. FALSE too when the result is longer than 32768 characters.
bool NormalizeLongPath(const std::u16string& path, std::u16string& out);

// There is no long-path prefix on Linux: `out` = path, TRUE when it has at most 32768
// characters.
bool AddLongPathPrefix(const std::u16string& path, std::u16string& out);

namespace plat {
// UTF-8 form of NormalizeLongPath (the form the file system takes).
bool NormalizePathUtf8(const std::string& path, std::string& out);
}  // namespace plat
