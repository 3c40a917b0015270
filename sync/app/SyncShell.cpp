#include "sync/app/SyncShell.h"

#include <log4cpp/Category.hh>

#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"

namespace {
std::string Printable(const std::u16string& text) { return EscapeForLog(BaseFunc::WideToUtf8(text)); }
}  // namespace

bool HeadlessTray::Create(const std::string& tooltipKey, int iconId) {
    std::lock_guard<std::mutex> hold(lock_);
    state_.created = true;
    state_.icon = iconId;
    state_.tooltipKey = tooltipKey;
    SyncLog().debug("tray (no desktop): icon " + std::to_string(iconId) + ", tooltip '" + tooltipKey + "'");
    return true;
}

void HeadlessTray::SetIcon(int iconId) {
    std::lock_guard<std::mutex> hold(lock_);
    state_.icon = iconId;
}

void HeadlessTray::Animate() {
    std::lock_guard<std::mutex> hold(lock_);
    state_.animating = true;
}

void HeadlessTray::StopAnimation() {
    std::lock_guard<std::mutex> hold(lock_);
    state_.animating = false;
}

void HeadlessTray::SetTooltipText(const std::string& key) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!key.empty()) state_.tooltipKey = key;
    SyncLog().debug("tray (no desktop): tooltip '" + state_.tooltipKey + "'");
}

void HeadlessTray::SetPauseForm(bool paused) {
    std::lock_guard<std::mutex> hold(lock_);
    state_.pauseForm = paused;
}

void HeadlessTray::SetMenu(int menuId) {
    std::lock_guard<std::mutex> hold(lock_);
    state_.menu = menuId;
}

void HeadlessTray::SetLanguage(int language) {
    std::lock_guard<std::mutex> hold(lock_);
    state_.language = language;
}

void HeadlessTray::Remove() {
    std::lock_guard<std::mutex> hold(lock_);
    state_.created = false;
}

HeadlessTray::State HeadlessTray::Snapshot() const {
    std::lock_guard<std::mutex> hold(lock_);
    return state_;
}

void HeadlessShell::MessageBox(const std::string& caption, const std::string& text) {
    SyncLog().warn("message box (no desktop): " + caption + ": " + text);
    std::lock_guard<std::mutex> hold(lock_);
    boxes_.push_back(caption + ": " + text);
}

bool HeadlessShell::Confirm(const std::string& caption, const std::string& text) {
    SyncLog().warn("confirmation (no desktop), answered Cancel: " + caption + ": " + text);
    std::lock_guard<std::mutex> hold(lock_);
    boxes_.push_back(caption + ": " + text);
    return false;
}

void HeadlessShell::OpenFolder(const std::u16string& path) {
    SyncLog().debug("open folder (no desktop): '" + Printable(path) + "'");
}

void HeadlessShell::OpenUrl(const std::string& url) {
    SyncLog().debug("open address (no desktop): '" + EscapeForLog(url) + "'");
}

void HeadlessShell::NotifyAssociationsChanged() {}

std::optional<std::u16string> HeadlessShell::BrowseForFolder(const std::u16string& title,
                                                             const std::u16string& current) {
    SyncLog().debug("folder choice (no desktop), cancelled; the folder stays '" + Printable(current) + "'");
    return std::nullopt;
}

void HeadlessShell::RunDetails() { SyncLog().debug("sync details window (no desktop): not shown"); }

void HeadlessShell::RunAbout() { SyncLog().debug("about dialog (no desktop): not shown"); }

void HeadlessShell::RunUpdateNotice() { SyncLog().debug("update notice (no desktop): not shown"); }

std::vector<std::string> HeadlessShell::Boxes() const {
    std::lock_guard<std::mutex> hold(lock_);
    return boxes_;
}
