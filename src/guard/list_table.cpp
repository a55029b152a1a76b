#include "guard/list_table.h"

#include "blocklist/ban_table.h"
#include "platform/span_set.h"

#include <algorithm>
#include <cmath>
#include <queue>
#include <tuple>

namespace bw {

namespace {

template <class Value>
struct Open {
    Value first{};
    Value last{};
    std::uint32_t list = 0;
    std::uint32_t range = 0;
};

template <class SpanT, class Range>
void addAllowed(const std::vector<Range>& ranges, std::vector<SpanT>& out) {
    for (const Range& r : ranges) {
        if (r.first <= r.last)
            out.push_back({r.first, r.last});
    }
}

}  // namespace

ListTable::ListTable(std::vector<std::shared_ptr<const ListRanges>> lists)
    : lists_(std::move(lists)) {
    std::vector<AddressSpan> allowed;
    std::vector<Span6> allowed6;
    for (const auto& list : lists_) {
        if (!list->allow)
            continue;
        addAllowed(list->ranges, allowed);
        addAllowed(list->ranges6, allowed6);
    }
    allowed_ = mergeSpans(std::move(allowed));
    allowed6_ = mergeSpans(std::move(allowed6));

    std::vector<AddressSpan> cut = allowed_;
    cut.push_back(kLoopback4);
    pieces_ = subtractSpans(cutIntoPieces<std::uint32_t>(
                                lists_, [](const ListRanges& l) -> auto& { return l.ranges; }),
                            mergeSpans(std::move(cut)));
    std::vector<Span6> cut6 = allowed6_;
    cut6.push_back(kLoopback6);
    pieces6_ = subtractSpans(cutIntoPieces<Ipv6Number>(
                                 lists_, [](const ListRanges& l) -> auto& { return l.ranges6; }),
                             mergeSpans(std::move(cut6)));
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
template <class Value, class Ranges>
std::vector<ListTable::PieceOf<Value>> ListTable::cutIntoPieces(
    const std::vector<std::shared_ptr<const ListRanges>>& lists, Ranges rangesOf) {
    using Steps = SpanSteps<Value>;
    std::vector<Open<Value>> starts;
    std::size_t total = 0;
    for (const auto& list : lists) total += list->allow ? 0 : rangesOf(*list).size();
    starts.reserve(total);
    auto byFirst = [](const Open<Value>& a, const Open<Value>& b) { return a.first < b.first; };
    for (std::uint32_t l = 0; l < lists.size(); ++l) {
        if (lists[l]->allow)
            continue;
        const auto& ranges = rangesOf(*lists[l]);
        const auto before = static_cast<std::ptrdiff_t>(starts.size());
        for (std::uint32_t i = 0; i < ranges.size(); ++i) {
            if (ranges[i].first <= ranges[i].last)
                starts.push_back({ranges[i].first, ranges[i].last, l, i});
        }
        const auto middle = starts.begin() + before;
        if (!std::is_sorted(middle, starts.end(), byFirst))
            std::stable_sort(middle, starts.end(), byFirst);
        std::inplace_merge(starts.begin(), middle, starts.end(), byFirst);
    }

    auto laterOrigin = [](const Open<Value>& a, const Open<Value>& b) {
        return std::tie(a.list, a.range) > std::tie(b.list, b.range);
    };
    auto laterEnd = [](const Open<Value>& a, const Open<Value>& b) { return a.last > b.last; };
    std::priority_queue<Open<Value>, std::vector<Open<Value>>, decltype(laterOrigin)> owners(
        laterOrigin);
    std::priority_queue<Open<Value>, std::vector<Open<Value>>, decltype(laterEnd)> closing(
        laterEnd);
    std::vector<PieceOf<Value>> pieces;
    if (starts.empty())
        return pieces;
    std::size_t next = 0;
    Value here = starts.front().first;
    for (;;) {
        while (next < starts.size() && starts[next].first == here) {
            owners.push(starts[next]);
            closing.push(starts[next]);
            ++next;
        }
        while (!closing.empty() && closing.top().last < here) closing.pop();
        while (!owners.empty() && owners.top().last < here) owners.pop();
        const bool moreStarts = next < starts.size();
        if (owners.empty()) {
            if (!moreStarts)
                break;
            here = starts[next].first;
            continue;
        }
        // Every start at `here` is in, so the next one lies beyond it.
        Value last = closing.top().last;
        if (moreStarts && starts[next].first <= last)
            last = Steps::previous(starts[next].first);
        const Origin origin{owners.top().list, owners.top().range};
        if (!pieces.empty() && Steps::next(pieces.back().last) == here &&
            pieces.back().origin.list == origin.list && pieces.back().origin.range == origin.range)
            pieces.back().last = last;
        else
            pieces.push_back({here, last, origin});
        if (last == Steps::max())
            break;
        here = Steps::next(last);
    }
    return pieces;
}

std::optional<ListHit> ListTable::hitOf(Origin origin) const {
    const ListRanges& list = *lists_[origin.list];
    return ListHit{list.ranges[origin.range].entry, list.listName};
}

std::optional<ListHit> ListTable::hitOf6(Origin origin) const {
    const ListRanges& list = *lists_[origin.list];
    return ListHit{list.ranges6[origin.range].entry, list.listName};
}

std::optional<ListHit> ListTable::findBlock(const IpAddress& address) const {
    if (address.isV4())
        return findBlock(address.v4());
    const Piece6* piece = spanHolding(pieces6_, address.v6());
    return piece ? hitOf6(piece->origin) : std::nullopt;
}

bool ListTable::allows(const IpAddress& address) const {
    if (address.isV4())
        return allows(address.v4());
    return spanHolding(allowed6_, address.v6()) != nullptr;
}

std::optional<ListHit> ListTable::findBlock(std::uint32_t address) const {
    const Piece* piece = spanHolding(pieces_, address);
    return piece ? hitOf(piece->origin) : std::nullopt;
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

const Lifeline* ListTable::lifelineAt(const IpAddress& address) const {
    auto at = std::lower_bound(
        lifelines_.begin(), lifelines_.end(), address,
        [](const Lifeline& l, const IpAddress& wanted) { return l.address < wanted; });
    return at != lifelines_.end() && at->address == address ? &*at : nullptr;
}

std::vector<AddressSpan> ListTable::sparedSpans() const {
    std::vector<AddressSpan> spared = allowed_;
    for (const Lifeline& l : lifelines_) {
        if (l.address.isV4())
            spared.push_back({l.address.v4(), l.address.v4()});
    }
    return mergeSpans(std::move(spared));
}

std::vector<Span6> ListTable::sparedSpans6() const {
    std::vector<Span6> spared = allowedSpans6();
    for (const Lifeline& l : lifelines_) {
        if (!l.address.isV4())
            spared.push_back({l.address.v6(), l.address.v6()});
    }
    return mergeSpans(std::move(spared));
}

std::vector<AddressSpan> ListTable::bannedSpans() const {
    std::vector<AddressSpan> spans;
    spans.reserve(pieces_.size());
    for (const Piece& piece : pieces_) spans.push_back({piece.first, piece.last});
    return mergeSpans(std::move(spans));
}

std::vector<Span6> ListTable::bannedSpans6() const {
    std::vector<Span6> spans;
    spans.reserve(pieces6_.size());
    for (const Piece6& piece : pieces6_) spans.push_back({piece.first, piece.last});
    return mergeSpans(std::move(spans));
}

std::vector<Span6> effectiveBannedSpans6(const std::vector<Span6>& ownRanges,
                                         const ListTable& lists) {
    std::vector<Span6> all = lists.bannedSpans6();
    all.insert(all.end(), ownRanges.begin(), ownRanges.end());
    return subtractSpans(mergeSpans(std::move(all)), lists.sparedSpans6());
}

std::vector<AddressSpan> effectiveBannedSpans(const std::vector<AddressSpan>& ownRanges,
                                              const ListTable& lists) {
    std::vector<AddressSpan> all = lists.bannedSpans();
    all.insert(all.end(), ownRanges.begin(), ownRanges.end());
    return subtractSpans(mergeSpans(std::move(all)), lists.sparedSpans());
}

}  // namespace bw
