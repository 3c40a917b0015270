#pragma once
// The server's content: accounts with their home folder, recycle bin and groups, the item
// tree below them, and the login sessions. Not synchronised: the server holds one state
// mutex around every call.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "Blob.h"

namespace testserver {

// Outcome of a store operation: an HTTP status (200 on success) and a message.
struct Status {
    int code = 200;
    std::string message;
    bool ok() const { return code == 200; }
    static Status Ok() { return {}; }
};

struct Perms {
    bool ch = false, c = false, w = false, d = false, down = false;
};

// A copy of one item as the replies show it.
struct ItemView {
    std::string id;
    std::uint64_t dbid = 0;
    bool folder = false;
    std::string name;
    std::int64_t size = 0;
    std::string checksum;  // upper-case hex; empty for folders
    int version = 1;
    std::int64_t created = 0, modified = 0;
    std::string creator, creatorDisplay, modifier, modifierDisplay;
    std::string parentId;  // empty for a root
    std::string path;      // below its root, "/a/b"; "/" for a root
    Perms perms;
    bool collaborated = false;  // inside a group
    BlobPtr blob;               // files only
};

struct AccountView {
    std::string account, displayName, homeId, trashId;
    std::int64_t usedBytes = 0;
};

class Store {
public:
    explicit Store(std::filesystem::path blobDir);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::filesystem::path& BlobDir() const { return blobDir_; }

    // Accounts and groups.
    Status AddUser(const std::string& account, const std::string& password);
    Status Account(const std::string& account, AccountView& out) const;
    std::vector<std::string> Accounts() const;  // in the order they were added
    // A group root; a public group is visible to every account, a collaboration group
    // to its members. Returns the group's id.
    std::string AddGroup(const std::string& name, bool isPublic, const std::set<std::string>& members);

    // Sessions.
    std::string Login(const std::string& account, const std::string& password);  // token or ""
    bool Logout(const std::string& token);
    std::optional<std::string> SessionAccount(const std::string& token) const;
    void ClearSessions();

    // Reads on behalf of an account.
    Status ListHome(const std::string& account, std::vector<ItemView>& out) const;  // pre-order
    Status ListNode(const std::string& account, const std::string& id, ItemView& self,
                    std::vector<ItemView>& parents, std::vector<ItemView>& children) const;
    std::vector<ItemView> ListGroups(const std::string& account, bool isPublic) const;
    Status Item(const std::string& account, const std::string& id, ItemView& out) const;

    // Changes on behalf of an account.
    Status CreateFolder(const std::string& account, const std::string& parentId,
                        const std::string& name, ItemView& out);
    Status CreateFolderPath(const std::string& account, const std::string& parentId,
                            const std::vector<std::string>& names, std::vector<ItemView>& levels);
    Status CopyItems(const std::string& account, const std::string& targetId,
                     const std::vector<std::string>& ids, std::vector<ItemView>& out);
    Status MoveItems(const std::string& account, const std::string& targetId,
                     const std::vector<std::string>& ids, std::vector<ItemView>& out);
    Status DeleteItems(const std::string& account, const std::vector<std::string>& ids);
    Status RestoreItems(const std::string& account, const std::vector<std::string>& ids);
    Status Rename(const std::string& account, const std::string& id, const std::string& name,
                  ItemView& out);
    // A new file, or new content for updateId (or for a file of that name in the folder).
    Status StoreFile(const std::string& account, const std::string& parentId,
                     const std::string& updateId, const std::string& name, BlobPtr blob,
                     ItemView& out);

    // Changes by home-relative path, as another user would make them.
    Status PutFileAt(const std::string& account, const std::string& path, BlobPtr blob, ItemView& out);
    Status MakeFoldersAt(const std::string& account, const std::string& path, ItemView& out);
    Status RemoveAt(const std::string& account, const std::string& path, bool purge);
    Status MoveAt(const std::string& account, const std::string& from, const std::string& to);
    // Every item below the home folder (or the recycle bin), pre-order.
    Status Snapshot(const std::string& account, bool trash, std::vector<ItemView>& out) const;

    // Removes every item below every root; accounts, roots and groups stay.
    void ClearContents();

private:
    enum class RootKind { None, Home, Trash, Group };
    struct Node;
    struct User;

    Node* NewNode(bool folder, const std::string& name, const std::string& account);
    const Node* RootOf(const Node* n) const;
    bool Visible(const std::string& account, const Node* n) const;
    bool InTrash(const Node* n) const;
    Status Find(const std::string& account, const std::string& id, Node*& out) const;
    Status Writable(const std::string& account, const std::string& id, Node*& folder) const;
    Status Movable(const std::string& account, const std::string& id, Node*& item) const;
    Node* ChildNamed(const Node* folder, const std::string& name, const Node* except = nullptr) const;
    // 409 unless every item's name is free in the folder (an item that may stay where it
    // is does not clash with itself) and the items' names differ from each other.
    Status CheckFreeNames(const Node* folder, const std::vector<Node*>& items, bool mayStay) const;
    // The checks shared by copy and move: a writable target folder, movable items, and no
    // folder going into itself.
    Status CheckTransfer(const std::string& account, const std::string& targetId,
                         const std::vector<std::string>& ids, Node*& target,
                         std::vector<Node*>& items) const;
    void Attach(Node* folder, Node* child);
    void Detach(Node* child);
    void Unindex(Node* child);                         // drops the child from its folder's name index
    void SetName(Node* item, const std::string& name);  // renames in place, keeping the index
    void Purge(Node* n);
    Node* DeepCopy(const Node* source, Node* target, const std::string& account);
    void TrashItem(const std::string& account, Node* n);
    Status ResolvePath(const std::string& account, const std::string& path, Node*& out) const;
    ItemView View(const Node* n) const;
    void Walk(const Node* n, std::vector<ItemView>& out) const;
    std::vector<Node*> SortedChildren(const Node* n) const;
    std::string DisplayName(const std::string& account) const;

    std::filesystem::path blobDir_;
    std::unordered_map<std::string, std::unique_ptr<Node>> nodes_;
    std::map<std::string, std::unique_ptr<User>> users_;
    std::vector<std::string> accountOrder_;
    std::vector<Node*> groups_;
    std::unordered_map<std::string, std::string> sessions_;  // token -> account
    std::uint64_t nextDbid_ = 1000;
    std::mt19937_64 rng_;
};

}  // namespace testserver
