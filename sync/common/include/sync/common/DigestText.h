#pragma once
// A checksum as the sync trees keep it. Nearly every checksum is an MD5 digest written as
// 32 hex digits of one case; those are kept as their 16 bytes and the case, without an
// allocation. Any other text (a server's odd value, a test's short one) is kept as it
// stands. Either way the text reads back exactly as it was given.
#include <bit>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <string>
#include <string_view>

class DigestText {
public:
    DigestText() = default;
    explicit DigestText(std::string_view text) { Set(text); }
    DigestText(const DigestText& other) { CopyFrom(other); }
    DigestText(DigestText&& other) noexcept { MoveFrom(other); }
    DigestText& operator=(const DigestText& other) {
        if (this != &other) {
            Release();
            CopyFrom(other);
        }
        return *this;
    }
    DigestText& operator=(DigestText&& other) noexcept {
        if (this != &other) {
            Release();
            MoveFrom(other);
        }
        return *this;
    }
    DigestText& operator=(std::string_view text) {
        Release();
        Set(text);
        return *this;
    }
    DigestText& operator=(const std::string& text) { return *this = std::string_view(text); }
    DigestText& operator=(const char* text) { return *this = std::string_view(text); }
    ~DigestText() { Release(); }

    bool empty() const { return form_ == Form::Empty; }
    std::size_t size() const;
    void clear() { Release(); }

    // The text as it was given.
    std::string str() const;
    operator std::string() const { return str(); }

    // Equal text, byte for byte.
    bool operator==(const DigestText& other) const;
    bool operator==(std::string_view text) const;
    // Equal text ignoring ASCII case.
    bool EqualNoCase(const DigestText& other) const;
    bool EqualNoCase(std::string_view text) const;
    // A strict order of the texts (byte order of the texts as given). Digests of one case
    // order as their bytes do.
    bool operator<(const DigestText& other) const {
        if (form_ == other.form_ && IsHex()) return BytesLess(bytes_, other.bytes_);
        return str() < other.str();
    }

private:
    enum class Form : std::uint8_t { Empty, UpperHex, LowerHex, Text };

    void Set(std::string_view text);
    void Release();
    void CopyFrom(const DigestText& other);
    void MoveFrom(DigestText& other) noexcept;
    bool IsHex() const { return form_ == Form::UpperHex || form_ == Form::LowerHex; }
    // Byte order of two digests, eight bytes at a time (the match passes sort by it).
    static bool BytesLess(const unsigned char* a, const unsigned char* b) {
        for (std::size_t at = 0; at < 16; at += 8) {
            std::uint64_t x = 0, y = 0;
            std::memcpy(&x, a + at, 8);
            std::memcpy(&y, b + at, 8);
            if (x == y) continue;
            if constexpr (std::endian::native == std::endian::little) {
                x = __builtin_bswap64(x);
                y = __builtin_bswap64(y);
            }
            return x < y;
        }
        return false;
    }

    union {
        unsigned char bytes_[16];
        std::string* text_;
    };
    Form form_ = Form::Empty;
};

std::ostream& operator<<(std::ostream& out, const DigestText& digest);

namespace BaseFunc {
// EqualNoCase of BaseFunc.h for checksums, without turning the digests into text.
inline bool EqualNoCase(const DigestText& a, const DigestText& b) { return a.EqualNoCase(b); }
inline bool EqualNoCase(const DigestText& a, std::string_view b) { return a.EqualNoCase(b); }
inline bool EqualNoCase(std::string_view a, const DigestText& b) { return b.EqualNoCase(a); }
}  // namespace BaseFunc
