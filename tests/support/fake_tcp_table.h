#pragma once

#include <arpa/inet.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ip_address.h"
#include "platform/tcp_table.h"

namespace bw::test {

// The IPv4 address a.b.c.d.
inline IpAddress ipField(unsigned a, unsigned b, unsigned c, unsigned d) {
    return IpAddress::fromV4(a << 24 | b << 16 | c << 8 | d);
}

// An IPv6 address from its text; 0.0.0.0 when the text is none.
inline IpAddress ip6(std::string_view text) {
    return parseIpAddress(text).value_or(IpAddress());
}

// An established connection from 192.168.1.2 to the peer; the cookie tells
// connections to the same peer apart.
inline TcpRow connectionTo(IpAddress peer, std::uint64_t cookie = 1,
                           std::uint32_t state = kTcpEstablished) {
    TcpRow row;
    row.state = state;
    row.localAddress = ipField(192, 168, 1, 2);
    row.localPort = htons(static_cast<std::uint16_t>(40000 + cookie));
    row.remoteAddress = peer;
    // An IPv6 peer is reached from an IPv6 socket and address.
    if (peer.isV6()) {
        row.family = TcpFamily::V6;
        row.localAddress = ip6("2001:db8::2");
    }
    row.remotePort = htons(443);
    row.cookie = cookie;
    return row;
}

// A TCP table held in memory. A successful teardown removes the row, as the
// system does, and a row no longer there is gone; refuseReason makes every
// teardown fail with that reason.
class FakeTcpTable : public TcpTable {
public:
    std::vector<TcpRow> readConnections(bool sorted) override {
        ++reads;
        std::vector<TcpRow> snapshot = rows;
        if (sorted)
            sortTcpRows(snapshot);
        return snapshot;
    }

    TeardownResult teardown(const TcpRow& row) override {
        tornDown.push_back(row);
        if (!refuseReason.empty())
            return {false, refuseReason};
        // One socket, however often a snapshot listed it.
        auto same = [&](const TcpRow& r) { return sameConnection(r, row); };
        if (std::erase_if(rows, same) == 0)
            return {false, "the connection was no longer there", true};
        return {true, {}};
    }

    std::vector<TcpRow> rows;
    std::string refuseReason;
    std::vector<TcpRow> tornDown;  // every teardown asked for, in order
    int reads = 0;
};

}  // namespace bw::test
