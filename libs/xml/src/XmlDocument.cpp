#include "xml/XmlDocument.h"

#include <algorithm>
#include <cstdlib>

#include "XmlInternal.h"
#include "platform/fileops.h"
#include "platform/text.h"

namespace xml_internal {

// ------------------------------------------------------------------ entities

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

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

}  // namespace xml_internal

using namespace xml_internal;

namespace {

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

}  // namespace

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

std::int64_t XmlReadInt64(std::string_view value) {
    const std::string text(value);
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    return end == text.c_str() ? 0 : static_cast<std::int64_t>(v);
}

std::int64_t XmlVariable::GetInt64() const { return XmlReadInt64(GetValue()); }

// ------------------------------------------------------------------- elements

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
    auto loaded = ReadElementFile(child->unloadFile_);
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
