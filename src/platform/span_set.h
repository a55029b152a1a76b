#pragma once

// Sets of addresses as sorted, disjoint, inclusive spans: the one place the
// lists, the own table, the kernel table and the allow lists merge, cut and
// search them. Templated on the address number, so IPv4 (uint32) and IPv6
// (Ipv6Number) share it; a span type is anything with `first` and `last`.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/ip_address.h"

namespace bw {

// The steps of an address number: the next and previous address, and the
// highest one. Spans never step past either end, so the wrap never shows.
template <class Value>
struct SpanSteps;

template <>
struct SpanSteps<std::uint32_t> {
    static constexpr std::uint32_t max() { return std::numeric_limits<std::uint32_t>::max(); }
    static constexpr std::uint32_t next(std::uint32_t v) { return v + 1; }
    static constexpr std::uint32_t previous(std::uint32_t v) { return v - 1; }
};

template <>
struct SpanSteps<std::uint64_t> {
    static constexpr std::uint64_t max() { return std::numeric_limits<std::uint64_t>::max(); }
    static constexpr std::uint64_t next(std::uint64_t v) { return v + 1; }
    static constexpr std::uint64_t previous(std::uint64_t v) { return v - 1; }
};

template <>
struct SpanSteps<Ipv6Number> {
    static constexpr Ipv6Number max() { return Ipv6Number::max(); }
    static constexpr Ipv6Number next(Ipv6Number v) { return v.next(); }
    static constexpr Ipv6Number previous(Ipv6Number v) { return v.previous(); }
};

// An inclusive range of addresses as numbers, the first byte most significant.
template <class Value>
struct Span {
    Value first{};
    Value last{};
    friend bool operator==(const Span&, const Span&) = default;
};

using Span4 = Span<std::uint32_t>;
using Span6 = Span<Ipv6Number>;

// The machine's own addresses, which no list bans: 127.0.0.0/8 and ::1.
inline constexpr Span4 kLoopback4{0x7F000000u, 0x7FFFFFFFu};
inline constexpr Span6 kLoopback6{{0, 1}, {0, 1}};

// Whether b starts right after a ends or inside it.
template <class Value>
constexpr bool touches(const Value& aLast, const Value& bFirst) {
    return aLast >= bFirst ||
           (aLast != SpanSteps<Value>::max() && SpanSteps<Value>::next(aLast) == bFirst);
}

// Sorted, with overlapping and adjacent spans joined.
template <class SpanT>
std::vector<SpanT> mergeSpans(std::vector<SpanT> spans) {
    std::sort(spans.begin(), spans.end(),
              [](const SpanT& a, const SpanT& b) { return a.first < b.first; });
    std::vector<SpanT> merged;
    merged.reserve(spans.size());
    for (const SpanT& s : spans) {
        if (!merged.empty() && touches(merged.back().last, s.first))
            merged.back().last = std::max(merged.back().last, s.last);
        else
            merged.push_back(s);
    }
    return merged;
}

// Appends the parts of one span (anything with first and last, whose other
// members each part keeps) outside the sorted, merged cut, starting the search
// at c, which it leaves at the first cut span that may touch a later span.
template <class SpanT, class CutIt>
void appendOutside(SpanT span, CutIt& c, CutIt end, std::vector<SpanT>& out) {
    using Value = decltype(SpanT{}.first);
    while (c != end && c->last < span.first) ++c;
    for (auto k = c; k != end && k->first <= span.last; ++k) {
        if (k->first > span.first) {
            SpanT part = span;
            part.last = SpanSteps<Value>::previous(k->first);
            out.push_back(std::move(part));
        }
        if (k->last >= span.last)
            return;
        span.first = SpanSteps<Value>::next(k->last);
    }
    out.push_back(std::move(span));
}

// Appends the parts of one span outside the sorted, merged cut.
template <class SpanT, class Cut>
void appendOutside(const SpanT& span, const std::vector<Cut>& cut, std::vector<SpanT>& out) {
    auto c = cut.begin();
    appendOutside(span, c, cut.end(), out);
}

// The parts of sorted, disjoint spans outside the sorted, merged cut; one pass
// over both.
template <class SpanT, class Cut>
std::vector<SpanT> subtractSpans(const std::vector<SpanT>& spans, const std::vector<Cut>& cut) {
    std::vector<SpanT> left;
    left.reserve(spans.size());
    auto c = cut.begin();
    for (const SpanT& span : spans) appendOutside(span, c, cut.end(), left);
    return left;
}

// The span holding the address in sorted, disjoint spans, or null.
template <class SpanT, class Value>
const SpanT* spanHolding(const std::vector<SpanT>& spans, const Value& address) {
    auto after = std::upper_bound(spans.begin(), spans.end(), address,
                                  [](const Value& a, const SpanT& s) { return a < s.first; });
    if (after == spans.begin())
        return nullptr;
    const SpanT& candidate = *(after - 1);
    return address <= candidate.last ? &candidate : nullptr;
}

}  // namespace bw
