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
