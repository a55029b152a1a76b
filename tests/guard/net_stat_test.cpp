#include "guard/net_stat.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/fake_tcp_table.h"

namespace bw {
namespace {

struct TextCase {
    unsigned a, b, c, d;
    const char* text;
};

TEST(IPToText, FirstOctetIsTheLowestAddressedByte) {
    const TextCase cases[] = {
        {10, 1, 2, 3, "10.1.2.3"},   {0, 0, 0, 0, "0.0.0.0"},
        {127, 0, 0, 1, "127.0.0.1"}, {255, 255, 255, 255, "255.255.255.255"},
        {1, 0, 200, 9, "1.0.200.9"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(ipToText(test::ipField(c.a, c.b, c.c, c.d)), c.text) << c.text;
    }
}

TEST(IPToText, ReadsTheBytesAsStoredWhateverTheProcessor) {
    const unsigned char bytes[4] = {0x0A, 0x01, 0x02, 0x03};
    std::uint32_t field;
    std::memcpy(&field, bytes, sizeof field);
    EXPECT_EQ(ipToText(field), "10.1.2.3");
}

TEST(NetStat, OnlyTheZeroAddressOfEitherFamilyIsUnspecified) {
    const struct {
        const char* text;
        bool unspecified;
    } cases[] = {
        {"0.0.0.0", true},  {"::", true},   {"::ffff:0.0.0.0", true},
        {"0.0.0.1", false}, {"::1", false}, {"::ffff:0.0.0.1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isUnspecified(*parseIpAddress(c.text)), c.unspecified) << c.text;
}

TEST(NetStat, ReadAndTeardownGoToTheTable) {
    test::FakeTcpTable tcp;
    tcp.rows = {test::connectionTo(test::ipField(10, 0, 0, 9), 2),
                test::connectionTo(test::ipField(10, 0, 0, 5), 1)};
    std::vector<TcpRow> sorted = readConnections(tcp, true);
    ASSERT_EQ(sorted.size(), 2u);
    EXPECT_EQ(ipToText(sorted[0].remoteAddress), "10.0.0.5");

    TeardownResult result = teardown(tcp, sorted[0]);
    EXPECT_TRUE(result.closed);
    ASSERT_EQ(tcp.tornDown.size(), 1u);
    EXPECT_EQ(tcp.tornDown[0], sorted[0]);
    EXPECT_EQ(readConnections(tcp, false).size(), 1u);
}

}  // namespace
}  // namespace bw
