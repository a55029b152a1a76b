#include "blocklist/address_codec.h"

#include <charconv>

namespace bw {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// One part: blanks around it, an optional sign, then a decimal number.
std::optional<double> convertPart(std::string_view part) {
    while (!part.empty() && isBlank(part.front())) part.remove_prefix(1);
    while (!part.empty() && isBlank(part.back())) part.remove_suffix(1);
    bool negative = false;
    if (!part.empty() && (part.front() == '+' || part.front() == '-')) {
        negative = part.front() == '-';
        part.remove_prefix(1);
    }
    if (part.empty() || !((part.front() >= '0' && part.front() <= '9'))) return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (ec != std::errc() || end != part.data() + part.size()) return std::nullopt;
    return negative ? -value : value;
}

}  // namespace

std::optional<double> IP2LONG(std::string_view addy) {
    static constexpr double kWeights[4] = {16777216.0, 65536.0, 256.0, 1.0};
    double value = 0;
    for (int i = 0; i < 4; ++i) {
        std::size_t dot = addy.find('.');
        if (i < 3 && dot == std::string_view::npos) return std::nullopt;
        std::optional<double> part = convertPart(addy.substr(0, dot));
        if (!part) return std::nullopt;
        value += *part * kWeights[i];
        addy = dot == std::string_view::npos ? std::string_view() : addy.substr(dot + 1);
    }
    return value;
}

}  // namespace bw
