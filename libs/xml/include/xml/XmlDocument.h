#pragma once
// The sync program's XML documents: its state files ("Tracer.txt", "Server.txt",
// "Driver.txt", "UserInfo.txt", "history.txt") are built, written and read with these
// classes.
//
// A document is a header (declaration, an optional "<!" declaration, comments around
// the root) and one root element. An element holds its name, its attributes (variables),
// child elements, text contents, comments and CDATA sections, each in document order.
// Texts are UTF-8 byte strings. Names, variable values and contents are kept as they
// stand in the file, that is entity-encoded ('&' always as "&amp;"); the Get... calls
// hand them out decoded.
//
// Written layout: the declaration line, then one element per line, indented by one tab
// per level (up to XmlElement::kMaxIndentLevels levels), attributes as ` name="value"`
// in their order, an element without items closed by "/>", every line ending CR LF. Saving goes through a temporary file beside
// the target, flushed and renamed into place, and reports its real result. Loading never
// throws: a file that does not parse (elements nested deeper than
// XmlDocument::kMaxNesting included) gets parse status 2, is moved aside to
// "<file>.bad-<time>" and the document is left as if the file were missing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// -------------------------------------------------------------------- entities

// Encodes '&', '<', '>', '"' and '\'' as "&amp;", "&lt;", "&gt;", "&quot;", "&apos;",
// appending to `out`; with a null `out` nothing is written. Returns the encoded length.
std::size_t EncodeEntities(std::string_view text, std::string* out);
std::string EncodeEntities(std::string_view text);
// Decodes the five entities and numeric references ("&#65;", "&#x4E2D;") into UTF-8;
// everything else, including malformed or unknown references, is copied unchanged.
void DecodeEntities(std::string_view text, std::string& out);
std::string DecodeEntities(std::string_view text);
// A decoded value read as a C integer (decimal, "0x" hexadecimal or leading-zero octal,
// with sign); 0 when it is not one.
std::int64_t XmlReadInt64(std::string_view text);

// ------------------------------------------------------------------- nesting

// True when no element of `text` lies deeper than `limit` levels, counted the way the
// recursive parser under these classes meets them (what it passes over without nesting,
// such as comments, CDATA sections and quoted values, counts nothing). Every reader of
// XML text checks this first, so that no file can exhaust the stack.
bool XmlNestingWithin(std::string_view text, std::size_t limit);

// -------------------------------------------------------------- growable arrays

// The arrays of an element: pointers in document order with an explicit capacity that
// grows by 20 when full.
template <class T>
class XmlArray {
public:
    static constexpr std::size_t kGrowth = 20;
    explicit XmlArray(std::size_t firstCapacity) : capacity_(firstCapacity) {
        items_.reserve(capacity_);
    }

    std::size_t Count() const { return items_.size(); }
    std::size_t Capacity() const { return capacity_; }
    T* At(std::size_t index) const { return index < items_.size() ? items_[index].get() : nullptr; }

    // Makes room for one more item; returns the free slots afterwards.
    std::size_t Grow() {
        if (items_.size() >= capacity_) {
            capacity_ += kGrowth;
            items_.reserve(capacity_);
        }
        return capacity_ - items_.size();
    }
    T* Insert(std::size_t index, std::unique_ptr<T> item) {
        Grow();
        if (index > items_.size()) index = items_.size();
        return items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(item))->get();
    }
    T* Append(std::unique_ptr<T> item) { return Insert(items_.size(), std::move(item)); }
    std::unique_ptr<T> Remove(std::size_t index) {
        if (index >= items_.size()) return nullptr;
        std::unique_ptr<T> item = std::move(items_[index]);
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
        return item;
    }
    void Clear() { items_.clear(); }

private:
    std::vector<std::unique_ptr<T>> items_;
    std::size_t capacity_;
};

// ------------------------------------------------------------------ text records

// A content, comment or CDATA section with its place among the element's children: it
// is written before the child with that index (after the last child when beyond it).
class XmlText {
public:
    XmlText(std::string_view text, std::size_t position, std::uint64_t order = 0)
        : text_(text), position_(position), order_(order) {}
    const std::string& Text() const { return text_; }
    void SetText(std::string_view text) { text_ = text; }
    std::size_t Position() const { return position_; }

private:
    friend class XmlElement;
    friend struct XmlWriter;
    std::string text_;
    std::size_t position_;
    std::uint64_t order_;  // keeps records of one place in the order they were added
};

// ---------------------------------------------------------------------- variables

class XmlElement;

class XmlVariable {
public:
    // Both texts are stored entity-encoded.
    XmlVariable(std::string_view name, std::string_view value);
    XmlVariable(std::string_view name, std::int64_t value);
    // From texts as they stand in a file (already encoded).
    static std::unique_ptr<XmlVariable> FromEncoded(std::string_view name, std::string_view value);

    std::string GetName() const { return DecodeEntities(name_); }
    std::string GetValue() const { return DecodeEntities(value_); }
    const std::string& EncodedName() const { return name_; }
    const std::string& EncodedValue() const { return value_; }
    void SetValue(std::string_view text) { value_ = EncodeEntities(text); }
    void SetValue(std::int64_t number);
    // The decoded value read as a C integer (decimal, "0x" hexadecimal or leading-zero
    // octal, with sign); 0 when it is not one.
    std::int64_t GetInt64() const;
    std::int64_t GetValueInt64() const { return GetInt64(); }

    XmlElement* Owner() const { return owner_; }

private:
    friend class XmlElement;
    XmlVariable() = default;
    std::string name_;
    std::string value_;
    XmlElement* owner_ = nullptr;
};

// ----------------------------------------------------------------------- export

// Receives an element tree as keys and string values (child element i is the subkey
// "E<i>", variable v the value "V<name>", comment i "C<i>", contents and CDATA sections
// "D<i>" numbered together, contents first). `keyPath` is relative to the export's key.
class XmlKeyTarget {
public:
    virtual ~XmlKeyTarget() = default;
    virtual bool SetString(const std::vector<std::string>& keyPath, const std::string& name,
                           const std::string& value) = 0;
};

// Transforms a document's whole text before it is written.
class XmlTextTransform {
public:
    virtual ~XmlTextTransform() = default;
    // Writes the transformed `text` into `out`; returns its length.
    virtual std::size_t Transform(std::string_view text, std::string& out) = 0;
};

// ----------------------------------------------------------------------- elements

class XmlElement {
public:
    static constexpr std::size_t kFirstVariables = 20;
    static constexpr std::size_t kFirstChildren = 20;
    static constexpr std::size_t kFirstContents = 10;
    static constexpr std::size_t kFirstComments = 4;
    static constexpr std::size_t kFirstCData = 10;
    // Lines are indented by their nesting up to this many levels; deeper lines get the
    // indentation of this level, so a deep tree's text grows with its depth and not with
    // the square of it.
    static constexpr unsigned kMaxIndentLevels = 64;

    // An empty element; the name is stored entity-encoded. The parent link is set here;
    // the parent owns it once it is added with AddChild.
    explicit XmlElement(XmlElement* parent = nullptr, std::string_view name = "root");
    // Parses one element from text ("<name a=\"1\">...</name>"); null when the text is
    // not exactly one well-formed element.
    static std::unique_ptr<XmlElement> Parse(XmlElement* parent, std::string_view text);
    ~XmlElement();
    XmlElement(const XmlElement&) = delete;
    XmlElement& operator=(const XmlElement&) = delete;

    std::string GetName() const { return DecodeEntities(name_); }
    const std::string& EncodedName() const { return name_; }
    void SetName(std::string_view name) { name_ = EncodeEntities(name); }
    XmlElement* Parent() const { return parent_; }
    // Spare data of the caller's; never written.
    const std::string& Value() const { return value_; }
    void SetValue(std::string_view data) { value_ = data; }
    // Indentation of the element's lines: `count` tabs per level, or spaces.
    void SetIndent(bool withSpaces, unsigned count);

    // Variables, in document order.
    std::size_t VariableCount() const { return variables_.Count(); }
    std::size_t VariableCapacity() const { return variables_.Capacity(); }
    XmlVariable* Variable(std::size_t index) const { return variables_.At(index); }
    // The first variable with this (decoded) name.
    XmlVariable* FindVariable(std::string_view name) const;
    std::size_t GrowVariables() { return variables_.Grow(); }
    XmlVariable* AddVariable(std::unique_ptr<XmlVariable> variable);
    XmlVariable* AddVariable(std::string_view name, std::string_view value);
    XmlVariable* AddVariable(std::string_view name, std::int64_t value);
    XmlVariable* InsertVariable(std::size_t index, std::unique_ptr<XmlVariable> variable);
    bool RemoveVariable(std::size_t index);

    // Child elements, in document order. Inserting or removing a child keeps the text
    // records in their places among the others.
    std::size_t ChildCount() const { return children_.Count(); }
    std::size_t ChildCapacity() const { return children_.Capacity(); }
    XmlElement* Child(std::size_t index) const { return children_.At(index); }
    std::size_t GrowChildren() { return children_.Grow(); }
    XmlElement* AddChild(std::unique_ptr<XmlElement> child);
    XmlElement* AddChild(std::string_view name);
    XmlElement* InsertChild(std::size_t index, std::unique_ptr<XmlElement> child);
    // Removes and destroys the child (and deletes its temporary file when it was unloaded).
    bool RemoveChild(std::size_t index);

    // Contents (stored encoded; leading and trailing blanks as character references so
    // they survive), comments and CDATA sections. Each is placed after the children
    // present when it is added, or at `position` among them. A comment holding "-->" or a
    // CDATA section holding "]]>" cannot be written and is refused (null).
    std::size_t ContentCount() const { return contents_.Count(); }
    const XmlText* Content(std::size_t index) const { return contents_.At(index); }
    std::string GetContentText(std::size_t index) const;
    XmlText* AddContent(std::string_view text);
    XmlText* AddContent(std::string_view text, std::size_t position);
    bool RemoveContent(std::size_t index) { return contents_.Remove(index) != nullptr; }

    std::size_t CommentCount() const { return comments_.Count(); }
    const XmlText* Comment(std::size_t index) const { return comments_.At(index); }
    XmlText* AddComment(std::string_view text);
    XmlText* AddComment(std::string_view text, std::size_t position);
    bool RemoveComment(std::size_t index) { return comments_.Remove(index) != nullptr; }

    std::size_t CDataCount() const { return cdata_.Count(); }
    const XmlText* CData(std::size_t index) const { return cdata_.At(index); }
    XmlText* AddCData(std::string_view text);
    XmlText* AddCData(std::string_view text, std::size_t position);
    bool RemoveCData(std::size_t index) { return cdata_.Remove(index) != nullptr; }

    // True when the name and every variable, record and child below are present.
    bool IsValid() const;

    // Writes the element at nesting `depth` into a buffer (appended) or an open file;
    // false when something in it cannot be written so that it reads back (a name that
    // is empty or holds blanks or markup, a zero byte, an unloaded child whose file is
    // gone). Nothing is appended to `buffer` then.
    bool Export(std::string& buffer, unsigned depth) const;
    bool Export(std::FILE* file, unsigned depth) const;
    // Writes the tree as keys and values (see XmlKeyTarget); false when the target refuses.
    bool Export(XmlKeyTarget& target) const;

    // Unloading: the child's contents go to the file `filePrefix` + its position in the
    // tree (child indexes from the root joined by "-") + ".xmltmp" and are dropped from
    // memory; the child stays in place, empty, until ReloadChild. Writing the tree
    // writes an unloaded child from its file.
    bool UnloadChild(std::size_t index, const std::string& filePrefix);
    bool ReloadChild(std::size_t index);
    bool IsUnloaded() const { return unloaded_; }
    // Deletes the temporary files of unloaded elements in this tree.
    void DeleteTemporaryFiles();
    // Indexes of this element from the root, joined by "-" ("" for the root).
    std::string PositionName() const;

private:
    friend class XmlDocument;
    friend struct XmlBuilder;
    friend struct XmlWriter;

    XmlText* AddRecord(XmlArray<XmlText>& records, std::string text, std::size_t position);
    bool Write(std::string& out, unsigned depth) const;
    bool WriteKeys(XmlKeyTarget& target, std::vector<std::string>& path) const;
    void Clear();

    std::string value_;
    XmlElement* parent_ = nullptr;
    std::string name_;
    XmlArray<XmlVariable> variables_{kFirstVariables};
    XmlArray<XmlElement> children_{kFirstChildren};
    XmlArray<XmlText> contents_{kFirstContents};
    XmlArray<XmlText> comments_{kFirstComments};
    XmlArray<XmlText> cdata_{kFirstCData};
    std::uint64_t nextOrder_ = 0;
    bool unloaded_ = false;
    std::string unloadFile_;  // the temporary file, kept until deleted
    bool indentWithSpaces_ = false;
    unsigned indentCount_ = 1;
};

// ------------------------------------------------------------------------ header

class XmlHeader {
public:
    static constexpr std::string_view kDefaultDeclaration =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>";

    XmlHeader() : declaration_(kDefaultDeclaration) {}
    const std::string& Declaration() const { return declaration_; }
    void SetDeclaration(std::string_view text) { declaration_ = text; }
    // The "<!...>" declaration between the angle brackets ("DOCTYPE x"); empty when none.
    const std::string& DocType() const { return docType_; }
    void SetDocType(std::string_view text) { docType_ = text; }
    // Comments before and after the root element.
    std::vector<std::string>& CommentsBefore() { return before_; }
    std::vector<std::string>& CommentsAfter() { return after_; }
    const std::vector<std::string>& CommentsBefore() const { return before_; }
    const std::vector<std::string>& CommentsAfter() const { return after_; }
    // True when the declaration is present.
    bool IsValid() const { return !declaration_.empty(); }

private:
    friend class XmlDocument;
    std::string declaration_;
    std::string docType_;
    std::vector<std::string> before_;
    std::vector<std::string> after_;
};

// ---------------------------------------------------------------------- document

class XmlDocument {
public:
    enum ParseStatus { kLoaded = 0, kIncomplete = 1, kParseError = 2 };
    // The deepest nesting of elements a text may have to parse: twice the depth of the
    // deepest state file the sync program reads back, and little enough that parsing it
    // takes about a megabyte of stack.
    static constexpr std::size_t kMaxNesting = 4096;

    // The default declaration, no root element, no path.
    XmlDocument();
    // Loads `path` (see Load). The UTF-16 form converts the path to UTF-8 for the
    // file system.
    explicit XmlDocument(const std::string& path, bool saveOnClose = false);
    explicit XmlDocument(const std::u16string& path, bool saveOnClose = false);
    // Close().
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Replaces what the document held by the file's document and remembers the path.
    // A missing, unreadable or empty file gives the default declaration and an empty
    // element "root" (status 0). A file without declaration or without an element gets
    // status 1 (with the default declaration and, without an element, an empty "root").
    // A file that does not parse gets status 2: it is renamed aside (KeptAsidePath) and
    // the document is as for a missing file. Returns false only for status 2.
    bool Load(const std::string& path);
    bool Load(const std::u16string& path);
    // Parses a document from text, with the same statuses (nothing is kept aside).
    bool LoadFromText(std::string_view text);

    // Writes the document to `path` (or its own path) through a temporary file beside
    // it, flushed and renamed into place. False, with the old file untouched and no
    // temporary left, when it cannot be written completely or there is no path.
    bool Save(XmlTextTransform* transform = nullptr);
    bool Save(const std::string& path, XmlTextTransform* transform = nullptr);
    bool Save(const std::u16string& path, XmlTextTransform* transform = nullptr);
    // The document's text; false when something in it cannot be written (see Export).
    bool SaveToBuffer(std::string& out, XmlTextTransform* transform = nullptr) const;

    // Saves first when save-on-close is set and there is a path (returning that
    // result), then deletes the unloaded elements' temporary files, drops the root and
    // resets the header and the path. Also done by the destructor.
    bool Close();

    int GetParseStatus() const { return status_; }
    // Where a file that did not parse was moved; empty when nothing was moved.
    const std::string& KeptAsidePath() const { return keptAside_; }

    XmlHeader& Header() { return header_; }
    const XmlHeader& Header() const { return header_; }
    XmlElement* Root() const { return root_.get(); }
    // Replaces (and destroys) the root element.
    XmlElement* SetRoot(std::unique_ptr<XmlElement> root);
    std::unique_ptr<XmlElement> ReleaseRoot() { return std::move(root_); }

    const std::string& Path() const { return path_; }
    bool WideNames() const { return wideNames_; }
    bool SaveOnClose() const { return saveOnClose_; }
    void SetSaveOnClose(bool on) { saveOnClose_ = on; }

    // Integrity checks before a loaded document is read.
    bool IsHeaderValid() const { return header_.IsValid(); }
    bool IsValid() const { return header_.IsValid() && (!root_ || root_->IsValid()); }

    // Unloads a child of `parent` (an element of this document) into a temporary file
    // beside the document's file; false without a path.
    bool UnloadChild(XmlElement& parent, std::size_t index);

private:
    void Reset();

    bool wideNames_ = false;
    std::string path_;
    XmlHeader header_;
    std::unique_ptr<XmlElement> root_;
    bool saveOnClose_ = false;
    int status_ = kLoaded;
    std::string keptAside_;
};
