#include "Store.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "Text.h"

namespace testserver {

struct Store::Node {
    std::string id;
    std::uint64_t dbid = 0;
    bool folder = false;
    std::string name;
    Node* parent = nullptr;
    std::vector<Node*> children;                        // in the order they came in
    std::unordered_multimap<std::string, Node*> named;  // the children by folded name
    BlobPtr blob;
    int version = 1;
    std::int64_t created = 0, modified = 0;
    std::string creator, modifier;
    RootKind root = RootKind::None;
    std::string owner;  // home folder and recycle bin: their account
    bool isPublic = false;
    std::set<std::string> members;
    std::string origParentId;  // items directly in a recycle bin: the folder they came from
};

struct Store::User {
    std::string password;
    Node* home = nullptr;
    Node* trash = nullptr;
};

namespace {

Status Fail(int code, std::string message) { return Status{code, std::move(message)}; }

constexpr int kBadRequest = 400;
constexpr int kForbidden = 403;
constexpr int kNotFound = 404;
constexpr int kConflict = 409;

const char* kNoSuchItem = "no such item";

}  // namespace

Store::Store(std::filesystem::path blobDir) : blobDir_(std::move(blobDir)), rng_(std::random_device{}()) {
    // One public group that every account sees.
    AddGroup("Public", true, {});
}

Store::~Store() = default;

Store::Node* Store::NewNode(bool folder, const std::string& name, const std::string& account) {
    auto node = std::make_unique<Node>();
    std::string id;
    do {
        const std::uint64_t a = rng_(), b = rng_();
        char text[40];
        std::snprintf(text, sizeof text, "%08x-%04x-4%03x-%04x-%012llx",
                      static_cast<unsigned>(a >> 32), static_cast<unsigned>((a >> 16) & 0xFFFF),
                      static_cast<unsigned>(a & 0xFFF), static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3FFF)),
                      static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
        id = text;
    } while (nodes_.count(id));
    node->id = id;
    node->dbid = nextDbid_++;
    node->folder = folder;
    node->name = name;
    node->created = node->modified = NowSeconds();
    node->creator = node->modifier = account;
    Node* raw = node.get();
    nodes_.emplace(id, std::move(node));
    return raw;
}

const Store::Node* Store::RootOf(const Node* n) const {
    while (n->parent) n = n->parent;
    return n;
}

bool Store::Visible(const std::string& account, const Node* n) const {
    const Node* root = RootOf(n);
    switch (root->root) {
        case RootKind::Home:
        case RootKind::Trash:
            return root->owner == account;
        case RootKind::Group:
            return root->isPublic || root->members.count(account) > 0;
        case RootKind::None:
            return false;
    }
    return false;
}

bool Store::InTrash(const Node* n) const { return RootOf(n)->root == RootKind::Trash; }

Status Store::Find(const std::string& account, const std::string& id, Node*& out) const {
    auto it = nodes_.find(id);
    if (it == nodes_.end() || !Visible(account, it->second.get())) return Fail(kNotFound, kNoSuchItem);
    out = it->second.get();
    return Status::Ok();
}

Status Store::Writable(const std::string& account, const std::string& id, Node*& folder) const {
    Status s = Find(account, id, folder);
    if (!s.ok()) return s;
    if (!folder->folder) return Fail(kBadRequest, "not a folder");
    if (InTrash(folder)) return Fail(kForbidden, "the recycle bin cannot be changed this way");
    return Status::Ok();
}

Status Store::Movable(const std::string& account, const std::string& id, Node*& item) const {
    Status s = Find(account, id, item);
    if (!s.ok()) return s;
    if (!item->parent) return Fail(kForbidden, "a root folder cannot be changed");
    if (InTrash(item)) return Fail(kForbidden, "items in the recycle bin can only be restored or deleted");
    return Status::Ok();
}

Store::Node* Store::ChildNamed(const Node* folder, const std::string& name, const Node* except) const {
    // A folder of many items is looked up by name often (seeding, path lookups), so the
    // children are indexed by folded name. Only a recycle bin holds several items of one
    // name; there the first in the folder's order is the one meant.
    const auto [first, last] = folder->named.equal_range(FoldName(name));
    Node* found = nullptr;
    std::size_t matches = 0;
    for (auto it = first; it != last; ++it)
        if (it->second != except) {
            found = it->second;
            ++matches;
        }
    if (matches > 1) {
        for (Node* child : folder->children)
            for (auto it = first; it != last; ++it)
                if (it->second == child && child != except) return child;
    }
    return found;
}

Status Store::CheckFreeNames(const Node* folder, const std::vector<Node*>& items, bool mayStay) const {
    std::set<std::string> incoming;
    for (const Node* item : items) {
        if (ChildNamed(folder, item->name, mayStay ? item : nullptr) ||
            !incoming.insert(FoldName(item->name)).second)
            return Fail(kConflict, "an item named \"" + item->name + "\" exists there");
    }
    return Status::Ok();
}

Status Store::CheckTransfer(const std::string& account, const std::string& targetId,
                            const std::vector<std::string>& ids, Node*& target,
                            std::vector<Node*>& items) const {
    Status s = Writable(account, targetId, target);
    if (!s.ok()) return s;
    for (const std::string& id : ids) {
        Node* item = nullptr;
        s = Movable(account, id, item);
        if (!s.ok()) return s;
        for (const Node* p = target; p; p = p->parent)
            if (p == item) return Fail(kBadRequest, "a folder cannot go into itself");
        items.push_back(item);
    }
    return Status::Ok();
}

void Store::Attach(Node* folder, Node* child) {
    child->parent = folder;
    folder->children.push_back(child);
    folder->named.emplace(FoldName(child->name), child);
}

void Store::Unindex(Node* child) {
    auto& named = child->parent->named;
    const auto [first, last] = named.equal_range(FoldName(child->name));
    for (auto it = first; it != last; ++it)
        if (it->second == child) {
            named.erase(it);
            return;
        }
}

void Store::Detach(Node* child) {
    if (!child->parent) return;
    auto& siblings = child->parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), child), siblings.end());
    Unindex(child);
    child->parent = nullptr;
}

void Store::SetName(Node* item, const std::string& name) {
    // The item keeps its place among its siblings; only the index follows the new name.
    if (!item->parent) {
        item->name = name;
        return;
    }
    Unindex(item);
    item->name = name;
    item->parent->named.emplace(FoldName(name), item);
}

void Store::Purge(Node* n) {
    std::vector<std::string> ids;
    std::vector<const Node*> stack{n};
    while (!stack.empty()) {
        const Node* top = stack.back();
        stack.pop_back();
        ids.push_back(top->id);
        for (const Node* child : top->children) stack.push_back(child);
    }
    Detach(n);
    for (const std::string& id : ids) nodes_.erase(id);
}

Store::Node* Store::DeepCopy(const Node* source, Node* target, const std::string& account) {
    Node* copy = NewNode(source->folder, source->name, account);
    copy->blob = source->blob;
    Attach(target, copy);
    for (const Node* child : source->children) DeepCopy(child, copy, account);
    return copy;
}

void Store::TrashItem(const std::string& account, Node* n) {
    n->origParentId = n->parent->id;
    Detach(n);
    Attach(users_.at(account)->trash, n);
}

std::string Store::DisplayName(const std::string& account) const { return account; }

std::vector<Store::Node*> Store::SortedChildren(const Node* n) const {
    std::vector<Node*> children = n->children;
    std::stable_sort(children.begin(), children.end(), [](const Node* a, const Node* b) {
        if (a->folder != b->folder) return a->folder;
        return FoldName(a->name) < FoldName(b->name);
    });
    return children;
}

ItemView Store::View(const Node* n) const {
    ItemView v;
    v.id = n->id;
    v.dbid = n->dbid;
    v.folder = n->folder;
    v.name = n->name;
    if (n->blob) {
        v.size = n->blob->Size();
        v.checksum = n->blob->Md5();
        v.blob = n->blob;
    }
    v.version = n->version;
    v.created = n->created;
    v.modified = n->modified;
    v.creator = n->creator;
    v.creatorDisplay = DisplayName(n->creator);
    v.modifier = n->modifier;
    v.modifierDisplay = DisplayName(n->modifier);
    if (n->parent) v.parentId = n->parent->id;
    std::vector<const Node*> chain;
    for (const Node* p = n; p->parent; p = p->parent) chain.push_back(p);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) v.path += "/" + (*it)->name;
    if (v.path.empty()) v.path = "/";
    const Node* root = RootOf(n);
    v.collaborated = root->root == RootKind::Group;
    if (root->root == RootKind::Trash) {
        v.perms.d = n->parent != nullptr;  // items in the bin can be deleted for good
    } else if (!n->parent) {
        v.perms.ch = v.perms.c = true;  // roots take new items but are not renamed or deleted
    } else {
        v.perms = Perms{true, true, true, true, true};
    }
    return v;
}

void Store::Walk(const Node* n, std::vector<ItemView>& out) const {
    for (const Node* child : SortedChildren(n)) {
        out.push_back(View(child));
        Walk(child, out);
    }
}

// ---- accounts, groups, sessions --------------------------------------------------------

Status Store::AddUser(const std::string& account, const std::string& password) {
    if (account.empty() || !IsValidUtf8(account)) return Fail(kBadRequest, "invalid account name");
    if (users_.count(account)) return Fail(kConflict, "the account exists");
    auto user = std::make_unique<User>();
    user->password = password;
    user->home = NewNode(true, "MyDocument", account);
    user->home->root = RootKind::Home;
    user->home->owner = account;
    user->trash = NewNode(true, "RecycleBin", account);
    user->trash->root = RootKind::Trash;
    user->trash->owner = account;
    users_.emplace(account, std::move(user));
    accountOrder_.push_back(account);
    // Every account starts with a collaboration group of its own.
    AddGroup("Team " + account, false, {account});
    return Status::Ok();
}

Status Store::Account(const std::string& account, AccountView& out) const {
    auto it = users_.find(account);
    if (it == users_.end()) return Fail(kNotFound, "no such account");
    out.account = account;
    out.displayName = DisplayName(account);
    out.homeId = it->second->home->id;
    out.trashId = it->second->trash->id;
    std::vector<ItemView> items;
    Walk(it->second->home, items);
    out.usedBytes = 0;
    for (const ItemView& item : items) out.usedBytes += item.size;
    return Status::Ok();
}

std::vector<std::string> Store::Accounts() const { return accountOrder_; }

std::string Store::AddGroup(const std::string& name, bool isPublic, const std::set<std::string>& members) {
    Node* group = NewNode(true, name, members.empty() ? std::string("admin") : *members.begin());
    group->root = RootKind::Group;
    group->isPublic = isPublic;
    group->members = members;
    groups_.push_back(group);
    return group->id;
}

std::string Store::Login(const std::string& account, const std::string& password) {
    auto it = users_.find(account);
    if (it == users_.end() || it->second->password != password) return {};
    // 128 bits from the kernel: a session token must not be guessable from earlier ones.
    std::string token = RandomHex(16);
    sessions_[token] = account;
    return token;
}

bool Store::Logout(const std::string& token) { return sessions_.erase(token) > 0; }

std::optional<std::string> Store::SessionAccount(const std::string& token) const {
    auto it = sessions_.find(token);
    if (it == sessions_.end()) return std::nullopt;
    return it->second;
}

void Store::ClearSessions() { sessions_.clear(); }

// ---- reads ------------------------------------------------------------------------------

Status Store::ListHome(const std::string& account, std::vector<ItemView>& out) const {
    return Snapshot(account, false, out);
}

Status Store::ListNode(const std::string& account, const std::string& id, ItemView& self,
                       std::vector<ItemView>& parents, std::vector<ItemView>& children) const {
    Node* n = nullptr;
    Status s = Find(account, id, n);
    if (!s.ok()) return s;
    self = View(n);
    std::vector<const Node*> chain;
    for (const Node* p = n->parent; p; p = p->parent) chain.push_back(p);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) parents.push_back(View(*it));
    for (const Node* child : SortedChildren(n)) children.push_back(View(child));
    return Status::Ok();
}

std::vector<ItemView> Store::ListGroups(const std::string& account, bool isPublic) const {
    std::vector<ItemView> out;
    for (const Node* group : groups_)
        if (group->isPublic == isPublic && Visible(account, group)) out.push_back(View(group));
    return out;
}

Status Store::Item(const std::string& account, const std::string& id, ItemView& out) const {
    Node* n = nullptr;
    Status s = Find(account, id, n);
    if (s.ok()) out = View(n);
    return s;
}

// ---- changes ----------------------------------------------------------------------------

Status Store::CreateFolder(const std::string& account, const std::string& parentId,
                           const std::string& name, ItemView& out) {
    std::vector<ItemView> levels;
    Status s = CreateFolderPath(account, parentId, {name}, levels);
    if (s.ok()) out = levels.back();
    return s;
}

Status Store::CreateFolderPath(const std::string& account, const std::string& parentId,
                               const std::vector<std::string>& names, std::vector<ItemView>& levels) {
    Node* folder = nullptr;
    Status s = Writable(account, parentId, folder);
    if (!s.ok()) return s;
    if (names.empty()) return Fail(kBadRequest, "no folder name");
    for (const std::string& name : names)
        if (!IsValidItemName(name)) return Fail(kBadRequest, "invalid name \"" + name + "\"");
    // Check the levels that exist before anything is created.
    std::size_t existing = 0;
    for (Node* n = folder; existing < names.size(); ++existing) {
        n = ChildNamed(n, names[existing]);
        if (!n) break;
        if (!n->folder) return Fail(kConflict, "a file named \"" + names[existing] + "\" exists there");
    }
    for (const std::string& name : names) {
        Node* next = ChildNamed(folder, name);
        if (!next) {
            next = NewNode(true, name, account);
            Attach(folder, next);
        }
        folder = next;
        levels.push_back(View(folder));
    }
    return Status::Ok();
}

Status Store::CopyItems(const std::string& account, const std::string& targetId,
                        const std::vector<std::string>& ids, std::vector<ItemView>& out) {
    Node* target = nullptr;
    std::vector<Node*> items;
    Status s = CheckTransfer(account, targetId, ids, target, items);
    if (!s.ok()) return s;
    // A copy always needs a free name, even in its own folder.
    s = CheckFreeNames(target, items, false);
    if (!s.ok()) return s;
    for (Node* item : items) out.push_back(View(DeepCopy(item, target, account)));
    return Status::Ok();
}

Status Store::MoveItems(const std::string& account, const std::string& targetId,
                        const std::vector<std::string>& ids, std::vector<ItemView>& out) {
    Node* target = nullptr;
    std::vector<Node*> items;
    Status s = CheckTransfer(account, targetId, ids, target, items);
    if (!s.ok()) return s;
    s = CheckFreeNames(target, items, true);
    if (!s.ok()) return s;
    for (Node* item : items) {
        if (item->parent != target) {
            Detach(item);
            Attach(target, item);
            item->modified = NowSeconds();
            item->modifier = account;
        }
        out.push_back(View(item));
    }
    return Status::Ok();
}

Status Store::DeleteItems(const std::string& account, const std::vector<std::string>& ids) {
    std::vector<Node*> items;
    std::unordered_set<const Node*> chosen;
    for (const std::string& id : ids) {
        Node* item = nullptr;
        // An item that is gone already is refused with 400, which callers take as done.
        if (!Find(account, id, item).ok()) return Fail(kBadRequest, kNoSuchItem);
        if (!item->parent) return Fail(kForbidden, "a root folder cannot be deleted");
        if (chosen.insert(item).second) items.push_back(item);
    }
    for (Node* item : items) {
        bool underChosen = false;  // goes along with a chosen folder
        for (const Node* p = item->parent; p && !underChosen; p = p->parent) underChosen = chosen.count(p) > 0;
        if (underChosen) continue;
        if (InTrash(item)) {
            Purge(item);
        } else {
            TrashItem(account, item);
        }
    }
    return Status::Ok();
}

Status Store::RestoreItems(const std::string& account, const std::vector<std::string>& ids) {
    const User& user = *users_.at(account);
    std::map<Node*, std::vector<Node*>> byDestination;
    std::vector<std::pair<Node*, Node*>> moves;
    std::unordered_set<const Node*> chosen;
    for (const std::string& id : ids) {
        Node* item = nullptr;
        Status s = Find(account, id, item);
        if (!s.ok()) return s;
        if (item->parent != user.trash) return Fail(kBadRequest, "not in the recycle bin");
        if (!chosen.insert(item).second) continue;
        Node* destination = user.home;
        auto origin = nodes_.find(item->origParentId);
        if (origin != nodes_.end() && origin->second->folder && Visible(account, origin->second.get()) &&
            !InTrash(origin->second.get()))
            destination = origin->second.get();
        byDestination[destination].push_back(item);
        moves.emplace_back(item, destination);
    }
    for (const auto& [destination, items] : byDestination) {
        Status s = CheckFreeNames(destination, items, false);
        if (!s.ok()) return s;
    }
    for (auto& [item, destination] : moves) {
        Detach(item);
        Attach(destination, item);
        item->origParentId.clear();
    }
    return Status::Ok();
}

Status Store::Rename(const std::string& account, const std::string& id, const std::string& name,
                     ItemView& out) {
    Node* item = nullptr;
    Status s = Movable(account, id, item);
    if (!s.ok()) return s;
    if (!IsValidItemName(name)) return Fail(kBadRequest, "invalid name");
    if (ChildNamed(item->parent, name, item))
        return Fail(kConflict, "an item named \"" + name + "\" exists there");
    if (item->name != name) {
        SetName(item, name);
        item->modified = NowSeconds();
        item->modifier = account;
    }
    out = View(item);
    return Status::Ok();
}

Status Store::StoreFile(const std::string& account, const std::string& parentId,
                        const std::string& updateId, const std::string& name, BlobPtr blob,
                        ItemView& out) {
    Node* file = nullptr;
    if (!updateId.empty()) {
        Status s = Movable(account, updateId, file);
        if (!s.ok()) return s;
        if (file->folder) return Fail(kBadRequest, "the item to update is a folder");
    } else {
        Node* folder = nullptr;
        Status s = Writable(account, parentId, folder);
        if (!s.ok()) return s;
        if (!IsValidItemName(name)) return Fail(kBadRequest, "invalid file name");
        file = ChildNamed(folder, name);
        if (file && file->folder) return Fail(kConflict, "a folder named \"" + name + "\" exists there");
        if (!file) {
            file = NewNode(false, name, account);
            file->blob = std::move(blob);
            Attach(folder, file);
            out = View(file);
            return Status::Ok();
        }
    }
    // New content for an existing file: a new version of the same item.
    file->blob = std::move(blob);
    ++file->version;
    file->modified = NowSeconds();
    file->modifier = account;
    out = View(file);
    return Status::Ok();
}

// ---- changes by path --------------------------------------------------------------------

Status Store::ResolvePath(const std::string& account, const std::string& path, Node*& out) const {
    auto user = users_.find(account);
    if (user == users_.end()) return Fail(kNotFound, "no such account");
    bool ok = false;
    const std::vector<std::string> pieces = SplitPath(path, ok);
    if (!ok) return Fail(kBadRequest, "invalid path");
    Node* n = user->second->home;
    for (const std::string& piece : pieces) {
        n = ChildNamed(n, piece);
        if (!n) return Fail(kNotFound, "no item at " + path);
    }
    out = n;
    return Status::Ok();
}

Status Store::MakeFoldersAt(const std::string& account, const std::string& path, ItemView& out) {
    auto user = users_.find(account);
    if (user == users_.end()) return Fail(kNotFound, "no such account");
    bool ok = false;
    const std::vector<std::string> pieces = SplitPath(path, ok);
    if (!ok) return Fail(kBadRequest, "invalid path");
    if (pieces.empty()) {
        out = View(user->second->home);
        return Status::Ok();
    }
    std::vector<ItemView> levels;
    Status s = CreateFolderPath(account, user->second->home->id, pieces, levels);
    if (s.ok()) out = levels.back();
    return s;
}

Status Store::PutFileAt(const std::string& account, const std::string& path, BlobPtr blob, ItemView& out) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || !IsValidItemName(path.substr(slash + 1)))
        return Fail(kBadRequest, "invalid path");
    ItemView folder;
    Status s = MakeFoldersAt(account, slash == 0 ? "/" : path.substr(0, slash), folder);
    if (!s.ok()) return s;
    return StoreFile(account, folder.id, "", path.substr(slash + 1), std::move(blob), out);
}

Status Store::RemoveAt(const std::string& account, const std::string& path, bool purge) {
    Node* item = nullptr;
    Status s = ResolvePath(account, path, item);
    if (!s.ok()) return s;
    if (!item->parent) return Fail(kForbidden, "the home folder cannot be removed");
    if (purge) {
        Purge(item);
    } else {
        TrashItem(account, item);
    }
    return Status::Ok();
}

Status Store::MoveAt(const std::string& account, const std::string& from, const std::string& to) {
    Node* item = nullptr;
    Status s = ResolvePath(account, from, item);
    if (!s.ok()) return s;
    if (!item->parent) return Fail(kForbidden, "the home folder cannot be moved");
    const std::size_t slash = to.find_last_of('/');
    if (slash == std::string::npos) return Fail(kBadRequest, "invalid path");
    Node* folder = nullptr;
    s = ResolvePath(account, slash == 0 ? "/" : to.substr(0, slash), folder);
    if (!s.ok()) return s;
    if (!folder->folder) return Fail(kConflict, "not a folder: " + to.substr(0, slash));
    const std::string name = to.substr(slash + 1);
    if (!IsValidItemName(name)) return Fail(kBadRequest, "invalid name");
    for (const Node* p = folder; p; p = p->parent)
        if (p == item) return Fail(kBadRequest, "a folder cannot go into itself");
    if (ChildNamed(folder, name, item)) return Fail(kConflict, "an item named \"" + name + "\" exists there");
    if (item->parent != folder) {
        Detach(item);
        Attach(folder, item);
    }
    SetName(item, name);
    item->modified = NowSeconds();
    item->modifier = account;
    return Status::Ok();
}

Status Store::Snapshot(const std::string& account, bool trash, std::vector<ItemView>& out) const {
    auto user = users_.find(account);
    if (user == users_.end()) return Fail(kNotFound, "no such account");
    Walk(trash ? user->second->trash : user->second->home, out);
    return Status::Ok();
}

void Store::ClearContents() {
    std::vector<Node*> roots;
    for (auto& [account, user] : users_) {
        roots.push_back(user->home);
        roots.push_back(user->trash);
    }
    roots.insert(roots.end(), groups_.begin(), groups_.end());
    for (Node* root : roots)
        while (!root->children.empty()) Purge(root->children.back());
}

}  // namespace testserver
