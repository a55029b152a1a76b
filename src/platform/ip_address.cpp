#include "platform/ip_address.h"

namespace bw {

IpAddress IpAddress::fromV6Bytes(const std::array<std::uint8_t, 16>& bytes) {
    Ipv6Number n;
    for (int i = 0; i < 8; ++i) n.high = (n.high << 8) | bytes[static_cast<std::size_t>(i)];
    for (int i = 8; i < 16; ++i) n.low = (n.low << 8) | bytes[static_cast<std::size_t>(i)];
    return fromV6(n);
}

std::array<std::uint8_t, 16> IpAddress::v6Bytes() const {
    const Ipv6Number n = isV4() ? Ipv6Number{0, 0xFFFF'0000'0000ull | v4()} : value_;
    std::array<std::uint8_t, 16> bytes{};
    for (int i = 0; i < 8; ++i)
        bytes[static_cast<std::size_t>(7 - i)] = static_cast<std::uint8_t>(n.high >> (8 * i));
    for (int i = 0; i < 8; ++i)
        bytes[static_cast<std::size_t>(15 - i)] = static_cast<std::uint8_t>(n.low >> (8 * i));
    return bytes;
}

namespace {

constexpr std::array<std::int8_t, 256> hexValues() {
    std::array<std::int8_t, 256> values{};
    for (std::int8_t& v : values) v = -1;
    for (int c = '0'; c <= '9'; ++c)
        values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
    return values;
}
constexpr std::array<std::int8_t, 256> kHexValues = hexValues();

int hexValue(char c) {
    return kHexValues[static_cast<unsigned char>(c)];
}

bool isDecimal(char c) {
    return c >= '0' && c <= '9';
}

// Exactly four decimal parts of 0-255, none with a leading zero ("01"): the
// C library's rules, which lists and callers have always been held to, for a
// whole IPv4 text and for an IPv6 text's IPv4 tail alike.
std::optional<std::uint32_t> parseDotted(const char* p, const char* end) {
    std::uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (p == end || *p++ != '.'))
            return std::nullopt;
        if (p == end || !isDecimal(*p))
            return std::nullopt;
        unsigned number = static_cast<unsigned>(*p++ - '0');
        if (number == 0 && p != end && isDecimal(*p))
            return std::nullopt;
        while (p != end && isDecimal(*p)) {
            number = number * 10 + static_cast<unsigned>(*p++ - '0');
            if (number > 255)
                return std::nullopt;
        }
        value = value << 8 | number;
    }
    if (p != end)
        return std::nullopt;
    return value;
}

// Up to eight groups of one to four hex digits, at most one "::" standing for
// at least one zero group, and the last 32 bits optionally as a dotted tail.
// Read in place: lists hold hundreds of thousands of these, and the C
// library's parser wants a zero-ended copy and was most of a list's load time.
std::optional<Ipv6Number> parseIpv6(const char* p, const char* end) {
    std::uint16_t groups[8] = {};
    int count = 0;
    int gap = -1;  // where "::" stands among the groups
    if (p != end && *p == ':') {
        // A leading colon only as the first of "::".
        if (p + 1 == end || p[1] != ':')
            return std::nullopt;
        ++p;
    }
    while (p != end) {
        if (*p == ':') {
            if (gap >= 0)
                return std::nullopt;
            gap = count;
            ++p;
            continue;
        }
        const char* token = p;
        unsigned value = 0;
        int digits = 0;
        for (int v; p != end && digits <= 4 && (v = hexValue(*p)) >= 0; ++p, ++digits)
            value = value << 4 | static_cast<unsigned>(v);
        if (digits == 0 || digits > 4)
            return std::nullopt;
        if (p != end && *p == '.') {
            std::optional<std::uint32_t> tail = count <= 6 ? parseDotted(token, end) : std::nullopt;
            if (!tail)
                return std::nullopt;
            groups[count++] = static_cast<std::uint16_t>(*tail >> 16);
            groups[count++] = static_cast<std::uint16_t>(*tail);
            break;
        }
        if (count == 8)
            return std::nullopt;
        groups[count++] = static_cast<std::uint16_t>(value);
        if (p == end)
            break;
        // A group ends with a colon that something follows.
        if (*p != ':' || ++p == end)
            return std::nullopt;
    }
    if (gap >= 0) {
        if (count == 8)
            return std::nullopt;
        const int after = count - gap;
        for (int i = 1; i <= after; ++i) {
            groups[8 - i] = groups[count - i];
            groups[count - i] = 0;
        }
    } else if (count != 8) {
        return std::nullopt;
    }
    Ipv6Number n;
    for (int i = 0; i < 4; ++i) n.high = n.high << 16 | groups[i];
    for (int i = 4; i < 8; ++i) n.low = n.low << 16 | groups[i];
    return n;
}

}  // namespace

std::optional<IpAddress> parseIpAddress(std::string_view text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    // The longest IPv6 text, with an IPv4 tail, is 45 characters.
    if (text.empty() || text.size() > 45)
        return std::nullopt;
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (text.find(':') == std::string_view::npos) {
        std::optional<std::uint32_t> v4 = parseDotted(begin, end);
        if (!v4)
            return std::nullopt;
        return IpAddress::fromV4(*v4);
    }
    std::optional<Ipv6Number> v6 = parseIpv6(begin, end);
    if (!v6)
        return std::nullopt;
    return IpAddress::fromV6(*v6);
}

std::string ipAddressText(const IpAddress& address) {
    if (address.isV4()) {
        const std::uint32_t v = address.v4();
        return std::to_string(v >> 24) + "." + std::to_string((v >> 16) & 0xFF) + "." +
               std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
    }
    const std::array<std::uint8_t, 16> bytes = address.v6Bytes();
    std::uint16_t groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = static_cast<std::uint16_t>(bytes[static_cast<std::size_t>(2 * i)] << 8 |
                                               bytes[static_cast<std::size_t>(2 * i + 1)]);
    // RFC 5952: the first longest run of at least two zero groups becomes "::".
    int bestStart = -1;
    int bestLength = 1;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && groups[j] == 0) ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            out += "::";
            i += bestLength - 1;
            continue;
        }
        if (!out.empty() && out.back() != ':')
            out += ':';
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const int digit = (groups[i] >> shift) & 0xF;
            if (digit != 0 || started || shift == 0) {
                out += kDigits[digit];
                started = true;
            }
        }
    }
    return out;
}

}  // namespace bw
