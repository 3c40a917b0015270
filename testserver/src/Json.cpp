#include "Json.h"

#include "Text.h"

namespace testserver {

void JsonOut::Key(const std::string& key) {
    writer_.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
}

void JsonOut::Value(const std::string& value) {
    writer_.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

void JsonOut::Str(const std::string& key, const std::string& value) {
    Key(key);
    Value(value);
}

void JsonOut::Int(const std::string& key, long long value) {
    Key(key);
    writer_.Int64(value);
}

void JsonOut::Bool(const std::string& key, bool value) {
    Key(key);
    writer_.Bool(value);
}

namespace {

void WriteStamp(JsonOut& out, const char* timeKey, std::int64_t time, const char* personKey,
                const std::string& account, const std::string& display) {
    out.Str(timeKey, FormatServerDate(time));
    out.Key(personKey);
    out.W().StartObject();
    out.Str("name", account);
    out.Str("dname", display);
    out.W().EndObject();
}

}  // namespace

void WriteListItem(JsonOut& out, const ItemView& item) {
    out.W().StartObject();
    out.Str("dbid", std::to_string(item.dbid));
    out.Str("ref", item.id);
    out.Str("name", item.name);
    out.Str("type", item.folder ? "folder" : "content");
    out.Int("size", item.size);
    out.Str("ver", "1." + std::to_string(item.version - 1));
    out.Str("checksum", item.checksum);
    out.Bool("shared", false);
    out.Bool("isPublicFile", false);
    out.Bool("published", false);
    out.Key("perm");
    out.W().StartObject();
    out.Bool("ch", item.perms.ch);
    out.Bool("c", item.perms.c);
    out.Bool("w", item.perms.w);
    out.Bool("d", item.perms.d);
    out.Bool("down", item.perms.down);
    out.W().EndObject();
    WriteStamp(out, "created", item.created, "creator", item.creator, item.creatorDisplay);
    WriteStamp(out, "modified", item.modified, "modifier", item.modifier, item.modifierDisplay);
    out.Int("comment", 0);
    out.W().EndObject();
}

void WriteItemMembers(JsonOut& out, const ItemView& item) {
    out.Str("name", item.name);
    out.Str("nodeRef", MakeRef(item.id));
    out.Str("parent", item.parentId.empty() ? std::string() : MakeRef(item.parentId));
    out.Str("modified", FormatServerDate(item.modified));
}

std::string MessageBody(const std::string& message) {
    JsonOut out;
    out.W().StartObject();
    out.Str("msg", message);
    out.W().EndObject();
    return out.Text();
}

bool ParseJson(const std::string& text, rapidjson::Document& doc) {
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(text.data(), text.size());
    return !doc.HasParseError();
}

bool GetString(const rapidjson::Value& object, const char* key, std::string& out) {
    if (!object.IsObject()) return false;
    auto it = object.FindMember(key);
    if (it == object.MemberEnd() || !it->value.IsString()) return false;
    out.assign(it->value.GetString(), it->value.GetStringLength());
    return true;
}

bool GetStringArray(const rapidjson::Value& object, const char* key, std::vector<std::string>& out) {
    if (!object.IsObject()) return false;
    auto it = object.FindMember(key);
    if (it == object.MemberEnd() || !it->value.IsArray()) return false;
    out.clear();
    for (const auto& element : it->value.GetArray()) {
        if (!element.IsString()) return false;
        out.emplace_back(element.GetString(), element.GetStringLength());
    }
    return true;
}

}  // namespace testserver
