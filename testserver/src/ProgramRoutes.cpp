// The calls of the sync program and of the client program. Where both programs use one
// call with different replies (login, upload, rename), one reply carries every member
// either program reads.
#include <charconv>

#include "Json.h"
#include "ServerImpl.h"
#include "Text.h"

namespace testserver {

namespace {

using httplib::Request;
using Impl = TestServer::Impl;

constexpr int kBadRequest = 400;
constexpr int kUnauthorized = 401;
constexpr int kNotFound = 404;

Reply NotLoggedIn() { return ErrorReply(kUnauthorized, "not logged in"); }
Reply InvalidJson() { return ErrorReply(kBadRequest, "the body is not valid JSON"); }

// The body as a JSON object, or false.
bool ParseBody(const Request& req, rapidjson::Document& doc) {
    return ParseJson(req.body, doc) && doc.IsObject();
}

// Full references ("workspace://SpacesStore/<id>") to ids; false when one is not one.
bool IdsFromRefs(const std::vector<std::string>& refs, std::vector<std::string>& ids) {
    ids.clear();
    for (const std::string& ref : refs) {
        auto id = IdFromRef(ref);
        if (!id) return false;
        ids.push_back(*id);
    }
    return true;
}

std::optional<long long> ParseInteger(const std::string& text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

// Paging of a listing: no query gives every item; "size" and "pos" give page "pos"
// (1-based) of "size" items. A paged-first-reply fault shortens an unpaged answer.
struct Page {
    std::size_t first = 0, count = 0;
    bool more = false;
};

bool ChoosePage(const Request& req, const CallContext& context, std::size_t total, Page& page) {
    page = Page{0, total, false};
    long long size = 0, pos = 0;
    if (req.has_param("size")) {
        auto v = ParseInteger(req.get_param_value("size"));
        if (!v) return false;
        size = *v;
    }
    if (req.has_param("pos")) {
        auto v = ParseInteger(req.get_param_value("pos"));
        if (!v) return false;
        pos = *v;
    }
    if (size > 0 && pos >= 1) {
        const auto first = static_cast<unsigned long long>(pos - 1) * static_cast<unsigned long long>(size);
        page.first = static_cast<std::size_t>(std::min<unsigned long long>(first, total));
        page.count = std::min<std::size_t>(static_cast<std::size_t>(size), total - page.first);
    } else if (context.firstPageSize > 0) {
        page.count = std::min<std::size_t>(static_cast<std::size_t>(context.firstPageSize), total);
    }
    page.more = page.first + page.count < total;
    return true;
}

// ---- login and logout -------------------------------------------------------------------

Reply Login(Impl& s, const Request& req) {
    if (!req.has_param("user[email]") || !req.has_param("user[pw]"))
        return ErrorReply(kBadRequest, "user[email] and user[pw] are required");
    const std::string account = req.get_param_value("user[email]");
    const std::string password = req.get_param_value("user[pw]");
    AccountView view;
    const std::string token = s.Locked([&](Store& store) {
        std::string t = store.Login(account, password);
        if (!t.empty()) store.Account(account, view);
        return t;
    });
    const std::string cookieName = kSessionCookie;
    if (token.empty()) {
        // A refused login still sets a cookie (one that opens nothing) and answers with a
        // one-member message, which the sync program shows as the server's text.
        Reply reply = JsonReply(200, MessageBody("Wrong account or password"));
        reply.headers.emplace_back("Set-Cookie", cookieName + "=anonymous");
        return reply;
    }
    JsonOut out;
    out.W().StartObject();
    out.Str("userName", account);
    out.Str("email", account.find('@') != std::string::npos ? account : account + "@localhost");
    out.Str("homeFolder", MakeRef(view.homeId));
    out.Str("formFolder", MakeRef(view.homeId));
    out.Str("name", view.displayName);
    out.Str("trashesHome", MakeRef(view.trashId));
    out.Str("quota", "10737418240");
    out.Str("sizeCurrent", std::to_string(view.usedBytes));
    out.Str("ticket", "TICKET_" + token);
    out.Str("cmServerName", "dravik-testserver");
    out.W().EndObject();
    Reply reply = JsonReply(200, out.Text());
    reply.headers.emplace_back("Set-Cookie", cookieName + "=" + token);
    return reply;
}

Reply Logout(Impl& s, const Request& req) {
    auto session = s.SessionOf(req);
    if (!session) return NotLoggedIn();
    s.Locked([&](Store& store) { return store.Logout(session->token); });
    return JsonReply(200, MessageBody("Logout success"));
}

// ---- the sync program's listing, download and upload ------------------------------------

Reply AllChildNodes(Impl& s, const Request& req) {
    auto session = s.SessionOf(req);
    if (!session) return NotLoggedIn();
    std::vector<ItemView> items;
    Status status = s.Locked([&](Store& store) { return store.ListHome(session->account, items); });
    if (!status.ok()) return StatusReply(status);
    JsonOut out;
    out.W().StartArray();
    for (const ItemView& item : items) {
        out.W().StartObject();
        out.Str("type", item.folder ? "folder" : "content");
        out.Str("nodeRef", MakeRef(item.id));
        out.Str("name", item.path);
        out.Int("size", item.size);
        out.Str("checksum", item.checksum);
        out.Str("modified", FormatServerDate(item.modified));
        out.W().EndObject();
    }
    out.W().EndArray();
    return JsonReply(200, out.Text());
}

Reply Content(Impl& s, const Request& req) {
    auto session = s.SessionOf(req);
    if (!session) return NotLoggedIn();
    auto id = IdFromPathRef(req.matches[1].str());
    if (!id) return ErrorReply(kNotFound, "not a node reference");
    ItemView item;
    Status status = s.Locked([&](Store& store) { return store.Item(session->account, *id, item); });
    if (!status.ok()) return StatusReply(status);
    if (item.folder) return ErrorReply(kBadRequest, "a folder has no content");
    Reply reply;
    reply.contentType = "application/octet-stream";
    reply.file = item.blob;
    return reply;
}

const httplib::MultipartFormData* Part(const Request& req, const char* name) {
    auto it = req.files.find(name);
    return it == req.files.end() ? nullptr : &it->second;
}

Reply Upload(Impl& s, const Request& req) {
    auto session = s.SessionOf(req);
    if (const auto* cookie = Part(req, "cookie"); !session && cookie)
        session = s.SessionFromCookieText(cookie->content);
    if (!session) return NotLoggedIn();
    if (!req.is_multipart_form_data()) return ErrorReply(kBadRequest, "a multipart form is expected");
    const auto* destination = Part(req, "destination");
    const auto* file = Part(req, "Filedata");
    if (!destination || !file) return ErrorReply(kBadRequest, "the fields destination and Filedata are required");
    auto destinationId = IdFromRef(TrimSpace(destination->content));
    if (!destinationId) return ErrorReply(kBadRequest, "destination is not a node reference");
    std::string updateId;
    if (const auto* update = Part(req, "updatenoderef")) {
        const std::string ref = TrimSpace(update->content);
        if (!ref.empty()) {
            auto id = IdFromRef(ref);
            if (!id) return ErrorReply(kBadRequest, "updatenoderef is not a node reference");
            updateId = *id;
        }
    }
    // The sync program sends the file's path with a leading '/': the name is its last part.
    // Quotes and line breaks arrive percent-encoded, as browsers send them in a form.
    std::string name = DecodeFormFileName(file->filename);
    if (const std::size_t slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
    if (updateId.empty() && !IsValidItemName(name)) return ErrorReply(kBadRequest, "invalid file name");
    BlobPtr blob = Blob::Write(s.blobDir, file->content);
    if (const auto* md5 = Part(req, "MD5")) {
        const std::string expected = TrimSpace(md5->content);
        if (!expected.empty() && !EqualsNoCaseAscii(expected, blob->Md5()))
            return ErrorReply(kBadRequest, "MD5 does not match the content");
    }
    ItemView item;
    Status status = s.Locked([&](Store& store) {
        return store.StoreFile(session->account, *destinationId, updateId, name, blob, item);
    });
    if (!status.ok()) return StatusReply(status);
    JsonOut out;
    out.W().StartObject();
    WriteItemMembers(out, item);
    out.Int("size", item.size);
    out.Str("checksum", item.checksum);
    out.Str("msg", "Upload success");
    out.W().EndObject();
    return JsonReply(200, out.Text());
}

// ---- folders, copy, move, delete, restore, rename ---------------------------------------

// Parses the folder calls' body: {"alf_destination": D, "prop_cm_name": N, ...}.
bool FolderBody(const Request& req, std::string& parentId, std::string& name, Reply& refusal) {
    rapidjson::Document doc;
    if (!ParseBody(req, doc)) {
        refusal = InvalidJson();
        return false;
    }
    std::string destination;
    if (!GetString(doc, "alf_destination", destination) || !GetString(doc, "prop_cm_name", name)) {
        refusal = ErrorReply(kBadRequest, "alf_destination and prop_cm_name are required");
        return false;
    }
    auto id = IdFromRef(destination);
    if (!id) {
        refusal = ErrorReply(kBadRequest, "alf_destination is not a node reference");
        return false;
    }
    parentId = *id;
    return true;
}

Reply CreateFolder(Impl& s, const Request& req) {
    auto session = s.SessionOf(req);
    if (!session) return NotLoggedIn();
    std::string parentId, name;
    Reply refusal;
    if (!FolderBody(req, parentId, name, refusal)) return refusal;
    ItemView folder;
    Status status =
        s.Locked([&](Store& store) { return store.CreateFolder(session->account, parentId, name, folder); });
    if (!status.ok()) return StatusReply(status);
    JsonOut out;
    out.W().StartObject();
    out.Str("message", "Folder created Successfully");
    out.Str("persistedObject", MakeRef(folder.id));
    WriteItemMembers(out, folder);
    out.W().EndObject();
    return JsonReply(200, out.Text());
}

Reply CreateFolderPath(Impl& s, const Request& req) {
    auto session = s.SessionOf(req);
    if (!session) return NotLoggedIn();
    std::string parentId, path;
    Reply refusal;
    if (!FolderBody(req, parentId, path, refusal)) return refusal;
    std::vector<std::string> names;
    for (std::size_t pos = 0; pos <= path.size();) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        if (end > pos) names.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    std::vector<ItemView> levels;
    Status status = s.Locked(
        [&](Store& store) { return store.CreateFolderPath(session->account, parentId, names, levels); });
    if (!status.ok()) return StatusReply(status);
    JsonOut out;
    out.W().StartArray();
    for (const ItemView& level : levels) {
        out.W().StartObject();
        WriteItemMembers(out, level);
        out.W().EndObject();
    }
    out.W().EndArray();
    return JsonReply(200, out.Text());
}

Reply CopyOrMove(Impl& s, const Request& req, bool move) {
    auto session = s.SessionOf(req);
    if (!session) return NotLoggedIn();
    auto targetId = IdFromPathRef(req.matches[1].str());
    if (!targetId) return ErrorReply(kNotFound, "not a node reference");
    rapidjson::Document doc;
    if (!ParseBody(req, doc)) return InvalidJson();
    std::vector<std::string> refs, ids;
    if (!GetStringArray(doc, "nodeRefs", refs)) return ErrorReply(kBadRequest, "nodeRefs is required");
    if (!IdsFromRefs(refs, ids)) return ErrorReply(kBadRequest, "nodeRefs holds a text that is not a node reference");
    std::vector<ItemView> results;
    Status status = s.Locked([&](Store& store) {
        return move ? store.MoveItems(session->account, *targetId, ids, results)
                    : store.CopyItems(session->account, *targetId, ids, results);
    });
    if (!status.ok()) return StatusReply(status);
    JsonOut out;
    out.W().StartObject();
    out.Bool("overallSuccess", true);
    out.Int("successCount", static_cast<long long>(results.size()));
    out.Int("failureCount", 0);
    out.Key("results");
    out.W().StartArray();
    for (const ItemView& item : results) {
        out.W().StartObject();
        out.Str("action", move ? "moveFile" : "copyFile");
        out.Str("id", item.name);
        out.Str("nodeRef", MakeRef(item.id));
        out.Str("type", item.folder ? "folder" : "content");
        out.Bool("success", true);
        out.W().EndObject();
    }
    out.W().EndArray();
    out.W().EndObject();
    return JsonReply(200, out.Text());
}

Reply DeleteOrRestore(Impl& s, const Request& req, bool restore) {
    auto session = s.SessionOf(req);
    if (!session) return NotLoggedIn();
    rapidjson::Document doc;
    if (!ParseBody(req, doc)) return InvalidJson();
    std::vector<std::string> refs, ids;
    if (!GetStringArray(doc, "nodeRef", refs)) return ErrorReply(kBadRequest, "nodeRef is required");
    if (!IdsFromRefs(refs, ids)) return ErrorReply(kBadRequest, "nodeRef holds a text that is not a node reference");
    Status status = s.Locked([&](Store& store) {
        return restore ? store.RestoreItems(session->account, ids) : store.DeleteItems(session->account, ids);
    });
    if (!status.ok()) return StatusReply(status);
    return JsonReply(200, MessageBody(restore ? "Restore success" : "Delete success"));
}

Reply Rename(Impl& s, const Request& req) {
    auto session = s.SessionOf(req);
    if (!session) return NotLoggedIn();
    auto id = IdFromPathRef(req.matches[1].str());
    if (!id) return ErrorReply(kNotFound, "not a node reference");
    rapidjson::Document doc;
    if (!ParseBody(req, doc)) return InvalidJson();
    std::string name;
    if (!GetString(doc, "prop_cm_name", name)) return ErrorReply(kBadRequest, "prop_cm_name is required");
    ItemView item;
    Status status = s.Locked([&](Store& store) { return store.Rename(session->account, *id, name, item); });
    if (!status.ok()) return StatusReply(status);
    JsonOut out;
    out.W().StartObject();
    out.Str("msg", "Successfully renamed");
    WriteItemMembers(out, item);
    out.W().EndObject();
    return JsonReply(200, out.Text());
}

// ---- the client's listings --------------------------------------------------------------

Reply Groups(Impl& s, const Request& req, const CallContext& context) {
    auto session = s.SessionOf(req);
    if (!session) return NotLoggedIn();
    const bool isPublic = req.get_param_value("public") == "true";
    const std::vector<ItemView> groups =
        s.Locked([&](Store& store) { return store.ListGroups(session->account, isPublic); });
    Page page;
    if (!ChoosePage(req, context, groups.size(), page)) return ErrorReply(kBadRequest, "size and pos must be numbers");
    JsonOut out;
    out.W().StartArray();
    for (std::size_t i = page.first; i < page.first + page.count; ++i) WriteListItem(out, groups[i]);
    out.W().EndArray();
    return JsonReply(200, out.Text());
}

Reply List(Impl& s, const Request& req, const CallContext& context) {
    auto session = s.SessionOf(req);
    if (!session) return NotLoggedIn();
    const std::string id = req.matches[1].str();
    ItemView self;
    std::vector<ItemView> parents, children;
    Status status = s.Locked(
        [&](Store& store) { return store.ListNode(session->account, id, self, parents, children); });
    if (!status.ok()) return StatusReply(status);
    Page page;
    if (!ChoosePage(req, context, children.size(), page))
        return ErrorReply(kBadRequest, "size and pos must be numbers");
    JsonOut out;
    out.W().StartObject();
    out.Key("metadata");
    WriteListItem(out, self);
    out.Key("parents");
    out.W().StartArray();
    for (const ItemView& parent : parents) {
        out.W().StartObject();
        out.Str("ref", parent.id);
        out.Str("name", parent.name);
        out.Bool("collaborated", parent.collaborated);
        out.W().EndObject();
    }
    out.W().EndArray();
    out.Int("totalRecords", static_cast<long long>(children.size()));
    out.Bool("hasMoreItems", page.more);
    out.Key("items");
    out.W().StartArray();
    for (std::size_t i = page.first; i < page.first + page.count; ++i) WriteListItem(out, children[i]);
    out.W().EndArray();
    out.W().EndObject();
    return JsonReply(200, out.Text());
}

// ---- the client's version check ---------------------------------------------------------

Reply VersionPage(Impl& s) {
    const std::string version = s.Locked([&](Store&) { return s.clientVersion; });
    Reply reply;
    reply.contentType = "text/html; charset=utf-8";
    // The version follows a full-width colon, as the client reads it; nothing after it.
    reply.body =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Dravik downloads</title></head>\n"
        "<body><h1>Dravik</h1><div id=\"WindowsClientVersionInfo\">\xE6\xA3\x80\xE6\xB5\x8B\xE5\x88\xB0"
        "\xE6\x96\xB0\xE7\x89\x88\xE6\x9C\xAC\xEF\xBC\x9A" +
        version + "</div>\n<p><a href=\"/download/DravikClient.exe\">DravikClient.exe</a></p></body></html>\n";
    return reply;
}

Reply Installer(Impl& s) {
    Reply reply;
    reply.contentType = "application/octet-stream";
    reply.body = s.Locked([&](Store&) { return s.installer; });
    return reply;
}

}  // namespace

void TestServer::Impl::AddProgramRoutes() {
    const auto with = [this](Reply (*f)(Impl&, const Request&)) {
        return [this, f](const Request& req, CallContext&) { return f(*this, req); };
    };
    const auto paged = [this](Reply (*f)(Impl&, const Request&, const CallContext&)) {
        return [this, f](const Request& req, CallContext& context) { return f(*this, req, context); };
    };
    Route("GET", "/dravik/app/login", "login", with(&Login));
    Route("GET", "/dravik/logout", "logout", with(&Logout));
    Route("GET", "/dravik/allChildNodes", "allChildNodes", with(&AllChildNodes));
    Route("GET", "/dravik/api/node/(.+)/content", "content", with(&Content));
    Route("POST", "/upload", "upload", with(&Upload));
    Route("POST", "/dravik/file/createFolder", "createFolder", with(&CreateFolder));
    Route("POST", "/dravik/file/appcreateFolder", "appcreateFolder", with(&CreateFolderPath));
    Route("POST", "/dravik/file/copy/(.+)", "copy",
          [this](const Request& req, CallContext&) { return CopyOrMove(*this, req, false); });
    Route("POST", "/dravik/file/move/(.+)", "move",
          [this](const Request& req, CallContext&) { return CopyOrMove(*this, req, true); });
    Route("POST", "/dravik/file/delete", "delete",
          [this](const Request& req, CallContext&) { return DeleteOrRestore(*this, req, false); });
    Route("POST", "/dravik/file/untrashes", "untrashes",
          [this](const Request& req, CallContext&) { return DeleteOrRestore(*this, req, true); });
    Route("POST", "/dravik/file/change/(.+)", "change", with(&Rename));
    Route("GET", "/dravik/app/collaborateManage", "collaborateManage", paged(&Groups));
    Route("GET", "/dravik/appw/new/list/([^/]+)", "list", paged(&List));
    Route("GET", "/download.html", "versionPage", [this](const Request&, CallContext&) { return VersionPage(*this); });
    Route("GET", "/download/DravikClient.exe", "installer",
          [this](const Request&, CallContext&) { return Installer(*this); });
}

}  // namespace testserver
