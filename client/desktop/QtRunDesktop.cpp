#include "client/desktop/QtRunDesktop.h"

#include <QCoreApplication>

#include "client/desktop/QtClientWindows.h"
#include "client/ui/ClientTray.h"
#include "client/ui/QtClientTray.h"
#include "platform/qt/LoopPump.h"

namespace {

class QtRun final : public ClientRun {
public:
    QtRun(ClientControl& control, Config& config, const UiTexts& texts, plat::MessageLoop& loop,
          ClientDesktop* desktop, const ClientRunPlaces& places)
        : pump_(QCoreApplication::instance() != nullptr ? std::make_unique<plat::qt::LoopPump>(loop) : nullptr),
          toolkitLanguage_(QCoreApplication::instance() != nullptr ? std::make_unique<QtToolkitLanguage>(control)
                                                                    : nullptr),
          windows_(control, config, texts, desktop ? *desktop : desktop_, places.version) {
        windows_.SetPlaces(places.configPath, places.dataFolder, places.exePath);
    }

    ClientDesktop& Desktop() override { return desktop_; }
    ClientWindowOpeners& Windows() override { return windows_; }
    // Made when the tray window first asks for it.
    client_tray::TrayPort& Tray() override {
        if (!tray_) tray_ = std::make_unique<QtClientTray>();
        return *tray_;
    }
    void TrayWindowReady(plat::WindowId window) override {
        windows_.SetTransferListCommand(
            [window] { plat::PostMessage(window, client_tray::kWmCommand, client_tray::kCmdTransferList); });
        // A lost session the browser could not renew: the tray's Login logs out and opens
        // the login dialog.
        windows_.SetLoginCommand([window] { plat::PostMessage(window, client_tray::kWmCommand, client_tray::kCmdLogin); });
    }

private:
    // Torn down in reverse: the tray, the windows, the desktop, the toolkit's language,
    // then the pump.
    std::unique_ptr<plat::qt::LoopPump> pump_;
    std::unique_ptr<QtToolkitLanguage> toolkitLanguage_;
    QtClientDesktop desktop_;
    QtWindowOpeners windows_;
    std::unique_ptr<QtClientTray> tray_;
};

}  // namespace

std::unique_ptr<ClientRun> QtRunDesktop::Open(ClientControl& control, Config& config, const UiTexts& texts,
                                              plat::MessageLoop& loop, ClientDesktop* desktop,
                                              const ClientRunPlaces& places) {
    return std::make_unique<QtRun>(control, config, texts, loop, desktop, places);
}
