#include "http/Bounds.h"

namespace http {

std::string LogExcerpt(std::string_view body) {
    static constexpr char kHex[] = "0123456789abcdef";
    const std::string_view shown = body.substr(0, kLoggedBodyBytes);
    std::string out;
    out.reserve(shown.size() + 32);
    for (const char c : shown) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            case '\\': out += "\\\\"; continue;
            default: break;
        }
        if (b < 0x20 || b == 0x7F) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        } else {
            out += c;
        }
    }
    if (body.size() > shown.size()) out += "... (" + std::to_string(body.size()) + " bytes)";
    return out;
}

}  // namespace http
