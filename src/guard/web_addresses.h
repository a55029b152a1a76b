#pragma once

#include <string_view>

namespace bw {

// The program's own web sites.
inline constexpr std::string_view kHomePageAddress = "https://www.bastionwatch.example.org";
inline constexpr std::string_view kForumAddress = "https://forum.bastionwatch.example.org";

}  // namespace bw
