#include "client/ui/DialogLayout.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QPointer>
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

int RunDialog(QDialog& dialog) {
    dialog.setWindowModality(Qt::NonModal);
    dialog.setResult(0);
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    QPointer<QDialog> alive(&dialog);
    if (dialog.isVisible()) loop.exec(QEventLoop::DialogExec);
    return alive ? dialog.result() : 0;
}

}  // namespace client_ui
