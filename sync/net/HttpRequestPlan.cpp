#include "HttpRequestPlan.h"

#include <algorithm>
#include <climits>

#include "http/Exchange.h"
#include "http/HeaderFields.h"
#include "sync/common/BaseFunc.h"
#include "sync/net/WinHttpClient.h"

namespace {

constexpr long kMaxRedirects = 10;

constexpr PollPoints kGeneralPolls{"WinHttpClient::SendHttpRequest", 382, 444, 444, 570, 749};
constexpr PollPoints kMemoryUploadPolls{"WinHttpClient::SendHttpRequestAndCallBack", 1083, 1153, 1281, 1321, 1461};
constexpr PollPoints kStreamUploadPolls{"WinHttpClient::SendHttpRequestAndCallBackForBig", 1704, 1774, 1912, 1963,
                                        2111};

constexpr const char* kGeneralStatusLog =
    "call WinHttpClient::SendHttpRequest() file <Include\\STL\\WinHttpClient> line:689, 发送请求失败";
constexpr const char* kLoginStatusLog =
    "call WinHttpClient::SendLoginRequest() file <Include\\STL\\WinHttpClient> line:2820, 发送请求失败";
constexpr const char* kMemoryUploadStatusLog =
    "call WinHttpClient::SendHttpRequestAndCallBack() file <Include\\STL\\WinHttpClient> line:1437, 发送请求失败";
constexpr const char* kStreamUploadStatusLog =
    "call WinHttpClient::SendHttpRequestAndCallBackForBig() file <Include\\STL\\WinHttpClient> line:2083, 发送请求失败";

// The fixed header texts of the login request, character for character.
constexpr const char* kLoginHeaders[] = {
    "Accept-Language: zh-cn/r/n",
    "Accept-Encoding: gzip, deflate/r/n",
    "Content-Type: text/xml/r/n",
};

}  // namespace

const char* const kFileWriteLog =
    "call WinHttpClient::SendHttpRequest() file <Include\\STL\\WinHttpClient> line:813写本地临时文件失败！";

HttpRequestPlan HttpRequestPlan::General(const std::string& verb, SyncOperationSlot* operation,
                                         const ProgressSink* progress, bool toFile) {
    HttpRequestPlan plan;
    plan.variant = Variant::General;
    plan.verb = verb;
    plan.operation = operation;
    plan.polls = &kGeneralPolls;
    plan.statusLog = kGeneralStatusLog;
    plan.replyProgress = progress;
    plan.toFile = toFile;
    return plan;
}

HttpRequestPlan HttpRequestPlan::Login() {
    HttpRequestPlan plan;
    plan.variant = Variant::Login;
    plan.verb = "GET";
    plan.statusLog = kLoginStatusLog;
    return plan;
}

HttpRequestPlan HttpRequestPlan::Upload(bool streamed, const ProgressSink* node, const std::string& verb,
                                        SyncOperationSlot* operation, bool disableRedirects) {
    HttpRequestPlan plan;
    plan.variant = streamed ? Variant::StreamedUpload : Variant::MemoryUpload;
    plan.verb = verb;
    plan.operation = operation;
    plan.polls = streamed ? &kStreamUploadPolls : &kMemoryUploadPolls;
    plan.statusLog = streamed ? kStreamUploadStatusLog : kMemoryUploadStatusLog;
    plan.bodyProgress = node;
    plan.followRedirects = !disableRedirects;
    return plan;
}

bool CanonicalVerb(const std::string& verb, std::string& out) {
    for (const char* known : {"GET", "POST", "OPTIONS"}) {
        if (BaseFunc::EqualNoCase(verb, known)) {
            out = known;
            return true;
        }
    }
    return false;
}

std::vector<std::string> RequestHeaderLines(const HttpRequestPlan& plan, const std::string& additional,
                                            const std::string& cookies, std::uint64_t bodyLength) {
    std::vector<std::string> lines;
    if (plan.variant == HttpRequestPlan::Variant::Login) {
        lines.assign(std::begin(kLoginHeaders), std::end(kLoginHeaders));
        lines.emplace_back("Accept:");
        return lines;
    }
    const bool hasBody = plan.HasBody();
    bool haveAccept = false;
    bool haveContentType = false;
    bool cookieMerged = false;
    for (std::string_view line : http::SplitLines(additional)) {
        if (line.empty() || line.find(':') == std::string_view::npos) continue;
        std::string_view value;
        if (http::FieldValue(line, "Content-Length", value)) {
            if (!hasBody || value != std::to_string(bodyLength)) continue;
        }
        haveAccept = haveAccept || http::FieldValue(line, "Accept", value);
        haveContentType = haveContentType || http::FieldValue(line, "Content-Type", value);
        std::string text(line);
        if (!cookies.empty() && http::FieldValue(line, "Cookie", value)) {
            text += "; " + cookies;
            cookieMerged = true;
        }
        lines.push_back(std::move(text));
    }
    if (!cookies.empty() && !cookieMerged) lines.push_back("Cookie: " + cookies);
    if (!haveAccept) lines.emplace_back("Accept:");
    if (hasBody && !haveContentType) lines.emplace_back("Content-Type:");
    lines.emplace_back("Expect:");
    return lines;
}

http::Request ExchangeRequest(const HttpRequestPlan& plan, const WinHttpClient& client,
                              std::vector<std::string> headerLines, std::uint64_t bodyLength) {
    http::Request request;
    request.url = client.url;
    request.headerLines = std::move(headerLines);
    if (plan.verb == "POST") {
        request.method = http::Method::Post;
        request.body = http::Request::Body::Stream;
        request.streamLength = bodyLength;
        request.uploadBufferSize = static_cast<long>(kBodyPiece);
    } else if (plan.verb == "OPTIONS") {
        request.method = http::Method::Options;
    }
    // A download to a file takes the reply in large pieces: fewer callbacks, checkpoints
    // and writes per byte.
    if (plan.toFile) request.receiveBufferSize = kReceivePiece;
    request.followRedirects = plan.followRedirects;
    request.maxRedirects = kMaxRedirects;
    request.webOnly = true;
    request.freshConnection = true;
    request.userAgent = client.userAgent;
    request.caFile = client.caFile;
    if (!client.proxyServer.empty()) {
        request.proxy = client.proxyServer;
        if (!client.proxyUserName.empty()) {
            request.proxyUser = client.proxyUserName;
            request.proxyPassword = client.proxyPassword;
        }
    }
    const HttpTimeouts& timeouts = client.timeouts;
    request.limits.connectMs = static_cast<std::int64_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(timeouts.resolve) + timeouts.connect, LONG_MAX));
    const http::Bounds& bounds = timeouts.bounds;
    request.limits.lowSpeedBytes = std::max(bounds.minSpeedBytes, 1L);
    request.limits.lowSpeedSeconds = std::min(static_cast<long>(std::max(timeouts.send, timeouts.receive) / 1000 + 2),
                                              std::max(bounds.minSpeedWindowSeconds, 1L));
    if (client.wholeCallLimit) request.limits.totalMs = bounds.listingTotalMs;
    // A download to a file streams; everything else is kept in memory and has a ceiling.
    if (!plan.toFile)
        request.limits.replyCeiling = client.wholeCallLimit ? bounds.listingReplyCeiling : bounds.replyCeiling;
    request.limits.errorReplyCeiling = bounds.errorReplyCeiling;
    return request;
}
