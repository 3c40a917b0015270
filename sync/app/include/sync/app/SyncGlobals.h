#pragma once
// Program-wide values of the sync program that several threads share: the login the
// client handed over, the current user and the known accounts, the login error text, the
// server address and the path of the account's "Tracer.txt". Every value is read and
// written under one mutex, as a copy.
//
// Also here: the server address rules and the program's profile
// ($XDG_CONFIG_HOME/Parv/Orvane.ini).
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sync/common/UserRecord.h"
#include "updatesite/VersionPage.h"

// ------------------------------------------------------------------ server address

// The configured server address and what the web calls are built from. Texts are UTF-8.
struct SyncServerAddress {
    std::string url;       // base of every web call: scheme, authority and path, no trailing '/'
    std::string root;      // scheme and authority ("https://host:8443")
    std::string host;      // authority alone ("host:8443")
    std::string noScheme;  // the base without its scheme ("host:8443/dravik")
};

// The address built by default when the profile names none.
inline constexpr std::string_view kDefaultServerAddress = "https://cloud.dravik.com/dravik";

// Builds the parts from a configured address: "http://" is put in front unless it
// starts with "http://" or "https://" (any letter case); a host may carry a port; the
// path may be missing. False (and `out` untouched) when the text is empty, names another
// scheme, has no host, or holds blanks or control characters.
bool BuildServerURLName(std::string_view configured, SyncServerAddress& out);

// ------------------------------------------------------------------------ globals

class SyncGlobals {
public:
    SyncGlobals();

    // The account and password last handed over by the client (the server-inventory
    // thread logs in with them).
    void SetLogin(const std::string& account, const std::string& password);
    std::string LoginUser() const;
    std::string LoginPassword() const;

    // The current user: the account being logged in or last logged in, with its folder.
    CurrentUser CurrentUserRecord() const;
    void SetCurrentUser(const CurrentUser& user);
    // The current user's sync folder (UTF-8), empty before a login settled it.
    std::string CurrentSyncFolder() const;

    // The known accounts, in order of last use (the last one is the most recent).
    std::vector<CurrentUser> KnownUsers() const;
    void SetKnownUsers(std::vector<CurrentUser> users);

    // The server's answer to a failed login (UTF-8), empty when none came.
    std::string LoginError() const;
    void SetLoginError(const std::string& text);

    // The configured address (see BuildServerURLName) and the parts last built from it.
    std::string ConfiguredServerAddress() const;
    void SetConfiguredServerAddress(const std::string& address);
    SyncServerAddress Server() const;
    // Rebuilds the parts from the configured address; false (logged, old parts kept)
    // when it is not usable.
    bool BuildServerURLName();

    // Full path of the current account's "Tracer.txt" (UTF-8).
    std::string TracerPath() const;
    void SetTracerPath(const std::string& path);

private:
    mutable std::mutex lock_;
    std::string loginUser_;
    std::string loginPassword_;
    CurrentUser currentUser_;
    std::vector<CurrentUser> knownUsers_;
    std::string loginError_;
    std::string configuredAddress_;
    SyncServerAddress server_;
    std::string tracerPath_;
};

// The program's one instance.
SyncGlobals& Globals();

// ------------------------------------------------------------------------ profile

// Values of the profile file. Entries stand before any section header.
struct SyncProfile {
    std::uint32_t originate = 0;   // non-zero: wipe the data folder at the next start
    std::uint32_t serverTime = 1;  // minutes between two server inventories, 1 to kMaxServerTime
    std::string serverAddress = std::string(kDefaultServerAddress);
    // "CaFile": a PEM file of the authorities that https servers are checked against
    // instead of the system's; empty: the system's.
    std::string caFile;
    // "UpdateSiteAddress": the update site whose download page the update notice reads,
    // the same one the client checks; missing: the shared default site; empty: none
    // (the notice then says that no check was made).
    std::string updateSite = kDefaultUpdateSiteAddress;

    // The largest "ServerTime" whose period in milliseconds fits 32 bits.
    static constexpr std::uint32_t kMaxServerTime = 0xFFFFFFFFu / 60000u;
};

// $XDG_CONFIG_HOME/Parv/Orvane.ini
std::string SyncProfilePath();
// Reads the profile; missing values take their defaults. A "ServerTime" of 0 or one that
// cannot be read counts as 1, a larger one than kMaxServerTime as kMaxServerTime; an
// empty "ServerAddress" counts as missing.
SyncProfile ReadSyncProfile(const std::string& path);
// Writes "Originate" (the start-up resets it to 0 after wiping the data folder).
bool WriteProfileOriginate(const std::string& path, std::uint32_t value);
