#pragma once
// A web-API object pointed at the running in-process test server of tests/support (account
// "alice"/"secret"), a sync folder in a sandbox, and helpers to look at the results.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "platform/text.h"
#include "support/sandbox.h"
#include "support/server.h"
#include "support/synclogcapture.h"
#include "sync/common/SyncOperation.h"
#include "sync/common/TreeNode.h"
#include "sync/net/WebCloud.h"

namespace nettest {

inline bool Logged(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

// "name/" for folders, "name" for files, "=nodeRef" after each, in pre-order with the
// path from the root.
inline std::vector<std::string> Describe(const FileNode& root) {
    std::vector<std::string> out;
    std::function<void(const FileNode&, const std::string&)> walk = [&](const FileNode& node, const std::string& at) {
        for (const auto& child : node.children) {
            const std::string path = at + child->data->name + (child->data->isFile != 0 ? "" : "/");
            out.push_back(path + "=" + child->data->nodeRef.str());
            walk(*child, path);
        }
    };
    walk(root, "/");
    return out;
}

// Files below `folder` whose name marks them as download leftovers.
inline std::vector<std::string> Leftovers(const std::filesystem::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".dravik-", 0) == 0) found.push_back(entry.path().string());
    }
    return found;
}

class WebCloudTest : public ::testing::Test {
protected:
    WebCloudTest() : server(sandbox), syncDir(sandbox.Dir("sync")) {
        // The status is per thread: start every test without an earlier test's failure.
        cloud.ResetLastStatus();
        EXPECT_TRUE(cloud.SetServerAddress(server.BaseUrl() + "/dravik"));
        cloud.SetSyncFolder(plat::ToUtf16(syncDir.string()));
        cloud.SetNotifier([this](const std::u16string& caption, const std::u16string& text) {
            notices.push_back(plat::ToUtf8(caption) + "|" + plat::ToUtf8(text));
        });
    }

    void Login() {
        ASSERT_EQ(1, cloud.iLogin(&checkpoint, u"alice", u"secret"));
        server.ClearRequests();
    }
    std::string Home() { return server.Account("alice").homeRef; }
    std::filesystem::path Local(const std::string& relative) const { return syncDir / relative; }

    testsupport::Sandbox sandbox;
    GlobalEvents events;
    Checkpoint checkpoint;
    testsupport::RunningServer server;
    std::filesystem::path syncDir;
    FileNode waiter{SyncFileInfo("Waiter")};
    CWebCloud cloud{&waiter};
    std::vector<std::string> notices;
};

}  // namespace nettest
