#pragma once

#include <string>
#include <string_view>

#include "blocklist/ban_editor.h"

namespace bw {

// What the add dialog tells the user when its fields were not added: the
// field at fault and what is wrong with it, or that the range is listed
// already. Empty when the range was added.
std::string addRefusalText(std::string_view start, std::string_view end, AddOutcome outcome);

}  // namespace bw
