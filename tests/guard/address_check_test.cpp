#include "guard/address_check.h"

#include <gtest/gtest.h>

#include "blocklist/blocklist_reader.h"

namespace bw {
namespace {

constexpr std::uint32_t ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(AddressCheckTest, ReadsAddressesRangesAndWhatItCannotGuard) {
    using Kind = CheckQuery::Kind;
    struct Case {
        const char* text;
        Kind kind;
        AddressSpan span;
    } cases[] = {
        {"203.0.113.9", Kind::Address, {ip(203, 0, 113, 9), ip(203, 0, 113, 9)}},
        {" 203.0.113.9\t", Kind::Address, {ip(203, 0, 113, 9), ip(203, 0, 113, 9)}},
        {"1.2.3.4-1.2.3.9", Kind::Range, {ip(1, 2, 3, 4), ip(1, 2, 3, 9)}},
        {"1.2.3.4 - 1.2.3.4", Kind::Range, {ip(1, 2, 3, 4), ip(1, 2, 3, 4)}},
        {"1.2.3.9-1.2.3.4", Kind::NotAnAddress, {}},
        {"10.5.6.7/8", Kind::Range, {ip(10, 0, 0, 0), ip(10, 255, 255, 255)}},
        {"0.0.0.0/0", Kind::Range, {0, 0xFFFFFFFFu}},
        {"1.2.3.4/32", Kind::Range, {ip(1, 2, 3, 4), ip(1, 2, 3, 4)}},
        {"1.2.3.4/33", Kind::NotAnAddress, {}},
        {"1.2.3.4/", Kind::NotAnAddress, {}},
        {"::ffff:203.0.113.9", Kind::Address, {ip(203, 0, 113, 9), ip(203, 0, 113, 9)}},
        {"::FFFF:203.0.113.9", Kind::Address, {ip(203, 0, 113, 9), ip(203, 0, 113, 9)}},
        {"2001:db8::1", Kind::Address6, {}},
        {"[2001:db8::1]", Kind::NotAnAddress, {}},
        {"2001:db8::/32", Kind::Ipv6, {}},
        {"1.2.3", Kind::NotAnAddress, {}},
        {"1.2.3.256", Kind::NotAnAddress, {}},
        {"example.org", Kind::NotAnAddress, {}},
        {"", Kind::NotAnAddress, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CheckQuery query = parseCheckQuery(c.text);
        EXPECT_EQ(query.kind, c.kind);
        if (c.kind == Kind::Address || c.kind == Kind::Range) {
            EXPECT_EQ(query.span, c.span);
        }
        if (c.kind == Kind::Address6) {
            EXPECT_EQ(query.address6, (Ipv6Number{0x20010DB800000000u, 1}));
        }
    }
}

class AddressCheck : public ::testing::Test {
protected:
    void SetUp() override {
        loadBlocklist(
            "Own Net:203.0.113.0-203.0.113.255\r\n"
            "Mine:198.51.100.7\r\n"
            "Loop:127.0.0.5\r\n"
            "Over loopback:126.0.0.0-128.0.0.255\r\n"
            "Home:10.1.0.0-10.1.0.255\r\n",
            own);
        lists = ListTable(std::vector<ListRanges>{
            {"Level",
             false,
             {{ip(198, 51, 100, 0), ip(198, 51, 100, 127), "Level entry"},
              {ip(192, 0, 2, 0), ip(192, 0, 2, 255), "Doc"},
              {ip(127, 0, 0, 0), ip(127, 0, 0, 255), "Listed loopback"}}},
            {"Private networks", true, {{ip(10, 0, 0, 0), ip(10, 255, 255, 255), "10.0.0.0/8"}}},
        });
        lists.setLifelines({{IpAddress::fromV4(ip(192, 0, 2, 53)), "DNS server"}});
    }
    BanTable own;
    ListTable lists;
};

// Each case names what holds the addresses: the own list's lines as they are,
// a list's entries as "entry [list]".
TEST_F(AddressCheck, SaysWhatBansWhatAllowsAndWhatIsSpared) {
    struct Case {
        const char* what;
        std::vector<std::string> asked;
        std::uint64_t addresses;
        std::uint64_t banned;
        std::vector<std::string> entries;  // those that ban; "~" before one that is overruled
        std::vector<std::string> allows;
        std::vector<std::string> lifelines;
    } cases[] = {
        {"own entry", {"203.0.113.9"}, 1, 1, {"Own Net:203.0.113.0-203.0.113.255"}, {}, {}},
        {"list entry", {"192.0.2.10"}, 1, 1, {"Doc [Level]"}, {}, {}},
        {"own and list",
         {"198.51.100.7"},
         1,
         1,
         {"Mine:198.51.100.7", "Level entry [Level]"},
         {},
         {}},
        {"allowed by a list",
         {"10.1.0.5"},
         1,
         0,
         {"~Home:10.1.0.0-10.1.0.255"},
         {"Private networks"},
         {}},
        {"allowed, held by nothing", {"10.9.9.9"}, 1, 0, {}, {"Private networks"}, {}},
        {"loopback, own entry under 127", {"127.0.0.5"}, 1, 1, {"Loop:127.0.0.5"}, {}, {}},
        {"loopback, held only by ranges over it", {"127.0.0.1"}, 1, 0, {}, {}, {}},
        {"lifeline", {"192.0.2.53"}, 1, 0, {"~Doc [Level]"}, {}, {"DNS server"}},
        {"not banned", {"8.8.8.8"}, 1, 0, {}, {}, {}},
        {"IPv4-mapped",
         {"::ffff:203.0.113.9"},
         1,
         1,
         {"Own Net:203.0.113.0-203.0.113.255"},
         {},
         {}},
        {"range partly banned",
         {"198.51.100.0-198.51.100.255"},
         256,
         128,
         {"Mine:198.51.100.7", "Level entry [Level]"},
         {},
         {}},
        {"network with a lifeline",
         {"192.0.2.0/24"},
         256,
         255,
         {"Doc [Level]"},
         {},
         {"DNS server"}},
        {"file of addresses",
         {"8.8.8.8", "203.0.113.1", "10.1.0.1", "203.0.113.1", "192.0.2.53"},
         4,
         1,
         {"~Home:10.1.0.0-10.1.0.255", "Own Net:203.0.113.0-203.0.113.255", "~Doc [Level]"},
         {"Private networks"},
         {"DNS server"}},
    };
    const std::vector<AddressSpan> effective = effectiveBannedSpans(kernelIntervals(own), lists);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<AddressSpan> spans;
        std::uint64_t guardBans = 0;
        for (const std::string& text : c.asked) {
            CheckQuery query = parseCheckQuery(text);
            ASSERT_NE(query.kind, CheckQuery::Kind::NotAnAddress) << text;
            spans.push_back(query.span);
        }
        CheckResult result = checkAddresses(own, lists, spans);
        for (AddressSpan span : mergeSpans(spans)) guardBans += addressesWithin(effective, span);

        EXPECT_EQ(result.asked, c.addresses);
        EXPECT_EQ(result.banned, c.banned);
        EXPECT_EQ(result.banned, guardBans) << "the kernel's table bans otherwise";
        std::vector<std::string> entries, allows, lifelines;
        for (const CheckedEntry& e : result.entries) {
            entries.push_back((e.banned == 0 ? "~" : "") + std::string(e.text) +
                              (e.own ? "" : " [" + std::string(e.listName) + "]"));
        }
        for (const CheckedAllow& a : result.allows) allows.push_back(a.listName);
        for (const Lifeline& l : result.lifelines) lifelines.push_back(l.what);
        EXPECT_EQ(entries, c.entries);
        EXPECT_EQ(allows, c.allows);
        EXPECT_EQ(lifelines, c.lifelines);
    }
}

TEST_F(AddressCheck, TheReportNamesEachEntryWithItsPlace) {
    CheckResult one = checkAddresses(own, lists, {{ip(198, 51, 100, 7), ip(198, 51, 100, 7)}});
    one.entries[0].where = "Moatlist.P2P line 2";
    EXPECT_EQ(checkReport("198.51.100.7", one),
              "198.51.100.7 is banned.\n"
              "  banned by the entry \"Mine:198.51.100.7\" (Moatlist.P2P line 2)\n"
              "  banned by the entry \"Level entry\" of the list \"Level\"\n");

    CheckResult allowed = checkAddresses(own, lists, {{ip(10, 1, 0, 5), ip(10, 1, 0, 5)}});
    EXPECT_EQ(checkReport("10.1.0.5", allowed),
              "10.1.0.5 is not banned: an entry holds it, but an allow list lets it through.\n"
              "  held by the entry \"Home:10.1.0.0-10.1.0.255\", which is overruled\n"
              "  allowed by the allow list \"Private networks\"\n");

    CheckResult range = checkAddresses(own, lists, {{ip(192, 0, 2, 0), ip(192, 0, 2, 255)}});
    EXPECT_EQ(checkReport("192.0.2.0/24", range),
              "192.0.2.0/24: 255 of 256 addresses banned.\n"
              "  the entry \"Doc\" of the list \"Level\" bans 255 (and holds 1 more that are "
              "allowed or lifelines)\n"
              "  lifeline 192.0.2.53 (DNS server): never banned\n");
}

// A question as wide as the Internet names a few entries and counts the rest.
TEST_F(AddressCheck, AWideQuestionNamesSomeEntriesAndCountsTheRest) {
    std::string text;
    for (int i = 1; i <= 30; ++i)
        text += "e" + std::to_string(i) + ":1.0.0." + std::to_string(i) + "\n";
    BanTable many;
    loadBlocklist(text, many);
    CheckResult result = checkAddresses(many, ListTable(), {{0, 0xFFFFFFFFu}});
    EXPECT_EQ(result.banned, 30u);
    const std::string report = checkReport("0.0.0.0/0", result);
    EXPECT_NE(report.find("\"e20:1.0.0.20\" bans 1\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("\"e21:"), std::string::npos) << report;
    EXPECT_NE(report.find("and 10 more entries hold some of them\n"), std::string::npos) << report;
}

TEST(AddressCheck6, SaysWhatBansOneIpv6AddressAndWhatAllowsIt) {
    auto v6 = [](std::string_view text) { return parseIpAddress(text)->v6(); };
    BanTable own;
    own.append6(
        {"Own Net:2001:db8::-2001:db8::ff", "Own Net", v6("2001:db8::"), v6("2001:db8::ff")});
    ListRanges block{"level1", false, {}};
    block.ranges6 = {{v6("2001:db8::80"), v6("2001:db8::1:0"), "Doc"},
                     {{0, 0}, Ipv6Number::max(), "All"}};
    ListRanges allow{"private", true, {}};
    allow.ranges6 = {{v6("fc00::"), v6("fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"), "fc00::/7"}};
    ListTable lists({block, allow});
    lists.setLifelines({{IpAddress::fromV6(v6("2001:db8::53")), "DNS server"}});
    const struct {
        const char* address;
        const char* report;
    } cases[] = {
        {"2001:db8::90",
         "2001:db8::90 is banned.\n"
         "  banned by the entry \"Own Net:2001:db8::-2001:db8::ff\"\n"
         "  banned by the entry \"Doc\" of the list \"level1\"\n"
         "  banned by the entry \"All\" of the list \"level1\"\n"},
        {"fd00::1",
         "fd00::1 is not banned: an entry holds it, but an allow list lets it through.\n"
         "  held by the entry \"All\" of the list \"level1\", which is overruled\n"
         "  allowed by the allow list \"private\"\n"},
        {"::1", "::1 is not banned: no entry holds it.\n"},
        {"2001:db8::53",
         "2001:db8::53 is not banned: an entry holds it, but it is a lifeline.\n"
         "  held by the entry \"Own Net:2001:db8::-2001:db8::ff\", which is overruled\n"
         "  held by the entry \"All\" of the list \"level1\", which is overruled\n"
         "  a lifeline (DNS server): never banned\n"},
    };
    for (const auto& c : cases) {
        const CheckResult result = checkAddress6(own, lists, v6(c.address));
        EXPECT_EQ(checkReport(c.address, result), c.report);
    }
}

}  // namespace
}  // namespace bw
