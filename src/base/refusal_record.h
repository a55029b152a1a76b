#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "platform/ip_address.h"

namespace bw {

enum class RefusedDirection : std::uint8_t { Outgoing, Incoming };

// One connection the guard kept away (refused in the kernel or closed), as the
// window's list of recent refusals shows it. Repeats of the same refusal, one
// right after the other, share a record and count up `times`.
struct RefusalRecord {
    std::uint64_t serial = 0;    // tells records apart: each new one gets the next number
    std::string time;            // of the latest repeat: 12-05-2026 21:41:15
    IpAddress address;           // the peer
    std::string entry;           // the entries that ban it, a list's in brackets
    std::uint32_t pid = 0;       // the program's process; 0 when none is known
    std::string command;         // its command name; empty when not known
    std::string programUnknown;  // why no program is named, when pid is 0
    std::uint16_t port = 0;      // the peer's port
    std::uint8_t protocol = 0;   // IPPROTO_TCP, IPPROTO_UDP, ...
    RefusedDirection direction = RefusedDirection::Outgoing;
    std::uint64_t times = 1;
};

// Oldest first, as the log view runs.
using RecentRefusals = std::deque<RefusalRecord>;

}  // namespace bw
