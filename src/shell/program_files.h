#pragma once

#include <string_view>

namespace bw {

// The program's files, all in the program folder.
inline constexpr std::string_view kBlocklistFileName = "Moatlist.P2P";
inline constexpr std::string_view kConnectionLogFileName = "connlog.txt";
inline constexpr std::string_view kSettingsFileName = "BW2Config.p2p";

inline constexpr std::string_view kWindowCaption = "Bastionwatch v1.99";

}  // namespace bw
