#include "maintenance/link_intake.h"

#include <algorithm>

namespace bw {

namespace {

constexpr std::string_view kLinkPrefix = "bwdat://";

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string linkPayload(std::string_view commandLineArgument) {
    if (commandLineArgument.size() < kLinkPrefix.size())
        return {};
    for (std::size_t i = 0; i < kLinkPrefix.size(); ++i) {
        if (asciiLower(commandLineArgument[i]) != kLinkPrefix[i])
            return {};
    }
    return std::string(commandLineArgument.substr(kLinkPrefix.size()));
}

std::string linkSegmentToLine(std::string_view segment) {
    std::string line(segment);
    // Colons first: the "@" that becomes the name's colon must not turn into a dash.
    std::replace(line.begin(), line.end(), ':', '-');
    std::replace(line.begin(), line.end(), '@', ':');
    return line;
}

}  // namespace bw
