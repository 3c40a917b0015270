#include "client/ui/AboutDlg.h"

#include <QPainter>

#include "client/ui/BitButtonNL.h"
#include "client/ui/ClientResources.h"
#include "client/ui/DialogLayout.h"
#include "client/ui/QtTexts.h"
#include "client/ui/UiTexts.h"

std::string BuildMachine() {
#if defined(__x86_64__)
    return "x64";
#elif defined(__i386__)
    return "x86";
#elif defined(__aarch64__)
    return "ARM64";
#elif defined(__arm__)
    return "ARM";
#else
    return sizeof(void*) == 8 ? "64-bit" : "32-bit";
#endif
}

QString AboutCaption(const UiTexts& texts) { return QText(texts, "About Dravik"); }

std::vector<AboutLine> AboutLines(const UiTexts& texts, const std::string& version) {
    return {
        {QText(texts, "Enterprises content management cloud platform"), 0x00B5F3},
        {QText(texts, "Version") + QStringLiteral(" ") + QString::fromStdString(version) +
             QString::fromStdString(" (" + BuildMachine() + ")"), 0x333333},
        {QText(texts, "Copyright") + QStringLiteral(" © ") + QText(texts, "Dravik Information Technology Co., Ltd."), 0x333333},
    };
}

CAboutDlg::CAboutDlg(const UiTexts& texts, std::string version, QWidget* parent) : QDialog(parent) {
    setObjectName(QString::number(kTemplateId));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowTitle(AboutCaption(texts));
    setWindowIcon(client_ui::Icon(client_ui::kIconClient));

    const QPixmap banner = client_ui::Bitmap(client_ui::kAboutBanner);
    const QFont font = client_ui::ClientFont(10);
    const QFontMetrics metrics(font);
    const std::vector<AboutLine> lines = AboutLines(texts, version);
    int width = banner.width();
    for (const AboutLine& line : lines) width = std::max(width, metrics.horizontalAdvance(line.text) + 48);
    const int lineHeight = metrics.height() + 8;
    const int textTop = banner.height() + 18;
    const int height = textTop + lineHeight * static_cast<int>(lines.size()) + 8;

    // The picture: white, the banner across the top, the lines below it.
    picture_ = QImage(width, height, QImage::Format_ARGB32);
    picture_.fill(Qt::white);
    {
        QPainter painter(&picture_);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.fillRect(QRect(0, 0, width, banner.height()), QColor(0xe8, 0xf6, 0xfd));
        painter.drawPixmap(0, 0, banner);
        painter.setFont(font);
        int y = textTop;
        for (const AboutLine& line : lines) {
            painter.setPen(QColor::fromRgb(line.rgb));
            painter.drawText(QRect(24, y, width - 48, lineHeight), Qt::AlignLeft | Qt::AlignVCenter, line.text);
            y += lineHeight;
        }
    }

    ok_ = new CBitButtonNL(this);
    ok_->setObjectName(QString::number(kIdOk));
    SkinButton(*ok_, 209, 208, 211, 210, QText(texts, "OK"));
    ok_->setDefault(true);
    ok_->setFocus();
    connect(ok_, &QAbstractButton::clicked, this, &QDialog::accept);
    const int footer = ok_->height() + 24;
    setFixedSize(width, height + footer);
    ok_->move(width - ok_->width() - 16, height + (footer - ok_->height()) / 2);
}

int CAboutDlg::exec() { return client_ui::RunDialog(*this); }

void CAboutDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0xf3, 0xf5, 0xf7));
    painter.drawImage(0, 0, picture_);
    painter.setPen(QColor(0xdd, 0xe1, 0xe5));
    painter.drawLine(0, picture_.height(), width(), picture_.height());
}
