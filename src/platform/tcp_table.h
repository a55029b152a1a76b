#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ip_address.h"

namespace bw {

// TCP states in the numbering the guard uses.
enum TcpState : std::uint32_t {
    kTcpClosed = 1,
    kTcpListen = 2,
    kTcpSynSent = 3,
    kTcpSynReceived = 4,
    kTcpEstablished = 5,
    kTcpFinWait1 = 6,
    kTcpFinWait2 = 7,
    kTcpCloseWait = 8,
    kTcpClosing = 9,
    kTcpLastAck = 10,
    kTcpTimeWait = 11,
    kTcpDeleteTcb = 12,
};

// How the socket of a connection is held by the system: an IPv4 socket, or an
// IPv6 one. A dual-stack program's IPv4 connection sits in an IPv6 socket with
// IPv4-mapped addresses; its row still carries IPv4 addresses.
enum class TcpFamily : std::uint8_t { V4, V6 };

// One TCP connection. Ports are in network byte order, in the low 16 bits.
struct TcpRow {
    std::uint32_t state = 0;
    IpAddress localAddress;
    std::uint32_t localPort = 0;
    IpAddress remoteAddress;
    std::uint32_t remotePort = 0;

    // Enough for the system to find this very socket again, and not another
    // one that took over its addresses in the meantime.
    TcpFamily family = TcpFamily::V4;
    std::uint32_t interfaceIndex = 0;
    std::uint64_t cookie = 0;
    // The socket's inode, which names its owner among the processes' open
    // descriptors; 0 when no process holds it (a connection waiting out its time).
    std::uint64_t inode = 0;

    friend bool operator==(const TcpRow&, const TcpRow&) = default;
};

// Same socket, whatever state it is in now.
bool sameConnection(const TcpRow& a, const TcpRow& b);

// Local address and port, then remote address and port, in numeric order.
bool tcpRowBefore(const TcpRow& a, const TcpRow& b);
void sortTcpRows(std::vector<TcpRow>& rows);

struct TeardownResult {
    bool closed = false;
    std::string reason;  // why not, for the user, when !closed
    bool gone = false;   // it had ended by itself meanwhile: there was nothing to close
};

// Why the system did not close a connection, in words for the log view: from
// the error it gave and the state the row was in.
std::string teardownRefusal(int error, std::uint32_t state);

// The machine's TCP connections, over IPv4 and IPv6.
class TcpTable {
public:
    virtual ~TcpTable() = default;
    // Every row, in every state; sorted on request (tcpRowBefore). Empty on failure.
    virtual std::vector<TcpRow> readConnections(bool sorted) = 0;
    // Aborts the connection the row stands for.
    virtual TeardownResult teardown(const TcpRow& row) = 0;
};

std::unique_ptr<TcpTable> makeSystemTcpTable();

}  // namespace bw
