#include "guard/list_table.h"

#include "blocklist/ban_table.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

constexpr std::uint32_t ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

ListRanges blockList(std::string name, std::vector<ListRange> ranges) {
    return {std::move(name), false, std::move(ranges)};
}

TEST(ListTableTest, FindsTheEarliestListAndEntryThatBans) {
    ListTable table({blockList("first", {{ip(1, 0, 0, 0), ip(1, 0, 0, 255), "wide"}}),
                     blockList("second", {{ip(1, 0, 0, 10), ip(1, 0, 1, 9), "narrow"},
                                          {ip(9, 9, 9, 9), ip(9, 9, 9, 9), "one"}})});
    EXPECT_EQ(table.findBlock(ip(1, 0, 0, 10)), (ListHit{"wide", "first"}));
    EXPECT_EQ(table.findBlock(ip(1, 0, 0, 255)), (ListHit{"wide", "first"}));
    EXPECT_EQ(table.findBlock(ip(1, 0, 1, 0)), (ListHit{"narrow", "second"}));
    EXPECT_EQ(table.findBlock(ip(1, 0, 1, 9)), (ListHit{"narrow", "second"}));
    EXPECT_EQ(table.findBlock(ip(1, 0, 1, 10)), std::nullopt);
    EXPECT_EQ(table.findBlock(ip(0, 255, 255, 255)), std::nullopt);
    EXPECT_EQ(table.findBlock(ip(9, 9, 9, 9)), (ListHit{"one", "second"}));
    EXPECT_EQ(table.findBlock(ip(9, 9, 9, 10)), std::nullopt);
}

TEST(ListTableTest, AnAllowListCutsItsAddressesOutOfEveryBan) {
    ListTable table({blockList("public", {{ip(10, 0, 0, 0), ip(11, 0, 0, 0), "too wide"}}),
                     {"private", true, {{ip(10, 0, 0, 0), ip(10, 255, 255, 255), "10.0.0.0/8"}}}});
    EXPECT_TRUE(table.allows(ip(10, 1, 2, 3)));
    EXPECT_EQ(table.findBlock(ip(10, 1, 2, 3)), std::nullopt);
    EXPECT_EQ(table.findBlock(ip(10, 255, 255, 255)), std::nullopt);
    EXPECT_EQ(table.findBlock(ip(11, 0, 0, 0)), (ListHit{"too wide", "public"}));
    EXPECT_FALSE(table.allows(ip(11, 0, 0, 0)));
    EXPECT_EQ(table.bannedSpans(), (std::vector<AddressSpan>{{ip(11, 0, 0, 0), ip(11, 0, 0, 0)}}));
}

TEST(ListTableTest, ListsNeverBanLoopbackAndReachTheTopAddress) {
    ListTable table({blockList("all", {{0, 0xFFFFFFFFu, "everything"}})});
    EXPECT_EQ(table.findBlock(ip(127, 0, 0, 1)), std::nullopt);
    EXPECT_EQ(table.findBlock(ip(126, 255, 255, 255)), (ListHit{"everything", "all"}));
    EXPECT_EQ(table.findBlock(0xFFFFFFFFu), (ListHit{"everything", "all"}));
    EXPECT_EQ(table.findBlock(0), (ListHit{"everything", "all"}));
}

TEST(ListTableTest, TheEffectiveBanIsOwnPlusBlockMinusAllow) {
    ListTable lists(
        {blockList("b", {{ip(5, 0, 0, 0), ip(5, 0, 0, 9), "x"}}),
         {"a",
          true,
          {{ip(5, 0, 0, 5), ip(5, 0, 0, 5), ""}, {ip(6, 0, 0, 1), ip(6, 0, 0, 1), ""}}}});
    std::vector<AddressSpan> own{{ip(5, 0, 0, 8), ip(5, 0, 0, 20)},
                                 {ip(6, 0, 0, 0), ip(6, 0, 0, 3)}};
    EXPECT_EQ(effectiveBannedSpans(own, lists),
              (std::vector<AddressSpan>{{ip(5, 0, 0, 0), ip(5, 0, 0, 4)},
                                        {ip(5, 0, 0, 6), ip(5, 0, 0, 20)},
                                        {ip(6, 0, 0, 0), ip(6, 0, 0, 0)},
                                        {ip(6, 0, 0, 2), ip(6, 0, 0, 3)}}));
}

TEST(ListTableTest, LifelinesAreNeverInTheEffectiveBan) {
    ListTable lists({blockList("b", {{ip(192, 0, 2, 0), ip(192, 0, 2, 255), "Everything"}})});
    lists.setLifelines({{IpAddress::fromV4(ip(192, 0, 2, 53)), "DNS server"},
                        {IpAddress::fromV4(ip(198, 51, 100, 1)), "default gateway"},
                        {IpAddress::fromV4(ip(192, 0, 2, 53)), "list server"}});
    std::vector<AddressSpan> own{{ip(198, 51, 100, 0), ip(198, 51, 100, 255)}};
    EXPECT_EQ(effectiveBannedSpans(own, lists),
              (std::vector<AddressSpan>{{ip(192, 0, 2, 0), ip(192, 0, 2, 52)},
                                        {ip(192, 0, 2, 54), ip(192, 0, 2, 255)},
                                        {ip(198, 51, 100, 0), ip(198, 51, 100, 0)},
                                        {ip(198, 51, 100, 2), ip(198, 51, 100, 255)}}));
    ASSERT_NE(lists.lifelineAt(IpAddress::fromV4(ip(192, 0, 2, 53))), nullptr);
    EXPECT_EQ(lists.lifelineAt(IpAddress::fromV4(ip(192, 0, 2, 53)))->what,
              "DNS server");  // the first named
    EXPECT_EQ(lists.lifelineAt(IpAddress::fromV4(ip(192, 0, 2, 54))), nullptr);
    EXPECT_EQ(lists.lifelines().size(), 2u);
}

IpAddress at(std::string_view text) {
    return *parseIpAddress(text);
}
Ipv6Number v6(std::string_view text) {
    return at(text).v6();
}

ListRanges blockList6(std::string name, std::vector<ListRange6> ranges) {
    ListRanges list{std::move(name), false, {}};
    list.ranges6 = std::move(ranges);
    return list;
}

TEST(ListTableTest, FindsIpv6BansByTheEarliestListAndKeepsTheFamiliesApart) {
    ListRanges allow{"private", true, {}};
    allow.ranges6 = {{v6("fc00::"), v6("fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"), "fc00::/7"}};
    ListTable table({blockList6("first", {{v6("2001:db8::"), v6("2001:db8::ff"), "doc"},
                                          {v6("fc00::"), v6("fc00::ff"), "private too"}}),
                     blockList6("second", {{v6("2001:db8::80"), v6("2001:db8::1:0"), "wider"},
                                           {v6("ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe"),
                                            v6("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"), "top"}}),
                     allow});
    const std::vector<std::pair<std::string_view, std::optional<ListHit>>> cases = {
        {"2001:db7:ffff:ffff:ffff:ffff:ffff:ffff", std::nullopt},
        {"2001:db8::", ListHit{"doc", "first"}},
        {"2001:db8::ff", ListHit{"doc", "first"}},
        {"2001:db8::100", ListHit{"wider", "second"}},
        {"2001:db8::1:0", ListHit{"wider", "second"}},
        {"2001:db8::1:1", std::nullopt},
        {"fc00::1", std::nullopt},  // allowed
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", ListHit{"top", "second"}},
        {"::1", std::nullopt},
        // IPv4 and IPv4-mapped addresses are looked up among the IPv4 ranges.
        {"0.0.32.1", std::nullopt},
        {"::ffff:32.1.13.184", std::nullopt},
    };
    for (const auto& [text, hit] : cases) EXPECT_EQ(table.findBlock(at(text)), hit) << text;
    EXPECT_TRUE(table.allows(at("fc00::1")));
    EXPECT_FALSE(table.allows(at("fe00::")));
    EXPECT_EQ(table.findBlock(ip(32, 1, 13, 184)), std::nullopt);
    EXPECT_EQ(table.pieceCount(), 0u);
}

TEST(ListTableTest, Ipv6LifelinesAreNeverInTheEffectiveIpv6Ban) {
    ListTable lists({blockList6("b", {{v6("2001:db8::"), v6("2001:db8::ff"), "doc"}})});
    lists.setLifelines({{at("2001:db8::53"), "DNS server"},
                        {at("2001:db9::1"), "default gateway"},
                        {at("192.0.2.1"), "default gateway"}});
    const std::vector<Span6> own{{v6("2001:db9::"), v6("2001:db9::ff")}};
    EXPECT_EQ(effectiveBannedSpans6(own, lists),
              (std::vector<Span6>{{v6("2001:db8::"), v6("2001:db8::52")},
                                  {v6("2001:db8::54"), v6("2001:db8::ff")},
                                  {v6("2001:db9::"), v6("2001:db9::")},
                                  {v6("2001:db9::2"), v6("2001:db9::ff")}}));
    ASSERT_NE(lists.lifelineAt(at("2001:db8::53")), nullptr);
    EXPECT_EQ(lists.lifelineAt(at("2001:db8::53"))->what, "DNS server");
    EXPECT_EQ(lists.lifelineAt(at("::ffff:192.0.2.1")), lists.lifelineAt(at("192.0.2.1")));
    EXPECT_EQ(lists.lifelineAt(at("2001:db8::54")), nullptr);
}

TEST(ListTableTest, ListsNeverBanIpv6LoopbackAndTheEffectiveIpv6BanSparesTheAllowed) {
    const Ipv6Number top = Ipv6Number::max();
    ListRanges mixed = blockList("all", {{ip(1, 2, 3, 4), ip(1, 2, 3, 4), "v4"}});
    mixed.ranges6 = {{{0, 0}, top, "everything"}};
    ListRanges allow{"a", true, {}};
    allow.ranges6 = {{v6("fe80::"), v6("febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff"), "fe80::/10"}};
    ListTable lists({mixed, allow});
    EXPECT_EQ(lists.findBlock(at("::1")), std::nullopt);
    EXPECT_EQ(lists.findBlock(at("::")), (ListHit{"everything", "all"}));
    EXPECT_EQ(lists.findBlock(at("::2")), (ListHit{"everything", "all"}));
    EXPECT_EQ(lists.findBlock(at("1.2.3.4")), (ListHit{"v4", "all"}));
    EXPECT_EQ(lists.findBlock(at("1.2.3.5")), std::nullopt);
    // The own list's spans come as kernelIntervals6 gives them: ::1 only from an
    // entry that names it.
    const std::vector<Span6> own = {{v6("::1"), v6("::1")}};
    const std::vector<Span6> banned = {{{0, 0}, v6("fe7f:ffff:ffff:ffff:ffff:ffff:ffff:ffff")},
                                       {v6("fec0::"), top}};
    EXPECT_EQ(effectiveBannedSpans6(own, lists), banned);
    EXPECT_EQ(effectiveBannedSpans({}, lists),
              (std::vector<AddressSpan>{{ip(1, 2, 3, 4), ip(1, 2, 3, 4)}}));
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

TEST(OwnListSpansTest, FollowTheTableLookup) {
    BanTable table;
    table.append(10, {"a:10.0.0.0-10.0.0.9", "a", 167772160, 167772169});
    table.append(0, {"z:0.0.0.0-0.0.0.3", "z", 0, 3});
    table.append(126, {"w:126.0.0.0-128.0.0.0", "w", 2113929216, 2147483648});
    table.append(127, {"l:127.0.0.1", "l", 2130706433, 2130706433});
    EXPECT_EQ(kernelIntervals(table), (std::vector<AddressSpan>{{1, 3},
                                                                {167772160, 167772169},
                                                                {2113929216, 2130706432 - 1},
                                                                {2130706433, 2130706433},
                                                                {2147483648, 2147483648}}));
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

// Overlapping, nested and touching ranges in three lists, against a plain search.
TEST(ListTableTest, AgreesWithAPlainSearchOnOverlappingLists) {
    std::uint32_t seed = 12345;
    auto random = [&](std::uint32_t below) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % below;
    };
    std::vector<ListRanges> lists(3);
    for (std::size_t l = 0; l < lists.size(); ++l) {
        lists[l].listName = "list" + std::to_string(l);
        lists[l].allow = l == 2;
        for (int i = 0; i < 60; ++i) {
            std::uint32_t first = 1000 + random(400);
            std::uint32_t last = first + random(l == 2 ? 10 : 60);
            lists[l].ranges.push_back({first, last, std::to_string(i)});
        }
    }
    ListTable table(lists);
    for (std::uint32_t address = 990; address < 1500; ++address) {
        std::optional<ListHit> expected;
        bool allowed = false;
        for (const ListRange& r : lists[2].ranges)
            allowed = allowed || (r.first <= address && address <= r.last);
        for (std::size_t l = 0; l < 2 && !expected && !allowed; ++l) {
            for (const ListRange& r : lists[l].ranges) {
                if (r.first <= address && address <= r.last) {
                    expected = ListHit{r.entry, lists[l].listName};
                    break;
                }
            }
        }
        EXPECT_EQ(table.findBlock(address), expected) << address;
        EXPECT_EQ(table.allows(address), allowed) << address;
    }
}

}  // namespace
}  // namespace bw
