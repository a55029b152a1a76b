#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace bw {

// Finds which open intervals (lo, hi) hold a point. Built once over a set of
// intervals; nested and overlapping intervals are fine: each interval is kept
// once, in a nested containment list, so memory stays linear however deep the
// nesting goes, and a query costs a binary search per list it enters plus the
// matches themselves.
class RangeIndex {
public:
    struct Interval {
        double lo = 0;
        double hi = 0;
        std::uint32_t id = 0;
    };

    // Replaces the content. Intervals that hold no point (hi <= lo, or a NaN
    // bound) are left out.
    void build(std::vector<Interval> intervals);
    void clear();

    // Appends to ids the id of every interval with lo < x < hi, in no set order.
    void stab(double x, std::vector<std::uint32_t>& ids) const;

private:
    using List = std::pair<std::uint32_t, std::uint32_t>;  // [begin, end) of nodes

    void layOut(const std::vector<Interval>& sorted, const std::vector<std::uint32_t>& parent);
    void layOutFlat(const std::vector<Interval>& sorted);
    void buildDirectory();
    std::uint32_t firstEndingAfter(List list, double x) const;
    std::uint32_t firstTopEndingAfter(double x) const;

    // Nodes: every list (the top level, then each node's children) is one run
    // of consecutive nodes with lo and hi both ascending.
    std::vector<double> lo_;
    std::vector<double> hi_;
    std::vector<std::uint32_t> id_;
    std::vector<List> children_;  // empty when nothing is nested
    std::uint32_t topEnd_ = 0;
    // For each 65 536-address block of 0..2^32: the first top-level node whose hi
    // lies above the block's first address. Narrows the top-level search.
    std::vector<std::uint32_t> directory_;
    mutable std::vector<List> pending_;
};

}  // namespace bw
