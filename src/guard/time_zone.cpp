#include "guard/time_zone.h"

#include <cstdio>
#include <cstdlib>

namespace bw {

std::int16_t timeZoneMinutes(const Clock& clock) {
    return static_cast<std::int16_t>(clock.utcOffsetMinutes());
}

std::string offsetText(int minutes) {
    int magnitude = std::abs(minutes);
    char text[16];
    std::snprintf(text, sizeof text, "%c%d:%02d", minutes < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return text;
}

}  // namespace bw
