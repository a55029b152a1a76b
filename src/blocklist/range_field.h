#pragma once

#include <optional>
#include <string_view>

namespace bw {

// The bounds a blocklist line's range field bans, and the bucket that files it.
struct ListedRange {
    double start = 0;
    double end = 0;
    int bucket = 0;       // the first part of the start address
    bool single = false;  // the field held one address, no dash
};

// One address as every reader of blocklist lines accepts it: exactly four parts
// of one to three decimal digits, each at most 255, joined by "."; blanks
// (spaces, tabs) around the whole address are ignored. Anything else is not an
// address, so a typo can never turn into a bound of 0 and widen a ban.
std::optional<double> listedAddress(std::string_view text);

// The range field of a line (the text between its first and second ":"), read
// the same way by the file load and by every add: its space characters are
// dropped; with a "-" it is start "-" end (further pieces ignored), otherwise
// one address. No value when a bound is not an address or the end lies below
// the start.
std::optional<ListedRange> readRangeField(std::string_view field);

}  // namespace bw
