#pragma once
// The records through which the client sees the cloud: an item with its creator and
// modifier, a folder listing, the browser's path of listings, the short item record of
// create/rename/upload replies and the user record of the login reply. All text is UTF-8.
#include <cstdint>
#include <string>
#include <vector>

#include "client/core/DateTime.h"

// Root kinds of a node.
enum CloudRootKind : std::int32_t {
    RootKindNone = 0,
    RootKindCloudRoot = 1,
    RootKindMyDocument = 2,
    RootKindCollaborateGroup = 3,
    RootKindPublicGroup = 4,
    RootKindRecycleBin = 5,
};

// Kind flags: bit 0 marks a folder; roots carry 5, 7 or 2 (see CloudNode::MakeRoot).
constexpr std::int32_t kNodeKindFolder = 0x1;

// Sharing flags (JSON keys that are the value true).
constexpr std::int32_t kSharingPublished = 0x1;     // "published"
constexpr std::int32_t kSharingShared = 0x2;        // "shared"
constexpr std::int32_t kSharingIsPublicFile = 0x4;  // "isPublicFile"

// Permission bits from "perm".
constexpr std::int32_t kPermCh = 1;     // "ch"
constexpr std::int32_t kPermC = 2;      // "c"
constexpr std::int32_t kPermW = 4;      // "w"
constexpr std::int32_t kPermD = 8;      // "d"
constexpr std::int32_t kPermDown = 16;  // "down"

// The creator or modifier of an item.
struct CloudNodeStamp {
    enum Role : std::int32_t { RoleNone = 0, RoleCreator = 1, RoleModifier = 2 };

    std::string accountName;  // "name"
    std::string displayName;  // "dname"
    std::int32_t role = RoleNone;
    DateTime time;            // "created" / "modified"

    void Assign(const CloudNodeStamp& other) { *this = other; }
    // Both texts and the role equal, and the times the same moment.
    bool Equals(const CloudNodeStamp& other) const;
};

struct CloudNode {
    std::string dbid;
    std::string nodeRef;    // node-reference prefix + "ref"; roots: their name or id
    std::string name;       // "oname" when present, else "name"
    std::string extension;  // files: from the name's last "." on (dot included)
    std::int32_t kindFlags = 0;
    std::int32_t rootKind = RootKindNone;
    std::int64_t size = 0;
    std::int32_t sharingFlags = 0;
    std::string spareText;
    std::int32_t permissionBits = 0;
    std::uint16_t actionFlags = 0;
    CloudNodeStamp creator;   // role 1
    CloudNodeStamp modifier;  // role 2
    std::string version;      // "ver"
    std::int32_t commentCount = 0;

    void Assign(const CloudNode& other) { *this = other; }
    void Reset() { *this = CloudNode(); }
    bool Equals(const CloudNode& other) const;
    bool IsFolder() const { return (kindFlags & kNodeKindFolder) != 0; }

    // "CloudRoot", "MyDocument", "CollaborateGroup", "PublicGroup", "RecycleBin" for
    // kinds 1-5; "" for any other value.
    static std::string RootKindName(std::int32_t kind);
    // Resets the node and makes it the root of `kind`. The home folder (2) and the
    // recycle bin (5) need an id and leave the node reset without one.
    void MakeRoot(std::int32_t kind, const std::string& id = std::string());
};

struct CloudListing {
    CloudNode node;                  // the folder listed
    std::vector<CloudNode> children;
    std::vector<CloudNode> parents;  // the folder's ancestors in the reply
    std::int32_t totalRecords = 0;
    std::int32_t hasMoreItems = 0;

    // Node reset, children emptied, totalRecords 0, hasMoreItems 1; the parents stay.
    void Clear();
    // The top-level listing: "MyDocument" and "RecycleBin" below the cloud root.
    // totalRecords is 3 although there are two children.
    void BuildRoot(const std::string& homeFolderId, const std::string& recycleBinId);
    // Appends other's children in order; returns how many.
    int AppendChildren(const CloudListing& other);
};

// The cloud browser's path of listings: the cloud root at index 0, the folder shown last.
struct CloudNavigationStack {
    std::vector<CloudListing> listings;

    // The last listing; the stack must not be empty.
    CloudListing& Top() { return listings.back(); }
    const CloudListing& Top() const { return listings.back(); }
    // "/CloudRoot/MyDocument/Reports"; "" for an empty stack.
    std::string GetPath() const;
    // When `listing` is the next page of the folder on top (equal nodes), appends its
    // children there and returns 1; else 0 and nothing changes.
    int UpdateTop(const CloudListing& listing);
    // Group listings show their creator: at depth two every child of the group list gets
    // "(" + creator display name + ")" appended; at depth three the opened group's node.
    void DecorateNames();
};

// The short item record of create-folder, rename, upload and tree replies.
struct CloudItem {
    std::string nodeRef;    // "nodeRef"
    std::string parentRef;  // "parent"
    std::string name;
    DateTime modified;
};

// The user record of the login reply.
struct ServerUserInfo {
    std::string userName;      // "userName"
    std::string email;         // "email"
    std::string homeFolder;    // "homeFolder"
    std::string formFolder;    // "formFolder"
    std::string name;          // "name"
    std::string trashesHome;   // "trashesHome"
    std::string quota;         // "quota"
    std::string sizeCurrent;   // "sizeCurrent"
    std::string ticket;        // "ticket"
    std::string cmServerName;  // "cmServerName"
    std::string nodeRefPrefix; // "homeFolder" up to and including its last "/" (set by the reader)

    void Assign(const ServerUserInfo& other) { *this = other; }
};
