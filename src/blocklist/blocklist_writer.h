#pragma once

#include <string>

#include "blocklist/ban_table.h"

namespace bw {

// Every slot of the file layout, bucket by bucket: each bucket gives
// max(1025, entries) lines, its entries' texts first, then empty lines, each
// line ended by CR LF. With no bucket over 1025 entries that is 262 400 lines.
// The lines the load could not read follow, so a rewrite never drops them.
std::string formatEverySlot(const BanTable& table);

// Only the entries whose text has 2 characters or more, in table order, each
// ended by CR LF, then the lines the load could not read.
std::string formatStoredOnly(const BanTable& table);

}  // namespace bw
