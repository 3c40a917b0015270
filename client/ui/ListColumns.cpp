#include "client/ui/ListColumns.h"

#include <algorithm>

#include "client/ui/ClientResources.h"

namespace client_ui {

QPixmap RowImage(bool folder) { return Bitmap(folder ? 149 : 148, QSize(20, 20)); }

int ColumnWidthFor(const QFontMetrics& metrics, std::initializer_list<std::string> texts) {
    int width = 0;
    for (const std::string& text : texts) width = std::max(width, metrics.horizontalAdvance(QString::fromStdString(text)));
    return width + 18;
}

}  // namespace client_ui
