#include "client/core/CloudRecords.h"

#include <tuple>

bool CloudNodeStamp::Equals(const CloudNodeStamp& other) const {
    return accountName == other.accountName && displayName == other.displayName && role == other.role &&
           time.Compare(other.time) == 0;
}

bool CloudNode::Equals(const CloudNode& other) const {
    const auto fields = [](const CloudNode& n) {
        return std::tie(n.dbid, n.nodeRef, n.name, n.extension, n.kindFlags, n.rootKind, n.size, n.sharingFlags,
                        n.spareText, n.permissionBits, n.actionFlags, n.version, n.commentCount);
    };
    return fields(*this) == fields(other) && creator.Equals(other.creator) && modifier.Equals(other.modifier);
}

std::string CloudNode::RootKindName(std::int32_t kind) {
    switch (kind) {
    case RootKindCloudRoot: return "CloudRoot";
    case RootKindMyDocument: return "MyDocument";
    case RootKindCollaborateGroup: return "CollaborateGroup";
    case RootKindPublicGroup: return "PublicGroup";
    case RootKindRecycleBin: return "RecycleBin";
    default: return std::string();
    }
}

void CloudNode::MakeRoot(std::int32_t kind, const std::string& id) {
    Reset();
    const bool needsId = kind == RootKindMyDocument || kind == RootKindRecycleBin;
    if (RootKindName(kind).empty() || (needsId && id.empty())) return;
    name = RootKindName(kind);
    nodeRef = needsId ? id : name;
    kindFlags = needsId ? 7 : 5;
    rootKind = kind;
    actionFlags = kind == RootKindMyDocument ? 0x60 : 0;
}

void CloudListing::Clear() {
    node.Reset();
    children.clear();
    totalRecords = 0;
    hasMoreItems = 1;
}

void CloudListing::BuildRoot(const std::string& homeFolderId, const std::string& recycleBinId) {
    Clear();
    node.MakeRoot(RootKindCloudRoot);
    CloudNode home;
    home.MakeRoot(RootKindMyDocument, homeFolderId);
    CloudNode bin;
    bin.MakeRoot(RootKindRecycleBin, recycleBinId);
    children.push_back(home);
    children.push_back(bin);
    totalRecords = 3;
    hasMoreItems = 0;
}

int CloudListing::AppendChildren(const CloudListing& other) {
    // Copy first: `other` may be this listing.
    const std::vector<CloudNode> added = other.children;
    children.insert(children.end(), added.begin(), added.end());
    return static_cast<int>(added.size());
}

std::string CloudNavigationStack::GetPath() const {
    std::string path;
    for (const CloudListing& l : listings) path += "/" + l.node.name;
    return path;
}

int CloudNavigationStack::UpdateTop(const CloudListing& listing) {
    if (listings.empty() || !listing.node.Equals(Top().node)) return 0;
    Top().AppendChildren(listing);
    return 1;
}

void CloudNavigationStack::DecorateNames() {
    if (listings.size() != 2 && listings.size() != 3) return;
    if ((listings[1].node.kindFlags & 0x2) != 0) return;
    if (listings.size() == 2) {
        for (CloudNode& child : listings[1].children) child.name += "(" + child.creator.displayName + ")";
    } else {
        CloudNode& group = listings[2].node;
        group.name += "(" + group.creator.displayName + ")";
    }
}
