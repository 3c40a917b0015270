#pragma once
// INI files: the programs' profile ("Orvane.ini") and the language tables
// ("language.ini"). UTF-8 text (one leading byte-order mark is not part of the first
// line), lines ending LF or CR LF.
//
// Reading follows the classic profile calls: "[section]" headers, "key=value" entries,
// lines starting with ';' or '#' are comments. Section and key names are compared
// ignoring ASCII case; blanks around names and values are dropped, and a value enclosed
// in one pair of matching quotes ('"' or '\'') loses them. Entries before the first
// header belong to the section "". When a section or key occurs twice, the first one
// counts.
//
// Writing changes one entry in place and keeps every other line (comments included) as
// it stands, with its own line end, and the byte-order mark as it was found, so a file
// read and written back unchanged keeps every byte. New lines take the first line's end.
// Files are written through a temporary file that is flushed and renamed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

class IniFile {
public:
    IniFile() = default;

    // Replaces the content by the file's. False when it cannot be read; a missing file
    // also gives false, with the content empty.
    bool Load(const std::string& path);
    // Replaces the content by the text.
    void Parse(std::string_view text);
    // The whole text as it would be written.
    std::string Text() const;
    // Writes the text to `path` through a temporary file beside it (flushed, then renamed
    // into place; the folder must exist). False, with the old file untouched, on failure.
    bool Save(const std::string& path) const;

    // The entry's value; none when the section or the key is missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // The value, or `fallback` when the entry is missing.
    std::string GetString(std::string_view section, std::string_view key, std::string_view fallback) const;
    // The value read as an integer: blanks, an optional sign and decimal digits, reading
    // stops at the first other character (no digits: 0). `fallback` when the entry is
    // missing.
    std::int64_t GetInt(std::string_view section, std::string_view key, std::int64_t fallback) const;

    // Sets the entry (replacing the first one of that key, else adding it at the end of
    // the section, else adding the section at the end). False, with nothing changed, when
    // a name is unusable (empty key, a key holding '=' or starting with '[', ';' or '#',
    // a section holding ']', any line break) or the value holds a line break.
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes every entry of that key in the section; false when there was none.
    bool Remove(std::string_view section, std::string_view key);

    // Section names in file order (the first occurrence of each); "" when entries stand
    // before the first header.
    std::vector<std::string> Sections() const;
    // Key names of the section in file order (the first occurrence of each).
    std::vector<std::string> Keys(std::string_view section) const;

private:
    struct Line {
        enum class Kind { Other, Section, Entry };
        Kind kind = Kind::Other;
        std::string text;     // the line as it stands, without its line end
        std::string name;     // section or key name, trimmed
        std::string value;    // entry value, trimmed and unquoted
        std::string end;      // "\r\n", "\n", or "" for a last line without one
    };
    // Index of the first line of the section's body and one past its last line; none
    // when the section is missing.
    std::optional<std::pair<std::size_t, std::size_t>> FindSection(std::string_view section) const;

    std::vector<Line> lines_;
    std::string lineEnd_ = "\n";     // the end of new lines
    bool byteOrderMark_ = false;    // the text started with a byte-order mark
};

// Reads one value from the file at every call ("" section: entries before any header).
std::string GetProfileString(const std::string& path, std::string_view section, std::string_view key,
                             std::string_view fallback);
std::int64_t GetProfileInt(const std::string& path, std::string_view section, std::string_view key,
                           std::int64_t fallback);
// Sets one value in the file, creating the file and its folder when missing. False when
// the file exists but cannot be read, the names are unusable or the write fails.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace plat
