#include "client/ui/SettingsModel.h"

#include <algorithm>

#include "client/core/TextHelpers.h"
#include "client/ui/ServerAddress.h"
#include "platform/text.h"

namespace {

constexpr const char* kBadServerKey = "Please input the correct URL of the Server.";
constexpr const char* kRangeKey = "Input Error data of %s, correct range is [%d, %d].";
constexpr const char* kNotWrittenKey = "The settings could not be written to Config.xml.";

std::string Trimmed(const std::string& text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t start = 0;
    std::size_t end = text.size();
    while (start < end && blank(text[start])) ++start;
    while (end > start && blank(text[end - 1])) --end;
    return text.substr(start, end - start);
}

}  // namespace

SettingsModel::SettingsModel(SettingsPorts& ports) : ports_(ports) {}

void SettingsModel::Open() {
    loggedIn_ = ports_.IsLoggedIn();
    const Config config = ports_.GetConfig();
    server = config.DefaultDomainName;
    interval = static_cast<int>(
        std::clamp(config.FreshCloudDirectoryListInterval, Config::kListIntervalLow, Config::kListIntervalHigh));
    transfers = config.TransFileNumberAtSameTime;
    login_ = loggedIn_ ? ports_.CurrentLogin() : UserInfo();
    if (login_.Account.empty()) loggedIn_ = false;
    displayName_ = loggedIn_ ? ports_.CurrentDisplayName() : std::string();
    autoLogin = loggedIn_ && login_.AutoLogin != 0;
    keepPassword = loggedIn_ && login_.KeepPassword != 0;

    languages_ = ports_.Languages();
    const auto indexOf = [this](const std::string& code) {
        for (std::size_t i = 0; i < languages_.size(); ++i) {
            if (languages_[i].LangCode == code) return static_cast<int>(i);
        }
        return 0;
    };
    globalLanguage = indexOf(config.DefaultLanguageCode);
    userLanguage = loggedIn_ ? indexOf(login_.LanguageCode) : 0;
    autoStart = ports_.IsAutoStart();
}

std::vector<std::string> SettingsModel::LanguageNames() const {
    std::vector<std::string> names;
    for (const LanguageEntry& entry : languages_) {
        names.push_back(entry.NativeName.empty() ? entry.EnglishName : entry.NativeName);
    }
    return names;
}

std::string SettingsModel::CodeAt(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= languages_.size()) return {};
    return languages_[static_cast<std::size_t>(index)].LangCode;
}

SettingsModel::Texts SettingsModel::GetTexts() const {
    const auto t = [this](const char* key) { return ports_.Translate(key); };
    Texts texts;
    texts.caption = t("Configure");
    texts.global = t("Global");
    texts.autoStart = t("Auto Start");
    texts.language = t("Language");
    texts.server = t("Server");
    texts.interval = t("Directory Refresh Interval(second)");
    texts.transfers = t("Max Number of Trans File");
    texts.version = LabelWithValue(t("Current version:"), plat::ToUtf8(plat::ToUtf16(ports_.VersionText()).substr(0, 5)));
    texts.checkUpdate = t("Check update");
    texts.currentUser = t("Current User") + " - " + (loggedIn_ ? displayName_ : t("None"));
    texts.autoLogin = t("Auto Login");
    texts.keepPassword = t("Memory Password");
    texts.save = t("Save");
    texts.close = t("Close");
    if (loggedIn_) texts.globalLanguageNote = t("Used while no user is logged in.");
    return texts;
}

void SettingsModel::SetAutoLogin(bool on) {
    autoLogin = on;
    if (on) keepPassword = true;
}

void SettingsModel::SetKeepPassword(bool on) {
    keepPassword = on;
    if (!on) autoLogin = false;
}

std::optional<std::string> SettingsModel::CheckServer() const {
    if (ParseServerAddress(server)) return std::nullopt;
    return ports_.Translate(kBadServerKey);
}

std::optional<std::string> SettingsModel::CheckRange(int value, const std::string& fieldKey, int low,
                                                     int high) const {
    if (value >= low && value <= high) return std::nullopt;
    const std::string field = ports_.Translate(fieldKey);
    const std::string lowText = std::to_string(low);
    const std::string highText = std::to_string(high);
    return FillTranslated(kRangeKey, ports_.Translate(kRangeKey), {field, lowText, highText});
}

SettingsModel::SaveResult SettingsModel::Save() {
    SaveResult result;

    // The user's own options, while that user is still the one logged in.
    bool userLanguageChanged = false;
    bool stillLoggedIn = false;
    if (loggedIn_) {
        UserInfo entry = ports_.CurrentLogin();
        stillLoggedIn = ports_.IsLoggedIn() && !entry.Account.empty() && entry.Account == login_.Account &&
                        entry.ServerDomainName == login_.ServerDomainName;
        if (stillLoggedIn) {
            entry.AutoLogin = autoLogin ? 1 : 0;
            entry.KeepPassword = keepPassword ? 1 : 0;
            const std::string code = CodeAt(userLanguage);
            if (!code.empty() && code != entry.LanguageCode) {
                entry.LanguageCode = code;
                userLanguageChanged = true;
            }
            if (ports_.UpdateCurrentLogin(entry) == SettingsPorts::LoginUpdate::Refused) {
                stillLoggedIn = false;
                userLanguageChanged = false;
            }
        }
    }

    ports_.SetAutoStart(autoStart);

    if (auto message = CheckServer()) {
        result.message = *message;
        result.focus = Field::Server;
        return result;
    }
    if (auto message = CheckRange(interval, "Directory Refresh Interval", kIntervalLow, kIntervalHigh)) {
        result.message = *message;
        result.focus = Field::Interval;
        return result;
    }
    if (auto message = CheckRange(transfers, "Trans File Max Number", kTransfersLow, kTransfersHigh)) {
        result.message = *message;
        result.focus = Field::Transfers;
        return result;
    }

    Config config = ports_.GetConfig();
    bool globalLanguageChanged = false;
    const std::string globalCode = CodeAt(globalLanguage);
    if (!globalCode.empty() && globalCode != config.DefaultLanguageCode) {
        config.DefaultLanguageCode = globalCode;
        globalLanguageChanged = true;
    }
    config.DefaultDomainName = Trimmed(server);
    config.SetListInterval(static_cast<std::uint32_t>(interval));
    config.SetTransferCount(transfers);
    result.configWritten = ports_.SaveConfig(config);
    if (!result.configWritten) result.message = ports_.Translate(kNotWrittenKey);

    // While a user is logged in the user's language is the one in force.
    const bool loggedInNow = stillLoggedIn || ports_.IsLoggedIn();
    if (stillLoggedIn && userLanguageChanged) {
        ports_.SetLanguage(CodeAt(userLanguage));
    } else if (!loggedInNow && globalLanguageChanged) {
        ports_.SetLanguage(globalCode);
    }
    const bool globalLanguageWaits = globalLanguageChanged && loggedInNow;
    if (result.configWritten) {
        result.notice = ports_.Translate(globalLanguageWaits ? "Settings saved. The global language is used once no user "
                                                               "is logged in; the current user's language stays in force."
                                                             : "Settings saved.");
    }
    // A later Save compares with what is stored now.
    if (stillLoggedIn) login_ = ports_.CurrentLogin();
    return result;
}
