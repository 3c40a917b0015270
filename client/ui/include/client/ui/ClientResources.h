#pragma once
// The client program's pictures by resource id: icons and button bitmaps drawn for it as
// SVG (resources/client/bitmaps/<id>.svg), compiled into the program. A bitmap comes at
// its drawn size unless a size is asked; an unknown id gives a null picture.
#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace client_ui {

// Resource ids of the client's pictures.
enum ClientBitmapId : int {
    kIconClient = 128,       // window and tray icon
    kMenuBitmapSettings = 197,
    kMenuBitmapWeb = 198,
    kAboutBanner = 203,
    kLoginLogo = 216,
};

// True when the id names one of the client's pictures.
bool HasBitmap(int id);
// The picture at its drawn size, or scaled to `size`.
QPixmap Bitmap(int id);
QPixmap Bitmap(int id, QSize size);
// An icon in the usual sizes.
QIcon Icon(int id);

}  // namespace client_ui
