#pragma once
// The skins of the settings and version dialogs' push buttons: the blue bitmaps (209,
// 208, 211, 210) for a button that goes ahead, the grey ones (213, 212, 215, 214) for one
// that closes; white text, at least as wide as the bitmap and wide enough for its text
// in any language. UI thread.
#include <QString>

class CBitButtonNL;

enum class DialogButtonKind { Primary, Secondary };

void SkinDialogButton(CBitButtonNL& button, DialogButtonKind kind, const QString& text);
// A new text (a language change) with the width to hold it.
void SetDialogButtonText(CBitButtonNL& button, const QString& text);
