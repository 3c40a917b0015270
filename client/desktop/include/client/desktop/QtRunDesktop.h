#pragma once
// The client program on a Qt desktop: each run gets the Qt message boxes and desktop
// programs (QtClientDesktop), the program's windows (QtWindowOpeners), the notification
// area through QSystemTrayIcon (QtClientTray), and, while a QApplication exists, the pump
// that lets Qt's event loop drive the message loop and the toolkit's own texts in the
// program's language. UI thread only; the program's main hands it to CDravikClientApp.
#include <memory>

#include "client/app/ClientRunDesktop.h"

class QtRunDesktop final : public ClientRunDesktop {
public:
    std::unique_ptr<ClientRun> Open(ClientControl& control, Config& config, const UiTexts& texts,
                                    plat::MessageLoop& loop, ClientDesktop* desktop,
                                    const ClientRunPlaces& places) override;
};
