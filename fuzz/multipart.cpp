// The test server's multipart parser: an upload request read by the HTTP library the test
// server runs on (the same request reader and form parser), then the form fields taken as
// the test server's upload takes them. The input's first line is the boundary, the rest
// the body.
#include <httplib.h>

#include <string>

#include "FuzzTarget.h"

namespace {

// The request arrives from memory; the reply goes nowhere.
class MemoryStream final : public httplib::Stream {
public:
    explicit MemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}
    bool is_readable() const override { return at_ < bytes_.size(); }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override {
        const std::size_t count = std::min(size, bytes_.size() - at_);
        std::copy_n(bytes_.data() + at_, count, ptr);
        at_ += count;
        return static_cast<ssize_t>(count);
    }
    ssize_t write(const char*, size_t size) override { return static_cast<ssize_t>(size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { ip = "127.0.0.1", port = 1; }
    void get_local_ip_and_port(std::string& ip, int& port) const override { ip = "127.0.0.1", port = 2; }
    socket_t socket() const override { return -1; }

private:
    std::string bytes_;
    std::size_t at_ = 0;
};

class MemoryServer final : public httplib::Server {
public:
    MemoryServer() {
        Post("/upload", [](const httplib::Request& req, httplib::Response& res) {
            std::size_t total = 0;
            for (const char* field : {"cookie", "destination", "updatenoderef", "MD5", "Filedata"}) {
                const auto it = req.files.find(field);
                if (it == req.files.end()) continue;
                std::string name = it->second.filename;
                if (const std::size_t slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
                total += name.size() + it->second.content.size() + it->second.content_type.size();
            }
            res.set_content(std::to_string(total), "text/plain");
        });
    }
    bool Serve(const std::string& request) {
        MemoryStream stream(request);
        bool closed = false;
        return process_request(stream, true, closed, {});
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::Text(data, size);
    const std::size_t end = input.find('\n');
    if (end == std::string_view::npos || end > 70) return 0;
    const std::string boundary(input.substr(0, end));
    const std::string body(input.substr(end + 1));
    static MemoryServer server;
    server.Serve("POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=" + boundary +
                 "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    return 0;
}
