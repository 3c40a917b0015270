#pragma once
// Runs the program dravik-sync-query (built into bin/) as another process, with this
// process's environment (its sandbox), and gives its exit status.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace orvanetest {

// The exit status (0 TRUE, 1 FALSE, 2 no answer); -1 when it could not run or was killed.
inline int RunSyncQuery(const std::vector<std::string>& args) {
    const char* binary = std::getenv("DRAVIK_BINARY_DIR");
    const std::string program = (std::filesystem::path(binary != nullptr ? binary : ".") / "bin" / "dravik-sync-query").string();
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace orvanetest
