// The JSON side of the web calls: the readers of the server's replies and the writers of
// the request bodies.
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <deque>
#include <set>

#include "client/core/ClientLog.h"
#include "client/core/HttpClient.h"
#include "client/core/TextHelpers.h"

namespace {

using rapidjson::Value;

// The iterative parser keeps its nesting on the heap, so a reply nested however deep is
// read or refused without exhausting the stack.
bool ParseDocument(const std::string& body, rapidjson::Document& doc) {
    doc.Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(body.c_str(), body.size());
    return !doc.HasParseError();
}

// A required text member.
bool GetText(const Value& object, const char* key, std::string& out) {
    auto it = object.FindMember(key);
    if (it == object.MemberEnd() || !it->value.IsString()) return false;
    out.assign(it->value.GetString(), it->value.GetStringLength());
    return true;
}

bool GetBool(const Value& object, const char* key, bool& out) {
    auto it = object.FindMember(key);
    if (it == object.MemberEnd() || !it->value.IsBool()) return false;
    out = it->value.GetBool();
    return true;
}

// An optional bool: absent is fine, present must be a bool.
bool GetOptionalBool(const Value& object, const char* key, bool& out) {
    out = false;
    auto it = object.FindMember(key);
    if (it == object.MemberEnd()) return true;
    if (!it->value.IsBool()) return false;
    out = it->value.GetBool();
    return true;
}

const Value* GetMember(const Value& object, const char* key) {
    auto it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

bool ParsePermissions(const Value& perm, std::int32_t& bits) {
    bits = 0;
    if (!perm.IsObject()) return false;
    static const std::pair<const char*, std::int32_t> kBits[] = {
        {"ch", kPermCh}, {"c", kPermC}, {"w", kPermW}, {"d", kPermD}, {"down", kPermDown}};
    for (const auto& [key, bit] : kBits) {
        bool set = false;
        if (!GetBool(perm, key, set)) return false;
        if (set) bits |= bit;
    }
    return true;
}

bool ParseStamp(const Value& item, std::int32_t role, CloudNodeStamp& stamp) {
    const char* dateKey = role == CloudNodeStamp::RoleCreator ? "created" : "modified";
    const char* personKey = role == CloudNodeStamp::RoleCreator ? "creator" : "modifier";
    stamp.role = role;
    std::string date;
    if (!GetText(item, dateKey, date) || !stamp.time.ParseHttpDate(date)) return false;
    const Value* person = GetMember(item, personKey);
    if (person == nullptr || !person->IsObject()) return false;
    return GetText(*person, "name", stamp.accountName) && GetText(*person, "dname", stamp.displayName);
}

bool ParseItem(const Value& item, const std::string& prefix, CloudNode& node) {
    if (!item.IsObject()) return false;
    if (!GetText(item, "dbid", node.dbid)) return false;
    std::string ref;
    if (!GetText(item, "ref", ref)) return false;
    node.nodeRef = prefix + ref;
    if (!GetText(item, "oname", node.name) && !GetText(item, "name", node.name)) return false;
    std::string type;
    if (!GetText(item, "type", type)) return false;
    if (type == "folder") {
        node.kindFlags |= kNodeKindFolder;
    } else {
        node.kindFlags = 0;
        const std::size_t dot = node.name.find_last_of('.');
        node.extension = dot == std::string::npos ? std::string() : node.name.substr(dot);
    }
    const Value* size = GetMember(item, "size");
    if (size == nullptr || !size->IsInt64()) return false;
    node.size = size->GetInt64();
    if (!GetText(item, "ver", node.version)) return false;
    bool flag = false;
    if (!GetOptionalBool(item, "shared", flag)) return false;
    if (flag) node.sharingFlags |= kSharingShared;
    if (!GetOptionalBool(item, "isPublicFile", flag)) return false;
    if (flag) node.sharingFlags |= kSharingIsPublicFile;
    if (!GetOptionalBool(item, "published", flag)) return false;
    if (flag) node.sharingFlags |= kSharingPublished;
    const Value* perm = GetMember(item, "perm");
    if (perm == nullptr || !ParsePermissions(*perm, node.permissionBits)) return false;
    if (!ParseStamp(item, CloudNodeStamp::RoleCreator, node.creator)) return false;
    if (!ParseStamp(item, CloudNodeStamp::RoleModifier, node.modifier)) return false;
    const Value* comment = GetMember(item, "comment");
    if (comment == nullptr || !comment->IsInt()) return false;
    node.commentCount = comment->GetInt();
    return true;
}

// Appends every element; an item whose name could leave its folder is left out.
bool ParseItems(const Value& items, const std::string& prefix, std::vector<CloudNode>& children) {
    if (!items.IsArray()) return false;
    for (const Value& element : items.GetArray()) {
        CloudNode node;
        if (!ParseItem(element, prefix, node)) return false;
        if (!IsSafeServerName(node.name)) {
            LogClientInfo("<http>Listing, item refused, its name is not a plain file name, ref=" + node.nodeRef);
            continue;
        }
        children.push_back(std::move(node));
    }
    return true;
}

bool ParseParents(const Value& parents, std::vector<CloudNode>& out) {
    out.clear();
    if (!parents.IsArray()) return false;
    for (const Value& element : parents.GetArray()) {
        if (!element.IsObject()) return false;
        CloudNode parent;
        bool collaborated = false;
        if (!GetText(element, "ref", parent.nodeRef) || !GetText(element, "name", parent.name) ||
            !GetBool(element, "collaborated", collaborated)) {
            return false;
        }
        // A collaboration group's entry: kind 2, with its group name kept beside the name.
        parent.kindFlags = collaborated ? 2 : 0;
        parent.spareText = collaborated ? parent.name : std::string();
        out.push_back(std::move(parent));
    }
    return true;
}

template <class Build>
std::string WriteJson(Build build) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    build(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

void WriteString(rapidjson::Writer<rapidjson::StringBuffer>& w, const std::string& s) {
    w.String(s.c_str(), static_cast<rapidjson::SizeType>(s.size()));
}

void WriteReferences(rapidjson::Writer<rapidjson::StringBuffer>& w, const std::vector<std::string>& refs) {
    w.Key("nodeRef");
    w.StartArray();
    for (const std::string& r : refs) WriteString(w, r);
    w.EndArray();
}

}  // namespace

bool HttpClient::ParseUserInfo(const std::string& body, ServerUserInfo& user) {
    rapidjson::Document doc;
    if (!ParseDocument(body, doc) || !doc.IsObject()) return false;
    const std::pair<const char*, std::string*> fields[] = {
        {"userName", &user.userName}, {"email", &user.email},         {"homeFolder", &user.homeFolder},
        {"formFolder", &user.formFolder}, {"name", &user.name},       {"trashesHome", &user.trashesHome},
        {"quota", &user.quota},       {"sizeCurrent", &user.sizeCurrent}, {"ticket", &user.ticket},
        {"cmServerName", &user.cmServerName}};
    for (const auto& [key, field] : fields) {
        if (!GetText(doc, key, *field)) return false;
    }
    const std::size_t slash = user.homeFolder.find_last_of('/');
    if (slash == std::string::npos) return false;
    user.nodeRefPrefix = user.homeFolder.substr(0, slash + 1);
    return true;
}

bool HttpClient::ParseListing(const std::string& body, const std::string& prefix, CloudListing& listing) {
    rapidjson::Document doc;
    if (!ParseDocument(body, doc) || !doc.IsObject()) return false;
    const Value* metadata = GetMember(doc, "metadata");
    if (metadata == nullptr || !metadata->IsObject() || !ParseItem(*metadata, prefix, listing.node)) return false;
    const Value* parents = GetMember(doc, "parents");
    if (parents == nullptr || !ParseParents(*parents, listing.parents)) return false;
    const Value* total = GetMember(doc, "totalRecords");
    if (total == nullptr || !total->IsInt()) return false;
    listing.totalRecords = total->GetInt();
    bool more = false;
    if (!GetBool(doc, "hasMoreItems", more)) return false;
    listing.hasMoreItems = more ? 1 : 0;
    const Value* items = GetMember(doc, "items");
    return items != nullptr && ParseItems(*items, prefix, listing.children);
}

bool HttpClient::ParseGroupRoots(const std::string& body, const std::string& prefix, CloudListing& listing) {
    listing.Clear();
    rapidjson::Document doc;
    if (!ParseDocument(body, doc) || !doc.IsArray()) return false;
    return ParseItems(doc, prefix, listing.children);
}

bool HttpClient::ParseItemReply(const std::string& body, CloudItem& item) {
    rapidjson::Document doc;
    if (!ParseDocument(body, doc) || !doc.IsObject()) return false;
    std::string modified;
    if (!GetText(doc, "name", item.name) || !GetText(doc, "nodeRef", item.nodeRef) ||
        !GetText(doc, "parent", item.parentRef) || !GetText(doc, "modified", modified)) {
        return false;
    }
    item.modified.ParseHttpDate(modified);
    return true;
}

bool HttpClient::ParseCreatedFolders(const std::string& body, std::vector<CloudItem>& created) {
    rapidjson::Document doc;
    if (!ParseDocument(body, doc) || !doc.IsArray()) return false;
    std::vector<CreatedFolderEntry> entries;
    for (const Value& element : doc.GetArray()) {
        if (!element.IsObject()) continue;
        CreatedFolderEntry e;
        std::string modified;
        if (!GetText(element, "name", e.name) || !GetText(element, "nodeRef", e.nodeRef) ||
            !GetText(element, "parent", e.parent) || !GetText(element, "modified", modified)) {
            return false;
        }
        e.modified.ParseHttpDate(modified);
        entries.push_back(std::move(e));
    }
    for (CreatedFolderEntry& e : OrderParentsFirst(std::move(entries))) {
        CloudItem item;
        item.nodeRef = std::move(e.nodeRef);
        item.parentRef = std::move(e.parent);
        item.name = std::move(e.name);
        item.modified = e.modified;
        created.push_back(std::move(item));
    }
    return true;
}

bool HttpClient::ParseReplyMessage(const std::string& body, std::string& message) {
    rapidjson::Document doc;
    return ParseDocument(body, doc) && doc.IsObject() && GetText(doc, "msg", message);
}

std::vector<CreatedFolderEntry> HttpClient::OrderParentsFirst(std::vector<CreatedFolderEntry> entries) {
    std::set<std::string> refs;
    for (const auto& e : entries) refs.insert(e.nodeRef);
    std::vector<CreatedFolderEntry> ordered;
    std::deque<std::string> queue;
    std::vector<CreatedFolderEntry> remaining;
    for (auto& e : entries) {
        if (refs.count(e.parent) == 0) {
            queue.push_back(e.nodeRef);
            ordered.push_back(std::move(e));
        } else {
            remaining.push_back(std::move(e));
        }
    }
    while (!remaining.empty() && !queue.empty()) {
        const std::string parent = queue.front();
        queue.pop_front();
        std::vector<CreatedFolderEntry> rest;
        for (auto& e : remaining) {
            if (e.parent == parent) {
                queue.push_back(e.nodeRef);
                ordered.push_back(std::move(e));
            } else {
                rest.push_back(std::move(e));
            }
        }
        remaining = std::move(rest);
    }
    return ordered;
}

std::string HttpClient::CreateFolderBody(const std::string& destination, const std::string& folderPath) {
    return WriteJson([&](auto& w) {
        w.StartObject();
        w.Key("alf_destination");
        WriteString(w, destination);
        w.Key("prop_cm_name");
        WriteString(w, folderPath);
        w.Key("prop_cm_title");
        w.String("");
        w.Key("prop_cm_description");
        w.String("");
        w.EndObject();
    });
}

std::string HttpClient::DeleteBody(const std::string& parentId, const std::vector<std::string>& nodeRefs) {
    return WriteJson([&](auto& w) {
        w.StartObject();
        WriteReferences(w, nodeRefs);
        w.Key("parentId");
        WriteString(w, parentId);
        w.EndObject();
    });
}

std::string HttpClient::RestoreBody(const std::vector<std::string>& nodeRefs) {
    return WriteJson([&](auto& w) {
        w.StartObject();
        WriteReferences(w, nodeRefs);
        w.EndObject();
    });
}

std::string HttpClient::RenameBody(const std::string& newName) {
    return WriteJson([&](auto& w) {
        w.StartObject();
        w.Key("prop_cm_name");
        WriteString(w, newName);
        w.EndObject();
    });
}

std::string HttpClient::ReferencePath(const std::string& nodeRef) {
    std::string path = nodeRef;
    const std::size_t scheme = path.find("://");
    if (scheme != std::string::npos) path.replace(scheme, 3, "/");
    return EncodePath(path);
}

std::string HttpClient::EncodePath(const std::string& path) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        out += UrlEncode(std::string_view(path).substr(start, slash == std::string::npos ? std::string::npos
                                                                                          : slash - start));
        if (slash == std::string::npos) break;
        out += '/';
        start = slash + 1;
    }
    return out;
}
