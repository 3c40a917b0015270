#include "client/ui/DialogLayout.h"

#include <QApplication>
#include <QFontMetrics>
#include <QWidget>

namespace client_ui {

void Place(QWidget* widget, const DialogUnits& units, int id, int x, int y, int w, int h) {
    widget->setObjectName(QString::number(id));
    widget->setGeometry(units.Rect(x, y, w, h));
}

QFont ClientFont(double pointSize) {
    QFont font = QApplication::font();
    QStringList families = font.families();
    if (families.isEmpty()) families << font.family();
    families << QStringLiteral("WenQuanYi Micro Hei") << QStringLiteral("Noto Sans CJK SC");
    font.setFamilies(families);
    if (pointSize > 0) font.setPointSizeF(pointSize);
    return font;
}

}  // namespace client_ui
