#include <arpa/inet.h>

#include <array>
#include <charconv>

#include "platform/lifelines.h"

namespace bw {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && isBlank(line[at])) ++at;
        std::size_t end = at;
        while (end < line.size() && !isBlank(line[end])) ++end;
        if (end > at)
            words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

template <typename Each>
void forEachLine(std::string_view text, Each each) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        each(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

constexpr std::uint32_t kRouteUp = 0x1;
constexpr std::uint32_t kRouteGateway = 0x2;

std::optional<std::uint32_t> hexWord(std::string_view word) {
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
    if (error != std::errc() || end != word.data() + word.size() || word.empty())
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::uint32_t> dottedAddress(std::string_view text) {
    // The dotted form alone: neither brackets nor an IPv6 text naming an IPv4 address.
    if (text.find_first_of("[:") != std::string_view::npos)
        return std::nullopt;
    std::optional<IpAddress> address = parseIpAddress(text);
    if (!address)
        return std::nullopt;
    return address->v4();
}

std::string dottedText(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::vector<IpAddress> nameserversIn(std::string_view resolvConf) {
    std::vector<IpAddress> found;
    forEachLine(resolvConf, [&](std::string_view line) {
        const std::size_t comment = line.find_first_of("#;");
        std::vector<std::string_view> words = wordsOf(line.substr(0, comment));
        if (words.size() < 2 || words[0] != "nameserver")
            return;
        std::string_view word = words[1];
        if (word.find(':') != std::string_view::npos)
            word = word.substr(0, word.find('%'));
        if (std::optional<IpAddress> address = parseIpAddress(word))
            found.push_back(*address);
    });
    return found;
}

// Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the
// addresses are the kernel's network-order words printed as numbers of this
// machine, so ntohl turns them back into addresses.
std::vector<IpAddress> defaultGatewaysIn(std::string_view procNetRoute) {
    std::vector<IpAddress> found;
    forEachLine(procNetRoute, [&](std::string_view line) {
        std::vector<std::string_view> words = wordsOf(line);
        if (words.size() < 8)
            return;
        std::optional<std::uint32_t> destination = hexWord(words[1]);
        std::optional<std::uint32_t> gateway = hexWord(words[2]);
        std::optional<std::uint32_t> flags = hexWord(words[3]);
        std::optional<std::uint32_t> mask = hexWord(words[7]);
        if (!destination || !gateway || !flags || !mask || *destination != 0 || *mask != 0)
            return;
        if ((*flags & (kRouteUp | kRouteGateway)) != (kRouteUp | kRouteGateway) || *gateway == 0)
            return;
        found.push_back(IpAddress::fromV4(ntohl(*gateway)));
    });
    return found;
}

// Columns: destination, its prefix length, source, its prefix length, next
// hop, metric, references, use, flags, device; addresses as 32 hex digits.
std::vector<IpAddress> defaultGateways6In(std::string_view procNetIpv6Route) {
    std::vector<IpAddress> found;
    forEachLine(procNetIpv6Route, [&](std::string_view line) {
        std::vector<std::string_view> words = wordsOf(line);
        if (words.size() < 10 || words[0] != std::string(32, '0') || words[1] != "00")
            return;
        std::optional<std::uint32_t> flags = hexWord(words[8]);
        if (!flags || (*flags & (kRouteUp | kRouteGateway)) != (kRouteUp | kRouteGateway) ||
            words[4].size() != 32)
            return;
        std::array<std::uint8_t, 16> bytes{};
        for (std::size_t i = 0; i < 16; ++i) {
            std::optional<std::uint32_t> pair = hexWord(words[4].substr(2 * i, 2));
            if (!pair)
                return;
            bytes[i] = static_cast<std::uint8_t>(*pair);
        }
        const IpAddress gateway = IpAddress::fromV6Bytes(bytes);
        if (gateway.isV4() || gateway.v6() != Ipv6Number{})
            found.push_back(gateway);
    });
    return found;
}

}  // namespace bw
