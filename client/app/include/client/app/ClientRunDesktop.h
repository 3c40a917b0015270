#pragma once
// What one run of the client program needs of the desktop it runs on: the message boxes
// and the desktop's programs, the windows the tray window opens, the notification area,
// and whatever drives the message loop alongside the toolkit. The program's desktop
// (client/desktop) makes them with Qt; a test may hand in its own.
//
// CDravikClientApp::InitInstance opens one run on the UI thread once the controller, its
// texts, the message loop and the program's places are set up, and lets it go after the
// tray window has ended. The run's parts use the controller, the configuration and the
// texts, which outlive it.
#include <memory>
#include <string>

#include "platform/msgloop/MessageLoop.h"

class ClientControl;
class ClientDesktop;
class ClientWindowOpeners;
class Config;
class UiTexts;
namespace client_tray {
class TrayPort;
}

// The program's places the windows need.
struct ClientRunPlaces {
    std::string version;     // the program's version "a.b.c.d"
    std::string configPath;  // where the settings dialog writes "Config.xml"
    std::string dataFolder;  // below which the version check keeps its update folder
    std::string exePath;     // the executable the autostart entry starts
};

// The desktop's parts of one run.
class ClientRun {
public:
    virtual ~ClientRun() = default;
    virtual ClientDesktop& Desktop() = 0;
    virtual ClientWindowOpeners& Windows() = 0;
    virtual client_tray::TrayPort& Tray() = 0;
    // The tray window runs: what the windows ask of it (the cloud browser's Transfer List,
    // a new login) is posted to `window`.
    virtual void TrayWindowReady(plat::WindowId window) = 0;
};

class ClientRunDesktop {
public:
    virtual ~ClientRunDesktop() = default;
    // The parts of one run. `desktop`, when not null, is what the run's windows use in
    // place of the desktop's own message boxes and programs (a test's recorder).
    virtual std::unique_ptr<ClientRun> Open(ClientControl& control, Config& config, const UiTexts& texts,
                                            plat::MessageLoop& loop, ClientDesktop* desktop,
                                            const ClientRunPlaces& places) = 0;
};
