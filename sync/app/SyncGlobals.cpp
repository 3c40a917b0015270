#include "sync/app/SyncGlobals.h"

#include <log4cpp/Category.hh>

#include "platform/fileops.h"
#include "platform/ini.h"
#include "platform/userdirs.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"

namespace {

constexpr std::string_view kHttp = "http://";
constexpr std::string_view kHttps = "https://";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && BaseFunc::EqualNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

bool BuildServerURLName(std::string_view configured, SyncServerAddress& out) {
    const std::size_t first = configured.find_first_not_of(" \t");
    const std::size_t last = configured.find_last_not_of(" \t");
    if (first == std::string_view::npos) return false;
    const std::string_view text = configured.substr(first, last - first + 1);
    for (const char c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
    }

    std::string_view scheme = kHttp;
    std::string_view rest = text;
    if (StartsWithNoCase(text, kHttps)) {
        scheme = kHttps;
        rest = text.substr(kHttps.size());
    } else if (StartsWithNoCase(text, kHttp)) {
        rest = text.substr(kHttp.size());
    } else if (text.find("://") != std::string_view::npos) {
        return false;  // another scheme
    }
    while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);

    const std::string_view host = rest.substr(0, rest.find('/'));
    if (host.empty() || host.find_first_of("?#@") != std::string_view::npos) return false;
    const std::string url = std::string(scheme) + std::string(rest);
    const std::size_t authority = scheme.size();
    const std::size_t end = authority + host.size();

    out.url = url;
    out.root = url.substr(0, end);
    out.host = std::string(host);
    out.noScheme = url.substr(authority);
    return true;
}

// ------------------------------------------------------------------------ globals

SyncGlobals::SyncGlobals() : configuredAddress_(kDefaultServerAddress) {
    ::BuildServerURLName(configuredAddress_, server_);
}

void SyncGlobals::SetLogin(const std::string& account, const std::string& password) {
    std::lock_guard<std::mutex> hold(lock_);
    loginUser_ = account;
    loginPassword_ = password;
}

std::string SyncGlobals::LoginUser() const {
    std::lock_guard<std::mutex> hold(lock_);
    return loginUser_;
}

std::string SyncGlobals::LoginPassword() const {
    std::lock_guard<std::mutex> hold(lock_);
    return loginPassword_;
}

CurrentUser SyncGlobals::CurrentUserRecord() const {
    std::lock_guard<std::mutex> hold(lock_);
    return currentUser_;
}

void SyncGlobals::SetCurrentUser(const CurrentUser& user) {
    std::lock_guard<std::mutex> hold(lock_);
    currentUser_ = user;
}

std::string SyncGlobals::CurrentSyncFolder() const {
    std::lock_guard<std::mutex> hold(lock_);
    return currentUser_.Path;
}

std::vector<CurrentUser> SyncGlobals::KnownUsers() const {
    std::lock_guard<std::mutex> hold(lock_);
    return knownUsers_;
}

void SyncGlobals::SetKnownUsers(std::vector<CurrentUser> users) {
    std::lock_guard<std::mutex> hold(lock_);
    knownUsers_ = std::move(users);
}

std::string SyncGlobals::LoginError() const {
    std::lock_guard<std::mutex> hold(lock_);
    return loginError_;
}

void SyncGlobals::SetLoginError(const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    loginError_ = text;
}

std::string SyncGlobals::ConfiguredServerAddress() const {
    std::lock_guard<std::mutex> hold(lock_);
    return configuredAddress_;
}

void SyncGlobals::SetConfiguredServerAddress(const std::string& address) {
    std::lock_guard<std::mutex> hold(lock_);
    configuredAddress_ = address;
}

SyncServerAddress SyncGlobals::Server() const {
    std::lock_guard<std::mutex> hold(lock_);
    return server_;
}

bool SyncGlobals::BuildServerURLName() {
    SyncLog().debug("call COrvaneApp::BuildServerURLName");
    std::lock_guard<std::mutex> hold(lock_);
    if (::BuildServerURLName(configuredAddress_, server_)) return true;
    SyncLog().alert("Server address '" + EscapeForLog(configuredAddress_) +
                    "' is not usable; the previous address stays. filepath:SyncGlobals");
    return false;
}

std::string SyncGlobals::TracerPath() const {
    std::lock_guard<std::mutex> hold(lock_);
    return tracerPath_;
}

void SyncGlobals::SetTracerPath(const std::string& path) {
    std::lock_guard<std::mutex> hold(lock_);
    tracerPath_ = path;
}

SyncGlobals& Globals() {
    static SyncGlobals globals;
    return globals;
}

// ------------------------------------------------------------------------ profile

namespace {

constexpr std::string_view kProfileSection{};  // entries stand before any header
constexpr std::string_view kOriginate = "Originate";
constexpr std::string_view kServerTime = "ServerTime";
constexpr std::string_view kServerAddress = "ServerAddress";
constexpr std::string_view kCaFile = "CaFile";
constexpr std::string_view kUpdateSite = "UpdateSiteAddress";

}  // namespace

std::string SyncProfilePath() {
    return plat::fs::Join(plat::fs::Join(plat::ConfigHome(), "Parv"), "Orvane.ini");
}

SyncProfile ReadSyncProfile(const std::string& path) {
    plat::IniFile file;
    file.Load(path);
    SyncProfile profile;
    profile.originate = file.GetInt(kProfileSection, kOriginate, 0) != 0 ? 1u : 0u;

    const std::int64_t minutes = file.GetInt(kProfileSection, kServerTime, 1);
    if (minutes <= 0) {
        profile.serverTime = 1;
    } else if (minutes > static_cast<std::int64_t>(SyncProfile::kMaxServerTime)) {
        profile.serverTime = SyncProfile::kMaxServerTime;
    } else {
        profile.serverTime = static_cast<std::uint32_t>(minutes);
    }

    const std::string address = file.GetString(kProfileSection, kServerAddress, "");
    if (!address.empty()) profile.serverAddress = address;
    profile.caFile = file.GetString(kProfileSection, kCaFile, "");
    profile.updateSite = file.GetString(kProfileSection, kUpdateSite, kDefaultUpdateSiteAddress);
    return profile;
}

bool WriteProfileOriginate(const std::string& path, std::uint32_t value) {
    return plat::WriteProfileString(path, kProfileSection, kOriginate, std::to_string(value));
}
