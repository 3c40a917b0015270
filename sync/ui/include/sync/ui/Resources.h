#pragma once
// The sync program's resources by id (icons and bitmaps drawn for it, menus) and the
// dialog geometry of its windows.
//
// Icons and bitmaps are SVG pictures compiled into the program (":/orvane/icons/<id>.svg")
// and rendered at the size asked; menus are text resources (":/orvane/menus/<id>.menu",
// read by ParseMenuResource). Dialog templates are given in dialog units: DialogUnits turns
// them into pixels through the dialog font's average character width and height, as the
// templates assume (x × width / 4, y × height / 8).
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRect>

#include "platform/qt/DialogUnits.h"

#include <optional>
#include <string>
#include <string_view>

class CLanguageIni;

namespace orvane_ui {

// A window text through the language file.
QString Tr(const CLanguageIni& language, std::u16string_view key);

// An icon resource (all sizes); a null icon for an unknown id.
QIcon IconById(int id);
// An icon or bitmap resource rendered at `size`.
QPixmap PixmapById(int id, QSize size);
// The text of a compiled-in resource file.
std::optional<std::string> ResourceText(const QString& path);

// A font by the name a template gives ("微软雅黑", "黑体", "MS Shell Dlg"), falling back to
// the CJK font the desktop has.
QFont TemplateFont(const QString& name, double pointSize);

using DialogUnits = plat::qt::DialogUnits;

// Gives the widget the control id as objectName and places it by dialog units.
void Place(QWidget* widget, const DialogUnits& units, int id, int x, int y, int w, int h);

}  // namespace orvane_ui
