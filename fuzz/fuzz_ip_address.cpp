// Address text as lists, links and the check read it: the parser takes
// exactly what the C library's inet_pton takes and reads the same address,
// and what it writes reads back as that address.

#include <arpa/inet.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/ip_address.h"

namespace {

// inet_pton cannot see past a NUL; a text with one is no address.
std::optional<bw::IpAddress> libraryReading(std::string_view text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    const std::string zeroEnded(text);
    if (text.find(':') == std::string_view::npos) {
        in_addr v4{};
        if (inet_pton(AF_INET, zeroEnded.c_str(), &v4) != 1)
            return std::nullopt;
        return bw::IpAddress::fromV4(ntohl(v4.s_addr));
    }
    std::array<std::uint8_t, 16> bytes{};
    if (inet_pton(AF_INET6, zeroEnded.c_str(), bytes.data()) != 1)
        return std::nullopt;
    return bw::IpAddress::fromV6Bytes(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<bw::IpAddress> parsed = bw::parseIpAddress(text);
    BW_FUZZ_CHECK(parsed == libraryReading(text));
    if (parsed)
        BW_FUZZ_CHECK(bw::parseIpAddress(bw::ipAddressText(*parsed)) == parsed);
    return 0;
}
