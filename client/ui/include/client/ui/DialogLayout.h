#pragma once
// Dialog geometry of the client's windows: their templates are given in dialog units,
// turned into pixels through the dialog font's average character width and height
// (x × width / 4, y × height / 8). Place gives a control its spec id as objectName and
// its place.
#include <QFont>
#include <QRect>
#include <QSize>

#include "platform/qt/DialogUnits.h"

class QWidget;

namespace client_ui {

using DialogUnits = plat::qt::DialogUnits;

void Place(QWidget* widget, const DialogUnits& units, int id, int x, int y, int w, int h);

// The font of the client's windows: the desktop's, with the CJK face as fallback so the
// Chinese texts render.
QFont ClientFont(double pointSize = 0);

}  // namespace client_ui
