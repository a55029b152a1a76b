#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/tcp_table.h"

namespace bw {

// Stands for an address that gave no dotted text.
inline constexpr std::string_view kUnableToGetIp = "Unable to get IP";

// A snapshot of the machine's IPv4 TCP connections: every row, empty on failure.
std::vector<TcpRow> readConnections(TcpTable& table, bool sorted);

// Dotted text of an address field as read (network byte order): the first
// octet is the lowest-addressed byte, whatever the processor's byte order.
std::string ipToText(std::uint32_t address);

// Aborts the row's connection; says whether it was closed, and why not.
TeardownResult teardown(TcpTable& table, const TcpRow& row);

}  // namespace bw
