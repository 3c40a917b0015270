#pragma once
// What the gallery's parts share: writing a picture under the output folder and showing
// a window until it has settled, then writing its picture.
#include <QImage>
#include <QString>
#include <QWidget>

#include "platform/msgloop/MessageLoop.h"

void GallerySave(const QImage& image, const QString& name);
void GallerySaveWidget(QWidget& widget, const QString& name, plat::MessageLoop& loop);

// The client program's settings dialog and version dialog, in English and Chinese, with
// the language catalogues found in `languageParent` + "/language".
void ClientSettingsGallery(const QString& languageParent, plat::MessageLoop& loop);
