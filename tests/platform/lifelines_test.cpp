#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/lifelines.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

constexpr std::uint32_t address(int a, int b, int c, int d) {
    return (static_cast<std::uint32_t>(a) << 24) | (static_cast<std::uint32_t>(b) << 16) |
           (static_cast<std::uint32_t>(c) << 8) | static_cast<std::uint32_t>(d);
}

struct ResolvCase {
    std::string text;
    std::vector<std::uint32_t> expected;
};

TEST(LifelineText, NameserversOfResolvConf) {
    const std::vector<ResolvCase> cases = {
        {"", {}},
        {"nameserver 192.0.2.53\n", {address(192, 0, 2, 53)}},
        {"# made by NetworkManager\nsearch example.org\nnameserver 10.0.0.1\nnameserver "
         "2001:db8::1\nnameserver\t198.51.100.7 # second\noptions edns0\n",
         {address(10, 0, 0, 1), address(198, 51, 100, 7)}},
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

TEST(LinuxLifelineSource, ReadsTheThreeFilesBelowItsRoot) {
    test::TempDir root;
    std::filesystem::create_directories(root.file("etc"));
    std::filesystem::create_directories(root.file("run/systemd/resolve"));
    std::filesystem::create_directories(root.file("proc/net"));
    root.write("etc/resolv.conf", "nameserver 127.0.0.53\n");
    root.write("run/systemd/resolve/resolv.conf", "nameserver 192.0.2.53\n");
    root.write("proc/net/route",
               "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n"
               "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\n");
    const std::vector<Lifeline> expected = {
        {address(127, 0, 0, 53), "DNS server"},
        {address(192, 0, 2, 53), "upstream DNS server"},
        {address(192, 0, 2, 1), "default gateway"},
    };
    EXPECT_EQ(makeLinuxLifelineSource(root.path())->read(), expected);
}

TEST(LinuxLifelineSource, MissingFilesNameNothing) {
    test::TempDir root;
    EXPECT_TRUE(makeLinuxLifelineSource(root.path())->read().empty());
}

TEST(LinuxLifelineSource, ReadsThisMachine) {
    // Whatever the machine holds, reading it must work and give IPv4 addresses.
    for (const Lifeline& l : makeLinuxLifelineSource()->read()) EXPECT_FALSE(l.what.empty());
}

}  // namespace
}  // namespace bw
