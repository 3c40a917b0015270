#include "sync/ui/SystemTray.h"

#include <algorithm>
#include <sstream>

#include "platform/text.h"
#include "sync/ui/LanguageIni.h"

// ---------------------------------------------------------------- menus

bool TrayMenu::Delete(std::uint32_t id) {
    const auto it = std::find_if(items.begin(), items.end(), [id](const TrayMenuItem& i) { return i.id == id; });
    if (it == items.end() || id == 0) return false;
    items.erase(it);
    return true;
}

bool TrayMenu::SetText(std::uint32_t id, const std::u16string& text) {
    for (TrayMenuItem& item : items) {
        if (item.id == id && id != 0) {
            item.text = text;
            return true;
        }
    }
    return false;
}

const TrayMenuItem* TrayMenu::Find(std::uint32_t id) const {
    for (const TrayMenuItem& item : items) {
        if (item.id == id && id != 0) return &item;
    }
    return nullptr;
}

std::optional<TrayMenu> ParseMenuResource(int resourceId, const std::string& text) {
    TrayMenu menu;
    menu.resourceId = resourceId;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        line = line.substr(start);
        if (line == "-") {
            menu.items.push_back(TrayMenuItem{});
            continue;
        }
        const auto space = line.find(' ');
        if (space == std::string::npos) return std::nullopt;
        TrayMenuItem item;
        try {
            item.id = static_cast<std::uint32_t>(std::stoul(line.substr(0, space)));
        } catch (...) {
            return std::nullopt;
        }
        std::string label = line.substr(space + 1);
        // Trailing marks, in any order.
        for (bool marked = true; marked;) {
            marked = false;
            for (auto [mark, flag] : {std::pair<std::string_view, bool*>{" [checked]", &item.checked},
                                      std::pair<std::string_view, bool*>{" [disabled]", &item.disabled}}) {
                if (label.size() > mark.size() && label.compare(label.size() - mark.size(), mark.size(), mark) == 0) {
                    *flag = true;
                    label.resize(label.size() - mark.size());
                    marked = true;
                }
            }
        }
        if (item.id == 0 || label.empty()) return std::nullopt;
        item.text = plat::ToUtf16(label);
        menu.items.push_back(std::move(item));
    }
    if (menu.items.empty()) return std::nullopt;
    return menu;
}

// ---------------------------------------------------------------- the icon

namespace {
std::u16string Cut(std::u16string text, std::size_t max) {
    if (text.size() > max) {
        std::size_t cut = max;
        if (text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
        text.resize(cut);
    }
    return text;
}
}  // namespace

CSystemTray::CSystemTray(TrayBackend& backend, CLanguageIni& language, Environment environment)
    : backend_(backend), language_(language), env_(std::move(environment)) {
    enabled_ = backend_.Enabled();
    balloons_ = backend_.BalloonsSupported();
    if (plat::MessageLoop* loop = plat::MessageLoop::Current())
        window_ = loop->CreateWindow([this](plat::Message& message) { return Proc(message); });
    backend_.SetNotifyWindow(window_);
}

CSystemTray::~CSystemTray() {
    DeleteIcon();
    backend_.SetNotifyWindow(plat::kNoWindow);
    if (window_ != plat::kNoWindow) plat::DestroyWindow(window_);
}

plat::MsgResult CSystemTray::Proc(plat::Message& message) {
    if (message.message == WM_TRAY_NOTIFY) {
        return HandleTrayMessage(static_cast<std::uint32_t>(message.wParam), static_cast<std::uint32_t>(message.lParam));
    }
    if (message.message == plat::kWmTimer && message.wParam == TIMER_TRAY_ANIMATION) {
        // The duration is unlimited: the animation runs until StopAnimation.
        NextFrame();
    }
    return 0;
}

bool CSystemTray::Create(const std::u16string& tooltip, int icon, int iconId, bool hidden,
                         const std::u16string& balloonText, const std::u16string& balloonTitle,
                         BalloonIcon balloonIcon, std::uint32_t balloonTimeoutSeconds) {
    enabled_ = backend_.Enabled();
    balloons_ = backend_.BalloonsSupported();
    if (!enabled_) return false;
    created_ = true;
    iconId_ = static_cast<std::uint32_t>(iconId);
    data_ = TrayIconData{};
    data_.icon = icon;
    data_.tip = Cut(tooltip, kMaxTip);
    if (balloons_ && !balloonText.empty()) {
        data_.balloonText = Cut(balloonText, 255);
        data_.balloonTitle = Cut(balloonTitle, 63);
        data_.balloonIcon = balloonIcon;
        data_.balloonTimeoutMs = balloonTimeoutSeconds * 1000;
    }
    data_.hidden = balloons_ && hidden;
    bool added = false;
    if (!(hidden && !balloons_)) added = backend_.Add(data_);
    hidden_ = removed_ = showPending_ = !added;
    if (added && hidden && balloons_) hidden_ = true;
    data_.balloonText.clear();
    return added;
}

bool CSystemTray::DeleteIcon() {
    showPending_ = false;
    if (!enabled_ || removed_) return true;
    if (backend_.Delete()) hidden_ = removed_ = true;
    return removed_;
}

bool CSystemTray::ModifyUnlessHidden() {
    if (hidden_) return true;
    return backend_.Modify(data_);
}

bool CSystemTray::SetIcon(int icon) {
    if (!enabled_) return false;
    data_.icon = icon;
    return ModifyUnlessHidden();
}

void CSystemTray::SetTooltipText(const std::u16string& key, bool retranslate) {
    if (!retranslate) tooltipKey_ = key;
    const std::u16string text = language_.GetString(std::u16string_view(tooltipKey_));
    if (!enabled_) return;
    data_.tip = Cut(text, kMaxTip);
    ModifyUnlessHidden();
}

bool CSystemTray::SetIconList() {
    animationIcons_ = {253, 254};
    return true;
}

void CSystemTray::Animate() {
    if (animationIcons_.empty()) return;
    StopAnimation();
    frame_ = 0;
    savedIcon_.reset();
    if (enabled_) savedIcon_ = data_.icon;
    if (window_ != plat::kNoWindow) animationTimer_ = plat::SetTimer(window_, TIMER_TRAY_ANIMATION, kAnimationMs);
}

void CSystemTray::StopAnimation() {
    if (animationTimer_) {
        plat::KillTimer(window_, TIMER_TRAY_ANIMATION);
        animationTimer_ = false;
    }
    if (savedIcon_ && enabled_) {
        data_.icon = *savedIcon_;
        ModifyUnlessHidden();
    }
    savedIcon_.reset();
}

void CSystemTray::NextFrame() {
    if (animationIcons_.empty()) return;
    frame_ = (frame_ + 1) % animationIcons_.size();
    data_.icon = animationIcons_[frame_];
    ModifyUnlessHidden();
}

std::optional<TrayMenu> CSystemTray::TranslatedMenu(std::uint32_t id) {
    std::optional<TrayMenu> menu = backend_.LoadMenu(static_cast<int>(id));
    if (!menu) return std::nullopt;
    for (TrayMenuItem& item : menu->items) {
        if (!item.separator()) item.text = language_.GetString(std::u16string_view(item.text));
    }
    return menu;
}

int CSystemTray::HandleTrayMessage(std::uint32_t iconId, std::uint32_t mouseMessage) {
    if (iconId != 129 && iconId != 203) return 0;
    const plat::WindowId target = target_;
    if (target == plat::kNoWindow) return 0;
    if (mouseMessage == kWmRButtonUp) {
        std::optional<TrayMenu> menu = TranslatedMenu(iconId);
        if (!menu) return 1;
        AdjustMenu(*menu);
        backend_.ShowMenu(*menu, target);
    } else if (mouseMessage == kWmLButtonDblClk) {
        std::optional<TrayMenu> menu = backend_.LoadMenu(static_cast<int>(iconId));
        if (!menu) return 1;
        std::uint32_t command = 0;
        if (defaultByPosition_) {
            if (defaultItem_ < menu->items.size()) command = menu->items[defaultItem_].id;
        } else {
            command = defaultItem_;
        }
        if (command != 0) plat::PostMessage(target, kWmCommand, command, 0);
    }
    return 1;
}

void CSystemTray::AdjustMenu(TrayMenu& menu) {
    // The pause item always shows the pause state; the update check stays only while a
    // server listing has been read.
    const int serverState = env_.serverState ? env_.serverState() : 0;
    if (serverState != 2) menu.Delete(kCmdCheckUpdate);
    const bool paused = env_.paused && env_.paused();
    menu.SetText(kCmdSyncControl, language_.GetString(paused ? u"恢复同步" : u"暂停同步"));
}

void CSystemTray::OnShellRestart() {
    showPending_ = true;
    if (!created_ || !enabled_) return;
    const bool added = backend_.Add(data_);
    hidden_ = showPending_ = !added;
    removed_ = !added;
}
