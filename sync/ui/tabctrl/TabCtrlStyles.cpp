#include "sync/ui/tabctrl/TabCtrlStyles.h"

#include <algorithm>

#include "sync/ui/tabctrl/TabDC.h"

namespace {

// Metrics given for the top layout; the bottom layout exchanges top and bottom.
TabRect ByLayout(const TabCtrl* ctrl, TabRect top) {
    if (ctrl->GetLayout() == TabCtrl::LayoutTop) return top;
    return {top.l, top.b, top.r, top.t};
}

bool SingleShown(const TabCtrl* ctrl) { return ctrl->GetItemCount() == 1 && ctrl->IsHideSingleTab(); }

}  // namespace

// ================================================================= base

TabRect TabCtrlStyle_base::TabPadding(const TabCtrl* ctrl) {
    return ctrl->GetRecalcManager()->GetTabPadding(ctrl, ctrl->GetDefaultRecalc());
}

TabRect TabCtrlStyle_base::TabsAreaPadding(const TabCtrl* ctrl) {
    return ctrl->GetRecalcManager()->GetTabsAreaPadding(ctrl, ctrl->GetDefaultRecalc());
}

bool TabCtrlStyle_base::IsHover(const TabCtrl* ctrl, HTAB tab) {
    const HTAB pushed = ctrl->GetPushedTab();
    return ctrl->GetHoveredTab() == tab && (pushed == nullptr || TabCtrl::IsSystemButton(pushed));
}

TabColor TabCtrlStyle_base::GetBorderColor(const TabCtrl* c) { return Sys(c, SysColor::BtnShadow); }
TabColor TabCtrlStyle_base::GetTabBorderColor(const TabCtrl* c) { return Sys(c, SysColor::BtnShadow); }
TabColor TabCtrlStyle_base::GetTabsAreaBackColor(const TabCtrl* c) { return Sys(c, SysColor::BtnFace); }
TabColor TabCtrlStyle_base::GetTabSelectedBackColor(const TabCtrl* c) { return Sys(c, SysColor::BtnFace); }
TabColor TabCtrlStyle_base::GetWindowsAreaBackColor(const TabCtrl* c) { return Sys(c, SysColor::Window); }
TabColor TabCtrlStyle_base::GetTabTextColor(const TabCtrl* c, HTAB tab) {
    return tab->disabled ? Sys(c, SysColor::GrayText) : Sys(c, SysColor::BtnText);
}
TabColor TabCtrlStyle_base::GetButtonMarkerColor(const TabCtrl* c, bool, bool) {
    return c->GetSelectedTab() == nullptr ? Sys(c, SysColor::GrayText) : Sys(c, SysColor::BtnText);
}
TabColor TabCtrlStyle_base::GetTabsAreaSideColor(const TabCtrl* c) { return Sys(c, SysColor::Window); }
TabColor TabCtrlStyle_base::GetEmptyWindowsAreaBackColor(const TabCtrl* c) { return Sys(c, SysColor::AppWorkspace); }

void TabCtrlStyle_base::DrawBorder(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) {
    dc.Outline(rect, GetBorderColor(ctrl));
}

void TabCtrlStyle_base::DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& r) {
    const TabRect p = TabsAreaPadding(ctrl);
    if (IsTop(ctrl)) {
        const int y = r.b - p.b;
        dc.FillRect({r.l, r.t, r.r, y}, GetTabsAreaBackColor(ctrl));
        dc.Line(r.l, y - 1, r.r, y - 1, GetTabBorderColor(ctrl));
        dc.FillRect({r.l, y, r.r, r.b}, GetTabsAreaSideColor(ctrl));
    } else {
        const int y = r.t + p.t;
        dc.FillRect({r.l, r.t, r.r, y}, GetTabsAreaSideColor(ctrl));
        dc.Line(r.l, y, r.r, y, GetTabBorderColor(ctrl));
        dc.FillRect({r.l, y + 1, r.r, r.b}, GetTabsAreaBackColor(ctrl));
    }
}

void TabCtrlStyle_base::DrawTab(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& clip) {
    DrawTabBack(ctrl, dc, tab, tab->rect, clip);
    DrawTabContent(ctrl, dc, tab, tab->rect, clip);
}

void TabCtrlStyle_base::DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& r, const TabRect&) {
    const bool top = IsTop(ctrl);
    const TabColor border = GetTabBorderColor(ctrl);
    if (tab == ctrl->GetSelectedTab()) {
        // The tab polygon with 2-pixel corners on its outer side joins the windows area.
        const std::vector<TabPoint> shape =
            top ? std::vector<TabPoint>{{r.l, r.b}, {r.l, r.t + 2}, {r.l + 2, r.t}, {r.r - 3, r.t}, {r.r - 1, r.t + 2},
                                        {r.r - 1, r.b}}
                : std::vector<TabPoint>{{r.l, r.t - 1}, {r.l, r.b - 3}, {r.l + 2, r.b - 1}, {r.r - 3, r.b - 1},
                                        {r.r - 1, r.b - 3}, {r.r - 1, r.t - 1}};
        dc.Polygon(shape, GetWindowsAreaBackColor(ctrl), border);
        return;
    }
    if (IsHover(ctrl, tab) && !tab->disabled) {
        const TabRect h = r.Inflated(-2);
        if (!h.Empty()) {
            const std::vector<TabPoint> shape = {{h.l, h.b}, {h.l, h.t + 2}, {h.l + 2, h.t}, {h.r - 3, h.t},
                                                 {h.r - 1, h.t + 2}, {h.r - 1, h.b}};
            dc.Polygon(shape, GetWindowsAreaBackColor(ctrl), border);
            if (top) {
                const int mid = (h.t + h.b) / 2;
                dc.GradientV({h.l + 1, mid, h.r - 1, h.b}, GetWindowsAreaBackColor(ctrl), GetTabsAreaBackColor(ctrl));
            }
        }
    }
    const TabRect p = TabPadding(ctrl);
    dc.Line(r.r, r.t + p.t + 1, r.r, r.b - p.b - 1, border);
    if (ctrl->GetItemIndex(tab) == 0) dc.Line(r.l, r.t + p.t + 1, r.l, r.b - p.b - 1, border);
}

void TabCtrlStyle_base::DrawTabContent(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect, const TabRect&) {
    TabRect content = rect.Deflated(TabPadding(ctrl));
    const TabImageList* images = ctrl->GetImageList(tab->disabled);
    const int textWidth = dc.TextExtent(tab->text).cx;
    if (tab->image < 0 || images == nullptr) {
        if (textWidth < content.Width()) content.l += (content.Width() - textWidth) / 2;
    } else {
        const int gap = ctrl->GetRecalcManager()->GetTabImageTextGap(ctrl, ctrl->GetDefaultRecalc());
        const int group = images->ImageSize().cx + gap + textWidth;
        if (group < content.Width()) content.l += (content.Width() - group) / 2;
        DrawTabImage(ctrl, dc, tab, content);
        content.l += images->ImageSize().cx + gap;
    }
    DrawTabText(ctrl, dc, tab, content);
}

void TabCtrlStyle_base::DrawTabImage(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect) {
    const TabImageList* images = ctrl->GetImageList(tab->disabled);
    if (!images) return;
    dc.DrawImage(images, tab->image, rect.l, (rect.t + rect.b - images->ImageSize().cy + 1) / 2);
}

void TabCtrlStyle_base::DrawTabText(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect) {
    dc.DrawText(tab->text, rect, GetTabTextColor(ctrl, tab));
}

void TabCtrlStyle_base::DrawButtonFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed) {
    if (!hover && !pushed) return;
    const TabColor highlight = Sys(ctrl, SysColor::Highlight);
    const TabColor window = Sys(ctrl, SysColor::Window);
    dc.FillRect(rect, MixColors(highlight, window, hover && pushed ? 22 : 30));
    dc.Outline(rect, highlight);
}

void TabCtrlStyle_base::DrawButton(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover, bool pushed,
                                   int glyph) {
    DrawButtonFrame(ctrl, dc, rect, hover, pushed);
    dc.DrawGlyph(ctrl->GetSystemImageList(), glyph, rect, GetButtonMarkerColor(ctrl, hover, pushed));
}

void TabCtrlStyle_base::DrawCloseButton(TabCtrl* ctrl, TabDC& dc, const TabRect& r, bool hover, bool pushed) {
    DrawButton(ctrl, dc, r, hover, pushed, 0);
}
void TabCtrlStyle_base::DrawMenuButton(TabCtrl* ctrl, TabDC& dc, const TabRect& r, bool hover, bool pushed,
                                       bool partialView) {
    DrawButton(ctrl, dc, r, hover, pushed, partialView ? 2 : 1);
}
void TabCtrlStyle_base::DrawScrollLeftButton(TabCtrl* ctrl, TabDC& dc, const TabRect& r, bool hover, bool pushed,
                                             bool enabled) {
    DrawButton(ctrl, dc, r, hover, pushed, enabled ? 3 : 4);
}
void TabCtrlStyle_base::DrawScrollRightButton(TabCtrl* ctrl, TabDC& dc, const TabRect& r, bool hover, bool pushed,
                                              bool enabled) {
    DrawButton(ctrl, dc, r, hover, pushed, enabled ? 5 : 6);
}

void TabCtrlStyle_base::DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) {
    const bool filled = ctrl->GetItemCount() > 0 && ctrl->GetSelectedTab() != nullptr;
    dc.FillRect(rect, filled ? GetWindowsAreaBackColor(ctrl) : GetEmptyWindowsAreaBackColor(ctrl));
}

// ================================================================= VS2010

namespace {

// Draws in a rectangle's rows as given for the top layout; in the bottom layout the rows
// are mirrored inside the rectangle.
struct Rows {
    const TabRect& r;
    bool top;
    int Y(int y) const { return top ? y : r.t + r.b - 1 - y; }
    TabRect Fill(TabRect f) const { return top ? f : TabRect{f.l, r.t + r.b - f.b, f.r, r.t + r.b - f.t}; }
};

void Pixel(TabDC& dc, const Rows& rows, int x, int y, TabColor c) { dc.SetPixel(x, rows.Y(y), c); }

// A gradient given top to bottom in the top layout; mirrored, its colours swap ends.
void Gradient(TabDC& dc, const Rows& rows, TabRect f, TabColor first, TabColor second) {
    if (rows.top) dc.GradientV(f, first, second);
    else dc.GradientV(rows.Fill(f), second, first);
}

// The corner pixels of a hovered VS2010 tab (top layout, outer edge t).
void HoverCorners(TabDC& dc, const Rows& rows, const TabRect& r) {
    const int l = r.l, t = r.t, rr = r.r;
    Pixel(dc, rows, l, t, Rgb(50, 65, 93));
    Pixel(dc, rows, rr - 1, t, Rgb(50, 65, 93));
    Pixel(dc, rows, l + 1, t, Rgb(120, 135, 157));
    Pixel(dc, rows, rr - 2, t, Rgb(120, 135, 157));
    Pixel(dc, rows, l, t + 1, Rgb(117, 130, 150));
    Pixel(dc, rows, rr - 1, t + 1, Rgb(117, 130, 150));
    Pixel(dc, rows, l + 1, t + 1, Rgb(115, 126, 139));
    Pixel(dc, rows, rr - 2, t + 1, Rgb(115, 126, 139));
}

}  // namespace

TabRect TabCtrlStyle_VS2010_client::GetTabPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    return IsTop(ctrl) ? TabRect{0, 0, 15, 0} : TabRect{5, 3, 5, 4};
}

TabColor TabCtrlStyle_VS2010_client::GetTabTextColor(const TabCtrl* ctrl, HTAB tab) {
    return tab == ctrl->GetSelectedTab() ? Rgb(13, 0, 5) : Rgb(248, 255, 255);
}

TabColor TabCtrlStyle_VS2010_client::GetButtonMarkerColor(const TabCtrl*, bool hover, bool pushed) {
    return hover || pushed ? Rgb(0, 0, 0) : Rgb(206, 212, 221);
}

void TabCtrlStyle_VS2010_client::DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) {
    dc.FillRect(rect, GetTabsAreaBackColor(ctrl));
}

void TabCtrlStyle_VS2010_client::DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect,
                                             const TabRect&) {
    if (tab->disabled) return;
    DrawTabBackground(ctrl, dc, rect, IsTop(ctrl), LooksActive(ctrl), tab == ctrl->GetSelectedTab(),
                      ctrl->GetHoveredTab() == tab);
}

void TabCtrlStyle_VS2010_client::DrawTabBackground(TabCtrl*, TabDC& dc, const TabRect& r, bool top, bool active,
                                                   bool selected, bool hover) {
    const Rows rows{r, top};
    const int mid = (r.t + r.b) / 2;
    if (selected) {
        const TabColor solid = active ? Rgb(255, 232, 166) : (top ? Rgb(248, 248, 255) : Rgb(206, 212, 223));
        dc.FillRect(rows.Fill({r.l, mid, r.r, r.b}), solid);
        if (active) Gradient(dc, rows, {r.l, r.t, r.r, mid}, Rgb(255, 252, 242), Rgb(255, 243, 207));
        else Gradient(dc, rows, {r.l, r.t, r.r, mid}, Rgb(251, 252, 252), Rgb(215, 220, 228));
        const TabColor corner = active ? Rgb(94, 109, 133) : Rgb(93, 109, 135);
        const TabColor along = active ? Rgb(195, 198, 199) : Rgb(192, 198, 206);
        const TabColor inward = active ? Rgb(195, 197, 197) : Rgb(190, 196, 204);
        Pixel(dc, rows, r.l, r.t, corner);
        Pixel(dc, rows, r.l + 1, r.t, along);
        Pixel(dc, rows, r.l, r.t + 1, inward);
        Pixel(dc, rows, r.r - 1, r.t, corner);
        Pixel(dc, rows, r.r - 2, r.t, along);
        Pixel(dc, rows, r.r - 1, r.t + 1, inward);
    } else if (hover) {
        const TabColor pen = Rgb(155, 167, 183);
        dc.Line(r.l, rows.Y(r.b), r.l, rows.Y(r.t), pen);
        dc.Line(r.l, rows.Y(r.t), r.r - 1, rows.Y(r.t), pen);
        dc.Line(r.r - 1, rows.Y(r.t), r.r - 1, rows.Y(r.b), pen);
        Gradient(dc, rows, {r.l + 1, r.t + 1, r.r - 1, r.b}, Rgb(111, 119, 118), Rgb(79, 95, 116));
        HoverCorners(dc, rows, r);
    }
}

void TabCtrlStyle_VS2010_client::DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) {
    if (ctrl->GetItemCount() > 0 && ctrl->GetSelectedTab() != nullptr) {
        DrawWindowsAreaFrame(ctrl, dc, rect, IsTop(ctrl), LooksActive(ctrl));
    } else {
        TabCtrlStyle_base::DrawWindowsArea(ctrl, dc, rect);
    }
}

void TabCtrlStyle_VS2010_client::DrawWindowsAreaFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& w, bool top,
                                                      bool active) {
    const TabColor band = active ? Rgb(255, 232, 166) : Rgb(206, 212, 223);
    const TabRect topBand{w.l, w.t, w.r, std::min(w.b, w.t + 4)};
    const TabRect bottomBand{w.l, std::max(w.t, w.b - 4), w.r, w.b};
    dc.FillRect(topBand, band);
    dc.FillRect(bottomBand, band);

    struct Corner {
        TabColor outer, along, inward;
    };
    const Corner leftNormal = active ? Corner{Rgb(86, 95, 105), Rgb(198, 188, 149), Rgb(195, 184, 144)}
                                     : Corner{Rgb(76, 91, 116), Rgb(163, 173, 190), Rgb(160, 169, 185)};
    const Corner leftHover = active ? Corner{Rgb(175, 180, 180), Rgb(205, 194, 152), Rgb(227, 214, 171)}
                                    : Corner{Rgb(165, 176, 191), Rgb(170, 179, 193), Rgb(192, 199, 212)};
    const Corner rightNormal = active ? Corner{Rgb(100, 106, 109), Rgb(205, 192, 148), Rgb(195, 184, 144)}
                                      : Corner{Rgb(87, 100, 124), Rgb(168, 176, 192), Rgb(160, 169, 185)};
    // edgeRow: the band's row on the windows area's edge; step: toward the middle.
    auto corners = [&](int edgeRow, int step, const Corner* left, const Corner* right) {
        if (left) {
            dc.SetPixel(w.l, edgeRow, left->outer);
            dc.SetPixel(w.l + 1, edgeRow, left->along);
            dc.SetPixel(w.l, edgeRow + step, left->inward);
        }
        if (right) {
            dc.SetPixel(w.r - 1, edgeRow, right->outer);
            dc.SetPixel(w.r - 2, edgeRow, right->along);
            dc.SetPixel(w.r - 1, edgeRow + step, right->inward);
        }
    };
    // The band next to the tabs.
    const Corner* nearLeft = &leftNormal;
    const Corner* nearRight = &rightNormal;
    if (ctrl->GetBehavior() == TabCtrl::BehaviorScroll) {
        nearLeft = nearRight = nullptr;
    } else {
        HTAB first = ctrl->GetItemHandle(0);
        if (first != nullptr && ctrl->GetSelectedTab() == first && !SingleShown(ctrl)) nearLeft = nullptr;
        else if (first != nullptr && ctrl->GetHoveredTab() == first) nearLeft = &leftHover;
    }
    if (top) {
        corners(w.t, 1, nearLeft, nearRight);
        corners(w.b - 1, -1, &leftNormal, &rightNormal);
    } else {
        corners(w.b - 1, -1, nearLeft, nearRight);
        corners(w.t, 1, &leftNormal, &rightNormal);
    }
}

void TabCtrlStyle_VS2010_client::DrawButtonFrame(TabCtrl*, TabDC& dc, const TabRect& rect, bool hover, bool pushed) {
    if (!hover && !pushed) return;
    dc.Outline(rect, Rgb(229, 195, 101));
    dc.FillRect(rect.Inflated(-1), hover && pushed ? Rgb(255, 232, 166) : Rgb(255, 252, 244));
}

TabRect TabCtrlStyle_VS2010_bars::GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    return ByLayout(ctrl, {0, 0, 3, 0});
}

TabColor TabCtrlStyle_VS2010_bars::GetTabTextColor(const TabCtrl* ctrl, HTAB tab) {
    return tab == ctrl->GetSelectedTab() ? Rgb(13, 0, 5) : Rgb(248, 255, 255);
}

TabColor TabCtrlStyle_VS2010_bars::GetButtonMarkerColor(const TabCtrl*, bool hover, bool pushed) {
    return hover || pushed ? Rgb(0, 0, 0) : Rgb(206, 212, 221);
}

void TabCtrlStyle_VS2010_bars::DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) {
    dc.FillRect(rect, GetTabsAreaBackColor(ctrl));
}

void TabCtrlStyle_VS2010_bars::DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& r, const TabRect&) {
    if (tab->disabled) return;
    const Rows rows{r, IsTop(ctrl)};
    if (tab == ctrl->GetSelectedTab()) {
        dc.FillRect(r, Rgb(255, 255, 255));
        Pixel(dc, rows, r.l, r.t, Rgb(103, 116, 138));
        Pixel(dc, rows, r.l + 1, r.t, Rgb(221, 224, 228));
        Pixel(dc, rows, r.l, r.t + 1, Rgb(197, 202, 210));
        Pixel(dc, rows, r.r - 1, r.t, Rgb(103, 116, 138));
        Pixel(dc, rows, r.r - 2, r.t, Rgb(221, 224, 228));
        Pixel(dc, rows, r.r - 1, r.t + 1, Rgb(197, 202, 210));
    } else if (ctrl->GetHoveredTab() == tab) {
        dc.Outline(r, Rgb(155, 167, 183));
        Gradient(dc, rows, r.Inflated(-1), Rgb(76, 92, 116), Rgb(111, 119, 118));
        HoverCorners(dc, rows, r);
    }
}

void TabCtrlStyle_VS2010_bars::DrawButtonFrame(TabCtrl*, TabDC& dc, const TabRect& rect, bool hover, bool pushed) {
    if (!hover && !pushed) return;
    dc.Outline(rect, Rgb(229, 195, 101));
    dc.FillRect(rect.Inflated(-1), hover && pushed ? Rgb(255, 232, 166) : Rgb(255, 252, 244));
}

// ================================================================= VS2003

TabColor TabCtrlStyle_VS2003_base::GetTabsAreaBackColor(const TabCtrl* c) {
    return MixColors(Sys(c, SysColor::BtnFace), Sys(c, SysColor::Highlight3D), 45);
}

TabColor TabCtrlStyle_VS2003_base::GetTabTextColor(const TabCtrl* c, HTAB tab) {
    const TabColor muted = MixColors(Sys(c, SysColor::BtnShadow), Rgb(0, 0, 0), 55);
    if (tab == c->GetSelectedTab()) {
        return c->IsWatchActivity() && !c->IsActive() ? muted : Sys(c, SysColor::BtnText);
    }
    return tab->disabled ? Sys(c, SysColor::GrayText) : muted;
}

TabColor TabCtrlStyle_VS2003_base::GetButtonMarkerColor(const TabCtrl* c, bool, bool) {
    if (c->GetSelectedTab() == nullptr) return Sys(c, SysColor::GrayText);
    return MixColors(Sys(c, SysColor::BtnShadow), Rgb(0, 0, 0), 55);
}

void TabCtrlStyle_VS2003_base::DrawButtonFrame(TabCtrl* c, TabDC& dc, const TabRect& rect, bool hover, bool pushed) {
    if (!hover) return;
    dc.DrawEdge(rect, !pushed, Sys(c, SysColor::Highlight3D), Sys(c, SysColor::BtnShadow));
}

TabRect TabCtrlStyle_VS2003_client::GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    return ByLayout(ctrl, {5, 2, 3, 0});
}

TabRect TabCtrlStyle_VS2003_client::GetWindowsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    if (SingleShown(ctrl)) return {2, 2, 2, 2};
    return ByLayout(ctrl, {2, 3, 2, 2});
}

void TabCtrlStyle_VS2003_client::DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& r) {
    dc.FillRect(r, GetTabsAreaBackColor(ctrl));
    const int y = IsTop(ctrl) ? r.b - 1 : r.t;
    dc.Line(r.l, y, r.r, y, Sys(ctrl, SysColor::Highlight3D));
    dc.Line(r.l, r.t, r.l, r.b, GetTabSelectedBackColor(ctrl));
    dc.Line(r.r - 1, r.t, r.r - 1, r.b, GetTabSelectedBackColor(ctrl));
}

void TabCtrlStyle_VS2003_client::DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& r, const TabRect&) {
    if (tab == ctrl->GetSelectedTab()) {
        dc.FillRect(r, GetTabSelectedBackColor(ctrl));
        if (IsTop(ctrl)) {
            dc.PolyLine({{r.l, r.b - 1}, {r.l, r.t}, {r.r, r.t}}, GetTabBorderColor(ctrl));
            dc.Line(r.r - 1, r.t + 1, r.r - 1, r.b, Sys(ctrl, SysColor::BtnText));
        } else {
            dc.PolyLine({{r.l, r.t}, {r.l, r.b - 1}, {r.r, r.b - 1}}, GetTabBorderColor(ctrl));
            dc.Line(r.r - 1, r.t, r.r - 1, r.b - 1, Sys(ctrl, SysColor::BtnText));
        }
        return;
    }
    const TabRect p = TabPadding(ctrl);
    dc.Line(r.r, r.t + p.t - 1, r.r, r.b - p.b + 1, Sys(ctrl, SysColor::BtnShadow));
}

void TabCtrlStyle_VS2003_client::DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& w) {
    if (ctrl->GetItemCount() == 0 || ctrl->GetSelectedTab() == nullptr) {
        TabCtrlStyle_base::DrawWindowsArea(ctrl, dc, w);
        return;
    }
    dc.FillRect(w, GetTabSelectedBackColor(ctrl));
    const TabRect frame = w.Deflated(GetWindowsAreaPadding(ctrl, nullptr)).Inflated(1);
    if (!frame.Empty()) dc.Outline(frame, GetBorderColor(ctrl));
}

void TabCtrlStyle_VS2003_bars::DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& r) {
    const TabColor c = GetTabSelectedBackColor(ctrl);
    if (IsTop(ctrl)) {
        dc.Line(r.l + 1, r.t, r.r - 1, r.t, c);
        dc.FillRect({r.l, r.t + 1, r.r, r.b - 3}, GetTabsAreaBackColor(ctrl));
        dc.Line(r.l + 1, r.b - 3, r.r - 1, r.b - 3, Sys(ctrl, SysColor::BtnText));
        dc.FillRect({r.l, r.b - 2, r.r, r.b}, c);
    } else {
        dc.Line(r.l + 1, r.b - 1, r.r - 1, r.b - 1, c);
        dc.FillRect({r.l, r.t + 3, r.r, r.b - 1}, GetTabsAreaBackColor(ctrl));
        dc.Line(r.l + 1, r.t + 2, r.r - 1, r.t + 2, Sys(ctrl, SysColor::BtnText));
        dc.FillRect({r.l, r.t, r.r, r.t + 2}, c);
    }
    dc.Line(r.l, r.t, r.l, r.b, c);
    dc.Line(r.r - 1, r.t, r.r - 1, r.b, c);
}

void TabCtrlStyle_VS2003_bars::DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& r, const TabRect&) {
    const TabColor c = GetTabSelectedBackColor(ctrl);
    const bool top = IsTop(ctrl);
    if (tab == ctrl->GetSelectedTab()) {
        if (top) {
            dc.FillRect({r.l + 1, r.t + 1, r.r - 1, r.b}, c);
            dc.PolyLine({{r.l + 1, r.t}, {r.r - 1, r.t}, {r.r - 1, r.b}}, GetTabBorderColor(ctrl));
            dc.Line(r.l, r.t, r.l, r.b - 1, Sys(ctrl, SysColor::Highlight3D));
        } else {
            dc.FillRect({r.l + 1, r.t, r.r - 1, r.b - 1}, c);
            dc.PolyLine({{r.l + 1, r.b - 1}, {r.r - 1, r.b - 1}, {r.r - 1, r.t - 1}}, GetTabBorderColor(ctrl));
            dc.Line(r.l, r.t + 1, r.l, r.b, Sys(ctrl, SysColor::Highlight3D));
        }
        return;
    }
    const TabRect p = TabPadding(ctrl);
    if (top) dc.Line(r.r, r.t + p.t, r.r, r.b - p.b - 1, Sys(ctrl, SysColor::BtnShadow));
    else dc.Line(r.r, r.t + p.t + 1, r.r, r.b - p.b, Sys(ctrl, SysColor::BtnShadow));
}

TabRect TabCtrlStyle_VS2003_bars_custom1::GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    return ByLayout(ctrl, {4, 1, 2, 0});
}

TabRect TabCtrlStyle_VS2003_bars_custom1::GetWindowsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    if (SingleShown(ctrl)) return {1, 1, 1, 1};
    return ByLayout(ctrl, {1, 0, 1, 1});
}

void TabCtrlStyle_VS2003_bars_custom1::DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& r) {
    if (IsTop(ctrl)) {
        dc.FillRect({r.l, r.t, r.r, r.b - 1}, GetTabsAreaBackColor(ctrl));
        dc.Line(r.l, r.b - 1, r.r, r.b - 1, GetTabBorderColor(ctrl));
    } else {
        dc.Line(r.l, r.t, r.r, r.t, GetTabBorderColor(ctrl));
        dc.FillRect({r.l, r.t + 1, r.r, r.b}, GetTabsAreaBackColor(ctrl));
    }
}

void TabCtrlStyle_VS2003_bars_custom1::DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) {
    DrawBarsCustom1Frame(*this, ctrl, dc, rect, GetTabBorderColor(ctrl));
}

void DrawBarsCustom1Frame(TabCtrlStyle_base& style, TabCtrl* ctrl, TabDC& dc, const TabRect& w, TabColor x) {
    if (ctrl->GetItemCount() == 0 || ctrl->GetSelectedTab() == nullptr) {
        style.TabCtrlStyle_base::DrawWindowsArea(ctrl, dc, w);
        return;
    }
    if (SingleShown(ctrl)) {
        dc.Outline(w, x);
    } else if (ctrl->GetLayout() == TabCtrl::LayoutTop) {
        dc.PolyLine({{w.l, w.t}, {w.l, w.b - 1}, {w.r - 1, w.b - 1}, {w.r - 1, w.t - 1}}, x);
    } else {
        dc.PolyLine({{w.l, w.b - 1}, {w.l, w.t}, {w.r - 1, w.t}, {w.r - 1, w.b}}, x);
    }
}

// ================================================================= VS2008 client

TabRect TabCtrlStyle_VS2008_client_base::GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    return ByLayout(ctrl, {0, 0, 3, 0});
}

TabRect TabCtrlStyle_VS2008_client_base::GetWindowsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    if (SingleShown(ctrl)) return {5, 5, 5, 5};
    return ByLayout(ctrl, {5, 3, 5, 5});
}

TabRect TabCtrlStyle_VS2008_client_base::GetTabPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    return IsTop(ctrl) ? TabRect{6, 3, 6, 5} : TabRect{6, 4, 6, 4};
}

int TabCtrlStyle_VS2008_client_base::GetTabExtraWidth(const TabCtrl* ctrl, ITabCtrlRecalc*, HTAB tab) {
    if (ctrl->GetItemIndex(tab) != 0) return 0;
    return std::max(0, ctrl->GetTabsStrip().Height() - 6);
}

int TabCtrlStyle_VS2008_client_base::GetTabMinWidth(const TabCtrl* ctrl, ITabCtrlRecalc* base) {
    return base->GetTabMinWidth(ctrl, base) + ctrl->GetTabsStrip().Height();
}

void TabCtrlStyle_VS2008_client_base::BuildTabShape(const TabCtrl* ctrl, HTAB tab, const TabRect& rect, bool top,
                                                    TabPoint* p, TabRect* fill) const {
    const bool selected = tab == ctrl->GetSelectedTab();
    const bool first = ctrl->GetItemIndex(tab) == 0;
    TabRect t = rect;
    int h = ctrl->GetTabsStrip().Height();
    if (!selected) {
        t.t += 2;
        t.b -= 2;
        h -= 4;
    }
    const int L = first ? (selected ? t.l : t.l + 4) : t.l + 6 - h;
    const int Tt = t.t, B = t.b, R = t.r;
    if (top) {
        p[0] = selected ? TabPoint{L + 2, B} : TabPoint{L, B};
        p[1] = selected ? TabPoint{L + 2, B - 2} : TabPoint{L + 1, B - 1};
        p[2] = {L + h - 2, Tt + 2};
        p[3] = {L + h + 3, Tt};
        p[4] = {R - 3, Tt};
        p[5] = {R - 1, Tt + 2};
        p[6] = selected ? TabPoint{R - 1, B - 1} : TabPoint{R - 1, B};
        p[7] = {R - 1, B};
    } else {
        p[0] = selected ? TabPoint{L + 2, Tt} : TabPoint{L, Tt};
        p[1] = selected ? TabPoint{L + 2, Tt + 1} : TabPoint{L + 1, Tt};
        p[2] = {L + h - 2, B - 3};
        p[3] = {L + h + 3, B - 1};
        p[4] = {R - 3, B - 1};
        p[5] = {R - 1, B - 3};
        p[6] = selected ? TabPoint{R - 1, Tt} : TabPoint{R - 1, Tt - 1};
        p[7] = {R - 1, Tt};
    }
    if (fill) {
        *fill = TabRect{L, Tt, R, B};
        if (!selected && !first) fill->l = rect.l;
    }
}

bool TabCtrlStyle_VS2008_client_base::IsPointInTabShape(const TabCtrl* ctrl, HTAB tab, bool top, int x,
                                                        int y) const {
    TabPoint points[8];
    BuildTabShape(ctrl, tab, tab->rect, top, points, nullptr);
    return PointInPolygon(std::vector<TabPoint>(points, points + 8), x, y);
}

HTAB TabCtrlStyle_VS2008_client_base::HitTest(const TabCtrl* ctrl, ITabCtrlBehavior*, int x, int y) {
    if (!ctrl->GetTabsStrip().Contains(x, y)) return nullptr;
    const bool top = IsTop(ctrl);
    HTAB selected = ctrl->GetSelectedTab();
    if (selected && IsPointInTabShape(ctrl, selected, top, x, y)) return selected;
    for (HTAB tab : ctrl->Items()) {
        if (tab != selected && IsPointInTabShape(ctrl, tab, top, x, y)) return tab;
    }
    return nullptr;
}

void TabCtrlStyle_VS2008_client_base::DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& r) {
    dc.FillRect(r, GetTabsAreaBackColor(ctrl));
    const bool none = ctrl->GetSelectedTab() == nullptr;
    const TabColor o1 = GetTabOutlineColor(ctrl, true, none);
    const TabColor l1 = GetTabInnerLineColor(ctrl, true, false, none, true);
    if (IsTop(ctrl)) {
        if (!none) {
            dc.PolyLine({{r.l + 1, r.b - 1}, {r.l + 2, r.b - 2}, {r.r - 3, r.b - 2}, {r.r - 1, r.b}}, o1);
            dc.Line(r.l + 2, r.b - 1, r.r - 2, r.b - 1, l1);
        } else {
            dc.Line(r.l, r.b - 2, r.r, r.b - 2, o1);
            dc.Line(r.l, r.b - 1, r.r, r.b - 1, l1);
        }
    } else {
        if (!none) {
            dc.PolyLine({{r.l + 1, r.t}, {r.l + 2, r.t + 1}, {r.r - 3, r.t + 1}, {r.r - 1, r.t - 1}}, o1);
            dc.Line(r.l + 2, r.t, r.r - 2, r.t, l1);
        } else {
            dc.Line(r.l, r.t + 1, r.r, r.t + 1, o1);
            dc.Line(r.l, r.t, r.r, r.t, l1);
        }
    }
}

void TabCtrlStyle_VS2008_client_base::DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect,
                                                  const TabRect& clip) {
    const bool selected = tab == ctrl->GetSelectedTab();
    const bool hover = IsHover(ctrl, tab);
    const bool disabled = tab->disabled;
    const TabColor o = GetTabOutlineColor(ctrl, selected, disabled);
    const TabColor u = GetTabFillOuterColor(ctrl, selected, hover, disabled);
    const TabColor v = GetTabFillBaseColor(ctrl, selected, hover, disabled);
    const TabColor lc = GetTabInnerLineColor(ctrl, selected, hover, disabled, true);
    const TabColor rc = GetTabInnerLineColor(ctrl, selected, hover, disabled, false);
    const bool top = IsTop(ctrl);
    TabPoint p[8];
    TabRect g;
    BuildTabShape(ctrl, tab, rect, top, p, &g);

    const QRegion saved = dc.Clip();
    const bool savedClipped = dc.HasClip();
    if (!savedClipped) dc.SetClipRect(clip);
    dc.IntersectClipPolygon(std::vector<TabPoint>(p, p + 8));
    if (top) dc.GradientV(g, u, v);
    else dc.GradientV(g, v, u);
    dc.PolyLine({{p[1].x + 1, p[1].y}, {p[2].x + 1, p[2].y}, {p[3].x + 1, p[3].y}}, lc);
    dc.PolyLine({{p[4].x - 1, p[4].y}, {p[5].x - 1, p[5].y}, {p[6].x - 1, p[6].y}}, rc);
    dc.RestoreClip(saved, savedClipped);
    dc.PolyLine({p[1], p[2], p[3], p[4], p[5], p[6]}, o);
}

void TabCtrlStyle_VS2008_client_base::DrawTabContent(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect,
                                                     const TabRect& clip) {
    TabRect content = rect;
    if (tab != ctrl->GetSelectedTab()) {
        if (IsTop(ctrl)) content.t += 2;
        else content.b -= 2;
    }
    content.l += GetTabExtraWidth(ctrl, nullptr, tab);
    TabCtrlStyle_base::DrawTabContent(ctrl, dc, tab, content, clip);
}

void TabCtrlStyle_VS2008_client_base::DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& w) {
    if (ctrl->GetItemCount() == 0 || ctrl->GetSelectedTab() == nullptr) {
        TabCtrlStyle_base::DrawWindowsArea(ctrl, dc, w);
        return;
    }
    const TabColor o = GetTabOutlineColor(ctrl, true, false);
    const TabColor lw = GetTabInnerLineColor(ctrl, true, false, false, true);
    const TabColor m = GetTabFillBaseColor(ctrl, true, false, false);
    const TabColor k = GetTabSelectedBackColor(ctrl);
    const int l = w.l, t = w.t, r = w.r, b = w.b;
    TabRect inner;
    const bool single = SingleShown(ctrl);
    if (single) {
        dc.PolyLine({{l, t + 2}, {l, b - 3}, {l + 2, b - 1}, {r - 3, b - 1}, {r - 1, b - 3}, {r - 1, t + 2},
                     {r - 3, t}, {l + 2, t}, {l, t + 2}},
                    o);
        for (TabPoint px : {TabPoint{l, t}, {l + 1, t}, {l, t + 1}, {r - 1, t}, {r - 2, t}, {r - 1, t + 1},
                            {l, b - 1}, {l + 1, b - 1}, {l, b - 2}, {r - 1, b - 1}, {r - 2, b - 1}, {r - 1, b - 2}})
            dc.SetPixel(px.x, px.y, k);
        inner = {l + 4, t + 4, r - 4, b - 4};
    } else if (IsTop(ctrl)) {
        dc.PolyLine({{l, t}, {l, b - 3}, {l + 2, b - 1}, {r - 3, b - 1}, {r - 1, b - 3}, {r - 1, t - 1}}, o);
        for (TabPoint px : {TabPoint{l, b - 1}, {l + 1, b - 1}, {l, b - 2}, {r - 1, b - 1}, {r - 2, b - 1}, {r - 1, b - 2}})
            dc.SetPixel(px.x, px.y, k);
        inner = {l + 4, t + 2, r - 4, b - 4};
    } else {
        dc.PolyLine({{l, b - 1}, {l, t + 2}, {l + 2, t}, {r - 3, t}, {r - 1, t + 2}, {r - 1, b}}, o);
        for (TabPoint px : {TabPoint{l, t}, {l + 1, t}, {l, t + 1}, {r - 1, t}, {r - 2, t}, {r - 1, t + 1}})
            dc.SetPixel(px.x, px.y, k);
        inner = {l + 4, t + 4, r - 4, b - 2};
    }
    if (!inner.Empty()) dc.Outline(inner, o);
    if (!inner.Inflated(1).Empty()) dc.Outline(inner.Inflated(1), m);
    if (!inner.Inflated(2).Empty()) dc.Outline(inner.Inflated(2), m);
    TabRect q;
    if (single) {
        q = inner.Inflated(3);
        if (!q.Empty()) {
            dc.Line(q.l, q.t + 1, q.l, q.b - 1, lw);
            dc.Line(q.l + 1, q.b - 1, q.r - 1, q.b - 1, lw);
            dc.Line(q.r - 1, q.b - 2, q.r - 1, q.t, lw);
            dc.Line(q.r - 2, q.t, q.l, q.t, lw);
        }
    } else if (IsTop(ctrl)) {
        q = {inner.l - 3, inner.t - 2, inner.r + 3, inner.b + 3};
        if (!q.Empty()) {
            dc.Line(q.l, q.t, q.l, q.b - 1, lw);
            dc.Line(q.l + 1, q.b - 1, q.r - 1, q.b - 1, lw);
            dc.Line(q.r - 1, q.b - 2, q.r - 1, q.t - 1, lw);
        }
    } else {
        q = {inner.l - 3, inner.t - 3, inner.r + 3, inner.b + 2};
        if (!q.Empty()) {
            dc.Line(q.l, q.b - 1, q.l, q.t, lw);
            dc.Line(q.l + 1, q.t, q.r - 1, q.t, lw);
            dc.Line(q.r - 1, q.t + 1, q.r - 1, q.b, lw);
        }
    }
}

TabColor TabCtrlStyle_VS2008_client_classic::GetTabOutlineColor(const TabCtrl* c, bool, bool) {
    return Sys(c, SysColor::BtnShadow);
}
TabColor TabCtrlStyle_VS2008_client_classic::GetTabInnerLineColor(const TabCtrl* c, bool selected, bool hover,
                                                                  bool disabled, bool) {
    if (selected || (hover && !disabled)) return Sys(c, SysColor::Window);
    return Sys(c, SysColor::BtnFace);
}
TabColor TabCtrlStyle_VS2008_client_classic::GetTabFillOuterColor(const TabCtrl* c, bool selected, bool hover,
                                                                  bool disabled) {
    if (selected || (hover && !disabled)) return Sys(c, SysColor::Highlight3D);
    return Sys(c, SysColor::BtnFace);
}
TabColor TabCtrlStyle_VS2008_client_classic::GetTabFillBaseColor(const TabCtrl* c, bool selected, bool hover,
                                                                 bool disabled) {
    if (selected) return Sys(c, SysColor::BtnFace);
    if (hover && !disabled) return Sys(c, SysColor::Highlight3D);
    return Sys(c, SysColor::BtnFace);
}

namespace {

struct ClientPalette {
    TabColor outlineSelected, outlineOther;
    TabColor innerDisabled, innerOtherLeft, innerOtherRight;
    TabColor outerSelected, outerHover, outerDisabled, outerOther;
    TabColor baseSelected, baseHover, baseDisabled, baseOther;
};

const ClientPalette kClientPalettes[3] = {
    {Rgb(105, 161, 191), Rgb(145, 150, 162), Rgb(140, 171, 204), Rgb(242, 250, 255), Rgb(140, 171, 204),
     Rgb(252, 253, 254), Rgb(247, 252, 254), Rgb(207, 223, 237), Rgb(236, 245, 252), Rgb(210, 230, 250),
     Rgb(129, 208, 241), Rgb(207, 223, 237), Rgb(152, 180, 210)},
    {Rgb(147, 145, 176), Rgb(157, 157, 161), Rgb(172, 171, 196), Rgb(255, 255, 255), Rgb(172, 171, 196),
     Rgb(247, 247, 253), Rgb(247, 247, 253), Rgb(203, 205, 217), Rgb(234, 235, 240), Rgb(225, 226, 236),
     Rgb(182, 185, 201), Rgb(203, 205, 217), Rgb(172, 171, 196)},
    {Rgb(147, 160, 112), Rgb(172, 168, 153), Rgb(165, 179, 133), Rgb(255, 255, 255), Rgb(165, 179, 133),
     Rgb(250, 251, 247), Rgb(245, 247, 240), Rgb(208, 217, 181), Rgb(241, 244, 233), Rgb(173, 190, 126),
     Rgb(197, 210, 165), Rgb(208, 217, 181), Rgb(165, 179, 133)},
};

// Button frames of the silver and olive VS2008 styles.
void OrangeButtonFrame(TabDC& dc, const TabRect& rect, bool hover, bool pushed, TabColor outline) {
    if (!hover && !pushed) return;
    dc.FillRect(rect, hover && pushed ? Rgb(255, 182, 115) : Rgb(255, 227, 173));
    dc.Outline(rect, outline);
}

}  // namespace

TabColor TabCtrlStyle_VS2008_client_colored::GetTabOutlineColor(const TabCtrl*, bool selected, bool) {
    const ClientPalette& p = kClientPalettes[palette_];
    return selected ? p.outlineSelected : p.outlineOther;
}
TabColor TabCtrlStyle_VS2008_client_colored::GetTabInnerLineColor(const TabCtrl*, bool selected, bool hover,
                                                                  bool disabled, bool leftSide) {
    const ClientPalette& p = kClientPalettes[palette_];
    if (selected || (hover && !disabled)) return Rgb(255, 255, 255);
    if (disabled) return p.innerDisabled;
    return leftSide ? p.innerOtherLeft : p.innerOtherRight;
}
TabColor TabCtrlStyle_VS2008_client_colored::GetTabFillOuterColor(const TabCtrl*, bool selected, bool hover,
                                                                  bool disabled) {
    const ClientPalette& p = kClientPalettes[palette_];
    if (selected) return p.outerSelected;
    if (hover && !disabled) return p.outerHover;
    return disabled ? p.outerDisabled : p.outerOther;
}
TabColor TabCtrlStyle_VS2008_client_colored::GetTabFillBaseColor(const TabCtrl*, bool selected, bool hover,
                                                                 bool disabled) {
    const ClientPalette& p = kClientPalettes[palette_];
    if (selected) return p.baseSelected;
    if (hover && !disabled) return p.baseHover;
    return disabled ? p.baseDisabled : p.baseOther;
}
void TabCtrlStyle_VS2008_client_colored::DrawButtonFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover,
                                                         bool pushed) {
    if (palette_ == 0) return TabCtrlStyle_base::DrawButtonFrame(ctrl, dc, rect, hover, pushed);
    OrangeButtonFrame(dc, rect, hover, pushed, palette_ == 1 ? Rgb(74, 73, 107) : Rgb(118, 128, 95));
}

// ================================================================= VS2008 bars

TabRect TabCtrlStyle_VS2008_bars_base::GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    return ByLayout(ctrl, {0, 1, 0, 2});
}

TabRect TabCtrlStyle_VS2008_bars_base::GetTabPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    return ByLayout(ctrl, {3, 4, 3, 2});
}

TabRect TabCtrlStyle_VS2008_bars_custom1_base::GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    return ByLayout(ctrl, {0, 1, 0, 0});
}

TabRect TabCtrlStyle_VS2008_bars_custom1_base::GetWindowsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) {
    if (SingleShown(ctrl)) return {1, 1, 1, 1};
    return ByLayout(ctrl, {1, 0, 1, 1});
}

TabColor TabCtrlStyle_VS2008_bars_base::GetTabOutlineColor(const TabCtrl* c, bool hot) {
    switch (palette_) {
        case 0: return hot ? Rgb(60, 127, 177) : Rgb(137, 140, 149);
        case 1: return hot ? Rgb(119, 119, 146) : Rgb(137, 140, 149);
        case 2: return hot ? Rgb(143, 158, 116) : Rgb(137, 140, 149);
        default: return hot ? Sys(c, SysColor::DkShadow3D) : Sys(c, SysColor::BtnShadow);
    }
}

TabColor TabCtrlStyle_VS2008_bars_base::GetTabFillOuterColor(const TabCtrl* c, bool hover, bool disabled) {
    const bool hot = hover && !disabled;
    switch (palette_) {
        case 0: return hot ? Rgb(250, 253, 254) : Rgb(252, 252, 252);
        case 1: return hot ? Rgb(247, 247, 253) : Rgb(252, 252, 252);
        case 2: return hot ? Rgb(250, 251, 247) : Rgb(252, 252, 252);
        default: return Sys(c, SysColor::Window);
    }
}

TabColor TabCtrlStyle_VS2008_bars_base::GetTabFillBaseColor(const TabCtrl* c, bool hover, bool disabled) {
    const bool hot = hover && !disabled;
    switch (palette_) {
        case 0: return hot ? Rgb(167, 217, 245) : Rgb(207, 207, 207);
        case 1: return hot ? Rgb(180, 179, 202) : Rgb(207, 207, 207);
        case 2: return hot ? Rgb(182, 198, 141) : Rgb(207, 207, 207);
        default: return MixColors(Sys(c, SysColor::BtnShadow), Rgb(255, 255, 255), hot ? 75 : 55);
    }
}

TabColor TabCtrlStyle_VS2008_bars_base::GetTabTextColor(const TabCtrl* c, HTAB tab) {
    if (tab->disabled) return Sys(c, SysColor::GrayText);
    if (tab == c->GetSelectedTab()) return Sys(c, SysColor::BtnText);
    return MixColors(Sys(c, SysColor::BtnShadow), Rgb(0, 0, 0), 55);
}

int TabCtrlStyle_VS2008_bars_base::AreaLineY(const TabCtrl* ctrl, const TabRect& r) const {
    return ctrl->GetLayout() == TabCtrl::LayoutTop ? r.b - 3 : r.t + 2;
}

int TabCtrlStyle_VS2008_bars_custom1_base::AreaLineY(const TabCtrl* ctrl, const TabRect& r) const {
    return ctrl->GetLayout() == TabCtrl::LayoutTop ? r.b - 1 : r.t;
}

void TabCtrlStyle_VS2008_bars_base::DrawTabsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& r) {
    dc.FillRect(r, GetTabsAreaBackColor(ctrl));
    const int y = AreaLineY(ctrl, r);
    dc.Line(r.l, y, r.r, y, GetTabOutlineColor(ctrl, false));
}

void TabCtrlStyle_VS2008_bars_custom1_base::DrawWindowsArea(TabCtrl* ctrl, TabDC& dc, const TabRect& rect) {
    DrawBarsCustom1Frame(*this, ctrl, dc, rect, GetTabOutlineColor(ctrl, false));
}

void TabCtrlStyle_VS2008_bars_base::DrawTabBack(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rc,
                                                const TabRect&) {
    const int l = rc.l, t = rc.t, r = rc.r, b = rc.b;
    const bool top = IsTop(ctrl);
    const TabColor p = GetTabOutlineColor(ctrl, false);
    HTAB selected = ctrl->GetSelectedTab();
    const bool first = ctrl->GetItemIndex(tab) == 0;
    if (tab == selected) {
        dc.FillRect(rc, GetWindowsAreaBackColor(ctrl));
        if (top) dc.PolyLine({{l, first ? b - 1 : b - 2}, {l, t}, {r - 1, t}, {r - 1, b - 1}}, p);
        else dc.PolyLine({{l, first ? t : t + 1}, {l, b - 1}, {r - 1, b - 1}, {r - 1, t}}, p);
        return;
    }
    const bool hover = IsHover(ctrl, tab);
    const TabColor h = GetTabOutlineColor(ctrl, true);
    const TabColor u = GetTabFillOuterColor(ctrl, hover, tab->disabled);
    const TabColor v = GetTabFillBaseColor(ctrl, hover, tab->disabled);
    const bool leftOfSelected = selected == nullptr || ctrl->CompareItemOrder(tab, selected) < 0;
    const TabRect rr = top ? TabRect{l, t + 2, r, b - 1} : TabRect{l, t + 1, r, b - 2};
    const int tp = rr.t, bp = rr.b;
    if (top) dc.GradientV(rr, u, v);
    else dc.GradientV(rr, v, u);
    const TabColor edge = hover && !tab->disabled ? h : p;
    if (top) {
        if (leftOfSelected) dc.PolyLine({{l, bp - 1}, {l, tp}, {r, tp}}, edge);
        else dc.PolyLine({{l, tp}, {r - 1, tp}, {r - 1, bp}}, edge);
    } else {
        if (leftOfSelected) dc.PolyLine({{l, tp}, {l, bp - 1}, {r, bp - 1}}, edge);
        else dc.PolyLine({{l, bp - 1}, {r - 1, bp - 1}, {r - 1, tp - 1}}, edge);
    }
    if (leftOfSelected) {
        if (top) dc.Line(l + 1, tp + 1, l + 1, bp, u);
        else dc.Line(l + 1, tp, l + 1, bp - 1, u);
    } else {
        if (top) dc.Line(r - 2, tp + 1, r - 2, bp, u);
        else dc.Line(r - 2, tp, r - 2, bp - 1, u);
    }
    if (leftOfSelected && ctrl->GetItemIndex(tab) == ctrl->GetItemCount() - 1) dc.Line(r - 1, tp, r - 1, bp, p);
}

void TabCtrlStyle_VS2008_bars_base::DrawTabContent(TabCtrl* ctrl, TabDC& dc, HTAB tab, const TabRect& rect,
                                                   const TabRect& clip) {
    TabRect content = rect;
    if (tab == ctrl->GetSelectedTab()) {
        if (IsTop(ctrl)) content.t -= 2;
        else content.b += 2;
    }
    TabCtrlStyle_base::DrawTabContent(ctrl, dc, tab, content, clip);
}

void TabCtrlStyle_VS2008_bars_base::DrawButtonFrame(TabCtrl* ctrl, TabDC& dc, const TabRect& rect, bool hover,
                                                    bool pushed) {
    if (palette_ == 1 || palette_ == 2) {
        OrangeButtonFrame(dc, rect, hover, pushed, palette_ == 1 ? Rgb(74, 73, 107) : Rgb(118, 128, 95));
        return;
    }
    TabCtrlStyle_base::DrawButtonFrame(ctrl, dc, rect, hover, pushed);
}

// ================================================================= complex

std::vector<TabCtrlComplex::NamedStyle> TabCtrlComplex::AllStyles() {
    return {
        {"TabCtrlStyle_base", &TabCtrlStyle_base_},
        {"TabCtrlStyle_VS2003_client", &TabCtrlStyle_VS2003_client_},
        {"TabCtrlStyle_VS2003_client_custom1", &TabCtrlStyle_VS2003_client_custom1_},
        {"TabCtrlStyle_VS2003_bars", &TabCtrlStyle_VS2003_bars_},
        {"TabCtrlStyle_VS2003_bars_custom1", &TabCtrlStyle_VS2003_bars_custom1_},
        {"TabCtrlStyle_VS2008_client_classic", &TabCtrlStyle_VS2008_client_classic_},
        {"TabCtrlStyle_VS2008_client_blue", &TabCtrlStyle_VS2008_client_blue_},
        {"TabCtrlStyle_VS2008_client_silver", &TabCtrlStyle_VS2008_client_silver_},
        {"TabCtrlStyle_VS2008_client_olive", &TabCtrlStyle_VS2008_client_olive_},
        {"TabCtrlStyle_VS2008_bars_classic", &TabCtrlStyle_VS2008_bars_classic_},
        {"TabCtrlStyle_VS2008_bars_classic_custom1", &TabCtrlStyle_VS2008_bars_classic_custom1_},
        {"TabCtrlStyle_VS2008_bars_blue", &TabCtrlStyle_VS2008_bars_blue_},
        {"TabCtrlStyle_VS2008_bars_blue_custom1", &TabCtrlStyle_VS2008_bars_blue_custom1_},
        {"TabCtrlStyle_VS2008_bars_silver", &TabCtrlStyle_VS2008_bars_silver_},
        {"TabCtrlStyle_VS2008_bars_silver_custom1", &TabCtrlStyle_VS2008_bars_silver_custom1_},
        {"TabCtrlStyle_VS2008_bars_olive", &TabCtrlStyle_VS2008_bars_olive_},
        {"TabCtrlStyle_VS2008_bars_olive_custom1", &TabCtrlStyle_VS2008_bars_olive_custom1_},
        {"TabCtrlStyle_VS2010_client", &TabCtrlStyle_VS2010_client_},
        {"TabCtrlStyle_VS2010_client_custom1", &TabCtrlStyle_VS2010_client_custom1_},
        {"TabCtrlStyle_VS2010_client_custom2", &TabCtrlStyle_VS2010_client_custom2_},
        {"TabCtrlStyle_VS2010_bars", &TabCtrlStyle_VS2010_bars_},
    };
}
