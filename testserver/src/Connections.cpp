#include "Connections.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace testserver {

namespace {

// The connection of the request the calling thread handles; -1 outside a handler.
thread_local int servingSocket = -1;

// Waits up to `timeout` for `events` on the descriptor.
bool WaitFor(int fd, short events, std::chrono::microseconds timeout) {
    pollfd p{fd, events, 0};
    const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count());
    for (;;) {
        const int ready = poll(&p, 1, ms);
        if (ready >= 0) return ready > 0;
        if (errno != EINTR) return false;
    }
}

void AddressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int rc = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
                        : getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    if (rc != 0 || address.ss_family != AF_INET) return;
    const auto& in = reinterpret_cast<const sockaddr_in&>(address);
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &in.sin_addr, text, sizeof text) != nullptr) ip = text;
    port = ntohs(in.sin_port);
}

// httplib's view of one connection: buffered reads and writes with the server's time-outs.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int fd, std::chrono::microseconds readTimeout, std::chrono::microseconds writeTimeout)
        : fd_(fd), readTimeout_(readTimeout), writeTimeout_(writeTimeout), buffer_(1 << 16) {}

    bool Buffered() const { return begin_ < end_; }

    bool is_readable() const override { return Buffered() || WaitFor(fd_, POLLIN, readTimeout_); }
    bool is_writable() const override { return WaitFor(fd_, POLLOUT, writeTimeout_) && PeerStillThere(); }

    ssize_t read(char* ptr, size_t size) override {
        if (!Buffered()) {
            if (!WaitFor(fd_, POLLIN, readTimeout_)) return -1;
            ssize_t n;
            do {
                n = recv(fd_, buffer_.data(), buffer_.size(), 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0) return n;
            begin_ = 0;
            end_ = static_cast<std::size_t>(n);
        }
        const std::size_t count = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_.data() + begin_, count);
        begin_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!WaitFor(fd_, POLLOUT, writeTimeout_)) return -1;
        ssize_t n;
        do {
            n = send(fd_, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { AddressOf(fd_, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { AddressOf(fd_, false, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    // False once the client closed its side (a streamed reply then stops).
    bool PeerStillThere() const {
        if (!WaitFor(fd_, POLLIN, std::chrono::microseconds(0))) return true;
        char byte;
        return recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
    }

    const int fd_;
    const std::chrono::microseconds readTimeout_;
    const std::chrono::microseconds writeTimeout_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

std::chrono::microseconds Span(time_t seconds, time_t microseconds) {
    return std::chrono::seconds(seconds) + std::chrono::microseconds(microseconds);
}

}  // namespace

bool ConnectionServer::ShutDownCurrentConnection() {
    if (servingSocket < 0) return false;
    return shutdown(servingSocket, SHUT_RDWR) == 0;
}

bool ConnectionServer::WaitForRequest(socket_t sock) const {
    // In short slices, so that a stopping server does not wait out the keep-alive time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    while (svr_sock_ != INVALID_SOCKET) {
        if (WaitFor(sock, POLLIN, std::chrono::milliseconds(50))) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
    return false;
}

bool ConnectionServer::process_and_close_socket(socket_t sock) {
    servingSocket = sock;
    // A reply goes out as two writes (head, then body). With Nagle's algorithm the second
    // waits for the client's delayed acknowledgement of the first on every kept-alive
    // request after the first: tens of milliseconds per request.
    int noDelay = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    ConnectionStream stream(sock, Span(read_timeout_sec_, read_timeout_usec_),
                            Span(write_timeout_sec_, write_timeout_usec_));
    bool served = false;
    for (std::size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
        if (!stream.Buffered() && !WaitForRequest(sock)) break;
        bool closed = false;
        served = process_request(stream, left == 1, closed, {});
        if (!served || closed) break;
    }
    servingSocket = -1;
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return served;
}

}  // namespace testserver
