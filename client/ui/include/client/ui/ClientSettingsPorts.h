#pragma once
// The settings dialog's ports over the running program: the controller (login state,
// saved logins, languages, texts), the application's configuration record with its file
// "Config.xml", and the autostart entry. UI thread.
#include <string>

#include "client/core/Config.h"
#include "client/ui/AutoStart.h"
#include "client/ui/SettingsModel.h"

class ClientControl;

class ClientSettingsPorts final : public SettingsPorts {
public:
    // `config` is the application's record, read from and written to `configPath`;
    // `version` the program's version text ("a.b.c.d").
    ClientSettingsPorts(ClientControl& control, Config& config, std::string configPath, AutoStartEntry autoStart,
                        std::string version);

    bool IsLoggedIn() const override;
    UserInfo CurrentLogin() const override;
    std::string CurrentDisplayName() const override;
    LoginUpdate UpdateCurrentLogin(const UserInfo& login) override;
    std::vector<LanguageEntry> Languages() const override;
    Config GetConfig() const override { return config_; }
    // Takes the record at once (the controller's services too) and writes the file.
    bool SaveConfig(const Config& config) override;
    bool IsAutoStart() const override { return autoStart_.IsEnabled(); }
    bool SetAutoStart(bool on) override { return autoStart_.Set(on); }
    void SetLanguage(const std::string& code) override;
    std::string Translate(const std::string& key) const override;
    std::string VersionText() const override { return version_; }

private:
    ClientControl& control_;
    Config& config_;
    std::string configPath_;
    AutoStartEntry autoStart_;
    std::string version_;
};
