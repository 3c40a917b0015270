#include "client/ui/ConfigureDlg.h"

#include <QEvent>
#include <QFocusEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include "client/local/ClientControl.h"
#include "client/ui/BitButtonNL.h"
#include "client/ui/ClientDesktop.h"
#include "client/ui/ClientResources.h"
#include "client/ui/DialogButtons.h"
#include "client/ui/DialogLayout.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A control named by its id.
template <class Widget>
Widget* Named(QWidget* parent, const char* id) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(id));
    return widget;
}

}  // namespace

// Language changes arrive on the bus's thread: only a queued call reaches the dialog,
// and none once it is gone.
class CConfigureDlg::LanguageFollower final : public MessageListener {
public:
    explicit LanguageFollower(CConfigureDlg* dialog) : dialog_(dialog) {}
    void OnLanguageChanged(const std::string&) override {
        QMetaObject::invokeMethod(dialog_, [dialog = dialog_] { dialog->Retranslate(); }, Qt::QueuedConnection);
    }

private:
    CConfigureDlg* dialog_;
};

CConfigureDlg::CConfigureDlg(SettingsPorts& ports, ClientDesktop& desktop, std::function<void(QWidget*)> checkUpdate,
                             ClientControlFacade* facade, QWidget* parent)
    : QDialog(parent), model_(ports), desktop_(desktop), checkUpdate_(std::move(checkUpdate)), facade_(facade) {
    setObjectName(QStringLiteral("141"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowIcon(client_ui::Icon(client_ui::kIconClient));
    setFont(client_ui::ClientFont());

    global_ = Named<QGroupBox>(this, "1049");
    autoStart_ = Named<QCheckBox>(global_, "1050");
    globalLanguageLabel_ = Named<QLabel>(global_, "1058");
    globalLanguage_ = Named<QComboBox>(global_, "1043");
    serverLabel_ = Named<QLabel>(global_, "1059");
    server_ = Named<QLineEdit>(global_, "1051");
    server_->setMinimumWidth(260);
    intervalLabel_ = Named<QLabel>(global_, "1060");
    interval_ = Named<QSpinBox>(global_, "1053");
    interval_->setRange(SettingsModel::kIntervalLow, SettingsModel::kIntervalHigh);
    transfersLabel_ = Named<QLabel>(global_, "1061");
    transfers_ = Named<QSpinBox>(global_, "1054");
    transfers_->setRange(SettingsModel::kTransfersLow, SettingsModel::kTransfersHigh);
    for (QSpinBox* spin : {interval_, transfers_}) spin->setMinimumWidth(90);
    version_ = Named<QLabel>(global_, "1076");
    checkUpdateButton_ = Named<CBitButtonNL>(global_, "1064");
    SkinDialogButton(*checkUpdateButton_, DialogButtonKind::Primary, QString());
    checkUpdateButton_->setAutoDefault(false);

    auto* globalForm = new QFormLayout;
    globalForm->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    globalForm->addRow(globalLanguageLabel_, globalLanguage_);
    globalLanguageNote_ = Named<QLabel>(global_, "globalLanguageNote");
    QPalette notePalette = globalLanguageNote_->palette();
    notePalette.setColor(QPalette::WindowText, QColor(0x5f, 0x6b, 0x78));
    globalLanguageNote_->setPalette(notePalette);
    globalForm->addRow(QString(), globalLanguageNote_);
    globalForm->addRow(serverLabel_, server_);
    globalForm->addRow(intervalLabel_, interval_);
    globalForm->addRow(transfersLabel_, transfers_);
    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(version_);
    versionRow->addStretch(1);
    versionRow->addWidget(checkUpdateButton_);
    auto* globalLayout = new QVBoxLayout(global_);
    globalLayout->addWidget(autoStart_);
    globalLayout->addLayout(globalForm);
    globalLayout->addLayout(versionRow);

    user_ = Named<QGroupBox>(this, "1047");
    autoLogin_ = Named<QCheckBox>(user_, "1013");
    keepPassword_ = Named<QCheckBox>(user_, "1014");
    userLanguageLabel_ = Named<QLabel>(user_, "1057");
    userLanguage_ = Named<QComboBox>(user_, "1044");
    for (QComboBox* combo : {globalLanguage_, userLanguage_}) combo->setMinimumWidth(160);
    auto* checks = new QHBoxLayout;
    checks->addWidget(autoLogin_);
    checks->addSpacing(16);
    checks->addWidget(keepPassword_);
    checks->addStretch(1);
    auto* userForm = new QFormLayout;
    userForm->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    userForm->addRow(userLanguageLabel_, userLanguage_);
    auto* userLayout = new QVBoxLayout(user_);
    userLayout->addLayout(checks);
    userLayout->addLayout(userForm);

    save_ = Named<CBitButtonNL>(this, "1062");
    SkinDialogButton(*save_, DialogButtonKind::Primary, QString());
    save_->setDefault(true);
    close_ = Named<CBitButtonNL>(this, "2");
    SkinDialogButton(*close_, DialogButtonKind::Secondary, QString());
    close_->setAutoDefault(false);
    saved_ = Named<QLabel>(this, "saved");
    saved_->setWordWrap(true);
    QPalette savedPalette = saved_->palette();
    savedPalette.setColor(QPalette::WindowText, QColor(0x1e, 0x6b, 0x30));
    saved_->setPalette(savedPalette);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(saved_, 1);
    buttons->addWidget(save_);
    buttons->addWidget(close_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(global_);
    layout->addWidget(user_);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(save_, &QPushButton::clicked, this, [this] { Save(); });
    connect(close_, &QPushButton::clicked, this, [this] { done(2); });
    connect(checkUpdateButton_, &QPushButton::clicked, this, [this] {
        if (checkUpdate_) checkUpdate_(this);
    });
    connect(autoLogin_, &QCheckBox::clicked, this, [this](bool on) {
        model_.SetAutoLogin(on);
        keepPassword_->setChecked(model_.keepPassword);
    });
    connect(keepPassword_, &QCheckBox::clicked, this, [this](bool on) {
        model_.SetKeepPassword(on);
        autoLogin_->setChecked(model_.autoLogin);
    });
    server_->installEventFilter(this);

    model_.Open();
    const bool loggedIn = model_.LoggedIn();
    autoLogin_->setEnabled(loggedIn);
    keepPassword_->setEnabled(loggedIn);
    userLanguage_->setEnabled(loggedIn);
    userLanguageLabel_->setEnabled(loggedIn);
    if (facade_ != nullptr) {
        follower_ = std::make_unique<LanguageFollower>(this);
        if (!facade_->AddMessageListener(follower_.get())) follower_.reset();
    }
    Retranslate();
    ShowValues();
}

CConfigureDlg::~CConfigureDlg() {
    // When this returns no handler of the follower runs; queued calls die with the dialog.
    if (follower_) facade_->RemoveMessageListener(follower_.get());
}

void CConfigureDlg::Retranslate() {
    const SettingsModel::Texts t = model_.GetTexts();
    setWindowTitle(Q(t.caption));
    global_->setTitle(Q(t.global));
    autoStart_->setText(Q(t.autoStart));
    globalLanguageLabel_->setText(Q(t.language));
    userLanguageLabel_->setText(Q(t.language));
    serverLabel_->setText(Q(t.server));
    intervalLabel_->setText(Q(t.interval));
    transfersLabel_->setText(Q(t.transfers));
    version_->setText(Q(t.version));
    SetDialogButtonText(*checkUpdateButton_, Q(t.checkUpdate));
    user_->setTitle(Q(t.currentUser));
    autoLogin_->setText(Q(t.autoLogin));
    keepPassword_->setText(Q(t.keepPassword));
    SetDialogButtonText(*save_, Q(t.save));
    SetDialogButtonText(*close_, Q(t.close));
    globalLanguageNote_->setText(Q(t.globalLanguageNote));
    globalLanguageNote_->setVisible(!t.globalLanguageNote.empty());
}

void CConfigureDlg::ShowValues() {
    const auto fill = [this](QComboBox* combo, int index) {
        combo->clear();
        for (const std::string& name : model_.LanguageNames()) combo->addItem(Q(name));
        combo->setCurrentIndex(index);
    };
    fill(globalLanguage_, model_.globalLanguage);
    fill(userLanguage_, model_.userLanguage);
    autoStart_->setChecked(model_.autoStart);
    server_->setText(Q(model_.server));
    interval_->setValue(model_.interval);
    transfers_->setValue(model_.transfers);
    autoLogin_->setChecked(model_.autoLogin);
    keepPassword_->setChecked(model_.keepPassword);
}

void CConfigureDlg::TakeValues() {
    model_.autoStart = autoStart_->isChecked();
    model_.globalLanguage = globalLanguage_->currentIndex();
    model_.server = server_->text().toStdString();
    interval_->interpretText();
    transfers_->interpretText();
    model_.interval = interval_->value();
    model_.transfers = transfers_->value();
    model_.autoLogin = autoLogin_->isChecked();
    model_.keepPassword = keepPassword_->isChecked();
    model_.userLanguage = userLanguage_->currentIndex();
}

SettingsModel::SaveResult CConfigureDlg::Save() {
    TakeValues();
    saved_->clear();
    const SettingsModel::SaveResult result = model_.Save();
    saved_->setText(Q(result.notice));
    if (!result.message.empty()) ShowMessage(result.message);
    QWidget* focus = nullptr;
    switch (result.focus) {
        case SettingsModel::Field::Server: focus = server_; break;
        case SettingsModel::Field::Interval: focus = interval_; break;
        case SettingsModel::Field::Transfers: focus = transfers_; break;
        case SettingsModel::Field::None: break;
    }
    if (focus != nullptr) {
        focus->setFocus();
        if (focus == server_) server_->selectAll();
    }
    return result;
}

bool CConfigureDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == server_ && event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Leaving the window, or closing it, is no edit to check.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            QTimer::singleShot(0, this, [this] { ServerFocusLost(); });
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CConfigureDlg::ServerFocusLost() {
    // Closing needs no check, and Save checks the address itself.
    if (!isVisible() || showingMessage_ || focusWidget() == close_ || close_->isDown() || focusWidget() == save_) {
        return;
    }
    model_.server = server_->text().toStdString();
    if (const auto message = model_.CheckServer()) {
        ShowMessage(*message);
        server_->setFocus();
        server_->selectAll();
    }
}

void CConfigureDlg::ShowMessage(const std::string& text) {
    showingMessage_ = true;
    desktop_.MessageBox(windowTitle().toStdString(), text, ClientDesktop::BoxIcon::Exclamation);
    showingMessage_ = false;
}
