#include "sync/common/unicode.h"

#include <cstdio>

#include <log4cpp/Category.hh>

#include "platform/text.h"
#include "sync/common/SyncLog.h"

namespace {

std::string HexAddress(const void* p) {
    char buffer[2 + 2 * sizeof(void*) + 1];
    std::snprintf(buffer, sizeof buffer, "%0*llX", static_cast<int>(2 * sizeof(void*)),
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
    return buffer;
}

template <class Char>
std::basic_string_view<Char> UpToZero(const std::basic_string<Char>& text) {
    const std::basic_string_view<Char> view(text);
    return view.substr(0, view.find(Char(0)));
}

}  // namespace

bool UTF16toUTF8(const char16_t* text, std::size_t length, std::string& out) {
    out.clear();
    if (length == 0) return true;
    if (plat::Utf16ToUtf8(text, length, out)) return true;
    out.clear();
    SyncLog().alert("UTF16toUTF8 error![[" + HexAddress(text) + "]] filepath:unicode line:194");
    return false;
}

bool UTF16toUTF8(const char16_t* text, std::string& out) {
    const std::size_t length = text == nullptr ? 0 : std::char_traits<char16_t>::length(text);
    return UTF16toUTF8(text, length, out);
}

bool UTF16toUTF8(const std::u16string& text, std::string& out) {
    return UTF16toUTF8(text.data(), text.size(), out);
}

bool UTF8toUTF16(const char* text, std::size_t length, std::u16string& out) {
    out.clear();
    if (length == 0) return true;
    if (plat::Utf8ToUtf16(text, length, out)) return true;
    out.clear();
    std::string_view input(text, length);
    input = input.substr(0, input.find('\0'));
    SyncLog().alert("UTF8toUTF16 error![[" + EscapeForLog(input) + "]] filepath:unicode line:448");
    return false;
}

bool UTF8toUTF16(const std::string& text, std::u16string& out) {
    return UTF8toUTF16(text.data(), text.size(), out);
}

int DecodeUTF8Char(const unsigned char* p, std::size_t available, std::uint32_t& codePoint,
                   int& unitSize) {
    if (p == nullptr) return 0;
    return plat::DecodeUtf8Char(p, available, codePoint, unitSize);
}

std::string EscapeForLog(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    auto escape = [&](unsigned char b) {
        out += "\\x";
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0xF]);
    };
    for (std::size_t i = 0; i < bytes.size();) {
        std::uint32_t cp = 0;
        int units = 0;
        const int used = plat::DecodeUtf8Char(p + i, bytes.size() - i, cp, units);
        if (used == 0) {
            escape(p[i]);
            ++i;
            continue;
        }
        if (cp < 0x20 || cp == 0x7F || cp == '\\') {
            escape(p[i]);
        } else {
            out.append(bytes.substr(i, static_cast<std::size_t>(used)));
        }
        i += static_cast<std::size_t>(used);
    }
    return out;
}

namespace BaseFunc {

std::string WideToUtf8(const std::u16string& text) { return plat::ToUtf8(UpToZero(text)); }

std::u16string AnsiToWide(const std::string& text) { return plat::ToUtf16(UpToZero(text)); }

std::string WideToAnsi(const std::u16string& text) { return WideToUtf8(text); }

}  // namespace BaseFunc
