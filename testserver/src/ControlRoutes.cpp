// The control interface below "/__test/" (JSON in, JSON out): the C++ API of TestServer for
// tests that run the server as a separate process. Its requests bypass the faults and the
// request log. Each request must carry the control token in "X-Control-Token" (else 403),
// name the listening address in "Host" (else 421: a page reached by DNS rebinding names its
// own host) and, for a POST, send "application/json" (else 415: a page can post plain text
// or a form without asking first).
//   GET  /__test/tree?user=U[&trash=1][&contents=1]   {"items":[{path,kind,size,checksum,ref[,content_base64]}]}
//   GET  /__test/account?user=U                       {"account","home","trash"}
//   POST /__test/user      {"name","password"}
//   POST /__test/group     {"name","public":bool,"members":[...]}   -> {"ref"}
//   POST /__test/put       {"user","path","content" | "content_base64"} -> {"ref"}
//   POST /__test/mkdir     {"user","path"}                           -> {"ref"}
//   POST /__test/remove    {"user","path"[,"purge":bool]}
//   POST /__test/move      {"user","from","to"}
//   POST /__test/fault     {"route","kind","status","delay_ms","bytes","page_size","from","to","count"}
//   POST /__test/faults/clear
//   GET  /__test/requests[?route=R]                   [{seq,route,method,path,query,headers,body_base64,body?,parts,status}]
//   POST /__test/requests/clear
//   POST /__test/version   {"version","installer_base64"}
//   POST /__test/reset
#include "Json.h"
#include "ServerImpl.h"
#include "Text.h"

namespace testserver {

namespace {

using httplib::Request;
using Impl = TestServer::Impl;

rapidjson::Document Body(const Request& req) {
    rapidjson::Document doc;
    if (!ParseJson(req.body, doc) || !doc.IsObject()) throw Refused(400, "the body is not a JSON object");
    return doc;
}

std::string Required(const rapidjson::Value& doc, const char* key) {
    std::string value;
    if (!GetString(doc, key, value)) throw Refused(400, std::string("\"") + key + "\" is required");
    return value;
}

bool OptionalBool(const rapidjson::Value& doc, const char* key) {
    auto it = doc.FindMember(key);
    if (it == doc.MemberEnd()) return false;
    if (!it->value.IsBool()) throw Refused(400, std::string("\"") + key + "\" must be true or false");
    return it->value.GetBool();
}

long long OptionalInt(const rapidjson::Value& doc, const char* key, long long fallback) {
    auto it = doc.FindMember(key);
    if (it == doc.MemberEnd()) return fallback;
    if (!it->value.IsInt64()) throw Refused(400, std::string("\"") + key + "\" must be a whole number");
    return it->value.GetInt64();
}

std::string Bytes(const rapidjson::Value& doc) {
    std::string text;
    if (GetString(doc, "content", text)) return text;
    if (GetString(doc, "content_base64", text)) {
        auto bytes = Base64Decode(text);
        if (!bytes) throw Refused(400, "content_base64 is not base64");
        return *bytes;
    }
    return {};
}

std::string RefBody(const std::string& ref) {
    JsonOut out;
    out.W().StartObject();
    out.Str("ref", ref);
    out.W().EndObject();
    return out.Text();
}

Reply Done() { return JsonReply(200, MessageBody("ok")); }

// The media type of a Content-Type value, without its parameters.
std::string MediaType(const std::string& contentType) {
    return TrimSpace(std::string_view(contentType).substr(0, contentType.find(';')));
}

// Throws the refusal of a control request that does not come from a holder of the token
// talking to this server's own address.
void CheckControlRequest(const Impl& s, const Request& req) {
    if (req.get_header_value("Host") != "127.0.0.1:" + std::to_string(s.port))
        throw Refused(421, "the control interface answers only requests to its own address");
    if (!EqualsConstantTime(req.get_header_value(kControlTokenHeader), s.options.controlToken))
        throw Refused(403, std::string("the control interface needs the control token in ") + kControlTokenHeader);
    if (req.method == "POST" && !EqualsNoCaseAscii(MediaType(req.get_header_value("Content-Type")), "application/json"))
        throw Refused(415, "control requests send application/json");
}

Fault FaultFrom(const rapidjson::Value& doc) {
    Fault fault;
    std::string route;
    if (GetString(doc, "route", route)) fault.route = route;
    auto kind = FaultKindFromName(Required(doc, "kind"));
    if (!kind) throw Refused(400, "unknown fault kind");
    fault.kind = *kind;
    fault.status = static_cast<int>(OptionalInt(doc, "status", fault.status));
    fault.delay = std::chrono::milliseconds(OptionalInt(doc, "delay_ms", 0));
    fault.bytes = OptionalInt(doc, "bytes", 0);
    fault.pageSize = static_cast<int>(OptionalInt(doc, "page_size", fault.pageSize));
    GetString(doc, "from", fault.from);
    GetString(doc, "to", fault.to);
    fault.count = static_cast<int>(OptionalInt(doc, "count", fault.count));
    return fault;
}

Reply TreeReply(Impl& s, const Request& req) {
    const std::string user = req.get_param_value("user");
    const bool trash = req.get_param_value("trash") == "1";
    const bool contents = req.get_param_value("contents") == "1";
    const std::vector<TreeEntry> entries = s.Entries(user, trash, contents);
    JsonOut out;
    out.W().StartObject();
    out.Key("items");
    out.W().StartArray();
    for (const TreeEntry& e : entries) {
        out.W().StartObject();
        out.Str("path", e.path);
        out.Str("kind", e.folder ? "folder" : "file");
        out.Int("size", e.size);
        out.Str("checksum", e.checksum);
        out.Str("ref", e.ref);
        if (contents && !e.folder) out.Str("content_base64", Base64Encode(e.content));
        out.W().EndObject();
    }
    out.W().EndArray();
    out.W().EndObject();
    return JsonReply(200, out.Text());
}

Reply RequestsReply(Impl& s, const Request& req) {
    const std::string route = req.get_param_value("route");
    const std::deque<LoggedRequest> entries = s.Locked([&](Store&) { return s.log; });
    JsonOut out;
    out.W().StartArray();
    for (const LoggedRequest& r : entries) {
        if (!route.empty() && r.route != route) continue;
        out.W().StartObject();
        out.Int("seq", static_cast<long long>(r.seq));
        out.Str("route", r.route);
        out.Str("method", r.method);
        out.Str("path", r.path);
        out.Str("query", r.query);
        out.Key("headers");
        out.W().StartArray();
        for (const auto& [name, value] : r.headers) {
            out.W().StartArray();
            out.Value(name);
            out.Value(IsValidUtf8(value) ? value : Base64Encode(value));
            out.W().EndArray();
        }
        out.W().EndArray();
        out.Str("body_base64", Base64Encode(r.body));
        if (IsValidUtf8(r.body)) out.Str("body", r.body);
        out.Key("parts");
        out.W().StartArray();
        for (const LoggedPart& part : r.parts) {
            out.W().StartObject();
            out.Str("name", part.name);
            out.Str("filename", part.filename);
            out.Str("content_type", part.contentType);
            out.Str("content_base64", Base64Encode(part.content));
            out.W().EndObject();
        }
        out.W().EndArray();
        out.Int("status", r.status);
        out.W().EndObject();
    }
    out.W().EndArray();
    return JsonReply(200, out.Text());
}

}  // namespace

void TestServer::Impl::AddControlRoutes() {
    using ControlFn = std::function<Reply(const Request&)>;
    const auto control = [this](const char* method, const std::string& pattern, ControlFn fn) {
        auto handler = [this, fn = std::move(fn)](const Request& req, httplib::Response& res) {
            Reply reply;
            try {
                CheckControlRequest(*this, req);
                reply = fn(req);
            } catch (const Refused& e) {
                reply = ErrorReply(e.HttpStatus(), e.what());
            } catch (const std::exception& e) {
                reply = ErrorReply(500, e.what());
            }
            Write(std::move(reply), std::nullopt, res);
        };
        if (std::string(method) == "GET") {
            http->Get(pattern, handler);
        } else {
            http->Post(pattern, handler);
        }
    };
    control("GET", "/__test/tree", [this](const Request& req) { return TreeReply(*this, req); });
    control("GET", "/__test/account", [this](const Request& req) {
        AccountView view;
        Check(Locked([&](Store& st) { return st.Account(req.get_param_value("user"), view); }));
        JsonOut out;
        out.W().StartObject();
        out.Str("account", view.account);
        out.Str("home", MakeRef(view.homeId));
        out.Str("trash", MakeRef(view.trashId));
        out.W().EndObject();
        return JsonReply(200, out.Text());
    });
    control("POST", "/__test/user", [this](const Request& req) {
        auto doc = Body(req);
        const std::string name = Required(doc, "name"), password = Required(doc, "password");
        Check(Locked([&](Store& st) { return st.AddUser(name, password); }));
        return Done();
    });
    control("POST", "/__test/group", [this](const Request& req) {
        auto doc = Body(req);
        const std::string name = Required(doc, "name");
        std::vector<std::string> members;
        if (doc.HasMember("members") && !GetStringArray(doc, "members", members))
            throw Refused(400, "\"members\" must be an array of texts");
        const bool isPublic = OptionalBool(doc, "public");
        const std::set<std::string> memberSet(members.begin(), members.end());
        return JsonReply(200, RefBody(MakeRef(Locked([&](Store& st) { return st.AddGroup(name, isPublic, memberSet); }))));
    });
    control("POST", "/__test/put", [this](const Request& req) {
        auto doc = Body(req);
        return JsonReply(200, RefBody(PutFile(Required(doc, "user"), Required(doc, "path"), Bytes(doc))));
    });
    control("POST", "/__test/mkdir", [this](const Request& req) {
        auto doc = Body(req);
        const std::string user = Required(doc, "user"), path = Required(doc, "path");
        ItemView folder;
        Check(Locked([&](Store& st) { return st.MakeFoldersAt(user, path, folder); }));
        return JsonReply(200, RefBody(MakeRef(folder.id)));
    });
    control("POST", "/__test/remove", [this](const Request& req) {
        auto doc = Body(req);
        const std::string user = Required(doc, "user"), path = Required(doc, "path");
        const bool purge = OptionalBool(doc, "purge");
        Check(Locked([&](Store& st) { return st.RemoveAt(user, path, purge); }));
        return Done();
    });
    control("POST", "/__test/move", [this](const Request& req) {
        auto doc = Body(req);
        const std::string user = Required(doc, "user"), from = Required(doc, "from"), to = Required(doc, "to");
        Check(Locked([&](Store& st) { return st.MoveAt(user, from, to); }));
        return Done();
    });
    control("POST", "/__test/fault", [this](const Request& req) {
        auto doc = Body(req);
        const Fault fault = FaultFrom(doc);
        Locked([&](Store&) {
            if (fault.count != 0) faults.push_back(fault);
        });
        return Done();
    });
    control("POST", "/__test/faults/clear", [this](const Request&) {
        Locked([&](Store&) {
            faults.clear();
        });
        return Done();
    });
    control("GET", "/__test/requests", [this](const Request& req) { return RequestsReply(*this, req); });
    control("POST", "/__test/requests/clear", [this](const Request&) {
        Locked([&](Store&) {
            log.clear();
        });
        return Done();
    });
    control("POST", "/__test/version", [this](const Request& req) {
        auto doc = Body(req);
        const std::string version = Required(doc, "version");
        std::string bytes;
        if (GetString(doc, "installer_base64", bytes)) {
            auto decoded = Base64Decode(bytes);
            if (!decoded) throw Refused(400, "installer_base64 is not base64");
            bytes = *decoded;
        }
        Locked([&](Store&) {
            clientVersion = version;
            if (doc.HasMember("installer_base64")) installer = bytes;
        });
        return Done();
    });
    control("POST", "/__test/reset", [this](const Request&) {
        Reset();
        return Done();
    });
}

}  // namespace testserver
