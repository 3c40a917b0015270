#pragma once
// Small text helpers of the test server: names, node references, dates, digests, base64.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testserver {

// Prefix of every node reference; a reference is this prefix followed by the node's id.
inline constexpr std::string_view kRefPrefix = "workspace://SpacesStore/";
// The same reference as it appears in a URL path ("://" replaced by "/").
inline constexpr std::string_view kRefPathPrefix = "workspace/SpacesStore/";

std::string MakeRef(std::string_view id);
// The id of a full reference ("workspace://SpacesStore/<id>"); nullopt for any other text.
std::optional<std::string> IdFromRef(std::string_view ref);
// The id of a reference in path form ("workspace/SpacesStore/<id>"); nullopt otherwise.
std::optional<std::string> IdFromPathRef(std::string_view pathRef);

bool IsValidUtf8(std::string_view text);
// True when the text can be an item name: not empty, not "." or "..", valid UTF-8, and
// free of '/', '\\', NUL and control characters.
bool IsValidItemName(std::string_view name);
// Case-folded form used to keep names unique within a folder without regard to case.
std::string FoldName(std::string_view name);

// "Thu Jan 01 00:00:00 GMT 1970": the server's date text, in UTC.
std::string FormatServerDate(std::int64_t unixSeconds);
std::int64_t NowSeconds();

// MD5 of the bytes as 32 upper-case hexadecimal digits.
std::string Md5HexUpper(std::string_view bytes);
class Md5Stream {
public:
    Md5Stream();
    ~Md5Stream();
    Md5Stream(const Md5Stream&) = delete;
    Md5Stream& operator=(const Md5Stream&) = delete;
    void Update(const void* data, std::size_t size);
    std::string FinalHexUpper();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

std::string Base64Encode(std::string_view bytes);
// nullopt when the text is not valid base64.
std::optional<std::string> Base64Decode(std::string_view text);

bool EqualsNoCaseAscii(std::string_view a, std::string_view b);
// Equal texts, compared in a time that does not depend on where they first differ.
bool EqualsConstantTime(std::string_view a, std::string_view b);
// `bytes` bytes from the kernel's random source as lower-case hexadecimal; throws
// std::runtime_error when the source fails.
std::string RandomHex(std::size_t bytes);
std::string TrimSpace(std::string_view text);  // blanks, tabs, CR and LF at both ends
std::vector<std::string> SplitPath(std::string_view path, bool& ok);  // "/a/b" -> {a, b}

}  // namespace testserver
