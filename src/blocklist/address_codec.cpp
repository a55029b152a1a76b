#include "blocklist/address_codec.h"

#include "blocklist/number_text.h"

namespace bw {

std::optional<double> IP2LONG(std::string_view addy) {
    static constexpr double kWeights[4] = {16777216.0, 65536.0, 256.0, 1.0};
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
