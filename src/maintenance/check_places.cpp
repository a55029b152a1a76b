#include "maintenance/check_places.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "maintenance/gzip_data.h"
#include "maintenance/list_format.h"
#include "maintenance/list_keeper.h"
#include "platform/whole_file.h"

namespace bw {

void placeOwnEntriesInFile(CheckResult& result, const BanTable& own,
                           const std::string& ownFileName) {
    const std::string_view bytes = own.fileBytes();
    // Offsets of the shown entries' texts in the file, counted through in one pass.
    std::vector<std::pair<std::size_t, CheckedEntry*>> wanted;
    for (CheckedEntry& entry : result.entries) {
        if (!entry.own)
            continue;
        const char* text = own.at(entry.ref).text.data();
        // An entry added since the load keeps its text elsewhere, and has no line yet.
        if (text >= bytes.data() && text < bytes.data() + bytes.size())
            wanted.emplace_back(static_cast<std::size_t>(text - bytes.data()), &entry);
    }
    std::sort(wanted.begin(), wanted.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::size_t line = 1;
    std::size_t at = 0;
    for (const auto& [offset, entry] : wanted) {
        // CR, LF and CR LF each end a line, as the load reads them.
        const char* from = bytes.data() + at;
        const char* to = bytes.data() + offset;
        line += static_cast<std::size_t>(std::count(from, to, '\n'));
        for (const char* cr = from; (cr = static_cast<const char*>(
                                         std::memchr(cr, '\r', static_cast<std::size_t>(to - cr))));
             ++cr) {
            if (cr + 1 == bytes.data() + bytes.size() || cr[1] != '\n')
                ++line;
        }
        at = offset;
        entry->where = ownFileName + " line " + std::to_string(line);
    }
}

void placeListEntries(CheckResult& result, const ListTable& lists, const ListKeeper& keeper) {
    std::map<std::size_t, std::vector<CheckedEntry*>> byList;
    for (CheckedEntry& entry : result.entries) {
        if (!entry.own)
            byList[entry.list].push_back(&entry);
    }
    for (const auto& [list, entries] : byList) {
        const std::filesystem::path copy = keeper.cachedCopy(lists.lists()[list]->listName);
        // Where the copy does not read now (the built-in list needs none), no line is told.
        FileBytes bytes = readRegularFile(copy, ListKeeper::kMaxListBytes);
        if (!bytes.ok)
            continue;
        Gunzipped text = listText(std::move(bytes.bytes), ListKeeper::kMaxListBytes);
        if (!text.ok)
            continue;
        const ListRanges& ranges = *lists.lists()[list];
        std::vector<WantedRange> wanted;
        for (const CheckedEntry* entry : entries) {
            if (entry->ipv6)
                wanted.push_back({entry->range, {}, true, ranges.ranges6[entry->range]});
            else
                wanted.push_back({entry->range, ranges.ranges[entry->range]});
        }
        const std::vector<std::size_t> lines = rangeLineNumbers(text.bytes, wanted);
        const std::string name = (copy.parent_path().filename() / copy.filename()).string();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (lines[i] != 0)
                entries[i]->where = name + " line " + std::to_string(lines[i]);
        }
    }
}

}  // namespace bw
