#include "sync/engine/ThreadOfDriver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/synclogcapture.h"
#include "DriverTestSupport.h"
#include "platform/md5.h"
#include "support/sandbox.h"
#include "support/wait.h"
#include "sync/common/BaseFunc.h"
#include "sync/engine/SyncMessages.h"

namespace fs = std::filesystem;
using drivertest::Wide;
using testsupport::Sandbox;
using testsupport::WaitUntil;
using testsupport::WriteFile;

namespace {

const auto* const kQuitEnvironment = ::testing::AddGlobalTestEnvironment(new drivertest::QuitEventEnvironment);

std::string Md5Upper(const std::string& bytes) { return BaseFunc::ToUpper(plat::Md5HexLower(bytes)); }

// The tree as lines in pre-order: "d <path>" for folders, "f <path> <size>" for files,
// with " *" for a record marked as changed by the intake.
std::vector<std::string> Listing(FileNode& root) {
    std::vector<std::string> lines;
    for (FileNode* node : root.Preorder()) {
        const SyncFileInfo& r = *node->data;
        std::string line = (r.isFile != 0 ? "f " : "d ") + NodePath(node, 2);
        if (r.isFile != 0) line += " " + std::to_string(r.size);
        if (r.mark != 0) line += " *";
        lines.push_back(line);
    }
    return lines;
}

using Lines = std::vector<std::string>;

// The main window as the worker sees it: records every message with the state of the
// worker's done event at that moment.
class RecordingWindow : public SyncWindow {
public:
    struct Message {
        std::uint32_t id;
        std::uintptr_t wParam;
        std::intptr_t lParam;
        bool doneWasSet;
        bool sent;
    };

    bool PostMessage(std::uint32_t id, std::uintptr_t w, std::intptr_t l) override {
        Record(id, w, l, false);
        return true;
    }
    std::intptr_t SendMessage(std::uint32_t id, std::uintptr_t w, std::intptr_t l) override {
        Record(id, w, l, true);
        return 0;
    }
    void OnGammaConform(std::uintptr_t, std::intptr_t) override {}

    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> hold(mutex_);
        return messages_;
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> hold(mutex_);
        return messages_.size();
    }

    CSyncBase* worker = nullptr;

private:
    void Record(std::uint32_t id, std::uintptr_t w, std::intptr_t l, bool sent) {
        std::lock_guard<std::mutex> hold(mutex_);
        messages_.push_back(Message{id, w, l, worker != nullptr && worker->doneEvent.IsSet(), sent});
    }

    std::mutex mutex_;
    std::vector<Message> messages_;
};

// A sync folder in a sandbox, the application state around it and a worker bound to it
// without its thread (the handlers are called directly).
class DriverTest : public ::testing::Test {
protected:
    DriverTest() {
        app.syncFolder = Wide(root);
        app.mainWindow = &window;
        driver.app = &app;
        driver.tree = &app.DriverTree;
        driver.RefreshRoot();
        window.worker = &driver;
    }

    bool Scan() {
        app.DriverTree.DeleteChildren();
        return driver.ScanOnRunHandler();
    }
    void Queue(std::uint32_t kind, const std::string& path, const std::string& newPath = "",
               std::uint64_t time = 0) {
        LocalChangeRecord record;
        record.kind = kind;
        record.path = path;
        record.newPath = newPath;
        record.pathKey = BaseFunc::ToLower(path);
        record.newPathKey = BaseFunc::ToLower(newPath);
        record.time = time;
        app.localChanges.push_back(record);
    }

    Sandbox sandbox;
    fs::path root = sandbox.Dir("sync");
    SyncApp app;
    RecordingWindow window;
    CThreadOfDriver driver{&app, &app.DriverTree};
};

// ---------------------------------------------------------------------------------------
// The set of unknown items

TEST(LocalUnknownSetTest, KeysAndCoverage) {
    EXPECT_EQ(LocalUnknownSet::Key("\\Dir\\Sub\\"), "/dir/sub");
    EXPECT_EQ(LocalUnknownSet::Key("a//B"), "/a/b");
    EXPECT_EQ(LocalUnknownSet::Key("/"), "");

    LocalUnknownSet set;
    set.Add("\\Music\\Live");
    set.Add("/notes.txt");
    struct Case {
        const char* path;
        bool covers;
        bool holds;  // something unknown at or below
    };
    const Case cases[] = {
        {"/music/live", true, true},  {"\\MUSIC\\LIVE\\a.mp3", true, false}, {"/music", false, true},
        {"/music/live2", false, false}, {"/music/liv", false, false},        {"/", false, true},
        {"/notes.txt", true, true},   {"/notes.txt2", false, false},         {"/other", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(set.Covers(c.path), c.covers) << c.path;
        EXPECT_EQ(set.HasAtOrBelow(c.path), c.holds) << c.path;
    }
    set.Add("");
    EXPECT_TRUE(set.Covers("/anything/at/all"));
}

TEST(LocalUnknownSetTest, RemoveAndRenameWorkOnWholeComponents) {
    LocalUnknownSet set;
    for (const char* p : {"/a", "/a b", "/a/x", "/a/x/y", "/ab", "/b"}) set.Add(p);
    set.Rename("\\A", "\\c");
    EXPECT_EQ(set.Entries(), (Lines{"/a b", "/ab", "/b", "/c", "/c/x", "/c/x/y"}));
    set.Remove("/c/x");
    EXPECT_EQ(set.Entries(), (Lines{"/a b", "/ab", "/b", "/c"}));
    set.Remove("/");
    EXPECT_TRUE(set.Empty());
}

// ---------------------------------------------------------------------------------------
// Full scan

TEST_F(DriverTest, ScanListsSyncableItemsWithRelativePaths) {
    WriteFile(root / "a.txt", "hello");
    WriteFile(root / "empty.bin", "");
    WriteFile(root / ".hidden", "h");       // no hidden attribute here: a dot name syncs
    WriteFile(root / "Thumbs.db", "t");     // the name filter is case-sensitive
    WriteFile(root / "desktop.ini", "x");   // excluded names
    WriteFile(root / "draft.tmp", "x");
    WriteFile(root / "notes.tmp.txt", "n");
    WriteFile(root / "sub" / "deep" / "b.dat", "12345678");
    fs::create_directories(root / "sub" / "none");
    fs::create_directories(root / "cache.tmp");  // one predicate for files and folders
    WriteFile(root / "cache.tmp" / "inside.txt", "x");

    LogCapture log;
    ASSERT_TRUE(Scan());
    EXPECT_EQ(Listing(app.DriverTree), (Lines{"f /.hidden 1", "f /a.txt 5", "f /empty.bin 0",
                                               "f /notes.tmp.txt 1", "d /sub", "d /sub/deep",
                                               "f /sub/deep/b.dat 8", "d /sub/none", "f /Thumbs.db 1"}));
    for (FileNode* node : app.DriverTree.Preorder()) {
        EXPECT_EQ(node->data->checksum, "");
        EXPECT_EQ(node->data->nodeRef, "");
        EXPECT_EQ(node->data->extra, "");  // no short names here
    }
    EXPECT_TRUE(app.driverUnknown.Empty());  // excluded names are not unknown items
}

TEST_F(DriverTest, EmptyFolderListsToTheRootOnly) {
    EXPECT_TRUE(Scan());
    EXPECT_TRUE(app.DriverTree.children.empty());
    EXPECT_TRUE(app.driverUnknown.Empty());
}

TEST_F(DriverTest, LinksAndSpecialFilesAreSkippedAsUnknown) {
    WriteFile(root / "file.txt", "f");
    WriteFile(root / "dir" / "inner.txt", "i");
    fs::create_symlink(root / "file.txt", root / "filelink");
    fs::create_directory_symlink(root / "dir", root / "dirlink");
    fs::create_symlink(root / "nowhere", root / "dangling");
    ASSERT_EQ(mkfifo((root / "dir" / "pipe").c_str(), 0600), 0);

    LogCapture log;
    ASSERT_TRUE(Scan());
    EXPECT_EQ(Listing(app.DriverTree), (Lines{"d /dir", "f /dir/inner.txt 1", "f /file.txt 1"}));
    EXPECT_EQ(app.driverUnknown.Entries(), (Lines{"/dangling", "/dir/pipe", "/dirlink", "/filelink"}));
    EXPECT_TRUE(app.driverUnknown.Covers("\\DirLink\\inner.txt"));  // never entered
    EXPECT_FALSE(app.driverUnknown.Covers("/dir/inner.txt"));
    const Lines lines = log.Lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.find("'/dirlink' filepath:ThreadOfDriver line:") != std::string::npos;
    }));
}

TEST_F(DriverTest, OfTwoNamesDifferingInCaseTheFirstIsKept) {
    WriteFile(root / "doc.txt", "lower");
    WriteFile(root / "Doc.txt", "UPPER!");
    WriteFile(root / "Dir" / "x.txt", "x");
    WriteFile(root / "dir", "a file");

    LogCapture log;
    ASSERT_TRUE(Scan());
    EXPECT_EQ(Listing(app.DriverTree), (Lines{"d /Dir", "f /Dir/x.txt 1", "f /Doc.txt 6"}));
    EXPECT_EQ(app.driverUnknown.Entries(), (Lines{"/dir", "/doc.txt"}));
    const Lines lines = log.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("differs only in case") != std::string::npos; }),
              2);
}

TEST_F(DriverTest, NamesTheRecordsCannotCarryAreSkippedAsUnknown) {
    WriteFile(root / "ok.txt", "o");
    WriteFile(root / "a:b", "colon");  // a plain name on this system
    WriteFile(root / "a\x01b", "control");
    WriteFile(root / std::string("bad\xff.txt"), "not utf-8");
    WriteFile(root / "sub\\x.txt", "backslash");
    LogCapture log;
    ASSERT_TRUE(Scan());
    EXPECT_EQ(Listing(app.DriverTree), (Lines{"f /a:b 5", "f /ok.txt 1"}));
    EXPECT_FALSE(app.driverUnknown.Covers("/a:b"));
    EXPECT_TRUE(app.driverUnknown.Covers("/a\x01b"));
    EXPECT_TRUE(app.driverUnknown.Covers(std::string("/bad\xff.txt")));
    // Each refusal's log line says why.
    const Lines lines = log.Lines();
    for (const char* reason : {"the name holds a control character", "the name is not valid UTF-8", "'\\'"}) {
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find("Name cannot be synchronised (") != std::string::npos && l.find(reason) != std::string::npos;
        })) << reason;
    }
}

TEST_F(DriverTest, NameHoldingABackslashIsUnknownAndNeverCoversAnotherItem) {
    WriteFile(root / "sub" / "inner.txt", "real");
    WriteFile(root / "sub\\inner.txt", "odd");
    ASSERT_TRUE(Scan());
    EXPECT_EQ(Listing(app.DriverTree), (Lines{"d /sub", "f /sub/inner.txt 4"}));
    EXPECT_TRUE(app.driverUnknown.Covers(LocalUnknownSet::DiskPath("/sub\\inner.txt")));
    // The real file keeps its place: its removal is a removal.
    EXPECT_FALSE(app.driverUnknown.Covers("\\sub\\inner.txt"));
    EXPECT_FALSE(app.driverUnknown.Covers("/sub/inner.txt"));
}

TEST_F(DriverTest, UnreadableSubfolderIsSkippedAsUnknown) {
    WriteFile(root / "open" / "a.txt", "a");
    WriteFile(root / "locked" / "secret.txt", "s");
    fs::permissions(root / "locked", fs::perms::none);
    drivertest::OpenUpTo(sandbox.Root(), root / "open");
    const int result = drivertest::RunUnprivileged([&] {
        if (!Scan()) return 1;
        if (Listing(app.DriverTree) != Lines{"d /open", "f /open/a.txt 1"}) return 2;
        if (app.driverUnknown.Entries() != Lines{"/locked"}) return 3;
        return app.driverUnknown.Covers("/locked/secret.txt") ? 0 : 4;
    });
    EXPECT_EQ(result, 0);
}

// Folders with many subfolders have the subfolders' listings read ahead on helper
// threads: the result must be that of one thread, skipped folders included.
TEST_F(DriverTest, ManySubfoldersListAsOneThreadWould) {
    Lines expected;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "G" + std::to_string(10 + i);
        WriteFile(root / name / "a.txt", "a");
        WriteFile(root / name / "inner" / "b.txt", "bb");
        if (name == "G15") continue;  // made unreadable below
        expected.insert(expected.end(), {"d /" + name, "f /" + name + "/a.txt 1", "d /" + name + "/inner",
                                         "f /" + name + "/inner/b.txt 2"});
    }
    WriteFile(root / "g11" / "twin.txt", "t");        // differs only in case from G11
    WriteFile(root / "cache.tmp" / "x.txt", "x");     // excluded by name
    fs::create_directory_symlink(root / "G10", root / "link");
    fs::permissions(root / "G15", fs::perms::none);
    for (int i = 0; i < 12; ++i) {
        if (i != 5) drivertest::OpenUpTo(sandbox.Root(), root / ("G" + std::to_string(10 + i)) / "inner");
    }
    drivertest::OpenUpTo(sandbox.Root(), root / "g11");
    const int result = drivertest::RunUnprivileged([&] {
        if (!Scan()) return 1;
        if (Listing(app.DriverTree) != expected) return 2;
        return app.driverUnknown.Entries() == Lines{"/g11", "/g15", "/link"} ? 0 : 3;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(DriverTest, UnreadableRootFailsTheScan) {
    WriteFile(root / "a.txt", "a");
    fs::permissions(root, fs::perms::owner_write);
    drivertest::OpenUpTo(sandbox.Root(), sandbox.Root());
    const int result = drivertest::RunUnprivileged([&] {
        if (Scan()) return 1;
        if (!app.DriverTree.children.empty()) return 2;
        return app.driverUnknown.Covers("/a.txt") ? 0 : 3;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(DriverTest, MissingRootFailsTheScanAndLeavesEverythingUnknown) {
    app.syncFolder = Wide(root / "gone");
    app.DriverTree.InsertChild(SyncFileInfo(1, 0, 1, "/stale"));
    EXPECT_FALSE(driver.ScanOnRunHandler());
    EXPECT_TRUE(app.DriverTree.children.empty());
    EXPECT_EQ(app.driverUnknown.Entries(), (Lines{""}));
    EXPECT_TRUE(app.driverUnknown.Covers("/any/thing"));
}

TEST_F(DriverTest, BrokenOffScanEmptiesTheTree) {
    WriteFile(root / "a.txt", "a");
    driver.breakEvent.Set();
    EXPECT_FALSE(Scan());
    EXPECT_TRUE(app.DriverTree.children.empty());
    EXPECT_TRUE(app.driverUnknown.Covers("/a.txt"));
    driver.breakEvent.Reset();
    EXPECT_TRUE(Scan());
    EXPECT_TRUE(app.driverUnknown.Empty());  // a new scan starts afresh
}

TEST_F(DriverTest, DirectoryListRefusesFoldersOutsideTheSyncFolder) {
    const fs::path other = sandbox.Dir("other");
    WriteFile(other / "x.txt", "x");
    const fs::path sibling = root.parent_path() / "syncing";  // shares the text prefix of "sync"
    fs::create_directories(sibling);
    WriteFile(sibling / "y.txt", "y");
    fs::create_directory_symlink(other, root / "away");
    EXPECT_FALSE(driver.DirectoryList(&driver, "/../other", &app.DriverTree));
    EXPECT_FALSE(driver.DirectoryList(&driver, "\\..\\syncing", &app.DriverTree));
    EXPECT_FALSE(driver.DirectoryList(&driver, "/away", &app.DriverTree));  // a link is never entered
    EXPECT_TRUE(app.DriverTree.children.empty());
    // A path that looks absolute names a folder inside the sync folder.
    EXPECT_FALSE(driver.DirectoryList(&driver, other.string(), &app.DriverTree));
    EXPECT_TRUE(app.DriverTree.children.empty());
}

TEST_F(DriverTest, DirectoryListOfANewFolderUsesPathsBelowTheRoot) {
    WriteFile(root / "new" / "inner" / "z.txt", "zz");
    FileNode* folder = app.DriverTree.InsertChild(SyncFileInfo(0, 1, 0, "\\new")).Node();
    CSyncBase otherOwner;
    ASSERT_TRUE(driver.DirectoryList(&otherOwner, "\\new", folder));
    EXPECT_EQ(Listing(app.DriverTree), (Lines{"d /new *", "d /new/inner", "f /new/inner/z.txt 2"}));
    otherOwner.breakEvent.Set();  // the caller's own break stops it
    FileNode* again = app.DriverTree.InsertChild(SyncFileInfo(0, 1, 0, "\\new2")).Node();
    fs::create_directories(root / "new2");
    WriteFile(root / "new2" / "q", "q");
    EXPECT_FALSE(driver.DirectoryList(&otherOwner, "/new2", again));
}

// ---------------------------------------------------------------------------------------
// Hash pass

TEST_F(DriverTest, HashPassDigestsFilesWithoutChecksum) {
    WriteFile(root / "a.txt", "alpha");
    WriteFile(root / "sub" / "b.txt", "beta");
    WriteFile(root / "keep.txt", "kept");
    WriteFile(root / "gone.txt", "gone");
    ASSERT_TRUE(Scan());
    FindFileNodeByPath(&app.DriverTree, 0, "/keep.txt")->data->checksum = "EARLIER";
    fs::remove(root / "gone.txt");

    CSyncBase otherOwner;  // the reconciliation thread passes its own
    EXPECT_FALSE(driver.HashOnRunHandler(&otherOwner));
    EXPECT_EQ(FindFileNodeByPath(&app.DriverTree, 0, "/a.txt")->data->checksum, Md5Upper("alpha"));
    EXPECT_EQ(FindFileNodeByPath(&app.DriverTree, 0, "/sub/b.txt")->data->checksum, Md5Upper("beta"));
    EXPECT_EQ(FindFileNodeByPath(&app.DriverTree, 0, "/keep.txt")->data->checksum, "EARLIER");
    EXPECT_EQ(FindFileNodeByPath(&app.DriverTree, 0, "/gone.txt")->data->checksum, "");
    EXPECT_EQ(FindFileNodeByPath(&app.DriverTree, 0, "/sub")->data->checksum, "");

    fs::remove(root / "gone.txt");
    EXPECT_TRUE(driver.RemoveDriverNode(&app.DriverTree, "\\gone.txt"));
    EXPECT_TRUE(driver.HashOnRunHandler(&driver));
}

TEST_F(DriverTest, HashPassStopsOnBreak) {
    WriteFile(root / "a.txt", "a");
    WriteFile(root / "b.txt", "b");
    ASSERT_TRUE(Scan());
    CSyncBase owner;
    owner.breakEvent.Set();
    EXPECT_FALSE(driver.HashOnRunHandler(&owner));
    for (FileNode* node : app.DriverTree.Preorder()) EXPECT_EQ(node->data->checksum, "");
}

// A folder of many files whose digests come from several workers at once.
class HashWorkersTest : public DriverTest {
protected:
    static constexpr int kFiles = 60;
    static std::string Name(int i) { return "/d" + std::to_string(i % 5) + "/f" + std::to_string(i); }
    static std::string Content(int i) { return std::string(static_cast<std::size_t>(i * 37 % 5000), 'x') + std::to_string(i); }

    void SetUp() override {
        for (int i = 0; i < kFiles; ++i) WriteFile(fs::path(root.string() + Name(i)), Content(i));
        ASSERT_TRUE(Scan());
    }
    // Every file record's path and checksum in tree order.
    Lines Digests() {
        Lines out;
        for (FileNode* node : app.DriverTree.Preorder()) {
            if (node->data->isFile != 0) out.push_back(NodePath(node, 2) + " " + node->data->checksum.str());
        }
        return out;
    }
    void ClearDigests() {
        for (FileNode* node : app.DriverTree.Preorder()) node->data->checksum.clear();
    }
};

TEST_F(HashWorkersTest, SameDigestsInTheSameRecordsWhateverTheWorkerCount) {
    Lines expected;
    for (FileNode* node : app.DriverTree.Preorder()) {
        if (node->data->isFile == 0) continue;
        const std::string path = NodePath(node, 2);
        const int i = std::stoi(path.substr(path.rfind('f') + 1));
        expected.push_back(path + " " + Md5Upper(Content(i)));
    }
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kFiles));
    for (unsigned workers : {1u, 3u, 8u, 200u}) {
        ClearDigests();
        driver.hashWorkers = workers;
        EXPECT_TRUE(driver.HashOnRunHandler(&driver)) << workers;
        EXPECT_EQ(Digests(), expected) << workers;
    }
    driver.hashWorkers = 0;
    EXPECT_GE(driver.HashWorkerCount(), 1u);
    EXPECT_LE(driver.HashWorkerCount(), CThreadOfDriver::kMaxHashWorkers);
}

TEST_F(HashWorkersTest, FilesThatVanishOrChangeDuringThePass) {
    // Some files go away and others are rewritten just before a worker reads them: the
    // vanished ones keep no checksum, the rewritten ones get their new contents' digest,
    // and every other file is still digested.
    const auto fate = [](int i) { return i % 7 == 3 ? 'v' : i % 7 == 5 ? 'c' : '-'; };
    for (unsigned workers : {1u, 4u}) {
        for (int i = 0; i < kFiles; ++i) WriteFile(fs::path(root.string() + Name(i)), Content(i));
        ClearDigests();
        driver.hashWorkers = workers;
        driver.beforeDigest = [&](const std::string& path) {
            const int i = std::stoi(path.substr(path.rfind('f') + 1));
            const std::string full = root.string() + path;
            if (fate(i) == 'v') fs::remove(full);
            if (fate(i) == 'c') WriteFile(full, "changed " + std::to_string(i));
        };
        EXPECT_FALSE(driver.HashOnRunHandler(&driver)) << workers;
        for (int i = 0; i < kFiles; ++i) {
            const std::string want = fate(i) == 'v' ? "" : Md5Upper(fate(i) == 'c' ? "changed " + std::to_string(i) : Content(i));
            EXPECT_EQ(FindFileNodeByPath(&app.DriverTree, 0, Name(i))->data->checksum, want) << workers << " " << i;
        }
    }
}

TEST_F(HashWorkersTest, ABreakMidPassEndsEveryWorker) {
    // The break comes while the tenth file is about to be read: the pass ends without
    // reading the rest, and whatever was digested before is right.
    for (unsigned workers : {1u, 4u}) {
        ClearDigests();
        driver.breakEvent.Reset();
        driver.hashWorkers = workers;
        std::atomic<int> started{0};
        driver.beforeDigest = [&](const std::string&) {
            if (++started == 10) driver.breakEvent.Set();
        };
        EXPECT_FALSE(driver.HashOnRunHandler(&driver)) << workers;
        EXPECT_LE(started.load(), 10 + static_cast<int>(workers)) << "workers stop taking files";
        int digested = 0;
        for (int i = 0; i < kFiles; ++i) {
            const std::string& got = FindFileNodeByPath(&app.DriverTree, 0, Name(i))->data->checksum;
            if (got.empty()) continue;
            ++digested;
            EXPECT_EQ(got, Md5Upper(Content(i))) << i;
        }
        EXPECT_LT(digested, 10) << workers;
    }
}

// ---------------------------------------------------------------------------------------
// Applying local changes

struct ChangeCase {
    const char* name;
    std::function<void(const fs::path&)> before;  // the disk the tree was listed from
    std::function<void(const fs::path&)> after;   // what the user did
    std::vector<LocalChangeRecord> records;
    Lines expected;
    Lines unknown;
};

LocalChangeRecord Change(std::uint32_t kind, const std::string& path, const std::string& newPath = "") {
    LocalChangeRecord r;
    r.kind = kind;
    r.path = path;
    r.newPath = newPath;
    return r;
}

void Put(const fs::path& p, const std::string& content) { WriteFile(p, content); }

TEST_F(DriverTest, ApplyLocalChangeFoldsRecordsIntoTheTree) {
    const auto base = [](const fs::path& r) {
        Put(r / "a.txt", "aaa");
        Put(r / "dir" / "x.txt", "x");
        Put(r / "dir" / "sub" / "y.txt", "yy");
    };
    const auto nothing = [](const fs::path&) {};
    const ChangeCase cases[] = {
        {"added file", base, [](const fs::path& r) { Put(r / "dir" / "new.txt", "new!"); },
         {Change(kLocalAdded, "\\dir\\new.txt")},
         {"f /a.txt 3", "d /dir", "f /dir/new.txt 4 *", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {}},
        {"added folder is listed", base, [](const fs::path& r) { Put(r / "n" / "m" / "k.txt", "k"); },
         {Change(kLocalAdded, "\\n")},
         {"f /a.txt 3", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1", "d /n *", "d /n/m",
          "f /n/m/k.txt 1"},
         {}},
        {"added excluded name", base, [](const fs::path& r) { Put(r / "w.tmp", "t"); },
         {Change(kLocalAdded, "\\w.tmp")},
         {"f /a.txt 3", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {}},
        {"added link is unknown", base, [](const fs::path& r) { fs::create_symlink(r / "a.txt", r / "l"); },
         {Change(kLocalAdded, "\\l")},
         {"f /a.txt 3", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {"/l"}},
        {"added over an existing name is a modification", base, [](const fs::path& r) { Put(r / "a.txt", "bigger"); },
         {Change(kLocalAdded, "\\a.txt")},
         {"f /a.txt 6 *", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {}},
        {"removed folder", base, [](const fs::path& r) { fs::remove_all(r / "dir"); },
         {Change(kLocalRemoved, "\\dir")},
         {"f /a.txt 3"},
         {}},
        {"removed link forgets it", [&](const fs::path& r) { base(r); fs::create_symlink(r / "a.txt", r / "l"); },
         [](const fs::path& r) { fs::remove(r / "l"); },
         {Change(kLocalRemoved, "\\l")},
         {"f /a.txt 3", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {}},
        {"modified file", base, [](const fs::path& r) { Put(r / "dir" / "x.txt", "longer"); },
         {Change(kLocalModified, "\\dir\\x.txt")},
         {"f /a.txt 3", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 6 *"},
         {}},
        {"modified into a link", base,
         [](const fs::path& r) { fs::remove(r / "a.txt"); fs::create_symlink(r / "dir", r / "a.txt"); },
         {Change(kLocalModified, "\\a.txt")},
         {"d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {"/a.txt"}},
        {"folder turned file", base, [](const fs::path& r) { fs::remove_all(r / "dir"); Put(r / "dir", "f"); },
         {Change(kLocalModified, "\\dir")},
         {"f /a.txt 3", "f /dir 1 *"},
         {}},
        {"modified under a missing parent only logs", base, nothing,
         {Change(kLocalModified, "\\nope\\z.txt")},
         {"f /a.txt 3", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {}},
        {"renamed file", base, [](const fs::path& r) { fs::rename(r / "dir" / "x.txt", r / "dir" / "xx.txt"); },
         {Change(kLocalRenamed, "\\dir\\x.txt", "\\dir\\xx.txt")},
         {"f /a.txt 3", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/xx.txt 1"},
         {}},
        {"renamed folder rewrites the paths below", base, [](const fs::path& r) { fs::rename(r / "dir", r / "folder"); },
         {Change(kLocalRenamed, "\\dir", "\\folder")},
         {"f /a.txt 3", "d /folder", "d /folder/sub", "f /folder/sub/y.txt 2", "f /folder/x.txt 1"},
         {}},
        {"case-only rename", base, [](const fs::path& r) { fs::rename(r / "a.txt", r / "A.txt"); },
         {Change(kLocalRenamed, "\\a.txt", "\\A.txt")},
         {"f /A.txt 3", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {}},
        {"rename over an existing file replaces it", [&](const fs::path& r) { base(r); Put(r / "b.txt", "b"); },
         [](const fs::path& r) { fs::rename(r / "a.txt", r / "b.txt"); },
         {Change(kLocalRenamed, "\\a.txt", "\\b.txt")},
         {"f /b.txt 3", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {}},
        {"rename into another folder over an existing file", base,
         [](const fs::path& r) { fs::rename(r / "dir" / "x.txt", r / "a.txt"); },
         {Change(kLocalRenamed, "\\dir\\x.txt", "\\a.txt")},
         {"f /a.txt 1 *", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2"},
         {}},
        {"rename to an excluded name of an unlisted item changes nothing", base,
         [](const fs::path& r) { Put(r / "q.tmp", "q"); },
         {Change(kLocalRenamed, "\\q", "\\q.tmp")},
         {"f /a.txt 3", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {}},
        {"rename to an excluded name removes it", base, [](const fs::path& r) { fs::rename(r / "a.txt", r / "a.tmp"); },
         {Change(kLocalRenamed, "\\a.txt", "\\a.tmp")},
         {"d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {}},
        {"folder listed anew", base,
         [](const fs::path& r) { fs::remove_all(r / "dir" / "sub"); Put(r / "dir" / "fresh.txt", "fresh"); },
         {Change(kLocalRelist, "\\dir")},
         {"f /a.txt 3", "d /dir *", "f /dir/fresh.txt 5", "f /dir/x.txt 1"},
         {}},
        {"removing the skipped twin leaves the listed one",
         [&](const fs::path& r) { base(r); Put(r / "b.txt", "lower"); Put(r / "B.txt", "UPPER"); },
         [](const fs::path& r) { fs::remove(r / "b.txt"); },
         {Change(kLocalRemoved, "\\b.txt"), Change(kLocalModified, "\\b.txt")},
         {"f /a.txt 3", "f /B.txt 5", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2", "f /dir/x.txt 1"},
         {}},
        {"the twin's changes do not touch the listed one",
         [&](const fs::path& r) { base(r); Put(r / "b.txt", "lower"); Put(r / "B.txt", "UPPER"); },
         [](const fs::path& r) { Put(r / "b.txt", "lower, longer"); fs::rename(r / "b.txt", r / "c.txt"); },
         {Change(kLocalModified, "\\b.txt"), Change(kLocalRenamed, "\\b.txt", "\\c.txt")},
         {"f /a.txt 3", "f /B.txt 5", "f /c.txt 13 *", "d /dir", "d /dir/sub", "f /dir/sub/y.txt 2",
          "f /dir/x.txt 1"},
         {}},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root);
        fs::create_directories(root);
        c.before(root);
        ASSERT_TRUE(Scan());
        c.after(root);
        LocalChangeBatch batch(c.records.begin(), c.records.end());
        driver.ApplyLocalChange(batch, &app.DriverTree);
        EXPECT_TRUE(batch.empty());
        EXPECT_EQ(Listing(app.DriverTree), c.expected);
        EXPECT_EQ(app.driverUnknown.Entries(), c.unknown);
    }
}

TEST_F(DriverTest, ChangesEmptyChecksumsUpward) {
    WriteFile(root / "dir" / "x.txt", "x");
    WriteFile(root / "other" / "o.txt", "o");
    ASSERT_TRUE(Scan());
    for (FileNode* node : app.DriverTree.Preorder()) node->data->checksum = "C";
    app.DriverTree.data->checksum = "ROOT";
    WriteFile(root / "dir" / "x.txt", "changed");
    LocalChangeBatch batch{Change(kLocalModified, "\\dir\\x.txt")};
    driver.ApplyLocalChange(batch, &app.DriverTree);
    EXPECT_EQ(FindFileNodeByPath(&app.DriverTree, 1, "\\dir\\x.txt")->data->checksum, "");
    EXPECT_EQ(FindFileNodeByPath(&app.DriverTree, 1, "\\dir")->data->checksum, "");
    EXPECT_EQ(app.DriverTree.data->checksum, "");
    EXPECT_EQ(FindFileNodeByPath(&app.DriverTree, 1, "\\other")->data->checksum, "C");
}

TEST_F(DriverTest, ModifiedUnderMissingParentLogsTheLine) {
    LogCapture log;
    LocalChangeBatch batch{Change(kLocalModified, "\\nope\\z.txt")};
    driver.ApplyLocalChange(batch, &app.DriverTree);
    const Lines lines = log.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "ALERT: 检索父节点失败！'\\nope\\z.txt' filepath:ThreadOfDriver line:496"),
              lines.end());
}

TEST_F(DriverTest, UnreadableNewFolderStaysUnknown) {
    ASSERT_TRUE(Scan());
    WriteFile(root / "closed" / "c.txt", "c");
    fs::permissions(root / "closed", fs::perms::none);
    drivertest::OpenUpTo(sandbox.Root(), root);
    const int result = drivertest::RunUnprivileged([&] {
        LocalChangeBatch batch{Change(kLocalAdded, "\\closed")};
        driver.ApplyLocalChange(batch, &app.DriverTree);
        if (!app.DriverTree.children.empty()) return 1;
        return app.driverUnknown.Covers("\\closed\\c.txt") ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
}

// ---------------------------------------------------------------------------------------
// Change intake

class IntakeTest : public DriverTest {
protected:
    IntakeTest() {
        driver.clock = [this] { return now.load(); };
        driver.sortChanges = [this](LocalChangeBatch& batch) { sorted += batch.size(); };
    }
    std::atomic<std::uint64_t> now{10000};
    std::size_t sorted = 0;
};

TEST_F(IntakeTest, TakesTheWholeQuietQueue) {
    ASSERT_TRUE(Scan());
    WriteFile(root / "a.txt", "a");
    WriteFile(root / "b.txt", "b");
    Queue(kLocalAdded, "\\a.txt", "", 9000);
    Queue(kLocalAdded, "\\b.txt", "", 9999);  // young, but only the first record's age counts
    EXPECT_TRUE(driver.ChangeOnRunHandler());
    EXPECT_EQ(sorted, 2u);
    EXPECT_TRUE(app.localChanges.empty());
    EXPECT_EQ(Listing(app.DriverTree), (Lines{"f /a.txt 1 *", "f /b.txt 1 *"}));
    EXPECT_EQ(window.localListingState.load(), 1u);
}

TEST_F(IntakeTest, WaitsUntilTheFirstRecordIs120MsOld) {
    ASSERT_TRUE(Scan());
    WriteFile(root / "a.txt", "a");
    Queue(kLocalAdded, "\\a.txt", "", 9881);  // 119 ms old
    int reads = 0;
    driver.clock = [&] { return ++reads == 1 ? 10000 : 10001; };
    EXPECT_TRUE(driver.ChangeOnRunHandler());
    EXPECT_GE(reads, 2);
    EXPECT_EQ(Listing(app.DriverTree), (Lines{"f /a.txt 1 *"}));
}

TEST_F(IntakeTest, FileStillBeingWrittenHoldsTheQueueBack) {
    ASSERT_TRUE(Scan());
    WriteFile(root / "busy.txt", "partial");
    Queue(kLocalModified, "\\busy.txt", "", 1);
    Queue(kLocalAdded, "\\busy.txt", "", 2);
    std::vector<std::string> probed;
    driver.fileReady = [&](const std::string& path) {
        probed.push_back(path);
        return false;
    };
    EXPECT_FALSE(driver.ChangeOnRunHandler());
    EXPECT_EQ(app.localChanges.size(), 2u);
    EXPECT_EQ(probed, (Lines{"\\busy.txt"}));
    EXPECT_EQ(window.localListingState.load(), 0u);
    EXPECT_TRUE(app.DriverTree.children.empty());
}

TEST_F(IntakeTest, TheWriterTestNeverCreatesAFile) {
    ASSERT_TRUE(Scan());
    Queue(kLocalModified, "\\ghost.txt", "", 1);
    driver.fileReady = [](const std::string&) {
        ADD_FAILURE() << "a missing file must not be opened";
        return false;
    };
    EXPECT_TRUE(driver.ChangeOnRunHandler());
    EXPECT_FALSE(fs::exists(root / "ghost.txt"));

    // The real test takes an existing, even empty, file and never creates one.
    CThreadOfDriver plain(&app, &app.DriverTree);
    WriteFile(root / "empty.txt", "");
    EXPECT_TRUE(plain.fileReady("\\empty.txt"));
    EXPECT_FALSE(plain.fileReady("/never.txt"));
    EXPECT_FALSE(fs::exists(root / "never.txt"));
}

TEST_F(IntakeTest, TheRealWriterTestHoldsTheQueueBackWhileAWriterIsOpen) {
    ASSERT_TRUE(Scan());
    WriteFile(root / "busy.txt", "partial");
    Queue(kLocalModified, "\\busy.txt", "", 1);
    const int writer = ::open((root / "busy.txt").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    EXPECT_FALSE(driver.ChangeOnRunHandler());
    EXPECT_EQ(app.localChanges.size(), 1u);
    ::close(writer);
    EXPECT_TRUE(driver.ChangeOnRunHandler());
    EXPECT_TRUE(app.localChanges.empty());
}

TEST_F(IntakeTest, BreakOrQuitLeavesTheQueue) {
    Queue(kLocalAdded, "\\a.txt", "", 1);
    driver.breakEvent.Set();
    EXPECT_FALSE(driver.ChangeOnRunHandler());
    driver.breakEvent.Reset();
    g_pTerminateEvent->Set();
    EXPECT_FALSE(driver.ChangeOnRunHandler());
    g_pTerminateEvent->Reset();
    EXPECT_EQ(app.localChanges.size(), 1u);
}

TEST_F(IntakeTest, NothingQueuedIsNothingApplied) {
    EXPECT_FALSE(driver.ChangeOnRunHandler());
    EXPECT_EQ(window.localListingState.load(), 0u);
}

TEST_F(IntakeTest, SortingAwayEveryRecordAppliesNothing) {
    Queue(kLocalAdded, "\\a.txt", "", 1);
    driver.sortChanges = [](LocalChangeBatch& batch) { batch.clear(); };
    EXPECT_FALSE(driver.ChangeOnRunHandler());
    EXPECT_TRUE(app.localChanges.empty());
}

// ---------------------------------------------------------------------------------------
// The thread

class DriverThreadTest : public DriverTest {
protected:
    // A worker with its thread running, reporting to the recording window.
    std::unique_ptr<CThreadOfDriver> StartWorker() {
        auto worker = std::make_unique<CThreadOfDriver>(&app, &app.DriverTree);
        window.worker = worker.get();
        worker->Start();
        return worker;
    }
    // Waits for the n-th message.
    bool WaitForMessages(std::size_t n) {
        return WaitUntil([&] { return window.Count() >= n; });
    }
};

TEST_F(DriverThreadTest, ScanThenHashReportInTheirOrder) {
    WriteFile(root / "a.txt", "abc");
    const auto started = StartWorker();
    CThreadOfDriver& worker = *started;
    worker.PostCommand(THREAD_CMD_RUN);
    ASSERT_TRUE(WaitForMessages(1));
    worker.PostCommand(THREAD_CMD_HASH);
    ASSERT_TRUE(WaitForMessages(2));
    WriteFile(root / "b.txt", "b");
    {
        std::lock_guard<std::mutex> hold(app.changeListLock);
        Queue(kLocalAdded, "\\b.txt", "", 0);
    }
    worker.PostCommand(THREAD_CMD_CHANGES);
    ASSERT_TRUE(WaitForMessages(3));

    const auto messages = window.Messages();
    ASSERT_EQ(messages.size(), 3u);
    // RUN: done is set before the (sent) message.
    EXPECT_EQ(messages[0].id, WM_DEVICE_SCAN_FINISHED);
    EXPECT_EQ(messages[0].wParam, 0u);
    EXPECT_EQ(messages[0].lParam, 1);
    EXPECT_TRUE(messages[0].sent);
    EXPECT_TRUE(messages[0].doneWasSet);
    // HASH: the message is posted before done is set.
    EXPECT_EQ(messages[1].id, WM_ALL_FILES_HASH);
    EXPECT_EQ(messages[1].wParam, reinterpret_cast<std::uintptr_t>(&worker));
    EXPECT_EQ(messages[1].lParam, 1);
    EXPECT_FALSE(messages[1].sent);
    EXPECT_FALSE(messages[1].doneWasSet);
    // CHANGES: done first, then the posted message.
    EXPECT_EQ(messages[2].id, WM_DEVICE_SCAN_FINISHED);
    EXPECT_EQ(messages[2].wParam, 1u);
    EXPECT_EQ(messages[2].lParam, 1);
    EXPECT_FALSE(messages[2].sent);
    EXPECT_TRUE(messages[2].doneWasSet);

    ASSERT_TRUE(WaitUntil([&] { return worker.doneEvent.IsSet(); }));
    EXPECT_EQ(FindFileNodeByPath(&app.DriverTree, 0, "/a.txt")->data->checksum, Md5Upper("abc"));
    EXPECT_EQ(worker.state.load(), 2u);
}

TEST_F(DriverThreadTest, FailedScanSendsNothingAndAFailedHashStillReports) {
    app.syncFolder = Wide(root / "missing");
    const auto started = StartWorker();
    CThreadOfDriver& worker = *started;
    worker.PostCommand(THREAD_CMD_RUN);
    worker.PostCommand(THREAD_CMD_HASH);
    ASSERT_TRUE(WaitForMessages(1));
    // The hash pass found nothing to digest after the failed scan.
    const auto messages = window.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].id, WM_ALL_FILES_HASH);
    EXPECT_EQ(messages[0].lParam, 1);
    ASSERT_TRUE(WaitUntil([&] { return worker.doneEvent.IsSet(); }));

    app.DriverTree.InsertChild(SyncFileInfo(1, 0, 3, "/vanished.txt"));
    worker.PostCommand(THREAD_CMD_HASH);
    ASSERT_TRUE(WaitForMessages(2));
    EXPECT_EQ(window.Messages()[1].lParam, 0);
}

TEST_F(DriverThreadTest, PausedWorkerIgnoresPasses) {
    WriteFile(root / "a.txt", "a");
    const auto started = StartWorker();
    CThreadOfDriver& worker = *started;
    worker.PostCommand(THREAD_CMD_PAUSE);
    worker.PostCommand(THREAD_CMD_RUN);
    worker.PostCommand(THREAD_CMD_CHANGES);
    worker.PostCommand(THREAD_CMD_HASH);
    worker.PostCommand(THREAD_CMD_RESUME);
    worker.PostCommand(THREAD_CMD_HASH);
    ASSERT_TRUE(WaitForMessages(1));
    const auto messages = window.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].id, WM_ALL_FILES_HASH);
    EXPECT_TRUE(app.DriverTree.children.empty());  // the paused RUN never listed
}

TEST_F(DriverThreadTest, BindWithoutOwnersEndsTheThread) {
    CThreadOfDriver worker(nullptr, nullptr);
    worker.Start();
    ASSERT_TRUE(WaitUntil([&] { return !worker.IsAlive(); }));
    std::uint32_t code = 0;
    EXPECT_TRUE(worker.Stop(code));
    EXPECT_EQ(code, 0xFFFFFFFFu);
}

TEST_F(DriverThreadTest, ExitEndsTheLoopWithZero) {
    CThreadOfDriver worker(&app, &app.DriverTree);
    worker.Start();
    worker.PostCommand(THREAD_CMD_QUERY_STATE);
    worker.PostCommand(THREAD_CMD_EXIT);
    ASSERT_TRUE(WaitUntil([&] { return !worker.IsAlive(); }));
    std::uint32_t code = 1;
    EXPECT_TRUE(worker.Stop(code));
    EXPECT_EQ(code, 0u);
}

}  // namespace
