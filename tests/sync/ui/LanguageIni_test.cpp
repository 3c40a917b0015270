// The language strings: sections, the cut to 199 units, a byte-order mark, a missing file,
// formats whose translation does not match, switching languages.
#include "sync/ui/LanguageIni.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/sandbox.h"

namespace {

using plat::ToUtf16;

TEST(LanguageIni, LooksUpTheCurrentSectionAndFallsBackToTheKey) {
    testsupport::Sandbox box;
    const auto path = box.Dir("bin") / "language" / "language.ini";
    testsupport::WriteFile(path, "\xEF\xBB\xBF[中文简体]\r\n同步完成=同步完成了\r\n[Englist]\r\n同步完成=Synced\r\n"
                                 "两行=first\\nsecond\r\n");
    CLanguageIni ini(path.string());
    EXPECT_EQ(ini.Language(), CLanguageIni::kChinese);
    EXPECT_EQ(ini.GetString(u"同步完成"), u"同步完成了");
    EXPECT_EQ(ini.GetString(u"没有的"), u"没有的");
    EXPECT_TRUE(ini.SetLanguage(CLanguageIni::kEnglish));
    EXPECT_FALSE(ini.SetLanguage(CLanguageIni::kEnglish));  // twice: nothing changes
    EXPECT_EQ(ini.Section(), "Englist");
    EXPECT_EQ(ini.GetString(u"同步完成"), u"Synced");
    EXPECT_EQ(ini.GetString(u"两行"), u"first\nsecond");
    EXPECT_EQ(ini.GetString(u"两行"), ini.GetString(std::string_view("两行")));
    // A key holding a line break is found through its escaped form.
    testsupport::WriteFile(path, "[Englist]\r\na\\nb=A and B\r\n");
    EXPECT_EQ(ini.GetString(u"a\nb"), u"A and B");
}

TEST(LanguageIni, MissingFileOrFolderGivesTheChineseKeys) {
    testsupport::Sandbox box;
    CLanguageIni ini((box.Dir("bin") / "language" / "language.ini").string());
    for (int language : {CLanguageIni::kChinese, CLanguageIni::kEnglish}) {
        ini.SetLanguage(language);
        EXPECT_EQ(ini.GetString(u"所有文件已经同步完成"), u"所有文件已经同步完成");
        EXPECT_EQ(ini.Format(u"正在同步: %d", {std::int64_t{3}}), u"正在同步: 3");
    }
}

TEST(LanguageIni, TranslationIsCutTo199UnitsNeverInsideACharacter) {
    testsupport::Sandbox box;
    const auto path = box.Dir("lang") / "language.ini";
    // 198 letters and then a character outside the basic plane (two UTF-16 units).
    const std::string long1 = std::string(198, 'x') + "\xF0\x9F\x98\x80" + "tail";
    const std::string long2 = std::string(250, 'y');
    testsupport::WriteFile(path, "[Englist]\nk1=" + long1 + "\nk2=" + long2 + "\n");
    CLanguageIni ini(path.string());
    ini.SetLanguage(CLanguageIni::kEnglish);
    EXPECT_EQ(ini.GetString(u"k1"), std::u16string(198, u'x'));
    EXPECT_EQ(ini.GetString(u"k2"), std::u16string(199, u'y'));
}

TEST(LanguageIni, FormatUsesTheKeyWhenTheTranslationsConversionsDiffer) {
    testsupport::Sandbox box;
    const auto path = box.Dir("lang") / "language.ini";
    testsupport::WriteFile(path,
                           "[Englist]\n"
                           "正在同步: %d=Syncing: %d\n"
                           "同步完成: %d=Synced %s %s\n"
                           "当前目录已经被%s占用，请重新选择目录=Used by %s (100%%)\n"
                           "同步失败: %d=Failed: %n\n");
    CLanguageIni ini(path.string());
    ini.SetLanguage(CLanguageIni::kEnglish);
    struct Case {
        std::u16string key;
        CLanguageIni::Argument argument;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"正在同步: %d", std::int64_t{7}, u"Syncing: 7"},
        {u"同步完成: %d", std::int64_t{2}, u"同步完成: 2"},  // %s %s against %d: the key
        {u"当前目录已经被%s占用，请重新选择目录", std::u16string(u"bob"), u"Used by bob (100%)"},
        {u"同步失败: %d", std::int64_t{1}, u"同步失败: 1"},  // %n never runs
    };
    for (const Case& c : cases) EXPECT_EQ(ini.Format(c.key, {c.argument}), c.expected) << plat::ToUtf8(c.key);
    // A conversion without its argument leaves the text as it is.
    EXPECT_EQ(ApplyFormat(u"a %d b", {}), u"a %d b");
    EXPECT_EQ(ConversionsOf(u"%0.2f %% %s"), (std::vector<std::u16string>{u"%0.2f", u"%s"}));
}

TEST(LanguageIni, TheShippedFileTranslatesEveryWindowText) {
    const char* source = std::getenv("DRAVIK_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    CLanguageIni ini(std::string(source) + "/resources/orvane/language/language.ini");
    ini.SetLanguage(CLanguageIni::kEnglish);
    const char16_t* keys[] = {u"云盘同步详情", u"正在同步", u"同步完成", u"同步失败", u"恢复同步", u"暂停同步",
                              u"文件名", u"大小", u"同步方向", u"进度", u"正在同步: %d", u"正在计算本地云盘数据...",
                              u"所有文件已经同步完成", u"暂停同步...", u"本地删除", u"本地下载", u"云端删除",
                              u"云端上传", u"时间", u"状态", u"清除历史记录", u"同步完成: %d", u"成功",
                              u"同步失败: %d", u"失败", u"Nuvet云盘 正在连接...", u"Nuvet云盘 正在同步...",
                              u"Nuvet云盘 正在对比...", u"Nuvet云盘 同步成功", u"Nuvet云盘 暂停同步",
                              u"Nuvet云盘 离线状态", u"指定路径", u"确定", u"选择存储位置...",
                              u"该账户第一次登陆云盘，请指定云盘目录，若不指定则按默认路径存储：",
                              u"该账户指定的云盘目录已不存在，请重新指定，若不指定则按默认路径存储：",
                              u"请选择云盘目录：", u"当前目录已经被%s占用，请重新选择目录", u"警告提示", u"无效路径"};
    for (const char16_t* key : keys) {
        const std::u16string text = ini.GetString(key);
        EXPECT_NE(text, key) << plat::ToUtf8(key);
        EXPECT_EQ(ConversionsOf(text), ConversionsOf(key)) << plat::ToUtf8(key);
    }
    // Every text of the Chinese section has its English one, with the same conversions.
    plat::IniFile file;
    ASSERT_TRUE(file.Load(std::string(source) + "/resources/orvane/language/language.ini"));
    const std::vector<std::string> chinese = file.Keys("中文简体");
    EXPECT_GT(chinese.size(), std::size(keys));
    for (const std::string& key : chinese) {
        const std::optional<std::string> english = file.Get("Englist", key);
        ASSERT_TRUE(english.has_value()) << key;
        EXPECT_EQ(ConversionsOf(plat::ToUtf16(*english)), ConversionsOf(plat::ToUtf16(key))) << key;
    }
}

}  // namespace
