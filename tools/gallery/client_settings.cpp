// The client program's settings dialog (logged in, logged out) and version dialog (the
// offer, the latest-version notice, the download) for the gallery.
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <string>

#include "Gallery.h"
#include "client/core/LanguageManager.h"
#include "client/ui/ConfigureDlg.h"
#include "client/ui/VersionUpdateDlg.h"

using namespace gallery;

namespace {

// A logged-in user with a few saved settings; nothing is stored.
class SamplePorts final : public SettingsPorts {
public:
    SamplePorts(const LanguageManager& languages, bool loggedIn) : languages_(languages), loggedIn_(loggedIn) {
        config_.DefaultDomainName = "https://cloud.example.com";
        login_.Account = "li.wei@example.com";
        login_.ServerDomainName = config_.DefaultDomainName;
        login_.LanguageCode = "zh-CN";
        login_.KeepPassword = 1;
        login_.AutoLogin = 1;
    }
    bool IsLoggedIn() const override { return loggedIn_; }
    UserInfo CurrentLogin() const override { return loggedIn_ ? login_ : UserInfo(); }
    std::string CurrentDisplayName() const override { return "李伟"; }
    LoginUpdate UpdateCurrentLogin(const UserInfo&) override { return LoginUpdate::Unchanged; }
    std::vector<LanguageEntry> Languages() const override { return languages_.GetLanguages(); }
    Config GetConfig() const override { return config_; }
    bool SaveConfig(const Config&) override { return true; }
    bool IsAutoStart() const override { return true; }
    bool SetAutoStart(bool) override { return true; }
    void SetLanguage(const std::string&) override {}
    std::string Translate(const std::string& key) const override { return languages_.LookUp(key); }
    std::string VersionText() const override { return "1.0.3.12"; }

private:
    const LanguageManager& languages_;
    bool loggedIn_;
    Config config_;
    UserInfo login_;
};

}  // namespace

void ClientSettingsGallery(const LanguageManager& languages, ClientDesktop& desktop, const QString& suffix,
                           plat::MessageLoop& loop) {
    for (const bool loggedIn : {true, false}) {
        SamplePorts ports(languages, loggedIn);
        CConfigureDlg dialog(ports, desktop, nullptr, nullptr);
        SaveWidget(dialog, QStringLiteral("client/settings%1%2").arg(loggedIn ? "" : "-logged-out", suffix), loop);
        if (!loggedIn) continue;
        // Saved with another global language while logged in: the sign that it saved,
        // and which language is in force.
        auto* global = dialog.findChild<QComboBox*>(QStringLiteral("1043"));
        global->setCurrentIndex(global->currentIndex() == 0 ? 1 : 0);
        dialog.Save();
        SaveWidget(dialog, "client/settings-saved" + suffix, loop);
    }

    const auto translate = [&languages](const std::string& key) { return languages.LookUp(key); };
    // The download thread posts here; nothing pumps it, so the dialog stays in its state.
    plat::MessageLoop quiet;
    const QTemporaryDir updateBase;
    VersionUpdate::Options options;
    options.updateSite = "http://127.0.0.1:9";
    options.baseFolder = updateBase.path().toStdString();
    options.fileVersion = "1.0.3.12";
    {
        options.automatic = true;
        CVersionUpdateDlg offer(options, translate, quiet);
        offer.Prepare("1.1.0");
        SaveWidget(offer, "client/version-offer" + suffix, loop);
    }
    {
        options.automatic = false;
        CVersionUpdateDlg latest(options, translate, quiet);
        latest.Prepare("1.0.3");
        SaveWidget(latest, "client/version-latest" + suffix, loop);
    }
    {
        CVersionUpdateDlg download(options, translate, quiet);
        download.Prepare("1.1.0");
        download.findChild<QPushButton*>(QStringLiteral("1018"))->click();
        download.findChild<QProgressBar*>(QStringLiteral("1072"))->setValue(42);
        SaveWidget(download, "client/version-download" + suffix, loop);
    }
}
