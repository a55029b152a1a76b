#pragma once

#include <filesystem>
#include <string_view>

namespace bw {

// The program's file of that name in the folder, matched without regard to
// letter case, as users of the program expect from its files ("moatlist.p2p"
// as the update server names it is the blocklist "Moatlist.P2P"). The exact
// name wins when it exists; with no such file at all, the exact name.
std::filesystem::path fileInFolder(const std::filesystem::path& folder, std::string_view name);

}  // namespace bw
