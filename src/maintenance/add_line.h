#pragma once

#include <string>
#include <string_view>

namespace bw {

// The blocklist line the add dialog hands on, from its fields as typed:
// profile ":" start "-" end, or profile ":" start when the end field holds no
// characters at all (a field of blanks still counts as filled).
std::string composeAddLine(std::string_view profile, std::string_view start, std::string_view end);

}  // namespace bw
