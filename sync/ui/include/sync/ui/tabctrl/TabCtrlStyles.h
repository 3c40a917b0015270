#pragma once
// The looks of the tab control. A style hands the control its draw manager and, where it
// changes them, its layout metrics (recalc) and hit test (behavior). TabCtrlStyle_base
// draws a plain look from the desktop's colours; each concrete style overrides a few
// colours and pictures. TabCtrlStyle_VS2010_client is the one the sync-details window
// installs. TabCtrlComplex is a TabCtrl that owns one object of every style.
//
// Colours are fetched when drawn, nothing is cached; every picture goes into the
// control's off-screen image (TabDC). Metrics are given for the top layout; in the bottom
// layout their top and bottom are exchanged unless a style says otherwise.
#include "sync/ui/tabctrl/TabCtrl.h"

struct TabPoint;

// Forwards every metric to the control's defaults unless a style overrides it.
class TabCtrlRecalcStub : public ITabCtrlRecalc {
public:
    int GetBorderWidth(const TabCtrl* c, ITabCtrlRecalc* b) override { return b->GetBorderWidth(c, b); }
    TabRect GetTabsAreaPadding(const TabCtrl* c, ITabCtrlRecalc* b) override { return b->GetTabsAreaPadding(c, b); }
    TabRect GetWindowsAreaPadding(const TabCtrl* c, ITabCtrlRecalc* b) override {
        return b->GetWindowsAreaPadding(c, b);
    }
    TabRect GetTabHorzMargin(const TabCtrl* c, ITabCtrlRecalc* b) override { return b->GetTabHorzMargin(c, b); }
    TabRect GetTabPadding(const TabCtrl* c, ITabCtrlRecalc* b) override { return b->GetTabPadding(c, b); }
    int GetTabImageTextGap(const TabCtrl* c, ITabCtrlRecalc* b) override { return b->GetTabImageTextGap(c, b); }
    int GetTabExtraWidth(const TabCtrl* c, ITabCtrlRecalc* b, HTAB t) override {
        return b->GetTabExtraWidth(c, b, t);
    }
    int GetTabMinWidth(const TabCtrl* c, ITabCtrlRecalc* b) override { return b->GetTabMinWidth(c, b); }
    TabRect GetScrollLeftMargin(const TabCtrl* c, ITabCtrlRecalc* b) override {
        return b->GetScrollLeftMargin(c, b);
    }
    TabRect GetScrollRightMargin(const TabCtrl* c, ITabCtrlRecalc* b) override {
        return b->GetScrollRightMargin(c, b);
    }
    TabRect GetMenuButtonMargin(const TabCtrl* c, ITabCtrlRecalc* b) override {
        return b->GetMenuButtonMargin(c, b);
    }
    TabRect GetCloseButtonMargin(const TabCtrl* c, ITabCtrlRecalc* b) override {
        return b->GetCloseButtonMargin(c, b);
    }
};

class TabCtrlBehaviorStub : public ITabCtrlBehavior {
public:
    HTAB HitTest(const TabCtrl* c, ITabCtrlBehavior* b, int x, int y) override { return b->HitTest(c, b, x, y); }
    bool SetCursor(TabCtrl* c, ITabCtrlBehavior* b) override { return b->SetCursor(c, b); }
};

// ---------------------------------------------------------------- the base look

class TabCtrlStyle_base : public ITabCtrlStyle, public TabCtrlDraw {
public:
    TabCtrlDraw* GetDrawManager() override { return this; }

    // Colours (read when drawing).
    virtual TabColor GetBorderColor(const TabCtrl* ctrl);
    virtual TabColor GetTabBorderColor(const TabCtrl* ctrl);
    virtual TabColor GetTabsAreaBackColor(const TabCtrl* ctrl);
    virtual TabColor GetTabSelectedBackColor(const TabCtrl* ctrl);
    virtual TabColor GetWindowsAreaBackColor(const TabCtrl* ctrl);
    virtual TabColor GetTabTextColor(const TabCtrl* ctrl, HTAB tab);
    virtual TabColor GetButtonMarkerColor(const TabCtrl* ctrl, bool hover, bool pushed);
    virtual TabColor GetTabsAreaSideColor(const TabCtrl* ctrl);
    virtual TabColor GetEmptyWindowsAreaBackColor(const TabCtrl* ctrl);
    // Pictures.
    virtual void DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect, const TabRect& clip);
    virtual void DrawTabContent(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect, const TabRect& clip);
    virtual void DrawTabImage(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect);
    virtual void DrawTabText(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect);
    virtual void DrawButtonFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed);

    // TabCtrlDraw
    bool IsDrawTabsInOrder(const TabCtrl*) override { return true; }
    void DrawBegin(TabCtrl*, TabDC&) override {}
    void DrawBorder(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
    void DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
    void DrawTab(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& clip) override;
    void DrawCloseButton(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed) override;
    void DrawMenuButton(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed,
                        bool partialView) override;
    void DrawScrollLeftButton(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed,
                              bool enabled) override;
    void DrawScrollRightButton(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed,
                               bool enabled) override;
    void DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
    void DrawEnd(TabCtrl*, TabDC&) override {}

protected:
    void DrawButton(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed, int glyph);
    // The metrics of the control's recalc manager in use.
    static TabRect TabPadding(const TabCtrl* ctrl);
    static TabRect TabsAreaPadding(const TabCtrl* ctrl);
    static bool IsTop(const TabCtrl* ctrl) { return ctrl->GetLayout() == TabCtrl::LayoutTop; }
    static bool IsHover(const TabCtrl* ctrl, HTAB tab);
    static TabColor Sys(const TabCtrl* ctrl, SysColor which) { return ctrl->SysColorOf(which); }
};

// ---------------------------------------------------------------- VS2010

class TabCtrlStyle_VS2010_client : public TabCtrlStyle_base, public TabCtrlRecalcStub {
public:
    ITabCtrlRecalc* GetRecalcManager() override { return this; }
    int GetBorderWidth(const TabCtrl*, ITabCtrlRecalc*) override { return 0; }
    TabRect GetTabsAreaPadding(const TabCtrl*, ITabCtrlRecalc*) override { return {}; }
    TabRect GetWindowsAreaPadding(const TabCtrl*, ITabCtrlRecalc*) override { return {}; }
    TabRect GetTabPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;

    TabColor GetTabsAreaBackColor(const TabCtrl*) override { return Rgb(46, 64, 94); }
    TabColor GetEmptyWindowsAreaBackColor(const TabCtrl*) override { return Rgb(46, 64, 94); }
    TabColor GetTabTextColor(const TabCtrl* ctrl, HTAB tab) override;
    TabColor GetButtonMarkerColor(const TabCtrl*, bool hover, bool pushed) override;
    void DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
    void DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect, const TabRect& clip) override;
    void DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
    void DrawButtonFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed) override;

    virtual void DrawWindowsAreaFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool top, bool active);
    virtual void DrawTabBackground(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool top, bool active,
                                   bool selected, bool hover);

protected:
    // The activity the pictures use (custom1: always active, custom2: never).
    virtual bool LooksActive(const TabCtrl* ctrl) { return ctrl->IsActive(); }
};

class TabCtrlStyle_VS2010_client_custom1 : public TabCtrlStyle_VS2010_client {
protected:
    bool LooksActive(const TabCtrl*) override { return true; }
};

class TabCtrlStyle_VS2010_client_custom2 : public TabCtrlStyle_VS2010_client {
protected:
    bool LooksActive(const TabCtrl*) override { return false; }
};

class TabCtrlStyle_VS2010_bars : public TabCtrlStyle_base, public TabCtrlRecalcStub {
public:
    ITabCtrlRecalc* GetRecalcManager() override { return this; }
    int GetBorderWidth(const TabCtrl*, ITabCtrlRecalc*) override { return 0; }
    TabRect GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;
    TabRect GetTabPadding(const TabCtrl*, ITabCtrlRecalc*) override { return {5, 2, 5, 2}; }

    TabColor GetTabsAreaBackColor(const TabCtrl*) override { return Rgb(46, 64, 94); }
    TabColor GetEmptyWindowsAreaBackColor(const TabCtrl*) override { return Rgb(46, 64, 94); }
    TabColor GetTabTextColor(const TabCtrl* ctrl, HTAB tab) override;
    TabColor GetButtonMarkerColor(const TabCtrl*, bool hover, bool pushed) override;
    void DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
    void DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect, const TabRect& clip) override;
    void DrawButtonFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed) override;
};

// ---------------------------------------------------------------- VS2003

class TabCtrlStyle_VS2003_base : public TabCtrlStyle_base, public TabCtrlRecalcStub {
public:
    ITabCtrlRecalc* GetRecalcManager() override { return this; }
    TabColor GetTabsAreaBackColor(const TabCtrl* ctrl) override;
    TabColor GetTabTextColor(const TabCtrl* ctrl, HTAB tab) override;
    TabColor GetButtonMarkerColor(const TabCtrl* ctrl, bool hover, bool pushed) override;
    void DrawButtonFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed) override;
};

class TabCtrlStyle_VS2003_client : public TabCtrlStyle_VS2003_base {
public:
    int GetBorderWidth(const TabCtrl*, ITabCtrlRecalc*) override { return 1; }
    TabRect GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;
    TabRect GetWindowsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;
    TabRect GetTabPadding(const TabCtrl*, ITabCtrlRecalc*) override { return {6, 3, 6, 3}; }
    TabColor GetTabBorderColor(const TabCtrl* ctrl) override { return Sys(ctrl, SysColor::Highlight3D); }
    void DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
    void DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect, const TabRect& clip) override;
    void DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
};

class TabCtrlStyle_VS2003_client_custom1 : public TabCtrlStyle_VS2003_client {
public:
    TabColor GetButtonMarkerColor(const TabCtrl* ctrl, bool hover, bool pushed) override {
        return TabCtrlStyle_base::GetButtonMarkerColor(ctrl, hover, pushed);
    }
    void DrawButtonFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed) override {
        TabCtrlStyle_base::DrawButtonFrame(ctrl, dc, rect, hover, pushed);
    }
};

class TabCtrlStyle_VS2003_bars : public TabCtrlStyle_VS2003_base {
public:
    int GetBorderWidth(const TabCtrl*, ITabCtrlRecalc*) override { return 0; }
    TabRect GetTabsAreaPadding(const TabCtrl*, ITabCtrlRecalc*) override { return {5, 2, 3, 2}; }
    TabRect GetTabPadding(const TabCtrl*, ITabCtrlRecalc*) override { return {6, 2, 6, 2}; }
    TabColor GetTabBorderColor(const TabCtrl* ctrl) override { return Sys(ctrl, SysColor::BtnText); }
    void DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
    void DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect, const TabRect& clip) override;
};

class TabCtrlStyle_VS2003_bars_custom1 : public TabCtrlStyle_VS2003_bars {
public:
    TabRect GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;
    TabRect GetWindowsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;
    TabColor GetTabBorderColor(const TabCtrl* ctrl) override { return Sys(ctrl, SysColor::BtnShadow); }
    TabColor GetButtonMarkerColor(const TabCtrl* ctrl, bool hover, bool pushed) override {
        return TabCtrlStyle_base::GetButtonMarkerColor(ctrl, hover, pushed);
    }
    void DrawButtonFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed) override {
        TabCtrlStyle_base::DrawButtonFrame(ctrl, dc, rect, hover, pushed);
    }
    void DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
    void DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
};

// The frame of the bars custom1 styles: open toward the tabs, the windows area unfilled.
void DrawBarsCustom1Frame(TabCtrlStyle_base& style, TabCtrl* ctrl, TabDC& dc, const TabRect& rect, TabColor color);

// ---------------------------------------------------------------- VS2008 client

class TabCtrlStyle_VS2008_client_base : public TabCtrlStyle_base,
                                        public TabCtrlRecalcStub,
                                        public TabCtrlBehaviorStub {
public:
    ITabCtrlRecalc* GetRecalcManager() override { return this; }
    ITabCtrlBehavior* GetBehaviorManager() override { return this; }
    int GetBorderWidth(const TabCtrl*, ITabCtrlRecalc*) override { return 0; }
    TabRect GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;
    TabRect GetWindowsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;
    TabRect GetTabPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;
    int GetTabExtraWidth(const TabCtrl* ctrl, ITabCtrlRecalc*, HTAB tab) override;
    int GetTabMinWidth(const TabCtrl* ctrl, ITabCtrlRecalc* base) override;
    HTAB HitTest(const TabCtrl* ctrl, ITabCtrlBehavior* base, int x, int y) override;

    bool IsDrawTabsInOrder(const TabCtrl*) override { return false; }
    void DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
    void DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect, const TabRect& clip) override;
    void DrawTabContent(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect, const TabRect& clip) override;
    void DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;

    virtual TabColor GetTabOutlineColor(const TabCtrl* ctrl, bool selected, bool disabled) = 0;
    virtual TabColor GetTabInnerLineColor(const TabCtrl* ctrl, bool selected, bool hover, bool disabled,
                                          bool leftSide) = 0;
    virtual TabColor GetTabFillOuterColor(const TabCtrl* ctrl, bool selected, bool hover, bool disabled) = 0;
    virtual TabColor GetTabFillBaseColor(const TabCtrl* ctrl, bool selected, bool hover, bool disabled) = 0;

    // The slanted tab's eight points and the rectangle its gradient covers.
    void BuildTabShape(const TabCtrl* ctrl, HTAB tab, const TabRect& rect, bool top, TabPoint* points,
                       TabRect* fill) const;
    bool IsPointInTabShape(const TabCtrl* ctrl, HTAB tab, bool top, int x, int y) const;
};

// One colour set of the VS2008 family (client or bars), as in the tables of the styles.
struct VS2008Palette;

class TabCtrlStyle_VS2008_client_classic : public TabCtrlStyle_VS2008_client_base {
public:
    TabColor GetTabOutlineColor(const TabCtrl* ctrl, bool selected, bool disabled) override;
    TabColor GetTabInnerLineColor(const TabCtrl* ctrl, bool selected, bool hover, bool disabled,
                                  bool leftSide) override;
    TabColor GetTabFillOuterColor(const TabCtrl* ctrl, bool selected, bool hover, bool disabled) override;
    TabColor GetTabFillBaseColor(const TabCtrl* ctrl, bool selected, bool hover, bool disabled) override;
};

// The three coloured client styles share one table of fixed colours.
class TabCtrlStyle_VS2008_client_colored : public TabCtrlStyle_VS2008_client_base {
public:
    explicit TabCtrlStyle_VS2008_client_colored(int palette) : palette_(palette) {}
    TabColor GetTabOutlineColor(const TabCtrl* ctrl, bool selected, bool disabled) override;
    TabColor GetTabInnerLineColor(const TabCtrl* ctrl, bool selected, bool hover, bool disabled,
                                  bool leftSide) override;
    TabColor GetTabFillOuterColor(const TabCtrl* ctrl, bool selected, bool hover, bool disabled) override;
    TabColor GetTabFillBaseColor(const TabCtrl* ctrl, bool selected, bool hover, bool disabled) override;
    void DrawButtonFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed) override;

protected:
    int palette_;  // 0 blue, 1 silver, 2 olive
};

class TabCtrlStyle_VS2008_client_blue : public TabCtrlStyle_VS2008_client_colored {
public:
    TabCtrlStyle_VS2008_client_blue() : TabCtrlStyle_VS2008_client_colored(0) {}
};
class TabCtrlStyle_VS2008_client_silver : public TabCtrlStyle_VS2008_client_colored {
public:
    TabCtrlStyle_VS2008_client_silver() : TabCtrlStyle_VS2008_client_colored(1) {}
};
class TabCtrlStyle_VS2008_client_olive : public TabCtrlStyle_VS2008_client_colored {
public:
    TabCtrlStyle_VS2008_client_olive() : TabCtrlStyle_VS2008_client_colored(2) {}
};

// ---------------------------------------------------------------- VS2008 bars

class TabCtrlStyle_VS2008_bars_base : public TabCtrlStyle_base, public TabCtrlRecalcStub {
public:
    // palette: -1 classic, 0 blue, 1 silver, 2 olive.
    explicit TabCtrlStyle_VS2008_bars_base(int palette) : palette_(palette) {}
    ITabCtrlRecalc* GetRecalcManager() override { return this; }
    int GetBorderWidth(const TabCtrl*, ITabCtrlRecalc*) override { return 0; }
    TabRect GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;
    TabRect GetTabPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;

    TabColor GetTabTextColor(const TabCtrl* ctrl, HTAB tab) override;
    void DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;
    void DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect, const TabRect& clip) override;
    void DrawTabContent(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect, const TabRect& clip) override;
    void DrawButtonFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed) override;

    virtual TabColor GetTabOutlineColor(const TabCtrl* ctrl, bool hot);
    virtual TabColor GetTabFillOuterColor(const TabCtrl* ctrl, bool hover, bool disabled);
    virtual TabColor GetTabFillBaseColor(const TabCtrl* ctrl, bool hover, bool disabled);

protected:
    // The y of the tabs-area line (custom1 moves it to the edge).
    virtual int AreaLineY(const TabCtrl* ctrl, const TabRect& rect) const;
    int palette_;
};

class TabCtrlStyle_VS2008_bars_custom1_base : public TabCtrlStyle_VS2008_bars_base {
public:
    using TabCtrlStyle_VS2008_bars_base::TabCtrlStyle_VS2008_bars_base;
    TabRect GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;
    TabRect GetWindowsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override;
    void DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) override;

protected:
    int AreaLineY(const TabCtrl* ctrl, const TabRect& rect) const override;
};

#define DRAVIK_BARS_STYLE(Name, Base, Palette) \
    class Name : public Base {                 \
    public:                                    \
        Name() : Base(Palette) {}              \
    };
DRAVIK_BARS_STYLE(TabCtrlStyle_VS2008_bars_classic, TabCtrlStyle_VS2008_bars_base, -1)
DRAVIK_BARS_STYLE(TabCtrlStyle_VS2008_bars_blue, TabCtrlStyle_VS2008_bars_base, 0)
DRAVIK_BARS_STYLE(TabCtrlStyle_VS2008_bars_silver, TabCtrlStyle_VS2008_bars_base, 1)
DRAVIK_BARS_STYLE(TabCtrlStyle_VS2008_bars_olive, TabCtrlStyle_VS2008_bars_base, 2)
DRAVIK_BARS_STYLE(TabCtrlStyle_VS2008_bars_classic_custom1, TabCtrlStyle_VS2008_bars_custom1_base, -1)
DRAVIK_BARS_STYLE(TabCtrlStyle_VS2008_bars_blue_custom1, TabCtrlStyle_VS2008_bars_custom1_base, 0)
DRAVIK_BARS_STYLE(TabCtrlStyle_VS2008_bars_silver_custom1, TabCtrlStyle_VS2008_bars_custom1_base, 1)
DRAVIK_BARS_STYLE(TabCtrlStyle_VS2008_bars_olive_custom1, TabCtrlStyle_VS2008_bars_custom1_base, 2)
#undef DRAVIK_BARS_STYLE

// ---------------------------------------------------------------- every style

class TabCtrlComplex : public TabCtrl {
public:
    TabCtrlStyle_base TabCtrlStyle_base_;
    TabCtrlStyle_VS2003_client TabCtrlStyle_VS2003_client_;
    TabCtrlStyle_VS2003_client_custom1 TabCtrlStyle_VS2003_client_custom1_;
    TabCtrlStyle_VS2003_bars TabCtrlStyle_VS2003_bars_;
    TabCtrlStyle_VS2003_bars_custom1 TabCtrlStyle_VS2003_bars_custom1_;
    TabCtrlStyle_VS2008_client_classic TabCtrlStyle_VS2008_client_classic_;
    TabCtrlStyle_VS2008_client_blue TabCtrlStyle_VS2008_client_blue_;
    TabCtrlStyle_VS2008_client_silver TabCtrlStyle_VS2008_client_silver_;
    TabCtrlStyle_VS2008_client_olive TabCtrlStyle_VS2008_client_olive_;
    TabCtrlStyle_VS2008_bars_classic TabCtrlStyle_VS2008_bars_classic_;
    TabCtrlStyle_VS2008_bars_classic_custom1 TabCtrlStyle_VS2008_bars_classic_custom1_;
    TabCtrlStyle_VS2008_bars_blue TabCtrlStyle_VS2008_bars_blue_;
    TabCtrlStyle_VS2008_bars_blue_custom1 TabCtrlStyle_VS2008_bars_blue_custom1_;
    TabCtrlStyle_VS2008_bars_silver TabCtrlStyle_VS2008_bars_silver_;
    TabCtrlStyle_VS2008_bars_silver_custom1 TabCtrlStyle_VS2008_bars_silver_custom1_;
    TabCtrlStyle_VS2008_bars_olive TabCtrlStyle_VS2008_bars_olive_;
    TabCtrlStyle_VS2008_bars_olive_custom1 TabCtrlStyle_VS2008_bars_olive_custom1_;
    TabCtrlStyle_VS2010_client TabCtrlStyle_VS2010_client_;
    TabCtrlStyle_VS2010_client_custom1 TabCtrlStyle_VS2010_client_custom1_;
    TabCtrlStyle_VS2010_client_custom2 TabCtrlStyle_VS2010_client_custom2_;
    TabCtrlStyle_VS2010_bars TabCtrlStyle_VS2010_bars_;

    // Every style with its name, in the order above (for galleries and tests).
    struct NamedStyle {
        const char* name;
        ITabCtrlStyle* style;
    };
    std::vector<NamedStyle> AllStyles();
};
