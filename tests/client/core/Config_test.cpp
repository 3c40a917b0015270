#include "client/core/Config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/sandbox.h"

namespace {
namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

const char kDefaultsXml[] =
    "<?xml version='1.0' encoding='utf-8'?>\n"
    "<DravikClient type=\"Configuration\">\n"
    "\t<DefaultDomainName>https://cloud.dravik.com</DefaultDomainName>\n"
    "\t<EnabledAdvanceLogin>true</EnabledAdvanceLogin>\n"
    "\t<DefaultLanguageCode>zh-CN</DefaultLanguageCode>\n"
    "\t<FreshCloudDirectoryListInterval>5</FreshCloudDirectoryListInterval>\n"
    "\t<FreshCloudDirectoryUsePage>true</FreshCloudDirectoryUsePage>\n"
    "\t<FreshCloudDirectoryPageSize>200</FreshCloudDirectoryPageSize>\n"
    "\t<TransFileNumberAtSameTime>6</TransFileNumberAtSameTime>\n"
    "\t<EditFileNumberAtSameTime>5</EditFileNumberAtSameTime>\n"
    "</DravikClient>\n\n";

// A document with one element's text replaced.
std::string WithValue(const std::string& element, const std::string& value) {
    std::string xml = kDefaultsXml;
    const std::string open = "<" + element + ">";
    const std::size_t start = xml.find(open) + open.size();
    const std::size_t end = xml.find("</" + element + ">");
    return xml.replace(start, end - start, value);
}

TEST(ConfigXml, DefaultsGoldenText) {
    Config config;
    std::string xml;
    EXPECT_EQ(config.ToXml(xml), 1);
    EXPECT_EQ(xml, kDefaultsXml);
    EXPECT_EQ(config.EditProgressRedrawStep, 500);
    EXPECT_EQ(xml.find("500"), std::string::npos) << "the redraw step is not part of the file";
}

TEST(ConfigXml, RoundTripEscapesText) {
    Config config;
    config.DefaultDomainName = "https://a.example/?x=1&y=<2>";
    config.EnabledAdvanceLogin = false;
    config.DefaultLanguageCode = "en";
    config.FreshCloudDirectoryListInterval = 300;
    config.FreshCloudDirectoryUsePage = false;
    config.FreshCloudDirectoryPageSize = 2000;
    config.TransFileNumberAtSameTime = 10;
    config.EditFileNumberAtSameTime = 1;
    config.EditProgressRedrawStep = 7;
    std::string xml;
    config.ToXml(xml);
    EXPECT_NE(xml.find("x=1&amp;y=&lt;2&gt;"), std::string::npos) << xml;

    Config back;
    ASSERT_TRUE(back.FromXml(xml));
    EXPECT_EQ(back.DefaultDomainName, config.DefaultDomainName);
    EXPECT_FALSE(back.EnabledAdvanceLogin);
    EXPECT_EQ(back.DefaultLanguageCode, "en");
    EXPECT_EQ(back.FreshCloudDirectoryListInterval, 300u);
    EXPECT_FALSE(back.FreshCloudDirectoryUsePage);
    EXPECT_EQ(back.FreshCloudDirectoryPageSize, 2000u);
    EXPECT_EQ(back.TransFileNumberAtSameTime, 10);
    EXPECT_EQ(back.EditFileNumberAtSameTime, 1);
    EXPECT_EQ(back.EditProgressRedrawStep, 500) << "not read from the file";
}

TEST(ConfigXml, CaFileIsReadAndWrittenOnlyWhenSet) {
    Config config;
    std::string xml;
    config.ToXml(xml);
    EXPECT_EQ(xml.find("CaFile"), std::string::npos) << xml;
    config.CaFile = "/etc/dravik/own & ca.pem";
    config.ToXml(xml);
    EXPECT_NE(xml.find("\t<CaFile>/etc/dravik/own &amp; ca.pem</CaFile>\n"), std::string::npos) << xml;
    Config back;
    ASSERT_TRUE(back.FromXml(xml));
    EXPECT_EQ(back.CaFile, "/etc/dravik/own & ca.pem");
    Config plain;
    ASSERT_TRUE(plain.FromXml(kDefaultsXml));
    EXPECT_EQ(plain.CaFile, "");
}

TEST(ConfigXml, UpdateSiteIsWrittenOnlyWhenConfigured) {
    Config config;
    EXPECT_EQ(config.UpdateSiteAddress, Config::kDefaultUpdateSite);
    config.UpdateSiteAddress = "http://127.0.0.1:8080";
    std::string xml;
    config.ToXml(xml);
    EXPECT_NE(xml.find("\t<UpdateSiteAddress>http://127.0.0.1:8080</UpdateSiteAddress>\n</DravikClient>"),
              std::string::npos)
        << xml;
    Config back;
    ASSERT_TRUE(back.FromXml(xml));
    EXPECT_EQ(back.UpdateSiteAddress, "http://127.0.0.1:8080");

    // A file without it keeps the default; an incomplete one still gives the site.
    Config plain;
    ASSERT_TRUE(plain.FromXml(kDefaultsXml));
    EXPECT_EQ(plain.UpdateSiteAddress, Config::kDefaultUpdateSite);
    Config partial;
    EXPECT_FALSE(partial.FromXml("<DravikClient><UpdateSiteAddress>http://u.example</UpdateSiteAddress></DravikClient>"));
    EXPECT_EQ(partial.UpdateSiteAddress, "http://u.example");
}

TEST(ConfigXml, ClampsNumbers) {
    struct Case {
        const char* element;
        const char* text;
        std::int64_t expected;
    } cases[] = {
        {"FreshCloudDirectoryPageSize", "5", 20},
        {"FreshCloudDirectoryPageSize", "20", 20},
        {"FreshCloudDirectoryPageSize", "2000", 2000},
        {"FreshCloudDirectoryPageSize", "2001", 2000},
        {"FreshCloudDirectoryPageSize", "-1", 2000},
        {"FreshCloudDirectoryPageSize", "abc", 20},
        {"FreshCloudDirectoryListInterval", "0", 1},
        {"FreshCloudDirectoryListInterval", "300", 300},
        {"FreshCloudDirectoryListInterval", "301", 300},
        {"FreshCloudDirectoryListInterval", "-1", 300},
        {"FreshCloudDirectoryListInterval", "", 1},
        {"TransFileNumberAtSameTime", "0", 1},
        {"TransFileNumberAtSameTime", "-4", 1},
        {"TransFileNumberAtSameTime", "7", 7},
        {"TransFileNumberAtSameTime", "11", 10},
        {"TransFileNumberAtSameTime", "99999999999999", 10},
        {"EditFileNumberAtSameTime", "0", 1},
        {"EditFileNumberAtSameTime", "11", 10},
        {"EditFileNumberAtSameTime", "3", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.element) + "=" + c.text);
        Config config;
        ASSERT_TRUE(config.FromXml(WithValue(c.element, c.text)));
        const std::string e = c.element;
        const std::int64_t got = e == "FreshCloudDirectoryPageSize"       ? config.FreshCloudDirectoryPageSize
                                 : e == "FreshCloudDirectoryListInterval" ? config.FreshCloudDirectoryListInterval
                                 : e == "TransFileNumberAtSameTime"       ? config.TransFileNumberAtSameTime
                                                                          : config.EditFileNumberAtSameTime;
        EXPECT_EQ(got, c.expected);
    }
}

TEST(ConfigXml, BooleansAreTrueOnlyForExactText) {
    for (const char* text : {"True", "1", "TRUE", " true", ""}) {
        Config config;
        ASSERT_TRUE(config.FromXml(WithValue("EnabledAdvanceLogin", text)));
        EXPECT_FALSE(config.EnabledAdvanceLogin) << text;
    }
}

TEST(ConfigXml, SettersClamp) {
    Config config;
    config.SetListInterval(0);
    EXPECT_EQ(config.FreshCloudDirectoryListInterval, 1u);
    config.SetListInterval(static_cast<std::uint32_t>(-5));
    EXPECT_EQ(config.FreshCloudDirectoryListInterval, 300u);
    config.SetTransferCount(0);
    EXPECT_EQ(config.TransFileNumberAtSameTime, 1);
    config.SetTransferCount(11);
    EXPECT_EQ(config.TransFileNumberAtSameTime, 10);
}

TEST(ConfigXml, MissingElementKeepsWhatWasRead) {
    std::string xml = WithValue("FreshCloudDirectoryPageSize", "64");
    xml.erase(xml.find("\t<EditFileNumberAtSameTime>"), std::string("\t<EditFileNumberAtSameTime>5</EditFileNumberAtSameTime>\n").size());
    xml = std::string("\xEF\xBB\xBF") + xml;  // with a byte-order mark
    Config config;
    config.EditFileNumberAtSameTime = 9;
    EXPECT_EQ(config.Read(xml), Config::ReadResult::Incomplete);
    EXPECT_EQ(config.FreshCloudDirectoryPageSize, 64u) << "values before the gap are in force";
    EXPECT_EQ(config.EditFileNumberAtSameTime, 9);

    std::string gap = kDefaultsXml;
    gap.erase(gap.find("\t<EnabledAdvanceLogin>"), std::string("\t<EnabledAdvanceLogin>true</EnabledAdvanceLogin>\n").size());
    Config second;
    second.DefaultDomainName = "before";
    second.DefaultLanguageCode = "xx";
    EXPECT_EQ(second.Read(gap), Config::ReadResult::Incomplete);
    EXPECT_EQ(second.DefaultDomainName, Config::kDefaultServerAddress);
    EXPECT_EQ(second.DefaultLanguageCode, "xx") << "the read ends at the first gap";
}

TEST(ConfigXml, NotAConfiguration) {
    Config config;
    EXPECT_EQ(config.Read("<DravikClient><unclosed>"), Config::ReadResult::NotConfig);
    EXPECT_EQ(config.Read("<Other/>"), Config::ReadResult::NotConfig);
    EXPECT_EQ(config.Read(""), Config::ReadResult::NotConfig);
    std::string deep = "<DravikClient>";  // nested beyond any stack: refused, never a crash
    for (int i = 0; i < 100000; ++i) deep += "<e>";
    for (int i = 0; i < 100000; ++i) deep += "</e>";
    EXPECT_EQ(config.Read(deep + "</DravikClient>"), Config::ReadResult::NotConfig);
    EXPECT_EQ(config.DefaultDomainName, Config::kDefaultServerAddress);
}

class ConfigFileTest : public ::testing::Test {
protected:
    testsupport::Sandbox sandbox;
    fs::path dir = sandbox.Dir("app");
    std::string path = (dir / Config::kFileName).string();
};

TEST_F(ConfigFileTest, SaveAndLoad) {
    Config config;
    config.DefaultDomainName = "https://files.example";
    ASSERT_TRUE(SaveConfigFile(path, config));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    Config back;
    EXPECT_TRUE(LoadConfigFile(path, back));
    EXPECT_EQ(back.DefaultDomainName, "https://files.example");
    // Only the file itself is left: no temporary files.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(ConfigFileTest, MissingAndEmptyReadNothing) {
    Config config;
    EXPECT_FALSE(LoadConfigFile(path, config));
    WriteFile(path, "");
    EXPECT_FALSE(LoadConfigFile(path, config));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_FALSE(fs::exists(path + ".bad"));
}

TEST_F(ConfigFileTest, UnparsableFileIsKeptAside) {
    WriteFile(path, "<DravikClient>not closed");
    Config config;
    EXPECT_FALSE(LoadConfigFile(path, config));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(ReadFile(path + ".bad"), "<DravikClient>not closed");
    ASSERT_TRUE(SaveConfigFile(path, config));

    WriteFile(path, "garbage again");
    EXPECT_FALSE(LoadConfigFile(path, config));
    EXPECT_EQ(ReadFile(path + ".bad"), "<DravikClient>not closed") << "an earlier copy is not overwritten";
    EXPECT_EQ(ReadFile(path + ".bad.1"), "garbage again");
}

TEST_F(ConfigFileTest, FolderInTheWayIsMovedAsideNotDeleted) {
    WriteFile(fs::path(path) / "keep.txt", "mine");
    Config config;
    EXPECT_FALSE(LoadConfigFile(path, config));
    EXPECT_EQ(ReadFile(fs::path(path + ".bad") / "keep.txt"), "mine");
    EXPECT_TRUE(SaveConfigFile(path, config));
    EXPECT_TRUE(fs::is_regular_file(path));
}

TEST_F(ConfigFileTest, IncompleteFileReadsWhatItHas) {
    std::string xml = WithValue("DefaultLanguageCode", "en");
    xml.erase(xml.find("\t<TransFileNumberAtSameTime>"));
    xml += "</DravikClient>\n";
    WriteFile(path, xml);
    Config config;
    EXPECT_FALSE(LoadConfigFile(path, config));
    EXPECT_EQ(config.DefaultLanguageCode, "en");
    EXPECT_TRUE(fs::exists(path)) << "our own file stays to be rewritten";
}

TEST_F(ConfigFileTest, FailedSaveLeavesNothingBehind) {
    // The rename cannot replace a folder: the save fails and its temporary file goes.
    WriteFile(fs::path(path) / "keep.txt", "mine");
    Config config;
    EXPECT_FALSE(SaveConfigFile(path, config));
    EXPECT_EQ(ReadFile(fs::path(path) / "keep.txt"), "mine");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    EXPECT_FALSE(SaveConfigFile((dir / "missing" / Config::kFileName).string(), config));
}

}  // namespace
