// The readers of the server's JSON replies, the request bodies, URL parts and headers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/core/HttpClient.h"

namespace {

const std::string kPrefix = "workspace://SpacesStore/";

// One listing item; `extra` is spliced in before the closing brace, `drop` removes a key.
std::string Item(const std::string& name, const std::string& type = "content", const std::string& extra = "",
                 const std::string& drop = "") {
    std::vector<std::pair<std::string, std::string>> members = {
        {"dbid", "\"17\""},
        {"ref", "\"id-" + name + "\""},
        {"name", "\"" + name + "\""},
        {"type", "\"" + type + "\""},
        {"size", "1234"},
        {"ver", "\"1.0\""},
        {"perm", R"({"ch":true,"c":false,"w":true,"d":true,"down":true})"},
        {"created", "\"Thu Jan 01 08:00:00 CST 1970\""},
        {"creator", R"({"name":"ann","dname":"Ann"})"},
        {"modified", "\"Fri Mar 04 10:20:30 GMT 2016\""},
        {"modifier", R"({"name":"bob","dname":"Bob"})"},
        {"comment", "2"},
    };
    std::string out = "{";
    for (const auto& [key, value] : members) {
        if (key == drop) continue;
        if (out.size() > 1) out += ",";
        out += "\"" + key + "\":" + value;
    }
    if (!extra.empty()) out += "," + extra;
    return out + "}";
}

std::string Listing(const std::string& items, const std::string& parents = "[]") {
    return R"({"metadata":)" + Item("Folder", "folder") + R"(,"parents":)" + parents +
           R"(,"totalRecords":42,"hasMoreItems":true,"items":[)" + items + "]}";
}

TEST(WebApiJsonTest, ListingItemsAreReadWithTheirPrefixNamesAndFlags) {
    CloudListing listing;
    const std::string body =
        Listing(Item("report.final.pdf") + "," + Item("README") + "," +
                    Item("shown", "content", R"("oname":"original.txt","shared":true,"published":true)") + "," +
                    Item("Sub", "folder", R"("isPublicFile":true)"),
                R"([{"ref":"p1","name":"Team","collaborated":true},{"ref":"p2","name":"Docs","collaborated":false}])");
    ASSERT_TRUE(HttpClient::ParseListing(body, kPrefix, listing));
    EXPECT_EQ(listing.node.name, "Folder");
    EXPECT_TRUE(listing.node.IsFolder());
    EXPECT_EQ(listing.totalRecords, 42);
    EXPECT_EQ(listing.hasMoreItems, 1);
    ASSERT_EQ(listing.children.size(), 4u);

    const CloudNode& pdf = listing.children[0];
    EXPECT_EQ(pdf.nodeRef, kPrefix + "id-report.final.pdf");
    EXPECT_EQ(pdf.dbid, "17");
    EXPECT_EQ(pdf.extension, ".pdf");
    EXPECT_EQ(pdf.kindFlags, 0);
    EXPECT_EQ(pdf.size, 1234);
    EXPECT_EQ(pdf.version, "1.0");
    EXPECT_EQ(pdf.permissionBits, kPermCh | kPermW | kPermD | kPermDown);
    EXPECT_EQ(pdf.commentCount, 2);
    EXPECT_EQ(pdf.creator.role, CloudNodeStamp::RoleCreator);
    EXPECT_EQ(pdf.creator.accountName, "ann");
    EXPECT_EQ(pdf.creator.displayName, "Ann");
    EXPECT_EQ(pdf.creator.time.year, 1970);
    EXPECT_EQ(pdf.creator.time.hour, 8);
    EXPECT_EQ(pdf.creator.time.utcOffsetHours, 8);
    EXPECT_EQ(pdf.modifier.role, CloudNodeStamp::RoleModifier);
    EXPECT_EQ(pdf.modifier.time.year, 2016);
    EXPECT_EQ(pdf.modifier.time.utcOffsetHours, 0);
    EXPECT_EQ(pdf.sharingFlags, 0);

    EXPECT_EQ(listing.children[1].extension, "");
    EXPECT_EQ(listing.children[2].name, "original.txt");  // "oname" wins
    EXPECT_EQ(listing.children[2].sharingFlags, kSharingShared | kSharingPublished);
    EXPECT_TRUE(listing.children[3].IsFolder());
    EXPECT_EQ(listing.children[3].extension, "");
    EXPECT_EQ(listing.children[3].sharingFlags, kSharingIsPublicFile);

    ASSERT_EQ(listing.parents.size(), 2u);
    EXPECT_EQ(listing.parents[0].nodeRef, "p1");  // unchanged, without the prefix
    EXPECT_EQ(listing.parents[0].name, "Team");
    EXPECT_EQ(listing.parents[0].kindFlags, 2);
    EXPECT_EQ(listing.parents[0].spareText, "Team");
    EXPECT_EQ(listing.parents[1].kindFlags, 0);
    EXPECT_EQ(listing.parents[1].spareText, "");
}

TEST(WebApiJsonTest, AMissingOrMistypedKeyFailsTheWholeListing) {
    const std::vector<std::string> broken = {
        Item("a", "content", "", "comment"),
        Item("a", "content", "", "size"),
        Item("a", "content", "", "perm"),
        Item("a", "content", "", "creator"),
        Item("a", "content", "", "ref"),
        Item("a", "content", "", "name"),
        Item("a", "content", "", "type"),
        Item("a", "content", R"("shared":"yes")"),
        R"({"dbid":"1","ref":"r","name":"a","type":"content","size":"12","ver":"1","perm":{"ch":true,"c":true,"w":true,"d":true,"down":true},"created":"Thu Jan 01 08:00:00 CST 1970","creator":{"name":"a","dname":"A"},"modified":"Thu Jan 01 08:00:00 CST 1970","modifier":{"name":"a","dname":"A"},"comment":0})",
        R"({"dbid":"1","ref":"r","name":"a","type":"content","size":1,"ver":"1","perm":{"ch":true,"c":true,"w":true,"d":true},"created":"Thu Jan 01 08:00:00 CST 1970","creator":{"name":"a","dname":"A"},"modified":"Thu Jan 01 08:00:00 CST 1970","modifier":{"name":"a","dname":"A"},"comment":0})",
        R"({"dbid":"1","ref":"r","name":"a","type":"content","size":1,"ver":"1","perm":{"ch":true,"c":true,"w":true,"d":true,"down":true},"created":"yesterday","creator":{"name":"a","dname":"A"},"modified":"Thu Jan 01 08:00:00 CST 1970","modifier":{"name":"a","dname":"A"},"comment":0})",
        "42",
    };
    for (const std::string& item : broken) {
        CloudListing listing;
        EXPECT_FALSE(HttpClient::ParseListing(Listing(item), kPrefix, listing)) << item;
    }
    const std::vector<std::string> brokenDocuments = {
        "", "not json", "[]", R"({"metadata":{}})", Listing("").substr(1),
        R"({"metadata":)" + Item("F", "folder") + R"(,"parents":[],"totalRecords":"1","hasMoreItems":true,"items":[]})",
        R"({"metadata":)" + Item("F", "folder") + R"(,"parents":[],"totalRecords":1,"hasMoreItems":1,"items":[]})",
        R"({"metadata":)" + Item("F", "folder") + R"(,"parents":[{"ref":"p","name":"n"}],"totalRecords":1,"hasMoreItems":true,"items":[]})",
        "{\"metadata\":" + Item("bad\xff\xfe") + R"(,"parents":[],"totalRecords":1,"hasMoreItems":true,"items":[]})",
        // Nested deeper than any stack holds a recursive reader: refused, never a crash.
        std::string(200000, '['),
        R"({"metadata":)" + Item("F", "folder") + R"(,"parents":[],"totalRecords":1,"hasMoreItems":true,"items":)" +
            std::string(200000, '[') + std::string(200000, ']') + "}",
    };
    for (const std::string& body : brokenDocuments) {
        CloudListing listing;
        EXPECT_FALSE(HttpClient::ParseListing(body, kPrefix, listing)) << body;
    }
}

TEST(WebApiJsonTest, ItemsWhoseNamesCouldLeaveTheirFolderAreLeftOut) {
    CloudListing listing;
    const std::string body = Listing(Item("ok.txt") + "," + Item("..", "folder") + "," + Item(".") + "," +
                                     Item("a/b") + "," + Item("a\\\\b") + "," + Item("tab\\u0009name") + "," +
                                     Item("nul\\u0000name") + "," + Item("", "folder") + "," + Item("fine"));
    ASSERT_TRUE(HttpClient::ParseListing(body, kPrefix, listing));
    ASSERT_EQ(listing.children.size(), 2u);
    EXPECT_EQ(listing.children[0].name, "ok.txt");
    EXPECT_EQ(listing.children[1].name, "fine");
}

TEST(WebApiJsonTest, SafeServerNames) {
    for (const char* ok : {"a", "a.b", "...", "..a", "名前.txt", "a b"}) EXPECT_TRUE(IsSafeServerName(ok)) << ok;
    for (const std::string& bad : {std::string(""), std::string("."), std::string(".."), std::string("a/b"),
                                   std::string("a\\b"), std::string("a\nb"), std::string("a\x7f"),
                                   std::string("a\0b", 3)}) {
        EXPECT_FALSE(IsSafeServerName(bad));
    }
}

TEST(WebApiJsonTest, GroupRootsAreAnArrayOfItems) {
    CloudListing listing;
    listing.children.push_back(CloudNode());
    ASSERT_TRUE(HttpClient::ParseGroupRoots("[" + Item("Sales", "folder") + "]", kPrefix, listing));
    ASSERT_EQ(listing.children.size(), 1u);
    EXPECT_EQ(listing.children[0].name, "Sales");
    EXPECT_FALSE(HttpClient::ParseGroupRoots("{}", kPrefix, listing));
    EXPECT_FALSE(HttpClient::ParseGroupRoots("[" + Item("a", "content", "", "ver") + "]", kPrefix, listing));
}

TEST(WebApiJsonTest, UserInfoGivesTheNodeReferencePrefix) {
    const std::string good =
        R"({"userName":"alice","email":"a@x","homeFolder":"workspace://SpacesStore/home1","formFolder":"f",)"
        R"("name":"Alice","trashesHome":"workspace://SpacesStore/trash1","quota":"10","sizeCurrent":"2",)"
        R"("ticket":"T","cmServerName":"srv"})";
    ServerUserInfo user;
    ASSERT_TRUE(HttpClient::ParseUserInfo(good, user));
    EXPECT_EQ(user.userName, "alice");
    EXPECT_EQ(user.name, "Alice");
    EXPECT_EQ(user.trashesHome, "workspace://SpacesStore/trash1");
    EXPECT_EQ(user.cmServerName, "srv");
    EXPECT_EQ(user.nodeRefPrefix, "workspace://SpacesStore/");

    std::string noSlash = good;
    noSlash.replace(noSlash.find("workspace://SpacesStore/home1"), 29, "home1");
    EXPECT_FALSE(HttpClient::ParseUserInfo(noSlash, user));
    std::string missing = good;
    missing.replace(missing.find("\"ticket\""), 8, "\"tocket\"");
    EXPECT_FALSE(HttpClient::ParseUserInfo(missing, user));
    EXPECT_FALSE(HttpClient::ParseUserInfo(R"({"msg":"Wrong account or password"})", user));
}

TEST(WebApiJsonTest, ItemRepliesAndMessages) {
    CloudItem item;
    ASSERT_TRUE(HttpClient::ParseItemReply(
        R"({"name":"n.txt","nodeRef":"workspace://SpacesStore/9","parent":"workspace://SpacesStore/1","modified":"Thu Jan 01 08:00:00 CST 1970","msg":"x"})",
        item));
    EXPECT_EQ(item.name, "n.txt");
    EXPECT_EQ(item.nodeRef, "workspace://SpacesStore/9");
    EXPECT_EQ(item.parentRef, "workspace://SpacesStore/1");
    EXPECT_EQ(item.modified.year, 1970);
    // An unreadable date is ignored; a missing one is not.
    EXPECT_TRUE(HttpClient::ParseItemReply(R"({"name":"n","nodeRef":"r","parent":"p","modified":"?"})", item));
    EXPECT_FALSE(HttpClient::ParseItemReply(R"({"name":"n","nodeRef":"r","parent":"p"})", item));

    std::string msg;
    ASSERT_TRUE(HttpClient::ParseReplyMessage(R"({"msg":"Delete success"})", msg));
    EXPECT_EQ(msg, "Delete success");
    EXPECT_FALSE(HttpClient::ParseReplyMessage(R"({"message":"x"})", msg));
    EXPECT_FALSE(HttpClient::ParseReplyMessage(R"({"msg":"the reply ends here)", msg));
}

TEST(WebApiJsonTest, OnlyTheWordSuccessConfirms) {
    for (const char* yes : {"success", "Success", "Delete success", "Restore success", "SUCCESS.", "successfully deleted"})
        EXPECT_TRUE(HttpClient::IsSuccessMessage(yes)) << yes;
    for (const char* no : {"", "unsuccessful", "not success", "Not successful", "partly failed",
                           "success: no", "injected fault", "successor", "error, success"})
        EXPECT_FALSE(HttpClient::IsSuccessMessage(no)) << no;
}

TEST(WebApiJsonTest, CreatedFoldersComeParentsFirst) {
    const std::string body =
        R"([{"name":"c","nodeRef":"C","parent":"B","modified":"Thu Jan 01 08:00:00 CST 1970"},)"
        R"("skipped",)"
        R"({"name":"a","nodeRef":"A","parent":"X","modified":"Thu Jan 01 08:00:00 CST 1970"},)"
        R"({"name":"b","nodeRef":"B","parent":"A","modified":"Thu Jan 01 08:00:00 CST 1970"}])";
    std::vector<CloudItem> created;
    ASSERT_TRUE(HttpClient::ParseCreatedFolders(body, created));
    ASSERT_EQ(created.size(), 3u);
    EXPECT_EQ(created[0].nodeRef, "A");
    EXPECT_EQ(created[1].nodeRef, "B");
    EXPECT_EQ(created[2].nodeRef, "C");
    EXPECT_EQ(created[2].parentRef, "B");

    EXPECT_FALSE(HttpClient::ParseCreatedFolders(R"([{"name":"a","nodeRef":"A","parent":"X"}])", created));
    EXPECT_FALSE(HttpClient::ParseCreatedFolders(R"({"name":"a"})", created));

    // Entries caught in a cycle of parents are dropped.
    std::vector<CreatedFolderEntry> cyclic = {{"P", "Q", "p", {}}, {"Q", "P", "q", {}}, {"R", "Z", "r", {}}};
    const auto ordered = HttpClient::OrderParentsFirst(cyclic);
    ASSERT_EQ(ordered.size(), 1u);
    EXPECT_EQ(ordered[0].nodeRef, "R");
}

TEST(WebApiJsonTest, BodiesAreWrittenAsJson) {
    EXPECT_EQ(HttpClient::DeleteBody("P", {"R1", "R2", "R3"}), R"({"nodeRef":["R1","R2","R3"],"parentId":"P"})");
    EXPECT_EQ(HttpClient::DeleteBody("P", {}), R"({"nodeRef":[],"parentId":"P"})");
    EXPECT_EQ(HttpClient::RestoreBody({"R1"}), R"({"nodeRef":["R1"]})");
    EXPECT_EQ(HttpClient::CreateFolderBody("D", "a/b"),
              R"({"alf_destination":"D","prop_cm_name":"a/b","prop_cm_title":"","prop_cm_description":""})");
    // Quotes, back-slashes and control characters in names cannot break the body.
    EXPECT_EQ(HttpClient::RenameBody("say \"hi\"\\\n.txt"), R"({"prop_cm_name":"say \"hi\"\\\n.txt"})");
    EXPECT_EQ(HttpClient::DeleteBody("\"}", {"\","}), R"({"nodeRef":["\","],"parentId":"\"}"})");
}

TEST(WebApiJsonTest, ReferencesBecomeEncodedPaths) {
    EXPECT_EQ(HttpClient::ReferencePath("workspace://SpacesStore/abc-123"), "workspace/SpacesStore/abc-123");
    EXPECT_EQ(HttpClient::ReferencePath("workspace://SpacesStore/a b?c#d"), "workspace/SpacesStore/a%20b%3Fc%23d");
    EXPECT_EQ(HttpClient::ReferencePath("plain"), "plain");
    EXPECT_EQ(HttpClient::EncodePath("x:y/ü"), "x%3Ay/%C3%BC");
}

TEST(WebApiHeadersTest, FixedHeaderListWithBodyFieldsOnlyForABody) {
    HttpClient http;
    const std::vector<std::string> get = http.BuildHeaders(0);
    ASSERT_EQ(get.size(), 10u);
    EXPECT_EQ(get[0], "Accept:application/json, text/javascript, */*; q=0.01");
    EXPECT_EQ(get[3], "Connection:keep-alive");
    EXPECT_EQ(get[4], "Cookie:");
    for (const std::string& l : get) {
        EXPECT_NE(l.rfind("Content-Length:", 0), 0u) << l;
        EXPECT_NE(l.rfind("Content-Type:", 0), 0u) << l;
    }
    EXPECT_EQ(get[9], "X-Requested-With:XMLHttpRequest");

    const std::vector<std::string> post = http.BuildHeaders(25);
    ASSERT_EQ(post.size(), 12u);
    EXPECT_EQ(post[4], "Content-Length:25");
    EXPECT_EQ(post[5], "Content-Type:application/json");
}

TEST(WebApiCallsTest, NothingIsSentWithoutALoginAndTheErrorCodeIsReset) {
    HttpClient http;
    int error = 77;
    CloudListing listing;
    EXPECT_EQ(http.EnumDirectory("x", 0, 0, listing, &error), 0);
    EXPECT_EQ(error, 0);
    error = 77;
    EXPECT_EQ(http.Delete("p", {"r"}, &error), 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(http.GetLoginState(), 0);
    EXPECT_EQ(http.Logout(), 1);
}

}  // namespace
