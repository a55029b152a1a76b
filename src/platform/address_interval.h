#pragma once

#include <cstddef>
#include <span>

#include "platform/span_set.h"

namespace bw {

// An inclusive range of IPv4 addresses as numbers, the first octet most significant.
using AddressInterval = Span4;

// The most intervals the kernel table holds (its search is bounded by it).
inline constexpr std::size_t kMaxKernelIntervals = (std::size_t{1} << 21) - 1;

// Sorted, disjoint, each first <= last, and not too many: the only tables the
// kernel guard accepts.
inline bool isKernelTable(std::span<const AddressInterval> intervals) {
    if (intervals.size() > kMaxKernelIntervals)
        return false;
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        if (intervals[i].first > intervals[i].last)
            return false;
        if (i > 0 && intervals[i - 1].last >= intervals[i].first)
            return false;
    }
    return true;
}

}  // namespace bw
