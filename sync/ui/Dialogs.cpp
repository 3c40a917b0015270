#include "sync/ui/Dialogs.h"

#include <QFontMetrics>
#include <QPainter>
#include <QThread>

#include <algorithm>
#include <memory>

#include "sync/ui/LanguageIni.h"
#include "sync/ui/Resources.h"
#include "updatesite/VersionPage.h"

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
    // The product's name in the interface's language on the picture's banner.
    auto* name = new QLabel(Tr(language, u"Nuvet云盘"), this);
    Place(name, du, -1, 59, 12, 180, 24);
    name->setObjectName(QStringLiteral("name"));
    QFont nameFont = TemplateFont(QStringLiteral("微软雅黑"), 17);
    name->setFont(nameFont);
    name->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    // "Version 1.2.3.4"; nothing without a version. The whole width: a translation is longer
    // than the template's field.
    version_ = new QLabel(version.empty() ? QString() : QString::fromStdU16String(language.Format(
                                                             u"版本：%s", {QString::fromStdString(version).toStdU16String()})),
                          this);
    Place(version_, du, 1313, 20, 74, 206, 12);
    version_->setAlignment(Qt::AlignCenter);
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
    // Room for the text: its longest line unbroken as far as a reasonable width, a margin
    // on the right, and space between the text and the buttons. The box grows to the right
    // and downwards; the buttons keep their place against its lower right corner.
    const QFontMetrics metrics(label->font());
    int longest = 0;
    for (const QString& line : label->text().split(QLatin1Char('\n')))
        longest = std::max(longest, metrics.horizontalAdvance(line) + metrics.averageCharWidth());
    const int textWidth = std::clamp(longest, label->width(), du.X(200));
    const int textHeight = std::max(label->height(), label->heightForWidth(textWidth));
    label->resize(textWidth, textHeight);
    const int wider = std::max(0, label->x() + textWidth + du.X(9) - width());
    const int lower = std::max(0, label->y() + textHeight + du.Y(12) - ok_->y());
    // A margin below the buttons too (the template sets them on the bottom edge).
    const int margin = du.Y(7) - (height() - ok_->geometry().bottom() - 1);
    if (wider > 0 || lower > 0 || margin > 0) {
        setFixedSize(width() + wider, height() + lower + std::max(0, margin));
        for (QPushButton* button : {ok_, cancel_}) button->move(button->x() + wider, button->y() + lower);
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

namespace {

std::string Trimmed(const std::string& text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; };
    std::size_t first = 0, last = text.size();
    while (first < last && blank(text[first])) ++first;
    while (last > first && blank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::u16string U16(const std::string& text) { return QString::fromStdString(text).toStdU16String(); }

// Controls of the update notice that show no data of this program: the release date and
// size of an update (the download page names neither).
bool NoDataControl(int id) { return id == 1172 || id == 1173; }

}  // namespace

UpdateNoticeModel::UpdateNoticeModel(std::string ownVersion, std::string site)
    : own_(std::move(ownVersion)), site_(Trimmed(site)), state_(site_.empty() ? State::NoSite : State::Checking) {}

void UpdateNoticeModel::TakeVersion(const std::string& serverVersion) {
    if (state_ != State::Checking) return;
    server_ = Trimmed(serverVersion);
    if (serverVersion.empty() || server_.empty()) {
        state_ = State::Failed;
        return;
    }
    state_ = CompareVersionTexts(ShortVersionText(own_), serverVersion) >= 0 ? State::UpToDate : State::Newer;
}

std::string UpdateNoticeModel::PageAddress() const { return site_.empty() ? std::string() : VersionPageUrl(site_); }

std::u16string UpdateNoticeModel::Headline(const CLanguageIni& language) const {
    switch (state_) {
        case State::Checking: return language.GetString(u"正在检查是否有新版本...");
        case State::NoSite: return language.GetString(u"没有检查更新");
        case State::Failed: return language.GetString(u"检查更新失败");
        case State::UpToDate: return language.GetString(u"当前已是最新版本");
        case State::Newer: return language.GetString(u"可升级至：");
    }
    return {};
}

std::u16string UpdateNoticeModel::VersionLine(const CLanguageIni& language) const {
    if (state_ != State::Newer) return {};
    return language.Format(u"Nuvet云盘 %s", {U16(server_)});
}

std::u16string UpdateNoticeModel::Details(const CLanguageIni& language) const {
    std::u16string text = language.Format(u"当前版本：%s", {U16(own_.empty() ? std::string("-") : own_)});
    text += u"\n\n";
    switch (state_) {
        case State::Checking: break;
        case State::NoSite: text += language.GetString(u"没有配置更新站点，因此没有检查新版本。"); break;
        case State::Failed: text += language.Format(u"无法从更新站点读取版本信息：%s", {U16(PageAddress())}); break;
        case State::UpToDate: text += language.Format(u"更新站点提供的版本：%s", {U16(server_)}); break;
        case State::Newer: text += language.Format(u"新版本可从更新站点下载：%s", {U16(PageAddress())}); break;
    }
    return text;
}

bool UpdateNoticeModel::Visible(int id) const {
    if (NoDataControl(id)) return false;
    if (state_ == State::Checking) return id == kCheckingLine;
    if (id == kCheckingLine) return false;
    if (id == 1 || id == 1171) return state_ == State::Newer;
    return true;
}

CUpdateDlg::CUpdateDlg(CLanguageIni& language, UpdateCheck check, QWidget* parent)
    : QDialog(parent), language_(language), model_(check.ownVersion, check.site), openPage_(std::move(check.openPage)) {
    setObjectName(QStringLiteral("172"));
    setFont(TemplateFont(QStringLiteral("MS Shell Dlg"), 8));
    setWindowIcon(IconById(128));
    setWindowTitle(Tr(language, u"Nuvet云盘"));
    const DialogUnits du(font());
    setFixedSize(du.Size(316, 180));
    auto label = [&](int id, int x, int y, int w, int h) {
        auto* l = new QLabel(this);
        Place(l, du, id, x, y, w, h);
        return l;
    };
    // The headline and the version line take the whole width: a translation is longer
    // than the Chinese text the template measured.
    label(1174, 15, 10, 286, 10);
    label(1171, 31, 26, 270, 10);
    label(1173, 136, 26, 78, 8);
    label(1172, 226, 26, 49, 8);
    auto* notes = label(1176, 21, 42, 272, 101);
    notes->setFrameShape(QFrame::StyledPanel);
    notes->setAutoFillBackground(true);
    notes->setBackgroundRole(QPalette::Base);
    notes->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notes->setWordWrap(true);
    notes->setMargin(6);
    notes->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label(1175, 21, 86, 272, 10)->setAlignment(Qt::AlignCenter);
    auto* ok = new QPushButton(Tr(language, u"立即升级"), this);
    Place(ok, du, 1, 80, 153, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CUpdateDlg::accept);
    auto* later = new QPushButton(this);
    Place(later, du, 2, 186, 153, 50, 14);
    connect(later, &QPushButton::clicked, this, &QDialog::reject);
    Show();
    if (model_.Current() != UpdateNoticeModel::State::Checking) return;
    // The page is read on a thread of its own; the answer comes back through this
    // window's queue, and is dropped when the window has gone meanwhile.
    auto answer = std::make_shared<std::string>();
    auto fetch = check.fetch ? std::move(check.fetch)
                             : std::function<std::string(const std::string&)>(
                                   [](const std::string& site) { return GetServerVersion(site); });
    QThread* worker = QThread::create([answer, fetch = std::move(fetch), site = model_.Site()] { *answer = fetch(site); });
    connect(worker, &QThread::finished, this, [this, answer] { TakeVersion(*answer); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void CUpdateDlg::TakeVersion(const std::string& serverVersion) {
    model_.TakeVersion(serverVersion);
    Show();
}

void CUpdateDlg::accept() {
    if (model_.Current() == UpdateNoticeModel::State::Newer && openPage_) openPage_(model_.PageAddress());
}

void CUpdateDlg::Show() {
    findChild<QLabel*>(QStringLiteral("1175"))->setText(Tr(language_, u"正在检查是否有新版本..."));
    findChild<QLabel*>(QStringLiteral("1174"))->setText(QString::fromStdU16String(model_.Headline(language_)));
    findChild<QLabel*>(QStringLiteral("1171"))->setText(QString::fromStdU16String(model_.VersionLine(language_)));
    findChild<QLabel*>(QStringLiteral("1176"))->setText(QString::fromStdU16String(model_.Details(language_)));
    findChild<QPushButton*>(QStringLiteral("2"))
        ->setText(Tr(language_, model_.Current() == UpdateNoticeModel::State::Newer ? u"暂不升级" : u"关闭"));
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        child->setVisible(model_.Visible(child->objectName().toInt()));
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
    // OK and beside it Cancel, which does what the close box does (the proposal stays).
    auto* ok = new QPushButton(Tr(language, u"确定"), this);
    Place(ok, du, 1, 191, 161, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(Tr(language, u"取消"), this);
    Place(cancel, du, 2, 247, 161, 50, 14);
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* prompt = new QLabel(QStringLiteral("    ") + QString::fromStdU16String(language.GetString(model_.PromptKey())),
                              this);
    Place(prompt, du, -1, 12, 33, 295, 19);
    prompt->setWordWrap(true);
    // The folder over the dialog's whole width, so that a usual path shows whole; a longer
    // one shows its end (the folder's own name) and whole as the tooltip.
    folder_ = new QLineEdit(this);
    Place(folder_, du, 1301, 12, 62, 292, 14);
    folder_->setReadOnly(true);
    ShowFolder();
    auto* browse = new QPushButton(Tr(language, u"选择存储位置..."), this);
    Place(browse, du, 1302, 160, 94, 93, 14);
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this] {
        model_.Browse(this);
        ShowFolder();
    });
}

void CSetCloudPathDlg::ShowFolder() {
    const QString folder = QString::fromStdU16String(model_.Folder());
    folder_->setText(folder);
    folder_->setToolTip(folder);
    folder_->setCursorPosition(static_cast<int>(folder.size()));
}

void CSetCloudPathDlg::reject() {
    model_.Cancel();
    ShowFolder();
    QDialog::reject();
}

void CSetCloudPathDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(248, 248, 255));
}
