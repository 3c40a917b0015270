#include "client/ui/ServerAddress.h"

#include <algorithm>
#include <cctype>

namespace {

bool IsAsciiAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// Four decimal parts of 0..255 without leading zeros.
bool IsIpv4(std::string_view host) {
    int parts = 0;
    std::size_t start = 0;
    while (start <= host.size()) {
        const std::size_t dot = std::min(host.find('.', start), host.size());
        const std::string_view part = host.substr(start, dot - start);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
        int value = 0;
        for (const char c : part) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        if (value > 255) return false;
        ++parts;
        start = dot + 1;
    }
    return parts == 4;
}

// A DNS name: labels of letters, digits and '-' (not at a label's ends), 1 to 63
// characters each, at most 253 in all, the last label not all digits; at least two
// labels, or "localhost".
bool IsHostName(std::string_view host) {
    if (Lower(host) == "localhost") return true;
    if (host.empty() || host.size() > 253) return false;
    int labels = 0;
    std::size_t start = 0;
    std::string_view last;
    while (start <= host.size()) {
        const std::size_t dot = std::min(host.find('.', start), host.size());
        const std::string_view label = host.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
        for (const char c : label) {
            if (!IsAsciiAlnum(c) && c != '-') return false;
        }
        last = label;
        ++labels;
        start = dot + 1;
    }
    const bool numericTop = std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; });
    return labels >= 2 && !numericTop;
}

// "[...]" holding hexadecimal digits, ':' and '.' with at least two colons.
bool IsBracketedIpv6(std::string_view host) {
    if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
    const std::string_view inner = host.substr(1, host.size() - 2);
    if (std::count(inner.begin(), inner.end(), ':') < 2) return false;
    return std::all_of(inner.begin(), inner.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
    });
}

// Path characters of a URL: unreserved, sub-delimiters, ':', '@', '/' and percent escapes.
bool IsPath(std::string_view path) {
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '%') {
            if (i + 2 >= path.size() || !std::isxdigit(static_cast<unsigned char>(path[i + 1])) ||
                !std::isxdigit(static_cast<unsigned char>(path[i + 2]))) {
                return false;
            }
            i += 2;
            continue;
        }
        if (IsAsciiAlnum(c) || std::string_view("-._~!$&'()*+,;=:@/").find(c) != std::string_view::npos) continue;
        return false;
    }
    return path.find("//") == std::string_view::npos;
}

}  // namespace

std::optional<ServerAddress> ParseServerAddress(std::string_view text) {
    std::string_view rest = Trim(text);
    ServerAddress address;
    const std::size_t schemeEnd = rest.find("://");
    if (schemeEnd != std::string_view::npos) {
        address.scheme = Lower(rest.substr(0, schemeEnd));
        if (address.scheme != "http" && address.scheme != "https") return std::nullopt;
        rest.remove_prefix(schemeEnd + 3);
    }
    const std::size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    if (slash != std::string_view::npos) address.path = std::string(rest.substr(slash));

    // The port follows the last ':' outside the brackets of an IPv6 address.
    const std::size_t bracket = authority.rfind(']');
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        const std::string_view digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5) return std::nullopt;
        unsigned value = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value == 0 || value > 65535) return std::nullopt;
        address.port = static_cast<std::uint16_t>(value);
        authority = authority.substr(0, colon);
    }
    if (!(IsIpv4(authority) || IsBracketedIpv6(authority) || IsHostName(authority))) return std::nullopt;
    if (!IsPath(address.path)) return std::nullopt;
    address.host = std::string(authority);
    return address;
}
