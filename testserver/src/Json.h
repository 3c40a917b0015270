#pragma once
// JSON reading and writing of the test server (RapidJSON).
#include <optional>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "Store.h"

namespace testserver {

class JsonOut {
public:
    JsonOut() : writer_(buffer_) {}
    rapidjson::Writer<rapidjson::StringBuffer>& W() { return writer_; }
    void Str(const std::string& key, const std::string& value);
    void Int(const std::string& key, long long value);
    void Bool(const std::string& key, bool value);
    void Key(const std::string& key);
    void Value(const std::string& value);
    std::string Text() const { return std::string(buffer_.GetString(), buffer_.GetSize()); }

private:
    rapidjson::StringBuffer buffer_;
    rapidjson::Writer<rapidjson::StringBuffer> writer_;
};

// One item of the client's listings: dbid, ref (the id), name, type, size, ver, flags,
// perm, creator and modifier stamps, comment count.
void WriteListItem(JsonOut& out, const ItemView& item);
// The members of the short item reply (upload, rename, create folder): name, nodeRef,
// parent, modified. Written into an object the caller has opened.
void WriteItemMembers(JsonOut& out, const ItemView& item);
// {"msg": message}
std::string MessageBody(const std::string& message);

// Strict parse: valid UTF-8 and nothing after the value. False on any error.
bool ParseJson(const std::string& text, rapidjson::Document& doc);
// Member helpers: false when the member is missing or of another type.
bool GetString(const rapidjson::Value& object, const char* key, std::string& out);
bool GetStringArray(const rapidjson::Value& object, const char* key, std::vector<std::string>& out);

}  // namespace testserver
