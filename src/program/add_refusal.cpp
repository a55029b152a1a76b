#include "program/add_refusal.h"

#include <optional>

#include "blocklist/address_codec.h"

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

}  // namespace

std::string addRefusalText(std::string_view start, std::string_view end, AddOutcome outcome) {
    if (outcome == AddOutcome::Added)
        return {};
    if (std::string_view said = wordsFor(outcome).inDialog; !said.empty())
        return std::string(said);
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
    return "Not added: the fields do not make an entry (a profile name must not hold \":\" or "
           "a line break).";
}

std::string linkLineNotAdded(std::string_view line, AddOutcome outcome) {
    return std::string(line) + ": " + std::string(wordsFor(outcome).afterLinkLine) + "\r\n";
}

}  // namespace bw
