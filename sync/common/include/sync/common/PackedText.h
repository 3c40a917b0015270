#pragma once
// Short texts the sync trees keep for every item: checksums and server references. Nearly
// every one has a fixed form that packs into 16 bytes (an MD5 digest as 32 hex digits of
// one case; a store reference to an identifier in lower-case hex); those are kept as the
// bytes and the form, without an allocation. Any other text (a server's odd value, a
// test's short one) is kept as it stands. Either way the text reads back exactly as it was
// given.
//
// A codec gives the packed texts' length `kLength`, `Pack` (the text's packed form, from 1,
// with its 16 bytes; 0 when it has none) and `Unpack` (the kLength characters of a packed
// form). The packed forms of one codec differ only in the case of letters, and the texts
// of one form order as their bytes do.
#include <bit>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <string>
#include <string_view>

template <class Codec>
class PackedText {
public:
    PackedText() noexcept {}
    explicit PackedText(std::string_view text) { Set(text); }
    PackedText(const PackedText& other) { CopyFrom(other); }
    PackedText(PackedText&& other) noexcept { MoveFrom(other); }
    PackedText& operator=(const PackedText& other) {
        if (this != &other) {
            Release();
            CopyFrom(other);
        }
        return *this;
    }
    PackedText& operator=(PackedText&& other) noexcept {
        if (this != &other) {
            Release();
            MoveFrom(other);
        }
        return *this;
    }
    PackedText& operator=(std::string_view text) {
        Release();
        Set(text);
        return *this;
    }
    PackedText& operator=(const std::string& text) { return *this = std::string_view(text); }
    PackedText& operator=(const char* text) { return *this = std::string_view(text); }
    ~PackedText() { Release(); }

    bool empty() const { return form_ == kEmpty; }
    std::size_t size() const;
    void clear() { Release(); }

    // The text as it was given.
    std::string str() const;
    operator std::string() const { return str(); }

    // Equal text, byte for byte.
    bool operator==(const PackedText& other) const;
    bool operator==(std::string_view text) const;
    // Equal text ignoring ASCII case.
    bool EqualNoCase(const PackedText& other) const;
    bool EqualNoCase(std::string_view text) const;
    // A strict order of the texts (byte order of the texts as given).
    bool operator<(const PackedText& other) const {
        if (form_ == other.form_ && IsPacked()) return BytesLess(bytes_, other.bytes_);
        return str() < other.str();
    }

private:
    static constexpr std::uint8_t kEmpty = 0;
    static constexpr std::uint8_t kText = 0xFF;

    void Set(std::string_view text);
    void Release() {
        if (form_ == kText) delete Text();
        form_ = kEmpty;
    }
    void CopyFrom(const PackedText& other);
    void MoveFrom(PackedText& other) noexcept;
    bool IsPacked() const { return form_ != kEmpty && form_ != kText; }
    // Byte order of two packed texts, eight bytes at a time (the match passes sort by it).
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

    // The text kept as given, whose pointer then sits in `bytes_`: the class has no
    // alignment of its own, so that two of them and small fields pack tightly in a record.
    std::string* Text() const {
        std::string* text = nullptr;
        std::memcpy(&text, bytes_, sizeof text);
        return text;
    }
    void SetText(std::string* text) { std::memcpy(bytes_, &text, sizeof text); }

    unsigned char bytes_[16];
    std::uint8_t form_ = kEmpty;
};

template <class Codec>
std::ostream& operator<<(std::ostream& out, const PackedText<Codec>& text);

// An MD5 digest: 32 hex digits, all upper case or all lower case (one without letters
// counts as upper case).
struct Md5HexCodec {
    static constexpr std::size_t kLength = 32;
    static std::uint8_t Pack(std::string_view text, unsigned char* bytes);
    static void Unpack(const unsigned char* bytes, std::uint8_t form, char* out);
};

// A server reference: "workspace://SpacesStore/" and an identifier of 8-4-4-4-12 lower-case
// hex digits.
struct StoreRefCodec {
    static constexpr std::string_view kPrefix = "workspace://SpacesStore/";
    static constexpr std::size_t kLength = kPrefix.size() + 36;
    static std::uint8_t Pack(std::string_view text, unsigned char* bytes);
    static void Unpack(const unsigned char* bytes, std::uint8_t form, char* out);
};

extern template class PackedText<Md5HexCodec>;
extern template class PackedText<StoreRefCodec>;

using DigestText = PackedText<Md5HexCodec>;
using NodeRefText = PackedText<StoreRefCodec>;

namespace BaseFunc {
// EqualNoCase of BaseFunc.h for checksums, without turning the digests into text.
inline bool EqualNoCase(const DigestText& a, const DigestText& b) { return a.EqualNoCase(b); }
inline bool EqualNoCase(const DigestText& a, std::string_view b) { return a.EqualNoCase(b); }
inline bool EqualNoCase(std::string_view a, const DigestText& b) { return b.EqualNoCase(a); }
}  // namespace BaseFunc
