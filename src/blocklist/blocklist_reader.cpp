#include "blocklist/blocklist_reader.h"

#include <algorithm>
#include <optional>

#include "blocklist/address_codec.h"
#include "blocklist/number_text.h"
#include "blocklist/text_lines.h"

namespace bw {

namespace {

// The text with every space character removed; copies only when there is one.
std::string_view withoutSpaces(std::string_view text, std::string& buffer) {
    if (text.find(' ') == std::string_view::npos)
        return text;
    buffer.clear();
    std::copy_if(text.begin(), text.end(), std::back_inserter(buffer),
                 [](char c) { return c != ' '; });
    return buffer;
}

// The number the address's first dotted part begins with (0 when none), when
// that is a bucket.
std::optional<int> readerBucket(std::string_view address) {
    std::string_view part = address.substr(0, address.find('.'));
    if (!part.empty() && part.size() <= 3 &&
        std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        int value = 0;
        for (char c : part) value = value * 10 + (c - '0');
        if (value < BanTable::kBuckets)
            return value;
        return std::nullopt;
    }
    double first = leadingNumber(part);
    if (!(first >= 0 && first < BanTable::kBuckets))
        return std::nullopt;
    return static_cast<int>(first);
}

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
        std::string_view name = line.substr(0, colon);
        std::string_view rest = line.substr(colon + 1);
        std::string_view field = rest.substr(0, rest.find(':'));
        ++totals_.ranges;
        if (field.find('-') != std::string_view::npos) {
            readRange(line, name, withoutSpaces(field, spaceless_));
        } else {
            readSingle(line, name, withoutSpaces(field, spaceless_));
        }
    }

    const LoadTotals& totals() const { return totals_; }

private:
    void readRange(std::string_view line, std::string_view name, std::string_view field) {
        std::size_t dash = field.find('-');
        std::string_view startText = field.substr(0, dash);
        std::string_view afterDash = field.substr(dash + 1);
        std::string_view endText = afterDash.substr(0, afterDash.find('-'));
        std::optional<int> bucket = readerBucket(startText);
        if (!bucket)
            return;
        double start = IP2LONG(startText).value_or(0);
        double end = IP2LONG(endText).value_or(0);
        table_.append(*bucket, {std::string(line), std::string(name), start, end});
        totals_.addresses += end - start + 1;
    }

    void readSingle(std::string_view line, std::string_view name, std::string_view address) {
        totals_.addresses += 1;
        std::optional<int> bucket = readerBucket(address);
        if (!bucket)
            return;
        double value = IP2LONG(address).value_or(0);
        table_.append(*bucket, {std::string(line), std::string(name), value, value});
    }

    BanTable& table_;
    LoadTotals totals_;
    std::string spaceless_;
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
