#include "blocklist/range_field.h"

#include <algorithm>
#include <array>
#include <string>

#include "blocklist/characters.h"

namespace bw {

namespace {

constexpr std::array<double, 4> kWeights = {16777216.0, 65536.0, 256.0, 1.0};

std::optional<ListedRange> readBounds(std::string_view field) {
    std::size_t dash = field.find('-');
    std::string_view startText = field.substr(0, dash);
    std::optional<double> start = listedAddress(startText);
    if (!start)
        return std::nullopt;
    std::optional<double> end = start;
    if (dash != std::string_view::npos) {
        std::string_view afterDash = field.substr(dash + 1);
        end = listedAddress(afterDash.substr(0, afterDash.find('-')));
    }
    if (!end || *end < *start)
        return std::nullopt;
    return ListedRange{*start, *end, static_cast<int>(*start / kWeights[0]),
                       dash == std::string_view::npos};
}

}  // namespace

std::optional<double> listedAddress(std::string_view text) {
    text = trimBlanks(text);
    const char* p = text.data();
    const char* const end = p + text.size();
    double value = 0;
    for (std::size_t i = 0; i < kWeights.size(); ++i) {
        if (i > 0) {
            if (p == end || *p != '.')
                return std::nullopt;
            ++p;
        }
        const char* digits = p;
        unsigned part = 0;
        while (p < end && isDigit(*p) && p - digits < 3) part = part * 10 + unsigned(*p++ - '0');
        if (p == digits || part > 255)
            return std::nullopt;
        value += part * kWeights[i];
    }
    if (p != end)
        return std::nullopt;
    return value;
}

std::optional<ListedRange> readRangeField(std::string_view field) {
    if (field.find(' ') == std::string_view::npos)
        return readBounds(field);
    std::string spaceless;
    spaceless.reserve(field.size());
    std::copy_if(field.begin(), field.end(), std::back_inserter(spaceless),
                 [](char c) { return c != ' '; });
    return readBounds(spaceless);
}

namespace {

std::optional<Ipv6Number> ipv6Bound(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    std::optional<IpAddress> address = parseIpAddress(text);
    if (!address || !address->isV6())
        return std::nullopt;
    return address->v6();
}

}  // namespace

std::optional<ListedRange6> readRangeField6(std::string_view field) {
    const std::size_t dash = field.find('-');
    std::optional<Ipv6Number> first = ipv6Bound(field.substr(0, dash));
    std::optional<Ipv6Number> last =
        dash == std::string_view::npos ? first : ipv6Bound(field.substr(dash + 1));
    if (!first || !last || *last < *first)
        return std::nullopt;
    return ListedRange6{*first, *last};
}

}  // namespace bw
