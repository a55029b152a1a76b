#include "guard/guard_pass.h"

#include <gtest/gtest.h>

#include <string>

#include "blocklist/address_codec.h"
#include "guard/net_stat.h"
#include "support/fake_clock.h"
#include "support/fake_tcp_table.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

using test::connectionTo;
using test::ipField;

constexpr const char* kExampleNetLine =
    "Connection Rejected: 10.0.0.5 - Example Net (12-05-2026 @ 21:41:15)\r\n";

class GuardPassTest : public ::testing::Test {
protected:
    void ban(const std::string& name, const std::string& start, const std::string& end) {
        const std::string line = name + ":" + start + "-" + end;  // the table copies it
        table.append(std::stoi(start), {line, name, *IP2LONG(start), *IP2LONG(end)});
    }
    void ban6(const std::string& name, const char* first, const char* last) {
        const std::string line = name + ":" + first + "-" + last;
        table.append6({line, name, test::ip6(first).v6(), test::ip6(last).v6()});
    }
    std::string file() const { return dir.read("connlog.txt"); }

    test::TempDir dir;
    test::RecordingHost host;
    test::FakeClock clock;
    test::FakeTcpTable tcp;
    BanTable table;
    ProgramState state;
    ConnectionLog log{host, clock, dir.file("connlog.txt")};
    GuardPass pass{table, tcp, log, state, host};
};

TEST_F(GuardPassTest, BannedPeerIsClosedReportedAndCounted) {
    ban("Example Net", "10.0.0.0", "10.0.0.255");
    TcpRow banned = connectionTo(ipField(10, 0, 0, 5), 1);
    tcp.rows = {banned, connectionTo(ipField(8, 8, 8, 8), 2)};

    pass.RefreshNS();

    ASSERT_EQ(tcp.tornDown.size(), 1u);
    EXPECT_EQ(tcp.tornDown[0], banned);
    EXPECT_EQ(host.log, kExampleNetLine);
    EXPECT_EQ(state.counters.blocked, 1u);
    EXPECT_GE(host.stateChanges, 1);
    EXPECT_EQ(host.yields, 1);
    // Rows in local port order: 10.0.0.5's connection comes first.
    EXPECT_EQ(file(),
              "12-05-2026, 21:41:15, 10.0.0.5\r\n"
              "Rejected: 10.0.0.5 - Example Net (12-05-2026 @ 21:41:15)\r\n"
              "12-05-2026, 21:41:15, 8.8.8.8\r\n");
}

TEST_F(GuardPassTest, BlockingOffOnlyRecordsThePeer) {
    ban("Example Net", "10.0.0.0", "10.0.0.255");
    tcp.rows = {connectionTo(ipField(10, 0, 0, 5))};
    state.options.blocking = false;

    pass.RefreshNS();

    EXPECT_TRUE(tcp.tornDown.empty());
    EXPECT_EQ(host.log, "");
    EXPECT_EQ(state.counters.blocked, 0u);
    EXPECT_EQ(file(), "12-05-2026, 21:41:15, 10.0.0.5\r\n");
}

TEST_F(GuardPassTest, FullLogOffWritesNoFile) {
    ban("Example Net", "10.0.0.0", "10.0.0.255");
    tcp.rows = {connectionTo(ipField(10, 0, 0, 5))};
    state.options.fullLog = false;

    pass.RefreshNS();

    EXPECT_EQ(host.log, kExampleNetLine);
    EXPECT_EQ(state.counters.blocked, 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("connlog.txt")));
}

TEST_F(GuardPassTest, BoundsAreInclusive) {
    ban("n", "10.0.0.10", "10.0.0.20");
    const std::pair<unsigned, bool> cases[] = {
        {9, false}, {10, true}, {15, true}, {20, true}, {21, false}};
    for (auto [last, closed] : cases) {
        tcp.rows = {connectionTo(ipField(10, 0, 0, last))};
        tcp.tornDown.clear();
        pass.RefreshNS();
        EXPECT_EQ(tcp.tornDown.size(), closed ? 1u : 0u) << "10.0.0." << last;
    }
    EXPECT_EQ(state.counters.blocked, 3u);
}

// One connection, one teardown; each entry holding its peer reports it under
// its own profile, in table order, and counts.
TEST_F(GuardPassTest, TwoMatchingEntriesEachReport) {
    ban("Wide", "10.0.0.0", "10.255.255.255");
    ban("Other", "11.0.0.0", "11.0.0.255");
    ban("Narrow", "10.0.0.5", "10.0.0.5");
    tcp.rows = {connectionTo(ipField(10, 0, 0, 5))};

    pass.RefreshNS();

    EXPECT_EQ(tcp.tornDown.size(), 1u);
    EXPECT_EQ(host.log,
              "Connection Rejected: 10.0.0.5 - Wide (12-05-2026 @ 21:41:15)\r\n"
              "Connection Rejected: 10.0.0.5 - Narrow (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(state.counters.blocked, 2u);
    EXPECT_EQ(host.stateChanges, 2);
}

TEST_F(GuardPassTest, RowsWithoutPeerAreNeverExamined) {
    ban("n", "0.1.0.1", "0.255.255.255");
    TcpRow listening;
    listening.state = kTcpListen;
    listening.localAddress = ipField(0, 1, 2, 3);
    TcpRow listening6 = listening;
    listening6.family = TcpFamily::V6;
    listening6.localAddress = test::ip6("2001:db8::2");
    listening6.remoteAddress = test::ip6("::");
    tcp.rows = {listening, listening6};

    pass.RefreshNS();

    EXPECT_TRUE(tcp.tornDown.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("connlog.txt")));
    EXPECT_EQ(host.yields, 1);
}

// The log file names an IPv6 peer in its short form, and a dual-stack
// socket's IPv4-mapped peer as the IPv4 address it is.
TEST_F(GuardPassTest, TheFullLogWritesEachPeerInItsTextForm) {
    const struct {
        const char* peer;
        const char* logged;
    } cases[] = {
        {"2001:0DB8:0000:0000:0000:0000:0000:0005", "2001:db8::5"},
        {"2001:db8:0:1:0:0:0:1", "2001:db8:0:1::1"},
        {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2:3:4:5:6"},
        {"fe80::1", "fe80::1"},
        {"::ffff:10.0.0.7", "10.0.0.7"},
    };
    std::string expected;
    std::uint64_t cookie = 0;
    for (const auto& c : cases) {
        TcpRow row = connectionTo(test::ip6(c.peer), ++cookie);
        row.family = TcpFamily::V6;
        tcp.rows.push_back(row);
        expected += "12-05-2026, 21:41:15, " + std::string(c.logged) + "\r\n";
    }

    pass.RefreshNS();

    EXPECT_TRUE(tcp.tornDown.empty());
    const std::string mapped = "12-05-2026, 21:41:15, 10.0.0.7\r\n";
    EXPECT_EQ(file(), mapped + expected.substr(0, expected.size() - mapped.size()));
}

// An IPv6 peer is closed, counted and written in the same lines as an IPv4
// one, in its RFC 5952 form; the bounds hold it inclusively.
TEST_F(GuardPassTest, Ipv6RejectionLines) {
    const struct {
        const char* peer;
        const char* logged;  // nullptr: not banned
    } cases[] = {
        {"2001:db8::", "2001:db8::"},
        {"2001:DB8:0:0:0:0:0:5", "2001:db8::5"},
        {"2001:db8::1:ffff", "2001:db8::1:ffff"},
        {"2001:db8::2:0", nullptr},
        {"2001:db7:ffff:ffff:ffff:ffff:ffff:ffff", nullptr},
        {"2001:db8:0:1::9", "2001:db8:0:1::9"},
        {"2001:db8:0:1:ffff:ffff:ffff:ffff", "2001:db8:0:1:ffff:ffff:ffff:ffff"},
        {"2001:db8:0:2::", nullptr},
        {"10.0.0.5", nullptr},  // IPv4 bans stay their own
    };
    ban6("Doc Net", "2001:db8::", "2001:db8::1:ffff");
    ban6("Doc Subnet", "2001:db8:0:1::", "2001:db8:0:1:ffff:ffff:ffff:ffff");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peer);
        host.log.clear();
        tcp.tornDown.clear();
        std::filesystem::remove(dir.file("connlog.txt"));
        state.counters.blocked = 0;
        tcp.rows = {connectionTo(test::ip6(c.peer), 1)};

        pass.RefreshNS();

        if (!c.logged) {
            EXPECT_TRUE(tcp.tornDown.empty());
            EXPECT_EQ(host.log, "");
            EXPECT_EQ(state.counters.blocked, 0u);
            continue;
        }
        const std::string peer = c.logged;
        const std::string name = peer.starts_with("2001:db8:0:1:") ? "Doc Subnet" : "Doc Net";
        const std::string rejection = peer + " - " + name + " (12-05-2026 @ 21:41:15)\r\n";
        ASSERT_EQ(tcp.tornDown.size(), 1u);
        EXPECT_EQ(tcp.tornDown[0].family, TcpFamily::V6);
        EXPECT_EQ(host.log, "Connection Rejected: " + rejection);
        EXPECT_EQ(file(), "12-05-2026, 21:41:15, " + peer + "\r\nRejected: " + rejection);
        EXPECT_EQ(state.counters.blocked, 1u);
    }
}

TEST_F(GuardPassTest, EveryStateAndOnlyThePeerCount) {
    ban("n", "10.0.0.0", "10.0.0.255");
    TcpRow fromBanned = connectionTo(ipField(8, 8, 8, 8), 1);
    fromBanned.localAddress = ipField(10, 0, 0, 1);
    tcp.rows = {fromBanned, connectionTo(ipField(10, 0, 0, 7), 2, kTcpTimeWait),
                connectionTo(ipField(10, 0, 0, 8), 3, kTcpCloseWait)};

    pass.RefreshNS();

    ASSERT_EQ(tcp.tornDown.size(), 2u);
    EXPECT_EQ(tcp.tornDown[0].state, kTcpTimeWait);
    EXPECT_EQ(tcp.tornDown[1].state, kTcpCloseWait);
    EXPECT_EQ(state.counters.blocked, 2u);
}

// Which entries hold an address is the ban table's lookup, ranges that run
// into the next first part included.
TEST_F(GuardPassTest, MatchesComeFromTheTableLookup) {
    ban("n", "20.0.0.0", "21.255.255.255");
    tcp.rows = {connectionTo(ipField(20, 1, 1, 1), 1), connectionTo(ipField(21, 1, 1, 1), 2),
                connectionTo(ipField(22, 0, 0, 0), 3)};

    pass.RefreshNS();

    ASSERT_EQ(tcp.tornDown.size(), 2u);
    EXPECT_EQ(ipToText(tcp.tornDown[0].remoteAddress), "20.1.1.1");
    EXPECT_EQ(ipToText(tcp.tornDown[1].remoteAddress), "21.1.1.1");
}

TEST_F(GuardPassTest, EveryRowOfALargeTableIsExamined) {
    ban("n", "10.0.0.0", "10.0.0.255");
    for (std::uint64_t i = 0; i < 400; ++i) {
        tcp.rows.push_back(connectionTo(ipField(30, 0, i / 256, i % 256), 100 + i));
    }
    tcp.rows.push_back(connectionTo(ipField(10, 0, 0, 5), 1));

    pass.RefreshNS();

    EXPECT_EQ(tcp.tornDown.size(), 1u);
    EXPECT_EQ(state.counters.blocked, 1u);
}

TEST_F(GuardPassTest, EmptySnapshotOnlyYields) {
    ban("n", "10.0.0.0", "10.0.0.255");
    pass.RefreshNS();
    EXPECT_EQ(host.yields, 1);
    EXPECT_EQ(host.log, "");
    EXPECT_EQ(tcp.reads, 1);
}

TEST_F(GuardPassTest, EachPassReadsTheTableAsItIsThen) {
    tcp.rows = {connectionTo(ipField(10, 0, 0, 5))};
    pass.RefreshNS();
    EXPECT_TRUE(tcp.tornDown.empty());
    ban("Example Net", "10.0.0.0", "10.0.0.255");
    pass.RefreshNS();
    EXPECT_EQ(tcp.tornDown.size(), 1u);
}

// A connection that ended between the snapshot and its teardown (or that the
// snapshot listed twice) was not closed by the guard, nor did anything refuse.
TEST_F(GuardPassTest, ConnectionGoneBeforeItsTeardownIsNeitherCountedNorComplainedOf) {
    ban("Example Net", "10.0.0.0", "10.0.0.255");
    TcpRow banned = connectionTo(ipField(10, 0, 0, 5), 1);
    tcp.rows = {banned, banned};

    pass.RefreshNS();

    EXPECT_EQ(tcp.tornDown.size(), 2u);
    EXPECT_EQ(host.log, kExampleNetLine);
    EXPECT_EQ(state.counters.blocked, 1u);
}

class RefusedTeardownTest : public GuardPassTest {
protected:
    void SetUp() override {
        ban("Example Net", "10.0.0.0", "10.0.0.255");
        ban("Second", "10.0.0.5", "10.0.0.5");
        tcp.rows = {connectionTo(ipField(10, 0, 0, 5), 1)};
        tcp.refuseReason = "not permitted";
    }
    static constexpr const char* kRefusedLine =
        "Could not close connection: 10.0.0.5 - Example Net (12-05-2026 @ 21:41:15): "
        "not permitted\r\n";
};

TEST_F(RefusedTeardownTest, IsSaidOnceAndNotCounted) {
    pass.RefreshNS();
    pass.RefreshNS();
    tcp.rows[0].state = kTcpCloseWait;  // the same connection in another state
    pass.RefreshNS();

    EXPECT_EQ(tcp.tornDown.size(), 3u);  // tried again by every pass
    EXPECT_EQ(host.log, kRefusedLine);
    EXPECT_EQ(state.counters.blocked, 0u);
    // The file shows the failure as it shows a rejection.
    EXPECT_EQ(file(), std::string("12-05-2026, 21:41:15, 10.0.0.5\r\n") + kRefusedLine);
}

TEST_F(RefusedTeardownTest, WithoutTheFullLogTheFileIsNotWritten) {
    state.options.fullLog = false;
    pass.RefreshNS();
    EXPECT_EQ(host.log, kRefusedLine);
    EXPECT_FALSE(std::filesystem::exists(dir.file("connlog.txt")));
}

TEST_F(RefusedTeardownTest, IsSaidAgainOnceTheConnectionLeftAndCameBack) {
    pass.RefreshNS();
    std::vector<TcpRow> stuck = tcp.rows;
    tcp.rows.clear();
    pass.RefreshNS();
    tcp.rows = stuck;
    pass.RefreshNS();
    EXPECT_EQ(host.log, std::string(kRefusedLine) + kRefusedLine);
}

TEST_F(RefusedTeardownTest, AnotherConnectionToTheSamePeerIsSaidToo) {
    tcp.rows.push_back(connectionTo(ipField(10, 0, 0, 5), 2));
    pass.RefreshNS();
    EXPECT_EQ(host.log, std::string(kRefusedLine) + kRefusedLine);
}

TEST_F(RefusedTeardownTest, ClosingItLaterCountsAsUsual) {
    pass.RefreshNS();
    tcp.refuseReason.clear();
    pass.RefreshNS();
    EXPECT_EQ(host.log, std::string(kRefusedLine) + kExampleNetLine +
                            "Connection Rejected: 10.0.0.5 - Second (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(state.counters.blocked, 2u);
    EXPECT_NE(file().find("Rejected: 10.0.0.5 - Example Net (12-05-2026 @ 21:41:15)\r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

class GuardPassListsTest : public GuardPassTest {
protected:
    void useLists(std::vector<ListRanges> lists) {
        lists_ = ListTable(std::move(lists));
        pass.useLists(&lists_);
    }
    ListTable lists_;
};

constexpr std::uint32_t kPrivate10 = 10u << 24;

TEST_F(GuardPassListsTest, AnAllowListOverridesEveryBan) {
    ban("Example Net", "10.0.0.0", "10.0.0.255");
    useLists({{"public", false, {{0x0A000000u, 0x0AFFFFFFu, "Too wide"}}},
              {"Private networks", true, {{kPrivate10, kPrivate10 | 0xFFFFFFu, "10.0.0.0/8"}}}});
    tcp.rows = {connectionTo(ipField(10, 0, 0, 5), 1)};

    pass.RefreshNS();

    EXPECT_TRUE(tcp.tornDown.empty());
    EXPECT_EQ(host.log, "");
    EXPECT_EQ(state.counters.blocked, 0u);
}

TEST_F(GuardPassListsTest, ALifelineIsNeverClosedWhateverBansIt) {
    ban("Own Net", "192.0.2.0", "192.0.2.255");
    useLists({{"everything", false, {{0x01000000u, 0xDFFFFFFFu, "All of it"}}}});
    ban6("Own Net 6", "2001:db8::", "2001:db8::ffff");
    lists_.setLifelines({{IpAddress::fromV4(0xC0000235u), "DNS server"},
                         {IpAddress::fromV4(0xC6336401u), "list server"},
                         {test::ip6("2001:db8::53"), "DNS server"}});
    TcpRow other = connectionTo(ipField(192, 0, 2, 80), 3);
    TcpRow other6 = connectionTo(test::ip6("2001:db8::80"), 5);
    tcp.rows = {connectionTo(ipField(192, 0, 2, 53), 1), connectionTo(ipField(198, 51, 100, 1), 2),
                other, connectionTo(test::ip6("2001:db8::53"), 4), other6};

    pass.RefreshNS();

    EXPECT_EQ(tcp.tornDown, (std::vector<TcpRow>{other, other6}));
    EXPECT_EQ(state.counters.blocked, 2u);
}

TEST_F(GuardPassListsTest, AWouldBeBanOfALifelineIsSaidOnce) {
    ban("Own Net", "192.0.2.0", "192.0.2.255");
    useLists({{"level1", false, {{0xC6336400u, 0xC63364FFu, "Bad Net"}}}});
    lists_.setLifelines({{IpAddress::fromV4(0xC0000235u), "DNS server"},
                         {IpAddress::fromV4(0xC6336401u), "list server"},
                         {IpAddress::fromV4(0x08080808u), "default gateway"},
                         {test::ip6("2001:db8::1"), "default gateway"}});
    ban6("Own Net 6", "2001:db8::", "2001:db8::ffff");

    pass.reportSparedLifelines();
    pass.reportSparedLifelines();

    EXPECT_EQ(host.log,
              "Lifeline 192.0.2.53 (DNS server) is never banned; the entry Own Net would have.\r\n"
              "Lifeline 198.51.100.1 (list server) is never banned; the entry Bad Net [level1] "
              "would have.\r\n"
              "Lifeline 2001:db8::1 (default gateway) is never banned; the entry Own Net 6 would "
              "have.\r\n");
}

TEST_F(GuardPassListsTest, AListBanNamesTheEntryAndTheList) {
    useLists({{"level1", false, {{0xCB007100u, 0xCB0071FFu, "Bad Net"}}}});
    TcpRow banned = connectionTo(ipField(203, 0, 113, 9), 1);
    tcp.rows = {banned, connectionTo(ipField(8, 8, 8, 8), 2)};

    pass.RefreshNS();

    ASSERT_EQ(tcp.tornDown.size(), 1u);
    EXPECT_EQ(tcp.tornDown[0], banned);
    EXPECT_EQ(host.log,
              "Connection Rejected: 203.0.113.9 - Bad Net [level1] (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(state.counters.blocked, 1u);
}

// A list bans IPv6 peers as it bans IPv4 ones, and an allow list's IPv6
// range overrides every ban of them.
TEST_F(GuardPassListsTest, Ipv6PeersAreBannedAndAllowedByLists) {
    const Ipv6Number docNet = test::ip6("2001:db8::").v6();
    const Ipv6Number docNetEnd = test::ip6("2001:db8:ffff:ffff:ffff:ffff:ffff:ffff").v6();
    const Ipv6Number allowed = test::ip6("2001:db8:a::").v6();
    const Ipv6Number allowedEnd = test::ip6("2001:db8:a::ffff").v6();
    ban6("Own Doc", "2001:db8:a::1", "2001:db8:a::1");
    useLists({{"level1", false, {}, {{docNet, docNetEnd, "Doc Net"}}},
              {"mine", true, {}, {{allowed, allowedEnd, "2001:db8:a::/112"}}}});
    TcpRow banned = connectionTo(test::ip6("2001:db8:b::7"), 1);
    tcp.rows = {banned, connectionTo(test::ip6("2001:db8:a::1"), 2),
                connectionTo(test::ip6("2001:db9::1"), 3)};

    pass.RefreshNS();

    ASSERT_EQ(tcp.tornDown.size(), 1u);
    EXPECT_EQ(tcp.tornDown[0], banned);
    EXPECT_EQ(host.log,
              "Connection Rejected: 2001:db8:b::7 - Doc Net [level1] (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(state.counters.blocked, 1u);
}

TEST_F(GuardPassListsTest, TheOwnListStillNamesItsEntryAndBlockingOffClosesNothing) {
    ban("Example Net", "10.0.0.0", "10.0.0.255");
    useLists({{"level1", false, {{0x0A000000u, 0x0A0000FFu, "Listed"}}}});
    tcp.rows = {connectionTo(ipField(10, 0, 0, 5), 1)};
    pass.RefreshNS();
    EXPECT_EQ(host.log, kExampleNetLine);

    state.options.blocking = false;
    useLists({{"level1", false, {{0xCB007100u, 0xCB0071FFu, "Bad Net"}}}});
    tcp.rows = {connectionTo(ipField(203, 0, 113, 9), 3)};
    pass.RefreshNS();
    EXPECT_EQ(tcp.tornDown.size(), 1u);
}

}  // namespace
}  // namespace bw
