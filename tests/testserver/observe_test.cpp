// What tests read of and do to requests under way: how many of a route are in flight and
// the most at once, delays let go before their time, and replies rewritten on the way out
// (through the C++ API and the control interface).
#include <future>

#include "ServerFixture.h"

namespace tstest {
namespace {

using testserver::Fault;
using testserver::FaultKind;

class ObserveTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        cookie_ = Login("alice", "secret");
    }
    std::string cookie_;
};

TEST_F(ObserveTest, CountsRequestsInFlightAndLetsDelaysGo) {
    Fault hold;
    hold.route = "logout";
    hold.kind = FaultKind::Delay;
    hold.delay = std::chrono::seconds(60);
    hold.count = testserver::kEveryRequest;
    server_->InjectFault(hold);
    const int port = server_->Port();
    auto call = [&] {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(60, 0);
        auto res = client.Get("/dravik/logout", httplib::Headers{{"Cookie", "DRAVSID=none"}});
        return res ? res->status : 0;
    };
    auto first = std::async(std::launch::async, call);
    auto second = std::async(std::launch::async, call);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return server_->InFlight("logout") == 2; }));
    EXPECT_EQ(server_->InFlight("list"), 0);
    // Both waits end at once, long before their delay.
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        server_->ReleaseDelays();
        return server_->InFlight("logout") == 0;
    }));
    EXPECT_EQ(first.get(), 401);
    EXPECT_EQ(second.get(), 401);
    EXPECT_EQ(server_->MaxInFlight("logout"), 2);
    server_->ClearRequests();
    EXPECT_EQ(server_->MaxInFlight("logout"), 0);
}

TEST_F(ObserveTest, RewritesTheRepliesOfItsRoute) {
    const std::string home = server_->Account("alice").homeRef;
    server_->PutFile("alice", "/plain.txt", "x");
    Fault rewrite;
    rewrite.route = "list";
    rewrite.kind = FaultKind::ReplaceInBody;
    rewrite.from = "\"name\":\"plain.txt\"";
    rewrite.to = "\"name\":\"..\"";
    server_->InjectFault(rewrite);
    const std::string path = "/dravik/appw/new/list/" + Id(home);
    auto changed = Get(path, cookie_);
    ASSERT_TRUE(changed);
    EXPECT_NE(changed->body.find("\"name\":\"..\""), std::string::npos);
    EXPECT_EQ(changed->body.find("plain.txt"), std::string::npos);
    auto plain = Get(path, cookie_);  // the fault was for one request
    ASSERT_TRUE(plain);
    EXPECT_NE(plain->body.find("\"name\":\"plain.txt\""), std::string::npos);

    // The same through the control interface.
    auto set = http_->Post("/__test/fault",
                           R"({"route":"list","kind":"replace_body","from":"plain.txt","to":"other.txt"})",
                           "application/json");
    ASSERT_TRUE(set);
    ASSERT_EQ(set->status, 200);
    auto viaControl = Get(path, cookie_);
    ASSERT_TRUE(viaControl);
    EXPECT_NE(viaControl->body.find("\"name\":\"other.txt\""), std::string::npos);
    EXPECT_EQ(testserver::FaultKindFromName("replace_body"), FaultKind::ReplaceInBody);
}

}  // namespace
}  // namespace tstest
