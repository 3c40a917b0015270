// The server tree listing and the rules of building it.
#include <rapidjson/document.h>

#include "WebCloudFixture.h"
#include "sync/net/ServerReply.h"

namespace {

using nettest::Describe;
using nettest::Logged;
using nettest::WebCloudTest;
using testserver::Fault;
using testserver::FaultKind;

std::string Item(const std::string& type, const std::string& name, const std::string& ref,
                 const std::string& checksum = "AB") {
    return R"({"type":")" + type + R"(","nodeRef":")" + ref + R"(","name":")" + name + R"(","size":3,"checksum":")" +
           checksum + R"("})";
}
std::string File(const std::string& name, const std::string& ref) { return Item("content", name, ref); }
std::string Folder(const std::string& name, const std::string& ref) { return Item("folder", name, ref, ""); }

std::string Array(const std::vector<std::string>& items) {
    std::string text = "[";
    for (const std::string& item : items) text += (text.size() > 1 ? "," : "") + item;
    return text + "]";
}

TEST_F(WebCloudTest, TheListingMirrorsTheServerTree) {
    server.PutFile("alice", "/docs/a.txt", "hello");
    server.PutFile("alice", "/docs/sub/b.bin", nettest::Pattern(70000));
    server.MakeFolder("alice", "/empty");
    Login();
    ASSERT_EQ(1, cloud.iListServerDirs(&checkpoint));
    EXPECT_EQ(cloud.LoginCookie(), server.Requests("allChildNodes").at(0).Header("Cookie"));
    EXPECT_EQ(Home(), waiter.data->nodeRef);

    std::vector<std::string> expected;
    for (const testserver::TreeEntry& entry : server.Tree("alice")) {
        const FileNode* node = FindFileNodeByPath(&waiter, 0, entry.path);
        ASSERT_NE(nullptr, node) << entry.path;
        EXPECT_EQ(entry.path, NodePath(node, 2));
        EXPECT_EQ(entry.folder ? 0u : 1u, node->data->isFile) << entry.path;
        EXPECT_EQ(static_cast<std::uint64_t>(entry.size), node->data->size) << entry.path;
        EXPECT_EQ(entry.checksum, node->data->checksum) << entry.path;
        EXPECT_EQ(entry.ref, node->data->nodeRef) << entry.path;
    }
    EXPECT_EQ(server.Tree("alice").size(), Describe(waiter).size());
}

TEST_F(WebCloudTest, AnEmptyHomeGivesAnEmptyTree) {
    waiter.InsertChild(SyncFileInfo("old"));
    Login();
    ASSERT_EQ(1, cloud.iListServerDirs(&checkpoint));
    EXPECT_TRUE(waiter.children.empty());
    EXPECT_EQ(Home(), waiter.data->nodeRef);
}

TEST_F(WebCloudTest, AFailedListingLeavesTheTreeAsItWas) {
    server.PutFile("alice", "/a.txt", "a");
    Login();
    ASSERT_EQ(1, cloud.iListServerDirs(&checkpoint));
    const std::vector<std::string> before = Describe(waiter);
    server.PutFile("alice", "/b.txt", "b");

    server.InjectFault(Fault{"allChildNodes", FaultKind::Status, 500});
    EXPECT_EQ(0, cloud.iListServerDirs(&checkpoint));
    EXPECT_EQ(500u, cloud.LastStatus());
    EXPECT_TRUE(cloud.LoggedIn());
    EXPECT_EQ(before, Describe(waiter));

    Fault cut{"allChildNodes", FaultKind::CutBody};
    cut.bytes = 10;
    server.InjectFault(cut);
    EXPECT_EQ(0, cloud.iListServerDirs(&checkpoint));
    EXPECT_EQ(before, Describe(waiter));

    // A reply that is not JSON is taken for a lost login.
    server.InjectFault(Fault{"allChildNodes", FaultKind::InvalidJson});
    EXPECT_EQ(0, cloud.iListServerDirs(&checkpoint));
    EXPECT_FALSE(cloud.LoggedIn());
    EXPECT_TRUE(cloud.LoginCookie().empty());
    EXPECT_EQ(before, Describe(waiter));
}

// A listing far larger than the stretches its reader takes at a time is read whole as it
// arrives; one spoiled in a single item changes nothing and is taken for a lost login.
TEST_F(WebCloudTest, ALargeListingIsReadAsItArrives) {
    constexpr int kFiles = 3000;
    for (int i = 0; i < kFiles; ++i) server.PutFile("alice", "/d" + std::to_string(i % 30) + "/f" + std::to_string(i), "x");
    Login();
    ASSERT_EQ(1, cloud.iListServerDirs(&checkpoint));
    EXPECT_EQ(server.Tree("alice").size(), Describe(waiter).size());
    EXPECT_EQ(static_cast<std::size_t>(kFiles + 30), Describe(waiter).size());
    const std::vector<std::string> before = Describe(waiter);

    server.PutFile("alice", "/zz-last.txt", "x");
    Fault spoiled{"allChildNodes", FaultKind::ReplaceInBody};
    spoiled.from = "/zz-last.txt\"";
    spoiled.to = "/zz-last.txt";
    server.InjectFault(spoiled);
    EXPECT_EQ(0, cloud.iListServerDirs(&checkpoint));
    EXPECT_FALSE(cloud.LoggedIn());
    EXPECT_EQ(before, Describe(waiter));
}

// "/d/d/.../d" with that many components.
std::string DeepPath(std::size_t components) {
    std::string path;
    for (std::size_t i = 0; i < components; ++i) path += "/d";
    return path;
}

TEST_F(WebCloudTest, BuildingRules) {
    struct Case {
        const char* name;
        std::string reply;
        int result;
        std::vector<std::string> tree;  // expected; for failures the old tree stays
        const char* log;
    };
    const std::vector<std::string> old = {"/old/=keep"};
    const std::vector<Case> cases = {
        {"folders may follow their contents", Array({File("/a/b.txt", "n1"), Folder("/a", "n2")}), 1,
         {"/a/=n2", "/a/b.txt=n1"}, ""},
        {"two folder elements: the second record wins", Array({Folder("/d", "n1"), Folder("/d", "n2")}), 1,
         {"/d/=n2"}, ""},
        {"names differing only in case: the first is kept", Array({File("/A.txt", "n1"), File("/a.txt", "n2")}), 1,
         {"/A.txt=n1"}, "differs only in case"},
        {"a clashing folder's contents go with it",
         Array({Folder("/Docs", "n1"), Folder("/docs", "n2"), File("/docs/x.txt", "n3"), File("/Docs/y.txt", "n4")}),
         1, {"/Docs/=n1", "/Docs/y.txt=n4"}, "differs only in case"},
        {"unsafe names are skipped",
         Array({File("/../up.txt", "u1"), File("/a/./b", "u2"), File("/back\\\\slash", "u3"),
                File("/ctl\\u0001.txt", "u4"), File("/\xFF.txt", "u5"), File("/fine.txt", "n1")}),
         1, {"/fine.txt=n1"}, "unsafe name skipped"},
        {"paths beyond the limits are skipped",
         Array({File(DeepPath(60000), "u1"), Folder(DeepPath(kMaxServerPathComponents + 1), "u2"),
                File("/" + std::string(kMaxServerPathBytes, 'n'), "u3"), File(DeepPath(3) + ".txt", "n1")}),
         1, {"/d/=", "/d/d/=", "/d/d/d.txt=n1"}, "path too long or too deep skipped"},
        {"other types are skipped", Array({Item("trash", "/t", "n1"), R"({"nodeRef":"n2"})", File("/f", "n3")}), 1,
         {"/f=n3"}, ""},
        {"a file never gets children", Array({File("/f", "n1"), File("/f/g.txt", "n2")}), 0, old, "文件列表项重复"},
        {"a file never takes a folder's name", Array({File("/f/g.txt", "n1"), File("/f", "n2")}), 0, old,
         "文件列表项重复"},
        {"a file element without checksum", Array({R"({"type":"content","nodeRef":"n","name":"/x","size":1})"}), 0,
         old, "文件列表项字段错误"},
        {"a name ending in '/'", Array({Folder("/a/", "n1")}), 0, old, "文件列表项路径名不正确"},
        {"an element that is not an object", Array({"3"}), 0, old, "文件列表项不正确"},
        {"a reply that is not an array", "{}", 0, old, "文件列表结果不正确"},
        {"an empty array", "[]", 1, {}, ""},
    };
    for (const Case& c : cases) {
        SyncFileInfo kept("old");
        kept.nodeRef = "keep";
        rapidjson::Document doc;
        doc.Parse(c.reply.c_str());
        ASSERT_FALSE(doc.HasParseError()) << c.name;
        // The listing's own path reads the reply's text one element at a time; it must build
        // what the whole document builds, with the same result and log.
        for (const bool fromText : {false, true}) {
            FileNode built{SyncFileInfo("Waiter")};
            built.InsertChild(kept);
            LogCapture log;
            EXPECT_EQ(c.result, fromText ? cloud.BuildServerTreeFromText(" " + c.reply + "\n", &built, "")
                                         : cloud.BuildServerTree(doc, &built, ""))
                << c.name << fromText;
            EXPECT_EQ(c.tree, Describe(built)) << c.name << fromText;
            if (*c.log != '\0') {
                EXPECT_TRUE(Logged(log.Lines(), c.log)) << c.name << fromText;
            }
            if (c.result == 1) {
                EXPECT_EQ("", built.data->name) << c.name;
                for (const auto& child : built.children) EXPECT_EQ(&built, child->parent) << c.name;
            }
        }
    }
}

// A reply that is not JSON anywhere (cut off, trailing bytes, a NUL inside) changes nothing
// and logs nothing of its elements, even where its first elements are sound.
TEST_F(WebCloudTest, ListingTextThatIsNotJsonChangesNothing) {
    const std::string sound = Array({File("/a.txt", "n1"), Folder("/d", "n2")});
    const std::vector<std::string> replies = {
        "", "<html>login</html>", sound.substr(0, sound.size() - 1), sound + "]", sound + " x",
        sound.substr(0, 10) + std::string(1, '\0') + sound.substr(10), "[" + File("/a.txt", "n1") + ",]",
    };
    for (const std::string& reply : replies) {
        FileNode tree{SyncFileInfo("Waiter")};
        SyncFileInfo kept("old");
        kept.nodeRef = "keep";
        tree.InsertChild(kept);
        LogCapture log;
        EXPECT_EQ(-1, cloud.BuildServerTreeFromText(reply, &tree, "")) << reply;
        EXPECT_EQ((std::vector<std::string>{"/old/=keep"}), Describe(tree)) << reply;
        for (const std::string& line : log.Lines()) EXPECT_NE(line.find("Server Tree Populating"), std::string::npos) << line;
    }
}

TEST_F(WebCloudTest, DeeplyNestedRepliesAreReadWithoutRecursion) {
    rapidjson::Document doc;
    constexpr std::size_t kDepth = 1000000;
    EXPECT_FALSE(webcloud::ParseReply(std::string(kDepth, '['), doc));
    ASSERT_TRUE(webcloud::ParseReply(std::string(kDepth, '[') + std::string(kDepth, ']'), doc));
    FileNode tree{SyncFileInfo("Waiter")};
    LogCapture log;
    EXPECT_EQ(0, cloud.BuildServerTree(doc, &tree, ""));  // its element is no object
    EXPECT_TRUE(Logged(log.Lines(), "文件列表项不正确"));
    LogCapture again;
    EXPECT_EQ(0, cloud.BuildServerTreeFromText(std::string(kDepth, '[') + std::string(kDepth, ']'), &tree, ""));
    EXPECT_TRUE(Logged(again.Lines(), "文件列表项不正确"));
    EXPECT_EQ(-1, cloud.BuildServerTreeFromText(std::string(kDepth, '['), &tree, ""));
}

TEST_F(WebCloudTest, ListingBelowAParentPath) {
    rapidjson::Document doc;
    doc.Parse(Array({Folder("/p", "n0"), File("/P/a.txt", "n1")}).c_str());
    FileNode tree{SyncFileInfo("p")};
    ASSERT_EQ(1, cloud.BuildServerTree(doc, &tree, "/p"));
    EXPECT_EQ("n0", tree.data->nodeRef);
    EXPECT_EQ((std::vector<std::string>{"/a.txt=n1"}), Describe(tree));

    doc.Parse(Array({File("/q/a.txt", "n1")}).c_str());
    EXPECT_EQ(0, cloud.BuildServerTree(doc, &tree, "/p"));
}

}  // namespace
