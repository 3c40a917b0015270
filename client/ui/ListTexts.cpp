#include "client/ui/ListTexts.h"

#include <cstdio>

std::string TimeToSecond(const DateTime& time) {
    const std::string text = time.ToString();
    const std::size_t dot = text.find('.');
    return dot == std::string::npos ? text : text.substr(0, dot);
}

std::string PercentText(double done, double total) {
    char text[64];
    const double value = total > 0.1f ? done * 100.0 / total : 0.0;
    std::snprintf(text, sizeof text, "%.2f%%", value);
    return text;
}
