#pragma once

#include <string_view>

namespace bw {

// The leading number of a text read with its blanks (spaces, tabs) ignored
// wherever they stand, so " 8", "4 060" and "- 904" read as 8, 4060 and -904.
// Reading stops at the first other character that cannot continue the number;
// no digits reads as 0.
double numberIgnoringBlanks(std::string_view text);

}  // namespace bw
