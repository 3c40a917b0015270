#pragma once
// Reading a reply body of the web API: the one parser behind every call of CWebCloud, for
// readers outside this library too (the listing's fuzz target, the tests).
#include <string>

#include <rapidjson/document.h>

namespace webcloud {

// Parses a reply body; false on a parse error (a body nested too deeply is one).
bool ParseReply(const std::string& text, rapidjson::Document& doc);

}  // namespace webcloud
