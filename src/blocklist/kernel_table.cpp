#include "blocklist/kernel_table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace bw {

namespace {

constexpr int kLoopbackBucket = 127;
const std::vector<AddressSpan> kLoopbackCut{kLoopback4};
constexpr double kHighestAddress = 4294967295.0;

// The whole addresses an entry matches: address > start - 1, address < end + 1
// and address > 0, whatever fractions or out-of-range values the bounds hold.
bool matchedSpan(const BanEntry& e, AddressSpan& span) {
    double first = std::max(std::floor(e.start - 1) + 1, 1.0);
    double last = std::min(std::ceil(e.end + 1) - 1, kHighestAddress);
    if (!(first <= last))  // also false for NaN bounds
        return false;
    span = {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last)};
    return true;
}

}  // namespace

void addBannedSpans(const BanEntry& entry, int bucket, std::vector<AddressSpan>& out) {
    AddressSpan span;
    if (!matchedSpan(entry, span))
        return;
    if (bucket == kLoopbackBucket)
        out.push_back(span);
    else
        appendOutside(span, kLoopbackCut, out);
}

std::vector<AddressSpan> kernelIntervals(const BanTable& table) {
    std::vector<AddressSpan> spans;
    spans.reserve(table.size() + 1);
    for (int b = 0; b < BanTable::kBuckets; ++b) {
        for (const BanEntry& e : table.bucket(b)) addBannedSpans(e, b, spans);
    }
    return mergeSpans(std::move(spans));
}

std::vector<Span6> kernelIntervals6(const BanTable& table) {
    const std::vector<Span6> loopback{kLoopback6};
    std::vector<Span6> spans;
    spans.reserve(table.size6() + 1);
    for (std::size_t slot = 0; slot < table.size6(); ++slot) {
        const BanEntry6 e = table.at6(slot);
        if (e.first > e.last)
            continue;
        if (e.first == kLoopback6.first)
            spans.push_back({e.first, e.last});
        else
            appendOutside(Span6{e.first, e.last}, loopback, spans);
    }
    return mergeSpans(std::move(spans));
}

}  // namespace bw
