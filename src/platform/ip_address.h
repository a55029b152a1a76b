#pragma once

// One address of either family, with its text. IPv4 stays IPv4: an
// IPv4-mapped IPv6 address (::ffff:a.b.c.d) is folded into the IPv4 address
// when it is made, so a table of IPv4 ranges holds it wherever it comes from.

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bw {

// A 128-bit IPv6 address as a number, the first byte most significant: sorts
// and steps like the address itself.
struct Ipv6Number {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    friend auto operator<=>(const Ipv6Number&, const Ipv6Number&) = default;

    static constexpr Ipv6Number max() { return {UINT64_MAX, UINT64_MAX}; }
    // The next and the previous address; they wrap at the ends, so callers
    // check for max()/zero first where that matters.
    constexpr Ipv6Number next() const {
        return low == UINT64_MAX ? Ipv6Number{high + 1, 0} : Ipv6Number{high, low + 1};
    }
    constexpr Ipv6Number previous() const {
        return low == 0 ? Ipv6Number{high - 1, UINT64_MAX} : Ipv6Number{high, low - 1};
    }
};

enum class AddressFamily : std::uint8_t { V4 = 4, V6 = 6 };

class IpAddress {
public:
    IpAddress() = default;  // 0.0.0.0

    // value: the first octet most significant.
    static constexpr IpAddress fromV4(std::uint32_t value) {
        IpAddress a;
        a.value_.low = value;
        return a;
    }
    // An IPv4-mapped value becomes the IPv4 address.
    static constexpr IpAddress fromV6(Ipv6Number value) {
        if (value.high == 0 && (value.low >> 32) == 0xFFFFu)
            return fromV4(static_cast<std::uint32_t>(value.low));
        IpAddress a;
        a.family_ = AddressFamily::V6;
        a.value_ = value;
        return a;
    }
    static IpAddress fromV6Bytes(const std::array<std::uint8_t, 16>& bytes);

    constexpr AddressFamily family() const { return family_; }
    constexpr bool isV4() const { return family_ == AddressFamily::V4; }
    constexpr bool isV6() const { return family_ == AddressFamily::V6; }
    // Only for an IPv4 address.
    constexpr std::uint32_t v4() const { return static_cast<std::uint32_t>(value_.low); }
    // Only for an IPv6 address.
    constexpr Ipv6Number v6() const { return value_; }
    // The 16 bytes in network order; an IPv4 address as its mapped form.
    std::array<std::uint8_t, 16> v6Bytes() const;

    // IPv4 addresses sort before IPv6 ones.
    friend constexpr auto operator<=>(const IpAddress&, const IpAddress&) = default;

private:
    AddressFamily family_ = AddressFamily::V4;
    Ipv6Number value_{};
};

// Dotted IPv4 (four decimal octets) or IPv6 text (RFC 4291 forms, with an
// embedded IPv4 tail allowed), optionally in square brackets; no zone, no
// prefix, no surrounding blanks. Nothing when the text is neither.
std::optional<IpAddress> parseIpAddress(std::string_view text);

// Dotted for IPv4; RFC 5952 for IPv6 (lower case, the longest run of two or
// more zero groups shortened to "::").
std::string ipAddressText(const IpAddress& address);

}  // namespace bw
