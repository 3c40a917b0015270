#pragma once
// The sync trees: one node per file or folder, children ordered by name ignoring ASCII
// case (two names that differ only in case are the same child). A node owns its record and
// its children; destroying a node destroys its subtree. The tree does not lock itself:
// users hold the application's tree lock around work on the shared trees.
//
// A child's name must not change while it sits in its parent's set, except to a form
// equal ignoring case; renames go through the path operations below (or DetachChild and
// AdoptChild).
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sync/common/BaseFunc.h"
#include "sync/common/CommonTypes.h"

template <typename T> class TreeNode;

// Orders nodes (and names) by their ASCII-folded bytes; transparent, so a child set can be
// searched by name.
struct NoCaseLess {
    using is_transparent = void;

    static std::string_view Key(std::string_view name) { return name; }
    template <typename T>
    static std::string_view Key(const std::unique_ptr<TreeNode<T>>& node) { return node->data->name; }
    template <typename T>
    static std::string_view Key(const TreeNode<T>* node) { return node->data->name; }

    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
        return BaseFunc::CompareNoCase(Key(a), Key(b)) < 0;
    }
};

// The children of one node: a set of owned nodes ordered by NoCaseLess, with the
// interface and iterator validity of a std::set. Most nodes are files and never have
// children, so the set itself is allocated on the first insertion and the empty node
// holds one pointer. Once allocated it stays for the node's life, so iterators taken
// from it stay valid as a std::set's do; an end iterator taken before the first
// insertion still compares equal to end() after it.
template <typename Node>
class ChildNodeSet {
    using Set = std::set<std::unique_ptr<Node>, NoCaseLess>;
    using SetIterator = typename Set::iterator;

public:
    using value_type = std::unique_ptr<Node>;
    using size_type = std::size_t;
    using node_type = typename Set::node_type;

    class iterator {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = std::unique_ptr<Node>;
        using difference_type = std::ptrdiff_t;
        using pointer = const std::unique_ptr<Node>*;
        using reference = const std::unique_ptr<Node>&;

        iterator() = default;

        reference operator*() const { return *position_; }
        pointer operator->() const { return &*position_; }
        iterator& operator++() {
            ++position_;
            return *this;
        }
        iterator operator++(int) {
            iterator before = *this;
            ++*this;
            return before;
        }
        iterator& operator--() {
            if (unallocated_) {
                unallocated_ = false;
                position_ = owner_->set_->end();
            }
            --position_;
            return *this;
        }
        iterator operator--(int) {
            iterator before = *this;
            --*this;
            return before;
        }
        bool operator==(const iterator& other) const {
            if (unallocated_ == other.unallocated_) return unallocated_ || position_ == other.position_;
            // One was taken before the set existed, at the end: equal when the other is.
            return (unallocated_ ? other : *this).AtEnd();
        }
        bool operator!=(const iterator& other) const { return !(*this == other); }

    private:
        friend class ChildNodeSet;
        iterator(const ChildNodeSet* owner, SetIterator position, bool unallocated)
            : owner_(owner), position_(position), unallocated_(unallocated) {}
        bool AtEnd() const { return unallocated_ || !owner_->set_ || position_ == owner_->set_->end(); }

        const ChildNodeSet* owner_ = nullptr;
        SetIterator position_{};
        bool unallocated_ = false;  // taken before the set existed: the end position
    };
    using const_iterator = iterator;
    using reverse_iterator = std::reverse_iterator<iterator>;
    using const_reverse_iterator = reverse_iterator;

    ChildNodeSet() = default;
    ChildNodeSet(ChildNodeSet&&) noexcept = default;
    ChildNodeSet& operator=(ChildNodeSet&&) noexcept = default;

    iterator begin() const { return set_ ? Wrap(set_->begin()) : EndUnallocated(); }
    iterator end() const { return set_ ? Wrap(set_->end()) : EndUnallocated(); }
    reverse_iterator rbegin() const { return reverse_iterator(end()); }
    reverse_iterator rend() const { return reverse_iterator(begin()); }
    bool empty() const { return !set_ || set_->empty(); }
    size_type size() const { return set_ ? set_->size() : 0; }

    template <typename Key>
    iterator find(const Key& key) const {
        return set_ ? Wrap(set_->find(key)) : EndUnallocated();
    }
    template <typename Key>
    iterator lower_bound(const Key& key) const {
        return set_ ? Wrap(set_->lower_bound(key)) : EndUnallocated();
    }
    template <typename Key>
    size_type count(const Key& key) const {
        return set_ ? set_->count(key) : 0;
    }

    std::pair<iterator, bool> insert(value_type node) {
        auto [position, inserted] = Allocated().insert(std::move(node));
        return {Wrap(position), inserted};
    }
    iterator insert(iterator hint, value_type node) {
        Set& set = Allocated();
        return Wrap(set.insert(hint.unallocated_ ? set.end() : hint.position_, std::move(node)));
    }
    iterator erase(iterator position) { return Wrap(set_->erase(position.position_)); }
    template <typename Key>
    size_type erase(const Key& key) {
        return set_ ? set_->erase(key) : 0;
    }
    node_type extract(iterator position) { return set_->extract(position.position_); }
    void clear() {
        if (set_) set_->clear();
    }
    // Exchanges the elements, as std::set::swap does: each set keeps its own end position
    // and iterators to elements go with them.
    void swap(ChildNodeSet& other) {
        if (!set_ && !other.set_) return;
        Allocated().swap(other.Allocated());
    }

private:
    iterator Wrap(SetIterator position) const { return iterator(this, position, false); }
    iterator EndUnallocated() const { return iterator(this, SetIterator{}, true); }
    Set& Allocated() {
        if (!set_) set_ = std::make_unique<Set>();
        return *set_;
    }

    std::unique_ptr<Set> set_;
};

// The record of a node, held inside the node rather than in an allocation of its own. It
// is reached like the owning pointer it replaces (`data->field`, `*data`, `data.get()`),
// and like that pointer it gives a mutable record through a const node.
template <typename T>
class NodeRecord {
public:
    template <typename... Args>
    explicit NodeRecord(Args&&... args) : value_(std::forward<Args>(args)...) {}
    NodeRecord(const NodeRecord&) = delete;
    NodeRecord& operator=(const NodeRecord&) = delete;

    T* operator->() const { return &value_; }
    T& operator*() const { return value_; }
    T* get() const { return &value_; }

    // Replaces the record by `record` as a whole: every field, none kept from before.
    void Replace(T&& record) {
        T fresh(std::move(record));
        std::destroy_at(&value_);
        std::construct_at(&value_, std::move(fresh));
    }

private:
    mutable T value_;
};

template <typename T>
class TreeNode {
public:
    using ChildSet = ChildNodeSet<TreeNode>;
    using ChildIterator = typename ChildSet::iterator;
    using ConstChildIterator = typename ChildSet::const_iterator;

    // Result of InsertChild: `position` is the end of `parent->children` when a child of
    // that name was already there.
    struct InsertResult {
        ChildIterator position;
        TreeNode* parent;
        bool Inserted() const { return position != parent->children.end(); }
        TreeNode* Node() const { return Inserted() ? position->get() : nullptr; }
    };

    class PreorderIterator;
    struct PreorderRange {
        TreeNode* node;
        PreorderIterator begin() const { return node->BeginPreorder(); }
        PreorderIterator end() const { return node->EndPreorder(); }
    };

    ChildSet children;
    TreeNode* parent = nullptr;
    NodeRecord<T> data;

    // A node with a copy of the record, no children and no parent.
    explicit TreeNode(const T& record) : data(record) {}
    explicit TreeNode(T&& record) : data(std::move(record)) {}
    // Deep copy: the record and, recursively, every child; the copy has no parent.
    TreeNode(const TreeNode& other) : data(*other.data) { CopyChildrenFrom(other); }
    // Deep copy of the other node's record and subtree; the node keeps its parent, so a
    // node inside a tree must keep a name equal ignoring case. Safe when `other` lies in
    // this node's own subtree.
    TreeNode& operator=(const TreeNode& other) {
        if (this != &other) {
            TreeNode copy(other);
            data.Replace(std::move(*copy.data));
            children.swap(copy.children);
            for (const auto& child : children) child->parent = this;
        }
        return *this;
    }
    // Destroys the subtree level by level rather than by recursion, so that a tree of any
    // depth (a hostile listing, a deep local folder) cannot exhaust the stack.
    ~TreeNode() { DestroyChildren(children); }

    // Destroys every child subtree; the node's own record stays.
    void DeleteChildren() { DestroyChildren(children); }
    // Replaces the node's record by a copy of the given one.
    void SetData(const T& record) { data.Replace(T(record)); }

    // The child whose name equals the record's (or the given) name ignoring ASCII case;
    // the end of the child set when there is none.
    ChildIterator FindChild(const T& record) { return children.find(std::string_view(record.name)); }
    ConstChildIterator FindChild(const T& record) const { return children.find(std::string_view(record.name)); }
    ChildIterator FindChild(std::string_view name) { return children.find(name); }
    ConstChildIterator FindChild(std::string_view name) const { return children.find(name); }

    // Inserts a new child holding a copy of the record; nothing when a child of that name
    // exists.
    InsertResult InsertChild(const T& record) {
        return InsertResult{AdoptChild(std::make_unique<TreeNode>(record)), this};
    }
    // Inserts a deep copy of `node` (record and subtree) as a new child; false when a
    // child of that name exists. `node` may lie in this node's own subtree.
    bool InsertSubtree(const TreeNode& node) {
        return AdoptChild(std::make_unique<TreeNode>(node)) != children.end();
    }
    // Takes an owned node (and its subtree) as a child; when a child of that name exists
    // the node is destroyed and the end of the child set is returned.
    ChildIterator AdoptChild(std::unique_ptr<TreeNode> node) {
        if (!node) return children.end();
        const std::string_view name(node->data->name);
        // Listings arrive in name order: a name after the last child goes to the end
        // without a search.
        if (!children.empty() && BaseFunc::CompareNoCase((*children.rbegin())->data->name, name) < 0) {
            node->parent = this;
            return children.insert(children.end(), std::move(node));
        }
        const auto hint = children.lower_bound(name);
        if (hint != children.end() && BaseFunc::EqualNoCase((*hint)->data->name, node->data->name)) {
            return children.end();
        }
        node->parent = this;
        return children.insert(hint, std::move(node));
    }
    // Removes the child at `position` from the set without destroying it; the caller owns
    // it (parent null). Pointers into its subtree stay valid.
    std::unique_ptr<TreeNode> DetachChild(ChildIterator position) {
        auto handle = children.extract(position);
        std::unique_ptr<TreeNode> node = std::move(handle.value());
        node->parent = nullptr;
        return node;
    }

    // Destroys the child of the record's (or the given) name with its subtree; false when
    // there is none.
    bool EraseChild(const T& record) { return EraseChild(std::string_view(record.name)); }
    bool EraseChild(std::string_view name) {
        const auto it = children.find(name);
        if (it == children.end()) return false;
        children.erase(it);
        return true;
    }
    void EraseChild(ChildIterator position) { children.erase(position); }

    // Every descendant in depth-first pre-order (each folder before its subtree, children
    // in name order); the node itself is not visited. Erasing the current node ends the
    // walk's validity.
    PreorderIterator BeginPreorder() { return PreorderIterator(this, children.begin()); }
    PreorderIterator EndPreorder() { return PreorderIterator(this, children.end()); }
    PreorderRange Preorder() { return PreorderRange{this}; }

    // Pre-order position: the current position in some child set, the node owning that
    // set and the saved positions of the levels above.
    class PreorderIterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = TreeNode*;
        using difference_type = std::ptrdiff_t;
        using pointer = TreeNode* const*;
        using reference = TreeNode*;

        PreorderIterator() = default;
        PreorderIterator(TreeNode* owner, ChildIterator position) : owner_(owner), position_(position) {}

        TreeNode* operator*() const { return position_->get(); }
        TreeNode* operator->() const { return position_->get(); }

        PreorderIterator& operator++() {
            TreeNode* current = position_->get();
            if (!current->children.empty()) {
                saved_.emplace_back(owner_, position_);
                owner_ = current;
                position_ = current->children.begin();
                return *this;
            }
            ++position_;
            while (position_ == owner_->children.end() && !saved_.empty()) {
                owner_ = saved_.back().first;
                position_ = std::next(saved_.back().second);
                saved_.pop_back();
            }
            return *this;
        }
        PreorderIterator operator++(int) {
            PreorderIterator before = *this;
            ++*this;
            return before;
        }

        bool operator==(const PreorderIterator& other) const {
            return owner_ == other.owner_ && position_ == other.position_;
        }
        bool operator!=(const PreorderIterator& other) const { return !(*this == other); }

    private:
        TreeNode* owner_ = nullptr;
        ChildIterator position_{};
        std::vector<std::pair<TreeNode*, ChildIterator>> saved_;
    };

private:
    // Copies the subtree below `other` under this node, one level after the other with
    // an explicit list of pending nodes (no recursion, whatever the depth).
    void CopyChildrenFrom(const TreeNode& other) {
        std::vector<std::pair<const TreeNode*, TreeNode*>> pending{{&other, this}};
        while (!pending.empty()) {
            const auto [source, target] = pending.back();
            pending.pop_back();
            for (const auto& child : source->children) {
                auto copy = std::make_unique<TreeNode>(*child->data);
                copy->parent = target;
                TreeNode* placed = target->children.insert(target->children.end(), std::move(copy))->get();
                if (!child->children.empty()) pending.emplace_back(child.get(), placed);
            }
        }
    }

    // Empties `set`, destroying every node below it without recursion: each node's own
    // children are moved to the pending list before the node dies, so every destructor
    // runs on a node without children.
    static void DestroyChildren(ChildSet& set) {
        if (set.empty()) return;
        std::vector<ChildSet> pending;
        pending.emplace_back().swap(set);
        while (!pending.empty()) {
            ChildSet level;
            level.swap(pending.back());
            pending.pop_back();
            for (const auto& child : level) {
                if (!child->children.empty()) pending.emplace_back().swap(child->children);
            }
        }
    }
};

using FileNode = TreeNode<SyncFileInfo>;
using TaskNode = TreeNode<SyncTaskInfo>;
using ChangeNode = TreeNode<SyncChangeInfo>;

// Clears `out` and fills it with the non-empty pieces between occurrences of `separator`
// and after the last one. False when the text or the separator is empty. A text that does
// not contain the separator gives an empty list.
bool SplitString(const std::string& text, const std::string& separator, std::vector<std::string>& out);

// The node at `path` below `root` ('\\' separators when mode is 1, '/' otherwise), found
// component by component ignoring ASCII case; null when a component is missing or the
// path has none (a path without any separator has none).
TaskNode* FindNodeByPath(TaskNode* root, int mode, const std::string& path);
// The parent of the item at `path` (the root for a one-component path); null as above.
TaskNode* FindParentNodeByPath(TaskNode* root, int mode, const std::string& path);
FileNode* FindFileNodeByPath(FileNode* root, int mode, const std::string& path);
FileNode* FindParentFileNodeByPath(FileNode* root, int mode, const std::string& path);

// Inserts a deep copy of `node` under `newParent`, named `newName` (the node's own name
// when the two are equal ignoring case); a non-empty `newNodeRef` becomes the copy's
// nodeRef. The copy's path and every path below it are rewritten under the new parent's
// path. True when inserted (false when the name is taken).
bool CopyNodeUnder(const FileNode* node, FileNode* newParent, const std::string& newName,
                   const std::string& newNodeRef);
// As CopyNodeUnder, but the node itself (with its subtree) leaves its old parent; pointers
// to it and below stay valid. False, with nothing changed, when the name is taken under
// the new parent (the node itself counts), the node has no parent, or the new parent is
// the node or lies below it.
bool MoveNodeUnder(FileNode* node, FileNode* newParent, const std::string& newName,
                   const std::string& newNodeRef);
// As MoveNodeUnder, but a non-empty `newPath` becomes the node's path (instead of a
// nodeRef) and the paths below it are rewritten under it.
bool RenameNodeInTree(FileNode* node, FileNode* newParent, const std::string& newName,
                      const std::string& newPath);
// Gives the node the record (assignment: the node's `extra` stays). A name equal to the
// old one ignoring case updates the node in place; another name moves the node to that
// name under the same parent. False, with nothing changed, when that name is taken or the
// node has no parent.
bool ReplaceFileNode(FileNode* node, const SyncFileInfo& record);
// Renames a unified-tree node under its parent; false, with nothing changed, when the
// name is taken (a name equal to the old one ignoring case included) or there is no parent.
bool RenameTaskNode(TaskNode* node, const std::string& newName);
// Inserts a deep copy of `node` under `targetParent`; false when the name is taken.
bool CopySubtree(const FileNode* node, FileNode* targetParent);

// Copies the zero-terminated text into the buffer. When it does not fit (with its
// terminator), copies as many whole UTF-8 characters as fit in 259 bytes, terminates and
// returns 0x8007007A (insufficient buffer); 0 on success.
inline constexpr std::size_t kBoundedPathSize = 260;
inline constexpr std::uint32_t kInsufficientBuffer = 0x8007007A;
std::uint32_t BoundedPathCopy(char (&buffer)[kBoundedPathSize], const char* text);
