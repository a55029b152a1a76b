#pragma once

// The bench list: the IPv4 ranges of Debian's tor-geoipdb package, turned into
// blocklist lines at run time so that nothing of it is committed.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace bw::bench {

inline constexpr const char* kGeoipFile = "/usr/share/tor/geoip";

inline std::string dotted(std::uint32_t v) {
    return std::to_string(v >> 24) + "." + std::to_string((v >> 16) & 255) + "." +
           std::to_string((v >> 8) & 255) + "." + std::to_string(v & 255);
}

// "low,high,CC" lines with integer bounds become "CC:a.b.c.d-e.f.g.h" CR LF lines.
// Empty when the package is not installed, after saying how to get it.
inline std::optional<std::string> geoipAsBlocklist() {
    std::ifstream geoip(kGeoipFile);
    if (!geoip) {
        std::fprintf(stderr,
                     "%s is missing: install the tor-geoipdb package "
                     "(apt-get install tor-geoipdb) to run this benchmark.\n",
                     kGeoipFile);
        return std::nullopt;
    }
    std::string out;
    std::string line;
    while (std::getline(geoip, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::uint64_t low = 0, high = 0;
        char comma = 0;
        std::string country;
        if (!(fields >> low >> comma >> high >> comma) || !std::getline(fields, country))
            continue;
        out += country + ":" + dotted(static_cast<std::uint32_t>(low)) + "-" +
               dotted(static_cast<std::uint32_t>(high)) + "\r\n";
    }
    return out;
}

}  // namespace bw::bench
