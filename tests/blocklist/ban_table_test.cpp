#include "blocklist/ban_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "blocklist/address_codec.h"
#include "platform/ip_address.h"

namespace bw {
namespace {

using Refs = std::vector<EntryRef>;

double ip(const char* text) {
    return *IP2LONG(text);
}

// The matching rule applied to every entry, one by one.
Refs linearMatches(const BanTable& table, double address) {
    Refs out;
    for (int b = 0; b < BanTable::kBuckets; ++b) {
        for (std::size_t s = 0; s < table.bucket(b).size(); ++s) {
            const BanEntry& e = table.bucket(b)[s];
            bool loopbackFromElsewhere =
                address >= 2130706432.0 && address <= 2147483647.0 && b != 127;
            if (address > e.start - 1 && address < e.end + 1 && address > 0 &&
                !loopbackFromElsewhere)
                out.push_back({b, s});
        }
    }
    return out;
}

Refs matches(const BanTable& table, double address) {
    Refs out{{99, 99}};  // stale content must go
    table.findMatches(address, out);
    return out;
}

void add(BanTable& table, int bucket, double start, double end) {
    table.append(bucket, {"n:x", "n", start, end});
}

TEST(BanTableLookup, ARangeBansEveryFirstPartItCovers) {
    BanTable table;
    add(table, 1, ip("1.1.1.1"), ip("2.2.2.2"));
    add(table, 20, ip("20.0.0.0"), ip("21.255.255.255"));
    add(table, 6, ip("6.0.0.0"), ip("8.21.142.255"));
    struct Case {
        const char* address;
        Refs expected;
    } cases[] = {
        {"1.1.1.0", {}},         {"1.1.1.1", {{1, 0}}},   {"1.200.0.0", {{1, 0}}},
        {"2.0.0.1", {{1, 0}}},   {"2.2.2.2", {{1, 0}}},   {"2.2.2.3", {}},
        {"20.1.1.1", {{20, 0}}}, {"21.1.1.1", {{20, 0}}}, {"22.0.0.0", {}},
        {"5.255.255.255", {}},   {"7.0.0.0", {{6, 0}}},   {"8.21.142.255", {{6, 0}}},
        {"8.21.143.0", {}},      {"19.255.255.255", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(matches(table, ip(c.address)), c.expected) << c.address;
}

// Loopback is banned only by entries that name it: a broad range from a list
// must not cut the machine off from its own services.
TEST(BanTableLookup, LoopbackIsBannedOnlyByEntriesFiledUnder127) {
    BanTable table;
    add(table, 126, ip("126.255.255.0"), ip("127.0.0.5"));
    add(table, 100, ip("100.0.0.0"), ip("130.0.0.0"));
    add(table, 127, ip("127.0.0.5"), ip("127.0.0.5"));
    struct Case {
        const char* address;
        Refs expected;
    } cases[] = {
        {"126.255.255.1", {{100, 0}, {126, 0}}},
        {"127.0.0.4", {}},
        {"127.0.0.5", {{127, 0}}},
        {"128.0.0.0", {{100, 0}}},
    };
    for (const Case& c : cases) EXPECT_EQ(matches(table, ip(c.address)), c.expected) << c.address;
}

TEST(BanTableLookup, ReturnsEveryMatchOnceInTableOrder) {
    BanTable table;
    add(table, 10, ip("10.0.0.0"), ip("10.0.0.255"));
    add(table, 3, ip("3.0.0.0"), ip("12.0.0.0"));
    add(table, 10, ip("10.0.0.5"), ip("10.0.0.5"));
    add(table, 10, ip("10.0.0.0"), ip("10.0.0.255"));  // duplicates both match
    add(table, 0, 0, 0);
    EXPECT_EQ(matches(table, ip("10.0.0.5")), (Refs{{3, 0}, {10, 0}, {10, 1}, {10, 2}}));
    EXPECT_EQ(matches(table, ip("10.0.0.6")), (Refs{{3, 0}, {10, 0}, {10, 2}}));
    EXPECT_EQ(matches(table, 0), Refs{}) << "address 0 never matches";
}

TEST(BanTableLookup, FollowsTheRuleOnOddBounds) {
    BanTable table;
    add(table, 0, -5, 3);           // covers 0, but only addresses above 0 match
    add(table, 1, 10.5, 20.25);     // fractional bounds from odd text
    add(table, 2, 0x1p60, 0x1p60);  // above 2^53: start - 1 == start
    add(table, 3, std::nan(""), 100);
    add(table, 4, 50, 40);  // end below start
    for (double a : {-1.0, 0.0, 0.5, 3.0, 3.99, 4.0, 9.5, 9.6, 21.0, 21.25, 21.3, 45.0, 0x1p60,
                     std::nextafter(0x1p60, 0.0), 0x1p60 + 256, std::nan("")}) {
        EXPECT_EQ(matches(table, a), linearMatches(table, a)) << a;
    }
    EXPECT_EQ(matches(table, 9.6), (Refs{{1, 0}}));
    EXPECT_EQ(matches(table, 3.99), (Refs{{0, 0}}));
}

TEST(BanTableLookup, DeeplyNestedRangesAreAllFound) {
    BanTable table;
    const int depth = 3000;
    for (int i = 0; i < depth; ++i) add(table, 200 - i % 100, 1e6 + i, 3e6 - i);
    Refs all = matches(table, 2e6);
    EXPECT_EQ(all, linearMatches(table, 2e6));
    EXPECT_EQ(all.size(), static_cast<std::size_t>(depth));
    EXPECT_EQ(matches(table, 1e6 + 10), linearMatches(table, 1e6 + 10));
    EXPECT_EQ(matches(table, 3e6 + 1), Refs{});
}

// Random ranges, many nested or overlapping, checked against the linear rule at
// start - 1, start, end and end + 1 of every range and at random addresses,
// while entries are appended, removed and the table cleared.
TEST(BanTableLookup, AgreesWithALinearSearch) {
    std::mt19937_64 random(12345);
    auto uniform = [&](double lo, double hi) {
        return std::floor(std::uniform_real_distribution<double>(lo, hi)(random));
    };
    BanTable table;
    std::vector<double> probes;
    auto check = [&](int round, bool atProbes) {
        for (double p : atProbes ? probes : std::vector<double>{}) {
            for (double a : {p - 1, p, p + 1}) {
                ASSERT_EQ(matches(table, a), linearMatches(table, a))
                    << "round " << round << " at " << a;
            }
        }
        for (int i = 0; i < 300; ++i) {
            double a = uniform(0, 4294967296.0);
            ASSERT_EQ(matches(table, a), linearMatches(table, a))
                << "round " << round << " at " << a;
        }
    };
    for (int round = 0; round < 6; ++round) {
        for (int i = 0; i < 400; ++i) {
            double start = uniform(0, 4294967296.0);
            double length = i % 4 == 0 ? uniform(0, 1e9) : uniform(0, 70000);
            double end = std::min(start + length, 4294967295.0);
            // Mostly the bucket of the start, sometimes another (odd text).
            int bucket = i % 10 == 0 ? static_cast<int>(uniform(0, 256))
                                     : static_cast<int>(start / 16777216.0);
            add(table, bucket, start, end);
            probes.push_back(start);
            probes.push_back(end);
            if (i % 50 == 0)
                check(round, false);  // lookups between appends
        }
        check(round, true);
        for (int i = 0; i < 40 && table.size() > 0; ++i) {
            table.remove(table.refAtRow(static_cast<std::size_t>(uniform(0, table.size()))));
            if (i % 10 == 0)
                check(round, false);
        }
        check(round, true);
    }
    table.clear();
    EXPECT_EQ(matches(table, probes.front()), Refs{});
    add(table, 0, 100, 200);
    EXPECT_EQ(matches(table, 150), (Refs{{0, 0}}));
}

TEST(BanTable, RemoveClosesTheGapAndKeepsOrder) {
    BanTable table;
    for (const char* t : {"A", "B", "C"}) table.append(5, {t, "n", 1, 2});
    table.remove({5, 1});
    ASSERT_EQ(table.bucket(5).size(), 2u);
    EXPECT_EQ(table.bucket(5)[0].text, "A");
    EXPECT_EQ(table.bucket(5)[1].text, "C");
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(matches(table, 1.5), (Refs{{5, 0}, {5, 1}}));
}

// Entries refer to the loaded file's bytes or own their text; either way an
// entry copied from the table itself keeps its text when the table grows.
TEST(BanTableStorage, TextsSurviveGrowthAndCopiesOfTheTablesOwnEntries) {
    BanTable table;
    std::string_view held = table.holdFileBytes("a:1.0.0.1\r\nb:1.0.0.2");
    table.append(1, {held.substr(0, 9), held.substr(0, 1), 16777217, 16777217});
    table.append(2, {"c:2.0.0.1", "other name", 33554433, 33554433});
    for (int i = 0; i < 200; ++i) table.append(3, table.at({2, 0}));
    EXPECT_EQ(table.at({1, 0}).text, "a:1.0.0.1");
    EXPECT_EQ(table.at({1, 0}).name, "a");
    EXPECT_EQ(table.at({2, 0}).name, "other name");
    ASSERT_EQ(table.bucket(3).size(), 200u);
    for (BanEntry e : table.bucket(3)) {
        EXPECT_EQ(e.text, "c:2.0.0.1");
        EXPECT_EQ(e.name, "other name");
    }
}

Ipv6Number v6(std::string_view text) {
    return parseIpAddress(text)->v6();
}

// Linear search over the IPv6 entries, by the rule findMatches6 states.
Refs linearMatches6(const BanTable& table, Ipv6Number address) {
    Refs out;
    for (std::size_t slot = 0; slot < table.size6(); ++slot) {
        const BanEntry6 e = table.at6(slot);
        const bool loopback = address == Ipv6Number{0, 1};
        if (e.first <= address && address <= e.last && (!loopback || e.first == address))
            out.push_back({BanTable::kIpv6Bucket, slot});
    }
    return out;
}

TEST(BanTableLookup, Ipv6EntriesAreFoundInTableOrderBesideTheIpv4Ones) {
    BanTable table;
    add(table, 1, ip("1.0.0.0"), ip("1.0.0.255"));
    table.append6({"doc:2001:db8::-2001:db8::ffff", "doc", v6("2001:db8::"), v6("2001:db8::ffff")});
    table.append6({"wide:2001::-2001:ffff::", "wide", v6("2001::"), v6("2001:ffff::")});
    table.append6(
        {"all:::-ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "all", {0, 0}, Ipv6Number::max()});
    table.append6({"self:::1-::1", "self", v6("::1"), v6("::1")});
    const std::vector<std::pair<std::string_view, Refs>> cases = {
        {"2001:db8::5",
         {{BanTable::kIpv6Bucket, 0}, {BanTable::kIpv6Bucket, 1}, {BanTable::kIpv6Bucket, 2}}},
        {"2001:ffff::1", {{BanTable::kIpv6Bucket, 2}}},
        {"::1", {{BanTable::kIpv6Bucket, 3}}},
        {"::", {{BanTable::kIpv6Bucket, 2}}},
        {"1.0.0.1", {{1, 0}}},
        {"::ffff:1.0.0.1", {{1, 0}}},
        {"2.0.0.1", {}},
    };
    std::vector<EntryRef> out;
    for (const auto& [text, expected] : cases) {
        table.findMatches(*parseIpAddress(text), out);
        EXPECT_EQ(out, expected) << text;
    }
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(table.size6(), 4u);
    EXPECT_EQ(table.at({BanTable::kIpv6Bucket, 1}).name, "wide");
    table.remove({BanTable::kIpv6Bucket, 0});
    table.findMatches(*parseIpAddress("2001:db8::5"), out);
    EXPECT_EQ(out, (Refs{{BanTable::kIpv6Bucket, 0}, {BanTable::kIpv6Bucket, 1}}));
    EXPECT_EQ(table.at6(0).text, "wide:2001::-2001:ffff::");
}

TEST(BanTableLookup, Ipv6AgreesWithALinearSearch) {
    std::mt19937_64 random(6);
    BanTable table;
    std::vector<Ipv6Number> probes;
    for (int i = 0; i < 400; ++i) {
        // Few distinct high halves, so ranges nest and overlap.
        Ipv6Number first{random() % 8, random() % 1000};
        Ipv6Number last{first.high + random() % 2, random() % 1000};
        if (last < first)
            std::swap(first, last);
        table.append6({"x", "x", first, last});
        probes.push_back(first);
        probes.push_back(last.next());
    }
    probes.push_back({0, 1});
    std::vector<EntryRef> out;
    for (Ipv6Number p : probes) {
        table.findMatches6(p, out);
        EXPECT_EQ(out, linearMatches6(table, p));
    }
}

}  // namespace
}  // namespace bw
