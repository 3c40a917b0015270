// The fault-injected soak: the real program Orvane against the test server, end to end.
//
// Each round is a world of its own (a sandbox, a test server with one account, Orvane
// started and handed the login over its pipes as the client program does), so a round
// replays alone: `--seed S --first R --rounds 1`. A round seeds the server, lets the first
// sync settle, then runs random operations: files and folders written, removed and
// renamed on both sides (names with spaces and non-ASCII letters, sizes up to a few MiB,
// the same file changed on both sides), the test server's faults switched on and off,
// kill -9 of Orvane followed by a restart and a new login, clean exits and restarts,
// pause and resume, and pauses of random length between them. Then the faults go off,
// Orvane is restarted once (which lists the server at once instead of at its next poll)
// and the sync settles: both trees equal and no request for a while, within a deadline.
//
// Checks after each round: the local tree equals the server tree; every content written
// by either side and not later removed or overwritten by a side that held it still exists
// on both sides, in place or as a conflict copy (the recycle bin does not count); nothing
// was written in the sandbox outside the sync folder and the program's own folders; no
// sanitizer report; Orvane never ended by itself. A failing round is kept under the keep
// folder (default build/soak/) with its operation list, the program's log and output, and
// the server's request log.
//
// Size: --rounds N (default: $DRAVIK_SOAK_ROUNDS, else 3), --ops N operations per round
// (default 24). Exit code 0 when every round passed.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/localpipe.h"
#include "support/sandbox.h"
#include "support/server.h"
#include "support/twosides.h"
#include "support/wait.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::TreeImage;

namespace {

constexpr const char* kAccount = "soak";
constexpr const char* kPassword = "secret";

struct Options {
    std::uint64_t seed = 1;
    int first = 0;
    int rounds = 3;
    int ops = 24;
    fs::path keep = "build/soak";
    fs::path binaries;
    bool verbose = false;
};

// ------------------------------------------------------------------ randomness

class Rng {
public:
    explicit Rng(std::uint64_t seed) : engine_(seed) {}
    std::uint64_t Below(std::uint64_t n) { return n == 0 ? 0 : engine_() % n; }
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(engine_) < p; }
    template <typename T>
    const T& Pick(const std::vector<T>& items) { return items[Below(items.size())]; }
    std::uint64_t Next() { return engine_(); }

private:
    std::mt19937_64 engine_;
};

const std::vector<std::string> kFileNames = {"a.txt",       "b c.txt",  "Übung.txt", "日本語 文書.txt", "notes",
                                             "report 2024.doc", "x.bin", "数据.csv",  "trailing e.md",   "Ünï cødé"};
const std::vector<std::string> kFolderNames = {"docs", "my folder", "Ordner ä", "图片", "deep"};

// ------------------------------------------------------------------ contents

// Every content written carries a first line of its own ("#soak <round> <n>"), so it can
// be found wherever the sync put it.
std::string Token(const std::string& content) { return content.substr(0, content.find('\n')); }

std::string MakeContent(Rng& rng, int round, int& serial) {
    const std::uint64_t kind = rng.Below(100);
    std::uint64_t size = kind < 70 ? rng.Below(4096) : kind < 95 ? 4096 + rng.Below(256 * 1024) : 256 * 1024 + rng.Below(3 << 20);
    std::string content = "#soak " + std::to_string(round) + " " + std::to_string(++serial) + "\n";
    content.reserve(content.size() + size);
    std::mt19937_64 filler(rng.Next());
    while (size >= 8) {
        const std::uint64_t word = filler();
        content.append(reinterpret_cast<const char*>(&word), 8);
        size -= 8;
    }
    content.append(size, 'z');
    return content;
}

std::string Describe(const std::string& value) {
    if (value.rfind("file:", 0) != 0) return value;
    const std::string content = value.substr(5);
    return "file '" + Token(content) + "' (" + std::to_string(content.size()) + " bytes)";
}

// ------------------------------------------------------------------ the program

// Orvane as the client program drives it: both pipes listen before it starts; then the
// language byte and the login; later single command bytes.
class Program {
public:
    Program(const Options& options, fs::path workDir) : options_(options), work_(std::move(workDir)) {
        if (!command_.Listen(plat::LocalPipePath("WritePipe")) || !reply_.Listen(plat::LocalPipePath("ReadPipe")))
            throw std::runtime_error("cannot listen on the pipes");
    }
    ~Program() {
        if (pid_ > 0) Kill();
    }

    // Starts the program and hands it the login; false (with a reason) when it did not
    // connect.
    bool Start(std::string& why) {
        const std::string path = (options_.binaries / "Orvane").string();
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (entry.rfind("ASAN_OPTIONS=", 0) == 0 || entry.rfind("UBSAN_OPTIONS=", 0) == 0) continue;
            env.push_back(entry);
        }
        const fs::path san = work_ / "sanitizer";
        fs::create_directories(san);
        env.push_back("ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:log_path=" + (san / "asan").string());
        env.push_back("UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=" + (san / "ubsan").string());
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string out = (work_ / "orvane.out").string();
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int rc = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            pid_ = -1;
            why = "cannot start " + path;
            return false;
        }
        commandPipe_.Close();
        replyPipe_.Close();
        if (command_.Accept(commandPipe_, 30000) != plat::PipeStatus::Ok ||
            reply_.Accept(replyPipe_, 30000) != plat::PipeStatus::Ok) {
            why = "the program did not connect to the pipes";
            return false;
        }
        const std::string hello = std::string("\x08\x01UserName:") + kAccount + "Password:" + kPassword;
        if (!commandPipe_.Write(hello.data(), hello.size())) {
            why = "cannot hand over the login";
            return false;
        }
        paused_ = false;
        return true;
    }

    void Kill() {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    // Byte 2; true when the program ended with code 0 in time.
    bool Exit(std::string& why) {
        commandPipe_.WriteByte(2);
        int code = -1;
        const bool ended = testsupport::WaitUntil(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
                code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            },
            90s);
        if (!ended) {
            why = "the program did not end within 90 s of the exit byte";
            Kill();
            return false;
        }
        pid_ = -1;
        if (code != 0) {
            why = "the program ended with code " + std::to_string(code) + " after the exit byte";
            return false;
        }
        return true;
    }

    void Pause() {
        commandPipe_.WriteByte(5);
        paused_ = true;
    }
    void Resume() {
        commandPipe_.WriteByte(6);
        paused_ = false;
    }
    bool Paused() const { return paused_; }

    // True while it runs; when it ended by itself, `why` says how.
    bool Alive(std::string& why) {
        if (pid_ <= 0) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
        why = WIFEXITED(status) ? "the program ended by itself with code " + std::to_string(WEXITSTATUS(status))
                                : "the program died of signal " + std::to_string(WTERMSIG(status));
        pid_ = -1;
        return false;
    }

private:
    const Options& options_;
    fs::path work_;
    plat::LocalPipeListener command_;
    plat::LocalPipeListener reply_;
    plat::LocalPipe commandPipe_;
    plat::LocalPipe replyPipe_;
    pid_t pid_ = -1;
    bool paused_ = false;
};

// ------------------------------------------------------------------ one round

struct Finding {
    std::string what;
};

// A change of one side, kept to tell what a lost content went through.
struct Change {
    std::string side;  // "local" or "server"
    std::string kind;  // "write", "remove", "rename"
    std::string path, to, token;
};

bool Within(const std::string& path, const std::string& item) {
    return path == item || path.rfind(item + "/", 0) == 0;
}

// The files below `root` with their size and modification time, relative; the folders
// named in `skip` (relative to root) are left out.
std::map<std::string, std::string> Snapshot(const fs::path& root, const std::vector<fs::path>& skip) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        bool skipped = false;
        for (const fs::path& s : skip) {
            if (it->path() == s) {
                it.disable_recursion_pending();
                skipped = true;
            }
        }
        if (skipped || !it->is_regular_file(ec)) continue;
        const auto stamp = fs::last_write_time(it->path(), ec).time_since_epoch().count();
        out[fs::relative(it->path(), root, ec).string()] =
            std::to_string(it->file_size(ec)) + "@" + std::to_string(stamp);
    }
    return out;
}

class Round {
public:
    Round(const Options& options, int index)
        : options_(options), index_(index), rng_(options.seed * 1000003ULL + static_cast<std::uint64_t>(index)) {}

    bool Run() {
        work_ = options_.keep / ("seed-" + std::to_string(options_.seed) + "-round-" + std::to_string(index_));
        fs::remove_all(work_);
        fs::create_directories(work_);
        testsupport::Sandbox box;
        testsupport::RunningServer server(box, {{kAccount, kPassword}});
        server_ = &server;
        testsupport::WriteFile(box.ConfigHome() / "Parv" / "Orvane.ini",
                               "ServerTime=1\nServerAddress=127.0.0.1:" + std::to_string(server.Port()) + "/dravik\n");
        const fs::path folder = box.Home() / "Documents" / "Nuvet云盘" / kAccount;
        testsupport::LocalSide local(folder);
        testsupport::ServerSide remote(server, kAccount);
        local_ = &local;
        remote_ = &remote;
        const std::vector<fs::path> own = {folder, box.DataHome() / "DravikSync", box.ConfigHome() / "Parv",
                                           box.RuntimeDir(), box.Root() / "server-data"};
        const auto before = Snapshot(box.Root(), own);

        Program program(options_, work_);
        program_ = &program;
        try {
            Play(box, folder);
        } catch (const std::exception& e) {
            Find(std::string("the round stopped: ") + e.what());
        }
        if (findings_.empty()) {
            std::string why;
            if (!program.Exit(why)) Find(why);
        }
        const auto after = Snapshot(box.Root(), own);
        for (const auto& [path, stamp] : after) {
            const auto it = before.find(path);
            if (it == before.end() || it->second != stamp) Find("written outside the sync folder: " + path);
        }
        for (const auto& entry : fs::directory_iterator(work_ / "sanitizer"))
            Find("sanitizer report: " + entry.path().string());

        Keep(box, server);
        program_ = nullptr;
        return findings_.empty();
    }

    const std::vector<Finding>& Findings() const { return findings_; }
    const fs::path& WorkDir() const { return work_; }

private:
    void Log(const std::string& line) {
        ops_.push_back(line);
        if (options_.verbose) std::cout << "  [" << index_ << "] " << line << std::endl;
    }
    void Find(const std::string& what) {
        findings_.push_back({what});
        Log("FINDING: " + what);
    }

    void Start() {
        std::string why;
        if (!program_->Start(why)) throw std::runtime_error(why);
    }

    void Play(testsupport::Sandbox& box, const fs::path& folder) {
        // The server's tree at the start, then the first sync.
        const int seeds = 2 + static_cast<int>(rng_.Below(5));
        for (int i = 0; i < seeds; ++i) ServerWrite(RandomPath(remote_->Image(), false));
        Log("start");
        Start();
        if (!testsupport::WaitUntil([&] { return fs::exists(folder); }, 120s))
            throw std::runtime_error("the sync folder did not appear");
        if (!Settle(false)) return;

        for (int n = 0; n < options_.ops; ++n) {
            std::string why;
            if (!program_->Alive(why)) {
                Find(why);
                return;
            }
            Step();
        }

        // Faults off, everything running, one restart for a fresh listing, then settle.
        server_->ClearFaults();
        Log("faults off");
        if (program_->Paused()) {
            program_->Resume();
            Log("resume");
        }
        Settle(true);
    }

    // One random operation.
    void Step() {
        const std::uint64_t pick = rng_.Below(100);
        if (pick < 22) {
            LocalWrite(RandomPath(local_->Image(), true));
        } else if (pick < 40) {
            ServerWrite(RandomPath(remote_->Image(), true));
        } else if (pick < 46) {
            // The same file changed on both sides.
            const std::string path = RandomPath(remote_->Image(), true);
            LocalWrite(path);
            ServerWrite(path);
        } else if (pick < 51) {
            LocalRemove();
        } else if (pick < 56) {
            ServerRemove();
        } else if (pick < 60) {
            LocalRename();
        } else if (pick < 64) {
            ServerRename();
        } else if (pick < 67) {
            Mkdir(true);
        } else if (pick < 70) {
            Mkdir(false);
        } else if (pick < 78) {
            InjectFault();
        } else if (pick < 81) {
            server_->ClearFaults();
            Log("faults off");
        } else if (pick < 84) {
            Log("kill -9 and restart");
            program_->Kill();
            Start();
        } else if (pick < 86) {
            Log("exit and restart");
            std::string why;
            if (!program_->Exit(why)) Find(why);
            Start();
        } else if (pick < 90) {
            if (program_->Paused()) {
                program_->Resume();
                Log("resume");
            } else {
                program_->Pause();
                Log("pause");
            }
        } else {
            const auto ms = std::chrono::milliseconds(rng_.Below(2500));
            Log("let it run " + std::to_string(ms.count()) + " ms");
            std::this_thread::sleep_for(ms);  // the schedule's own pacing, not a wait for a result
        }
    }

    // A path for a new or changed file: an existing file of the image, or a new name in an
    // existing folder (or a new folder on the way).
    std::string RandomPath(const TreeImage& image, bool mayExist) {
        std::vector<std::string> files, folders = {""};
        for (const auto& [path, value] : image) (value == "folder" ? folders : files).push_back(path);
        if (mayExist && !files.empty() && rng_.Chance(0.5)) return rng_.Pick(files);
        std::string parent = rng_.Pick(folders);
        if (rng_.Chance(0.2)) parent += "/" + rng_.Pick(kFolderNames);
        return parent + "/" + rng_.Pick(kFileNames);
    }

    // The contents of files at or below `path` in the image.
    static std::vector<std::string> ContentsAt(const TreeImage& image, const std::string& path) {
        std::vector<std::string> out;
        for (const auto& [p, value] : image) {
            if ((p == path || p.rfind(path + "/", 0) == 0) && value.rfind("file:", 0) == 0) out.push_back(value.substr(5));
        }
        return out;
    }

    // The side held these contents when it changed them: they may go.
    void Seen(const std::vector<std::string>& contents) {
        for (const std::string& c : contents) required_.erase(Token(c));
    }

    // Whether writing a file at `path` needs a folder where a file stands.
    static bool Blocked(const TreeImage& image, const std::string& path) {
        for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
            const auto it = image.find(path.substr(0, slash));
            if (it != image.end() && it->second != "folder") return true;
        }
        return false;
    }

    void Write(testsupport::TreeSide& side, const char* label, const std::string& path) {
        const TreeImage image = side.Image();
        if (Blocked(image, path)) {
            Log(std::string(label) + " write skipped (a file on the way): " + path);
            return;
        }
        const auto it = image.find(path);
        if (it != image.end() && it->second == "folder") {
            Seen(ContentsAt(image, path));
            side.Remove(path);
            Log(std::string(label) + " remove folder " + path + " (a file takes its place)");
        } else if (it != image.end()) {
            Seen({it->second.substr(5)});
        }
        const std::string content = MakeContent(rng_, index_, serial_);
        try {
            side.Write(path, content);
        } catch (const std::exception& e) {
            Log(std::string(label) + " write failed " + path + ": " + e.what());
            return;
        }
        required_[Token(content)] = content;
        changes_.push_back({label, "write", path, "", Token(content)});
        Log(std::string(label) + " write " + path + " '" + Token(content) + "' " + std::to_string(content.size()) +
            " bytes");
    }
    void LocalWrite(const std::string& path) { Write(*local_, "local", path); }
    void ServerWrite(const std::string& path) { Write(*remote_, "server", path); }

    void Remove(testsupport::TreeSide& side, const char* label) {
        const TreeImage image = side.Image();
        if (image.empty()) return;
        auto it = image.begin();
        std::advance(it, static_cast<long>(rng_.Below(image.size())));
        Seen(ContentsAt(image, it->first));
        try {
            side.Remove(it->first);
        } catch (const std::exception& e) {
            Log(std::string(label) + " remove failed " + it->first + ": " + e.what());
            return;
        }
        changes_.push_back({label, "remove", it->first, "", ""});
        Log(std::string(label) + " remove " + it->first);
    }
    void LocalRemove() { Remove(*local_, "local"); }
    void ServerRemove() { Remove(*remote_, "server"); }

    void Rename(testsupport::TreeSide& side, const char* label) {
        const TreeImage image = side.Image();
        if (image.empty()) return;
        auto it = image.begin();
        std::advance(it, static_cast<long>(rng_.Below(image.size())));
        const std::string from = it->first;
        const bool folder = it->second == "folder";
        std::string to = RandomPath(image, false);
        if (folder) to = to.substr(0, to.rfind('/') + 1) + rng_.Pick(kFolderNames);
        if (image.count(to) != 0 || to.rfind(from + "/", 0) == 0 || to == from || Blocked(image, to)) {
            Log(std::string(label) + " rename skipped " + from + " -> " + to);
            return;
        }
        try {
            const std::string parent = to.substr(0, to.rfind('/'));
            if (!parent.empty() && image.count(parent) == 0) side.Mkdir(parent);
            side.Rename(from, to);
        } catch (const std::exception& e) {
            Log(std::string(label) + " rename failed " + from + " -> " + to + ": " + e.what());
            return;
        }
        changes_.push_back({label, "rename", from, to, ""});
        Log(std::string(label) + " rename " + from + " -> " + to);
    }
    void LocalRename() { Rename(*local_, "local"); }
    void ServerRename() { Rename(*remote_, "server"); }

    void Mkdir(bool onLocal) {
        testsupport::TreeSide& side = onLocal ? static_cast<testsupport::TreeSide&>(*local_) : *remote_;
        const TreeImage image = side.Image();
        std::string path = RandomPath(image, false);
        path = path.substr(0, path.rfind('/') + 1) + rng_.Pick(kFolderNames);
        if (image.count(path) != 0 || Blocked(image, path)) return;
        try {
            side.Mkdir(path);
        } catch (const std::exception& e) {
            Log(std::string(onLocal ? "local" : "server") + " mkdir failed " + path + ": " + e.what());
            return;
        }
        Log(std::string(onLocal ? "local" : "server") + " mkdir " + path);
    }

    void InjectFault() {
        static const std::vector<std::string> routes = {"allChildNodes", "content", "upload", "createFolder", "copy",
                                                        "move",          "delete",  "change", "login",  "*"};
        testserver::Fault fault;
        fault.route = rng_.Pick(routes);
        const std::uint64_t kind = rng_.Below(8);
        fault.kind = std::vector<testserver::FaultKind>{
            testserver::FaultKind::Status,     testserver::FaultKind::Delay,       testserver::FaultKind::Drop,
            testserver::FaultKind::DropAfterHandling, testserver::FaultKind::CutBody, testserver::FaultKind::WrongLength,
            testserver::FaultKind::InvalidJson, testserver::FaultKind::Status}[kind];
        fault.status = rng_.Chance(0.5) ? 500 : 503;
        fault.delay = std::chrono::milliseconds(100 + rng_.Below(2000));
        fault.bytes = fault.kind == testserver::FaultKind::WrongLength ? static_cast<std::int64_t>(rng_.Below(9)) - 4
                                                                       : static_cast<std::int64_t>(rng_.Below(64));
        fault.count = rng_.Chance(0.3) ? testserver::kEveryRequest : 1 + static_cast<int>(rng_.Below(3));
        server_->InjectFault(fault);
        Log(std::string("fault ") + testserver::FaultKindName(fault.kind) + " on " + fault.route + " x" +
            std::to_string(fault.count));
    }

    // Waits until both trees are equal and no request came for a while. With `restart`,
    // the program is restarted first (a fresh listing), and once more when the first try
    // does not settle. False (with a finding) when it did not settle.
    bool Settle(bool restart) {
        for (int attempt = 0; attempt < (restart ? 2 : 1); ++attempt) {
            if (restart) {
                Log("settle: exit and restart");
                std::string why;
                if (!program_->Exit(why)) Find(why);
                Start();
            }
            std::size_t requests = server_->Requests().size();
            auto quietSince = Clock::now();
            const bool settled = testsupport::WaitUntil(
                [&] {
                    const std::size_t now = server_->Requests().size();
                    if (now != requests) {
                        requests = now;
                        quietSince = Clock::now();
                        return false;
                    }
                    if (Clock::now() - quietSince < 3s) return false;
                    return local_->Image() == remote_->Image();
                },
                180s);
            std::string why;
            if (!program_->Alive(why)) {
                Find(why);
                return false;
            }
            if (settled) {
                Log("settled");
                return Check();
            }
            Log("not settled yet");
        }
        const std::string difference = Difference(local_->Image(), remote_->Image());
        Find("the trees did not settle equal:\n" + difference);
        Check();
        return false;
    }

    static std::string Difference(const TreeImage& local, const TreeImage& server) {
        std::ostringstream out;
        for (const auto& [path, value] : local) {
            const auto it = server.find(path);
            if (it == server.end()) out << "    local only: " << path << " " << Describe(value) << "\n";
            else if (it->second != value)
                out << "    differs: " << path << " local " << Describe(value) << ", server " << Describe(it->second) << "\n";
        }
        for (const auto& [path, value] : server)
            if (local.count(path) == 0) out << "    server only: " << path << " " << Describe(value) << "\n";
        return out.str();
    }

    // Every required content is on both sides.
    bool Check() {
        const TreeImage local = local_->Image();
        const TreeImage server = remote_->Image();
        const auto holds = [](const TreeImage& image, const std::string& content) {
            for (const auto& [path, value] : image)
                if (value.size() == content.size() + 5 && value.compare(5, std::string::npos, content) == 0) return true;
            return false;
        };
        bool ok = true;
        for (const auto& [token, content] : required_) {
            const bool onLocal = holds(local, content);
            const bool onServer = holds(server, content);
            if (onLocal && onServer) continue;
            ok = false;
            std::string history;
            for (const std::string& line : ops_)
                if (line.find("'" + token + "'") != std::string::npos) history += "\n    " + line;
            Find("lost content '" + token + "' (" + std::to_string(content.size()) + " bytes): " +
                 (onLocal ? "only local" : onServer ? "only on the server" : "on neither side") + "; " +
                 Classify(token) + history);
        }
        return ok;
    }

    // What the other side did first to the path of a lost content that it had not seen:
    // the pattern of the fault that lost it.
    std::string Classify(const std::string& token) const {
        std::size_t i = 0;
        while (i < changes_.size() && changes_[i].token != token) ++i;
        if (i == changes_.size()) return "unclassified";
        const std::size_t first = i;
        const std::string side = changes_[i].side;
        const std::string origin = changes_[i].path;
        std::string path = origin;
        bool ownLater = false;
        for (++i; i < changes_.size() && !ownLater; ++i) {
            const Change& c = changes_[i];
            if (c.side == side) {
                if (c.kind == "rename" && Within(path, c.path)) path = c.to + path.substr(c.path.size());
                if ((c.kind == "write" && c.path == path) || (c.kind == "remove" && Within(path, c.path))) {
                    ownLater = true;
                    break;
                }
                continue;
            }
            if (c.kind == "write" && c.path == path)
                return side == "server" ? "pattern: a local change of the same file uploaded over the unseen server edit"
                                        : "pattern: a server change of the same file downloaded over the unseen local edit";
            if (c.kind == "remove" && Within(path, c.path))
                return side == "server" ? "pattern: a local delete took the unseen server change"
                                        : "pattern: a server delete took the unseen local change";
            if (c.kind == "rename" && c.path == path)
                return "pattern: the other side renamed the file, and its own content went over the unseen edit";
            if (c.kind == "rename" && Within(path, c.path))
                return "pattern: the item's folder was renamed on the other side";
        }
        // A change of the same file the other side made before, still to be sent when this
        // content came.
        for (std::size_t j = first; j-- > 0;) {
            const Change& c = changes_[j];
            if (c.side != side && c.kind == "write" && c.path == origin)
                return side == "server" ? "pattern: an earlier local change of the same file uploaded over the unseen server edit"
                                        : "pattern: an earlier server change of the same file downloaded over the unseen local edit";
            if (c.side != side && c.kind == "remove" && Within(origin, c.path))
                return side == "server" ? "pattern: an earlier local delete took the unseen server change"
                                        : "pattern: an earlier server delete took the unseen local change";
        }
        return ownLater ? "unclassified (its own side changed it later)" : "unclassified";
    }

    void Keep(testsupport::Sandbox& box, testserver::TestServer& server) {
        if (findings_.empty()) {
            fs::remove_all(work_);
            return;
        }
        std::ofstream ops(work_ / "operations.txt");
        ops << "seed " << options_.seed << " round " << index_ << "\n";
        for (const std::string& line : ops_) ops << line << "\n";
        std::ofstream requests(work_ / "requests.txt");
        for (const auto& r : server.Requests())
            requests << r.seq << " " << r.route << " " << r.method << " " << r.path << " -> " << r.status << "\n";
        std::error_code ec;
        fs::copy(box.DataHome() / "DravikSync", work_ / "DravikSync",
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    }

    const Options& options_;
    int index_;
    Rng rng_;
    fs::path work_;
    testserver::TestServer* server_ = nullptr;
    testsupport::LocalSide* local_ = nullptr;
    testsupport::ServerSide* remote_ = nullptr;
    Program* program_ = nullptr;
    int serial_ = 0;
    std::map<std::string, std::string> required_;  // token -> content
    std::vector<std::string> ops_;
    std::vector<Change> changes_;
    std::vector<Finding> findings_;
};

bool ParseArguments(int argc, char** argv, Options& options) {
    if (const char* rounds = std::getenv("DRAVIK_SOAK_ROUNDS")) options.rounds = std::atoi(rounds);
    if (const char* binary = std::getenv("DRAVIK_BINARY_DIR")) {
        options.binaries = fs::path(binary) / "bin";
        options.keep = fs::path(binary) / "soak";
    } else {
        options.binaries = fs::canonical("/proc/self/exe").parent_path().parent_path() / "bin";
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--seed") options.seed = std::stoull(value());
        else if (arg == "--rounds") options.rounds = std::stoi(value());
        else if (arg == "--first") options.first = std::stoi(value());
        else if (arg == "--ops") options.ops = std::stoi(value());
        else if (arg == "--keep") options.keep = value();
        else if (arg == "--bin") options.binaries = value();
        else if (arg == "--verbose") options.verbose = true;
        else {
            std::cerr << "usage: dravik_soak [--seed S] [--rounds N] [--first R] [--ops N] [--keep DIR] [--bin DIR] "
                         "[--verbose]\n";
            return false;
        }
    }
    options.keep = fs::absolute(options.keep);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    Options options;
    try {
        if (!ParseArguments(argc, argv, options)) return 2;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 2;
    }
    int failed = 0;
    for (int r = options.first; r < options.first + options.rounds; ++r) {
        const auto started = Clock::now();
        Round round(options, r);
        const bool ok = round.Run();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count();
        std::cout << "round " << r << " (seed " << options.seed << "): " << (ok ? "passed" : "FAILED") << " in "
                  << seconds << " s" << std::endl;
        if (!ok) {
            ++failed;
            for (const Finding& f : round.Findings()) std::cout << "  " << f.what << "\n";
            std::cout << "  kept in " << round.WorkDir().string() << "; replay: --seed " << options.seed
                      << " --first " << r << " --rounds 1" << std::endl;
        }
    }
    std::cout << options.rounds - failed << " of " << options.rounds << " rounds passed" << std::endl;
    return failed == 0 ? 0 : 1;
}
