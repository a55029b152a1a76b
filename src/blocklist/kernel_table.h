#pragma once

#include <cstdint>
#include <vector>

#include "blocklist/ban_table.h"
#include "platform/span_set.h"

namespace bw {

// An inclusive range of IPv4 addresses as numbers, the first octet most significant.
using AddressSpan = Span4;

// Appends the addresses one entry filed under the bucket bans, as findMatches
// finds them: one span, or two where it reaches over loopback from outside 127.
void addBannedSpans(const BanEntry& entry, int bucket, std::vector<AddressSpan>& out);

// The ban table as the kernel guard's table: exactly the addresses for which
// BanTable::findMatches finds an entry, as sorted, disjoint spans (overlapping
// and adjacent ranges joined). Ranges count across first parts; loopback
// addresses only through entries filed under 127.
std::vector<AddressSpan> kernelIntervals(const BanTable& table);
// The same for the IPv6 entries: the addresses findMatches6 finds one for.
std::vector<Span6> kernelIntervals6(const BanTable& table);

}  // namespace bw
