#pragma once
// What the gallery's parts share: the output folder and the PNG writers.
#include <QImage>
#include <QString>

class ClientDesktop;
class LanguageManager;
class QWidget;
namespace plat { class MessageLoop; }

namespace gallery {

extern QString g_out;
extern int g_failures;

// Writes `image` as <output>/<name>.png (folders created); a failure is counted.
void Save(const QImage& image, const QString& name);
// Handles the loop's and Qt's pending work.
void Settle(plat::MessageLoop& loop);
// Shows the widget, lets it settle and saves what it shows.
void SaveWidget(QWidget& widget, const QString& name, plat::MessageLoop& loop);

}  // namespace gallery

// The client program's windows, in Chinese and English, under <output>/client/.
void ClientGallery(plat::MessageLoop& loop);

// The client's settings dialog (logged in and out) and version dialog (offer, latest
// version, download) in the language in force of `languages`, under <output>/client/.
void ClientSettingsGallery(const LanguageManager& languages, ClientDesktop& desktop, const QString& suffix,
                           plat::MessageLoop& loop);
