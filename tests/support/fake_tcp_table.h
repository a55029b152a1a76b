#pragma once

#include <arpa/inet.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/tcp_table.h"

namespace bw::test {

// Network-order address field from its four octets: a.b.c.d.
inline std::uint32_t ipField(unsigned a, unsigned b, unsigned c, unsigned d) {
    unsigned char octets[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                               static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    std::uint32_t field;
    std::copy(octets, octets + 4, reinterpret_cast<unsigned char*>(&field));
    return field;
}

// An established connection from 192.168.1.2 to the peer; the cookie tells
// connections to the same peer apart.
inline TcpRow connectionTo(std::uint32_t peer, std::uint64_t cookie = 1,
                           std::uint32_t state = kTcpEstablished) {
    TcpRow row;
    row.state = state;
    row.localAddress = ipField(192, 168, 1, 2);
    row.localPort = htons(static_cast<std::uint16_t>(40000 + cookie));
    row.remoteAddress = peer;
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
