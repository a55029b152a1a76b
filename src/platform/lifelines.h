#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ip_address.h"

namespace bw {

// An address the machine cannot do without: a name server, a default gateway,
// the server a list or an update came from. No list and no entry bans one.
struct Lifeline {
    IpAddress address;
    std::string what;  // "DNS server", "default gateway", ...
    friend bool operator==(const Lifeline&, const Lifeline&) = default;
};

inline constexpr std::string_view kDnsServer = "DNS server";
inline constexpr std::string_view kUpstreamDnsServer = "upstream DNS server";
inline constexpr std::string_view kDefaultGateway = "default gateway";

// A dotted IPv4 address, nothing before or after it.
std::optional<std::uint32_t> dottedAddress(std::string_view text);
std::string dottedText(std::uint32_t address);

// The nameservers of a resolv.conf, of either family, in file order (an IPv6
// one's zone, "%eth0", dropped); other lines are skipped.
std::vector<IpAddress> nameserversIn(std::string_view resolvConf);
// The gateways of the IPv4 default routes in /proc/net/route's text.
std::vector<IpAddress> defaultGatewaysIn(std::string_view procNetRoute);
// The gateways of the IPv6 default routes in /proc/net/ipv6_route's text.
std::vector<IpAddress> defaultGateways6In(std::string_view procNetIpv6Route);

// The machine's lifelines as the system states them now.
class LifelineSource {
public:
    virtual ~LifelineSource() = default;
    virtual std::vector<Lifeline> read() = 0;
};

// Reads /etc/resolv.conf, systemd-resolved's upstream list (where it runs),
// /proc/net/route and /proc/net/ipv6_route, each below root.
std::unique_ptr<LifelineSource> makeLinuxLifelineSource(std::filesystem::path root = "/");

}  // namespace bw
