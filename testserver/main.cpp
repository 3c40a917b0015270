// dravik-testserver: runs the local stand-in of the content server until SIGINT or SIGTERM.
//   dravik-testserver [--port N] [--data DIR] [--user NAME:PASSWORD]... [--users FILE]
//                     [--seed DIR] [--client-version VERSION] [--installer FILE]
//                     [--control-token TOKEN]
// The first line on stdout is "listening on http://127.0.0.1:PORT", the second
// "control token: TOKEN", the token the control interface below "/__test/" asks for.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <pthread.h>

#include "testserver/TestServer.h"

namespace {

void Usage(std::FILE* to) {
    std::fputs(
        "usage: dravik-testserver [--port N] [--data DIR] [--user NAME:PASSWORD]... [--users FILE]\n"
        "                         [--seed DIR] [--client-version VERSION] [--installer FILE]\n"
        "                         [--control-token TOKEN]\n"
        "  --port N                   port on 127.0.0.1 (0, the default, picks a free one)\n"
        "  --data DIR                 folder for file contents (default: a temporary folder)\n"
        "  --user NAME:PASSWORD       an account (repeatable); the password shows in the\n"
        "                             process list to every user of the machine: prefer --users\n"
        "  --users FILE               accounts, one NAME:PASSWORD per line; - reads standard input\n"
        "  --seed DIR                 copies DIR's content into the first account's home folder\n"
        "  --client-version VERSION   the version /download.html announces (default 1.0.0)\n"
        "  --installer FILE           the bytes /download/DravikClient.exe serves\n"
        "  --control-token TOKEN      the token /__test/ asks for in X-Control-Token (default:\n"
        "                             a random one); printed as the line after the address\n",
        to);
}

// "NAME:PASSWORD" into an account; the password is everything after the first colon.
bool ParseUser(const std::string& text, testserver::ServerOptions& options) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    options.users.emplace_back(text.substr(0, colon), text.substr(colon + 1));
    return true;
}

// Accounts from a file ("-": standard input), one NAME:PASSWORD per line; blank lines are
// skipped. False, with a message, when the file cannot be read or a line is not an account.
bool ReadUsers(const std::string& file, testserver::ServerOptions& options) {
    std::ifstream opened;
    if (file != "-") {
        opened.open(file);
        if (!opened) {
            std::fprintf(stderr, "dravik-testserver: cannot read %s\n", file.c_str());
            return false;
        }
    }
    std::istream& in = file == "-" ? std::cin : opened;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (!ParseUser(line, options)) {
            std::fprintf(stderr, "dravik-testserver: line %d of %s is not NAME:PASSWORD\n", number, file.c_str());
            return false;
        }
    }
    return true;
}

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(text);
    return port <= 65535;
}

}  // namespace

int main(int argc, char** argv) {
    testserver::ServerOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "dravik-testserver: %s needs a value\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
        const std::string value = argv[++i];
        if (arg == "--port") {
            if (!ParsePort(value, options.port)) {
                std::fprintf(stderr, "dravik-testserver: invalid port %s\n", value.c_str());
                return 2;
            }
        } else if (arg == "--data") {
            options.dataDir = value;
        } else if (arg == "--user") {
            if (!ParseUser(value, options)) {
                std::fprintf(stderr, "dravik-testserver: --user takes NAME:PASSWORD\n");
                return 2;
            }
        } else if (arg == "--users") {
            if (!ReadUsers(value, options)) return 2;
        } else if (arg == "--control-token") {
            if (value.empty() || value.find_first_of(" \t\r\n") != std::string::npos) {
                std::fprintf(stderr, "dravik-testserver: --control-token takes a token without blanks\n");
                return 2;
            }
            options.controlToken = value;
        } else if (arg == "--seed") {
            options.seedDir = value;
        } else if (arg == "--client-version") {
            options.clientVersion = value;
        } else if (arg == "--installer") {
            std::ifstream in(value, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "dravik-testserver: cannot read %s\n", value.c_str());
                return 2;
            }
            std::ostringstream bytes;
            bytes << in.rdbuf();
            options.installer = bytes.str();
        } else {
            std::fprintf(stderr, "dravik-testserver: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }

    // The signals are taken by sigwait below; every thread started from here on has them
    // blocked, so none of them is interrupted.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        testserver::TestServer server(options);
        server.Start();
        std::printf("listening on %s\ncontrol token: %s\n", server.BaseUrl().c_str(), server.ControlToken().c_str());
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.Stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dravik-testserver: %s\n", e.what());
        return 1;
    }
    return 0;
}
