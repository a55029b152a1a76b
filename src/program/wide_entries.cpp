#include "program/wide_entries.h"

#include <optional>

#include "blocklist/ban_editor.h"
#include "blocklist/public_space.h"
#include "maintenance/add_line.h"

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

const std::string kSlashEight = "more than a /8 (" + std::to_string(kWidestLinkBan) + " addresses)";

}  // namespace

std::string wideLinkRefusal(const std::vector<std::string>& lines) {
    const std::uint64_t banned = publicAddressesBanned(lines);
    if (banned <= kWidestLinkBan)
        return {};
    return "Refused: this link would ban " + publicShareText(banned) + ", " + kSlashEight +
           ". Links come from web pages, so none may ban that much; nothing was added. To ban "
           "such a range all the same, add it in the window's add dialog, which asks first.";
}

std::string wideAddQuestion(std::string_view profile, std::string_view start,
                            std::string_view end) {
    const std::uint64_t banned = publicAddressesBanned({composeAddLine(profile, start, end)});
    if (banned <= kWidestLinkBan)
        return {};
    return "This range would ban " + publicShareText(banned) + ", " + kSlashEight +
           ". Connections to all of them would be closed.\r\n\r\nAdd it all the same?";
}

}  // namespace bw
