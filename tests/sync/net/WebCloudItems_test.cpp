// Item operations against the test server, and the exact bytes and reply tests of the
// web API against a scripted responder.
#include <thread>
#include <rapidjson/document.h>

#include "support/responder.h"
#include "WebCloudFixture.h"

namespace {

using nettest::Logged;
using testsupport::ScriptedResponder;
using testsupport::ScriptStep;
using nettest::WebCloudTest;
using testserver::Fault;
using testserver::FaultKind;

constexpr const char* kMozilla =
    "User-Agent:Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.22 (KHTML, like Gecko) Chrome/25.0.1364.97 "
    "Safari/537.22\r\n";

// ---- against the test server ----------------------------------------------------------------

TEST_F(WebCloudTest, ItemOperationsChangeTheServerTree) {
    server.PutFile("alice", "/a.txt", "a");
    server.PutFile("alice", "/b.txt", "b");
    Login();
    const auto ref = [&](const std::string& path) {
        const auto entry = server.Find("alice", path);
        return entry ? entry->ref : std::string("<missing>");
    };
    SyncOperationSlot operation;
    ASSERT_EQ(1, cloud.iCreateFolder(&checkpoint, &operation, Home(), "\\docs"));
    const std::string docs = cloud.CreatedNodeRef();
    EXPECT_EQ(ref("/docs"), docs);
    EXPECT_EQ(1u, operation.Snapshot().state);

    ASSERT_EQ(1, cloud.iCopy(&checkpoint, nullptr, Home(), ref("/a.txt"), docs));
    EXPECT_EQ(ref("/docs/a.txt"), cloud.ResultNodeRef());
    EXPECT_TRUE(server.Find("alice", "/a.txt").has_value());

    ASSERT_EQ(1, cloud.iMove(&checkpoint, nullptr, Home(), ref("/b.txt"), docs));
    EXPECT_EQ(ref("/docs/b.txt"), cloud.ResultNodeRef());
    EXPECT_FALSE(server.Find("alice", "/b.txt").has_value());

    ASSERT_EQ(1, cloud.iRename(&checkpoint, nullptr, ref("/docs/b.txt"), "c.txt"));
    EXPECT_EQ("", cloud.ResultNodeRef());
    EXPECT_TRUE(server.Find("alice", "/docs/c.txt").has_value());

    ASSERT_EQ(1, cloud.iDelete(&checkpoint, nullptr, docs, ref("/docs/c.txt")));
    EXPECT_FALSE(server.Find("alice", "/docs/c.txt").has_value());
    EXPECT_EQ(1u, server.Trash("alice").size());

    const auto copies = server.Requests("copy");
    ASSERT_EQ(1u, copies.size());
    EXPECT_EQ("/dravik/file/copy/workspace/" + docs.substr(std::string("workspace://").size()), copies[0].path);
}

TEST_F(WebCloudTest, ADeleteRefusedWith400CountsAsDone) {
    server.PutFile("alice", "/a.txt", "a");
    Login();
    const std::string a = server.Find("alice", "/a.txt")->ref;
    server.InjectFault(Fault{"delete", FaultKind::Status, 400});
    EXPECT_EQ(1, cloud.iDelete(&checkpoint, nullptr, Home(), a));
    EXPECT_EQ(400u, cloud.LastStatus());
    server.InjectFault(Fault{"delete", FaultKind::Status, 404});
    EXPECT_EQ(0, cloud.iDelete(&checkpoint, nullptr, Home(), a));
    EXPECT_EQ(404u, cloud.LastStatus());
}

TEST_F(WebCloudTest, AnOperationCarriedOutWithoutAReplyIsNotRepeated) {
    server.PutFile("alice", "/a.txt", "a");
    Login();
    const std::string a = server.Find("alice", "/a.txt")->ref;
    Fault drop{"copy", FaultKind::DropAfterHandling};
    drop.count = testserver::kEveryRequest;
    server.InjectFault(drop);
    EXPECT_EQ(0, cloud.iCopy(&checkpoint, nullptr, Home(), a, Home()));
    EXPECT_EQ(httperr::kConnectionError, cloud.LastStatus());
    EXPECT_EQ(1u, server.Requests("copy").size());
}

TEST_F(WebCloudTest, ReferencesWithoutSchemeAreRefusedWithoutARequest) {
    Login();
    EXPECT_EQ(0, cloud.iCopy(&checkpoint, nullptr, Home(), Home(), "SpacesStore/x"));
    EXPECT_EQ(0, cloud.iMove(&checkpoint, nullptr, Home(), Home(), "SpacesStore/x"));
    EXPECT_EQ(0, cloud.iRename(&checkpoint, nullptr, "SpacesStore/x", "n"));
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(WebCloudTest, BodiesAreValidJsonWhateverTheNames) {
    Login();
    const std::string name = "say \"hi\"\tnow";
    cloud.iCreateFolder(&checkpoint, nullptr, Home(), name);
    cloud.iRename(&checkpoint, nullptr, Home(), name);
    for (const char* route : {"createFolder", "change"}) {
        const auto requests = server.Requests(route);
        ASSERT_EQ(1u, requests.size()) << route;
        rapidjson::Document doc;
        doc.Parse(requests[0].body.c_str());
        ASSERT_FALSE(doc.HasParseError()) << requests[0].body;
        EXPECT_EQ(name, std::string(doc["prop_cm_name"].GetString())) << route;
    }
}

// ---- exact bytes, against a scripted responder ---------------------------------------------

ScriptStep Answer(const std::string& reply) {
    ScriptStep step;
    step.reply = reply;
    return step;
}

const std::string kLoginReply = ScriptedResponder::Reply(
    200, R"({"homeFolder":"workspace://SpacesStore/home"})", "Set-Cookie: DRAVSID=tok; Path=/; HttpOnly\r\n");

class WireTest : public ::testing::Test {
protected:
    // A fresh web-API object, logged in at the responder (its first step).
    void Connect(const ScriptedResponder& server) {
        cloudObject = std::make_unique<CWebCloud>(&waiter);
        CWebCloud& cloud = *cloudObject;
        host = "127.0.0.1:" + std::to_string(server.Port());
        base = "http://" + host + "/dravik";
        ASSERT_TRUE(cloud.SetServerAddress(host + "/dravik"));
        cloud.SetSyncFolder(plat::ToUtf16(syncDir.string()));
        ASSERT_EQ(1, cloud.iLogin(&checkpoint, u"alice", u"secret"));
        ASSERT_EQ("DRAVSID=tok;", cloud.LoginCookie());
    }
    CWebCloud& Cloud() { return *cloudObject; }
    std::string JsonHead(const std::string& path, const char* accept, std::size_t length) const {
        return "POST " + path + " HTTP/1.1\r\nHost:" + host + "\r\nAccept:" + accept +
               "\r\nAccept-Charset:GBK,utf-8;q=0.7,*;q=0.3\r\nAccept-Language:zh-CN,zh;q=0.8\r\n"
               "Connection:keep-alive\r\nContent-Length:" +
               std::to_string(length) + "\r\nContent-Type:application/json\r\nCookie:DRAVSID=tok;\r\nOrigin:" + base +
               "\r\nReferer:" + base + "/\r\n" + kMozilla + "X-Requested-With:XMLHttpRequest\r\n\r\n";
    }

    testsupport::Sandbox sandbox;
    std::filesystem::path syncDir = sandbox.Dir("sync");
    nettest::GlobalEvents events;
    nettest::Checkpoint checkpoint;
    FileNode waiter{SyncFileInfo("Waiter")};
    std::unique_ptr<CWebCloud> cloudObject;
    std::string host;
    std::string base;
};

TEST_F(WireTest, JsonCallsSendTheirHeaderBlockAndBody) {
    ScriptedResponder server({
        Answer(kLoginReply),
        Answer(ScriptedResponder::Reply(200, R"({"message":"Folder created Successfully","persistedObject":"w://s/n"})")),
        Answer(ScriptedResponder::Reply(
            200, R"({"overallSuccess":true,"results":[{"success":true,"nodeRef":"w://s/m"}]})")),
        Answer(ScriptedResponder::Reply(200, R"({"msg":"Delete success"})")),
        Answer(ScriptedResponder::Reply(200, "[]")),
    });
    Connect(server);
    ASSERT_EQ(1, Cloud().iCreateFolder(&checkpoint, nullptr, "workspace://SpacesStore/p", "\\a\\b"));
    ASSERT_EQ(1, Cloud().iMove(&checkpoint, nullptr, "workspace://SpacesStore/p", "workspace://SpacesStore/s",
                             "workspace://SpacesStore/9f"));
    ASSERT_EQ(1, Cloud().iDelete(&checkpoint, nullptr, "workspace://SpacesStore/p", "workspace://SpacesStore/s"));
    ASSERT_EQ(1, Cloud().iListServerDirs(&checkpoint));
    const auto requests = server.Requests();
    ASSERT_EQ(5u, requests.size());

    const std::string create =
        R"({"alf_destination":"workspace://SpacesStore/p","prop_cm_name":"a/b","prop_cm_title":"","prop_cm_description":""})";
    EXPECT_EQ(JsonHead("/dravik/file/createFolder", "application/json, text/javascript, */*; q=0.01", create.size()) +
                  create,
              requests[1]);
    const std::string move = R"({"nodeRefs":["workspace://SpacesStore/s"],"parentId":"workspace://SpacesStore/p"})";
    EXPECT_EQ(JsonHead("/dravik/file/move/workspace/SpacesStore/9f", "*/*", move.size()) + move, requests[2]);
    const std::string remove = R"({"nodeRef":["workspace://SpacesStore/s"],"parentId":"workspace://SpacesStore/p"})";
    EXPECT_EQ(JsonHead("/dravik/file/delete", "*/*", remove.size()) + remove, requests[3]);
    EXPECT_EQ("GET /dravik/allChildNodes HTTP/1.1\r\nHost: " + host +
                  "\r\nUser-Agent: WinHttpClient\r\nCookie: DRAVSID=tok;\r\n\r\n",
              requests[4]);
}

TEST_F(WireTest, TheUploadIsOneMultipartBody) {
    ScriptedResponder server({Answer(kLoginReply), Answer(ScriptedResponder::Reply(200, R"({"nodeRef":"w://s/u"})"))});
    Connect(server);
    testsupport::WriteFile(syncDir / "docs/r.txt", "abc");
    nettest::RecordingProgress progress;
    ASSERT_EQ(1, Cloud().iUpload(&checkpoint, 3, &progress, nullptr, "workspace://SpacesStore/d", "",
                               "900150983CD24FB0D6963F7D28E17F72", "\\docs\\r.txt"));
    EXPECT_EQ("w://s/u", Cloud().UploadedNodeRef());
    const std::string request = server.Requests().at(1);
    const std::size_t at = request.find("boundary=");
    ASSERT_NE(std::string::npos, at);
    const std::string boundary = request.substr(at + 9, 30);
    EXPECT_EQ(0u, boundary.find("------------------"));
    EXPECT_EQ(std::string::npos, boundary.find_first_not_of("-0123456789ABCDEF"));
    const std::string body = "--" + boundary +
                             "\r\nContent-Disposition: form-data; name=\"cookie\"\r\n\r\nDRAVSID=tok;\r\n\r\n--" +
                             boundary +
                             "\r\nContent-Disposition: form-data; name=\"destination\"\r\n\r\nworkspace://SpacesStore/d"
                             "\r\n--" +
                             boundary + "\r\nContent-Disposition: form-data; name=\"MD5\"\r\n\r\n"
                             "900150983CD24FB0D6963F7D28E17F72\r\n--" +
                             boundary +
                             "\r\nContent-Disposition: form-data; name=\"Filedata\"; filename=\"/r.txt\"\r\n"
                             "Content-Type: application/octet-stream\r\n\r\nabc\r\n--" +
                             boundary + "--\r\n";
    EXPECT_EQ("POST /upload HTTP/1.1\r\nHost:" + host +
                  "\r\nAccept:*/*\r\nAccept-Charset:GBK,utf-8;q=0.7,*;q=0.3\r\nAccept-Language:zh-CN,zh;q=0.8\r\n"
                  "Connection:keep-alive\r\nContent-Length:" +
                  std::to_string(body.size()) + "\r\nContent-Type:multipart/form-data; boundary=" + boundary +
                  "\r\nOrigin:" + base + "\r\nReferer:" + base + "/\r\n" + kMozilla + "Cookie: DRAVSID=tok;\r\n\r\n" +
                  body,
              request);
}

TEST_F(WireTest, RepliesDecideSuccess) {
    enum class Op { Create, Copy, Delete, Rename };
    struct Case {
        Op op;
        const char* reply;
        int result;
    };
    const Case cases[] = {
        {Op::Create, R"({"message":"Folder created Successfully","persistedObject":"w://s/c"})", 1},
        {Op::Create, R"({"message":"unsuccessful","persistedObject":"w://s/bad"})", 0},
        {Op::Create, R"({"message":"Success","persistedObject":""})", 0},
        {Op::Create, R"(["Success"])", 0},
        {Op::Copy, R"({"overallSuccess":true,"results":[{"success":true,"nodeRef":"w://s/c"}]})", 1},
        {Op::Copy, R"({"overallSuccess":"true","results":[{"success":true,"nodeRef":"w://s/bad"}]})", 0},
        {Op::Copy, R"({"overallSuccess":true,"results":[]})", 0},
        {Op::Copy, R"({"overallSuccess":true,"results":[{"success":false,"nodeRef":"w://s/bad"}]})", 0},
        {Op::Delete, R"({"msg":"Delete SUCCESS"})", 1},
        {Op::Delete, R"({"msg":"failed"})", 0},
        {Op::Delete, R"({"msg":"unsuccessful"})", 0},
        {Op::Delete, R"({"message":"success"})", 0},
        {Op::Rename, R"({"msg":"Rename successfully done"})", 1},
        {Op::Rename, R"({"msg":"Rename unsuccessfully done"})", 0},
        {Op::Rename, R"(not json)", 0},
    };
    for (const Case& c : cases) {
        ScriptedResponder server({Answer(kLoginReply), Answer(ScriptedResponder::Reply(200, c.reply))});
        Connect(server);
        const std::string ref = "workspace://SpacesStore/x";
        int result = -1;
        switch (c.op) {
            case Op::Create: result = Cloud().iCreateFolder(&checkpoint, nullptr, ref, "f"); break;
            case Op::Copy: result = Cloud().iCopy(&checkpoint, nullptr, ref, ref, ref); break;
            case Op::Delete: result = Cloud().iDelete(&checkpoint, nullptr, ref, ref); break;
            case Op::Rename: result = Cloud().iRename(&checkpoint, nullptr, ref, "g"); break;
        }
        EXPECT_EQ(c.result, result) << c.reply;
        // A failed reply never leaves its reference behind as a result.
        EXPECT_NE("w://s/bad", Cloud().CreatedNodeRef()) << c.reply;
        EXPECT_NE("w://s/bad", Cloud().ResultNodeRef()) << c.reply;
        if (c.op == Op::Rename && c.result == 1) {
            EXPECT_EQ("", Cloud().ResultNodeRef());
        }
    }
}

TEST(UploadHeadTest, FieldsInOrderAndAnEscapedFileName) {
    const auto head = CWebCloud::BuildUploadHead("B", "C=1;", "w://d", "w://u", "MD", "\\dir\\x\"y.txt");
    ASSERT_TRUE(head.has_value());
    EXPECT_EQ("--B\r\nContent-Disposition: form-data; name=\"cookie\"\r\n\r\nC=1;\r\n\r\n"
              "--B\r\nContent-Disposition: form-data; name=\"destination\"\r\n\r\nw://d\r\n"
              "--B\r\nContent-Disposition: form-data; name=\"updatenoderef\"\r\n\r\nw://u\r\n"
              "--B\r\nContent-Disposition: form-data; name=\"MD5\"\r\n\r\nMD\r\n"
              "--B\r\nContent-Disposition: form-data; name=\"Filedata\"; filename=\"/x%22y.txt\"\r\n"
              "Content-Type: application/octet-stream\r\n\r\n",
              *head);
    EXPECT_FALSE(CWebCloud::BuildUploadHead("B", "C=1;", "w://d\r\n--B", "", "MD", "\\a").has_value());
    EXPECT_EQ("\r\n--B--\r\n", CWebCloud::UploadTail("B"));
    const std::string boundary = CWebCloud::MakeBoundary();
    EXPECT_EQ(30u, boundary.size());
    EXPECT_EQ(0u, boundary.find(std::string(18, '-')));
    EXPECT_NE(boundary, CWebCloud::MakeBoundary());
}

}  // namespace

TEST_F(WebCloudTest, AFailureBelongsToTheThreadWhoseRequestFailed) {
    server.PutFile("alice", "/a.txt", "a");
    Login();
    const std::string a = server.Find("alice", "/a.txt")->ref;
    server.InjectFault(Fault{"delete", FaultKind::Status, 502});
    std::uint32_t otherThreadStatus = 0;
    std::thread other([&] {
        EXPECT_EQ(0, cloud.iDelete(&checkpoint, nullptr, Home(), a));
        otherThreadStatus = cloud.LastStatus();
    });
    other.join();
    EXPECT_EQ(502u, otherThreadStatus);
    // This thread made no failed request: it never sees the other thread's 502.
    EXPECT_EQ(200u, cloud.LastStatus());
    server.InjectFault(Fault{"delete", FaultKind::Status, 404});
    EXPECT_EQ(0, cloud.iDelete(&checkpoint, nullptr, Home(), a));
    EXPECT_EQ(404u, cloud.LastStatus());
    cloud.ResetLastStatus();
    EXPECT_EQ(200u, cloud.LastStatus());
}
