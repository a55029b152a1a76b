// What the polling guard keeps of each connection it closes: the program that
// held it, its port and direction, beside the unchanged rejection lines.

#include "guard/close_details.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <string>

#include "blocklist/address_codec.h"
#include "guard/guard_pass.h"
#include "support/fake_clock.h"
#include "support/fake_socket_owners.h"
#include "support/fake_tcp_table.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

using test::connectionTo;
using test::ipField;

TcpRow withInode(TcpRow row, std::uint64_t inode) {
    row.inode = inode;
    return row;
}

// A guard pass over fakes that keeps its closes in a store.
struct ClosingPass {
    ClosingPass() {
        ban("Example Net", "10.0.0.0", "10.0.0.255");
        pass.useRefusals(&store, &owners);
    }
    void ban(const std::string& name, const std::string& start, const std::string& end) {
        const std::string line = name + ":" + start + "-" + end;
        table.append(std::stoi(start), {line, name, *IP2LONG(start), *IP2LONG(end)});
    }

    test::TempDir dir;
    test::RecordingHost host;
    test::FakeClock clock;
    test::FakeTcpTable tcp;
    test::FakeSocketOwners owners;
    BanTable table;
    ProgramState state;
    ConnectionLog log{host, clock, dir.file("connlog.txt")};
    GuardPass pass{table, tcp, log, state, host};
    RefusalStore store{state.recentRefusals, host, clock};
};

class CloseDetailsTest : public ::testing::Test, protected ClosingPass {};

TEST_F(CloseDetailsTest, AClosedConnectionIsKeptWithItsProgramBesideTheSameLines) {
    owners.owners[77] = {4242, "refusme"};
    tcp.rows = {withInode(connectionTo(ipField(10, 0, 0, 5), 1), 77)};

    pass.RefreshNS();

    EXPECT_EQ(host.log, "Connection Rejected: 10.0.0.5 - Example Net (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(state.counters.blocked, 1u);
    ASSERT_EQ(state.recentRefusals.size(), 1u);
    const RefusalRecord& r = state.recentRefusals.front();
    EXPECT_EQ(r.address, ipField(10, 0, 0, 5));
    EXPECT_EQ(r.entry, "Example Net");
    EXPECT_EQ(r.pid, 4242u);
    EXPECT_EQ(r.command, "refusme");
    EXPECT_EQ(r.port, 443);
    EXPECT_EQ(r.protocol, IPPROTO_TCP);
    EXPECT_EQ(r.direction, RefusedDirection::Outgoing);
    EXPECT_EQ(r.time, "12-05-2026 21:41:15");
    ASSERT_EQ(host.refusals.size(), 1u);
    EXPECT_TRUE(host.refusals[0].reported);
}

TEST_F(CloseDetailsTest, WhereNoProgramCanBeNamedItSaysWhy) {
    struct Case {
        const char* what;
        std::uint64_t inode;
        bool hidden;
        bool service;
        std::string_view why;
        std::size_t looks;
    } cases[] = {
        {"found", 77, false, true, "", 1},
        {"another user's", 78, true, true, kOwnerHidden, 1},
        {"nobody holds it", 78, false, true, kOwnerGone, 1},
        {"waiting out its time", 0, true, true, kOwnerGone, 0},
        {"no lookup service", 77, false, false, kOwnerNotLookedUp, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClosingPass f;
        f.owners.owners[77] = {4242, "refusme"};
        f.owners.hidden = c.hidden;
        if (!c.service)
            f.pass.useRefusals(&f.store, nullptr);
        f.tcp.rows = {withInode(connectionTo(ipField(10, 0, 0, 5), 1), c.inode)};
        f.pass.RefreshNS();
        ASSERT_EQ(f.state.recentRefusals.size(), 1u);
        const RefusalRecord& r = f.state.recentRefusals.front();
        EXPECT_EQ(r.programUnknown, c.why);
        EXPECT_EQ(r.pid, c.why.empty() ? 4242u : 0u);
        EXPECT_EQ(f.owners.asked.size(), c.looks);
    }
}

// Once per pass, and before the first close: a program that drops the
// connection the moment it is closed is still named.
TEST_F(CloseDetailsTest, TheProcessesAreLookedThroughOnceAPassBeforeItsFirstClose) {
    owners.owners = {{77, {4242, "refusme"}}, {78, {4243, "other"}}};
    std::size_t closedAtLook = 99;
    owners.onFind = [&] { closedAtLook = tcp.tornDown.size(); };
    tcp.rows = {withInode(connectionTo(ipField(10, 0, 0, 5), 1), 77),
                withInode(connectionTo(ipField(10, 0, 0, 6), 2), 78),
                withInode(connectionTo(ipField(8, 8, 8, 8), 3), 79)};

    pass.RefreshNS();

    ASSERT_EQ(owners.asked.size(), 1u);
    EXPECT_EQ(closedAtLook, 0u);
    EXPECT_EQ(owners.asked[0], (std::vector<std::uint64_t>{77, 78, 79}));
    ASSERT_EQ(state.recentRefusals.size(), 2u);
    EXPECT_EQ(state.recentRefusals[0].command, "refusme");
    EXPECT_EQ(state.recentRefusals[1].command, "other");

    pass.RefreshNS();  // nothing banned is left: nothing to look up
    EXPECT_EQ(owners.asked.size(), 1u);
}

// The table does not say who dialled: a connection on a port this machine
// listens on came in.
TEST_F(CloseDetailsTest, TheDirectionFollowsTheListeningPorts) {
    struct Case {
        const char* what;
        std::uint32_t state;
        IpAddress listenerAddress;
        std::uint16_t listenerPort;
        RefusedDirection direction;
    } cases[] = {
        {"no listener", kTcpEstablished, {}, 0, RefusedDirection::Outgoing},
        {"listener on every address", kTcpEstablished, {}, 40001, RefusedDirection::Incoming},
        // A dual-stack listener takes IPv4 connections too.
        {"listener on every IPv6 address", kTcpEstablished, test::ip6("::"), 40001,
         RefusedDirection::Incoming},
        {"listener on its address", kTcpEstablished, ipField(192, 168, 1, 2), 40001,
         RefusedDirection::Incoming},
        {"listener on another address", kTcpEstablished, ipField(192, 168, 1, 3), 40001,
         RefusedDirection::Outgoing},
        {"listener on another port", kTcpEstablished, {}, 40002, RefusedDirection::Outgoing},
        {"handshake coming in", kTcpSynReceived, {}, 0, RefusedDirection::Incoming},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClosingPass f;
        f.tcp.rows = {connectionTo(ipField(10, 0, 0, 5), 1, c.state)};
        if (c.listenerPort != 0) {
            TcpRow listener;
            listener.state = kTcpListen;
            listener.localAddress = c.listenerAddress;
            listener.localPort = htons(c.listenerPort);
            listener.cookie = 9;
            f.tcp.rows.push_back(listener);
        }
        f.pass.RefreshNS();
        ASSERT_EQ(f.state.recentRefusals.size(), 1u);
        EXPECT_EQ(f.state.recentRefusals.front().direction, c.direction);
    }
}

TEST_F(CloseDetailsTest, OneRecordNamesEveryEntryOrTheList) {
    ban("Inner", "10.0.0.5", "10.0.0.5");
    ListTable lists({{"level1", false, {{0xCB007100u, 0xCB0071FFu, "Bad Net"}}}});
    pass.useLists(&lists);
    tcp.rows = {connectionTo(ipField(10, 0, 0, 5), 1), connectionTo(ipField(203, 0, 113, 9), 2)};

    pass.RefreshNS();

    ASSERT_EQ(state.recentRefusals.size(), 2u);
    EXPECT_EQ(state.recentRefusals[0].entry, "Example Net, Inner");
    EXPECT_EQ(state.recentRefusals[1].entry, "Bad Net [level1]");
    EXPECT_EQ(state.counters.blocked, 3u);
}

TEST_F(CloseDetailsTest, NothingIsKeptOfAConnectionThatWasNotClosed) {
    tcp.rows = {connectionTo(ipField(10, 0, 0, 5), 1)};
    tcp.refuseReason = "not permitted";
    pass.RefreshNS();
    EXPECT_TRUE(state.recentRefusals.empty());

    // Listed twice by one snapshot: the second teardown finds it gone.
    tcp.refuseReason.clear();
    tcp.rows = {connectionTo(ipField(10, 0, 0, 5), 1), connectionTo(ipField(10, 0, 0, 5), 1)};
    pass.RefreshNS();
    EXPECT_EQ(state.recentRefusals.size(), 1u);
    EXPECT_EQ(state.recentRefusals[0].times, 1u);
}

}  // namespace
}  // namespace bw
