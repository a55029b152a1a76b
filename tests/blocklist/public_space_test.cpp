#include "blocklist/public_space.h"

#include <gtest/gtest.h>

#include "blocklist/address_codec.h"

namespace bw {
namespace {

AddressSpan spanOf(const char* first, const char* last) {
    return {static_cast<std::uint32_t>(*IP2LONG(first)),
            static_cast<std::uint32_t>(*IP2LONG(last))};
}

TEST(PublicSpace, CountsEachPublicUnicastAddressOnce) {
    struct Case {
        const char* what;
        std::vector<AddressSpan> spans;
        std::uint64_t addresses;
    } cases[] = {
        {"nothing", {}, 0},
        {"everything", {spanOf("0.0.0.0", "255.255.255.255")}, kPublicUnicastAddresses},
        {"one public /8", {spanOf("1.0.0.0", "1.255.255.255")}, 16777216},
        {"overlaps count once",
         {spanOf("1.0.0.0", "1.200.0.0"), spanOf("1.100.0.0", "2.50.0.0")},
         20054017},
        {"adjacent spans join", {spanOf("1.0.0.0", "1.0.0.9"), spanOf("1.0.0.10", "1.0.0.19")}, 20},
        {"private, loopback, link-local",
         {spanOf("10.0.0.0", "10.255.255.255"), spanOf("127.0.0.0", "127.255.255.255"),
          spanOf("169.254.0.0", "169.254.255.255"), spanOf("172.16.0.0", "172.31.255.255"),
          spanOf("192.168.0.0", "192.168.255.255"), spanOf("100.64.0.0", "100.127.255.255")},
         0},
        {"multicast and reserved", {spanOf("224.0.0.0", "255.255.255.255")}, 0},
        {"documentation nets",
         {spanOf("192.0.2.0", "192.0.2.255"), spanOf("203.0.113.7", "203.0.113.7")},
         0},
        {"around a private net", {spanOf("9.255.255.255", "11.0.0.0")}, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(publicUnicastAddresses(c.spans), c.addresses) << c.what;
    }
}

TEST(PublicSpace, TheShareTextNamesTheCountAndThePercentage) {
    EXPECT_EQ(publicShareText(kPublicUnicastAddresses),
              "3702258688 public IPv4 addresses (100.0 % of the public IPv4 space)");
    EXPECT_EQ(publicShareText(16777217),
              "16777217 public IPv4 addresses (0.5 % of the public IPv4 space)");
}

TEST(PublicSpace, ThePercentTextNeverCallsAFewAddressesNone) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0.0 %"},         {1, "under 0.1 %"},  {3'702'258, "under 0.1 %"},
        {3'702'259, "0.1 %"}, {16777216, "0.5 %"}, {kPublicUnicastAddresses, "100.0 %"},
    };
    for (const auto& [addresses, text] : cases) EXPECT_EQ(publicPercentText(addresses), text);
}

}  // namespace
}  // namespace bw
