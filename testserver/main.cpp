// dravik-testserver: runs the local stand-in of the content server until SIGINT or SIGTERM.
//   dravik-testserver [--port N] [--data DIR] [--user NAME:PASSWORD]... [--seed DIR]
//                     [--client-version VERSION] [--installer FILE]
// The first line on stdout is "listening on http://127.0.0.1:PORT".
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
        "usage: dravik-testserver [--port N] [--data DIR] [--user NAME:PASSWORD]... [--seed DIR]\n"
        "                         [--client-version VERSION] [--installer FILE]\n"
        "  --port N                   port on 127.0.0.1 (0, the default, picks a free one)\n"
        "  --data DIR                 folder for file contents (default: a temporary folder)\n"
        "  --user NAME:PASSWORD       an account (repeatable)\n"
        "  --seed DIR                 copies DIR's content into the first account's home folder\n"
        "  --client-version VERSION   the version /download.html announces (default 1.0.0)\n"
        "  --installer FILE           the bytes /download/DravikClient.exe serves\n",
        to);
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
            const std::size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0) {
                std::fprintf(stderr, "dravik-testserver: --user takes NAME:PASSWORD\n");
                return 2;
            }
            options.users.emplace_back(value.substr(0, colon), value.substr(colon + 1));
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
        std::printf("listening on %s\n", server.BaseUrl().c_str());
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
