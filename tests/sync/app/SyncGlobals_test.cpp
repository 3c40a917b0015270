#include "sync/app/SyncGlobals.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/sandbox.h"

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

TEST(ServerAddressTest, BuildsTheBaseRootAndHost) {
    struct Case {
        const char* configured;
        const char* url;
        const char* root;
        const char* host;
        const char* noScheme;
    };
    const Case cases[] = {
        {"cloud.example.com/dravik", "http://cloud.example.com/dravik", "http://cloud.example.com",
         "cloud.example.com", "cloud.example.com/dravik"},
        {"http://cloud.example.com/dravik", "http://cloud.example.com/dravik", "http://cloud.example.com",
         "cloud.example.com", "cloud.example.com/dravik"},  // no second scheme
        {"HTTPS://cloud.example.com/dravik/", "https://cloud.example.com/dravik", "https://cloud.example.com",
         "cloud.example.com", "cloud.example.com/dravik"},
        {"127.0.0.1:8080/dravik", "http://127.0.0.1:8080/dravik", "http://127.0.0.1:8080", "127.0.0.1:8080",
         "127.0.0.1:8080/dravik"},
        {"https://[::1]:8443/a/dravik", "https://[::1]:8443/a/dravik", "https://[::1]:8443", "[::1]:8443",
         "[::1]:8443/a/dravik"},
        {"  host:81  ", "http://host:81", "http://host:81", "host:81", "host:81"},  // no path
    };
    for (const Case& c : cases) {
        SyncServerAddress address;
        ASSERT_TRUE(BuildServerURLName(c.configured, address)) << c.configured;
        EXPECT_EQ(address.url, c.url) << c.configured;
        EXPECT_EQ(address.root, c.root) << c.configured;
        EXPECT_EQ(address.host, c.host) << c.configured;
        EXPECT_EQ(address.noScheme, c.noScheme) << c.configured;
    }
}

TEST(ServerAddressTest, RefusesUnusableAddresses) {
    for (const char* configured :
         {"", "   ", "ftp://host/dravik", "http:///dravik", "http://", "host name/dravik", "host/dr\tavik",
          "http://user@host/dravik", "x.com/?q=http://y"}) {
        SyncServerAddress address{"keep", "keep", "keep", "keep"};
        EXPECT_FALSE(BuildServerURLName(configured, address)) << configured;
        EXPECT_EQ(address.url, "keep") << configured;
    }
}

TEST(SyncGlobalsTest, KeepsTheLastUsableAddress) {
    SyncGlobals globals;
    EXPECT_EQ(globals.Server().url, "https://cloud.dravik.com/dravik");  // built-in default
    globals.SetConfiguredServerAddress("127.0.0.1:9000/dravik");
    ASSERT_TRUE(globals.BuildServerURLName());
    EXPECT_EQ(globals.Server().host, "127.0.0.1:9000");
    globals.SetConfiguredServerAddress("ftp://nowhere");
    EXPECT_FALSE(globals.BuildServerURLName());
    EXPECT_EQ(globals.Server().url, "http://127.0.0.1:9000/dravik");
}

TEST(SyncGlobalsTest, ValuesAreSharedSafelyBetweenThreads) {
    SyncGlobals globals;
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            globals.SetLogin("user" + std::to_string(i), "pw" + std::to_string(i));
            globals.SetKnownUsers({CurrentUser{"a", "", "/x", 0, 0}, CurrentUser{"b", "", "/y", 0, 0}});
        }
    });
    for (int i = 0; i < 2000; ++i) {
        const std::string user = globals.LoginUser();
        EXPECT_TRUE(user.empty() || user.rfind("user", 0) == 0);
        const auto known = globals.KnownUsers();
        EXPECT_TRUE(known.empty() || known.size() == 2u);
    }
    writer.join();
    EXPECT_EQ(globals.LoginUser(), "user1999");
    EXPECT_EQ(globals.LoginPassword(), "pw1999");
}

TEST(SyncProfileTest, ReadsValuesWithTheirDefaults) {
    testsupport::Sandbox sandbox;
    const std::string path = SyncProfilePath();
    EXPECT_EQ(path, (sandbox.ConfigHome() / "Parv" / "Orvane.ini").string());

    SyncProfile none = ReadSyncProfile(path);  // no file
    EXPECT_EQ(none.originate, 0u);
    EXPECT_EQ(none.serverTime, 1u);
    EXPECT_EQ(none.serverAddress, "https://cloud.dravik.com/dravik");

    EXPECT_EQ(none.caFile, "");
    EXPECT_EQ(none.updateSite, "https://www.dravik.com") << "the client's default site";

    struct Case {
        const char* text;
        std::uint32_t originate;
        std::uint32_t serverTime;
        const char* address;
        const char* caFile = "";
        const char* updateSite = "https://www.dravik.com";
    };
    const Case cases[] = {
        {"Originate=1\nServerTime=5\nServerAddress=127.0.0.1:8080/dravik\n", 1, 5, "127.0.0.1:8080/dravik"},
        {"ServerTime=0\nServerAddress=\n", 0, 1, "https://cloud.dravik.com/dravik"},
        {"ServerTime=soon\n", 0, 1, "https://cloud.dravik.com/dravik"},
        {"ServerTime=-4\nOriginate=7\n", 1, 1, "https://cloud.dravik.com/dravik"},
        {"ServerTime=9999999\n", 0, SyncProfile::kMaxServerTime, "https://cloud.dravik.com/dravik"},
        {"[Other]\nServerTime=5\n", 0, 1, "https://cloud.dravik.com/dravik"},  // another section's
        {"CaFile=/etc/dravik/own ca.pem\n", 0, 1, "https://cloud.dravik.com/dravik", "/etc/dravik/own ca.pem"},
        {"[Other]\nCaFile=/x.pem\n", 0, 1, "https://cloud.dravik.com/dravik"},
        {"UpdateSiteAddress=http://127.0.0.1:9/u\n", 0, 1, "https://cloud.dravik.com/dravik", "", "http://127.0.0.1:9/u"},
        {"UpdateSiteAddress=\n", 0, 1, "https://cloud.dravik.com/dravik", "", ""},  // none: no check
    };
    for (const Case& c : cases) {
        WriteFile(path, c.text);
        const SyncProfile profile = ReadSyncProfile(path);
        EXPECT_EQ(profile.originate, c.originate) << c.text;
        EXPECT_EQ(profile.serverTime, c.serverTime) << c.text;
        EXPECT_EQ(profile.serverAddress, c.address) << c.text;
        EXPECT_EQ(profile.caFile, c.caFile) << c.text;
        EXPECT_EQ(profile.updateSite, c.updateSite) << c.text;
    }
    EXPECT_EQ(std::uint64_t{SyncProfile::kMaxServerTime} * 60000u <= 0xFFFFFFFFu, true);
}

TEST(SyncProfileTest, OriginateIsResetInPlace) {
    testsupport::Sandbox sandbox;
    const std::string path = SyncProfilePath();
    EXPECT_TRUE(WriteProfileOriginate(path, 0));  // creates folder and file
    WriteFile(path, "; kept\nOriginate=1\nServerTime=3\n");
    ASSERT_TRUE(WriteProfileOriginate(path, 0));
    EXPECT_EQ(ReadFile(path), "; kept\nOriginate=0\nServerTime=3\n");
    EXPECT_EQ(ReadSyncProfile(path).originate, 0u);
}

}  // namespace
