#include "platform/qt/ToolkitLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <algorithm>
#include <memory>

namespace plat::qt {

bool UseToolkitLanguage(const std::string& languageCode) {
    static std::unique_ptr<QTranslator> current;
    if (current) {
        QCoreApplication::removeTranslator(current.get());
        current.reset();
    }
    if (languageCode.empty() || languageCode == "en" || languageCode.rfind("en-", 0) == 0) return true;
    std::string locale = languageCode;
    std::replace(locale.begin(), locale.end(), '-', '_');
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QString::fromStdString("qtbase_" + locale),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    QCoreApplication::installTranslator(translator.get());
    current = std::move(translator);
    return true;
}

}  // namespace plat::qt
