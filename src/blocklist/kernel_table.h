#pragma once

#include <vector>

#include "blocklist/ban_table.h"
#include "platform/address_interval.h"

namespace bw {

// The ban table as the kernel guard's table: exactly the addresses for which
// BanTable::findMatches finds an entry, as sorted, disjoint intervals
// (overlapping and adjacent ranges joined). Ranges count across first parts;
// loopback addresses only through entries filed under 127.
std::vector<AddressInterval> kernelIntervals(const BanTable& table);

}  // namespace bw
