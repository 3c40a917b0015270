#include "Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <ctime>
#include <cwctype>
#include <locale>
#include <stdexcept>

#include <sys/random.h>

#include <crypto++/base64.h>
#include <crypto++/filters.h>
#include <crypto++/hex.h>
#include <crypto++/md5.h>

namespace testserver {

std::string MakeRef(std::string_view id) {
    std::string ref(kRefPrefix);
    ref += id;
    return ref;
}

namespace {

std::optional<std::string> IdAfter(std::string_view text, std::string_view prefix) {
    if (text.size() <= prefix.size() || text.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    std::string_view id = text.substr(prefix.size());
    if (id.find('/') != std::string_view::npos) return std::nullopt;
    return std::string(id);
}

// Decodes one UTF-8 sequence at text[i]; returns the code point and advances i, or -1.
long DecodeOne(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    int extra = 0;
    long cp = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07;
    } else {
        return -1;
    }
    if (i + static_cast<std::size_t>(extra) >= text.size()) return -1;
    for (int k = 1; k <= extra; ++k) {
        const unsigned char c = byte(i + k);
        if ((c & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr long kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    i += static_cast<std::size_t>(extra) + 1;
    return cp;
}

void AppendUtf8(std::string& out, long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Lower-casing of any letter, not only ASCII, when the C.UTF-8 locale is there.
const std::ctype<wchar_t>* WideCtype() {
    static const std::ctype<wchar_t>* facet = []() -> const std::ctype<wchar_t>* {
        try {
            static const std::locale utf8("C.UTF-8");
            return &std::use_facet<std::ctype<wchar_t>>(utf8);
        } catch (const std::exception&) {
            return nullptr;
        }
    }();
    return facet;
}

}  // namespace

std::optional<std::string> IdFromRef(std::string_view ref) { return IdAfter(ref, kRefPrefix); }

std::optional<std::string> IdFromPathRef(std::string_view pathRef) {
    return IdAfter(pathRef, kRefPathPrefix);
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size())
        if (DecodeOne(text, i) < 0) return false;
    return true;
}

bool IsValidItemName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    std::size_t i = 0;
    while (i < name.size()) {
        const long cp = DecodeOne(name, i);
        if (cp < 0x20 || cp == 0x7F || cp == '/' || cp == '\\') return false;  // -1 too
        if (cp >= 0x80 && cp < 0xA0) return false;  // C1 controls
    }
    return true;
}

std::string FoldName(std::string_view name) {
    const std::ctype<wchar_t>* facet = WideCtype();
    std::string out;
    out.reserve(name.size());
    std::size_t i = 0;
    while (i < name.size()) {
        const std::size_t start = i;
        long cp = DecodeOne(name, i);
        if (cp < 0) {  // not UTF-8: keep the byte as it is
            out += name[start];
            i = start + 1;
            continue;
        }
        if (cp < 0x80) {
            if (cp >= 'A' && cp <= 'Z') cp += 'a' - 'A';
        } else if (facet) {
            cp = static_cast<long>(facet->tolower(static_cast<wchar_t>(cp)));
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string FormatServerDate(std::int64_t unixSeconds) {
    static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                         "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s %s %02d %02d:%02d:%02d GMT %04d", kDays[tm.tm_wday % 7],
                  kMonths[tm.tm_mon % 12], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_year + 1900);
    return buffer;
}

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Md5Stream::Impl {
    CryptoPP::Weak::MD5 md5;
};

Md5Stream::Md5Stream() : impl_(std::make_unique<Impl>()) {}
Md5Stream::~Md5Stream() = default;

void Md5Stream::Update(const void* data, std::size_t size) {
    impl_->md5.Update(static_cast<const CryptoPP::byte*>(data), size);
}

std::string Md5HexUpper(std::string_view bytes) {
    Md5Stream md5;
    md5.Update(bytes.data(), bytes.size());
    return md5.FinalHexUpper();
}

std::string Md5Stream::FinalHexUpper() {
    CryptoPP::byte digest[CryptoPP::Weak::MD5::DIGESTSIZE];
    impl_->md5.Final(digest);
    std::string hex;
    CryptoPP::HexEncoder encoder(new CryptoPP::StringSink(hex), true);
    encoder.Put(digest, sizeof digest);
    encoder.MessageEnd();
    return hex;
}

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    CryptoPP::Base64Encoder encoder(new CryptoPP::StringSink(out), false);
    encoder.Put(reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size());
    encoder.MessageEnd();
    return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    // Crypto++ skips characters outside the alphabet; refuse them instead.
    std::size_t padding = 0;
    for (char c : text) {
        const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (c == '=') {
            ++padding;
        } else if (!alphabet || padding > 0) {
            return std::nullopt;
        }
    }
    if (text.size() % 4 != 0 || padding > 2) return std::nullopt;
    std::string out;
    CryptoPP::Base64Decoder decoder(new CryptoPP::StringSink(out));
    decoder.Put(reinterpret_cast<const CryptoPP::byte*>(text.data()), text.size());
    decoder.MessageEnd();
    return out;
}

bool EqualsConstantTime(std::string_view a, std::string_view b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::string RandomHex(std::size_t bytes) {
    std::string raw(bytes, '\0');
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = getrandom(raw.data() + got, bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("the kernel's random source failed");
        }
        got += static_cast<std::size_t>(n);
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes * 2);
    for (unsigned char c : raw) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 0xF];
    }
    return hex;
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y) return false;
    }
    return true;
}

std::string TrimSpace(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t b = 0, e = text.size();
    while (b < e && blank(text[b])) ++b;
    while (e > b && blank(text[e - 1])) --e;
    return std::string(text.substr(b, e - b));
}

std::vector<std::string> SplitPath(std::string_view path, bool& ok) {
    std::vector<std::string> pieces;
    ok = !path.empty() && path.front() == '/';
    if (!ok) return pieces;
    std::size_t pos = 1;
    while (pos <= path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string_view::npos) next = path.size();
        std::string_view piece = path.substr(pos, next - pos);
        if (piece.empty()) {
            // Only a single trailing '/' or the bare root may leave an empty piece.
            if (next != path.size()) ok = false;
        } else if (!IsValidItemName(piece)) {
            ok = false;
        } else {
            pieces.emplace_back(piece);
        }
        pos = next + 1;
    }
    return pieces;
}

}  // namespace testserver
