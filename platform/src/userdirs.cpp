#include "platform/userdirs.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/fileops.h"

namespace plat {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// An XDG variable counts only when it holds an absolute path.
std::string XdgOr(const char* name, const std::string& fallback) {
    const std::string value = Env(name);
    return !value.empty() && value.front() == '/' ? value : fallback;
}

}  // namespace

std::string HomeDir() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    std::vector<char> buffer(16384);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

std::string ConfigHome() { return XdgOr("XDG_CONFIG_HOME", fs::Join(HomeDir(), ".config")); }

std::string DataHome() { return XdgOr("XDG_DATA_HOME", fs::Join(HomeDir(), ".local/share")); }

std::string DocumentsDir() { return XdgOr("XDG_DOCUMENTS_DIR", fs::Join(HomeDir(), "Documents")); }

std::string CacheHome() { return XdgOr("XDG_CACHE_HOME", fs::Join(HomeDir(), ".cache")); }

std::string ChooseRuntimeDir(const std::string& shared, const std::string& own) {
    if (!shared.empty() && fs::MakePrivateDirectories(shared)) return shared;
    return !own.empty() && own.front() == '/' && fs::MakePrivateDirectories(own) ? own : std::string();
}

std::string RuntimeDir() {
    std::string dir = Env("DRAVIK_RUNTIME_DIR");
    if (dir.empty()) {
        const std::string xdg = XdgOr("XDG_RUNTIME_DIR", "");
        if (xdg.empty()) {
            // Anybody may create the shared name first; then this user's own cache holds it.
            return ChooseRuntimeDir("/tmp/dravik-" + std::to_string(::getuid()),
                                    fs::Join(CacheHome(), "dravik-runtime"));
        }
        dir = fs::Join(xdg, "dravik");
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.empty() || dir.front() != '/') return {};
    return fs::MakePrivateDirectories(dir) ? dir : std::string();
}

std::string ExecutablePath() {
    std::string path(4096, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < path.size()) {
            path.resize(static_cast<std::size_t>(n));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string ExecutableDir() {
    const std::string path = ExecutablePath();
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace plat
