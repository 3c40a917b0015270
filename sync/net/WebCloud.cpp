#include "sync/net/WebCloud.h"

#include <algorithm>

#include <log4cpp/Category.hh>

#include "platform/fileops.h"
#include "platform/longpath.h"
#include "platform/text.h"
#include "http/Bounds.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncLog.h"
#include "sync/common/TreeNode.h"
#include "sync/common/unicode.h"
#include "WebCloudInternal.h"

namespace {

constexpr const char* kUserAgentLine =
    "User-Agent:Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.22 (KHTML, like Gecko) Chrome/25.0.1364.97 "
    "Safari/537.22\r\n";

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && BaseFunc::EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Lines 1 to 4 of every header block after its Accept line.
void AppendBrowserLines(std::string& block) {
    block += "Accept-Charset:GBK,utf-8;q=0.7,*;q=0.3\r\n";
    block += "Accept-Language:zh-CN,zh;q=0.8\r\n";
    block += "Connection:keep-alive\r\n";
}

void AppendOriginLines(std::string& block, const ServerAddress& address) {
    block += "Host:" + address.host + "\r\n";
    block += "Origin:" + address.url + "\r\n";
    block += "Referer:" + address.url + "/\r\n";
    block += kUserAgentLine;
}

}  // namespace

// ---- helpers of the web API ---------------------------------------------------------------

namespace webcloud {

void LogAlert(const std::string& message, int line) {
    SyncLog().alert(message + "WebCloud line:" + std::to_string(line));
}

std::string Quoted(std::string_view text) { return EscapeForLog(text); }

bool ParseReply(const std::string& text, rapidjson::Document& doc) {
    // The iterative parser keeps its nesting on the heap: a reply nested a million levels
    // deep is read (or refused) without exhausting the stack.
    doc.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
    return !doc.HasParseError();
}

bool StringMember(const rapidjson::Value& object, const char* name, std::string& out) {
    if (!object.IsObject()) return false;
    const auto it = object.FindMember(name);
    if (it == object.MemberEnd() || !it->value.IsString()) return false;
    out.assign(it->value.GetString(), it->value.GetStringLength());
    return true;
}

bool HoldsWord(std::string_view text, std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        if (BaseFunc::EqualNoCase(text.substr(i, word.size()), word) && (i == 0 || !IsAsciiLetter(text[i - 1]))) {
            return true;
        }
    }
    return false;
}

std::string JsonHeaderBlock(const ServerAddress& address, std::string_view accept, std::uint64_t bodyLength,
                            const std::string& cookie) {
    std::string block = "Accept:" + std::string(accept) + "\r\n";
    AppendBrowserLines(block);
    block += "Content-Length:" + std::to_string(bodyLength) + "\r\n";
    block += "Content-Type:application/json\r\n";
    block += "Cookie:" + cookie + "\r\n";
    AppendOriginLines(block, address);
    block += "X-Requested-With:XMLHttpRequest\r\n";
    return block;
}

std::string UploadHeaderBlock(const ServerAddress& address, const std::string& boundary, std::uint64_t bodyLength) {
    std::string block = "Accept:*/*\r\n";
    AppendBrowserLines(block);
    block += "Content-Length:" + std::to_string(bodyLength) + "\r\n";
    block += "Content-Type:multipart/form-data; boundary=" + boundary + "\r\n";
    AppendOriginLines(block, address);
    return block;
}

}  // namespace webcloud

using webcloud::LogAlert;
using webcloud::Quoted;

std::optional<ServerAddress> ParseServerAddress(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (std::any_of(text.begin(), text.end(), [](char c) { return c == ' ' || IsControl(static_cast<unsigned char>(c)); })) {
        return std::nullopt;
    }
    while (!text.empty() && text.back() == '/') text.remove_suffix(1);
    std::string scheme = "http://";
    if (StartsWithNoCase(text, "http://")) {
        text.remove_prefix(7);
    } else if (StartsWithNoCase(text, "https://")) {
        scheme = "https://";
        text.remove_prefix(8);
    } else if (text.find("://") != std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t slash = text.find('/');
    const std::string_view authority = text.substr(0, slash);
    if (authority.empty() || authority.find_first_of("@?#") != std::string_view::npos) return std::nullopt;
    ServerAddress address;
    address.host = std::string(authority);
    address.root = scheme + address.host;
    address.url = scheme + std::string(text);
    return address;
}

// ---- the object -----------------------------------------------------------------------------

CWebCloud::CWebCloud(TreeNode<SyncFileInfo>* targetTree) : targetTree_(targetTree) {}

CWebCloud::~CWebCloud() {
    std::lock_guard<std::mutex> hold(lock_);
    loggedIn_ = false;
}

bool CWebCloud::SetServerAddress(std::string_view configured) {
    auto address = ParseServerAddress(configured);
    if (!address) return false;
    std::lock_guard<std::mutex> hold(lock_);
    config_.address = std::move(address);
    return true;
}

ServerAddress CWebCloud::GetServerAddress() const {
    std::lock_guard<std::mutex> hold(lock_);
    return config_.address.value_or(ServerAddress{});
}

void CWebCloud::SetSyncFolder(const std::u16string& folder) {
    std::lock_guard<std::mutex> hold(lock_);
    config_.syncFolder = folder;
}

void CWebCloud::SetNotifier(LoginNotifier notifier) {
    std::lock_guard<std::mutex> hold(lock_);
    config_.notifier = std::move(notifier);
}

void CWebCloud::SetTimeouts(const HttpTimeouts& timeouts) {
    std::lock_guard<std::mutex> hold(lock_);
    config_.timeouts = timeouts;
}

void CWebCloud::SetInMemoryUploadLimit(std::uint64_t bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    config_.inMemoryUploadLimit = bytes;
}

void CWebCloud::SetCaFile(std::string path) {
    std::lock_guard<std::mutex> hold(lock_);
    config_.caFile = std::move(path);
}

CWebCloud::Config CWebCloud::Settings() const {
    std::lock_guard<std::mutex> hold(lock_);
    return config_;
}

bool CWebCloud::LoggedIn() const {
    std::lock_guard<std::mutex> hold(lock_);
    return loggedIn_;
}

std::string CWebCloud::LoginCookie() const {
    std::lock_guard<std::mutex> hold(lock_);
    return loginCookie_;
}

std::string CWebCloud::HomeFolder() const {
    std::lock_guard<std::mutex> hold(lock_);
    return homeFolder_;
}

std::u16string CWebCloud::Account() const {
    std::lock_guard<std::mutex> hold(lock_);
    return account_;
}

std::u16string CWebCloud::LoginReply() const {
    std::lock_guard<std::mutex> hold(lock_);
    return loginReply_;
}

namespace {
// One status per thread: a request's status belongs to the thread that made it.
thread_local std::uint32_t t_lastStatus = 200;
void SetLastStatus(std::uint32_t status) { t_lastStatus = status; }
}  // namespace

std::uint32_t CWebCloud::LastStatus() const { return t_lastStatus; }
void CWebCloud::ResetLastStatus() { t_lastStatus = 200; }

WinHttpClient& CWebCloud::Client(std::unique_ptr<WinHttpClient>& slot, CSyncBase* checkpoint, const std::string& url) {
    if (!slot) {
        slot = std::make_unique<WinHttpClient>(checkpoint, url);
    } else {
        slot->UpdateUrl(checkpoint, url);
    }
    std::lock_guard<std::mutex> hold(lock_);
    slot->timeouts = config_.timeouts;
    slot->caFile = config_.caFile;
    return *slot;
}

void CWebCloud::RequestFailed(const WinHttpClient& client) {
    SetLastStatus(client.lastError);
    if (client.lastError == 401 || client.lastError == 403) ClearLogin();
}

void CWebCloud::ClearLogin() {
    std::lock_guard<std::mutex> hold(lock_);
    loginCookie_.clear();
    loggedIn_ = false;
}

std::string CWebCloud::UrlEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
            b == '_' || b == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        }
    }
    return out;
}

std::optional<std::string> CWebCloud::UrlReference(std::string_view nodeRef) {
    const std::size_t scheme = nodeRef.find("://");
    if (scheme == std::string_view::npos) return std::nullopt;
    const std::string joined = std::string(nodeRef.substr(0, scheme)) + "/" + std::string(nodeRef.substr(scheme + 3));
    std::string out;
    std::size_t pos = 0;
    while (true) {
        const std::size_t end = joined.find('/', pos);
        const std::string_view segment = std::string_view(joined).substr(pos, end - pos);
        if (segment.empty() || segment == "." || segment == "..") return std::nullopt;
        if (!out.empty()) out += '/';
        out += UrlEncode(segment);
        if (end == std::string::npos) return out;
        pos = end + 1;
    }
}

std::optional<std::string> CWebCloud::LocalPath(const Config& config, const std::string& path) const {
    std::string configured;
    std::string root;
    if (config.syncFolder.empty() || !plat::Utf16ToUtf8(config.syncFolder, configured) ||
        !plat::NormalizePathUtf8(configured, root)) {
        return std::nullopt;
    }
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    std::string full = root == "/" ? std::string() : root;
    std::vector<std::string> folders;  // every level below the root but the last
    std::size_t pos = 0;
    bool any = false;
    while (pos <= path.size()) {
        std::size_t end = path.find_first_of("/\\", pos);
        if (end == std::string::npos) end = path.size();
        const std::string_view name = std::string_view(path).substr(pos, end - pos);
        const bool leading = pos == 0 && name.empty();
        if (!leading) {
            if (name.empty() || name == "." || name == ".." || !plat::IsValidUtf8(name) ||
                std::any_of(name.begin(), name.end(), [](char c) { return IsControl(static_cast<unsigned char>(c)); })) {
                return std::nullopt;
            }
            if (any) folders.push_back(full);
            full += '/';
            full += name;
            any = true;
        }
        pos = end + 1;
    }
    std::string normalised;
    if (!any || !plat::NormalizePathUtf8(full, normalised) || normalised != full) return std::nullopt;
    // Nothing below the root may lead elsewhere through a link.
    for (const std::string& folder : folders) {
        const plat::fs::Kind kind = plat::fs::GetKind(folder);
        if (kind == plat::fs::Kind::Link || kind == plat::fs::Kind::Special) return std::nullopt;
    }
    return full;
}

// ---- login and logout -----------------------------------------------------------------------

int CWebCloud::iLogin(CSyncBase* checkpoint, const std::u16string& account, const std::u16string& password) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        loginReply_.clear();
    }
    if (!LoginCookie().empty()) iLogout(checkpoint);
    const Config config = Settings();
    {
        std::lock_guard<std::mutex> hold(lock_);
        account_ = account;
        password_ = password;
    }
    std::string url;
    if (config.address) {
        url = config.address->url + "/app/login?user[email]=" + UrlEncode(BaseFunc::WideToUtf8(account)) +
              "&user[pw]=" + UrlEncode(BaseFunc::WideToUtf8(password));
    }
    WinHttpClient& client = Client(loginClient_, checkpoint, url);
    if (!client.SendLoginRequest()) {
        SetLastStatus(client.lastError);
        if (config.notifier) {
            if (client.lastError == httperr::kCertificateRejected) {
                // Trying again later would fail the same way: say which server and why.
                config.notifier(u"提示信息", plat::ToUtf16("服务器证书未通过验证: " + (config.address ? config.address->root : std::string()) + "\n" +
                                                                 client.failureReason));
            } else {
                config.notifier(u"提示信息", u"连接服务器失败\n请稍后重试");
            }
        }
        LogAlert("CWebCloud::iLogin 发送请求失败 filepath:", 312);
        return 0;
    }
    const std::string cookie = client.GetResponseCookies();
    const std::string& reply = client.GetResponseContent();
    {
        std::lock_guard<std::mutex> hold(lock_);
        loginCookie_ = cookie;
        if (!cookie.empty()) loginReply_ = BaseFunc::AnsiToWide(reply);
    }
    if (cookie.empty()) {
        SyncLog().alert("CWebCloud::iLogin 获取Cookie失败");
        return 0;
    }
    rapidjson::Document doc;
    if (!webcloud::ParseReply(reply, doc)) {
        SyncLog().alert("CWebCloud::iLogin 解析JSON失败\nJSON= " + http::LogExcerpt(reply));
        return 0;
    }
    std::string home;
    if (!webcloud::StringMember(doc, "homeFolder", home) || home.empty()) {
        SyncLog().alert("CWebCloud::iLogin 登录返回失败. Not found 'homeFolder' in JSON, JSON=\n" +
                        http::LogExcerpt(reply));
        return 0;
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        homeFolder_ = home;
        loggedIn_ = true;
    }
    SyncLog().info("CWebCloud::iLogin 帐户登录成功");
    return 1;
}

int CWebCloud::iLogout(CSyncBase* checkpoint) {
    std::lock_guard<std::mutex> serial(logoutLock_);
    const std::string cookie = LoginCookie();
    if (cookie.empty()) return 0;
    const Config config = Settings();
    WinHttpClient& client = Client(logoutClient_, checkpoint, config.address ? config.address->url + "/logout" : "");
    client.SetCookies(cookie);
    const bool ok = client.SendHttpRequest("GET", nullptr, nullptr);
    SetLastStatus(ok ? client.statusCode : client.lastError);
    ClearLogin();
    return ok ? 1 : 0;
}
