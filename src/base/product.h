#pragma once

#include <string_view>

namespace bw {

// The title a message box shows when it is given none of its own.
inline constexpr std::string_view kApplicationTitle = "Bastionwatch";
inline constexpr std::string_view kWindowCaption = "Bastionwatch v1.99";

// The program's files, all in the program folder.
inline constexpr std::string_view kBlocklistFileName = "Moatlist.P2P";
inline constexpr std::string_view kConnectionLogFileName = "connlog.txt";
inline constexpr std::string_view kSettingsFileName = "BW2Config.p2p";
// The entries the user added, carried over when an update replaces the blocklist.
inline constexpr std::string_view kUserEntriesFileName = "BWUserEntries.p2p";

// The program's own web sites.
inline constexpr std::string_view kHomePageAddress = "https://www.bastionwatch.example.org";
inline constexpr std::string_view kForumAddress = "https://forum.bastionwatch.example.org";

}  // namespace bw
