#pragma once
// An owner-drawn tab control: a strip of tabs above (or below) a windows area in which the
// window of the selected tab is shown; the other tabs' windows are hidden. Every tab owns
// one window that the caller supplies; the control only moves, shows and hides it.
//
// This class is the control's logic, free of any toolkit: layout, hit tests, hover, the
// button press and its repeat timers, scrolling, dragging with Esc, tooltips texts and the
// order of painting. What it needs of a real window it asks of a TabCtrlHost (text sizes,
// showing and moving the tabs' windows, capture, timers, repainting); the Qt widget of
// TabCtrlWindow.h is that host, and tests use a fake one. Everything visual is delegated
// to exchangeable managers that a style (TabCtrlStyles.h) supplies; everything the owner
// may want to know is reported through TabCtrlNotify.
//
// Coordinates are the control's client pixels; rectangles are (l, t, r, b) with r and b
// exclusive. Notifications carry screen coordinates. UI thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TabCtrl;
class TabDC;
struct TabItem;
using HTAB = TabItem*;
// A tab's window, as the host knows it (a QWidget* for the Qt host).
using TabWindow = void*;

// ---------------------------------------------------------------- small types

struct TabRect {
    int l = 0, t = 0, r = 0, b = 0;
    int Width() const { return r - l; }
    int Height() const { return b - t; }
    bool Empty() const { return r <= l || b <= t; }
    bool Contains(int x, int y) const { return x >= l && x < r && y >= t && y < b; }
    // Shrunk by each side of `by` (its l, t, r, b as margins).
    TabRect Deflated(const TabRect& by) const { return {l + by.l, t + by.t, r - by.r, b - by.b}; }
    TabRect Inflated(int n) const { return {l - n, t - n, r + n, b + n}; }
    bool operator==(const TabRect&) const = default;
};

struct TabSize {
    int cx = 0, cy = 0;
    bool operator==(const TabSize&) const = default;
};

// A colour as the drawing code uses it: 0x00BBGGRR.
using TabColor = std::uint32_t;
constexpr TabColor Rgb(int r, int g, int b) {
    return static_cast<TabColor>(r & 0xFF) | (static_cast<TabColor>(g & 0xFF) << 8) |
           (static_cast<TabColor>(b & 0xFF) << 16);
}
constexpr int RedOf(TabColor c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(TabColor c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(TabColor c) { return static_cast<int>((c >> 16) & 0xFF); }
// Each of red, green, blue = (a × percent + b × (100 − percent)) / 100, truncated.
TabColor MixColors(TabColor a, TabColor b, int percent);

// The desktop's colours the styles draw with; the host fills them from its palette before
// painting (defaults: the classic grey desktop).
enum class SysColor {
    BtnFace, BtnShadow, BtnText, Window, WindowText, GrayText, Highlight, Highlight3D, DkShadow3D, AppWorkspace
};
struct SystemColors {
    TabColor btnFace = Rgb(240, 240, 240);
    TabColor btnShadow = Rgb(160, 160, 160);
    TabColor btnText = Rgb(0, 0, 0);
    TabColor window = Rgb(255, 255, 255);
    TabColor windowText = Rgb(0, 0, 0);
    TabColor grayText = Rgb(109, 109, 109);
    TabColor highlight = Rgb(0, 120, 215);
    TabColor highlight3d = Rgb(255, 255, 255);
    TabColor dkShadow3d = Rgb(105, 105, 105);
    TabColor appWorkspace = Rgb(171, 171, 171);
    TabColor Get(SysColor which) const;
};

// A font by description; the host makes the real one.
struct TabFont {
    std::u16string family;
    int pointSize10 = 80;  // tenths of a point
    bool bold = false;
    bool operator==(const TabFont&) const = default;
};

// An image list: a size and a count; the host's image list draws the pictures.
class TabImageList {
public:
    virtual ~TabImageList() = default;
    virtual TabSize ImageSize() const = 0;
    virtual int Count() const = 0;
};

// ---------------------------------------------------------------- the host

class TabCtrlHost {
public:
    virtual ~TabCtrlHost() = default;
    virtual TabRect ClientRect() const = 0;
    virtual TabSize TextExtent(const std::u16string& text, bool selectedFont) const = 0;
    // The tabs' windows.
    virtual bool IsWindowValid(TabWindow window) const = 0;
    virtual bool IsWindowVisible(TabWindow window) const = 0;
    virtual TabRect WindowRect(TabWindow window) const = 0;  // in the control's client pixels
    virtual void MoveWindow(TabWindow window, const TabRect& rect) = 0;
    virtual void ShowWindow(TabWindow window, bool show) = 0;
    virtual bool HasFocus(TabWindow window) const = 0;
    virtual void SetFocus(TabWindow window) = 0;
    // The control's own window.
    virtual void Invalidate() = 0;
    virtual void RedrawNow() = 0;
    virtual void SetCapture(bool capture) = 0;
    virtual void SetTimer(int id, int periodMs) = 0;
    virtual void KillTimer(int id) = 0;
    virtual void PopToolTip() = 0;
    virtual void ToScreen(int& x, int& y) const = 0;
    // The cursor position in client pixels, and showing the tab cursor.
    virtual void CursorPos(int& x, int& y) const = 0;
    virtual void ShowTabCursor() = 0;
};

// ---------------------------------------------------------------- managers

// Layout metrics. Every operation gets the control and `base`, the control's own defaults,
// so that an override may defer to them.
class ITabCtrlRecalc {
public:
    virtual ~ITabCtrlRecalc() = default;
    virtual int GetBorderWidth(const TabCtrl* ctrl, ITabCtrlRecalc* base) = 0;
    virtual TabRect GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc* base) = 0;
    virtual TabRect GetWindowsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc* base) = 0;
    virtual TabRect GetTabHorzMargin(const TabCtrl* ctrl, ITabCtrlRecalc* base) = 0;
    virtual TabRect GetTabPadding(const TabCtrl* ctrl, ITabCtrlRecalc* base) = 0;
    virtual int GetTabImageTextGap(const TabCtrl* ctrl, ITabCtrlRecalc* base) = 0;
    virtual int GetTabExtraWidth(const TabCtrl* ctrl, ITabCtrlRecalc* base, HTAB tab) = 0;
    virtual int GetTabMinWidth(const TabCtrl* ctrl, ITabCtrlRecalc* base) = 0;
    virtual TabRect GetScrollLeftMargin(const TabCtrl* ctrl, ITabCtrlRecalc* base) = 0;
    virtual TabRect GetScrollRightMargin(const TabCtrl* ctrl, ITabCtrlRecalc* base) = 0;
    virtual TabRect GetMenuButtonMargin(const TabCtrl* ctrl, ITabCtrlRecalc* base) = 0;
    virtual TabRect GetCloseButtonMargin(const TabCtrl* ctrl, ITabCtrlRecalc* base) = 0;
};

class ITabCtrlBehavior {
public:
    virtual ~ITabCtrlBehavior() = default;
    // The tab under the point (only inside the tabs strip), else null.
    virtual HTAB HitTest(const TabCtrl* ctrl, ITabCtrlBehavior* base, int x, int y) = 0;
    virtual bool SetCursor(TabCtrl* ctrl, ITabCtrlBehavior* base) = 0;
};

class ITabCtrlToolTip {
public:
    virtual ~ITabCtrlToolTip() = default;
    // Whether the control shows tooltips at all (the Qt host shows them itself).
    virtual bool CreateToolTip(TabCtrl* ctrl) = 0;
};

class TabCtrlUserAbility {
public:
    virtual ~TabCtrlUserAbility() = default;
    virtual bool CanShowCloseButton(const TabCtrl* ctrl) = 0;
    virtual bool CanShowMenuButton(const TabCtrl* ctrl) = 0;
    virtual bool CanShowScrollButtons(const TabCtrl* ctrl) = 0;
};

// What the owner hears; all empty by default; screen coordinates.
class TabCtrlNotify {
public:
    virtual ~TabCtrlNotify() = default;
    virtual void OnInsertItem(TabCtrl* ctrl, TabWindow window, const std::u16string& text, int image) {}
    virtual void OnItemInserted(TabCtrl* ctrl, HTAB tab) {}
    virtual void OnRemoveItem(TabCtrl* ctrl, HTAB tab) {}
    virtual void OnCloseButtonClicked(TabCtrl* ctrl, const TabRect& button, int x, int y) {}
    virtual void OnMenuButtonClicked(TabCtrl* ctrl, const TabRect& button, int x, int y) {}
    virtual void OnTabSelected(TabCtrl* ctrl, HTAB tab) {}
    virtual void OnLButtonDown(TabCtrl* ctrl, HTAB tab, int x, int y) {}
    virtual void OnLButtonDblClk(TabCtrl* ctrl, HTAB tab, int x, int y) {}
    virtual void OnRButtonDown(TabCtrl* ctrl, HTAB tab, int x, int y) {}
    virtual void OnRButtonUp(TabCtrl* ctrl, HTAB tab, int x, int y) {}
    virtual void OnStartDrag(TabCtrl* ctrl, HTAB tab, int x, int y) {}
    virtual void OnDrag(TabCtrl* ctrl, HTAB tab, int x, int y, bool outside) {}
    virtual void OnFinishDrag(TabCtrl* ctrl, HTAB tab, bool cancelled) {}
};

// The painting operations, in the order the control calls them.
class TabCtrlDraw {
public:
    virtual ~TabCtrlDraw() = default;
    virtual bool IsDrawTabsInOrder(const TabCtrl* ctrl) = 0;
    virtual void DrawBegin(TabCtrl* ctrl, TabDC& dc) = 0;
    virtual void DrawBorder(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) = 0;
    virtual void DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) = 0;
    virtual void DrawTab(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& clip) = 0;
    virtual void DrawCloseButton(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed) = 0;
    virtual void DrawMenuButton(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed,
                                bool partialView) = 0;
    virtual void DrawScrollLeftButton(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed,
                                      bool enabled) = 0;
    virtual void DrawScrollRightButton(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed,
                                       bool enabled) = 0;
    virtual void DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) = 0;
    virtual void DrawEnd(TabCtrl* ctrl, TabDC& dc) = 0;
};

// A style hands the control its managers; null means "the control's own".
class ITabCtrlStyle {
public:
    virtual ~ITabCtrlStyle() = default;
    virtual TabCtrlDraw* GetDrawManager() = 0;
    virtual ITabCtrlRecalc* GetRecalcManager() { return nullptr; }
    virtual ITabCtrlBehavior* GetBehaviorManager() { return nullptr; }
    virtual ITabCtrlToolTip* GetToolTipManager() { return nullptr; }
};

// ---------------------------------------------------------------- hooks

// Key presses of the UI thread, fanned out to subscribers (TabCtrlHooks.h installs the
// real source). Subscribers are called in the order of their addresses; one may remove
// itself or another from within its call.
class KeyboardHook {
public:
    class Notify {
    public:
        virtual ~Notify() = default;
        virtual void OnKeyDown(int key, unsigned flags) = 0;
    };
    static bool Add(Notify* notify);
    static void Remove(Notify* notify);
    static bool IsExist(Notify* notify);
    // The hook's procedure: a key went down (auto-repeat included).
    static void KeyDown(int key, unsigned flags);
};

// Focus moving into or out of subscribed windows. `window` is the subscriber's window;
// the host's ancestry function says whether a focus target lies inside it.
class ActivityHook {
public:
    class INotify {
    public:
        virtual ~INotify() = default;
        virtual void OnActive(bool active, TabWindow target) = 0;
    };
    using IsInside = bool (*)(TabWindow target, TabWindow window);
    static bool Add(INotify* notify, TabWindow window);
    static void Remove(INotify* notify);
    static bool IsExist(INotify* notify);
    // The hook's procedure: `target` got (or lost) the focus.
    static void FocusChanged(bool gained, TabWindow target, IsInside inside);
};

// ---------------------------------------------------------------- the control

struct TabItem {
    TabWindow window = nullptr;
    int image = -1;
    std::u16string text;
    std::u16string tooltip;  // empty: automatic
    bool disabled = false;
    std::intptr_t data[2] = {0, 0};
    TabRect rect;
    int width = 0;
};

// Stand for the four buttons wherever a tab handle may stand (hovered, pushed).
inline const HTAB kBtnClose = reinterpret_cast<HTAB>(1);
inline const HTAB kBtnMenu = reinterpret_cast<HTAB>(2);
inline const HTAB kBtnScrollLeft = reinterpret_cast<HTAB>(3);
inline const HTAB kBtnScrollRight = reinterpret_cast<HTAB>(4);

class TabCtrl : public TabCtrlUserAbility, public ActivityHook::INotify, public KeyboardHook::Notify {
public:
    enum Layout { LayoutTop = 0, LayoutBottom = 1 };
    enum Behavior { BehaviorShrink = 0, BehaviorScroll = 1 };

    TabCtrl();
    ~TabCtrl() override;
    TabCtrl(const TabCtrl&) = delete;
    TabCtrl& operator=(const TabCtrl&) = delete;

    // Binds the control to its window; false when the tooltip could not be set up.
    bool Create(TabCtrlHost* host);
    TabCtrlHost* Host() const { return host_; }

    // ---- tabs ----
    HTAB InsertItem(std::size_t position, TabWindow window, const std::u16string& text, int image);
    HTAB AddItem(TabWindow window, const std::u16string& text, int image) {
        return InsertItem(tabs_.size(), window, text, image);
    }
    void DeleteAllItems();
    void MoveItemBefore(HTAB anchor, HTAB tab);
    void MoveItemAfter(HTAB anchor, HTAB tab);
    int GetItemCount() const { return static_cast<int>(tabs_.size()); }
    HTAB GetItemHandle(int index) const;
    int GetItemIndex(HTAB tab) const;
    bool IsItemExist(HTAB tab) const;
    int CompareItemOrder(HTAB a, HTAB b) const;
    HTAB GetFirstEnabledItem() const;
    HTAB GetNextEnabledItem(HTAB tab) const;
    HTAB GetPrevEnabledItem(HTAB tab) const;
    void SelectItem(HTAB tab);
    void DisableItem(HTAB tab, bool disable);
    void SetItemTooltipText(HTAB tab, const std::u16string& text);
    const std::vector<HTAB>& Items() const { return tabs_; }

    // ---- style and layout ----
    void InstallStyle(ITabCtrlStyle* style);
    void Update();
    bool SetFontNormal(const TabFont& font);
    bool SetFontSelected(const TabFont& font);
    const TabFont* GetFontNormal() const { return fontNormalSet_ ? &fontNormal_ : nullptr; }
    const TabFont* GetFontSelected() const { return fontSelectedSet_ ? &fontSelected_ : nullptr; }
    static bool IsSystemButton(HTAB value);

    // ---- settings ----
    void SetLayout(Layout layout) { layout_ = layout; }
    Layout GetLayout() const { return layout_; }
    void SetBehavior(Behavior behavior) { behavior_ = behavior; }
    Behavior GetBehavior() const { return behavior_; }
    void SetImageLists(TabImageList* normal, TabImageList* disabled);
    TabImageList* GetImageList(bool disabled) const { return disabled ? disabledImages_ : normalImages_; }
    void SetSystemImageList(TabImageList* images);
    TabImageList* GetSystemImageList() const { return systemImages_; }
    void SetTabCursor(bool set) { tabCursor_ = set; }
    void SetNotifyManager(TabCtrlNotify* notify) { notify_ = notify; }
    void SetAbilityManager(TabCtrlUserAbility* ability) { ability_ = ability ? ability : this; }
    void SetMinTextHeight(int h) { minTextHeight_ = h; }
    void SetMinTextWidth(int w) { minTextWidth_ = w; }
    void SetEqualTabsWidth(bool equal) { equalWidths_ = equal; }
    bool IsEqualTabsWidth() const { return equalWidths_; }
    void SetDragging(bool allow) { draggingAllowed_ = allow; }
    void SetHideSingleTab(bool hide) { hideSingleTab_ = hide; }
    bool IsHideSingleTab() const { return hideSingleTab_; }
    void SetShowBorder(bool show) { borderShown_ = show; }
    void SetButtonsShown(bool close, bool menu, bool scroll) {
        closeShown_ = close;
        menuShown_ = menu;
        scrollShown_ = scroll;
    }
    void SetToolTipsShown(bool show) { tooltipsShown_ = show; }
    void SetScrollStep(int step) { scrollStep_ = step; }
    void SetWatchActivity(bool watch) { watchActivity_ = watch; }
    bool IsWatchActivity() const { return watchActivity_; }
    void SetButtonToolTipTexts(std::u16string close, std::u16string menu, std::u16string left, std::u16string right);

    // ---- state the styles read ----
    HTAB GetSelectedTab() const { return selected_; }
    HTAB GetHoveredTab() const { return hovered_; }
    HTAB GetPushedTab() const { return pushed_; }
    bool IsActive() const { return active_; }
    bool IsPartialView() const { return partialView_; }
    bool CanScrollLeft() const { return canScrollLeft_; }
    bool CanScrollRight() const { return canScrollRight_; }
    int GetScrollPos() const { return scrollPos_; }
    int GetMaxScrollPos() const { return maxScroll_; }
    bool IsDragActive() const { return dragActive_; }
    TabRect GetTabsArea() const { return tabsArea_; }
    TabRect GetTabsStrip() const { return tabsStrip_; }
    TabRect GetWindowsArea() const { return windowsArea_; }
    TabRect GetCloseButtonRect() const { return closeRect_; }
    TabRect GetMenuButtonRect() const { return menuRect_; }
    TabRect GetScrollLeftRect() const { return scrollLeftRect_; }
    TabRect GetScrollRightRect() const { return scrollRightRect_; }
    const SystemColors& Colors() const { return colors_; }
    void SetColors(const SystemColors& colors) { colors_ = colors; }
    TabColor SysColorOf(SysColor which) const { return colors_.Get(which); }

    // The managers in use (the style's, else the control's own).
    ITabCtrlRecalc* GetRecalcManager() const { return recalc_; }
    ITabCtrlBehavior* GetBehaviorManager() const { return behavior_mgr_; }
    TabCtrlDraw* GetDrawManager() const { return draw_; }
    ITabCtrlRecalc* GetDefaultRecalc() const;
    ITabCtrlBehavior* GetDefaultBehavior() const;

    // ---- window events (the host calls these) ----
    void OnSize();
    void OnMouseMove(int x, int y);
    void OnMouseLeave();
    void OnLButtonDown(int x, int y);
    void OnLButtonDblClk(int x, int y);
    void OnLButtonUp(int x, int y);
    void OnRButtonDown(int x, int y);
    void OnRButtonUp(int x, int y);
    void OnMButtonDown();
    void OnSetFocus();
    void OnCaptureChanged(bool toAnotherWindow);
    void OnTimer(int id);
    bool OnSetCursor();
    void OnDestroy();
    // The text the tooltip shows for the hovered value now (empty: none).
    std::u16string ToolTipText() const;
    // Paints everything into `dc` (the off-screen buffer of the window).
    void Paint(TabDC& dc);

    // ActivityHook::INotify, KeyboardHook::Notify
    void OnActive(bool active, TabWindow target) override;
    void OnKeyDown(int key, unsigned flags) override;
    // TabCtrlUserAbility: the control agrees to every button.
    bool CanShowCloseButton(const TabCtrl*) override { return true; }
    bool CanShowMenuButton(const TabCtrl*) override { return true; }
    bool CanShowScrollButtons(const TabCtrl*) override { return true; }

    // The control's own window (the host), for the activity hook.
    void SetOwnWindow(TabWindow window) { ownWindow_ = window; }

    class Service;

private:
    void Hover(int x, int y);
    void HoverUpdate();
    void FocusSelected();
    void PressAt(int x, int y);
    void StopButtonPress();
    void StopDragging(bool cancel);
    void MoveSelectedWindow();
    TabRect WindowsAreaLessPadding() const;
    int TabTextWidth(const TabItem& tab) const;
    int FontHeight(bool selected) const;

    TabCtrlHost* host_ = nullptr;
    TabWindow ownWindow_ = nullptr;
    Layout layout_ = LayoutTop;
    Behavior behavior_ = BehaviorShrink;
    TabImageList* normalImages_ = nullptr;
    TabImageList* disabledImages_ = nullptr;
    TabImageList* systemImages_ = nullptr;
    TabFont fontNormal_, fontSelected_;
    bool fontNormalSet_ = false, fontSelectedSet_ = false;
    bool tabCursor_ = false;
    int minTextHeight_ = 0, minTextWidth_ = 0;
    std::u16string closeTip_, menuTip_, leftTip_, rightTip_;
    bool borderShown_ = true;
    bool equalWidths_ = false;
    bool draggingAllowed_ = false;
    bool hideSingleTab_ = false;
    bool closeShown_ = true, menuShown_ = true, scrollShown_ = true, tooltipsShown_ = true;
    bool tooltipMade_ = false;
    int scrollStep_ = 15;
    TabCtrlDraw* draw_ = nullptr;
    ITabCtrlRecalc* recalc_ = nullptr;
    ITabCtrlBehavior* behavior_mgr_ = nullptr;
    ITabCtrlToolTip* tooltip_ = nullptr;
    TabCtrlUserAbility* ability_ = this;
    TabCtrlNotify* notify_ = nullptr;
    HTAB selected_ = nullptr, hovered_ = nullptr, pushed_ = nullptr;
    int scrollPos_ = 0, maxScroll_ = 0;
    bool partialView_ = false, canScrollLeft_ = false, canScrollRight_ = false, dragActive_ = false;
    int pressX_ = 0, pressY_ = 0;
    bool watchActivity_ = false, active_ = false, activitySubscribed_ = false;
    TabRect tabsArea_, tabsStrip_, windowsArea_, closeRect_, menuRect_, scrollLeftRect_, scrollRightRect_;
    std::vector<HTAB> tabs_;
    std::vector<HTAB> dragBackup_;
    std::shared_ptr<bool> alive_;
    SystemColors colors_;
    std::unique_ptr<Service> service_;
};

// A TabCtrl that owns one object of every style, so its owner can install any of them.
class TabCtrlComplex;  // TabCtrlStyles.h
