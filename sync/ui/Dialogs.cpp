#include "sync/ui/Dialogs.h"

#include <QPainter>

#include "sync/ui/LanguageIni.h"
#include "sync/ui/Resources.h"

using orvane_ui::DialogUnits;
using orvane_ui::IconById;
using orvane_ui::PixmapById;
using orvane_ui::Place;
using orvane_ui::TemplateFont;
using orvane_ui::Tr;

BitmapDialog::BitmapDialog(int bitmapId, QWidget* parent) : QDialog(parent), bitmapId_(bitmapId) {
    setWindowIcon(IconById(128));
}

void BitmapDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPixmap bitmap = PixmapById(bitmapId_, size());
    if (bitmap.isNull()) painter.fillRect(rect(), Qt::white);
    else painter.drawPixmap(0, 0, bitmap);
}

// ---------------------------------------------------------------- version box

CBanbenInfo::CBanbenInfo(CLanguageIni& language, const std::string& version, QWidget* parent)
    : BitmapDialog(269, parent) {
    setObjectName(QStringLiteral("267"));
    setFont(TemplateFont(QStringLiteral("微软雅黑"), 8));
    setWindowTitle(Tr(language, u"版本信息"));
    const DialogUnits du(font());
    setFixedSize(du.Size(246, 164));
    auto* ok = new QPushButton(Tr(language, u"确定"), this);
    Place(ok, du, 1, 168, 146, 43, 17);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(Tr(language, u"取消"), this);
    Place(cancel, du, 2, 8, 81, 50, 14);
    cancel->hide();
    version_ = new QLabel(QString::fromStdString(version), this);
    Place(version_, du, 1313, 98, 74, 54, 10);
    version_->setFont(TemplateFont(QStringLiteral("微软雅黑"), 8.5));
}

QString CBanbenInfo::VersionText() const { return version_->text(); }

// ---------------------------------------------------------------- message box

CDeleteUserInfo::CDeleteUserInfo(CLanguageIni& language, const std::u16string& caption, const std::u16string& text,
                                 int mode, QWidget* parent)
    : BitmapDialog(257, parent) {
    setObjectName(QStringLiteral("255"));
    setFont(TemplateFont(QStringLiteral("微软雅黑"), 9));
    setWindowTitle(QString::fromStdU16String(language.GetString(caption)));
    const DialogUnits du(font());
    setFixedSize(du.Size(182, 77));
    ok_ = new QPushButton(Tr(language, u"确定"), this);
    Place(ok_, du, kIdOk, 68, 60, 50, 16);
    ok_->setDefault(true);
    cancel_ = new QPushButton(Tr(language, u"取消"), this);
    Place(cancel_, du, kIdCancel, 123, 60, 50, 16);
    auto* label = new QLabel(QString::fromStdU16String(language.GetString(text)), this);
    Place(label, du, -1, 60, 22, 117, 29);
    label->setWordWrap(true);
    label->setAttribute(Qt::WA_TranslucentBackground);
    // A longer translation grows the box downwards instead of being cut off.
    const int extra = label->heightForWidth(label->width()) - label->height();
    if (extra > 0) {
        label->resize(label->width(), label->height() + extra);
        setFixedSize(width(), height() + extra);
        for (QPushButton* button : {ok_, cancel_}) button->move(button->x(), button->y() + extra);
    }
    if (mode == 1) {
        cancel_->hide();
        ok_->move(ok_->x() + ok_->width(), ok_->y());
    }
    connect(ok_, &QPushButton::clicked, this, [this] { done(kIdOk); });
    connect(cancel_, &QPushButton::clicked, this, [this] { done(kIdCancel); });
}

int CDeleteUserInfo::exec() {
    const int result = QDialog::exec();
    return result == kIdOk ? kIdOk : kIdCancel;
}

// ---------------------------------------------------------------- update notice

CUpdateDlg::CUpdateDlg(CLanguageIni& language, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("172"));
    setFont(TemplateFont(QStringLiteral("MS Shell Dlg"), 8));
    setWindowIcon(IconById(128));
    setWindowTitle(Tr(language, u"Nuvet云盘"));
    const DialogUnits du(font());
    setFixedSize(du.Size(316, 180));
    auto label = [&](int id, std::u16string_view key, int x, int y, int w, int h) {
        auto* l = new QLabel(Tr(language, key), this);
        Place(l, du, id, x, y, w, h);
        return l;
    };
    label(1174, u"可升级至：", 15, 10, 41, 8);
    label(1171, u"Nuvet云盘1.0.100.0版", 31, 26, 73, 8);
    label(1173, u"更新时间：2012-10-24", 136, 26, 78, 8);
    label(1172, u"大小：10.0MB", 226, 26, 49, 8);
    auto* notes = new QLabel(this);  // the list of notes, never filled
    Place(notes, du, 1176, 21, 42, 272, 101);
    notes->setFrameShape(QFrame::StyledPanel);
    notes->setAutoFillBackground(true);
    notes->setBackgroundRole(QPalette::Base);
    label(1175, u"正在检查是否有新版本...", 113, 86, 89, 8)->setAlignment(Qt::AlignCenter);
    auto* ok = new QPushButton(Tr(language, u"立即升级"), this);
    Place(ok, du, 1, 80, 153, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CUpdateDlg::accept);
    auto* later = new QPushButton(Tr(language, u"暂不升级"), this);
    Place(later, du, 2, 186, 153, 50, 14);
    connect(later, &QPushButton::clicked, this, &QDialog::reject);
    ShowPhase(false);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { ShowPhase(true); });
    timer_.start(UpdateNoticePhases::kCheckingMs);
}

void CUpdateDlg::ShowPhase(bool result) {
    if (result) phases_.ShowResult();
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        child->setVisible(phases_.Visible(child->objectName().toInt()));
    }
}

// ---------------------------------------------------------------- folder dialog

CSetCloudPathDlg::CSetCloudPathDlg(CLanguageIni& language, CloudPathDialogModel& model, QWidget* parent)
    : QDialog(parent), model_(model) {
    setObjectName(QStringLiteral("200"));
    setFont(TemplateFont(QStringLiteral("MS Shell Dlg"), 8));
    setWindowIcon(IconById(128));
    setWindowTitle(Tr(language, u"指定路径"));
    const DialogUnits du(font());
    setFixedSize(du.Size(316, 183));
    auto* ok = new QPushButton(Tr(language, u"确定"), this);
    Place(ok, du, 1, 247, 161, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* prompt = new QLabel(QStringLiteral("    ") + QString::fromStdU16String(language.GetString(model_.PromptKey())),
                              this);
    Place(prompt, du, -1, 12, 33, 295, 19);
    prompt->setWordWrap(true);
    folder_ = new QLineEdit(QString::fromStdU16String(model_.Folder()), this);
    Place(folder_, du, 1301, 31, 62, 215, 14);
    folder_->setReadOnly(true);
    auto* browse = new QPushButton(Tr(language, u"选择存储位置..."), this);
    Place(browse, du, 1302, 160, 94, 93, 14);
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this] {
        model_.Browse(this);
        folder_->setText(QString::fromStdU16String(model_.Folder()));
    });
}

void CSetCloudPathDlg::reject() {
    model_.Cancel();
    folder_->setText(QString::fromStdU16String(model_.Folder()));
    QDialog::reject();
}

void CSetCloudPathDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(248, 248, 255));
}
