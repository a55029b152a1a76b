#include "program/wide_entries.h"

#include <algorithm>
#include <optional>

#include "blocklist/ban_editor.h"
#include "blocklist/public_space.h"
#include "maintenance/add_line.h"
#include "platform/span_set.h"

namespace bw {

namespace {

// The public addresses the lines would ban; lines an add refuses ban nothing.
std::uint64_t publicAddressesBanned(const std::vector<std::string>& lines) {
    std::vector<AddressSpan> spans;
    for (const std::string& line : lines) {
        if (std::optional<ListedRange> range = rangeAnAddWouldBan(line))
            spans.push_back(
                {static_cast<std::uint32_t>(range->start), static_cast<std::uint32_t>(range->end)});
    }
    return publicUnicastAddresses(std::move(spans));
}

// The /64 networks of global unicast IPv6 space (2000::/3) the lines would ban,
// each once; a network partly banned counts whole.
std::uint64_t publicIpv6NetworksBanned(const std::vector<std::string>& lines) {
    constexpr std::uint64_t kGlobalFirst = 0x2000000000000000u;  // 2000::/3, high halves
    constexpr std::uint64_t kGlobalLast = 0x3FFFFFFFFFFFFFFFu;
    std::vector<Span<std::uint64_t>> networks;
    for (const std::string& line : lines) {
        std::optional<ListedRange6> range = ipv6RangeAnAddWouldBan(line);
        if (!range || range->last.high < kGlobalFirst || range->first.high > kGlobalLast)
            continue;
        networks.push_back(
            {std::max(range->first.high, kGlobalFirst), std::min(range->last.high, kGlobalLast)});
    }
    std::uint64_t count = 0;
    for (const auto& s : mergeSpans(std::move(networks))) count += s.last - s.first + 1;
    return count;
}

const std::string kSlashEight = "more than a /8 (" + std::to_string(kWidestLinkBan) + " addresses)";

std::string wideIpv6Words(std::uint64_t networks) {
    return std::to_string(networks) + " /64 networks of public IPv6 space, more than a /32 (" +
           std::to_string(kWidestLinkBan6) + " /64 networks)";
}

}  // namespace

std::string wideLinkRefusal(const std::vector<std::string>& lines) {
    if (const std::uint64_t networks = publicIpv6NetworksBanned(lines);
        networks > kWidestLinkBan6) {
        return "Refused: this link would ban " + wideIpv6Words(networks) +
               ". Links come from web pages, so none may ban that much; nothing was added. To ban "
               "such a range all the same, add it in the window's add dialog, which asks first.";
    }
    const std::uint64_t banned = publicAddressesBanned(lines);
    if (banned <= kWidestLinkBan)
        return {};
    return "Refused: this link would ban " + publicShareText(banned) + ", " + kSlashEight +
           ". Links come from web pages, so none may ban that much; nothing was added. To ban "
           "such a range all the same, add it in the window's add dialog, which asks first.";
}

std::string wideAddQuestion(std::string_view profile, std::string_view start,
                            std::string_view end) {
    const std::string line = composeAddLine(profile, start, end);
    if (const std::uint64_t networks = publicIpv6NetworksBanned({line});
        networks > kWidestLinkBan6) {
        return "This range would ban " + wideIpv6Words(networks) +
               ". Connections to all of them would be closed.\r\n\r\nAdd it all the same?";
    }
    const std::uint64_t banned = publicAddressesBanned({line});
    if (banned <= kWidestLinkBan)
        return {};
    return "This range would ban " + publicShareText(banned) + ", " + kSlashEight +
           ". Connections to all of them would be closed.\r\n\r\nAdd it all the same?";
}

}  // namespace bw
