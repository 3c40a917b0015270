#include "sync/common/DigestText.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "sync/common/BaseFunc.h"

namespace {

constexpr std::size_t kHexLength = 32;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

void DigestText::Set(std::string_view text) {
    form_ = Form::Empty;
    if (text.empty()) return;
    if (text.size() == kHexLength) {
        bool upper = false, lower = false, hex = true;
        for (const char c : text) {
            if (HexValue(c) < 0) {
                hex = false;
                break;
            }
            upper = upper || (c >= 'A' && c <= 'F');
            lower = lower || (c >= 'a' && c <= 'f');
        }
        if (hex && !(upper && lower)) {
            for (std::size_t i = 0; i < 16; ++i) {
                bytes_[i] = static_cast<unsigned char>(HexValue(text[2 * i]) << 4 | HexValue(text[2 * i + 1]));
            }
            form_ = lower ? Form::LowerHex : Form::UpperHex;
            return;
        }
    }
    text_ = new std::string(text);
    form_ = Form::Text;
}

void DigestText::Release() {
    if (form_ == Form::Text) delete text_;
    form_ = Form::Empty;
}

void DigestText::CopyFrom(const DigestText& other) {
    if (other.form_ == Form::Text) {
        text_ = new std::string(*other.text_);
    } else if (other.IsHex()) {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    }
    form_ = other.form_;
}

void DigestText::MoveFrom(DigestText& other) noexcept {
    if (other.form_ == Form::Text) {
        text_ = other.text_;
    } else if (other.IsHex()) {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    }
    form_ = other.form_;
    other.form_ = Form::Empty;
}

std::size_t DigestText::size() const {
    if (form_ == Form::Text) return text_->size();
    return IsHex() ? kHexLength : 0;
}

std::string DigestText::str() const {
    if (form_ == Form::Text) return *text_;
    if (!IsHex()) return std::string();
    const char* digits = form_ == Form::LowerHex ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string text(kHexLength, '0');
    for (std::size_t i = 0; i < 16; ++i) {
        text[2 * i] = digits[bytes_[i] >> 4];
        text[2 * i + 1] = digits[bytes_[i] & 15];
    }
    return text;
}

bool DigestText::operator==(const DigestText& other) const {
    if (IsHex() && other.IsHex()) {
        // A digest without letters is always kept as upper case, so the forms differ only
        // when the texts do.
        return form_ == other.form_ && std::memcmp(bytes_, other.bytes_, sizeof bytes_) == 0;
    }
    if (form_ != other.form_) return false;
    return form_ == Form::Empty || *text_ == *other.text_;
}

bool DigestText::operator==(std::string_view text) const {
    if (form_ == Form::Text) return *text_ == text;
    return str() == text;
}

bool DigestText::EqualNoCase(const DigestText& other) const {
    if (IsHex() && other.IsHex()) return std::memcmp(bytes_, other.bytes_, sizeof bytes_) == 0;
    if (empty() || other.empty()) return empty() && other.empty();
    // A hex digest never equals a text form ignoring case unless the text is the same
    // digest in mixed case.
    return BaseFunc::EqualNoCase(str(), other.str());
}

bool DigestText::EqualNoCase(std::string_view text) const { return BaseFunc::EqualNoCase(str(), text); }

std::ostream& operator<<(std::ostream& out, const DigestText& digest) { return out << digest.str(); }
