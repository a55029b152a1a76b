#include "blocklist/public_space.h"

#include <algorithm>
#include <cstdio>

namespace bw {

namespace {

constexpr AddressSpan span(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                           int prefix) {
    const std::uint32_t first = a << 24 | b << 16 | c << 8 | d;
    return {first, first + static_cast<std::uint32_t>((std::uint64_t{1} << (32 - prefix)) - 1)};
}

// Sorted and disjoint; no public host has an address in them.
constexpr AddressSpan kNotPublic[] = {
    span(0, 0, 0, 0, 8),     span(10, 0, 0, 0, 8),      span(100, 64, 0, 0, 10),
    span(127, 0, 0, 0, 8),   span(169, 254, 0, 0, 16),  span(172, 16, 0, 0, 12),
    span(192, 0, 0, 0, 24),  span(192, 0, 2, 0, 24),    span(192, 168, 0, 0, 16),
    span(198, 18, 0, 0, 15), span(198, 51, 100, 0, 24), span(203, 0, 113, 0, 24),
    span(224, 0, 0, 0, 4),   span(240, 0, 0, 0, 4),
};

constexpr std::uint64_t length(std::uint32_t first, std::uint32_t last) {
    return std::uint64_t{last} - first + 1;
}

constexpr std::uint64_t notPublicTotal() {
    std::uint64_t total = 0;
    for (const AddressSpan& n : kNotPublic) total += length(n.first, n.last);
    return total;
}
static_assert(kPublicUnicastAddresses == (std::uint64_t{1} << 32) - notPublicTotal());

std::uint64_t publicIn(const AddressSpan& s) {
    std::uint64_t count = length(s.first, s.last);
    for (const AddressSpan& n : kNotPublic) {
        const std::uint32_t first = std::max(s.first, n.first);
        const std::uint32_t last = std::min(s.last, n.last);
        if (first <= last)
            count -= length(first, last);
    }
    return count;
}

}  // namespace

std::uint64_t publicUnicastAddresses(std::vector<AddressSpan> spans) {
    std::erase_if(spans, [](const AddressSpan& s) { return s.first > s.last; });
    std::uint64_t count = 0;
    for (const AddressSpan& s : mergeSpans(std::move(spans))) count += publicIn(s);
    return count;
}

std::string publicShareText(std::uint64_t addresses) {
    char share[32];
    std::snprintf(
        share, sizeof share, "%.1f",
        100.0 * static_cast<double>(addresses) / static_cast<double>(kPublicUnicastAddresses));
    return std::to_string(addresses) + " public IPv4 addresses (" + share +
           " % of the public IPv4 space)";
}

std::string publicPercentText(std::uint64_t addresses) {
    const double percent =
        100.0 * static_cast<double>(addresses) / static_cast<double>(kPublicUnicastAddresses);
    if (addresses > 0 && percent < 0.1)
        return "under 0.1 %";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", percent);
    return text;
}

}  // namespace bw
