// dravik-pipe-client: the client program's side of the link with the sync program, for
// the local demo and manual runs.
//
//   dravik-pipe-client --user NAME (--password-file FILE | --password PASSWORD)
//                      [--language en|zh-CN] [--exit-on-eof] -- PROGRAM [ARGS...]
//
// --password-file reads the password from the first line of FILE ("-": the first line of
// standard input, before the commands). --password shows it to every user of the machine in
// the process list; it is kept for tests.
//
// Like the client program it listens on "WritePipe" and "ReadPipe" in the runtime folder
// before it starts the sync program, accepts its two connections, writes the language
// byte and the login message, and then passes commands typed on its standard input on:
// exit, open, details, pause, resume, folder, en, zh (bytes 2, 3, 4, 5, 6, 7, 8, 9). The
// bytes the sync program writes back (5 paused, 6 resumed) are printed. SIGINT or SIGTERM
// send the exit byte and wait for the sync program to end; so does the end of input when
// --exit-on-eof is given. The exit code is the sync program's.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/localpipe.h"

extern char** environ;

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

int Usage() {
    std::fprintf(stderr,
                 "usage: dravik-pipe-client --user NAME (--password-file FILE | --password PASSWORD)\n"
                 "                          [--language en|zh-CN] [--exit-on-eof] -- PROGRAM [ARGS...]\n"
                 "  --password-file FILE  the password is FILE's first line (-: the first line of\n"
                 "                        standard input, before the commands)\n"
                 "  --password PASSWORD   shows the password to every user in the process list\n");
    return 2;
}

// Waits for the child up to `timeoutMs`; its exit code, or -1 while it still runs.
int WaitChild(pid_t child, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(child, &status, WNOHANG);
        if (r == child) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        }
        if (r < 0) return 1;
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// The first line of `file` ("-": standard input) without its line end; false when it
// cannot be read.
bool ReadPasswordLine(const std::string& file, std::string& password) {
    std::ifstream opened;
    if (file != "-") {
        opened.open(file);
        if (!opened) return false;
    }
    std::istream& in = file == "-" ? std::cin : opened;
    if (!std::getline(in, password)) return false;
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return true;
}

int CommandByte(const std::string& word) {
    static const std::pair<const char*, int> kWords[] = {
        {"exit", 2}, {"open", 3}, {"details", 4}, {"pause", 5}, {"resume", 6}, {"folder", 7}, {"en", 8}, {"zh", 9},
    };
    for (const auto& [name, byte] : kWords) {
        if (word == name) return byte;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string user;
    std::string password;
    std::string language = "en";
    bool exitOnEof = false;
    int programIndex = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--" && i + 1 < argc) {
            programIndex = i + 1;
            break;
        }
        if (arg == "--user" && i + 1 < argc) {
            user = argv[++i];
        } else if (arg == "--password" && i + 1 < argc) {
            password = argv[++i];
        } else if (arg == "--password-file" && i + 1 < argc) {
            const std::string file = argv[++i];
            if (!ReadPasswordLine(file, password)) {
                std::fprintf(stderr, "dravik-pipe-client: cannot read the password from %s\n", file.c_str());
                return 2;
            }
        } else if (arg == "--language" && i + 1 < argc) {
            language = argv[++i];
        } else if (arg == "--exit-on-eof") {
            exitOnEof = true;
        } else {
            return Usage();
        }
    }
    if (programIndex < 0 || user.empty()) return Usage();

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // Both links listen before the sync program starts.
    plat::LocalPipeListener commandListener;
    plat::LocalPipeListener replyListener;
    if (!commandListener.Listen(plat::LocalPipePath("WritePipe")) ||
        !replyListener.Listen(plat::LocalPipePath("ReadPipe"))) {
        std::fprintf(stderr, "dravik-pipe-client: cannot listen in the runtime folder\n");
        return 1;
    }

    pid_t child = 0;
    std::vector<char*> childArgs(argv + programIndex, argv + argc);
    childArgs.push_back(nullptr);
    if (posix_spawnp(&child, childArgs[0], nullptr, nullptr, childArgs.data(), environ) != 0) {
        std::fprintf(stderr, "dravik-pipe-client: cannot start %s\n", childArgs[0]);
        return 1;
    }

    plat::LocalPipe command;
    plat::LocalPipe reply;
    if (commandListener.Accept(command, 30000) != plat::PipeStatus::Ok ||
        replyListener.Accept(reply, 30000) != plat::PipeStatus::Ok) {
        std::fprintf(stderr, "dravik-pipe-client: the sync program did not connect\n");
        ::kill(child, SIGTERM);
        WaitChild(child, 10000);
        return 1;
    }
    std::string hello;
    hello.push_back(static_cast<char>(language == "zh-CN" || language == "zh" ? 9 : 8));
    hello.push_back('\x01');
    hello += "UserName:" + user + "Password:" + password;
    if (!command.Write(hello.data(), hello.size())) {
        std::fprintf(stderr, "dravik-pipe-client: the login could not be handed over\n");
    }

    std::thread replies([&reply] {
        char buffer[64];
        for (;;) {
            std::size_t received = 0;
            if (reply.Read(buffer, sizeof buffer, received) != plat::PipeStatus::Ok) return;
            for (std::size_t i = 0; i < received; ++i) {
                if (buffer[i] == 5) std::printf("sync paused\n");
                if (buffer[i] == 6) std::printf("sync resumed\n");
            }
            std::fflush(stdout);
        }
    });

    int code = -1;
    bool inputOpen = true;
    while (code < 0) {
        if (g_stop) break;
        code = WaitChild(child, 0);
        if (code >= 0) break;
        if (!inputOpen) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (::poll(&in, 1, 100) <= 0) continue;
        std::string line;
        if (!std::getline(std::cin, line)) {
            inputOpen = false;
            if (exitOnEof) break;
            continue;
        }
        const int byte = CommandByte(line);
        if (byte == 0) {
            std::fprintf(stderr, "commands: exit open details pause resume folder en zh\n");
            continue;
        }
        command.WriteByte(static_cast<std::uint8_t>(byte));
    }
    if (code < 0) {
        command.WriteByte(2);
        code = WaitChild(child, 60000);
        if (code < 0) {
            ::kill(child, SIGTERM);
            code = WaitChild(child, 10000);
        }
    }
    reply.Shutdown();
    command.Shutdown();
    replies.join();
    return code < 0 ? 1 : code;
}
