#include "guard/list_table.h"

#include "blocklist/ban_table.h"

#include <algorithm>
#include <cmath>
#include <queue>
#include <tuple>

namespace bw {

namespace {

constexpr AddressSpan kLoopback{0x7F000000u, 0x7FFFFFFFu};

// Index of the span holding the address in sorted disjoint spans, if any.
template <class Span>
const Span* spanHolding(const std::vector<Span>& spans, std::uint32_t address) {
    auto after = std::upper_bound(spans.begin(), spans.end(), address,
                                  [](std::uint32_t a, const Span& s) { return a < s.first; });
    if (after == spans.begin())
        return nullptr;
    const Span& candidate = *(after - 1);
    return address <= candidate.last ? &candidate : nullptr;
}

}  // namespace

std::vector<AddressSpan> mergeSpans(std::vector<AddressSpan> spans) {
    std::sort(spans.begin(), spans.end(),
              [](const AddressSpan& a, const AddressSpan& b) { return a.first < b.first; });
    std::vector<AddressSpan> merged;
    for (const AddressSpan& span : spans) {
        if (!merged.empty() && std::uint64_t{span.first} <= std::uint64_t{merged.back().last} + 1) {
            merged.back().last = std::max(merged.back().last, span.last);
        } else {
            merged.push_back(span);
        }
    }
    return merged;
}

std::vector<AddressSpan> subtractSpans(const std::vector<AddressSpan>& spans,
                                       const std::vector<AddressSpan>& cut) {
    std::vector<AddressSpan> left;
    auto c = cut.begin();
    for (AddressSpan span : spans) {
        while (c != cut.end() && c->last < span.first) ++c;
        bool whole = true;
        for (auto k = c; k != cut.end() && k->first <= span.last; ++k) {
            if (k->first > span.first)
                left.push_back({span.first, k->first - 1});
            if (k->last >= span.last) {
                whole = false;
                break;
            }
            span.first = k->last + 1;
        }
        if (whole)
            left.push_back(span);
    }
    return left;
}

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

// A sweep over every range bound: between two neighbouring bounds the same
// ranges are open, and the piece there belongs to the earliest of them.
void ListTable::cutIntoPieces() {
    struct Open {
        std::uint32_t first;
        std::uint32_t last;
        Origin origin;
    };
    std::vector<Open> starts;
    std::vector<std::uint64_t> bounds;
    for (std::uint32_t l = 0; l < lists_.size(); ++l) {
        if (lists_[l]->allow)
            continue;
        const std::vector<ListRange>& ranges = lists_[l]->ranges;
        for (std::uint32_t i = 0; i < ranges.size(); ++i) {
            if (ranges[i].first > ranges[i].last)
                continue;
            starts.push_back({ranges[i].first, ranges[i].last, {l, i}});
            bounds.push_back(ranges[i].first);
            bounds.push_back(std::uint64_t{ranges[i].last} + 1);
        }
    }
    std::sort(starts.begin(), starts.end(),
              [](const Open& a, const Open& b) { return a.first < b.first; });
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());

    auto later = [](const Open& a, const Open& b) {
        return std::tie(a.origin.list, a.origin.range) > std::tie(b.origin.list, b.origin.range);
    };
    std::priority_queue<Open, std::vector<Open>, decltype(later)> open(later);
    std::size_t next = 0;
    for (std::size_t b = 0; b + 1 < bounds.size(); ++b) {
        const std::uint64_t here = bounds[b];
        while (next < starts.size() && starts[next].first == here) open.push(starts[next++]);
        while (!open.empty() && open.top().last < here) open.pop();
        if (open.empty())
            continue;
        const Origin origin = open.top().origin;
        const auto first = static_cast<std::uint32_t>(here);
        const auto last = static_cast<std::uint32_t>(bounds[b + 1] - 1);
        if (!pieces_.empty() && pieces_.back().last + std::uint64_t{1} == here &&
            pieces_.back().origin.list == origin.list &&
            pieces_.back().origin.range == origin.range) {
            pieces_.back().last = last;
        } else {
            pieces_.push_back({first, last, origin});
        }
    }
}

void ListTable::removeAllowed() {
    std::vector<AddressSpan> cut = allowed_;
    cut.push_back(kLoopback);
    cut = mergeSpans(std::move(cut));
    std::vector<Piece> kept;
    kept.reserve(pieces_.size());
    for (const Piece& piece : pieces_) {
        for (const AddressSpan& span : subtractSpans({{piece.first, piece.last}}, cut))
            kept.push_back({span.first, span.last, piece.origin});
    }
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

std::vector<AddressSpan> ListTable::bannedSpans() const {
    std::vector<AddressSpan> spans;
    spans.reserve(pieces_.size());
    for (const Piece& piece : pieces_) spans.push_back({piece.first, piece.last});
    return mergeSpans(std::move(spans));
}

std::vector<AddressSpan> banTableSpans(const BanTable& table) {
    constexpr double kTop = 4294967295.0;
    std::vector<AddressSpan> spans;
    for (int b = 0; b < BanTable::kBuckets; ++b) {
        for (const BanEntry& entry : table.bucket(b)) {
            // Address 0 never matches; bounds that are not whole numbers match
            // the whole addresses between them.
            const double lo = std::max(1.0, std::ceil(entry.start));
            const double hi = std::min(kTop, std::floor(entry.end));
            if (!(lo <= hi))
                continue;
            AddressSpan span{static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(hi)};
            if (b == 127) {
                spans.push_back(span);
                continue;
            }
            for (const AddressSpan& piece : subtractSpans({span}, {kLoopback}))
                spans.push_back(piece);
        }
    }
    return mergeSpans(std::move(spans));
}

std::vector<AddressSpan> effectiveBannedSpans(const std::vector<AddressSpan>& ownRanges,
                                              const ListTable& lists) {
    std::vector<AddressSpan> all = lists.bannedSpans();
    all.insert(all.end(), ownRanges.begin(), ownRanges.end());
    return subtractSpans(mergeSpans(std::move(all)), lists.allowedSpans());
}

}  // namespace bw
