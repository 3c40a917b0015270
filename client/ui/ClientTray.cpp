#include "client/ui/ClientTray.h"

#include "client/ui/ClientResources.h"
#include "client/ui/UiTexts.h"
#include "platform/text.h"

namespace client_tray {

std::vector<MenuItem> BuildMenu(const MenuState& state, const UiTexts& texts) {
    const bool in = state.loggedIn;
    const bool syncing = in && state.syncRunning;
    MenuItem sync{0, texts.Text("Sync"), true, 0, {}};
    sync.submenu = {
        {kCmdSyncToggle, texts.Text(state.syncRunning ? "Close" : "Open"), in, 0, {}},
        {},
        {kCmdCloudPath, texts.Text("Cloud path"), syncing, 0, {}},
        {kCmdSyncList, texts.Text("Sync list"), syncing, 0, {}},
        {kCmdSyncPause, texts.Text(state.syncPaused ? "Restore sync" : "Pause sync"), syncing, 0, {}},
        {},
        {kCmdChangePath, texts.Text("Change path"), syncing, 0, {}},
    };
    return {
        {kCmdMainWindow, texts.Text("Main Window"), in, 0, {}},
        {kCmdTransferList, texts.Text("Transfer List"), in, 0, {}},
        {kCmdCloudWeb, texts.Text("Cloud Web"), in, client_ui::kMenuBitmapWeb, {}},
        {},
        sync,
        {},
        {kCmdLogin, texts.Text(in ? "Logout" : "Login"), true, 0, {}},
        {kCmdExit, texts.Text("Exit"), true, 0, {}},
        {},
        {kCmdConfigure, texts.Text("Configure"), true, client_ui::kMenuBitmapSettings, {}},
        {kCmdAbout, texts.Text("About"), true, 0, {}},
    };
}

const MenuItem* FindItem(const std::vector<MenuItem>& menu, std::uint32_t id) {
    for (const MenuItem& item : menu) {
        if (item.id == id && !item.separator()) return &item;
        if (const MenuItem* inner = FindItem(item.submenu, id)) return inner;
    }
    return nullptr;
}

std::string CutToUnits(const std::string& text, std::size_t units) {
    std::u16string wide = plat::ToUtf16(text);
    if (wide.size() <= units) return text;
    std::size_t cut = units;
    // Never keep half of a surrogate pair.
    if (cut > 0 && wide[cut - 1] >= 0xD800 && wide[cut - 1] <= 0xDBFF) --cut;
    wide.resize(cut);
    return plat::ToUtf8(wide);
}

}  // namespace client_tray
