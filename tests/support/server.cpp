#include "support/server.h"

namespace testsupport {

namespace {

testserver::ServerOptions OptionsIn(const Sandbox& sandbox, const ServerAccounts& accounts) {
    testserver::ServerOptions options;
    options.dataDir = sandbox.Dir("server-data");
    options.users = accounts;
    return options;
}

}  // namespace

RunningServer::RunningServer(const Sandbox& sandbox, const ServerAccounts& accounts)
    : TestServer(OptionsIn(sandbox, accounts)) {
    Start();
}

}  // namespace testsupport
