#include "client/ui/ClientSettingsPorts.h"

#include "client/core/ClientLog.h"
#include "client/local/ClientControl.h"

ClientSettingsPorts::ClientSettingsPorts(ClientControl& control, Config& config, std::string configPath,
                                         AutoStartEntry autoStart, std::string version)
    : control_(control),
      config_(config),
      configPath_(std::move(configPath)),
      autoStart_(std::move(autoStart)),
      version_(std::move(version)) {}

bool ClientSettingsPorts::IsLoggedIn() const { return control_.GetLoginState() == ClientLoggedIn; }

UserInfo ClientSettingsPorts::CurrentLogin() const { return control_.GetCurrentLogin(); }

std::string ClientSettingsPorts::CurrentDisplayName() const { return control_.GetCurrentUser().GetDisplayName(); }

SettingsPorts::LoginUpdate ClientSettingsPorts::UpdateCurrentLogin(const UserInfo& login) {
    switch (control_.UpdateCurrentLogin(login)) {
        case ClientControl::LoginUpdate::Changed: return LoginUpdate::Changed;
        case ClientControl::LoginUpdate::Unchanged: return LoginUpdate::Unchanged;
        case ClientControl::LoginUpdate::Refused: break;
    }
    return LoginUpdate::Refused;
}

std::vector<LanguageEntry> ClientSettingsPorts::Languages() const { return control_.Languages().GetLanguages(); }

bool ClientSettingsPorts::SaveConfig(const Config& config) {
    config_ = config;
    control_.SetConfig(config);
    const bool written = SaveConfigFile(configPath_, config);
    if (!written) LogClientInfo("<control>The settings cannot be written: " + configPath_);
    return written;
}

void ClientSettingsPorts::SetLanguage(const std::string& code) { control_.SetLanguage(code); }

std::string ClientSettingsPorts::Translate(const std::string& key) const { return control_.GetText(key); }
