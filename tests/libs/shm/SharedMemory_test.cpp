#include "shm/SharedMemory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/localpipe.h"
#include "platform/namedlock.h"
#include "platform/sharedmem.h"
#include "platform/text.h"
#include "platform/userdirs.h"
#include "shm/SyncValues.h"
#include "support/sandbox.h"

namespace {

using Table = CSharedMemory;
namespace fs = std::filesystem;

std::uint32_t Load32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Store32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A table of its own per test: never the real program's, never another test's.
class SharedMemoryTest : public ::testing::Test {
protected:
    SharedMemoryTest() {
        static int counter = 0;
        name8 = "DravikTestTable-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        name = plat::ToUtf16(name8);
    }
    ~SharedMemoryTest() override { plat::SharedMemory::Remove(name8); }

    // The start of the table, found from its first record.
    static unsigned char* Base(Table& t, const std::u16string& firstValue) {
        unsigned char* record = nullptr;
        EXPECT_EQ(1, t.FindValue(firstValue, nullptr, &record));
        return record - Table::kHeaderSize;
    }

    // The object mapped a second time, as another program would see it.
    struct Raw {
        explicit Raw(const std::string& n) {
            bool created = false, grew = false;
            EXPECT_EQ(0, memory.Open(n, created));
            EXPECT_FALSE(created);
            EXPECT_EQ(0, memory.Map(Table::kTableSize + 4096, grew));
        }
        unsigned char* data() { return memory.Data(); }
        plat::SharedMemory memory;
    };

    // Runs `body` in a child process; true when it returned true there.
    static bool InChild(const std::function<bool()>& body) {
        const pid_t pid = ::fork();
        if (pid == 0) ::_exit(body() ? 0 : 1);
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    testsupport::Sandbox sandbox;
    std::string name8;
    std::u16string name;
};

TEST_F(SharedMemoryTest, OpensAPrivateTableOfTheUser) {
    Table t(name);
    ASSERT_TRUE(t.Ready()) << t.LastError();
    EXPECT_TRUE(t.Created());
    EXPECT_EQ(name, t.Name());
    EXPECT_EQ(102400u, t.TotalSize());
    const std::string object = plat::SharedMemory::ObjectName(name8);
    EXPECT_NE(std::string::npos, object.find("-" + std::to_string(::geteuid())));
    struct stat st;
    ASSERT_EQ(0, ::stat(("/dev/shm" + object).c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);

    Table second(name);
    ASSERT_TRUE(second.Ready());
    EXPECT_FALSE(second.Created());
}

TEST_F(SharedMemoryTest, AddSetAndTheirErrors) {
    Table t(name);
    ASSERT_TRUE(t.Ready());
    EXPECT_EQ(1, t.AddValue(u"Eight", 8));
    unsigned char* data = nullptr;
    ASSERT_EQ(1, t.FindValue(u"Eight", &data, nullptr));
    EXPECT_EQ(std::vector<unsigned char>(8, 0), std::vector<unsigned char>(data, data + 8));

    const unsigned char full[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(1, t.SetValue(u"Eight", full, 8));
    const unsigned char part[4] = {9, 9, 9, 9};
    EXPECT_EQ(1, t.SetValue(u"Eight", part, 4));
    EXPECT_EQ((std::vector<unsigned char>{9, 9, 9, 9, 0, 0, 0, 0}), std::vector<unsigned char>(data, data + 8));

    const unsigned char ten[10] = {};
    struct Case {
        const char* what;
        std::function<int()> call;
        std::uint32_t error;
    } cases[] = {
        {"set too long", [&] { return t.SetValue(u"Eight", ten, 10); }, Table::kErrorValueTooSmall},
        {"set nothing", [&] { return t.SetValue(u"Eight", ten, 0); }, Table::kErrorZeroLength},
        {"set missing", [&] { return t.SetValue(u"Nope", ten, 1); }, Table::kErrorNoSuchValue},
        {"add twice", [&] { return t.AddValue(u"Eight", 4); }, Table::kErrorExists},
        {"add empty", [&] { return t.AddValue(u"Zero", 0); }, Table::kErrorZeroLength},
        {"add 40 chars", [&] { return t.AddValue(std::u16string(40, u'n'), 4); }, Table::kErrorNameTooLong},
        {"add no name", [&] { return t.AddValue(u"", 4); }, Table::kErrorInvalidParameter},
        {"add past the end", [&] { return t.AddValue(u"Huge", 0xFFFFFFFFu); }, Table::kErrorNoRoom},
        {"delete missing", [&] { return t.DeleteValue(u"Nope"); }, Table::kErrorNoSuchValue},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(0, c.call()) << c.what;
        EXPECT_EQ(c.error, t.LastError()) << c.what;
    }
    // Failures changed nothing.
    EXPECT_EQ((std::vector<unsigned char>{9, 9, 9, 9, 0, 0, 0, 0}), std::vector<unsigned char>(data, data + 8));
    EXPECT_EQ(1, t.AddValue(std::u16string(39, u'n'), 4));
}

TEST_F(SharedMemoryTest, RecordsArePackedAndStayPackedAfterADelete) {
    Table t(name);
    ASSERT_TRUE(t.Ready());
    ASSERT_EQ(1, t.AddValue(u"A", 8));
    ASSERT_EQ(1, t.AddValue(u"Bb", 4));
    ASSERT_EQ(1, t.AddValue(u"C", 2));
    const unsigned char c[2] = {0xCC, 0xCD};
    ASSERT_EQ(1, t.SetValue(u"C", c, 2));
    unsigned char* base = Base(t, u"A");
    EXPECT_EQ(3u, Load32(base));
    EXPECT_EQ(102400u, Load32(base + 4));
    // Names are UTF-16LE, zero-filled to 80 bytes, followed by the data size.
    EXPECT_EQ('B', base[100]);
    EXPECT_EQ(0, base[101]);
    EXPECT_EQ('b', base[102]);
    EXPECT_EQ(4u, Load32(base + 100 + 80));
    EXPECT_EQ(0xCC, base[188 + 84]);

    ASSERT_EQ(1, t.DeleteValue(u"Bb"));
    EXPECT_EQ(2u, Load32(base));
    EXPECT_EQ('A', base[8]);
    EXPECT_EQ('C', base[100]);  // moved down over the deleted record
    EXPECT_EQ(2u, Load32(base + 100 + 80));
    EXPECT_EQ(0xCC, base[100 + 84]);
    EXPECT_EQ(0xCD, base[100 + 85]);
    for (std::size_t i = 100 + 86; i < 102400; ++i) ASSERT_EQ(0, base[i]) << "byte " << i;
    unsigned char* data = nullptr;
    EXPECT_EQ(0, t.FindValue(u"Bb", &data, nullptr));
}

TEST_F(SharedMemoryTest, FillsTheTableExactlyAndNoFurther) {
    Table t(name);
    ASSERT_TRUE(t.Ready());
    EXPECT_EQ(1, t.AddValue(u"All", Table::kTableSize - Table::kHeaderSize - Table::kRecordHeaderSize));
    EXPECT_EQ(0, t.AddValue(u"More", 1));
    EXPECT_EQ(Table::kErrorNoRoom, t.LastError());
    EXPECT_EQ(1, t.DeleteValue(u"All"));
    EXPECT_EQ(1, t.AddValue(u"More", 1));
}

TEST_F(SharedMemoryTest, GenerationsStandInForTheEvents) {
    Table t(name);
    ASSERT_TRUE(t.Ready());
    const std::uint64_t table0 = t.TableGeneration();
    ASSERT_EQ(1, t.AddValue(u"V", 4));
    EXPECT_GT(t.TableGeneration(), table0);

    const std::uint64_t table1 = t.TableGeneration();
    const std::uint64_t value1 = t.ValueGeneration(u"V");
    const unsigned char bytes[4] = {1, 2, 3, 4};
    ASSERT_EQ(1, t.SetValue(u"V", bytes, 4));
    EXPECT_EQ(table1, t.TableGeneration()) << "a write adds and deletes nothing";
    EXPECT_GT(t.ValueGeneration(u"V"), value1);

    const std::uint64_t value2 = t.ValueGeneration(u"V");
    ASSERT_EQ(1, t.DeleteValue(u"V"));
    EXPECT_GT(t.TableGeneration(), table1);
    EXPECT_GT(t.ValueGeneration(u"V"), value2);
}

TEST_F(SharedMemoryTest, AnotherProcessSeesTheValuesAndChangesThem) {
    Table t(name);
    ASSERT_TRUE(t.Ready());
    ASSERT_EQ(1, t.AddValue(u"DravikCloudDiskPath", 6));
    const char16_t path[3] = {u'/', u'x', u'y'};
    ASSERT_EQ(1, t.SetValue(u"DravikCloudDiskPath", path, sizeof path));
    const std::uint64_t before = t.TableGeneration();

    EXPECT_TRUE(InChild([&] {
        Table other(name);
        unsigned char* data = nullptr;
        if (!other.Ready() || other.Created()) return false;
        if (other.FindValue(u"DravikCloudDiskPath", &data, nullptr) != 1) return false;
        if (std::memcmp(data, path, sizeof path) != 0) return false;
        const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
        return other.AddValue(u"DravikSyncWinHandle", 4) == 1 && other.SetValue(u"DravikSyncWinHandle", &pid, 4) == 1;
    }));

    EXPECT_GT(t.TableGeneration(), before);
    unsigned char* data = nullptr;
    ASSERT_EQ(1, t.FindValue(u"DravikSyncWinHandle", &data, nullptr));
    EXPECT_NE(0u, Load32(data));
}

TEST_F(SharedMemoryTest, ReadValueCopiesTheWholeSpaceOfAValue) {
    Table t(name);
    ASSERT_TRUE(t.Ready());
    ASSERT_EQ(1, t.AddValue(u"V", 8));
    ASSERT_EQ(1, t.SetValue(u"V", "abc", 3));
    std::vector<unsigned char> bytes{9};
    ASSERT_EQ(1, t.ReadValue(u"V", bytes));
    EXPECT_EQ(bytes, (std::vector<unsigned char>{'a', 'b', 'c', 0, 0, 0, 0, 0}));
    EXPECT_EQ(0, t.ReadValue(u"W", bytes));
    EXPECT_EQ(Table::kErrorNoSuchValue, t.LastError());
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(0, t.ReadValue(std::u16string(40, u'V'), bytes));
}

TEST_F(SharedMemoryTest, AReaderFindsTheSyncProgramsQueryEndpointFromThePublishedValues) {
    const auto pid = static_cast<std::uint32_t>(::getpid());
    // The program: its query socket listens, then it publishes where the socket is.
    plat::LocalPipeListener endpoint;
    ASSERT_TRUE(endpoint.Listen(SyncQuerySocketPath(pid)));
    Table writer(name);
    ASSERT_TRUE(writer.Ready());
    ASSERT_TRUE(PublishSyncFolder(writer, u"/home/u/同步"));
    ASSERT_TRUE(PublishSyncHandle(writer, pid));

    // Another program reads the table and reaches the socket.
    Table reader(name);
    ASSERT_TRUE(reader.Ready());
    const PublishedSync published = ReadPublishedSync(reader);
    EXPECT_EQ(published.folder, u"/home/u/同步");
    ASSERT_TRUE(published.handle.has_value());
    EXPECT_EQ(*published.handle, pid);
    EXPECT_EQ(published.queryPath, endpoint.Path());
    EXPECT_EQ(fs::path(published.queryPath).parent_path(), fs::path(plat::RuntimeDir()));
    plat::LocalPipe link;
    EXPECT_EQ(plat::ConnectLocalPipe(published.queryPath, link, nullptr, 20000), plat::PipeStatus::Ok);
    // The value keeps its 4-byte layout: the process id, little-endian.
    std::vector<unsigned char> raw;
    ASSERT_EQ(1, reader.ReadValue(kSyncHandleValue, raw));
    EXPECT_EQ(raw.size(), 4u);
    EXPECT_EQ(Load32(raw.data()), pid);

    // What a reader makes of values it cannot use.
    struct Case {
        const char* what;
        std::function<void()> publish;
        bool handle;
        std::u16string folder;
    } cases[] = {
        {"withdrawn", [&] { WithdrawSyncValues(writer); }, false, u""},
        {"a handle of another size",
         [&] {
             writer.AddValue(kSyncHandleValue, 3);
             writer.SetValue(kSyncHandleValue, "abc", 3);
         },
         false, u""},
        {"a folder of an odd byte count",
         [&] {
             writer.AddValue(kSyncFolderValue, 3);
             writer.SetValue(kSyncFolderValue, "abc", 3);
             PublishSyncHandle(writer, 7);
         },
         true, u""},
        {"published again",
         [&] {
             PublishSyncFolder(writer, u"/b");
             PublishSyncHandle(writer, 8);
         },
         true, u"/b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WithdrawSyncValues(writer);
        c.publish();
        const PublishedSync read = ReadPublishedSync(reader);
        EXPECT_EQ(read.handle.has_value(), c.handle);
        EXPECT_EQ(read.queryPath.empty(), !c.handle);
        if (read.handle) {
            EXPECT_EQ(read.queryPath, SyncQuerySocketPath(*read.handle));
        }
        EXPECT_EQ(read.folder, c.folder);
    }
    EXPECT_TRUE(IsSyncQuerySocketName(SyncQuerySocketName(4294967295u)));
    for (const char* other : {"DravikSyncQuery-", "DravikSyncQuery-12a", "DravikSyncQuery-12345678901", "WritePipe"}) {
        EXPECT_FALSE(IsSyncQuerySocketName(other)) << other;
    }
}

TEST_F(SharedMemoryTest, ATableThatIsNotSoundIsStartedAfresh) {
    struct Case {
        const char* what;
        std::function<void(unsigned char*)> spoil;
    } cases[] = {
        {"count beyond the records", [](unsigned char* b) { Store32(b, 0xFFFFFFFFu); }},
        {"wrong total size", [](unsigned char* b) { Store32(b + 4, 0x7FFFFFFFu); }},
        {"data size past the end", [](unsigned char* b) { Store32(b + 8 + 80, 0xFFFFFFF0u); }},
        {"data size just past the end", [](unsigned char* b) { Store32(b + 8 + 80, 102400 - 8 - 84 + 1); }},
        {"name without its zero", [](unsigned char* b) { std::memset(b + 8, 'n', 80); }},
        {"bytes after the last record", [](unsigned char* b) { b[50000] = 1; }},
        {"foreign layout", [](unsigned char* b) { std::memset(b + 102400, 0xAB, 8); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            Table t(name);
            ASSERT_TRUE(t.Ready());
            ASSERT_EQ(1, t.AddValue(u"Old", 4));
        }
        {
            Raw raw(name8);
            c.spoil(raw.data());
        }
        Table t(name);
        ASSERT_TRUE(t.Ready());
        unsigned char* data = nullptr;
        EXPECT_EQ(0, t.FindValue(u"Old", &data, nullptr));
        EXPECT_EQ(1, t.AddValue(u"New", 4));
        unsigned char* base = Base(t, u"New");
        EXPECT_EQ(1u, Load32(base));
        EXPECT_EQ(102400u, Load32(base + 4));
        plat::SharedMemory::Remove(name8);
    }
}

TEST_F(SharedMemoryTest, ACorruptionMeanwhileIsCaughtByTheNextOperation) {
    Table t(name);
    ASSERT_TRUE(t.Ready());
    ASSERT_EQ(1, t.AddValue(u"Old", 4));
    unsigned char* base = Base(t, u"Old");
    Store32(base + 8 + 80, 0xFFFFFFF0u);  // a record that claims more than the table
    unsigned char* data = nullptr;
    EXPECT_EQ(0, t.FindValue(u"Old", &data, nullptr)) << "the unlocked look-up reads nothing past the table";
    EXPECT_EQ(1, t.AddValue(u"New", 4));
    EXPECT_EQ(1u, Load32(base));
    EXPECT_EQ(1, t.FindValue(u"New", &data, nullptr));
}

TEST_F(SharedMemoryTest, AShortenedObjectIsGrownBackInsteadOfFaulting) {
    Table t(name);
    ASSERT_TRUE(t.Ready());
    ASSERT_EQ(1, t.AddValue(u"Old", 4));
    const int fd = ::shm_open(plat::SharedMemory::ObjectName(name8).c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ::ftruncate(fd, 0));
    ::close(fd);
    EXPECT_EQ(1, t.AddValue(u"New", 4));
    unsigned char* data = nullptr;
    EXPECT_EQ(0, t.FindValue(u"Old", &data, nullptr));
    EXPECT_EQ(1, t.FindValue(u"New", &data, nullptr));
}

TEST_F(SharedMemoryTest, TheLockDiesWithItsHolder) {
    Table t(name);
    ASSERT_TRUE(t.Ready());
    int ready[2];
    ASSERT_EQ(0, ::pipe(ready));
    const pid_t pid = ::fork();
    if (pid == 0) {
        plat::ProcessLock lock;
        const bool ok = lock.Open(name8 + "_Sync") == 0 && lock.Lock() == 0;
        const char byte = ok ? 1 : 0;
        if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
        for (;;) ::pause();  // holds the lock until killed
    }
    ASSERT_GT(pid, 0);
    char byte = 0;
    ASSERT_EQ(1, ::read(ready[0], &byte, 1));
    ASSERT_EQ(1, byte);
    {
        plat::NamedLock probe;
        EXPECT_EQ(plat::NamedLock::Result::HeldElsewhere, probe.TryAcquire(name8 + "_Sync"));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(1, t.AddValue(u"AfterTheCrash", 4)) << "the dead holder's lock was released";
}

TEST_F(SharedMemoryTest, AnotherUsersObjectIsRefused) {
    const std::string object = plat::SharedMemory::ObjectName(name8);
    const int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    const bool chowned = ::fchown(fd, ::geteuid() + 1, static_cast<gid_t>(-1)) == 0;
    ::close(fd);
    if (!chowned) GTEST_SKIP() << "cannot give an object to another user here";
    Table t(name);
    EXPECT_FALSE(t.Ready());
    EXPECT_EQ(Table::kErrorAccessDenied, t.LastError());
    EXPECT_EQ(0, t.AddValue(u"X", 4));
    EXPECT_EQ(Table::kErrorNotOpen, t.LastError());
}

TEST_F(SharedMemoryTest, AnUnusableNameLeavesTheTableClosed) {
    Table t(u"with/slash");
    EXPECT_FALSE(t.Ready());
    EXPECT_TRUE(t.Name().empty());
    const unsigned char b = 1;
    for (const std::function<int()>& op : std::vector<std::function<int()>>{
             [&] { return t.AddValue(u"X", 4); }, [&] { return t.SetValue(u"X", &b, 1); },
             [&] { return t.DeleteValue(u"X"); }}) {
        EXPECT_EQ(0, op());
        EXPECT_EQ(Table::kErrorNotOpen, t.LastError());
    }
}

}  // namespace
