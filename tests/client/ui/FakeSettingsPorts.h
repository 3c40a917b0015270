#pragma once
// Settings ports that record every change the settings logic makes, for the model and
// dialog tests: a logged-in "alice", two languages, a configuration in memory.
#include <string>
#include <vector>

#include "client/ui/SettingsModel.h"

namespace settingstest {

// Records every change the model makes, in order.
class FakePorts : public SettingsPorts {
public:
    FakePorts() {
        languages = {{"en", "English", "English", "en.mo", ""}, {"zh-CN", "Chinese (Simplified)", "简体中文", "zh-CN.mo", ""}};
        config.DefaultLanguageCode = "zh-CN";
        config.DefaultDomainName = "https://cloud.example.com";
        config.FreshCloudDirectoryListInterval = 5;
        config.TransFileNumberAtSameTime = 6;
        login.Account = "alice";
        login.ServerDomainName = "https://cloud.example.com";
        login.LanguageCode = "zh-CN";
        login.KeepPassword = 1;
    }

    bool IsLoggedIn() const override { return loggedIn; }
    UserInfo CurrentLogin() const override { return loggedIn ? login : UserInfo(); }
    std::string CurrentDisplayName() const override { return "Alice A."; }
    LoginUpdate UpdateCurrentLogin(const UserInfo& l) override {
        calls.push_back("user " + l.Account + " " + std::to_string(l.AutoLogin) + std::to_string(l.KeepPassword) +
                        " " + l.LanguageCode);
        if (!loggedIn || l.Account != login.Account) return LoginUpdate::Refused;
        login = l;
        return LoginUpdate::Changed;
    }
    std::vector<LanguageEntry> Languages() const override { return languages; }
    Config GetConfig() const override { return config; }
    bool SaveConfig(const Config& c) override {
        calls.push_back("config");
        config = c;
        return writable;
    }
    bool IsAutoStart() const override { return autoStart; }
    bool SetAutoStart(bool on) override {
        calls.push_back(on ? "autostart on" : "autostart off");
        autoStart = on;
        return true;
    }
    void SetLanguage(const std::string& code) override { calls.push_back("language " + code); }
    std::string Translate(const std::string& key) const override {
        if (key == "Input Error data of %s, correct range is [%d, %d].") return translatedRange;
        return "T(" + key + ")";
    }
    std::string VersionText() const override { return "1.2.3.4"; }

    bool loggedIn = true;
    bool autoStart = false;
    bool writable = true;
    UserInfo login;
    Config config;
    std::vector<LanguageEntry> languages;
    std::string translatedRange = "%s 输入错误，正确范围是 [%d, %d]。";
    std::vector<std::string> calls;
};

}  // namespace settingstest
