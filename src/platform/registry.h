#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace bw {

// Handles of keys: the predefined roots below, or what createKey/openKeyForWriting give.
using RegistryKey = std::uint32_t;
// Result of a registry call: kRegistryOk, or a failure code.
using RegistryStatus = long;

inline constexpr RegistryStatus kRegistryOk = 0;
inline constexpr RegistryStatus kRegistryAccessDenied = 5;
inline constexpr RegistryStatus kRegistryNotSupported = 50;
inline constexpr RegistryStatus kRegistryBadKey = 1010;

// 0 names no root: operations on it do nothing.
inline constexpr RegistryKey kNoRegistryRoot = 0;
inline constexpr RegistryKey kClassesRoot = 0x80000000;
inline constexpr RegistryKey kCurrentUser = 0x80000001;
inline constexpr RegistryKey kLocalMachine = 0x80000002;
inline constexpr RegistryKey kUsers = 0x80000003;
inline constexpr RegistryKey kPerformanceData = 0x80000004;
inline constexpr RegistryKey kCurrentConfig = 0x80000005;
inline constexpr RegistryKey kDynData = 0x80000006;

enum class RegistryValueType { String, Binary };

// A hierarchical store of keys and values, addressed by a root handle and a
// "\"-separated subkey path. Key names are compared without regard to case.
class Registry {
public:
    virtual ~Registry() = default;

    // Creates the key (and any missing keys above it), or opens it when it exists.
    virtual RegistryStatus createKey(RegistryKey root, std::string_view subkey,
                                     RegistryKey& key) = 0;
    // Opens a key that exists, for writing values into it.
    virtual RegistryStatus openKeyForWriting(RegistryKey root, std::string_view subkey,
                                             RegistryKey& key) = 0;
    // Writes one value; an empty name is the key's default value. A string's
    // data holds its text followed by a terminating null byte.
    virtual RegistryStatus setValue(RegistryKey key, std::string_view valueName,
                                    RegistryValueType type, std::string_view data) = 0;
    virtual RegistryStatus closeKey(RegistryKey key) = 0;
};

// The desktop's own store for what the program registers (the bwdat link
// scheme), under the XDG folders of the current user as the environment names
// them at the time of the call.
std::unique_ptr<Registry> makeDesktopRegistry();

}  // namespace bw
