#include "maintenance/add_line.h"

namespace bw {

std::string composeAddLine(std::string_view profile, std::string_view start, std::string_view end) {
    std::string line;
    line.reserve(profile.size() + start.size() + end.size() + 2);
    line.append(profile).append(":").append(start);
    if (!end.empty())
        line.append("-").append(end);
    return line;
}

}  // namespace bw
