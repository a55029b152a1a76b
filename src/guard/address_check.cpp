#include "guard/address_check.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "blocklist/characters.h"

namespace bw {

namespace {

// Hex digits, colons and the dotted tail of a mapped address; a prefix length.
bool looksLikeIpv6(std::string_view text) {
    return text.find(':') != std::string_view::npos &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                      c == ':' || c == '.' || c == '/';
           });
}

std::optional<AddressSpan> cidrSpan(std::string_view text) {
    const std::size_t slash = text.find('/');
    std::optional<std::uint32_t> address = dottedAddress(trimBlanks(text.substr(0, slash)));
    const std::string_view bits = trimBlanks(text.substr(slash + 1));
    unsigned prefix = 0;
    auto [end, error] = std::from_chars(bits.data(), bits.data() + bits.size(), prefix);
    if (!address || bits.empty() || error != std::errc() || end != bits.data() + bits.size() ||
        prefix > 32) {
        return std::nullopt;
    }
    const std::uint32_t hostBits =
        prefix == 0 ? 0xFFFFFFFFu : (std::uint32_t{1} << (32 - prefix)) - 1;
    return AddressSpan{*address & ~hostBits, *address | hostBits};
}

std::optional<AddressSpan> dashedSpan(std::string_view text) {
    const std::size_t dash = text.find('-');
    std::optional<std::uint32_t> first = dottedAddress(trimBlanks(text.substr(0, dash)));
    std::optional<std::uint32_t> last = dottedAddress(trimBlanks(text.substr(dash + 1)));
    if (!first || !last || *first > *last)
        return std::nullopt;
    return AddressSpan{*first, *last};
}

std::uint64_t sizeOf(AddressSpan span) {
    return std::uint64_t{span.last} - span.first + 1;
}

std::uint64_t sizeOf(const std::vector<AddressSpan>& spans) {
    std::uint64_t total = 0;
    for (AddressSpan span : spans) total += sizeOf(span);
    return total;
}

// The parts of the span that lie in the sorted, disjoint spans, appended in order.
void addOverlap(const std::vector<AddressSpan>& spans, AddressSpan span,
                std::vector<AddressSpan>& out) {
    auto at = std::lower_bound(spans.begin(), spans.end(), span.first,
                               [](const AddressSpan& s, std::uint32_t a) { return s.last < a; });
    for (; at != spans.end() && at->first <= span.last; ++at)
        out.push_back({std::max(at->first, span.first), std::min(at->last, span.last)});
}

// The same, counted without keeping the parts.
std::uint64_t overlapSize(const std::vector<AddressSpan>& spans, AddressSpan span) {
    auto at = std::lower_bound(spans.begin(), spans.end(), span.first,
                               [](const AddressSpan& s, std::uint32_t a) { return s.last < a; });
    std::uint64_t total = 0;
    for (; at != spans.end() && at->first <= span.last; ++at)
        total +=
            sizeOf(AddressSpan{std::max(at->first, span.first), std::min(at->last, span.last)});
    return total;
}

std::vector<AddressSpan> overlapOf(const std::vector<AddressSpan>& spans,
                                   const std::vector<AddressSpan>& with) {
    std::vector<AddressSpan> out;
    for (AddressSpan span : with) addOverlap(spans, span, out);
    return out;
}

}  // namespace

CheckQuery parseCheckQuery(std::string_view text) {
    CheckQuery query;
    text = trimBlanks(text);
    query.text = std::string(text);
    std::optional<AddressSpan> span;
    if (looksLikeIpv6(text)) {
        // An IPv4-mapped address is its IPv4 address, as everywhere else.
        std::optional<IpAddress> one = parseIpAddress(text);
        if (one && one->isV4()) {
            span = AddressSpan{one->v4(), one->v4()};
        } else {
            if (one) {
                query.kind = CheckQuery::Kind::Address6;
                query.address6 = one->v6();
            } else {
                query.kind = CheckQuery::Kind::Ipv6;
            }
            return query;
        }
    } else if (text.find('/') != std::string_view::npos) {
        span = cidrSpan(text);
    } else if (text.find('-') != std::string_view::npos) {
        span = dashedSpan(text);
    } else if (std::optional<std::uint32_t> address = dottedAddress(text)) {
        span = AddressSpan{*address, *address};
    }
    if (!span)
        return query;
    query.span = *span;
    query.kind = span->first == span->last && text.find_first_of("/-") == std::string_view::npos
                     ? CheckQuery::Kind::Address
                     : CheckQuery::Kind::Range;
    return query;
}

std::uint64_t addressesWithin(const std::vector<AddressSpan>& spans, AddressSpan span) {
    return overlapSize(spans, span);
}

CheckResult checkAddresses(const BanTable& own, const ListTable& lists,
                           std::vector<AddressSpan> asked) {
    CheckResult result;
    asked = mergeSpans(std::move(asked));
    result.asked = sizeOf(asked);
    const std::vector<AddressSpan> spared = lists.sparedSpans();
    std::vector<AddressSpan> held;  // what any entry holds of the addresses asked about
    std::vector<AddressSpan> spans;
    std::vector<AddressSpan> overlap;
    // Takes the entry when it holds one of them; spans are what it bans by itself,
    // and nameIt says which entry it is.
    auto consider = [&](auto&& nameIt) {
        overlap.clear();
        for (AddressSpan span : spans) addOverlap(asked, span, overlap);
        if (overlap.empty())
            return;
        held.insert(held.end(), overlap.begin(), overlap.end());
        if (result.entries.size() == kShownCheckEntries) {
            ++result.moreEntries;
            return;
        }
        CheckedEntry entry;
        entry.held = sizeOf(overlap);
        entry.banned = entry.held;
        for (AddressSpan part : overlap) entry.banned -= overlapSize(spared, part);
        nameIt(entry);
        result.entries.push_back(std::move(entry));
    };

    for (int b = 0; b < BanTable::kBuckets; ++b) {
        const BanTable::Bucket bucket = own.bucket(b);
        for (std::size_t slot = 0; slot < bucket.size(); ++slot) {
            const BanEntry e = bucket[slot];
            spans.clear();
            addBannedSpans(e, b, spans);
            consider([&](CheckedEntry& entry) {
                entry.own = true;
                entry.ref = {b, slot};
                entry.text = e.text;
            });
        }
    }
    const auto& inForce = lists.lists();
    const std::vector<AddressSpan> loopback{kLoopback4};
    for (std::size_t l = 0; l < inForce.size(); ++l) {
        const ListRanges& list = *inForce[l];
        if (list.allow)
            continue;
        for (std::size_t r = 0; r < list.ranges.size(); ++r) {
            const ListRange& range = list.ranges[r];
            if (range.first > range.last)
                continue;
            // A list never bans loopback, not even from a range filed under 127.
            spans.clear();
            appendOutside(AddressSpan{range.first, range.last}, loopback, spans);
            consider([&](CheckedEntry& entry) {
                entry.list = l;
                entry.range = r;
                entry.text = range.entry;
                entry.listName = list.listName;
            });
        }
    }

    held = mergeSpans(std::move(held));
    result.bannedSpans = subtractSpans(held, spared);
    result.banned = sizeOf(result.bannedSpans);
    for (const auto& list : inForce) {
        if (!list->allow)
            continue;
        std::vector<AddressSpan> allowed;
        for (const ListRange& r : list->ranges) {
            if (r.first <= r.last)
                addOverlap(asked, {r.first, r.last}, allowed);
        }
        allowed = mergeSpans(std::move(allowed));
        if (allowed.empty())
            continue;
        result.allows.push_back(
            {list->listName, sizeOf(allowed), sizeOf(overlapOf(held, allowed))});
    }
    for (const Lifeline& lifeline : lists.lifelines()) {
        if (lifeline.address.isV4() &&
            addressesWithin(asked, {lifeline.address.v4(), lifeline.address.v4()}) > 0)
            result.lifelines.push_back(lifeline);
    }
    return result;
}

bool bannedAddress6(const BanTable& own, const ListTable& lists, Ipv6Number address,
                    std::vector<EntryRef>& hits) {
    const IpAddress asked = IpAddress::fromV6(address);
    if (lists.allows(asked) || lists.lifelineAt(asked))
        return false;
    own.findMatches6(address, hits);
    return !hits.empty() || lists.findBlock(asked).has_value();
}

CheckResult checkAddress6(const BanTable& own, const ListTable& lists, Ipv6Number address) {
    CheckResult result;
    result.asked = 1;
    const Lifeline* lifeline = lists.lifelineAt(IpAddress::fromV6(address));
    if (lifeline)
        result.lifelines.push_back(*lifeline);
    const bool allowed = lists.allows(IpAddress::fromV6(address)) || lifeline;
    auto take = [&](CheckedEntry entry) {
        if (result.entries.size() == kShownCheckEntries) {
            ++result.moreEntries;
            return;
        }
        entry.held = 1;
        entry.banned = allowed ? 0 : 1;
        result.entries.push_back(std::move(entry));
    };
    std::vector<EntryRef> hits;
    own.findMatches6(address, hits);
    for (EntryRef ref : hits) {
        CheckedEntry entry;
        entry.own = true;
        entry.ref = ref;
        entry.text = own.at6(ref.slot).text;
        take(std::move(entry));
    }
    const auto& inForce = lists.lists();
    for (std::size_t l = 0; l < inForce.size(); ++l) {
        const ListRanges& list = *inForce[l];
        bool holds = false;
        for (std::size_t r = 0; r < list.ranges6.size(); ++r) {
            const ListRange6& range = list.ranges6[r];
            if (range.first > address || address > range.last)
                continue;
            holds = true;
            if (list.allow || address == kLoopback6.first)
                continue;
            CheckedEntry entry;
            entry.list = l;
            entry.range = r;
            entry.ipv6 = true;
            entry.text = range.entry;
            entry.listName = list.listName;
            take(std::move(entry));
        }
        if (list.allow && holds)
            result.allows.push_back({list.listName, 1, 0});
    }
    // Counted once every list is read: an allow list may come before the entry.
    for (CheckedAllow& allow : result.allows) allow.letThrough = result.entries.empty() ? 0 : 1;
    // One rule for one address and for a file of them.
    result.banned = bannedAddress6(own, lists, address, hits) ? 1 : 0;
    if (result.banned > 0)
        result.bannedSpans6.push_back({address, address});
    return result;
}

namespace {

std::string entryName(const CheckedEntry& entry) {
    std::string name = "the entry \"" + std::string(entry.text) + "\"";
    if (!entry.own)
        name += " of the list \"" + std::string(entry.listName) + "\"";
    if (!entry.where.empty())
        name += " (" + entry.where + ")";
    return name;
}

std::string oneAddress(std::string_view asked, const CheckResult& result) {
    std::string text(asked);
    if (result.banned > 0) {
        text += " is banned.\n";
    } else if (!result.entries.empty()) {
        text += " is not banned: an entry holds it, but ";
        text += result.allows.empty() ? "it is a lifeline.\n" : "an allow list lets it through.\n";
    } else {
        text += " is not banned: no entry holds it.\n";
    }
    for (const CheckedEntry& entry : result.entries) {
        text += entry.banned > 0 ? "  banned by " + entryName(entry) + "\n"
                                 : "  held by " + entryName(entry) + ", which is overruled\n";
    }
    for (const CheckedAllow& allow : result.allows)
        text += "  allowed by the allow list \"" + allow.listName + "\"\n";
    for (const Lifeline& lifeline : result.lifelines)
        text += "  a lifeline (" + lifeline.what + "): never banned\n";
    return text;
}

std::string manyAddresses(std::string_view asked, const CheckResult& result) {
    std::string text = std::string(asked) + ": " + std::to_string(result.banned) + " of " +
                       std::to_string(result.asked) + " addresses banned.\n";
    for (const CheckedEntry& entry : result.entries) {
        text += "  " + entryName(entry) + " bans " + std::to_string(entry.banned);
        if (entry.held > entry.banned) {
            text += " (and holds " + std::to_string(entry.held - entry.banned) +
                    " more that are allowed or lifelines)";
        }
        text += "\n";
    }
    if (result.moreEntries > 0)
        text += "  and " + std::to_string(result.moreEntries) + " more entries hold some of them\n";
    for (const CheckedAllow& allow : result.allows) {
        text += "  the allow list \"" + allow.listName + "\" holds " + std::to_string(allow.held) +
                " and lets " + std::to_string(allow.letThrough) +
                " through that an entry would ban\n";
    }
    for (const Lifeline& lifeline : result.lifelines) {
        text += "  lifeline " + ipAddressText(lifeline.address) + " (" + lifeline.what +
                "): never banned\n";
    }
    return text;
}

}  // namespace

std::string checkReport(std::string_view asked, const CheckResult& result) {
    return result.asked == 1 ? oneAddress(asked, result) : manyAddresses(asked, result);
}

}  // namespace bw
