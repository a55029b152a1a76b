#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "blocklist/ban_table.h"
#include "blocklist/kernel_table.h"
#include "guard/list_table.h"
#include "platform/lifelines.h"

namespace bw {

// What a user asks about: one address, a range (start-end or CIDR), or
// something the guard does not look at (yet).
struct CheckQuery {
    enum class Kind {
        Address,       // span holds one address
        Range,         // span holds the range
        Address6,      // address6 is one IPv6 address
        Ipv6,          // an IPv6 range or network: checked one address at a time
        NotAnAddress,  // none of the above
    };
    Kind kind = Kind::NotAnAddress;
    AddressSpan span;
    Ipv6Number address6;
    std::string text;  // as given, blanks around it dropped
};

// Reads "a.b.c.d", "a.b.c.d-e.f.g.h", "a.b.c.d/n" (its network, as the lists
// read it) or an IPv4-mapped IPv6 address ("::ffff:a.b.c.d", which the kernel
// guard checks as the IPv4 address it holds).
CheckQuery parseCheckQuery(std::string_view text);

// One entry that holds some of the addresses asked about.
struct CheckedEntry {
    bool own = false;          // of the own list; else of a subscribed list
    EntryRef ref;              // own: where it is in the table
    std::size_t list = 0;      // a list's: its index in ListTable::lists()
    std::size_t range = 0;     // and the range's index in that list
    bool ipv6 = false;         // a list's IPv6 range: range indexes its IPv6 ranges
    std::string text;          // own: the blocklist line; a list's: the entry's name
    std::string listName;      // a list's
    std::uint64_t held = 0;    // addresses asked about that it holds
    std::uint64_t banned = 0;  // of those, the ones neither allowed nor a lifeline
    std::string where;         // filled by the caller: the file and line, for people
};

// One enabled allow list that holds some of the addresses asked about.
struct CheckedAllow {
    std::string listName;
    std::uint64_t held = 0;
    std::uint64_t letThrough = 0;  // of those, the ones an entry would otherwise ban
};

// The entries a check names; the rest it only counts. A question as wide as the
// Internet would otherwise name every entry of every list.
inline constexpr std::size_t kShownCheckEntries = 20;

struct CheckResult {
    std::uint64_t asked = 0;   // addresses asked about, each once
    std::uint64_t banned = 0;  // of them, the ones the guard refuses
    // Those banned, merged: what each part of a larger question gets is read from it.
    std::vector<AddressSpan> bannedSpans;
    std::vector<Span6> bannedSpans6;  // the same, for an IPv6 address
    // The entries that hold one of them: the own list's in table order, then each
    // list's in list order; the first kShownCheckEntries, and how many more there are.
    std::vector<CheckedEntry> entries;
    std::size_t moreEntries = 0;
    std::vector<CheckedAllow> allows;
    std::vector<Lifeline> lifelines;  // lifelines among them
};

// Which of the addresses (any spans) the guard refuses, with the own table
// and the lists as the guard holds them, and what holds, allows or spares
// each: the rules of the guard's lookups and of the kernel's table alike.
CheckResult checkAddresses(const BanTable& own, const ListTable& lists,
                           std::vector<AddressSpan> asked);

// The same for one IPv6 address: asked is 1, banned 0 or 1. The guard has no
// IPv6 lifelines, and lists never ban ::1.
CheckResult checkAddress6(const BanTable& own, const ListTable& lists, Ipv6Number address);
// Whether the guard bans one IPv6 address, as checkAddress6 decides it, found
// through the tables' indexes and naming nothing: for many addresses at a time.
bool bannedAddress6(const BanTable& own, const ListTable& lists, Ipv6Number address,
                    std::vector<EntryRef>& hits);

// How many addresses of the sorted, disjoint spans lie in the span.
std::uint64_t addressesWithin(const std::vector<AddressSpan>& spans, AddressSpan span);

// The answer for people, one line each, ended by "\n": first whether the
// addresses are banned, then every entry that bans them (where filled in),
// every allow list that lets them through and every lifeline among them.
std::string checkReport(std::string_view asked, const CheckResult& result);

}  // namespace bw
