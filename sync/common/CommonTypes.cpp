#include "sync/common/CommonTypes.h"

#include <algorithm>
#include <string_view>

#include <log4cpp/Category.hh>
#include <rapidjson/document.h>

#include "platform/text.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"

namespace {

// A node reference or checksum the state files can hold: valid UTF-8 without control
// characters (XML carries none of them, so a record holding one could never be saved).
bool IsStorableText(std::string_view text) {
    if (!plat::IsValidUtf8(text)) return false;
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

std::string TextOf(const rapidjson::Value& v) { return std::string(v.GetString(), v.GetStringLength()); }

// A path component a server may name: not empty, not "." or "..", no '\\', NUL or
// control character.
bool IsSafeComponent(std::string_view component) {
    if (component.empty() || component == "." || component == "..") return false;
    return std::none_of(component.begin(), component.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F || b == '\\';
    });
}

// A server path: components separated by '/', with one optional leading '/'; every
// component safe and the whole valid UTF-8.
bool IsSafeServerPath(std::string_view path) {
    if (!plat::IsValidUtf8(path)) return false;
    if (!path.empty() && path.front() == '/') path.remove_prefix(1);
    while (true) {
        const std::size_t slash = path.find('/');
        if (!IsSafeComponent(path.substr(0, slash))) return false;
        if (slash == std::string_view::npos) return true;
        path.remove_prefix(slash + 1);
    }
}

// The start of a text too long for a log line, with its length.
std::string LogExcerpt(std::string_view text) {
    constexpr std::size_t kShown = 200;
    if (text.size() <= kShown) return EscapeForLog(text);
    return EscapeForLog(text.substr(0, kShown)) + "... (" + std::to_string(text.size()) + " bytes)";
}

bool ReadSize(const rapidjson::Value& value, std::uint64_t& size) {
    std::int64_t parsed = 0;
    if (value.IsInt64()) {
        parsed = value.GetInt64();
    } else if (!value.IsString() ||
               !BaseFunc::TryParseInt64WithSeparators(BaseFunc::AnsiToWide(TextOf(value)), parsed)) {
        return false;
    }
    if (parsed < 0) return false;
    size = static_cast<std::uint64_t>(parsed);
    return true;
}

}  // namespace

bool IsServerPathWithinLimits(std::string_view path) {
    if (path.size() > kMaxServerPathBytes) return false;
    std::size_t components = 0;
    bool inName = false;
    for (char c : path) {
        if (c == '/') {
            inName = false;
        } else if (!inName) {
            inName = true;
            if (++components > kMaxServerPathComponents) return false;
        }
    }
    return true;
}

SyncFileInfo::SyncFileInfo(const char* name) : name(name == nullptr ? "" : name) {}

SyncFileInfo::SyncFileInfo(const std::string& name) : name(name) {}

SyncFileInfo::SyncFileInfo(std::uint32_t isFile, std::uint32_t mark, std::uint64_t size, const std::string& path)
    : isFile(isFile), mark(mark), size(size) {
    std::size_t cut = path.rfind('\\');
    if (cut == std::string::npos) cut = path.rfind('/');
    name = cut == std::string::npos ? path : path.substr(cut + 1);
}

SyncFileInfo& SyncFileInfo::operator=(const SyncFileInfo& other) {
    if (this != &other) {
        name = other.name;
        isFile = other.isFile;
        mark = other.mark;
        checksum = other.checksum;
        nodeRef = other.nodeRef;
        size = other.size;
    }
    return *this;
}

SyncFileInfo& SyncFileInfo::operator=(SyncFileInfo&& other) noexcept {
    if (this != &other) {
        name = std::move(other.name);
        isFile = other.isFile;
        mark = other.mark;
        checksum = std::move(other.checksum);
        nodeRef = std::move(other.nodeRef);
        size = other.size;
    }
    return *this;
}

void SyncFileInfo::Clear() {
    name.clear();
    isFile = 0;
    mark = 0;
    checksum.clear();
    nodeRef.clear();
    size = 0;
}

bool SyncFileInfo::ChecksumDiffers(const SyncFileInfo& other) const {
    return !checksum.empty() && !other.checksum.empty() && !BaseFunc::EqualNoCase(checksum, other.checksum);
}

bool SyncFileInfo::SameChecksum(const SyncFileInfo& other) const {
    return !checksum.empty() && !other.checksum.empty() && BaseFunc::EqualNoCase(checksum, other.checksum);
}

std::unique_ptr<SyncFileInfo> SyncFileInfo::FromServerJson(const rapidjson::Value& item, std::string& path) {
    if (!item.IsObject()) return nullptr;
    const auto nodeRef = item.FindMember("nodeRef");
    const auto name = item.FindMember("name");
    const auto type = item.FindMember("type");
    const auto size = item.FindMember("size");
    const auto checksum = item.FindMember("checksum");
    const auto end = item.MemberEnd();
    if (nodeRef == end || name == end || type == end || size == end || checksum == end) return nullptr;
    if (!nodeRef->value.IsString() || !name->value.IsString() || !type->value.IsString() ||
        !checksum->value.IsString()) {
        return nullptr;
    }
    std::uint64_t bytes = 0;
    if (!ReadSize(size->value, bytes)) return nullptr;
    auto record = std::make_unique<SyncFileInfo>();
    const std::string refText = TextOf(nodeRef->value);
    record->nodeRef = refText;
    path = TextOf(name->value);
    const std::string typeText = TextOf(type->value);
    if (record->nodeRef.empty() || path.empty() || typeText.empty()) return nullptr;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return nullptr;
    if (!IsServerPathWithinLimits(path)) {
        SyncLog().alert("Server path beyond the limits refused (" + std::to_string(kMaxServerPathComponents) +
                        " components, " + std::to_string(kMaxServerPathBytes) + " bytes) '" +
                        LogExcerpt(path) + "' filepath:CommonTypes");
        return nullptr;
    }
    if (!IsSafeServerPath(path)) {
        SyncLog().alert("Unsafe server path refused '" + EscapeForLog(path) +
                        "' filepath:CommonTypes line:168");
        return nullptr;
    }
    record->name = path.substr(slash + 1);
    record->isFile = typeText.find("content") != std::string::npos ? 1 : 0;
    record->checksum = TextOf(checksum->value);
    if (!IsStorableText(refText) || !IsStorableText(record->checksum.str())) {
        SyncLog().alert("Server item with a node reference or checksum that cannot be stored refused '" +
                        EscapeForLog(path) + "' filepath:CommonTypes");
        return nullptr;
    }
    record->size = bytes;
    return record;
}

SyncTaskInfo::SyncTaskInfo(std::uint32_t kind, const std::string& name, std::uint32_t aspect, std::uint32_t task,
                           std::uint32_t flag, TreeNode<SyncFileInfo>* localPartner,
                           TreeNode<SyncFileInfo>* serverPartner)
    : SyncTaskInfo(kind, name, 0, aspect, task, flag, localPartner, serverPartner) {}

SyncTaskInfo::SyncTaskInfo(std::uint32_t kind, const std::string& name, std::uint32_t linked, std::uint32_t aspect,
                           std::uint32_t task, std::uint32_t flag, TreeNode<SyncFileInfo>* localPartner,
                           TreeNode<SyncFileInfo>* serverPartner)
    : name(name), kind(kind), linked(linked), aspect(aspect), task(task), flag(flag),
      localPartner(localPartner), serverPartner(serverPartner) {}

SyncTaskInfo SyncTaskInfo::CreateUniformRoot() {
    SyncTaskInfo root;
    root.name = "Uniform";
    return root;
}

TreeNode<SyncTaskInfo>* SyncTaskInfo::SourceTaskNode() const {
    const auto* node = std::get_if<TreeNode<SyncTaskInfo>*>(&source);
    return node == nullptr ? nullptr : *node;
}

TreeNode<SyncFileInfo>* SyncTaskInfo::SourceFileNode() const {
    const auto* node = std::get_if<TreeNode<SyncFileInfo>*>(&source);
    return node == nullptr ? nullptr : *node;
}
