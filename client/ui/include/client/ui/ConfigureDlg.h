#pragma once
// The settings dialog (`CConfigureDlg`): binds the SettingsModel to its controls, each
// named by its id. It follows language changes (bus type 11, handed to the UI thread),
// keeps the two check boxes coupled, checks the server address when its edit loses the
// focus, and shows Save's message. It stays open after Save; Close ends it. UI thread.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <functional>
#include <memory>

#include "client/core/MessageManage.h"
#include "client/ui/SettingsModel.h"

class CBitButtonNL;
class ClientControlFacade;
class ClientDesktop;

class CConfigureDlg final : public QDialog {
public:
    // `desktop` shows its messages; `checkUpdate` runs the version check by hand over this
    // dialog; `facade` (may be null) registers the dialog for language changes while it is
    // open.
    CConfigureDlg(SettingsPorts& ports, ClientDesktop& desktop, std::function<void(QWidget*)> checkUpdate,
                  ClientControlFacade* facade, QWidget* parent = nullptr);
    ~CConfigureDlg() override;

    SettingsModel& Model() { return model_; }
    // Save (1062): the values taken from the controls; the message shown, if any.
    SettingsModel::SaveResult Save();
    // Shows the texts of the language in force.
    void Retranslate();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class LanguageFollower;

    void ShowValues();
    void TakeValues();
    void ServerFocusLost();
    void ShowMessage(const std::string& text);

    SettingsModel model_;
    ClientDesktop& desktop_;
    std::function<void(QWidget*)> checkUpdate_;
    ClientControlFacade* facade_;
    std::unique_ptr<LanguageFollower> follower_;
    bool showingMessage_ = false;

    QGroupBox* global_;
    QCheckBox* autoStart_;
    QLabel* globalLanguageLabel_;
    QLabel* globalLanguageNote_;  // when the global language is used (while logged in)
    QComboBox* globalLanguage_;
    QLabel* serverLabel_;
    QLineEdit* server_;
    QLabel* intervalLabel_;
    QSpinBox* interval_;
    QLabel* transfersLabel_;
    QSpinBox* transfers_;
    QLabel* version_;
    CBitButtonNL* checkUpdateButton_;
    QGroupBox* user_;
    QCheckBox* autoLogin_;
    QCheckBox* keepPassword_;
    QLabel* userLanguageLabel_;
    QComboBox* userLanguage_;
    QLabel* saved_;  // the sign that Save wrote the settings
    CBitButtonNL* save_;
    CBitButtonNL* close_;
};
