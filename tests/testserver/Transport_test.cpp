// The HTTP side every route shares: fault injection and the request log.
#include <fcntl.h>

#include "ServerFixture.h"

namespace tstest {
namespace {

using testserver::Fault;
using testserver::FaultKind;

class FaultsTest : public LoggedInFixture {
protected:
    // The download of data.bin on a connection of its own, read to its end.
    RawReply RawDownload() {
        return RawReply(RawExchange(server_->Port(), "GET /dravik/api/node/" + PathRef(fileRef_) +
                                                         "/content HTTP/1.1\r\nHost: x\r\nCookie: " + cookie_ +
                                                         "\r\nConnection: close\r\n\r\n"));
    }

    std::string RawDelete(const std::string& ref) {
        const std::string body = R"({"nodeRef":[")" + ref + R"("],"parentId":"p"})";
        return RawExchange(server_->Port(), "POST /dravik/file/delete HTTP/1.1\r\nHost: x\r\nCookie:" + cookie_ +
                                                "\r\nContent-Type:application/json\r\nContent-Length:" +
                                                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }
};

TEST_F(FaultsTest, StatusFaultAnswersItsStatusWithoutCarryingTheCallOut) {
    Fault fault = Make("delete", FaultKind::Status);
    fault.status = 502;
    server_->InjectFault(fault);
    const std::string body = R"({"nodeRef":[")" + fileRef_ + R"("],"parentId":"p"})";
    auto first = PostJson("/dravik/file/delete", cookie_, body);
    ASSERT_TRUE(first);
    EXPECT_EQ(502, first->status);
    EXPECT_TRUE(server_->Find("alice", "/data.bin"));
    // Count 1: the next request is served normally.
    EXPECT_EQ(200, PostJson("/dravik/file/delete", cookie_, body)->status);
    EXPECT_FALSE(server_->Find("alice", "/data.bin"));
}

TEST_F(FaultsTest, FaultsApplyToTheirRouteForTheirCountInOrder) {
    Fault status = Make("allChildNodes", FaultKind::Status);
    status.status = 503;
    status.count = 2;
    server_->InjectFault(status);
    status.status = 500;
    status.count = testserver::kEveryRequest;
    server_->InjectFault(status);
    Fault any = Make("*", FaultKind::Status);
    any.status = 418;
    server_->InjectFault(any);

    EXPECT_EQ(418, Get("/dravik/appw/new/list/x", cookie_)->status);  // "*" matches another route
    EXPECT_EQ(404, Get("/dravik/appw/new/list/x", cookie_)->status);
    EXPECT_EQ(503, Get("/dravik/allChildNodes", cookie_)->status);
    EXPECT_EQ(503, Get("/dravik/allChildNodes", cookie_)->status);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(500, Get("/dravik/allChildNodes", cookie_)->status);
    server_->ClearFaults();
    EXPECT_EQ(200, Get("/dravik/allChildNodes", cookie_)->status);
}

TEST_F(FaultsTest, DelayHoldsTheAnswerBack) {
    Fault fault = Make("allChildNodes", FaultKind::Delay);
    fault.delay = std::chrono::milliseconds(300);
    server_->InjectFault(fault);
    const auto start = std::chrono::steady_clock::now();
    auto res = Get("/dravik/allChildNodes", cookie_);
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(FaultsTest, DropClosesWithoutAnyAnswer) {
    Inject("delete", FaultKind::Drop);
    EXPECT_EQ("", RawDelete(fileRef_));
    EXPECT_TRUE(server_->Find("alice", "/data.bin"));  // not carried out

    Inject("delete", FaultKind::DropAfterHandling);
    EXPECT_EQ("", RawDelete(fileRef_));
    EXPECT_FALSE(server_->Find("alice", "/data.bin"));  // carried out, answer lost

    const auto logged = server_->Requests("delete");
    ASSERT_EQ(2u, logged.size());
    EXPECT_EQ(0, logged[0].status);
    EXPECT_EQ(0, logged[1].status);
}

// 127.0.0.<host>:<port>.
sockaddr_in Loopback(int host, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl((127u << 24) | static_cast<uint32_t>(host));
    return address;
}

int BoundSocket(int host, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(host, port);
    EXPECT_EQ(0, bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address)) << host << ":" << port;
    return fd;
}

int PortOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

bool Connect(int fd, int host, int port) {
    const sockaddr_in address = Loopback(host, port);
    return connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// One message from `from` arrives whole at `to`.
bool Carries(int from, int to, const std::string& message) {
    if (send(from, message.data(), message.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(message.size())) return false;
    std::string received;
    char buffer[64];
    while (received.size() < message.size()) {
        pollfd p{to, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) return false;
        const ssize_t n = recv(to, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    return received == message;
}

TEST_F(FaultsTest, DropCutsOnlyTheServersOwnConnection) {
    // Another connection of this process with the same port numbers as the one to drop
    // (local port = the server's, peer port = the client's), on other loopback addresses:
    // the fault must leave it alone. It takes descriptor 0, so that anything looking
    // through the process's descriptors meets it first.
    const int client = BoundSocket(1, 0);
    const int clientPort = PortOf(client);
    const int listener = BoundSocket(2, clientPort);
    ASSERT_EQ(0, listen(listener, 1));
    const int standardInput = fcntl(0, F_DUPFD_CLOEXEC, 3);
    ASSERT_GE(standardInput, 0);
    const int bound = BoundSocket(3, server_->Port());
    ASSERT_EQ(0, dup2(bound, 0));
    close(bound);
    const int decoy = 0;
    ASSERT_TRUE(Connect(decoy, 2, clientPort));
    const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(peer, 0);

    Inject("delete", FaultKind::Drop);
    ASSERT_TRUE(Connect(client, 1, server_->Port()));
    const std::string body = R"({"nodeRef":[")" + fileRef_ + R"("],"parentId":"p"})";
    const std::string request = "POST /dravik/file/delete HTTP/1.1\r\nHost: x\r\nCookie:" + cookie_ +
                                "\r\nContent-Type:application/json\r\nContent-Length:" + std::to_string(body.size()) +
                                "\r\nConnection: close\r\n\r\n" + body;
    ASSERT_EQ(static_cast<ssize_t>(request.size()), send(client, request.data(), request.size(), MSG_NOSIGNAL));
    char byte;
    pollfd p{client, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 30000));
    EXPECT_EQ(0, recv(client, &byte, 1, 0));  // closed without a single byte of answer
    EXPECT_EQ(0, server_->Requests("delete").at(0).status);

    EXPECT_TRUE(Carries(decoy, peer, "ping"));
    EXPECT_TRUE(Carries(peer, decoy, "pong"));
    dup2(standardInput, 0);
    for (int fd : {client, listener, peer, standardInput}) close(fd);
}

TEST_F(FaultsTest, CutBodyAnnouncesTheFullLengthButSendsOnlyThePrefix) {
    Inject("content", FaultKind::CutBody, 100);
    RawReply cut = RawDownload();
    EXPECT_NE(std::string::npos, cut.head.find("Content-Length: 1000"));
    EXPECT_EQ(content_.substr(0, 100), cut.body);

    Inject("content", FaultKind::CutBody, 0);
    EXPECT_EQ(0u, RawDownload().body.size());

    Inject("content", FaultKind::CutBody, 100);
    auto viaClient = Get("/dravik/api/node/" + PathRef(fileRef_) + "/content", cookie_);
    EXPECT_FALSE(viaClient);  // a real client sees a broken transfer

    EXPECT_EQ(content_, RawDownload().body);  // the faults are used up
}

TEST_F(FaultsTest, WrongLengthMisstatesContentLength) {
    Inject("content", FaultKind::WrongLength, 50);
    RawReply longer = RawDownload();
    EXPECT_NE(std::string::npos, longer.head.find("Content-Length: 1050"));
    EXPECT_EQ(content_, longer.body);  // then the connection closes short of the promise

    Inject("content", FaultKind::WrongLength, -10);
    RawReply shorter = RawDownload();
    EXPECT_NE(std::string::npos, shorter.head.find("Content-Length: 990"));
    EXPECT_EQ(content_, shorter.body);  // ten bytes beyond the announced end

    // On a JSON reply too.
    Inject("allChildNodes", FaultKind::WrongLength, 7);
    auto json = Get("/dravik/allChildNodes", cookie_);
    EXPECT_FALSE(json);
}

TEST_F(FaultsTest, InvalidJsonAnswersGarbageAfterCarryingTheCallOut) {
    Inject("createFolder", FaultKind::InvalidJson);
    const std::string home = server_->Account("alice").homeRef;
    auto res = PostJson("/dravik/file/createFolder", cookie_,
                        R"({"alf_destination":")" + home + R"(","prop_cm_name":"made"})");
    ASSERT_TRUE(res);
    EXPECT_EQ(200, res->status);
    rapidjson::Document doc;
    doc.Parse(res->body.c_str());
    EXPECT_TRUE(doc.HasParseError());
    EXPECT_TRUE(server_->Find("alice", "/made"));
}

TEST_F(FaultsTest, PagedFirstReplyShortensAnUnpagedListing) {
    for (int i = 0; i < 5; ++i) server_->PutFile("alice", "/p/f" + std::to_string(i), "x");
    const std::string folder = Id(server_->Find("alice", "/p")->ref);
    Fault fault = Make("list", FaultKind::PagedFirstReply);
    fault.pageSize = 2;
    server_->InjectFault(fault);
    auto first = Ok(Get("/dravik/appw/new/list/" + folder, cookie_));
    EXPECT_EQ(2u, first["items"].Size());
    EXPECT_TRUE(first["hasMoreItems"].GetBool());
    EXPECT_EQ(5, first["totalRecords"].GetInt());
    auto second = Ok(Get("/dravik/appw/new/list/" + folder, cookie_));
    EXPECT_EQ(5u, second["items"].Size());
    EXPECT_FALSE(second["hasMoreItems"].GetBool());
}

TEST_F(FaultsTest, RequestLogKeepsWhatWasSent) {
    server_->ClearRequests();
    const std::string body = R"({"prop_cm_name":"renamed.bin"})";
    PostJson("/dravik/file/change/" + PathRef(fileRef_), cookie_, body);
    http_->Get("/dravik/app/login?user[email]=alice&user[pw]=secret");
    http_->Get("/no/such/call");
    const std::string boundary = "------------------ABCDEF012345";
    const std::string form = "--" + boundary +
                             "\r\nContent-Disposition: form-data; name=\"destination\"\r\n\r\n" +
                             server_->Account("alice").homeRef + "\r\n--" + boundary +
                             "\r\nContent-Disposition: form-data; name=\"Filedata\"; filename=\"/bin.dat\"\r\n"
                             "Content-Type: application/octet-stream\r\n\r\n" +
                             std::string("\0\xFF", 2) + "\r\n--" + boundary + "--\r\n";
    http_->Post("/upload", httplib::Headers{{"Cookie", cookie_}}, form, "multipart/form-data; boundary=" + boundary);
    http_->Get("/__test/requests");  // the control interface is not logged

    const auto log = server_->Requests();
    ASSERT_EQ(4u, log.size());
    EXPECT_EQ("change", log[0].route);
    EXPECT_EQ("POST", log[0].method);
    EXPECT_EQ("/dravik/file/change/" + PathRef(fileRef_), log[0].path);
    EXPECT_EQ(body, log[0].body);
    EXPECT_EQ(cookie_, log[0].Header("cookie"));
    EXPECT_EQ(200, log[0].status);
    EXPECT_EQ("login", log[1].route);
    EXPECT_EQ("/dravik/app/login", log[1].path);
    EXPECT_EQ("user[email]=alice&user[pw]=secret", log[1].query);
    EXPECT_EQ("unknown", log[2].route);
    EXPECT_EQ(404, log[2].status);
    EXPECT_EQ("upload", log[3].route);
    EXPECT_EQ("", log[3].body);
    ASSERT_EQ(2u, log[3].parts.size());
    const auto file = std::find_if(log[3].parts.begin(), log[3].parts.end(),
                                   [](const testserver::LoggedPart& p) { return p.name == "Filedata"; });
    ASSERT_NE(log[3].parts.end(), file);
    EXPECT_EQ("/bin.dat", file->filename);
    EXPECT_EQ(std::string("\0\xFF", 2), file->content);
    EXPECT_LT(log[0].seq, log[1].seq);
}

}  // namespace
}  // namespace tstest
