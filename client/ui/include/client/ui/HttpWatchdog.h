#pragma once
// The HTTP client's watchdog on a thread of its own: once a second it calls the check
// (HttpClient::CheckTimeout), which cancels requests that stayed silent too long. The UI
// thread blocks while the controller talks to the server, so a check driven by its timer
// would never run while a request hangs. Stop (or the destructor) ends and joins the
// thread at once.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class HttpWatchdog {
public:
    explicit HttpWatchdog(std::function<void()> check,
                          std::chrono::milliseconds period = std::chrono::milliseconds(1000));
    ~HttpWatchdog();
    HttpWatchdog(const HttpWatchdog&) = delete;
    HttpWatchdog& operator=(const HttpWatchdog&) = delete;

    void Start();
    void Stop();
    bool Running() const;

private:
    void Run();
    std::function<void()> check_;
    std::chrono::milliseconds period_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};
