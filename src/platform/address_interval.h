#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/ip_address.h"

namespace bw {

// An inclusive range of IPv4 addresses as numbers, the first octet most significant.
struct AddressInterval {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    friend bool operator==(const AddressInterval&, const AddressInterval&) = default;
};

// An inclusive range of IPv6 addresses as numbers.
struct Address6Interval {
    Ipv6Number first;
    Ipv6Number last;
    friend bool operator==(const Address6Interval&, const Address6Interval&) = default;
};

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

// The span holding the address in sorted, disjoint spans (anything with
// inclusive `first` and `last` of the address's type), or null.
template <class Span, class Address>
const Span* spanHolding(const std::vector<Span>& spans, const Address& address) {
    auto after = std::upper_bound(spans.begin(), spans.end(), address,
                                  [](const Address& a, const Span& s) { return a < s.first; });
    if (after == spans.begin())
        return nullptr;
    const Span& candidate = *(after - 1);
    return address <= candidate.last ? &candidate : nullptr;
}

}  // namespace bw
