#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/lifelines.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

constexpr IpAddress address(int a, int b, int c, int d) {
    return IpAddress::fromV4((static_cast<std::uint32_t>(a) << 24) |
                             (static_cast<std::uint32_t>(b) << 16) |
                             (static_cast<std::uint32_t>(c) << 8) | static_cast<std::uint32_t>(d));
}

IpAddress address(const char* text) {
    return *parseIpAddress(text);
}

struct ResolvCase {
    std::string text;
    std::vector<IpAddress> expected;
};

TEST(LifelineText, NameserversOfResolvConf) {
    const std::vector<ResolvCase> cases = {
        {"", {}},
        {"nameserver 192.0.2.53\n", {address(192, 0, 2, 53)}},
        {"# made by NetworkManager\nsearch example.org\nnameserver 10.0.0.1\nnameserver "
         "2001:db8::1\nnameserver\t198.51.100.7 # second\noptions edns0\n",
         {address(10, 0, 0, 1), address("2001:db8::1"), address(198, 51, 100, 7)}},
        // A link-local one with its zone; an IPv4-mapped one is the IPv4 address.
        {"nameserver fe80::1%eth0\nnameserver ::ffff:192.0.2.9\nnameserver 2001:db8::g\n",
         {address("fe80::1"), address(192, 0, 2, 9)}},
        {"nameserver 127.0.0.53\r\n", {address(127, 0, 0, 53)}},
        {";nameserver 192.0.2.1\n#nameserver 192.0.2.2\n  nameserver 192.0.2.3",
         {address(192, 0, 2, 3)}},
        {"nameserver 192.0.2.256\nnameserver 192.0.2\nnameservers 192.0.2.4\nnameserver "
         "192.0.2.5x\n",
         {}},
    };
    for (const ResolvCase& c : cases) EXPECT_EQ(nameserversIn(c.text), c.expected) << c.text;
}

TEST(LifelineText, DefaultGatewaysOfProcNetRoute) {
    const std::string header =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const std::vector<ResolvCase> cases = {
        {header, {}},
        {header + "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                  "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n",
         {address(192, 168, 0, 1)}},
        // Down, without a gateway, or not a default route: none of them.
        {header + "eth1\t00000000\t0102000A\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
                  "eth1\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
                  "eth1\t0000000A\t0102000A\t0003\t0\t0\t0\t000000FF\t0\t0\t0\n",
         {}},
        {header + "wg0\t00000000\t0102000A\t0003\t0\t0\t50\t00000000\t0\t0\t0\n"
                  "wl0\t00000000\t01EFFEA9\t0003\t0\t0\t600\t00000000\t0\t0\t0\n",
         {address(10, 0, 2, 1), address(169, 254, 239, 1)}},
        {header + "eth0\t00000000\tZZ00A8C0\t0003\t0\t0\t100\t00000000\n", {}},
    };
    for (const ResolvCase& c : cases) EXPECT_EQ(defaultGatewaysIn(c.text), c.expected) << c.text;
}

TEST(LifelineText, DefaultGatewaysOfProcNetIpv6Route) {
    const std::string zero(32, '0');
    auto route = [](const std::string& destination, const char* length, const std::string& via,
                    const char* flags) {
        return destination + " " + length + " " + std::string(32, '0') + " 00 " + via +
               " 00000400 00000001 00000000 " + flags + "     eth0\n";
    };
    const std::string router = "fe800000000000000000000000000001";
    const std::vector<ResolvCase> cases = {
        {"", {}},
        {route(zero, "00", router, "00450003") +
             route("20010db8000000000000000000000000", "40", zero, "00000001"),
         {address("fe80::1")}},
        // Down, without a next hop, a reject route, or not a default route: none of them.
        {route(zero, "00", router, "00000002") + route(zero, "00", zero, "00000003") +
             route(zero, "00", zero, "00200200") +
             route("20010db8000000000000000000000000", "20", router, "00000003"),
         {}},
        {route(zero, "00", "fe80000000000000000000000000000z", "00000003"), {}},
    };
    for (const ResolvCase& c : cases) EXPECT_EQ(defaultGateways6In(c.text), c.expected) << c.text;
}

TEST(LinuxLifelineSource, ReadsTheFilesBelowItsRoot) {
    test::TempDir root;
    std::filesystem::create_directories(root.file("etc"));
    std::filesystem::create_directories(root.file("run/systemd/resolve"));
    std::filesystem::create_directories(root.file("proc/net"));
    root.write("etc/resolv.conf", "nameserver 127.0.0.53\n");
    root.write("run/systemd/resolve/resolv.conf", "nameserver 192.0.2.53\n");
    root.write("proc/net/route",
               "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n"
               "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\n");
    root.write("proc/net/ipv6_route", std::string(32, '0') + " 00 " + std::string(32, '0') +
                                          " 00 fe800000000000000000000000000001 00000400 "
                                          "00000001 00000000 00000003     eth0\n");
    const std::vector<Lifeline> expected = {
        {address(127, 0, 0, 53), "DNS server"},
        {address(192, 0, 2, 53), "upstream DNS server"},
        {address(192, 0, 2, 1), "default gateway"},
        {address("fe80::1"), "default gateway"},
    };
    EXPECT_EQ(makeLinuxLifelineSource(root.path())->read(), expected);
}

TEST(LinuxLifelineSource, MissingFilesNameNothing) {
    test::TempDir root;
    EXPECT_TRUE(makeLinuxLifelineSource(root.path())->read().empty());
}

TEST(LinuxLifelineSource, ReadsThisMachine) {
    // Whatever the machine holds, reading it must work and say what each one is.
    for (const Lifeline& l : makeLinuxLifelineSource()->read()) EXPECT_FALSE(l.what.empty());
}

}  // namespace
}  // namespace bw
