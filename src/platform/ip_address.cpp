#include "platform/ip_address.h"

#include <arpa/inet.h>

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

std::optional<IpAddress> parseIpAddress(std::string_view text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    // The longest IPv6 text, with an IPv4 tail, is 45 characters.
    if (text.empty() || text.size() > 45)
        return std::nullopt;
    // On the stack: lists read hundreds of thousands of these, and most IPv6
    // texts are too long for a string's own buffer.
    char zeroEnded[46];
    text.copy(zeroEnded, text.size());
    zeroEnded[text.size()] = '\0';
    if (text.find(':') == std::string_view::npos) {
        in_addr v4{};
        if (inet_pton(AF_INET, zeroEnded, &v4) != 1)
            return std::nullopt;
        return IpAddress::fromV4(ntohl(v4.s_addr));
    }
    std::array<std::uint8_t, 16> bytes{};
    if (inet_pton(AF_INET6, zeroEnded, bytes.data()) != 1)
        return std::nullopt;
    return IpAddress::fromV6Bytes(bytes);
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
