#include "xml/XmlDocument.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <rapidxml/rapidxml.hpp>

#include "platform/filefacts.h"
#include "platform/fileops.h"
#include "platform/text.h"
#include "platform/timetext.h"

namespace {

constexpr char kLineEnd[] = "\r\n";

// ------------------------------------------------------------------ entities

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A code point as UTF-8, through its UTF-16 form.
void AppendUtf8(std::uint32_t cp, std::string& out) {
    std::u16string units;
    if (cp < 0x10000) {
        units += static_cast<char16_t>(cp);
    } else {
        units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
    out += plat::ToUtf8(units);
}

// Reads "&#123;" or "&#x7B;" at `at`; returns its length (0 when it is none) and the value.
std::size_t ReadCharRef(std::string_view text, std::size_t at, std::uint32_t& value) {
    if (text.substr(at, 2) != "&#") return 0;
    std::size_t i = at + 2;
    const bool hex = i < text.size() && text[i] == 'x';
    if (hex) ++i;
    const std::size_t digitsStart = i;
    std::uint64_t v = 0;
    for (; i < text.size() && text[i] != ';'; ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return 0;
        v = v * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
        if (v > 0x10FFFF) return 0;
    }
    if (i == digitsStart || i >= text.size()) return 0;
    value = static_cast<std::uint32_t>(v);
    return i + 1 - at;
}

// ---------------------------------------------------------------- validity

// A name that reads back as one name.
bool IsWritableName(std::string_view name) {
    if (name.empty()) return false;
    for (unsigned char c : name) {
        if (c <= 0x20 || c == '/' || c == '=' || c == '<' || c == '>' || c == '?' || c == '!' ||
            c == '"' || c == '\'')
            return false;
    }
    return true;
}

bool HasZero(std::string_view text) { return text.find('\0') != std::string_view::npos; }

bool IsWritableComment(std::string_view text) {
    return !HasZero(text) && text.find("-->") == std::string_view::npos;
}
bool IsWritableCData(std::string_view text) {
    return !HasZero(text) && text.find("]]>") == std::string_view::npos;
}
bool IsWritableContent(std::string_view text) {
    return !HasZero(text) && text.find('<') == std::string_view::npos;
}

// Contents keep their leading and trailing blanks as character references, since the
// reader drops the line breaks and indentation around a content.
std::string EncodeContent(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsXmlSpace(text[begin])) ++begin;
    while (end > begin && IsXmlSpace(text[end - 1])) --end;
    std::string out;
    auto blanks = [&](std::string_view part) {
        for (char c : part) out += "&#" + std::to_string(static_cast<int>(c)) + ";";
    };
    blanks(text.substr(0, begin));
    EncodeEntities(text.substr(begin, end - begin), &out);
    blanks(text.substr(end));
    return out;
}

// Texts read from a file are kept in the form this library writes, so a value that was
// written by hand (a bare '&', single quotes around a '"') is written back readable.
std::string Canonical(std::string_view raw) { return EncodeEntities(DecodeEntities(raw)); }
std::string CanonicalContent(std::string_view raw) { return EncodeContent(DecodeEntities(raw)); }

// ------------------------------------------------------------------- files

// Writes `data` to a temporary file beside `path`, flushes it and renames it over
// `path` (mode 0600). The old file stays as it was on any failure, and the temporary is
// removed.
bool WriteFileAtomically(const std::string& path, std::string_view data) {
    return plat::fs::WriteFileAtomic(path, data, 0600);
}

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

// ------------------------------------------------------------------ entities

std::size_t EncodeEntities(std::string_view text, std::string* out) {
    std::size_t length = 0;
    for (char c : text) {
        const char* entity = nullptr;
        switch (c) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            case '\'': entity = "&apos;"; break;
        }
        if (entity) {
            const std::string_view e(entity);
            length += e.size();
            if (out) out->append(e);
        } else {
            ++length;
            if (out) out->push_back(c);
        }
    }
    return length;
}

std::string EncodeEntities(std::string_view text) {
    std::string out;
    out.reserve(EncodeEntities(text, nullptr));
    EncodeEntities(text, &out);
    return out;
}

void DecodeEntities(std::string_view text, std::string& out) {
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    out.clear();
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        bool named = false;
        for (const auto& [entity, c] : kNamed) {
            if (text.substr(i, entity.size()) == entity) {
                out += c;
                i += entity.size();
                named = true;
                break;
            }
        }
        if (named) continue;
        std::uint32_t cp = 0;
        std::size_t length = ReadCharRef(text, i, cp);
        if (length && cp >= 0xD800 && cp <= 0xDBFF) {
            // A UTF-16 pair written as two references.
            std::uint32_t low = 0;
            const std::size_t lowLength = ReadCharRef(text, i + length, low);
            if (lowLength && low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                length += lowLength;
            } else {
                length = 0;
            }
        }
        if (length && cp != 0 && !(cp >= 0xD800 && cp <= 0xDFFF)) {
            AppendUtf8(cp, out);
            i += length;
        } else {
            out += text[i++];  // not a reference we can decode: kept as written
        }
    }
}

std::string DecodeEntities(std::string_view text) {
    std::string out;
    DecodeEntities(text, out);
    return out;
}

// ------------------------------------------------------------------ variables

XmlVariable::XmlVariable(std::string_view name, std::string_view value)
    : name_(EncodeEntities(name)), value_(EncodeEntities(value)) {}

XmlVariable::XmlVariable(std::string_view name, std::int64_t value)
    : name_(EncodeEntities(name)), value_(std::to_string(value)) {}

std::unique_ptr<XmlVariable> XmlVariable::FromEncoded(std::string_view name, std::string_view value) {
    std::unique_ptr<XmlVariable> variable(new XmlVariable);
    variable->name_ = Canonical(name);
    variable->value_ = Canonical(value);
    return variable;
}

void XmlVariable::SetValue(std::int64_t number) { value_ = std::to_string(number); }

std::int64_t XmlVariable::GetInt64() const {
    const std::string text = GetValue();
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    return end == text.c_str() ? 0 : static_cast<std::int64_t>(v);
}

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

XmlElement::XmlElement(XmlElement* parent, std::string_view name)
    : parent_(parent), name_(EncodeEntities(name)) {}

XmlElement::~XmlElement() {
    // The subtree dies one element at a time, each without children of its own by then,
    // so that no depth of nesting can exhaust the stack.
    std::vector<std::unique_ptr<XmlElement>> pending;
    const auto takeChildren = [&pending](XmlElement& element) {
        while (element.children_.Count() > 0) pending.push_back(element.children_.Remove(element.children_.Count() - 1));
    };
    takeChildren(*this);
    while (!pending.empty()) {
        std::unique_ptr<XmlElement> element = std::move(pending.back());
        pending.pop_back();
        takeChildren(*element);
    }
}

std::unique_ptr<XmlElement> XmlElement::Parse(XmlElement* parent, std::string_view text) {
    return XmlBuilder::ParseOne(parent, text);
}

void XmlElement::SetIndent(bool withSpaces, unsigned count) {
    indentWithSpaces_ = withSpaces;
    indentCount_ = count;
}

XmlVariable* XmlElement::FindVariable(std::string_view name) const {
    const std::string encoded = EncodeEntities(name);
    for (std::size_t i = 0; i < variables_.Count(); ++i)
        if (variables_.At(i)->name_ == encoded) return variables_.At(i);
    return nullptr;
}

XmlVariable* XmlElement::InsertVariable(std::size_t index, std::unique_ptr<XmlVariable> variable) {
    if (!variable) return nullptr;
    variable->owner_ = this;
    return variables_.Insert(index, std::move(variable));
}

XmlVariable* XmlElement::AddVariable(std::unique_ptr<XmlVariable> variable) {
    return InsertVariable(variables_.Count(), std::move(variable));
}

XmlVariable* XmlElement::AddVariable(std::string_view name, std::string_view value) {
    return AddVariable(std::make_unique<XmlVariable>(name, value));
}

XmlVariable* XmlElement::AddVariable(std::string_view name, std::int64_t value) {
    return AddVariable(std::make_unique<XmlVariable>(name, value));
}

bool XmlElement::RemoveVariable(std::size_t index) { return variables_.Remove(index) != nullptr; }

XmlElement* XmlElement::InsertChild(std::size_t index, std::unique_ptr<XmlElement> child) {
    if (!child) return nullptr;
    index = std::min(index, children_.Count());
    // Records after the insertion point move one place on with the children they follow.
    for (auto* records : {&contents_, &comments_, &cdata_})
        for (std::size_t i = 0; i < records->Count(); ++i)
            if (records->At(i)->position_ > index) ++records->At(i)->position_;
    child->parent_ = this;
    return children_.Insert(index, std::move(child));
}

XmlElement* XmlElement::AddChild(std::unique_ptr<XmlElement> child) {
    return InsertChild(children_.Count(), std::move(child));
}

XmlElement* XmlElement::AddChild(std::string_view name) {
    return AddChild(std::make_unique<XmlElement>(this, name));
}

bool XmlElement::RemoveChild(std::size_t index) {
    std::unique_ptr<XmlElement> child = children_.Remove(index);
    if (!child) return false;
    child->DeleteTemporaryFiles();
    for (auto* records : {&contents_, &comments_, &cdata_})
        for (std::size_t i = 0; i < records->Count(); ++i)
            if (records->At(i)->position_ > index) --records->At(i)->position_;
    return true;
}

XmlText* XmlElement::AddRecord(XmlArray<XmlText>& records, std::string text, std::size_t position) {
    return records.Append(std::make_unique<XmlText>(text, position, nextOrder_++));
}

std::string XmlElement::GetContentText(std::size_t index) const {
    const XmlText* content = contents_.At(index);
    return content ? DecodeEntities(content->Text()) : std::string();
}

XmlText* XmlElement::AddContent(std::string_view text) { return AddContent(text, ChildCount()); }

XmlText* XmlElement::AddContent(std::string_view text, std::size_t position) {
    if (HasZero(text)) return nullptr;
    return AddRecord(contents_, EncodeContent(text), position);
}

XmlText* XmlElement::AddComment(std::string_view text) { return AddComment(text, ChildCount()); }

XmlText* XmlElement::AddComment(std::string_view text, std::size_t position) {
    if (!IsWritableComment(text)) return nullptr;
    return AddRecord(comments_, std::string(text), position);
}

XmlText* XmlElement::AddCData(std::string_view text) { return AddCData(text, ChildCount()); }

XmlText* XmlElement::AddCData(std::string_view text, std::size_t position) {
    if (!IsWritableCData(text)) return nullptr;
    return AddRecord(cdata_, std::string(text), position);
}

bool XmlElement::IsValid() const {
    std::vector<const XmlElement*> pending{this};  // no recursion, whatever the depth
    while (!pending.empty()) {
        const XmlElement& e = *pending.back();
        pending.pop_back();
        if (e.name_.empty()) return false;
        for (std::size_t i = 0; i < e.variables_.Count(); ++i)
            if (!e.variables_.At(i) || e.variables_.At(i)->name_.empty()) return false;
        for (const auto* records : {&e.contents_, &e.comments_, &e.cdata_})
            for (std::size_t i = 0; i < records->Count(); ++i)
                if (!records->At(i)) return false;
        for (std::size_t i = 0; i < e.children_.Count(); ++i) {
            if (!e.children_.At(i)) return false;
            pending.push_back(e.children_.At(i));
        }
    }
    return true;
}

void XmlElement::Clear() {
    variables_.Clear();
    children_.Clear();
    contents_.Clear();
    comments_.Clear();
    cdata_.Clear();
    nextOrder_ = 0;
}

// ------------------------------------------------------------------- writing

// The writer walks the tree with an explicit list of open elements rather than by
// recursion, so any depth of nesting is written; indentation stops growing at
// XmlElement::kMaxIndentLevels levels, so the output grows with the depth, not its square.
struct XmlWriter {
    enum Kind { kContent, kComment, kCData };
    struct Item {
        const XmlText* text;
        Kind kind;
    };
    // An element whose start tag is written and whose end tag is not.
    struct Open {
        const XmlElement* element;
        std::unique_ptr<XmlElement> loaded;  // owns `element` when it was read back from its file
        unsigned depth;
        std::vector<Item> items;  // its records, in the order they are written
        std::size_t nextItem = 0;
        std::size_t nextChild = 0;
    };

    std::string& out;
    std::vector<Open> open;

    void Indent(const XmlElement& element, unsigned depth) {
        const unsigned levels = std::min<unsigned>(depth, XmlElement::kMaxIndentLevels);
        out.append(static_cast<std::size_t>(levels) * element.indentCount_, element.indentWithSpaces_ ? ' ' : '\t');
    }

    // Records in their places among the children, in the order they were added.
    static std::vector<Item> ItemsOf(const XmlElement& element) {
        std::vector<Item> items;
        for (std::size_t i = 0; i < element.contents_.Count(); ++i) items.push_back({element.contents_.At(i), kContent});
        for (std::size_t i = 0; i < element.comments_.Count(); ++i) items.push_back({element.comments_.At(i), kComment});
        for (std::size_t i = 0; i < element.cdata_.Count(); ++i) items.push_back({element.cdata_.At(i), kCData});
        const std::size_t childCount = element.children_.Count();
        std::stable_sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
            const std::size_t placeA = Place(a, childCount), placeB = Place(b, childCount);
            return placeA != placeB ? placeA < placeB : a.text->order_ < b.text->order_;
        });
        return items;
    }
    static std::size_t Place(const Item& item, std::size_t childCount) {
        return std::min(item.text->Position(), childCount);
    }

    // Writes the start tag (or the whole of an empty element); an element with anything
    // inside stays open.
    bool Start(const XmlElement& given, unsigned depth) {
        const XmlElement* element = &given;
        std::unique_ptr<XmlElement> loaded;
        if (given.unloaded_) {
            loaded = XmlBuilder::ParseFile(nullptr, given.unloadFile_);
            if (!loaded) return false;
            loaded->SetIndent(given.indentWithSpaces_, given.indentCount_);
            element = loaded.get();
        }
        if (!IsWritableName(element->name_)) return false;
        Indent(*element, depth);
        out += '<';
        out += element->name_;
        for (std::size_t i = 0; i < element->variables_.Count(); ++i) {
            const XmlVariable& v = *element->variables_.At(i);
            const std::string& name = v.EncodedName();
            const std::string& value = v.EncodedValue();
            if (!IsWritableName(name) || HasZero(value) || value.find('"') != std::string::npos) return false;
            out += ' ';
            out += name;
            out += "=\"";
            out += value;
            out += '"';
        }
        if (!element->children_.Count() && !element->contents_.Count() && !element->comments_.Count() &&
            !element->cdata_.Count()) {
            out += "/>";
            out += kLineEnd;
            return true;
        }
        out += '>';
        out += kLineEnd;
        open.push_back(Open{element, std::move(loaded), depth, ItemsOf(*element)});
        return true;
    }

    bool WriteItem(const XmlElement& element, const Item& item, unsigned depth) {
        const std::string& text = item.text->Text();
        Indent(element, depth);
        switch (item.kind) {
            case kContent:
                if (!IsWritableContent(text)) return false;
                out += text;
                break;
            case kComment:
                if (!IsWritableComment(text)) return false;
                out += "<!--" + text + "-->";
                break;
            case kCData:
                if (!IsWritableCData(text)) return false;
                out += "<![CDATA[" + text + "]]>";
                break;
        }
        out += kLineEnd;
        return true;
    }

    bool Write(const XmlElement& top, unsigned depth) {
        if (!Start(top, depth)) return false;
        while (!open.empty()) {
            Open& current = open.back();
            const XmlElement& element = *current.element;
            const std::size_t childCount = element.children_.Count();
            while (current.nextItem < current.items.size() &&
                   Place(current.items[current.nextItem], childCount) == current.nextChild) {
                if (!WriteItem(element, current.items[current.nextItem++], current.depth + 1)) return false;
            }
            if (current.nextChild < childCount) {
                const XmlElement& child = *element.children_.At(current.nextChild++);
                if (!Start(child, current.depth + 1)) return false;  // `current` may move here
                continue;
            }
            Indent(element, current.depth);
            out += "</" + element.name_ + ">";
            out += kLineEnd;
            open.pop_back();
        }
        return true;
    }
};

bool XmlElement::Write(std::string& out, unsigned depth) const {
    XmlWriter writer{out, {}};
    return writer.Write(*this, depth);
}

bool XmlElement::Export(std::string& buffer, unsigned depth) const {
    std::string text;
    if (!Write(text, depth)) return false;
    buffer += text;
    return true;
}

bool XmlElement::Export(std::FILE* file, unsigned depth) const {
    std::string text;
    if (!file || !Write(text, depth)) return false;
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

bool XmlElement::Export(XmlKeyTarget& target) const {
    std::vector<std::string> path;
    return WriteKeys(target, path);
}

bool XmlElement::WriteKeys(XmlKeyTarget& target, std::vector<std::string>& path) const {
    // An element's own values, then its children's below "E<i>", walked with a list of
    // open elements instead of recursion.
    const auto ownKeys = [&](const XmlElement& e) {
        for (std::size_t i = 0; i < e.variables_.Count(); ++i) {
            const XmlVariable& v = *e.variables_.At(i);
            if (!target.SetString(path, "V" + v.GetName(), v.GetValue())) return false;
        }
        for (std::size_t i = 0; i < e.comments_.Count(); ++i)
            if (!target.SetString(path, "C" + std::to_string(i), e.comments_.At(i)->Text())) return false;
        // Contents and CDATA sections share one numbering so that neither overwrites the other.
        std::size_t data = 0;
        for (std::size_t i = 0; i < e.contents_.Count(); ++i)
            if (!target.SetString(path, "D" + std::to_string(data++), e.GetContentText(i))) return false;
        for (std::size_t i = 0; i < e.cdata_.Count(); ++i)
            if (!target.SetString(path, "D" + std::to_string(data++), e.cdata_.At(i)->Text())) return false;
        return true;
    };
    struct Open {
        const XmlElement* element;
        std::unique_ptr<XmlElement> loaded;  // owns `element` when read back from its file
        std::size_t nextChild = 0;
    };
    std::vector<Open> open;
    const auto enter = [&](const XmlElement& given) {
        std::unique_ptr<XmlElement> loaded;
        if (given.unloaded_) {
            loaded = XmlBuilder::ParseFile(nullptr, given.unloadFile_);
            if (!loaded) return false;
        }
        const XmlElement& element = loaded ? *loaded : given;
        if (!ownKeys(element)) return false;
        open.push_back(Open{&element, std::move(loaded)});
        return true;
    };
    const std::size_t base = path.size();
    if (!enter(*this)) return false;
    while (!open.empty()) {
        Open& current = open.back();
        if (current.nextChild < current.element->children_.Count()) {
            const std::size_t i = current.nextChild++;
            const XmlElement& child = *current.element->children_.At(i);
            path.push_back("E" + std::to_string(i));
            if (!enter(child)) {
                path.resize(base);
                return false;
            }
            continue;
        }
        open.pop_back();
        if (!open.empty()) path.pop_back();
    }
    return true;
}

// ------------------------------------------------------------------ unloading

std::string XmlElement::PositionName() const {
    std::vector<std::size_t> indexes;
    for (const XmlElement* e = this; e->parent_; e = e->parent_) {
        const XmlElement* parent = e->parent_;
        std::size_t i = 0;
        while (i < parent->children_.Count() && parent->children_.At(i) != e) ++i;
        indexes.push_back(i);
    }
    std::string name;
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
        if (!name.empty()) name += '-';
        name += std::to_string(*it);
    }
    return name;
}

bool XmlElement::UnloadChild(std::size_t index, const std::string& filePrefix) {
    XmlElement* child = children_.At(index);
    if (!child || child->unloaded_) return false;
    std::string text;
    if (!child->Write(text, 0)) return false;
    const std::string file = filePrefix + child->PositionName() + ".xmltmp";
    if (!WriteFileAtomically(file, text)) return false;
    // The file now holds what unloaded descendants kept in theirs.
    const std::string previous = child->unloadFile_;
    child->unloadFile_.clear();
    child->DeleteTemporaryFiles();
    if (!previous.empty() && previous != file) plat::fs::RemoveFile(previous);
    child->Clear();
    child->unloaded_ = true;
    child->unloadFile_ = file;
    return true;
}

bool XmlElement::ReloadChild(std::size_t index) {
    XmlElement* child = children_.At(index);
    if (!child || !child->unloaded_) return false;
    auto loaded = XmlBuilder::ParseFile(nullptr, child->unloadFile_);
    if (!loaded) return false;
    child->variables_ = std::move(loaded->variables_);
    child->children_ = std::move(loaded->children_);
    child->contents_ = std::move(loaded->contents_);
    child->comments_ = std::move(loaded->comments_);
    child->cdata_ = std::move(loaded->cdata_);
    child->nextOrder_ = loaded->nextOrder_;
    for (std::size_t i = 0; i < child->variables_.Count(); ++i) child->variables_.At(i)->owner_ = child;
    for (std::size_t i = 0; i < child->children_.Count(); ++i) child->children_.At(i)->parent_ = child;
    child->unloaded_ = false;  // the file stays until DeleteTemporaryFiles
    return true;
}

void XmlElement::DeleteTemporaryFiles() {
    std::vector<XmlElement*> pending{this};  // no recursion, whatever the depth
    while (!pending.empty()) {
        XmlElement& e = *pending.back();
        pending.pop_back();
        if (!e.unloadFile_.empty()) {
            plat::fs::RemoveFile(e.unloadFile_);
            e.unloadFile_.clear();
        }
        for (std::size_t i = 0; i < e.children_.Count(); ++i) pending.push_back(e.children_.At(i));
    }
}

// ------------------------------------------------------------------- document

XmlDocument::XmlDocument() = default;

XmlDocument::XmlDocument(const std::string& path, bool saveOnClose) : saveOnClose_(saveOnClose) {
    Load(path);
}

XmlDocument::XmlDocument(const std::u16string& path, bool saveOnClose) : saveOnClose_(saveOnClose) {
    Load(path);
}

XmlDocument::~XmlDocument() { Close(); }

void XmlDocument::Reset() {
    if (root_) root_->DeleteTemporaryFiles();
    root_.reset();
    header_ = XmlHeader();
    path_.clear();
    status_ = kLoaded;
    keptAside_.clear();
}

XmlElement* XmlDocument::SetRoot(std::unique_ptr<XmlElement> root) {
    root_ = std::move(root);
    if (root_) root_->parent_ = nullptr;
    return root_.get();
}

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

bool XmlDocument::SaveToBuffer(std::string& out, XmlTextTransform* transform) const {
    const std::string& declaration = header_.declaration_;
    if (declaration.size() < 4 || declaration.compare(0, 2, "<?") != 0 ||
        declaration.find("?>") != declaration.size() - 2 || HasZero(declaration))
        return false;
    std::string text = declaration + kLineEnd;
    if (!header_.docType_.empty()) {
        if (HasZero(header_.docType_) || header_.docType_.find('>') != std::string::npos) return false;
        text += "<!" + header_.docType_ + ">" + kLineEnd;
    }
    auto writeComments = [&](const std::vector<std::string>& comments) {
        for (const std::string& c : comments) {
            if (!IsWritableComment(c)) return false;
            text += "<!--" + c + "-->" + kLineEnd;
        }
        return true;
    };
    if (!writeComments(header_.before_)) return false;
    if (root_ && !root_->Write(text, 0)) return false;
    if (!writeComments(header_.after_)) return false;
    if (!transform) {
        out = std::move(text);
        return true;
    }
    std::string transformed;
    const std::size_t length = transform->Transform(text, transformed);
    if (length > transformed.size()) return false;
    transformed.resize(length);
    out = std::move(transformed);
    return true;
}

bool XmlDocument::Save(const std::string& path, XmlTextTransform* transform) {
    std::string text;
    return SaveToBuffer(text, transform) && WriteFileAtomically(path, text);
}

bool XmlDocument::Save(const std::u16string& path, XmlTextTransform* transform) {
    std::string utf8;
    return plat::Utf16ToUtf8(path, utf8) && Save(utf8, transform);
}

bool XmlDocument::Save(XmlTextTransform* transform) { return !path_.empty() && Save(path_, transform); }

bool XmlDocument::Close() {
    const bool saved = saveOnClose_ && !path_.empty() ? Save() : true;
    Reset();
    wideNames_ = false;
    saveOnClose_ = false;
    return saved;
}

bool XmlDocument::UnloadChild(XmlElement& parent, std::size_t index) {
    return !path_.empty() && parent.UnloadChild(index, path_ + ".");
}
