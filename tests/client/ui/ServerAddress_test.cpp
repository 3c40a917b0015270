// The settings dialog's server address check: what names a server passes with its parts,
// what cannot name one is refused.
#include "client/ui/ServerAddress.h"

#include <gtest/gtest.h>

namespace {

TEST(ServerAddress, ATableOfAddresses) {
    struct Case {
        const char* text;
        bool ok;
        const char* scheme = "";
        const char* host = "";
        int port = 0;
        const char* path = "";
    };
    const Case cases[] = {
        {"cloud.example.com", true, "", "cloud.example.com", 0, ""},
        {"http://cloud.example.com", true, "http", "cloud.example.com", 0, ""},
        {"HTTPS://Cloud.Example.com/dravik/web", true, "https", "Cloud.Example.com", 0, "/dravik/web"},
        {"https://cloud.example.com/", true, "https", "cloud.example.com", 0, "/"},
        {"http://127.0.0.1:8080", true, "http", "127.0.0.1", 8080, ""},
        {"localhost:5000/base", true, "", "localhost", 5000, "/base"},
        {"http://[::1]:8080/x", true, "http", "[::1]", 8080, "/x"},
        {"  my-cloud.example.org  ", true, "", "my-cloud.example.org", 0, ""},
        {"", false},
        {"dravik", false},                          // no dot: a typo, not a server
        {"ftp://cloud.example.com", false},         // another scheme
        {"http://", false},
        {"http://cloud example.com", false},
        {"http://cloud.example.com:0", false},
        {"http://cloud.example.com:65536", false},
        {"http://cloud.example.com:80a", false},
        {"http://cloud.example.com:", false},
        {"http://user@cloud.example.com", false},
        {"http://cloud.example.com/a?x=1", false},
        {"http://cloud.example.com/a#top", false},
        {"http://cloud.example.com//a", false},
        {"http://-bad.example.com", false},
        {"http://cloud..example.com", false},
        {"http://256.1.1.1", false},
        {"http://1.2.3", false},
        {"http://cloud.example.com/a b", false},
        {"http://cloud.example.com/%zz", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto address = ParseServerAddress(c.text);
        ASSERT_EQ(address.has_value(), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(address->scheme, c.scheme);
        EXPECT_EQ(address->host, c.host);
        EXPECT_EQ(address->port, c.port);
        EXPECT_EQ(address->path, c.path);
    }
}

}  // namespace
