#pragma once
// Small text services of the client.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// Byte size as shown in the windows: "1023  B" (two spaces), "1.50 KB", "2.00 MB" ...
// up to "PB", two decimals.
std::string FormatByteSize(std::int64_t bytes);

// Percent-encoding of UTF-8 bytes: A-Z, a-z, 0-9 and "-._~" stay, every other byte
// becomes "%" and two upper-case hexadecimal digits.
std::string UrlEncode(std::string_view text);

// A copy with every '\\' replaced by '/'.
std::string ToSlashPath(std::string_view text);

// The text with a leading UTF-8 byte-order mark skipped and every CR and LF removed.
std::string SkipUtf8Bom(std::string_view bytes);

// The decimal integer at the start of `text` as atoi reads it (leading white space, an
// optional sign, digits; anything else ends it; no digits give 0), saturated to the
// 32-bit range instead of overflowing.
std::int32_t ParseLeadingInt(std::string_view text);

// Fills a (translated) message pattern without printf: each "%s" or "%d" takes the next
// argument as it stands, "%%" gives "%", any other '%' is kept. Missing arguments give
// nothing. The pattern is never used as a format string.
std::string FillPlaceholders(std::string_view pattern, std::initializer_list<std::string_view> args);

// The placeholders of a message pattern in order, as FillPlaceholders reads them: "%s"
// and "%d" ("%%" is none).
std::string PlaceholdersOf(std::string_view pattern);

// Fills a translated pattern only when its placeholders are the key's, in the key's order;
// otherwise the English key is filled, so a translation can never make an argument appear
// where another was meant (or leave one out).
std::string FillTranslated(std::string_view key, std::string_view translation,
                           std::initializer_list<std::string_view> args);

// A translated label followed by its value ("Current version:" and "1.0.3"): a blank
// between them when the label ends with an ASCII colon (a full-width one needs none).
std::string LabelWithValue(std::string_view label, std::string_view value);
