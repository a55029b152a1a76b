#include "program/add_refusal.h"

#include <optional>

#include "blocklist/address_codec.h"
#include "platform/ip_address.h"

namespace bw {

namespace {

constexpr double kLowestRangeStart = 65536;  // 0.1.0.0

// One outcome, said two ways: as the dialog's sentence, and after a link's line.
struct OutcomeWords {
    std::string_view inDialog;  // empty: the dialog names the field at fault instead
    std::string_view afterLinkLine;
};

// The one place an outcome becomes words, so the dialog and a link's message
// never disagree about why an entry was not stored.
OutcomeWords wordsFor(AddOutcome outcome) {
    switch (outcome) {
        case AddOutcome::Duplicate:
            return {"Not added: this range is already listed.", "already listed"};
        case AddOutcome::Localhost:
            return {"Not added: the range covers localhost (127.x.x.x), which is never blocked.",
                    "localhost (127.x.x.x) is not allowed"};
        case AddOutcome::NotAnEntry:
            return {{}, "not a valid address or range"};
        case AddOutcome::Added:
            break;
    }
    return {{}, "added"};
}

std::string notAnAddress(std::string_view field, std::string_view text) {
    return "Not added: " + std::string(field) + " \"" + std::string(text) +
           "\" is not an address (four numbers from 0 to 255 joined by dots, such as 1.2.3.4).";
}

std::string notAnIpv6Address(std::string_view field, std::string_view text) {
    return "Not added: " + std::string(field) + " \"" + std::string(text) +
           "\" is not an address (four numbers from 0 to 255 joined by dots, such as 1.2.3.4, "
           "or an IPv6 address, such as 2001:db8::1).";
}

// An IPv6 text that names an IPv4 address (::ffff:a.b.c.d) is written as that address.
std::optional<std::string> mappedRefusal(std::string_view field, std::string_view text,
                                         const IpAddress& address) {
    if (text.find(':') == std::string_view::npos || !address.isV4())
        return std::nullopt;
    return "Not added: " + std::string(field) + " \"" + std::string(text) +
           "\" is an IPv4 address written as IPv6: write it as " + ipAddressText(address) + ".";
}

constexpr std::string_view kNoEntry =
    "Not added: the fields do not make an entry (a profile name must not hold \":\" or a line "
    "break).";

// An entry with an IPv6 field: both bounds of one family, in order.
std::string ipv6RefusalText(std::string_view start, std::string_view end) {
    std::optional<IpAddress> first = parseIpAddress(start);
    if (!first)
        return notAnIpv6Address("Start of IP Range", start);
    if (std::optional<std::string> mapped = mappedRefusal("Start of IP Range", start, *first))
        return *mapped;
    if (end.empty())
        return "Not added: the address was not accepted.";
    std::optional<IpAddress> last = parseIpAddress(end);
    if (!last)
        return notAnIpv6Address("End of IP Range", end);
    if (std::optional<std::string> mapped = mappedRefusal("End of IP Range", end, *last))
        return *mapped;
    if (first->isV4() != last->isV4())
        return "Not added: Start and End of IP Range must both be IPv4 or both be IPv6 "
               "addresses.";
    if (*last < *first)
        return "Not added: End of IP Range lies below Start of IP Range.";
    return std::string(kNoEntry);
}

bool isIpv6Entry(std::string_view start, std::string_view end) {
    return start.find(':') != std::string_view::npos || end.find(':') != std::string_view::npos;
}

}  // namespace

std::string addRefusalText(std::string_view start, std::string_view end, AddOutcome outcome) {
    if (outcome == AddOutcome::Added)
        return {};
    if (outcome == AddOutcome::Localhost && isIpv6Entry(start, end))
        return "Not added: the range covers localhost (::1), which is never blocked.";
    if (std::string_view said = wordsFor(outcome).inDialog; !said.empty())
        return std::string(said);
    if (isIpv6Entry(start, end))
        return ipv6RefusalText(start, end);
    std::optional<double> first = IP2LONG(start);
    if (!first)
        return notAnAddress("Start of IP Range", start);
    if (end.empty())
        return "Not added: the address was not accepted.";
    std::optional<double> last = IP2LONG(end);
    if (!last)
        return notAnAddress("End of IP Range", end);
    if (*last < *first)
        return "Not added: End of IP Range lies below Start of IP Range.";
    if (*first <= kLowestRangeStart)
        return "Not added: a range must start above 0.1.0.0.";
    return std::string(kNoEntry);
}

std::string linkLineNotAdded(std::string_view line, AddOutcome outcome) {
    return std::string(line) + ": " + std::string(wordsFor(outcome).afterLinkLine) + "\r\n";
}

}  // namespace bw
