#include <arpa/inet.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/tcp_table.h"
#include "support/network_namespace.h"

namespace bw {
namespace {

std::string addressText(const IpAddress& address) {
    return ipAddressText(address);
}

// An IPv6 address in brackets, so that its port stands apart.
std::string endpointText(const IpAddress& address, std::uint32_t port) {
    const std::string text = addressText(address);
    return (address.isV6() ? "[" + text + "]" : text) + ":" +
           std::to_string(ntohs(static_cast<std::uint16_t>(port)));
}

using test::Findings;

// "state local:port remote:port" in the usual notation.
std::string describe(const TcpRow& r) {
    return std::to_string(r.state) + " " + endpointText(r.localAddress, r.localPort) + " " +
           endpointText(r.remoteAddress, r.remotePort);
}

std::string describeAll(const std::vector<TcpRow>& rows) {
    std::string text;
    for (const TcpRow& r : rows) text += describe(r) + (r.family == TcpFamily::V6 ? " v6\n" : "\n");
    return text;
}

const TcpRow* findRow(const std::vector<TcpRow>& rows, const std::string& description) {
    auto it = std::find_if(rows.begin(), rows.end(),
                           [&](const TcpRow& r) { return describe(r) == description; });
    return it == rows.end() ? nullptr : &*it;
}

TEST(SystemTcpTable, RowsCarryStateAddressesAndPorts) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        int listener = test::listenOn("127.0.0.5", 8005);
        int client = test::connectFrom("127.0.0.1", "127.0.0.5", 8005);
        int server = test::acceptOne(listener);
        sockaddr_in own{};
        socklen_t size = sizeof own;
        getsockname(client, reinterpret_cast<sockaddr*>(&own), &size);
        f.set("clientPort", ntohs(own.sin_port));
        std::vector<TcpRow> rows = makeSystemTcpTable()->readConnections(true);
        f.set("rows", describeAll(rows));
        // The inode names the socket among its program's descriptors.
        struct stat info {};
        fstat(client, &info);
        f.set("clientInode", info.st_ino);
        f.set("rowInode", rows.empty() ? 0 : static_cast<long long>(rows.front().inode));
        close(server);
    });
    EXPECT_NE(run.findings.number("clientInode"), 0);
    EXPECT_EQ(run.findings["rowInode"], run.findings["clientInode"]);
    std::string port = run.findings["clientPort"];
    EXPECT_EQ(run.findings["rows"], "5 127.0.0.1:" + port +
                                        " 127.0.0.5:8005\n"
                                        "2 127.0.0.5:8005 0.0.0.0:0\n"
                                        "5 127.0.0.5:8005 127.0.0.1:" +
                                        port + "\n");
}

TEST(SystemTcpTable, HoldsEveryRowOfALargeTable) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        int listener = test::listenOn("127.0.0.1", 8001);
        for (int i = 0; i < 150; ++i) {
            test::connectFrom("127.0.0.2", "127.0.0.1", 8001);
            test::acceptOne(listener);
        }
        auto table = makeSystemTcpTable();
        std::vector<TcpRow> sorted = table->readConnections(true);
        f.set("rows", static_cast<long long>(table->readConnections(false).size()));
        f.set("sortedRows", static_cast<long long>(sorted.size()));
        f.set("sorted", std::is_sorted(sorted.begin(), sorted.end(), tcpRowBefore) ? "yes" : "no");
    });
    EXPECT_EQ(run.findings.number("rows"), 301);  // 150 clients, 150 servers, the listener
    EXPECT_EQ(run.findings.number("sortedRows"), 301);
    EXPECT_EQ(run.findings["sorted"], "yes");
}

// Dual-stack programs hold their IPv4 connections in IPv6 sockets: those rows
// carry IPv4 addresses, while pure IPv6 connections carry their own.
TEST(SystemTcpTable, MappedConnectionsAreIpv4RowsBesidePureIpv6Ones) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        int listener = test::listenDualStack(8006);
        int client = test::connect6("::ffff:127.0.0.6", 8006);
        int server = test::acceptOne(listener);
        f.set("mapped", client >= 0 && server >= 0 ? "yes" : "no");
        int pure = test::connect6("::1", 8006);
        if (pure >= 0)
            test::acceptOne(listener);
        f.set("pureIpv6", pure >= 0 ? "yes" : "no");
        f.set("rows", describeAll(makeSystemTcpTable()->readConnections(true)));
        sockaddr_in6 own{};
        socklen_t size = sizeof own;
        getsockname(client, reinterpret_cast<sockaddr*>(&own), &size);
        f.set("clientPort", ntohs(own.sin6_port));
        size = sizeof own;
        getsockname(pure, reinterpret_cast<sockaddr*>(&own), &size);
        f.set("pureClientPort", ntohs(own.sin6_port));
    });
    ASSERT_EQ(run.findings["mapped"], "yes");
    ASSERT_EQ(run.findings["pureIpv6"], "yes");
    std::string port = run.findings["clientPort"];
    std::string pure = run.findings["pureClientPort"];
    // IPv4 rows sort before IPv6 ones; the listener is on ::.
    EXPECT_EQ(run.findings["rows"], "5 127.0.0.1:" + port + " 127.0.0.6:8006 v6\n" +
                                        "5 127.0.0.6:8006 127.0.0.1:" + port + " v6\n" +
                                        "2 [::]:8006 [::]:0 v6\n" + "5 [::1]:8006 [::1]:" + pure +
                                        " v6\n" + "5 [::1]:" + pure + " [::1]:8006 v6\n");
}

TEST(SystemTcpTable, TeardownAbortsThatConnectionOnly) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        int listener = test::listenOn("127.0.0.5", 8005);
        int first = test::connectFrom("127.0.0.1", "127.0.0.5", 8005);
        int firstServer = test::acceptOne(listener);
        int second = test::connectFrom("127.0.0.1", "127.0.0.5", 8005);
        int secondServer = test::acceptOne(listener);
        sockaddr_in own{};
        socklen_t size = sizeof own;
        getsockname(first, reinterpret_cast<sockaddr*>(&own), &size);
        std::string firstRow =
            "5 127.0.0.1:" + std::to_string(ntohs(own.sin_port)) + " 127.0.0.5:8005";

        auto table = makeSystemTcpTable();
        std::vector<TcpRow> before = table->readConnections(false);
        const TcpRow* row = findRow(before, firstRow);
        if (!row)
            throw std::runtime_error("no row " + firstRow);
        TcpRow target = *row;
        TeardownResult result = table->teardown(target);
        f.set("closed", result.closed ? "yes" : "no");
        f.set("reason", result.reason);
        f.set("firstRead", std::strerror(test::readError(first)));
        f.set("secondCarries",
              test::carriesData(second, secondServer, "still here") ? "yes" : "no");
        std::vector<TcpRow> after = table->readConnections(false);
        f.set("rowAfter", findRow(after, firstRow) ? "present" : "gone");
        TeardownResult again = table->teardown(target);
        f.set("againClosed", again.closed ? "yes" : "no");
        f.set("againReason", again.reason);
        f.set("againGone", again.gone ? "yes" : "no");
        close(firstServer);
    });
    EXPECT_EQ(run.findings["closed"], "yes") << run.findings["reason"];
    EXPECT_EQ(run.findings["firstRead"], std::strerror(ECONNABORTED));
    EXPECT_EQ(run.findings["secondCarries"], "yes");
    EXPECT_EQ(run.findings["rowAfter"], "gone");
    EXPECT_EQ(run.findings["againClosed"], "no");
    EXPECT_EQ(run.findings["againReason"], "the connection was no longer there");
    EXPECT_EQ(run.findings["againGone"], "yes");
}

// A native IPv6 connection is found with its own addresses and closed through
// its IPv6 socket, its neighbour left alone.
TEST(SystemTcpTable, Ipv6RowCarriesItsAddressesAndTeardownAbortsIt) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        if (!test::addLoopbackAddress6("2001:db8::5") || !test::addLoopbackAddress6("2001:db8::6"))
            throw std::runtime_error("ip -6 addr add failed");
        int listener = test::listenOn6("2001:db8::5", 8007);
        int target = test::connect6From("2001:db8::6", "2001:db8::5", 8007);
        int targetServer = test::acceptOne(listener);
        int other = test::connect6From("2001:db8::6", "2001:db8::5", 8007);
        int otherServer = test::acceptOne(listener);
        if (target < 0 || other < 0 || targetServer < 0 || otherServer < 0)
            throw std::runtime_error("no IPv6 connection");
        sockaddr_in6 own{};
        socklen_t size = sizeof own;
        getsockname(target, reinterpret_cast<sockaddr*>(&own), &size);
        const std::string targetRow =
            "5 [2001:db8::6]:" + std::to_string(ntohs(own.sin6_port)) + " [2001:db8::5]:8007";
        auto table = makeSystemTcpTable();
        std::vector<TcpRow> rows = table->readConnections(true);
        const TcpRow* row = findRow(rows, targetRow);
        f.set("found", row ? "yes" : "no: " + describeAll(rows));
        if (!row)
            return;
        f.set("family", row->family == TcpFamily::V6 ? "v6" : "v4");
        TeardownResult result = table->teardown(*row);
        f.set("closed", result.closed ? "yes" : result.reason);
        f.set("targetRead", std::strerror(test::readError(target)));
        f.set("otherCarries", test::carriesData(other, otherServer, "still here") ? "yes" : "no");
        f.set("rowAfter", findRow(table->readConnections(false), targetRow) ? "present" : "gone");
    });
    EXPECT_EQ(run.findings["found"], "yes");
    EXPECT_EQ(run.findings["family"], "v6");
    EXPECT_EQ(run.findings["closed"], "yes");
    EXPECT_EQ(run.findings["targetRead"], std::strerror(ECONNABORTED));
    EXPECT_EQ(run.findings["otherCarries"], "yes");
    EXPECT_EQ(run.findings["rowAfter"], "gone");
}

// A row names one socket: another socket on the same addresses is not hit.
TEST(SystemTcpTable, TeardownOfAStaleRowLeavesItsSuccessorAlone) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        int listener = test::listenOn("127.0.0.5", 8005);
        int client = test::connectFrom("127.0.0.1", "127.0.0.5", 8005);
        int server = test::acceptOne(listener);
        auto table = makeSystemTcpTable();
        std::vector<TcpRow> rows = table->readConnections(false);
        auto it = std::find_if(rows.begin(), rows.end(), [](const TcpRow& r) {
            return addressText(r.remoteAddress) == "127.0.0.5";
        });
        if (it == rows.end())
            throw std::runtime_error("no client row");
        TcpRow stale = *it;
        stale.cookie += 1;
        TeardownResult result = table->teardown(stale);
        f.set("closed", result.closed ? "yes" : "no");
        f.set("gone", result.gone ? "yes" : "no");
        f.set("carries", test::carriesData(client, server, "alive") ? "yes" : "no");
    });
    EXPECT_EQ(run.findings["closed"], "no");
    EXPECT_EQ(run.findings["gone"], "yes") << "the row's own socket no longer exists";
    EXPECT_EQ(run.findings["carries"], "yes");
}

TEST(SystemTcpTable, TeardownWithoutNetworkAdministrationIsRefusedWithTheReason) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        int listener = test::listenOn("127.0.0.5", 8005);
        int client = test::connectFrom("127.0.0.1", "127.0.0.5", 8005);
        int server = test::acceptOne(listener);
        if (!test::dropNetworkAdministration())
            throw std::runtime_error("capset failed");
        auto table = makeSystemTcpTable();
        std::vector<TcpRow> rows = table->readConnections(false);
        f.set("rows", static_cast<long long>(rows.size()));
        for (const TcpRow& r : rows) {
            if (addressText(r.remoteAddress) != "127.0.0.5")
                continue;
            TeardownResult result = table->teardown(r);
            f.set("closed", result.closed ? "yes" : "no");
            f.set("reason", result.reason);
        }
        f.set("carries", test::carriesData(client, server, "alive") ? "yes" : "no");
    });
    EXPECT_EQ(run.findings.number("rows"), 3);  // reading needs no rights
    EXPECT_EQ(run.findings["closed"], "no");
    EXPECT_EQ(run.findings["reason"],
              "not permitted (closing connections needs the CAP_NET_ADMIN capability)");
    EXPECT_EQ(run.findings["carries"], "yes");
}

// A banned peer is not let off because its connection is half closed: the
// row of a connection whose peer closed first is closed like any other. One
// that has ended and waits out its time is removed where the kernel can; an
// older kernel refuses, and must say so for what it is.
TEST(SystemTcpTable, TeardownOfRowsInClosingStates) {
    BW_RUN_IN_PRIVATE_NETWORK(run, [](Findings& f) {
        int listener = test::listenOn("127.0.0.5", 8005);
        int ending = test::connectFrom("127.0.0.1", "127.0.0.5", 8005);
        int endingServer = test::acceptOne(listener);
        test::connectFrom("127.0.0.2", "127.0.0.5", 8005);
        int halfClosedServer = test::acceptOne(listener);
        close(ending);  // the side that closes first waits out its time
        close(endingServer);
        close(halfClosedServer);
        auto table = makeSystemTcpTable();
        auto closingRows = [&] {
            std::vector<TcpRow> rows = table->readConnections(true);
            std::erase_if(rows, [](const TcpRow& r) {
                return addressText(r.remoteAddress) != "127.0.0.5" ||
                       (r.state != kTcpTimeWait && r.state != kTcpCloseWait);
            });
            return rows;
        };
        // Loopback closing handshakes end at once; rereading guards against
        // a slow scheduler, it measures nothing.
        std::vector<TcpRow> rows = closingRows();
        for (int attempt = 0; attempt < 1000 && rows.size() < 2; ++attempt) {
            usleep(1000);
            rows = closingRows();
        }
        for (const TcpRow& r : rows) {
            TeardownResult result = table->teardown(r);
            f.set(std::to_string(r.state), result.closed ? "closed" : result.reason);
        }
        std::string left;
        for (const TcpRow& r : closingRows()) left += describe(r) + "\n";
        f.set("left", left);
    });
    EXPECT_EQ(run.findings[std::to_string(kTcpCloseWait)], "closed");
    const std::string timeWait = run.findings[std::to_string(kTcpTimeWait)];
    if (timeWait == "closed") {
        EXPECT_EQ(run.findings["left"], "");
    } else {
        EXPECT_EQ(timeWait, teardownRefusal(EOPNOTSUPP, kTcpTimeWait));
    }
}

}  // namespace
}  // namespace bw
