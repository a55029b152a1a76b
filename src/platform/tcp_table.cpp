#include "platform/tcp_table.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>

namespace bw {

namespace {

std::uint16_t hostOrderPort(std::uint32_t networkOrder) {
    return ntohs(static_cast<std::uint16_t>(networkOrder));
}

auto sortKey(const TcpRow& r) {
    return std::make_tuple(r.localAddress, hostOrderPort(r.localPort), r.remoteAddress,
                           hostOrderPort(r.remotePort), r.family, r.cookie);
}

}  // namespace

std::string teardownRefusal(int error, std::uint32_t state) {
    switch (error) {
        case EPERM:
        case EACCES:
            return "not permitted (closing connections needs the CAP_NET_ADMIN capability)";
        case EOPNOTSUPP:
            // Older kernels close live connections but cannot remove one
            // that has ended and only waits out its time.
            if (state == kTcpTimeWait)
                return "the connection has already ended and this system's kernel cannot remove it "
                       "before its time-wait runs out";
            return "this system's kernel cannot close connections (no socket destroy support)";
        case ENOENT:
        case ESTALE:
            return "the connection was no longer there";
        default:
            return std::string("the system refused (") + std::strerror(error) + ")";
    }
}

bool sameConnection(const TcpRow& a, const TcpRow& b) {
    return a.localAddress == b.localAddress && a.localPort == b.localPort &&
           a.remoteAddress == b.remoteAddress && a.remotePort == b.remotePort &&
           a.family == b.family && a.interfaceIndex == b.interfaceIndex && a.cookie == b.cookie;
}

bool tcpRowBefore(const TcpRow& a, const TcpRow& b) {
    return sortKey(a) < sortKey(b);
}

void sortTcpRows(std::vector<TcpRow>& rows) {
    std::sort(rows.begin(), rows.end(), tcpRowBefore);
}

}  // namespace bw
