#include "blocklist/blocklist_reader.h"

#include <algorithm>
#include <array>
#include <optional>

#include "blocklist/number_text.h"
#include "blocklist/range_field.h"
#include "blocklist/text_lines.h"

namespace bw {

namespace {

// A quick count of the lines each bucket may receive, from the digits after
// each line's first ":", so the load grows no bucket; lines that then fail to
// read only leave some room unused.
std::array<std::size_t, BanTable::kBuckets> entriesPerBucket(std::string_view bytes) {
    std::array<std::size_t, BanTable::kBuckets> count{};
    forEachLine(bytes, [&](std::string_view line) {
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return;
        std::size_t i = colon + 1;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        unsigned first = 0;
        for (std::size_t end = std::min(line.size(), i + 3); i < end; ++i) {
            if (line[i] < '0' || line[i] > '9')
                break;
            first = first * 10 + unsigned(line[i] - '0');
        }
        if (first < BanTable::kBuckets)
            ++count[first];
    });
    return count;
}

class LineReader {
public:
    explicit LineReader(BanTable& table) : table_(table) {}

    void read(std::string_view line) {
        if (line.empty())
            return;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            fail(line);
            return;
        }
        std::string_view rest = line.substr(colon + 1);
        std::optional<ListedRange> range = readRangeField(rest.substr(0, rest.find(':')));
        if (!range) {
            if (std::optional<ListedRange6> range6 = readRangeField6(rest)) {
                table_.append6({line, line.substr(0, colon), range6->first, range6->last});
                ++totals_.ranges6;
                return;
            }
            fail(line);
            return;
        }
        table_.append(range->bucket, {line, line.substr(0, colon), range->start, range->end});
        ++totals_.ranges;
        totals_.addresses += range->end - range->start + 1;
    }

    const LoadTotals& totals() const { return totals_; }

private:
    void fail(std::string_view line) {
        ++totals_.failed;
        table_.keepUnreadLine(line);
    }

    BanTable& table_;
    LoadTotals totals_;
};

}  // namespace

LoadTotals loadBlocklist(std::string bytes, BanTable& table) {
    std::string_view held = table.holdFileBytes(std::move(bytes));
    table.reserve(entriesPerBucket(held));
    LineReader reader(table);
    forEachLine(held, [&](std::string_view line) { reader.read(line); });
    table.buildIndex();
    return reader.totals();
}

std::string loadReport(const LoadTotals& totals) {
    std::string text;
    if (totals.failed > 0) {
        text += "Failed to read " + std::to_string(totals.failed) + " lines.\r\n";
    }
    text += "Successfully loaded " + formatPlainNumber(totals.addresses) + " IPs from " +
            std::to_string(totals.ranges) + " profiles.\r\n";
    if (totals.ranges6 > 0)
        text += "Successfully loaded " + std::to_string(totals.ranges6) + " IPv6 ranges.\r\n";
    text += "\r\n";
    return text;
}

}  // namespace bw
