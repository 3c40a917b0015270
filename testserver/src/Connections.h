#pragma once
// The test server's HTTP server, serving each accepted connection itself: httplib reads
// and answers the requests, over a stream of ours on the connection's descriptor, on the
// handler thread that owns that connection until it is closed. A handler can thus cut the
// very connection it answers (the drop faults) without looking at any other descriptor of
// the process.
#include <httplib.h>

namespace testserver {

class ConnectionServer final : public httplib::Server {
public:
    // Shuts down (both ways) the connection whose request the calling thread is handling,
    // so that its client gets no answer; the descriptor stays open until the server closes
    // it. False when the calling thread handles no request.
    static bool ShutDownCurrentConnection();

private:
    // Runs httplib's requests on the connection, kept alive as httplib would, then shuts
    // it down and closes it. Called on a handler thread for each accepted connection.
    bool process_and_close_socket(socket_t sock) override;
    // Waits for the next request's first bytes: false when the keep-alive time ran out,
    // the client left or the server is stopping.
    bool WaitForRequest(socket_t sock) const;
};

}  // namespace testserver
