// The server inventory's login: an outage is tried again at the next poll, a refused
// certificate is not (it would fail the same way) until the next login starts the poll.
#include <gtest/gtest.h>

#include "CommitTestSupport.h"
#include "support/sandbox.h"
#include "support/tlsresponder.h"
#include "sync/engine/ThreadOfServer.h"
#include "sync/net/WebCloud.h"

using namespace committest;

namespace {

const auto* const kQuitEnvironment = ::testing::AddGlobalTestEnvironment(new QuitEventEnvironment);

class InventoryWindow : public RecordingWindow, public ServerInventoryHost {
public:
    bool LoginCredentials(std::u16string& account, std::u16string& password) override {
        account = u"alice";
        password = u"secret";
        return true;
    }
    void OnLoginResult(bool success) override { results.push_back(success); }
    void KillServerPoll() override { ++kills; }
    void ArmServerPoll() override { ++arms; }
    void SaveServerListing(const FileNode&) override {}

    std::vector<bool> results;
    int kills = 0;
    int arms = 0;
};

TEST(ServerInventoryTest, ARefusedCertificateIsNoOutageToRetry) {
    const testsupport::Sandbox sandbox;
    testsupport::TlsResponder server(testsupport::TestAuthority::SelfSigned("other.example"), "");
    const std::string address = "127.0.0.1:" + std::to_string(server.Port()) + "/dravik";
    struct Case {
        const char* name;
        std::string url;
        std::uint32_t state;  // the login state the pass leaves
        int arms;             // the poll armed again
    };
    const Case cases[] = {
        {"refused certificate", "https://" + address, 0, 0},
        {"no answer (plain text to a TLS port)", "http://" + address, 1, 1},
    };
    for (const Case& c : cases) {
        g_bNetworkUp = true;
        SyncApp app;
        InventoryWindow window;
        window.serverState = 1;
        CWebCloud cloud(&app.WaiterTree);
        ASSERT_TRUE(cloud.SetServerAddress(c.url)) << c.name;
        app.mainWindow = &window;
        app.webCloud = &cloud;
        CThreadOfServer inventory(&app, &app.WaiterTree);
        inventory.app = &app;
        inventory.tree = &app.WaiterTree;

        EXPECT_EQ(0u, inventory.ServerThreadOnRun()) << c.name;
        EXPECT_EQ(std::vector<bool>{false}, window.results) << c.name;
        EXPECT_EQ(c.state, window.serverState.load()) << c.name;
        EXPECT_EQ(1, window.kills) << c.name;
        EXPECT_EQ(c.arms, window.arms) << c.name;
    }
    EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
