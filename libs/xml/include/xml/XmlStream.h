#pragma once
// Documents written element by element as they are produced, for state files too large to
// build as a tree first (the sync folder's listings hold an element per file).
//
// `XmlElementSink` is what a writer of elements needs; two stand behind it: the file
// writer `XmlStreamWriter`, whose output is byte for byte what XmlDocument::Save writes
// for the same elements under the default declaration, and `XmlTreeBuilder`, which adds
// the elements to a document tree instead.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/fileops.h"

class XmlElement;

class XmlElementSink {
public:
    virtual ~XmlElementSink() = default;
    // Starts an element inside the open one; its variables follow, then its children.
    virtual void Open(std::string_view name) = 0;
    // A variable of the element opened last, before any child of it.
    virtual void Variable(std::string_view name, std::string_view value) = 0;
    virtual void Variable(std::string_view name, std::int64_t value) = 0;
    // Ends the element opened last.
    virtual void Close() = 0;
};

// Writes through a temporary file beside the target that Finish renames into place
// (mode 0600), so the old file stays whole on any failure and memory stays flat however
// many elements are written.
class XmlStreamWriter final : public XmlElementSink {
public:
    // Makes the temporary file and writes the declaration; false when the file cannot be
    // made.
    bool Begin(const std::string& path);
    void Open(std::string_view name) override;
    void Variable(std::string_view name, std::string_view value) override;
    void Variable(std::string_view name, std::int64_t value) override;
    void Close() override;
    // True when every element was closed, everything was writable and the file is in place.
    // A name or value the document writer refuses (a NUL byte, a name that would not read
    // back as one) fails the whole file, as it fails XmlDocument::Save.
    bool Finish();

private:
    void EndStartTag();
    void Indent(std::size_t depth);

    plat::fs::AtomicFileWriter file_;
    std::vector<std::string> open_;  // names of the open elements, entity-encoded
    std::string pending_;            // the text not yet handed to the file
    bool startTagOpen_ = false;      // the last opened element's start tag is not ended yet
    bool ok_ = false;
};

// Adds the elements below `parent` of a document tree.
class XmlTreeBuilder final : public XmlElementSink {
public:
    explicit XmlTreeBuilder(XmlElement& parent) : open_{&parent} {}
    void Open(std::string_view name) override;
    void Variable(std::string_view name, std::string_view value) override;
    void Variable(std::string_view name, std::int64_t value) override;
    void Close() override;

private:
    std::vector<XmlElement*> open_;
};

// ------------------------------------------------------------------------ reading

// A variable as read: its decoded name and value.
using XmlNameValue = std::pair<std::string, std::string>;

// What a reader of elements is handed, in document order: each element's start with its
// decoded name and variables, then its children, then its end.
class XmlElementVisitor {
public:
    virtual ~XmlElementVisitor() = default;
    virtual void Start(std::string_view name, const std::vector<XmlNameValue>& variables) = 0;
    virtual void End() = 0;
};

enum class XmlLayoutRead { kRead, kOtherLayout };

// Reads a whole document written in the stream writer's layout (the default declaration
// line, then one element per line, double-quoted variables, nothing else) element by
// element, without building a tree. Anything else in the text (comments, contents, another
// declaration, a second root, an element that does not end, nesting deeper than
// XmlDocument::kMaxNesting) gives kOtherLayout before the visitor is called at all: such a
// file is for XmlDocument to read (and to set aside when it does not parse).
XmlLayoutRead ReadWriterLayout(std::string_view text, XmlElementVisitor& visitor);

// Hands `top` and everything below it to the visitor, as ReadWriterLayout hands a file.
void VisitElements(const XmlElement& top, XmlElementVisitor& visitor);
