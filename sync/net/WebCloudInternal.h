#pragma once
// Helpers shared by the source files of CWebCloud; internal to this library (the reply
// parser is public, in ServerReply.h).
#include <cstdint>
#include <string>
#include <string_view>

#include <rapidjson/document.h>

#include "sync/net/ServerReply.h"

struct ServerAddress;

namespace webcloud {

// Alert line of the web API: the message (ending in "filepath:"), the source name and the
// line number.
void LogAlert(const std::string& message, int line);
// The text made safe for a log line.
std::string Quoted(std::string_view text);

// The string member `name` of an object value; false when missing or not a string.
bool StringMember(const rapidjson::Value& object, const char* name, std::string& out);
// True when `word` occurs in `text` (ASCII case ignored) at the start of a word, so that
// "Delete SUCCESS" holds "success" and "unsuccessful" does not.
bool HoldsWord(std::string_view text, std::string_view word);

// Header block of the JSON calls: `accept` is the value of the Accept line.
std::string JsonHeaderBlock(const ServerAddress& address, std::string_view accept, std::uint64_t bodyLength,
                            const std::string& cookie);
// Header block of the uploads.
std::string UploadHeaderBlock(const ServerAddress& address, const std::string& boundary, std::uint64_t bodyLength);

}  // namespace webcloud
