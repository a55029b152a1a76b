#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "blocklist/kernel_table.h"
#include "platform/ip_address.h"
#include "platform/lifelines.h"
#include "platform/span_set.h"

namespace bw {

// One range of a subscribed list, inclusive, with the text that names it there
// (the profile name, the description, or the line itself).
struct ListRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::string entry;
    friend bool operator==(const ListRange&, const ListRange&) = default;
};

// One IPv6 range of a subscribed list, inclusive, with the text that names it.
struct ListRange6 {
    Ipv6Number first;
    Ipv6Number last;
    std::string entry;
    friend bool operator==(const ListRange6&, const ListRange6&) = default;
};

// The ranges of one subscribed list as the guard sees them.
struct ListRanges {
    std::string listName;
    bool allow = false;  // an allow list: its addresses are never refused
    std::vector<ListRange> ranges;
    std::vector<ListRange6> ranges6 = {};  // its IPv6 ranges
};

// Which list and entry ban an address.
struct ListHit {
    std::string entry;
    std::string listName;
    friend bool operator==(const ListHit&, const ListHit&) = default;
};

// Every enabled list in one lookup table: the block lists' ranges minus the
// allow lists' ranges, cut into sorted disjoint pieces so a lookup is one
// binary search. Where block lists overlap, the piece names the earliest list
// given. Loopback (127.0.0.0/8 and ::1) is never banned by a list: a broad range
// in a published list must not cut the machine off from its own services. Each
// family has pieces of its own; an IPv4 lookup stays a search over uint32s.
class ListTable {
public:
    ListTable() = default;
    // Shares the lists' ranges instead of copying them: a rebuild after one list
    // changed costs the cutting, not a copy of every entry text.
    explicit ListTable(std::vector<std::shared_ptr<const ListRanges>> lists);
    explicit ListTable(std::vector<ListRanges> lists);

    // The banning entry, or nothing when no block list bans the address or an
    // allow list allows it.
    std::optional<ListHit> findBlock(std::uint32_t address) const;
    bool allows(std::uint32_t address) const;
    std::optional<ListHit> findBlock(const IpAddress& address) const;
    bool allows(const IpAddress& address) const;

    // The banned addresses, merged into as few spans as possible.
    std::vector<AddressSpan> bannedSpans() const;
    // The allowed addresses, merged.
    const std::vector<AddressSpan>& allowedSpans() const { return allowed_; }
    std::size_t pieceCount() const { return pieces_.size(); }
    // The same for IPv6.
    std::vector<Span6> bannedSpans6() const;
    const std::vector<Span6>& allowedSpans6() const { return allowed6_; }
    std::size_t pieceCount6() const { return pieces6_.size(); }
    // The enabled lists as given, block and allow lists alike.
    const std::vector<std::shared_ptr<const ListRanges>>& lists() const { return lists_; }

    // The machine's lifelines: never banned, whatever bans them. findBlock still
    // names what would ban one, so that the guard can say so; the guard asks
    // lifelineAt first. One address named twice keeps its first description.
    void setLifelines(std::vector<Lifeline> lifelines);
    const std::vector<Lifeline>& lifelines() const { return lifelines_; }
    const Lifeline* lifelineAt(const IpAddress& address) const;
    // The allowed addresses and the lifelines, merged: never in a kernel table.
    std::vector<AddressSpan> sparedSpans() const;
    // The IPv6 spans spared: the allow lists' and the lifelines of that family.
    std::vector<Span6> sparedSpans6() const;

private:
    struct Origin {
        std::uint32_t list = 0;
        std::uint32_t range = 0;
    };
    template <class Value>
    struct PieceOf {
        Value first{};
        Value last{};
        Origin origin;
    };
    using Piece = PieceOf<std::uint32_t>;
    using Piece6 = PieceOf<Ipv6Number>;

    template <class Value, class Ranges>
    static std::vector<PieceOf<Value>> cutIntoPieces(
        const std::vector<std::shared_ptr<const ListRanges>>& lists, Ranges rangesOf);
    std::optional<ListHit> hitOf(Origin origin) const;
    std::optional<ListHit> hitOf6(Origin origin) const;

    std::vector<std::shared_ptr<const ListRanges>> lists_;
    std::vector<Piece> pieces_;
    std::vector<AddressSpan> allowed_;
    std::vector<Piece6> pieces6_;
    std::vector<Span6> allowed6_;
    std::vector<Lifeline> lifelines_;  // sorted by address, one each
};

// The banned addresses of the own list's ranges (kernelIntervals) together with the lists, minus
// every allowed address and every lifeline: the union a kernel table is built from.
std::vector<AddressSpan> effectiveBannedSpans(const std::vector<AddressSpan>& ownRanges,
                                              const ListTable& lists);
// The same for IPv6: the own list's IPv6 spans (kernelIntervals6) with the
// lists', minus the allowed ones. The machine has no IPv6 lifelines to spare.
std::vector<Span6> effectiveBannedSpans6(const std::vector<Span6>& ownRanges,
                                         const ListTable& lists);

}  // namespace bw
