#include "platform/qt/DialogUnits.h"

#include <QFontMetrics>

#include <algorithm>

namespace plat::qt {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = std::max(1, (width / 26 + 1) / 2);
    baseY_ = std::max(1, metrics.height());
}

}  // namespace plat::qt
