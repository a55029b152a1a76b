#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// The most public addresses a link may ban: a /8's worth. Links come from web
// pages, and one that bans more would cut the machine off from much of the
// Internet without a question asked.
inline constexpr std::uint64_t kWidestLinkBan = std::uint64_t{1} << 24;

// Why a link is refused whose lines (as ADDBANRANGE takes them) would together
// ban more than kWidestLinkBan public addresses, with the figure; empty when
// the link may be added.
std::string wideLinkRefusal(const std::vector<std::string>& lines);

// What the add dialog asks before it adds a range that bans more than
// kWidestLinkBan public addresses; empty when it need not ask.
std::string wideAddQuestion(std::string_view profile, std::string_view start, std::string_view end);

}  // namespace bw
