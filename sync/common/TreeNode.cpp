#include "sync/common/TreeNode.h"

#include <cstring>

#include "platform/text.h"

namespace {

// Splits `path` at `separator`, keeping the non-empty pieces; empty when the path does
// not hold the separator at all.
std::vector<std::string_view> PathComponents(std::string_view path, char separator) {
    std::vector<std::string_view> pieces;
    if (path.find(separator) == std::string_view::npos) return pieces;
    while (!path.empty()) {
        const std::size_t cut = path.find(separator);
        const std::string_view piece = path.substr(0, cut);
        if (!piece.empty()) pieces.push_back(piece);
        if (cut == std::string_view::npos) break;
        path.remove_prefix(cut + 1);
    }
    return pieces;
}

// Walks from `root` down the components of `path`, leaving out the last `skipLast`.
template <typename T>
TreeNode<T>* WalkPath(TreeNode<T>* root, int mode, const std::string& path, std::size_t skipLast) {
    if (root == nullptr) return nullptr;
    const std::vector<std::string_view> pieces = PathComponents(path, mode == 1 ? '\\' : '/');
    if (pieces.empty()) return nullptr;
    TreeNode<T>* node = root;
    for (std::size_t i = 0; i + skipLast < pieces.size(); ++i) {
        const auto it = node->FindChild(pieces[i]);
        if (it == node->children.end()) return nullptr;
        node = it->get();
    }
    return node;
}

// The name a copied or moved node gets: its own when the new one equals it ignoring case.
const std::string& TargetName(const FileNode* node, const std::string& newName) {
    return BaseFunc::EqualNoCase(node->data->name, newName) ? node->data->name : newName;
}

template <typename T>
bool IsSameOrAncestor(const TreeNode<T>* candidate, const TreeNode<T>* node) {
    for (; node != nullptr; node = node->parent) {
        if (node == candidate) return true;
    }
    return false;
}

// Takes `node` out of its parent's child set; null when it is not there.
template <typename T>
std::unique_ptr<TreeNode<T>> Detach(TreeNode<T>* node) {
    TreeNode<T>* parent = node->parent;
    const auto it = parent->FindChild(*node->data);
    if (it == parent->children.end() || it->get() != node) return nullptr;
    return parent->DetachChild(it);
}

// Moves `node` under `newParent` as `name`; a non-empty `newNodeRef` replaces the record's
// nodeRef.
bool MoveFileNode(FileNode* node, FileNode* newParent, const std::string& newName, const std::string& newNodeRef) {
    if (node == nullptr || newParent == nullptr || node->parent == nullptr) return false;
    if (IsSameOrAncestor<SyncFileInfo>(node, newParent)) return false;
    const std::string name = TargetName(node, newName);
    if (newParent->FindChild(std::string_view(name)) != newParent->children.end()) return false;
    std::unique_ptr<FileNode> owned = Detach(node);
    if (!owned) return false;
    owned->data->name = name;
    if (!newNodeRef.empty()) owned->data->nodeRef = newNodeRef;
    return newParent->AdoptChild(std::move(owned)) != newParent->children.end();
}

}  // namespace

bool SplitString(const std::string& text, const std::string& separator, std::vector<std::string>& out) {
    if (text.empty() || separator.empty()) return false;
    out.clear();
    if (text.find(separator) == std::string::npos) return true;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t cut = text.find(separator, start);
        const std::size_t end = cut == std::string::npos ? text.size() : cut;
        if (end > start) out.push_back(text.substr(start, end - start));
        if (cut == std::string::npos) break;
        start = cut + separator.size();
    }
    return true;
}

TaskNode* FindNodeByPath(TaskNode* root, int mode, const std::string& path) {
    return WalkPath(root, mode, path, 0);
}

TaskNode* FindParentNodeByPath(TaskNode* root, int mode, const std::string& path) {
    return WalkPath(root, mode, path, 1);
}

FileNode* FindFileNodeByPath(FileNode* root, int mode, const std::string& path) {
    return WalkPath(root, mode, path, 0);
}

FileNode* FindParentFileNodeByPath(FileNode* root, int mode, const std::string& path) {
    return WalkPath(root, mode, path, 1);
}

bool CopyNodeUnder(const FileNode* node, FileNode* newParent, const std::string& newName,
                   const std::string& newNodeRef) {
    if (node == nullptr || newParent == nullptr) return false;
    const std::string name = TargetName(node, newName);
    if (newParent->FindChild(std::string_view(name)) != newParent->children.end()) return false;
    auto copy = std::make_unique<FileNode>(*node);
    copy->data->name = name;
    if (!newNodeRef.empty()) copy->data->nodeRef = newNodeRef;
    return newParent->AdoptChild(std::move(copy)) != newParent->children.end();
}

bool MoveNodeUnder(FileNode* node, FileNode* newParent, const std::string& newName,
                   const std::string& newNodeRef) {
    return MoveFileNode(node, newParent, newName, newNodeRef);
}

bool RenameNodeInTree(FileNode* node, FileNode* newParent, const std::string& newName) {
    return MoveFileNode(node, newParent, newName, std::string());
}

bool ReplaceFileNode(FileNode* node, const SyncFileInfo& record) {
    if (node == nullptr) return false;
    if (BaseFunc::EqualNoCase(node->data->name, record.name)) {
        *node->data = record;
        return true;
    }
    FileNode* parent = node->parent;
    if (parent == nullptr || parent->FindChild(record) != parent->children.end()) return false;
    std::unique_ptr<FileNode> owned = Detach(node);
    if (!owned) return false;
    *owned->data = record;
    return parent->AdoptChild(std::move(owned)) != parent->children.end();
}

bool RenameTaskNode(TaskNode* node, const std::string& newName) {
    if (node == nullptr || node->parent == nullptr) return false;
    TaskNode* parent = node->parent;
    if (parent->FindChild(std::string_view(newName)) != parent->children.end()) return false;
    std::unique_ptr<TaskNode> owned = Detach(node);
    if (!owned) return false;
    owned->data->name = newName;
    return parent->AdoptChild(std::move(owned)) != parent->children.end();
}

bool CopySubtree(const FileNode* node, FileNode* targetParent) {
    return node != nullptr && targetParent != nullptr && targetParent->InsertSubtree(*node);
}

std::uint32_t BoundedPathCopy(char (&buffer)[kBoundedPathSize], const char* text) {
    const std::size_t length = text == nullptr ? 0 : std::strlen(text);
    if (length < kBoundedPathSize) {
        if (length > 0) std::memcpy(buffer, text, length);
        buffer[length] = '\0';
        return 0;
    }
    // Keep whole characters only: back off over continuation bytes to the start of the
    // character that would be cut.
    std::size_t cut = kBoundedPathSize - 1;
    std::size_t start = cut;
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    std::uint32_t cp = 0;
    int units = 0;
    const auto* lead = reinterpret_cast<const unsigned char*>(text + start);
    const int used = plat::DecodeUtf8Char(lead, length - start, cp, units);
    if (used > 0 && start + static_cast<std::size_t>(used) > cut) cut = start;
    std::memcpy(buffer, text, cut);
    buffer[cut] = '\0';
    return kInsufficientBuffer;
}
