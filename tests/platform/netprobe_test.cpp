// The network probe's readings of the routing tables and interfaces.
#include <algorithm>

#include <gtest/gtest.h>

#include "platform/netprobe.h"

namespace {

using plat::netprobe::DefaultRouteInterfacesV4;
using plat::netprobe::DefaultRouteInterfacesV6;
using plat::netprobe::HasWayOut;
using Names = std::vector<std::string>;

TEST(NetProbe, FindsTheIpv4DefaultRoutes) {
    const char* table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
        "wlan0\t00000000\t0101A8C0\t0002\t0\t0\t600\t00000000\t0\t0\t0\n"  // not up
        "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
        "eth0\t00000000\t0102A8C0\t0003\t0\t0\t200\t00000000\t0\t0\t0\n";
    EXPECT_EQ(DefaultRouteInterfacesV4(table), (Names{"eth0"}));
    EXPECT_TRUE(DefaultRouteInterfacesV4("").empty());
    EXPECT_TRUE(DefaultRouteInterfacesV4("garbage\nmore garbage here\n").empty());
}

TEST(NetProbe, FindsTheIpv6DefaultRoutesButNotRejectRoutes) {
    const char* table =
        "fe800000000000000000000000000000 40 00000000000000000000000000000000 00 "
        "00000000000000000000000000000000 00000100 00000001 00000000 00000001     eth0\n"
        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
        "fe800000000000000000000000000001 00000400 00000002 00000000 00450003     eth0\n"
        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
        "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       wg0\n"
        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
        "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n";
    EXPECT_EQ(DefaultRouteInterfacesV6(table), (Names{"eth0"}));
}

TEST(NetProbe, AWayOutNeedsARouteThroughAUsableInterface) {
    EXPECT_TRUE(HasWayOut({"eth0", "wlan0"}, {"wlan0"}));
    EXPECT_FALSE(HasWayOut({"eth0"}, {"wlan0"}));
    EXPECT_FALSE(HasWayOut({}, {"eth0"}));
    EXPECT_FALSE(HasWayOut({"eth0"}, {}));
}

TEST(NetProbe, TheLoopbackIsNeverUsable) {
    const Names usable = plat::netprobe::UsableInterfaces();
    EXPECT_EQ(std::count(usable.begin(), usable.end(), "lo"), 0);
    // On a machine with only the loopback there is no way out.
    if (usable.empty()) {
        EXPECT_FALSE(plat::NetworkConnected());
    }
}

}  // namespace
