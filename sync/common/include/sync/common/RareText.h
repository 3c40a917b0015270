#pragma once
// A text field that is empty for nearly every record (a file's short name): one pointer
// while empty, the text in an allocation of its own otherwise. Reads and compares as the
// text it holds.
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

class RareText {
public:
    RareText() = default;
    RareText(const RareText& other) { *this = other; }
    RareText(RareText&&) noexcept = default;
    RareText& operator=(const RareText& other) {
        if (this != &other) *this = other.view();
        return *this;
    }
    RareText& operator=(RareText&&) noexcept = default;
    RareText& operator=(std::string_view text) {
        if (text.empty()) {
            text_.reset();
        } else {
            text_ = std::make_unique<std::string>(text);
        }
        return *this;
    }
    RareText& operator=(const std::string& text) { return *this = std::string_view(text); }
    RareText& operator=(const char* text) { return *this = std::string_view(text); }

    bool empty() const { return !text_; }
    std::size_t size() const { return text_ ? text_->size() : 0; }
    void clear() { text_.reset(); }
    std::string_view view() const { return text_ ? std::string_view(*text_) : std::string_view(); }
    std::string str() const { return std::string(view()); }
    operator std::string() const { return str(); }

    bool operator==(std::string_view text) const { return view() == text; }
    bool operator==(const RareText& other) const { return view() == other.view(); }

private:
    std::unique_ptr<std::string> text_;
};

inline std::ostream& operator<<(std::ostream& out, const RareText& text) { return out << text.view(); }
