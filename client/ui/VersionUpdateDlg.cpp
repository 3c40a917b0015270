#include "client/ui/VersionUpdateDlg.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "client/core/TextHelpers.h"
#include "client/ui/BitButtonNL.h"
#include "client/ui/ClientResources.h"
#include "client/ui/DialogButtons.h"
#include "client/ui/DialogLayout.h"
#include "client/ui/VersionEndAction.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

const QColor kHeadlineColour(0, 128, 234);
constexpr int kWidth = 420;
// The picture (bitmap 216) across the top, at the dialog's width.
constexpr int kPictureBand = kWidth / 3;

}  // namespace

CVersionUpdateDlg::CVersionUpdateDlg(VersionUpdate::Options options, Translate translate, plat::MessageLoop& loop,
                                     QWidget* parent)
    : QDialog(parent),
      translate_(std::move(translate)),
      model_(std::make_unique<VersionUpdate>(std::move(options))),
      loop_(loop) {
    setObjectName(QStringLiteral("103"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowIcon(client_ui::Icon(client_ui::kIconClient));
    setFont(client_ui::ClientFont());
    setFixedSize(kWidth, kPictureBand + 150);

    headline_ = new QLabel(this);
    headline_->setObjectName(QStringLiteral("1070"));
    headline_->setAlignment(Qt::AlignCenter);
    headline_->setWordWrap(true);
    QFont headlineFont = headline_->font();
    headlineFont.setPointSizeF(headlineFont.pointSizeF() * 1.35);
    headline_->setFont(headlineFont);
    QPalette palette = headline_->palette();
    palette.setColor(QPalette::WindowText, kHeadlineColour);
    headline_->setPalette(palette);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("1075"));
    status_->setAlignment(Qt::AlignCenter);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("1072"));
    progress_->setRange(0, 100);
    progress_->setValue(0);

    skip_ = new QCheckBox(this);
    skip_->setObjectName(QStringLiteral("1078"));
    notUpdate_ = new CBitButtonNL(this);
    notUpdate_->setObjectName(QStringLiteral("1069"));
    notUpdate_->setAutoDefault(false);
    update_ = new CBitButtonNL(this);
    update_->setObjectName(QStringLiteral("1018"));
    update_->setDefault(true);
    for (CBitButtonNL* button : {notUpdate_, update_}) SkinDialogButton(*button, DialogButtonKind::Primary, QString());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, kPictureBand + 8, 18, 14);  // the picture above (paintEvent)
    layout->addStretch(1);
    layout->addWidget(headline_);
    layout->addWidget(status_);
    layout->addWidget(progress_);
    layout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(skip_);
    buttons->addStretch(1);
    buttons->addWidget(notUpdate_);
    buttons->addWidget(update_);
    layout->addLayout(buttons);

    connect(update_, &QPushButton::clicked, this, [this] { OnUpdate(); });
    connect(notUpdate_, &QPushButton::clicked, this, [this] { OnNotUpdate(); });

    window_ = loop_.CreateWindow([this](plat::Message& message) { return OnLoopMessage(message); });
}

CVersionUpdateDlg::~CVersionUpdateDlg() {
    // No message reaches this dialog once it goes; the model then joins the download.
    plat::DestroyWindow(window_);
    model_.reset();
}

int CVersionUpdateDlg::Run() {
    if (const std::optional<int> end = model_->Decide()) return *end;
    ShowState();
    return exec();
}

std::optional<int> CVersionUpdateDlg::Prepare(const std::string& serverVersion) {
    const std::optional<int> end = model_->Decide(serverVersion);
    if (!end) ShowState();
    return end;
}

void CVersionUpdateDlg::ShowState() {
    const VersionUpdate::View view = model_->GetView();
    setWindowTitle(Q(translate_("Version upgrade")));
    headline_->setVisible(view.headline);
    headline_->setText(Q(LabelWithValue(translate_(view.headlineKey), view.headlineVersion)));
    notUpdate_->setVisible(view.notUpdateButton);
    SetDialogButtonText(*notUpdate_, Q(translate_("Not update")));
    skip_->setVisible(view.skipBox);
    skip_->setText(Q(translate_("Skip this version")));
    status_->setVisible(view.status);
    status_->setText(Q(translate_("Downloading new version...")));
    progress_->setVisible(view.progress);
    SetDialogButtonText(*update_, Q(translate_(view.updateButtonKey)));
}

void CVersionUpdateDlg::OnUpdate() {
    const std::optional<int> end = model_->OnUpdate(window_);
    if (end) {
        done(*end);
    } else {
        ShowState();
    }
}

void CVersionUpdateDlg::OnNotUpdate() { EndWith(model_->OnNotUpdate(skip_->isChecked())); }

void CVersionUpdateDlg::reject() {
    // Never QDialog::reject: its code (0) is the success code here.
    EndWith(model_->OnCloseRequest());
}

void CVersionUpdateDlg::EndWith(std::optional<int> code) {
    if (code) done(*code);
}

plat::MsgResult CVersionUpdateDlg::OnLoopMessage(plat::Message& message) {
    if (message.message == WM_UPDATE_PROGRESS) {
        progress_->setValue(model_->OnDownloadProgress());
    } else if (message.message == WM_UPDATE_RESULT) {
        EndWith(model_->OnDownloadResult(static_cast<int>(message.wParam)));
    }
    return 0;
}

void CVersionUpdateDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRect(0, 0, width(), kPictureBand), client_ui::Bitmap(216, QSize(width(), kPictureBand)));
}

int RunVersionDialog(QWidget* parent, const VersionUpdate::Options& options,
                     const CVersionUpdateDlg::Translate& translate, plat::MessageLoop& loop, std::string& installerPath) {
    CVersionUpdateDlg dialog(options, translate, loop, parent);
    const int end = dialog.Run();
    installerPath = end == VersionUpdate::EndInstallerReady ? dialog.InstallerPath() : std::string();
    return end;
}

void RunManualVersionCheck(QWidget* parent, VersionUpdate::Options options, const CVersionUpdateDlg::Translate& translate,
                           plat::MessageLoop& loop, ClientDesktop& desktop) {
    options.automatic = false;
    std::string installer;
    const int end = RunVersionDialog(parent, options, translate, loop, installer);
    ActOnVersionEnd(end, installer, true, desktop, translate);
}
