#include "blocklist/kernel_table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace bw {

namespace {

constexpr int kLoopbackBucket = 127;
constexpr std::uint32_t kLoopbackFirst = 0x7F000000;  // 127.0.0.0
constexpr std::uint32_t kLoopbackLast = 0x7FFFFFFF;   // 127.255.255.255
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

// Keeps the parts of the span outside loopback.
void addOutsideLoopback(AddressSpan span, std::vector<AddressSpan>& out) {
    if (span.last < kLoopbackFirst || span.first > kLoopbackLast) {
        out.push_back(span);
        return;
    }
    if (span.first < kLoopbackFirst)
        out.push_back({span.first, kLoopbackFirst - 1});
    if (span.last > kLoopbackLast)
        out.push_back({kLoopbackLast + 1, span.last});
}

}  // namespace

std::vector<AddressSpan> mergeSpans(std::vector<AddressSpan> spans) {
    std::sort(spans.begin(), spans.end(),
              [](const AddressSpan& a, const AddressSpan& b) { return a.first < b.first; });
    std::vector<AddressSpan> merged;
    for (const AddressSpan& s : spans) {
        if (!merged.empty() && std::uint64_t{merged.back().last} + 1 >= s.first)
            merged.back().last = std::max(merged.back().last, s.last);
        else
            merged.push_back(s);
    }
    return merged;
}

void addBannedSpans(const BanEntry& entry, int bucket, std::vector<AddressSpan>& out) {
    AddressSpan span;
    if (!matchedSpan(entry, span))
        return;
    if (bucket == kLoopbackBucket)
        out.push_back(span);
    else
        addOutsideLoopback(span, out);
}

std::vector<AddressSpan> kernelIntervals(const BanTable& table) {
    std::vector<AddressSpan> spans;
    spans.reserve(table.size() + 1);
    for (int b = 0; b < BanTable::kBuckets; ++b) {
        for (const BanEntry& e : table.bucket(b)) addBannedSpans(e, b, spans);
    }
    return mergeSpans(std::move(spans));
}

}  // namespace bw
