#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>

namespace bw {

// The address texts the full connection log recorded last, newest first.
// Positions 0 to 256 are searched; position 257 only keeps the text pushed out
// of 256. So an address is recorded again once 257 others came after it.
class RecentAddresses {
public:
    static constexpr std::size_t kSearched = 257;
    static constexpr std::size_t kPositions = kSearched + 1;

    // Records the address unless it is among the searched positions; says
    // whether it was recorded.
    bool remember(std::string_view address);

    // The text at a position, empty when none.
    std::string at(std::size_t position) const;

private:
    std::deque<std::string> list_;
    // The texts in the searched positions, so that a search costs the same
    // however many texts there are. A text stands there at most once: it is
    // only recorded when it is not there.
    std::unordered_set<std::string> searched_;
};

}  // namespace bw
