#include "blocklist/address_codec.h"

#include "blocklist/characters.h"
#include "blocklist/number_text.h"

namespace bw {

namespace {

constexpr double kWeights[4] = {16777216.0, 65536.0, 256.0, 1.0};

// Four parts of one to three digits and nothing else: what nearly every
// blocklist holds, read in one pass. Anything else takes the general path.
std::optional<double> plainDotted(std::string_view addy) {
    const char* p = addy.data();
    const char* const end = p + addy.size();
    double value = 0;
    for (int i = 0; i < 4; ++i) {
        const char* digits = p;
        unsigned part = 0;
        while (p < end && isDigit(*p) && p - digits < 3) part = part * 10 + unsigned(*p++ - '0');
        if (p == digits || (p < end && *p != '.'))
            return std::nullopt;
        value += part * kWeights[i];
        if (i < 3) {
            if (p == end)
                return std::nullopt;
            ++p;
        }
    }
    if (p != end)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<double> IP2LONG(std::string_view addy) {
    if (std::optional<double> plain = plainDotted(addy))
        return plain;
    double value = 0;
    for (int i = 0; i < 4; ++i) {
        std::size_t dot = addy.find('.');
        if (i < 3 && dot == std::string_view::npos)
            return std::nullopt;
        std::optional<double> part = numberFromText(addy.substr(0, dot));
        if (!part)
            return std::nullopt;
        value += *part * kWeights[i];
        addy = dot == std::string_view::npos ? std::string_view() : addy.substr(dot + 1);
    }
    return value;
}

}  // namespace bw
