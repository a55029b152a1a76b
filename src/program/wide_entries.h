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
// The same for IPv6, in /64 networks of the global unicast space (2000::/3): a
// /32's worth, what a registry gives one provider at the least. A link that
// bans more would cut off providers whole; all of 2000::/3 is 2^61 of them.
inline constexpr std::uint64_t kWidestLinkBan6 = std::uint64_t{1} << 32;

// Why a link is refused whose lines (as ADDBANRANGE takes them) would together
// ban more than kWidestLinkBan public addresses, or more than kWidestLinkBan6
// /64 networks of public IPv6 space, with the figure; empty when the link may
// be added.
std::string wideLinkRefusal(const std::vector<std::string>& lines);

// What the add dialog asks before it adds a range that bans more than
// kWidestLinkBan public addresses, or an IPv6 range over kWidestLinkBan6 /64
// networks of public space; empty when it need not ask.
std::string wideAddQuestion(std::string_view profile, std::string_view start, std::string_view end);

}  // namespace bw
