#include "platform/text.h"

namespace plat {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void AppendUtf8(std::uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendUtf16(std::uint32_t cp, std::u16string& out) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
    }
}

// Reads one code point from UTF-16 at text[i] (i < length); returns the units used,
// 0 for an unpaired surrogate.
int DecodeUtf16Char(const char16_t* text, std::size_t length, std::size_t i, std::uint32_t& cp) {
    const std::uint32_t u = text[i];
    if (!IsHighSurrogate(u) && !IsLowSurrogate(u)) {
        cp = u;
        return 1;
    }
    if (IsLowSurrogate(u) || i + 1 >= length) return 0;
    const std::uint32_t v = text[i + 1];
    if (!IsLowSurrogate(v)) return 0;
    cp = 0x10000 + (((u - 0xD800) << 10) | (v - 0xDC00));
    return 2;
}

}  // namespace

int DecodeUtf8Char(const unsigned char* p, std::size_t available, std::uint32_t& codePoint, int& units) {
    if (available == 0) return 0;
    const unsigned char b0 = p[0];
    int len;
    std::uint32_t cp;
    std::uint32_t min;
    if (b0 < 0x80) {
        codePoint = b0;
        units = 1;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2; cp = b0 & 0x1F; min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3; cp = b0 & 0x0F; min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4; cp = b0 & 0x07; min = 0x10000;
    } else {
        return 0;  // continuation byte as lead, or a 5/6-byte lead (F8..FF)
    }
    if (available < static_cast<std::size_t>(len)) return 0;
    for (int k = 1; k < len; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    codePoint = cp;
    units = cp >= 0x10000 ? 2 : 1;
    return len;
}

bool Utf16ToUtf8(const char16_t* text, std::size_t length, std::string& out) {
    out.clear();
    if (text == nullptr) return length == 0;
    std::string result;
    result.reserve(length);
    for (std::size_t i = 0; i < length && text[i] != 0;) {
        std::uint32_t cp = 0;
        const int used = DecodeUtf16Char(text, length, i, cp);
        if (used == 0) return false;
        AppendUtf8(cp, result);
        i += static_cast<std::size_t>(used);
    }
    out = std::move(result);
    return true;
}

bool Utf16ToUtf8(std::u16string_view text, std::string& out) {
    return Utf16ToUtf8(text.data(), text.size(), out);
}

bool Utf8ToUtf16(const char* text, std::size_t length, std::u16string& out) {
    out.clear();
    if (text == nullptr) return length == 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::u16string result;
    result.reserve(length);
    for (std::size_t i = 0; i < length && p[i] != 0;) {
        std::uint32_t cp = 0;
        int units = 0;
        const int used = DecodeUtf8Char(p + i, length - i, cp, units);
        if (used == 0) return false;
        AppendUtf16(cp, result);
        i += static_cast<std::size_t>(used);
    }
    out = std::move(result);
    return true;
}

bool Utf8ToUtf16(std::string_view text, std::u16string& out) {
    return Utf8ToUtf16(text.data(), text.size(), out);
}

bool IsValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        int units = 0;
        const int used = DecodeUtf8Char(p + i, text.size() - i, cp, units);
        if (used == 0) return false;
        i += static_cast<std::size_t>(used);
    }
    return true;
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        const int used = DecodeUtf16Char(text.data(), text.size(), i, cp);
        if (used == 0) {
            AppendUtf8(kReplacement, out);
            ++i;
        } else {
            AppendUtf8(cp, out);
            i += static_cast<std::size_t>(used);
        }
    }
    return out;
}

std::u16string ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        int units = 0;
        const int used = DecodeUtf8Char(p + i, text.size() - i, cp, units);
        if (used == 0) {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
        } else {
            AppendUtf16(cp, out);
            i += static_cast<std::size_t>(used);
        }
    }
    return out;
}

}  // namespace plat
