#include "client/core/TextHelpers.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <iterator>

std::string FormatByteSize(std::int64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + "  B";
    static const struct {
        std::int64_t limit;  // exclusive upper bound of the unit (0: none)
        int shift;
        const char* unit;
    } kUnits[] = {
        {std::int64_t{1} << 20, 10, " KB"}, {std::int64_t{1} << 30, 20, " MB"},
        {std::int64_t{1} << 40, 30, " GB"}, {std::int64_t{1} << 50, 40, " TB"},
        {0, 50, " PB"},
    };
    for (const auto& u : kUnits) {
        if (u.limit != 0 && bytes >= u.limit) continue;
        const float quotient = static_cast<float>(bytes) / static_cast<float>(std::int64_t{1} << u.shift);
        char buf[64];
        const auto r = std::to_chars(std::begin(buf), std::end(buf), quotient, std::chars_format::fixed, 2);
        return std::string(buf, r.ptr) + u.unit;
    }
    return std::string();  // not reached: the last unit has no limit
}

std::string UrlEncode(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '.' || c == '_' || c == '~';
        if (keep) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

std::string ToSlashPath(std::string_view text) {
    std::string out(text);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

std::string SkipUtf8Bom(std::string_view bytes) {
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
        static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF)
        bytes.remove_prefix(3);
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes)
        if (c != '\r' && c != '\n') out.push_back(c);
    return out;
}

std::int32_t ParseLeadingInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{INT32_MAX} + 1) value = std::int64_t{INT32_MAX} + 1;  // saturate
    }
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

std::string FillPlaceholders(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size());
    auto next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            const char spec = pattern[i + 1];
            if (spec == '%') {
                out.push_back('%');
                ++i;
                continue;
            }
            if (spec == 's' || spec == 'd') {
                if (next != args.end()) out.append(*next++);
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

std::string PlaceholdersOf(std::string_view pattern) {
    std::string out;
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        const char spec = pattern[i + 1];
        if (spec == 's' || spec == 'd') out.push_back(spec);
        if (spec == '%' || spec == 's' || spec == 'd') ++i;
    }
    return out;
}

std::string FillTranslated(std::string_view key, std::string_view translation,
                           std::initializer_list<std::string_view> args) {
    const bool same = PlaceholdersOf(translation) == PlaceholdersOf(key);
    return FillPlaceholders(same ? translation : key, args);
}

std::string LabelWithValue(std::string_view label, std::string_view value) {
    std::string out(label);
    if (!out.empty() && out.back() == ':') out.push_back(' ');
    out.append(value);
    return out;
}
