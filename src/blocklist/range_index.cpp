#include "blocklist/range_index.h"

#include <algorithm>
#include <cmath>

namespace bw {

namespace {

constexpr int kBlockBits = 16;
constexpr std::uint32_t kBlocks = 1u << (32 - kBlockBits);
constexpr double kBlockSize = 1u << kBlockBits;

// Outer intervals first, so a container always precedes what it contains.
bool outerFirst(const RangeIndex::Interval& a, const RangeIndex::Interval& b) {
    if (a.lo != b.lo)
        return a.lo < b.lo;
    if (a.hi != b.hi)
        return a.hi > b.hi;
    return a.id < b.id;
}

constexpr std::uint32_t kNoParent = UINT32_MAX;

// Each interval's nearest container, found with a stack of open containers.
std::vector<std::uint32_t> findParents(const std::vector<RangeIndex::Interval>& sorted) {
    std::vector<std::uint32_t> parent(sorted.size(), kNoParent);
    std::vector<std::uint32_t> open;
    for (std::uint32_t i = 0; i < sorted.size(); ++i) {
        while (!open.empty() && sorted[open.back()].hi < sorted[i].hi) open.pop_back();
        if (!open.empty())
            parent[i] = open.back();
        open.push_back(i);
    }
    return parent;
}

}  // namespace

void RangeIndex::clear() {
    lo_.clear();
    hi_.clear();
    id_.clear();
    children_.clear();
    topEnd_ = 0;
    directory_.clear();
}

void RangeIndex::build(std::vector<Interval> intervals) {
    std::erase_if(intervals, [](const Interval& v) { return !(v.lo < v.hi); });
    if (!std::is_sorted(intervals.begin(), intervals.end(), outerFirst)) {
        std::sort(intervals.begin(), intervals.end(), outerFirst);
    }
    // With ends ascending too, no interval holds another: one flat list, and
    // none of the nesting bookkeeping is needed.
    auto endsFallBack = [](const Interval& a, const Interval& b) { return !(a.hi < b.hi); };
    if (std::adjacent_find(intervals.begin(), intervals.end(), endsFallBack) == intervals.end()) {
        layOutFlat(intervals);
    } else {
        layOut(intervals, findParents(intervals));
    }
    buildDirectory();
}

// Places the top-level list first, then each node's children as one run, in
// sorted order within every list.
void RangeIndex::layOut(const std::vector<Interval>& sorted,
                        const std::vector<std::uint32_t>& parent) {
    const std::size_t n = sorted.size();
    std::vector<std::uint32_t> count(n + 1, 0);  // children per node; slot n: top level
    for (std::uint32_t p : parent) ++count[p == kNoParent ? n : p];

    std::vector<std::uint32_t> next(n + 1);  // next free position of each list
    next[n] = 0;
    std::uint32_t position = count[n];
    for (std::size_t i = 0; i < n; ++i) {
        next[i] = position;
        position += count[i];
    }
    topEnd_ = count[n];

    if (topEnd_ == n) {
        layOutFlat(sorted);
        return;
    }
    lo_.resize(n);
    hi_.resize(n);
    id_.resize(n);
    children_.assign(n, {0, 0});
    // A node's children come after it in sorted order, so when it is placed its
    // own list has not started to fill: that list is where its children go.
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t at = next[parent[i] == kNoParent ? n : parent[i]]++;
        lo_[at] = sorted[i].lo;
        hi_[at] = sorted[i].hi;
        id_[at] = sorted[i].id;
        children_[at] = {next[i], next[i] + count[i]};
    }
}

// Nothing nested: the usual case for published lists, kept without children.
void RangeIndex::layOutFlat(const std::vector<Interval>& sorted) {
    const std::size_t n = sorted.size();
    lo_.resize(n);
    hi_.resize(n);
    id_.resize(n);
    children_.clear();
    children_.shrink_to_fit();
    topEnd_ = static_cast<std::uint32_t>(n);
    for (std::size_t i = 0; i < n; ++i) {
        lo_[i] = sorted[i].lo;
        hi_[i] = sorted[i].hi;
        id_[i] = sorted[i].id;
    }
}

void RangeIndex::buildDirectory() {
    directory_.assign(kBlocks + 1, 0);
    std::uint32_t node = 0;
    for (std::uint32_t block = 0; block <= kBlocks; ++block) {
        double first = block * kBlockSize;
        while (node < topEnd_ && !(hi_[node] > first)) ++node;
        directory_[block] = node;
    }
}

std::uint32_t RangeIndex::firstEndingAfter(List list, double x) const {
    auto begin = hi_.begin() + list.first;
    auto end = hi_.begin() + list.second;
    return static_cast<std::uint32_t>(
        std::partition_point(begin, end, [x](double hi) { return !(hi > x); }) - hi_.begin());
}

std::uint32_t RangeIndex::firstTopEndingAfter(double x) const {
    if (x >= 0 && x < kBlocks * kBlockSize) {
        auto block = static_cast<std::uint32_t>(x) >> kBlockBits;
        return firstEndingAfter({directory_[block], directory_[block + 1]}, x);
    }
    return firstEndingAfter({0, topEnd_}, x);
}

void RangeIndex::stab(double x, std::vector<std::uint32_t>& ids) const {
    if (topEnd_ == 0 || std::isnan(x))
        return;
    pending_.clear();
    std::uint32_t first = firstTopEndingAfter(x);
    List list{0, topEnd_};
    for (;;) {
        // Within a list hi ascends, so from the first node ending after x every
        // node that starts before x holds it.
        for (std::uint32_t i = first; i < list.second && lo_[i] < x; ++i) {
            ids.push_back(id_[i]);
            if (!children_.empty() && children_[i].first != children_[i].second)
                pending_.push_back(children_[i]);
        }
        if (pending_.empty())
            return;
        list = pending_.back();
        pending_.pop_back();
        first = firstEndingAfter(list, x);
    }
}

}  // namespace bw
