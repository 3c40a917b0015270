#pragma once
// The flag query for programs outside the system (a file manager asking whether an item
// is in step): the answer itself, and the local socket that serves it to other programs
// of the user.
//
// The answer (AnswerFlagQuery): the unified tree's node at a path relative to the sync
// folder ('\\' separators) is looked up under treeEditLock and treeLock; its flag (for a
// folder, the combination of the flags of every file below it: 1 only when every file
// has 1) is compared with the flag the asker expects. 1 (TRUE) when they are equal, 0
// (FALSE) when not, and when the path is empty, not UTF-16 or not in the tree. The main
// window's own message (ClientLink::OnCopyData) and the socket give the same answer.
//
// The socket (FlagQueryEndpoint): a stream socket, mode 0600, in the user's runtime
// folder; peers of another user are refused. Per connection: one request, one answer,
// then the connection closes. The request, little-endian:
//
//   u64  the expected flag
//   u32  the byte count of the path (even; at most 2 x kLongestPathChars)
//   ...  the path, UTF-16LE, relative to the sync folder, '\\' separators
//
// The answer is one byte, 1 TRUE or 0 FALSE. A request that breaks these rules (an odd or
// too large byte count), that does not arrive whole within the time limit, or whose peer
// goes away gets no answer: the connection is closed.
//
// Threads: the endpoint serves on threads of its own, at most `connections` peers at a
// time; further peers wait in the socket's queue. A peer that is silent or slow holds one
// of them for at most the time limit. Nothing a peer sends reaches the main window or the
// workers; the only shared thing it touches is the tree lock, for the answer's look-up.
// Start and Stop are called by the program's main thread; Stop ends every connection,
// joins the threads and removes the socket file (the destructor stops too).
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/localpipe.h"
#include "platform/waitable.h"

class SyncApp;

// 1 when the flag of the unified tree's node at `path` (`units` UTF-16 units) equals
// `expected`, else 0.
int AnswerFlagQuery(SyncApp& app, std::uint64_t expected, const char16_t* path, std::size_t units);

class FlagQueryEndpoint {
public:
    struct Limits {
        // Time a peer has from its connection until its whole request has arrived.
        std::uint32_t timeLimitMs = 2000;
        // Peers served at the same time.
        unsigned connections = 4;
    };

    FlagQueryEndpoint(SyncApp& app, Limits limits);
    explicit FlagQueryEndpoint(SyncApp& app) : FlagQueryEndpoint(app, Limits{}) {}
    ~FlagQueryEndpoint();
    FlagQueryEndpoint(const FlagQueryEndpoint&) = delete;
    FlagQueryEndpoint& operator=(const FlagQueryEndpoint&) = delete;

    // Listens at `path` and starts serving. A socket file of a program that ended is
    // replaced, and so are the query sockets other ended runs left in the same folder
    // (see IsSyncQuerySocketName). False when the socket cannot be made.
    bool Start(const std::string& path);
    void Stop();
    bool Serving() const { return listener_.IsListening(); }

private:
    void Serve(std::size_t slot);
    void Handle(plat::LocalPipe& peer);

    SyncApp& app_;
    Limits limits_;
    plat::LocalPipeListener listener_;
    plat::Event stopped_{true, false};
    std::mutex lock_;                      // guards open_
    std::vector<plat::LocalPipe*> open_;   // the connection each serving thread holds
    std::vector<std::thread> threads_;
};
