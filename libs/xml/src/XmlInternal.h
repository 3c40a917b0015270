#pragma once
// What the three parts of the XML library share: the document model (XmlDocument.cpp),
// the reader (XmlParse.cpp) and the writer (XmlWrite.cpp). Internal to the library.
#include <memory>
#include <string>
#include <string_view>

class XmlElement;

namespace xml_internal {

bool IsXmlSpace(char c);

// A name that reads back as one name.
bool IsWritableName(std::string_view name);
bool HasZero(std::string_view text);
bool IsWritableComment(std::string_view text);
bool IsWritableCData(std::string_view text);
bool IsWritableContent(std::string_view text);
// A content with its leading and trailing blanks as character references.
std::string EncodeContent(std::string_view text);
// A text read from a file in the form this library writes.
std::string Canonical(std::string_view raw);
std::string CanonicalContent(std::string_view raw);

// Writes `data` to a temporary file beside `path`, flushes it and renames it over `path`
// (mode 0600); the old file stays as it was on any failure.
bool WriteFileAtomically(const std::string& path, std::string_view data);

// The one element the file at `path` holds (an unloaded element's file); null when the
// file cannot be read or holds anything else.
std::unique_ptr<XmlElement> ReadElementFile(const std::string& path);

}  // namespace xml_internal
