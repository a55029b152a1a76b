#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "blocklist/kernel_table.h"

namespace bw {

// The public unicast IPv4 space: every address but "this network" (0/8), the
// private, shared, loopback, link-local, documentation and benchmark nets,
// multicast (224/4) and the reserved 240/4.
inline constexpr std::uint64_t kPublicUnicastAddresses = 3'702'258'688;

// How many public unicast addresses the spans ban together, each counted once
// however many spans hold it.
std::uint64_t publicUnicastAddresses(std::vector<AddressSpan> spans);

// "N public IPv4 addresses (P % of the public IPv4 space)", for messages.
std::string publicShareText(std::uint64_t addresses);
// "P %" of the public IPv4 space, for a list's figures; a few addresses are
// "under 0.1 %", never "0.0 %".
std::string publicPercentText(std::uint64_t addresses);

}  // namespace bw
