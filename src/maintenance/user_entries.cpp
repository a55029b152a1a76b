#include "maintenance/user_entries.h"

#include <algorithm>

#include "platform/whole_file.h"

namespace bw {

namespace {

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty())
            lines.emplace_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

}  // namespace

std::vector<std::string> UserEntries::lines() const {
    return splitLines(readWholeFile(file_).bytes);
}

WriteResult UserEntries::remember(const std::vector<std::string>& added) {
    if (added.empty())
        return {};
    std::vector<std::string> kept = lines();
    kept.insert(kept.end(), added.begin(), added.end());
    return save(kept);
}

WriteResult UserEntries::forget(const std::vector<std::string>& removed) {
    std::vector<std::string> kept = lines();
    bool changed = false;
    for (const std::string& line : removed) {
        auto found = std::find(kept.begin(), kept.end(), line);
        if (found == kept.end())
            continue;
        kept.erase(found);
        changed = true;
    }
    return changed ? save(kept) : WriteResult{};
}

WriteResult UserEntries::save(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return writeFileAtomically(file_, text);
}

std::string withUserEntries(std::string list, const std::vector<std::string>& entries) {
    std::vector<std::string> present = splitLines(list);
    std::sort(present.begin(), present.end());
    if (!list.empty() && list.back() != '\n')
        list += "\r\n";
    for (const std::string& entry : entries) {
        if (std::binary_search(present.begin(), present.end(), entry))
            continue;
        list += entry + "\r\n";
        present.insert(std::upper_bound(present.begin(), present.end(), entry), entry);
    }
    return list;
}

}  // namespace bw
