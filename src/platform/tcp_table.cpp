#include "platform/tcp_table.h"

#include <arpa/inet.h>

#include <algorithm>
#include <tuple>

namespace bw {

namespace {

std::uint16_t hostOrderPort(std::uint32_t networkOrder) {
    return ntohs(static_cast<std::uint16_t>(networkOrder));
}

auto sortKey(const TcpRow& r) {
    return std::make_tuple(ntohl(r.localAddress), hostOrderPort(r.localPort),
                           ntohl(r.remoteAddress), hostOrderPort(r.remotePort), r.family, r.cookie);
}

}  // namespace

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
