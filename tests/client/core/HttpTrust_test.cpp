// The client's HTTP calls at the edges of trust: https is verified (a CA file serves a
// server with its own authority), replies kept in memory have ceilings, error bodies are
// logged short and escaped, and a listing has a total limit.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "client/core/HttpClient.h"
#include "support/clientlogcapture.h"
#include "support/responder.h"
#include "support/sandbox.h"
#include "support/server.h"
#include "support/tlsresponder.h"

namespace {

using testsupport::ScriptedResponder;
using testsupport::ScriptStep;

bool Logged(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

std::string Reply(int status, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

class HttpTrustTest : public ::testing::Test {
protected:
    HttpTrustTest() {
        HttpLimits limits;
        limits.connectTimeout = std::chrono::seconds(5);
        limits.callTimeout = std::chrono::seconds(30);
        http.SetLimits(limits);
    }
    testsupport::Sandbox box;
    HttpClient http;
};

TEST_F(HttpTrustTest, HttpsLoginChecksTheCertificateAndNamesTheServerWhenRefused) {
    const testsupport::TestAuthority authority;
    for (const testsupport::CertificateCase& c : testsupport::CertificateCases(authority, box.Root() / "ca.pem")) {
        ClientLogCapture log;
        // A refusal of the login: enough to tell the certificate passed.
        testsupport::TlsResponder server(c.identity, Reply(403, R"({"msg":"no"})"));
        http.SetCaFile(c.caFile);
        int error = -1;
        EXPECT_EQ(0, http.Login("alice", "secret", server.BaseUrl(), &error)) << c.name;
        if (c.passes) {
            EXPECT_EQ(HttpErrorNoPermission, error) << c.name;
            EXPECT_EQ(1u, server.Requests().size()) << c.name;
            continue;
        }
        EXPECT_EQ(HttpErrorCertificate, error) << c.name;
        EXPECT_TRUE(server.Requests().empty()) << c.name << ": the password reached the server";
        // Told to the user with the server and the reason; not an outage of the network.
        const std::string told = http.LastCertificateFailure();
        EXPECT_NE(std::string::npos, told.find("The certificate of the server " + server.BaseUrl() + " was refused: "))
            << c.name << ": " << told;
        EXPECT_GT(told.size(), told.find("refused: ") + 9) << c.name << ": no reason";
        EXPECT_NE(2, http.GetNetworkState()) << c.name;
        const std::vector<std::string> lines = log.Lines();
        EXPECT_TRUE(Logged(lines, "<http> Login, error, CURLcode=")) << c.name;
        EXPECT_TRUE(Logged(lines, told)) << c.name;
        EXPECT_FALSE(Logged(lines, "secret")) << c.name;
    }
}

// Replies kept in memory end at their ceilings with a clear log line; an error body within
// its ceiling reaches the log only as its first 2 KiB, control characters escaped.
TEST_F(HttpTrustTest, RepliesHaveCeilingsAndErrorBodiesAreLoggedShortAndEscaped) {
    HttpLimits limits = http.GetLimits();
    limits.replyCeiling = 8000;
    limits.errorReplyCeiling = 6000;
    http.SetLimits(limits);
    const std::string hostile = "\x1b[2J\r\nforged line\n" + std::string(4000, 'e') + "END";
    struct Case {
        const char* name;
        int status;
        std::string body;
        int error;
        const char* logged;
    };
    const Case cases[] = {
        {"error body, logged short and escaped", 500, hostile, HttpErrorOtherStatus,
         "ResponseString = \\x1b[2J\\r\\nforged line\\neeee"},
        {"error body past its ceiling", 500, std::string(7000, 'e'), HttpErrorTransport, "passed its size limit"},
        {"reply past its ceiling", 200, std::string(9000, 'r'), HttpErrorTransport, "passed its size limit"},
    };
    for (const Case& c : cases) {
        ClientLogCapture log;
        ScriptedResponder server({ScriptStep{true, Reply(c.status, c.body)}});
        int error = -1;
        EXPECT_EQ(0, http.Login("alice", "secret", server.BaseUrl(), &error)) << c.name;
        EXPECT_EQ(c.error, error) << c.name;
        const std::vector<std::string> lines = log.Lines();
        EXPECT_TRUE(Logged(lines, c.logged)) << c.name;
        for (const std::string& line : lines) {
            EXPECT_EQ(std::string::npos, line.find('\x1b')) << c.name;
            EXPECT_EQ(std::string::npos, line.find("END")) << c.name << ": more than the first 2 KiB logged";
            EXPECT_LT(line.size(), 3000u) << c.name;
        }
    }
}

// A listing that does not end in time fails as a call, it never hangs its caller.
TEST_F(HttpTrustTest, AListingEndsAtItsTotalLimit) {
    testsupport::RunningServer server(box);
    int error = -1;
    ASSERT_EQ(1, http.Login("alice", "secret", server.BaseUrl(), &error)) << error;
    HttpLimits limits = http.GetLimits();
    limits.listingTimeout = std::chrono::milliseconds(300);
    http.SetLimits(limits);
    testserver::Fault stall{"list", testserver::FaultKind::Delay};
    stall.delay = std::chrono::seconds(60);
    server.InjectFault(stall);
    ClientLogCapture log;
    CloudListing listing;
    EXPECT_EQ(0, http.EnumDirectory(server.Account("alice").homeRef, 0, 0, listing, &error));
    EXPECT_EQ(HttpErrorTransport, error);
    const std::string lines = log.All();
    EXPECT_NE(std::string::npos, lines.find("<http>EnumDirectory, error, CURLcode=28, " + server.BaseUrl() +
                                            " took too long or stalled"))
        << lines;
    server.ReleaseDelays();
    http.Logout();
}

}  // namespace
