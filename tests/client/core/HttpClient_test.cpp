// The HTTP client and its web calls against the test server.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "client/core/ClientLog.h"
#include "client/core/LocalFileIO.h"
#include "support/ClientServerFixture.h"
#include "support/wait.h"

namespace {

using testserver::Fault;
using testserver::FaultKind;

// A local file read and written with plain stdio: the client's calls only need the file
// interface they declare, not the local side's windowed file layer.
class PlainFileIO final : public CLocalFileIO {
public:
    ~PlainFileIO() override { Close(); }
    bool Open(const std::string& path, int mode, std::int64_t size) override {
        if (file_ != nullptr) return false;
        if (mode != 0 && !std::filesystem::exists(path)) {
            std::FILE* made = std::fopen(path.c_str(), "wb");
            if (made == nullptr) return false;
            std::fclose(made);
            std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
        }
        file_ = std::fopen(path.c_str(), mode == 0 ? "rb" : "r+b");
        return file_ != nullptr;
    }
    bool Close() override {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
        return true;
    }
    std::uint32_t Read(void* buffer, std::uint32_t count) override {
        return file_ ? static_cast<std::uint32_t>(std::fread(buffer, 1, count, file_)) : 0;
    }
    std::uint32_t Write(const void* buffer, std::uint32_t count) override {
        return file_ ? static_cast<std::uint32_t>(std::fwrite(buffer, 1, count, file_)) : 0;
    }
    bool Seek(std::int64_t offset, int origin) override {
        const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
        return file_ && std::fseek(file_, static_cast<long>(offset), whence) == 0;
    }
    std::int64_t GetPosition() override { return file_ ? std::ftell(file_) : 0; }
    std::int64_t GetLength() override {
        if (file_ == nullptr) return 0;
        const long at = std::ftell(file_);
        std::fseek(file_, 0, SEEK_END);
        const long length = std::ftell(file_);
        std::fseek(file_, at, SEEK_SET);
        return length;
    }
    bool SetLength(const std::int64_t*) override { return false; }
    void GetErrorText(std::string&) override {}
    std::uint32_t GetGranularity() override { return 65536; }

private:
    std::FILE* file_ = nullptr;
};

struct PlainFiles {
    CLocalFileIO* CreateFileIO() { return new PlainFileIO; }
    void ReleaseFileIO(CLocalFileIO** io) {
        delete *io;
        *io = nullptr;
    }
};

class HttpClientTest : public clienttest::ServerFixture<PlainFiles> {
protected:
    // The folder's children by name.
    std::map<std::string, CloudNode> List(const std::string& ref) {
        CloudListing listing;
        int error = -1;
        EXPECT_EQ(http->EnumDirectory(ref, 0, 0, listing, &error), 1) << error;
        std::map<std::string, CloudNode> out;
        for (const auto& c : listing.children) out[c.name] = c;
        return out;
    }
};

TEST_F(HttpClientTest, LoginFillsTheUserRecordAndCookies) {
    LoginAlice();
    EXPECT_EQ(http->GetLoginState(), HttpLoggedIn);
    const ServerUserInfo user = http->GetUserInfo();
    EXPECT_EQ(user.userName, "alice");
    EXPECT_EQ(user.homeFolder, Home());
    EXPECT_EQ(user.trashesHome, Trash());
    EXPECT_EQ(user.nodeRefPrefix, "workspace://SpacesStore/");
    EXPECT_EQ(http->GetCookieText().rfind("DRAVSID=", 0), 0u);
    EXPECT_EQ(http->GetCookieText().back(), ';');
    EXPECT_EQ(http->GetScheme(), "http://");
    EXPECT_EQ(http->GetHost(), "127.0.0.1:" + std::to_string(server->Port()));
    EXPECT_EQ(listener.Login(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(listener.Network(), (std::vector<int>{1}));

    // The login request carries no header list of its own; later requests carry it all.
    CloudListing listing;
    int error = -1;
    ASSERT_EQ(http->EnumDirectory(Home(), 0, 0, listing, &error), 1);
    const auto requests = server->Requests("list");
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_EQ(r.Header("Cookie"), http->GetCookieText());
    EXPECT_EQ(r.Header("Host"), http->GetHost());
    EXPECT_EQ(r.Header("Origin"), http->GetHost() + "/dravik");
    EXPECT_EQ(r.Header("X-Requested-With"), "XMLHttpRequest");
    EXPECT_EQ(r.Header("Accept-Encoding"), "");  // no automatic decompression
    EXPECT_EQ(r.Header("Content-Length"), "");
}

TEST_F(HttpClientTest, AddressFormsAreSplitIntoSchemeAuthorityAndPath) {
    const std::string authority = "127.0.0.1:" + std::to_string(server->Port());
    int error = -1;
    ASSERT_EQ(http->Login("alice", "secret", authority, &error), 1);  // no scheme: http
    EXPECT_EQ(http->GetScheme(), "http://");
    EXPECT_EQ(http->GetHost(), authority);
    ASSERT_EQ(http->Login("alice", "secret", "http://" + authority + "//", &error), 1);  // trailing '/' dropped
    EXPECT_EQ(http->GetHost(), authority);
    EXPECT_EQ(http->GetBasePath(), "");

    // A path below the authority goes into the URL, never into the Host header.
    server->ClearRequests();
    EXPECT_EQ(http->Login("alice", "secret", "http://" + authority + "/base/", &error), 0);
    EXPECT_EQ(error, HttpErrorOtherStatus);  // the test server has nothing there
    const auto requests = server->Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().path, "/base/dravik/app/login");
    EXPECT_EQ(requests.back().Header("Host"), authority);
    EXPECT_EQ(http->GetLoginState(), HttpLoggedOut);
}

TEST_F(HttpClientTest, AccountAndPasswordArePercentEncodedAndNeverLogged) {
    const std::string account = "a b%c&d=ü";
    const std::string password = "p w%25&x=#ß";
    server->AddUser(account, password);
    ASSERT_TRUE(SetupLogging(P("log"), "test"));
    int error = -1;
    ASSERT_EQ(http->Login(account, password, server->BaseUrl(), &error), 1) << error;
    const auto requests = server->Requests("login");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].query,
              "user[email]=a%20b%25c%26d%3D%C3%BC&user[pw]=p%20w%2525%26x%3D%23%C3%9F");
    http->Logout();
    EXPECT_EQ(http->Login(account, "wrong " + password, server->BaseUrl(), &error), 0);
    std::ifstream log(P("log/DravikClient.log"));
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("<http> Login, Use HTTP"), std::string::npos);
    EXPECT_EQ(text.str().find("p w%"), std::string::npos);
    EXPECT_EQ(text.str().find("p%20w"), std::string::npos);
    EXPECT_EQ(text.str().find("user[pw]"), std::string::npos);
}

TEST_F(HttpClientTest, FailedLogins) {
    int error = -1;
    // The server answers a refused login with a message that is no user record.
    EXPECT_EQ(http->Login("alice", "wrong", server->BaseUrl(), &error), 0);
    EXPECT_EQ(error, HttpErrorReplyData);
    EXPECT_EQ(http->GetLoginState(), HttpLoggedOut);

    server->InjectFault(Fault{"login", FaultKind::Status, 403});
    EXPECT_EQ(http->Login("alice", "secret", server->BaseUrl(), &error), 0);
    EXPECT_EQ(error, HttpErrorNoPermission);

    const std::string base = server->BaseUrl();
    server->Stop();
    listener.Clear();
    EXPECT_EQ(http->Login("alice", "secret", base, &error), 0);
    EXPECT_EQ(error, HttpErrorTransport);
    EXPECT_EQ(http->GetNetworkState(), 2);
    EXPECT_EQ(listener.Network(), std::vector<int>{2});
}

TEST_F(HttpClientTest, LogoutEndsTheSession) {
    LoginAlice();
    listener.Clear();
    EXPECT_EQ(http->Logout(), 1);
    const auto logouts = server->Requests("logout");
    ASSERT_EQ(logouts.size(), 1u);
    EXPECT_EQ(logouts[0].status, 200);
    EXPECT_EQ(http->GetLoginState(), HttpLoggedOut);
    EXPECT_EQ(http->GetCookieText(), "");
    EXPECT_EQ(http->GetHost(), "");
    EXPECT_EQ(http->GetUserInfo().userName, "alice");  // kept after logout
    EXPECT_EQ(listener.Login(), std::vector<int>{0});

    server->ClearRequests();
    CloudListing listing;
    int error = 55;
    EXPECT_EQ(http->EnumDirectory(Home(), 0, 0, listing, &error), 0);
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(server->Requests().empty());
    EXPECT_EQ(http->Logout(), 1);  // a second logout sends nothing
    EXPECT_TRUE(server->Requests().empty());
}

TEST_F(HttpClientTest, ListingsPageByPage) {
    for (int i = 0; i < 5; ++i) server->PutFile("alice", "/f" + std::to_string(i) + ".txt", "x");
    server->MakeFolder("alice", "/sub");
    LoginAlice();

    CloudListing all;
    int error = -1;
    ASSERT_EQ(http->EnumDirectory(Home(), 0, 0, all, &error), 1);
    EXPECT_EQ(all.children.size(), 6u);
    EXPECT_EQ(all.totalRecords, 6);
    EXPECT_EQ(all.hasMoreItems, 0);
    EXPECT_EQ(all.node.nodeRef, Home());

    std::vector<std::string> names;
    for (int page = 1; page <= 3; ++page) {
        CloudListing listing;
        ASSERT_EQ(http->EnumDirectory(Home(), 2, page, listing, &error), 1);
        ASSERT_EQ(listing.children.size(), 2u);
        EXPECT_EQ(listing.hasMoreItems, page < 3 ? 1 : 0);
        for (const auto& c : listing.children) names.push_back(c.name);
    }
    EXPECT_EQ(names.size(), 6u);
    const auto requests = server->Requests("list");
    ASSERT_EQ(requests.size(), 4u);
    const std::string id = Home().substr(std::string("workspace://SpacesStore/").size());
    EXPECT_EQ(requests[0].path, "/dravik/appw/new/list/" + id);
    EXPECT_EQ(requests[0].query, "");
    EXPECT_EQ(requests[1].query, "size=2&pos=1");
    EXPECT_EQ(requests[3].query, "size=2&pos=3");

    // A folder below, and the recycle bin.
    const auto children = List(Home());
    ASSERT_EQ(children.count("sub"), 1u);
    CloudListing sub;
    ASSERT_EQ(http->EnumDirectory(children.at("sub").nodeRef, 0, 0, sub, &error), 1);
    EXPECT_EQ(sub.node.name, "sub");
    EXPECT_TRUE(sub.children.empty());
    ASSERT_FALSE(sub.parents.empty());
    CloudListing trash;
    EXPECT_EQ(http->EnumDirectory(Trash(), 0, 0, trash, &error), 1);

    // An id that is not below the prefix goes into the path as it is (encoded).
    EXPECT_EQ(http->EnumDirectory("no such id", 0, 0, trash, &error), 0);
    EXPECT_NE(error, 0);
    EXPECT_EQ(server->Requests("list").back().path, "/dravik/appw/new/list/no%20such%20id");
}

TEST_F(HttpClientTest, GroupRootsOfBothKinds) {
    server->AddGroup("Sales", false, {"alice"});
    server->AddGroup("Everyone", true, {"alice"});
    LoginAlice();
    CloudListing groups;
    int error = -1;
    ASSERT_EQ(http->EnumGroupRoots(1, groups, &error), 1) << error;
    bool sales = false;
    for (const auto& g : groups.children) sales = sales || g.name == "Sales";
    EXPECT_TRUE(sales);
    CloudListing publics;
    ASSERT_EQ(http->EnumGroupRoots(2, publics, &error), 1);
    bool everyone = false;
    for (const auto& g : publics.children) everyone = everyone || g.name == "Everyone";
    EXPECT_TRUE(everyone);
    const auto requests = server->Requests("collaborateManage");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].query, "isApp2=true&size=-1");
    EXPECT_EQ(requests[1].query, "public=true&isApp2=true&size=-1");
    server->ClearRequests();
    EXPECT_EQ(http->EnumGroupRoots(3, publics, &error), 0);
    EXPECT_TRUE(server->Requests().empty());
}

TEST_F(HttpClientTest, CreateRenameDeleteRestore) {
    LoginAlice();
    std::vector<CloudItem> created;
    int error = -1;
    ASSERT_EQ(http->CreateMultiLayers(Home(), "a/b/c", created, &error), 1) << error;
    ASSERT_EQ(created.size(), 3u);
    EXPECT_EQ(created[0].name, "a");
    EXPECT_EQ(created[1].parentRef, created[0].nodeRef);
    EXPECT_EQ(created[2].name, "c");
    EXPECT_TRUE(server->Find("alice", "/a/b/c").has_value());
    EXPECT_EQ(server->Requests("appcreateFolder")[0].Header("Content-Type"), "application/json");

    const std::string fileRef = server->PutFile("alice", "/a/old name.txt", "content");
    CloudItem renamed;
    ASSERT_EQ(http->Rename(fileRef, "new \"name\" 名.txt", renamed, &error), 1) << error;
    EXPECT_EQ(renamed.name, "new \"name\" 名.txt");
    EXPECT_EQ(renamed.nodeRef, fileRef);
    EXPECT_TRUE(server->Find("alice", "/a/new \"name\" 名.txt").has_value());

    ASSERT_EQ(http->Delete(created[0].nodeRef, {created[2].nodeRef, fileRef}, &error), 1) << error;
    EXPECT_FALSE(server->Find("alice", "/a/b/c").has_value());
    EXPECT_EQ(server->Trash("alice").size() >= 2, true);
    EXPECT_EQ(server->Requests("delete")[0].body,
              "{\"nodeRef\":[\"" + created[2].nodeRef + "\",\"" + fileRef + "\"],\"parentId\":\"" +
                  created[0].nodeRef + "\"}");

    ASSERT_EQ(http->Restore({fileRef}, &error), 1) << error;
    EXPECT_TRUE(server->Find("alice", "/a/new \"name\" 名.txt").has_value());
}

TEST_F(HttpClientTest, DeleteAndRestoreNeedTheServersConfirmation) {
    LoginAlice();
    const std::string ref = server->PutFile("alice", "/x.txt", "x");
    int error = -1;
    // A reply without the word: nothing confirmed.
    server->InjectFault(Fault{"delete", FaultKind::Status, 200});
    EXPECT_EQ(http->Delete(Home(), {ref}, &error), 0);
    EXPECT_EQ(error, HttpErrorDeleteNotConfirmed);
    server->InjectFault(Fault{"untrashes", FaultKind::Status, 200});
    EXPECT_EQ(http->Restore({ref}, &error), 0);
    EXPECT_EQ(error, HttpErrorRestoreNotConfirmed);
    server->InjectFault(Fault{"delete", FaultKind::InvalidJson});
    EXPECT_EQ(http->Delete(Home(), {ref}, &error), 0);
    EXPECT_EQ(error, HttpErrorReplyData);
}

TEST_F(HttpClientTest, StatusesAndTransportFailuresMapToErrorCodes) {
    LoginAlice();
    struct Case {
        int status;
        int code;
    };
    const Case cases[] = {{401, 2}, {403, 6}, {409, 4}, {413, 5}, {400, 11}, {402, 11}, {404, 11}, {500, 11}, {503, 11}};
    for (const Case& c : cases) {
        server->InjectFault(Fault{"list", FaultKind::Status, c.status});
        CloudListing listing;
        int error = -1;
        EXPECT_EQ(http->EnumDirectory(Home(), 0, 0, listing, &error), 0);
        EXPECT_EQ(error, c.code) << c.status;
    }
    int error = -1;
    CloudListing listing;
    server->InjectFault(Fault{"list", FaultKind::Drop});
    listener.Clear();
    EXPECT_EQ(http->EnumDirectory(Home(), 0, 0, listing, &error), 0);
    EXPECT_EQ(error, HttpErrorTransport);
    EXPECT_EQ(listener.Network(), std::vector<int>{2});
    server->InjectFault(Fault{"list", FaultKind::InvalidJson});
    EXPECT_EQ(http->EnumDirectory(Home(), 0, 0, listing, &error), 0);
    EXPECT_EQ(error, HttpErrorReplyData);
    // The code belongs to its call: the next good call resets it.
    EXPECT_EQ(http->EnumDirectory(Home(), 0, 0, listing, &error), 1);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(http->GetNetworkState(), 1);
}

TEST_F(HttpClientTest, AStalledServerEndsTheCallByItsLimits) {
    LoginAlice();
    HttpLimits limits = http->GetLimits();
    limits.lowSpeedTime = std::chrono::seconds(1);
    http->SetLimits(limits);
    Fault stall{"list", FaultKind::Delay};
    stall.delay = std::chrono::seconds(60);
    server->InjectFault(stall);
    CloudListing listing;
    int error = -1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(http->EnumDirectory(Home(), 0, 0, listing, &error), 0);
    EXPECT_EQ(error, HttpErrorTransport);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(HttpClientTest, TheWatchdogCancelsOnlyRequestsSilentForLongerThanItsLimit) {
    std::atomic<std::uint64_t> now{1000000};
    http->SetClock([&] { return now.load(); });
    LoginAlice();
    Fault stall{"list", FaultKind::Delay};
    stall.delay = std::chrono::seconds(60);
    server->InjectFault(stall);

    std::atomic<int> result{-1};
    std::atomic<int> error{-1};
    std::thread call([&] {
        CloudListing listing;
        int e = -1;
        result = http->EnumDirectory(Home(), 0, 0, listing, &e);
        error = e;
    });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return server->Requests("list").size() == 1; }));
    listener.Clear();
    now += 300999;  // exactly 300 whole seconds: not yet
    http->CheckTimeout();
    EXPECT_TRUE(listener.Network().empty());
    EXPECT_EQ(result.load(), -1);
    now += 1;  // 301 seconds
    http->CheckTimeout();
    call.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(error.load(), HttpErrorTransport);
    EXPECT_EQ(listener.Network().front(), 2);
    http->SetClock(nullptr);  // `now` ends with this test
}

TEST_F(HttpClientTest, UploadsStreamTheFileWithProgress) {
    LoginAlice();
    struct Case {
        const char* name;
        std::size_t size;
    };
    const Case cases[] = {{"empty.bin", 0}, {"small.txt", 11}, {"big.bin", 5 * 1024 * 1024 + 17}};
    int id = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string content(c.size, '\0');
        for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 + 7);
        testsupport::WriteFile(box.Root() / c.name, content);
        CLocalFileIO* io = files.CreateFileIO();
        ASSERT_TRUE(io->Open(P(c.name), 0, 0));
        listener.Clear();
        CloudItem reply;
        int error = -1;
        ASSERT_EQ(http->Upload(id, c.name, static_cast<std::int64_t>(c.size), io, Home(), "", reply, &error), 1)
            << error;
        io->Close();
        files.ReleaseFileIO(&io);
        EXPECT_EQ(reply.name, c.name);
        const auto stored = server->Find("alice", std::string("/") + c.name, true);
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->content, content);
        const auto progress = listener.Progress();
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back().id, id);
        EXPECT_EQ(progress.back().direction, 1);
        EXPECT_GE(progress.back().done, static_cast<double>(c.size));
        EXPECT_EQ(progress.back().done, progress.back().total);
        // Reports are throttled: far fewer than the write calls of a 5 MB body.
        EXPECT_LT(progress.size(), 50u);
        const auto upload = server->Requests("upload").back();
        for (const auto& part : upload.parts) EXPECT_NE(part.name, "updatenoderef");
        ++id;
    }

    // Replacing the content of an existing file names it in "updatenoderef".
    const std::string ref = server->Find("alice", "/small.txt")->ref;
    testsupport::WriteFile(box.Root() / "new.txt", "replacement");
    CLocalFileIO* io = files.CreateFileIO();
    ASSERT_TRUE(io->Open(P("new.txt"), 0, 0));
    CloudItem reply;
    int error = -1;
    ASSERT_EQ(http->Upload(99, "small.txt", 11, io, Home(), ref, reply, &error), 1) << error;
    files.ReleaseFileIO(&io);
    EXPECT_EQ(server->Find("alice", "/small.txt", true)->content, "replacement");
    bool named = false;
    const auto replaced = server->Requests("upload").back();
    for (const auto& part : replaced.parts) {
        if (part.name == "updatenoderef") named = part.content == ref;
    }
    EXPECT_TRUE(named);
}

TEST_F(HttpClientTest, UploadFailures) {
    LoginAlice();
    testsupport::WriteFile(box.Root() / "f.txt", "0123456789");
    auto upload = [&](std::int64_t length, int* error) {
        CLocalFileIO* io = files.CreateFileIO();
        EXPECT_TRUE(io->Open(P("f.txt"), 0, 0));
        CloudItem reply;
        const int r = http->Upload(1, "f.txt", length, io, Home(), "", reply, error);
        files.ReleaseFileIO(&io);
        return r;
    };
    int error = -1;
    server->InjectFault(Fault{"upload", FaultKind::Status, 413});
    EXPECT_EQ(upload(10, &error), 0);
    EXPECT_EQ(error, HttpErrorQuota);
    // A file shorter than announced never uploads as complete.
    EXPECT_EQ(upload(20, &error), 0);
    EXPECT_EQ(error, HttpErrorTransport);
    EXPECT_FALSE(server->Find("alice", "/f.txt").has_value());
}

TEST_F(HttpClientTest, LogoutStopsARunningTransfer) {
    LoginAlice();
    const std::string ref = server->PutFile("alice", "/big.bin", std::string(1 << 20, 'b'));
    Fault stall{"content", FaultKind::Delay};
    stall.delay = std::chrono::seconds(60);
    server->InjectFault(stall);
    std::atomic<int> result{-1}, error{-1};
    std::thread call([&] {
        CLocalFileIO* io = files.CreateFileIO();
        io->Open(P("target.bin"), 1, 1 << 20);
        int e = -1;
        result = http->Download(5, 1 << 20, io, ref, &e);
        error = e;
        files.ReleaseFileIO(&io);
    });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return server->Requests("content").size() == 1; }));
    http->Logout();
    call.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(error.load(), HttpErrorTransport);
}

}  // namespace
