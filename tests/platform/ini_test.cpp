#include "platform/ini.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr char kSample[] =
    "\xEF\xBB\xBF"
    "Originate=1\r\n"
    "; a comment line\r\n"
    "[Englist]\r\n"
    "  同步完成  =  Sync finished  \r\n"
    "quoted=\"  kept blanks  \"\r\n"
    "single='x'\r\n"
    "empty=\r\n"
    "dup=first\r\n"
    "DUP=second\r\n"
    "eq=a=b\r\n"
    "# another comment\r\n"
    "no equals sign\r\n"
    "[englist]\r\n"
    "late=hidden\r\n"
    "[中文简体]\r\n"
    "同步完成=同步完成了\r\n";

TEST(IniReadTest, FollowsTheProfileRules) {
    plat::IniFile ini;
    ini.Parse(kSample);
    struct Case {
        const char* section;
        const char* key;
        const char* expected;  // null: missing
    };
    const Case cases[] = {
        {"", "Originate", "1"},                      // before any header, BOM skipped
        {"Englist", "同步完成", "Sync finished"},     // blanks around name and value dropped
        {"ENGLIST", "同步完成", "Sync finished"},     // section ignoring case
        {"Englist", "QUOTED", "  kept blanks  "},    // key ignoring case, quotes removed
        {"Englist", "single", "x"},
        {"Englist", "empty", ""},
        {"Englist", "dup", "first"},                 // first entry counts
        {"Englist", "eq", "a=b"},                    // split at the first '='
        {"Englist", "late", nullptr},                // second section of that name ignored
        {"Englist", "no equals sign", nullptr},
        {"Englist", "Originate", nullptr},
        {"中文简体", "同步完成", "同步完成了"},
        {"Missing", "x", nullptr},
    };
    for (const Case& c : cases) {
        const auto value = ini.Get(c.section, c.key);
        if (c.expected) {
            ASSERT_TRUE(value.has_value()) << c.section << "/" << c.key;
            EXPECT_EQ(*value, c.expected) << c.section << "/" << c.key;
        } else {
            EXPECT_FALSE(value.has_value()) << c.section << "/" << c.key;
        }
    }
    EXPECT_EQ(ini.GetString("Englist", "nothing", "the key itself"), "the key itself");
    EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"", "Englist", "中文简体"}));
    EXPECT_EQ(ini.Keys("Englist"), (std::vector<std::string>{"同步完成", "quoted", "single", "empty", "dup", "eq"}));
}

TEST(IniReadTest, IntegersReadLikeProfileIntegers) {
    plat::IniFile ini;
    ini.Parse("a=5\nb= -12x\nc=abc\nd=+7\ne=99999999999999999999999\nf=\n");
    EXPECT_EQ(ini.GetInt("", "a", 1), 5);
    EXPECT_EQ(ini.GetInt("", "b", 1), -12);
    EXPECT_EQ(ini.GetInt("", "c", 1), 0);
    EXPECT_EQ(ini.GetInt("", "d", 1), 7);
    EXPECT_EQ(ini.GetInt("", "e", 1), INT64_MAX);
    EXPECT_EQ(ini.GetInt("", "f", 1), 0);
    EXPECT_EQ(ini.GetInt("", "missing", 42), 42);
}

TEST(IniWriteTest, ChangesOneEntryAndKeepsEveryOtherLine) {
    plat::IniFile ini;
    ini.Parse("; profile\r\nServerTime=1\r\n\r\n[Englist]\r\nA=1\r\n; trailing comment\r\n[Other]\r\nB=2\r\n");
    ASSERT_TRUE(ini.Set("", "servertime", "5"));     // replaced in place, spelling kept
    ASSERT_TRUE(ini.Set("", "Originate", "0"));      // added after the last entry of ""
    ASSERT_TRUE(ini.Set("Englist", "C", " padded "));  // added after A, quoted to survive
    ASSERT_TRUE(ini.Set("New", "D", "4"));           // new section at the end
    EXPECT_EQ(ini.Text(),
              "; profile\r\nServerTime=5\r\nOriginate=0\r\n\r\n[Englist]\r\nA=1\r\nC=\" padded \"\r\n"
              "; trailing comment\r\n[Other]\r\nB=2\r\n[New]\r\nD=4\r\n");
    EXPECT_EQ(ini.GetString("Englist", "C", ""), " padded ");

    EXPECT_TRUE(ini.Remove("other", "b"));
    EXPECT_FALSE(ini.Remove("Other", "B"));
    EXPECT_FALSE(ini.Get("Other", "B").has_value());
}

TEST(IniWriteTest, RefusesNamesAndValuesThatCannotBeReadBack) {
    plat::IniFile ini;
    ini.Parse("[S]\nk=v\n");
    const std::string before = ini.Text();
    EXPECT_FALSE(ini.Set("S", "", "v"));
    EXPECT_FALSE(ini.Set("S", "a=b", "v"));
    EXPECT_FALSE(ini.Set("S", "[x", "v"));
    EXPECT_FALSE(ini.Set("S", ";x", "v"));
    EXPECT_FALSE(ini.Set("S", "k", "two\nlines"));
    EXPECT_FALSE(ini.Set("a]b", "k", "v"));
    EXPECT_EQ(ini.Text(), before);
}

TEST(IniWriteTest, AnUnchangedTextIsWrittenBackByteForByte) {
    const std::string texts[] = {
        "",
        "\xEF\xBB\xBF",
        "\xEF\xBB\xBF[S]\r\nk=v\r\n",
        "\xEF\xBB\xBF\xEF\xBB\xBF[",            // two marks: the second belongs to the line
        "\xEF\xBB\xBF\xEF\xBB\xBF[S]\nk=v\n",
        "a=1",                                      // no line end after the last line
        "a=1\r\nb=2\nc=3\r",                       // mixed line ends, a lone CR at the end
        "\n\n;c\n",
    };
    for (const std::string& text : texts) {
        plat::IniFile ini;
        ini.Parse(text);
        EXPECT_EQ(ini.Text(), text);
    }
}

TEST(IniWriteTest, ASecondByteOrderMarkKeepsItsMeaningThroughSaves) {
    // The second mark makes "[S]" no section header: "k" belongs to the entries before
    // any header. A save and a read must not turn it into one.
    testsupport::Sandbox sandbox;
    const std::string path = (sandbox.Dir("cfg") / "two-marks.ini").string();
    WriteFile(path, "\xEF\xBB\xBF\xEF\xBB\xBF[S]\nk=v\n");
    for (int round = 0; round < 3; ++round) {
        plat::IniFile ini;
        ASSERT_TRUE(ini.Load(path));
        EXPECT_EQ(ini.Sections(), std::vector<std::string>{""}) << round;
        EXPECT_EQ(ini.GetString("", "k", "missing"), "v") << round;
        EXPECT_FALSE(ini.Get("S", "k").has_value()) << round;
        ASSERT_TRUE(ini.Set("", "round", std::to_string(round)));
        ASSERT_TRUE(ini.Save(path));
    }
    EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF\xEF\xBB\xBF[S]\nk=v\nround=2\n");

    // Lines added after a last line without an end get the file's line end.
    plat::IniFile ini;
    ini.Parse("\xEF\xBB\xBF" "a=1\r\nb=2");
    ASSERT_TRUE(ini.Set("", "c", "3"));
    EXPECT_EQ(ini.Text(), "\xEF\xBB\xBF" "a=1\r\nb=2\r\nc=3\r\n");
}

TEST(IniFileTest, ProfileCallsReadAndWriteTheFile) {
    testsupport::Sandbox sandbox;
    const std::string path = (sandbox.ConfigHome() / "Parv" / "Orvane.ini").string();

    EXPECT_EQ(plat::GetProfileString(path, "", "ServerTime", "1"), "1");  // no file yet
    ASSERT_TRUE(plat::WriteProfileString(path, "", "Originate", "1"));   // folder made too
    ASSERT_TRUE(plat::WriteProfileString(path, "", "ServerTime", "5"));
    EXPECT_EQ(ReadFile(path), "Originate=1\nServerTime=5\n");
    EXPECT_EQ(plat::GetProfileInt(path, "", "ServerTime", 1), 5);

    // Only the renamed file remains: no temporary is left beside it.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(fs::path(path).parent_path())) ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(IniFileTest, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    testsupport::Sandbox sandbox;
    const fs::path folder = sandbox.Dir("cfg");
    const fs::path target = folder / "taken";
    fs::create_directory(target);  // a folder of that name: the rename must fail

    plat::IniFile ini;
    ini.Parse("a=1\n");
    EXPECT_FALSE(ini.Save(target.string()));
    EXPECT_TRUE(fs::is_directory(target));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++entries;
    EXPECT_EQ(entries, 1u);

    // An item that exists but cannot be read as a file is not overwritten.
    EXPECT_FALSE(plat::WriteProfileString(target.string(), "", "a", "2"));
    EXPECT_TRUE(fs::is_directory(target));

    // A missing folder.
    EXPECT_FALSE(ini.Save((folder / "missing" / "x.ini").string()));
}

TEST(IniFileTest, LoadKeepsLineEndsOfTheFile) {
    testsupport::Sandbox sandbox;
    const std::string path = (sandbox.Dir("cfg") / "language.ini").string();
    WriteFile(path, "[Englist]\r\n暂停同步=Pause sync\r\n");
    plat::IniFile ini;
    ASSERT_TRUE(ini.Load(path));
    EXPECT_EQ(ini.GetString("Englist", "暂停同步", "暂停同步"), "Pause sync");
    ASSERT_TRUE(ini.Set("Englist", "恢复同步", "Resume sync"));
    ASSERT_TRUE(ini.Save(path));
    EXPECT_EQ(ReadFile(path), "[Englist]\r\n暂停同步=Pause sync\r\n恢复同步=Resume sync\r\n");

    plat::IniFile missing;
    EXPECT_FALSE(missing.Load(path + ".none"));
    EXPECT_TRUE(missing.Text().empty());
}

}  // namespace
