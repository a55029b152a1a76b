#include "blocklist/blocklist_reader.h"

#include <optional>

#include "blocklist/number_text.h"
#include "blocklist/range_field.h"
#include "blocklist/text_lines.h"

namespace bw {

namespace {

class LineReader {
public:
    explicit LineReader(BanTable& table) : table_(table) {}

    void read(std::string_view line) {
        if (line.empty())
            return;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            ++totals_.failed;
            return;
        }
        std::string_view rest = line.substr(colon + 1);
        std::optional<ListedRange> range = readRangeField(rest.substr(0, rest.find(':')));
        if (!range) {
            ++totals_.failed;
            return;
        }
        table_.append(range->bucket, {std::string(line), std::string(line.substr(0, colon)),
                                      range->start, range->end});
        ++totals_.ranges;
        totals_.addresses += range->end - range->start + 1;
    }

    const LoadTotals& totals() const { return totals_; }

private:
    BanTable& table_;
    LoadTotals totals_;
};

}  // namespace

LoadTotals loadBlocklist(std::string_view bytes, BanTable& table) {
    LineReader reader(table);
    forEachLine(bytes, [&](std::string_view line) { reader.read(line); });
    table.buildIndex();
    return reader.totals();
}

std::string loadReport(const LoadTotals& totals) {
    std::string text;
    if (totals.failed > 0) {
        text += "Failed to read " + std::to_string(totals.failed) + " lines.\r\n";
    }
    text += "Successfully loaded " + formatPlainNumber(totals.addresses) + " IPs from " +
            std::to_string(totals.ranges) + " profiles.\r\n\r\n";
    return text;
}

}  // namespace bw
