// The login dialog offscreen against the test server: the check-box coupling, the saved
// logins with their language and server, the advanced part, empty fields and refused
// logins, Enter, and a dialog opened while logged in.
#include "client/ui/LoginDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include "support/ClientUiFixture.h"
#include "client/ui/BitButtonNL.h"
#include "support/tlsresponder.h"

namespace {

using clientui::RecordingDesktop;

TEST(LoginRulesTest, CheckBoxesAreCoupled) {
    struct Case {
        bool changedAutoLogin, autoLogin, keep, expectAuto, expectKeep;
    } cases[] = {
        {true, true, false, true, true},     // checking Auto Login checks Memory Password
        {true, false, true, false, true},    // clearing Auto Login leaves Memory Password
        {false, true, false, false, false},  // clearing Memory Password clears Auto Login
        {false, false, true, false, true},   // checking Memory Password leaves Auto Login
    };
    for (const Case& c : cases) {
        bool autoLogin = c.autoLogin, keep = c.keep;
        CoupleLoginChecks(c.changedAutoLogin, autoLogin, keep);
        EXPECT_EQ(autoLogin, c.expectAuto);
        EXPECT_EQ(keep, c.expectKeep);
    }
    EXPECT_FALSE(AdvancedOpenFor("https://a.example", "https://a.example"));
    EXPECT_TRUE(AdvancedOpenFor("https://a.example/", "https://a.example"));
    EXPECT_EQ(IndexOfCode({"en", "zh-CN"}, "zh-CN"), 1);
    EXPECT_EQ(IndexOfCode({"en", "zh-CN"}, "fr"), -1);
}

class LoginDlgTest : public clientui::ControlFixture {
protected:
    void SetUp() override {
        ControlFixture::SetUp();
        config.DefaultDomainName = server->BaseUrl();
        config.DefaultLanguageCode = "en";
    }
    // Saves a login in the list (logged in once, then out again).
    void Save(UserInfo user) {
        ASSERT_EQ(control->Login(user), 1);
        control->Logout();
    }
    // Runs the dialog; `body` acts once it is open.
    int Run(CLoginDlg& dialog, std::function<void()> body) {
        QTimer::singleShot(0, [&dialog, body] {
            body();
            if (dialog.isVisible()) dialog.reject();
        });
        return dialog.exec();
    }
    template <class T>
    T* Child(CLoginDlg& dialog, int id) {
        return dialog.findChild<T*>(QString::number(id));
    }

    Config config;
    KeyTexts keys;
    RecordingDesktop desktop;
};

TEST_F(LoginDlgTest, OpenedWhileLoggedInItEndsAtOnce) {
    ASSERT_EQ(control->Login(Alice()), 1);
    CLoginDlg dialog(*control, config, keys, desktop);
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = dialog.isVisible(); });
    EXPECT_EQ(dialog.exec(), 0);
    EXPECT_FALSE(ran);
}

TEST_F(LoginDlgTest, ASavedLoginFillsTheFieldsAndSwitchesTheLanguage) {
    UserInfo other = Alice(1);
    other.LanguageCode = "zh-CN";
    other.ServerDomainName = server->BaseUrl() + "/";  // another text of the server: advanced part opens
    Save(other);
    control->SetLanguage("en");
    CLoginDlg dialog(*control, config, keys, desktop);
    Run(dialog, [&] {
        EXPECT_EQ(Child<QComboBox>(dialog, CLoginDlg::kIdAccount)->currentText(), "alice");
        EXPECT_EQ(Child<QLineEdit>(dialog, CLoginDlg::kIdPassword)->text(), "secret");
        EXPECT_TRUE(Child<QCheckBox>(dialog, CLoginDlg::kIdAutoLogin)->isChecked());
        EXPECT_TRUE(Child<QCheckBox>(dialog, CLoginDlg::kIdKeepPassword)->isChecked());
        EXPECT_EQ(control->Languages().GetCurrentCode(), "zh-CN");
        EXPECT_TRUE(dialog.AdvancedOpen());
        EXPECT_TRUE(Child<QLineEdit>(dialog, CLoginDlg::kIdServer)->isVisible());
        EXPECT_EQ(Child<QLineEdit>(dialog, CLoginDlg::kIdServer)->text().toStdString(), server->BaseUrl() + "/");
        // Reset puts the configured server back.
        dialog.OnReset();
        EXPECT_EQ(Child<QLineEdit>(dialog, CLoginDlg::kIdServer)->text().toStdString(), server->BaseUrl());
    });
}

TEST_F(LoginDlgTest, TheAdvancedPartGrowsTheDialogAndFollowsTheSwitch) {
    CLoginDlg dialog(*control, config, keys, desktop);
    Run(dialog, [&] {
        EXPECT_FALSE(dialog.AdvancedOpen());
        EXPECT_FALSE(Child<QLineEdit>(dialog, CLoginDlg::kIdServer)->isVisible());
        EXPECT_TRUE(Child<CBitButtonNL>(dialog, CLoginDlg::kIdAdvance)->isVisible());
        const int closedHeight = dialog.height();
        const int loginY = Child<CBitButtonNL>(dialog, CLoginDlg::kIdLogin)->y();
        Child<CBitButtonNL>(dialog, CLoginDlg::kIdAdvance)->click();
        EXPECT_TRUE(dialog.AdvancedOpen());
        EXPECT_EQ(dialog.height(), closedHeight + CLoginDlg::kAdvancedHeight);
        EXPECT_EQ(Child<CBitButtonNL>(dialog, CLoginDlg::kIdLogin)->y(), loginY + CLoginDlg::kAdvancedHeight);
        EXPECT_TRUE(Child<QComboBox>(dialog, CLoginDlg::kIdLanguage)->isVisible());
    });
    // Switched off, the button is hidden, but a saved login on another server still opens it.
    config.EnabledAdvanceLogin = false;
    UserInfo other = Alice();
    other.ServerDomainName = server->BaseUrl() + "/";
    Save(other);
    CLoginDlg second(*control, config, keys, desktop);
    Run(second, [&] {
        EXPECT_FALSE(Child<CBitButtonNL>(second, CLoginDlg::kIdAdvance)->isVisible());
        EXPECT_TRUE(second.AdvancedOpen());
    });
}

TEST_F(LoginDlgTest, EmptyFieldsAndARefusedLoginKeepTheDialogOpen) {
    CLoginDlg dialog(*control, config, keys, desktop);
    Run(dialog, [&] {
        dialog.OnLogin();
        ASSERT_EQ(desktop.boxes.size(), 1u);
        EXPECT_EQ(desktop.boxes[0], "Login: Please input Username, password and server domain name.");
        Child<QComboBox>(dialog, CLoginDlg::kIdAccount)->setEditText("alice");
        Child<QLineEdit>(dialog, CLoginDlg::kIdPassword)->setText("wrong");
        dialog.OnLogin();
        ASSERT_EQ(desktop.boxes.size(), 2u);
        EXPECT_EQ(desktop.boxes[1],
                  "Login: Login failed. Please make sure Username, Password and Domain Name are all correct.");
        EXPECT_TRUE(dialog.isVisible());
    });
    EXPECT_EQ(control->GetLoginState(), ClientLoggedOut);
}

TEST_F(LoginDlgTest, ARefusedCertificateIsToldWithTheServerAndTheReasonNotAsWrongCredentials) {
    const testsupport::TlsResponder https(testsupport::TestAuthority::SelfSigned("other.example"),
                                          "HTTP/1.1 403 X\r\nContent-Length: 0\r\n\r\n");
    CLoginDlg dialog(*control, config, keys, desktop);
    Run(dialog, [&] {
        Child<QComboBox>(dialog, CLoginDlg::kIdAccount)->setEditText("alice");
        Child<QLineEdit>(dialog, CLoginDlg::kIdPassword)->setText("secret");
        Child<QLineEdit>(dialog, CLoginDlg::kIdServer)->setText(QString::fromStdString(https.BaseUrl()));
        dialog.OnLogin();
        ASSERT_EQ(desktop.boxes.size(), 1u);
        EXPECT_NE(desktop.boxes[0].find("The certificate of the server " + https.BaseUrl() + " was refused: "),
                  std::string::npos)
            << desktop.boxes[0];
        EXPECT_TRUE(dialog.isVisible());
        // A later refusal of the credentials says so again, not the old certificate text.
        Child<QLineEdit>(dialog, CLoginDlg::kIdServer)->setText(QString::fromStdString(server->BaseUrl()));
        Child<QLineEdit>(dialog, CLoginDlg::kIdPassword)->setText("wrong");
        dialog.OnLogin();
        ASSERT_EQ(desktop.boxes.size(), 2u);
        EXPECT_EQ(desktop.boxes[1],
                  "Login: Login failed. Please make sure Username, Password and Domain Name are all correct.");
    });
    EXPECT_TRUE(https.Requests().empty()) << "the password reached a server whose certificate was refused";
    EXPECT_EQ(control->GetLoginState(), ClientLoggedOut);
}

TEST_F(LoginDlgTest, EnterInThePasswordLogsInAndEndsTheDialog) {
    CLoginDlg dialog(*control, config, keys, desktop);
    const int result = Run(dialog, [&] {
        Child<QComboBox>(dialog, CLoginDlg::kIdAccount)->setEditText("alice");
        QLineEdit* password = Child<QLineEdit>(dialog, CLoginDlg::kIdPassword);
        password->setText("secret");
        // A repeated key (held down) does nothing; the press itself logs in.
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(password, &repeat);
        EXPECT_EQ(control->GetLoginState(), ClientLoggedOut);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(password, &enter);
        EXPECT_FALSE(dialog.isVisible());
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(control->GetLoginState(), ClientLoggedIn);
    EXPECT_TRUE(desktop.boxes.empty());
    // The login was saved with the dialog's choices.
    const std::vector<UserInfo> users = control->GetUsers();
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].Account, "alice");
    EXPECT_EQ(users[0].LanguageCode, "en");
}

}  // namespace
