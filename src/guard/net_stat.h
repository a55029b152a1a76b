#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ip_address.h"
#include "platform/tcp_table.h"

namespace bw {

// Stands for an address that gave no dotted text.
inline constexpr std::string_view kUnableToGetIp = "Unable to get IP";

// A snapshot of the machine's TCP connections: every row, empty on failure.
std::vector<TcpRow> readConnections(TcpTable& table, bool sorted);

// Dotted text of an address field as read (network byte order): the first
// octet is the lowest-addressed byte, whatever the processor's byte order.
std::string ipToText(std::uint32_t address);
// A row's address: dotted for IPv4, RFC 5952 for IPv6.
std::string ipToText(const IpAddress& address);
// 0.0.0.0 or ::, a listener's address or a peer not yet known.
bool isUnspecified(const IpAddress& address);

// Aborts the row's connection; says whether it was closed, and why not.
TeardownResult teardown(TcpTable& table, const TcpRow& row);

}  // namespace bw
