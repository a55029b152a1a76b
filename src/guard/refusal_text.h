#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/refusal_record.h"

namespace bw {

// TCP, UDP, ICMP, ...; "protocol 47" for one without a common name.
std::string protocolName(std::uint8_t protocol);
std::string_view directionText(RefusedDirection direction);  // outgoing, incoming

// For the list of recent refusals: "curl (pid 4242)", or "unknown (why)".
std::string programText(const RefusalRecord& refusal);

// The line that follows a refusal's rejection lines when the console guard is
// asked for details, without its line end. Four spaces and "Details: ", then
// `program "NAME" (pid N)` (the name quoted, '"', '\' and control characters
// escaped) or `program unknown (WHY)`, then ", port N, PROTOCOL, DIRECTION".
std::string refusalDetailsLine(const RefusalRecord& refusal);

}  // namespace bw
