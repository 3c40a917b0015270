#pragma once
// Fixtures shared by the sync-net tests: the process-wide quit event the checkpoints need,
// a worker checkpoint, a recording progress sink, and the scripted
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
#include "sync/net/ProgressSink.h"

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

// The HTTP client's progress sink of a test: keeps every share reported, in order;
// `onReport` (when set) runs on the reporting thread after each.
class RecordingProgress final : public ProgressSink {
public:
    explicit RecordingProgress(std::function<void(double)> onReport = nullptr) : onReport_(std::move(onReport)) {}
    void Report(double percent) const override {
        std::function<void(double)> hook;
        {
            std::lock_guard<std::mutex> hold(lock_);
            percents_.push_back(percent);
            hook = onReport_;
        }
        if (hook) hook(percent);
    }
    std::vector<double> Percents() const {
        std::lock_guard<std::mutex> hold(lock_);
        return percents_;
    }
    void Clear() {
        std::lock_guard<std::mutex> hold(lock_);
        percents_.clear();
    }
    void OnReport(std::function<void(double)> hook) {
        std::lock_guard<std::mutex> hold(lock_);
        onReport_ = std::move(hook);
    }

private:
    mutable std::mutex lock_;
    mutable std::vector<double> percents_;
    std::function<void(double)> onReport_;
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
