#include "client/ui/DialogButtons.h"

#include <QFontMetrics>

#include <algorithm>

#include "client/ui/BitButtonNL.h"

void SkinDialogButton(CBitButtonNL& button, DialogButtonKind kind, const QString& text) {
    if (kind == DialogButtonKind::Primary) {
        SkinButton(button, 209, 208, 211, 210, text);
    } else {
        SkinButton(button, 213, 212, 215, 214, text);
    }
    SetDialogButtonText(button, text);
}

void SetDialogButtonText(CBitButtonNL& button, const QString& text) {
    button.setText(text);
    const int bitmapWidth = button.sizeHint().width();
    const int textWidth = QFontMetrics(button.font()).horizontalAdvance(text) + 24;
    button.setMinimumWidth(std::max(bitmapWidth, textWidth));
    button.setFixedHeight(button.sizeHint().height());
}
