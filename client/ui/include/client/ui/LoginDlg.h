#pragma once
// The login dialog: account (with the saved logins), password, the two remember options
// and, in its advanced part, the server domain and the language. It logs in through the
// controller, which blocks while the server answers and announces the result on the bus
// (the tray window shows it and opens the cloud browser). A dialog opened while logged in
// ends at once with 0; a successful login ends it with 0; a refused one keeps it open
// with a message.
//
// The rules are plain functions (below); the widget binds them. While open the dialog
// listens to the bus for language changes; the bus thread only queues the re-translation
// to the dialog's thread. UI thread only otherwise.
#include <QDialog>
#include <QImage>

#include <string>
#include <vector>

#include "client/core/Config.h"
#include "client/core/MessageManage.h"
#include "client/core/UserInfo.h"

class CBitButtonNL;
class ClientControl;
class ClientDesktop;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class UiTexts;

// Checking "Auto Login" also checks "Memory Password"; clearing "Memory Password" also
// clears "Auto Login". `changedAutoLogin` tells which box the user clicked.
void CoupleLoginChecks(bool changedAutoLogin, bool& autoLogin, bool& keepPassword);
// The advanced part is open for a saved login on another server than the configured one.
bool AdvancedOpenFor(const std::string& entryDomain, const std::string& configuredDomain);
// Index of `code` among `codes`; -1 when absent.
int IndexOfCode(const std::vector<std::string>& codes, const std::string& code);

class CLoginDlg : public QDialog, public MessageListener {
public:
    static constexpr int kTemplateId = 130;
    static constexpr int kIdAccount = 1012;
    static constexpr int kIdPassword = 1010;
    static constexpr int kIdAutoLogin = 1013;
    static constexpr int kIdKeepPassword = 1014;
    static constexpr int kIdLogin = 1015;
    static constexpr int kIdAdvance = 1017;
    static constexpr int kIdServerLabel = 1011;
    static constexpr int kIdServer = 1016;
    static constexpr int kIdReset = 1018;
    static constexpr int kIdLanguageLabel = 1045;
    static constexpr int kIdLanguage = 1043;
    static constexpr int kIdAccountLabel = 1008;
    static constexpr int kIdPasswordLabel = 1009;
    static constexpr int kIdPicture = 1046;
    static constexpr int kAdvancedHeight = 60;

    // `config` is the application's configuration record (server address, language,
    // advanced-login switch), read when the dialog opens.
    CLoginDlg(ClientControl& control, const Config& config, const UiTexts& texts, ClientDesktop& desktop,
              QWidget* parent = nullptr);
    ~CLoginDlg() override;

    // 0 at once when logged in; otherwise runs until a login succeeds (0) or the user
    // closes the dialog.
    int exec() override;
    // Shows the dialog without a loop of its own (false at once when logged in); it leaves
    // the bus when it finishes.
    bool Start();

    void OnAccountChanged(int index);
    void OnLogin();
    void OnReset();
    void SetAdvancedOpen(bool open);
    bool AdvancedOpen() const { return advanced_; }
    // The texts in the language in force.
    void Retranslate();

    // Bus slot 11 (dispatch thread): queues Retranslate.
    void OnLanguageChanged(const std::string& languageCode) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Open();
    void LeaveBus();
    void PlaceControls();

    ClientControl& control_;
    Config config_;
    const UiTexts& texts_;
    ClientDesktop& desktop_;
    std::vector<UserInfo> users_;
    std::vector<std::string> codes_;
    bool advanced_ = false;
    bool listening_ = false;
    bool opened_ = false;
    QImage logo_;

    QLabel* accountLabel_;
    QComboBox* account_;
    QLabel* passwordLabel_;
    QLineEdit* password_;
    QCheckBox* autoLogin_;
    QCheckBox* keepPassword_;
    QLabel* serverLabel_;
    QLineEdit* server_;
    QPushButton* reset_;
    QLabel* languageLabel_;
    QComboBox* language_;
    CBitButtonNL* login_;
    CBitButtonNL* advance_;
    QLabel* picture_;
};
