#include "support/responder.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

void Gate::Open() { open_ = true; }

bool Gate::IsOpen() const { return open_; }

bool Gate::Wait(const bool& stopping, std::mutex& mutex, std::condition_variable& changed) {
    std::unique_lock<std::mutex> hold(mutex);
    changed.wait(hold, [&] { return open_ || stopping; });
    return open_;
}

ScriptedResponder::ScriptedResponder(std::vector<ScriptStep> steps) : steps_(std::move(steps)) {
    if (steps_.empty()) steps_.emplace_back();
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || wake_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("scripted responder: cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedResponder::~ScriptedResponder() {
    Stop();
    ::close(listener_);
    ::close(wake_);
}

void ScriptedResponder::Stop() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
}

std::string ScriptedResponder::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> ScriptedResponder::Requests() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
}

std::size_t ScriptedResponder::Connections() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return connections_;
}

void ScriptedResponder::Open(Gate& gate) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        gate.Open();
    }
    changed_.notify_all();
}

std::string ScriptedResponder::Reply(int status, const std::string& body, const std::string& headers,
                                     const std::string& type) {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

// True when `fd` has bytes (or its end) to read; false when the responder stops first.
bool ScriptedResponder::WaitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_, POLLIN, 0}};
    while (true) {
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (fds[1].revents & POLLIN) != 0) return false;
        if (fds[0].revents != 0) return true;
    }
}

bool ScriptedResponder::ReadRequest(int fd, std::string& raw) {
    std::size_t headerEnd = std::string::npos;
    std::size_t wanted = 0;
    char buffer[65536];
    while (true) {
        if (headerEnd != std::string::npos && raw.size() >= headerEnd + wanted) return true;
        if (!WaitReadable(fd)) return false;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        raw.append(buffer, static_cast<std::size_t>(n));
        if (headerEnd == std::string::npos) {
            const std::size_t end = raw.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            headerEnd = end + 4;
            std::string lower = raw.substr(0, headerEnd);
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            const std::size_t field = lower.find("\r\ncontent-length:");
            if (field != std::string::npos) wanted = std::stoull(lower.substr(field + 17));
        }
    }
}

void ScriptedResponder::Handle(int fd, const ScriptStep& step) {
    if (step.readRequest) {
        std::string raw;
        const bool whole = ReadRequest(fd, raw);
        {
            std::lock_guard<std::mutex> hold(mutex_);
            requests_.push_back(raw);
        }
        if (!whole && raw.empty()) return;
    }
    const auto send = [fd](const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    };
    if (!send(step.reply)) return;
    if (step.gate) {
        if (!step.gate->Wait(stopping_, mutex_, changed_)) return;
        if (!send(step.later)) return;
    }
    if (step.stall) {
        // Until the client gives up (its end of the connection) or the responder stops.
        char sink[4096];
        while (WaitReadable(fd) && ::recv(fd, sink, sizeof sink, 0) > 0) {
        }
    }
}

void ScriptedResponder::Serve() {
    while (true) {
        if (!WaitReadable(listener_)) return;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::size_t index = 0;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            index = std::min(connections_, steps_.size() - 1);
            ++connections_;
        }
        Handle(fd, steps_[index]);
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
}

}  // namespace testsupport
