#include "sync/app/UserRoutine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "xml/XmlDocument.h"
#include "support/synclogcapture.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr char kDecl[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n";

SyncFileInfo File(const std::string& path, const std::string& checksum, std::uint64_t size,
                  const std::string& nodeRef = "") {
    SyncFileInfo record(1, 0, size, path);
    record.checksum = checksum;
    record.nodeRef = nodeRef;
    return record;
}

SyncFileInfo Folder(const std::string& path, const std::string& checksum = "") {
    SyncFileInfo record(0, 0, 0, path);
    record.checksum = checksum;
    return record;
}

bool Logged(LogCapture& log, const std::string& text) {
    const auto lines = log.Lines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

class StateFiles : public ::testing::Test {
protected:
    std::string PathOf(const std::string& name) { return (sandbox_.Dir("data") / name).string(); }
    testsupport::Sandbox sandbox_;
};

// ------------------------------------------------------------------- tree files

TEST_F(StateFiles, TreeFileHasTheExactLayout) {
    FileNode root(SyncFileInfo("Driver"));
    FileNode* docs = root.InsertChild(Folder("\\docs", "D41D8CD98F00B204E9800998ECF8427E")).Node();
    docs->InsertChild(File("\\docs\\a.txt", "0cc175b9c0f1b6a831c399e269772661", 1, "ref-1"));
    root.InsertChild(File("\\B&<\"'>.bin", "", 5000000000ULL));

    LogCapture log;
    const std::string path = PathOf("Driver.txt");
    ASSERT_TRUE(UserRoutine::SaveTreeFile(root, path, "本地遍历列表文件存储", 1));
    EXPECT_TRUE(Logged(log, "本地遍历列表文件存储:成功 filepath:UserRoutine line:210"));
    EXPECT_EQ(ReadFile(path),
              std::string(kDecl) +
                  "<Orvane>\r\n"
                  "\t<fileitem iF=\"1\" t=\"B&amp;&lt;&quot;&apos;&gt;.bin\" h=\"\" N=\"\" "
                  "P=\"\\B&amp;&lt;&quot;&apos;&gt;.bin\" F=\"5000000000\"/>\r\n"
                  "\t<fileitem iF=\"0\" t=\"docs\" h=\"D41D8CD98F00B204E9800998ECF8427E\" N=\"\" P=\"\\docs\" F=\"0\">\r\n"
                  "\t\t<fileitem iF=\"1\" t=\"a.txt\" h=\"0cc175b9c0f1b6a831c399e269772661\" N=\"ref-1\" "
                  "P=\"\\docs\\a.txt\" F=\"1\"/>\r\n"
                  "\t</fileitem>\r\n"
                  "</Orvane>\r\n");

    // Read back: every value as written, folders and files in place.
    FileNode back(SyncFileInfo("x"));
    ASSERT_TRUE(UserRoutine::LoadTreeFile(back, path, "Tracer"));
    EXPECT_EQ(back.data->name, "Tracer");
    ASSERT_EQ(back.children.size(), 2u);
    const FileNode* odd = back.FindChild("B&<\"'>.bin")->get();
    EXPECT_EQ(odd->data->size, 5000000000ULL);
    EXPECT_EQ(NodePath(odd, 1), "\\B&<\"'>.bin");
    const FileNode* a = FindFileNodeByPath(&back, 1, "\\docs\\a.txt");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->data->isFile, 1u);
    EXPECT_EQ(a->data->checksum, "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(a->data->nodeRef, "ref-1");
}

TEST_F(StateFiles, ATreeFileWritesTheSeparatorAskedForAndItsPathsAreNotTakenBack) {
    FileNode root(SyncFileInfo("Waiter"));
    FileNode* docs = root.InsertChild(Folder("/docs")).Node();
    docs->InsertChild(File("/docs/a.txt", "", 1));
    const std::string path = PathOf("Server.txt");
    ASSERT_TRUE(UserRoutine::SaveTreeFile(root, path, "服务器列表文件存储", 2));
    EXPECT_NE(ReadFile(path).find("P=\"/docs/a.txt\""), std::string::npos);

    // A path in the file that disagrees with where its item stands (a file edited by
    // hand, or by someone else) does not move the item: its path is its place.
    WriteFile(path, std::string(kDecl) +
                        "<Orvane><fileitem iF=\"0\" t=\"docs\" P=\"\\elsewhere\"><fileitem iF=\"1\" t=\"a.txt\" "
                        "P=\"\\..\\..\\etc\\passwd\"/></fileitem></Orvane>\r\n");
    FileNode back(SyncFileInfo("Tracer"));
    ASSERT_TRUE(UserRoutine::LoadTreeFile(back, path, "Tracer"));
    const FileNode* a = FindFileNodeByPath(&back, 1, "\\docs\\a.txt");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(NodePath(a, 1), "\\docs\\a.txt");
}

TEST_F(StateFiles, EmptyTreeIsOneEmptyRootLine) {
    const std::string path = PathOf("Server.txt");
    ASSERT_TRUE(UserRoutine::SaveTreeFile(FileNode(SyncFileInfo("Waiter")), path, "服务器列表文件存储", 2));
    EXPECT_EQ(ReadFile(path), std::string(kDecl) + "<Orvane/>\r\n");
}

TEST_F(StateFiles, TracerFileKeepsTheSynchronisedStateOnly) {
    // Partners on both sides; the server side writes '/' separators.
    FileNode local(SyncFileInfo("Driver"));
    FileNode server(SyncFileInfo("Server"));
    FileNode* lDocs = local.InsertChild(Folder("\\docs", "AAAA")).Node();
    FileNode* sDocs = server.InsertChild(Folder("/docs", "BBBB")).Node();
    FileNode* lSame = lDocs->InsertChild(File("\\docs\\same.txt", "l-same", 3)).Node();
    FileNode* sSame = sDocs->InsertChild(File("/docs/same.txt", "s-same", 3)).Node();
    FileNode* lDown = local.InsertChild(File("\\down.txt", "l-down", 4)).Node();
    FileNode* sDown = server.InsertChild(File("/down.txt", "s-down", 40)).Node();
    FileNode* sGone = server.InsertChild(File("/gone.txt", "s-gone", 5)).Node();
    FileNode* lNew = local.InsertChild(Folder("\\new")).Node();
    FileNode* lNewChild = lNew->InsertChild(File("\\new\\x.txt", "l-x", 6)).Node();

    TaskNode uniform(SyncTaskInfo::CreateUniformRoot());
    TaskNode* docs = uniform.InsertChild(SyncTaskInfo(0, "docs", 0, 0, 1, lDocs, sDocs)).Node();
    docs->InsertChild(SyncTaskInfo(1, "same.txt", 0, 0, 1, lSame, sSame));
    // Update from server to local: the local partner's values.
    uniform.InsertChild(SyncTaskInfo(1, "down.txt", 2, 2, 0, lDown, sDown));
    // Delete towards the server: the server partner's values, '/' turned into '\\'.
    uniform.InsertChild(SyncTaskInfo(1, "gone.txt", 1, 3, 0, nullptr, sGone));
    // A creation is not synchronised yet: left out with everything below it.
    TaskNode* fresh = uniform.InsertChild(SyncTaskInfo(0, "new", 1, 1, 0, lNew, nullptr)).Node();
    fresh->InsertChild(SyncTaskInfo(1, "x.txt", 0, 0, 1, lNewChild, nullptr));
    // In step but without its partner: left out.
    uniform.InsertChild(SyncTaskInfo(1, "orphan.txt", 0, 0, 1, nullptr, sDown));

    LogCapture log;
    const std::string path = PathOf("Tracer.txt");
    ASSERT_TRUE(UserRoutine::SaveTracerFile(uniform, path));
    EXPECT_TRUE(Logged(log, "同步历史列表文件存储:成功 filepath:UserRoutine line:228"));
    EXPECT_EQ(ReadFile(path),
              std::string(kDecl) +
                  "<Orvane>\r\n"
                  "\t<fileitem iF=\"0\" t=\"docs\" h=\"\" N=\"\" P=\"\\docs\" F=\"0\">\r\n"
                  "\t\t<fileitem iF=\"1\" t=\"same.txt\" h=\"l-same\" N=\"\" P=\"\\docs\\same.txt\" F=\"3\"/>\r\n"
                  "\t</fileitem>\r\n"
                  "\t<fileitem iF=\"1\" t=\"down.txt\" h=\"l-down\" N=\"\" P=\"\\down.txt\" F=\"4\"/>\r\n"
                  "\t<fileitem iF=\"1\" t=\"gone.txt\" h=\"s-gone\" N=\"\" P=\"\\gone.txt\" F=\"5\"/>\r\n"
                  "</Orvane>\r\n");
}

// Reads `body` (the elements inside "Orvane") into a fresh Tracer tree.
int ReadBody(const std::string& body, FileNode& tree) {
    XmlDocument doc;
    EXPECT_TRUE(doc.LoadFromText(std::string(kDecl) + "<Orvane>" + body + "</Orvane>"));
    return UserRoutine::ReadTreeFile(*doc.Root(), tree, 1);
}

TEST_F(StateFiles, ReadingFollowsTheRecordRules) {
    FileNode tree(SyncFileInfo("Tracer"));
    ASSERT_EQ(ReadBody("<fileitem iF=\"abc\" t=\"odd\"/>"           // unreadable flag: folder
                       "<fileitem iF=\" 1\" t=\"nosize.txt\"/>"     // no F: size 0
                       "<fileitem iF=\"1\" F=\"0x10\"/>"            // no t: named after the element
                       "<item iF=\"1\" t=\"file.txt\" t=\"renamed.txt\" F=\"012\">"  // last t wins, octal
                       "<fileitem iF=\"1\" t=\"inside.txt\"/></item>",  // a file's children are ignored
                       tree),
              1);
    ASSERT_EQ(tree.children.size(), 4u);
    EXPECT_EQ(tree.FindChild("odd")->get()->data->isFile, 0u);
    EXPECT_EQ(tree.FindChild("nosize.txt")->get()->data->size, 0u);
    EXPECT_EQ(tree.FindChild("fileitem")->get()->data->size, 16u);
    const FileNode* renamed = tree.FindChild("renamed.txt")->get();
    EXPECT_EQ(renamed->data->size, 10u);
    EXPECT_TRUE(renamed->children.empty());
}

TEST_F(StateFiles, ADuplicateNameStopsItsLevel) {
    LogCapture log;
    FileNode tree(SyncFileInfo("Tracer"));
    EXPECT_EQ(ReadBody("<fileitem iF=\"0\" t=\"Docs\"><fileitem iF=\"1\" t=\"in.txt\"/></fileitem>"
                       "<fileitem iF=\"1\" t=\"DOCS\"/>"
                       "<fileitem iF=\"1\" t=\"later.txt\"/>",
                       tree),
              0);
    EXPECT_TRUE(Logged(log, "插入节点失败！ filepath:UserRoutine line:97"));
    ASSERT_EQ(tree.children.size(), 1u);  // the first stays, later siblings are not read
    EXPECT_NE(FindFileNodeByPath(&tree, 1, "\\Docs\\in.txt"), nullptr);

    // A failure below stops the reading of later folders' contents at that level.
    FileNode second(SyncFileInfo("Tracer"));
    EXPECT_EQ(ReadBody("<fileitem iF=\"0\" t=\"a\"><fileitem t=\"x\"/><fileitem t=\"X\"/></fileitem>"
                       "<fileitem iF=\"0\" t=\"b\"><fileitem iF=\"1\" t=\"y\"/></fileitem>",
                       second),
              0);
    ASSERT_NE(second.FindChild("b"), second.children.end());
    EXPECT_TRUE(second.FindChild("b")->get()->children.empty());
}

TEST_F(StateFiles, NamesThatCannotBeLocalPathsAreSkipped) {
    FileNode tree(SyncFileInfo("Tracer"));
    EXPECT_EQ(ReadBody("<fileitem iF=\"0\" t=\"..\"><fileitem iF=\"1\" t=\"x\"/></fileitem>"
                       "<fileitem iF=\"1\" t=\"a/b\"/>"
                       "<fileitem iF=\"1\" t=\"a\\b\"/>"
                       "<fileitem iF=\"1\" t=\"\"/>"
                       "<fileitem iF=\"1\" t=\"tab&#9;name\"/>"
                       "<fileitem iF=\"1\" t=\"ok.txt\"/>",
                       tree),
              0);
    ASSERT_EQ(tree.children.size(), 1u);
    EXPECT_EQ(tree.children.begin()->get()->data->name, "ok.txt");
}

// Every record a tree holds, one line each with its depth, depth first.
std::string Dump(const FileNode& top) {
    std::string out;
    std::vector<std::pair<const FileNode*, int>> pending{{&top, 0}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (node != &top) {
            const SyncFileInfo& r = *node->data;
            out += std::to_string(depth) + " " + r.name + " iF=" + std::to_string(r.isFile) + " F=" +
                   std::to_string(r.size) + " h=" + r.checksum.str() + " N=" + r.nodeRef.str() + " P=" + NodePath(node, 1) + "\n";
        }
        for (auto child = node->children.rbegin(); child != node->children.rend(); ++child)
            pending.emplace_back(child->get(), depth + 1);
    }
    return out;
}

// Loading a tree file reads a file in the writer's own layout element by element and
// anything else through the document reader: both give the same tree and the same result
// under every record rule (a comment in the file sends it to the document reader).
TEST_F(StateFiles, LoadingGivesTheSameTreeWhicheverReaderTakesTheFile) {
    std::string deep;
    for (int i = 0; i <= UserRoutine::kMaxTreeDepth; ++i) deep += "<fileitem iF=\"0\" t=\"d\">";
    for (int i = 0; i <= UserRoutine::kMaxTreeDepth; ++i) deep += "</fileitem>";
    const std::vector<std::string> bodies = {
        "",
        "<fileitem iF=\"abc\" t=\"odd\"/><fileitem iF=\" 1\" t=\"nosize.txt\"/><fileitem iF=\"1\" F=\"0x10\"/>"
        "<item iF=\"1\" t=\"file.txt\" t=\"renamed.txt\" F=\"012\"><fileitem iF=\"1\" t=\"inside.txt\"/></item>",
        "<fileitem iF=\"0\" t=\"Docs\"><fileitem iF=\"1\" t=\"in.txt\" h=\"abc\" N=\"n&amp;1\" P=\"\\Docs\\in.txt\" "
        "F=\"7\"/></fileitem><fileitem iF=\"1\" t=\"DOCS\"/><fileitem iF=\"1\" t=\"later.txt\"/>",
        "<fileitem iF=\"0\" t=\"a\"><fileitem t=\"x\"/><fileitem t=\"X\"/></fileitem>"
        "<fileitem iF=\"0\" t=\"b\"><fileitem iF=\"1\" t=\"y\"/></fileitem>",
        "<fileitem iF=\"0\" t=\"..\"><fileitem iF=\"1\" t=\"x\"/></fileitem><fileitem iF=\"1\" t=\"a/b\"/>"
        "<fileitem iF=\"1\" t=\"tab&#9;name\"/>\r\n\t<fileitem iF=\"0\" t=\"ok\">\r\n"
        "\t\t<fileitem iF=\"1\" t=\"&lt;&gt;&quot;&apos;云\"/>\r\n\t</fileitem>\r\n",
        deep,
    };
    const std::string path = PathOf("Tracer.txt");
    for (const std::string& body : bodies) {
        FileNode expected(SyncFileInfo("Tracer"));
        const int expectedResult = ReadBody(body, expected);
        for (const std::string& comment : {std::string(), std::string("<!-- hand-edited -->")}) {
            WriteFile(path, std::string(kDecl) + "<Orvane>" + comment + body + "</Orvane>\r\n");
            FileNode loaded(SyncFileInfo("Tracer"));
            EXPECT_EQ(UserRoutine::LoadTreeFile(loaded, path, "Tracer"), expectedResult == 1) << body.substr(0, 80);
            EXPECT_EQ(Dump(loaded), Dump(expected)) << body.substr(0, 80) << comment;
        }
    }

    // What SaveTreeFile writes loads back as the same tree.
    FileNode root(SyncFileInfo("Driver"));
    FileNode* docs = root.InsertChild(Folder("\\docs")).Node();
    docs->InsertChild(File("\\docs\\a.txt", "0cc175b9c0f1b6a831c399e269772661", 1, "ref-1"));
    root.InsertChild(File("\\B&<\"'>.bin", "", 5000000000ULL));
    ASSERT_TRUE(UserRoutine::SaveTreeFile(root, path, "test", 1));
    FileNode back(SyncFileInfo("Tracer"));
    ASSERT_TRUE(UserRoutine::LoadTreeFile(back, path, "Tracer"));
    EXPECT_EQ(Dump(back), Dump(root));
}

TEST_F(StateFiles, MissingOrCorruptTracerLeavesAnEmptyTreeAndTheFileKeptAside) {
    FileNode tree(SyncFileInfo("Tracer"));
    tree.InsertChild(File("\\stale.txt", "x", 1));
    EXPECT_FALSE(UserRoutine::LoadTreeFile(tree, PathOf("none.txt"), "Tracer"));
    EXPECT_TRUE(tree.children.empty());

    const std::string path = PathOf("Tracer.txt");
    const std::string garbage = std::string(kDecl) + "<Orvane><fileitem iF=\"1\" t=\"cut";
    WriteFile(path, garbage);
    tree.InsertChild(File("\\stale.txt", "x", 1));
    EXPECT_FALSE(UserRoutine::LoadTreeFile(tree, path, "Tracer"));
    EXPECT_TRUE(tree.children.empty());
    EXPECT_EQ(tree.data->name, "Tracer");
    EXPECT_FALSE(fs::exists(path));  // moved aside, its bytes kept
    bool keptAside = false;
    for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path())) {
        keptAside = keptAside || ReadFile(entry.path()) == garbage;
    }
    EXPECT_TRUE(keptAside);
}

TEST_F(StateFiles, AFailedSaveIsReportedAndKeepsTheOldFile) {
    LogCapture log;
    FileNode root(SyncFileInfo("Driver"));
    root.InsertChild(File("\\a.txt", "x", 1));
    EXPECT_FALSE(UserRoutine::SaveTreeFile(root, PathOf("missing/Driver.txt"), "本地遍历列表文件存储", 1));
    EXPECT_TRUE(Logged(log, "本地遍历列表文件存储:失败"));

    const std::string path = PathOf("Server.txt");
    WriteFile(path, "old");
    FileNode bad(SyncFileInfo("Waiter"));
    bad.InsertChild(File(std::string("\\zero\0byte", 10), "", 1));  // cannot be written
    EXPECT_FALSE(UserRoutine::SaveTreeFile(bad, path, "服务器列表文件存储", 2));
    EXPECT_EQ(ReadFile(path), "old");
}

// ------------------------------------------------------------------ user list

TEST_F(StateFiles, UserListHasTheExactLayoutAndNoPassword) {
    const std::string path = PathOf("UserInfo.txt");
    const CurrentUser alice{"alice", "secret", "/home/u/Nuvet云盘/alice", 1, 0};
    const CurrentUser odd{"b&\"c", "pw", "/home/u/it's", 0, 1};
    LogCapture log;
    ASSERT_TRUE(UserRoutine::SaveUserInfoList(path, "存储历史用户文件", {alice, odd}));
    EXPECT_TRUE(Logged(log, "存储历史用户文件:成功 filepath:UserRoutine line:332"));
    const std::string text = ReadFile(path);
    EXPECT_EQ(text, std::string(kDecl) +
                        "<Orvane>\r\n"
                        "\t<UserInfo UserName=\"alice\" Path=\"/home/u/Nuvet云盘/alice\" AutoLogin=\"1\" "
                        "MemoPassWord=\"0\"/>\r\n"
                        "\t<UserInfo UserName=\"b&amp;&quot;c\" Path=\"/home/u/it&apos;s\" AutoLogin=\"0\" "
                        "MemoPassWord=\"1\"/>\r\n"
                        "</Orvane>\r\n");
    EXPECT_EQ(text.find("secret"), std::string::npos);

    std::vector<CurrentUser> users(1);
    ASSERT_TRUE(UserRoutine::LoadUserInfoList(path, users));
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].UserName, "alice");
    EXPECT_EQ(users[0].PassWord, "");
    EXPECT_EQ(users[0].Path, "/home/u/Nuvet云盘/alice");  // UTF-8 both ways
    EXPECT_EQ(users[0].AutoLogin, 1u);
    EXPECT_EQ(users[1].UserName, "b&\"c");
    EXPECT_EQ(users[1].Path, "/home/u/it's");

    ASSERT_TRUE(UserRoutine::SaveUserInfoList(path, "存储历史用户文件", {}));
    EXPECT_EQ(ReadFile(path), std::string(kDecl) + "<Orvane/>\r\n");
}

TEST_F(StateFiles, UserListReadingTakesWhatTheFileHolds) {
    const std::string path = PathOf("UserInfo.txt");
    WriteFile(path, std::string(kDecl) +
                        "<Orvane>"
                        "<UserInfo UserName=\"a\" PassWord=\"by hand\" AutoLogin=\"yes\" MemoPassWord=\"-3x\" x=\"1\"/>"
                        "<Other UserName=\"a\" UserName=\"b\" AutoLogin=\" 1\"/>"
                        "<UserInfo UserName=\"a\"/>"
                        "</Orvane>");
    std::vector<CurrentUser> users;
    ASSERT_TRUE(UserRoutine::LoadUserInfoList(path, users));
    ASSERT_EQ(users.size(), 3u);  // not merged
    EXPECT_EQ(users[0].PassWord, "by hand");
    EXPECT_EQ(users[0].AutoLogin, 0u);
    EXPECT_EQ(static_cast<std::int32_t>(users[0].MemoPassWord), -3);
    EXPECT_EQ(users[1].UserName, "b");
    EXPECT_EQ(users[1].AutoLogin, 0u);  // no blanks before the digits

    EXPECT_FALSE(UserRoutine::LoadUserInfoList(PathOf("missing.txt"), users));
    EXPECT_TRUE(users.empty());
}

TEST_F(StateFiles, AUserListOthersCouldReadIsClosedWhenLoaded) {
    const std::string path = PathOf("UserInfo.txt");
    ASSERT_TRUE(UserRoutine::SaveUserInfoList(path, "存储历史用户文件", {CurrentUser{"a", "", "/p", 0, 1}}));
    for (const auto mode : {std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                std::filesystem::perms::others_read,
                            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write}) {
        std::filesystem::permissions(path, mode);
        const bool wasOpen = (mode & std::filesystem::perms::others_read) != std::filesystem::perms::none;
        LogCapture log;
        std::vector<CurrentUser> users;
        ASSERT_TRUE(UserRoutine::LoadUserInfoList(path, users));
        EXPECT_EQ(users.size(), 1u);
        EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        EXPECT_EQ(Logged(log, path + " was readable by other users; it is now readable by its owner only"), wasOpen);
    }
}

// ---------------------------------------------------------------------- history

SyncDoneItem Done(const std::string& file, std::int64_t size, std::int64_t index) {
    SyncDoneItem item;
    item.File = file;
    item.Path = "\\dir\\" + file;
    item.Time = "2024-05-06 07:08:09";
    item.Size = size;
    item.bLocal = 1;
    item.bDelete = 0;
    item.Index = index;
    return item;
}

TEST_F(StateFiles, HistoryHasTheExactLayoutAndReadsBackWithoutLoss) {
    const std::string path = PathOf("history.txt");
    const std::vector<SyncDoneItem> items{Done("big<&\".iso", 5000000000LL, 4294967295LL), Done("b.txt", 2, 7)};
    ASSERT_TRUE(UserRoutine::SaveHistoryFile(path, items));
    EXPECT_EQ(ReadFile(path),
              std::string(kDecl) +
                  "<Orvane>\r\n"
                  "\t<Item File=\"big&lt;&amp;&quot;.iso\" Path=\"\\dir\\big&lt;&amp;&quot;.iso\" "
                  "Time=\"2024-05-06 07:08:09\" Size=\"5000000000\" bLocal=\"1\" bDelete=\"0\" Index=\"4294967295\"/>\r\n"
                  "\t<Item File=\"b.txt\" Path=\"\\dir\\b.txt\" Time=\"2024-05-06 07:08:09\" Size=\"2\" bLocal=\"1\" "
                  "bDelete=\"0\" Index=\"7\"/>\r\n"
                  "</Orvane>\r\n");

    std::vector<SyncDoneItem> back{Done("earlier", 1, 1)};
    ASSERT_TRUE(UserRoutine::LoadHistoryFile(path, back));  // appended behind
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[1].File, "big<&\".iso");
    EXPECT_EQ(back[1].Size, 5000000000LL);
    EXPECT_EQ(back[1].Index, 4294967295LL);
    EXPECT_EQ(back[2].Path, "\\dir\\b.txt");

    ASSERT_TRUE(UserRoutine::SaveHistoryFile(path, {}));
    EXPECT_EQ(ReadFile(path), std::string(kDecl) + "<Orvane/>\r\n");
}

TEST_F(StateFiles, HistoryNumbersReadLikeUnsignedDecimals) {
    const std::string path = PathOf("history.txt");
    WriteFile(path, std::string(kDecl) +
                        "<Orvane><Item Size=\" +12abc\" bLocal=\"4294967297\" Index=\"x\" Unknown=\"1\"/></Orvane>");
    std::vector<SyncDoneItem> items;
    ASSERT_TRUE(UserRoutine::LoadHistoryFile(path, items));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].Size, 12);
    EXPECT_EQ(items[0].bLocal, 1u);  // low 32 bits
    EXPECT_EQ(items[0].Index, 0);
    EXPECT_EQ(items[0].File, "");
}

TEST_F(StateFiles, HistoryIsReadOncePerAccountAndNeverLost) {
    CStateDonePage::Clear();
    const std::string path = PathOf("history.txt");
    ASSERT_TRUE(UserRoutine::SaveHistoryFile(path, {Done("a.txt", 1, 1), Done("b.txt", 2, 2)}));

    SyncHistory history(path);
    EXPECT_TRUE(history.ReadOnce("alice"));
    EXPECT_FALSE(history.ReadOnce("alice"));  // a second login of the same account
    EXPECT_EQ(CStateDonePage::Snapshot().size(), 2u);

    CStateDonePage::AddDoneItem(0, 0, 3, "c.txt", "\\c.txt", "now");
    EXPECT_TRUE(history.ReadOnce("bob"));  // written back first, so nothing doubles or goes
    const auto items = CStateDonePage::Snapshot();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].File, "c.txt");

    ASSERT_TRUE(history.Save());
    std::vector<SyncDoneItem> saved;
    ASSERT_TRUE(UserRoutine::LoadHistoryFile(path, saved));
    EXPECT_EQ(saved.size(), 3u);
    CStateDonePage::Clear();
}

TEST_F(StateFiles, HistoryIsNotOverwrittenBeforeItWasRead) {
    CStateDonePage::Clear();
    const std::string path = PathOf("history.txt");
    ASSERT_TRUE(UserRoutine::SaveHistoryFile(path, {Done("a.txt", 1, 1)}));
    const std::string before = ReadFile(path);
    SyncHistory history(path);
    EXPECT_TRUE(history.Save());  // exit before any login
    EXPECT_EQ(ReadFile(path), before);
}

}  // namespace
