// The control routes below "/__test/": the test server's control interface as JSON.
#include <map>

#include "ServerFixture.h"

namespace tstest {
namespace {

using ControlRoutesTest = LoggedInFixture;

// The same control operations as JSON for tests that run the server as a process.
TEST_F(ControlRoutesTest, ControlInterfaceOverHttp) {
    const auto post = [&](const std::string& path, const std::string& body) {
        auto res = http_->Post(path, body, "application/json");
        EXPECT_TRUE(res);
        return res ? res->status : 0;
    };
    EXPECT_EQ(200, post("/__test/put", R"({"user":"alice","path":"/c/t.txt","content":"text"})"));
    EXPECT_EQ(200, post("/__test/put", R"({"user":"alice","path":"/c/b.bin","content_base64":"AP8="})"));
    EXPECT_EQ(200, post("/__test/mkdir", R"({"user":"alice","path":"/m/n"})"));
    EXPECT_EQ(200, post("/__test/move", R"({"user":"alice","from":"/m/n","to":"/m/o"})"));
    EXPECT_EQ(200, post("/__test/remove", R"({"user":"alice","path":"/m"})"));
    EXPECT_EQ(409, post("/__test/put", R"({"user":"alice","path":"/c/t.txt/x","content":""})"));
    EXPECT_EQ(400, post("/__test/put", "not json"));
    EXPECT_EQ(200, post("/__test/user", R"({"name":"erin","password":"pw"})"));

    auto tree = Ok(http_->Get("/__test/tree?user=alice&contents=1"));
    std::map<std::string, std::string> contents;
    for (const auto& item : tree["items"].GetArray())
        if (Str(item, "kind") == "file") contents[Str(item, "path")] = Str(item, "content_base64");
    EXPECT_EQ("dGV4dA==", contents["/c/t.txt"]);
    EXPECT_EQ("AP8=", contents["/c/b.bin"]);
    auto trash = Ok(http_->Get("/__test/tree?user=alice&trash=1"));
    EXPECT_EQ("/m", Str(trash["items"][0], "path"));
    EXPECT_EQ(server_->Account("erin").homeRef, Str(Ok(http_->Get("/__test/account?user=erin")), "home"));

    EXPECT_EQ(200, post("/__test/fault", R"({"route":"allChildNodes","kind":"status","status":507})"));
    EXPECT_EQ(400, post("/__test/fault", R"({"route":"allChildNodes","kind":"nonsense"})"));
    EXPECT_EQ(507, Get("/dravik/allChildNodes", cookie_)->status);
    auto log = Ok(http_->Get("/__test/requests?route=allChildNodes"));
    ASSERT_EQ(1u, log.Size());
    EXPECT_EQ(507, log[0]["status"].GetInt());
    EXPECT_EQ("GET", Str(log[0], "method"));

    EXPECT_EQ(200, post("/__test/version", R"({"version":"9.9.9","installer_base64":"TVo="})"));
    EXPECT_EQ("MZ", http_->Get("/download/DravikClient.exe")->body);
    EXPECT_EQ(200, post("/__test/reset", ""));
    EXPECT_TRUE(Ok(http_->Get("/__test/tree?user=alice"))["items"].Empty());
    EXPECT_EQ(404, http_->Get("/__test/tree?user=nobody")->status);
}

}  // namespace
}  // namespace tstest
