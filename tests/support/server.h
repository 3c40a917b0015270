#pragma once
// The rung above the sandbox: the test server running in this process on 127.0.0.1 (a
// free port), its data kept in the sandbox, with its accounts. It is started when made
// and stopped when destroyed. Tests read and change an account's tree through the test
// server's control interface (TestServer's own calls).
#include <string>
#include <utility>
#include <vector>

#include "support/sandbox.h"
#include "testserver/TestServer.h"

namespace testsupport {

// The account most tests log in with.
inline constexpr const char* kServerAccount = "alice";
inline constexpr const char* kServerPassword = "secret";

using ServerAccounts = std::vector<std::pair<std::string, std::string>>;  // account, password

class RunningServer : public testserver::TestServer {
public:
    // Keeps its data below the sandbox's "server-data" folder; throws when it cannot listen.
    explicit RunningServer(const Sandbox& sandbox,
                           const ServerAccounts& accounts = {{kServerAccount, kServerPassword}});
};

}  // namespace testsupport
