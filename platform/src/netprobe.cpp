#include "platform/netprobe.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace plat {
namespace netprobe {
namespace {

constexpr unsigned long kRouteUp = 0x0001;      // RTF_UP
constexpr unsigned long kRouteReject = 0x0200;  // RTF_REJECT

// Whitespace-separated fields of one line.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool ParseHex(std::string_view text, unsigned long& value) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size();
}

bool AllZero(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c == '0'; });
}

template <typename LineTest>
std::vector<std::string> ScanTable(std::string_view table, LineTest test) {
    std::vector<std::string> names;
    while (!table.empty()) {
        const std::size_t cut = table.find('\n');
        const std::string_view line = table.substr(0, cut);
        table.remove_prefix(cut == std::string_view::npos ? table.size() : cut + 1);
        std::string name;
        if (test(Fields(line), name) && name != "lo" &&
            std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

std::string ReadWhole(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsLinkLocal(const in6_addr& address) {
    return address.s6_addr[0] == 0xFE && (address.s6_addr[1] & 0xC0) == 0x80;
}

}  // namespace

std::vector<std::string> UsableInterfaces() {
    std::vector<std::string> names;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return names;
    for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_name == nullptr) continue;
        const unsigned flags = it->ifa_flags;
        if ((flags & IFF_UP) == 0 || (flags & IFF_RUNNING) == 0 || (flags & IFF_LOOPBACK) != 0) continue;
        bool hasAddress = false;
        if (it->ifa_addr->sa_family == AF_INET) {
            hasAddress = true;
        } else if (it->ifa_addr->sa_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(it->ifa_addr);
            hasAddress = !IsLinkLocal(v6->sin6_addr);
        }
        if (hasAddress && std::find(names.begin(), names.end(), it->ifa_name) == names.end()) {
            names.emplace_back(it->ifa_name);
        }
    }
    freeifaddrs(list);
    return names;
}

// Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
std::vector<std::string> DefaultRouteInterfacesV4(std::string_view table) {
    return ScanTable(table, [](const std::vector<std::string_view>& f, std::string& name) {
        unsigned long flags = 0;
        if (f.size() < 8 || !ParseHex(f[3], flags)) return false;  // also skips the heading
        if (!AllZero(f[1]) || !AllZero(f[7]) || (flags & kRouteUp) == 0) return false;
        name = std::string(f[0]);
        return true;
    });
}

// destination prefix source prefix next-hop metric refcnt use flags iface
std::vector<std::string> DefaultRouteInterfacesV6(std::string_view table) {
    return ScanTable(table, [](const std::vector<std::string_view>& f, std::string& name) {
        unsigned long flags = 0;
        if (f.size() < 10 || !ParseHex(f[8], flags)) return false;
        if (f[0].size() != 32 || !AllZero(f[0]) || !AllZero(f[1])) return false;
        if ((flags & kRouteUp) == 0 || (flags & kRouteReject) != 0) return false;
        name = std::string(f[9]);
        return true;
    });
}

bool HasWayOut(const std::vector<std::string>& usable, const std::vector<std::string>& routed) {
    return std::any_of(routed.begin(), routed.end(), [&](const std::string& name) {
        return std::find(usable.begin(), usable.end(), name) != usable.end();
    });
}

}  // namespace netprobe

bool NetworkConnected() {
    const std::vector<std::string> usable = netprobe::UsableInterfaces();
    if (usable.empty()) return false;
    std::vector<std::string> routed = netprobe::DefaultRouteInterfacesV4(netprobe::ReadWhole("/proc/net/route"));
    if (netprobe::HasWayOut(usable, routed)) return true;
    routed = netprobe::DefaultRouteInterfacesV6(netprobe::ReadWhole("/proc/net/ipv6_route"));
    return netprobe::HasWayOut(usable, routed);
}

}  // namespace plat
