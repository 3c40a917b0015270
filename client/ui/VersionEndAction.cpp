#include "client/ui/VersionEndAction.h"

#include "client/local/VersionUpdate.h"
#include "client/ui/ClientDesktop.h"

VersionEndAction ActionForVersionEnd(int endCode, const std::string& installerPath, bool manual) {
    VersionEndAction action;
    switch (endCode) {
        case VersionUpdate::EndInstallerReady:
            if (!installerPath.empty()) {
                action.messageKey = kInstallerSavedKey;
                action.installerPath = installerPath;
                const std::size_t slash = installerPath.find_last_of('/');
                action.revealFolder = slash == std::string::npos ? std::string(".")
                                      : slash == 0               ? std::string("/")
                                                                 : installerPath.substr(0, slash);
            }
            break;
        case VersionUpdate::EndNoServerVersion:
            if (manual) action.messageKey = "Failed to detect version!";
            break;
        case VersionUpdate::EndFileOccupied: action.messageKey = "Installation file occupied!"; break;
        case VersionUpdate::EndDownloadFailed: action.messageKey = "Download failed!"; break;
        default: break;
    }
    return action;
}

void ActOnVersionEnd(int endCode, const std::string& installerPath, bool manual, ClientDesktop& desktop,
                     const std::function<std::string(const std::string&)>& translate) {
    const VersionEndAction action = ActionForVersionEnd(endCode, installerPath, manual);
    if (action.messageKey.empty()) return;
    std::string text = translate(action.messageKey);
    if (!action.installerPath.empty()) text += "\n" + action.installerPath;
    desktop.MessageBox(translate("Version upgrade"), text,
                       action.installerPath.empty() ? ClientDesktop::BoxIcon::Exclamation
                                                    : ClientDesktop::BoxIcon::Information);
    // The box above already names the installer's path: a folder no file manager shows
    // leaves the user that.
    if (!action.revealFolder.empty()) desktop.OpenFolder(action.revealFolder, {});
}
