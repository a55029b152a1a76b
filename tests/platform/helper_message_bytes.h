#pragma once

// Helper messages as bytes on the wire, built by hand so that tests can also
// send what the protocol's own encoders never would.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace bw::test {

inline std::string withHeader(std::uint32_t type, std::uint32_t size, std::string_view payload) {
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &type, 4);
    std::memcpy(bytes.data() + 4, &size, 4);
    return bytes + std::string(payload);
}

inline std::string tableBytes(std::uint32_t count, std::vector<std::uint32_t> bounds) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &count, 4);
    for (std::uint32_t b : bounds) bytes.append(reinterpret_cast<const char*>(&b), 4);
    return bytes;
}

// The IPv6 part that may follow a table: count, then (first high, first low,
// last high, last low) for each interval.
inline std::string ipv6PartBytes(std::uint32_t count, std::vector<std::uint64_t> words) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &count, 4);
    for (std::uint64_t w : words) bytes.append(reinterpret_cast<const char*>(&w), 8);
    return bytes;
}

}  // namespace bw::test
