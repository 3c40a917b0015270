#pragma once
// What the callers of the version dialog (start-up in automatic mode, the settings
// dialog in manual mode) do with its end code. An installer cannot be run on this
// system: after a download the program shows where the installer was saved, opens that
// folder and keeps running.
#include <string>

struct VersionEndAction {
    std::string messageKey;    // a message box (English key); empty: none
    std::string installerPath; // shown after the message when an installer was saved
    std::string revealFolder;  // the folder to open; empty: none
};

VersionEndAction ActionForVersionEnd(int endCode, const std::string& installerPath, bool manual);
