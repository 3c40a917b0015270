#pragma once
// Text conversions of the sync program. Records hold UTF-8 bytes, paths and window texts
// are UTF-16. The UTF conversions are strict: malformed input is refused (and logged to
// "DravikSyncLog"), never repaired. The "ANSI code page" is UTF-8 here, so the ANSI
// conversions are the lenient UTF conversions (malformed input becomes U+FFFD).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// UTF-16 -> UTF-8 of at most `length` units, stopping at the first U+0000. False on an
// unpaired surrogate; `out` is then empty. A length of 0 gives an empty text and true.
bool UTF16toUTF8(const char16_t* text, std::size_t length, std::string& out);
// The same over a zero-terminated text (null counts as empty).
bool UTF16toUTF8(const char16_t* text, std::string& out);
bool UTF16toUTF8(const std::u16string& text, std::string& out);

// UTF-8 -> UTF-16 of at most `length` bytes, stopping at the first zero byte. False on a
// malformed or cut-short sequence, an overlong form, an encoded surrogate or a code point
// above U+10FFFF; `out` is then empty. Nothing past `length` is read.
bool UTF8toUTF16(const char* text, std::size_t length, std::u16string& out);
bool UTF8toUTF16(const std::string& text, std::u16string& out);

// Decodes one strict UTF-8 sequence of at most `available` bytes at `p`: its length in
// bytes (1 to 4), or 0 when it is malformed or cut short. `unitSize` receives the number
// of UTF-16 units the code point takes (1 or 2).
int DecodeUTF8Char(const unsigned char* p, std::size_t available, std::uint32_t& codePoint,
                   int& unitSize);

// The bytes made safe for a log line: valid UTF-8 stays as it is, except control
// characters and backslashes; those and every byte of a malformed sequence are written
// as \xNN.
std::string EscapeForLog(std::string_view bytes);

namespace BaseFunc {
// UTF-8 form of the text up to its first U+0000; an unpaired surrogate becomes U+FFFD.
std::string WideToUtf8(const std::u16string& text);
// "ANSI" (UTF-8) bytes up to the first zero byte, to UTF-16; malformed bytes become U+FFFD.
std::u16string AnsiToWide(const std::string& text);
// UTF-16 up to its first U+0000, to "ANSI" (UTF-8) bytes.
std::string WideToAnsi(const std::u16string& text);
}  // namespace BaseFunc
