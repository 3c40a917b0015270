// Login, logout, the login state and the server address of the web-API class.
#include <atomic>
#include <thread>

#include "WebCloudFixture.h"

namespace {

using nettest::ClosedPort;
using nettest::Logged;
using nettest::WebCloudTest;
using testserver::Fault;
using testserver::FaultKind;

Fault FaultOn(const std::string& route, FaultKind kind, int status = 500) {
    Fault fault;
    fault.route = route;
    fault.kind = kind;
    fault.status = status;
    return fault;
}

TEST(ServerAddressTest, ConfiguredTextsBecomeBaseRootAndHost) {
    struct Case {
        const char* text;
        const char* url;
        const char* root;
        const char* host;
    };
    const Case cases[] = {
        {"cloud.example.com/dravik", "http://cloud.example.com/dravik", "http://cloud.example.com", "cloud.example.com"},
        {"http://10.0.0.5:8080/dravik/", "http://10.0.0.5:8080/dravik", "http://10.0.0.5:8080", "10.0.0.5:8080"},
        {" HTTPS://secure.example/dravik ", "https://secure.example/dravik", "https://secure.example", "secure.example"},
        {"example:81", "http://example:81", "http://example:81", "example:81"},
    };
    for (const Case& c : cases) {
        const auto address = ParseServerAddress(c.text);
        ASSERT_TRUE(address.has_value()) << c.text;
        EXPECT_EQ(c.url, address->url) << c.text;
        EXPECT_EQ(c.root, address->root) << c.text;
        EXPECT_EQ(c.host, address->host) << c.text;
    }
    for (const char* bad : {"", "   ", "ftp://example/dravik", "http:///dravik", "user:pw@example/dravik",
                            "exa mple/dravik", "example/dr\navik"}) {
        EXPECT_FALSE(ParseServerAddress(bad).has_value()) << bad;
    }
    FileNode tree{SyncFileInfo("Waiter")};
    CWebCloud cloud(&tree);
    ASSERT_TRUE(cloud.SetServerAddress("a.example/dravik"));
    EXPECT_FALSE(cloud.SetServerAddress("ftp://b.example"));
    EXPECT_EQ("http://a.example/dravik", cloud.GetServerAddress().url);
}

TEST(UrlPartsTest, EncodingAndReferences) {
    EXPECT_EQ("a%20b%40x.cn", CWebCloud::UrlEncode("a b@x.cn"));
    EXPECT_EQ("AZaz09-._~%2F%3F%26%3D%25", CWebCloud::UrlEncode("AZaz09-._~/?&=%"));
    EXPECT_EQ("%E4%B8%AD", CWebCloud::UrlEncode("\xE4\xB8\xAD"));
    EXPECT_EQ("", CWebCloud::UrlEncode(""));

    EXPECT_EQ("workspace/SpacesStore/9f", CWebCloud::UrlReference("workspace://SpacesStore/9f").value_or("?"));
    EXPECT_EQ("workspace/SpacesStore/a%20b%3Fc", CWebCloud::UrlReference("workspace://SpacesStore/a b?c").value_or("?"));
    for (const char* bad : {"workspace/SpacesStore/9f", "workspace://SpacesStore/../x", "workspace://SpacesStore//x",
                            "workspace://", "://x"}) {
        EXPECT_FALSE(CWebCloud::UrlReference(bad).has_value()) << bad;
    }
}

TEST_F(WebCloudTest, LoginKeepsTheCookieAndTheHomeFolder) {
    LogCapture log;
    EXPECT_EQ(200u, cloud.LastStatus());
    ASSERT_EQ(1, cloud.iLogin(&checkpoint, u"alice", u"secret"));
    EXPECT_TRUE(cloud.LoggedIn());
    EXPECT_EQ(Home(), cloud.HomeFolder());
    const std::string cookie = cloud.LoginCookie();
    EXPECT_EQ(0u, cookie.find(std::string(testserver::kSessionCookie) + "="));
    EXPECT_EQ(';', cookie.back());
    EXPECT_NE(std::u16string::npos, cloud.LoginReply().find(u"homeFolder"));
    EXPECT_EQ(u"alice", cloud.Account());
    const auto logins = server.Requests("login");
    ASSERT_EQ(1u, logins.size());
    EXPECT_EQ("user[email]=alice&user[pw]=secret", logins[0].query);
    const std::vector<std::string> lines = log.Lines();
    EXPECT_TRUE(Logged(lines, "CWebCloud::iLogin 帐户登录成功"));
    for (const std::string& line : lines) EXPECT_EQ(std::string::npos, line.find("secret")) << line;
}

TEST_F(WebCloudTest, AccountAndPasswordArePercentEncoded) {
    server.AddUser("a b@x.cn", "p\xC3\xA4 ss");
    ASSERT_EQ(1, cloud.iLogin(&checkpoint, u"a b@x.cn", u"p\u00E4 ss"));
    EXPECT_EQ("user[email]=a%20b%40x.cn&user[pw]=p%C3%A4%20ss", server.Requests("login").at(0).query);
}

TEST_F(WebCloudTest, ASecondLoginLogsOutFirstAndKeepsOnlyTheNewCookie) {
    ASSERT_EQ(1, cloud.iLogin(&checkpoint, u"alice", u"secret"));
    const std::string first = cloud.LoginCookie();
    ASSERT_EQ(1, cloud.iLogin(&checkpoint, u"alice", u"secret"));
    const auto requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ("login", requests[0].route);
    EXPECT_EQ("logout", requests[1].route);
    EXPECT_EQ(first, requests[1].Header("Cookie"));
    EXPECT_EQ("login", requests[2].route);
    EXPECT_EQ("", requests[2].Header("Cookie"));
    const std::string second = cloud.LoginCookie();
    EXPECT_NE(first, second);
    EXPECT_EQ(std::string::npos, second.find(first.substr(0, first.size() - 1)));  // no pile-up
}

TEST_F(WebCloudTest, ARefusedLoginKeepsTheCookieButIsNotLoggedIn) {
    LogCapture log;
    EXPECT_EQ(0, cloud.iLogin(&checkpoint, u"alice", u"wrong"));
    EXPECT_FALSE(cloud.LoggedIn());
    EXPECT_FALSE(cloud.LoginCookie().empty());
    EXPECT_NE(std::u16string::npos, cloud.LoginReply().find(u"Wrong account or password"));
    EXPECT_TRUE(Logged(log.Lines(), "Not found 'homeFolder' in JSON"));
    EXPECT_TRUE(notices.empty());
}

TEST_F(WebCloudTest, AnUnreachableServerShowsTheNotice) {
    LogCapture log;
    ASSERT_TRUE(cloud.SetServerAddress("127.0.0.1:" + std::to_string(ClosedPort()) + "/dravik"));
    EXPECT_EQ(0, cloud.iLogin(&checkpoint, u"alice", u"secret"));
    EXPECT_EQ(httperr::kCannotConnect, cloud.LastStatus());
    EXPECT_EQ((std::vector<std::string>{"提示信息|连接服务器失败\n请稍后重试"}), notices);
    EXPECT_TRUE(Logged(log.Lines(), "CWebCloud::iLogin 发送请求失败 filepath:WebCloud line:312"));
    EXPECT_TRUE(cloud.LoginReply().empty());
    EXPECT_FALSE(cloud.LoggedIn());
}

TEST_F(WebCloudTest, ALoginReplyWithoutUsableContentFails) {
    server.InjectFault(FaultOn("login", FaultKind::InvalidJson));
    EXPECT_EQ(0, cloud.iLogin(&checkpoint, u"alice", u"secret"));
    EXPECT_FALSE(cloud.LoggedIn());
    server.InjectFault(FaultOn("login", FaultKind::Status, 500));
    EXPECT_EQ(0, cloud.iLogin(&checkpoint, u"alice", u"secret"));
    EXPECT_EQ(500u, cloud.LastStatus());
    EXPECT_EQ(1u, notices.size());
}

TEST_F(WebCloudTest, LogoutSendsTheCookieAndForgetsTheLoginWhateverTheReply) {
    EXPECT_EQ(0, cloud.iLogout(&checkpoint));
    EXPECT_TRUE(server.Requests().empty());

    Login();
    const std::string cookie = cloud.LoginCookie();
    EXPECT_EQ(1, cloud.iLogout(&checkpoint));
    EXPECT_EQ(cookie, server.Requests("logout").at(0).Header("Cookie"));
    EXPECT_FALSE(cloud.LoggedIn());
    EXPECT_TRUE(cloud.LoginCookie().empty());

    Login();
    server.InjectFault(FaultOn("logout", FaultKind::Status, 500));
    EXPECT_EQ(0, cloud.iLogout(&checkpoint));
    EXPECT_EQ(500u, cloud.LastStatus());
    EXPECT_TRUE(cloud.LoginCookie().empty());
}

TEST_F(WebCloudTest, CallsFailWithoutARequestWhenNotLoggedIn) {
    nettest::RecordingProgress progress;
    testsupport::WriteFile(Local("a.txt"), "x");
    EXPECT_EQ(0, cloud.iListServerDirs(&checkpoint));
    EXPECT_EQ(0, cloud.iDownload(&checkpoint, 1, nullptr, nullptr, "workspace://SpacesStore/1", "\\a.txt", ""));
    EXPECT_EQ(0, cloud.iUpload(&checkpoint, 1, &progress, nullptr, Home(), "", "9DD4E461268C8034F5C8564E155C67A6",
                               "\\a.txt"));
    EXPECT_EQ(0, cloud.iCreateFolder(&checkpoint, nullptr, Home(), "x"));
    EXPECT_EQ(0, cloud.iCopy(&checkpoint, nullptr, Home(), Home(), Home()));
    EXPECT_EQ(0, cloud.iMove(&checkpoint, nullptr, Home(), Home(), Home()));
    EXPECT_EQ(0, cloud.iDelete(&checkpoint, nullptr, Home(), Home()));
    EXPECT_EQ(0, cloud.iRename(&checkpoint, nullptr, Home(), "y"));
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(WebCloudTest, RefusalsWith401Or403EndTheLogin) {
    for (const int status : {401, 403, 404}) {
        Login();
        server.InjectFault(FaultOn("allChildNodes", FaultKind::Status, status));
        EXPECT_EQ(0, cloud.iListServerDirs(&checkpoint)) << status;
        EXPECT_EQ(static_cast<std::uint32_t>(status), cloud.LastStatus());
        const bool ended = status != 404;
        EXPECT_EQ(!ended, cloud.LoggedIn()) << status;
        EXPECT_EQ(ended, cloud.LoginCookie().empty()) << status;
        server.ClearRequests();
        EXPECT_EQ(ended ? 0 : 1, cloud.iListServerDirs(&checkpoint)) << status;
        EXPECT_EQ(ended ? 0u : 1u, server.Requests().size()) << status;
    }
}

TEST_F(WebCloudTest, LastStatusKeepsAFailureThroughLaterSuccesses) {
    Login();
    server.InjectFault(FaultOn("createFolder", FaultKind::Status, 404));
    EXPECT_EQ(0, cloud.iCreateFolder(&checkpoint, nullptr, Home(), "one"));
    EXPECT_EQ(404u, cloud.LastStatus());
    EXPECT_EQ(1, cloud.iCreateFolder(&checkpoint, nullptr, Home(), "two"));
    EXPECT_EQ(1, cloud.iListServerDirs(&checkpoint));
    EXPECT_EQ(404u, cloud.LastStatus());
}

TEST_F(WebCloudTest, TheLimitsReachEveryClient) {
    Login();
    HttpTimeouts quick;
    quick.send = 300;
    quick.receive = 300;
    cloud.SetTimeouts(quick);
    Fault slow{"allChildNodes", FaultKind::Delay};
    slow.delay = std::chrono::seconds(60);
    server.InjectFault(slow);
    EXPECT_EQ(0, cloud.iListServerDirs(&checkpoint));
    EXPECT_EQ(httperr::kTimeout, cloud.LastStatus());
}

TEST_F(WebCloudTest, LoginAndLogoutFromTwoThreadsStayConsistent) {
    // The inventory thread logs in and lists while the main window logs out.
    std::atomic<bool> done{false};
    std::thread inventory([&] {
        nettest::Checkpoint own;
        for (int i = 0; i < 40; ++i) {
            cloud.iLogin(&own, u"alice", u"secret");
            cloud.iListServerDirs(&own);
        }
        done = true;
    });
    while (!done) cloud.iLogout(&checkpoint);
    inventory.join();
    for (const auto& request : server.Requests("logout")) EXPECT_FALSE(request.Header("Cookie").empty());
    ASSERT_EQ(1, cloud.iLogin(&checkpoint, u"alice", u"secret"));
    EXPECT_EQ(1, cloud.iListServerDirs(&checkpoint));
}

}  // namespace
