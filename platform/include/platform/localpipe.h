#pragma once
// The byte links between the two programs: Unix stream sockets named after the link
// ("WritePipe", "ReadPipe") in the per-user runtime folder. The client program binds and
// listens on them before it starts the sync program, which connects as the client. Both
// ends check that the peer runs as the same user. The bytes travel unchanged, in order,
// with no framing of their own.
//
// A LocalPipe has one owner, who closes it. Other threads may only read or write it and
// wake every blocked reader and writer with Shutdown(); the descriptor stays valid until
// the owner closes it, so a woken reader never touches a descriptor that was closed or
// reused meanwhile.
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

class Event;

enum class PipeStatus {
    Ok,         // done
    Timeout,    // nothing happened within the time-out
    Closed,     // the peer closed its end, or the link was shut down
    Cancelled,  // the cancel event was set
    Failed,     // a system error, a peer of another user or an unusable path
};

// The socket path of a link name in the runtime folder; empty when there is no usable
// runtime folder or the name is not a single file-name component.
std::string LocalPipePath(const std::string& name);

class LocalPipe {
public:
    LocalPipe() = default;
    ~LocalPipe();
    LocalPipe(LocalPipe&& other) noexcept;
    LocalPipe& operator=(LocalPipe&& other) noexcept;
    LocalPipe(const LocalPipe&) = delete;
    LocalPipe& operator=(const LocalPipe&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    // Writes every byte (never raises SIGPIPE). False when the link is broken or shut down.
    bool Write(const void* data, std::size_t size);
    bool WriteByte(std::uint8_t byte) { return Write(&byte, 1); }

    // Waits up to `timeoutMs` (-1: no limit) for bytes and reads up to `capacity` of
    // them: Ok with `received` > 0, Timeout, Closed (peer gone or shut down) or Failed.
    PipeStatus Read(void* buffer, std::size_t capacity, std::size_t& received, int timeoutMs = -1);

    // Wakes every thread blocked on this pipe; later reads see Closed and writes fail.
    // Any thread; the descriptor stays open until Close.
    void Shutdown();
    // Owner only, once no other thread uses the pipe.
    void Close();

    // The peer's user id as the system recorded it when the link was made; -1 when unknown.
    static long PeerUid(int fd);

private:
    friend class LocalPipeListener;
    friend PipeStatus ConnectLocalPipe(const std::string&, LocalPipe&, Event*, std::uint32_t, uid_t);
    explicit LocalPipe(int fd) : fd_(fd) {}

    int fd_ = -1;
};

// The server end: a listening socket file, mode 0600.
class LocalPipeListener {
public:
    LocalPipeListener() = default;
    ~LocalPipeListener();  // Close()
    LocalPipeListener(const LocalPipeListener&) = delete;
    LocalPipeListener& operator=(const LocalPipeListener&) = delete;

    // Binds and listens at `path`. A socket file left there by an earlier run is
    // replaced; any other kind of item of that name (file, folder, link) makes it fail.
    bool Listen(const std::string& path);
    bool IsListening() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // Waits up to `timeoutMs` (0xFFFFFFFF: no limit) for a peer running as
    // `expectedUid`; peers of any other user are refused (their link is closed) and the
    // wait goes on. Ok with `out` connected, Timeout, Closed (Shutdown was called) or
    // Failed. Several threads may wait at once; each peer goes to one of them.
    PipeStatus Accept(LocalPipe& out, std::uint32_t timeoutMs, uid_t expectedUid = ::geteuid());

    // Wakes every thread waiting in Accept; from now on Accept returns Closed. Any
    // thread; the socket stays until the owner closes it.
    void Shutdown();

    // Closes the socket and removes its file.
    void Close();

private:
    int fd_ = -1;
    int wake_ = -1;  // eventfd, readable once Shutdown was called
    std::string path_;
};

// Connects to the listener at `path`, trying again every 100 ms while nobody listens
// there yet, until connected, `cancel` (may be null) is set, or `timeoutMs` (0xFFFFFFFF:
// no limit) passed. A listener running as another user than `expectedUid` fails at once.
// `cancel` must be a manual-reset event.
PipeStatus ConnectLocalPipe(const std::string& path, LocalPipe& out, Event* cancel,
                            std::uint32_t timeoutMs = 0xFFFFFFFFu, uid_t expectedUid = ::geteuid());

}  // namespace plat
