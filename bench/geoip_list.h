#pragma once

// The bench lists: the IPv4 and the IPv6 ranges of Debian's tor-geoipdb package,
// turned into blocklist lines at run time so that nothing of it is committed.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/ip_address.h"

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

inline constexpr const char* kGeoip6File = "/usr/share/tor/geoip6";

// The IPv6 part, "first,last,CC" lines: as P2P lines "CC:first-last" and as
// CIDR lines, each range split into the fewest prefixes.
struct Geoip6Lists {
    std::string p2p;
    std::string cidr;
    std::size_t ranges = 0;
    std::size_t prefixes = 0;
};

namespace detail {

// __extension__: a GCC and clang type the ISO standard lacks, for prefix arithmetic only.
__extension__ typedef unsigned __int128 U128;

inline U128 number(const std::string& text) {
    std::optional<IpAddress> a = parseIpAddress(text);
    return a && a->isV6() ? (U128{a->v6().high} << 64) | a->v6().low : 0;
}

inline std::string text(U128 v) {
    return ipAddressText(
        IpAddress::fromV6({static_cast<std::uint64_t>(v >> 64), static_cast<std::uint64_t>(v)}));
}

}  // namespace detail

inline std::optional<Geoip6Lists> geoip6AsLists() {
    std::ifstream geoip(kGeoip6File);
    if (!geoip) {
        std::fprintf(stderr,
                     "%s is missing: install the tor-geoipdb package "
                     "(apt-get install tor-geoipdb) to run this benchmark.\n",
                     kGeoip6File);
        return std::nullopt;
    }
    Geoip6Lists out;
    std::string line;
    while (std::getline(geoip, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t a = line.find(',');
        const std::size_t b = line.find(',', a + 1);
        if (a == std::string::npos || b == std::string::npos)
            continue;
        const std::string firstText = line.substr(0, a);
        const std::string lastText = line.substr(a + 1, b - a - 1);
        out.p2p += line.substr(b + 1) + ":" + firstText + "-" + lastText + "\r\n";
        ++out.ranges;
        detail::U128 first = detail::number(firstText);
        const detail::U128 last = detail::number(lastText);
        for (;;) {
            // The widest block aligned at first that ends within the range.
            int bits = 0;
            while (bits < 127 && ((first >> bits) & 1) == 0 &&
                   first + ((detail::U128{2} << bits) - 1) <= last)
                ++bits;
            const detail::U128 end = bits == 0 ? first : first + ((detail::U128{1} << bits) - 1);
            out.cidr += detail::text(first) + "/" + std::to_string(128 - bits) + "\r\n";
            ++out.prefixes;
            if (end >= last)
                break;
            first = end + 1;
        }
    }
    return out;
}

}  // namespace bw::bench
