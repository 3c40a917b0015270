#pragma once
// A tiny HTTP stand-in for byte-level tests: a listener on 127.0.0.1 that takes one
// connection after the other, reads each request whole (headers and a Content-Length
// body) and answers with canned bytes from a script, one step per connection. It records
// every request's raw bytes.
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A gate the responder waits on before it sends a step's later bytes.
class Gate {
public:
    void Open();
    // True when opened; false when the responder stops first.
    bool Wait(const bool& stopping, std::mutex& mutex, std::condition_variable& changed);
    bool IsOpen() const;

private:
    friend class ScriptedResponder;
    bool open_ = false;
};

struct ScriptStep {
    bool readRequest = true;             // read the whole request before answering
    std::string reply;                   // written first
    std::shared_ptr<Gate> gate;          // when set: wait for it before `later`
    std::string later;                   // written once the gate is open
    bool stall = false;                  // keep the connection open until the client leaves
};

class ScriptedResponder {
public:
    // Step i answers connection i; connections after the script get the last step.
    explicit ScriptedResponder(std::vector<ScriptStep> steps);
    ~ScriptedResponder();
    ScriptedResponder(const ScriptedResponder&) = delete;
    ScriptedResponder& operator=(const ScriptedResponder&) = delete;

    int Port() const { return port_; }
    std::string BaseUrl() const;
    std::vector<std::string> Requests() const;
    std::size_t Connections() const;
    // Opens a gate and wakes the responder.
    void Open(Gate& gate);
    void Stop();

    // A complete reply with a JSON body and the given extra header lines ("Name: value\r\n").
    static std::string Reply(int status, const std::string& body, const std::string& headers = "",
                             const std::string& type = "application/json");

private:
    void Serve();
    void Handle(int fd, const ScriptStep& step);
    bool ReadRequest(int fd, std::string& raw);
    bool WaitReadable(int fd);

    std::vector<ScriptStep> steps_;
    int listener_ = -1;
    int wake_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<std::string> requests_;
    std::size_t connections_ = 0;
    std::thread thread_;
};

}  // namespace testsupport
