#include "blocklist/ban_editor.h"

#include <cmath>
#include <optional>
#include <string>

#include "blocklist/address_codec.h"
#include "blocklist/number_text.h"

namespace bw {

namespace {

constexpr double kLowestRangeStart = 65536;  // a range must start above 0.1.0.0
constexpr double kLoopbackNet = 2130706432;  // 127.0.0.0

// The piece of text before the first occurrence of the separator, or all of it.
std::string_view firstPiece(std::string_view text, char separator) {
    return text.substr(0, text.find(separator));
}

std::string_view afterFirst(std::string_view text, char separator) {
    std::size_t at = text.find(separator);
    return at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
}

// The text after the first ":", up to its first ".", must be a whole number
// from 0 to 255.
std::optional<int> editorBucket(std::string_view line) {
    if (line.find(':') == std::string_view::npos)
        return std::nullopt;
    std::string_view address = firstPiece(afterFirst(line, ':'), ':');
    std::optional<double> first = numberFromText(firstPiece(address, '.'));
    if (!first || !(*first >= 0 && *first < BanTable::kBuckets) || *first != std::floor(*first)) {
        return std::nullopt;
    }
    return static_cast<int>(*first);
}

bool holdsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

void BanEditor::ADDBANRANGE(std::string_view originalData) {
    if (!holdsLineBreakOrNul(originalData))
        addParsed(originalData);
    UPDATELIST();
}

// A conversion that fails leaves its bound at 0: a single address is stored
// all the same (it matches nothing), a range fails the start test.
void BanEditor::addParsed(std::string_view line) {
    std::string_view text = line;
    std::string_view name = kDefaultName;
    if (text.find(':') != std::string_view::npos) {
        name = firstPiece(text, ':');
        text = firstPiece(afterFirst(text, ':'), ':');
    }
    if (text.find('-') == std::string_view::npos) {
        double address = IP2LONG(text).value_or(0);
        ADDBAN(line, address, address, name);
        return;
    }
    double start = IP2LONG(firstPiece(text, '-')).value_or(0);
    double end = IP2LONG(firstPiece(afterFirst(text, '-'), '-')).value_or(0);
    if (!(start > kLowestRangeStart && end >= start))
        return;
    if (start < kLoopbackNet && end > kLoopbackNet) {
        refuseLocalhost();
    } else {
        ADDBAN(line, start, end, name);
    }
}

void BanEditor::refuseLocalhost() {
    Message refusal;
    refusal.text = kLocalhostRefusal;
    host_.showMessage(refusal);
    host_.letPendingEventsRun();
}

bool BanEditor::ADDBAN(std::string_view listDat, double startrange, double endrange,
                       std::string_view profilename) {
    // A guard pass may run here and sees the table without the new entry.
    host_.letPendingEventsRun();
    std::optional<int> bucket = editorBucket(listDat);
    if (!bucket)
        return false;
    for (const BanEntry& e : table_.bucket(*bucket)) {
        if (e.start == startrange && e.end == endrange)
            return true;
    }
    table_.append(*bucket, {std::string(listDat), std::string(profilename), startrange, endrange});
    UPDATELIST();
    return true;
}

void BanEditor::UPDATELIST() {
    host_.banListReset();
}

}  // namespace bw
