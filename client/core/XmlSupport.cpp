#include "client/core/XmlSupport.h"

#include <iterator>

#include <rapidxml/rapidxml_print.hpp>

#include "xml/XmlDocument.h"

namespace xmlsupport {

bool ParsedXml::Parse(std::string_view text) {
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    doc_.clear();
    // rapidxml recurses per level: a file nested too deep is refused before it.
    if (!XmlNestingWithin(text, XmlDocument::kMaxNesting)) return false;
    buffer_.assign(text.begin(), text.end());
    buffer_.push_back('\0');
    try {
        doc_.parse<rapidxml::parse_default>(buffer_.data());
    } catch (const rapidxml::parse_error&) {
        doc_.clear();
        return false;
    }
    return true;
}

void StartDocument(rapidxml::xml_document<>& doc) {
    doc.clear();
    doc.append_node(doc.allocate_node(rapidxml::node_pi, "xml", "version='1.0' encoding='utf-8'"));
}

const char* Keep(rapidxml::xml_document<>& doc, std::string_view text) {
    // Values end at a NUL byte, as the printed file could not carry one.
    text = text.substr(0, text.find('\0'));
    char* s = doc.allocate_string(nullptr, text.size() + 1);
    text.copy(s, text.size());
    s[text.size()] = '\0';
    return s;
}

std::string Print(const rapidxml::xml_document<>& doc) {
    std::string out;
    rapidxml::print(std::back_inserter(out), doc);
    return out;
}

std::string ValueOf(const rapidxml::xml_base<>* item) {
    return item ? std::string(item->value(), item->value_size()) : std::string();
}

}  // namespace xmlsupport
