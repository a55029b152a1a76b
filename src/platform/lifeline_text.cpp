#include <arpa/inet.h>

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

std::optional<std::uint32_t> hexWord(std::string_view word) {
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
    if (error != std::errc() || end != word.data() + word.size() || word.empty())
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::uint32_t> dottedAddress(std::string_view text) {
    if (text.empty() || text.size() > 15)
        return std::nullopt;
    const std::string copy(text);
    in_addr parsed{};
    if (::inet_pton(AF_INET, copy.c_str(), &parsed) != 1)
        return std::nullopt;
    return ntohl(parsed.s_addr);
}

std::string dottedText(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::vector<std::uint32_t> nameserversIn(std::string_view resolvConf) {
    std::vector<std::uint32_t> found;
    forEachLine(resolvConf, [&](std::string_view line) {
        const std::size_t comment = line.find_first_of("#;");
        std::vector<std::string_view> words = wordsOf(line.substr(0, comment));
        if (words.size() < 2 || words[0] != "nameserver")
            return;
        if (std::optional<std::uint32_t> address = dottedAddress(words[1]))
            found.push_back(*address);
    });
    return found;
}

// Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the
// addresses are the kernel's network-order words printed as numbers of this
// machine, so ntohl turns them back into addresses.
std::vector<std::uint32_t> defaultGatewaysIn(std::string_view procNetRoute) {
    constexpr std::uint32_t kRouteUp = 0x1;
    constexpr std::uint32_t kRouteGateway = 0x2;
    std::vector<std::uint32_t> found;
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
        found.push_back(ntohl(*gateway));
    });
    return found;
}

}  // namespace bw
