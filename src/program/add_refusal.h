#pragma once

#include <string>
#include <string_view>

#include "blocklist/ban_editor.h"

namespace bw {

// What the add dialog tells the user when its fields were not added: the
// field at fault and what is wrong with it, or that the range is listed
// already. Empty when the range was added.
std::string addRefusalText(std::string_view start, std::string_view end, AddOutcome outcome);

// The add dialog's answer when the user declined to ban a range that wide.
inline constexpr std::string_view kWideAddDeclinedText =
    "Not added: you chose not to ban so wide a range.";

// A link's message line for one of its lines that was not stored, and why.
std::string linkLineNotAdded(std::string_view line, AddOutcome outcome);

}  // namespace bw
