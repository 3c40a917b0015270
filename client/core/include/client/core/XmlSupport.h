#pragma once
// Shared pieces of the client's small XML files (rapidxml).
#include <string>
#include <string_view>
#include <vector>

#include <rapidxml/rapidxml.hpp>

namespace xmlsupport {

// A document parsed from a private copy of the text (a leading UTF-8 byte-order mark
// skipped). Parse is false when the text is not well-formed or nests elements deeper
// than XmlDocument::kMaxNesting.
class ParsedXml {
public:
    bool Parse(std::string_view text);
    rapidxml::xml_node<>* Root(const char* name) { return doc_.first_node(name); }

private:
    std::vector<char> buffer_;
    rapidxml::xml_document<> doc_;
};

// A new document holding the declaration "xml version='1.0' encoding='utf-8'".
void StartDocument(rapidxml::xml_document<>& doc);
// Text copied into the document's pool.
const char* Keep(rapidxml::xml_document<>& doc, std::string_view text);
// The document as the printer writes it: tab indentation, a newline after each node.
std::string Print(const rapidxml::xml_document<>& doc);
// A node's or attribute's value ("" for none).
std::string ValueOf(const rapidxml::xml_base<>* item);

}  // namespace xmlsupport
