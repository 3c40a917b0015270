#pragma once
// Fixtures shared by the sync-net tests: the process-wide quit event the checkpoints need,
// a worker checkpoint, a recorder of what the running page receives, and the scripted
// socket responder of tests/support under the names these tests use.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/md5.h"
#include "support/responder.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncBase.h"
#include "sync/common/TreeNode.h"
#include "sync/common/FeedLists.h"

namespace nettest {

using testsupport::Gate;
using testsupport::ScriptedResponder;
using testsupport::ScriptStep;

// Installs "Global Terminate" for the test's lifetime.
class GlobalEvents {
public:
    GlobalEvents() : saved_(g_pTerminateEvent) { g_pTerminateEvent = &terminate_; }
    ~GlobalEvents() { g_pTerminateEvent = saved_; }
    GlobalEvents(const GlobalEvents&) = delete;
    GlobalEvents& operator=(const GlobalEvents&) = delete;

private:
    CEventEx terminate_{"Global Terminate", true, false};
    CEventEx* saved_;
};

// A worker's checkpoint object.
class Checkpoint : public CSyncBase {};

// Collects what the running page would receive; `onProgress` runs on the reporting thread.
class RunningPage {
public:
    explicit RunningPage(std::function<void(double)> onProgress = nullptr) : onProgress_(std::move(onProgress)) {
        CStateDoingPage::ClearDoingItems();
        auto sink = std::make_shared<FeedSink>([this](const FeedEvent& event) {
            if (event.message != WM_STATE_PROGRESS) return;
            std::function<void(double)> hook;
            {
                std::lock_guard<std::mutex> hold(lock_);
                percents_.push_back(event.percent);
                hook = onProgress_;
            }
            if (hook) hook(event.percent);
        });
        CStateDoingPage::SetPage(sink);
    }
    ~RunningPage() {
        CStateDoingPage::SetPage(nullptr);
        CStateDoingPage::ClearDoingItems();
    }
    RunningPage(const RunningPage&) = delete;
    RunningPage& operator=(const RunningPage&) = delete;

    std::vector<double> Percents() const {
        std::lock_guard<std::mutex> hold(lock_);
        return percents_;
    }

private:
    mutable std::mutex lock_;
    std::vector<double> percents_;
    std::function<void(double)> onProgress_;
};

// A unified-tree node for a transfer whose local partner carries `checksum`, added to the
// running page (the way the commit threads add their items).
class TransferNode {
public:
    explicit TransferNode(const std::string& checksum, const std::string& path = "\\file.bin")
        : local_(SyncFileInfo(1, 0, 0, path)),
          node_(SyncTaskInfo(1, "file.bin", 1, 1, 0, &local_, nullptr)) {
        local_.data->checksum = checksum;
        CStateDoingPage::AddDoingItem(&node_, 0, 0, 0, 0, path);
    }
    const TaskNode& Node() const { return node_; }
    const TaskNode* Key() const { return &node_; }

private:
    FileNode local_;
    TaskNode node_;
};

// A port on 127.0.0.1 on which nothing listens.
inline int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

inline std::string Md5Upper(const std::string& bytes) { return BaseFunc::ToUpper(plat::Md5HexLower(bytes)); }

// Deterministic bytes of the given size.
inline std::string Pattern(std::size_t size, unsigned seed = 7) {
    std::string bytes(size, '\0');
    unsigned value = seed;
    for (char& c : bytes) {
        value = value * 1103515245u + 12345u;
        c = static_cast<char>(value >> 16);
    }
    return bytes;
}

}  // namespace nettest
