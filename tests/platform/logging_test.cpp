#include "platform/logging.h"

#include <gtest/gtest.h>

#include <log4cpp/Category.hh>

#include <sys/stat.h>

#include <cctype>
#include <filesystem>
#include <string>

#include "support/sandbox.h"

namespace {

using testsupport::ReadFile;
using testsupport::Sandbox;

TEST(LoggingTest, WritesPatternedLinesToTheFile) {
    Sandbox box;
    const auto file = box.Dir("logs") / "a.log";
    ASSERT_TRUE(plat::SetupRollingLog("LoggingTestA", "appA", file.string(), 1 << 20, 2));
    auto& log = plat::LogCategory("LoggingTestA");
    log.debug("first line");
    log.alert("second %s", "line");
    const std::string text = ReadFile(file);
    // "YYYY-MM-DD hh:mm:ss,mmm: DEBUG: first line"
    const std::string first = text.substr(0, text.find('\n'));
    ASSERT_GE(first.size(), 23u) << text;
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(first[0])) && first[4] == '-' && first[7] == '-' &&
                first[10] == ' ' && first[13] == ':' && first[16] == ':')
        << first;
    EXPECT_EQ(first.substr(first.find(": ")), ": DEBUG: first line") << first;
    EXPECT_NE(text.find(": ALERT: second line\n"), std::string::npos) << text;
}

TEST(LoggingTest, LogsAreReadableByTheirOwnerOnly) {
    Sandbox box;
    const auto file = box.Dir("logs") / "own.log";
    // A log of an earlier run and a rolled copy that others could read are closed too.
    testsupport::WriteFile(file.string() + ".1", "old");
    ::chmod((file.string() + ".1").c_str(), 0644);
    ASSERT_TRUE(plat::SetupRollingLog("LoggingTestOwn", "appOwn", file.string(), 200, 2));
    for (int i = 0; i < 20; ++i) plat::LogCategory("LoggingTestOwn").info("a line long enough to roll the file over");
    for (const std::string& name : {file.string(), file.string() + ".1", file.string() + ".2"}) {
        struct stat st;
        ASSERT_EQ(::stat(name.c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
    }
}

TEST(LoggingTest, SetupReplacesEarlierAppenders) {
    Sandbox box;
    const auto first = box.Dir("logs") / "first.log";
    const auto second = box.Dir("logs") / "second.log";
    ASSERT_TRUE(plat::SetupRollingLog("LoggingTestB", "appB", first.string(), 1 << 20, 1));
    plat::LogCategory("LoggingTestB").info("one");
    ASSERT_TRUE(plat::SetupRollingLog("LoggingTestB", "appB", second.string(), 1 << 20, 1));
    plat::LogCategory("LoggingTestB").info("two");
    EXPECT_EQ(ReadFile(first).find("two"), std::string::npos);
    EXPECT_NE(ReadFile(second).find(": INFO: two"), std::string::npos);
    EXPECT_EQ(plat::LogCategory("LoggingTestB").getAllAppenders().size(), 1u);
}

TEST(LoggingTest, FailsWhenTheFileCannotBeOpened) {
    Sandbox box;
    const auto missingFolder = box.Root() / "no-such-folder" / "x.log";
    EXPECT_FALSE(plat::SetupRollingLog("LoggingTestC", "appC", missingFolder.string(), 1000, 1));
    EXPECT_FALSE(std::filesystem::exists(missingFolder.parent_path()));  // the caller's job
    EXPECT_FALSE(plat::SetupRollingLog("LoggingTestC", "appC", box.Root().string(), 1000, 1));
}

TEST(LoggingTest, RollsOverAtTheSizeLimit) {
    Sandbox box;
    const auto file = box.Dir("logs") / "r.log";
    ASSERT_TRUE(plat::SetupRollingLog("LoggingTestD", "appD", file.string(), 300, 2));
    for (int i = 0; i < 40; ++i) plat::LogCategory("LoggingTestD").info("line number %d of the test", i);
    EXPECT_TRUE(std::filesystem::exists(file.string() + ".1"));
    EXPECT_TRUE(std::filesystem::exists(file.string() + ".2"));
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".3"));
    EXPECT_LE(std::filesystem::file_size(file), 400u);
}

}  // namespace
