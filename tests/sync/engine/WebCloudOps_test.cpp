// Both commit threads through the application's web-API object against the in-process test
// server: every pass in both directions ends with the server and the sync folder as the
// unified tree asked for.
#include <gtest/gtest.h>

#include <set>

#include "CommitTestSupport.h"
#include "support/synclogcapture.h"
#include "platform/md5.h"
#include "sync/common/BaseFunc.h"
#include "sync/engine/ThreadOfAway.h"
#include "sync/engine/ThreadOfHome.h"
#include "sync/net/WebCloud.h"
#include "testserver/TestServer.h"

using namespace committest;
namespace fs = std::filesystem;

namespace {

const auto* const kQuitEnvironment = ::testing::AddGlobalTestEnvironment(new QuitEventEnvironment);

class Checkpoint : public CSyncBase {};

class WebCloudOpsTest : public CommitFixture {
protected:
    void SetUp() override {
        CommitFixture::SetUp();
        testserver::ServerOptions options;
        options.dataDir = sandbox.Dir("server-data");
        options.users = {{"alice", "secret"}};
        server = std::make_unique<testserver::TestServer>(options);
        server->Start();
        cloud = std::make_unique<CWebCloud>(&app.WaiterTree);
        ASSERT_TRUE(cloud->SetServerAddress(server->BaseUrl() + "/dravik"));
        cloud->SetSyncFolder(app.syncFolder);
        app.webCloud = cloud.get();
        ASSERT_EQ(cloud->iLogin(&checkpoint, u"alice", u"secret"), 1);
    }
    void TearDown() override {
        std::uint32_t code = 0;
        away.Stop(code);
        home.Stop(code);
        CommitFixture::TearDown();
    }

    // The server's listing becomes the cycle's server-side tree.
    void ListServer() {
        ASSERT_EQ(cloud->iListServerDirs(&checkpoint), 1);
        app.ServerTree = app.WaiterTree;
    }
    FileNode* OnDisk(const std::string& path, const std::string& content) {
        testsupport::WriteFile(root / path.substr(1), content);
        return Local(path, true, content.size(), BaseFunc::ToUpper(plat::Md5HexLower(content)));
    }
    std::map<std::string, std::string> ServerFiles() {
        std::map<std::string, std::string> files;
        for (const auto& entry : server->Tree("alice", true)) files[entry.path] = entry.folder ? "/" : entry.content;
        return files;
    }
    std::string Disk(const std::string& path) { return testsupport::ReadFile(root / path.substr(1)); }

    Checkpoint checkpoint;
    std::unique_ptr<testserver::TestServer> server;
    std::unique_ptr<CWebCloud> cloud;
    CThreadOfAway away{&app, &window};
    CThreadOfHome home{&app, &window};
};

TEST_F(WebCloudOpsTest, LocalChangesReachTheServer) {
    server->PutFile("alice", "/docs/a.txt", "alpha");
    server->PutFile("alice", "/old/b.txt", "beta");
    server->PutFile("alice", "/ren/r1.txt", "rrr");
    server->PutFile("alice", "/trash/c.txt", "gamma");
    server->PutFile("alice", "/mod.txt", "before");
    ListServer();

    OnDisk("/docs/a.txt", "alpha");
    Task("/docs/a.txt", 1, 0, 0);
    OnDisk("/copy/a.txt", "alpha");
    Task("/copy", 0, 1, 1);
    Task("/copy/a.txt", 1, 1, 1, 5)->data->source = FindServer("/docs/a.txt");
    Local("/old", false);
    TaskNode* oldB = Task("/old/b.txt", 1, 1, 3);
    OnDisk("/moved/b.txt", "beta");
    Task("/moved", 0, 1, 1);
    Task("/moved/b.txt", 1, 1, 1, 4)->data->source = oldB;
    OnDisk("/ren/r2.txt", "rrr");
    TaskNode* r1 = Task("/ren/r1.txt", 1, 1, 3);
    Task("/ren/r2.txt", 1, 1, 1, 4)->data->source = r1;
    Task("/trash", 0, 1, 3);
    Task("/trash/c.txt", 1, 1, 3);
    OnDisk("/newdir/n.txt", "new content");
    Task("/newdir", 0, 1, 1);
    Task("/newdir/n.txt", 1, 1, 1);
    OnDisk("/mod.txt", "after the change");
    Task("/mod.txt", 1, 1, 2);

    LogCapture log;
    const Message report = RunOnce(away);
    EXPECT_EQ(report.lParam, 2);
    EXPECT_TRUE(CStateDoneFailedPage::Snapshot().empty()) << testing::PrintToString(log.Lines());
    const std::map<std::string, std::string> expected{
        {"/copy", "/"},         {"/copy/a.txt", "alpha"}, {"/docs", "/"},          {"/docs/a.txt", "alpha"},
        {"/mod.txt", "after the change"},                  {"/moved", "/"},         {"/moved/b.txt", "beta"},
        {"/newdir", "/"},       {"/newdir/n.txt", "new content"},                   {"/old", "/"},
        {"/ren", "/"},          {"/ren/r2.txt", "rrr"}};
    EXPECT_EQ(ServerFiles(), expected);

    // The server-side tree now says what the server holds: a new listing agrees with it.
    std::set<std::string> kept;
    for (FileNode* n : app.ServerTree.Preorder()) kept.insert(NodePath(n, 2) + "=" + n->data->nodeRef.str());
    ListServer();
    for (FileNode* n : app.ServerTree.Preorder()) {
        const std::string path = NodePath(n, 2);
        if (n->data->isFile == 0 || path == "/copy/a.txt") continue;  // copies get references of their own
        EXPECT_EQ(kept.count(path + "=" + n->data->nodeRef.str()), 1u) << path;
    }
}

TEST_F(WebCloudOpsTest, ServerChangesReachTheSyncFolder) {
    server->PutFile("alice", "/down/f.txt", "download me");
    server->PutFile("alice", "/down/sub/g.txt", "gee");
    server->MakeFolder("alice", "/x");
    server->PutFile("alice", "/y.txt", "server y");
    ListServer();

    Task("/down", 0, 2, 1);
    Task("/down/f.txt", 1, 2, 1);
    Task("/down/sub", 0, 2, 1);
    Task("/down/sub/g.txt", 1, 2, 1);
    OnDisk("/x", "mine");
    Task("/x", 0, 2, 1);
    OnDisk("/y.txt/kept.txt", "inside the folder");
    Task("/y.txt", 1, 2, 1);

    const Message report = RunOnce(home);
    EXPECT_EQ(report.wParam, 2u);
    EXPECT_TRUE(CStateDoneFailedPage::Snapshot().empty());
    EXPECT_EQ(Disk("/down/f.txt"), "download me");
    EXPECT_EQ(Disk("/down/sub/g.txt"), "gee");
    EXPECT_TRUE(fs::is_directory(root / "x"));
    EXPECT_EQ(Disk("/y.txt"), "server y");
    // What stood in the way is kept beside it, and no download leftover remains.
    std::vector<std::string> kept;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        EXPECT_NE(name.rfind(".dravik-", 0), 0u) << name;
        if (name.find(".冲突备份.") != std::string::npos) kept.push_back(entry.path().string());
    }
    ASSERT_EQ(kept.size(), 2u);
    for (const std::string& path : kept) {
        if (fs::is_directory(path)) {
            EXPECT_EQ(testsupport::ReadFile(fs::path(path) / "kept.txt"), "inside the folder");
        } else {
            EXPECT_EQ(testsupport::ReadFile(path), "mine");
        }
    }
    EXPECT_EQ(FindLocal("/down/sub/g.txt")->data->size, 3u);
}

TEST_F(WebCloudOpsTest, ABadGatewayAnswerEndsTheProgramOnlyForThatCall) {
    ListServer();
    OnDisk("/a.txt", "a");
    Task("/a.txt", 1, 1, 1);
    OnDisk("/b.txt", "b");
    Task("/b.txt", 1, 1, 1);
    testserver::Fault gateway;
    gateway.route = "upload";
    gateway.status = 502;
    server->InjectFault(gateway);
    testserver::Fault refused;
    refused.route = "upload";
    refused.status = 500;
    server->InjectFault(refused);

    EXPECT_EQ(RunOnce(away).lParam, 1);  // a run with a failed item reports a failure
    EXPECT_EQ(window.Of(WM_PIPE_EXIT).size(), 1u);
    EXPECT_EQ(CStateDoneFailedPage::Snapshot().size(), 2u);
    EXPECT_TRUE(ServerFiles().empty());
}

}  // namespace
