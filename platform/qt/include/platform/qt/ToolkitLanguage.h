// The toolkit's own texts (the standard file dialog's labels and columns, the standard
// buttons of message boxes) in the program's language: Qt's catalogue of that language
// from the system's Qt translations, none for English. Qt's thread only.
#pragma once

#include <string>

namespace plat::qt {

// Uses the toolkit catalogue of `languageCode` ("zh-CN", "en", ...); false when the system
// has none for it (the toolkit then shows English).
bool UseToolkitLanguage(const std::string& languageCode);

}  // namespace plat::qt
