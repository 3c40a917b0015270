#pragma once
// The sync program's side of the link with the client program. The client listens on two
// byte links in the runtime folder: "WritePipe" (client -> sync program: a language byte,
// the login message, one-byte commands) and "ReadPipe" (sync program -> client: 5 paused,
// 6 resumed). SyncPipeLink connects to both on its reader thread, turns the bytes into
// messages to the main window and writes the pause notices.
//
// Bytes and messages:
//   1 + "UserName:" + account + "Password:" + password  -> WM_PIPE_LOGIN, payload PipeLoginData
//   2 -> WM_PIPE_EXIT (the reader ends)      3 -> WM_PIPE_OPEN_FOLDER
//   4 -> WM_PIPE_SHOW_DETAILS                5, 6 -> WM_PIPE_SYNC_PAUSE, wParam the byte
//   7 -> WM_PIPE_CHOOSE_FOLDER               8 -> WM_PIPE_LANGUAGE_ENGLISH
//   9 -> WM_PIPE_LANGUAGE_CHINESE            0 and 10 to 255 outside a login: ignored
// The login message has no end mark on the wire. It is collected across reads and ends at
// the next byte below 10 (a zero byte is dropped, a command byte is then handled), or when
// no further byte arrives for a short quiet time. A link that breaks, or cannot be made,
// posts WM_PIPE_EXIT.
//
// SyncPipeLink owns both links: only Stop() closes them. The reader is woken by a
// shutdown of the links, never by a second close, and is joined before anything is
// destroyed.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/localpipe.h"
#include "platform/msgloop/MessageLoop.h"
#include "platform/waitable.h"

// The login handed over by the client: the bytes as received, unconverted.
struct PipeLoginData {
    std::string account;
    std::string password;
    std::string extra;  // left empty
};

// One message the received bytes ask for.
struct PipeCommand {
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    PipeLoginData login;  // WM_PIPE_LOGIN only
};

// Turns the received bytes into commands; keeps the state of a login message that is
// still arriving. No threads, no I/O.
class PipeCommandReader {
public:
    static constexpr std::size_t kDefaultMaxLogin = 4096;
    explicit PipeCommandReader(std::size_t maxLoginBytes = kDefaultMaxLogin) : maxLogin_(maxLoginBytes) {}

    // Scans `bytes` in order and appends the commands they complete. After the exit byte
    // nothing more is read (Ended()).
    void Feed(std::string_view bytes, std::vector<PipeCommand>& out);
    // True while a login message is being collected.
    bool CollectingLogin() const { return collecting_; }
    // Ends the login message being collected (no more bytes came in time).
    void FinishLogin(std::vector<PipeCommand>& out);
    bool Ended() const { return ended_; }

    // Splits the text after the login byte: the first nine characters ("UserName:") are
    // dropped, the account runs to the first "Password:", the password follows it (empty
    // when it is missing).
    static PipeLoginData ParseLogin(std::string_view text);

private:
    std::size_t maxLogin_;
    bool collecting_ = false;
    bool overflow_ = false;
    bool ended_ = false;
    std::string login_;
};

class SyncPipeLink {
public:
    struct Options {
        std::string commandPath;  // "WritePipe"; empty: the runtime folder's
        std::string replyPath;    // "ReadPipe"; empty: the runtime folder's
        std::uint32_t connectTimeoutMs = 0xFFFFFFFFu;  // waiting for the client: no limit
        std::uint32_t loginQuietMs = 250;  // a login message ends after this long without bytes
        std::size_t maxLoginBytes = PipeCommandReader::kDefaultMaxLogin;
    };

    SyncPipeLink() = default;
    explicit SyncPipeLink(Options options) : options_(std::move(options)) {}
    ~SyncPipeLink();  // Stop()
    SyncPipeLink(const SyncPipeLink&) = delete;
    SyncPipeLink& operator=(const SyncPipeLink&) = delete;

    // Starts the reader thread: it connects to WritePipe, then ReadPipe, then reads
    // WritePipe and posts to `window`. False when it runs already.
    bool Start(plat::WindowId window);
    // Ends the reader (posting nothing), joins it and closes both links. Any thread but
    // the reader's; also when the reader ended by itself.
    void Stop();
    // True from Start until the reader ended (exit byte, broken link, Stop).
    bool Running() const { return running_.load(); }
    // True once both links are made.
    bool Connected() const { return connected_.load(); }

    // Tells the client that the user paused (byte 5) or resumed (byte 6) in this program;
    // false (logged) when the reply link is not there or broken.
    bool WritePauseState(bool paused);

private:
    void ReaderMain(plat::WindowId window);
    // Connects one link; false when stopped or failed (logged).
    bool ConnectOne(const std::string& name, const std::string& configured, plat::LocalPipe& out);
    // Both links stop working (the reader's own ending).
    void ShutdownLinks();

    Options options_;
    std::thread reader_;
    std::mutex lock_;  // guards the links while they are made, shut down and written
    plat::LocalPipe command_;
    plat::LocalPipe reply_;
    plat::Event stopEvent_{true, false};
    bool stopping_ = false;
    std::atomic<bool> running_{false};
    std::atomic<bool> connected_{false};
};
