#include "sync/common/TreeNode.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Adds a file or folder record.
FileNode* Add(FileNode* parent, const std::string& name, std::uint32_t isFile = 0, const std::string& nodeRef = "") {
    SyncFileInfo record(isFile, 0, 0, name);
    record.nodeRef = nodeRef;
    return parent->InsertChild(record).Node();
}

TaskNode* AddTask(TaskNode* parent, const std::string& name, std::uint32_t kind = 0) {
    return parent->InsertChild(SyncTaskInfo(kind, name, 0, 0, 0, nullptr, nullptr)).Node();
}

// The names used below differ in case only in their first letter.
std::string Fold(std::string name) {
    if (!name.empty() && name[0] >= 'A' && name[0] <= 'Z') name[0] = static_cast<char>(name[0] - 'A' + 'a');
    return name;
}

std::vector<std::string> ChildNames(const FileNode& node) {
    std::vector<std::string> names;
    for (const auto& child : node.children) names.push_back(child->data->name);
    return names;
}

template <typename T>
std::vector<std::string> PreorderNames(TreeNode<T>& root) {
    std::vector<std::string> names;
    for (TreeNode<T>* node : root.Preorder()) names.push_back(node->data->name);
    return names;
}

// Every node's parent pointer agrees with its place in the tree.
void ExpectConsistent(const FileNode& node) {
    for (const auto& child : node.children) {
        EXPECT_EQ(child->parent, &node);
        ExpectConsistent(*child);
    }
}

class TreeTest : public testing::Test {
protected:
    // Driver: docs (a.txt, Sub (b.txt)), music
    TreeTest() : root(SyncFileInfo("Driver")) {
        docs = Add(&root, "docs");
        a = Add(docs, "a.txt", 1);
        sub = Add(docs, "Sub");
        b = Add(sub, "b.txt", 1);
        music = Add(&root, "music");
    }
    FileNode root;
    FileNode *docs, *a, *sub, *b, *music;
};

TEST(TreeNodeTest, ChildrenAreOrderedAndUniqueIgnoringCase) {
    FileNode root(SyncFileInfo("Driver"));
    for (const char* name : {"b", "A", "a1", "B2"}) ASSERT_NE(Add(&root, name), nullptr);
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"A", "a1", "b", "B2"}));
    const auto clash = root.InsertChild(SyncFileInfo("a"));
    EXPECT_FALSE(clash.Inserted());
    EXPECT_EQ(clash.position, root.children.end());
    EXPECT_EQ(clash.Node(), nullptr);
    EXPECT_EQ(root.children.size(), 4u);
    EXPECT_EQ((*root.FindChild(SyncFileInfo("b2")))->data->name, "B2");
}

TEST(TreeNodeTest, FoldsAsciiOnlyWhateverTheLocale) {
    // Byte order over unsigned bytes: names above 0x7F sort after ASCII, and non-ASCII
    // letters that differ only in case are different names.
    const char* saved = std::setlocale(LC_ALL, nullptr);
    const std::string savedLocale = saved ? saved : "C";
    std::setlocale(LC_ALL, "C.UTF-8");
    FileNode root(SyncFileInfo("Driver"));
    ASSERT_NE(Add(&root, "\xC3\x89t\xC3\xA9"), nullptr);  // Été
    ASSERT_NE(Add(&root, "\xC3\xA9t\xC3\xA9"), nullptr);  // été
    ASSERT_NE(Add(&root, "z"), nullptr);
    ASSERT_NE(Add(&root, "I"), nullptr);
    EXPECT_EQ(Add(&root, "i"), nullptr);
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"I", "z", "\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9"}));
    std::setlocale(LC_ALL, savedLocale.c_str());
}

TEST_F(TreeTest, PreorderVisitsEveryDescendantFoldersFirst) {
    EXPECT_EQ(PreorderNames(root), (std::vector<std::string>{"docs", "a.txt", "Sub", "b.txt", "music"}));
    EXPECT_TRUE(PreorderNames(*music).empty());
    EXPECT_EQ(PreorderNames(*docs), (std::vector<std::string>{"a.txt", "Sub", "b.txt"}));
    // A folder whose last child is a deep folder climbs more than one level at once.
    FileNode deep(SyncFileInfo("r"));
    Add(Add(Add(&deep, "x"), "y"), "z");
    Add(&deep, "w");
    EXPECT_EQ(PreorderNames(deep), (std::vector<std::string>{"w", "x", "y", "z"}));
}

TEST_F(TreeTest, CopyIsDeepAndIndependent) {
    FileNode copy(root);
    EXPECT_EQ(copy.parent, nullptr);
    EXPECT_EQ(PreorderNames(copy), PreorderNames(root));
    ExpectConsistent(copy);
    FileNode* copiedDocs = copy.FindChild("docs")->get();
    EXPECT_NE(copiedDocs, docs);
    copiedDocs->data->checksum = "changed";
    EXPECT_TRUE(docs->data->checksum.empty());

    FileNode target(SyncFileInfo("Server"));
    Add(&target, "old");
    target = root;
    EXPECT_EQ(target.data->name, "Driver");
    EXPECT_EQ(PreorderNames(target), PreorderNames(root));
    ExpectConsistent(target);
    // Assigning a node its own descendant keeps the descendant's content.
    target = *target.FindChild("docs")->get();
    EXPECT_EQ(PreorderNames(target), (std::vector<std::string>{"a.txt", "Sub", "b.txt"}));
}

// Taking another tree's content gives what a deep copy gives, keeps the very nodes (no
// copy) and leaves the other tree empty.
TEST_F(TreeTest, TakeContentMovesTheWholeSubtree) {
    const std::vector<std::string> names = PreorderNames(root);
    root.data->nodeRef = "workspace://SpacesStore/0a1b2c3d-4e5f-4a6b-8c7d-0e1f2a3b4c5d";
    FileNode target(SyncFileInfo("Server"));
    Add(&target, "old");
    target.TakeContent(root);
    EXPECT_EQ(PreorderNames(target), names);
    EXPECT_EQ(target.data->name, "Driver");
    EXPECT_EQ(target.data->nodeRef, root.data->nodeRef);
    EXPECT_EQ(target.FindChild("docs")->get(), docs);
    EXPECT_EQ(docs->parent, &target);
    ExpectConsistent(target);
    EXPECT_TRUE(root.children.empty());
    EXPECT_EQ(target.FindChild("old"), target.children.end());
    target.TakeContent(target);
    EXPECT_EQ(PreorderNames(target), names);
}

TEST_F(TreeTest, EraseAndDeleteChildren) {
    EXPECT_TRUE(docs->EraseChild(SyncFileInfo("SUB")));
    EXPECT_FALSE(docs->EraseChild(SyncFileInfo("sub")));
    EXPECT_EQ(ChildNames(*docs), (std::vector<std::string>{"a.txt"}));
    root.DeleteChildren();
    EXPECT_TRUE(root.children.empty());
    EXPECT_EQ(root.data->name, "Driver");
}

// A node's child set comes into being with its first child: positions taken before that
// (an end position, a walk's start) must behave as a std::set's would.
TEST(TreeNodeTest, PositionsTakenBeforeTheFirstChildStayValid) {
    FileNode root(SyncFileInfo("root"));
    const auto endBefore = root.children.end();
    const auto beginBefore = root.children.begin();
    EXPECT_TRUE(beginBefore == endBefore);
    EXPECT_EQ(root.children.size(), 0u);
    EXPECT_TRUE(root.children.find(std::string_view("a")) == root.children.end());

    FileNode* b = Add(&root, "b", 1);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(endBefore == root.children.end());
    EXPECT_TRUE(root.children.begin() != root.children.end());
    auto last = endBefore;
    --last;
    EXPECT_EQ(last->get(), b);
    EXPECT_EQ(root.children.rbegin()->get(), b);

    // Erasing down to nothing keeps the positions of the set.
    const auto endAfter = root.children.end();
    root.EraseChild(std::string_view("b"));
    EXPECT_TRUE(root.children.empty());
    EXPECT_TRUE(endAfter == root.children.end());
    EXPECT_NE(Add(&root, "a", 1), nullptr);
    EXPECT_TRUE(endAfter == root.children.end());

    // Swapping children moves the elements; each set keeps its end.
    FileNode other(SyncFileInfo("other"));
    const auto otherEnd = other.children.end();
    other.children.swap(root.children);
    EXPECT_TRUE(root.children.empty());
    ASSERT_EQ(other.children.size(), 1u);
    EXPECT_TRUE(std::next(other.children.begin()) == otherEnd);
    EXPECT_EQ((*other.children.begin())->data->name, "a");
}

// A large folder filled in different orders, with changes around positions held across
// them: the child set must keep the order, find every child and keep every held position
// on its node, as an ordered set does (walks insert and erase around the positions they
// hold). Checked against a std::set of the folded names.
TEST(TreeNodeTest, LargeFolderKeepsOrderAndPositionsWhateverTheInsertionOrder) {
    constexpr int kCount = 3000;
    const auto name = [](int i) {
        char text[16];
        std::snprintf(text, sizeof text, "%s%05d", i % 3 == 0 ? "N" : "n", i);
        return std::string(text);
    };
    struct Order {
        const char* what;
        std::vector<int> indices;
    };
    std::vector<Order> orders{{"ascending", {}}, {"descending", {}}, {"interleaved", {}}, {"scattered", {}}};
    for (int i = 0; i < kCount; ++i) {
        orders[0].indices.push_back(i);
        orders[1].indices.push_back(kCount - 1 - i);
        orders[2].indices.push_back(i % 2 == 0 ? i / 2 : kCount / 2 + i / 2);
        orders[3].indices.push_back(static_cast<int>((static_cast<long long>(i) * 1237) % kCount));
    }
    for (const Order& order : orders) {
        SCOPED_TRACE(order.what);
        FileNode root(SyncFileInfo("root"));
        std::set<std::string> model;
        // Positions taken early, checked after everything around them has changed.
        std::vector<std::pair<FileNode::ChildIterator, std::string>> held;
        for (const int i : order.indices) {
            const auto inserted = root.InsertChild(SyncFileInfo(name(i)));
            ASSERT_TRUE(inserted.Inserted());
            model.insert(Fold(name(i)));
            if (i % 97 == 0) held.emplace_back(inserted.position, name(i));
        }
        // A name equal ignoring case is the same child.
        EXPECT_FALSE(root.InsertChild(SyncFileInfo("n00003")).Inserted());
        ASSERT_EQ(root.children.size(), model.size());

        // Erase every third child while walking, the way a pass drops what it handled.
        for (auto it = root.children.begin(); it != root.children.end();) {
            const std::string folded = Fold((*it)->data->name);
            const bool heldHere =
                std::any_of(held.begin(), held.end(), [&](const auto& h) { return h.second == (*it)->data->name; });
            if (!heldHere && std::stoi(folded.substr(1)) % 3 == 1) {
                model.erase(folded);
                it = root.children.erase(it);
            } else {
                ++it;
            }
        }
        for (const auto& [position, expected] : held) {
            EXPECT_EQ((*position)->data->name, expected);
            auto next = std::next(position);
            const auto inModel = std::next(model.find(Fold(expected)));
            if (inModel == model.end()) {
                EXPECT_TRUE(next == root.children.end());
            } else {
                ASSERT_TRUE(next != root.children.end());
                EXPECT_EQ(Fold((*next)->data->name), *inModel);
            }
        }
        std::vector<std::string> folded;
        for (const auto& child : root.children) folded.push_back(Fold(child->data->name));
        EXPECT_EQ(folded, std::vector<std::string>(model.begin(), model.end()));
        std::vector<std::string> backwards;
        for (auto it = root.children.rbegin(); it != root.children.rend(); ++it) {
            backwards.push_back(Fold((*it)->data->name));
        }
        EXPECT_EQ(backwards, std::vector<std::string>(model.rbegin(), model.rend()));
        for (const std::string& each : model) {
            const auto found = root.FindChild(std::string_view(each));
            ASSERT_TRUE(found != root.children.end()) << each;
            EXPECT_EQ((*found)->parent, &root);
        }
        const auto missing = root.children.lower_bound(std::string_view("n00001"));
        ASSERT_TRUE(missing != root.children.end());
        EXPECT_EQ(Fold((*missing)->data->name), *model.lower_bound("n00001"));

        // Detach and adopt elsewhere: the node keeps its identity, the set its order.
        FileNode other(SyncFileInfo("other"));
        FileNode* moved = root.FindChild(std::string_view("n00000"))->get();
        other.AdoptChild(root.DetachChild(root.FindChild(std::string_view("n00000"))));
        EXPECT_EQ(other.children.begin()->get(), moved);
        EXPECT_EQ(moved->parent, &other);
        EXPECT_TRUE(root.FindChild(std::string_view("n00000")) == root.children.end());

        // Erasing from the front down to nothing.
        while (!root.children.empty()) root.children.erase(root.children.begin());
        EXPECT_TRUE(root.children.begin() == root.children.end());
    }
}

// SetData and deep assignment take the whole record, the short name included; record
// assignment keeps the node's short name.
TEST(TreeNodeTest, RecordReplacementAndAssignment) {
    SyncFileInfo withExtra(1, 0, 5, "\\x.txt");
    withExtra.extra = "X~1.TXT";
    FileNode node(SyncFileInfo(1, 0, 1, "\\y.txt"));
    node.data->extra = "Y~1.TXT";

    *node.data = withExtra;
    EXPECT_EQ(node.data->name, "x.txt");
    EXPECT_EQ(node.data->extra, "Y~1.TXT");

    node.SetData(withExtra);
    EXPECT_EQ(node.data->extra, "X~1.TXT");

    FileNode source(withExtra);
    source.data->extra = "S~1.TXT";
    node.data->extra = "N~1.TXT";
    node = source;
    EXPECT_EQ(node.data->extra, "S~1.TXT");
    EXPECT_EQ(node.data.get(), &*node.data);
}

TEST(TreeNodeTest, SplitString) {
    std::vector<std::string> out{"stale"};
    EXPECT_FALSE(SplitString("", "\\", out));
    EXPECT_FALSE(SplitString("a", "", out));
    EXPECT_TRUE(SplitString("a", "\\", out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(SplitString("\\a\\\\b\\", "\\", out));
    EXPECT_EQ(out, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(SplitString("x::y::", "::", out));
    EXPECT_EQ(out, (std::vector<std::string>{"x", "y"}));
}

TEST(TreeNodeTest, FindsNodesByPath) {
    TaskNode root(SyncTaskInfo::CreateUniformRoot());
    TaskNode* a = AddTask(&root, "a");
    TaskNode* b = AddTask(a, "B", 1);
    EXPECT_EQ(FindNodeByPath(&root, 1, "\\a\\b"), b);
    EXPECT_EQ(FindNodeByPath(&root, 1, "a\\b"), b);
    EXPECT_EQ(FindNodeByPath(&root, 2, "/A/b"), b);
    EXPECT_EQ(FindNodeByPath(&root, 1, "a"), nullptr);
    EXPECT_EQ(FindNodeByPath(&root, 2, "/"), nullptr);
    EXPECT_EQ(FindNodeByPath(&root, 1, "\\a\\c"), nullptr);
    EXPECT_EQ(FindNodeByPath(&root, 1, "/a/b"), nullptr);
    EXPECT_EQ(FindParentNodeByPath(&root, 2, "/a"), &root);
    EXPECT_EQ(FindParentNodeByPath(&root, 2, "/a/anything"), a);
    EXPECT_EQ(FindParentNodeByPath(&root, 2, "/x/anything"), nullptr);
    EXPECT_EQ(FindParentNodeByPath(&root, 2, "/"), nullptr);
    EXPECT_EQ(FindNodeByPath(nullptr, 1, "\\a"), nullptr);

    FileNode files(SyncFileInfo("Driver"));
    FileNode* d = Add(&files, "d");
    FileNode* f = Add(d, "f", 1);
    EXPECT_EQ(FindFileNodeByPath(&files, 1, "\\D\\F"), f);
    EXPECT_EQ(FindParentFileNodeByPath(&files, 1, "\\d\\new"), d);
}

TEST_F(TreeTest, NodePathFollowsTheNamesFromTheRoot) {
    struct Case {
        const FileNode* node;
        int mode;
        std::string expected;
    };
    const Case cases[] = {
        {&root, 1, ""}, {nullptr, 1, ""}, {docs, 1, "\\docs"}, {docs, 2, "/docs"},
        {b, 1, "\\docs\\Sub\\b.txt"}, {b, 2, "/docs/Sub/b.txt"}, {b, 0, "/docs/Sub/b.txt"},
    };
    for (const Case& c : cases) EXPECT_EQ(NodePath(c.node, c.mode), c.expected) << c.expected;
    // A name changed in case shows in every path below it at once.
    sub->data->name = "SUB";
    EXPECT_EQ(NodePath(b, 2), "/docs/SUB/b.txt");
    // A detached subtree's paths start at its own top.
    const std::unique_ptr<FileNode> owned = docs->DetachChild(docs->FindChild("sub"));
    EXPECT_EQ(NodePath(owned.get(), 2), "");
    EXPECT_EQ(NodePath(b, 2), "/b.txt");
    // The unified tree's nodes have paths the same way.
    TaskNode tasks(SyncTaskInfo::CreateUniformRoot());
    EXPECT_EQ(NodePath(AddTask(AddTask(&tasks, "x"), "y", 1), 1), "\\x\\y");
}

TEST_F(TreeTest, SamePathNoCaseComparesPlacesAcrossTrees) {
    FileNode server(SyncFileInfo("Server"));
    FileNode* serverDocs = Add(&server, "DOCS");
    FileNode* serverSub = Add(serverDocs, "sub");
    TaskNode tasks(SyncTaskInfo::CreateUniformRoot());
    TaskNode* taskSub = AddTask(AddTask(&tasks, "Docs"), "SUB");
    EXPECT_TRUE(SamePathNoCase(sub, serverSub));
    EXPECT_TRUE(SamePathNoCase(serverSub, taskSub));
    EXPECT_TRUE(SamePathNoCase(docs, serverDocs));
    EXPECT_TRUE((SamePathNoCase<SyncFileInfo, SyncFileInfo>(&root, &server)));
    EXPECT_FALSE(SamePathNoCase(docs, serverSub));  // a level deeper
    EXPECT_FALSE(SamePathNoCase(serverSub, docs));
    EXPECT_FALSE(SamePathNoCase(music, serverDocs));
    EXPECT_FALSE(SamePathNoCase(b, serverSub));  // one name more, the rest equal
}

TEST_F(TreeTest, CopyNodeUnderGivesTheCopyItsNewPlace) {
    EXPECT_TRUE(CopyNodeUnder(docs, music, "Papers", "ref-9"));
    FileNode* copy = music->FindChild("papers")->get();
    EXPECT_EQ(copy->data->name, "Papers");
    EXPECT_EQ(copy->data->nodeRef, "ref-9");
    EXPECT_EQ(NodePath(copy, 1), "\\music\\Papers");
    EXPECT_EQ(NodePath(FindFileNodeByPath(&root, 1, "\\music\\papers\\sub\\b.txt"), 1), "\\music\\Papers\\Sub\\b.txt");
    ExpectConsistent(root);
    // The source stays; a name equal ignoring case keeps the node's own name.
    EXPECT_EQ(NodePath(b, 1), "\\docs\\Sub\\b.txt");
    EXPECT_TRUE(CopyNodeUnder(sub, &root, "SUB", ""));
    EXPECT_EQ(root.FindChild("sub")->get()->data->name, "Sub");
    // A taken name copies nothing.
    EXPECT_FALSE(CopyNodeUnder(a, docs, "A.TXT", ""));
    // Copying into its own subtree copies the subtree as it stood.
    EXPECT_TRUE(CopyNodeUnder(docs, sub, "again", ""));
    EXPECT_EQ(NodePath(FindFileNodeByPath(&root, 1, "\\docs\\Sub\\again\\Sub\\b.txt"), 1),
              "\\docs\\Sub\\again\\Sub\\b.txt");
    EXPECT_EQ(FindFileNodeByPath(&root, 1, "\\docs\\Sub\\again\\Sub\\again"), nullptr);
    ExpectConsistent(root);
}

TEST_F(TreeTest, MoveNodeUnderKeepsTheNodeAtItsNewPlace) {
    EXPECT_TRUE(MoveNodeUnder(sub, music, "Moved", "ref-2"));
    EXPECT_EQ(docs->FindChild("sub"), docs->children.end());
    EXPECT_EQ(sub->parent, music);
    EXPECT_EQ(sub->data->name, "Moved");
    EXPECT_EQ(sub->data->nodeRef, "ref-2");
    EXPECT_EQ(NodePath(b, 1), "\\music\\Moved\\b.txt");
    EXPECT_EQ(FindFileNodeByPath(&root, 1, "\\music\\moved\\B.TXT"), b);
    ExpectConsistent(root);
}

TEST_F(TreeTest, MoveRefusesCyclesAndTakenNames) {
    Add(music, "taken");
    const std::vector<std::string> before = PreorderNames(root);
    EXPECT_FALSE(MoveNodeUnder(docs, sub, "docs", ""));
    EXPECT_FALSE(MoveNodeUnder(docs, docs, "x", ""));
    EXPECT_FALSE(MoveNodeUnder(&root, music, "x", ""));
    EXPECT_FALSE(MoveNodeUnder(a, music, "TAKEN", ""));
    EXPECT_FALSE(MoveNodeUnder(a, docs, "A.TXT", ""));
    EXPECT_EQ(PreorderNames(root), before);
    EXPECT_EQ(a->parent, docs);
    ExpectConsistent(root);
}

TEST_F(TreeTest, RenameNodeInTree) {
    // A name that only differs in case from the old one under the same parent is taken.
    EXPECT_FALSE(RenameNodeInTree(sub, docs, "SUB"));
    EXPECT_EQ(sub->data->name, "Sub");
    EXPECT_EQ(docs->FindChild("sub")->get(), sub);

    EXPECT_TRUE(RenameNodeInTree(sub, docs, "Sub.冲突备份.x.bak"));
    EXPECT_EQ(NodePath(sub, 1), "\\docs\\Sub.冲突备份.x.bak");
    EXPECT_EQ(NodePath(b, 2), "/docs/Sub.冲突备份.x.bak/b.txt");
    EXPECT_EQ(sub->data->nodeRef, "");
    ExpectConsistent(root);
}

TEST_F(TreeTest, ReplaceFileNode) {
    sub->data->extra = "SUB~1";
    SyncFileInfo record(0, 1, 0, "\\docs\\SUB");
    record.extra = "ignored";
    // Same name ignoring case: updated in place.
    EXPECT_TRUE(ReplaceFileNode(sub, record));
    EXPECT_EQ(docs->FindChild("sub")->get(), sub);
    EXPECT_EQ(sub->data->name, "SUB");
    EXPECT_EQ(sub->data->mark, 1u);
    EXPECT_EQ(sub->data->extra, "SUB~1");
    EXPECT_EQ(sub->children.size(), 1u);
    // A new name moves the node under the same parent, its children with it.
    EXPECT_TRUE(ReplaceFileNode(sub, SyncFileInfo(0, 0, 0, "\\docs\\New")));
    EXPECT_EQ(docs->FindChild("new")->get(), sub);
    EXPECT_EQ(docs->FindChild("sub"), docs->children.end());
    EXPECT_EQ(sub->children.size(), 1u);
    // A taken name changes nothing.
    EXPECT_FALSE(ReplaceFileNode(sub, SyncFileInfo(1, 0, 0, "\\docs\\A.txt")));
    EXPECT_EQ(sub->data->name, "New");
    EXPECT_FALSE(ReplaceFileNode(&root, SyncFileInfo("other")));
}

TEST(TreeNodeTest, RenameTaskNode) {
    TaskNode root(SyncTaskInfo::CreateUniformRoot());
    TaskNode* x = AddTask(&root, "x");
    AddTask(x, "inside", 1);
    AddTask(&root, "y");
    EXPECT_FALSE(RenameTaskNode(x, "Y"));
    EXPECT_FALSE(RenameTaskNode(x, "X"));
    EXPECT_FALSE(RenameTaskNode(&root, "z"));
    EXPECT_TRUE(RenameTaskNode(x, "z"));
    EXPECT_EQ(root.FindChild("z")->get(), x);
    EXPECT_EQ(PreorderNames(root), (std::vector<std::string>{"y", "z", "inside"}));
}

TEST_F(TreeTest, CopySubtreeAndInsertSubtree) {
    FileNode other(SyncFileInfo("Tracer"));
    EXPECT_TRUE(CopySubtree(docs, &other));
    EXPECT_FALSE(CopySubtree(docs, &other));
    EXPECT_EQ(PreorderNames(other), (std::vector<std::string>{"docs", "a.txt", "Sub", "b.txt"}));
    EXPECT_EQ(other.FindChild("docs")->get()->parent, &other);
    EXPECT_TRUE(sub->InsertSubtree(*docs));
    EXPECT_EQ(FindFileNodeByPath(&root, 1, "\\docs\\sub\\docs\\sub\\b.txt")->data->name, "b.txt");
}

TEST(TreeNodeTest, BoundedPathCopy) {
    char buffer[kBoundedPathSize];
    EXPECT_EQ(BoundedPathCopy(buffer, "short"), 0u);
    EXPECT_STREQ(buffer, "short");
    const std::string fits(259, 'x');
    EXPECT_EQ(BoundedPathCopy(buffer, fits.c_str()), 0u);
    EXPECT_EQ(std::string(buffer), fits);
    EXPECT_EQ(BoundedPathCopy(buffer, (fits + "y").c_str()), kInsufficientBuffer);
    EXPECT_EQ(std::string(buffer), fits);
    // 258 ASCII bytes then a three-byte character: only the whole ASCII part fits.
    const std::string cut = std::string(258, 'x') + "\xE4\xB8\xAD";
    EXPECT_EQ(BoundedPathCopy(buffer, cut.c_str()), kInsufficientBuffer);
    EXPECT_EQ(std::string(buffer), std::string(258, 'x'));
    // 256 ASCII bytes then a three-byte character end exactly at 259 bytes.
    const std::string exact = std::string(256, 'x') + "\xE4\xB8\xAD" + "tail";
    EXPECT_EQ(BoundedPathCopy(buffer, exact.c_str()), kInsufficientBuffer);
    EXPECT_EQ(std::string(buffer), std::string(256, 'x') + "\xE4\xB8\xAD");
    EXPECT_EQ(BoundedPathCopy(buffer, nullptr), 0u);
    EXPECT_STREQ(buffer, "");
}

TEST(TreeNodeTest, LargeTreeBuildsWalksAndDies) {
    FileNode root(SyncFileInfo("Driver"));
    for (int i = 0; i < 100; ++i) {
        FileNode* folder = Add(&root, "folder" + std::to_string(i));
        for (int j = 0; j < 1000; ++j) Add(folder, "file" + std::to_string(j) + ".txt", 1);
    }
    std::size_t count = 0;
    for (FileNode* node : root.Preorder()) count += node != nullptr;
    EXPECT_EQ(count, 100u * 1001u);
    FileNode copy(root);
    EXPECT_EQ(FindFileNodeByPath(&copy, 1, "\\FOLDER99\\FILE999.TXT")->data->name, "file999.txt");
}

// A chain of folders far deeper than a recursive walk's stack allows: destroying,
// copying and clearing it must each work level by level.
TEST(TreeNodeTest, AnyDepthIsCopiedAndDestroyedWithoutRecursion) {
    constexpr int kDepth = 200000;
    auto root = std::make_unique<FileNode>(SyncFileInfo("Server"));
    FileNode* deepest = root.get();
    for (int i = 0; i < kDepth; ++i) deepest = deepest->InsertChild(SyncFileInfo("d")).Node();
    deepest->InsertChild(SyncFileInfo(1, 0, 1, "\\leaf.txt"));

    auto copy = std::make_unique<FileNode>(*root);
    int levels = 0;
    const FileNode* walk = copy.get();
    for (; !walk->children.empty(); walk = walk->children.begin()->get()) {
        ASSERT_EQ(walk->children.begin()->get()->parent, walk);
        ++levels;
    }
    EXPECT_EQ(levels, kDepth + 1);
    EXPECT_EQ(walk->data->name, "leaf.txt");

    copy->DeleteChildren();
    EXPECT_TRUE(copy->children.empty());
    copy.reset();
    root.reset();  // a listing replaced by the next one dies the same way
}

}  // namespace
