#pragma once
// The logic of the settings dialog (`CConfigureDlg` shows it): the global settings
// (autostart, language, server address, listing refresh interval, simultaneous
// transfers) and, while a user is logged in, that user's saved-login options (auto-login,
// keep password, language). No widgets; UI thread.
//
// The dialog hands the control values to the model (Set...), asks it for the texts of the
// controls and calls Save(). Save stores, in this order: the user's options (only when
// the same user is still logged in: the login state is asked again at Save, so a logout
// while the dialog was open never stores an entry without an account), the autostart
// entry, then, when the server address and the two numbers pass their checks, the
// configuration ("Config.xml", written through a temporary file and a rename), and last
// switches the language in force. A failed check stops Save with its message; the file
// is then not written.
#include <optional>
#include <string>
#include <vector>

#include "client/core/Config.h"
#include "client/core/LanguageManager.h"
#include "client/core/UserInfo.h"

// What the settings dialog needs of the program.
class SettingsPorts {
public:
    enum class LoginUpdate { Changed, Unchanged, Refused };

    virtual ~SettingsPorts() = default;
    virtual bool IsLoggedIn() const = 0;
    // The saved login of the logged-in user; an empty record when logged out.
    virtual UserInfo CurrentLogin() const = 0;
    virtual std::string CurrentDisplayName() const = 0;
    // Stores the logged-in user's changed options (refused when that user is no longer
    // logged in) and writes the saved logins when they changed.
    virtual LoginUpdate UpdateCurrentLogin(const UserInfo& login) = 0;
    virtual std::vector<LanguageEntry> Languages() const = 0;
    // The program's configuration, and its replacement, written to "Config.xml"; false
    // when the file could not be written.
    virtual Config GetConfig() const = 0;
    virtual bool SaveConfig(const Config& config) = 0;
    virtual bool IsAutoStart() const = 0;
    virtual bool SetAutoStart(bool on) = 0;
    // Switches the language in force.
    virtual void SetLanguage(const std::string& code) = 0;
    virtual std::string Translate(const std::string& key) const = 0;
    // The program's version, "a.b.c.d" (empty when unknown).
    virtual std::string VersionText() const = 0;
};

class SettingsModel {
public:
    // The interval takes the configuration's whole range: a stored value always shows
    // as it is and is saved back unchanged.
    static constexpr int kIntervalLow = static_cast<int>(Config::kListIntervalLow);
    static constexpr int kIntervalHigh = static_cast<int>(Config::kListIntervalHigh);
    static constexpr int kTransfersLow = 1, kTransfersHigh = 10;

    // Where the focus goes after a failed check.
    enum class Field { None, Server, Interval, Transfers };

    struct SaveResult {
        bool configWritten = false;
        std::string message;  // a message box to show (translated); empty: none
        Field focus = Field::None;
        // The dialog's own line after a Save that wrote the configuration (translated):
        // that it saved, and, when a changed global language does not come into force
        // because a user is logged in, that the user's language stays in force.
        std::string notice;
    };

    // The texts of the controls, translated, by control id.
    struct Texts {
        std::string caption, global, autoStart, language, server, interval, transfers, version, checkUpdate,
            currentUser, autoLogin, keepPassword, save, close;
        // Under the global language while a user is logged in: when it is used.
        std::string globalLanguageNote;
    };

    explicit SettingsModel(SettingsPorts& ports);

    // Reads the values to show (the dialog's opening). The logged-in flag is fixed here.
    void Open();

    bool LoggedIn() const { return loggedIn_; }
    Texts GetTexts() const;
    // The languages' display names, in combo order (both combos list the same).
    std::vector<std::string> LanguageNames() const;

    // The values, as the controls show them.
    bool autoStart = false;
    int globalLanguage = 0;  // index in LanguageNames()
    std::string server;
    int interval = 0;
    int transfers = 0;
    bool autoLogin = false;
    bool keepPassword = false;
    int userLanguage = 0;

    // The coupling of the two check boxes: auto-login needs the password kept.
    void SetAutoLogin(bool on);
    void SetKeepPassword(bool on);

    // The server edit lost the focus: the message of a bad address, else nothing.
    std::optional<std::string> CheckServer() const;
    // Any number: the range message when it lies outside [low, high].
    std::optional<std::string> CheckRange(int value, const std::string& fieldKey, int low, int high) const;

    SaveResult Save();

private:
    std::string CodeAt(int index) const;

    SettingsPorts& ports_;
    bool loggedIn_ = false;
    UserInfo login_;  // the saved login shown, as it was at opening
    std::string displayName_;
    std::vector<LanguageEntry> languages_;
};
