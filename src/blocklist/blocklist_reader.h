#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "blocklist/ban_table.h"

namespace bw {

// What one load read: entry lines (ranges), banned addresses, lines without ":".
struct LoadTotals {
    std::uint64_t ranges = 0;
    double addresses = 0;
    std::uint64_t failed = 0;
    std::uint64_t ranges6 = 0;  // IPv6 entry lines: counted apart, never as addresses
};

// Reads a whole blocklist file into the table, appending each entry to its
// bucket in file order. The table keeps the bytes and replaces what it held. Empty lines count
// nowhere. A line without ":", or whose range field does not read as a range
// (readRangeField), counts as failed and is not stored; every other line is
// stored and counts as a range and its addresses, so the total of addresses
// never falls below 0. A line whose field reads as no IPv4 range but as an
// IPv6 one (readRangeField6) is stored as an IPv6 entry and counts in ranges6.
LoadTotals loadBlocklist(std::string bytes, BanTable& table);

// The lines the load adds to the log view, each ended by CR LF: the failed
// lines (only when there are any), then the load report, the IPv6 entries
// (only when there are any) and an empty line.
std::string loadReport(const LoadTotals& totals);

}  // namespace bw
