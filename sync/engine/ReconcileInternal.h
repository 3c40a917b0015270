#pragma once
// Helpers shared by the reconciliation sources (not part of their interface).
#include <cstdint>
#include <string>
#include <string_view>

#include "sync/common/CommonTypes.h"
#include "sync/common/TreeNode.h"

namespace reconcile {

// Logs at alert: the message (ending in "filepath:"), the source name and the line.
void Alert(const std::string& message, int line);
// A record path made safe for a log line (control characters escaped, separators kept).
std::string LogPath(std::string_view path);

// The record's partner on a side (1 local, 2 server) and its setter.
FileNode* PartnerOf(const SyncTaskInfo& record, std::uint32_t side);
void SetPartner(SyncTaskInfo& record, std::uint32_t side, FileNode* node);
constexpr std::uint32_t OtherSide(std::uint32_t side) { return side == 1 ? 2 : 1; }

// Work toward `side` that competes with a change coming from it: a transfer into that
// side is pending, or the record is undecided.
bool HoldsCompetingWork(const SyncTaskInfo& record, std::uint32_t side);

// The child of `parent` named like `name` (ignoring case); null when there is none or
// `parent` is null.
template <typename T>
TreeNode<T>* Child(TreeNode<T>* parent, std::string_view name) {
    if (parent == nullptr) return nullptr;
    const auto it = parent->FindChild(name);
    return it == parent->children.end() ? nullptr : it->get();
}

// Looks up children of `parent` by names that come in ascending order (the order of
// another child set walked alongside): each lookup goes on from where the last one ended,
// so walking two sets side by side is linear instead of a search per name. Children
// inserted into `parent` under the name just looked up keep the walk valid (they sort
// before the position reached); names must never go backwards.
template <typename T>
class ChildWalk {
public:
    explicit ChildWalk(TreeNode<T>* parent) : parent_(parent) {
        if (parent_ != nullptr) at_ = parent_->children.begin();
    }

    TreeNode<T>* Find(std::string_view name) {
        if (parent_ == nullptr) return nullptr;
        const auto end = parent_->children.end();
        for (; at_ != end; ++at_) {
            const int order = BaseFunc::CompareNoCase((*at_)->data->name, name);
            if (order == 0) return at_->get();
            if (order > 0) break;
        }
        return nullptr;
    }

private:
    TreeNode<T>* parent_;
    typename TreeNode<T>::ChildIterator at_{};
};

// Removes `node` (with its subtree) from its parent; nothing for a root.
template <typename T>
void EraseNode(TreeNode<T>* node) {
    if (node == nullptr || node->parent == nullptr) return;
    TreeNode<T>* parent = node->parent;
    const auto it = parent->FindChild(std::string_view(node->data->name));
    if (it != parent->children.end() && it->get() == node) parent->EraseChild(it);
}

// `relPath` joined with a name, '/' separated.
std::string JoinRel(const std::string& relPath, const std::string& name);
// The text after the last '\\' or '/'.
std::string LastComponent(const std::string& path);
// The text before the last '\\' or '/' (empty when there is none).
std::string ParentOf(const std::string& path);

}  // namespace reconcile
