#include "sync/net/WinHttpClient.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "NetTestSupport.h"
#include "platform/text.h"
#include "support/responder.h"
#include "support/sandbox.h"
#include "support/synclogcapture.h"
#include "support/wait.h"
#include "sync/common/SyncOperation.h"

namespace {

using nettest::ClosedPort;
using nettest::Gate;
using nettest::ScriptedResponder;
using nettest::ScriptStep;

ScriptStep Answer(const std::string& reply) {
    ScriptStep step;
    step.reply = reply;
    return step;
}

bool LogHas(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

class WinHttpClientTest : public ::testing::Test {
protected:
    static HttpTimeouts Quick() {
        HttpTimeouts limits;
        limits.send = 300;
        limits.receive = 300;
        return limits;
    }
    std::string Host(const ScriptedResponder& server) const { return "127.0.0.1:" + std::to_string(server.Port()); }

    nettest::GlobalEvents events;
    nettest::Checkpoint checkpoint;
};

// ---- what goes on the wire -------------------------------------------------------------------

TEST_F(WinHttpClientTest, GetSendsHostAgentAndCookieOnly) {
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "[]"))});
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/dravik/allChildNodes");
    client.SetCookies("DRAVSID=t1;");
    ASSERT_TRUE(client.SendHttpRequest("get", nullptr, nullptr));
    EXPECT_EQ(0u, client.lastError);
    EXPECT_EQ(200u, client.statusCode);
    EXPECT_EQ("200", client.statusText);
    EXPECT_EQ("[]", client.GetResponseContent());
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ("GET /dravik/allChildNodes HTTP/1.1\r\nHost: " + Host(server) +
                  "\r\nUser-Agent: WinHttpClient\r\nCookie: DRAVSID=t1;\r\n\r\n",
              server.Requests()[0]);
}

TEST_F(WinHttpClientTest, LoginRequestCarriesItsFixedHeadersAndNoCookie) {
    ScriptedResponder server(
        {Answer(ScriptedResponder::Reply(200, "{}", "Set-Cookie: DRAVSID=abc; Path=/\r\nSet-Cookie: lang=zh\r\n"))});
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/dravik/app/login?user[email]=a%40b&user[pw]=p");
    client.SetCookies("old=1;");
    client.SetAdditionalRequestHeaders("X-Ignored:1\r\n");
    ASSERT_TRUE(client.SendLoginRequest());
    EXPECT_EQ("DRAVSID=abc; lang=zh;", client.GetResponseCookies());
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ("GET /dravik/app/login?user[email]=a%40b&user[pw]=p HTTP/1.1\r\nHost: " + Host(server) +
                  "\r\nUser-Agent: WinHttpClient\r\nAccept-Language: zh-cn/r/n\r\n"
                  "Accept-Encoding: gzip, deflate/r/n\r\nContent-Type: text/xml/r/n\r\n\r\n",
              server.Requests()[0]);
}

TEST_F(WinHttpClientTest, PostSendsTheHeaderBlockAsGivenAndTheBody) {
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "{}"))});
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/dravik/file/delete");
    const std::string body = R"({"nodeRef":["w://s/1"]})";
    client.SetPostData(body.data(), body.size());
    client.SetAdditionalRequestHeaders("Accept:*/*\r\nContent-Length:" + std::to_string(body.size()) +
                                       "\r\nContent-Type:application/json\r\nCookie:C=1;\r\nHost:example:81\r\n"
                                       "User-Agent:Agent/1\r\n");
    ASSERT_TRUE(client.SendHttpRequest("post", nullptr, nullptr));
    ASSERT_EQ(1u, server.Requests().size());
    // The caller's lines go out in their order, except that a Host line always leads.
    EXPECT_EQ("POST /dravik/file/delete HTTP/1.1\r\nHost:example:81\r\nAccept:*/*\r\nContent-Length:" +
                  std::to_string(body.size()) +
                  "\r\nContent-Type:application/json\r\nCookie:C=1;\r\nUser-Agent:Agent/1\r\n\r\n" + body,
              server.Requests()[0]);
}

TEST_F(WinHttpClientTest, AContentLengthLineThatIsNotTheBodysIsReplaced) {
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "{}"))});
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/x");
    client.SetPostData("{}", 2);
    client.SetAdditionalRequestHeaders("Content-Length:999\r\nContent-Type:application/json\r\n");
    ASSERT_TRUE(client.SendHttpRequest("POST", nullptr, nullptr));
    const std::string request = server.Requests().at(0);
    EXPECT_EQ(std::string::npos, request.find("999"));
    EXPECT_NE(std::string::npos, request.find("\r\nContent-Length: 2\r\n"));
    EXPECT_EQ("{}", request.substr(request.size() - 2));
}

TEST_F(WinHttpClientTest, BadUrlOrVerbFailsWithoutARequest) {
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "{}"))});
    WinHttpClient empty(&checkpoint, "");
    EXPECT_FALSE(empty.SendHttpRequest("GET", nullptr, nullptr));
    EXPECT_EQ(httperr::kEmptyUrl, empty.lastError);
    WinHttpClient put(&checkpoint, server.BaseUrl() + "/x");
    EXPECT_FALSE(put.SendHttpRequest("PUT", nullptr, nullptr));
    EXPECT_EQ(httperr::kInvalidVerb, put.lastError);
    WinHttpClient ftp(&checkpoint, "ftp://127.0.0.1/x");
    EXPECT_FALSE(ftp.SendHttpRequest("GET", nullptr, nullptr));
    EXPECT_EQ(httperr::kUnrecognizedScheme, ftp.lastError);
    EXPECT_EQ(0u, server.Connections());
}

// ---- every request's results are its own -----------------------------------------------------

TEST_F(WinHttpClientTest, ResultsOfAnEarlierRequestAreNeverReused) {
    ScriptedResponder server({
        Answer(ScriptedResponder::Reply(200, "first", "Set-Cookie: a=1\r\n", "text/plain; charset=gbk")),
        Answer(ScriptedResponder::Reply(404, "{\"msg\":\"gone\"}")),
        Answer("HTTP/1.1 200 OK\r\nSet-Cookie: b=2\r\nConnection: close\r\n\r\nno length"),
    });
    LogCapture log;
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/x");
    ASSERT_TRUE(client.SendHttpRequest("GET", nullptr, nullptr));
    EXPECT_EQ("first", client.GetResponseContent());
    EXPECT_EQ("a=1;", client.GetResponseCookies());
    EXPECT_EQ("gbk", client.charset);
    EXPECT_TRUE(client.hasContentLength);

    EXPECT_FALSE(client.SendHttpRequest("GET", nullptr, nullptr));
    EXPECT_EQ(404u, client.lastError);
    EXPECT_EQ("404", client.statusText);
    EXPECT_EQ("", client.GetResponseContent());
    EXPECT_EQ("", client.GetResponseCookies());
    EXPECT_TRUE(LogHas(log.Lines(), "line:689, 发送请求失败"));

    ASSERT_TRUE(client.SendHttpRequest("GET", nullptr, nullptr));
    EXPECT_EQ(0u, client.lastError);
    EXPECT_EQ("no length", client.GetResponseContent());
    EXPECT_EQ("b=2;", client.GetResponseCookies());  // not "a=1;b=2;"
    EXPECT_FALSE(client.hasContentLength);
    EXPECT_EQ(0u, client.contentLength);
    EXPECT_EQ("", client.charset);
}

TEST_F(WinHttpClientTest, OnlyTheFinalResponsesHeadersCount) {
    ScriptedResponder server({
        Answer("HTTP/1.1 302 Found\r\nLocation: /next\r\nSet-Cookie: x=1\r\nContent-Length: 0\r\n\r\n"),
        Answer(ScriptedResponder::Reply(200, "ok", "Set-Cookie: y=2\r\n")),
    });
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/first");
    ASSERT_TRUE(client.SendHttpRequest("GET", nullptr, nullptr));
    EXPECT_EQ("ok", client.GetResponseContent());
    EXPECT_EQ("y=2;", client.GetResponseCookies());
    EXPECT_EQ(0u, client.responseHeaders.find("HTTP/1.1 200"));
    EXPECT_EQ(std::string::npos, client.responseHeaders.find("302"));
    ASSERT_EQ(2u, server.Requests().size());
    EXPECT_EQ(0u, server.Requests()[1].find("GET /next HTTP/1.1\r\n"));
}

// ---- failures of the connection --------------------------------------------------------------

TEST_F(WinHttpClientTest, AGetIsSentAgainWhenNoReplyCame) {
    ScriptedResponder server({Answer(""), Answer(ScriptedResponder::Reply(200, "second"))});
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/x");
    client.SetCookies("S=1;");
    client.SetAdditionalRequestHeaders("X-Trace:7\r\n");
    ASSERT_TRUE(client.SendHttpRequest("GET", nullptr, nullptr));
    EXPECT_EQ("second", client.GetResponseContent());
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    // The second attempt carries its headers once, exactly as the first.
    EXPECT_EQ(requests[0], requests[1]);
    EXPECT_NE(std::string::npos, requests[1].find("\r\nX-Trace:7\r\nCookie: S=1;\r\n\r\n"));
}

TEST_F(WinHttpClientTest, APostWhoseBodyWentOutIsNotSentAgain) {
    ScriptedResponder server({Answer(""), Answer(ScriptedResponder::Reply(200, "{}"))});
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/file/copy/x");
    client.SetPostData("{\"a\":1}", 7);
    EXPECT_FALSE(client.SendHttpRequest("POST", nullptr, nullptr));
    EXPECT_EQ(httperr::kConnectionError, client.lastError);
    EXPECT_EQ(1u, server.Connections());
}

TEST_F(WinHttpClientTest, UnreachableServerGivesAConnectCode) {
    WinHttpClient client(&checkpoint, "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x");
    EXPECT_FALSE(client.SendHttpRequest("GET", nullptr, nullptr));
    EXPECT_EQ(httperr::kCannotConnect, client.lastError);
    EXPECT_GE(client.lastError, 400u);
    EXPECT_NE(502u, client.lastError);
}

TEST_F(WinHttpClientTest, AStalledServerEndsByTheLimits) {
    struct Case {
        const char* name;
        std::string reply;
    };
    const Case cases[] = {
        {"no reply at all", ""},
        {"reply stops mid-body", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789"},
    };
    for (const Case& c : cases) {
        ScriptStep step = Answer(c.reply);
        step.stall = true;
        ScriptedResponder server({step});
        WinHttpClient client(&checkpoint, server.BaseUrl() + "/x");
        client.timeouts = Quick();
        EXPECT_FALSE(client.SendHttpRequest("GET", nullptr, nullptr)) << c.name;
        EXPECT_EQ(httperr::kTimeout, client.lastError) << c.name;
        EXPECT_EQ(1u, server.Connections()) << c.name;
    }
}

// A reply kept in memory ends at its ceiling with a code of its own and a log line, and is
// not asked for again; the server listing has a ceiling of its own (it grows with the
// account: a million items take some 350 MB); a download to a file streams and has none.
TEST_F(WinHttpClientTest, RepliesKeptInMemoryHaveACeilingDownloadsNone) {
    testsupport::Sandbox sandbox;
    struct Case {
        const char* name;
        bool toFile;
        std::size_t size;
        std::uint32_t error;
        bool listing = false;
    };
    const Case cases[] = {
        {"in memory, within", false, 1500, httperr::kNone},
        {"in memory, past", false, 5000, httperr::kReplyTooLarge},
        {"to a file, past the memory ceiling", true, 5000, httperr::kNone},
        {"a listing, past the ceiling of other replies", false, 5000, httperr::kNone, true},
        {"a listing, past its own ceiling", false, 9000, httperr::kReplyTooLarge, true},
    };
    for (const Case& c : cases) {
        LogCapture log;
        const std::string bytes = nettest::Pattern(c.size);
        ScriptedResponder server({Answer(ScriptedResponder::Reply(200, bytes, "", "application/octet-stream"))});
        WinHttpClient client(&checkpoint, server.BaseUrl() + "/x?user[pw]=secret");
        client.timeouts.bounds.replyCeiling = 2000;
        client.timeouts.bounds.listingReplyCeiling = 8000;
        client.wholeCallLimit = c.listing;
        client.downloadToFile = c.toFile;
        client.downloadFilePath = (sandbox.Root() / "out.tmp").string();
        EXPECT_EQ(c.error == httperr::kNone, client.SendHttpRequest("GET", nullptr, nullptr)) << c.name;
        EXPECT_EQ(c.error, client.lastError) << c.name;
        EXPECT_EQ(1u, server.Connections()) << c.name;
        if (c.error == httperr::kNone) {
            EXPECT_EQ(bytes, c.toFile ? testsupport::ReadFile(sandbox.Root() / "out.tmp") : client.GetResponseContent())
                << c.name;
        } else {
            EXPECT_TRUE(client.GetResponseContent().empty()) << c.name;
            const std::vector<std::string> lines = log.Lines();
            EXPECT_TRUE(LogHas(lines, "The reply of " + server.BaseUrl() + " passed its size limit")) << c.name;
            EXPECT_FALSE(LogHas(lines, "secret")) << c.name;
        }
    }
}

// A reply that trickles ends on the least speed (any call) or the listing's total limit,
// as a time-out whose reason the log names; the bounds are shortened so the test is fast.
TEST_F(WinHttpClientTest, ASlowReplyEndsOnTheSpeedOrTotalLimit) {
    struct Case {
        const char* name;
        bool listing;
        http::Bounds bounds;
        const char* reason;
    };
    http::Bounds slow;
    slow.minSpeedBytes = 100000;
    slow.minSpeedWindowSeconds = 1;
    http::Bounds total;
    total.listingTotalMs = 300;
    const Case cases[] = {
        {"below the least speed", false, slow, "too slow"},
        {"a listing past its total limit", true, total, "timed out after"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        ScriptStep step = Answer("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n0123456789");
        step.stall = true;
        ScriptedResponder server({step});
        WinHttpClient client(&checkpoint, server.BaseUrl() + "/x");
        client.timeouts.bounds = c.bounds;
        client.wholeCallLimit = c.listing;
        EXPECT_FALSE(client.SendHttpRequest("GET", nullptr, nullptr)) << c.name;
        EXPECT_EQ(httperr::kTimeout, client.lastError) << c.name;
        EXPECT_NE(std::string::npos, client.failureReason.find(c.reason)) << c.name << ": " << client.failureReason;
        EXPECT_TRUE(LogHas(log.Lines(), "The request to " + server.BaseUrl() + " took too long or stalled")) << c.name;
    }
}

TEST_F(WinHttpClientTest, AReplyCutShortFails) {
    ScriptedResponder server({Answer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789")});
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/x");
    EXPECT_FALSE(client.SendHttpRequest("GET", nullptr, nullptr));
    EXPECT_EQ(httperr::kConnectionError, client.lastError);
    EXPECT_EQ(1u, server.Connections());
}

// ---- checkpoints -----------------------------------------------------------------------------

TEST_F(WinHttpClientTest, ASetBreakStopsTheRequestBeforeItGoesOut) {
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "{}"))});
    LogCapture log;
    checkpoint.breakEvent.Set();
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/x");
    EXPECT_FALSE(client.SendHttpRequest("GET", nullptr, nullptr));
    EXPECT_EQ(httperr::kStopped, client.lastError);
    EXPECT_EQ(0u, server.Connections());
    EXPECT_TRUE(LogHas(log.Lines(), "WinHttpClient::SendHttpRequest() #382"));
}

TEST_F(WinHttpClientTest, ABreakDuringTheReplyStopsItUnlessTheOperationWasAnnounced) {
    for (const bool withOperation : {false, true}) {
        auto gate = std::make_shared<Gate>();
        ScriptStep step = Answer("HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n0123456789");
        step.gate = gate;
        step.later = "abcdefghij";
        ScriptedResponder server({step});
        checkpoint.breakEvent.Reset();
        SyncOperationSlot operation;
        WinHttpClient client(&checkpoint, server.BaseUrl() + "/x");
        client.progressCallback = [&](double) {
            checkpoint.breakEvent.Set();
            server.Open(*gate);
        };
        const bool done = client.SendHttpRequest("GET", withOperation ? &operation : nullptr, nullptr);
        if (withOperation) {
            EXPECT_TRUE(done);
            EXPECT_EQ("0123456789abcdefghij", client.GetResponseContent());
            EXPECT_EQ(1u, operation.Snapshot().state);
            EXPECT_NE(0u, operation.Snapshot().sentMs);
        } else {
            EXPECT_FALSE(done);
            EXPECT_EQ(httperr::kStopped, client.lastError);
        }
        server.Open(*gate);
    }
}

// ---- replies into a file ---------------------------------------------------------------------

TEST_F(WinHttpClientTest, FileModeWritesTheBodyAndItsDigest) {
    testsupport::Sandbox sandbox;
    const std::string bytes = nettest::Pattern(300000);
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, bytes, "", "application/octet-stream"))});
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/content");
    client.downloadToFile = true;
    client.downloadFilePath = (sandbox.Root() / "out.tmp").string();
    client.expectedDownloadSize = static_cast<std::int64_t>(bytes.size());
    ASSERT_TRUE(client.SendHttpRequest("GET", nullptr, nullptr));
    EXPECT_EQ("", client.GetResponseContent());
    EXPECT_EQ(bytes.size(), client.fileBytesWritten);
    EXPECT_EQ(plat::Md5HexLower(bytes), client.fileMd5);
    EXPECT_EQ(bytes, testsupport::ReadFile(sandbox.Root() / "out.tmp"));
}

TEST_F(WinHttpClientTest, FileModeStopsOnAnyLengthOtherThanExpected) {
    struct Case {
        const char* name;
        std::string reply;
        std::int64_t expected;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"announced length differs", ScriptedResponder::Reply(200, "12345", "", "application/octet-stream"), 4,
         httperr::kInvalidResponse},
        {"announced empty, more expected", ScriptedResponder::Reply(200, "", "", "application/octet-stream"), 4,
         httperr::kInvalidResponse},
        {"unannounced bytes beyond expected", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n123456789", 4,
         httperr::kInvalidResponse},
        {"refused", ScriptedResponder::Reply(404, "{\"msg\":\"no\"}"), 4, 404},
    };
    for (const Case& c : cases) {
        testsupport::Sandbox sandbox;
        ScriptedResponder server({Answer(c.reply)});
        WinHttpClient client(&checkpoint, server.BaseUrl() + "/content");
        client.downloadToFile = true;
        client.downloadFilePath = (sandbox.Root() / "out.tmp").string();
        client.expectedDownloadSize = c.expected;
        EXPECT_FALSE(client.SendHttpRequest("GET", nullptr, nullptr)) << c.name;
        EXPECT_EQ(c.error, client.lastError) << c.name;
        EXPECT_LE(client.fileBytesWritten, static_cast<std::uint64_t>(c.expected)) << c.name;
        if (c.error == 404) {
            EXPECT_FALSE(std::filesystem::exists(sandbox.Root() / "out.tmp")) << c.name;
        }
    }
}

// ---- uploads and progress --------------------------------------------------------------------

TEST_F(WinHttpClientTest, AnInMemoryBodyGoesOutInPiecesWithAReportAfterEach) {
    nettest::RecordingProgress progress;
    const std::string body = nettest::Pattern(200000);
    WinHttpClient::ResetProgressPacing();  // the reply (with a length) must still report nothing
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "{\"nodeRef\":\"w://s/1\"}"))});
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/upload");
    client.SetPostData(body.data(), body.size());
    ASSERT_TRUE(client.SendHttpRequestAndCallBack(&progress, "POST", nullptr, false));
    EXPECT_EQ((std::vector<double>{32.768, 65.536, 98.304, 100.0}), progress.Percents());
    const std::string request = server.Requests().at(0);
    EXPECT_EQ(body, request.substr(request.size() - body.size()));
}

TEST_F(WinHttpClientTest, ABreakBetweenBodyPiecesEndsTheUpload) {
    nettest::RecordingProgress progress([&](double) { checkpoint.breakEvent.Set(); });
    const std::string body = nettest::Pattern(200000);
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "{}"))});
    LogCapture log;
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/upload");
    client.SetPostData(body.data(), body.size());
    EXPECT_FALSE(client.SendHttpRequestAndCallBack(&progress, "POST", nullptr, false));
    EXPECT_EQ(httperr::kStopped, client.lastError);
    EXPECT_EQ(1u, progress.Percents().size());
    EXPECT_TRUE(LogHas(log.Lines(), "WinHttpClient::SendHttpRequestAndCallBack() #1281"));
    // The first piece fits the socket's buffers, so the client may stop before the
    // responder has even accepted the connection: wait for that, then check it was the only one.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return server.Connections() >= 1; }));
    EXPECT_EQ(1u, server.Connections());
}

TEST_F(WinHttpClientTest, AStreamedBodyIsHeadFileAndClosingLine) {
    testsupport::Sandbox sandbox;
    nettest::RecordingProgress progress;
    const std::string bytes = nettest::Pattern(300000);
    testsupport::WriteFile(sandbox.Root() / "big.bin", bytes);
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "{}"))});
    WinHttpClient client(&checkpoint, server.BaseUrl() + "/upload");
    client.postHead = "--B\r\nhead\r\n\r\n";
    client.boundary = "B";
    client.uploadFilePath = plat::ToUtf16((sandbox.Root() / "big.bin").string());
    client.uploadFileSize = bytes.size();
    const std::string expected = client.postHead + bytes + "\r\n--B--\r\n";
    client.SetAdditionalRequestHeaders("Content-Length:" + std::to_string(expected.size()) + "\r\n");
    ASSERT_TRUE(client.SendHttpRequestAndCallBackForBig(&progress, "POST", nullptr, false));
    const std::string request = server.Requests().at(0);
    EXPECT_NE(std::string::npos, request.find("\r\nContent-Length:" + std::to_string(expected.size()) + "\r\n"));
    EXPECT_EQ(expected, request.substr(request.size() - expected.size()));
    const std::vector<double> percents = progress.Percents();
    ASSERT_EQ(3u, percents.size());  // one report per 131072-byte window
    EXPECT_DOUBLE_EQ(131072 * 100.0 / 300000, percents[0]);
    EXPECT_DOUBLE_EQ(100.0, percents[2]);
}

TEST_F(WinHttpClientTest, AStreamedFileOfAnotherSizeIsNotSent) {
    testsupport::Sandbox sandbox;
    testsupport::WriteFile(sandbox.Root() / "f.bin", "12345");
    testsupport::WriteFile(sandbox.Root() / "empty.bin", "");
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "{}"))});
    for (const auto& [name, size] : {std::pair<const char*, std::uint64_t>{"f.bin", 6}, {"empty.bin", 0}}) {
        WinHttpClient client(&checkpoint, server.BaseUrl() + "/upload");
        client.postHead = "head";
        client.boundary = "B";
        client.uploadFilePath = plat::ToUtf16((sandbox.Root() / name).string());
        client.uploadFileSize = size;
        EXPECT_FALSE(client.SendHttpRequestAndCallBackForBig(nullptr, "POST", nullptr, false)) << name;
        EXPECT_EQ(httperr::kFileOpen, client.lastError) << name;
    }
    EXPECT_EQ(0u, server.Connections());
}

TEST_F(WinHttpClientTest, ReplyProgressNeedsALengthAndIsPacedAcrossClients) {
    nettest::RecordingProgress row;
    WinHttpClient client(&checkpoint, "http://127.0.0.1/x");
    int hookCalls = 0;
    client.progressCallback = [&](double) { ++hookCalls; };
    EXPECT_FALSE(client.ReportProgress(10, &row));
    EXPECT_EQ(0, hookCalls);

    client.hasContentLength = true;
    client.contentLength = 200;
    WinHttpClient::ResetProgressPacing();
    EXPECT_TRUE(client.ReportProgress(50, &row));
    EXPECT_TRUE(client.ReportProgress(100, &row));
    EXPECT_EQ(2, hookCalls);
    EXPECT_EQ((std::vector<double>{25.0}), row.Percents());
}

}  // namespace
