#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace bw {

// The offset of local time from GMT in minutes, east positive.
std::int16_t timeZoneMinutes(const Clock& clock);

// "+5:30", "-3:30", "+0:00": sign, whole hours, two-digit minutes.
std::string offsetText(int minutes);

}  // namespace bw
