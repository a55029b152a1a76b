#include "platform/tcp_table.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "support/fake_tcp_table.h"

namespace bw {
namespace {

using test::ipField;

TcpRow row(IpAddress local, std::uint16_t localPort, IpAddress remote, std::uint16_t remotePort) {
    TcpRow r;
    r.localAddress = local;
    r.localPort = htons(localPort);
    r.remoteAddress = remote;
    r.remotePort = htons(remotePort);
    return r;
}

// Numeric order of each field as written, not of its bytes in memory.
TEST(TcpRowOrder, LocalAddressAndPortThenRemoteAddressAndPort) {
    const std::vector<TcpRow> ordered = {
        row(ipField(1, 0, 0, 2), 80, ipField(9, 0, 0, 1), 1),
        row(ipField(1, 0, 0, 2), 256, ipField(2, 0, 0, 0), 1),
        row(ipField(1, 0, 0, 2), 256, ipField(9, 0, 0, 1), 1),
        row(ipField(1, 0, 0, 2), 256, ipField(9, 0, 0, 1), 2),
        row(ipField(1, 0, 1, 0), 1, ipField(0, 0, 0, 0), 0),
        row(ipField(2, 0, 0, 1), 1, ipField(0, 0, 0, 0), 0),
    };
    std::vector<TcpRow> rows(ordered.rbegin(), ordered.rend());
    sortTcpRows(rows);
    EXPECT_EQ(rows, ordered);
}

TEST(TcpRowIdentity, StateDoesNotMakeAnotherConnection) {
    TcpRow a = test::connectionTo(ipField(10, 0, 0, 5), 1);
    TcpRow later = a;
    later.state = kTcpCloseWait;
    EXPECT_TRUE(sameConnection(a, later));
    EXPECT_NE(a, later);

    TcpRow successor = a;
    successor.cookie = 2;  // a new socket on the same addresses
    EXPECT_FALSE(sameConnection(a, successor));
    TcpRow mapped = a;
    mapped.family = TcpFamily::V6;
    EXPECT_FALSE(sameConnection(a, mapped));
}

// The reason stands in a log view line; it must not blame the wrong thing.
TEST(TeardownRefusal, SaysWhatStoodInTheWay) {
    const char* const notPermitted =
        "not permitted (closing connections needs the CAP_NET_ADMIN capability)";
    const char* const noDestroy =
        "this system's kernel cannot close connections (no socket destroy support)";
    const char* const ended =
        "the connection has already ended and this system's kernel cannot remove it before "
        "its time-wait runs out";
    const struct Case {
        int error;
        std::uint32_t state;
        std::string reason;
    } cases[] = {
        {EPERM, kTcpEstablished, notPermitted},
        {EACCES, kTcpTimeWait, notPermitted},
        {EOPNOTSUPP, kTcpEstablished, noDestroy},
        {EOPNOTSUPP, kTcpCloseWait, noDestroy},
        {EOPNOTSUPP, kTcpTimeWait, ended},
        {ENOENT, kTcpEstablished, "the connection was no longer there"},
        {ENOBUFS, kTcpEstablished, "the system refused (No buffer space available)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(teardownRefusal(c.error, c.state), c.reason) << c.error << " " << c.state;
    }
}

}  // namespace
}  // namespace bw
