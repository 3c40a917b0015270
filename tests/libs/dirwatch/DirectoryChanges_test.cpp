#include "dirwatch/DirectoryChanges.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "support/sandbox.h"
#include "support/wait.h"

namespace fs = std::filesystem;
using namespace dirwatch;
using testsupport::WaitUntil;
using testsupport::WriteFile;

namespace {

struct Change {
    std::uint32_t kind = 0;
    std::string path;     // relative to the watched folder; "" for the folder itself
    std::string newPath;  // renames
    std::uint32_t code = 0;
    bool operator==(const Change&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Change& c) {
    return os << "{" << c.kind << " '" << c.path << "' '" << c.newPath << "' " << c.code << "}";
}

Change Added(std::string p) { return {kAdded, std::move(p), "", 0}; }
Change Removed(std::string p) { return {kRemoved, std::move(p), "", 0}; }
Change Modified(std::string p) { return {kModified, std::move(p), "", 0}; }
Change Renamed(std::string a, std::string b) { return {kNameChanged, std::move(a), std::move(b), 0}; }
Change Error(std::uint32_t code) { return {kWatchError, "", "", code}; }
Change Started() { return {kWatchStarted, "", "", 0}; }
Change Stopped() { return {kWatchStopped, "", "", 0}; }

std::u16string U16(const fs::path& p) { return plat::ToUtf16(p.string()); }

// Records every call with paths relative to the watched folder.
class Recorder : public CDirectoryChangeHandler {
public:
    explicit Recorder(const fs::path& root) : root_(root.string()) {}
    ~Recorder() override { DetachFromWatcher(); }

    void On_FileAdded(const std::u16string& p) override { Add(Added(Rel(p))); }
    void On_FileRemoved(const std::u16string& p) override { Add(Removed(Rel(p))); }
    void On_FileModified(const std::u16string& p) override { Add(Modified(Rel(p))); }
    void On_FileNameChanged(const std::u16string& a, const std::u16string& b) override {
        Add({kNameChanged, Rel(a), Rel(b), 0});
    }
    void On_WatchError(std::uint32_t code, const std::u16string& d) override { Add({kWatchError, Rel(d), "", code}); }
    void On_WatchStarted(std::uint32_t code, const std::u16string& d) override {
        Add({kWatchStarted, Rel(d), "", code});
    }
    void On_WatchStopped(const std::u16string& d) override { Add({kWatchStopped, Rel(d), "", 0}); }

    std::vector<Change> Changes() const {
        std::lock_guard<std::mutex> lock(lock_);
        return changes_;
    }
    bool Saw(const Change& c) const { return IndexOf(c) >= 0; }
    // Position of the first such change, -1 when there is none.
    int IndexOf(const Change& c) const {
        const auto all = Changes();
        const auto it = std::find(all.begin(), all.end(), c);
        return it == all.end() ? -1 : static_cast<int>(it - all.begin());
    }
    bool SawPathContaining(const std::string& part) const {
        for (const Change& c : Changes()) {
            if (c.path.find(part) != std::string::npos || c.newPath.find(part) != std::string::npos) return true;
        }
        return false;
    }
    bool WaitFor(const Change& c) const {
        if (WaitUntil([&] { return Saw(c); }, std::chrono::seconds(20))) return true;
        std::ostringstream seen;
        for (const Change& x : Changes()) seen << x << " ";
        ADD_FAILURE() << "waited for " << c << "; seen: " << seen.str();
        return false;
    }
    std::set<std::thread::id> Threads() const {
        std::lock_guard<std::mutex> lock(lock_);
        return threads_;
    }

    // Sets what runs inside each call, after it was recorded. Taken under the lock, since
    // a call may be running on the notification thread while the test changes it.
    void SetOnChange(std::function<void(const Change&)> action) {
        std::lock_guard<std::mutex> lock(lock_);
        onChange_ = std::move(action);
    }

private:
    std::string Rel(const std::u16string& p) const {
        std::string s = plat::ToUtf8(p);
        if (s == root_) return "";
        if (s.starts_with(root_ + "/")) return s.substr(root_.size() + 1);
        return "ABSOLUTE:" + s;
    }
    void Add(const Change& c) {
        std::function<void(const Change&)> action;
        {
            std::lock_guard<std::mutex> lock(lock_);
            changes_.push_back(c);
            threads_.insert(std::this_thread::get_id());
            action = onChange_;
        }
        if (action) action(c);  // outside the lock: it may stop the watch
    }

    const std::string root_;
    mutable std::mutex lock_;
    std::vector<Change> changes_;
    std::set<std::thread::id> threads_;
    std::function<void(const Change&)> onChange_;
};

class WatcherTest : public ::testing::Test {
protected:
    void Start() {
        ASSERT_EQ(0u, watcher.WatchPath(U16(root), &rec));
        ASSERT_TRUE(rec.WaitFor(Started()));
    }
    // A change in the watched tree that every earlier one is delivered before.
    void Sentinel(const std::string& name = "sentinel") {
        WriteFile(root / name, "s");
        ASSERT_TRUE(rec.WaitFor(Added(name)));
    }

    testsupport::Sandbox sandbox;
    fs::path root = sandbox.Dir("watched");
    fs::path outside = sandbox.Dir("outside");
    Recorder rec{root};
    CDirectoryChangeWatcher watcher;
};

TEST_F(WatcherTest, RefusesWhatIsNotAFolder) {
    WriteFile(root / "file", "x");
    fs::create_directory_symlink(outside, root / "link");
    struct Case {
        std::u16string path;
        bool withHandler;
        std::uint32_t expected;
    } cases[] = {
        {u"", true, kErrorInvalidParameter},
        {U16(root), false, kErrorInvalidParameter},
        {U16(root / "file"), true, kErrorBadPathname},
        {U16(root / "missing"), true, kErrorBadPathname},
        {U16(root / "link"), true, kErrorBadPathname},
        {u"relative/folder", true, kErrorBadPathname},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, watcher.WatchPath(c.path, c.withHandler ? &rec : nullptr)) << plat::ToUtf8(c.path);
        EXPECT_FALSE(watcher.IsWatched(c.path));
    }
}

TEST_F(WatcherTest, ReportsCreateWriteDeleteOnItsOwnThread) {
    Start();
    WriteFile(root / "a.txt", "one");
    ASSERT_TRUE(rec.WaitFor(Added("a.txt")));
    std::ofstream(root / "a.txt", std::ios::app) << "two";
    ASSERT_TRUE(rec.WaitFor(Modified("a.txt")));
    fs::remove(root / "a.txt");
    ASSERT_TRUE(rec.WaitFor(Removed("a.txt")));
    EXPECT_LT(rec.IndexOf(Added("a.txt")), rec.IndexOf(Removed("a.txt")));

    const auto threads = rec.Threads();
    ASSERT_EQ(1u, threads.size()) << "every call comes from the one notification thread";
    EXPECT_NE(std::this_thread::get_id(), *threads.begin());
}

TEST_F(WatcherTest, SameFolderRenameIsOneNameChange) {
    WriteFile(root / "sub/old.txt", "x");
    Start();
    fs::rename(root / "sub/old.txt", root / "sub/new.txt");
    ASSERT_TRUE(rec.WaitFor(Renamed("sub/old.txt", "sub/new.txt")));
    ASSERT_TRUE(rec.WaitFor(Modified("sub/new.txt")));
    EXPECT_FALSE(rec.Saw(Removed("sub/old.txt")));
    EXPECT_FALSE(rec.Saw(Added("sub/new.txt")));
}

TEST_F(WatcherTest, AtomicSaveOntoAnExistingNameIsReported) {
    WriteFile(root / "doc.txt", "old");
    Start();
    WriteFile(root / "doc.txt.tmp", "new content");
    fs::rename(root / "doc.txt.tmp", root / "doc.txt");
    // The temporary name is excluded ("*.tmp"), the rename passes on its new name.
    ASSERT_TRUE(rec.WaitFor(Renamed("doc.txt.tmp", "doc.txt")));
    ASSERT_TRUE(rec.WaitFor(Modified("doc.txt")));
    EXPECT_LT(rec.IndexOf(Renamed("doc.txt.tmp", "doc.txt")), rec.IndexOf(Modified("doc.txt")));
    EXPECT_FALSE(rec.Saw(Added("doc.txt.tmp")));
}

TEST_F(WatcherTest, ExcludesTmpNamesCaseSensitively) {
    Start();
    WriteFile(root / "a.tmp", "x");
    WriteFile(root / "A.TMP", "x");
    ASSERT_TRUE(rec.WaitFor(Added("A.TMP")));
    EXPECT_FALSE(rec.SawPathContaining("a.tmp"));
}

TEST_F(WatcherTest, MoveAcrossFoldersIsRemovedAndAdded) {
    WriteFile(root / "a/f.txt", "x");
    fs::create_directory(root / "b");
    Start();
    fs::rename(root / "a/f.txt", root / "b/f.txt");
    ASSERT_TRUE(rec.WaitFor(Removed("a/f.txt")));
    ASSERT_TRUE(rec.WaitFor(Added("b/f.txt")));
    EXPECT_FALSE(rec.Saw(Renamed("a/f.txt", "b/f.txt")));
}

TEST_F(WatcherTest, RenamedFolderIsStillWatchedUnderItsNewName) {
    fs::create_directories(root / "d/e");
    Start();
    fs::rename(root / "d", root / "d2");
    ASSERT_TRUE(rec.WaitFor(Renamed("d", "d2")));
    EXPECT_FALSE(rec.Saw(Modified("d2"))) << "a folder's rename is no content change";
    WriteFile(root / "d2/e/z.txt", "x");
    ASSERT_TRUE(rec.WaitFor(Added("d2/e/z.txt")));
}

TEST_F(WatcherTest, MovesIntoAndOutOfTheTree) {
    WriteFile(outside / "in.txt", "x");
    WriteFile(outside / "dir/inner/x.txt", "x");
    Start();

    fs::rename(outside / "in.txt", root / "in.txt");
    ASSERT_TRUE(rec.WaitFor(Added("in.txt")));

    // A folder that arrives with content: it and everything in it are added and watched.
    fs::rename(outside / "dir", root / "dir");
    ASSERT_TRUE(rec.WaitFor(Added("dir")));
    ASSERT_TRUE(rec.WaitFor(Added("dir/inner")));
    ASSERT_TRUE(rec.WaitFor(Added("dir/inner/x.txt")));
    WriteFile(root / "dir/inner/new.txt", "x");
    ASSERT_TRUE(rec.WaitFor(Added("dir/inner/new.txt")));

    fs::rename(root / "in.txt", outside / "in2.txt");
    ASSERT_TRUE(rec.WaitFor(Removed("in.txt")));
    fs::rename(root / "dir", outside / "dir2");
    ASSERT_TRUE(rec.WaitFor(Removed("dir")));

    // What happens in the folder after it left the tree is no longer reported.
    WriteFile(outside / "dir2/inner/after.txt", "x");
    Sentinel();
    EXPECT_FALSE(rec.SawPathContaining("after.txt"));
}

TEST_F(WatcherTest, NewFolderFilledAtOnceReportsItsContent) {
    Start();
    // While the monitor reads nothing, a folder appears already filled: its early content
    // never produced events of its own.
    watcher.PauseMonitorForTest(true);
    WriteFile(root / "n/x.txt", "x");
    WriteFile(root / "n/s/y.txt", "y");
    watcher.PauseMonitorForTest(false);
    for (const char* p : {"n", "n/x.txt", "n/s", "n/s/y.txt"}) ASSERT_TRUE(rec.WaitFor(Added(p))) << p;
    EXPECT_LT(rec.IndexOf(Added("n")), rec.IndexOf(Added("n/s/y.txt")));
    WriteFile(root / "n/s/z.txt", "z");
    ASSERT_TRUE(rec.WaitFor(Added("n/s/z.txt")));
}

TEST_F(WatcherTest, QueueOverflowIsAWatchError) {
    unsigned long limit = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
    if (limit == 0 || limit > 200000) GTEST_SKIP() << "inotify queue limit " << limit;
    WriteFile(root / "a", "a");
    WriteFile(root / "b", "b");
    Start();
    watcher.PauseMonitorForTest(true);
    // Alternating two names keeps the kernel from merging the events.
    const std::string a = (root / "a").string(), b = (root / "b").string();
    for (unsigned long i = 0; i <= limit; ++i) ::chmod((i % 2 ? a : b).c_str(), i % 4 < 2 ? 0644 : 0600);
    watcher.PauseMonitorForTest(false);
    ASSERT_TRUE(rec.WaitFor(Error(kErrorNotifyEnumDir)));
    EXPECT_FALSE(watcher.IsWatched(U16(root)));
    EXPECT_FALSE(watcher.UnwatchPath(U16(root)));
}

TEST_F(WatcherTest, RootGoingAwayIsAWatchError) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> act;
        std::uint32_t code;
    } cases[] = {
        {"removed", [](const fs::path& p) { fs::remove_all(p); }, kErrorFileNotFound},
        {"moved", [](const fs::path& p) { fs::rename(p, p.string() + "-moved"); }, kErrorPathNotFound},
    };
    for (const Case& c : cases) {
        const fs::path dir = sandbox.Dir(std::string("root-") + c.what);
        WriteFile(dir / "f.txt", "x");
        Recorder r(dir);
        ASSERT_EQ(0u, watcher.WatchPath(U16(dir), &r));
        c.act(dir);
        ASSERT_TRUE(r.WaitFor({kWatchError, "", "", c.code})) << c.what;
        EXPECT_FALSE(watcher.IsWatched(U16(dir))) << c.what;
    }
}

TEST_F(WatcherTest, DefaultErrorSlotRunsTheFailureAction) {
    std::mutex lock;
    std::vector<std::uint32_t> codes;
    CDirectoryChangeHandler::SetWatchFailureAction([&](std::uint32_t code, const std::u16string&) {
        std::lock_guard<std::mutex> g(lock);
        codes.push_back(code);
    });
    {
        CDirectoryChangeHandler plain;  // keeps every default slot
        ASSERT_EQ(0u, watcher.WatchPath(U16(root), &plain));
        fs::remove_all(root);
        EXPECT_TRUE(WaitUntil([&] {
            std::lock_guard<std::mutex> g(lock);
            return codes == std::vector<std::uint32_t>{kErrorFileNotFound};
        }));
    }
    CDirectoryChangeHandler::SetWatchFailureAction({});
}

TEST_F(WatcherTest, StopDeliversTheStopBeforeReturningAndWatchingResumes) {
    EXPECT_FALSE(watcher.UnwatchAll()) << "nothing ran yet";
    Start();
    EXPECT_TRUE(watcher.IsWatched(U16(root)));
    EXPECT_TRUE(watcher.IsWatched(U16(root) + u"/"));
    ASSERT_TRUE(watcher.UnwatchPath(U16(root)));
    EXPECT_TRUE(rec.Saw(Stopped())) << "delivered before UnwatchPath returned";
    EXPECT_FALSE(watcher.IsWatched(U16(root)));
    EXPECT_FALSE(watcher.UnwatchPath(U16(root)));

    // Watching again, on the threads that still run.
    Recorder second(root);
    ASSERT_EQ(0u, watcher.WatchPath(U16(root), &second));
    WriteFile(root / "b.txt", "x");
    ASSERT_TRUE(second.WaitFor(Added("b.txt")));
    EXPECT_FALSE(rec.Saw(Added("b.txt")));

    // After UnwatchAll the threads are gone; a new watch starts them again.
    EXPECT_TRUE(watcher.UnwatchAll());
    EXPECT_TRUE(second.Saw(Stopped()));
    EXPECT_FALSE(watcher.UnwatchAll());
    Recorder third(root);
    ASSERT_EQ(0u, watcher.WatchPath(U16(root), &third));
    WriteFile(root / "c.txt", "x");
    ASSERT_TRUE(third.WaitFor(Added("c.txt")));
}

TEST_F(WatcherTest, WatchingAFolderAgainRestartsItsWatch) {
    Start();
    Recorder second(root);
    ASSERT_EQ(0u, watcher.WatchPath(U16(root), &second));
    EXPECT_TRUE(rec.Saw(Stopped()));
    WriteFile(root / "x.txt", "x");
    ASSERT_TRUE(second.WaitFor(Added("x.txt")));
    EXPECT_FALSE(rec.Saw(Added("x.txt")));
    EXPECT_EQ(U16(root), watcher.LastDirectory());
}

TEST_F(WatcherTest, DestroyingARunningWatcherStopsIt) {
    auto w = std::make_unique<CDirectoryChangeWatcher>();
    ASSERT_EQ(0u, w->WatchPath(U16(root), &rec));
    WriteFile(root / "x.txt", "x");
    ASSERT_TRUE(rec.WaitFor(Added("x.txt")));
    w.reset();
    EXPECT_TRUE(rec.Saw(Stopped()));
}

TEST_F(WatcherTest, DestroyingAHandlerEndsItsWatch) {
    auto r = std::make_unique<Recorder>(root);
    ASSERT_EQ(0u, watcher.WatchPath(U16(root), r.get()));
    ASSERT_TRUE(r->WaitFor(Started()));
    r.reset();
    EXPECT_FALSE(watcher.IsWatched(U16(root)));
}

TEST_F(WatcherTest, AHandlerMayStopItsWatchFromItsOwnCall) {
    rec.SetOnChange([&](const Change& c) {
        if (c.kind == kAdded) watcher.UnwatchPath(U16(root));
    });
    Start();
    WriteFile(root / "x.txt", "x");
    ASSERT_TRUE(rec.WaitFor(Stopped()));
    EXPECT_FALSE(watcher.IsWatched(U16(root)));
    rec.SetOnChange(nullptr);
}

TEST_F(WatcherTest, LinksToFoldersAreNotFollowed) {
    fs::create_directories(outside / "target");
    fs::create_directory_symlink(outside / "target", root / "early-link");
    Start();
    fs::create_directory_symlink(outside / "target", root / "late-link");
    ASSERT_TRUE(rec.WaitFor(Added("late-link")));
    WriteFile(outside / "target/inside.txt", "x");
    Sentinel();
    EXPECT_FALSE(rec.SawPathContaining("inside.txt"));
}

TEST_F(WatcherTest, NamesThatAreNotTextSkipOnlyTheirOwnRecord) {
    Start();
    const std::string bad = (root / "bad\xff.bin").string();
    WriteFile(bad, "x");
    WriteFile(root / "ok.txt", "x");
    ASSERT_TRUE(rec.WaitFor(Added("ok.txt")));
    // Renamed to a name that is text, it becomes known.
    fs::rename(bad, root / "good.bin");
    ASSERT_TRUE(rec.WaitFor(Added("good.bin")));
    EXPECT_FALSE(rec.SawPathContaining("bad"));
}

// ---------------------------------------------------------------------------------------
// Filter and wildcards

TEST(WildcardMatchTest, MatchesWholeTextCaseSensitively) {
    struct Case {
        const char16_t* text;
        const char16_t* pattern;
        bool match;
    } cases[] = {
        {u"abc", u"abc", true},    {u"abc", u"a?c", true},       {u"abc", u"*", true},
        {u"", u"*", true},         {u"", u"", true},             {u"a", u"", false},
        {u"x.tmp", u"*.tmp", true}, {u"x.TMP", u"*.tmp", false}, {u"a.tmp.txt", u"*.tmp", false},
        {u"aXbXc", u"a*b*c", true}, {u"abd", u"a*c", false},     {u"ab", u"a*b*", true},
        {u"abc", u"ab", false},    {u"ab", u"abc", false},       {u"a/b.tmp", u"*.tmp", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.match, WildcardMatch(c.text, c.pattern)) << plat::ToUtf8(c.text) << " ~ " << plat::ToUtf8(c.pattern);
}

class NullNotifier : public CDelayedNotifier {
public:
    void PostNotification(CDirChangeNotification) override {}
    bool IsDeliveringThread() const override { return false; }
};

class Judge : public CDirectoryChangeHandler {
public:
    bool On_AcceptNotification(std::uint32_t, const std::u16string&, const std::u16string&) override {
        ++asked;
        return answer;
    }
    bool answer = true;
    int asked = 0;
};

TEST(DelayedHandlerFilterTest, FollowsTheFilterWord) {
    struct Case {
        std::uint32_t flags;
        std::uint32_t kind;
        const char16_t* name;
        const char16_t* newName;
        bool handlerSays;
        bool delivered;
        bool handlerAsked;
    } cases[] = {
        // The last component alone is tested.
        {kFileNameOnly, kAdded, u"/w/sub/a.tmp", u"", true, false, false},
        {kFileNameOnly, kAdded, u"/w/sub/A.TMP", u"", true, true, true},
        {kFileNameOnly, kAdded, u"/w/x.tmp/b.txt", u"", true, true, true},
        {kFileNameOnly, kAdded, u"/w/b.txt", u"", false, false, true},
        // Relative to the watched folder (the sync program's word 0x24).
        {kRelativeNames | kNeverAskHandler, kAdded, u"/w/x.tmp", u"", false, false, false},
        {kRelativeNames | kNeverAskHandler, kAdded, u"/w/sub.tmp/b.txt", u"", false, true, false},
        // No patterns and no handler test.
        {kNoWildcards | kNeverAskHandler, kAdded, u"/w/a.tmp", u"", false, true, false},
        {kNoWildcards, kModified, u"/w/a.tmp", u"", false, false, true},
        // The handler first: its refusal ends the test.
        {kAskHandlerFirst | kFileNameOnly, kAdded, u"/w/a.txt", u"", false, false, true},
        {kAskHandlerFirst | kFileNameOnly, kAdded, u"/w/a.tmp", u"", true, false, true},
        // A rename passes when either name does.
        {kFileNameOnly | kNeverAskHandler, kNameChanged, u"/w/a.tmp", u"/w/a.txt", true, true, false},
        {kFileNameOnly | kNeverAskHandler, kNameChanged, u"/w/a.txt", u"/w/a.tmp", true, true, false},
        {kFileNameOnly | kNeverAskHandler, kNameChanged, u"/w/a.tmp", u"/w/b.tmp", true, false, false},
        // Watch notices always pass.
        {kFileNameOnly, kWatchError, u"/w/a.tmp", u"", false, true, false},
        {kFileNameOnly, kWatchStopped, u"/w", u"", false, true, false},
    };
    for (const Case& c : cases) {
        Judge judge;
        judge.answer = c.handlerSays;
        auto delayed = std::make_shared<CDelayedDirectoryChangeHandler>(&judge, std::make_shared<NullNotifier>(),
                                                                         c.flags, u"/w");
        CDirChangeNotification n;
        n.kind = c.kind;
        n.name = c.name;
        n.newName = c.newName;
        EXPECT_EQ(c.delivered, delayed->Accepts(n)) << c.flags << " " << plat::ToUtf8(c.name);
        EXPECT_EQ(c.handlerAsked, judge.asked > 0) << c.flags << " " << plat::ToUtf8(c.name);
    }
}

TEST(DelayedHandlerFilterTest, RelativeNamesSkipTheWatchedFolder) {
    Judge judge;
    const auto withSlash = std::make_shared<CDelayedDirectoryChangeHandler>(&judge, std::make_shared<NullNotifier>(),
                                                                            kRelativeNames, u"/w/");
    const auto without = std::make_shared<CDelayedDirectoryChangeHandler>(&judge, std::make_shared<NullNotifier>(),
                                                                          kRelativeNames, u"/w");
    EXPECT_EQ(3u, withSlash->PrefixLength());
    EXPECT_EQ(3u, without->PrefixLength());
}

}  // namespace
