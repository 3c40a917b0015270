#include "platform/ini.h"

#include "platform/fileops.h"

namespace plat {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\f\v";

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(static_cast<unsigned char>(a[i])) != Lower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

// One pair of matching quotes around the value is not part of it.
std::string Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

// The form written for a value, so that reading gives it back unchanged.
std::string Quoted(std::string_view value) {
    const bool needsQuotes = !value.empty() &&
                             (Trim(value).size() != value.size() ||
                              ((value.front() == '"' || value.front() == '\'') && value.size() >= 2 &&
                               value.back() == value.front()));
    return needsQuotes ? "\"" + std::string(value) + "\"" : std::string(value);
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

bool IniFile::Load(const std::string& path) {
    std::string text;
    const bool ok = fs::ReadWholeFile(path, text) == fs::ReadResult::Read;
    Parse(text);
    return ok;
}

void IniFile::Parse(std::string_view text) {
    lines_.clear();
    lineEnd_ = "\n";
    // Only one mark is taken off; a second one is the start of the first line's text.
    byteOrderMark_ = text.substr(0, 3) == "\xEF\xBB\xBF";
    if (byteOrderMark_) text.remove_prefix(3);
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const bool crlf = end != std::string_view::npos && !raw.empty() && raw.back() == '\r';
        if (crlf) raw.remove_suffix(1);
        if (first && end != std::string_view::npos) lineEnd_ = crlf ? "\r\n" : "\n";
        first = false;

        Line line;
        line.text = std::string(raw);
        line.end = end == std::string_view::npos ? "" : (crlf ? "\r\n" : "\n");
        const std::string_view trimmed = Trim(raw);
        if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') {
            line.kind = Line::Kind::Other;
        } else if (trimmed.front() == '[') {
            const std::size_t close = trimmed.find(']');
            line.kind = Line::Kind::Section;
            line.name = std::string(Trim(trimmed.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
        } else if (const std::size_t eq = trimmed.find('='); eq != std::string_view::npos) {
            line.kind = Line::Kind::Entry;
            line.name = std::string(Trim(trimmed.substr(0, eq)));
            line.value = Unquote(Trim(trimmed.substr(eq + 1)));
        }
        lines_.push_back(std::move(line));
    }
}

std::string IniFile::Text() const {
    std::string out = byteOrderMark_ ? "\xEF\xBB\xBF" : "";
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i].text;
        // A line that had no end was the last; when lines follow it now, it gets one.
        out += lines_[i].end.empty() && i + 1 < lines_.size() ? lineEnd_ : lines_[i].end;
    }
    return out;
}

// Written for this user only (mode 0600), as the profile always was.
bool IniFile::Save(const std::string& path) const { return fs::WriteFileAtomic(path, Text(), 0600); }

std::optional<std::pair<std::size_t, std::size_t>> IniFile::FindSection(std::string_view section) const {
    std::size_t begin = 0;
    if (!section.empty()) {
        std::size_t i = 0;
        while (i < lines_.size() &&
               !(lines_[i].kind == Line::Kind::Section && EqualNoCase(lines_[i].name, section))) {
            ++i;
        }
        if (i == lines_.size()) return std::nullopt;
        begin = i + 1;
    }
    std::size_t end = begin;
    while (end < lines_.size() && lines_[end].kind != Line::Kind::Section) ++end;
    return std::make_pair(begin, end);
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
    const auto range = FindSection(Trim(section));
    if (!range) return std::nullopt;
    const std::string_view wanted = Trim(key);
    for (std::size_t i = range->first; i < range->second; ++i) {
        if (lines_[i].kind == Line::Kind::Entry && EqualNoCase(lines_[i].name, wanted)) return lines_[i].value;
    }
    return std::nullopt;
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view fallback) const {
    const auto value = Get(section, key);
    return value ? *value : std::string(fallback);
}

std::int64_t IniFile::GetInt(std::string_view section, std::string_view key, std::int64_t fallback) const {
    const auto value = Get(section, key);
    if (!value) return fallback;
    std::string_view text = Trim(*value);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::uint64_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') break;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (number > (static_cast<std::uint64_t>(INT64_MAX) - digit) / 10) {
            number = static_cast<std::uint64_t>(INT64_MAX);  // saturates
            break;
        }
        number = number * 10 + digit;
    }
    const auto magnitude = static_cast<std::int64_t>(number);
    return negative ? -magnitude : magnitude;
}

bool IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    if (key.empty() || key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';' ||
        key.front() == '#' || HasLineBreak(key) || HasLineBreak(section) ||
        section.find(']') != std::string_view::npos || HasLineBreak(value)) {
        return false;
    }
    Line entry;
    entry.kind = Line::Kind::Entry;
    entry.name = std::string(key);
    entry.value = std::string(value);
    entry.text = entry.name + "=" + Quoted(value);
    entry.end = lineEnd_;

    auto range = FindSection(section);
    if (!range) {
        Line header;
        header.kind = Line::Kind::Section;
        header.name = std::string(section);
        header.text = "[" + header.name + "]";
        header.end = lineEnd_;
        lines_.push_back(std::move(header));
        lines_.push_back(std::move(entry));
        return true;
    }
    std::size_t insertAt = range->first;
    for (std::size_t i = range->first; i < range->second; ++i) {
        if (lines_[i].kind != Line::Kind::Entry) continue;
        if (EqualNoCase(lines_[i].name, key)) {
            entry.name = lines_[i].name;  // keeps the spelling of the file
            entry.text = entry.name + "=" + Quoted(value);
            entry.end = lines_[i].end;
            lines_[i] = std::move(entry);
            return true;
        }
        insertAt = i + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(entry));
    return true;
}

bool IniFile::Remove(std::string_view section, std::string_view key) {
    const auto range = FindSection(Trim(section));
    if (!range) return false;
    const std::string_view wanted = Trim(key);
    bool removed = false;
    for (std::size_t i = range->second; i-- > range->first;) {
        if (lines_[i].kind == Line::Kind::Entry && EqualNoCase(lines_[i].name, wanted)) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
            removed = true;
        }
    }
    return removed;
}

std::vector<std::string> IniFile::Sections() const {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < FindSection("")->second; ++i) {
        if (lines_[i].kind == Line::Kind::Entry) {
            names.emplace_back();
            break;
        }
    }
    for (const Line& line : lines_) {
        if (line.kind != Line::Kind::Section) continue;
        bool seen = false;
        for (const std::string& n : names) seen = seen || EqualNoCase(n, line.name);
        if (!seen) names.push_back(line.name);
    }
    return names;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
    std::vector<std::string> keys;
    const auto range = FindSection(Trim(section));
    if (!range) return keys;
    for (std::size_t i = range->first; i < range->second; ++i) {
        if (lines_[i].kind != Line::Kind::Entry) continue;
        bool seen = false;
        for (const std::string& k : keys) seen = seen || EqualNoCase(k, lines_[i].name);
        if (!seen) keys.push_back(lines_[i].name);
    }
    return keys;
}

std::string GetProfileString(const std::string& path, std::string_view section, std::string_view key,
                             std::string_view fallback) {
    IniFile file;
    file.Load(path);
    return file.GetString(section, key, fallback);
}

std::int64_t GetProfileInt(const std::string& path, std::string_view section, std::string_view key,
                           std::int64_t fallback) {
    IniFile file;
    file.Load(path);
    return file.GetInt(section, key, fallback);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    IniFile file;
    if (!file.Load(path) && fs::GetKind(path) != fs::Kind::Missing) return false;
    if (!file.Set(section, key, value)) return false;
    if (!fs::MakeDirectories(FolderOf(path))) return false;
    return file.Save(path);
}

}  // namespace plat
