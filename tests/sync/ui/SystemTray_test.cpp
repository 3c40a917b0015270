// The tray icon's logic with a recording backend: adding (hidden, balloons), the
// animation, tooltips across a language switch, the two menus and the double click.
#include "sync/ui/SystemTray.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/QtApp.h"
#include "support/sandbox.h"
#include "sync/ui/LanguageIni.h"
#include "sync/ui/QtTrayBackend.h"

namespace {

struct RecordingBackend : TrayBackend {
    bool enabled = true, balloons = true, addWorks = true;
    std::vector<TrayIconData> adds, modifies;
    int deletes = 0;
    std::vector<TrayMenu> shown;
    plat::WindowId notify = plat::kNoWindow;
    bool Enabled() override { return enabled; }
    bool BalloonsSupported() override { return balloons; }
    bool Add(const TrayIconData& d) override {
        adds.push_back(d);
        return addWorks;
    }
    bool Modify(const TrayIconData& d) override {
        modifies.push_back(d);
        return true;
    }
    bool Delete() override {
        ++deletes;
        return true;
    }
    void ShowMenu(const TrayMenu& menu, plat::WindowId) override { shown.push_back(menu); }
    std::optional<TrayMenu> LoadMenu(int id) override {
        if (id == 129)
            return ParseMenuResource(129, "32774 本地云盘\n32775 网页云盘\n-\n32776 同步详情\n32777 暂停同步\n-\n"
                                          "32778 更换帐号\n32779 检查更新\n32781 退出 [checked]\n");
        if (id == 203) return ParseMenuResource(203, "32810 打开网页云盘\n32811 退出\n");
        return std::nullopt;
    }
    void SetNotifyWindow(plat::WindowId w) override { notify = w; }
};

class TrayTest : public ::testing::Test {
protected:
    void Step(std::uint64_t ms = 0) {
        if (ms) clock->Advance(ms);
        while (loop.ProcessDue() > 0) {
        }
    }
    std::shared_ptr<plat::ManualMessageClock> clock = std::make_shared<plat::ManualMessageClock>(0);
    plat::MessageLoop loop{clock};
    testsupport::Sandbox box;
    std::string iniPath = (box.Dir("bin") / "language.ini").string();
    CLanguageIni language{iniPath};
    RecordingBackend backend;
    bool paused = false;
    int serverState = 0;
    std::vector<std::uintptr_t> commands;
    plat::WindowId target = loop.CreateWindow([this](plat::Message& m) -> plat::MsgResult {
        if (m.message == CSystemTray::kWmCommand) commands.push_back(m.wParam);
        return 0;
    });
    CSystemTray::Environment Env() { return {[this] { return paused; }, [this] { return serverState; }}; }
};

TEST_F(TrayTest, AddsTheIconAndShowsItsBalloonOnce) {
    CSystemTray tray(backend, language, Env());
    ASSERT_TRUE(tray.Create(u"tip", 268, 203, false, u"balloon", u"title", BalloonIcon::Warning, 20));
    ASSERT_EQ(backend.adds.size(), 1u);
    EXPECT_EQ(backend.adds[0].icon, 268);
    EXPECT_EQ(backend.adds[0].balloonText, u"balloon");
    EXPECT_EQ(backend.adds[0].balloonTimeoutMs, 20000u);
    EXPECT_FALSE(tray.Hidden());
    EXPECT_FALSE(tray.Removed());
    tray.SetIcon(252);
    ASSERT_EQ(backend.modifies.size(), 1u);
    EXPECT_TRUE(backend.modifies[0].balloonText.empty());  // later changes do not show it again
    EXPECT_TRUE(tray.DeleteIcon());
    EXPECT_EQ(backend.deletes, 1);
}

TEST_F(TrayTest, HiddenIconAndSystemsWithoutTrayOrBalloons) {
    {
        CSystemTray tray(backend, language, Env());
        ASSERT_TRUE(tray.Create(u"tip", 268, 129, true));
        EXPECT_TRUE(backend.adds.back().hidden);
        EXPECT_TRUE(tray.Hidden());
        tray.SetIcon(252);  // hidden: nothing is modified
        EXPECT_TRUE(backend.modifies.empty());
    }
    backend.adds.clear();
    backend.balloons = false;
    {
        CSystemTray tray(backend, language, Env());
        EXPECT_FALSE(tray.Create(u"tip", 268, 129, true));  // no balloons: a hidden icon is not added
        EXPECT_TRUE(backend.adds.empty());
    }
    backend.enabled = false;
    CSystemTray tray(backend, language, Env());
    EXPECT_FALSE(tray.Create(u"tip", 268, 129, false));
    EXPECT_FALSE(tray.SetIcon(1));
}

TEST_F(TrayTest, FailedAddIsRetriedWhenATrayHostAppears) {
    backend.addWorks = false;
    CSystemTray tray(backend, language, Env());
    EXPECT_FALSE(tray.Create(u"tip", 268, 129, false));
    EXPECT_TRUE(tray.Hidden());
    EXPECT_TRUE(tray.Removed());
    backend.addWorks = true;
    tray.OnShellRestart();
    EXPECT_FALSE(tray.Hidden());
    EXPECT_FALSE(tray.ShowPending());
    EXPECT_EQ(backend.adds.size(), 2u);
}

TEST_F(TrayTest, AnimationRunsTheTwoIconsAndStopRestoresTheIcon) {
    CSystemTray tray(backend, language, Env());
    tray.Create(u"tip", 268, 129, false);
    tray.Animate();  // without the icon list: nothing
    EXPECT_FALSE(tray.Animating());
    tray.StopAnimation();  // no animation: the icon stays
    EXPECT_TRUE(backend.modifies.empty());
    tray.SetIconList();
    tray.Animate();
    EXPECT_TRUE(tray.Animating());
    Step(CSystemTray::kAnimationMs);
    EXPECT_EQ(tray.CurrentIcon(), 254);
    Step(CSystemTray::kAnimationMs);
    EXPECT_EQ(tray.CurrentIcon(), 253);
    tray.StopAnimation();
    EXPECT_FALSE(tray.Animating());
    EXPECT_EQ(tray.CurrentIcon(), 268);
    Step(5 * CSystemTray::kAnimationMs);
    EXPECT_EQ(tray.CurrentIcon(), 268);
}

TEST_F(TrayTest, TooltipIsTranslatedAgainAfterALanguageSwitch) {
    testsupport::WriteFile(iniPath, "[Englist]\nNuvet云盘 同步成功=Up to date\n");
    CSystemTray tray(backend, language, Env());
    tray.Create(u"x", 268, 129, false);
    tray.SetTooltipText(u"Nuvet云盘 同步成功", false);
    EXPECT_EQ(tray.Tooltip(), u"Nuvet云盘 同步成功");
    language.SetLanguage(CLanguageIni::kEnglish);
    tray.SetTooltipText({}, true);
    EXPECT_EQ(tray.Tooltip(), u"Up to date");
    EXPECT_EQ(tray.TooltipKey(), u"Nuvet云盘 同步成功");
    tray.SetTooltipText(std::u16string(300, u'z'), false);
    EXPECT_EQ(tray.Tooltip().size(), CSystemTray::kMaxTip);
}

TEST_F(TrayTest, MenusOpenByIconIdWithTranslatedTextsAndThePauseState) {
    testsupport::WriteFile(iniPath, "[Englist]\n同步详情=Sync Details\n恢复同步=Resume Sync\n退出=Exit\n");
    language.SetLanguage(CLanguageIni::kEnglish);
    CSystemTray tray(backend, language, Env());
    tray.Create(u"tip", 268, 203, false);
    tray.SetTargetWnd(target);
    EXPECT_EQ(tray.HandleTrayMessage(0, CSystemTray::kWmRButtonUp), 0);  // id 0 opens nothing
    EXPECT_TRUE(backend.shown.empty());

    EXPECT_EQ(tray.HandleTrayMessage(203, CSystemTray::kWmRButtonUp), 1);
    ASSERT_EQ(backend.shown.size(), 1u);
    EXPECT_EQ(backend.shown[0].resourceId, 203);
    EXPECT_EQ(backend.shown[0].items.back().text, u"Exit");

    // Logged in and listed (server state 2), paused: the pause item offers to resume.
    paused = true;
    serverState = 2;
    ASSERT_EQ(tray.HandleTrayMessage(129, CSystemTray::kWmRButtonUp), 1);
    const TrayMenu& full = backend.shown.back();
    ASSERT_NE(full.Find(32777), nullptr);
    EXPECT_EQ(full.Find(32777)->text, u"Resume Sync");
    EXPECT_EQ(full.Find(32776)->text, u"Sync Details");
    EXPECT_NE(full.Find(32779), nullptr);
    EXPECT_TRUE(full.Find(32781)->checked);
    // Not listed: the update check goes, the pause item still shows the state.
    serverState = 1;
    tray.HandleTrayMessage(129, CSystemTray::kWmRButtonUp);
    EXPECT_EQ(backend.shown.back().Find(32779), nullptr);
    EXPECT_EQ(backend.shown.back().Find(32777)->text, u"Resume Sync");
}

TEST_F(TrayTest, DoubleClickPostsTheDefaultCommandThroughTheLoop) {
    CSystemTray tray(backend, language, Env());
    tray.Create(u"tip", 268, 129, false);
    tray.SetTargetWnd(target);
    // The backend posts mouse messages to the tray's window.
    ASSERT_NE(backend.notify, plat::kNoWindow);
    plat::PostMessage(backend.notify, CSystemTray::WM_TRAY_NOTIFY, 129, CSystemTray::kWmLButtonDblClk);
    Step();
    plat::PostMessage(backend.notify, CSystemTray::WM_TRAY_NOTIFY, 203, CSystemTray::kWmLButtonDblClk);
    Step();
    EXPECT_EQ(commands, (std::vector<std::uintptr_t>{32774, 32810}));
}

TEST(TrayMenuResource, ParsesItemsSeparatorsAndChecks) {
    const auto menu = ParseMenuResource(129, "# c\n32774 本地云盘\r\n-\n32781 退出 [checked]\n");
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->items.size(), 3u);
    EXPECT_TRUE(menu->items[1].separator());
    EXPECT_TRUE(menu->items[2].checked);
    EXPECT_EQ(menu->items[2].text, u"退出");
    EXPECT_FALSE(ParseMenuResource(1, "x y\n"));
    EXPECT_FALSE(ParseMenuResource(1, ""));

    const auto marks = ParseMenuResource(1, "1 a [disabled]\n2 b [checked] [disabled]\n3 c [disabled] [checked]\n4 d\n");
    ASSERT_TRUE(marks);
    const bool expected[][2] = {{false, true}, {true, true}, {true, true}, {false, false}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(marks->items[i].checked, expected[i][0]) << i;
        EXPECT_EQ(marks->items[i].disabled, expected[i][1]) << i;
        EXPECT_EQ(marks->items[i].text.size(), 1u) << i;
    }
}

TEST(TrayMenuResource, TheShippedMenusOfferOnlyCommandsTheProgramCarriesOut) {
    // Settings and Help have no action: greyed. Every other command is live.
    TestApp();
    QtTrayBackend backend;
    for (int id : {129, 203}) {
        const auto menu = backend.LoadMenu(id);
        ASSERT_TRUE(menu) << id;
        for (const TrayMenuItem& item : menu->items) {
            if (item.separator()) continue;
            EXPECT_EQ(item.disabled, item.id == 32780 || item.id == 32813) << item.id;
        }
    }
}

}  // namespace
