#include "maintenance/list_format.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "blocklist/characters.h"
#include "blocklist/text_lines.h"
#include "platform/ip_address.h"
#include "platform/span_set.h"

namespace bw {

namespace {

constexpr std::size_t kDetectionLines = 1000;
constexpr int kFirstPermittedLevel = 127;

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Bytes no list holds: the control characters but tab (line ends never reach a
// line). Counted without a branch, as every byte of every list passes here.
std::size_t controlBytesIn(std::string_view line) {
    std::size_t count = 0;
    for (char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        count += static_cast<std::size_t>((byte < 0x20) & (byte != '\t')) |
                 static_cast<std::size_t>(byte == 0x7F);
    }
    return count;
}

bool isComment(std::string_view line) {
    return line.empty() || line.front() == '#' || line.starts_with("//");
}

// Hex digits, colons and the marks around IPv6 addresses, with at least two
// colons: every IPv6 address has them, no name or IPv4 text does.
bool looksLikeIpv6(std::string_view text) {
    text = trim(text);
    std::size_t colons = 0;
    for (char c : text) {
        if (c == ':') {
            ++colons;
        } else if (!std::isxdigit(static_cast<unsigned char>(c)) && c != '.' && c != '/' &&
                   c != '-' && c != '[' && c != ']' && !isBlank(c)) {
            return false;
        }
    }
    return colons >= 2;
}

// "a.b.c.d-e.f.g.h" or "a.b.c.d", blanks allowed around each address.
std::optional<Span4> parseRangeField(std::string_view field) {
    std::size_t dash = field.find('-');
    if (dash == std::string_view::npos) {
        std::optional<std::uint32_t> one = parseStrictAddress(trim(field));
        if (!one)
            return std::nullopt;
        return Span4{*one, *one};
    }
    std::optional<std::uint32_t> first = parseStrictAddress(trim(field.substr(0, dash)));
    std::optional<std::uint32_t> last = parseStrictAddress(trim(field.substr(dash + 1)));
    if (!first || !last || *first > *last)
        return std::nullopt;
    return Span4{*first, *last};
}

std::optional<Span4> parseCidr(std::string_view token) {
    std::size_t slash = token.find('/');
    std::optional<std::uint32_t> address = parseStrictAddress(token.substr(0, slash));
    std::string_view prefixText = token.substr(slash + 1);
    if (!address || prefixText.empty() || prefixText.size() > 2 ||
        !std::all_of(prefixText.begin(), prefixText.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return std::nullopt;
    }
    int prefix = std::stoi(std::string(prefixText));
    if (prefix > 32)
        return std::nullopt;
    std::uint32_t hostBits = prefix == 0 ? 0xFFFFFFFFu : (std::uint32_t{1} << (32 - prefix)) - 1;
    return Span4{*address & ~hostBits, *address | hostBits};
}

LineReading range(Span4 span, std::string_view entry) {
    return {LineReading::Kind::Range, ListRange{span.first, span.last, std::string(entry)}, {}};
}

LineReading range6(Span6 span, std::string_view entry) {
    return {LineReading::Kind::Range6, {}, ListRange6{span.first, span.last, std::string(entry)}};
}

LineReading kind(LineReading::Kind k) {
    return {k, {}, {}};
}

// One IPv6 address, blanks around it allowed; an IPv4-mapped one is no IPv6
// address here, so a line never bans IPv4 addresses by way of IPv6 text.
std::optional<Ipv6Number> parseIpv6(std::string_view text) {
    std::optional<IpAddress> address = parseIpAddress(trim(text));
    if (!address || !address->isV6())
        return std::nullopt;
    return address->v6();
}

// "first-last" or one address, in IPv6.
std::optional<Span6> parseRangeField6(std::string_view field) {
    std::size_t dash = field.find('-');
    if (dash == std::string_view::npos) {
        std::optional<Ipv6Number> one = parseIpv6(field);
        if (!one)
            return std::nullopt;
        return Span6{*one, *one};
    }
    std::optional<Ipv6Number> first = parseIpv6(field.substr(0, dash));
    std::optional<Ipv6Number> last = parseIpv6(field.substr(dash + 1));
    if (!first || !last || *first > *last)
        return std::nullopt;
    return Span6{*first, *last};
}

// "2001:db8::/32": the address's network, every host bit set for the last.
std::optional<Span6> parseCidr6(std::string_view token) {
    std::size_t slash = token.find('/');
    std::optional<Ipv6Number> address = parseIpv6(token.substr(0, slash));
    std::string_view prefixText = token.substr(slash + 1);
    if (!address || prefixText.empty() || prefixText.size() > 3 ||
        !std::all_of(prefixText.begin(), prefixText.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return std::nullopt;
    }
    const int prefix = std::stoi(std::string(prefixText));
    if (prefix > 128)
        return std::nullopt;
    auto hostBits = [](int networkBits) {
        if (networkBits <= 0)
            return UINT64_MAX;
        return networkBits >= 64 ? std::uint64_t{0} : (std::uint64_t{1} << (64 - networkBits)) - 1;
    };
    const std::uint64_t highHost = hostBits(prefix);
    const std::uint64_t lowHost = hostBits(prefix - 64);
    return Span6{{address->high & ~highHost, address->low & ~lowHost},
                 {address->high | highHost, address->low | lowHost}};
}

LineReading readP2pLine(std::string_view line) {
    std::size_t colon = line.rfind(':');
    if (colon == std::string_view::npos)
        return kind(LineReading::Kind::Failed);
    if (line.find('[') == std::string_view::npos) {
        if (std::optional<Span4> span = parseRangeField(line.substr(colon + 1)))
            return range(*span, line.substr(0, colon));
    }
    // An IPv6 address holds colons, so the name cannot: the first colon ends it.
    const std::size_t nameEnd = line.find(':');
    if (std::optional<Span6> span = parseRangeField6(line.substr(nameEnd + 1)))
        return range6(*span, line.substr(0, nameEnd));
    return kind(LineReading::Kind::Failed);
}

LineReading readDatLine(std::string_view line) {
    std::size_t comma = line.find(',');
    if (comma == std::string_view::npos)
        return kind(LineReading::Kind::Failed);
    std::string_view rangeText = line.substr(0, comma);
    std::string_view rest = line.substr(comma + 1);
    std::size_t secondComma = rest.find(',');
    std::string_view levelText = trim(rest.substr(0, secondComma));
    std::string_view description = secondComma == std::string_view::npos
                                       ? std::string_view()
                                       : trim(rest.substr(secondComma + 1));
    if (levelText.empty() || levelText.size() > 9 ||
        !std::all_of(levelText.begin(), levelText.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return kind(LineReading::Kind::Failed);
    }
    if (rangeText.find('-') == std::string_view::npos)
        return kind(LineReading::Kind::Failed);
    const bool permitted = std::stoi(std::string(levelText)) >= kFirstPermittedLevel;
    if (looksLikeIpv6(rangeText)) {
        std::optional<Span6> span = parseRangeField6(rangeText);
        if (!span)
            return kind(LineReading::Kind::Failed);
        return permitted ? kind(LineReading::Kind::Permitted) : range6(*span, description);
    }
    std::optional<Span4> span = parseRangeField(rangeText);
    if (!span)
        return kind(LineReading::Kind::Failed);
    if (permitted)
        return kind(LineReading::Kind::Permitted);
    return range(*span, description);
}

// The entry is the first word; what follows a blank, ";" or "#" is a remark.
LineReading readCidrLine(std::string_view line) {
    std::string_view token = line.substr(0, line.find_first_of(" \t;#"));
    if (looksLikeIpv6(token)) {
        std::optional<Span6> span =
            token.find('/') != std::string_view::npos ? parseCidr6(token) : parseRangeField6(token);
        if (!span)
            return kind(LineReading::Kind::Failed);
        return range6(*span, token);
    }
    std::optional<Span4> span =
        token.find('/') != std::string_view::npos ? parseCidr(token) : parseRangeField(token);
    if (!span)
        return kind(LineReading::Kind::Failed);
    return range(*span, token);
}

bool looksLikeHtml(std::string_view text) {
    std::string head(text.substr(0, 1024));
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::size_t firstMark = head.find_first_not_of(" \t\r\n");
    if (firstMark != std::string::npos && head[firstMark] == '<')
        return true;
    return head.find("<html") != std::string::npos || head.find("<!doctype") != std::string::npos;
}

std::string_view withoutByteOrderMark(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    return text;
}

// Text in UTF-16 or UTF-32, by its byte order mark or, without one, by the NUL
// beside nearly every ASCII character of its beginning. Lists are ASCII or UTF-8.
std::string_view wideEncoding(std::string_view text) {
    if (text.starts_with(std::string_view("\xFF\xFE\0\0", 4)))
        return "UTF-32LE";
    if (text.starts_with(std::string_view("\0\0\xFE\xFF", 4)))
        return "UTF-32BE";
    if (text.starts_with("\xFF\xFE"))
        return "UTF-16LE";
    if (text.starts_with("\xFE\xFF"))
        return "UTF-16BE";
    const std::size_t pairs = std::min<std::size_t>(text.size() / 2, 256);
    std::size_t nulSecond = 0;
    std::size_t nulFirst = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        const char a = text[2 * i];
        const char b = text[2 * i + 1];
        nulSecond += a != '\0' && b == '\0';
        nulFirst += a == '\0' && b != '\0';
    }
    // Nine in ten pairs: a few NULs in a damaged copy do not make it UTF-16.
    if (pairs >= 4 && nulSecond * 10 >= pairs * 9)
        return "UTF-16LE";
    if (pairs >= 4 && nulFirst * 10 >= pairs * 9)
        return "UTF-16BE";
    return {};
}

// What a range costs where the guard holds it: the range itself and an entry
// text too long for the string's own buffer.
template <class Range>
std::size_t memoryOf(const Range& range) {
    static const std::size_t kInPlace = std::string().capacity();
    return sizeof(Range) + (range.entry.size() > kInPlace ? range.entry.size() + 1 : 0);
}

std::string memoryText(std::size_t bytes) {
    if (bytes >= (1 << 20) && bytes % (1 << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

std::string_view formatName(ListFormat format) {
    switch (format) {
        case ListFormat::P2p:
            return "P2P";
        case ListFormat::Dat:
            return "DAT";
        case ListFormat::Cidr:
            return "CIDR";
        case ListFormat::Unknown:
            break;
    }
    return "unknown";
}

std::optional<std::uint32_t> parseStrictAddress(std::string_view text) {
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        std::size_t digits = 0;
        std::uint32_t part = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && digits < 4) {
            part = part * 10 + static_cast<std::uint32_t>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || part > 255)
            return std::nullopt;
        value = (value << 8) | part;
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
    }
    if (i != text.size())
        return std::nullopt;
    return value;
}

namespace {

// A line already known to hold no control byte.
LineReading readTextLine(ListFormat format, std::string_view line) {
    line = trim(line);
    if (isComment(line))
        return kind(LineReading::Kind::Skip);
    switch (format) {
        case ListFormat::P2p:
            return readP2pLine(line);
        case ListFormat::Dat:
            return readDatLine(line);
        case ListFormat::Cidr:
            return readCidrLine(line);
        case ListFormat::Unknown:
            break;
    }
    return kind(LineReading::Kind::Failed);
}

}  // namespace

LineReading readListLine(ListFormat format, std::string_view line) {
    if (controlBytesIn(line) > 0)
        return kind(LineReading::Kind::Failed);
    return readTextLine(format, line);
}

ListFormat detectListFormat(std::string_view text) {
    constexpr std::array kCandidates{ListFormat::P2p, ListFormat::Dat, ListFormat::Cidr};
    std::array<std::size_t, kCandidates.size()> understood{};
    std::size_t looked = 0;
    // Stops at the last line looked at, not at the end of a long list.
    forEachLine(withoutByteOrderMark(text), [&](std::string_view line) {
        if (isComment(trim(line)))
            return true;
        ++looked;
        for (std::size_t c = 0; c < kCandidates.size(); ++c) {
            if (readListLine(kCandidates[c], line).kind != LineReading::Kind::Failed)
                ++understood[c];
        }
        return looked < kDetectionLines;
    });
    auto best = std::max_element(understood.begin(), understood.end());
    if (*best == 0)
        return ListFormat::Unknown;
    return kCandidates[static_cast<std::size_t>(best - understood.begin())];
}

ParsedList parseList(std::string_view text, const ListLimits& limits) {
    ParsedList list;
    list.encoding = wideEncoding(text);
    if (!list.encoding.empty())
        return list;
    text = withoutByteOrderMark(text);
    list.html = looksLikeHtml(text);
    list.format = detectListFormat(text);
    forEachLine(text, [&](std::string_view line) {
        if (std::size_t control = controlBytesIn(line); control > 0) {
            list.controlBytes += control;
            list.failedLines += control;
            return true;
        }
        LineReading reading = readTextLine(list.format, line);
        switch (reading.kind) {
            case LineReading::Kind::Range:
            case LineReading::Kind::Range6: {
                // One limit for both families: a list of IPv6 lines costs what an
                // IPv4 one does, and is refused where it would be.
                if (list.ranges.size() + list.ranges6.size() == limits.maxRanges) {
                    list.overLimit = "it holds more than " + std::to_string(limits.maxRanges) +
                                     " ranges, the most one list may hold";
                    return false;
                }
                const bool v4 = reading.kind == LineReading::Kind::Range;
                list.memoryBytes += v4 ? memoryOf(reading.range) : memoryOf(reading.range6);
                if (list.memoryBytes > limits.maxMemoryBytes) {
                    list.overLimit = "its ranges take more than " +
                                     memoryText(limits.maxMemoryBytes) +
                                     " of memory, the most one list may take";
                    return false;
                }
                if (v4)
                    list.ranges.push_back(std::move(reading.range));
                else
                    list.ranges6.push_back(std::move(reading.range6));
                break;
            }
            case LineReading::Kind::Skip:
                break;
            case LineReading::Kind::Permitted:
                ++list.permittedLines;
                break;
            case LineReading::Kind::Failed:
                ++list.failedLines;
                break;
        }
        return true;
    });
    if (!list.overLimit.empty()) {
        // Nothing of a list that is refused whole stays in memory.
        list.ranges.clear();
        list.ranges.shrink_to_fit();
        list.ranges6.clear();
        list.ranges6.shrink_to_fit();
    }
    return list;
}

std::vector<std::size_t> rangeLineNumbers(std::string_view text,
                                          const std::vector<WantedRange>& wanted) {
    std::vector<std::size_t> lines(wanted.size(), 0);
    if (wanted.empty() || !wideEncoding(text).empty())
        return lines;
    text = withoutByteOrderMark(text);
    const ListFormat format = detectListFormat(text);
    // Ranges still to pass, per family, before every wanted one is behind.
    std::size_t toPass[2] = {0, 0};
    for (const WantedRange& w : wanted) toPass[w.ipv6] = std::max(toPass[w.ipv6], w.index + 1);
    std::size_t line = 0;
    std::size_t passed[2] = {0, 0};
    // The same lines make ranges here as in parseList: a line with a control byte never does.
    forEachLine(text, [&](std::string_view content) {
        ++line;
        LineReading reading = readListLine(format, content);
        const bool ipv6 = reading.kind == LineReading::Kind::Range6;
        if (reading.kind != LineReading::Kind::Range && !ipv6)
            return true;
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            const WantedRange& w = wanted[i];
            if (w.ipv6 == ipv6 && w.index == passed[ipv6] &&
                (ipv6 ? w.expected6 == reading.range6 : w.expected == reading.range))
                lines[i] = line;
        }
        ++passed[ipv6];
        return passed[0] < toPass[0] || passed[1] < toPass[1];
    });
    return lines;
}

std::size_t tolerableFailedLines(std::size_t entryLines) {
    return std::max(entryLines / 100, std::min<std::size_t>(5, entryLines / 4));
}

std::string listRefusal(const ParsedList& list) {
    if (!list.encoding.empty()) {
        return "it is text in " + std::string(list.encoding) +
               "; lists are read in ASCII or UTF-8, so it must be saved in one of those";
    }
    if (list.html)
        return "the download is a web page, not a list";
    if (!list.overLimit.empty())
        return list.overLimit;
    if (list.ranges.empty() && list.ranges6.empty())
        return "it holds no ranges";
    // More odd lines than a few: the file is not what it claims to be.
    if (list.failedLines > tolerableFailedLines(list.entryLines())) {
        std::string why = std::to_string(list.failedLines) + " of " +
                          std::to_string(list.entryLines()) + " lines were not understood";
        if (list.controlBytes > 0) {
            why += ", counting " + std::to_string(list.controlBytes) +
                   " bytes no list holds (NUL or another control character) as lines";
        }
        return why;
    }
    return {};
}

}  // namespace bw
