// The update site's download page: reading the version from its HTML, fetching it from
// the test server, and comparing version texts.
#include "updatesite/VersionPage.h"

#include <gtest/gtest.h>

#include <string>

#include "support/sandbox.h"
#include "testserver/TestServer.h"

namespace {

using namespace std::chrono_literals;

#define DIV "<div id=\"WindowsClientVersionInfo\">"

TEST(VersionPageTest, TheVersionIsTheMatchingDivsOwnText) {
    struct Case {
        const char* name;
        std::string page;
        const char* version;  // null: no version
    };
    const Case cases[] = {
        {"after the colon", "<html><body>" DIV "检测到新版本：2.2.3</div></body></html>", "2.2.3"},
        {"no colon: all of it", DIV "2.2.3</div>", "2.2.3"},
        {"nothing trimmed", DIV "版本： 2.2.3\n</div>", " 2.2.3\n"},
        {"only the first colon", DIV "a：b：c</div>", "b：c"},
        {"single quotes", "<div id='WindowsClientVersionInfo'>：1.0.1</div>", "1.0.1"},
        {"the last div wins", DIV "：1.0</div><p>x</p>" DIV "：2.0</div>", "2.0"},
        {"an empty later div adds nothing", DIV "：1.0</div>" DIV "</div>", "1.0"},
        {"own text, not the children's", DIV "版本：<b>9.9</b>2.0</div>", "2.0"},
        {"empty div", DIV "</div><p>1.0</p>", nullptr},
        {"unclosed empty div at the end", "<html>" DIV, nullptr},
        {"blank div", DIV " \n\t</div>", nullptr},
        {"nothing after the colon", DIV "版本：</div>", nullptr},
        {"another id", "<div id=\"Other\">：1.0</div>", nullptr},
        {"the id compared exactly", "<div id=\"windowsclientversioninfo\">：1.0</div>", nullptr},
        {"another tag", "<span id=\"WindowsClientVersionInfo\">：1.0</span>", nullptr},
        {"no elements", "just text", nullptr},
        {"empty page", "", nullptr},
    };
    for (const Case& c : cases) {
        std::string version = "stale";
        EXPECT_EQ(ParseVersionPage(c.page, version), c.version != nullptr) << c.name;
        EXPECT_EQ(version, c.version != nullptr ? c.version : "") << c.name;
    }
}

TEST(VersionPageTest, VersionsCompareOrdinally) {
    EXPECT_EQ(CompareVersionTexts("2.2.3", "2.2.3"), 0);
    EXPECT_LT(CompareVersionTexts("1.0.0", "1.0.1"), 0);
    EXPECT_GT(CompareVersionTexts("2.2.9", "2.2.10"), 0) << "character by character";
    EXPECT_LT(CompareVersionTexts("2.2", "2.2.0"), 0);
    EXPECT_LT(CompareVersionTexts("", "1"), 0);
    EXPECT_EQ(ShortVersionText("1.2.3.4"), "1.2.3");
    EXPECT_EQ(ShortVersionText("10.20.30.40"), "10.20");
    EXPECT_EQ(ShortVersionText("1.2"), "1.2");
    EXPECT_EQ(ShortVersionText(""), "");
}

TEST(VersionPageTest, AddressesBelowTheSite) {
    EXPECT_EQ(VersionPageUrl("http://127.0.0.1:8080"), "http://127.0.0.1:8080/download.html");
    EXPECT_EQ(VersionPageUrl("http://example.com/updates/"), "http://example.com/updates/download.html");
    EXPECT_EQ(InstallerUrl("http://example.com/"), "http://example.com/download/DravikClient.exe");
}

TEST(VersionPageTest, FetchedFromTheTestServer) {
    testsupport::Sandbox box;
    testserver::ServerOptions options;
    options.dataDir = box.Dir("server");
    testserver::TestServer server(options);
    server.Start();
    server.SetClientVersion("2.2.3", "installer");
    EXPECT_EQ(GetServerVersion(server.BaseUrl()), "2.2.3");
    EXPECT_EQ(GetServerVersion(server.BaseUrl() + "/"), "2.2.3");

    testserver::Fault error;
    error.route = "versionPage";
    error.status = 500;
    server.InjectFault(error);
    EXPECT_EQ(GetServerVersion(server.BaseUrl()), "") << "an error page is no version";

    testserver::Fault slow;
    slow.route = "versionPage";
    slow.kind = testserver::FaultKind::Delay;
    slow.delay = 3s;
    server.InjectFault(slow);
    EXPECT_EQ(GetServerVersion(server.BaseUrl(), 200ms), "") << "too slow";

    const std::string address = server.BaseUrl();
    server.Stop();
    EXPECT_EQ(GetServerVersion(address), "") << "unreachable";
}

}  // namespace
