#pragma once
// The windows' texts as Qt strings.
#include <QString>

#include <string>

#include "client/ui/UiTexts.h"

inline QString QText(const UiTexts& texts, const std::string& key) { return QString::fromStdString(texts.Text(key)); }
