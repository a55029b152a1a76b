#include "platform/ip_address.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace bw {
namespace {

// Text in, the address's family and its text out: what every list, link and
// log line goes through.
TEST(IpAddress, ReadsAndWritesBothFamilies) {
    struct Case {
        const char* text;
        std::optional<AddressFamily> family;  // nothing: refused
        const char* written;
    };
    const Case cases[] = {
        {"1.2.3.4", AddressFamily::V4, "1.2.3.4"},
        {"0.0.0.0", AddressFamily::V4, "0.0.0.0"},
        {"255.255.255.255", AddressFamily::V4, "255.255.255.255"},
        {"::ffff:203.0.113.9", AddressFamily::V4, "203.0.113.9"},
        {"::FFFF:cb00:7109", AddressFamily::V4, "203.0.113.9"},
        {"[::ffff:1.2.3.4]", AddressFamily::V4, "1.2.3.4"},
        {"2001:DB8::1", AddressFamily::V6, "2001:db8::1"},
        {"2001:0db8:0000:0000:0000:0000:0000:0001", AddressFamily::V6, "2001:db8::1"},
        {"[2001:db8::ff]", AddressFamily::V6, "2001:db8::ff"},
        {"::1", AddressFamily::V6, "::1"},
        {"::", AddressFamily::V6, "::"},
        {"2001:db8:0:1:1:1:1:1", AddressFamily::V6,
         "2001:db8:0:1:1:1:1:1"},                                    // one zero group stays
        {"2001:0:0:1:0:0:0:1", AddressFamily::V6, "2001:0:0:1::1"},  // the longer run shortens
        {"2001:db8:0:0:1:0:0:1", AddressFamily::V6, "2001:db8::1:0:0:1"},  // the first of equals
        {"fe80::1:2", AddressFamily::V6, "fe80::1:2"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", AddressFamily::V6,
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
        {"", std::nullopt, ""},
        {"1.2.3", std::nullopt, ""},
        {"1.2.3.256", std::nullopt, ""},
        {" 1.2.3.4", std::nullopt, ""},
        {"1.2.3.4 ", std::nullopt, ""},
        {"2001:db8::1/32", std::nullopt, ""},
        {"fe80::1%lo", std::nullopt, ""},
        {"2001:db8:::1", std::nullopt, ""},
        {"1:2:3:4:5:6:7:8:9", std::nullopt, ""},
        {"[2001:db8::1", std::nullopt, ""},
        {"g::1", std::nullopt, ""},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17.18.19.20.21.22.23", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        const std::optional<IpAddress> parsed = parseIpAddress(c.text);
        ASSERT_EQ(parsed.has_value(), c.family.has_value()) << c.text;
        if (!parsed)
            continue;
        EXPECT_EQ(parsed->family(), *c.family) << c.text;
        EXPECT_EQ(ipAddressText(*parsed), c.written) << c.text;
        EXPECT_EQ(parseIpAddress(ipAddressText(*parsed)), parsed) << c.text;
    }
}

TEST(IpAddress, MappedAddressesAreTheirIpv4AddressAndSortBeforeIpv6) {
    const IpAddress mapped = IpAddress::fromV6({0, 0xFFFF'CB00'7109ull});
    EXPECT_EQ(mapped, IpAddress::fromV4(0xCB007109u));
    EXPECT_TRUE(mapped.isV4());
    EXPECT_EQ(IpAddress::fromV6Bytes(mapped.v6Bytes()), mapped);
    EXPECT_LT(IpAddress::fromV4(0xFFFFFFFFu), *parseIpAddress("::"));
    EXPECT_LT(*parseIpAddress("2001:db8::1"), *parseIpAddress("2001:db8::2"));
    EXPECT_LT(*parseIpAddress("2001:db8:0:0:ffff:ffff:ffff:ffff"),
              *parseIpAddress("2001:db8:0:1::"));
}

TEST(Ipv6Number, StepsAcrossTheHalves) {
    EXPECT_EQ((Ipv6Number{0, UINT64_MAX}.next()), (Ipv6Number{1, 0}));
    EXPECT_EQ((Ipv6Number{1, 0}.previous()), (Ipv6Number{0, UINT64_MAX}));
    EXPECT_LT((Ipv6Number{0, UINT64_MAX}), (Ipv6Number{1, 0}));
}

}  // namespace
}  // namespace bw
