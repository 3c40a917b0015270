#pragma once
// What the browser's and the transfer list's tables share: the row images and the width
// a column needs for its texts.
#include <QFontMetrics>
#include <QPixmap>

#include <initializer_list>
#include <string>

namespace client_ui {

// The image of a row: a folder (bitmap 149) or a file (bitmap 148), 20 pixels square.
QPixmap RowImage(bool folder);
// The width that shows each of `texts` (UTF-8) in full, with the cell's padding.
int ColumnWidthFor(const QFontMetrics& metrics, std::initializer_list<std::string> texts);

}  // namespace client_ui
