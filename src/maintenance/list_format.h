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
    P2p,   // name:start-end or name:address
    Dat,   // start - end , level , description
    Cidr,  // a.b.c.d/n, a.b.c.d, or start-end, one a line
};

std::string_view formatName(ListFormat format);

// What one list's text gave.
struct ParsedList {
    ListFormat format = ListFormat::Unknown;
    std::vector<ListRange> ranges;
    std::size_t failedLines = 0;     // not understood: counted, never guessed
    std::size_t ipv6Lines = 0;       // understood, but the guard is IPv4 only
    std::size_t permittedLines = 0;  // DAT lines of level 127 or more: not banned
    bool html = false;               // a web page, not a list

    // Lines that were meant as entries: all but blanks and comments.
    std::size_t entryLines() const {
        return ranges.size() + failedLines + ipv6Lines + permittedLines;
    }
};

// Strict dotted IPv4: four decimal parts of 0 to 255, leading zeros allowed.
std::optional<std::uint32_t> parseStrictAddress(std::string_view text);

// How one line of a format reads.
struct LineReading {
    enum class Kind { Range, Skip, Ipv6, Permitted, Failed };
    Kind kind = Kind::Failed;
    ListRange range;
};
LineReading readListLine(ListFormat format, std::string_view line);

// The format most of the first entry lines read in.
ListFormat detectListFormat(std::string_view text);

// Parses a whole list (already decompressed): the format is detected from the
// content, then every line is read in it.
ParsedList parseList(std::string_view text);

// Why a list must not replace one in force: empty when it may. A list passes
// when it holds at least one range, at most 1 % of its entry lines failed, and
// it is not an HTML page.
std::string listRefusal(const ParsedList& list);

}  // namespace bw
