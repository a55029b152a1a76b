#pragma once

#include <optional>
#include <string_view>

#include "platform/ip_address.h"

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

// An IPv6 range, inclusive.
struct ListedRange6 {
    Ipv6Number first;
    Ipv6Number last;
};

// The IPv6 range field of a line: all after its first ":", since IPv6 text
// holds colons and the name then holds none. "first-last" or one address, each
// optionally in brackets, blanks around each ignored. Both bounds must be IPv6
// addresses (an IPv4-mapped one is IPv4, which an IPv4 field names) and the
// end may not lie below the start.
std::optional<ListedRange6> readRangeField6(std::string_view field);

}  // namespace bw
