// The tab control: layout, hit tests, scrolling, dragging with Esc and tooltips as tables
// over a fake window; the hooks' subscribers; the style in use drawn pixel by pixel.
#include "sync/ui/tabctrl/TabCtrl.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QWidget>

#include <map>
#include <string>

#include "support/QtApp.h"
#include "sync/ui/tabctrl/TabCtrlStyles.h"
#include "sync/ui/tabctrl/TabCtrlWindow.h"
#include "sync/ui/tabctrl/TabDC.h"

namespace {

// A window without a toolkit: letters 7 pixels wide, "H" 13 high (16 in the selected font).
struct FakeHost : TabCtrlHost {
    struct Win {
        TabRect rect;
        bool visible = true;
    };
    TabRect client{0, 0, 200, 100};
    std::map<TabWindow, Win> windows;
    int cursorX = 0, cursorY = 0;
    std::map<int, int> timers;
    TabRect ClientRect() const override { return client; }
    TabSize TextExtent(const std::u16string& text, bool selected) const override {
        return {static_cast<int>(text.size()) * 7, selected ? 16 : 13};
    }
    bool IsWindowValid(TabWindow w) const override { return windows.count(w) > 0; }
    bool IsWindowVisible(TabWindow w) const override { return windows.at(w).visible; }
    TabRect WindowRect(TabWindow w) const override { return windows.at(w).rect; }
    void MoveWindow(TabWindow w, const TabRect& r) override { windows[w].rect = r; }
    void ShowWindow(TabWindow w, bool show) override { windows[w].visible = show; }
    bool HasFocus(TabWindow) const override { return false; }
    void SetFocus(TabWindow) override {}
    void Invalidate() override {}
    void RedrawNow() override {}
    void SetCapture(bool) override {}
    void SetTimer(int id, int ms) override { timers[id] = ms; }
    void KillTimer(int id) override { timers.erase(id); }
    void PopToolTip() override {}
    void ToScreen(int&, int&) const override {}
    void CursorPos(int& x, int& y) const override {
        x = cursorX;
        y = cursorY;
    }
    void ShowTabCursor() override {}
};

struct Glyphs : TabImageList {
    TabSize ImageSize() const override { return {14, 14}; }
    int Count() const override { return 7; }
};

struct DragNotes : TabCtrlNotify {
    int started = 0, finished = 0;
    bool cancelled = false;
    void OnStartDrag(TabCtrl*, HTAB, int, int) override { ++started; }
    void OnFinishDrag(TabCtrl*, HTAB, bool c) override {
        ++finished;
        cancelled = c;
    }
};

class TabCtrlTest : public ::testing::Test {
protected:
    TabWindow Page(int n) { return reinterpret_cast<TabWindow>(static_cast<std::intptr_t>(0x1000 + n)); }
    HTAB Add(const std::u16string& text) {
        const int n = ctrl.GetItemCount();
        host.windows[Page(n)] = {};
        return ctrl.AddItem(Page(n), text, -1);
    }
    void SetUp() override { ctrl.Create(&host); }
    FakeHost host;
    TabCtrlComplex ctrl;
};

TEST_F(TabCtrlTest, LayoutOfTheDefaultsWhenEverythingFits) {
    HTAB a = Add(u"aa"), b = Add(u"bbbb"), c = Add(u"c");
    ctrl.Update();
    EXPECT_EQ(ctrl.GetTabsArea(), (TabRect{1, 1, 199, 26}));
    EXPECT_EQ(ctrl.GetTabsStrip(), (TabRect{4, 2, 196, 24}));
    EXPECT_EQ(ctrl.GetWindowsArea(), (TabRect{1, 26, 199, 99}));
    const struct {
        HTAB tab;
        TabRect rect;
    } cases[] = {{a, {4, 2, 28, 24}}, {b, {28, 2, 66, 24}}, {c, {66, 2, 83, 24}}};
    for (const auto& k : cases) EXPECT_EQ(k.tab->rect, k.rect) << ctrl.GetItemIndex(k.tab);
    // The first tab is selected; its window fills the windows area, the others hide.
    EXPECT_EQ(ctrl.GetSelectedTab(), a);
    EXPECT_EQ(host.windows[Page(0)].rect, ctrl.GetWindowsArea());
    EXPECT_TRUE(host.windows[Page(0)].visible);
    EXPECT_FALSE(host.windows[Page(1)].visible);
    EXPECT_FALSE(ctrl.IsPartialView());
}

TEST_F(TabCtrlTest, ShrinkTakesWidthOnlyFromWideTabsAndTheLastEndsAtTheStripEdge) {
    HTAB a = Add(u"a"), wide = Add(std::u16string(40, u'x')), b = Add(u"b");
    ctrl.Update();
    EXPECT_EQ(a->rect.l, 4);
    EXPECT_EQ(a->rect.Width(), 17);
    EXPECT_EQ(wide->rect.Width(), 157);
    EXPECT_EQ(b->rect.r, ctrl.GetTabsStrip().r - 1);
    // Equal widths: every tab gets the average.
    ctrl.SetEqualTabsWidth(true);
    ctrl.Update();
    for (HTAB tab : ctrl.Items()) EXPECT_EQ(tab->rect.Width(), 191 / 3);
}

TEST_F(TabCtrlTest, SingleHiddenTabFillsTheWindowsArea) {
    ctrl.SetHideSingleTab(true);
    HTAB only = Add(u"one");
    ctrl.Update();
    EXPECT_TRUE(ctrl.GetTabsArea().Empty());
    EXPECT_TRUE(only->rect.Empty());
    EXPECT_EQ(host.windows[Page(0)].rect, (TabRect{1, 1, 199, 99}));
}

TEST_F(TabCtrlTest, DisabledSelectionMovesToTheNextEnabledTab) {
    HTAB a = Add(u"a"), b = Add(u"b"), c = Add(u"c");
    ctrl.Update();
    ctrl.SelectItem(b);
    ctrl.DisableItem(b, true);
    ctrl.Update();
    EXPECT_EQ(ctrl.GetSelectedTab(), c);
    ctrl.DisableItem(c, true);
    ctrl.SelectItem(a);
    ctrl.Update();
    EXPECT_EQ(ctrl.GetSelectedTab(), a);
}

TEST_F(TabCtrlTest, HitTestsAnswerOnlyInsideTheStrip) {
    HTAB a = Add(u"aa"), b = Add(u"bbbb");
    ctrl.Update();
    const struct {
        int x, y;
        HTAB expected;
    } cases[] = {{5, 10, a}, {27, 10, a}, {28, 10, b}, {65, 23, b}, {66, 10, nullptr}, {10, 1, nullptr},
                 {10, 24, nullptr}, {10, 60, nullptr}};
    for (const auto& k : cases) {
        EXPECT_EQ(ctrl.GetBehaviorManager()->HitTest(&ctrl, ctrl.GetDefaultBehavior(), k.x, k.y), k.expected)
            << k.x << "," << k.y;
    }
}

TEST_F(TabCtrlTest, SlantedTabsAnswerForTheTabDrawnOnTop) {
    ctrl.InstallStyle(&ctrl.TabCtrlStyle_VS2008_client_classic_);
    Add(u"first");
    HTAB second = Add(u"second");
    HTAB third = Add(u"third");
    ctrl.Update();
    ctrl.SelectItem(second);
    ctrl.Update();
    const TabRect strip = ctrl.GetTabsStrip();
    const int bottom = strip.b - 2;
    auto hit = [&](int x, int y) { return ctrl.GetBehaviorManager()->HitTest(&ctrl, ctrl.GetDefaultBehavior(), x, y); };
    EXPECT_EQ(hit(second->rect.l - 2, bottom), second);  // the selected slant over the first tab
    EXPECT_EQ(hit(third->rect.l + 1, (strip.t + strip.b) / 2), third);
    EXPECT_EQ(hit(third->rect.l - 2, bottom), second);   // the third tab's slant lies under it
    EXPECT_FALSE(ctrl.GetDrawManager()->IsDrawTabsInOrder(&ctrl));
}

TEST_F(TabCtrlTest, ScrollButtonsMoveAndClampTheStrip) {
    Glyphs glyphs;
    ctrl.SetSystemImageList(&glyphs);
    ctrl.SetBehavior(TabCtrl::BehaviorScroll);
    for (int i = 0; i < 6; ++i) Add(u"tab number " + std::u16string(1, static_cast<char16_t>(u'0' + i)));
    ctrl.Update();
    ASSERT_FALSE(ctrl.GetScrollRightRect().Empty());
    EXPECT_TRUE(ctrl.CanScrollRight());
    EXPECT_FALSE(ctrl.CanScrollLeft());
    const TabRect right = ctrl.GetScrollRightRect();
    for (int press = 0; press < 100; ++press) {
        ctrl.OnMouseMove(right.l + 2, right.t + 2);
        ctrl.OnLButtonDown(right.l + 2, right.t + 2);
        ctrl.OnLButtonUp(right.l + 2, right.t + 2);
    }
    EXPECT_EQ(ctrl.GetScrollPos(), ctrl.GetMaxScrollPos());
    EXPECT_FALSE(ctrl.CanScrollRight());
    EXPECT_TRUE(ctrl.CanScrollLeft());
    EXPECT_EQ(ctrl.GetItemHandle(0)->rect.l, ctrl.GetTabsStrip().l - ctrl.GetScrollPos());
    // Held down: after 300 ms the repeat starts.
    const TabRect left = ctrl.GetScrollLeftRect();
    ctrl.OnMouseMove(left.l + 2, left.t + 2);
    ctrl.OnLButtonDown(left.l + 2, left.t + 2);
    EXPECT_EQ(host.timers.count(1), 1u);
    ctrl.OnTimer(1);
    EXPECT_EQ(host.timers.count(2), 1u);
    const int before = ctrl.GetScrollPos();
    ctrl.OnTimer(2);
    EXPECT_EQ(ctrl.GetScrollPos(), before - 15);
    ctrl.OnLButtonUp(left.l + 2, left.t + 2);
    EXPECT_TRUE(host.timers.empty());
    // Right click on a button: no notification (and no crash without a target).
    ctrl.OnRButtonDown(left.l + 2, left.t + 2);
}

TEST_F(TabCtrlTest, DragReordersAndEscRestoresTheOrder) {
    DragNotes notes;
    ctrl.SetNotifyManager(&notes);
    ctrl.SetDragging(true);
    HTAB a = Add(u"aaaa"), b = Add(u"bbbb"), c = Add(u"cccc");
    ctrl.Update();
    const int y = 10;
    ctrl.OnMouseMove(a->rect.l + 5, y);
    ctrl.OnLButtonDown(a->rect.l + 5, y);
    ctrl.OnMouseMove(a->rect.l + 7, y);  // within 3 pixels: no drag yet
    EXPECT_EQ(notes.started, 0);
    ctrl.OnMouseMove(c->rect.r - 2, y);  // into the last part of the third tab
    EXPECT_EQ(notes.started, 1);
    EXPECT_EQ(ctrl.Items(), (std::vector<HTAB>{b, c, a}));
    KeyboardHook::KeyDown(27, 0);
    EXPECT_EQ(ctrl.Items(), (std::vector<HTAB>{a, b, c}));
    EXPECT_EQ(notes.finished, 1);
    EXPECT_TRUE(notes.cancelled);
    EXPECT_FALSE(ctrl.IsDragActive());
    // A drag that ends with the release keeps the new order.
    ctrl.OnMouseMove(a->rect.l + 5, y);
    ctrl.OnLButtonDown(a->rect.l + 5, y);
    ctrl.OnMouseMove(b->rect.r - 2, y);
    ctrl.OnLButtonUp(b->rect.r - 2, y);
    EXPECT_EQ(ctrl.Items(), (std::vector<HTAB>{b, a, c}));
    EXPECT_FALSE(notes.cancelled);
    ctrl.SetNotifyManager(nullptr);
}

TEST_F(TabCtrlTest, TooltipsForTruncatedTabsOwnTextsAndButtons) {
    Glyphs glyphs;
    ctrl.SetSystemImageList(&glyphs);
    HTAB shortTab = Add(u"a");
    HTAB wide = Add(std::u16string(40, u'x'));
    HTAB own = Add(u"b");
    ctrl.SetItemTooltipText(own, u"own text");
    ctrl.Update();
    const TabRect close = ctrl.GetCloseButtonRect();
    const struct {
        int x, y;
        std::u16string expected;
    } cases[] = {{shortTab->rect.l + 2, 10, u""},
                 {wide->rect.l + 2, 10, std::u16string(40, u'x')},
                 {own->rect.l + 2, 10, u"own text"},
                 {close.l + 1, close.t + 1, u"Close"},
                 {100, 80, u""}};
    for (const auto& k : cases) {
        ctrl.OnMouseMove(k.x, k.y);
        EXPECT_EQ(ctrl.ToolTipText(), k.expected) << k.x << "," << k.y;
    }
}

// Subscribers that remove others while being called.
struct Remover : KeyboardHook::Notify {
    std::vector<Remover*>* all = nullptr;
    int calls = 0;
    bool removeOthers = false;
    void OnKeyDown(int, unsigned) override {
        ++calls;
        if (!removeOthers) return;
        for (Remover* r : *all) {
            if (r != this) KeyboardHook::Remove(r);
        }
    }
};

TEST(TabCtrlHooks, SubscriberMayRemoveAnotherDuringTheCall) {
    std::vector<Remover*> all;
    std::vector<std::unique_ptr<Remover>> owned;
    for (int i = 0; i < 4; ++i) {
        owned.push_back(std::make_unique<Remover>());
        owned.back()->all = &all;
        all.push_back(owned.back().get());
        KeyboardHook::Add(owned.back().get());
    }
    for (Remover* r : all) r->removeOthers = true;
    KeyboardHook::KeyDown(65, 0);
    int called = 0;
    for (Remover* r : all) called += r->calls;
    EXPECT_EQ(called, 1);  // the first one called removed all the others
    for (Remover* r : all) KeyboardHook::Remove(r);
}

struct FocusNotes : ActivityHook::INotify {
    std::vector<bool> calls;
    void OnActive(bool active, TabWindow) override { calls.push_back(active); }
};

TEST(TabCtrlHooks, FocusMovingInsideASubscribedWindowReportsLostThenGained) {
    // Windows as numbers; a window is inside another when it equals it or is 10 below it.
    auto window = [](int n) { return reinterpret_cast<TabWindow>(static_cast<std::intptr_t>(n)); };
    ActivityHook::IsInside inside = [](TabWindow target, TabWindow w) {
        const auto t = reinterpret_cast<std::intptr_t>(target), o = reinterpret_cast<std::intptr_t>(w);
        return t == o || t - 10 == o || t - 20 == o;
    };
    FocusNotes subscribed, elsewhere;
    ActivityHook::Add(&subscribed, window(1));
    ActivityHook::Add(&elsewhere, window(5));
    ActivityHook::FocusChanged(false, window(11), inside);  // from one child of window 1...
    ActivityHook::FocusChanged(true, window(21), inside);   // ...to another
    EXPECT_EQ(subscribed.calls, (std::vector<bool>{false, true}));
    EXPECT_TRUE(elsewhere.calls.empty());
    ActivityHook::Remove(&subscribed);
    ActivityHook::Remove(&elsewhere);
    EXPECT_FALSE(ActivityHook::IsExist(&subscribed));
}

// ---------------------------------------------------------------- pixels

TabColor At(const QImage& image, int x, int y) {
    const QColor c = image.pixelColor(x, y);
    return Rgb(c.red(), c.green(), c.blue());
}

TEST(TabCtrlPixels, TheStyleInUseDrawsInactiveColoursAndBands) {
    TestApp();
    TabCtrlComplex tabs;
    QWidget parent;
    auto* window = new TabCtrlWindow(tabs, &parent);
    window->resize(300, 120);
    QWidget* pages[3];
    for (int i = 0; i < 3; ++i) {
        pages[i] = new QWidget(window);
        tabs.AddItem(pages[i], i == 0 ? u"正在同步" : i == 1 ? u"同步完成" : u"同步失败", i);
    }
    tabs.SetMinTextHeight(30);
    tabs.SetEqualTabsWidth(true);
    tabs.InstallStyle(&tabs.TabCtrlStyle_VS2010_client_);
    tabs.SetBehavior(TabCtrl::BehaviorScroll);
    tabs.Update();
    const QImage image = window->Render();
    HTAB selected = tabs.GetSelectedTab();
    const TabRect r = selected->rect;
    EXPECT_EQ(At(image, tabs.GetTabsArea().r - 1, 3), Rgb(46, 64, 94));        // the tabs area
    EXPECT_EQ(At(image, r.l + 5, r.b - 2), Rgb(248, 248, 255));                  // inactive lower half
    EXPECT_EQ(At(image, r.l, r.t), Rgb(93, 109, 135));                           // inactive corner
    EXPECT_EQ(At(image, r.l + 1, r.t), Rgb(192, 198, 206));
    EXPECT_EQ(At(image, r.r - 1, r.t + 1), Rgb(190, 196, 204));
    EXPECT_EQ(At(image, r.l + 5, r.t), Rgb(251, 252, 252));                      // gradient's first row
    HTAB other = tabs.GetItemHandle(1);
    EXPECT_EQ(At(image, other->rect.l + 5, other->rect.t + 5), Rgb(46, 64, 94)); // unselected: no back

    // Hovering a tab outlines it and sets its corner pixels.
    tabs.OnMouseMove(other->rect.l + 10, other->rect.t + 10);
    const QImage hovered = window->Render();
    EXPECT_EQ(At(hovered, other->rect.l, other->rect.t + 5), Rgb(155, 167, 183));
    EXPECT_EQ(At(hovered, other->rect.l, other->rect.t), Rgb(50, 65, 93));
    EXPECT_EQ(At(hovered, other->rect.l + 1, other->rect.t + 1), Rgb(115, 126, 139));

    // The bands of the windows area (the page covers them in the window): inactive, the top
    // band without corner pixels in the scroll behaviour, the bottom band with them.
    QImage bands(300, 120, QImage::Format_ARGB32);
    bands.fill(Qt::black);
    {
        QPainter painter(&bands);
        TabDC dc(painter, QFont(), QFont());
        const TabRect w = tabs.GetWindowsArea();
        tabs.TabCtrlStyle_VS2010_client_.DrawWindowsArea(&tabs, dc, w);
        painter.end();
        EXPECT_EQ(At(bands, w.l, w.t), Rgb(206, 212, 223));
        EXPECT_EQ(At(bands, w.l + 10, w.t + 3), Rgb(206, 212, 223));
        EXPECT_EQ(At(bands, w.l + 10, w.t + 4), Rgb(0, 0, 0));
        EXPECT_EQ(At(bands, w.l, w.b - 1), Rgb(76, 91, 116));
        EXPECT_EQ(At(bands, w.l + 1, w.b - 1), Rgb(163, 173, 190));
        EXPECT_EQ(At(bands, w.l, w.b - 2), Rgb(160, 169, 185));
        EXPECT_EQ(At(bands, w.r - 1, w.b - 1), Rgb(87, 100, 124));
    }
    // A zero-sized paint draws straight to the target.
    QImage target(1, 1, QImage::Format_ARGB32);
    QPainter painter(&target);
    VirtualWindow empty(painter, QSize(0, 0));
    EXPECT_FALSE(empty.Buffered());
}

TEST(TabCtrlPixels, EveryStyleDrawsWithoutTouchingOutsideTheControl) {
    TestApp();
    TabCtrlComplex tabs;
    QWidget parent;
    auto* window = new TabCtrlWindow(tabs, &parent);
    window->resize(320, 100);
    for (int i = 0; i < 3; ++i) tabs.AddItem(new QWidget(window), u"tab " + std::u16string(1, u'0' + i), -1);
    for (const auto& named : tabs.AllStyles()) {
        for (auto layout : {TabCtrl::LayoutTop, TabCtrl::LayoutBottom}) {
            tabs.SetLayout(layout);
            tabs.InstallStyle(named.style);
            tabs.Update();
            const QImage image = window->Render();
            EXPECT_EQ(image.size(), QSize(320, 100)) << named.name;
            EXPECT_FALSE(tabs.GetItemHandle(2)->rect.Empty()) << named.name;
        }
    }
}

}  // namespace
