// The test server as tests hold it: seeding at start, stop and restart, reset, and the
// control interface's calls that change an account's tree.
#include <future>

#include "ServerFixture.h"

namespace tstest {
namespace {

using testserver::Fault;
using testserver::FaultKind;
using testserver::TreeEntry;

using TestServerTest = LoggedInFixture;

TEST(SeedTest, SeedFolderIsCopiedIntoTheFirstAccountsHome) {
    testsupport::Sandbox sandbox;
    const auto seed = sandbox.Dir("seed");
    testsupport::WriteFile(seed / "a.txt", "alpha");
    testsupport::WriteFile(seed / "sub/deeper/b.bin", std::string("\0b", 2));
    std::filesystem::create_directories(seed / "emptydir");
    std::filesystem::create_symlink(seed / "a.txt", seed / "link");
    testserver::ServerOptions options;
    options.users = {{"carol", "pw"}, {"dave", "pw"}};
    options.seedDir = seed;
    options.dataDir = sandbox.Dir("data");
    testserver::TestServer server(options);
    server.Start();
    std::vector<std::string> paths;
    for (const TreeEntry& e : server.Tree("carol", true)) paths.push_back(e.path);
    EXPECT_EQ((std::vector<std::string>{"/emptydir", "/sub", "/sub/deeper", "/sub/deeper/b.bin", "/a.txt"}), paths);
    EXPECT_EQ(std::string("\0b", 2), server.Find("carol", "/sub/deeper/b.bin", true)->content);
    EXPECT_EQ(Md5Upper("alpha"), server.Find("carol", "/a.txt")->checksum);
    EXPECT_TRUE(server.Tree("dave").empty());
}

TEST_F(TestServerTest, StopEndsAPendingDelay) {
    Fault fault = Make("allChildNodes", FaultKind::Delay);
    fault.delay = std::chrono::hours(1);
    server_->InjectFault(fault);
    auto pending = std::async(std::launch::async, [this] {
        httplib::Client client("127.0.0.1", server_->Port());
        return client.Get("/dravik/allChildNodes", httplib::Headers{{"Cookie", cookie_}});
    });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !server_->Requests("allChildNodes").empty(); }));
    server_->Stop();  // returns although the delayed call had an hour to go
    pending.get();
}

TEST_F(TestServerTest, RestartListensOnTheSamePortWithTheSameState) {
    const int port = server_->Port();
    server_->Stop();
    EXPECT_FALSE(Get("/dravik/allChildNodes", cookie_));  // the server is down
    server_->Start();
    EXPECT_EQ(port, server_->Port());
    EXPECT_EQ(200, Get("/dravik/allChildNodes", cookie_)->status);
    EXPECT_TRUE(server_->Find("alice", "/data.bin"));
}

TEST_F(TestServerTest, ResetClearsItemsSessionsFaultsAndLogButKeepsAccounts) {
    const std::string home = server_->Account("alice").homeRef;
    Inject("allChildNodes", FaultKind::Status, 0, testserver::kEveryRequest);
    server_->Reset();
    EXPECT_TRUE(server_->Tree("alice").empty());
    EXPECT_TRUE(server_->Requests().empty());
    EXPECT_EQ(401, Get("/dravik/allChildNodes", cookie_)->status);
    const std::string again = Login("alice", "secret");
    EXPECT_EQ(200, Get("/dravik/allChildNodes", again)->status);
    EXPECT_EQ(home, server_->Account("alice").homeRef);
}

TEST_F(TestServerTest, CppApiRefusesImpossibleChanges) {
    EXPECT_THROW(server_->PutFile("alice", "/data.bin/child", "x"), std::runtime_error);
    EXPECT_THROW(server_->PutFile("alice", "relative", "x"), std::runtime_error);
    EXPECT_THROW(server_->PutFile("alice", "/bad\\name", "x"), std::runtime_error);
    EXPECT_THROW(server_->PutFile("nobody", "/x", "x"), std::runtime_error);
    EXPECT_THROW(server_->Remove("alice", "/missing"), std::runtime_error);
    EXPECT_THROW(server_->Move("alice", "/data.bin", "/nowhere/x"), std::runtime_error);
    server_->MakeFolder("alice", "/dir/sub");
    EXPECT_THROW(server_->Move("alice", "/dir", "/dir/sub/dir"), std::runtime_error);
    EXPECT_THROW(server_->AddUser("alice", "again"), std::runtime_error);

    server_->Move("alice", "/data.bin", "/dir/Moved.bin");
    EXPECT_EQ(fileRef_, server_->Find("alice", "/dir/moved.bin")->ref);
    server_->PutFile("alice", "/dir/moved.bin", "overwritten");
    EXPECT_EQ(fileRef_, server_->Find("alice", "/dir/Moved.bin")->ref);
    EXPECT_EQ("overwritten", server_->Find("alice", "/dir/Moved.bin", true)->content);
}

TEST_F(TestServerTest, NamesAreFoundUnderTheirCurrentSpellingAfterRenamesAndMoves) {
    server_->PutFile("alice", "/a/Doc.txt", "one");
    const std::string ref = server_->Find("alice", "/a/Doc.txt")->ref;
    server_->Move("alice", "/a/Doc.txt", "/a/DOC.txt");  // a change of case only, in place
    server_->PutFile("alice", "/a/doc.txt", "two");
    EXPECT_EQ(ref, server_->Find("alice", "/a/DOC.txt")->ref);
    EXPECT_EQ("two", server_->Find("alice", "/a/DOC.txt", true)->content);

    server_->Move("alice", "/a/DOC.txt", "/b.txt");
    server_->PutFile("alice", "/a/doc.txt", "three");  // the old name is free again
    EXPECT_NE(ref, server_->Find("alice", "/a/doc.txt")->ref);
    EXPECT_EQ(ref, server_->Find("alice", "/B.TXT")->ref);

    // The recycle bin holds two items of one name; the home folder is free of both.
    server_->Remove("alice", "/b.txt");
    server_->PutFile("alice", "/b.txt", "four");
    server_->Remove("alice", "/B.txt");
    EXPECT_EQ(2u, server_->Trash("alice").size());
    EXPECT_FALSE(server_->Find("alice", "/b.txt"));
    server_->PutFile("alice", "/b.txt", "five");
    EXPECT_EQ("five", server_->Find("alice", "/b.txt", true)->content);
}

}  // namespace
}  // namespace tstest
