#include "http/HeaderFields.h"

#include <algorithm>
#include <limits>
#include <unordered_set>


namespace http {

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (IsBlank(text.front()) || text.front() == '\r' || text.front() == '\n')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The leading decimal digits of `text` as a number; nothing when there are none or the
// value does not fit in 64 bits.
std::optional<std::uint64_t> LeadingNumber(std::string_view text) {
    if (text.empty() || !IsDigit(text.front())) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) break;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

bool IsCharsetChar(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_';
}

// The value of the first "charset=" in the line (ASCII case ignored), or empty.
std::string CharsetIn(std::string_view line) {
    static constexpr std::string_view kKey = "charset=";
    for (std::size_t i = 0; i + kKey.size() <= line.size(); ++i) {
        if (!EqualNoCase(line.substr(i, kKey.size()), kKey)) continue;
        std::size_t end = i + kKey.size();
        while (end < line.size() && IsCharsetChar(line[end])) ++end;
        if (end > i + kKey.size()) return std::string(line.substr(i + kKey.size(), end - i - kKey.size()));
    }
    return {};
}

// "name=value" of a Set-Cookie value: the text before its first ';' (the attributes that
// follow describe the cookie and are not sent back).
std::string CookiePair(std::string_view value) {
    const std::size_t semicolon = value.find(';');
    return std::string(Trim(value.substr(0, semicolon)));
}

std::string LowerCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

bool FieldValue(std::string_view line, std::string_view name, std::string_view& value) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    if (!EqualNoCase(line.substr(0, name.size()), name)) return false;
    value = Trim(line.substr(name.size() + 1));
    return true;
}

std::vector<std::string_view> SplitLines(std::string_view block) {
    std::vector<std::string_view> lines;
    while (!block.empty()) {
        const std::size_t end = block.find('\n');
        std::string_view line = block.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        block.remove_prefix(end + 1);
    }
    return lines;
}

ResponseFields ScanResponseHeaders(std::string_view block) {
    ResponseFields fields;
    bool haveLocation = false;
    // The cookies taken so far, ASCII lower case: each new one is looked up once, so a
    // reply with many cookie lines costs time in proportion to its size.
    std::unordered_set<std::string> seenCookies;
    for (std::string_view line : SplitLines(block)) {
        std::string_view value;
        if (fields.charset.empty()) fields.charset = CharsetIn(line);
        if (FieldValue(line, "Content-Length", value)) {
            if (!fields.contentLength) fields.contentLength = LeadingNumber(value);
        } else if (FieldValue(line, "Location", value)) {
            if (!haveLocation) {
                const auto digits = std::find_if_not(value.begin(), value.end(), IsDigit) - value.begin();
                fields.location = std::string(value.substr(0, static_cast<std::size_t>(digits)));
                haveLocation = !fields.location.empty();
            }
        } else if (FieldValue(line, "Set-Cookie", value)) {
            std::string pair = CookiePair(value);
            if (!pair.empty() && seenCookies.insert(LowerCopy(pair)).second) fields.cookies.push_back(std::move(pair));
        }
    }
    return fields;
}

std::string JoinCookies(const std::vector<std::string>& cookies) {
    std::string text;
    for (const std::string& cookie : cookies) {
        if (!text.empty()) text += "; ";
        text += cookie;
    }
    if (!text.empty() && text.back() != ';') text += ';';
    return text;
}

}  // namespace http
