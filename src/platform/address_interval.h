#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace bw {

// An inclusive range of IPv4 addresses as numbers, the first octet most significant.
struct AddressInterval {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    friend bool operator==(const AddressInterval&, const AddressInterval&) = default;
};

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

// The span holding the address in sorted, disjoint spans (anything with
// inclusive `first` and `last`), or null.
template <class Span>
const Span* spanHolding(const std::vector<Span>& spans, std::uint32_t address) {
    auto after = std::upper_bound(spans.begin(), spans.end(), address,
                                  [](std::uint32_t a, const Span& s) { return a < s.first; });
    if (after == spans.begin())
        return nullptr;
    const Span& candidate = *(after - 1);
    return address <= candidate.last ? &candidate : nullptr;
}

}  // namespace bw
