// The calls of both programs (the program routes) against the in-process test server, over
// real HTTP.
#include <curl/curl.h>

#include <cctype>
#include <sstream>
#include <set>

#include "ServerFixture.h"

namespace tstest {
namespace {

using testserver::TreeEntry;

// "Thu Jan 01 08:00:00 GMT 1970": the date text both programs read.
bool IsServerDate(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    const auto shaped = [](const std::string& word, const std::string& shape) {
        if (word.size() != shape.size()) return false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(word[i]);
            const bool ok = shape[i] == '9' ? std::isdigit(c) != 0
                            : shape[i] == 'A' ? std::isupper(c) != 0
                            : shape[i] == 'a' ? std::islower(c) != 0
                                              : word[i] == shape[i];
            if (!ok) return false;
        }
        return true;
    };
    return words.size() == 6 && shaped(words[0], "Aaa") && shaped(words[1], "Aaa") && shaped(words[2], "99") &&
           shaped(words[3], "99:99:99") && shaped(words[4], std::string(words[4].size(), 'A')) &&
           shaped(words[5], "9999") && text == words[0] + " " + words[1] + " " + words[2] + " " + words[3] +
                                                   " " + words[4] + " " + words[5];
}

bool IsHex(const std::string& text, std::size_t length, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    return text.size() == length && text.find_first_not_of(digits) == std::string::npos;
}

// The multipart body exactly as the sync program builds it (the cookie value is followed
// by two line ends; the file name keeps the leading '/').
std::string SyncUploadBody(const std::string& boundary, const std::string& cookie, const std::string& destination,
                           const std::string& update, const std::string& md5, const std::string& relativePath,
                           const std::string& content) {
    const auto field = [&](const std::string& name, const std::string& value) {
        return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    };
    std::string body = field("cookie", cookie + "\r\n");
    body += field("destination", destination);
    if (!update.empty()) body += field("updatenoderef", update);
    body += field("MD5", md5);
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"Filedata\"; filename=\"" + relativePath +
            "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content;
    body += "\r\n--" + boundary + "--\r\n";
    return body;
}

class CallsTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        cookie_ = Login("alice", "secret");
        home_ = server_->Account("alice").homeRef;
        trash_ = server_->Account("alice").trashRef;
    }

    httplib::Result SyncUpload(const std::string& destination, const std::string& update,
                               const std::string& relativePath, const std::string& content,
                               bool cookieHeader = true, const std::string& md5 = "") {
        const std::string boundary = "------------------1A2B3C4D5E6F";
        const std::string body = SyncUploadBody(boundary, cookie_, destination, update,
                                                md5.empty() ? Md5Upper(content) : md5, relativePath, content);
        httplib::Headers headers;
        if (cookieHeader) headers.emplace("Cookie", cookie_);
        return http_->Post("/upload", headers, body, "multipart/form-data; boundary=" + boundary);
    }

    std::string Download(const std::string& ref) {
        auto res = Get("/dravik/api/node/" + PathRef(ref) + "/content", cookie_);
        EXPECT_TRUE(res);
        if (!res) return {};
        EXPECT_EQ(200, res->status);
        EXPECT_EQ(std::to_string(res->body.size()), res->get_header_value("Content-Length"));
        return res->body;
    }

    std::string cookie_, home_, trash_;
};

// ---- login, logout, sessions ------------------------------------------------------------

TEST_F(CallsTest, LoginSetsSevenCharacterCookieAndAnswersEveryFieldBothProgramsRead) {
    server_->AddUser("a b@x", "p%\xC3\xA4+");
    httplib::Params params{{"user[email]", "a b@x"}, {"user[pw]", "p%\xC3\xA4+"}};
    auto res = http_->Get("/dravik/app/login", params, httplib::Headers{});
    ASSERT_TRUE(res);
    ASSERT_EQ(200, res->status);
    const std::string setCookie = res->get_header_value("Set-Cookie");
    EXPECT_EQ(0u, setCookie.find("DRAVSID="));
    EXPECT_TRUE(IsHex(setCookie.substr(8), 32, false)) << setCookie;
    auto doc = ParseJson(res->body);
    for (const char* key : {"userName", "email", "homeFolder", "formFolder", "name", "trashesHome", "quota",
                            "sizeCurrent", "ticket", "cmServerName"})
        EXPECT_TRUE(doc.HasMember(key) && doc[key].IsString()) << key;
    EXPECT_EQ("a b@x", Str(doc, "userName"));
    EXPECT_EQ(server_->Account("a b@x").homeRef, Str(doc, "homeFolder"));
    EXPECT_EQ(server_->Account("a b@x").trashRef, Str(doc, "trashesHome"));
    EXPECT_EQ(0u, Str(doc, "homeFolder").find("workspace://SpacesStore/"));

    const std::string cookie = setCookie + ";";
    auto listing = Get("/dravik/allChildNodes", cookie);
    ASSERT_TRUE(listing);
    EXPECT_EQ(200, listing->status);
}

TEST_F(CallsTest, SyncLoginHeadersGetAnUncompressedJsonReply) {
    // The sync program's fixed login headers ask for gzip; the reply must stay plain.
    const std::string raw = RawExchange(
        server_->Port(),
        "GET /dravik/app/login?user[email]=alice&user[pw]=secret HTTP/1.1\r\n"
        "Accept-Language: zh-cn/r/n\r\nAccept-Encoding: gzip, deflate/r/n\r\nContent-Type: text/xml/r/n\r\n"
        "Host: 127.0.0.1\r\nConnection: close\r\n\r\n");
    RawReply reply(raw);
    EXPECT_NE(std::string::npos, reply.head.find("Set-Cookie: DRAVSID="));
    EXPECT_EQ(std::string::npos, reply.head.find("Content-Encoding"));
    EXPECT_NE(std::string::npos, reply.head.find("charset=utf-8"));
    EXPECT_EQ(server_->Account("alice").homeRef, Str(ParseJson(reply.body), "homeFolder"));
}

TEST_F(CallsTest, RefusedLoginAnswersAMessageAndACookieThatOpensNothing) {
    struct Case {
        const char* account;
        const char* password;
    } cases[] = {{"alice", "wrong"}, {"nobody", "secret"}, {"alice", ""}};
    for (const Case& c : cases) {
        httplib::Params params{{"user[email]", c.account}, {"user[pw]", c.password}};
        auto res = http_->Get("/dravik/app/login", params, httplib::Headers{});
        ASSERT_TRUE(res);
        EXPECT_EQ(200, res->status);
        auto doc = ParseJson(res->body);
        EXPECT_FALSE(doc.HasMember("homeFolder")) << c.account;
        EXPECT_FALSE(Str(doc, "msg").empty());
        const std::string setCookie = res->get_header_value("Set-Cookie");
        ASSERT_EQ(0u, setCookie.find("DRAVSID="));
        auto listing = Get("/dravik/allChildNodes", setCookie + ";");
        ASSERT_TRUE(listing);
        EXPECT_EQ(401, listing->status);
    }
    auto missing = http_->Get("/dravik/app/login?user[email]=alice");
    ASSERT_TRUE(missing);
    EXPECT_EQ(400, missing->status);
}

TEST_F(CallsTest, CallsWithoutAValidSessionGet401) {
    const std::string ref = server_->PutFile("alice", "/a.txt", "x");
    struct Case {
        const char* method;
        std::string path;
    } cases[] = {
        {"GET", "/dravik/allChildNodes"},
        {"GET", "/dravik/logout"},
        {"GET", "/dravik/api/node/" + PathRef(ref) + "/content"},
        {"GET", "/dravik/appw/new/list/" + Id(home_)},
        {"GET", "/dravik/app/collaborateManage?isApp2=true&size=-1"},
        {"POST", "/dravik/file/createFolder"},
        {"POST", "/dravik/file/appcreateFolder"},
        {"POST", "/dravik/file/copy/" + PathRef(home_)},
        {"POST", "/dravik/file/move/" + PathRef(home_)},
        {"POST", "/dravik/file/delete"},
        {"POST", "/dravik/file/untrashes"},
        {"POST", "/dravik/file/change/" + PathRef(ref)},
        {"POST", "/upload"},
    };
    for (const std::string& cookie : {std::string(), std::string("DRAVSID=0123;"), std::string("other=1;")}) {
        for (const Case& c : cases) {
            auto res = std::string(c.method) == "GET" ? Get(c.path, cookie) : PostJson(c.path, cookie, "{}");
            ASSERT_TRUE(res) << c.path;
            EXPECT_EQ(401, res->status) << c.method << " " << c.path << " cookie " << cookie;
        }
    }
    EXPECT_EQ(1u, server_->Tree("alice").size());
}

TEST_F(CallsTest, LogoutEndsTheSessionOnly) {
    const std::string other = Login("alice", "secret");
    auto out = Get("/dravik/logout", cookie_);
    ASSERT_TRUE(out);
    EXPECT_EQ(200, out->status);
    EXPECT_EQ(401, Get("/dravik/allChildNodes", cookie_)->status);
    EXPECT_EQ(200, Get("/dravik/allChildNodes", other)->status);
}

TEST_F(CallsTest, CookieTextAccumulatedOverLoginsFindsTheLiveSession) {
    // The sync program keeps every cookie its login client ever received, with raw line
    // ends when the header pattern took them along.
    const std::string fresh = Login("alice", "secret");
    const std::string token = fresh.substr(8, fresh.size() - 9);
    for (const std::string& text : {"DRAVSID=anonymous;DRAVSID=" + token + ";",
                                    "DRAVSID=" + token + "\r;", "x=1; DRAVSID=" + token})
        EXPECT_EQ(200, Get("/dravik/allChildNodes", text)->status) << text;
}

// ---- listings -----------------------------------------------------------------------------

TEST_F(CallsTest, SyncListingHoldsTheWholeHomeTreeWithFullPaths) {
    server_->PutFile("alice", "/docs/report.doc", "report");
    server_->PutFile("alice", "/docs/deep/x.bin", std::string("\0\1\2", 3));
    server_->PutFile("alice", "/top.txt", "");
    server_->MakeFolder("alice", "/empty");
    server_->PutFile("alice", "/gone.txt", "bye");
    server_->Remove("alice", "/gone.txt");
    server_->PutFile("bob", "/bobs.txt", "not alice's");

    auto doc = Ok(Get("/dravik/allChildNodes", cookie_));
    ASSERT_TRUE(doc.IsArray());
    std::map<std::string, const rapidjson::Value*> byName;
    std::vector<std::string> order;
    for (const auto& e : doc.GetArray()) {
        ASSERT_TRUE(e["size"].IsInt64());
        byName[Str(e, "name")] = &e;
        order.push_back(Str(e, "name"));
    }
    EXPECT_EQ((std::set<std::string>{"/docs", "/docs/deep", "/docs/deep/x.bin", "/docs/report.doc", "/empty",
                                     "/top.txt"}),
              (std::set<std::string>(order.begin(), order.end())));
    for (const std::string& name : order) {
        const std::size_t slash = name.find_last_of('/');
        if (slash == 0) continue;
        const auto parent = std::find(order.begin(), order.end(), name.substr(0, slash));
        EXPECT_LT(parent - order.begin(), std::find(order.begin(), order.end(), name) - order.begin()) << name;
    }
    const auto& report = *byName["/docs/report.doc"];
    EXPECT_EQ("content", Str(report, "type"));
    EXPECT_EQ(6, report["size"].GetInt64());
    EXPECT_EQ(Md5Upper("report"), Str(report, "checksum"));
    EXPECT_TRUE(IsHex(Str(report, "checksum"), 32, true));
    EXPECT_EQ(server_->Find("alice", "/docs/report.doc")->ref, Str(report, "nodeRef"));
    EXPECT_EQ(Md5Upper(""), Str(*byName["/top.txt"], "checksum"));
    EXPECT_EQ("folder", Str(*byName["/docs"], "type"));
    EXPECT_EQ("", Str(*byName["/docs"], "checksum"));
}

TEST_F(CallsTest, ClientListingPagesAndCarriesEveryItemField) {
    for (const char* name : {"e.txt", "b.txt", "D.txt", "a.txt", "c.txt"})
        server_->PutFile("alice", std::string("/box/") + name, name);
    server_->MakeFolder("alice", "/box/zeta");
    server_->MakeFolder("alice", "/box/Alpha");
    const std::string box = server_->Find("alice", "/box")->ref;

    auto all = Ok(Get("/dravik/appw/new/list/" + Id(box), cookie_));
    EXPECT_EQ(7, all["totalRecords"].GetInt());
    EXPECT_FALSE(all["hasMoreItems"].GetBool());
    std::vector<std::string> names;
    for (const auto& item : all["items"].GetArray()) names.push_back(Str(item, "name"));
    EXPECT_EQ((std::vector<std::string>{"Alpha", "zeta", "a.txt", "b.txt", "c.txt", "D.txt", "e.txt"}), names);

    const auto& file = all["items"][2];
    EXPECT_EQ(Id(server_->Find("alice", "/box/a.txt")->ref), Str(file, "ref"));
    EXPECT_FALSE(Str(file, "dbid").empty());
    EXPECT_EQ("content", Str(file, "type"));
    EXPECT_EQ(5, file["size"].GetInt64());
    EXPECT_FALSE(Str(file, "ver").empty());
    for (const char* bit : {"ch", "c", "w", "d", "down"}) EXPECT_TRUE(file["perm"][bit].GetBool()) << bit;
    EXPECT_TRUE(IsServerDate(Str(file, "created"))) << Str(file, "created");
    EXPECT_TRUE(IsServerDate(Str(file, "modified")));
    EXPECT_EQ("alice", Str(file["creator"], "name"));
    EXPECT_FALSE(Str(file["modifier"], "dname").empty());
    EXPECT_TRUE(file["comment"].IsInt());
    EXPECT_EQ("folder", Str(all["items"][0], "type"));
    EXPECT_EQ("box", Str(all["metadata"], "name"));
    ASSERT_EQ(1u, all["parents"].Size());
    EXPECT_EQ(Id(home_), Str(all["parents"][0], "ref"));
    EXPECT_FALSE(all["parents"][0]["collaborated"].GetBool());

    struct Page {
        int size, pos;
        std::vector<std::string> names;
        bool more;
    } pages[] = {{3, 1, {"Alpha", "zeta", "a.txt"}, true},
                 {3, 2, {"b.txt", "c.txt", "D.txt"}, true},
                 {3, 3, {"e.txt"}, false},
                 {3, 4, {}, false},
                 {7, 1, {"Alpha", "zeta", "a.txt", "b.txt", "c.txt", "D.txt", "e.txt"}, false}};
    for (const Page& p : pages) {
        auto doc = Ok(Get("/dravik/appw/new/list/" + Id(box) + "?size=" + std::to_string(p.size) +
                              "&pos=" + std::to_string(p.pos),
                          cookie_));
        std::vector<std::string> got;
        for (const auto& item : doc["items"].GetArray()) got.push_back(Str(item, "name"));
        EXPECT_EQ(p.names, got) << p.size << "/" << p.pos;
        EXPECT_EQ(p.more, doc["hasMoreItems"].GetBool()) << p.size << "/" << p.pos;
        EXPECT_EQ(7, doc["totalRecords"].GetInt());
    }
    EXPECT_EQ(400, Get("/dravik/appw/new/list/" + Id(box) + "?size=x&pos=1", cookie_)->status);
}

TEST_F(CallsTest, ClientListsFilesRootsAndNotOtherAccounts) {
    const std::string file = server_->PutFile("alice", "/f/one.txt", "1");
    auto self = Ok(Get("/dravik/appw/new/list/" + Id(file), cookie_));
    EXPECT_EQ("one.txt", Str(self["metadata"], "name"));
    EXPECT_EQ(0u, self["items"].Size());
    EXPECT_EQ(2u, self["parents"].Size());

    auto home = Ok(Get("/dravik/appw/new/list/" + Id(home_), cookie_));
    EXPECT_TRUE(home["metadata"]["perm"]["c"].GetBool());  // new folders and uploads allowed
    EXPECT_FALSE(home["metadata"]["perm"]["d"].GetBool());
    EXPECT_EQ(1u, home["items"].Size());

    server_->Remove("alice", "/f");
    auto bin = Ok(Get("/dravik/appw/new/list/" + Id(trash_), cookie_));
    ASSERT_EQ(1u, bin["items"].Size());
    EXPECT_EQ("f", Str(bin["items"][0], "name"));
    EXPECT_TRUE(bin["items"][0]["perm"]["d"].GetBool());
    EXPECT_FALSE(bin["items"][0]["perm"]["w"].GetBool());

    const std::string bobs = server_->PutFile("bob", "/secret.txt", "s");
    EXPECT_EQ(404, Get("/dravik/appw/new/list/" + Id(bobs), cookie_)->status);
    EXPECT_EQ(404, Get("/dravik/api/node/" + PathRef(bobs) + "/content", cookie_)->status);
    EXPECT_EQ(404, Get("/dravik/appw/new/list/nosuchid", cookie_)->status);
}

TEST_F(CallsTest, GroupListingsShowCollaborationAndPublicGroups) {
    server_->AddGroup("Sales", false, {"alice", "bob"});
    auto team = Ok(Get("/dravik/app/collaborateManage?isApp2=true&size=-1", cookie_));
    ASSERT_TRUE(team.IsArray());
    std::set<std::string> names;
    for (const auto& g : team.GetArray()) {
        names.insert(Str(g, "name"));
        EXPECT_EQ("folder", Str(g, "type"));
        EXPECT_FALSE(Str(g["creator"], "dname").empty());
    }
    EXPECT_EQ((std::set<std::string>{"Team alice", "Sales"}), names);

    auto pub = Ok(Get("/dravik/app/collaborateManage?public=true&isApp2=true&size=-1", cookie_));
    ASSERT_EQ(1u, pub.Size());
    const std::string groupId = Str(pub[0], "ref");
    auto inside = Ok(Get("/dravik/appw/new/list/" + groupId, cookie_));
    EXPECT_EQ("Public", Str(inside["metadata"], "name"));
    auto created = Ok(PostJson("/dravik/file/appcreateFolder", cookie_,
                               R"({"alf_destination":"workspace://SpacesStore/)" + groupId +
                                   R"(","prop_cm_name":"shared","prop_cm_title":"","prop_cm_description":""})"));
    auto listed = Ok(Get("/dravik/appw/new/list/" + Id(Str(created[0], "nodeRef")), cookie_));
    EXPECT_TRUE(listed["parents"][0]["collaborated"].GetBool());
}

// ---- folders, rename, copy, move, delete, restore ----------------------------------------

std::string FolderBody(const std::string& destination, const std::string& name) {
    return R"({"alf_destination":")" + destination + R"(","prop_cm_name":")" + name +
           R"(","prop_cm_title":"","prop_cm_description":""})";
}

TEST_F(CallsTest, ClientCreatesNestedFoldersAndGetsEveryLevel) {
    auto levels = Ok(PostJson("/dravik/file/appcreateFolder", cookie_, FolderBody(home_, "x/y/z")));
    ASSERT_TRUE(levels.IsArray());
    ASSERT_EQ(3u, levels.Size());
    std::string parent = home_;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(std::string(1, "xyz"[i]), Str(levels[i], "name"));
        EXPECT_EQ(parent, Str(levels[i], "parent"));
        EXPECT_TRUE(IsServerDate(Str(levels[i], "modified")));
        parent = Str(levels[i], "nodeRef");
    }
    EXPECT_EQ(server_->Find("alice", "/x/y/z")->ref, parent);

    // Existing levels are found, missing ones made; a file in the way refuses everything.
    auto again = Ok(PostJson("/dravik/file/appcreateFolder", cookie_, FolderBody(home_, "X/y/w")));
    ASSERT_EQ(3u, again.Size());
    EXPECT_EQ(Str(levels[1], "nodeRef"), Str(again[1], "nodeRef"));
    server_->PutFile("alice", "/file", "f");
    auto blocked = PostJson("/dravik/file/appcreateFolder", cookie_, FolderBody(home_, "file/sub"));
    EXPECT_EQ(409, blocked->status);
    EXPECT_FALSE(server_->Find("alice", "/file/sub"));
}

TEST_F(CallsTest, SyncCreatesAFolderAndRefusesBadNames) {
    auto made = Ok(PostJson("/dravik/file/createFolder", cookie_, FolderBody(home_, "new")));
    EXPECT_NE(std::string::npos, Str(made, "message").find("Success"));
    EXPECT_EQ(server_->Find("alice", "/new")->ref, Str(made, "persistedObject"));
    auto same = Ok(PostJson("/dravik/file/createFolder", cookie_, FolderBody(home_, "NEW")));
    EXPECT_EQ(Str(made, "persistedObject"), Str(same, "persistedObject"));

    server_->PutFile("alice", "/taken.txt", "t");
    EXPECT_EQ(409, PostJson("/dravik/file/createFolder", cookie_, FolderBody(home_, "TAKEN.txt"))->status);
    for (const char* bad : {"", ".", "..", "a/b", R"(a\\b)", R"(tab\t)", R"(nul\u0000)", R"(\u001f)"})
        EXPECT_EQ(400, PostJson("/dravik/file/createFolder", cookie_, FolderBody(home_, bad))->status) << bad;
    EXPECT_EQ(400, PostJson("/dravik/file/createFolder", cookie_, FolderBody("not-a-ref", "ok"))->status);
    EXPECT_EQ(2u, server_->Tree("alice").size());
}

TEST_F(CallsTest, RenameAnswersBothProgramsAndKeepsNamesUniqueIgnoringCase) {
    const std::string ref = server_->PutFile("alice", "/a.txt", "a");
    server_->PutFile("alice", "/b.txt", "b");
    auto renamed = Ok(PostJson("/dravik/file/change/" + PathRef(ref), cookie_, R"({"prop_cm_name":"c.txt"})"));
    EXPECT_NE(std::string::npos, Str(renamed, "msg").find("Successfully"));
    EXPECT_EQ("c.txt", Str(renamed, "name"));
    EXPECT_EQ(ref, Str(renamed, "nodeRef"));
    EXPECT_EQ(home_, Str(renamed, "parent"));
    EXPECT_TRUE(IsServerDate(Str(renamed, "modified")));
    EXPECT_EQ(409, PostJson("/dravik/file/change/" + PathRef(ref), cookie_, R"({"prop_cm_name":"B.TXT"})")->status);
    Ok(PostJson("/dravik/file/change/" + PathRef(ref), cookie_, R"({"prop_cm_name":"C.txt"})"));
    EXPECT_EQ(ref, server_->Find("alice", "/C.txt")->ref);
    EXPECT_EQ("/C.txt", server_->Find("alice", "/c.txt")->path);
    // Letters beyond ASCII compare without case too.
    server_->PutFile("alice", "/\xC3\x84pfel", "apples");
    EXPECT_EQ(409, PostJson("/dravik/file/change/" + PathRef(ref), cookie_, "{\"prop_cm_name\":\"\xC3\xA4PFEL\"}")->status);
    EXPECT_EQ(403, PostJson("/dravik/file/change/" + PathRef(home_), cookie_, R"({"prop_cm_name":"x"})")->status);
    EXPECT_EQ(404, PostJson("/dravik/file/change/workspace://SpacesStore/" + Id(ref), cookie_,
                            R"({"prop_cm_name":"x"})")
                       ->status);
}

std::string TransferBody(const std::string& source, const std::string& parent) {
    return R"({"nodeRefs":[")" + source + R"("],"parentId":")" + parent + R"("})";
}

TEST_F(CallsTest, CopyDuplicatesASubtreeAndMoveRelocatesIt) {
    const std::string src = server_->MakeFolder("alice", "/src");
    server_->PutFile("alice", "/src/in/a.txt", "payload");
    const std::string dst = server_->MakeFolder("alice", "/dst");

    auto copied = Ok(PostJson("/dravik/file/copy/" + PathRef(dst), cookie_, TransferBody(src, home_)));
    EXPECT_TRUE(copied["overallSuccess"].GetBool());
    ASSERT_EQ(1u, copied["results"].Size());
    EXPECT_TRUE(copied["results"][0]["success"].GetBool());
    const std::string copyRef = Str(copied["results"][0], "nodeRef");
    EXPECT_NE(src, copyRef);
    EXPECT_EQ(copyRef, server_->Find("alice", "/dst/src")->ref);
    EXPECT_EQ("payload", server_->Find("alice", "/dst/src/in/a.txt", true)->content);
    EXPECT_NE(server_->Find("alice", "/src/in/a.txt")->ref, server_->Find("alice", "/dst/src/in/a.txt")->ref);

    EXPECT_EQ(409, PostJson("/dravik/file/copy/" + PathRef(dst), cookie_, TransferBody(src, home_))->status);
    EXPECT_EQ(409, PostJson("/dravik/file/copy/" + PathRef(home_), cookie_, TransferBody(src, home_))->status);
    const std::string inner = server_->Find("alice", "/src/in")->ref;
    EXPECT_EQ(400, PostJson("/dravik/file/copy/" + PathRef(inner), cookie_, TransferBody(src, home_))->status);
    EXPECT_EQ(400, PostJson("/dravik/file/move/" + PathRef(src), cookie_, TransferBody(src, home_))->status);

    auto moved = Ok(PostJson("/dravik/file/move/" + PathRef(dst), cookie_, TransferBody(inner, src)));
    EXPECT_EQ(inner, Str(moved["results"][0], "nodeRef"));
    EXPECT_EQ(inner, server_->Find("alice", "/dst/in")->ref);
    EXPECT_FALSE(server_->Find("alice", "/src/in"));
    server_->MakeFolder("alice", "/src/IN");
    EXPECT_EQ(409, PostJson("/dravik/file/move/" + PathRef(src), cookie_, TransferBody(inner, dst))->status);
    EXPECT_EQ(400, PostJson("/dravik/file/move/" + PathRef(dst), cookie_, R"({"nodeRefs":"x"})")->status);
}

std::string RefsBody(const char* key, const std::vector<std::string>& refs, const std::string& parent) {
    std::string body = std::string("{\"") + key + "\":[";
    for (std::size_t i = 0; i < refs.size(); ++i) body += (i ? ",\"" : "\"") + refs[i] + "\"";
    body += "]";
    if (!parent.empty()) body += ",\"parentId\":\"" + parent + "\"";
    return body + "}";
}

TEST_F(CallsTest, DeleteMovesToTheRecycleBinAndRestoreBringsItBack) {
    const std::string file = server_->PutFile("alice", "/keep/a.txt", "a");
    const std::string folder = server_->Find("alice", "/keep")->ref;
    const std::string other = server_->PutFile("alice", "/b.txt", "b");

    auto deleted = Ok(PostJson("/dravik/file/delete", cookie_, RefsBody("nodeRef", {file, other}, home_)));
    EXPECT_NE(std::string::npos, Str(deleted, "msg").find("success"));
    EXPECT_FALSE(server_->Find("alice", "/keep/a.txt"));
    EXPECT_EQ(2u, server_->Trash("alice").size());
    auto listing = Ok(Get("/dravik/allChildNodes", cookie_));
    EXPECT_EQ(1u, listing.Size());  // only /keep

    // The original folder is there: a.txt goes back into it, with its reference.
    auto restored = Ok(PostJson("/dravik/file/untrashes", cookie_, RefsBody("nodeRef", {file}, "")));
    EXPECT_NE(std::string::npos, Str(restored, "msg").find("success"));
    EXPECT_EQ(file, server_->Find("alice", "/keep/a.txt")->ref);

    // The original folder is gone: the item comes back to the home folder.
    Ok(PostJson("/dravik/file/delete", cookie_, RefsBody("nodeRef", {folder}, home_)));
    server_->PutFile("alice", "/b.txt", "new b");
    EXPECT_EQ(409, PostJson("/dravik/file/untrashes", cookie_, RefsBody("nodeRef", {other}, ""))->status);
    server_->Remove("alice", "/b.txt", true);
    Ok(PostJson("/dravik/file/untrashes", cookie_, RefsBody("nodeRef", {other}, "")));
    EXPECT_EQ("b", server_->Find("alice", "/b.txt", true)->content);

    // Deleting in the recycle bin deletes for good; the folder's content goes with it.
    Ok(PostJson("/dravik/file/delete", cookie_, RefsBody("nodeRef", {folder}, trash_)));
    EXPECT_TRUE(server_->Trash("alice").empty());
    EXPECT_EQ(400, PostJson("/dravik/file/untrashes", cookie_, RefsBody("nodeRef", {other}, ""))->status);
    EXPECT_EQ(404, PostJson("/dravik/file/untrashes", cookie_, RefsBody("nodeRef", {folder}, ""))->status);

    // What is gone already is refused with 400 (the sync program counts that as done).
    EXPECT_EQ(400, PostJson("/dravik/file/delete", cookie_, RefsBody("nodeRef", {folder}, home_))->status);
    EXPECT_EQ(403, PostJson("/dravik/file/delete", cookie_, RefsBody("nodeRef", {home_}, home_))->status);
    EXPECT_EQ(400, PostJson("/dravik/file/delete", cookie_, R"({"nodeRef":"x","parentId":"y"})")->status);
}

TEST_F(CallsTest, DeletingAFolderWithItsChildSelectedKeepsTheChildInTheFolder) {
    const std::string child = server_->PutFile("alice", "/d/c.txt", "c");
    const std::string folder = server_->Find("alice", "/d")->ref;
    Ok(PostJson("/dravik/file/delete", cookie_, RefsBody("nodeRef", {child, folder}, home_)));
    Ok(PostJson("/dravik/file/untrashes", cookie_, RefsBody("nodeRef", {folder}, "")));
    EXPECT_EQ(child, server_->Find("alice", "/d/c.txt")->ref);
}

// ---- upload and download ------------------------------------------------------------------

TEST_F(CallsTest, SyncUploadThenDownloadGivesTheSameBytes) {
    std::string content(100000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + 3);
    const std::string docs = server_->MakeFolder("alice", "/docs");

    auto res = SyncUpload(docs, "", "/report.doc", content);
    auto reply = Ok(res);
    const std::string ref = Str(reply, "nodeRef");
    EXPECT_EQ("report.doc", Str(reply, "name"));
    EXPECT_EQ(docs, Str(reply, "parent"));
    EXPECT_TRUE(IsServerDate(Str(reply, "modified")));
    EXPECT_EQ(content, Download(ref));
    EXPECT_EQ(Md5Upper(content), server_->Find("alice", "/docs/report.doc")->checksum);
    EXPECT_EQ(static_cast<std::int64_t>(content.size()), server_->Find("alice", "/docs/report.doc")->size);

    // New content for the item: same reference, new bytes.
    auto update = Ok(SyncUpload(docs, ref, "/report.doc", "v2"));
    EXPECT_EQ(ref, Str(update, "nodeRef"));
    EXPECT_EQ("v2", Download(ref));

    // A quote in the name arrives percent-encoded, as the sync program and browsers send it.
    auto quoted = Ok(SyncUpload(docs, "", "/say %22hi%22.txt", "q"));
    EXPECT_EQ("say \"hi\".txt", Str(quoted, "name"));
    EXPECT_EQ("q", Download(Str(quoted, "nodeRef")));

    // The streamed upload carries the cookie only in the form; an empty file is fine.
    auto empty = Ok(SyncUpload(home_, "", "/empty.txt", "", false));
    EXPECT_EQ("", Download(Str(empty, "nodeRef")));
    EXPECT_EQ(Md5Upper(""), server_->Find("alice", "/empty.txt")->checksum);
}

TEST_F(CallsTest, UploadRefusesMismatchedDigestsBadNamesAndFolders) {
    EXPECT_EQ(400, SyncUpload(home_, "", "/x.txt", "abc", true, Md5Upper("abd"))->status);
    EXPECT_EQ(400, SyncUpload(home_, "", "/", "abc")->status);
    EXPECT_EQ(400, SyncUpload(home_, "", "/a\\b", "abc")->status);
    EXPECT_EQ(400, SyncUpload("nonsense", "", "/x.txt", "abc")->status);
    server_->MakeFolder("alice", "/dir");
    EXPECT_EQ(409, SyncUpload(home_, "", "/DIR", "abc")->status);
    EXPECT_EQ(400, SyncUpload(home_, server_->Find("alice", "/dir")->ref, "/dir", "abc")->status);
    EXPECT_EQ(1u, server_->Tree("alice").size());
    // The lower-case form of the right digest is the same digest.
    std::string lower = Md5Upper("abc");
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(200, SyncUpload(home_, "", "/x.txt", "abc", true, lower)->status);
}

size_t CollectBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

TEST_F(CallsTest, ClientUploadThroughLibcurlThenDownloadGivesTheSameBytes) {
    // As the client builds it: its header list with the cookie, and the form fields cookie,
    // destination and Filedata (no MD5). Two megabytes make libcurl ask for 100-continue;
    // the second round sends the body in chunks.
    std::string content(2 * 1024 * 1024 + 17, 'x');
    for (std::size_t i = 0; i < content.size(); i += 4096) content[i] = static_cast<char>(i / 4096);
    for (const bool chunked : {false, true}) {
        const std::string name = chunked ? "chunked.bin" : "big.bin";
        CURL* curl = curl_easy_init();
        ASSERT_NE(nullptr, curl);
        curl_mime* mime = curl_mime_init(curl);
        const auto field = [&](const char* fieldName, const std::string& value) {
            curl_mimepart* part = curl_mime_addpart(mime);
            curl_mime_name(part, fieldName);
            curl_mime_data(part, value.data(), value.size());
            return part;
        };
        field("cookie", cookie_);
        field("destination", home_);
        curl_mime_filename(field("Filedata", content), name.c_str());
        curl_slist* headers = nullptr;
        std::vector<std::string> lines = {"Accept:application/json, text/javascript, */*; q=0.01",
                                          "Connection:keep-alive", "Cookie:" + cookie_,
                                          "Host:127.0.0.1:" + std::to_string(server_->Port()),
                                          "Origin:127.0.0.1:" + std::to_string(server_->Port()) + "/dravik",
                                          "X-Requested-With:XMLHttpRequest"};
        if (chunked) lines.push_back("Transfer-Encoding: chunked");
        for (const std::string& h : lines) headers = curl_slist_append(headers, h.c_str());
        std::string body;
        const std::string url = server_->BaseUrl() + "/upload";
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        const CURLcode code = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_slist_free_all(headers);
        curl_mime_free(mime);
        curl_easy_cleanup(curl);
        ASSERT_EQ(CURLE_OK, code);
        ASSERT_EQ(200, status) << body;

        auto reply = ParseJson(body);
        EXPECT_EQ(name, Str(reply, "name"));
        EXPECT_EQ(home_, Str(reply, "parent"));
        EXPECT_TRUE(IsServerDate(Str(reply, "modified")));
        EXPECT_EQ(content, Download(Str(reply, "nodeRef")));
        EXPECT_EQ(Md5Upper(content), server_->Find("alice", "/" + name)->checksum);
    }
    const auto logged = server_->Requests("upload");
    ASSERT_EQ(2u, logged.size());
    EXPECT_EQ("100-continue", logged[0].Header("Expect"));
    EXPECT_EQ("chunked", logged[1].Header("Transfer-Encoding"));
}

TEST_F(CallsTest, DownloadOfAFolderOrAMalformedReferenceFails) {
    const std::string folder = server_->MakeFolder("alice", "/f");
    EXPECT_EQ(400, Get("/dravik/api/node/" + PathRef(folder) + "/content", cookie_)->status);
    EXPECT_EQ(404, Get("/dravik/api/node/" + Id(folder) + "/content", cookie_)->status);
}

// ---- bodies that are not JSON -------------------------------------------------------------

TEST_F(CallsTest, InvalidJsonBodiesAre400AndChangeNothing) {
    const std::string ref = server_->PutFile("alice", "/a.txt", "a");
    const std::string paths[] = {"/dravik/file/createFolder",
                                 "/dravik/file/appcreateFolder",
                                 "/dravik/file/copy/" + PathRef(home_),
                                 "/dravik/file/move/" + PathRef(home_),
                                 "/dravik/file/delete",
                                 "/dravik/file/untrashes",
                                 "/dravik/file/change/" + PathRef(ref)};
    // A name with an unescaped quote, as the programs would send it, among other breakage.
    const std::string bodies[] = {R"({"prop_cm_name":"say "hi""})", "", "{", "[]", "{} trailing",
                                  std::string("{\"prop_cm_name\":\"\xFF\"}")};
    for (const std::string& path : paths)
        for (const std::string& body : bodies)
            EXPECT_EQ(400, PostJson(path, cookie_, body)->status) << path << " " << body;
    EXPECT_EQ(1u, server_->Tree("alice").size());
    EXPECT_EQ("a.txt", server_->Find("alice", "/a.txt")->path.substr(1));
}

// ---- version page -------------------------------------------------------------------------

TEST_F(CallsTest, VersionPageAnnouncesTheVersionAfterAFullWidthColon) {
    server_->SetClientVersion("2.3.4", "installer bytes");
    auto page = http_->Get("/download.html");
    ASSERT_TRUE(page);
    EXPECT_EQ(200, page->status);
    EXPECT_NE(std::string::npos,
              page->body.find("<div id=\"WindowsClientVersionInfo\">\xE6\xA3\x80\xE6\xB5\x8B\xE5\x88\xB0\xE6\x96\xB0"
                              "\xE7\x89\x88\xE6\x9C\xAC\xEF\xBC\x9A"
                              "2.3.4</div>"));
    auto installer = http_->Get("/download/DravikClient.exe");
    ASSERT_TRUE(installer);
    EXPECT_EQ("installer bytes", installer->body);
}

// ---- many callers at once -------------------------------------------------------------------

TEST_F(CallsTest, ConcurrentCallsKeepOneConsistentTree) {
    constexpr int kThreads = 8, kFiles = 10;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            httplib::Client client("127.0.0.1", server_->Port());
            const std::string folder = "t" + std::to_string(t);
            auto made = client.Post("/dravik/file/createFolder", httplib::Headers{{"Cookie", cookie_}},
                                    FolderBody(home_, folder), "application/json");
            if (!made || made->status != 200) {
                ++failures;
                return;
            }
            rapidjson::Document doc;
            doc.Parse(made->body.c_str());
            const std::string folderRef = doc["persistedObject"].GetString();
            for (int f = 0; f < kFiles; ++f) {
                const std::string content = folder + "/" + std::to_string(f);
                const std::string boundary = "------------------00000000000" + std::to_string(t);
                auto res = client.Post("/upload", httplib::Headers{{"Cookie", cookie_}},
                                       SyncUploadBody(boundary, cookie_, folderRef, "", Md5Upper(content),
                                                      "/f" + std::to_string(f), content),
                                       "multipart/form-data; boundary=" + boundary);
                if (!res || res->status != 200) ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, failures.load());
    int files = 0;
    for (const TreeEntry& e : server_->Tree("alice", true)) {
        if (e.folder) continue;
        ++files;
        EXPECT_EQ(e.path.substr(1, e.path.find('/', 1) - 1) + "/" + e.path.substr(e.path.rfind('/') + 2),
                  e.content);
    }
    EXPECT_EQ(kThreads * kFiles, files);
}

}  // namespace
}  // namespace tstest
