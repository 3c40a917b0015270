#include "sync/ui/Resources.h"

#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>
#include <QWidget>

#include "sync/ui/LanguageIni.h"

namespace orvane_ui {

QString Tr(const CLanguageIni& language, std::u16string_view key) {
    return QString::fromStdU16String(language.GetString(key));
}

namespace {
QString IconPath(int id) { return QStringLiteral(":/orvane/icons/%1.svg").arg(id); }
}  // namespace

QPixmap PixmapById(int id, QSize size) {
    QSvgRenderer renderer(IconPath(id));
    if (!renderer.isValid() || size.isEmpty()) return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QIcon IconById(int id) {
    QIcon icon;
    for (int edge : {16, 20, 22, 24, 32, 48, 64}) {
        const QPixmap pixmap = PixmapById(id, QSize(edge, edge));
        if (pixmap.isNull()) return {};
        icon.addPixmap(pixmap);
    }
    return icon;
}

std::optional<std::string> ResourceText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll().toStdString();
}

QFont TemplateFont(const QString& name, double pointSize) {
    QFont font;
    QStringList families{name};
    if (name == QStringLiteral("MS Shell Dlg")) families = QStringList{};
    families << QStringLiteral("WenQuanYi Micro Hei") << QStringLiteral("Noto Sans CJK SC") << QStringLiteral("DejaVu Sans");
    font.setFamilies(families);
    font.setPointSizeF(pointSize);
    return font;
}

void Place(QWidget* widget, const DialogUnits& units, int id, int x, int y, int w, int h) {
    widget->setObjectName(QString::number(id));
    QRect place = units.Rect(x, y, w, h);
    // A one-line text longer than its template place (a translation) grows to the right
    // instead of being cut, as far as the dialog reaches.
    if (auto* label = qobject_cast<QLabel*>(widget); label && !label->wordWrap() && label->pixmap().isNull()) {
        const int wanted = label->sizeHint().width();
        const int room = widget->parentWidget() ? widget->parentWidget()->width() - place.left() - units.X(4) : wanted;
        if (wanted > place.width()) place.setWidth(std::max(place.width(), std::min(wanted, room)));
    }
    widget->setGeometry(place);
}

}  // namespace orvane_ui
