#include "sync/common/PackedText.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "sync/common/BaseFunc.h"

namespace {

// Two hex digits per byte from `digits`; false when one is no hex digit.
bool HexBytes(std::string_view digits, unsigned char* bytes) {
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        const int high = BaseFunc::HexDigitValue(digits[i]);
        const int low = BaseFunc::HexDigitValue(digits[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i / 2] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

constexpr std::uint8_t kUpperHex = 1;
constexpr std::uint8_t kLowerHex = 2;
// Where the identifier's groups of a store reference begin (after the prefix) and their
// lengths in digits.
constexpr std::size_t kGroupStart[] = {0, 9, 14, 19, 24};
constexpr std::size_t kGroupDigits[] = {8, 4, 4, 4, 12};

}  // namespace

std::uint8_t Md5HexCodec::Pack(std::string_view text, unsigned char* bytes) {
    if (text.size() != kLength) return 0;
    bool upper = false, lower = false;
    for (const char c : text) {
        upper = upper || (c >= 'A' && c <= 'F');
        lower = lower || (c >= 'a' && c <= 'f');
    }
    if ((upper && lower) || !HexBytes(text, bytes)) return 0;
    return lower ? kLowerHex : kUpperHex;
}

void Md5HexCodec::Unpack(const unsigned char* bytes, std::uint8_t form, char* out) {
    BaseFunc::WriteHexDigits(bytes, 16, form == kLowerHex, out);
}

std::uint8_t StoreRefCodec::Pack(std::string_view text, unsigned char* bytes) {
    if (text.size() != kLength || text.substr(0, kPrefix.size()) != kPrefix) return 0;
    const std::string_view id = text.substr(kPrefix.size());
    std::size_t at = 0;
    for (std::size_t group = 0; group < 5; ++group) {
        if (group > 0 && id[kGroupStart[group] - 1] != '-') return 0;
        const std::string_view digits = id.substr(kGroupStart[group], kGroupDigits[group]);
        if (std::any_of(digits.begin(), digits.end(), [](char c) { return c >= 'A' && c <= 'F'; })) return 0;
        if (!HexBytes(digits, bytes + at)) return 0;
        at += digits.size() / 2;
    }
    return kLowerHex;
}

void StoreRefCodec::Unpack(const unsigned char* bytes, std::uint8_t, char* out) {
    std::memcpy(out, kPrefix.data(), kPrefix.size());
    char* id = out + kPrefix.size();
    std::size_t at = 0;
    for (std::size_t group = 0; group < 5; ++group) {
        if (group > 0) id[kGroupStart[group] - 1] = '-';
        BaseFunc::WriteHexDigits(bytes + at, kGroupDigits[group] / 2, true, id + kGroupStart[group]);
        at += kGroupDigits[group] / 2;
    }
}

template <class Codec>
void PackedText<Codec>::Set(std::string_view text) {
    form_ = kEmpty;
    if (text.empty()) return;
    if (const std::uint8_t form = Codec::Pack(text, bytes_); form != kEmpty) {
        form_ = form;
        return;
    }
    SetText(new std::string(text));
    form_ = kText;
}

template <class Codec>
void PackedText<Codec>::CopyFrom(const PackedText& other) {
    if (other.form_ == kText) {
        SetText(new std::string(*other.Text()));
    } else if (other.IsPacked()) {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    }
    form_ = other.form_;
}

template <class Codec>
void PackedText<Codec>::MoveFrom(PackedText& other) noexcept {
    if (other.form_ == kText) {
        SetText(other.Text());
    } else if (other.IsPacked()) {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    }
    form_ = other.form_;
    other.form_ = kEmpty;
}

template <class Codec>
std::size_t PackedText<Codec>::size() const {
    if (form_ == kText) return Text()->size();
    return IsPacked() ? Codec::kLength : 0;
}

template <class Codec>
std::string PackedText<Codec>::str() const {
    if (form_ == kText) return *Text();
    if (!IsPacked()) return std::string();
    std::string text(Codec::kLength, '0');
    Codec::Unpack(bytes_, form_, text.data());
    return text;
}

template <class Codec>
bool PackedText<Codec>::operator==(const PackedText& other) const {
    if (IsPacked() && other.IsPacked()) {
        // A text packs into one form only, so the forms differ only when the texts do.
        return form_ == other.form_ && std::memcmp(bytes_, other.bytes_, sizeof bytes_) == 0;
    }
    if (form_ != other.form_) return false;
    return form_ == kEmpty || *Text() == *other.Text();
}

template <class Codec>
bool PackedText<Codec>::operator==(std::string_view text) const {
    if (form_ == kText) return *Text() == text;
    return str() == text;
}

template <class Codec>
bool PackedText<Codec>::EqualNoCase(const PackedText& other) const {
    if (IsPacked() && other.IsPacked()) return std::memcmp(bytes_, other.bytes_, sizeof bytes_) == 0;
    if (empty() || other.empty()) return empty() && other.empty();
    // A packed text never equals a text form ignoring case unless the text is the same
    // one in mixed case.
    return BaseFunc::EqualNoCase(str(), other.str());
}

template <class Codec>
bool PackedText<Codec>::EqualNoCase(std::string_view text) const {
    return BaseFunc::EqualNoCase(str(), text);
}

template <class Codec>
std::ostream& operator<<(std::ostream& out, const PackedText<Codec>& text) {
    return out << text.str();
}

template class PackedText<Md5HexCodec>;
template class PackedText<StoreRefCodec>;
template std::ostream& operator<<(std::ostream&, const PackedText<Md5HexCodec>&);
template std::ostream& operator<<(std::ostream&, const PackedText<StoreRefCodec>&);
