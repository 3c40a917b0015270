#include "sync/ui/tabctrl/TabCtrl.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

#include "sync/ui/tabctrl/TabDC.h"

TabColor MixColors(TabColor a, TabColor b, int percent) {
    auto mix = [percent](int x, int y) { return (x * percent + y * (100 - percent)) / 100; };
    return Rgb(mix(RedOf(a), RedOf(b)), mix(GreenOf(a), GreenOf(b)), mix(BlueOf(a), BlueOf(b)));
}

TabColor SystemColors::Get(SysColor which) const {
    switch (which) {
        case SysColor::BtnFace: return btnFace;
        case SysColor::BtnShadow: return btnShadow;
        case SysColor::BtnText: return btnText;
        case SysColor::Window: return window;
        case SysColor::WindowText: return windowText;
        case SysColor::GrayText: return grayText;
        case SysColor::Highlight: return highlight;
        case SysColor::Highlight3D: return highlight3d;
        case SysColor::DkShadow3D: return dkShadow3d;
        case SysColor::AppWorkspace: return appWorkspace;
    }
    return btnFace;
}

// ---------------------------------------------------------------- hooks

namespace {

// The subscribers of one hook. A call walks a copy of the keys taken at its start and
// skips every subscriber removed meanwhile (by itself or by another), so removing during
// a call never touches a freed subscriber and never skips one that stays.
template <typename Notify, typename Value>
struct Subscribers {
    std::map<Notify*, Value> entries;
    template <typename Call>
    void ForEach(Call call) {
        std::vector<Notify*> order;
        for (const auto& [notify, value] : entries) order.push_back(notify);
        for (Notify* notify : order) {
            auto it = entries.find(notify);
            if (it == entries.end()) continue;
            const Value value = it->second;
            call(notify, value);
        }
    }
};

Subscribers<KeyboardHook::Notify, bool>& Keyboard() {
    static Subscribers<KeyboardHook::Notify, bool> subscribers;
    return subscribers;
}

Subscribers<ActivityHook::INotify, TabWindow>& Activity() {
    static Subscribers<ActivityHook::INotify, TabWindow> subscribers;
    return subscribers;
}

}  // namespace

bool KeyboardHook::Add(Notify* notify) {
    Keyboard().entries[notify] = true;
    return true;
}
void KeyboardHook::Remove(Notify* notify) { Keyboard().entries.erase(notify); }
bool KeyboardHook::IsExist(Notify* notify) { return Keyboard().entries.count(notify) > 0; }
void KeyboardHook::KeyDown(int key, unsigned flags) {
    Keyboard().ForEach([&](Notify* notify, bool) { notify->OnKeyDown(key, flags); });
}

bool ActivityHook::Add(INotify* notify, TabWindow window) {
    Activity().entries[notify] = window;
    return true;
}
void ActivityHook::Remove(INotify* notify) { Activity().entries.erase(notify); }
bool ActivityHook::IsExist(INotify* notify) { return Activity().entries.count(notify) > 0; }
void ActivityHook::FocusChanged(bool gained, TabWindow target, IsInside inside) {
    Activity().ForEach([&](INotify* notify, TabWindow window) {
        if (inside(target, window)) notify->OnActive(gained, target);
    });
}

// ---------------------------------------------------------------- default managers

class TabCtrl::Service final : public ITabCtrlRecalc, public ITabCtrlBehavior, public ITabCtrlToolTip {
public:
    int GetBorderWidth(const TabCtrl*, ITabCtrlRecalc*) override { return 1; }
    TabRect GetTabsAreaPadding(const TabCtrl* ctrl, ITabCtrlRecalc*) override {
        return ctrl->GetLayout() == LayoutTop ? TabRect{3, 1, 3, 2} : TabRect{3, 2, 3, 1};
    }
    TabRect GetWindowsAreaPadding(const TabCtrl*, ITabCtrlRecalc*) override { return {}; }
    TabRect GetTabHorzMargin(const TabCtrl*, ITabCtrlRecalc*) override { return {}; }
    TabRect GetTabPadding(const TabCtrl*, ITabCtrlRecalc*) override { return {5, 3, 5, 3}; }
    int GetTabImageTextGap(const TabCtrl*, ITabCtrlRecalc*) override { return 3; }
    int GetTabExtraWidth(const TabCtrl*, ITabCtrlRecalc*, HTAB) override { return 0; }
    int GetTabMinWidth(const TabCtrl* ctrl, ITabCtrlRecalc* base) override {
        int images = 0;
        if (TabImageList* n = ctrl->GetImageList(false)) images = std::max(images, n->ImageSize().cx);
        if (TabImageList* d = ctrl->GetImageList(true)) images = std::max(images, d->ImageSize().cx);
        ITabCtrlRecalc* recalc = ctrl->GetRecalcManager();
        const TabRect padding = recalc->GetTabPadding(ctrl, base);
        return images + padding.l + padding.r;
    }
    TabRect GetScrollLeftMargin(const TabCtrl*, ITabCtrlRecalc*) override { return {8, 0, 0, 0}; }
    TabRect GetScrollRightMargin(const TabCtrl*, ITabCtrlRecalc*) override { return {}; }
    TabRect GetMenuButtonMargin(const TabCtrl*, ITabCtrlRecalc*) override { return {8, 0, 0, 0}; }
    TabRect GetCloseButtonMargin(const TabCtrl*, ITabCtrlRecalc*) override { return {2, 0, 2, 0}; }

    HTAB HitTest(const TabCtrl* ctrl, ITabCtrlBehavior*, int x, int y) override {
        if (!ctrl->GetTabsStrip().Contains(x, y)) return nullptr;
        for (HTAB tab : ctrl->Items()) {
            if (tab->rect.Contains(x, y)) return tab;
        }
        return nullptr;
    }
    bool SetCursor(TabCtrl* ctrl, ITabCtrlBehavior* base) override {
        if (!ctrl->tabCursor_ || ctrl->Host() == nullptr) return false;
        int x = 0, y = 0;
        ctrl->Host()->CursorPos(x, y);
        if (ctrl->GetBehaviorManager()->HitTest(ctrl, base, x, y) == nullptr) return false;
        ctrl->Host()->ShowTabCursor();
        return true;
    }

    bool CreateToolTip(TabCtrl*) override { return true; }
};

TabCtrl::TabCtrl() : service_(std::make_unique<Service>()) {
    recalc_ = service_.get();
    behavior_mgr_ = service_.get();
    tooltip_ = service_.get();
}

TabCtrl::~TabCtrl() {
    OnDestroy();
    for (HTAB tab : tabs_) delete tab;
    tabs_.clear();
}

ITabCtrlRecalc* TabCtrl::GetDefaultRecalc() const { return service_.get(); }
ITabCtrlBehavior* TabCtrl::GetDefaultBehavior() const { return service_.get(); }

bool TabCtrl::Create(TabCtrlHost* host) {
    host_ = host;
    if (!fontNormalSet_) SetFontNormal(TabFont{});
    if (!fontSelectedSet_) SetFontSelected(TabFont{});
    tooltipMade_ = tooltip_->CreateToolTip(this);
    if (closeTip_.empty()) closeTip_ = u"Close";
    if (menuTip_.empty()) menuTip_ = u"Menu";
    if (leftTip_.empty()) leftTip_ = u"Scroll Left";
    if (rightTip_.empty()) rightTip_ = u"Scroll Right";
    if (watchActivity_ && ownWindow_ != nullptr) activitySubscribed_ = ActivityHook::Add(this, ownWindow_);
    alive_ = std::make_shared<bool>(true);
    return true;
}

void TabCtrl::SetButtonToolTipTexts(std::u16string close, std::u16string menu, std::u16string left,
                                    std::u16string right) {
    closeTip_ = std::move(close);
    menuTip_ = std::move(menu);
    leftTip_ = std::move(left);
    rightTip_ = std::move(right);
}

// ---------------------------------------------------------------- tabs

HTAB TabCtrl::InsertItem(std::size_t position, TabWindow window, const std::u16string& text, int image) {
    if (notify_) notify_->OnInsertItem(this, window, text, image);
    auto* tab = new TabItem;
    tab->window = window;
    tab->text = text;
    tab->image = image;
    position = std::min(position, tabs_.size());
    tabs_.insert(tabs_.begin() + static_cast<std::ptrdiff_t>(position), tab);
    if (selected_ != nullptr) {
        if (host_ && host_->IsWindowValid(window)) host_->ShowWindow(window, false);
    } else {
        selected_ = GetFirstEnabledItem();
    }
    if (notify_) notify_->OnItemInserted(this, tab);
    return tab;
}

void TabCtrl::DeleteAllItems() {
    for (HTAB tab : tabs_) {
        if (notify_) notify_->OnRemoveItem(this, tab);
        if (host_ && host_->IsWindowValid(tab->window)) host_->ShowWindow(tab->window, false);
        delete tab;
    }
    tabs_.clear();
    StopButtonPress();
    StopDragging(true);
    selected_ = hovered_ = pushed_ = nullptr;
    scrollPos_ = 0;
    partialView_ = canScrollLeft_ = canScrollRight_ = false;
}

void TabCtrl::MoveItemBefore(HTAB anchor, HTAB tab) {
    if (anchor == tab) return;
    const int a = GetItemIndex(anchor), t = GetItemIndex(tab);
    if (a < 0 || t < 0 || t + 1 == a) return;
    tabs_.erase(tabs_.begin() + t);
    tabs_.insert(tabs_.begin() + GetItemIndex(anchor), tab);
}

void TabCtrl::MoveItemAfter(HTAB anchor, HTAB tab) {
    if (anchor == tab) return;
    const int a = GetItemIndex(anchor), t = GetItemIndex(tab);
    if (a < 0 || t < 0 || t == a + 1) return;
    tabs_.erase(tabs_.begin() + t);
    tabs_.insert(tabs_.begin() + GetItemIndex(anchor) + 1, tab);
}

HTAB TabCtrl::GetItemHandle(int index) const {
    return index >= 0 && index < static_cast<int>(tabs_.size()) ? tabs_[static_cast<std::size_t>(index)] : nullptr;
}

int TabCtrl::GetItemIndex(HTAB tab) const {
    const auto it = std::find(tabs_.begin(), tabs_.end(), tab);
    return it == tabs_.end() ? -1 : static_cast<int>(it - tabs_.begin());
}

bool TabCtrl::IsItemExist(HTAB tab) const { return GetItemIndex(tab) >= 0; }

int TabCtrl::CompareItemOrder(HTAB a, HTAB b) const {
    if (a == b) return 0;
    for (HTAB tab : tabs_) {
        if (tab == a) return -1;
        if (tab == b) return 1;
    }
    return -1;
}

HTAB TabCtrl::GetFirstEnabledItem() const {
    for (HTAB tab : tabs_) {
        if (!tab->disabled) return tab;
    }
    return nullptr;
}

HTAB TabCtrl::GetNextEnabledItem(HTAB tab) const {
    const int index = GetItemIndex(tab);
    if (index < 0) return GetFirstEnabledItem();
    for (std::size_t i = static_cast<std::size_t>(index) + 1; i < tabs_.size(); ++i) {
        if (!tabs_[i]->disabled) return tabs_[i];
    }
    return nullptr;
}

HTAB TabCtrl::GetPrevEnabledItem(HTAB tab) const {
    const int index = GetItemIndex(tab);
    if (index < 0) return nullptr;
    for (int i = index - 1; i >= 0; --i) {
        if (!tabs_[static_cast<std::size_t>(i)]->disabled) return tabs_[static_cast<std::size_t>(i)];
    }
    return nullptr;
}

TabRect TabCtrl::WindowsAreaLessPadding() const {
    return windowsArea_.Deflated(recalc_->GetWindowsAreaPadding(this, GetDefaultRecalc()));
}

void TabCtrl::SelectItem(HTAB tab) {
    if (tab == selected_ || tab == nullptr || tab->disabled || !IsItemExist(tab)) return;
    if (host_ && host_->IsWindowValid(tab->window)) {
        const TabRect place = WindowsAreaLessPadding();
        if (host_->WindowRect(tab->window) != place) host_->MoveWindow(tab->window, place);
        host_->ShowWindow(tab->window, true);
    }
    if (selected_ && host_ && host_->IsWindowValid(selected_->window)) host_->ShowWindow(selected_->window, false);
    selected_ = tab;
}

void TabCtrl::DisableItem(HTAB tab, bool disable) {
    if (IsItemExist(tab)) tab->disabled = disable;
}

void TabCtrl::SetItemTooltipText(HTAB tab, const std::u16string& text) {
    if (IsItemExist(tab)) tab->tooltip = text;
}

bool TabCtrl::IsSystemButton(HTAB value) {
    return value == kBtnClose || value == kBtnMenu || value == kBtnScrollLeft || value == kBtnScrollRight;
}

// ---------------------------------------------------------------- style and fonts

void TabCtrl::InstallStyle(ITabCtrlStyle* style) {
    draw_ = style ? style->GetDrawManager() : nullptr;
    ITabCtrlRecalc* recalc = style ? style->GetRecalcManager() : nullptr;
    ITabCtrlBehavior* behavior = style ? style->GetBehaviorManager() : nullptr;
    ITabCtrlToolTip* tooltip = style ? style->GetToolTipManager() : nullptr;
    recalc_ = recalc ? recalc : service_.get();
    behavior_mgr_ = behavior ? behavior : service_.get();
    tooltip_ = tooltip ? tooltip : service_.get();
}

bool TabCtrl::SetFontNormal(const TabFont& font) {
    fontNormal_ = font;
    fontNormalSet_ = true;
    return true;
}

bool TabCtrl::SetFontSelected(const TabFont& font) {
    fontSelected_ = font;
    fontSelectedSet_ = true;
    return true;
}

void TabCtrl::SetImageLists(TabImageList* normal, TabImageList* disabled) {
    normalImages_ = normal;
    disabledImages_ = disabled;
}

void TabCtrl::SetSystemImageList(TabImageList* images) { systemImages_ = images; }

int TabCtrl::FontHeight(bool selected) const { return host_ ? host_->TextExtent(u"H", selected).cy : 0; }

int TabCtrl::TabTextWidth(const TabItem& tab) const {
    int width = minTextWidth_;
    if (host_) {
        width = std::max(width, host_->TextExtent(tab.text, false).cx);
        width = std::max(width, host_->TextExtent(tab.text, true).cx);
    }
    return width;
}

// ---------------------------------------------------------------- layout

void TabCtrl::MoveSelectedWindow() {
    if (!selected_ || !host_ || !host_->IsWindowValid(selected_->window)) return;
    const TabRect place = WindowsAreaLessPadding();
    if (host_->WindowRect(selected_->window) != place) host_->MoveWindow(selected_->window, place);
    if (!host_->IsWindowVisible(selected_->window)) host_->ShowWindow(selected_->window, true);
}

void TabCtrl::Update() {
    ITabCtrlRecalc* base = GetDefaultRecalc();
    const TabRect client = host_ ? host_->ClientRect() : TabRect{};
    windowsArea_ = client;
    if (borderShown_) {
        const int border = recalc_->GetBorderWidth(this, base);
        windowsArea_ = windowsArea_.Deflated({border, border, border, border});
    }
    tabsArea_ = tabsStrip_ = closeRect_ = menuRect_ = scrollLeftRect_ = scrollRightRect_ = TabRect{};

    auto finish = [this] {
        // Step 9: the tooltip's tool covers the tabs area (the Qt host asks for the text
        // whenever the pointer rests, so nothing is to be kept).
    };

    if (tabs_.empty()) {
        selected_ = nullptr;
        partialView_ = canScrollLeft_ = canScrollRight_ = false;
        maxScroll_ = scrollPos_ = 0;
        finish();
        return;
    }
    if (tabs_.size() == 1 && hideSingleTab_) {
        HTAB only = tabs_.front();
        only->rect = TabRect{};
        only->width = 0;
        if (selected_ && selected_ != only && host_ && host_->IsWindowValid(selected_->window))
            host_->ShowWindow(selected_->window, false);
        if (!only->disabled) {
            selected_ = only;
            MoveSelectedWindow();
        } else {
            selected_ = nullptr;
            if (host_ && host_->IsWindowValid(only->window)) host_->ShowWindow(only->window, false);
        }
        partialView_ = canScrollLeft_ = canScrollRight_ = false;
        finish();
        return;
    }

    // Step 3: the height of the tabs area.
    const TabRect areaPadding = recalc_->GetTabsAreaPadding(this, base);
    const TabRect tabPadding = recalc_->GetTabPadding(this, base);
    int content = std::max(minTextHeight_, std::max(FontHeight(false), FontHeight(true)));
    if (normalImages_) content = std::max(content, normalImages_->ImageSize().cy);
    if (disabledImages_) content = std::max(content, disabledImages_->ImageSize().cy);
    const int systemHeight = systemImages_ ? systemImages_->ImageSize().cy : 0;
    const int height = areaPadding.t + areaPadding.b + std::max(systemHeight, tabPadding.t + tabPadding.b + content);

    // Step 4.
    if (layout_ == LayoutTop) {
        tabsArea_ = windowsArea_;
        tabsArea_.b = tabsArea_.t + height;
        windowsArea_.t = tabsArea_.b;
        if (windowsArea_.b < windowsArea_.t) windowsArea_.b = windowsArea_.t;
    } else {
        tabsArea_ = windowsArea_;
        tabsArea_.t = tabsArea_.b - height;
        windowsArea_.b = tabsArea_.t;
        if (windowsArea_.t > windowsArea_.b) windowsArea_.t = windowsArea_.b;
    }

    // Step 5: selection repair.
    const HTAB previous = selected_;
    if (selected_ && !IsItemExist(selected_)) selected_ = nullptr;
    if (selected_ && selected_->disabled) {
        HTAB next = GetNextEnabledItem(selected_);
        selected_ = next ? next : GetPrevEnabledItem(selected_);
    }
    if (!selected_) selected_ = GetFirstEnabledItem();
    MoveSelectedWindow();
    if (previous && previous != selected_ && IsItemExist(previous) && host_ && host_->IsWindowValid(previous->window))
        host_->ShowWindow(previous->window, false);

    // Step 6: widths.
    tabsStrip_ = tabsArea_.Deflated(areaPadding);
    int widest = 0;
    for (HTAB tab : tabs_) {
        int width = tabPadding.l + tabPadding.r + recalc_->GetTabExtraWidth(this, base, tab) + TabTextWidth(*tab);
        TabImageList* images = tab->disabled ? disabledImages_ : normalImages_;
        if (tab->image >= 0 && images) width += images->ImageSize().cx + recalc_->GetTabImageTextGap(this, base);
        tab->width = std::max(width, recalc_->GetTabMinWidth(this, base));
        widest = std::max(widest, tab->width);
    }
    if (equalWidths_) {
        for (HTAB tab : tabs_) tab->width = widest;
    }

    // Step 7: the buttons.
    const bool glyphs = systemImages_ != nullptr;
    const TabSize button = glyphs ? systemImages_->ImageSize() : TabSize{};
    const int buttonTop = (tabsStrip_.t + tabsStrip_.b - button.cy) / 2;
    auto place = [&](int right) { return TabRect{right - button.cx, buttonTop, right, buttonTop + button.cy}; };
    if (closeShown_ && glyphs && ability_->CanShowCloseButton(this)) {
        const TabRect margin = recalc_->GetCloseButtonMargin(this, base);
        closeRect_ = place(tabsStrip_.r - margin.r);
        tabsStrip_.r = closeRect_.l - margin.l;
    }
    if (menuShown_ && glyphs && ability_->CanShowMenuButton(this)) {
        const TabRect margin = recalc_->GetMenuButtonMargin(this, base);
        menuRect_ = place(tabsStrip_.r - margin.r);
        tabsStrip_.r = menuRect_.l - margin.l;
    }
    if (scrollShown_ && glyphs && behavior_ == BehaviorScroll && ability_->CanShowScrollButtons(this)) {
        const TabRect rightMargin = recalc_->GetScrollRightMargin(this, base);
        const TabRect leftMargin = recalc_->GetScrollLeftMargin(this, base);
        scrollRightRect_ = place(tabsStrip_.r - rightMargin.r);
        scrollLeftRect_ = place(scrollRightRect_.l - leftMargin.r - rightMargin.l);
        tabsStrip_.r = scrollLeftRect_.l - leftMargin.l;
    }

    // Step 8: placement.
    const TabRect margin = recalc_->GetTabHorzMargin(this, base);
    const int count = static_cast<int>(tabs_.size());
    const int visible = std::max(0, tabsStrip_.r - tabsStrip_.l - 1);
    int total = 0;
    for (HTAB tab : tabs_) total += tab->width;
    total += count * (margin.l + margin.r);
    maxScroll_ = std::max(0, total - visible);
    scrollPos_ = std::clamp(scrollPos_, 0, maxScroll_);
    partialView_ = maxScroll_ > 0;
    canScrollLeft_ = partialView_ && scrollPos_ > 0;
    canScrollRight_ = partialView_ && scrollPos_ < maxScroll_;

    auto placeTab = [&](HTAB tab, int& x, int width) {
        tab->rect = TabRect{x + margin.l, tabsStrip_.t, x + margin.l + width, tabsStrip_.b};
        x += width + margin.l + margin.r;
    };
    if (behavior_ == BehaviorScroll) {
        int x = tabsStrip_.l - scrollPos_;
        for (HTAB tab : tabs_) placeTab(tab, x, tab->width);
    } else if (total <= visible) {
        int x = tabsStrip_.l;
        for (HTAB tab : tabs_) placeTab(tab, x, tab->width);
    } else {
        const int minimum = recalc_->GetTabMinWidth(this, base);
        const int average = std::max(1, (visible - count * (margin.l + margin.r)) / count);
        int x = tabsStrip_.l;
        if (equalWidths_) {
            for (HTAB tab : tabs_) placeTab(tab, x, std::max(minimum, average));
        } else {
            long long excess = 0;
            for (HTAB tab : tabs_) {
                if (tab->width > average) excess += tab->width - average;
            }
            for (std::size_t i = 0; i < tabs_.size(); ++i) {
                HTAB tab = tabs_[i];
                int width = tab->width;
                if (i + 1 == tabs_.size()) {
                    width = std::max(minimum, tabsStrip_.r - margin.r - margin.l - x - 1);
                } else if (tab->width > average && excess > 0) {
                    const double share = static_cast<double>(tab->width - average) / static_cast<double>(excess) *
                                         static_cast<double>(total - visible);
                    width = std::max(minimum, tab->width - static_cast<int>(share + 0.5));
                }
                placeTab(tab, x, width);
            }
        }
    }
    finish();
}

// ---------------------------------------------------------------- mouse

void TabCtrl::HoverUpdate() {
    if (!host_) return;
    int x = 0, y = 0;
    host_->CursorPos(x, y);
    Hover(x, y);
}

void TabCtrl::Hover(int x, int y) {
    HTAB now = nullptr;
    if (selected_ != nullptr && closeRect_.Contains(x, y)) now = kBtnClose;
    else if (selected_ != nullptr && menuRect_.Contains(x, y)) now = kBtnMenu;
    else if (selected_ != nullptr && scrollLeftRect_.Contains(x, y)) now = kBtnScrollLeft;
    else if (selected_ != nullptr && scrollRightRect_.Contains(x, y)) now = kBtnScrollRight;
    else now = behavior_mgr_->HitTest(this, GetDefaultBehavior(), x, y);
    if (now != hovered_) {
        hovered_ = now;
        if (host_) {
            host_->RedrawNow();
            host_->PopToolTip();
        }
    }
}

void TabCtrl::OnMouseMove(int x, int y) {
    Hover(x, y);
    if (!draggingAllowed_ || pushed_ == nullptr || IsSystemButton(pushed_)) return;
    HTAB dragged = pushed_;
    if (!dragActive_) {
        if (x >= pressX_ - 3 && x < pressX_ + 3 && y >= pressY_ - 3 && y < pressY_ + 3) return;
        dragActive_ = true;
        KeyboardHook::Add(this);
        dragBackup_ = tabs_;
        int sx = x, sy = y;
        if (host_) host_->ToScreen(sx, sy);
        if (notify_) notify_->OnStartDrag(this, dragged, sx, sy);
    }
    int sx = x, sy = y;
    if (host_) host_->ToScreen(sx, sy);
    if (tabsArea_.Contains(x, y)) {
        HTAB over = hovered_;
        if (over != nullptr && !IsSystemButton(over) && over != dragged && !over->disabled) {
            bool moved = false;
            const int width = dragged->rect.Width();
            if (CompareItemOrder(over, dragged) > 0) {
                if (x >= over->rect.r - width && x < over->rect.r) {
                    MoveItemAfter(over, dragged);
                    moved = true;
                }
            } else if (x >= over->rect.l && x < over->rect.l + width) {
                MoveItemBefore(over, dragged);
                moved = true;
            }
            if (moved) {
                Update();
                Hover(x, y);
                if (host_) host_->Invalidate();
            }
        }
        if (notify_) notify_->OnDrag(this, dragged, sx, sy, false);
    } else if (notify_) {
        notify_->OnDrag(this, dragged, sx, sy, true);
    }
}

void TabCtrl::OnMouseLeave() {
    hovered_ = nullptr;
    if (host_) host_->Invalidate();
}

void TabCtrl::FocusSelected() {
    if (selected_ && host_ && host_->IsWindowValid(selected_->window) && !host_->HasFocus(selected_->window))
        host_->SetFocus(selected_->window);
}

void TabCtrl::PressAt(int x, int y) {
    HTAB target = hovered_;
    if (target != nullptr && !IsSystemButton(target) && IsItemExist(target)) {
        if (!target->disabled && draggingAllowed_) {
            pressX_ = x;
            pressY_ = y;
            pushed_ = target;
            if (host_) host_->SetCapture(true);
        }
        int sx = x, sy = y;
        if (host_) host_->ToScreen(sx, sy);
        if (notify_) notify_->OnLButtonDown(this, target, sx, sy);
        if (!target->disabled && target != selected_) {
            SelectItem(target);
            Update();
            if (notify_) notify_->OnTabSelected(this, target);
        }
    } else if (IsSystemButton(target)) {
        pushed_ = target;
        if (target == kBtnScrollLeft) {
            scrollPos_ -= scrollStep_;
            if (host_) host_->SetTimer(1, 300);
            Update();
        } else if (target == kBtnScrollRight) {
            scrollPos_ += scrollStep_;
            if (host_) host_->SetTimer(3, 300);
            Update();
        }
        if (host_) host_->SetCapture(true);
    }
    if (host_) host_->Invalidate();
}

void TabCtrl::OnLButtonDown(int x, int y) {
    PressAt(x, y);
    FocusSelected();
}

void TabCtrl::OnLButtonDblClk(int x, int y) {
    PressAt(x, y);
    if (hovered_ != nullptr && !IsSystemButton(hovered_) && notify_) {
        int sx = x, sy = y;
        if (host_) host_->ToScreen(sx, sy);
        notify_->OnLButtonDblClk(this, hovered_, sx, sy);
    }
}

void TabCtrl::StopButtonPress() {
    if (pushed_ && IsSystemButton(pushed_)) {
        if (host_) {
            for (int id = 1; id <= 4; ++id) host_->KillTimer(id);
            host_->SetCapture(false);
        }
        pushed_ = nullptr;
    }
}

void TabCtrl::StopDragging(bool cancel) {
    HTAB dragged = nullptr;
    if (pushed_ && !IsSystemButton(pushed_)) {
        dragged = pushed_;
        pushed_ = nullptr;
        if (host_) host_->SetCapture(false);
    }
    if (!dragActive_) return;
    dragActive_ = false;
    KeyboardHook::Remove(this);
    if (cancel && !dragBackup_.empty()) {
        // Only tabs that still exist come back, in their old order.
        std::vector<HTAB> restored;
        for (HTAB tab : dragBackup_) {
            if (std::find(tabs_.begin(), tabs_.end(), tab) != tabs_.end()) restored.push_back(tab);
        }
        if (restored.size() == tabs_.size()) tabs_ = restored;
        Update();
    }
    dragBackup_.clear();
    if (notify_) notify_->OnFinishDrag(this, dragged, cancel);
}

void TabCtrl::OnLButtonUp(int x, int y) {
    if (pushed_ == nullptr) return;
    HTAB clicked = nullptr;
    if (pushed_ == kBtnClose && closeRect_.Contains(x, y)) clicked = kBtnClose;
    if (pushed_ == kBtnMenu && menuRect_.Contains(x, y)) clicked = kBtnMenu;
    StopButtonPress();
    if (host_) host_->Invalidate();
    StopDragging(false);
    if (clicked == nullptr || notify_ == nullptr) return;
    pushed_ = clicked;
    std::shared_ptr<bool> alive = alive_;
    const TabRect button = clicked == kBtnClose ? closeRect_ : menuRect_;
    int sx = x, sy = y;
    if (host_) host_->ToScreen(sx, sy);
    if (clicked == kBtnClose) notify_->OnCloseButtonClicked(this, button, sx, sy);
    else notify_->OnMenuButtonClicked(this, button, sx, sy);
    if (alive && *alive) {
        pushed_ = nullptr;
        if (host_) host_->Invalidate();
    }
}

void TabCtrl::OnRButtonDown(int x, int y) {
    FocusSelected();
    if (IsSystemButton(hovered_) || !notify_) return;
    int sx = x, sy = y;
    if (host_) host_->ToScreen(sx, sy);
    notify_->OnRButtonDown(this, hovered_, sx, sy);
}

void TabCtrl::OnRButtonUp(int x, int y) {
    if (IsSystemButton(hovered_) || !notify_) return;
    int sx = x, sy = y;
    if (host_) host_->ToScreen(sx, sy);
    notify_->OnRButtonUp(this, hovered_, sx, sy);
}

void TabCtrl::OnMButtonDown() { FocusSelected(); }
void TabCtrl::OnSetFocus() { FocusSelected(); }

void TabCtrl::OnCaptureChanged(bool toAnotherWindow) {
    if (!toAnotherWindow) return;
    StopButtonPress();
    StopDragging(true);
    if (host_) host_->Invalidate();
}

void TabCtrl::OnTimer(int id) {
    switch (id) {
        case 1:
        case 3:
            if (host_) host_->KillTimer(id);
            if ((id == 1 && pushed_ == kBtnScrollLeft) || (id == 3 && pushed_ == kBtnScrollRight)) {
                if (host_) host_->SetTimer(id + 1, 20);
            }
            break;
        case 2:
        case 4:
            if ((id == 2 && hovered_ == kBtnScrollLeft) || (id == 4 && hovered_ == kBtnScrollRight)) {
                scrollPos_ += id == 2 ? -scrollStep_ : scrollStep_;
                Update();
                if (host_) host_->Invalidate();
            }
            break;
        default: break;
    }
}

bool TabCtrl::OnSetCursor() { return behavior_mgr_->SetCursor(this, GetDefaultBehavior()); }

void TabCtrl::OnSize() {
    Update();
    if (host_) host_->Invalidate();
}

void TabCtrl::OnDestroy() {
    if (host_ == nullptr && !activitySubscribed_ && !dragActive_) return;
    DeleteAllItems();
    if (activitySubscribed_) {
        ActivityHook::Remove(this);
        activitySubscribed_ = false;
    }
    KeyboardHook::Remove(this);
    if (alive_) *alive_ = false;
    alive_.reset();
    host_ = nullptr;
}

void TabCtrl::OnActive(bool active, TabWindow) {
    if (active_ == active) return;
    active_ = active;
    if (host_) host_->Invalidate();
}

void TabCtrl::OnKeyDown(int key, unsigned) {
    if (key == 27 && dragActive_) {
        StopDragging(true);
        if (host_) host_->Invalidate();
    }
}

// ---------------------------------------------------------------- tooltip and painting

std::u16string TabCtrl::ToolTipText() const {
    if (!tooltipsShown_ || !tooltipMade_) return {};
    if (hovered_ == kBtnClose) return closeTip_;
    if (hovered_ == kBtnMenu) return menuTip_;
    if (hovered_ == kBtnScrollLeft) return leftTip_;
    if (hovered_ == kBtnScrollRight) return rightTip_;
    if (hovered_ == nullptr || !IsItemExist(hovered_)) return {};
    const int left = std::max(hovered_->rect.l, tabsStrip_.l);
    const int right = std::min(hovered_->rect.r, tabsStrip_.r);
    if (right <= left) return {};
    if (!hovered_->tooltip.empty()) return hovered_->tooltip;
    if (right - left < hovered_->width) return hovered_->text;
    return {};
}

void TabCtrl::Paint(TabDC& dc) {
    if (draw_ == nullptr) return;
    draw_->DrawBegin(this, dc);
    if (!tabs_.empty()) {
        draw_->DrawTabsArea(this, dc, tabsArea_);
        TabRect clip = tabsStrip_;
        if (clip.r < clip.l) clip.r = clip.l;
        dc.SelectFont(false);
        dc.SetClipRect(clip);
        std::vector<HTAB> order = tabs_;
        if (!draw_->IsDrawTabsInOrder(this)) std::reverse(order.begin(), order.end());
        for (HTAB tab : order) {
            if (tab == selected_) continue;
            if (tab->rect.r > tabsStrip_.l && tab->rect.l < tabsStrip_.r) draw_->DrawTab(this, dc, tab, clip);
        }
        if (selected_) {
            dc.SelectFont(!(watchActivity_ && !active_));
            draw_->DrawTab(this, dc, selected_, clip);
        }
        dc.ClearClip();
        dc.SelectFont(false);
        auto state = [this](HTAB button, bool& hover, bool& pushed) {
            hover = hovered_ == button && (pushed_ == nullptr || pushed_ == button);
            pushed = pushed_ == button;
        };
        bool hover = false, pushed = false;
        if (!scrollLeftRect_.Empty()) {
            state(kBtnScrollLeft, hover, pushed);
            draw_->DrawScrollLeftButton(this, dc, scrollLeftRect_, hover, pushed, canScrollLeft_);
            state(kBtnScrollRight, hover, pushed);
            draw_->DrawScrollRightButton(this, dc, scrollRightRect_, hover, pushed, canScrollRight_);
        }
        if (!menuRect_.Empty()) {
            state(kBtnMenu, hover, pushed);
            draw_->DrawMenuButton(this, dc, menuRect_, hover, pushed, partialView_);
        }
        if (!closeRect_.Empty()) {
            state(kBtnClose, hover, pushed);
            draw_->DrawCloseButton(this, dc, closeRect_, hover, pushed);
        }
    }
    const TabRect padding = recalc_->GetWindowsAreaPadding(this, GetDefaultRecalc());
    const bool paddingZero = padding == TabRect{};
    if (!(!tabs_.empty() && selected_ != nullptr && paddingZero)) draw_->DrawWindowsArea(this, dc, windowsArea_);
    if (borderShown_ && recalc_->GetBorderWidth(this, GetDefaultRecalc()) > 0 && host_)
        draw_->DrawBorder(this, dc, host_->ClientRect());
    draw_->DrawEnd(this, dc);
}
