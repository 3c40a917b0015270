#pragma once
// What the callers of the version dialog (start-up in automatic mode, the settings
// dialog in manual mode) do with its end code. An installer cannot be run on this
// system: after a download the program shows where the installer was saved, opens that
// folder and keeps running.
#include <functional>
#include <string>

class ClientDesktop;

struct VersionEndAction {
    std::string messageKey;    // a message box (English key); empty: none
    std::string installerPath; // shown after the message when an installer was saved
    std::string revealFolder;  // the folder to open; empty: none
};

VersionEndAction ActionForVersionEnd(int endCode, const std::string& installerPath, bool manual);

// Shows the action's message (captioned "Version upgrade", translated) and opens the
// installer's folder, through the desktop.
void ActOnVersionEnd(int endCode, const std::string& installerPath, bool manual, ClientDesktop& desktop,
                     const std::function<std::string(const std::string&)>& translate);
