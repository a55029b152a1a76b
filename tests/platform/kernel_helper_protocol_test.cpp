// The helper's protocol: what either side reads is checked before it is used.

#include "platform/kernel_helper_protocol.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "helper_message_bytes.h"

namespace bw {
namespace {

using test::ipv6PartBytes;
using test::tableBytes;

constexpr std::uint64_t kDoc = 0x20010DB800000000;  // 2001:db8::/64
using test::withHeader;

TEST(HelperProtocol, ATableIsTakenOnlyWhenItsSizeCountAndShapeHold) {
    struct Case {
        const char* what;
        std::string payload;
        bool taken;
    } cases[] = {
        {"empty table", tableBytes(0, {}), true},
        {"two intervals", tableBytes(2, {1, 4, 6, 9}), true},
        {"no count", "", false},
        {"count beyond the size", tableBytes(3, {1, 4, 6, 9}), false},
        {"count below the size", tableBytes(1, {1, 4, 6, 9}), false},
        {"cut inside an interval", tableBytes(2, {1, 4, 6}), false},
        {"unsorted", tableBytes(2, {6, 9, 1, 4}), false},
        {"overlapping", tableBytes(2, {1, 6, 6, 9}), false},
        {"reversed bounds", tableBytes(1, {9, 1}), false},
        {"count past the limit", tableBytes(0xFFFFFFFF, {}), false},
        {"an empty IPv6 part", tableBytes(0, {}) + ipv6PartBytes(0, {}), true},
        {"two IPv6 intervals, the second above in the high half only",
         tableBytes(2, {1, 4, 6, 9}) +
             ipv6PartBytes(2, {kDoc, 5, kDoc, 5, kDoc + 1, 0, kDoc + 1, 9}),
         true},
        {"an IPv6 count cut short", tableBytes(0, {}) + std::string(2, '\0'), false},
        {"IPv6 count beyond the size", tableBytes(0, {}) + ipv6PartBytes(2, {kDoc, 5, kDoc, 5}),
         false},
        {"IPv6 count below the size", tableBytes(0, {}) + ipv6PartBytes(0, {kDoc, 5, kDoc, 5}),
         false},
        {"IPv6 unsorted",
         tableBytes(0, {}) + ipv6PartBytes(2, {kDoc + 1, 0, kDoc + 1, 9, kDoc, 5, kDoc, 5}), false},
        {"IPv6 reversed in the low half", tableBytes(0, {}) + ipv6PartBytes(1, {kDoc, 9, kDoc, 5}),
         false},
        {"IPv6 count past the limit", tableBytes(0, {}) + ipv6PartBytes(0xFFFFFFFF, {}), false},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_EQ(decodeTable(c.payload, why).has_value(), c.taken) << c.what << ": " << why;
    }
}

TEST(HelperProtocol, MessagesSurviveTheRoundTripAndMalformedOnesAreRefused) {
    TcpRow row;
    row.remoteAddress = IpAddress::fromV4(0x7F000005);
    row.family = TcpFamily::V6;
    row.cookie = 77;
    EXPECT_EQ(decodeRow(encodeRow(row)), row);
    EXPECT_FALSE(decodeRow(encodeRow(row) + "x"));
    EXPECT_FALSE(decodeRow(encodeRow(row).substr(1)));
    row.localAddress = *parseIpAddress("2001:db8::6");
    row.remoteAddress = *parseIpAddress("2001:db8::5");
    EXPECT_EQ(decodeRow(encodeRow(row)), row);
    row.family = TcpFamily::V4;  // an IPv4 socket cannot hold an IPv6 address
    EXPECT_FALSE(decodeRow(encodeRow(row)));

    KernelRefusal refusal{IpAddress::fromV4(0x7F000005), 8080, 6,
                          RefusalDirection::Incoming,    0,    ""};
    EXPECT_EQ(decodeRefusal(encodeRefusal(refusal)), refusal);
    refusal.command = "curl";
    EXPECT_EQ(decodeRefusal(encodeRefusal(refusal)), refusal);
    refusal.address = *parseIpAddress("2001:db8::5");
    EXPECT_EQ(decodeRefusal(encodeRefusal(refusal)), refusal);
    EXPECT_FALSE(decodeRefusal(encodeRefusal(refusal).substr(0, 23)));

    const std::vector<AddressInterval> v4 = {{1, 4}};
    const std::vector<Address6Interval> v6 = {{{kDoc, 5}, {kDoc, 5}},
                                              {{kDoc + 1, 0}, {kDoc + 1, 9}}};
    std::string why;
    auto tables = decodeTable(encodeTable(v4, v6), why);
    ASSERT_TRUE(tables) << why;
    EXPECT_EQ(tables->v4, v4);
    EXPECT_EQ(tables->v6, v6);

    EXPECT_EQ(decodeFlag(encodeFlag(true)), true);
    EXPECT_EQ(decodeFlag(encodeFlag(false)), false);
    EXPECT_FALSE(decodeFlag(tableBytes(2, {})));
    EXPECT_FALSE(decodeFlag(""));
}

TEST(HelperProtocol, AStreamCutInsideAMessageOrAnnouncingTooMuchIsBroken) {
    struct Case {
        const char* what;
        std::string bytes;
        ReadOutcome outcome;
    } cases[] = {
        {"nothing", "", ReadOutcome::Ended},
        {"whole", withHeader(3, 4, encodeFlag(true)), ReadOutcome::Message},
        {"cut header", withHeader(3, 4, "").substr(0, 5), ReadOutcome::Broken},
        {"cut payload", withHeader(3, 4, "ab"), ReadOutcome::Broken},
        {"too large", withHeader(2, 0xFFFFFFF0, ""), ReadOutcome::Broken},
    };
    for (const Case& c : cases) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        ASSERT_EQ(write(ends[1], c.bytes.data(), c.bytes.size()),
                  static_cast<ssize_t>(c.bytes.size()));
        close(ends[1]);
        HelperMessage message;
        std::string why;
        EXPECT_EQ(readHelperMessage(ends[0], message, why), c.outcome) << c.what;
        close(ends[0]);
    }
}

// A header alone announces up to 16 MiB: the reader sets aside no more than
// what actually arrives.
TEST(HelperProtocol, AHeaderAloneMakesTheReaderSetAsideLittle) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::string bytes = withHeader(2, static_cast<std::uint32_t>(kMaxHelperPayload), "abc");
    ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(ends[1]);
    HelperMessage message;
    std::string why;
    EXPECT_EQ(readHelperMessage(ends[0], message, why), ReadOutcome::Broken);
    EXPECT_LT(message.payload.capacity(), std::size_t{1} << 20);
    close(ends[0]);
}

}  // namespace
}  // namespace bw
