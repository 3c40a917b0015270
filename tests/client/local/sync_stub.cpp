// A stand-in of the sync program for the tests of the client's link, started as a real
// process. Its behaviour comes from "sync-stub.mode" in the runtime folder: "exit" ends
// at once with code 3, "silent" never connects and waits to be ended, anything else (or
// no file) connects to "WritePipe" and "ReadPipe" as the sync program does, appends every
// byte it reads to "sync-stub.received" and ends on the exit byte or a closed link,
// leaving "sync-stub.ended". It writes its process id to "sync-stub.pid" first.
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/localpipe.h"
#include "platform/userdirs.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text, bool append) {
    std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    out << text;
}

}  // namespace

int main() {
    const std::string dir = plat::RuntimeDir();
    if (dir.empty()) return 2;
    WriteText(dir + "/sync-stub.pid", std::to_string(::getpid()), false);
    const std::string mode = ReadText(dir + "/sync-stub.mode");
    if (mode == "exit") return 3;
    if (mode == "silent") {
        for (;;) ::pause();
    }
    plat::LocalPipe command;
    plat::LocalPipe reply;
    if (plat::ConnectLocalPipe(plat::LocalPipePath("WritePipe"), command, nullptr, 20000) != plat::PipeStatus::Ok ||
        plat::ConnectLocalPipe(plat::LocalPipePath("ReadPipe"), reply, nullptr, 20000) != plat::PipeStatus::Ok) {
        return 4;
    }
    char buffer[100];
    for (;;) {
        std::size_t received = 0;
        if (command.Read(buffer, sizeof buffer, received) != plat::PipeStatus::Ok) break;
        const std::string bytes(buffer, received);
        WriteText(dir + "/sync-stub.received", bytes, true);
        if (bytes.find('\x02') != std::string::npos) break;
    }
    WriteText(dir + "/sync-stub.ended", "ended", false);
    return 0;
}
