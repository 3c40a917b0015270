#pragma once
// The client program's side of the link with the sync program `Orvane`: it starts the
// program on the user's command and drives it over two byte links of which the client
// holds the listening ends, "WritePipe" (client -> sync program) and "ReadPipe" (sync
// program -> client), Unix stream sockets in the runtime folder.
//
// Start: both links listen before the program starts, so it finds them at once; each
// connection is awaited up to 30 s (less when the program ends meanwhile) from a peer of
// this user; then the language byte (8 "en", 9 "zh-CN") and the login message (byte 1,
// "UserName:", account, "Password:", password, one write, no terminator) go out and a
// reader thread follows "ReadPipe". A login message that the sync program could not take
// from one read of 100 bytes is refused before anything starts, with its own notice.
// Later commands are single bytes: 2 exit, 3 open the folder, 4 sync list, 5 pause,
// 6 resume, 7 change the folder, 8 or 9 language.
//
// Threads. The tray window's thread (the UI thread) calls everything except
// SendLanguage, which the bus's dispatch thread calls; writes and the closing of the
// links share one lock. The reader only posts WM_SYNC_* messages to the window, each
// carrying the generation of the session that read it in wParam; the window hands them
// to HandleMessage, which ignores the messages of an earlier session. Stopping shuts the
// links down (waking the reader), joins the reader and only then closes them.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/localpipe.h"
#include "platform/msgloop/MessageLoop.h"

// Bytes on "WritePipe".
enum SyncPipeCommand : std::uint8_t {
    ProcessMsgLogin = 1,
    ProcessMsgExit = 2,
    ProcessMsgOpenFolder = 3,
    ProcessMsgShowDetails = 4,
    ProcessMsgPauseOn = 5,
    ProcessMsgPauseOff = 6,
    ProcessMsgChooseFolder = 7,
    ProcessMsgEnglish = 8,
    ProcessMsgChinese = 9,
};

// Bytes on "ReadPipe".
enum SyncPipeEvent : std::uint8_t {
    SyncEventExit = 2,
    SyncEventPaused = 5,
    SyncEventResumed = 6,
};

// Messages of the reader to the tray window; wParam is the session's generation.
inline constexpr std::uint32_t WM_SYNC_EXIT = plat::kWmUser + 0x191;
inline constexpr std::uint32_t WM_SYNC_PAUSED = plat::kWmUser + 0x192;
inline constexpr std::uint32_t WM_SYNC_RESUMED = plat::kWmUser + 0x193;
inline constexpr std::uint32_t WM_SYNC_PIPE_BROKEN = plat::kWmUser + 0x194;
// The link's timer on the tray window: a stopped sync program is reaped once it ends.
inline constexpr std::uintptr_t kTimerSyncReap = 0x195;
inline constexpr std::uint32_t kSyncReapMs = 250;

// Notices the link shows as information balloons (English keys of the language table).
inline constexpr const char* kSyncLoginFailedKey = "Synchronization function login failed.";
inline constexpr const char* kSyncBrokenKey = "Abnormal synchronization function, automatic exit.";
inline constexpr const char* kSyncLoginRefusedKey =
    "The account and password cannot be handed to the synchronization function (too long, or holding characters it cannot take).";

// The messages the bytes read from "ReadPipe" ask the tray window for, appended to `out`
// in order: WM_SYNC_EXIT for 2 (the bytes after it are not read), WM_SYNC_PAUSED for 5,
// WM_SYNC_RESUMED for 6; other bytes are ignored. True when the exit byte came.
bool ScanSyncReplies(const unsigned char* bytes, std::size_t size, std::vector<std::uint32_t>& out);

// The language byte of a language code: 8 for "en", 9 for "zh-CN", 0 (none) otherwise.
std::uint8_t SyncLanguageByte(const std::string& languageCode);

// The most the sync program takes from one read, language byte included.
inline constexpr std::size_t kSyncPipeReadSize = 100;

// Builds the login message into `out`; false (and `out` empty) when the sync program
// could not take it whole from one read after the language byte: longer than 99 bytes,
// an account holding "Password:", or a byte below 10 (which it takes for a command) in
// the account or password.
bool BuildSyncLoginMessage(const std::string& account, const std::string& password, std::string& out);

// How the link starts, watches and ends the sync program's process: the platform's by
// default (a child of this process); tests supply their own.
class SyncProcessControl {
public:
    virtual ~SyncProcessControl() = default;
    // Starts `program` with no arguments; its process id.
    virtual bool Start(const std::string& program, int& pid) = 0;
    // True while the process runs.
    virtual bool IsAlive(int pid) = 0;
    // Ends it (asked first, then forced) and reaps it.
    virtual void Terminate(int pid) = 0;
};

// What the link needs of the tray window. Called on the UI thread.
class SyncLinkHost {
public:
    virtual ~SyncLinkHost() = default;
    // The last login's account and password (plain); false when nobody is logged in.
    virtual bool SyncLogin(std::string& account, std::string& password) = 0;
    // The code of the language in force ("en", "zh-CN", ...).
    virtual std::string SyncLanguageCode() = 0;
    // Shows the translation of `key` as an information balloon.
    virtual void ShowSyncNotice(const std::string& key) = 0;
};

class SyncProgramLink {
public:
    struct Options {
        std::string programPath;                 // empty: "Orvane" beside this executable
        std::string commandPath;                 // "WritePipe"; empty: the runtime folder's
        std::string replyPath;                   // "ReadPipe"; empty: the runtime folder's
        std::uint32_t connectTimeoutMs = 30000;  // per link
        SyncProcessControl* process = nullptr;   // null: the platform's processes
    };

    // The reader posts to `window`.
    SyncProgramLink(SyncLinkHost& host, plat::WindowId window);
    SyncProgramLink(SyncLinkHost& host, plat::WindowId window, Options options);
    // Ends the reader and closes the links without writing anything.
    ~SyncProgramLink();
    SyncProgramLink(const SyncProgramLink&) = delete;
    SyncProgramLink& operator=(const SyncProgramLink&) = delete;

    // Tray "Open"/"Close": stops the sync program when it runs, else starts it (a failed
    // start shows a notice). Nothing while a start is under way.
    void ToggleSync();
    // 1 when the program was started, connected and handed the login; else 0 (a
    // process it started is ended again). Does not change the running state.
    int StartSyncProgram();
    // Writes the exit byte when the recorded process is alive, then leaves the running
    // state and closes the links, also when the byte could not be written.
    void StopSync();
    // 1 when the recorded process `pid` runs.
    int IsProcessAlive(int pid);
    // Starts the sync program again after a new login when it ran before the logout:
    // at once, or as soon as the stopped program has ended.
    void RestoreAfterLogin();

    // The tray window's procedure passes every message here first; true when it was one
    // of the link's (handled, or dropped as belonging to an earlier session).
    bool HandleMessage(const plat::Message& message);

    // Tray commands; each writes its byte only while running (the result is ignored).
    void OpenCloudFolder();  // 3
    void ShowSyncList();     // 4
    void TogglePause();      // 6 when paused (then not paused), else 5 (then paused)
    void ChangeFolder();     // 7
    // Client exit: the exit byte when running and the process is alive; then as StopSync.
    void OnClientExit();

    // A language change (any thread): its byte while the command link is open.
    void SendLanguage(const std::string& languageCode);

    bool IsRunning() const { return running_.load(); }
    bool IsPaused() const { return paused_.load(); }
    bool IsStarting() const { return starting_.load(); }
    int ProcessId() const { return pid_; }

private:
    enum class StartResult { Started, Failed, LoginRefused };
    StartResult Start();
    // Listens on both links; false (nothing left open) when either cannot listen.
    bool ListenSyncPipes(plat::LocalPipeListener& command, plat::LocalPipeListener& reply);
    // Accepts the program's connection on both links; 1 when both are made.
    int CreateSyncPipes(plat::LocalPipeListener& command, plat::LocalPipeListener& reply);
    // Waits for one connection while the started process lives.
    bool AcceptFrom(plat::LocalPipeListener& listener, plat::LocalPipe& out);
    // Ends a start that failed after the process was started.
    void AbandonStart();
    bool WriteCommand(const void* data, std::size_t size);
    bool WriteByte(std::uint8_t byte) { return WriteCommand(&byte, 1); }
    // Wakes and joins the reader, then closes both links.
    void CloseLinks();
    void SyncPipeReader(std::uint64_t generation);
    void OnSyncExit();
    void OnSyncPipeBroken();

    SyncLinkHost& host_;
    plat::WindowId window_;
    Options options_;
    SyncProcessControl* process_;

    std::mutex linkMutex_;  // guards writes to and the closing of both links
    plat::LocalPipe command_;
    plat::LocalPipe reply_;
    std::thread reader_;
    std::atomic<bool> readerQuiet_{false};  // a deliberate stop: the reader posts nothing

    std::atomic<bool> running_{false};
    std::atomic<bool> paused_{false};
    std::atomic<bool> starting_{false};
    std::atomic<std::uint64_t> generation_{0};
    int pid_ = 0;  // the last started sync program, 0 when none (or reaped)
    bool reapArmed_ = false;
    bool restoreWanted_ = false;
    // Arms the reap timer while a stopped program has not ended; reaps it when it has.
    void ReapStopped();
};
