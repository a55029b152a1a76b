#pragma once

#include <cstdint>
#include <vector>

#include "blocklist/ban_table.h"

namespace bw {

// An inclusive range of addresses as numbers, the first octet most significant.
struct AddressSpan {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    friend bool operator==(const AddressSpan&, const AddressSpan&) = default;
};

// Sorted, with overlapping and adjacent spans joined.
std::vector<AddressSpan> mergeSpans(std::vector<AddressSpan> spans);

// Appends the addresses one entry filed under the bucket bans, as findMatches
// finds them: one span, or two where it reaches over loopback from outside 127.
void addBannedSpans(const BanEntry& entry, int bucket, std::vector<AddressSpan>& out);

// The ban table as the kernel guard's table: exactly the addresses for which
// BanTable::findMatches finds an entry, as sorted, disjoint spans (overlapping
// and adjacent ranges joined). Ranges count across first parts; loopback
// addresses only through entries filed under 127.
std::vector<AddressSpan> kernelIntervals(const BanTable& table);

}  // namespace bw
