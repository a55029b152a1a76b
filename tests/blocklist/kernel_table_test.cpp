#include "blocklist/kernel_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "blocklist/address_codec.h"
#include "platform/address_interval.h"
#include "platform/ip_address.h"

namespace bw {
namespace {

using Intervals = std::vector<AddressSpan>;

double ip(const char* text) {
    return *IP2LONG(text);
}

bool inIntervals(const Intervals& intervals, double address) {
    for (const AddressSpan& i : intervals) {
        if (address >= i.first && address <= i.last)
            return true;
    }
    return false;
}

std::string dotted(double address) {
    auto a = static_cast<std::uint64_t>(address);
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
           std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

// Every bound of every entry and interval, one inside and one outside, and the
// edges of loopback and of the address space.
std::set<double> boundaryAddresses(const BanTable& table, const Intervals& intervals) {
    std::set<double> points = {0, 1, 2, ip("127.0.0.0"), ip("127.255.255.255"), 4294967295.0};
    auto around = [&](double x) {
        for (double d : {-1.0, 0.0, 1.0}) {
            double p = std::floor(x) + d;
            if (p >= 0 && p <= 4294967295.0)
                points.insert(p);
        }
    };
    for (int b = 0; b < BanTable::kBuckets; ++b) {
        for (const BanEntry& e : table.bucket(b)) {
            if (std::isfinite(e.start))
                around(e.start);
            if (std::isfinite(e.end))
                around(e.end);
        }
    }
    for (const AddressSpan& i : intervals) {
        around(i.first);
        around(i.last);
    }
    for (double p : std::set<double>(points)) around(p);
    return points;
}

// The kernel's table bans an address exactly when the user-space lookup finds
// an entry for it.
void expectSameRuleAsLookup(const BanTable& table) {
    Intervals intervals = kernelIntervals(table);
    std::vector<AddressInterval> asKernelTable;
    for (const AddressSpan& s : intervals) asKernelTable.push_back({s.first, s.last});
    ASSERT_TRUE(isKernelTable(asKernelTable));
    std::vector<EntryRef> hits;
    for (double address : boundaryAddresses(table, intervals)) {
        table.findMatches(address, hits);
        EXPECT_EQ(!hits.empty(), inIntervals(intervals, address)) << dotted(address);
    }
}

void add(BanTable& table, int bucket, double start, double end) {
    table.append(bucket, {"n:x", "n", start, end});
}

TEST(KernelTable, BansExactlyWhatTheLookupFinds) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Entry {
        int bucket;
        double start;
        double end;
    } entries[] = {
        {1, ip("1.1.1.1"), ip("2.2.2.2")},                 // crosses a first part
        {10, ip("10.0.0.0"), ip("10.0.0.255")},            // nested in the next
        {10, ip("10.0.0.7"), ip("10.0.0.7")},              //
        {10, ip("10.0.0.0"), ip("10.0.1.255")},            //
        {20, ip("20.0.0.0"), ip("20.0.0.9")},              // adjacent to the next
        {20, ip("20.0.0.10"), ip("20.0.0.20")},            //
        {100, ip("100.0.0.0"), ip("200.0.0.0")},           // covers loopback from elsewhere
        {127, ip("127.0.0.5"), ip("127.0.0.5")},           // loopback from its own bucket
        {127, ip("127.255.255.0"), ip("128.0.0.3")},       // leaves loopback upwards
        {126, ip("126.255.255.250"), ip("127.0.0.3")},     // enters loopback from below
        {0, 0, 0},                                         // matches nothing
        {0, 0, ip("0.0.0.3")},                             // address 0 never matches
        {30, ip("30.0.0.9"), ip("30.0.0.1")},              // end below start
        {40, ip("40.0.0.1") + 0.5, ip("40.0.0.9") - 0.5},  // fractions narrow it
        {50, -5, ip("0.0.0.2")},                           // below the address space
        {250, ip("255.255.255.250"), 1e12},                // above it
        {60, nan, ip("60.0.0.1")},                         // not a number
    };
    BanTable table;
    for (const Entry& e : entries) add(table, e.bucket, e.start, e.end);
    expectSameRuleAsLookup(table);
}

TEST(KernelTable, JoinsOverlappingAndAdjacentRanges) {
    BanTable table;
    add(table, 20, ip("20.0.0.10"), ip("20.0.0.20"));
    add(table, 20, ip("20.0.0.0"), ip("20.0.0.9"));
    add(table, 20, ip("20.0.0.15"), ip("20.0.0.30"));
    add(table, 20, ip("20.0.0.32"), ip("20.0.0.40"));
    Intervals expected = {
        {static_cast<std::uint32_t>(ip("20.0.0.0")), static_cast<std::uint32_t>(ip("20.0.0.30"))},
        {static_cast<std::uint32_t>(ip("20.0.0.32")), static_cast<std::uint32_t>(ip("20.0.0.40"))}};
    EXPECT_EQ(kernelIntervals(table), expected);
}

TEST(KernelTable, LoopbackIsCutOutOfRangesFiledElsewhere) {
    BanTable table;
    add(table, 0, ip("0.1.0.0"), ip("255.255.255.255"));
    Intervals expected = {{static_cast<std::uint32_t>(ip("0.1.0.0")),
                           static_cast<std::uint32_t>(ip("126.255.255.255"))},
                          {static_cast<std::uint32_t>(ip("128.0.0.0")), 4294967295u}};
    EXPECT_EQ(kernelIntervals(table), expected);
}

TEST(KernelTable, EmptyTableGivesNoIntervals) {
    EXPECT_TRUE(kernelIntervals(BanTable{}).empty());
}

TEST(KernelTableShape, OnlySortedDisjointIntervalsAreAccepted) {
    struct Case {
        std::vector<AddressInterval> intervals;
        bool accepted;
    } cases[] = {
        {{}, true},
        {{{5, 5}}, true},
        {{{1, 4}, {6, 9}}, true},
        {{{1, 5}, {5, 9}}, false},  // overlap by one address
        {{{6, 9}, {1, 4}}, false},  // unsorted
        {{{9, 1}}, false},          // reversed
    };
    for (const Case& c : cases) EXPECT_EQ(isKernelTable(c.intervals), c.accepted);
}

TEST(KernelTableTest, Ipv6SpansSpareLoopbackUnlessAnEntryStartsAtIt) {
    auto v6 = [](std::string_view text) { return parseIpAddress(text)->v6(); };
    BanTable table;
    table.append6({"all", "all", {0, 0}, Ipv6Number::max()});
    EXPECT_EQ(kernelIntervals6(table),
              (std::vector<Span6>{{{0, 0}, {0, 0}}, {v6("::2"), Ipv6Number::max()}}));
    table.append6({"self", "self", v6("::1"), v6("::1")});
    table.append6({"upside down", "x", v6("::9"), v6("::8")});
    EXPECT_EQ(kernelIntervals6(table), (std::vector<Span6>{{{0, 0}, Ipv6Number::max()}}));
}

}  // namespace
}  // namespace bw
