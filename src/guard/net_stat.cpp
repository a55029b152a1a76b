#include "guard/net_stat.h"

#include <charconv>
#include <cstring>

namespace bw {

std::vector<TcpRow> readConnections(TcpTable& table, bool sorted) {
    return table.readConnections(sorted);
}

std::string ipToText(std::uint32_t address) {
    unsigned char octets[4];
    std::memcpy(octets, &address, sizeof octets);
    char text[16];
    char* end = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            *end++ = '.';
        auto [next, error] = std::to_chars(end, text + sizeof text, octets[i]);
        if (error != std::errc())
            return std::string(kUnableToGetIp);
        end = next;
    }
    return std::string(text, end);
}

std::string ipToText(const IpAddress& address) {
    return ipAddressText(address);
}

bool isUnspecified(const IpAddress& address) {
    return address == IpAddress() || address == IpAddress::fromV6({});
}

TeardownResult teardown(TcpTable& table, const TcpRow& row) {
    return table.teardown(row);
}

}  // namespace bw
