#pragma once
// The client's HTTP client with short limits against the running test server (account
// "alice"/"secret"), plus a listener that records what the client reports. `Files` is the
// local file layer a test hands the client's calls: the client's own layer in the tests of
// the local side, a plain one in the tests of the control layer below it.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "client/core/HttpClient.h"
#include "support/sandbox.h"
#include "support/server.h"

namespace clienttest {

class RecordingListener : public HttpClientListener {
public:
    void OnProgress(const TransferProgress* p) override {
        std::lock_guard<std::mutex> lock(mutex);
        progress.push_back(*p);
    }
    void OnNetworkState(int state) override {
        std::lock_guard<std::mutex> lock(mutex);
        network.push_back(state);
    }
    void OnLoginState(int state) override {
        std::lock_guard<std::mutex> lock(mutex);
        login.push_back(state);
    }
    std::vector<TransferProgress> Progress() {
        std::lock_guard<std::mutex> lock(mutex);
        return progress;
    }
    std::vector<int> Network() {
        std::lock_guard<std::mutex> lock(mutex);
        return network;
    }
    std::vector<int> Login() {
        std::lock_guard<std::mutex> lock(mutex);
        return login;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex);
        progress.clear();
        network.clear();
        login.clear();
    }

private:
    std::mutex mutex;
    std::vector<TransferProgress> progress;
    std::vector<int> network, login;
};

template <class Files>
class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<testsupport::RunningServer>(box);
        HttpLimits limits;
        limits.connectTimeout = std::chrono::seconds(5);
        limits.lowSpeedTime = std::chrono::seconds(20);
        limits.callTimeout = std::chrono::seconds(30);
        http = std::make_unique<HttpClient>();
        http->SetLimits(limits);
        http->AddListener(&listener);
    }
    void TearDown() override {
        http.reset();  // logs out while the server still runs
        server.reset();
    }

    void LoginAlice() {
        int error = -1;
        ASSERT_EQ(http->Login("alice", "secret", server->BaseUrl(), &error), 1) << error;
        ASSERT_EQ(error, 0);
    }
    std::string Home() const { return server->Account("alice").homeRef; }
    std::string Trash() const { return server->Account("alice").trashRef; }
    std::string P(const std::string& rel) const { return (box.Root() / rel).string(); }

    testsupport::Sandbox box;
    RecordingListener listener;
    std::unique_ptr<testsupport::RunningServer> server;
    std::unique_ptr<HttpClient> http;
    Files files;
};

}  // namespace clienttest
