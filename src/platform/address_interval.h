#pragma once

#include <cstddef>
#include <span>

#include "platform/span_set.h"

namespace bw {

// An inclusive range of IPv4 addresses as numbers, the first octet most significant.
using AddressInterval = Span4;

// An inclusive range of IPv6 addresses as numbers.
using Address6Interval = Span6;

// The most intervals each of the kernel's tables holds (its search is bounded by it).
inline constexpr std::size_t kMaxKernelIntervals = (std::size_t{1} << 21) - 1;

// Sorted, disjoint, each first <= last, and not too many: the only tables the
// kernel guard accepts.
template <class Interval>
bool isSortedDisjointTable(std::span<const Interval> intervals) {
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

inline bool isKernelTable(std::span<const AddressInterval> intervals) {
    return isSortedDisjointTable(intervals);
}

inline bool isKernelTable(std::span<const Address6Interval> intervals) {
    return isSortedDisjointTable(intervals);
}

}  // namespace bw
