#include <fstream>
#include <sstream>

#include "platform/lifelines.h"

namespace bw {

namespace {

// These files are small and written by the system; a missing one names nothing.
std::string smallFile(const std::filesystem::path& file) {
    constexpr std::streamsize kMost = 64 * 1024;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::string text(static_cast<std::size_t>(kMost), '\0');
    in.read(text.data(), kMost);
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

class LinuxLifelineSource : public LifelineSource {
public:
    explicit LinuxLifelineSource(std::filesystem::path root) : root_(std::move(root)) {}

    std::vector<Lifeline> read() override {
        std::vector<Lifeline> found;
        auto add = [&](const std::vector<IpAddress>& addresses, std::string_view what) {
            for (const IpAddress& address : addresses)
                found.push_back({address, std::string(what)});
        };
        add(nameserversIn(smallFile(root_ / "etc/resolv.conf")), kDnsServer);
        add(nameserversIn(smallFile(root_ / "run/systemd/resolve/resolv.conf")),
            kUpstreamDnsServer);
        add(defaultGatewaysIn(smallFile(root_ / "proc/net/route")), kDefaultGateway);
        add(defaultGateways6In(smallFile(root_ / "proc/net/ipv6_route")), kDefaultGateway);
        return found;
    }

private:
    std::filesystem::path root_;
};

}  // namespace

std::unique_ptr<LifelineSource> makeLinuxLifelineSource(std::filesystem::path root) {
    return std::make_unique<LinuxLifelineSource>(std::move(root));
}

}  // namespace bw
