#include "blocklist/text_lines.h"

namespace bw {

std::vector<std::string_view> splitLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    forEachLine(bytes, [&](std::string_view line) { lines.push_back(line); });
    return lines;
}

}  // namespace bw
