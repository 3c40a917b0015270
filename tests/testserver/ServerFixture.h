#pragma once
// The test server's own tests: the running in-process test server of tests/support with two
// accounts, a real HTTP client to talk to it the way the two programs do, raw exchanges
// for what a real client hides, and a fixture with a session and one file.
#include <gtest/gtest.h>
#include <httplib.h>
#include <rapidjson/document.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <crypto++/filters.h>
#include <crypto++/hex.h>
#include <crypto++/md5.h>

#include "support/sandbox.h"
#include "support/server.h"
#include "support/wait.h"

namespace tstest {

inline std::string Md5Upper(const std::string& bytes) {
    CryptoPP::Weak::MD5 md5;
    CryptoPP::byte digest[CryptoPP::Weak::MD5::DIGESTSIZE];
    md5.CalculateDigest(digest, reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size());
    std::string hex;
    CryptoPP::HexEncoder encoder(new CryptoPP::StringSink(hex), true);
    encoder.Put(digest, sizeof digest);
    encoder.MessageEnd();
    return hex;
}

inline rapidjson::Document ParseJson(const std::string& text) {
    rapidjson::Document doc;
    doc.Parse(text.data(), text.size());
    EXPECT_FALSE(doc.HasParseError()) << text;
    return doc;
}

inline std::string Str(const rapidjson::Value& v, const char* key) {
    EXPECT_TRUE(v.IsObject() && v.HasMember(key) && v[key].IsString()) << "member " << key;
    if (!v.IsObject() || !v.HasMember(key) || !v[key].IsString()) return {};
    return v[key].GetString();
}

// Sends raw bytes on a new connection and reads until the server closes it.
inline std::string RawExchange(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    EXPECT_EQ(static_cast<ssize_t>(request.size()), send(fd, request.data(), request.size(), MSG_NOSIGNAL));
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return received;
}

// A raw reply split at the end of its headers.
struct RawReply {
    std::string head, body;
    explicit RawReply(const std::string& raw) {
        const std::size_t end = raw.find("\r\n\r\n");
        if (end == std::string::npos) {
            head = raw;
        } else {
            head = raw.substr(0, end);
            body = raw.substr(end + 4);
        }
    }
};

class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = std::make_unique<testsupport::RunningServer>(
            sandbox_, testsupport::ServerAccounts{{"alice", "secret"}, {"bob", "hunter2"}});
        http_ = std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
        http_->set_read_timeout(30, 0);
        // Every request carries the control token, as a test driving the control interface does.
        http_->set_default_headers({{testserver::kControlTokenHeader, server_->ControlToken()}});
    }

    void TearDown() override {
        http_.reset();
        server_.reset();
    }

    // Logs in and returns the cookie text as both programs send it back ("DRAVSID=...;").
    std::string Login(const std::string& account, const std::string& password) {
        httplib::Params params{{"user[email]", account}, {"user[pw]", password}};
        auto res = http_->Get("/dravik/app/login", params, httplib::Headers{});
        EXPECT_TRUE(res);
        if (!res) return {};
        const std::string setCookie = res->get_header_value("Set-Cookie");
        return setCookie.substr(0, setCookie.find(';')) + ";";
    }

    httplib::Result Get(const std::string& path, const std::string& cookie) {
        return http_->Get(path, httplib::Headers{{"Cookie", cookie}});
    }

    httplib::Result PostJson(const std::string& path, const std::string& cookie, const std::string& body) {
        return http_->Post(path, httplib::Headers{{"Cookie", cookie}}, body, "application/json");
    }

    // The JSON body of a reply that must have succeeded.
    rapidjson::Document Ok(const httplib::Result& res) {
        EXPECT_TRUE(res);
        if (!res) return rapidjson::Document();
        EXPECT_EQ(200, res->status) << res->body;
        return ParseJson(res->body);
    }

    static std::string Id(const std::string& ref) { return ref.substr(ref.find_last_of('/') + 1); }
    static std::string PathRef(const std::string& ref) {
        return "workspace/SpacesStore/" + Id(ref);
    }

    testsupport::Sandbox sandbox_;
    std::unique_ptr<testsupport::RunningServer> server_;
    std::unique_ptr<httplib::Client> http_;
};

// Logged in as "alice", whose home holds "/data.bin" (1000 bytes), with faults made to
// order.
class LoggedInFixture : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        cookie_ = Login("alice", "secret");
        content_.resize(1000);
        for (std::size_t i = 0; i < content_.size(); ++i) content_[i] = static_cast<char>('a' + i % 26);
        fileRef_ = server_->PutFile("alice", "/data.bin", content_);
    }

    static testserver::Fault Make(const std::string& route, testserver::FaultKind kind) {
        testserver::Fault fault;
        fault.route = route;
        fault.kind = kind;
        return fault;
    }

    void Inject(const std::string& route, testserver::FaultKind kind, std::int64_t bytes = 0, int count = 1) {
        testserver::Fault fault = Make(route, kind);
        fault.bytes = bytes;
        fault.count = count;
        server_->InjectFault(fault);
    }

    std::string cookie_, content_, fileRef_;
};

}  // namespace tstest
