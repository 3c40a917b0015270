// The server-side item operations of the commit-to-server thread: create a folder, copy,
// move, delete and rename. Each is one JSON POST whose reply object decides success.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "sync/common/BaseFunc.h"
#include "sync/net/WebCloud.h"
#include "WebCloudInternal.h"

using webcloud::LogAlert;
using webcloud::Quoted;

namespace {

constexpr std::string_view kAcceptJson = "application/json, text/javascript, */*; q=0.01";
constexpr std::string_view kAcceptAny = "*/*";

// Writes one JSON object; the members are added by `fill`.
template <typename Fill>
std::string JsonObject(Fill fill) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    fill(writer);
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void Member(JsonWriter& writer, const char* name, const std::string& value) {
    writer.Key(name);
    writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

void ArrayMember(JsonWriter& writer, const char* name, const std::string& value) {
    writer.Key(name);
    writer.StartArray();
    writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    writer.EndArray();
}

bool IsTrue(const rapidjson::Value& object, const char* name) {
    const auto it = object.FindMember(name);
    return it != object.MemberEnd() && it->value.IsBool() && it->value.GetBool();
}

}  // namespace

struct CWebCloud::JsonCall {
    std::unique_ptr<WinHttpClient>* client;
    std::string path;  // after the base address
    std::string body;
    std::string_view accept;
    int parseLine;
};

int CWebCloud::PostJson(const JsonCall& call, CSyncBase* checkpoint, SyncOperationSlot* operation,
                        rapidjson::Document& reply) {
    const std::string cookie = LoginCookie();
    if (cookie.empty()) return 0;
    const Config config = Settings();
    const ServerAddress address = config.address.value_or(ServerAddress{});
    WinHttpClient& client = Client(*call.client, checkpoint, config.address ? address.url + call.path : "");
    if (!client.SetPostData(call.body.data(), call.body.size())) return 0;
    client.SetAdditionalRequestHeaders(webcloud::JsonHeaderBlock(address, call.accept, call.body.size(), cookie));
    const bool sent = client.SendHttpRequest("POST", operation, nullptr);
    client.ClearPostData();
    if (!sent) {
        RequestFailed(client);
        return -1;
    }
    if (!webcloud::ParseReply(client.GetResponseContent(), reply)) {
        LogAlert("解析JSON失败 filepath:", call.parseLine);
        return 0;
    }
    return 1;
}

int CWebCloud::iCreateFolder(CSyncBase* checkpoint, SyncOperationSlot* operation, const std::string& parent,
                             const std::string& name) {
    if (LoginCookie().empty()) return 0;
    std::string folder = ReplaceCharString(name, '\\', '/');
    folder.erase(0, folder.find_first_not_of('/'));
    const std::string body = JsonObject([&](JsonWriter& w) {
        Member(w, "alf_destination", parent);
        Member(w, "prop_cm_name", folder);
        Member(w, "prop_cm_title", std::string());
        Member(w, "prop_cm_description", std::string());
    });
    rapidjson::Document reply;
    const int result = PostJson({&createFolderClient_, "/file/createFolder", body, kAcceptJson, 1051}, checkpoint,
                                operation, reply);
    if (result < 0) {
        LogAlert("发送请求失败 Des='" + Quoted(parent) + "' Src='" + Quoted(name) + "' filepath:", 1034);
        return 0;
    }
    if (result == 0) return 0;
    std::string message;
    std::string created;
    if (webcloud::StringMember(reply, "message", message) && webcloud::HoldsWord(message, "Success") &&
        webcloud::StringMember(reply, "persistedObject", created) && !created.empty()) {
        createdNodeRef_ = created;
        return 1;
    }
    LogAlert("创建目录结果失败 filepath:", 1074);
    return 0;
}

int CWebCloud::iCopy(CSyncBase* checkpoint, SyncOperationSlot* operation, const std::string& sourceParent,
                     const std::string& source, const std::string& target) {
    return CopyOrMove(false, checkpoint, operation, sourceParent, source, target);
}

int CWebCloud::iMove(CSyncBase* checkpoint, SyncOperationSlot* operation, const std::string& sourceParent,
                     const std::string& source, const std::string& target) {
    return CopyOrMove(true, checkpoint, operation, sourceParent, source, target);
}

int CWebCloud::CopyOrMove(bool move, CSyncBase* checkpoint, SyncOperationSlot* operation,
                          const std::string& sourceParent, const std::string& source, const std::string& target) {
    if (LoginCookie().empty()) return 0;
    const std::optional<std::string> reference = UrlReference(target);
    if (!reference) return 0;
    const std::string body = JsonObject([&](JsonWriter& w) {
        ArrayMember(w, "nodeRefs", source);
        Member(w, "parentId", sourceParent);
    });
    rapidjson::Document reply;
    const JsonCall call = move ? JsonCall{&moveClient_, "/file/move/" + *reference, body, kAcceptAny, 1293}
                               : JsonCall{&copyClient_, "/file/copy/" + *reference, body, kAcceptAny, 1157};
    const int result = PostJson(call, checkpoint, operation, reply);
    if (result < 0) {
        if (move) {
            LogAlert("发送请求失败 filepath:", 1279);
        } else {
            LogAlert("发送请求失败 SID='" + Quoted(source) + "' filepath:", 1143);
        }
        return 0;
    }
    if (result == 0) return 0;
    if (reply.IsObject() && IsTrue(reply, "overallSuccess")) {
        const auto results = reply.FindMember("results");
        if (results != reply.MemberEnd() && results->value.IsArray() && !results->value.Empty()) {
            const rapidjson::Value& first = results->value[0];
            std::string nodeRef;
            if (first.IsObject() && IsTrue(first, "success") && webcloud::StringMember(first, "nodeRef", nodeRef) &&
                !nodeRef.empty()) {
                resultNodeRef_ = nodeRef;
                return 1;
            }
        }
    }
    if (move) {
        LogAlert("移动返回结果失败 filepath:", 1324);
    } else {
        LogAlert("复制返回结果失败 filepath:", 1211);
    }
    return 0;
}

int CWebCloud::iDelete(CSyncBase* checkpoint, SyncOperationSlot* operation, const std::string& parent,
                       const std::string& item) {
    if (LoginCookie().empty()) return 0;
    const std::string body = JsonObject([&](JsonWriter& w) {
        ArrayMember(w, "nodeRef", item);
        Member(w, "parentId", parent);
    });
    rapidjson::Document reply;
    const int result = PostJson({&deleteClient_, "/file/delete", body, kAcceptAny, 1400}, checkpoint, operation, reply);
    if (result < 0) {
        // The server refuses with 400 an item that is gone already: the delete is done.
        if (deleteClient_->lastError == 400) return 1;
        LogAlert("发送请求失败 filepath:", 1386);
        return 0;
    }
    if (result == 0) return 0;
    std::string message;
    if (webcloud::StringMember(reply, "msg", message) && webcloud::HoldsWord(message, "success")) return 1;
    LogAlert("iDelete操作结果失败 filepath:", 1416);
    return 0;
}

int CWebCloud::iRename(CSyncBase* checkpoint, SyncOperationSlot* operation, const std::string& item,
                       const std::string& newName) {
    if (LoginCookie().empty()) return 0;
    const std::optional<std::string> reference = UrlReference(item);
    if (!reference) return 0;
    const std::string body = JsonObject([&](JsonWriter& w) { Member(w, "prop_cm_name", newName); });
    rapidjson::Document reply;
    const int result =
        PostJson({&renameClient_, "/file/change/" + *reference, body, kAcceptJson, 1500}, checkpoint, operation, reply);
    if (result < 0) {
        LogAlert("发送请求失败 filepath:", 1486);
        return 0;
    }
    if (result == 0) return 0;
    std::string message;
    if (webcloud::StringMember(reply, "msg", message) && webcloud::HoldsWord(message, "Successfully")) {
        resultNodeRef_.clear();
        return 1;
    }
    LogAlert("目录文件重命名失败 filepath:", 1523);
    return 0;
}
