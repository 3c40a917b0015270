// The libcurl exchange against a scripted socket responder: what goes on the wire, which
// headers are kept, how hooks stop it and how failures are told apart.
#include "http/Exchange.h"

#include <gtest/gtest.h>

#include <functional>

#include "http/Watchdog.h"
#include "support/responder.h"
#include "support/sandbox.h"
#include "support/tlsresponder.h"

namespace {

using testsupport::ScriptedResponder;
using testsupport::ScriptStep;

ScriptStep Answer(std::string reply) {
    ScriptStep step;
    step.reply = std::move(reply);
    return step;
}

// Hooks that record what they see; each may be told to stop the exchange.
class Recorder : public http::Hooks {
public:
    bool OnHeaderLine(std::string_view line, bool opensResponse) override {
        if (opensResponse) ++statusLines;
        return !stopAtHeader;
    }
    std::size_t OnBody(const char* data, std::size_t size) override {
        body.append(data, size);
        return size;
    }
    std::optional<std::size_t> OnRead(char* out, std::size_t capacity) override {
        const std::size_t n = std::min(capacity, upload.size() - uploaded);
        upload.copy(out, n, uploaded);
        uploaded += n;
        return n;
    }
    bool OnProgress(const http::Counters&) override {
        ++ticks;
        return !stopAtTick;
    }
    void OnConnected() override { ++connects; }

    bool stopAtHeader = false;
    bool stopAtTick = false;
    int statusLines = 0;
    int ticks = 0;
    int connects = 0;
    std::string body;
    std::string upload;
    std::size_t uploaded = 0;
};

http::Request Get(const ScriptedResponder& server, const std::string& path = "/x") {
    http::Request request;
    request.url = server.BaseUrl() + path;
    return request;
}

TEST(Exchange, SpeaksHttp11AndHandsOverTheBodyAsSent) {
    // A body the server claims to be compressed arrives untouched: nothing decompresses it.
    const std::string reply =
        "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 11\r\n\r\nnot gzipped";
    ScriptedResponder server({Answer(reply)});
    http::Exchange exchange;
    Recorder hooks;
    http::Request request = Get(server);
    request.headerLines = {"Accept:", "X-Trace: 7"};
    const http::Result result = exchange.Perform(request, hooks);
    ASSERT_TRUE(result.Ok()) << result.code;
    EXPECT_EQ("not gzipped", hooks.body);
    EXPECT_EQ(200, exchange.ResponseCode());
    EXPECT_EQ(1, hooks.connects);
    EXPECT_GT(hooks.ticks, 0);
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ("GET /x HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\nX-Trace: 7\r\n\r\n",
              server.Requests()[0]);
}

TEST(Exchange, OnlyTheFinalResponsesHeadersAreKept) {
    struct Case {
        const char* name;
        std::vector<ScriptStep> steps;
        bool follow;
        int statusLines;
    };
    const Case cases[] = {
        {"interim reply",
         {Answer("HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n"
                 "HTTP/1.1 200 OK\r\nX-Final: 1\r\nContent-Length: 2\r\n\r\nok")},
         false,
         2},
        {"followed redirect",
         {Answer("HTTP/1.1 302 Found\r\nLocation: /next\r\nX-Interim: 1\r\nContent-Length: 0\r\n\r\n"),
          Answer("HTTP/1.1 200 OK\r\nX-Final: 1\r\nContent-Length: 2\r\n\r\nok")},
         true,
         2},
    };
    for (const Case& c : cases) {
        ScriptedResponder server(c.steps);
        http::Exchange exchange;
        Recorder hooks;
        http::Request request = Get(server);
        request.followRedirects = c.follow;
        ASSERT_TRUE(exchange.Perform(request, hooks).Ok()) << c.name;
        EXPECT_EQ("ok", hooks.body) << c.name;
        EXPECT_EQ(c.statusLines, hooks.statusLines) << c.name;
        EXPECT_EQ(0u, exchange.Headers().find("HTTP/1.1 200 OK\r\n")) << c.name;
        EXPECT_NE(std::string::npos, exchange.Headers().find("X-Final: 1\r\n")) << c.name;
        EXPECT_EQ(std::string::npos, exchange.Headers().find("X-Interim")) << c.name;
    }
}

TEST(Exchange, AKeptExchangeStartsEachRequestAfresh) {
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "one", "X-First: 1\r\n")),
                              Answer(ScriptedResponder::Reply(404, "two"))});
    http::Exchange exchange;
    Recorder first;
    ASSERT_TRUE(exchange.Perform(Get(server), first).Ok());
    http::Request post = Get(server);
    post.method = http::Method::Post;
    post.body = http::Request::Body::Bytes;
    post.bytes = "{}";
    Recorder second;
    ASSERT_TRUE(exchange.Perform(post, second).Ok());
    EXPECT_EQ(404, exchange.ResponseCode());
    EXPECT_EQ(std::string::npos, exchange.Headers().find("X-First"));
    const std::string request = server.Requests().at(1);
    EXPECT_EQ(0u, request.find("POST /x HTTP/1.1\r\n"));
    EXPECT_EQ("{}", request.substr(request.size() - 2));
}

TEST(Exchange, HooksStopIt) {
    for (const bool atHeader : {true, false}) {
        ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "body"))});
        http::Exchange exchange;
        Recorder hooks;
        hooks.stopAtHeader = atHeader;
        hooks.stopAtTick = !atHeader;
        const http::Result result = exchange.Perform(Get(server), hooks);
        EXPECT_EQ(http::Failure::Other, result.failure) << atHeader;
        EXPECT_FALSE(result.mayRetry) << atHeader;
        EXPECT_EQ("", hooks.body) << atHeader;
    }
}

TEST(Exchange, FailuresSayWhetherAReplyBegan) {
    struct Case {
        const char* name;
        std::string reply;
        http::Failure failure;
        bool mayRetry;
    };
    const Case cases[] = {
        {"nothing came back", "", http::Failure::ConnectionBroken, true},
        {"reply cut short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789",
         http::Failure::ConnectionBroken, false},
    };
    for (const Case& c : cases) {
        ScriptedResponder server({Answer(c.reply)});
        http::Exchange exchange;
        Recorder hooks;
        const http::Result result = exchange.Perform(Get(server), hooks);
        EXPECT_EQ(c.failure, result.failure) << c.name;
        EXPECT_EQ(c.mayRetry, result.mayRetry) << c.name;
        EXPECT_NE(0, result.code) << c.name;
    }
    // A scheme other than http or https never connects.
    http::Exchange exchange;
    Recorder hooks;
    http::Request request;
    request.url = "ftp://127.0.0.1/x";
    request.webOnly = true;
    EXPECT_EQ(http::Failure::UnsupportedScheme, exchange.Perform(request, hooks).failure);
    EXPECT_EQ(0, hooks.connects);
}

// https is verified, peer and host name, whatever the request says; a CA file lets a
// server with its own authority through. A refused server never sees the request.
TEST(Exchange, HttpsChecksTheCertificateAndTheHostName) {
    const testsupport::TestAuthority authority;
    const testsupport::Sandbox sandbox;
    const std::string caFile = (sandbox.Root() / "ca.pem").string();
    authority.WriteCaFile(caFile);
    struct Case {
        const char* name;
        testsupport::TestIdentity identity;
        bool withCaFile;
        bool passes;
    };
    const Case cases[] = {
        {"self-signed for another name", testsupport::TestAuthority::SelfSigned("other.example"), false, false},
        {"self-signed for this address", testsupport::TestAuthority::SelfSigned("127.0.0.1"), true, false},
        {"own authority without its CA file", authority.Issue("127.0.0.1"), false, false},
        {"own authority with its CA file", authority.Issue("127.0.0.1"), true, true},
        {"right authority, wrong host name", authority.Issue("other.example"), true, false},
    };
    for (const Case& c : cases) {
        testsupport::TlsResponder server(c.identity, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        http::Exchange exchange;
        Recorder hooks;
        http::Request request;
        request.url = server.BaseUrl() + "/login?user[pw]=secret";
        request.headerLines = {"Cookie: session=1"};
        if (c.withCaFile) request.caFile = caFile;
        const http::Result result = exchange.Perform(request, hooks);
        if (c.passes) {
            EXPECT_TRUE(result.Ok()) << c.name << ": " << result.detail;
            EXPECT_EQ("ok", hooks.body) << c.name;
            EXPECT_EQ(1u, server.Requests().size()) << c.name;
        } else {
            EXPECT_EQ(http::Failure::CertificateRejected, result.failure) << c.name << ": " << result.detail;
            EXPECT_FALSE(result.mayRetry) << c.name;
            EXPECT_FALSE(result.detail.empty()) << c.name;
            EXPECT_TRUE(server.Requests().empty()) << c.name << ": the request reached the server";
        }
    }
    // A CA file that cannot be read is refused the same way, never ignored.
    testsupport::TlsResponder server(authority.Issue("127.0.0.1"), "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    http::Exchange exchange;
    Recorder hooks;
    http::Request request;
    request.url = server.BaseUrl() + "/";
    request.caFile = (sandbox.Root() / "missing.pem").string();
    EXPECT_EQ(http::Failure::CertificateRejected, exchange.Perform(request, hooks).failure);
    EXPECT_TRUE(server.Requests().empty());
}

// A reply kept in memory ends the exchange once it passes its ceiling (a refused reply's
// body its own, smaller one); a reply within both goes through whole.
TEST(Exchange, RepliesEndAtTheirCeiling) {
    const std::string big(5000, 'x');
    struct Case {
        const char* name;
        int status;
        std::size_t bodySize;
        bool announced;  // with Content-Length, else closed by the server
        bool tooLarge;
    };
    const Case cases[] = {
        {"within the ceiling", 200, 1000, true, false},
        {"exactly the ceiling", 200, 2000, true, false},
        {"past the ceiling", 200, 5000, true, true},
        {"past the ceiling, no length", 200, 5000, false, true},
        {"error body within its ceiling", 500, 100, true, false},
        {"error body past its ceiling", 500, 1000, true, true},
    };
    for (const Case& c : cases) {
        const std::string body = big.substr(0, c.bodySize);
        const std::string reply = "HTTP/1.1 " + std::to_string(c.status) + " X\r\n" +
                                  (c.announced ? "Content-Length: " + std::to_string(body.size()) + "\r\n"
                                               : std::string("Connection: close\r\n")) +
                                  "\r\n" + body;
        ScriptedResponder server({Answer(reply)});
        http::Exchange exchange;
        Recorder hooks;
        http::Request request = Get(server);
        request.limits.replyCeiling = 2000;
        request.limits.errorReplyCeiling = 500;
        const http::Result result = exchange.Perform(request, hooks);
        if (c.tooLarge) {
            EXPECT_EQ(http::Failure::ReplyTooLarge, result.failure) << c.name;
            EXPECT_FALSE(result.mayRetry) << c.name;
            EXPECT_LE(hooks.body.size(), 2000u) << c.name;
        } else {
            EXPECT_TRUE(result.Ok()) << c.name << ": " << result.detail;
            EXPECT_EQ(body, hooks.body) << c.name;
        }
    }
}

// A reply that stalls ends on the least-speed rule or on the total limit, whichever the
// request has; the limits here are short so the test stays fast.
TEST(Exchange, AStalledReplyEndsOnItsLimits) {
    struct Case {
        const char* name;
        http::Limits limits;
    };
    http::Limits slow;
    slow.lowSpeedBytes = 1000;
    slow.lowSpeedSeconds = 1;
    http::Limits total;
    total.totalMs = 300;
    const Case cases[] = {{"below the least speed", slow}, {"past the total limit", total}};
    for (const Case& c : cases) {
        ScriptStep step = Answer("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nabc");
        step.stall = true;
        ScriptedResponder server({step});
        http::Exchange exchange;
        Recorder hooks;
        http::Request request = Get(server);
        request.limits = c.limits;
        const http::Result result = exchange.Perform(request, hooks);
        EXPECT_EQ(http::Failure::TimedOut, result.failure) << c.name;
        server.Stop();
    }
}

TEST(Exchange, BodiesGoOutStreamedOrAsAForm) {
    ScriptedResponder server({Answer(ScriptedResponder::Reply(200, "{}"))});
    http::Exchange exchange;

    Recorder streamed;
    streamed.upload = std::string(200000, 's');
    http::Request request = Get(server, "/stream");
    request.method = http::Method::Post;
    request.body = http::Request::Body::Stream;
    request.streamLength = streamed.upload.size();
    request.uploadBufferSize = 65536;
    request.headerLines = {"Expect:"};
    ASSERT_TRUE(exchange.Perform(request, streamed).Ok());
    const std::string sent = server.Requests().at(0);
    EXPECT_NE(std::string::npos, sent.find("\r\nContent-Length: 200000\r\n"));
    EXPECT_EQ(streamed.upload, sent.substr(sent.size() - streamed.upload.size()));

    Recorder form;
    form.upload = "file bytes";
    request = Get(server, "/form");
    request.method = http::Method::Post;
    request.body = http::Request::Body::Form;
    request.form = {http::FormPart::Text("cookie", "C=1;"),
                    http::FormPart::Streamed("Filedata", "a.txt", static_cast<std::int64_t>(form.upload.size()))};
    ASSERT_TRUE(exchange.Perform(request, form).Ok());
    const std::string multipart = server.Requests().at(1);
    EXPECT_NE(std::string::npos, multipart.find("Content-Type: multipart/form-data; boundary="));
    EXPECT_NE(std::string::npos, multipart.find("name=\"cookie\"\r\n\r\nC=1;\r\n"));
    EXPECT_NE(std::string::npos, multipart.find("name=\"Filedata\"; filename=\"a.txt\""));
    EXPECT_NE(std::string::npos, multipart.find("\r\n\r\nfile bytes\r\n--"));
    EXPECT_EQ(form.upload.size(), form.uploaded);
    EXPECT_EQ(static_cast<std::int64_t>(multipart.size() - multipart.find("\r\n\r\n") - 4),
              exchange.Transfer(http::Direction::Up).done);
}

TEST(Exchange, RecordedCookiesAreListedByNameAndValue) {
    ScriptedResponder server(
        {Answer(ScriptedResponder::Reply(200, "{}", "Set-Cookie: S=abc; Path=/\r\nSet-Cookie: lang=zh\r\n"))});
    http::Exchange exchange;
    Recorder hooks;
    http::Request request = Get(server);
    request.recordCookies = true;
    ASSERT_TRUE(exchange.Perform(request, hooks).Ok());
    std::vector<http::Cookie> cookies;
    ASSERT_TRUE(exchange.ReceivedCookies(cookies));
    ASSERT_EQ(2u, cookies.size());
    EXPECT_EQ("S", cookies[0].name);
    EXPECT_EQ("abc", cookies[0].value);
    EXPECT_EQ("lang", cookies[1].name);
    EXPECT_EQ("zh", cookies[1].value);
}

TEST(Watchdog, CountsSilenceFromTheLastSignOfLife) {
    std::uint64_t now = 5000;
    http::Watchdog watchdog([&] { return now; });
    watchdog.Touch();
    now += 700;
    EXPECT_EQ(700u, watchdog.SilentMs(now));
    // Counters that stand still are no sign of life; counters that move are.
    EXPECT_FALSE(watchdog.Observe(0, 0));
    EXPECT_EQ(700u, watchdog.SilentMs(now));
    EXPECT_TRUE(watchdog.Observe(0, 10));
    EXPECT_EQ(0u, watchdog.SilentMs(now));
    now += 300;
    EXPECT_FALSE(watchdog.Observe(0, 10));
    EXPECT_EQ(300u, watchdog.SilentMs(now));
    EXPECT_EQ(5700u, watchdog.Last());
    EXPECT_EQ(0u, watchdog.SilentMs(1000));  // a reading older than the last sign of life
}

}  // namespace
