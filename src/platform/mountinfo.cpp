#include "platform/mountinfo.h"

#include <sstream>
#include <string>
#include <vector>

namespace bw {

namespace {

// Mount points in mountinfo write blanks, tabs, newlines and backslashes as \ooo.
std::string unescapeMountField(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            int value = 0;
            bool octal = true;
            for (std::size_t k = 1; k <= 3; ++k) {
                char c = field[i + k];
                octal = octal && c >= '0' && c <= '7';
                value = value * 8 + (c - '0');
            }
            if (octal) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

}  // namespace

std::optional<std::filesystem::path> cgroup2MountPoint(std::string_view mountinfo) {
    std::istringstream lines{std::string(mountinfo)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> before;
        std::string field;
        while (fields >> field && field != "-") before.push_back(field);
        std::string type;
        fields >> type;
        if (type == "cgroup2" && before.size() >= 5)
            return std::filesystem::path(unescapeMountField(before[4]));
    }
    return std::nullopt;
}

}  // namespace bw
