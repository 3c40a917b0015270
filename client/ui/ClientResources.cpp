#include "client/ui/ClientResources.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

namespace client_ui {

namespace {
QString Path(int id) { return QStringLiteral(":/client/bitmaps/%1.svg").arg(id); }
}  // namespace

bool HasBitmap(int id) { return QFile::exists(Path(id)); }

QPixmap Bitmap(int id, QSize size) {
    QSvgRenderer renderer(Path(id));
    if (!renderer.isValid()) return {};
    if (size.isEmpty()) size = renderer.defaultSize();
    if (size.isEmpty()) return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return pixmap;
}

QPixmap Bitmap(int id) { return Bitmap(id, QSize()); }

QIcon Icon(int id) {
    QIcon icon;
    for (int edge : {16, 20, 22, 24, 32, 48, 64}) {
        const QPixmap pixmap = Bitmap(id, QSize(edge, edge));
        if (pixmap.isNull()) return {};
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace client_ui
