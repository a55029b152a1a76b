#pragma once

#include <optional>
#include <string_view>

namespace bw {

// Dotted text to address value: first part * 16777216 + second * 65536 +
// third * 256 + fourth, in double precision. Parts are split at every ".",
// take blanks around them and an optional sign, and are not range-checked;
// parts after the fourth are ignored. Fewer than four parts, or a part that is
// not a number, gives no value.
std::optional<double> IP2LONG(std::string_view addy);

}  // namespace bw
