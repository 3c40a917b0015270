#pragma once
// Whether the machine has a way out to the network: some interface other than the
// loopback is up and running with an address, and a default route leaves through one of
// those interfaces. The network monitor polls this; tests replace the probe.
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// One look at the interfaces and the routing tables.
bool NetworkConnected();

namespace netprobe {

// Names of the interfaces that are up and running, are not the loopback and carry an IPv4
// address or an IPv6 address outside the link-local range.
std::vector<std::string> UsableInterfaces();

// Interfaces named by a usable default route in the text of /proc/net/route (IPv4:
// destination and mask 0, route up) or /proc/net/ipv6_route (IPv6: destination ::/0,
// route up and not a reject route). The loopback's routes are never usable.
std::vector<std::string> DefaultRouteInterfacesV4(std::string_view table);
std::vector<std::string> DefaultRouteInterfacesV6(std::string_view table);

// True when a default route leaves through one of the usable interfaces.
bool HasWayOut(const std::vector<std::string>& usable, const std::vector<std::string>& routed);

}  // namespace netprobe
}  // namespace plat
