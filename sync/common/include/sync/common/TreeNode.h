#pragma once
// The sync trees: one node per file or folder, children ordered by name ignoring ASCII
// case (two names that differ only in case are the same child). A node owns its record and
// its children; destroying a node destroys its subtree. The tree does not lock itself:
// users hold the application's tree lock around work on the shared trees.
//
// A child's name must not change while it sits in its parent's set, except to a form
// equal ignoring case; renames go through the path operations below (or DetachChild and
// AdoptChild).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
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

// The children of one node: owned nodes ordered by NoCaseLess, with the interface and
// iterator validity of a std::set. The children sit in sorted arrays of pointers (blocks
// of at most kBlock, in order), allocated with the first child, so a child costs about a
// pointer rather than a tree node of its own, while an insertion or erasure anywhere
// shifts at most one block. Names arriving in order (listings, the scan, merge walks)
// fill each block completely.
//
// An iterator names its node, not a slot: it stays valid while that node is in the set,
// whatever is inserted or erased around it (the slot is found again by name when the node
// has moved), and the end position is the same before and after any change. A reference
// obtained through an iterator points into a block and lasts only until the next
// insertion or erasure in the set.
template <typename Node>
class ChildNodeSet {
    static constexpr std::size_t kBlock = 256;
    using Block = std::vector<std::unique_ptr<Node>>;
    struct Slots {
        std::vector<Block> blocks;  // none empty
        std::size_t count = 0;
    };
    // A place in the set: block and offset; the end is (number of blocks, 0).
    struct Place {
        std::size_t block = 0;
        std::size_t offset = 0;
    };

public:
    using value_type = std::unique_ptr<Node>;
    using size_type = std::size_t;

    class iterator {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = std::unique_ptr<Node>;
        using difference_type = std::ptrdiff_t;
        using pointer = const std::unique_ptr<Node>*;
        using reference = const std::unique_ptr<Node>&;

        iterator() = default;

        reference operator*() const {
            const Place at = Locate();
            return owner_->slots_->blocks[at.block][at.offset];
        }
        pointer operator->() const { return &**this; }
        iterator& operator++() {
            Place at = Locate();
            const std::vector<Block>& blocks = owner_->slots_->blocks;
            if (++at.offset == blocks[at.block].size()) {
                ++at.block;
                at.offset = 0;
            }
            Move(at);
            return *this;
        }
        iterator operator++(int) {
            iterator before = *this;
            ++*this;
            return before;
        }
        iterator& operator--() {
            const std::vector<Block>& blocks = owner_->slots_->blocks;
            Place at = node_ == nullptr ? Place{blocks.size(), 0} : Locate();
            if (at.offset == 0) {
                --at.block;
                at.offset = blocks[at.block].size();
            }
            --at.offset;
            Move(at);
            return *this;
        }
        iterator operator--(int) {
            iterator before = *this;
            --*this;
            return before;
        }
        bool operator==(const iterator& other) const {
            return node_ == other.node_ && (node_ != nullptr || owner_ == other.owner_);
        }
        bool operator!=(const iterator& other) const { return !(*this == other); }

    private:
        friend class ChildNodeSet;
        iterator(const ChildNodeSet* owner, Place at) : owner_(owner) { Move(at); }

        void Move(Place at) {
            at_ = at;
            const std::vector<Block>& blocks = owner_->slots_->blocks;
            node_ = at.block < blocks.size() ? blocks[at.block][at.offset].get() : nullptr;
        }
        // The node's place: the remembered one when the node still sits there, otherwise
        // found again by name.
        Place Locate() const {
            const std::vector<Block>& blocks = owner_->slots_->blocks;
            if (at_.block >= blocks.size() || at_.offset >= blocks[at_.block].size() ||
                blocks[at_.block][at_.offset].get() != node_) {
                at_ = owner_->Lower(node_->data->name);
            }
            return at_;
        }

        const ChildNodeSet* owner_ = nullptr;
        Node* node_ = nullptr;  // null at the end
        mutable Place at_;
    };
    using const_iterator = iterator;
    using reverse_iterator = std::reverse_iterator<iterator>;
    using const_reverse_iterator = reverse_iterator;

    ChildNodeSet() = default;
    ChildNodeSet(ChildNodeSet&&) noexcept = default;
    ChildNodeSet& operator=(ChildNodeSet&&) noexcept = default;

    iterator begin() const { return empty() ? end() : iterator(this, Place{0, 0}); }
    iterator end() const {
        iterator position;
        position.owner_ = this;
        return position;
    }
    reverse_iterator rbegin() const { return reverse_iterator(end()); }
    reverse_iterator rend() const { return reverse_iterator(begin()); }
    bool empty() const { return size() == 0; }
    size_type size() const { return slots_ ? slots_->count : 0; }

    template <typename Key>
    iterator find(const Key& key) const {
        const std::string_view name = NoCaseLess::Key(key);
        const Place at = Lower(name);
        if (IsEnd(at) || BaseFunc::CompareNoCase(NameAt(at), name) != 0) return end();
        return iterator(this, at);
    }
    template <typename Key>
    iterator lower_bound(const Key& key) const {
        const Place at = Lower(NoCaseLess::Key(key));
        return IsEnd(at) ? end() : iterator(this, at);
    }
    template <typename Key>
    size_type count(const Key& key) const {
        return find(key) == end() ? 0 : 1;
    }

    std::pair<iterator, bool> insert(value_type node) {
        const Place at = Lower(node->data->name);
        if (!IsEnd(at) && BaseFunc::CompareNoCase(NameAt(at), node->data->name) == 0) {
            return {iterator(this, at), false};
        }
        return {Put(at, std::move(node)), true};
    }
    // Inserts at the hint when the order allows it there (at the end after the last child
    // without a search), otherwise where the order puts it; the position of the child of
    // that name when there is one already.
    iterator insert(iterator hint, value_type node) {
        if (empty()) return Put(Place{}, std::move(node));
        const std::string_view name(node->data->name);
        const std::vector<Block>& blocks = slots_->blocks;
        const Place at = hint.node_ == nullptr ? Place{blocks.size(), 0} : hint.Locate();
        const bool fitsBefore = IsEnd(at) || BaseFunc::CompareNoCase(name, NameAt(at)) < 0;
        const Node* previous = at.offset > 0  ? blocks[at.block][at.offset - 1].get()
                               : at.block > 0 ? blocks[at.block - 1].back().get()
                                              : nullptr;
        const bool fitsAfter = previous == nullptr || BaseFunc::CompareNoCase(previous->data->name, name) < 0;
        if (fitsBefore && fitsAfter) return Put(at, std::move(node));
        return insert(std::move(node)).first;
    }
    iterator erase(iterator position) {
        Place at = position.Locate();
        // The node is destroyed after it has left the set.
        const std::unique_ptr<Node> leaving = Take(at);
        return IsEnd(at) ? end() : iterator(this, at);
    }
    template <typename Key>
    size_type erase(const Key& key) {
        const auto position = find(key);
        if (position == end()) return 0;
        erase(position);
        return 1;
    }
    // Removes the node at `position` from the set without destroying it.
    std::unique_ptr<Node> extract(iterator position) {
        Place at = position.Locate();
        return Take(at);
    }
    void clear() {
        // The nodes are destroyed after they have left the set.
        const std::unique_ptr<Slots> leaving = std::move(slots_);
    }
    // Exchanges the elements: each set keeps its own end position; positions of elements
    // are taken anew afterwards.
    void swap(ChildNodeSet& other) { slots_.swap(other.slots_); }

private:
    bool IsEnd(Place at) const { return !slots_ || at.block >= slots_->blocks.size(); }
    std::string_view NameAt(Place at) const { return slots_->blocks[at.block][at.offset]->data->name; }

    // The first place whose name is not below `name`.
    Place Lower(std::string_view name) const {
        if (!slots_) return Place{};
        const std::vector<Block>& blocks = slots_->blocks;
        std::size_t low = 0;
        std::size_t high = blocks.size();
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            if (BaseFunc::CompareNoCase(blocks[middle].back()->data->name, name) < 0) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        if (low == blocks.size()) return Place{low, 0};
        const Block& block = blocks[low];
        std::size_t first = 0;
        std::size_t last = block.size();
        while (first < last) {
            const std::size_t middle = first + (last - first) / 2;
            if (BaseFunc::CompareNoCase(block[middle]->data->name, name) < 0) {
                first = middle + 1;
            } else {
                last = middle;
            }
        }
        return Place{low, first};
    }

    // Puts the node at `at` (before the node there; the end appends).
    iterator Put(Place at, value_type node) {
        if (!slots_) slots_ = std::make_unique<Slots>();
        std::vector<Block>& blocks = slots_->blocks;
        if (blocks.empty()) {
            blocks.emplace_back();
            at = Place{};
        } else if (at.block == blocks.size()) {
            at = Place{blocks.size() - 1, blocks.back().size()};
        }
        if (blocks[at.block].size() >= kBlock) {
            if (at.block + 1 == blocks.size() && at.offset == blocks[at.block].size()) {
                // Appending in order: a fresh block keeps the full one full.
                blocks.emplace_back();
                at = Place{blocks.size() - 1, 0};
            } else {
                const std::size_t half = blocks[at.block].size() / 2;
                Block upper(std::make_move_iterator(blocks[at.block].begin() + static_cast<std::ptrdiff_t>(half)),
                            std::make_move_iterator(blocks[at.block].end()));
                blocks[at.block].resize(half);
                blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(at.block) + 1, std::move(upper));
                if (at.offset > half) at = Place{at.block + 1, at.offset - half};
            }
        }
        Block& block = blocks[at.block];
        block.insert(block.begin() + static_cast<std::ptrdiff_t>(at.offset), std::move(node));
        ++slots_->count;
        return iterator(this, at);
    }
    // Takes the node at `at` out of the set; `at` becomes the place of the next node.
    std::unique_ptr<Node> Take(Place& at) {
        std::vector<Block>& blocks = slots_->blocks;
        Block& block = blocks[at.block];
        std::unique_ptr<Node> node = std::move(block[at.offset]);
        block.erase(block.begin() + static_cast<std::ptrdiff_t>(at.offset));
        --slots_->count;
        if (block.empty()) {
            blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(at.block));
            at.offset = 0;
        } else if (at.offset == block.size()) {
            ++at.block;
            at.offset = 0;
        }
        return node;
    }

    std::unique_ptr<Slots> slots_;
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
    // Moves the other node's record and subtree here, what a deep copy would give without
    // copying: the other node keeps its record and is left without children, and this
    // node's own former subtree is destroyed. `other` must not lie in this node's subtree.
    void TakeContent(TreeNode& other) {
        if (this == &other) return;
        children.swap(other.children);
        other.DeleteChildren();
        for (const auto& child : children) child->parent = this;
        data.Replace(T(*other.data));
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
        std::unique_ptr<TreeNode> node = children.extract(position);
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

// The path of `node` below the root of its tree: the name of every node from the root's
// child down to `node`, each after a separator ('\\' when mode is 1, '/' otherwise).
// Empty for a node without a parent (a root) and for null.
template <typename T>
std::string NodePath(const TreeNode<T>* node, int mode) {
    const char separator = mode == 1 ? '\\' : '/';
    std::size_t size = 0;
    for (const TreeNode<T>* at = node; at != nullptr && at->parent != nullptr; at = at->parent) {
        size += 1 + at->data->name.size();
    }
    std::string path(size, separator);
    for (const TreeNode<T>* at = node; at != nullptr && at->parent != nullptr; at = at->parent) {
        const std::string& name = at->data->name;
        size -= name.size();
        path.replace(size, name.size(), name);
        --size;  // the separator before the name is in place already
    }
    return path;
}

// True when the two nodes (of one tree or two) have equal paths ignoring ASCII case: both
// null, or the same number of levels below their roots with equal names at each.
template <typename A, typename B>
bool SamePathNoCase(const TreeNode<A>* a, const TreeNode<B>* b) {
    while (a != nullptr && a->parent != nullptr && b != nullptr && b->parent != nullptr) {
        if (!BaseFunc::EqualNoCase(a->data->name, b->data->name)) return false;
        a = a->parent;
        b = b->parent;
    }
    return (a == nullptr || a->parent == nullptr) && (b == nullptr || b->parent == nullptr);
}

// Inserts a deep copy of `node` under `newParent`, named `newName` (the node's own name
// when the two are equal ignoring case); a non-empty `newNodeRef` becomes the copy's
// nodeRef. True when inserted (false when the name is taken).
bool CopyNodeUnder(const FileNode* node, FileNode* newParent, const std::string& newName,
                   const std::string& newNodeRef);
// As CopyNodeUnder, but the node itself (with its subtree) leaves its old parent; pointers
// to it and below stay valid. False, with nothing changed, when the name is taken under
// the new parent (the node itself counts), the node has no parent, or the new parent is
// the node or lies below it.
bool MoveNodeUnder(FileNode* node, FileNode* newParent, const std::string& newName,
                   const std::string& newNodeRef);
// As MoveNodeUnder, the node keeping its nodeRef.
bool RenameNodeInTree(FileNode* node, FileNode* newParent, const std::string& newName);
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
