#include "client/ui/LoginDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QPushButton>

#include <algorithm>

#include "client/local/ClientControl.h"
#include "client/ui/BitButtonNL.h"
#include "client/ui/ClientDesktop.h"
#include "client/ui/ClientResources.h"
#include "client/ui/DialogLayout.h"
#include "client/ui/QtTexts.h"
#include "client/ui/UiTexts.h"

void CoupleLoginChecks(bool changedAutoLogin, bool& autoLogin, bool& keepPassword) {
    if (changedAutoLogin && autoLogin) keepPassword = true;
    if (!changedAutoLogin && !keepPassword) autoLogin = false;
}

bool AdvancedOpenFor(const std::string& entryDomain, const std::string& configuredDomain) {
    return entryDomain != configuredDomain;
}

int IndexOfCode(const std::vector<std::string>& codes, const std::string& code) {
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (codes[i] == code) return static_cast<int>(i);
    }
    return -1;
}

namespace {

// Geometry of the skin, in pixels.
constexpr int kWidth = 360;
constexpr int kLogoHeight = 120;
constexpr int kRowAccount = 136;
constexpr int kRowPassword = 172;
constexpr int kRowChecks = 208;
constexpr int kRowServer = 240;
constexpr int kRowLanguage = 272;
constexpr int kRowLogin = 244;
constexpr int kLabelX = 24;
constexpr int kFieldX = 108;
constexpr int kFieldWidth = 228;

}  // namespace

CLoginDlg::CLoginDlg(ClientControl& control, const Config& config, const UiTexts& texts, ClientDesktop& desktop,
                     QWidget* parent)
    : QDialog(parent), control_(control), config_(config), texts_(texts), desktop_(desktop) {
    setObjectName(QString::number(kTemplateId));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowIcon(client_ui::Icon(client_ui::kIconClient));
    setFont(client_ui::ClientFont());

    auto label = [this](int id) {
        auto* widget = new QLabel(this);
        widget->setObjectName(QString::number(id));
        widget->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return widget;
    };
    accountLabel_ = label(kIdAccountLabel);
    passwordLabel_ = label(kIdPasswordLabel);
    serverLabel_ = label(kIdServerLabel);
    languageLabel_ = label(kIdLanguageLabel);
    account_ = new QComboBox(this);
    account_->setObjectName(QString::number(kIdAccount));
    account_->setEditable(true);
    account_->setInsertPolicy(QComboBox::NoInsert);
    password_ = new QLineEdit(this);
    password_->setObjectName(QString::number(kIdPassword));
    password_->setEchoMode(QLineEdit::Password);
    autoLogin_ = new QCheckBox(this);
    autoLogin_->setObjectName(QString::number(kIdAutoLogin));
    keepPassword_ = new QCheckBox(this);
    keepPassword_->setObjectName(QString::number(kIdKeepPassword));
    server_ = new QLineEdit(this);
    server_->setObjectName(QString::number(kIdServer));
    reset_ = new QPushButton(this);
    reset_->setObjectName(QString::number(kIdReset));
    reset_->setAutoDefault(false);
    language_ = new QComboBox(this);
    language_->setObjectName(QString::number(kIdLanguage));
    login_ = new CBitButtonNL(this);
    login_->setObjectName(QString::number(kIdLogin));
    advance_ = new CBitButtonNL(this);
    advance_->setObjectName(QString::number(kIdAdvance));
    picture_ = new QLabel(this);
    picture_->setObjectName(QString::number(kIdPicture));

    connect(account_, qOverload<int>(&QComboBox::activated), this, [this](int index) { OnAccountChanged(index); });
    connect(autoLogin_, &QCheckBox::clicked, this, [this] {
        bool autoLogin = autoLogin_->isChecked(), keep = keepPassword_->isChecked();
        CoupleLoginChecks(true, autoLogin, keep);
        keepPassword_->setChecked(keep);
    });
    connect(keepPassword_, &QCheckBox::clicked, this, [this] {
        bool autoLogin = autoLogin_->isChecked(), keep = keepPassword_->isChecked();
        CoupleLoginChecks(false, autoLogin, keep);
        autoLogin_->setChecked(autoLogin);
    });
    connect(reset_, &QPushButton::clicked, this, [this] { OnReset(); });
    connect(login_, &QAbstractButton::clicked, this, [this] { OnLogin(); });
    connect(advance_, &QAbstractButton::clicked, this, [this] { SetAdvancedOpen(!advanced_); });
    connect(language_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (index >= 0 && index < static_cast<int>(codes_.size())) control_.SetLanguage(codes_[index]);
    });
    // Return or Enter anywhere logs in, once per key press.
    for (QWidget* field : {static_cast<QWidget*>(account_), static_cast<QWidget*>(password_),
                           static_cast<QWidget*>(server_), static_cast<QWidget*>(language_)}) {
        field->installEventFilter(this);
    }
    if (account_->lineEdit()) account_->lineEdit()->installEventFilter(this);

    // The logo, its colours multiplied by its alpha for the layered drawing.
    logo_ = client_ui::Bitmap(client_ui::kLoginLogo, QSize(kWidth, kLogoHeight)).toImage().convertToFormat(QImage::Format_ARGB32);
    PremultiplyAlpha(logo_);
    logo_.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
}

CLoginDlg::~CLoginDlg() { LeaveBus(); }

void CLoginDlg::LeaveBus() {
    if (!listening_) return;
    listening_ = false;
    control_.Bus().RemoveListener(this);
}

int CLoginDlg::exec() {
    if (control_.GetLoginState() != ClientLoggedOut) return 0;
    Open();
    const int result = client_ui::RunDialog(*this);
    LeaveBus();
    return result;
}

bool CLoginDlg::Start() {
    if (control_.GetLoginState() != ClientLoggedOut) return false;
    Open();
    connect(this, &QDialog::finished, this, [this] { LeaveBus(); });
    return true;
}

void CLoginDlg::Open() {
    if (opened_) return;
    opened_ = true;
    listening_ = control_.Bus().AddListener(this);
    SkinButton(*login_, 219, 217, 221, 220, QString());
    login_->SetBold(true, false);
    login_->SetFontSize(11, false);
    advance_->SetBitmapIds(223, 222, 225, 224, false);
    advance_->SetShowText(false, false);
    advance_->SizeToBitmap();
    advance_->setVisible(config_.EnabledAdvanceLogin);
    picture_->hide();
    server_->setText(QString::fromStdString(config_.DefaultDomainName));

    control_.LoadUserInfoList();
    users_ = control_.GetUsers();
    account_->clear();
    for (const UserInfo& user : users_) account_->addItem(QString::fromStdString(user.Account));

    codes_.clear();
    language_->clear();
    for (const LanguageEntry& entry : control_.Languages().GetLanguages()) {
        codes_.push_back(entry.LangCode);
        language_->addItem(QString::fromStdString(entry.NativeName.empty() ? entry.EnglishName : entry.NativeName));
    }
    const int configured = IndexOfCode(codes_, config_.DefaultLanguageCode);
    if (!codes_.empty()) language_->setCurrentIndex(configured < 0 ? 0 : configured);

    advanced_ = false;
    PlaceControls();
    if (!users_.empty()) {
        account_->setCurrentIndex(0);
        OnAccountChanged(0);
    }
    Retranslate();
    if (account_->currentText().isEmpty()) account_->setFocus();
    else password_->setFocus();
}

void CLoginDlg::PlaceControls() {
    const int shift = advanced_ ? kAdvancedHeight : 0;
    setFixedSize(kWidth, kRowLogin + 34 + 24 + shift);
    accountLabel_->setGeometry(kLabelX, kRowAccount, kFieldX - kLabelX - 8, 28);
    account_->setGeometry(kFieldX, kRowAccount, kFieldWidth, 28);
    passwordLabel_->setGeometry(kLabelX, kRowPassword, kFieldX - kLabelX - 8, 28);
    password_->setGeometry(kFieldX, kRowPassword, kFieldWidth, 28);
    // The second box follows the first one's text, whatever its length in the language.
    const int autoWidth = std::max(96, autoLogin_->sizeHint().width());
    autoLogin_->setGeometry(kFieldX, kRowChecks, autoWidth, 24);
    keepPassword_->setGeometry(kFieldX + autoWidth + 14, kRowChecks,
                               std::max(keepPassword_->sizeHint().width(), kWidth - (kFieldX + autoWidth + 14) - 8), 24);
    serverLabel_->setGeometry(kLabelX, kRowServer, kFieldX - kLabelX - 8, 26);
    server_->setGeometry(kFieldX, kRowServer, kFieldWidth - 64, 26);
    reset_->setGeometry(kFieldX + kFieldWidth - 58, kRowServer, 58, 26);
    languageLabel_->setGeometry(kLabelX, kRowLanguage, kFieldX - kLabelX - 8, 26);
    language_->setGeometry(kFieldX, kRowLanguage, kFieldWidth, 26);
    for (QWidget* part : {static_cast<QWidget*>(serverLabel_), static_cast<QWidget*>(server_),
                          static_cast<QWidget*>(reset_), static_cast<QWidget*>(languageLabel_),
                          static_cast<QWidget*>(language_)}) {
        part->setVisible(advanced_);
    }
    login_->move((kWidth - login_->width()) / 2 - 8, kRowLogin + shift);
    advance_->move(login_->x() + login_->width() + 8, kRowLogin + shift + (login_->height() - advance_->height()) / 2);
}

void CLoginDlg::SetAdvancedOpen(bool open) {
    if (open == advanced_) return;
    advanced_ = open;
    if (open) advance_->SetBitmapIds(227, 226, 229, 228, false);
    else advance_->SetBitmapIds(223, 222, 225, 224, false);
    PlaceControls();
    update();
}

void CLoginDlg::OnAccountChanged(int index) {
    if (index < 0 || index >= static_cast<int>(users_.size())) return;
    const UserInfo& entry = users_[index];
    account_->setEditText(QString::fromStdString(entry.Account));
    password_->setText(QString::fromStdString(entry.Password));
    server_->setText(QString::fromStdString(entry.ServerDomainName));
    autoLogin_->setChecked(entry.AutoLogin != 0);
    keepPassword_->setChecked(entry.KeepPassword != 0);
    const int language = IndexOfCode(codes_, entry.LanguageCode);
    if (language >= 0) {
        language_->setCurrentIndex(language);
        control_.SetLanguage(entry.LanguageCode);
    }
    SetAdvancedOpen(AdvancedOpenFor(entry.ServerDomainName, control_.GetConfig().GetDefaultDomainName()));
}

void CLoginDlg::OnReset() { server_->setText(QString::fromStdString(control_.GetConfig().GetDefaultDomainName())); }

void CLoginDlg::OnLogin() {
    UserInfo user;
    user.Account = account_->currentText().trimmed().toStdString();
    user.Password = password_->text().toStdString();
    user.ServerDomainName = server_->text().trimmed().toStdString();
    if (user.Account.empty() || user.Password.empty() || user.ServerDomainName.empty()) {
        desktop_.MessageBox(texts_.Text("Login"), texts_.Text("Please input Username, password and server domain name."),
                            ClientDesktop::BoxIcon::Exclamation);
        return;
    }
    const int language = language_->currentIndex();
    if (language >= 0 && language < static_cast<int>(codes_.size())) user.LanguageCode = codes_[language];
    user.KeepPassword = keepPassword_->isChecked() ? 1 : 0;
    user.AutoLogin = autoLogin_->isChecked() ? 1 : 0;
    if (control_.Login(user) == 1) {
        done(0);
        return;
    }
    // A refused certificate is not a mistake in the fields: say which server and why.
    const std::string reason = control_.LastLoginFailure();
    desktop_.MessageBox(texts_.Text("Login"),
                        reason.empty() ? texts_.Text(
                                             "Login failed. Please make sure Username, Password and Domain Name are all correct.")
                                       : reason,
                        ClientDesktop::BoxIcon::Exclamation);
}

void CLoginDlg::Retranslate() {
    setWindowTitle(QText(texts_, "Login - Dravik"));
    accountLabel_->setText(QText(texts_, "User Name"));
    passwordLabel_->setText(QText(texts_, "Password"));
    autoLogin_->setText(QText(texts_, "Auto Login"));
    keepPassword_->setText(QText(texts_, "Memory Password"));
    serverLabel_->setText(QText(texts_, "Server"));
    languageLabel_->setText(QText(texts_, "Language"));
    reset_->setText(QText(texts_, "Reset"));
    login_->setText(QText(texts_, "Login"));
    advance_->setToolTip(QText(texts_, "Server") + QStringLiteral(" / ") + QText(texts_, "Language"));
    if (opened_) PlaceControls();
}

void CLoginDlg::OnLanguageChanged(const std::string&) {
    QMetaObject::invokeMethod(this, [this] { Retranslate(); }, Qt::QueuedConnection);
}

void CLoginDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0xf5, 0xf7, 0xfa));
    painter.drawImage(0, 0, logo_);
    painter.setPen(QColor(0xdd, 0xe3, 0xea));
    painter.drawLine(0, kLogoHeight, width(), kLogoHeight);
}

bool CLoginDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !key->isAutoRepeat()) {
            OnLogin();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CLoginDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (!event->isAutoRepeat()) OnLogin();
        return;
    }
    QDialog::keyPressEvent(event);
}
