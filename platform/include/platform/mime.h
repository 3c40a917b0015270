#pragma once
// MIME type by file extension, from /etc/mime.types (read once).
#include <string>
#include <string_view>

namespace plat {

// `extension` with its dot (".txt"), matched ignoring ASCII case. Empty when unknown.
std::string LookupMimeType(std::string_view extension);
// Same over another mime.types file (tests); not cached.
std::string LookupMimeTypeIn(const std::string& mimeTypesFile, std::string_view extension);

}  // namespace plat
