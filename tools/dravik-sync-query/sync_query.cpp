// dravik-sync-query: asks the running sync program whether an item of its sync folder
// carries the flag (1: both sides agree, the item is in step; for a folder, every file
// below it is).
//
//   dravik-sync-query [--flag 0|1] [--table NAME] PATH
//
// PATH is relative to the sync folder ('/' or '\' separators) or an absolute path inside
// it. The program is found through the values it publishes in the shared-memory table
// "DravikSyncMemMap" (--table reads another one, as the tests do): its process id names
// its query socket in the runtime folder. Exit status: 0 TRUE (the item's flag is the
// one asked for), 1 FALSE (another flag, or the item is not in the program's tree),
// 2 no answer (no program running, the request refused, or an error).
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/localpipe.h"
#include "platform/text.h"
#include "shm/SharedMemory.h"
#include "shm/SyncValues.h"

namespace {

constexpr int kTrue = 0;
constexpr int kFalse = 1;
constexpr int kNoAnswer = 2;
// The answer may wait for the program's tree lock while a worker holds it.
constexpr int kAnswerWaitMs = 10000;

int Usage() {
    std::fprintf(stderr, "usage: dravik-sync-query [--flag 0|1] [--table NAME] PATH\n");
    return kNoAnswer;
}

int NoAnswer(const std::string& why) {
    std::fprintf(stderr, "dravik-sync-query: %s\n", why.c_str());
    return kNoAnswer;
}

// The path as the program's tree names it: relative to the sync folder, '\' separators.
bool TreePath(const std::string& path, const std::u16string& syncFolder, std::u16string& out) {
    std::string relative = path;
    if (!path.empty() && path.front() == '/') {
        std::string folder;
        if (syncFolder.empty() || !plat::Utf16ToUtf8(syncFolder, folder)) return false;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        if (path.compare(0, folder.size(), folder) != 0) return false;
        if (path.size() > folder.size() && path[folder.size()] != '/') return false;
        relative = path.substr(folder.size());
    }
    for (char& c : relative) {
        if (c == '/') c = '\\';
    }
    return plat::Utf8ToUtf16(relative, out);
}

void PutLe(std::string& bytes, std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t flag = 1;
    std::string table = "DravikSyncMemMap";
    std::string path;
    bool havePath = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--flag" && i + 1 < argc) {
            const std::string value = argv[++i];
            if (value != "0" && value != "1") return Usage();
            flag = value == "1" ? 1 : 0;
        } else if (arg == "--table" && i + 1 < argc) {
            table = argv[++i];
        } else if (arg == "--") {
            if (i + 2 != argc || havePath) return Usage();
            path = argv[++i];
            havePath = true;
        } else if (!arg.empty() && arg.front() == '-' && arg != "-") {
            return Usage();
        } else if (!havePath) {
            path = arg;
            havePath = true;
        } else {
            return Usage();
        }
    }
    if (!havePath || path.empty()) return Usage();

    CSharedMemory shared(plat::ToUtf16(table));
    if (!shared.Ready()) return NoAnswer("the shared-memory table cannot be opened");
    const PublishedSync published = ReadPublishedSync(shared);
    if (!published.handle) return NoAnswer("the sync program is not running");
    if (published.queryPath.empty()) return NoAnswer("no usable runtime folder");

    std::u16string treePath;
    if (!TreePath(path, published.folder, treePath)) return NoAnswer("the path is not inside the sync folder");

    plat::LocalPipe link;
    if (plat::ConnectLocalPipe(published.queryPath, link, nullptr, 0) != plat::PipeStatus::Ok) {
        return NoAnswer("the sync program does not answer at " + published.queryPath);
    }
    std::string request;
    PutLe(request, flag, 8);
    PutLe(request, static_cast<std::uint64_t>(treePath.size()) * 2, 4);
    for (const char16_t unit : treePath) PutLe(request, unit, 2);
    if (!link.Write(request.data(), request.size())) return NoAnswer("the request was refused");

    unsigned char answer = 0;
    std::size_t received = 0;
    if (link.Read(&answer, 1, received, kAnswerWaitMs) != plat::PipeStatus::Ok || received != 1 || answer > 1) {
        return NoAnswer("the request was refused or not answered");
    }
    return answer == 1 ? kTrue : kFalse;
}
