#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// An address the machine cannot do without: a name server, a default gateway,
// the server a list or an update came from. No list and no entry bans one.
struct Lifeline {
    std::uint32_t address = 0;  // host order, as the ban table counts
    std::string what;           // "DNS server", "default gateway", ...
    friend bool operator==(const Lifeline&, const Lifeline&) = default;
};

inline constexpr std::string_view kDnsServer = "DNS server";
inline constexpr std::string_view kUpstreamDnsServer = "upstream DNS server";
inline constexpr std::string_view kDefaultGateway = "default gateway";

// A dotted IPv4 address, nothing before or after it.
std::optional<std::uint32_t> dottedAddress(std::string_view text);
std::string dottedText(std::uint32_t address);

// The IPv4 nameservers of a resolv.conf, in file order; IPv6 ones and other lines are skipped.
std::vector<std::uint32_t> nameserversIn(std::string_view resolvConf);
// The gateways of the IPv4 default routes in /proc/net/route's text.
std::vector<std::uint32_t> defaultGatewaysIn(std::string_view procNetRoute);

// The machine's lifelines as the system states them now.
class LifelineSource {
public:
    virtual ~LifelineSource() = default;
    virtual std::vector<Lifeline> read() = 0;
};

// Reads /etc/resolv.conf, systemd-resolved's upstream list (where it runs) and
// /proc/net/route, each below root.
std::unique_ptr<LifelineSource> makeLinuxLifelineSource(std::filesystem::path root = "/");

}  // namespace bw
