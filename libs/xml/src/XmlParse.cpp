#include "xml/XmlDocument.h"

#include <cerrno>
#include <rapidxml/rapidxml.hpp>

#include "XmlInternal.h"
#include "platform/filefacts.h"
#include "platform/fileops.h"
#include "platform/text.h"
#include "platform/timetext.h"

using namespace xml_internal;

namespace {

// ------------------------------------------------------------------- files

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// "yyyymmdd-hhmmss" of the current UTC time.
std::string UtcStamp() {
    const plat::SystemTime t = plat::NowUtc();
    return std::to_string(t.year) + TwoDigits(t.month) + TwoDigits(t.day) + "-" + TwoDigits(t.hour) +
           TwoDigits(t.minute) + TwoDigits(t.second);
}

// Moves a file that does not parse out of the way to "<file>.bad-<UTC stamp>[-n]", unless
// it was replaced since it was read (`read`: the facts taken before reading it; a link
// is never moved); returns the new name, or "" when it stayed. Nothing is replaced.
std::string KeepAside(const std::string& path, const plat::fs::ItemFacts& read) {
    plat::fs::ItemFacts now;
    if (read.kind != plat::fs::Kind::File || !plat::fs::StatItem(path, now) || now.kind != read.kind ||
        now.inode != read.inode || now.device != read.device)
        return {};
    const std::string base = path + ".bad-" + UtcStamp();
    for (int n = 1; n < 100; ++n) {
        std::string aside = n == 1 ? base : base + "-" + std::to_string(n);
        if (plat::fs::Move(path, aside, false)) return aside;
        if (errno != EEXIST) break;
    }
    return {};
}

// ------------------------------------------------------------------ parsing

constexpr int kParseFlags = rapidxml::parse_no_string_terminators |
                            rapidxml::parse_no_entity_translation | rapidxml::parse_comment_nodes |
                            rapidxml::parse_doctype_node | rapidxml::parse_validate_closing_tags |
                            rapidxml::parse_trim_whitespace;

// Skips from `at` past the next `end`; the end of the text when there is none.
std::size_t SkipPast(std::string_view text, std::size_t at, std::string_view end) {
    const std::size_t found = text.find(end, at);
    return found == std::string_view::npos ? text.size() : found + end.size();
}

// The deepest nesting of elements in `text`, read the way the parser reads it, counted
// only up to one past `limit`. What the parser passes over without nesting (comments,
// CDATA sections, processing instructions, a DOCTYPE with its bracketed subset, other
// "<!" declarations, quoted attribute values) counts nothing. The parser stops at the
// first fault of a text, and up to there it agrees with this count, so it never nests
// deeper than the count says.
std::size_t ElementDepth(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const std::size_t open = text.find('<', i);
        if (open == std::string_view::npos || open + 1 >= n) break;
        i = open + 1;
        const char c = text[i];
        if (c == '/') {
            if (depth > 0) --depth;
            i = SkipPast(text, i, ">");
        } else if (c == '?') {
            i = SkipPast(text, i, "?>");
        } else if (c == '!') {
            if (text.substr(i, 3) == "!--") {
                i = SkipPast(text, i + 3, "-->");
            } else if (text.substr(i, 8) == "![CDATA[") {
                i = SkipPast(text, i + 8, "]]>");
            } else if (text.substr(i, 8) == "!DOCTYPE" && i + 8 < n && IsXmlSpace(text[i + 8])) {
                // To the '>' outside brackets; brackets nest.
                int brackets = 0;
                for (; i < n && (brackets > 0 || text[i] != '>'); ++i) {
                    if (text[i] == '[') ++brackets;
                    if (text[i] == ']' && brackets > 0) --brackets;
                }
                ++i;
            } else {
                i = SkipPast(text, i, ">");
            }
        } else {
            if (++depth > deepest) {
                deepest = depth;
                if (deepest > limit) return deepest;
            }
            // To the end of the start tag, over quoted attribute values.
            while (i < n) {
                const char t = text[i];
                if (t == '"' || t == '\'') {
                    i = SkipPast(text, i + 1, std::string_view(&t, 1));
                } else if (t == '>') {
                    ++i;
                    break;
                } else if (t == '/' && i + 1 < n && text[i + 1] == '>') {
                    --depth;  // an empty element
                    i += 2;
                    break;
                } else {
                    ++i;
                }
            }
        }
    }
    return deepest;
}

// Parses `text` into `doc`; `buffer` holds the text the nodes point into. A text nested
// deeper than XmlDocument::kMaxNesting is refused before the parser, which recurses per
// level, sees it.
bool ParseNodes(std::string_view text, std::vector<char>& buffer, rapidxml::xml_document<>& doc) {
    if (HasZero(text)) return false;
    if (!XmlNestingWithin(text, XmlDocument::kMaxNesting)) return false;
    buffer.assign(text.begin(), text.end());
    buffer.push_back('\0');
    try {
        doc.parse<kParseFlags>(buffer.data());
    } catch (const rapidxml::parse_error&) {
        return false;
    }
    return true;
}

std::string_view NameOf(const rapidxml::xml_base<>& item) { return {item.name(), item.name_size()}; }
std::string_view ValueOf(const rapidxml::xml_base<>& item) { return {item.value(), item.value_size()}; }

}  // namespace

bool XmlNestingWithin(std::string_view text, std::size_t limit) { return ElementDepth(text, limit) <= limit; }

// ------------------------------------------------------------------- elements

// Turns parsed nodes into elements.
struct XmlBuilder {
    // Fills `top` and the elements below it from the node's tree, one element after the
    // other from a list of pending ones (no recursion).
    static void Fill(XmlElement& top, const rapidxml::xml_node<>& topNode) {
        std::vector<std::pair<XmlElement*, const rapidxml::xml_node<>*>> pending{{&top, &topNode}};
        while (!pending.empty()) {
            const auto [element, node] = pending.back();
            pending.pop_back();
            FillOne(*element, *node, pending);
        }
    }

    // The element's own name, variables and records; its child elements are added empty
    // and queued in `pending`.
    static void FillOne(XmlElement& element, const rapidxml::xml_node<>& node,
                        std::vector<std::pair<XmlElement*, const rapidxml::xml_node<>*>>& pending) {
        element.name_ = Canonical(NameOf(node));
        for (auto* a = node.first_attribute(); a; a = a->next_attribute())
            element.AddVariable(XmlVariable::FromEncoded(NameOf(*a), ValueOf(*a)));
        for (auto* child = node.first_node(); child; child = child->next_sibling()) {
            const std::size_t place = element.ChildCount();
            switch (child->type()) {
                case rapidxml::node_element: {
                    XmlElement* sub = element.AddChild(std::make_unique<XmlElement>(&element, ""));
                    pending.emplace_back(sub, child);
                    break;
                }
                case rapidxml::node_data:
                    element.AddRecord(element.contents_, CanonicalContent(ValueOf(*child)), place);
                    break;
                case rapidxml::node_cdata:
                    element.AddRecord(element.cdata_, std::string(ValueOf(*child)), place);
                    break;
                case rapidxml::node_comment:
                    element.AddRecord(element.comments_, std::string(ValueOf(*child)), place);
                    break;
                default: break;
            }
        }
    }

    // The one element of `text`; null when it holds anything else or does not parse.
    static std::unique_ptr<XmlElement> ParseOne(XmlElement* parent, std::string_view text) {
        std::vector<char> buffer;
        auto doc = std::make_unique<rapidxml::xml_document<>>();
        if (!ParseNodes(text, buffer, *doc)) return nullptr;
        const rapidxml::xml_node<>* found = nullptr;
        for (auto* node = doc->first_node(); node; node = node->next_sibling()) {
            if (node->type() != rapidxml::node_element) return nullptr;
            if (found) return nullptr;
            found = node;
        }
        if (!found) return nullptr;
        auto element = std::make_unique<XmlElement>(parent, "");
        Fill(*element, *found);
        return element;
    }

    static std::unique_ptr<XmlElement> ParseFile(XmlElement* parent, const std::string& path) {
        std::string text;
        if (plat::fs::ReadWholeFile(path, text) != plat::fs::ReadResult::Read) return nullptr;
        return ParseOne(parent, text);
    }
};

std::unique_ptr<XmlElement> XmlElement::Parse(XmlElement* parent, std::string_view text) {
    return XmlBuilder::ParseOne(parent, text);
}

std::unique_ptr<XmlElement> xml_internal::ReadElementFile(const std::string& path) {
    return XmlBuilder::ParseFile(nullptr, path);
}

// ------------------------------------------------------------------- document

bool XmlDocument::LoadFromText(std::string_view text) {
    if (root_) root_->DeleteTemporaryFiles();
    header_ = XmlHeader();
    root_.reset();
    keptAside_.clear();
    status_ = kLoaded;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::size_t start = 0;
    while (start < text.size() && IsXmlSpace(text[start])) ++start;

    std::string_view body = text;
    if (text.substr(start, 2) == "<?") {
        const std::size_t end = text.find("?>", start);
        if (end == std::string_view::npos) {
            status_ = kParseError;  // cut off inside the declaration
        } else {
            header_.declaration_ = std::string(text.substr(start, end + 2 - start));
            body = text.substr(end + 2);
        }
    } else {
        status_ = kIncomplete;
    }

    std::vector<char> buffer;
    auto doc = std::make_unique<rapidxml::xml_document<>>();
    if (status_ != kParseError && !ParseNodes(body, buffer, *doc)) status_ = kParseError;
    if (status_ != kParseError) {
        for (auto* node = doc->first_node(); node; node = node->next_sibling()) {
            switch (node->type()) {
                case rapidxml::node_element:
                    if (root_) {
                        status_ = kParseError;  // a second root: not one document
                        break;
                    }
                    root_ = std::make_unique<XmlElement>(nullptr, "");
                    XmlBuilder::Fill(*root_, *node);
                    break;
                case rapidxml::node_comment:
                    (root_ ? header_.after_ : header_.before_).emplace_back(ValueOf(*node));
                    break;
                case rapidxml::node_doctype:
                    if (header_.docType_.empty())
                        header_.docType_ = "DOCTYPE " + std::string(ValueOf(*node));
                    break;
                default: break;
            }
        }
    }
    if (status_ == kParseError) {
        header_ = XmlHeader();
        root_.reset();
    }
    if (!root_) {
        if (status_ == kLoaded) status_ = kIncomplete;
        root_ = std::make_unique<XmlElement>();
    }
    return status_ != kParseError;
}

bool XmlDocument::Load(const std::string& path) {
    Reset();
    wideNames_ = false;
    path_ = path;
    // The facts before reading tell later whether the file is still the one read.
    plat::fs::ItemFacts facts;
    if (!plat::fs::StatItem(path, facts)) facts = plat::fs::ItemFacts();
    std::string text;
    if (plat::fs::ReadWholeFile(path, text) != plat::fs::ReadResult::Read || text.empty()) {
        // Missing, unreadable or empty: an empty document.
        root_ = std::make_unique<XmlElement>();
        return true;
    }
    if (LoadFromText(text)) return true;
    keptAside_ = KeepAside(path, facts);
    return false;
}

bool XmlDocument::Load(const std::u16string& path) {
    std::string utf8;
    if (!plat::Utf16ToUtf8(path, utf8)) {
        // A path that is no text cannot name a file: as for a missing one.
        Reset();
        root_ = std::make_unique<XmlElement>();
        wideNames_ = true;
        return true;
    }
    const bool ok = Load(utf8);
    wideNames_ = true;
    return ok;
}
