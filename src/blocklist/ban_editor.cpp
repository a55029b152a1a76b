#include "blocklist/ban_editor.h"

#include <optional>

#include "blocklist/range_field.h"

namespace bw {

namespace {

constexpr double kLowestRangeStart = 65536;   // a range must start above 0.1.0.0
constexpr double kLoopbackNet = 2130706432;   // 127.0.0.0
constexpr double kLoopbackLast = 2147483647;  // 127.255.255.255

// The piece of text before the first occurrence of the separator, or all of it.
std::string_view firstPiece(std::string_view text, char separator) {
    return text.substr(0, text.find(separator));
}

std::string_view afterFirst(std::string_view text, char separator) {
    std::size_t at = text.find(separator);
    return at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
}

// The range field of a line: the text between its first and second ":".
std::optional<ListedRange> lineRange(std::string_view line) {
    if (line.find(':') == std::string_view::npos)
        return std::nullopt;
    return readRangeField(firstPiece(afterFirst(line, ':'), ':'));
}

// Every entry that bans any of 127.0.0.0 to 127.255.255.255 would cut the
// machine off from its own services.
bool touchesLoopback(const ListedRange& range) {
    return range.start <= kLoopbackLast && range.end >= kLoopbackNet;
}

// Why an add refuses the range, or none when it may store it. The link's
// wide-entry count and the add itself both ask this, so they cannot drift apart.
std::optional<AddOutcome> refusalOf(const std::optional<ListedRange>& range) {
    // A range must start above 0.1.0.0; a single address may be anywhere.
    if (!range || (!range->single && !(range->start > kLowestRangeStart)))
        return AddOutcome::NotAnEntry;
    if (touchesLoopback(*range))
        return AddOutcome::Localhost;
    return std::nullopt;
}

bool holdsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

std::optional<ListedRange> rangeAnAddWouldBan(std::string_view line) {
    if (holdsLineBreakOrNul(line))
        return std::nullopt;
    std::optional<ListedRange> range = lineRange(line);
    return refusalOf(range) ? std::nullopt : range;
}

namespace {

constexpr Ipv6Number kIpv6Loopback{0, 1};

// The IPv6 range of a line that reads as no IPv4 range; ADDBANRANGE and the
// link's wide-entry count read it the same way.
std::optional<ListedRange6> lineRange6(std::string_view line) {
    if (line.find(':') == std::string_view::npos || lineRange(line))
        return std::nullopt;
    return readRangeField6(afterFirst(line, ':'));
}

bool holdsIpv6Loopback(const ListedRange6& range) {
    return range.first <= kIpv6Loopback && kIpv6Loopback <= range.last;
}

}  // namespace

std::optional<ListedRange6> ipv6RangeAnAddWouldBan(std::string_view line) {
    if (holdsLineBreakOrNul(line))
        return std::nullopt;
    std::optional<ListedRange6> range = lineRange6(line);
    return range && !holdsIpv6Loopback(*range) ? range : std::nullopt;
}

AddOutcome BanEditor::ADDBANRANGE(std::string_view originalData) {
    AddOutcome outcome = AddOutcome::NotAnEntry;
    if (!holdsLineBreakOrNul(originalData))
        outcome = addParsed(originalData);
    refreshAfterAdd();
    return outcome;
}

AddOutcome BanEditor::addParsed(std::string_view line) {
    std::string_view field = line;
    std::string_view name = kDefaultName;
    if (line.find(':') != std::string_view::npos) {
        name = firstPiece(line, ':');
        field = firstPiece(afterFirst(line, ':'), ':');
    }
    std::optional<ListedRange> range = readRangeField(field);
    if (!range) {
        if (std::optional<ListedRange6> range6 = lineRange6(line))
            return store6(line, *range6, name);
    }
    if (std::optional<AddOutcome> refusal = refusalOf(range)) {
        if (*refusal == AddOutcome::Localhost)
            refuseLocalhost();
        return *refusal;
    }
    return store(line, range->start, range->end, name);
}

// ADDBAN answers only whether the line named a bucket; the table's size tells
// a stored entry from a duplicate.
AddOutcome BanEditor::store(std::string_view line, double start, double end,
                            std::string_view name) {
    const std::size_t before = table_.size();
    if (!ADDBAN(line, start, end, name))
        return AddOutcome::NotAnEntry;
    return table_.size() > before ? AddOutcome::Added : AddOutcome::Duplicate;
}

// An IPv6 entry: refused over ::1 as an IPv4 one is over 127.0.0.0/8.
AddOutcome BanEditor::store6(std::string_view line, const ListedRange6& range,
                             std::string_view name) {
    if (holdsIpv6Loopback(range)) {
        refuseLocalhost();
        return AddOutcome::Localhost;
    }
    for (std::size_t slot = 0; slot < table_.size6(); ++slot) {
        const BanEntry6 e = table_.at6(slot);
        if (e.first == range.first && e.last == range.last)
            return AddOutcome::Duplicate;
    }
    table_.append6({line, name, range.first, range.last});
    return AddOutcome::Added;
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
    if (!throttled_) {
        host_.letPendingEventsRun();
    } else if (now_() - lastYield_ >= kThrottledYield) {
        host_.letPendingEventsRun();
        lastYield_ = now_();
    }
    std::optional<ListedRange> range = lineRange(listDat);
    if (!range)
        return false;
    const int bucket = range->bucket;
    if (table_.bucketHolds(bucket, startrange, endrange))
        return true;
    table_.append(bucket, {listDat, profilename, startrange, endrange});
    refreshAfterAdd();
    return true;
}

void BanEditor::UPDATELIST() {
    host_.banListReset();
    refreshWaiting_ = false;
    if (throttled_)
        lastRefresh_ = now_();
}

void BanEditor::refreshAfterAdd() {
    if (!throttled_ || now_() - lastRefresh_ >= kThrottledRefresh) {
        UPDATELIST();
    } else {
        refreshWaiting_ = true;
    }
}

void BanEditor::throttleListRefresh(bool on) {
    throttled_ = on;
    if (on) {
        lastRefresh_ = now_();
        lastYield_ = std::chrono::steady_clock::time_point{};
    } else if (refreshWaiting_) {
        UPDATELIST();
    }
}

}  // namespace bw
