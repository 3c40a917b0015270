#pragma once
// Running the programs as processes, and a desktop of their own for them: Xvfb with an
// XEmbed tray host (trayer), inspected with xwininfo and driven with xdotool. Tests that
// need the desktop skip themselves where one of those tools is missing.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "support/wait.h"

extern char** environ;

namespace testsupport {

// The build folder (DRAVIK_BINARY_DIR, set by ctest); the programs are in its "bin".
inline std::filesystem::path BinaryDir() {
    const char* binary = std::getenv("DRAVIK_BINARY_DIR");
    return binary != nullptr ? std::filesystem::path(binary) : std::filesystem::path(".");
}

inline std::optional<std::string> FindTool(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        const std::filesystem::path candidate = std::filesystem::path(dirs.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return std::nullopt;
}

// The current environment with `unset` removed and `set` added.
inline std::vector<std::string> Environment(const std::vector<std::string>& unset, const std::vector<std::string>& set) {
    std::vector<std::string> out;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool drop = false;
        for (const std::string& name : unset) drop = drop || entry.rfind(name + "=", 0) == 0;
        for (const std::string& value : set) drop = drop || entry.rfind(value.substr(0, value.find('=') + 1), 0) == 0;
        if (!drop) out.push_back(entry);
    }
    out.insert(out.end(), set.begin(), set.end());
    return out;
}

// A child process, ended (SIGTERM, then waited for) when the object goes.
class Process {
public:
    // `passFd`, when given, is the child's descriptor 3 (as Xvfb's -displayfd 3 wants).
    Process(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& output = "/dev/null", int passFd = -1) {
        std::vector<char*> argv, envp;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (passFd >= 0) posix_spawn_file_actions_adddup2(&actions, passFd, 3);
        if (posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (pid_ <= 0 || exited_) return;
        ::kill(pid_, SIGTERM);
        if (Wait(std::chrono::seconds(20)) < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    pid_t Pid() const { return pid_; }
    // The exit code once the process ended within the time-out; -1 otherwise.
    int Wait(std::chrono::milliseconds timeout) {
        int code = -1;
        WaitUntil(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
                exited_ = true;
                code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            },
            timeout);
        return code;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
};

// Runs a command line and returns its standard output.
inline std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

inline bool LogContains(const std::filesystem::path& log, const std::string& text) {
    std::error_code ec;
    return std::filesystem::exists(log, ec) && ReadFile(log).find(text) != std::string::npos;
}

// The id of the window docked in trayer's panel whose class is `program`; empty when none.
inline std::string DockedIcon(const std::string& display, const std::string& program) {
    const std::string tree = Output("DISPLAY=" + display + " xwininfo -root -tree 2>/dev/null");
    const std::size_t panel = tree.find("(\"panel\"");
    if (panel == std::string::npos) return {};
    const std::size_t icon = tree.find("(\"" + program + "\" \"" + program + "\")", panel);
    if (icon == std::string::npos) return {};
    const std::size_t lineStart = tree.rfind('\n', icon);
    const std::size_t idStart = tree.find("0x", lineStart);
    const std::size_t idEnd = tree.find(' ', idStart);
    return tree.substr(idStart, idEnd - idStart);
}

inline std::string VisibleWindows(const std::string& display, const std::string& what) {
    return Output("DISPLAY=" + display + " xdotool search --onlyvisible " + what + " 2>/dev/null");
}

// A display of its own (Xvfb) with a tray host (trayer) on it. Missing() names the tool
// that is not installed; otherwise Start() brings both up.
class XvfbDesktop {
public:
    static std::optional<std::string> Missing() {
        for (const char* tool : {"Xvfb", "trayer", "xdotool", "xwininfo"})
            if (!FindTool(tool)) return std::string(tool);
        return std::nullopt;
    }
    // True once the display and the tray's panel are up. Xvfb picks a free display itself
    // and names it once it accepts connections (-displayfd), so tests running side by
    // side never share one and nothing connects early; a tray host that ended (a busy
    // machine) is started again until the deadline.
    bool Start() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        server_ = std::make_unique<Process>(std::vector<std::string>{*FindTool("Xvfb"), "-displayfd", "3", "-screen", "0",
                                                                     "1024x600x24", "-nolisten", "tcp"},
                                            Environment({}, {}), "/dev/null", fds[1]);
        ::close(fds[1]);
        std::string number;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (server_->Pid() > 0 && number.find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 200) <= 0) continue;
            char buffer[32];
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n <= 0) break;  // Xvfb ended without naming a display
            number.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fds[0]);
        if (number.find('\n') == std::string::npos) return false;
        display_ = ":" + number.substr(0, number.find('\n'));
        const auto panelUp = [&] {
            return Output("DISPLAY=" + display_ + " xwininfo -root -tree").find("\"panel\"") != std::string::npos;
        };
        return WaitUntil(
            [&] {
                if (tray_ == nullptr || tray_->Wait(std::chrono::milliseconds(0)) >= 0) {
                    tray_ = std::make_unique<Process>(std::vector<std::string>{*FindTool("trayer"), "--edge", "top",
                                                                               "--align", "right", "--widthtype",
                                                                               "request", "--height", "32"},
                                                      Env());
                }
                return WaitUntil(panelUp, std::chrono::seconds(2));
            },
            std::chrono::seconds(60));
    }
    const std::string& Display() const { return display_; }
    // The environment of a program on this display.
    std::vector<std::string> Env(const std::vector<std::string>& set = {}) const {
        std::vector<std::string> values = set;
        values.push_back("DISPLAY=" + display_);
        return Environment({"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"}, values);
    }

private:
    std::string display_;
    std::unique_ptr<Process> server_;
    std::unique_ptr<Process> tray_;
};

}  // namespace testsupport
