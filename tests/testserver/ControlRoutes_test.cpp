// The control routes below "/__test/": the test server's control interface as JSON.
#include <map>
#include <set>

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

// Another local user, or a web page that reaches the port (a plain-text or form POST, a
// host name rebound to 127.0.0.1), gets nothing from the control interface and changes
// nothing: only a request with the token, to the server's own address, with a JSON body.
TEST_F(ControlRoutesTest, RefusesRequestsWithoutTokenOwnHostOrJsonBody) {
    const std::string host = "127.0.0.1:" + std::to_string(server_->Port());
    const std::string token = server_->ControlToken();
    const std::string put = R"({"user":"alice","path":"/planted.txt","content":"x"})";
    struct Case {
        const char* what;
        std::string method, path, headers, body;
        int status;
    } cases[] = {
        {"no token", "GET", "/__test/tree?user=alice&contents=1", "Host: " + host + "\r\n", "", 403},
        {"wrong token", "GET", "/__test/requests", "Host: " + host + "\r\nX-Control-Token: " + token + "x\r\n", "", 403},
        {"empty token", "GET", "/__test/requests", "Host: " + host + "\r\nX-Control-Token: \r\n", "", 403},
        {"rebound host name", "GET", "/__test/tree?user=alice",
         "Host: attacker.example:" + std::to_string(server_->Port()) + "\r\nX-Control-Token: " + token + "\r\n", "", 421},
        {"other port", "GET", "/__test/tree?user=alice", "Host: 127.0.0.1:1\r\nX-Control-Token: " + token + "\r\n", "", 421},
        {"no host", "GET", "/__test/tree?user=alice", "X-Control-Token: " + token + "\r\n", "", 421},
        {"plain-text post", "POST", "/__test/put",
         "Host: " + host + "\r\nX-Control-Token: " + token + "\r\nContent-Type: text/plain\r\n", put, 415},
        {"form post", "POST", "/__test/user",
         "Host: " + host + "\r\nX-Control-Token: " + token + "\r\nContent-Type: application/x-www-form-urlencoded\r\n",
         R"({"name":"mallory","password":"pw"})", 415},
        {"post without type", "POST", "/__test/reset", "Host: " + host + "\r\nX-Control-Token: " + token + "\r\n", "{}", 415},
        {"post without token", "POST", "/__test/put", "Host: " + host + "\r\nContent-Type: application/json\r\n", put, 403},
        {"token and json", "POST", "/__test/mkdir",
         "Host: " + host + "\r\nX-Control-Token: " + token + "\r\nContent-Type: application/json; charset=utf-8\r\n",
         R"({"user":"alice","path":"/allowed"})", 200},
        {"token and own host", "GET", "/__test/account?user=alice", "Host: " + host + "\r\nX-Control-Token: " + token + "\r\n",
         "", 200},
    };
    for (const Case& c : cases) {
        const std::string request = c.method + " " + c.path + " HTTP/1.1\r\n" + c.headers +
                                    "Content-Length: " + std::to_string(c.body.size()) +
                                    "\r\nConnection: close\r\n\r\n" + c.body;
        const RawReply reply(RawExchange(server_->Port(), request));
        EXPECT_EQ(0u, reply.head.find("HTTP/1.1 " + std::to_string(c.status) + " ")) << c.what << "\n" << reply.head;
        if (c.status != 200) {
            EXPECT_EQ(std::string::npos, reply.body.find("data.bin")) << c.what;
        }
    }
    // Nothing a refused request asked for happened; the accepted one did.
    EXPECT_FALSE(server_->Find("alice", "/planted.txt"));
    EXPECT_TRUE(server_->Find("alice", "/allowed"));
    EXPECT_TRUE(server_->Find("alice", "/data.bin"));
    EXPECT_THROW(server_->Account("mallory"), std::exception);
}

// Session tokens come from the kernel's random source: 128 bits, never repeated.
TEST_F(ControlRoutesTest, SessionTokensAreLongAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string cookie = Login("alice", "secret");
        const std::string token = cookie.substr(cookie.find('=') + 1, cookie.size() - cookie.find('=') - 2);
        EXPECT_EQ(32u, token.size()) << cookie;
        EXPECT_EQ(std::string::npos, token.find_first_not_of("0123456789abcdef")) << cookie;
        EXPECT_TRUE(seen.insert(token).second) << cookie;
    }
}

}  // namespace
}  // namespace tstest
