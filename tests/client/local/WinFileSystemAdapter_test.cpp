// The file-system adapter's folder watches and its opening of files in their application,
// through fakes of the program's directory watcher and of the desktop's associations.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "client/local/WinFileSystemAdapter.h"

namespace {

class FakeWatcher : public DirectoryWatchService {
public:
    bool IsWatching(const std::string& folder) override { return sinks.count(folder) != 0; }
    bool Watch(const std::string& folder, DirectoryWatchSink* sink) override {
        if (refuse) return false;
        sinks[folder] = sink;
        return true;
    }
    bool Unwatch(const std::string& folder) override {
        ++unwatched;
        return sinks.erase(folder) != 0;
    }
    std::map<std::string, DirectoryWatchSink*> sinks;
    bool refuse = false;
    int unwatched = 0;
};

class RecordingHandler : public CWatchDirHandle {
public:
    void On_FileAdded(const std::string& p) override { events.push_back("added " + p); }
    void On_FileRemoved(const std::string& p) override { events.push_back("removed " + p); }
    void On_FileModified(const std::string& p) override { events.push_back("modified " + p); }
    void On_FileNameChanged(const std::string& a, const std::string& b) override {
        events.push_back("renamed " + a + " -> " + b);
    }
    void On_WatchError(const std::string& p) override { events.push_back("error " + p); }
    std::vector<std::string> events;
};

TEST(LocalWatchTest, NotificationsReachTheHandlerWithCheckedPaths) {
    FakeWatcher watcher;
    RecordingHandler handler;
    {
        WinFileSystemAdapter adapter(&watcher);
        ASSERT_EQ(adapter.StartWatchDirectory("/work/edit/abc", &handler), 1);
        ASSERT_EQ(watcher.sinks.count("/work/edit/abc"), 1u);
        DirectoryWatchSink* sink = watcher.sinks["/work/edit/abc"];

        sink->OnAdded("/work/edit/abc/new.txt");
        sink->OnModified("/work/edit/abc/doc.odt");
        sink->OnRemoved("/work/edit/abc/old.txt");
        sink->OnRenamed("/work/edit/abc/.~tmp", "/work/edit/abc/doc.odt");
        sink->OnRenamed("/work/edit/abc/bad\xff", "/work/edit/abc/good.txt");  // old name unknown
        sink->OnRenamed("/work/edit/abc/x.txt", "/work/edit/abc/bad\xff");     // new name unknown
        sink->OnModified("/work/edit/abc/bad\xff");
        sink->OnError(28, "/work/edit/abc");
        EXPECT_EQ(handler.events, (std::vector<std::string>{
                                      "added /work/edit/abc/new.txt",
                                      "modified /work/edit/abc/doc.odt",
                                      "removed /work/edit/abc/old.txt",
                                      "renamed /work/edit/abc/.~tmp -> /work/edit/abc/doc.odt",
                                      "added /work/edit/abc/good.txt",
                                      "error /work/edit/abc",
                                  }));

        // A folder watched already keeps its first handler.
        RecordingHandler second;
        EXPECT_EQ(adapter.StartWatchDirectory("/work/edit/abc", &second), 1);
        EXPECT_EQ(watcher.sinks["/work/edit/abc"], sink);

        EXPECT_EQ(adapter.StopWatchDirectory("/work/edit/abc"), 1);
        EXPECT_TRUE(watcher.sinks.empty());
        EXPECT_EQ(adapter.StopWatchDirectory("/work/edit/abc"), 1);  // not watched
        EXPECT_EQ(adapter.StopWatchDirectory("relative"), 0);

        ASSERT_EQ(adapter.StartWatchDirectory("/work/edit/def", &handler), 1);
        watcher.unwatched = 0;
    }
    // The adapter's end stops the watches it started.
    EXPECT_EQ(watcher.unwatched, 1);
    EXPECT_TRUE(watcher.sinks.empty());
}

TEST(LocalWatchTest, FailuresToWatch) {
    RecordingHandler handler;
    WinFileSystemAdapter noWatcher;
    EXPECT_EQ(noWatcher.StartWatchDirectory("/work/x", &handler), 0);

    FakeWatcher watcher;
    watcher.refuse = true;
    WinFileSystemAdapter adapter(&watcher);
    EXPECT_EQ(adapter.StartWatchDirectory("/work/x", &handler), 0);
    EXPECT_EQ(adapter.StartWatchDirectory("/work//x", &handler), 0);
    EXPECT_EQ(adapter.StartWatchDirectory("/work/x", nullptr), 0);
}

class FakeAssociations : public AssociationProvider {
public:
    bool Query(const std::string& extension, FileAssociation& out) override {
        queried.push_back(extension);
        auto it = apps.find(extension);
        if (it == apps.end()) return false;
        out = it->second;
        return true;
    }
    int IsProgramRunning(const std::string& executable) override { return running; }
    void OfferChooser(const std::string& path) override { choosers.push_back(path); }
    void ShowAlreadyRunning(const std::string& name) override { notices.push_back(name); }
    bool Start(const std::string& extension, const std::string& path, bool wait, int& pid) override {
        started.push_back(path);
        pid = wait ? 4242 : 0;
        return startOk;
    }
    int WaitForExit(int pid, int timeoutMs) override {
        ++waits;
        if (waits == 3) stopNow = true;
        return waits >= endAfter ? 0 : 258;
    }
    void Abandon(int pid) override { abandoned.push_back(pid); }

    std::map<std::string, FileAssociation> apps;
    int running = 0;
    bool startOk = true;
    int endAfter = 3;
    int waits = 0;
    std::atomic<bool> stopNow{false};
    std::vector<std::string> queried, choosers, notices, started;
    std::vector<int> abandoned;
};

FileAssociation App(const std::string& name, bool isExe) {
    FileAssociation a;
    a.friendlyDocName = "document";
    a.friendlyAppName = name;
    a.executable = isExe ? "/usr/bin/" + name : "";
    a.found = true;
    a.isExe = isExe;
    return a;
}

TEST(LocalOpenWithTest, OutcomesOfOpeningAFile) {
    FakeAssociations assoc;
    assoc.apps[".txt"] = App("editor", true);
    assoc.apps[".odt"] = App("writer", true);
    assoc.apps[".xyz"] = App("", false);
    WinFileSystemAdapter adapter(nullptr, &assoc);

    EXPECT_EQ(adapter.OpenWithApplication("/w/file.unknown", nullptr, false), 1);
    EXPECT_TRUE(assoc.started.empty());

    EXPECT_EQ(adapter.OpenWithApplication("/w/file.xyz", nullptr, false), 1);
    EXPECT_EQ(assoc.choosers, std::vector<std::string>{"/w/file.xyz"});
    EXPECT_TRUE(assoc.started.empty());

    // The extension is the file name's, not a folder's.
    EXPECT_EQ(adapter.OpenWithApplication("/w/folder.txt/README", nullptr, false), 1);
    EXPECT_EQ(assoc.queried.back(), "");

    // A document type whose application runs already: the user is told, nothing starts.
    assoc.running = 1;
    EXPECT_EQ(adapter.OpenWithApplication("/w/report.odt", nullptr, true), 0);
    EXPECT_EQ(assoc.notices, std::vector<std::string>{"writer"});
    EXPECT_TRUE(assoc.started.empty());
    assoc.running = -1;  // enumeration failed counts as running
    EXPECT_EQ(adapter.OpenWithApplication("/w/report.odt", nullptr, true), 0);
    EXPECT_EQ(assoc.notices.size(), 2u);
    // Other types do not care.
    EXPECT_EQ(adapter.OpenWithApplication("/w/notes.txt", nullptr, false), 0);
    EXPECT_EQ(assoc.started, std::vector<std::string>{"/w/notes.txt"});
    EXPECT_EQ(assoc.waits, 0);

    assoc.running = 0;
    assoc.startOk = false;
    EXPECT_EQ(adapter.OpenWithApplication("/w/report.odt", nullptr, true), 2);
}

TEST(LocalOpenWithTest, WaitingEndsWithTheApplicationOrTheStopFlag) {
    FakeAssociations assoc;
    assoc.apps[".txt"] = App("editor", true);
    WinFileSystemAdapter adapter(nullptr, &assoc);

    assoc.endAfter = 5;
    const std::atomic<bool> keepWaiting{false};
    EXPECT_EQ(adapter.OpenWithApplication("/w/a.txt", &keepWaiting, true), 0);
    EXPECT_EQ(assoc.waits, 5);
    EXPECT_TRUE(assoc.abandoned.empty());

    assoc.waits = 0;
    assoc.stopNow = false;
    assoc.endAfter = 1000;
    EXPECT_EQ(adapter.OpenWithApplication("/w/a.txt", &assoc.stopNow, true), 0);
    EXPECT_EQ(assoc.waits, 3);
    EXPECT_EQ(assoc.abandoned, std::vector<int>{4242});
}

TEST(LocalOpenWithTest, AssociationQueryEmptiesTheRecordFirst) {
    FakeAssociations assoc;
    assoc.apps[".txt"] = App("editor", true);
    WinFileSystemAdapter adapter(nullptr, &assoc);
    FileAssociation out = App("stale", true);
    EXPECT_FALSE(adapter.GetAssociatedApplication(".none", out));
    EXPECT_FALSE(out.found);
    EXPECT_TRUE(out.friendlyAppName.empty());
    ASSERT_TRUE(adapter.GetAssociatedApplication(".txt", out));
    EXPECT_EQ(out.friendlyAppName, "editor");
}

}  // namespace
