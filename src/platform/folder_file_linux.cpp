#include <algorithm>
#include <system_error>

#include "platform/folder_file.h"

namespace bw {

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

std::filesystem::path fileInFolder(const std::filesystem::path& folder, std::string_view name) {
    std::filesystem::path exact = folder / name;
    std::error_code ec;
    if (std::filesystem::exists(exact, ec))
        return exact;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (sameIgnoringCase(entry.path().filename().native(), name))
            return entry.path();
    }
    return exact;
}

}  // namespace bw
