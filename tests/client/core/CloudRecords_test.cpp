#include "client/core/CloudRecords.h"

#include <gtest/gtest.h>

#include <string>

namespace {

CloudNode Folder(const std::string& name, const std::string& creator = "", std::int32_t kind = kNodeKindFolder) {
    CloudNode n;
    n.name = name;
    n.nodeRef = "workspace://SpacesStore/" + name;
    n.kindFlags = kind;
    n.creator.displayName = creator;
    n.creator.role = CloudNodeStamp::RoleCreator;
    return n;
}

CloudListing ListingOf(const CloudNode& node, std::initializer_list<CloudNode> children = {}) {
    CloudListing l;
    l.node = node;
    l.children = children;
    return l;
}

TEST(CloudNode, RootKindNames) {
    const char* names[] = {"", "CloudRoot", "MyDocument", "CollaborateGroup", "PublicGroup", "RecycleBin", ""};
    for (int kind = 0; kind <= 6; ++kind) EXPECT_EQ(CloudNode::RootKindName(kind), names[kind]) << kind;
    EXPECT_EQ(CloudNode::RootKindName(-1), "");
}

TEST(CloudNode, MakeRoot) {
    struct Case {
        int kind;
        const char* id;
        const char* name;
        const char* ref;
        int kindFlags;
        int rootKind;
        int actionFlags;
    } cases[] = {
        {1, "", "CloudRoot", "CloudRoot", 5, 1, 0},
        {2, "home-id", "MyDocument", "home-id", 7, 2, 0x60},
        {3, "ignored", "CollaborateGroup", "CollaborateGroup", 5, 3, 0},
        {4, "", "PublicGroup", "PublicGroup", 5, 4, 0},
        {5, "bin-id", "RecycleBin", "bin-id", 7, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        CloudNode n = Folder("old");
        n.permissionBits = 31;
        n.size = 9;
        n.MakeRoot(c.kind, c.id);
        EXPECT_EQ(n.name, c.name);
        EXPECT_EQ(n.nodeRef, c.ref);
        EXPECT_EQ(n.kindFlags, c.kindFlags);
        EXPECT_EQ(n.rootKind, c.rootKind);
        EXPECT_EQ(n.actionFlags, c.actionFlags);
        EXPECT_EQ(n.permissionBits, 0);
        EXPECT_EQ(n.size, 0);
    }
    // Home folder and recycle bin need an id; unknown kinds leave the node reset.
    for (int kind : {2, 5, 0, 6}) {
        CloudNode n = Folder("old");
        n.MakeRoot(kind);
        EXPECT_TRUE(n.Equals(CloudNode())) << kind;
    }
}

TEST(CloudNode, EqualsComparesEveryField) {
    CloudNode base = Folder("a", "Ops");
    base.modifier.time.ParseHttpDate("Thu Jan 01 08:00:00 CST 1970");
    EXPECT_TRUE(base.Equals(base));
    CloudNode other = base;
    other.spareText = "x";
    EXPECT_FALSE(base.Equals(other));
    other = base;
    other.actionFlags = 1;
    EXPECT_FALSE(base.Equals(other));
    other = base;
    other.creator.displayName = "Dev";
    EXPECT_FALSE(base.Equals(other));
    // Stamps compare times as moments: the same instant in another offset is equal.
    other = base;
    other.modifier.time.utcOffsetHours = 0;
    other.modifier.time.hour = 0;
    EXPECT_TRUE(base.Equals(other));
    other.modifier.time.minute = 1;
    EXPECT_FALSE(base.Equals(other));
}

TEST(CloudListing, ClearKeepsParents) {
    CloudListing l = ListingOf(Folder("f"), {Folder("a")});
    l.parents.push_back(Folder("p"));
    l.totalRecords = 4;
    l.hasMoreItems = 0;
    l.Clear();
    EXPECT_TRUE(l.node.Equals(CloudNode()));
    EXPECT_TRUE(l.children.empty());
    EXPECT_EQ(l.parents.size(), 1u);
    EXPECT_EQ(l.totalRecords, 0);
    EXPECT_EQ(l.hasMoreItems, 1);
}

TEST(CloudListing, BuildRoot) {
    CloudListing l = ListingOf(Folder("f"), {Folder("a"), Folder("b"), Folder("c")});
    l.BuildRoot("home", "bin");
    EXPECT_EQ(l.node.rootKind, RootKindCloudRoot);
    EXPECT_EQ(l.node.name, "CloudRoot");
    ASSERT_EQ(l.children.size(), 2u);
    EXPECT_EQ(l.children[0].name, "MyDocument");
    EXPECT_EQ(l.children[0].nodeRef, "home");
    EXPECT_EQ(l.children[0].actionFlags, 0x60);
    EXPECT_EQ(l.children[1].name, "RecycleBin");
    EXPECT_EQ(l.children[1].nodeRef, "bin");
    EXPECT_EQ(l.children[1].actionFlags, 0);
    EXPECT_EQ(l.totalRecords, 3);
    EXPECT_EQ(l.hasMoreItems, 0);
}

TEST(CloudListing, AppendChildrenToItself) {
    CloudListing l = ListingOf(Folder("f"), {Folder("a"), Folder("b")});
    EXPECT_EQ(l.AppendChildren(l), 2);
    ASSERT_EQ(l.children.size(), 4u);
    EXPECT_EQ(l.children[3].name, "b");
}

TEST(CloudNavigationStack, PathAndPaging) {
    CloudNavigationStack stack;
    EXPECT_EQ(stack.GetPath(), "");
    CloudListing root;
    root.BuildRoot("home", "bin");
    stack.listings.push_back(root);
    CloudNode home;
    home.MakeRoot(RootKindMyDocument, "home");
    stack.listings.push_back(ListingOf(home));
    stack.listings.push_back(ListingOf(Folder("Reports"), {Folder("q1")}));
    EXPECT_EQ(stack.GetPath(), "/CloudRoot/MyDocument/Reports");

    // The next page of the same folder joins the top listing.
    EXPECT_EQ(stack.UpdateTop(ListingOf(Folder("Reports"), {Folder("q2"), Folder("q3")})), 1);
    ASSERT_EQ(stack.Top().children.size(), 3u);
    EXPECT_EQ(stack.Top().children[2].name, "q3");

    // Another folder changes nothing.
    EXPECT_EQ(stack.UpdateTop(ListingOf(Folder("Other"), {Folder("x")})), 0);
    EXPECT_EQ(stack.Top().children.size(), 3u);
    EXPECT_EQ(stack.listings.size(), 3u);

    CloudNavigationStack empty;
    EXPECT_EQ(empty.UpdateTop(ListingOf(Folder("x"))), 0);
}

TEST(CloudNavigationStack, GroupNamesShowTheirCreator) {
    CloudListing root;
    root.BuildRoot("home", "bin");
    CloudNode groups;
    groups.MakeRoot(RootKindCollaborateGroup);

    CloudNavigationStack list;
    list.listings = {root, ListingOf(groups, {Folder("Sales", "Ops"), Folder("Dev", "Ann")})};
    list.DecorateNames();
    EXPECT_EQ(list.Top().children[0].name, "Sales(Ops)");
    EXPECT_EQ(list.Top().children[1].name, "Dev(Ann)");

    CloudNavigationStack opened;
    opened.listings = {root, ListingOf(groups), ListingOf(Folder("Sales", "Ops"), {Folder("doc", "Bob")})};
    opened.DecorateNames();
    EXPECT_EQ(opened.Top().node.name, "Sales(Ops)");
    EXPECT_EQ(opened.Top().children[0].name, "doc") << "the group's content is not decorated";

    // The home folder (kind flags 7) is not a group list; other depths stay as they are.
    CloudNode home;
    home.MakeRoot(RootKindMyDocument, "home");
    CloudNavigationStack mine;
    mine.listings = {root, ListingOf(home, {Folder("Sales", "Ops")})};
    mine.DecorateNames();
    EXPECT_EQ(mine.Top().children[0].name, "Sales");
    CloudNavigationStack deep;
    deep.listings = {root, ListingOf(groups), ListingOf(Folder("S", "O")), ListingOf(Folder("T", "P"))};
    deep.DecorateNames();
    EXPECT_EQ(deep.listings[2].node.name, "S");
    EXPECT_EQ(deep.listings[3].node.name, "T");
}

}  // namespace
