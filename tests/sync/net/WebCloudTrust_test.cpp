// The login over https: a server whose certificate is refused never sees the password,
// the failure is logged and told with the server and the reason; a CA file lets a server
// with its own authority through.
#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "platform/text.h"
#include "support/sandbox.h"
#include "support/synclogcapture.h"
#include "support/tlsresponder.h"
#include "sync/common/TreeNode.h"
#include "sync/net/WebCloud.h"

namespace {

bool Logged(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

TEST(WebCloudTrustTest, LoginOverHttpsChecksTheServersCertificate) {
    const testsupport::Sandbox sandbox;
    const testsupport::TestAuthority authority;
    const std::string body = R"({"homeFolder":"workspace://SpacesStore/home"})";
    const std::string reply = "HTTP/1.1 200 OK\r\nSet-Cookie: DRAVSID=s1; Path=/\r\nContent-Type: application/json\r\n"
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    for (const testsupport::CertificateCase& c : testsupport::CertificateCases(authority, sandbox.Root() / "ca.pem")) {
        nettest::GlobalEvents events;
        nettest::Checkpoint checkpoint;
        LogCapture log;
        testsupport::TlsResponder server(c.identity, reply);
        FileNode waiter{SyncFileInfo("Waiter")};
        CWebCloud cloud(&waiter);
        cloud.ResetLastStatus();
        ASSERT_TRUE(cloud.SetServerAddress(server.BaseUrl() + "/dravik")) << c.name;
        cloud.SetCaFile(c.caFile);
        std::vector<std::string> notices;
        cloud.SetNotifier([&](const std::u16string&, const std::u16string& text) { notices.push_back(plat::ToUtf8(text)); });

        const int loggedIn = cloud.iLogin(&checkpoint, u"alice", u"secret");
        if (c.passes) {
            EXPECT_EQ(1, loggedIn) << c.name;
            EXPECT_EQ("workspace://SpacesStore/home", cloud.HomeFolder()) << c.name;
            EXPECT_EQ(1u, server.Requests().size()) << c.name;
            EXPECT_TRUE(notices.empty()) << c.name;
            continue;
        }
        EXPECT_EQ(0, loggedIn) << c.name;
        EXPECT_FALSE(cloud.LoggedIn()) << c.name;
        EXPECT_EQ(httperr::kCertificateRejected, cloud.LastStatus()) << c.name;
        // Nothing reached the server: no password in a query, no cookie.
        EXPECT_TRUE(server.Requests().empty()) << c.name;
        // One attempt: a refused certificate is not tried again at once.
        EXPECT_EQ(1u, server.Connections()) << c.name;
        const std::vector<std::string> lines = log.Lines();
        EXPECT_TRUE(Logged(lines, "The server's certificate was refused, " + server.BaseUrl() + ": ")) << c.name;
        EXPECT_FALSE(Logged(lines, "secret")) << c.name;
        ASSERT_EQ(1u, notices.size()) << c.name;
        EXPECT_NE(std::string::npos, notices[0].find(server.BaseUrl())) << c.name << ": " << notices[0];
        EXPECT_NE(std::string::npos, notices[0].find("certificate")) << c.name << ": " << notices[0];
    }
}

}  // namespace
