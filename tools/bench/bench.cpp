// dravik-bench: the in-process half of scripts/bench. Each mode measures one of the sync
// program's own paths and prints one line of "key=value" pairs (seconds, counts, peak
// resident memory) for the script, which runs the reference commands beside it and turns
// both into ratios. The reconciliation runs under Google Benchmark.
//
//   dravik-bench scan DIR                  full local listing of DIR
//   dravik-bench hash DIR [WORKERS]        listing, then the hash pass (each timed), on
//                                          WORKERS workers or as many as the program picks
//   dravik-bench digest DIR                listing (not timed), then FileDigestHex per file
//   dravik-bench download SERVER USER PASSWORD REF SIZE MD5 DIR
//                                          one download through CWebCloud into DIR
//   dravik-bench upload SERVER USER PASSWORD FOLDERREF DIR FILE
//                                          one upload through CWebCloud of DIR/FILE
//   dravik-bench reconcile [benchmark options]
//                                          BuildCycle and both match passes over
//                                          generated trees of 10k, 100k and 1M items,
//                                          and the client's batch count per finished
//                                          file for batches of 1k, 10k and 100k files
#include <malloc.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "client/core/TransferRecords.h"
#include "platform/text.h"
#include "sync/common/SyncBase.h"
#include "sync/engine/EngineContext.h"
#include "sync/engine/EngineFs.h"
#include "sync/engine/FileDigest.h"
#include "sync/engine/Reconcile.h"
#include "sync/engine/ThreadOfDriver.h"
#include "sync/net/WebCloud.h"

// ---- heap accounting: live and peak bytes of every allocation of the process ----------------

namespace {
// Counting is switched on only for the untimed measuring run, so that the timed runs see
// the allocator as the program does.
std::atomic<bool> g_counting{false};
std::atomic<std::int64_t> g_liveBytes{0};
std::atomic<std::int64_t> g_peakBytes{0};

void* Counted(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    if (g_counting.load(std::memory_order_relaxed)) {
        const auto bytes = static_cast<std::int64_t>(malloc_usable_size(p));
        const std::int64_t live = g_liveBytes.fetch_add(bytes) + bytes;
        std::int64_t peak = g_peakBytes.load();
        while (live > peak && !g_peakBytes.compare_exchange_weak(peak, live)) {
        }
    }
    return p;
}

void Uncounted(void* p) {
    if (p == nullptr) return;
    if (g_counting.load(std::memory_order_relaxed)) {
        g_liveBytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)));
    }
    std::free(p);
}
}  // namespace

void* operator new(std::size_t size) { return Counted(size); }
void* operator new[](std::size_t size) { return Counted(size); }
void operator delete(void* p) noexcept { Uncounted(p); }
void operator delete[](void* p) noexcept { Uncounted(p); }
void operator delete(void* p, std::size_t) noexcept { Uncounted(p); }
void operator delete[](void* p, std::size_t) noexcept { Uncounted(p); }

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long RssKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The quit event the checkpoints need; never set.
CEventEx g_quit{"Global Terminate", true, false};

class NoWindow : public SyncWindow {
public:
    bool PostMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override { return true; }
    std::intptr_t SendMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override { return 0; }
    void OnGammaConform(std::uintptr_t, std::intptr_t) override {}
};

struct LocalSide {
    explicit LocalSide(const std::string& dir) {
        app.syncFolder = plat::ToUtf16(dir);
        app.mainWindow = &window;
        driver.app = &app;
        driver.tree = &app.DriverTree;
        driver.RefreshRoot();
    }
    SyncApp app;
    NoWindow window;
    CThreadOfDriver driver{&app, &app.DriverTree};
};

std::size_t CountFiles(FileNode& root) {
    std::size_t files = 0;
    for (FileNode* node : root.Preorder()) files += node->data->isFile != 0 ? 1 : 0;
    return files;
}

int Scan(const std::string& dir) {
    LocalSide side(dir);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = side.driver.ScanOnRunHandler();
    const double seconds = Seconds(start);
    std::printf("ok=%d seconds=%.6f files=%zu peak_rss_kib=%ld\n", ok ? 1 : 0, seconds,
                CountFiles(side.app.DriverTree), PeakRssKiB());
    return ok ? 0 : 1;
}

int Hash(const std::string& dir, unsigned workers) {
    LocalSide side(dir);
    side.driver.hashWorkers = workers;
    const auto scanStart = std::chrono::steady_clock::now();
    if (!side.driver.ScanOnRunHandler()) return 1;
    const double scanSeconds = Seconds(scanStart);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = side.driver.HashOnRunHandler(&side.driver);
    const double seconds = Seconds(start);
    std::printf("ok=%d seconds=%.6f scan_seconds=%.6f files=%zu peak_rss_kib=%ld workers=%u\n", ok ? 1 : 0,
                seconds, scanSeconds, CountFiles(side.app.DriverTree), PeakRssKiB(),
                side.driver.HashWorkerCount());
    return ok ? 0 : 1;
}

int Digest(const std::string& dir) {
    LocalSide side(dir);
    if (!side.driver.ScanOnRunHandler()) return 1;
    std::vector<std::string> paths;
    for (FileNode* node : side.app.DriverTree.Preorder()) {
        if (node->data->isFile != 0) paths.push_back(dir + NodePath(node, 2));
    }
    FileDigestHolder holder;
    std::size_t done = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& path : paths) done += FileDigestHex(holder, path).empty() ? 0 : 1;
    const double seconds = Seconds(start);
    std::printf("ok=%d seconds=%.6f files=%zu peak_rss_kib=%ld\n", done == paths.size() ? 1 : 0, seconds, done,
                PeakRssKiB());
    return done == paths.size() ? 0 : 1;
}

struct Remote {
    Remote(const std::string& server, const std::string& dir) : cloud(nullptr) {
        cloud.SetServerAddress(server);
        cloud.SetSyncFolder(plat::ToUtf16(dir));
    }
    bool Login(const std::string& user, const std::string& password) {
        return cloud.iLogin(&worker, plat::ToUtf16(user), plat::ToUtf16(password)) == 1;
    }
    CSyncBase worker;
    CWebCloud cloud;
};

int Download(char** a) {
    Remote remote(a[0], a[6]);
    if (!remote.Login(a[1], a[2])) {
        std::fprintf(stderr, "dravik-bench: login failed\n");
        return 1;
    }
    const std::uint64_t size = std::strtoull(a[4], nullptr, 10);
    const long rssBefore = RssKiB();
    const auto start = std::chrono::steady_clock::now();
    const int ok = remote.cloud.iDownload(&remote.worker, size, nullptr, nullptr, a[3], "/downloaded.bin", a[5]);
    const double seconds = Seconds(start);
    std::printf("ok=%d seconds=%.6f bytes=%llu rss_before_kib=%ld peak_rss_kib=%ld\n", ok, seconds,
                static_cast<unsigned long long>(size), rssBefore, PeakRssKiB());
    return ok == 1 ? 0 : 1;
}

int Upload(char** a) {
    Remote remote(a[0], a[4]);
    if (!remote.Login(a[1], a[2])) {
        std::fprintf(stderr, "dravik-bench: login failed\n");
        return 1;
    }
    const std::string path = std::string("/") + a[5];
    const std::string full = std::string(a[4]) + path;
    std::ifstream in(full, std::ios::binary | std::ios::ate);
    const std::uint64_t size = static_cast<std::uint64_t>(in.tellg());
    FileDigestHolder holder;
    const std::string checksum = FileDigestHex(holder, full);  // the hash pass's work, not timed
    const long rssBefore = RssKiB();
    const auto start = std::chrono::steady_clock::now();
    const int ok = remote.cloud.iUpload(&remote.worker, size, nullptr, nullptr, a[3], "", checksum, path);
    const double seconds = Seconds(start);
    std::printf("ok=%d seconds=%.6f bytes=%llu rss_before_kib=%ld peak_rss_kib=%ld\n", ok, seconds,
                static_cast<unsigned long long>(size), rssBefore, PeakRssKiB());
    return ok == 1 ? 0 : 1;
}

// ---- reconciliation over generated trees -------------------------------------------------------

// The disk as the reconciliation sees it: every listed item exists as listed.
class BenchFs : public EngineFs {
public:
    BenchFs() { SetRoot(std::string("/sync")); }

protected:
    bool StatAt(const std::string&, plat::fs::ItemFacts& out) override {
        out = plat::fs::ItemFacts();
        out.kind = plat::fs::Kind::File;
        out.size = 1;
        return true;
    }
    std::string BlockedStepAt(const std::string&, const std::string&) override { return {}; }
    bool ListAt(const std::string&, std::vector<Entry>&, std::string&) override { return true; }
    bool OpenForWritingAt(const std::string&) override { return false; }
    std::string DigestAt(FileDigestHolder&, const std::string&) override { return {}; }
    bool RotationalAt(const std::string&) override { return false; }
    bool MoveAt(const std::string&, const std::string&, bool) override { return true; }
    bool CopyFileAt(const std::string&, const std::string&) override { return true; }
    bool CopyTreeAt(const std::string&, const std::string&) override { return true; }
    bool MakeFoldersAt(const std::string&) override { return true; }
    bool RemoveFileAt(const std::string&) override { return true; }
    bool RemoveTreeAt(const std::string&) override { return true; }
    bool ListFolderAt(CSyncBase*, const std::string&, FileNode*, LocalUnknownSet*) override { return true; }
};

class FixedClock : public EngineClock {
public:
    std::uint64_t Milliseconds() override { return 1000000; }
    void Sleep(std::uint32_t) override {}
    plat::SystemTime LocalTime() override { return plat::SystemTime{}; }
};

std::string Checksum(std::uint64_t value) {
    char text[33];
    std::snprintf(text, sizeof text, "%016llX%016llX", static_cast<unsigned long long>(value),
                  static_cast<unsigned long long>(value * 0x9E3779B97F4A7C15ull));
    return text;
}

// `items` files in folders of 100 below folders of 100: the last synchronised state, the
// local listing and the server listing, with about 1% of the files changed on each side,
// 0.5% new on each side, 0.5% deleted on each side and 0.2% moved locally.
struct Trees {
    explicit Trees(std::size_t items) {
        for (std::size_t i = 0; i < items; ++i) {
            const std::string folder = "/f" + std::to_string(i / 10000) + "/g" + std::to_string(i / 100);
            const std::string path = folder + "/file" + std::to_string(i) + ".txt";
            const std::uint64_t r = i * 2654435761u % 1000;
            SyncFileInfo base(1, 0, 100, path);
            base.checksum = Checksum(i);
            base.nodeRef = "workspace://SpacesStore/" + std::to_string(i);
            if (r >= 5) Put(tracer, folder, base);  // r < 5: new on one side
            SyncFileInfo local = base;
            SyncFileInfo remote = base;
            if (r >= 10 && r < 20) local.checksum = Checksum(i + 1);
            if (r >= 20 && r < 30) remote.checksum = Checksum(i + 2);
            if (r >= 30 && r < 32) {
                local.name = "moved" + std::to_string(i) + ".txt";
            }
            local.nodeRef.clear();
            const bool inLocal = !(r >= 35 && r < 40) && !(r < 5 && i % 2 == 0);
            const bool inServer = !(r >= 40 && r < 45) && !(r < 5 && i % 2 == 1);
            if (inLocal) Put(driver, folder, local);
            if (inServer) Put(server, folder, remote);
        }
    }

    static void Put(FileNode& root, const std::string& folder, const SyncFileInfo& record) {
        FileNode* parent = &root;
        std::size_t at = 1;
        while (at <= folder.size()) {
            const std::size_t end = std::min(folder.find('/', at), folder.size());
            const std::string name = folder.substr(at, end - at);
            auto found = parent->FindChild(std::string_view(name));
            if (found == parent->children.end()) {
                parent = parent->InsertChild(SyncFileInfo(0, 0, 0, folder.substr(0, end))).Node();
            } else {
                parent = found->get();
            }
            at = end + 1;
        }
        parent->InsertChild(record);
    }

    FileNode driver{SyncFileInfo("Driver")};
    FileNode server{SyncFileInfo("Server")};
    FileNode tracer{SyncFileInfo("Tracer")};
};

// One cycle: BuildCycle and both match passes over fresh trees.
void RunCycle(Trees& trees) {
    static BenchFs fs;
    static FixedClock clock;
    TaskNode uniform(SyncTaskInfo::CreateUniformRoot());
    Reconciler rc(fs, clock);
    rc.BuildCycle(&trees.driver, &trees.server, &trees.tracer, &uniform);
    rc.ClearDuties(&uniform);
    rc.MatchPass(&uniform, 1);
    rc.MatchPass(&uniform, 2);
    benchmark::DoNotOptimize(uniform.children.size());
}

// Heap bytes per item, measured apart from the timed runs: the three listings (what the
// scan and the server inventory hold) and the cycle's own peak on top of them.
struct Footprint {
    std::int64_t inputs = 0;
    std::int64_t cycle = 0;
};

Footprint Measure(std::size_t items) {
    g_liveBytes = 0;
    g_peakBytes = 0;
    g_counting = true;
    Footprint f;
    {
        auto trees = std::make_unique<Trees>(items);
        const std::int64_t afterInputs = g_liveBytes.load();
        g_peakBytes = afterInputs;
        RunCycle(*trees);
        f.inputs = afterInputs / static_cast<std::int64_t>(items);
        f.cycle = (g_peakBytes.load() - afterInputs) / static_cast<std::int64_t>(items);
    }
    g_counting = false;
    return f;
}

void BM_Reconcile(benchmark::State& state) {
    const auto items = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto trees = std::make_unique<Trees>(items);
        state.ResumeTiming();
        RunCycle(*trees);
        state.PauseTiming();
        trees.reset();
        state.ResumeTiming();
    }
    const Footprint f = Measure(items);
    state.counters["items"] = static_cast<double>(items);
    state.counters["listing_bytes_per_item"] = static_cast<double>(f.inputs);
    state.counters["cycle_bytes_per_item"] = static_cast<double>(f.cycle);
    state.SetComplexityN(static_cast<std::int64_t>(items));
}

BENCHMARK(BM_Reconcile)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oNLogN)->Iterations(3);

// The count of a transfer batch's results after every finished file: the tray asks after
// each one, so the cost per ask must not grow with the batch.
void BM_BatchCountPerFinishedFile(benchmark::State& state) {
    const auto files = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        TransferBatchCounter counter;
        for (std::int32_t id = 0; id < files; ++id) counter.Add(id);
        int total = 0, succeeded = 0, failed = 0;
        for (std::int32_t id = 0; id < files; ++id) {
            counter.Filed(id, true);
            benchmark::DoNotOptimize(counter.TakeResults(total, succeeded, failed));
        }
    }
    state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_BatchCountPerFinishedFile)->Arg(1000)->Arg(10000)->Arg(100000)->Complexity(benchmark::oN);

int Usage() {
    std::fprintf(stderr,
                 "usage: dravik-bench scan|digest DIR\n"
                 "       dravik-bench hash DIR [WORKERS]\n"
                 "       dravik-bench download SERVER USER PASSWORD REF SIZE MD5 DIR\n"
                 "       dravik-bench upload SERVER USER PASSWORD FOLDERREF DIR FILE\n"
                 "       dravik-bench reconcile [benchmark options]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    g_pTerminateEvent = &g_quit;
    if (argc < 2) return Usage();
    const std::string mode = argv[1];
    if ((mode == "scan" || mode == "digest") && argc == 3) return mode == "scan" ? Scan(argv[2]) : Digest(argv[2]);
    if (mode == "hash" && (argc == 3 || argc == 4)) {
        return Hash(argv[2], argc == 4 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 0);
    }
    if (mode == "download" && argc == 9) return Download(argv + 2);
    if (mode == "upload" && argc == 8) return Upload(argv + 2);
    if (mode == "reconcile") {
        argv[1] = argv[0];
        int rest = argc - 1;
        benchmark::Initialize(&rest, argv + 1);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        return 0;
    }
    return Usage();
}
