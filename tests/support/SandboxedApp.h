// Start-up options of the client program for a test: the executables of this build, and
// the configuration and data folders inside the test's sandbox, with the test's windows
// and desktop.
#pragma once

#include "client/app/DravikClientApp.h"
#include "support/ClientUiFixture.h"
#include "support/sandbox.h"

namespace clientapp {

inline CDravikClientApp::Options SandboxedOptions(testsupport::Sandbox& box, ClientWindowOpeners& windows,
                                                  ClientDesktop& desktop) {
    CDravikClientApp::Options options;
    options.exeDir = clientui::BinDir();
    options.configDir = box.Dir("config").string();
    options.dataDir = box.Dir("data").string();
    options.windows = &windows;
    options.desktop = &desktop;
    return options;
}

}  // namespace clientapp
