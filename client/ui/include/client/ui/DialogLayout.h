#pragma once
// Dialog geometry of the client's windows: their templates are given in dialog units,
// turned into pixels through the dialog font's average character width and height
// (x × width / 4, y × height / 8). Place gives a control its control id as objectName and
// its place.
#include <QFont>
#include <QRect>
#include <QSize>

#include "platform/qt/DialogUnits.h"

class QDialog;
class QWidget;

namespace client_ui {

using DialogUnits = plat::qt::DialogUnits;

void Place(QWidget* widget, const DialogUnits& units, int id, int x, int y, int w, int h);

// The font of the client's windows: the desktop's, with the CJK face as fallback so the
// Chinese texts render.
QFont ClientFont(double pointSize = 0);

// Runs `dialog` until it is done and returns its result, as exec() does, but without
// blocking the program's other windows: the tray icon and its menu stay usable while a
// window of the tray runs (the hidden tray window owns them all).
int RunDialog(QDialog& dialog);

}  // namespace client_ui
