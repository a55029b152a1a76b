#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "guard/list_table.h"

namespace bw {

// The line formats published blocklists come in.
enum class ListFormat {
    Unknown,
    P2p,   // name:start-end or name:address; for IPv6 the name ends at the first colon
    Dat,   // start - end , level , description
    Cidr,  // a.b.c.d/n, 2001:db8::/32, an address, or start-end, one a line
};

std::string_view formatName(ListFormat format);

// What one list may cost. A list past either limit is refused whole: reading
// on would only spend the machine's memory on a copy that is not taken.
struct ListLimits {
    std::size_t maxRanges = std::size_t{1} << 22;         // 4 194 304
    std::size_t maxMemoryBytes = std::size_t{256} << 20;  // the ranges as held in memory
};

// What one list's text gave.
struct ParsedList {
    ListFormat format = ListFormat::Unknown;
    std::vector<ListRange> ranges;
    std::vector<ListRange6> ranges6;  // its IPv6 ranges, read in the same formats
    // Not understood: counted, never guessed. A byte that no list holds (NUL and
    // the other control characters but tab) counts as one line of its own, so
    // that a hole of zeros in a damaged copy weighs what it may have replaced.
    std::size_t failedLines = 0;
    std::size_t controlBytes = 0;    // those bytes, also counted in failedLines
    std::size_t permittedLines = 0;  // DAT lines of level 127 or more: not banned
    bool html = false;               // a web page, not a list
    std::string_view encoding;       // "UTF-16LE" and the like: text no list is in
    std::string overLimit;           // which limit the list passed, when it did
    std::size_t memoryBytes = 0;     // what the ranges cost, as counted for the limit

    // Lines that were meant as entries: all but blanks and comments.
    std::size_t entryLines() const {
        return ranges.size() + ranges6.size() + failedLines + permittedLines;
    }
};

// Strict dotted IPv4: four decimal parts of 0 to 255, leading zeros allowed.
std::optional<std::uint32_t> parseStrictAddress(std::string_view text);

// How one line of a format reads.
struct LineReading {
    enum class Kind { Range, Range6, Skip, Permitted, Failed };
    Kind kind = Kind::Failed;
    ListRange range;
    ListRange6 range6;
};
LineReading readListLine(ListFormat format, std::string_view line);

// The format most of the first entry lines read in.
ListFormat detectListFormat(std::string_view text);

// Parses a whole list (already decompressed): the format is detected from the
// content, then every line is read in it. Reading stops at the first limit passed.
ParsedList parseList(std::string_view text, const ListLimits& limits = {});

// The line (from 1) each range parseList gives at an index is read from, in
// the order asked; 0 where the range there is not the one expected (a copy
// changed since) or there is none. Reads no further than the last one asked for.
struct WantedRange {
    std::size_t index = 0;  // among the ranges of its family
    ListRange expected;
    bool ipv6 = false;  // then expected6 is wanted, by its index among the IPv6 ranges
    ListRange6 expected6 = {};
};
std::vector<std::size_t> rangeLineNumbers(std::string_view text,
                                          const std::vector<WantedRange>& wanted);

// How many lines not understood a list of that many entry lines may have: 1 %,
// or where that is fewer, up to 5 as long as they are at most a quarter of the
// entry lines. A few odd lines do not refuse a small list; a damaged copy does.
std::size_t tolerableFailedLines(std::size_t entryLines);

// Why a list must not replace one in force: empty when it may. A list passes
// when it is not an HTML page or text in an encoding no list is in, holds at
// least one range and stays within its limits, and no more of its entry lines
// failed than tolerableFailedLines allows.
std::string listRefusal(const ParsedList& list);

}  // namespace bw
