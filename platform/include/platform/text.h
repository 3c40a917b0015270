#pragma once
// UTF-8 <-> UTF-16 conversions. UI and path text is UTF-16 (std::u16string); files,
// network and records are UTF-8 (std::string). The strict forms refuse malformed input
// instead of repairing it; the lenient forms substitute U+FFFD and never fail.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// Strict UTF-16 -> UTF-8 of at most `length` units, stopping at the first U+0000.
// Fails on an unpaired surrogate; `out` is then empty.
bool Utf16ToUtf8(const char16_t* text, std::size_t length, std::string& out);
bool Utf16ToUtf8(std::u16string_view text, std::string& out);

// Strict UTF-8 -> UTF-16 of at most `length` bytes, stopping at the first zero byte.
// Fails on a malformed, truncated or overlong sequence, an encoded surrogate or a code
// point above U+10FFFF; `out` is then empty. Never reads past `length`.
bool Utf8ToUtf16(const char* text, std::size_t length, std::u16string& out);
bool Utf8ToUtf16(std::string_view text, std::u16string& out);

// Decodes one strict UTF-8 sequence of at most `available` bytes at `p`.
// Returns its length in bytes (1 to 4) and sets `codePoint` and `units` (UTF-16 units
// it takes: 1 or 2); 0 when the sequence is malformed or cut short.
int DecodeUtf8Char(const unsigned char* p, std::size_t available, std::uint32_t& codePoint, int& units);

// True when the bytes are well-formed UTF-8 (zero bytes included).
bool IsValidUtf8(std::string_view text);

// Lenient conversions (malformed input becomes U+FFFD).
std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view text);

// u"..." helpers for tests and literals.
inline std::u16string U16(std::string_view utf8) { return ToUtf16(utf8); }

}  // namespace plat
