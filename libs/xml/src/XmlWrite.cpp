#include "xml/XmlDocument.h"

#include <algorithm>
#include <cstdio>

#include "XmlInternal.h"
#include "platform/text.h"

using namespace xml_internal;

namespace {

constexpr char kLineEnd[] = "\r\n";

}  // namespace

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
            loaded = ReadElementFile(given.unloadFile_);
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
            loaded = ReadElementFile(given.unloadFile_);
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

// ------------------------------------------------------------------- document

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
