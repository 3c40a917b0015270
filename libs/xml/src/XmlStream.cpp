#include "xml/XmlStream.h"

#include <algorithm>

#include "XmlInternal.h"
#include "xml/XmlDocument.h"

using namespace xml_internal;

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// Text gathered before it goes to the file (which buffers again): a few elements at once.
constexpr std::size_t kPendingLimit = 1 << 16;

}  // namespace

bool XmlStreamWriter::Begin(const std::string& path) {
    open_.clear();
    pending_.clear();
    startTagOpen_ = false;
    ok_ = file_.Begin(path, 0600);
    if (ok_) {
        pending_ += XmlHeader::kDefaultDeclaration;
        pending_ += kLineEnd;
    }
    return ok_;
}

void XmlStreamWriter::Indent(std::size_t depth) {
    pending_.append(std::min<std::size_t>(depth, XmlElement::kMaxIndentLevels), '\t');
}

void XmlStreamWriter::EndStartTag() {
    if (!startTagOpen_) return;
    pending_ += '>';
    pending_ += kLineEnd;
    startTagOpen_ = false;
}

void XmlStreamWriter::Open(std::string_view name) {
    if (!ok_) return;
    EndStartTag();
    std::string encoded = EncodeEntities(name);
    if (!IsWritableName(encoded)) {
        ok_ = false;
        return;
    }
    Indent(open_.size());
    pending_ += '<';
    pending_ += encoded;
    open_.push_back(std::move(encoded));
    startTagOpen_ = true;
}

void XmlStreamWriter::Variable(std::string_view name, std::string_view value) {
    if (!ok_) return;
    if (!startTagOpen_) {
        ok_ = false;  // a variable after a child belongs to no start tag
        return;
    }
    const std::size_t mark = pending_.size();
    pending_ += ' ';
    EncodeEntities(name, &pending_);
    const std::string_view encodedName = std::string_view(pending_).substr(mark + 1);
    if (!IsWritableName(encodedName) || HasZero(value)) {
        pending_.resize(mark);
        ok_ = false;
        return;
    }
    pending_ += "=\"";
    EncodeEntities(value, &pending_);
    pending_ += '"';
}

void XmlStreamWriter::Variable(std::string_view name, std::int64_t value) {
    Variable(name, std::string_view(std::to_string(value)));
}

void XmlStreamWriter::Close() {
    if (!ok_) return;
    if (open_.empty()) {
        ok_ = false;
        return;
    }
    if (startTagOpen_) {
        pending_ += "/>";
        startTagOpen_ = false;
    } else {
        Indent(open_.size() - 1);
        pending_ += "</";
        pending_ += open_.back();
        pending_ += '>';
    }
    pending_ += kLineEnd;
    open_.pop_back();
    if (pending_.size() >= kPendingLimit) {
        file_.Append(pending_);
        pending_.clear();
        ok_ = file_.Ok();
    }
}

bool XmlStreamWriter::Finish() {
    if (ok_ && open_.empty()) {
        file_.Append(pending_);
        pending_.clear();
        ok_ = file_.Commit();
    } else {
        file_.Abandon();
        ok_ = false;
    }
    return ok_;
}

void XmlTreeBuilder::Open(std::string_view name) { open_.push_back(open_.back()->AddChild(name)); }

void XmlTreeBuilder::Variable(std::string_view name, std::string_view value) { open_.back()->AddVariable(name, value); }

void XmlTreeBuilder::Variable(std::string_view name, std::int64_t value) { open_.back()->AddVariable(name, value); }

void XmlTreeBuilder::Close() {
    if (open_.size() > 1) open_.pop_back();
}

// ------------------------------------------------------------------------ reading

namespace {

// The characters of a name in the writer's layout; anything else sends the file to the
// document reader.
bool IsLayoutNameChar(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == ':' || byte >= 0x80;
}

// One pass over the text; with a null visitor it only checks the layout. True when the
// whole text is in the layout.
bool WalkLayout(std::string_view text, XmlElementVisitor* visitor) {
    const std::string_view declaration = XmlHeader::kDefaultDeclaration;
    if (text.substr(0, declaration.size()) != declaration || text.substr(declaration.size(), 2) != kLineEnd)
        return false;
    std::size_t at = declaration.size() + 2;
    std::vector<std::string_view> open;
    std::vector<XmlNameValue> variables;
    std::string decodedName;
    bool rootDone = false;
    const auto readName = [&](std::string_view& name) {
        const std::size_t start = at;
        while (at < text.size() && IsLayoutNameChar(text[at])) ++at;
        name = text.substr(start, at - start);
        return !name.empty();
    };
    for (;;) {
        while (at < text.size() && IsXmlSpace(text[at])) ++at;
        if (at == text.size()) return rootDone;
        if (text[at] != '<' || rootDone) return false;
        ++at;
        std::string_view name;
        if (at < text.size() && text[at] == '/') {
            ++at;
            if (!readName(name) || at >= text.size() || text[at] != '>' || open.empty() || open.back() != name)
                return false;
            ++at;
            open.pop_back();
            if (visitor) visitor->End();
            rootDone = open.empty();
            continue;
        }
        if (!readName(name) || open.size() >= XmlDocument::kMaxNesting) return false;
        variables.clear();
        while (at < text.size() && text[at] == ' ') {
            ++at;
            std::string_view variable;
            if (!readName(variable) || text.substr(at, 2) != "=\"") return false;
            at += 2;
            const std::size_t end = text.find('"', at);
            if (end == std::string_view::npos) return false;
            const std::string_view value = text.substr(at, end - at);
            if (value.find('<') != std::string_view::npos || HasZero(value)) return false;
            at = end + 1;
            if (visitor) variables.emplace_back(DecodeEntities(variable), DecodeEntities(value));
        }
        bool empty = false;
        if (text.substr(at, 2) == "/>") {
            empty = true;
            at += 2;
        } else if (at < text.size() && text[at] == '>') {
            ++at;
        } else {
            return false;
        }
        if (visitor) {
            decodedName.clear();
            DecodeEntities(name, decodedName);
            visitor->Start(decodedName, variables);
        }
        if (empty) {
            if (visitor) visitor->End();
            rootDone = open.empty();
        } else {
            open.push_back(name);
        }
    }
}

}  // namespace

XmlLayoutRead ReadWriterLayout(std::string_view text, XmlElementVisitor& visitor) {
    if (!WalkLayout(text, nullptr)) return XmlLayoutRead::kOtherLayout;
    WalkLayout(text, &visitor);
    return XmlLayoutRead::kRead;
}

void VisitElements(const XmlElement& top, XmlElementVisitor& visitor) {
    // Walked with a list of open elements, so that no depth of nesting exhausts the stack.
    struct Open {
        const XmlElement* element;
        std::size_t nextChild;
    };
    std::vector<XmlNameValue> variables;
    const auto start = [&](const XmlElement& element) {
        variables.clear();
        for (std::size_t i = 0; i < element.VariableCount(); ++i) {
            const XmlVariable& variable = *element.Variable(i);
            variables.emplace_back(variable.GetName(), variable.GetValue());
        }
        visitor.Start(element.GetName(), variables);
    };
    std::vector<Open> open;
    start(top);
    open.push_back({&top, 0});
    while (!open.empty()) {
        Open& current = open.back();
        if (current.nextChild < current.element->ChildCount()) {
            const XmlElement& child = *current.element->Child(current.nextChild++);
            start(child);
            open.push_back({&child, 0});
            continue;
        }
        visitor.End();
        open.pop_back();
    }
}
