// The local layer's folder watches on the real directory change watcher, on real folders:
// what reaches a sink, and how stopping a watch behaves towards calls that are queued,
// running, made from the sink itself, or made while holding a lock the sink takes.
#include "client/local/WatcherBridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "support/sandbox.h"
#include "support/wait.h"
#include "dirwatch/DirectoryChanges.h"

namespace {

namespace fs = std::filesystem;
using testsupport::WaitUntil;
using testsupport::WriteFile;

// A gate a test opens once; waiting on it never sleeps.
class Latch {
public:
    void Open() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            open_ = true;
        }
        changed_.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(lock_);
        changed_.wait(lock, [&] { return open_; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = false;
};

// Records each call as text with paths relative to its folder; `during` runs inside
// every call after it was recorded.
class RecordingSink : public DirectoryWatchSink {
public:
    explicit RecordingSink(const fs::path& folder) : folder_(folder.string()) {}

    void OnAdded(const std::string& p) override { Add("added " + Rel(p)); }
    void OnRemoved(const std::string& p) override { Add("removed " + Rel(p)); }
    void OnModified(const std::string& p) override { Add("modified " + Rel(p)); }
    void OnRenamed(const std::string& a, const std::string& b) override { Add("renamed " + Rel(a) + " -> " + Rel(b)); }
    void OnError(int code, const std::string& f) override { Add("error " + std::to_string(code) + " " + Rel(f)); }

    std::vector<std::string> Events() const {
        std::lock_guard<std::mutex> lock(lock_);
        return events_;
    }
    bool Saw(const std::string& event) const {
        const auto all = Events();
        return std::find(all.begin(), all.end(), event) != all.end();
    }
    bool WaitFor(const std::string& event) const {
        if (WaitUntil([&] { return Saw(event); })) return true;
        std::ostringstream seen;
        for (const auto& e : Events()) seen << "[" << e << "] ";
        ADD_FAILURE() << "waited for [" << event << "]; seen: " << seen.str();
        return false;
    }

    std::function<void(const std::string&)> during;

private:
    std::string Rel(const std::string& p) const {
        if (p == folder_) return ".";
        return p.starts_with(folder_ + "/") ? p.substr(folder_.size() + 1) : "ABSOLUTE:" + p;
    }
    void Add(const std::string& event) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            events_.push_back(event);
        }
        if (during) during(event);
    }

    const std::string folder_;
    mutable std::mutex lock_;
    std::vector<std::string> events_;
};

class WatcherBridgeTest : public ::testing::Test {
protected:
    testsupport::Sandbox sandbox;
    fs::path a = sandbox.Dir("a");
    fs::path b = sandbox.Dir("b");
    RecordingSink sinkA{a};
    RecordingSink sinkB{b};
    CDirectoryChangeWatcher watcher;  // outlives the bridge
    WatcherBridge bridge{watcher};
};

TEST_F(WatcherBridgeTest, ChangesReachTheSinkWithFullPaths) {
    WriteFile(a / "sub/old.txt", "x");
    ASSERT_TRUE(bridge.Watch(a.string() + "/", &sinkA));
    EXPECT_TRUE(bridge.IsWatching(a.string()));
    EXPECT_TRUE(bridge.IsWatching(a.string() + "/"));

    WriteFile(a / "new.txt", "one");
    ASSERT_TRUE(sinkA.WaitFor("added new.txt"));
    std::ofstream(a / "new.txt", std::ios::app) << "two";
    ASSERT_TRUE(sinkA.WaitFor("modified new.txt"));
    fs::rename(a / "sub/old.txt", a / "sub/renamed.txt");
    ASSERT_TRUE(sinkA.WaitFor("renamed sub/old.txt -> sub/renamed.txt"));
    fs::remove(a / "new.txt");
    ASSERT_TRUE(sinkA.WaitFor("removed new.txt"));
    WriteFile(a / "made/inner.txt", "x");
    ASSERT_TRUE(sinkA.WaitFor("added made"));
    ASSERT_TRUE(sinkA.WaitFor("added made/inner.txt"));
    for (const auto& e : sinkA.Events()) EXPECT_EQ(e.find("ABSOLUTE:"), std::string::npos) << e;
}

TEST_F(WatcherBridgeTest, RefusesWhatCannotBeWatched) {
    WriteFile(a / "file", "x");
    fs::create_directory_symlink(b, a / "link");
    const std::string refused[] = {
        "", "relative/folder", (a / "missing").string(), (a / "file").string(), (a / "link").string(),
        a.string() + "/bad\xff", a.string() + std::string("\0/x", 3),
    };
    for (const std::string& folder : refused) {
        EXPECT_FALSE(bridge.Watch(folder, &sinkA)) << folder;
        EXPECT_FALSE(bridge.IsWatching(folder)) << folder;
        EXPECT_FALSE(bridge.Unwatch(folder)) << folder;
    }
    EXPECT_FALSE(bridge.Watch(a.string(), nullptr));
    EXPECT_FALSE(bridge.IsWatching(a.string()));
}

TEST_F(WatcherBridgeTest, UnwatchEndsDelivery) {
    ASSERT_TRUE(bridge.Watch(a.string(), &sinkA));
    ASSERT_TRUE(bridge.Watch(b.string(), &sinkB));
    ASSERT_TRUE(bridge.Unwatch(a.string()));
    EXPECT_FALSE(bridge.IsWatching(a.string()));
    EXPECT_FALSE(bridge.Unwatch(a.string())) << "no longer held";

    // Changes are delivered in order on one thread: once b's later change has arrived,
    // a's earlier one would have too.
    WriteFile(a / "late.txt", "x");
    WriteFile(b / "marker", "x");
    ASSERT_TRUE(sinkB.WaitFor("added marker"));
    EXPECT_TRUE(sinkA.Events().empty());
    EXPECT_TRUE(WaitUntil([&] { return !watcher.IsWatched(plat::ToUtf16(a.string())); }))
        << "the watcher lets go of the folder";

    // The folder can be watched again.
    ASSERT_TRUE(bridge.Watch(a.string(), &sinkA));
    WriteFile(a / "again.txt", "x");
    ASSERT_TRUE(sinkA.WaitFor("added again.txt"));
}

TEST_F(WatcherBridgeTest, AWatchThatFailsIsReportedAndCanBeReplaced) {
    const fs::path inner = a / "inner";
    fs::create_directory(inner);
    RecordingSink sink{inner};
    ASSERT_TRUE(bridge.Watch(inner.string(), &sink));
    fs::remove(inner);
    ASSERT_TRUE(sink.WaitFor("error " + std::to_string(dirwatch::kErrorFileNotFound) + " ."));
    EXPECT_FALSE(bridge.IsWatching(inner.string()));

    fs::create_directory(inner);
    RecordingSink second{inner};
    ASSERT_TRUE(bridge.Watch(inner.string(), &second));
    WriteFile(inner / "x.txt", "x");
    ASSERT_TRUE(second.WaitFor("added x.txt"));
    EXPECT_TRUE(bridge.Unwatch(inner.string()));
}

TEST_F(WatcherBridgeTest, WatchingAgainMovesTheFolderToTheNewSink) {
    ASSERT_TRUE(bridge.Watch(a.string(), &sinkA));
    RecordingSink second{a};
    ASSERT_TRUE(bridge.Watch(a.string(), &second));
    WriteFile(a / "x.txt", "x");
    EXPECT_TRUE(second.WaitFor("added x.txt"));
    EXPECT_TRUE(sinkA.Events().empty());
    // The sink of this test goes before the fixture's bridge: later reports (the write's
    // modification) must not reach it.
    EXPECT_TRUE(bridge.Unwatch(a.string()));
}

TEST_F(WatcherBridgeTest, UnwatchWaitsForACallInProgress) {
    Latch release;
    std::atomic<bool> inCall{false};
    std::mutex orderLock;
    std::vector<std::string> order;
    auto note = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(orderLock);
        order.push_back(what);
    };
    sinkA.during = [&](const std::string&) {
        inCall = true;
        release.Wait();
        note("call ended");
    };
    ASSERT_TRUE(bridge.Watch(a.string(), &sinkA));
    WriteFile(a / "x.txt", "x");
    ASSERT_TRUE(WaitUntil([&] { return inCall.load(); }));

    std::thread stopper([&] {
        EXPECT_TRUE(bridge.Unwatch(a.string()));
        note("unwatch returned");
    });
    ASSERT_TRUE(WaitUntil([&] { return !bridge.IsWatching(a.string()); }));
    release.Open();
    stopper.join();
    EXPECT_EQ(order, (std::vector<std::string>{"call ended", "unwatch returned"}));
}

TEST_F(WatcherBridgeTest, ASinkMayUnwatchItsOwnFolder) {
    std::atomic<int> result{-1};
    sinkA.during = [&](const std::string& event) {
        if (event == "added stop") result = bridge.Unwatch(a.string()) ? 1 : 0;
    };
    ASSERT_TRUE(bridge.Watch(a.string(), &sinkA));
    ASSERT_TRUE(bridge.Watch(b.string(), &sinkB));
    WriteFile(a / "stop", "x");
    ASSERT_TRUE(WaitUntil([&] { return result.load() != -1; }));
    EXPECT_EQ(result.load(), 1);
    EXPECT_FALSE(bridge.IsWatching(a.string()));

    WriteFile(a / "after", "x");
    WriteFile(b / "marker", "x");
    ASSERT_TRUE(sinkB.WaitFor("added marker"));
    EXPECT_EQ(sinkA.Events(), std::vector<std::string>{"added stop"});
}

// The edit-task manager's pattern: a thread stops a watch while it holds the mutex that
// the sinks' calls take. Folder b's sink is kept busy so that a's change waits in the
// watcher's queue; a's sink would take the mutex. Unwatch must neither deliver a's queued
// change (its sink would wait for the mutex held by the stopping thread) nor wait for the
// notification thread (busy in b's sink).
TEST_F(WatcherBridgeTest, UnwatchUnderALockTheSinksTakeDoesNotDeadlock) {
    std::timed_mutex tasks;  // the manager's mutex
    std::atomic<bool> sinkAWaitedInVain{false};
    sinkA.during = [&](const std::string&) {
        // A call here would deadlock with the stopping thread; fail instead of hanging.
        if (!tasks.try_lock_for(std::chrono::seconds(20))) {
            sinkAWaitedInVain = true;
            return;
        }
        tasks.unlock();
    };
    Latch releaseB;
    std::atomic<bool> bBusy{false};
    sinkB.during = [&](const std::string& event) {
        if (event != "added hold") return;
        bBusy = true;
        releaseB.Wait();
    };
    ASSERT_TRUE(bridge.Watch(a.string(), &sinkA));
    ASSERT_TRUE(bridge.Watch(b.string(), &sinkB));
    WriteFile(b / "hold", "x");
    ASSERT_TRUE(WaitUntil([&] { return bBusy.load(); }));
    WriteFile(a / "queued.txt", "x");  // waits behind b's call

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        std::lock_guard<std::timed_mutex> lock(tasks);
        EXPECT_TRUE(bridge.Unwatch(a.string()));
        stopped = true;
    });
    const bool returned = WaitUntil([&] { return stopped.load(); });
    releaseB.Open();  // lets everything finish even when the stop hung
    stopper.join();
    EXPECT_TRUE(returned) << "Unwatch waited for the notification thread";

    WriteFile(b / "marker", "x");
    ASSERT_TRUE(sinkB.WaitFor("added marker"));
    EXPECT_TRUE(sinkA.Events().empty()) << "a's queued change was dropped";
    EXPECT_FALSE(sinkAWaitedInVain.load());
}

TEST(WatcherBridgeLifetime, DestroyingTheBridgeStopsEveryWatch) {
    testsupport::Sandbox sandbox;
    const fs::path a = sandbox.Dir("a"), b = sandbox.Dir("b");
    CDirectoryChangeWatcher watcher;
    {
        auto sinkA = std::make_unique<RecordingSink>(a);
        auto sinkB = std::make_unique<RecordingSink>(b);
        WatcherBridge bridge(watcher);
        ASSERT_TRUE(bridge.Watch(a.string(), sinkA.get()));
        ASSERT_TRUE(bridge.Watch(b.string(), sinkB.get()));
        WriteFile(a / "x.txt", "x");
        ASSERT_TRUE(sinkA->WaitFor("added x.txt"));
        // A sink may die as soon as its folder is unwatched (the sanitizer catches a
        // late call); the bridge's destructor stops the other watch.
        bridge.Unwatch(a.string());
        sinkA.reset();
        WriteFile(a / "y.txt", "y");
    }
    EXPECT_FALSE(watcher.IsWatched(plat::ToUtf16(a.string())));
    EXPECT_FALSE(watcher.IsWatched(plat::ToUtf16(b.string())));
}

}  // namespace
