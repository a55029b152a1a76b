#include "guard/list_table.h"

#include "blocklist/ban_table.h"
#include "platform/address_interval.h"

#include <algorithm>
#include <cmath>
#include <queue>
#include <tuple>

namespace bw {

ListTable::ListTable(std::vector<std::shared_ptr<const ListRanges>> lists)
    : lists_(std::move(lists)) {
    std::vector<AddressSpan> allowed;
    for (const auto& list : lists_) {
        if (!list->allow)
            continue;
        for (const ListRange& r : list->ranges) allowed.push_back({r.first, r.last});
    }
    allowed_ = mergeSpans(std::move(allowed));
    cutIntoPieces();
    removeAllowed();
}

namespace {

std::vector<std::shared_ptr<const ListRanges>> shared(std::vector<ListRanges> lists) {
    std::vector<std::shared_ptr<const ListRanges>> out;
    for (ListRanges& list : lists) out.push_back(std::make_shared<ListRanges>(std::move(list)));
    return out;
}

}  // namespace

ListTable::ListTable(std::vector<ListRanges> lists) : ListTable(shared(std::move(lists))) {}

// A sweep from range start to range end: at every point where a range opens or
// closes, the piece from there on belongs to the earliest list's open range.
// Lists come sorted as a rule, so their starts are merged rather than sorted,
// and the open sets stay small, so the heaps cost next to nothing.
void ListTable::cutIntoPieces() {
    struct Open {
        std::uint32_t first;
        std::uint32_t last;
        Origin origin;
    };
    std::vector<Open> starts;
    std::size_t total = 0;
    for (const auto& list : lists_) total += list->allow ? 0 : list->ranges.size();
    starts.reserve(total);
    auto byFirst = [](const Open& a, const Open& b) { return a.first < b.first; };
    for (std::uint32_t l = 0; l < lists_.size(); ++l) {
        if (lists_[l]->allow)
            continue;
        const std::vector<ListRange>& ranges = lists_[l]->ranges;
        const auto before = static_cast<std::ptrdiff_t>(starts.size());
        for (std::uint32_t i = 0; i < ranges.size(); ++i) {
            if (ranges[i].first <= ranges[i].last)
                starts.push_back({ranges[i].first, ranges[i].last, {l, i}});
        }
        const auto middle = starts.begin() + before;
        if (!std::is_sorted(middle, starts.end(), byFirst))
            std::stable_sort(middle, starts.end(), byFirst);
        std::inplace_merge(starts.begin(), middle, starts.end(), byFirst);
    }

    auto laterOrigin = [](const Open& a, const Open& b) {
        return std::tie(a.origin.list, a.origin.range) > std::tie(b.origin.list, b.origin.range);
    };
    auto laterEnd = [](const Open& a, const Open& b) { return a.last > b.last; };
    std::priority_queue<Open, std::vector<Open>, decltype(laterOrigin)> owners(laterOrigin);
    std::priority_queue<Open, std::vector<Open>, decltype(laterEnd)> closing(laterEnd);
    constexpr std::uint64_t kEnd = std::uint64_t{1} << 32;
    std::size_t next = 0;
    std::uint64_t here = starts.empty() ? kEnd : starts.front().first;
    while (here < kEnd) {
        while (next < starts.size() && starts[next].first == here) {
            owners.push(starts[next]);
            closing.push(starts[next]);
            ++next;
        }
        while (!closing.empty() && closing.top().last < here) closing.pop();
        while (!owners.empty() && owners.top().last < here) owners.pop();
        const std::uint64_t nextStart = next < starts.size() ? starts[next].first : kEnd;
        if (owners.empty()) {
            here = nextStart;
            continue;
        }
        const std::uint64_t until = std::min(nextStart, std::uint64_t{closing.top().last} + 1);
        addPiece(static_cast<std::uint32_t>(here), static_cast<std::uint32_t>(until - 1),
                 owners.top().origin);
        here = until;
    }
}

void ListTable::addPiece(std::uint32_t first, std::uint32_t last, Origin origin) {
    if (!pieces_.empty() && pieces_.back().last + std::uint64_t{1} == first &&
        pieces_.back().origin.list == origin.list && pieces_.back().origin.range == origin.range) {
        pieces_.back().last = last;
        return;
    }
    pieces_.push_back({first, last, origin});
}

// One pass over the sorted pieces and the sorted cut.
void ListTable::removeAllowed() {
    std::vector<AddressSpan> cut = allowed_;
    cut.push_back(kLoopback4);
    cut = mergeSpans(std::move(cut));
    std::vector<Piece> kept = subtractSpans(pieces_, cut);
    pieces_ = std::move(kept);
}

std::optional<ListHit> ListTable::findBlock(std::uint32_t address) const {
    const Piece* piece = spanHolding(pieces_, address);
    if (!piece)
        return std::nullopt;
    const ListRanges& list = *lists_[piece->origin.list];
    return ListHit{list.ranges[piece->origin.range].entry, list.listName};
}

bool ListTable::allows(std::uint32_t address) const {
    return spanHolding(allowed_, address) != nullptr;
}

void ListTable::setLifelines(std::vector<Lifeline> lifelines) {
    std::stable_sort(lifelines.begin(), lifelines.end(),
                     [](const Lifeline& a, const Lifeline& b) { return a.address < b.address; });
    auto same = [](const Lifeline& a, const Lifeline& b) { return a.address == b.address; };
    lifelines.erase(std::unique(lifelines.begin(), lifelines.end(), same), lifelines.end());
    lifelines_ = std::move(lifelines);
}

const Lifeline* ListTable::lifelineAt(std::uint32_t address) const {
    auto at = std::lower_bound(
        lifelines_.begin(), lifelines_.end(), address,
        [](const Lifeline& l, std::uint32_t wanted) { return l.address < wanted; });
    return at != lifelines_.end() && at->address == address ? &*at : nullptr;
}

std::vector<AddressSpan> ListTable::sparedSpans() const {
    std::vector<AddressSpan> spared = allowed_;
    for (const Lifeline& l : lifelines_) spared.push_back({l.address, l.address});
    return mergeSpans(std::move(spared));
}

std::vector<AddressSpan> ListTable::bannedSpans() const {
    std::vector<AddressSpan> spans;
    spans.reserve(pieces_.size());
    for (const Piece& piece : pieces_) spans.push_back({piece.first, piece.last});
    return mergeSpans(std::move(spans));
}

std::vector<AddressSpan> effectiveBannedSpans(const std::vector<AddressSpan>& ownRanges,
                                              const ListTable& lists) {
    std::vector<AddressSpan> all = lists.bannedSpans();
    all.insert(all.end(), ownRanges.begin(), ownRanges.end());
    return subtractSpans(mergeSpans(std::move(all)), lists.sparedSpans());
}

}  // namespace bw
