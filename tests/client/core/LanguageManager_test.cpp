#include "client/core/LanguageManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "client/core/MessageManage.h"
#include "support/sandbox.h"

namespace {
namespace fs = std::filesystem;
using testsupport::WriteFile;

class Sink : public SendControlMessageInterface {
public:
    void SendControlMessage(ControlMessage message) override { messages.push_back(std::move(message)); }
    std::vector<ControlMessage> messages;
};

// The "%s"/"%d" placeholders of a text, in order.
std::string Placeholders(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '%' && (text[i + 1] == 's' || text[i + 1] == 'd')) out += text.substr(i++, 2);
    return out;
}

std::string Entry(const std::string& code, const std::string& file) {
    return "{\"LangCode\":\"" + code + "\",\"EnglishName\":\"E\",\"NativeName\":\"N\",\"DataFileName\":\"" + file +
           "\",\"ImageName\":\"I\"}";
}

// The catalogues and list the build lays out beside the program.
class BuiltLanguages : public ::testing::Test {
protected:
    void SetUp() override {
        manager.SetAppDirectory(fs::path(CLIENT_LANGUAGE_DIR).parent_path().string());
        manager.SetMessageSink(&sink);
        manager.LoadLanguageList();
    }
    LanguageManager manager;
    Sink sink;
};

TEST_F(BuiltLanguages, ListHoldsEnglishAndChinese) {
    const auto languages = manager.GetLanguages();
    ASSERT_EQ(languages.size(), 2u);
    EXPECT_EQ(languages[0].LangCode, "en");
    EXPECT_EQ(languages[0].DataFileName, "en.mo");
    EXPECT_EQ(languages[1].LangCode, "zh-CN");
    EXPECT_EQ(languages[1].NativeName, "简体中文");
    EXPECT_EQ(manager.MajorVersion(), 1);
    LanguageEntry entry;
    int index = -1;
    EXPECT_EQ(manager.GetCurrentLanguage(entry, index), 0);
    EXPECT_EQ(index, 2) << "no current language: the index counts the entries";
}

TEST_F(BuiltLanguages, ChineseCoversEveryKeyWithItsPlaceholders) {
    ASSERT_EQ(manager.DefaultKeys().size(), 173u);
    EXPECT_EQ(manager.LookUp("Open"), "Open") << "untranslated before a language is set";
    ASSERT_EQ(manager.SetLanguage("zh-CN"), "zh-CN");
    for (const std::string& key : manager.DefaultKeys()) {
        const std::string text = manager.LookUp(key);
        EXPECT_FALSE(text.empty()) << key;
        EXPECT_EQ(Placeholders(text), Placeholders(key)) << key;
        if (key != "Dravik") {
            EXPECT_NE(text, key) << "untranslated: " << key;
        }
    }
    EXPECT_EQ(manager.LookUp("Open"), "打开");
    EXPECT_EQ(manager.LookUpWide("Open"), u"打开");
    EXPECT_EQ(manager.LookUp("Not a key"), "Not a key");

    LanguageEntry entry;
    int index = -1;
    EXPECT_EQ(manager.GetCurrentLanguage(entry, index), 1);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(entry.LangCode, "zh-CN");

    // The change is announced once, with the new code.
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].source, MessageSourceService);
    EXPECT_EQ(sink.messages[0].type, MessageLanguageChanged);
    ASSERT_NE(sink.messages[0].PayloadAs<std::string>(), nullptr);
    EXPECT_EQ(*sink.messages[0].PayloadAs<std::string>(), "zh-CN");

    // The same code again: nothing reloaded or posted.
    EXPECT_EQ(manager.SetLanguage("zh-CN"), "zh-CN");
    EXPECT_EQ(sink.messages.size(), 1u);
}

TEST_F(BuiltLanguages, EnglishKeepsTheKeysButMendsTheirSpelling) {
    ASSERT_EQ(manager.SetLanguage("en"), "en");
    // Keys misspelt in the program show spelt right; every other key shows as it is.
    const std::map<std::string, std::string> mended = {
        {"Waitting", "Waiting"},
        {"Succeed List", "Succeeded List"},
        {"Tranfer Finished: %d", "Transfer Finished: %d"},
        {"Tranfer Succeed: %d", "Transfer Succeeded: %d"},
        {"Tranfer Failed: %d", "Transfer Failed: %d"},
    };
    for (const std::string& key : manager.DefaultKeys()) {
        if (key == "Company Name") continue;
        const auto it = mended.find(key);
        EXPECT_EQ(manager.LookUp(key), it == mended.end() ? key : it->second);
    }
    EXPECT_NE(manager.LookUp("Company Name"), "Company Name");
    EXPECT_EQ(manager.LookUp("Company Name"), manager.DefaultKeys()[1]) << "the company line";
}

TEST_F(BuiltLanguages, UnknownCodeChangesNothing) {
    ASSERT_EQ(manager.SetLanguage("zh-CN"), "zh-CN");
    EXPECT_EQ(manager.SetLanguage("fr"), "");
    EXPECT_EQ(manager.SetLanguage(""), "");
    EXPECT_EQ(manager.GetCurrentCode(), "zh-CN");
    EXPECT_EQ(manager.LookUp("Close"), "关闭");
    EXPECT_EQ(sink.messages.size(), 1u);
}

TEST_F(BuiltLanguages, LookUpsDuringSwitchesSeeOneWholeTable) {
    ASSERT_EQ(manager.SetLanguage("en"), "en");
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!stop) {
                const std::string t = manager.LookUp("Open");
                if (t != "Open" && t != "打开") ++bad;
            }
        });
    }
    for (int i = 0; i < 50; ++i) {
        manager.SetLanguage(i % 2 ? "en" : "zh-CN");
    }
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(bad, 0);
}

class LanguageFolder : public ::testing::Test {
protected:
    void Write(const std::string& json) { WriteFile(app / "language" / "language.json", json); }
    void Load() {
        manager.SetAppDirectory(app.string());
        manager.LoadLanguageList();
    }
    testsupport::Sandbox sandbox;
    fs::path app = sandbox.Dir("app");
    LanguageManager manager;
};

TEST_F(LanguageFolder, ListReadingRules) {
    // A byte-order mark and line breaks are fine; a number adds an empty entry; an object
    // without "ImageName" ends the list before it.
    Write("\xEF\xBB\xBF{\r\n\"majorVersion\": 2, \"minorVersion\": 3,\r\n\"languageSet\": [" + Entry("en", "en.mo") +
          ", 5, " + Entry("zh-CN", "zh-CN.mo") +
          ", {\"LangCode\":\"fr\",\"EnglishName\":\"F\",\"NativeName\":\"F\",\"DataFileName\":\"fr.mo\"}, " +
          Entry("de", "de.mo") + "]}");
    Load();
    const auto languages = manager.GetLanguages();
    ASSERT_EQ(languages.size(), 3u);
    EXPECT_EQ(languages[0].LangCode, "en");
    EXPECT_EQ(languages[1].LangCode, "");
    EXPECT_EQ(languages[1].DataFileName, "");
    EXPECT_EQ(languages[2].LangCode, "zh-CN");
    EXPECT_EQ(manager.MajorVersion(), 2);
    EXPECT_EQ(manager.MinorVersion(), 3);
}

TEST_F(LanguageFolder, BadListsLeaveTheListUnchanged) {
    Write("{\"majorVersion\":1,\"minorVersion\":0,\"languageSet\":[" + Entry("en", "en.mo") + "]}");
    Load();
    ASSERT_EQ(manager.GetLanguages().size(), 1u);
    const std::string bad[] = {
        "[]",
        "{\"majorVersion\":\"1\",\"minorVersion\":0,\"languageSet\":[]}",
        "{\"majorVersion\":1,\"minorVersion\":0.5,\"languageSet\":[]}",
        "{\"majorVersion\":1,\"minorVersion\":0,\"languageSet\":{}}",
        "{\"majorVersion\":1,\"minorVersion\":0}",
        "{not json",
        "",
        std::string(200000, '['),  // nested beyond any stack: refused, never a crash
        std::string(200000, '[') + std::string(200000, ']'),
    };
    for (const std::string& json : bad) {
        Write(json);
        manager.LoadLanguageList();
        EXPECT_EQ(manager.GetLanguages().size(), 1u) << json;
    }
    fs::remove(app / "language" / "language.json");
    manager.LoadLanguageList();
    EXPECT_EQ(manager.GetLanguages().size(), 1u);
}

TEST_F(LanguageFolder, CatalogueDecidesTheTable) {
    fs::create_directories(app / "language" / "data");
    fs::copy_file(SAMPLE_MO_LITTLE, app / "language" / "data" / "sample.mo");
    WriteFile(app / "language" / "data" / "broken.mo", "\xDE\x12\x04\x95 not a catalogue");
    fs::copy_file(SAMPLE_MO_LITTLE, sandbox.Root() / "outside.mo");
    Write("{\"majorVersion\":1,\"minorVersion\":0,\"languageSet\":[" + Entry("xx", "sample.mo") + "," +
          Entry("missing", "none.mo") + "," + Entry("broken", "broken.mo") + "," +
          Entry("escape", "../../../outside.mo") + "," + Entry("empty", "") + "]}");
    Load();
    Sink sink;
    manager.SetMessageSink(&sink);

    ASSERT_EQ(manager.SetLanguage("xx"), "xx");
    EXPECT_EQ(manager.LookUp("Open"), "打开");
    EXPECT_EQ(manager.LookUp("Cancel"), "取消");
    // "OK" sorts next to translated keys but has no translation of its own.
    EXPECT_EQ(manager.LookUp("OK"), "OK");
    // Only the keys of the list are taken from the catalogue.
    EXPECT_EQ(manager.LookUp("Zebra"), "Zebra");

    // A catalogue that cannot be read fails the switch; the language in force stays.
    for (const char* code : {"missing", "broken", "escape", "empty"}) {
        EXPECT_EQ(manager.SetLanguage(code), "") << code;
        EXPECT_EQ(manager.GetCurrentCode(), "xx");
        EXPECT_EQ(manager.LookUp("Open"), "打开");
    }
    EXPECT_EQ(sink.messages.size(), 1u);
}

TEST_F(LanguageFolder, WithoutSinkNothingIsPosted) {
    fs::create_directories(app / "language" / "data");
    fs::copy_file(SAMPLE_MO_LITTLE, app / "language" / "data" / "sample.mo");
    Write("{\"majorVersion\":1,\"minorVersion\":0,\"languageSet\":[" + Entry("xx", "sample.mo") + "]}");
    Load();
    EXPECT_EQ(manager.SetLanguage("xx"), "xx");
    manager.NotifyLanguageChanged();
}

}  // namespace
